// The device simulator seen from a raw socket: what it answers and when it closes.
#include "sim/device/device.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>

#include "devsdk/proto/messages.h"
#include "platform/net/socket_io.h"
#include "sim/device/recordings/schedule.h"

namespace sim::device {
namespace {

using Clock = std::chrono::steady_clock;

class RawClient {
 public:
  explicit RawClient(uint16_t port) {
    socket_ = platform::net::connect_to("127.0.0.1", port, -1, 2000, nullptr, platform::net::Blocking::yes);
  }
  bool connected() const { return socket_.valid(); }
  void send(const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(platform::net::send_all(socket_.get(), bytes.data(), bytes.size(), -1, 2000));
  }
  // The next message, or nothing when the device closed the connection or `wait_ms` passed.
  enum class Got { message, closed, nothing };
  Got next(proto::Message& m, int wait_ms = 3000) {
    auto deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
      auto r = frames_.next(m);
      if (r == proto::FrameReader::Result::message) return Got::message;
      if (r != proto::FrameReader::Result::need_more) return Got::nothing;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return Got::nothing;
      pollfd p{socket_.get(), POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) return Got::nothing;
      uint8_t buffer[4096];
      long n = platform::net::receive_some(socket_.get(), buffer, sizeof buffer);
      if (n <= 0) return Got::closed;
      frames_.feed(buffer, static_cast<size_t>(n));
    }
  }
  // True when the device closed the connection within 3 s.
  bool closed_by_device() {
    proto::Message m;
    Got g;
    while ((g = next(m)) == Got::message) {
    }
    return g == Got::closed;
  }

 private:
  platform::net::UniqueFd socket_;
  proto::FrameReader frames_{proto::kMaxControlPayload};
};

std::vector<uint8_t> login_bytes(uint32_t id, const char* user, const char* password) {
  proto::LoginRequest r;
  r.login_mode = 19;
  r.user = user;
  r.password = password;
  return proto::request_bytes(proto::Type::login, id, proto::encode(r));
}

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings s;
    s.dev_id = "KVR-RAW";
    device = std::make_unique<Device>(s);
    ASSERT_TRUE(device->start());
  }
  std::unique_ptr<Device> device;
};

TEST_F(DeviceTest, AnswersRequestsBeforeLoginWithNotLoggedIn) {
  RawClient c(device->port());
  ASSERT_TRUE(c.connected());
  proto::ConfigRequest cfg;
  cfg.command = proto::kConfigDevice;
  c.send(proto::request_bytes(proto::Type::get_config, 5, proto::encode(cfg)));
  proto::Message m;
  ASSERT_EQ(c.next(m), RawClient::Got::message);
  EXPECT_TRUE(m.is_reply());
  EXPECT_EQ(m.header.request_id, 5u);
  EXPECT_EQ(m.header.status, proto::status::not_logged_in);
  // The connection stays usable: a login follows.
  c.send(login_bytes(6, "admin", "admin"));
  ASSERT_EQ(c.next(m), RawClient::Got::message);
  EXPECT_EQ(m.header.status, proto::status::ok);
  proto::LoginReply reply;
  EXPECT_TRUE(proto::decode(m.payload, reply));
  EXPECT_EQ(reply.channels, 4);
  EXPECT_EQ(device->sessions_open(), 1);
}

TEST_F(DeviceTest, ClosesTheConnectionOnWhatItCannotAccept) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<uint8_t> oversized;
  proto::Header h;
  h.type = static_cast<uint16_t>(proto::Type::login);
  h.length = 1u << 30;
  proto::append_header(oversized, h);
  std::vector<uint8_t> bad_version = login_bytes(1, "admin", "admin");
  bad_version[4] = 9;
  std::vector<uint8_t> cut_login = proto::request_bytes(proto::Type::login, 1, {19, 0, 0, 0, 5, 0, 'a'});
  std::vector<uint8_t> reply_from_client = proto::reply_bytes(proto::Type::login, 1, 0, {});
  const Case cases[] = {
      {"bytes that are no message", std::vector<uint8_t>(40, 0xA5)},
      {"a header announcing 1 GiB", oversized},
      {"an unknown version", bad_version},
      {"a login whose payload is cut", cut_login},
      {"a reply sent by the client", reply_from_client},
  };
  for (const auto& c : cases) {
    RawClient client(device->port());
    ASSERT_TRUE(client.connected()) << c.what;
    client.send(c.bytes);
    EXPECT_TRUE(client.closed_by_device()) << c.what;
  }
  EXPECT_EQ(device->sessions_open(), 0);
}

