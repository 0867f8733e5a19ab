#include "streamconv/testing/synthetic_h264.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <cstdio>

namespace streamconv::testing {
namespace {

struct Encoder {
  AVCodecContext* ctx = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  ~Encoder() {
    avcodec_free_context(&ctx);
    av_frame_free(&frame);
    av_packet_free(&packet);
  }
};

// Diagonal bands that move with `index`, and a square that crosses the picture.
void paint(AVFrame* frame, int index) {
  for (int y = 0; y < frame->height; ++y) {
    uint8_t* row = frame->data[0] + y * frame->linesize[0];
    for (int x = 0; x < frame->width; ++x) row[x] = static_cast<uint8_t>((x + y + 4 * index) & 0xff);
  }
  const int side = frame->height / 4;
  const int left = (index * 8) % (frame->width - side);
  for (int y = side; y < 2 * side; ++y) {
    uint8_t* row = frame->data[0] + y * frame->linesize[0];
    for (int x = left; x < left + side; ++x) row[x] = 235;
  }
  for (int plane = 1; plane < 3; ++plane) {
    for (int y = 0; y < frame->height / 2; ++y) {
      uint8_t* row = frame->data[plane] + y * frame->linesize[plane];
      for (int x = 0; x < frame->width / 2; ++x) {
        row[x] = static_cast<uint8_t>(128 + ((plane == 1 ? x : y) + index) % 64 - 32);
      }
    }
  }
}

}  // namespace

std::vector<EncodedPicture> encode_synthetic_h264(int width, int height, int count, int key_interval,
                                                  int bit_rate) {
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (codec == nullptr) return {};
  Encoder e;
  e.ctx = avcodec_alloc_context3(codec);
  e.frame = av_frame_alloc();
  e.packet = av_packet_alloc();
  if (e.ctx == nullptr || e.frame == nullptr || e.packet == nullptr) return {};
  e.ctx->width = width;
  e.ctx->height = height;
  e.ctx->time_base = {1, 25};
  e.ctx->framerate = {25, 1};
  e.ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  e.ctx->gop_size = key_interval;
  e.ctx->max_b_frames = 0;
  e.ctx->thread_count = 1;
  e.ctx->bit_rate = bit_rate;
  av_opt_set(e.ctx->priv_data, "preset", "ultrafast", 0);
  av_opt_set(e.ctx->priv_data, "tune", "zerolatency", 0);
  char params[128];
  std::snprintf(params, sizeof params, "keyint=%d:min-keyint=%d:scenecut=0:repeat-headers=1", key_interval,
                key_interval);
  av_opt_set(e.ctx->priv_data, "x264-params", params, 0);
  if (avcodec_open2(e.ctx, codec, nullptr) < 0) return {};
  e.frame->format = AV_PIX_FMT_YUV420P;
  e.frame->width = width;
  e.frame->height = height;
  if (av_frame_get_buffer(e.frame, 0) < 0) return {};

  std::vector<EncodedPicture> pictures;
  auto drain = [&]() {
    while (avcodec_receive_packet(e.ctx, e.packet) == 0) {
      EncodedPicture picture;
      picture.key = (e.packet->flags & AV_PKT_FLAG_KEY) != 0;
      picture.bytes.assign(e.packet->data, e.packet->data + e.packet->size);
      pictures.push_back(std::move(picture));
      av_packet_unref(e.packet);
    }
  };
  for (int i = 0; i < count; ++i) {
    if (av_frame_make_writable(e.frame) < 0) return {};
    paint(e.frame, i);
    e.frame->pts = i;
    if (avcodec_send_frame(e.ctx, e.frame) < 0) return {};
    drain();
  }
  avcodec_send_frame(e.ctx, nullptr);
  drain();
  if (pictures.size() != static_cast<size_t>(count)) return {};
  return pictures;
}

}  // namespace streamconv::testing
