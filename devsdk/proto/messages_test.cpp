#include "devsdk/proto/messages.h"

#include <gtest/gtest.h>

namespace proto {
namespace {

// Every decoder must refuse each cut of a good payload short of its last field.
template <class T>
void expect_every_cut_refused(const std::vector<uint8_t>& full, size_t known_fields_bytes) {
  for (size_t n = 0; n < known_fields_bytes; ++n) {
    std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    T m;
    EXPECT_FALSE(decode(cut, m)) << "cut at " << n << " of " << full.size();
  }
}

TEST(Messages, LoginRoundTripsAndRefusesEveryCut) {
  LoginRequest in;
  in.login_mode = 19;
  in.user = "admin";
  in.password = "segredo";
  in.client_name = "test";
  auto bytes = encode(in);
  LoginRequest out;
  ASSERT_TRUE(decode(bytes, out));
  EXPECT_EQ(out.login_mode, 19u);
  EXPECT_EQ(out.user, "admin");
  EXPECT_EQ(out.password, "segredo");
  EXPECT_EQ(out.client_name, "test");
  expect_every_cut_refused<LoginRequest>(bytes, bytes.size());

  LoginReply reply;
  reply.session_token = 0xABCDEF01;
  reply.serial = "SN-1";
  reply.channels = 16;
  reply.alarm_inputs = 4;
  reply.alarm_outputs = 2;
  reply.device_type = 1;
  auto rb = encode(reply);
  LoginReply back;
  ASSERT_TRUE(decode(rb, back));
  EXPECT_EQ(back.session_token, 0xABCDEF01u);
  EXPECT_EQ(back.serial, "SN-1");
  EXPECT_EQ(back.channels, 16);
  EXPECT_EQ(back.alarm_inputs, 4);
  EXPECT_EQ(back.alarm_outputs, 2);
  expect_every_cut_refused<LoginReply>(rb, rb.size());
}

TEST(Messages, ConfigsRoundTripAndAcceptAppendedFields) {
  DeviceConfig d;
  d.serial = "S";
  d.name = "Loja Centro";
  d.model = "NVR-4";
  d.channels = 4;
  d.multi_preview = 16;
  d.video_standard = 1;
  auto db = encode(d);
  db.push_back(0xEE);  // a field a later version appends
  DeviceConfig dd;
  ASSERT_TRUE(decode(db, dd));
  EXPECT_EQ(dd.name, "Loja Centro");
  EXPECT_EQ(dd.multi_preview, 16);
  EXPECT_EQ(dd.video_standard, 1);
  expect_every_cut_refused<DeviceConfig>(db, db.size() - 1);

  NetworkConfig n;
  n.tcp_port = 37777;
  n.http_port = 8080;
  n.https_port = 8443;
  auto nb = encode(n);
  NetworkConfig nn;
  ASSERT_TRUE(decode(nb, nn));
  EXPECT_EQ(nn.tcp_port, 37777);
  EXPECT_EQ(nn.http_port, 8080);
  EXPECT_EQ(nn.https_port, 8443);
  expect_every_cut_refused<NetworkConfig>(nb, nb.size());
}

TEST(Messages, IoEntriesAreBoundedByTheirCountAndLimit) {
  IoControl c;
  c.io_type = kIoAlarmOutput;
  c.entries = {{0, 1}, {1, 0}};
  auto bytes = encode(c);
  IoControl back;
  ASSERT_TRUE(decode(bytes, back));
  ASSERT_EQ(back.entries.size(), 2u);
  EXPECT_EQ(back.entries[0].state, 1);
  EXPECT_EQ(back.entries[1].number, 1);
  expect_every_cut_refused<IoControl>(bytes, bytes.size());

  // A count above the limit is refused even when that many entries follow.
  Writer w;
  w.u16(static_cast<uint16_t>(kMaxIoEntries + 1));
  for (size_t i = 0; i <= kMaxIoEntries; ++i) w.u16(0).u16(0);
  IoStates states;
  EXPECT_FALSE(decode(w.take(), states));
}

TEST(Messages, MediaFrameTakesTheRestOfThePayload) {
  MediaFrame f;
  f.timestamp_ms = 1234567890123ull;
  f.kind = kFrameVideoKey;
  f.codec = kCodecH264;
  f.width = 1280;
  f.height = 720;
  f.data = {0, 0, 0, 1, 0x67};
  MediaFrame back;
  ASSERT_TRUE(decode(encode(f), back));
  EXPECT_EQ(back.timestamp_ms, f.timestamp_ms);
  EXPECT_EQ(back.data, f.data);
  auto bytes = encode(f);
  MediaFrameView view;
  ASSERT_TRUE(decode(bytes, view));
  EXPECT_EQ(view.width, 1280);
  ASSERT_EQ(view.size, f.data.size());
  EXPECT_EQ(view.data, bytes.data() + 14);  // in place, no copy
  f.kind = 9;
  EXPECT_FALSE(decode(encode(f), back));
  EXPECT_FALSE(decode(encode(f), view));
}

TEST(Messages, BindRoundTrips) {
  BindRequest b;
  b.session_token = 77;
  b.purpose = kBindPlayback;
  b.channel = 3;
  b.start = {2024, 5, 6, 7, 8, 9};
  b.end = {2024, 5, 6, 8, 0, 0};
  auto bytes = encode(b);
  BindRequest back;
  ASSERT_TRUE(decode(bytes, back));
  EXPECT_EQ(back.session_token, 77u);
  EXPECT_EQ(back.start.second, 9);
  EXPECT_EQ(back.end.hour, 8);
  expect_every_cut_refused<BindRequest>(bytes, bytes.size());
}

TEST(Messages, StreamSettingsNamedConfigsAndLensRoundTripAndRefuseEveryCut) {
  ChannelConfig c;
  c.name = "Entrada";
  c.main = {17, 25, 2048, 25, 1, 1};
  c.extra = {3, 25, 384, 25, 1, 1};
  auto cb = encode(c);
  ChannelConfig cback;
  ASSERT_TRUE(decode(cb, cback));
  EXPECT_EQ(cback.name, "Entrada");
  EXPECT_EQ(cback.main.resolution, 17);
  EXPECT_EQ(cback.extra.bit_rate_kbps, 384);
  expect_every_cut_refused<ChannelConfig>(cb, cb.size());

  NamedConfigRequest n{"devVideoInput.getCaps", 2};
  auto nb = encode(n);
  NamedConfigRequest nback;
  ASSERT_TRUE(decode(nb, nback));
  EXPECT_EQ(nback.name, "devVideoInput.getCaps");
  EXPECT_EQ(nback.channel, 2);
  expect_every_cut_refused<NamedConfigRequest>(nb, nb.size());
  EXPECT_FALSE(decode(encode(NamedConfigRequest{"", 0}), nback));  // a name is required

  NamedConfigReply r{std::string(70000, 'x')};
  NamedConfigReply rback;
  ASSERT_TRUE(decode(encode(r), rback));
  EXPECT_EQ(rback.text.size(), 65535u);  // cut to the text's limit

  LensInfo lens;
  lens.radius = 2304;
  lens.center_x = 4096;
  lens.center_y = 3913;
  lens.width_ratio = 1280;
  lens.height_ratio = 720;
  lens.installation_style = 1;
  auto lb = encode(lens);
  LensInfo lback;
  ASSERT_TRUE(decode(lb, lback));
  EXPECT_EQ(lback.center_y, 3913);
  EXPECT_EQ(lback.height_ratio, 720);
  EXPECT_EQ(lback.installation_style, 1);
  expect_every_cut_refused<LensInfo>(lb, lb.size());
}

// The example of README.md, byte for byte.
TEST(Messages, LoginRequestMatchesTheDocumentedBytes) {
  LoginRequest in;
  in.login_mode = 19;
  in.user = "admin";
  in.password = "x";
  in.client_name = "c";
  auto bytes = request_bytes(Type::login, 1, encode(in));
  const std::vector<uint8_t> expected = {
      0x4B, 0x56, 0x44, 0x50, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x13, 0x00, 0x00, 0x00, 0x05, 0x00, 'a',  'd',
      'm',  'i',  'n',  0x01, 0x00, 'x',  0x01, 0x00, 'c'};
  EXPECT_EQ(bytes, expected);
}

TEST(Messages, RecordMessagesRoundTripAndRefuseEveryCut) {
  RecordQuery q;
  q.channel = 2;
  q.record_type = 1;
  q.start = {2024, 1, 31, 23, 59, 50};
  q.end = {2024, 2, 1, 0, 59, 50};
  q.most = 100;
  auto qb = encode(q);
  RecordQuery qq;
  ASSERT_TRUE(decode(qb, qq));
  EXPECT_EQ(qq.channel, 2);
  EXPECT_EQ(qq.end.month, 2);
  EXPECT_EQ(qq.end.minute, 59);
  EXPECT_EQ(qq.most, 100u);
  expect_every_cut_refused<RecordQuery>(qb, qb.size());

  RecordList list;
  list.files.resize(2);
  list.files[0].name = std::string(200, 'n');  // cut to the field's limit
  list.files[0].size_kib = 921600;
  list.files[1].name = "ch01_20240131_2300.dav";
  list.files[1].start = {2024, 1, 31, 23, 0, 0};
  list.files[1].end = {2024, 2, 1, 0, 0, 0};
  list.files[1].record_type = 2;
  auto lb = encode(list);
  RecordList back;
  ASSERT_TRUE(decode(lb, back));
  ASSERT_EQ(back.files.size(), 2u);
  EXPECT_EQ(back.files[0].name.size(), kMaxRecordNameBytes);
  EXPECT_EQ(back.files[0].size_kib, 921600u);
  EXPECT_EQ(back.files[1].name, "ch01_20240131_2300.dav");
  EXPECT_EQ(back.files[1].end.day, 1);
  EXPECT_EQ(back.files[1].record_type, 2);
  expect_every_cut_refused<RecordList>(lb, lb.size());

  // A count the payload cannot hold is refused before anything is read.
  Writer huge;
  huge.u16(60000);
  RecordList none;
  EXPECT_FALSE(decode(huge.take(), none));

  RecordMonthQuery mq;
  mq.channel = 1;
  mq.year = 2024;
  mq.month = 1;
  auto mb = encode(mq);
  RecordMonthQuery mm;
  ASSERT_TRUE(decode(mb, mm));
  EXPECT_EQ(mm.year, 2024);
  EXPECT_EQ(mm.month, 1);
  expect_every_cut_refused<RecordMonthQuery>(mb, mb.size());

  StreamControl c;
  c.operation = kStreamSpeed;
  c.value = -3;
  auto cb = encode(c);
  StreamControl cc;
  ASSERT_TRUE(decode(cb, cc));
  EXPECT_EQ(cc.operation, kStreamSpeed);
  EXPECT_EQ(cc.value, -3);
  expect_every_cut_refused<StreamControl>(cb, cb.size());

  RecordStreamInfo info;
  info.total_kib = 15360;
  info.frames = 1500;
  auto ib = encode(info);
  RecordStreamInfo ii;
  ASSERT_TRUE(decode(ib, ii));
  EXPECT_EQ(ii.total_kib, 15360u);
  EXPECT_EQ(ii.frames, 1500u);
  expect_every_cut_refused<RecordStreamInfo>(ib, ib.size());
}

}  // namespace
}  // namespace proto
