// The simulator's video: bit syntax, the time code, loops spliced with a live band and decoded
// as a client decodes them, and what each real-play type shows.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <vector>

#include "sim/device/video/band_painter.h"
#include "sim/device/video/band_slice.h"
#include "sim/device/video/encoded_loop.h"
#include "sim/device/video/h264_syntax.h"
#include "sim/device/video/stream_catalog.h"
#include "sim/device/video/time_code.h"

namespace sim::device::video {
namespace {

TEST(H264Syntax, ExpGolombRoundTrips) {
  const uint32_t values[] = {0, 1, 2, 3, 7, 25, 30, 1496, 65535, 0xFFFFFFFEu};
  const int32_t signed_values[] = {0, 1, -1, 2, -2, 1000, -1000};
  BitWriter w;
  for (uint32_t v : values) w.ue(v);
  for (int32_t v : signed_values) w.se(v);
  w.u(5, 0x15);
  w.trailing_bits();
  BitReader r(w.data());
  for (uint32_t v : values) EXPECT_EQ(r.ue(), v);
  for (int32_t v : signed_values) EXPECT_EQ(r.se(), v);
  EXPECT_EQ(r.u(5), 0x15u);
  EXPECT_TRUE(r.ok());
  r.u(32);
  EXPECT_FALSE(r.ok());  // read past the end
}

TEST(H264Syntax, EmulationPreventionRoundTripsThroughAnnexB) {
  // Every run of two zeros followed by 0 to 3, and a payload that ends like a slice: stop bit.
  std::vector<uint8_t> payload = {0, 0, 0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 7, 0, 0, 0x80};
  std::vector<uint8_t> stream;
  append_nal(stream, 0x65, payload);
  append_nal(stream, 0x41, {9, 9});
  // No start code inside the escaped payload.
  auto nals = split_annex_b(stream.data(), stream.size());
  ASSERT_EQ(nals.size(), 2u);
  EXPECT_EQ(nals[0].type(), 5);
  EXPECT_EQ(nals[0].ref_idc(), 3);
  EXPECT_EQ(nal_payload(nals[0]), payload);
  EXPECT_EQ(nal_payload(nals[1]), (std::vector<uint8_t>{9, 9}));
}

// A gray picture of the band alone, placed at the bottom of a stream picture and scaled as a
// play port scales it.
std::vector<uint8_t> scaled_picture(int width, int height, int out_width, int out_height, uint64_t capture_ms) {
  std::vector<uint8_t> luma(static_cast<size_t>(width) * height, 90);
  BandPainter painter(width, height);
  std::memcpy(luma.data() + static_cast<size_t>(width) * (height - kBandLines), painter.paint(capture_ms),
              static_cast<size_t>(width) * kBandLines);
  std::vector<uint8_t> out(static_cast<size_t>(out_width) * out_height * 4);
  SwsContext* sws = sws_getContext(width, height, AV_PIX_FMT_GRAY8, out_width, out_height, AV_PIX_FMT_BGRA,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
  const uint8_t* src[1] = {luma.data()};
  const int src_stride[1] = {width};
  uint8_t* dst[1] = {out.data()};
  const int dst_stride[1] = {out_width * 4};
  sws_scale(sws, src, src_stride, 0, height, dst, dst_stride);
  sws_freeContext(sws);
  return out;
}

TEST(TimeCode, ReadsBackAtEveryWindowSize) {
  struct Case {
    int width, height, out_width, out_height;
  };
  const Case cases[] = {{704, 576, 704, 576}, {704, 576, 320, 240}, {704, 576, 176, 144}, {352, 288, 320, 240},
                        {1280, 720, 320, 240}, {1280, 720, 1920, 1080}, {704, 480, 400, 300}};
  const uint64_t capture = 1765432109876ull;
  for (const auto& c : cases) {
    auto picture = scaled_picture(c.width, c.height, c.out_width, c.out_height, capture);
    uint64_t read = 0;
    ASSERT_TRUE(read_time_code(picture.data(), c.out_width * 4, c.out_width, c.out_height, c.width, c.height,
                               capture + 5000, &read))
        << c.width << "x" << c.height << " in " << c.out_width << "x" << c.out_height;
    EXPECT_EQ(read, capture);
  }
}

TEST(TimeCode, RefusesBlankPicturesAndAFlippedBit) {
  std::vector<uint8_t> black(320 * 240 * 4, 0), white(320 * 240 * 4, 255);
  uint64_t read;
  EXPECT_FALSE(read_time_code(black.data(), 320 * 4, 320, 240, 704, 576, 0, &read));
  EXPECT_FALSE(read_time_code(white.data(), 320 * 4, 320, 240, 704, 576, 0, &read));
  auto picture = scaled_picture(704, 576, 704, 576, 1765432109876ull);
  BandLayout l = band_layout(704, 576);
  // Invert the first block's centre.
  uint8_t* p = picture.data() + (static_cast<size_t>(l.band_top + 8) * 704 + l.block_left + l.block_width / 2) * 4;
  for (int i = 0; i < 3; ++i) p[i] = static_cast<uint8_t>(255 - p[i]);
  EXPECT_FALSE(read_time_code(picture.data(), 704 * 4, 704, 576, 704, 576, 1765432109876ull, &read));
}

TEST(TimeCode, NearestFullTimeIsChosenAcrossTheFortyBitWrap) {
  const uint64_t period = uint64_t{1} << 40;
  const uint64_t capture = 3 * period - 10;  // just before a wrap
  auto picture = scaled_picture(704, 576, 704, 576, capture);
  uint64_t read = 0;
  ASSERT_TRUE(read_time_code(picture.data(), 704 * 4, 704, 576, 704, 576, capture + 30, &read));
  EXPECT_EQ(read, capture);
}

// A loop with its band spliced in decodes as one clean stream, the time code of every picture
// reads back, also across the loop's restart.
TEST(EncodedLoop, SplicedPicturesDecodeWithTheirCaptureTimes) {
  SceneSpec spec;
  spec.width = 352;
  spec.height = 288;
  spec.cell = {"Teste", 5};
  auto loop = encoded_loop(spec, 400000);
  ASSERT_NE(loop, nullptr);
  ASSERT_EQ(loop->pictures.size(), static_cast<size_t>(kLoopFrames));
  EXPECT_TRUE(loop->pictures[0].key);
  EXPECT_TRUE(loop->pictures[kKeyInterval].key);
  EXPECT_FALSE(loop->pictures[1].key);
  EXPECT_NE(loop->pictures[0].facts.idr_pic_id, loop->pictures[kKeyInterval].facts.idr_pic_id);
  EXPECT_EQ(loop->band_first_mb, (288u - 32u) / 16u * 22u);
  EXPECT_EQ(encoded_loop(spec, 400000), loop);  // cached

  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  ctx->thread_count = 1;
  ctx->err_recognition = AV_EF_EXPLODE;
  ASSERT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  BandPainter painter(loop->width, loop->height);
  SwsContext* sws = nullptr;
  std::vector<uint8_t> bgra(352 * 288 * 4);
  const uint64_t base = 1765000000000ull;
  int decoded = 0;
  for (int i = 0; i < kLoopFrames + 20; ++i) {
    const LoopPicture& picture = loop->pictures[static_cast<size_t>(i % kLoopFrames)];
    std::vector<uint8_t> bytes = picture.bytes;
    BandSamples band{painter.paint(base + 40u * i), loop->width, 22, 2};
    append_band_slice(bytes, picture.facts, loop->sps, loop->pps, loop->band_first_mb, band);
    packet->data = bytes.data();
    packet->size = static_cast<int>(bytes.size());
    ASSERT_EQ(avcodec_send_packet(ctx, packet), 0) << "picture " << i;
    while (avcodec_receive_frame(ctx, frame) == 0) {
      EXPECT_EQ(frame->decode_error_flags, 0);
      if (sws == nullptr)
        sws = sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), 352, 288,
                             AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
      uint8_t* dst[1] = {bgra.data()};
      const int dst_stride[1] = {352 * 4};
      sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dst_stride);
      uint64_t read = 0;
      ASSERT_TRUE(read_time_code(bgra.data(), 352 * 4, 352, 288, 352, 288, base, &read)) << "picture " << decoded;
      EXPECT_EQ(read, base + 40u * decoded);
      ++decoded;
    }
  }
  EXPECT_EQ(decoded, kLoopFrames + 20);
  sws_freeContext(sws);
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&ctx);
}