TEST_F(DeviceTest, EndsTheLoginWhenItsConnectionCloses) {
  {
    RawClient c(device->port());
    c.send(login_bytes(1, "admin", "admin"));
    proto::Message m;
    ASSERT_EQ(c.next(m), RawClient::Got::message);
    ASSERT_EQ(device->sessions_open(), 1);
  }
  auto deadline = Clock::now() + std::chrono::seconds(3);
  while (device->sessions_open() != 0 && Clock::now() < deadline) ::poll(nullptr, 0, 10);
  EXPECT_EQ(device->sessions_open(), 0);
}

TEST_F(DeviceTest, StopsWhileAConnectionStalls) {
  device->set_fault({FaultKind::stall, 0});
  RawClient c(device->port());
  c.send(login_bytes(1, "admin", "admin"));
  proto::Message m;
  EXPECT_EQ(c.next(m, 300), RawClient::Got::nothing);
  device->stop();  // must not wait for the stalled connection
  EXPECT_TRUE(c.closed_by_device());
}

TEST_F(DeviceTest, WritesOutputsByPosition) {
  RawClient c(device->port());
  c.send(login_bytes(1, "admin", "admin"));
  proto::Message m;
  ASSERT_EQ(c.next(m), RawClient::Got::message);
  proto::IoControl set;
  set.io_type = proto::kIoAlarmOutput;
  set.entries = {{0, 1}, {1, 0}};
  c.send(proto::request_bytes(proto::Type::io_control, 2, proto::encode(set)));
  ASSERT_EQ(c.next(m), RawClient::Got::message);
  EXPECT_EQ(m.header.status, proto::status::ok);
  EXPECT_EQ(device->alarm_outputs(), (std::vector<uint16_t>{1, 0}));
  set.entries = {{0, 1}, {1, 1}, {2, 1}};  // one more than the device has
  c.send(proto::request_bytes(proto::Type::io_control, 3, proto::encode(set)));
  ASSERT_EQ(c.next(m), RawClient::Got::message);
  EXPECT_EQ(m.header.status, proto::status::invalid_parameter);
  EXPECT_EQ(device->alarm_outputs(), (std::vector<uint16_t>{1, 0}));
}

// A logged-in control connection and a stream connection bound to a span of channel 0.
struct RecordingClient {
  RecordingClient(uint16_t port, uint32_t purpose, int64_t seconds) : control(port), stream(port) {
    control.send(login_bytes(1, "admin", "admin"));
    proto::Message m;
    EXPECT_EQ(control.next(m), RawClient::Got::message);
    proto::LoginReply reply;
    EXPECT_TRUE(proto::decode(m.payload, reply));
    proto::BindRequest bind;
    bind.session_token = reply.session_token;
    bind.purpose = purpose;
    bind.channel = 0;
    bind.start = {2024, 5, 1, 10, 0, 0};
    bind.end = {2024, 5, 1, 10, 0, static_cast<uint8_t>(seconds)};
    stream.send(proto::request_bytes(proto::Type::bind, 7, proto::encode(bind)));
    EXPECT_EQ(stream.next(m), RawClient::Got::message);
    bind_status = m.header.status;
    proto::decode(m.payload, info);
  }
  // The next message of the stream that is not a media frame.
  RawClient::Got next_other(proto::Message& m, int wait_ms = 3000) {
    RawClient::Got g;
    while ((g = stream.next(m, wait_ms)) == RawClient::Got::message &&
           m.header.type == static_cast<uint16_t>(proto::Type::media_frame)) {
      ++frames;
    }
    return g;
  }
  RawClient control;
  RawClient stream;
  int32_t bind_status = -1;
  proto::RecordStreamInfo info;
  int frames = 0;
};

class RecordingDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings s;
    s.dev_id = "KVR-RECORDER";
    s.channels = 1;
    proto::Time from{2024, 5, 1, 10, 0, 0}, to{2024, 5, 1, 10, 30, 0};
    s.recordings = std::vector<RecordSpan>{{0, recordings::to_epoch(from), recordings::to_epoch(to), 300, 0}};
    device = std::make_unique<Device>(s);
    ASSERT_TRUE(device->start());
  }
  std::unique_ptr<Device> device;
};

