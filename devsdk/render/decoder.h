// H.264 decoding for the SDK's renderers: one decoder per stream, on the thread that feeds it.
#pragma once

#include <cstddef>
#include <cstdint>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace devsdk::render {

class Decoder {
 public:
  Decoder();
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Decodes one access unit (Annex B). Returns the picture it completes, or null; the picture
  // stays valid until the next call. Pictures before the first key picture are skipped.
  const AVFrame* decode(const uint8_t* data, size_t size, bool key);
  bool ok() const { return context_ != nullptr; }

 private:
  AVCodecContext* context_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  bool started_ = false;
};

}  // namespace devsdk::render
