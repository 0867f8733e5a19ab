// Alert listening against the device simulator through the tunnel service, in process: alarm
// transitions of every kind, the listen flags that gate them, the device's listening from the
// first channel to the last, the overlay indicators, and release and uninit while alarms arrive.
#include "brixa/alerts/alerts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "brixa/api/brixa.h"
#include "brixa/core/client_registry.h"
#include "brixa/live/channel_capture.h"
#include "devsdk/proto/alarms.h"
#include "sim/device/device.h"
#include "sim/tunnel/tunnel_service.h"

namespace {

using sim::device::Device;
using sim::device::Settings;

constexpr const char* kDevId = "KVR-ALERTS";
constexpr int kMarkerKind = 6;          // disk error: needs no listening channel
constexpr int32_t kMarkerChannel = 40;

struct Alert {
  int32_t kind;
  int32_t channel;
  std::string dev_id;
  bool operator==(const Alert& o) const { return kind == o.kind && channel == o.channel && dev_id == o.dev_id; }
};

std::ostream& operator<<(std::ostream& out, const Alert& a) {
  return out << "{kind " << a.kind << ", channel " << a.channel << ", " << a.dev_id << "}";
}

// Alert callbacks seen by the test client; written on the dispatcher thread.
struct Alerts {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Alert> seen;

  template <class Pred>
  bool wait(Pred pred, int ms = 5000) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return pred(seen); });
  }
};

int record(intptr_t user, brixa_handle, int32_t id, intptr_t param1, int32_t param2, const char* info, int32_t len) {
  if (id != BRIXA_CB_CALLBACK_GET_LIVE_ALERT) return 0;
  auto* alerts = reinterpret_cast<Alerts*>(user);
  {
    std::lock_guard<std::mutex> hold(alerts->lock);
    alerts->seen.push_back({static_cast<int32_t>(param1), param2, std::string(info, static_cast<size_t>(len))});
  }
  alerts->changed.notify_all();
  return 0;
}

template <class Pred>
bool wait_until(Pred pred, int ms = 5000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

uint32_t code_of(int kind) { return proto::kFirstAlarmKind + static_cast<uint32_t>(kind); }

// A client logged in to one simulated device through a tunnel, all in this process.
class AlertTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(service.start()); }
  void TearDown() override {
    if (client != nullptr) {
      brixa_cli_detach_callback(client);
      brixa_release(client);
    }
    brixa_uninit();
    device.reset();
    service.stop();
  }

  void start(int channels = 4) {
    Settings s;
    s.dev_id = kDevId;
    s.channels = channels;
    s.users = {{"admin", "admin-pass"}};
    s.tunnel.service_port = service.port();
    device = std::make_unique<Device>(s);
    ASSERT_TRUE(device->start());
    ASSERT_TRUE(device->wait_tunnel_registered(5000));
    brixa_init("127.0.0.1", service.port(), "key");
    client = brixa_create();
    ASSERT_NE(client, nullptr);
    brixa_cli_attach_callback(client, record, reinterpret_cast<intptr_t>(&alerts));
    brixa_connection c = brixa_create_connect(client, kDevId, device->tunnel_port(), 0);
    ASSERT_NE(c, nullptr);
    int32_t port = brixa_connnect_get_mapped_port(client, c);
    ASSERT_GT(port, 0);
    mapped_port = static_cast<uint16_t>(port);
    ASSERT_EQ(brixa_login(client, kDevId, mapped_port, "admin", "admin-pass"), 0);
  }

  void raise(int kind, int32_t channel, bool on) { device->raise_alarm(code_of(kind), channel, on); }

  // The alerts that arrived since the last call. A marker alarm raised last closes the span:
  // the device's alarms reach the client in the order it raised them, so whatever an earlier
  // alarm produced has arrived once the marker has.
  std::vector<Alert> alerts_since_last() {
    const int32_t channel = kMarkerChannel;
    raise(kMarkerKind, channel, true);
    const Alert marker{kMarkerKind, channel, kDevId};
    EXPECT_TRUE(alerts.wait([&](const std::vector<Alert>& seen) {
      for (size_t i = consumed; i < seen.size(); ++i)
        if (seen[i] == marker) return true;
      return false;
    })) << "marker " << marker << " did not arrive";
    std::lock_guard<std::mutex> hold(alerts.lock);
    std::vector<Alert> out;
    size_t i = consumed;
    for (; i < alerts.seen.size() && !(alerts.seen[i] == marker); ++i) out.push_back(alerts.seen[i]);
    consumed = i + 1;
    // Off again (which reports nothing), so the next marker comes on afresh.
    raise(kMarkerKind, channel, false);
    return out;
  }

  int32_t start_listen(int32_t channel) { return brixa_start_listen_alert(client, kDevId, channel); }
  int32_t stop_listen(int32_t channel) { return brixa_stop_listen_alert(client, kDevId, channel); }

  sim::tunnel::TunnelService service;
  std::unique_ptr<Device> device;
  brixa_handle client = nullptr;
  uint16_t mapped_port = 0;
  Alerts alerts;
  size_t consumed = 0;
};

