#include "streamconv/g711_to_aac.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

namespace streamconv {
namespace {

constexpr int kBitRate = 24000;
constexpr int64_t kMaxDriftSamples = kG711SampleRate;  // one second
// A block further ahead than a day carries a stray time and follows the samples before it.
constexpr int64_t kMaxPauseSamples = int64_t{24} * 3600 * kG711SampleRate;

}  // namespace

int16_t alaw_to_linear(uint8_t alaw) {
  int value = alaw ^ 0x55;
  int magnitude = (value & 0x0f) << 4;
  int segment = (value & 0x70) >> 4;
  if (segment == 0) {
    magnitude += 8;
  } else {
    magnitude = (magnitude + 0x108) << (segment - 1);
  }
  return static_cast<int16_t>((value & 0x80) != 0 ? magnitude : -magnitude);
}

G711ToAac::~G711ToAac() {
  avcodec_free_context(&encoder_);
  av_frame_free(&frame_);
  av_packet_free(&packet_);
}

bool G711ToAac::open() {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (codec == nullptr || encoder_ != nullptr) return false;
  encoder_ = avcodec_alloc_context3(codec);
  frame_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  if (encoder_ == nullptr || frame_ == nullptr || packet_ == nullptr) return false;
  encoder_->sample_fmt = AV_SAMPLE_FMT_FLTP;
  encoder_->sample_rate = kG711SampleRate;
  av_channel_layout_default(&encoder_->ch_layout, 1);
  encoder_->bit_rate = kBitRate;
  encoder_->time_base = {1, kG711SampleRate};
  encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // the MP4 track carries the configuration
  encoder_->thread_count = 1;
  if (avcodec_open2(encoder_, codec, nullptr) < 0) return false;
  frame_->format = AV_SAMPLE_FMT_FLTP;
  frame_->sample_rate = kG711SampleRate;
  frame_->nb_samples = encoder_->frame_size;
  if (av_channel_layout_copy(&frame_->ch_layout, &encoder_->ch_layout) < 0) return false;
  return av_frame_get_buffer(frame_, 0) >= 0;
}

bool G711ToAac::add(int64_t at_ms, const uint8_t* alaw, size_t count, const PacketSink& sink) {
  if (encoder_ == nullptr || frame_ == nullptr) return false;
  const int64_t at = at_ms * kG711SampleRate / 1000;
  if (!started_) {
    started_ = true;
    frame_pts_ = at;
  } else if (at > frame_pts_ + filled_ + kMaxDriftSamples && at <= frame_pts_ + filled_ + kMaxPauseSamples) {
    // A pause: the frame begun is completed with silence and the next run starts at the block.
    if (filled_ > 0) {
      float* samples = reinterpret_cast<float*>(frame_->data[0]);
      for (int i = filled_; i < encoder_->frame_size; ++i) samples[i] = 0.0f;
      filled_ = encoder_->frame_size;
      if (!send_frame(sink)) return false;
    }
    frame_pts_ = at;
  }
  for (size_t i = 0; i < count; ++i) {
    if (filled_ == 0 && av_frame_make_writable(frame_) < 0) return false;
    reinterpret_cast<float*>(frame_->data[0])[filled_++] = static_cast<float>(alaw_to_linear(alaw[i])) / 32768.0f;
    if (filled_ == encoder_->frame_size && !send_frame(sink)) return false;
  }
  return true;
}

bool G711ToAac::finish(const PacketSink& sink) {
  if (encoder_ == nullptr) return false;
  if (filled_ > 0 && !send_frame(sink)) return false;  // the encoder takes a short last frame
  if (avcodec_send_frame(encoder_, nullptr) < 0) return false;
  return drain(sink);
}

bool G711ToAac::send_frame(const PacketSink& sink) {
  frame_->nb_samples = filled_;
  frame_->pts = frame_pts_;
  frame_pts_ += filled_;
  filled_ = 0;
  bool sent = avcodec_send_frame(encoder_, frame_) >= 0;
  frame_->nb_samples = encoder_->frame_size;
  return sent && drain(sink);
}

bool G711ToAac::drain(const PacketSink& sink) {
  for (;;) {
    int result = avcodec_receive_packet(encoder_, packet_);
    if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
    if (result < 0) return false;
    bool taken = sink(packet_);
    av_packet_unref(packet_);
    if (!taken) return false;
  }
}

}  // namespace streamconv
