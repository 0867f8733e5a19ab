#include "devsdk/render/decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace devsdk::render {

Decoder::Decoder() {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (codec == nullptr) return;
  context_ = avcodec_alloc_context3(codec);
  if (context_ == nullptr) return;
  // One thread per stream: the lowest latency and the least CPU per picture; streams decode in
  // parallel on their own threads.
  context_->thread_count = 1;
  context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
  context_->flags2 |= AV_CODEC_FLAG2_FAST;
  if (avcodec_open2(context_, codec, nullptr) < 0) {
    avcodec_free_context(&context_);
    return;
  }
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
}

Decoder::~Decoder() {
  avcodec_free_context(&context_);
  av_packet_free(&packet_);
  av_frame_free(&frame_);
}

const AVFrame* Decoder::decode(const uint8_t* data, size_t size, bool key) {
  if (context_ == nullptr || size == 0) return nullptr;
  if (!started_ && !key) return nullptr;
  started_ = true;
  packet_->data = const_cast<uint8_t*>(data);
  packet_->size = static_cast<int>(size);
  if (avcodec_send_packet(context_, packet_) < 0) return nullptr;
  av_frame_unref(frame_);
  if (avcodec_receive_frame(context_, frame_) != 0) return nullptr;
  return frame_;
}

}  // namespace devsdk::render
