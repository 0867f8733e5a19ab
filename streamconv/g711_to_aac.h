// The audio of a DAV file for the MP4: G.711 A-law (8 kHz, mono) decoded and encoded again as
// AAC with libavcodec's own encoder, since browsers do not play G.711 from MP4 files.
//
// Used by one thread at a time (the converter's owner).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace streamconv {

inline constexpr int kG711SampleRate = 8000;

// Linear value (16-bit range) of one A-law sample.
int16_t alaw_to_linear(uint8_t alaw);

class G711ToAac {
 public:
  // Takes each encoded packet (times in 1/kG711SampleRate); false stops the encoding.
  using PacketSink = std::function<bool(AVPacket*)>;

  G711ToAac() = default;
  G711ToAac(const G711ToAac&) = delete;
  G711ToAac& operator=(const G711ToAac&) = delete;
  ~G711ToAac();

  bool open();
  // The encoder, for the MP4 track's parameters. Null before open().
  const AVCodecContext* encoder() const { return encoder_; }
  // Adds one block of A-law samples captured `at_ms` after the start of the file. Samples follow
  // each other without gaps; a block more than a second (and at most a day) later than the
  // samples before it, a pause in the recording, starts a new run at its own time. False on an
  // encoder failure.
  bool add(int64_t at_ms, const uint8_t* alaw, size_t count, const PacketSink& sink);
  // Encodes what is left and drains the encoder.
  bool finish(const PacketSink& sink);

 private:
  bool send_frame(const PacketSink& sink);
  bool drain(const PacketSink& sink);

  AVCodecContext* encoder_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  bool started_ = false;
  int filled_ = 0;          // samples in frame_
  int64_t frame_pts_ = 0;   // time of frame_'s first sample, in samples
};

}  // namespace streamconv