// Each kind, on a listening channel: one callback when the alarm comes on, nothing for a
// repeated "on" or for "off", and a new callback when it comes on again.
TEST_F(AlertTest, EachKindReportsEveryTransitionToOnOnce) {
  start();
  ASSERT_EQ(start_listen(1), 0);
  struct Step {
    bool on;
    bool reported;
  };
  const Step steps[] = {{true, true}, {true, false}, {false, false}, {true, true}, {false, false}};
  for (int kind = 0; kind <= 6; ++kind) {
    for (size_t i = 0; i < std::size(steps); ++i) {
      raise(kind, 1, steps[i].on);
      std::vector<Alert> expected;
      if (steps[i].reported) expected.push_back({kind, 1, kDevId});
      EXPECT_EQ(alerts_since_last(), expected) << "kind " << kind << " step " << i;
    }
  }
}

// Motion, video loss and masking are reported only for channels that listen; the other kinds
// for any channel of a device that listens.
TEST_F(AlertTest, PictureAlarmsNeedTheChannelToListen) {
  start();
  ASSERT_EQ(start_listen(0), 0);
  const bool needs_listening[] = {false, true, true, true, false, false, false};
  for (int kind = 0; kind <= 5; ++kind) {
    raise(kind, 2, true);
    std::vector<Alert> expected;
    if (!needs_listening[kind]) expected.push_back({kind, 2, kDevId});
    EXPECT_EQ(alerts_since_last(), expected) << "kind " << kind;
    raise(kind, 0, true);
    EXPECT_EQ(alerts_since_last(), (std::vector<Alert>{{kind, 0, kDevId}})) << "kind " << kind;
  }
}

TEST_F(AlertTest, AlarmsAlreadyOnAreReportedWhenListeningStarts) {
  start();
  raise(2, 0, true);
  raise(0, 3, true);
  ASSERT_EQ(start_listen(0), 0);
  std::vector<Alert> got = alerts_since_last();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_NE(std::find(got.begin(), got.end(), Alert{2, 0, kDevId}), got.end());
  EXPECT_NE(std::find(got.begin(), got.end(), Alert{0, 3, kDevId}), got.end());
}

// The device listens from the first listening channel to the last one stopped.
TEST_F(AlertTest, DeviceListensFromFirstChannelToLast) {
  start();
  const sim::device::AlarmHub& hub = device->alarms();
  ASSERT_EQ(start_listen(0), 0);
  EXPECT_EQ(hub.subscriptions_made(), 1);
  ASSERT_EQ(start_listen(1), 0);
  EXPECT_EQ(hub.subscriptions_made(), 1) << "a second channel does not start the device again";
  ASSERT_EQ(stop_listen(1), 0);
  EXPECT_EQ(hub.subscribers(), 1u) << "channel 0 still listens";
  raise(1, 1, true);
  raise(1, 0, true);
  EXPECT_EQ(alerts_since_last(), (std::vector<Alert>{{1, 0, kDevId}}));
  // A channel that does not listen leaves the device listening.
  ASSERT_EQ(stop_listen(2), 0);
  EXPECT_EQ(hub.subscribers(), 1u);
  ASSERT_EQ(stop_listen(0), 0);
  EXPECT_EQ(hub.subscribers(), 0u) << "the last channel stops the device's listening";
  // Listening again reports what is still on afresh.
  ASSERT_EQ(start_listen(0), 0);
  EXPECT_EQ(hub.subscriptions_made(), 2);
  EXPECT_EQ(alerts_since_last(), (std::vector<Alert>{{1, 0, kDevId}}));
}

// A logout ends the device's listening: after a new login, the first channel starts it again.
TEST_F(AlertTest, ListeningStartsAfreshAfterANewLogin) {
  start();
  ASSERT_EQ(start_listen(0), 0);
  ASSERT_EQ(brixa_logout(client, kDevId), 0);
  EXPECT_TRUE(wait_until([&] { return device->alarms().subscribers() == 0; }));
  ASSERT_EQ(brixa_login(client, kDevId, mapped_port, "admin", "admin-pass"), 0);
  ASSERT_EQ(start_listen(1), 0);
  EXPECT_EQ(device->alarms().subscriptions_made(), 2);
  raise(1, 0, true);
  raise(1, 1, true);
  EXPECT_EQ(alerts_since_last(), (std::vector<Alert>{{1, 1, kDevId}})) << "channel 0 listened under the old login";
}

TEST_F(AlertTest, AllChannelsAtOnce) {
  start();
  ASSERT_EQ(start_listen(-1), 0);
  raise(3, 3, true);
  EXPECT_EQ(alerts_since_last(), (std::vector<Alert>{{3, 3, kDevId}}));
  ASSERT_EQ(stop_listen(-1), 0);
  EXPECT_EQ(device->alarms().subscribers(), 0u);
}