TEST_F(RecordingDeviceTest, DownloadSendsTheWholeSpanThenItsEnd) {
  RecordingClient c(device->port(), proto::kBindDownload, 2);
  ASSERT_EQ(c.bind_status, proto::status::ok);
  EXPECT_EQ(c.info.frames, 50u);
  EXPECT_GT(c.info.total_kib, 0u);
  // A download takes no stream control.
  proto::StreamControl pause{proto::kStreamPause, 1};
  c.stream.send(proto::request_bytes(proto::Type::stream_control, 9, proto::encode(pause)));
  proto::Message m;
  ASSERT_EQ(c.next_other(m), RawClient::Got::message);
  if (m.header.type == static_cast<uint16_t>(proto::Type::stream_control)) {
    EXPECT_EQ(m.header.status, proto::status::not_supported);
    ASSERT_EQ(c.next_other(m), RawClient::Got::message);
  }
  EXPECT_EQ(m.header.type, static_cast<uint16_t>(proto::Type::stream_end));
  EXPECT_EQ(c.frames, 50);
  EXPECT_TRUE(c.stream.closed_by_device());
}

TEST_F(RecordingDeviceTest, PlaybackAnswersControlsAndEndsWithItsLoginAndTheDevice) {
  RecordingClient c(device->port(), proto::kBindPlayback, 59);
  ASSERT_EQ(c.bind_status, proto::status::ok);
  struct Case {
    uint32_t operation;
    int32_t value;
    int32_t status;
  };
  const Case cases[] = {
      {proto::kStreamSpeed, 3, proto::status::ok},
      {proto::kStreamSpeed, 4, proto::status::invalid_parameter},
      {proto::kStreamPause, 1, proto::status::ok},
      {proto::kStreamPause, 0, proto::status::ok},
      {7, 0, proto::status::invalid_parameter},
  };
  uint32_t id = 20;
  for (const auto& k : cases) {
    proto::StreamControl control{k.operation, k.value};
    c.stream.send(proto::request_bytes(proto::Type::stream_control, ++id, proto::encode(control)));
    proto::Message m;
    ASSERT_EQ(c.next_other(m), RawClient::Got::message);
    EXPECT_EQ(m.header.type, static_cast<uint16_t>(proto::Type::stream_control));
    EXPECT_EQ(m.header.request_id, id);
    EXPECT_EQ(m.header.status, k.status) << k.operation << " " << k.value;
  }
  EXPECT_EQ(device->recording_streams(), 1);
  // The end of the login ends its playback.
  c.control.send(proto::request_bytes(proto::Type::logout, 2, {}));
  EXPECT_TRUE(c.stream.closed_by_device());
  EXPECT_EQ(device->recording_streams(), 0);

  // And stop() ends a running one.
  RecordingClient d(device->port(), proto::kBindPlayback, 59);
  ASSERT_EQ(d.bind_status, proto::status::ok);
  ASSERT_TRUE([&] {
    auto until = Clock::now() + std::chrono::seconds(3);
    while (device->recording_streams() != 1 && Clock::now() < until) ::poll(nullptr, 0, 5);
    return device->recording_streams() == 1;
  }());
  device->stop();
  EXPECT_EQ(device->recording_streams(), 0);
  EXPECT_TRUE(d.stream.closed_by_device());
}

TEST_F(RecordingDeviceTest, RefusesSpansWithoutRecordings) {
  RecordingClient none(device->port(), proto::kBindPlayback, 0);  // an end that is not after the start
  EXPECT_EQ(none.bind_status, proto::status::invalid_parameter);
  EXPECT_TRUE(none.stream.closed_by_device());
  Settings s;
  s.dev_id = "KVR-EMPTY";
  s.recordings = std::vector<RecordSpan>{};
  Device empty(s);
  ASSERT_TRUE(empty.start());
  RecordingClient c(empty.port(), proto::kBindDownload, 30);
  EXPECT_EQ(c.bind_status, proto::status::no_record);
  EXPECT_TRUE(c.stream.closed_by_device());
}

}  // namespace
}  // namespace sim::device