TEST(StreamCatalog, EachRealPlayTypeShowsItsScene) {
  Settings s;
  s.channels = 4;
  s.video.channel_names = {"Entrada"};
  struct Case {
    int32_t channel;
    uint32_t type;
    int32_t status;
    StreamKey key;
    int width, height, columns, rows;
    SceneSpec::Kind kind;
  };
  using K = SceneSpec::Kind;
  const Case cases[] = {
      {0, 2, proto::status::ok, {0, 2}, 1280, 720, 1, 1, K::street},
      {3, 3, proto::status::ok, {3, 3}, 704, 576, 1, 1, K::street},
      {2, 6, proto::status::ok, {2, 6}, 704, 576, 1, 1, K::street},
      {2, 7, proto::status::ok, {0, 7}, 704, 576, 2, 2, K::mosaic},
      {0, 10, proto::status::ok, {0, 10}, 704, 576, 4, 4, K::mosaic},
      {1, 14, proto::status::ok, {0, 14}, 704, 576, 6, 6, K::mosaic},
      {0, 4, proto::status::not_supported, {}, 0, 0, 0, 0, K::street},
      {0, 15, proto::status::not_supported, {}, 0, 0, 0, 0, K::street},
      {4, 2, proto::status::invalid_parameter, {}, 0, 0, 0, 0, K::street},
  };
  for (const auto& c : cases) {
    StreamKey key;
    StreamSpec spec;
    ASSERT_EQ(stream_spec(s, c.channel, c.type, key, spec), c.status) << c.type;
    if (c.status != proto::status::ok) continue;
    EXPECT_EQ(key, c.key) << c.type;
    EXPECT_EQ(spec.scene.width, c.width) << c.type;
    EXPECT_EQ(spec.scene.height, c.height) << c.type;
    EXPECT_EQ(spec.scene.kind, c.kind) << c.type;
    if (c.kind == K::mosaic) {
      EXPECT_EQ(spec.scene.columns, c.columns);
      EXPECT_EQ(spec.scene.rows, c.rows);
      EXPECT_EQ(spec.scene.cells[0].title, "Entrada");
      EXPECT_EQ(spec.scene.cells[3].title, "Canal 4");
      if (spec.scene.cells.size() > 4) {
        EXPECT_EQ(spec.scene.cells[4].title, "");  // no such channel
      }
    }
    EXPECT_FALSE(spec.lens.has_value());
  }
}