TEST_F(AlertTest, RefusedArguments) {
  start();
  int fake = 0;
  auto unknown = reinterpret_cast<brixa_handle>(&fake);
  struct Case {
    const char* what;
    brixa_handle handle;
    const char* dev_id;
    int32_t channel;
    int32_t start_result;
    int32_t stop_result;
  };
  const Case cases[] = {
      {"channel equal to the count", client, kDevId, 4, -5, -5},
      {"channel -2", client, kDevId, -2, -5, -5},
      {"channel 64", client, kDevId, 64, -5, -5},
      {"unknown device", client, "KVR-NONE", 0, -3, -3},
      {"null device", client, nullptr, 0, -3, -3},
      {"null handle", nullptr, kDevId, 0, -2, -1},
      {"unknown handle", unknown, kDevId, 0, -1, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(brixa_start_listen_alert(c.handle, c.dev_id, c.channel), c.start_result) << c.what;
    EXPECT_EQ(brixa_stop_listen_alert(c.handle, c.dev_id, c.channel), c.stop_result) << c.what;
  }
  EXPECT_EQ(device->alarms().subscriptions_made(), 0);
}

TEST_F(AlertTest, RefusedByTheDevice) {
  start();
  device->set_fault({sim::device::FaultKind::refuse, static_cast<uint16_t>(proto::Type::alarm_subscribe)});
  EXPECT_EQ(start_listen(0), -4);
  device->set_fault({});
  // The refused start left no flag behind: the next start asks the device again.
  EXPECT_EQ(start_listen(1), 0);
  EXPECT_EQ(device->alarms().subscriptions_made(), 1);
  raise(1, 0, true);
  EXPECT_TRUE(alerts_since_last().empty());
}

// Only the first 64 channels of a message are read.
TEST_F(AlertTest, ChannelsBeyond64AreIgnored) {
  start(70);
  ASSERT_EQ(start_listen(-1), 0);
  raise(0, 66, true);
  raise(0, 63, true);
  EXPECT_EQ(alerts_since_last(), (std::vector<Alert>{{0, 63, kDevId}}));
}

// The overlay's alarm indicators of a streaming channel follow the alarm states of kinds 1-4
// and are cleared when the channel stops listening.
TEST_F(AlertTest, OverlayIndicatorsFollowTheAlarms) {
  start();
  constexpr int32_t kStream = 777;
  auto capture = brixa::live::AddChannelCaptures(nullptr, kStream, kDevId, 0, 0);
  ASSERT_NE(capture, nullptr);
  auto set_stream = [&](int32_t stream) {
    brixa::with_client(client, [&](brixa_client* c) {
      brixa::DeviceListLock list(c->device_list_lock);
      brixa::find_logged_in_session(c, kDevId)->live.real_play_handle[0] = stream;
      return 0;
    });
  };
  set_stream(kStream);
  ASSERT_EQ(start_listen(0), 0);
  struct Case {
    int kind;
    std::atomic<uint8_t>* flag;
  };
  Case cases[] = {{1, &capture->motion_alarm},
                  {2, &capture->video_loss_alarm},
                  {3, &capture->masking_alarm},
                  {4, &capture->audio_alarm}};
  for (const Case& c : cases) {
    raise(c.kind, 0, true);
    alerts_since_last();
    EXPECT_EQ(c.flag->load(), 1) << "kind " << c.kind;
    raise(c.kind, 0, false);
    alerts_since_last();
    EXPECT_EQ(c.flag->load(), 0) << "kind " << c.kind;
    raise(c.kind, 0, true);
  }
  alerts_since_last();
  EXPECT_EQ(capture->motion_alarm.load() + capture->video_loss_alarm.load() + capture->masking_alarm.load() +
                capture->audio_alarm.load(),
            4);
  ASSERT_EQ(stop_listen(0), 0);
  EXPECT_EQ(capture->motion_alarm.load() + capture->video_loss_alarm.load() + capture->masking_alarm.load() +
                capture->audio_alarm.load(),
            0);
  set_stream(0);
  brixa::live::DeleteChannelCaptures(capture);
}

// A device that keeps raising alarms while the client goes away: the release stops the
// device's listening, and nothing reaches the released client.
TEST_F(AlertTest, ReleaseAndUninitWhileAlarmsArrive) {
  for (bool uninit : {false, true}) {
    SCOPED_TRACE(uninit ? "uninit" : "release");
    start();
    ASSERT_EQ(start_listen(-1), 0);
    std::atomic<bool> stop{false};
    std::thread storm([&] {
      for (int i = 0; !stop.load() && i < 100000; ++i) raise(i % 7, i % 4, (i / 7) % 2 == 0);
    });
    EXPECT_TRUE(alerts.wait([](const std::vector<Alert>& seen) { return seen.size() >= 5; }));
    if (uninit) {
      brixa_uninit();
    } else {
      brixa_cli_detach_callback(client);
      brixa_release(client);
    }
    client = nullptr;
    EXPECT_TRUE(wait_until([&] { return device->alarms().subscribers() == 0; }));
    stop = true;
    storm.join();
    brixa_uninit();
    device.reset();
  }
}

}  // namespace
