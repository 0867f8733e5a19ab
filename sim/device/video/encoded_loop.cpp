#include "sim/device/video/encoded_loop.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>

#include "sim/device/video/time_code.h"

namespace sim::device::video {
namespace {

struct CodecContext {
  AVCodecContext* ctx = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  SwsContext* sws = nullptr;
  ~CodecContext() {
    avcodec_free_context(&ctx);
    av_frame_free(&frame);
    av_packet_free(&packet);
    sws_freeContext(sws);
  }
};

// Sorts the encoder's NAL units of one picture into the loop picture: parameter sets are read
// and kept, the scene slices kept, the band slice and informational units dropped.
bool take_picture(EncodedLoop& loop, const uint8_t* data, size_t size, LoopPicture& out) {
  bool have_scene = false;
  for (const NalUnit& nal : split_annex_b(data, size)) {
    switch (nal.type()) {
      case 7:
        if (!parse_sps(nal_payload(nal), loop.sps)) return false;
        break;
      case 8:
        if (!parse_pps(nal_payload(nal), loop.pps) || loop.pps.cabac) return false;
        break;
      case 1:
      case 5: {
        PictureFacts facts;
        if (!parse_slice_header(nal, loop.sps, loop.pps, facts)) return false;
        if (facts.first_mb >= loop.band_first_mb) continue;  // the encoder's band: replaced live
        if (!have_scene) out.facts = facts;
        have_scene = true;
        out.key = out.key || facts.idr();
        break;
      }
      default:
        continue;  // informational units
    }
    static const uint8_t kStart[] = {0, 0, 0, 1};
    out.bytes.insert(out.bytes.end(), kStart, kStart + 4);
    out.bytes.insert(out.bytes.end(), nal.data, nal.data + nal.size);
  }
  return have_scene;
}

std::shared_ptr<EncodedLoop> encode(const SceneSpec& spec, int bit_rate) {
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (codec == nullptr) return nullptr;
  auto loop = std::make_shared<EncodedLoop>();
  loop->width = spec.width;
  loop->height = spec.height;
  const int width_mbs = spec.width / 16;
  loop->band_first_mb = static_cast<uint32_t>((spec.height - kBandLines) / 16 * width_mbs);

  CodecContext c;
  c.ctx = avcodec_alloc_context3(codec);
  c.ctx->width = spec.width;
  c.ctx->height = spec.height;
  c.ctx->time_base = {1, kFramesPerSecond};
  c.ctx->framerate = {kFramesPerSecond, 1};
  c.ctx->pix_fmt = AV_PIX_FMT_YUV420P;
  c.ctx->gop_size = kKeyInterval;
  c.ctx->max_b_frames = 0;
  c.ctx->thread_count = 1;
  c.ctx->bit_rate = bit_rate;
  av_opt_set(c.ctx->priv_data, "preset", "ultrafast", 0);
  av_opt_set(c.ctx->priv_data, "tune", "zerolatency", 0);
  av_opt_set(c.ctx->priv_data, "profile", "baseline", 0);
  // The band rows get a slice of their own, so the live band can take its place.
  char params[160];
  std::snprintf(params, sizeof params,
                "slice-max-mbs=%u:keyint=%d:min-keyint=%d:scenecut=0:repeat-headers=1:no-deblock=1",
                loop->band_first_mb, kKeyInterval, kKeyInterval);
  av_opt_set(c.ctx->priv_data, "x264-params", params, 0);
  av_log_set_level(AV_LOG_ERROR);
  if (avcodec_open2(c.ctx, codec, nullptr) < 0) return nullptr;
  c.frame = av_frame_alloc();
  c.packet = av_packet_alloc();
  c.frame->format = AV_PIX_FMT_YUV420P;
  c.frame->width = spec.width;
  c.frame->height = spec.height;
  if (av_frame_get_buffer(c.frame, 0) < 0) return nullptr;
  c.sws = sws_getContext(spec.width, spec.height, AV_PIX_FMT_BGRA, spec.width, spec.height, AV_PIX_FMT_YUV420P,
                         SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (c.sws == nullptr) return nullptr;

  SceneRenderer scene(spec, kLoopFrames);
  auto drain = [&]() {
    while (avcodec_receive_packet(c.ctx, c.packet) == 0) {
      LoopPicture picture;
      bool ok = take_picture(*loop, c.packet->data, static_cast<size_t>(c.packet->size), picture);
      av_packet_unref(c.packet);
      if (!ok) return false;
      loop->pictures.push_back(std::move(picture));
    }
    return true;
  };
  for (int i = 0; i < kLoopFrames; ++i) {
    if (av_frame_make_writable(c.frame) < 0) return nullptr;
    const uint8_t* pixels = scene.render(i);
    const uint8_t* src[1] = {pixels};
    const int src_stride[1] = {spec.width * 4};
    sws_scale(c.sws, src, src_stride, 0, spec.height, c.frame->data, c.frame->linesize);
    c.frame->pts = i;
    if (avcodec_send_frame(c.ctx, c.frame) < 0 || !drain()) return nullptr;
  }
  avcodec_send_frame(c.ctx, nullptr);
  if (!drain()) return nullptr;
  if (loop->pictures.size() != static_cast<size_t>(kLoopFrames) || !loop->pictures.front().key) return nullptr;
  if (loop->sps.width_mbs != static_cast<uint32_t>(width_mbs) ||
      loop->sps.height_mbs != static_cast<uint32_t>(spec.height / 16)) {
    return nullptr;
  }
  return loop;
}

// The cache: one entry per scene and bit rate, filled by the first caller while later callers
// wait. Touched by every thread that starts a stream; guarded by cache_lock.
struct Entry {
  bool ready = false;
  std::shared_ptr<const EncodedLoop> loop;
};
std::mutex cache_lock;
std::condition_variable cache_filled;
std::map<std::pair<SceneSpec, int>, Entry>& cache() {
  static auto* entries = new std::map<std::pair<SceneSpec, int>, Entry>;
  return *entries;
}
std::atomic<uint64_t> encoded_count{0};

}  // namespace

std::shared_ptr<const EncodedLoop> encoded_loop(const SceneSpec& spec, int bit_rate) {
  auto key = std::make_pair(spec, bit_rate);
  {
    std::unique_lock<std::mutex> hold(cache_lock);
    auto it = cache().find(key);
    if (it != cache().end()) {
      cache_filled.wait(hold, [&] { return it->second.ready; });
      return it->second.loop;
    }
    cache().emplace(key, Entry{});
  }
  std::shared_ptr<const EncodedLoop> loop = encode(spec, bit_rate);
  encoded_count.fetch_add(1);
  {
    std::lock_guard<std::mutex> hold(cache_lock);
    Entry& e = cache()[key];
    e.ready = true;
    e.loop = loop;
  }
  cache_filled.notify_all();
  return loop;
}

std::shared_ptr<const EncodedLoop> encode_loop(const SceneSpec& spec, int bit_rate) {
  std::shared_ptr<const EncodedLoop> loop = encode(spec, bit_rate);
  encoded_count.fetch_add(1);
  return loop;
}

uint64_t loops_encoded() { return encoded_count.load(); }

}  // namespace sim::device::video