TEST(StreamCatalog, FisheyeCameraReportsItsLensInEighths) {
  Settings s;
  s.channels = 1;
  s.video.fisheye = true;
  StreamKey key;
  StreamSpec spec;
  ASSERT_EQ(stream_spec(s, 0, 2, key, spec), proto::status::ok);
  EXPECT_EQ(spec.scene.kind, SceneSpec::Kind::fisheye);
  ASSERT_TRUE(spec.lens.has_value());
  FisheyeLens lens = fisheye_lens(1280, 720);
  EXPECT_EQ(spec.lens->center_x, 4096);
  EXPECT_EQ(spec.lens->center_y, lens.center_y * 8192 / 720);
  EXPECT_EQ(spec.lens->radius, lens.radius * 8192 / 1280);
  EXPECT_LT(lens.center_y + lens.radius, 720 - kBandLines);  // the circle stays above the band
  EXPECT_EQ(spec.lens->width_ratio, 1280);
  EXPECT_EQ(spec.lens->height_ratio, 720);
  // The same option on a recorder does not make fisheye pictures.
  s.channels = 4;
  ASSERT_EQ(stream_spec(s, 0, 2, key, spec), proto::status::ok);
  EXPECT_EQ(spec.scene.kind, SceneSpec::Kind::street);
}

}  // namespace
}  // namespace sim::device::video
