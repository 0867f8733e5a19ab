// The device and camera model on its own: lists and descriptions read into the records, the
// camera summary, the lists written back, and the disconnected-notification rule. The control is
// hosted on a user-interface thread; the cloud is a table that records what it is asked to store.
#include <gtest/gtest.h>
#include <cjson/cJSON.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/control_host.h"
#include "kavrel/core/callback_names.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "sim/tunnel/tunnel_service.h"

namespace {

using namespace std::chrono_literals;
using com::Variant;
using kavrel::CkavrelCtrl;

constexpr com::DISPID kCallBackMsg = 32;

struct Written {
  static inline std::mutex lock;
  static inline std::vector<std::string> devices;  // guarded by lock
  static inline std::vector<std::string> cameras;  // guarded by lock

  static int32_t ok(brixa_handle) { return 0; }
  static int32_t create(brixa_handle, const char*, const char*, const char*, const char*, const char*, int32_t) {
    return -1;
  }
  static int32_t set_device_list(brixa_handle, int32_t, const char* list) {
    std::lock_guard<std::mutex> hold(lock);
    devices.push_back(list);
    return 0;
  }
  static int32_t set_cam_list(brixa_handle, const char* list) {
    std::lock_guard<std::mutex> hold(lock);
    cameras.push_back(list);
    return 0;
  }
  static void reset() {
    std::lock_guard<std::mutex> hold(lock);
    devices.clear();
    cameras.clear();
  }
  static inline const kavrel::CloudCalls table = {create, ok, ok, ok, ok, ok, set_device_list, set_cam_list};
};

class DeviceModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Written::reset();
    // A tunnel service without devices: tunnels to the test's devices fail quickly.
    ASSERT_TRUE(tunnel_.start());
    std::string error;
    host_ = host::ControlHost::adopt(
        [this] {
          control_ = CkavrelCtrl::Create();
          return static_cast<com::IDispatch*>(control_);
        },
        &error);
    ASSERT_NE(host_, nullptr) << error;
    ASSERT_EQ(host_->create_window(), com::S_OK);
    ASSERT_EQ(host_->call("CliInit", {Variant::string(u"http://127.0.0.1:1/"), Variant::string(u""),
                                      Variant::string(u""), Variant::string(u"127.0.0.1"),
                                      Variant::i4(tunnel_.port()), Variant::null()}),
              com::S_OK);
    on_ui([](CkavrelCtrl& c) { c.set_cloud_calls_for_testing(&Written::table); });
  }
  void TearDown() override {
    host_->call("CliUnInit", {});
    host_.reset();
  }
  template <class Fn>
  void on_ui(Fn fn) {
    host_->ui().run([&] { fn(*control_); });
  }
  // Waits until every event the control has been handed so far has reached the page: an event
  // handed to it now comes after all of them.
  void quiet() {
    static int32_t witness = 0;
    int32_t tag = ++witness;
    control_->Callback(0, 0, kavrel::kEventRecordQuery, tag, 0, nullptr, 0);
    ASSERT_TRUE(host_->wait_for_event(
        [&](const host::ScriptEvent& e) {
          return e.id == kCallBackMsg && e.arg_long(2) == kavrel::kEventRecordQuery && e.arg_long(3) == tag;
        },
        5s));
  }
  // The text of the next summary event.
  std::string summary_of(const std::string& description) {
    host_->clear_events();
    on_ui([&](CkavrelCtrl& c) { c.SetCamInfoP2P(description.c_str()); });
    auto e = host_->wait_for_event(
        [](const host::ScriptEvent& ev) { return ev.id == kCallBackMsg && ev.arg_long(2) == kavrel::kEventGetDevInfoResult; },
        5s);
    return e ? e->arg_text(5) : "<no event>";
  }

  sim::tunnel::TunnelService tunnel_;
  std::unique_ptr<host::ControlHost> host_;
  CkavrelCtrl* control_ = nullptr;
};

// A description with `channels` cameras whose names take `name_size` bytes each.
std::string description(int channels, size_t name_size, bool with_channels = true, bool escaped_names = false) {
  cJSON* root = cJSON_CreateObject();
  cJSON_AddStringToObject(root, "dev_id", "KVR-1");
  cJSON_AddStringToObject(root, "name", "Loja \"Centro\"");
  cJSON_AddNumberToObject(root, "status", 1);
  if (with_channels) {
    cJSON* list = cJSON_AddArrayToObject(root, "channels");
    for (int i = 0; i < channels; ++i) {
      cJSON* c = cJSON_CreateObject();
      std::string uid = "KVR-1_" + std::to_string(i);
      cJSON_AddStringToObject(c, "uid", uid.c_str());
      cJSON_AddNumberToObject(c, "chlid", i);
      // Control characters take six bytes each once escaped.
      cJSON_AddStringToObject(c, "name", std::string(name_size, escaped_names ? '\x01' : 'n').c_str());
      cJSON_AddItemToArray(list, c);
    }
  }
  char* printed = cJSON_PrintUnformatted(root);
  std::string text = printed;
  cJSON_free(printed);
  cJSON_Delete(root);
  return text;
}

TEST_F(DeviceModelTest, SummariesAreAlwaysValidJsonAndCutAtWholeElements) {
  struct Case {
    const char* what;
    std::string description;
    int chls;        // -1: no "chls" member
    int elements;    // elements expected in "camlist" (-1: only "at most 64, fewer than all")
  } cases[] = {
      {"two channels", description(2, 5), 2, 2},
      {"no channels member", description(0, 0, false), -1, 0},
      {"more than 64 channels", description(70, 5), 64, 64},
      {"more than 16384 bytes", description(60, 60, true, true), 60, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string text = summary_of(c.description);
    EXPECT_LE(text.size(), 16384u);
    cJSON* parsed = cJSON_Parse(text.c_str());
    ASSERT_NE(parsed, nullptr) << text;
    EXPECT_STREQ(cJSON_GetObjectItem(parsed, "dev_id")->valuestring, "KVR-1");
    const cJSON* chls = cJSON_GetObjectItem(parsed, "chls");
    if (c.chls < 0) {
      EXPECT_EQ(chls, nullptr);
    } else {
      ASSERT_NE(chls, nullptr);
      EXPECT_EQ(chls->valueint, c.chls);
    }
    int elements = cJSON_GetArraySize(cJSON_GetObjectItem(parsed, "camlist"));
    if (c.elements >= 0) {
      EXPECT_EQ(elements, c.elements);
    } else {
      EXPECT_GT(elements, 0);
      EXPECT_LT(elements, 60);
    }
    cJSON_Delete(parsed);
  }
  on_ui([](CkavrelCtrl& c) {
    auto device = c.devices().find("KVR-1");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->text(&kavrel::DevInfo::name), "Loja \"Centro\"");
    EXPECT_EQ(device->status_sp.load(), 1);
    EXPECT_EQ(device->channel_slots().size(), 60u);  // the last description had 60
    EXPECT_EQ(device->channel_slots()[1], "KVR-1_1");
  });
}

TEST_F(DeviceModelTest, ListsFillTheRecordsAndTooLongTextsReadAsEmpty) {
  std::string long_pass(120, 'p');  // one byte more than its field holds with the zero
  std::string devices = R"({"devs":[{"dev_id":"KVR-1","name":"Loja","dev_user":"admin","dev_pass":")" + long_pass +
                        R"(","dev_port":0,"status_sp":2,"channels":["c-1","c-2"]}]})";
  std::string cameras = R"({"groups":[{"groups":[{"groups":[{"cams":[{"id":"c-1","devid":"KVR-1","chlid":0,"shared":1}]}]}],
                           "cams":[{"id":"c-2","devid":"KVR-1","chlid":1,"name":"Caixa"}]}],"cams":[]})";
  on_ui([&](CkavrelCtrl& c) {
    c.SetDevInfo(devices.c_str());
    c.SetDevInfo("not json");
    EXPECT_EQ(c.SetCamInfo(cameras.c_str()), 0);
    EXPECT_EQ(c.SetCamInfo("{"), -1);
    auto device = c.devices().find("KVR-1");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->text(&kavrel::DevInfo::dev_user), "admin");
    EXPECT_EQ(device->text(&kavrel::DevInfo::dev_pass), "");
    EXPECT_EQ(device->status_sp.load(), 2);
    EXPECT_EQ(device->channel_slots(), (std::vector<std::string>{"c-1", "c-2"}));
    ASSERT_NE(c.cameras().find("c-1"), nullptr);  // three groups deep
    EXPECT_EQ(c.cameras().find("c-1")->shared.load(), 1);
    EXPECT_EQ(c.cameras().find("c-2")->text(&kavrel::CamInfo::name), "Caixa");
    EXPECT_EQ(c.cameras().find("c-2")->camStreamId.load(), -1);
  });
}

TEST_F(DeviceModelTest, NumbersThatAreNoIntegersOfTheirFieldLeaveItAsItWas) {
  const char* hostile[] = {"2.5", "-0.5", "1e300", "-1e300", "4294967298", "-2147483649", "\"3\"", "null"};
  on_ui([&](CkavrelCtrl& c) {
    c.SetDevInfo(R"({"devs":[{"dev_id":"KVR-1","dev_port":0,"dev_http_port":81,"status_sp":2}]})");
    for (const char* value : hostile) {
      std::string list = std::string(R"({"devs":[{"dev_id":"KVR-1","status_sp":)") + value +
                         R"(,"dev_http_port":)" + value + "}]}";
      c.SetDevInfo(list.c_str());
      auto device = c.devices().find("KVR-1");
      ASSERT_NE(device, nullptr);
      EXPECT_EQ(device->status_sp.load(), 2) << value;
      EXPECT_EQ(device->dev_http_port.load(), 81) << value;
    }
  });
}

TEST_F(DeviceModelTest, WriteBackLeavesOutFailedDevicesAndWritesSharedAsText) {
  on_ui([&](CkavrelCtrl& c) {
    c.SetDevInfo(R"({"devs":[{"dev_id":"KVR-1","dev_port":0},{"dev_id":"KVR-2","dev_port":0}]})");
    c.SetCamInfo(R"({"cams":[{"id":"c-1","shared":1,"ptz":1},{"id":"c-2","shared":0}]})");
    c.devices().find("KVR-2")->devInfoResult.store(-1);
    c.UpdateCamInfoToServer();
  });
  auto until = std::chrono::steady_clock::now() + 5s;
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(Written::lock);
      if (!Written::devices.empty() && !Written::cameras.empty()) break;
    }
    ASSERT_LT(std::chrono::steady_clock::now(), until) << "nothing written";
    std::this_thread::sleep_for(10ms);
  }
  std::lock_guard<std::mutex> hold(Written::lock);
  cJSON* devs = cJSON_Parse(Written::devices.back().c_str());
  ASSERT_NE(devs, nullptr);
  cJSON* list = cJSON_GetObjectItem(devs, "devs");
  ASSERT_EQ(cJSON_GetArraySize(list), 1);
  EXPECT_STREQ(cJSON_GetObjectItem(cJSON_GetArrayItem(list, 0), "dev_id")->valuestring, "KVR-1");
  EXPECT_STREQ(cJSON_GetArrayItem(list, 0)->child->string, "channels");  // members in their order
  cJSON_Delete(devs);
  cJSON* cams = cJSON_Parse(Written::cameras.back().c_str());
  ASSERT_NE(cams, nullptr);
  cJSON* items = cJSON_GetObjectItem(cams, "cams");
  ASSERT_EQ(cJSON_GetArraySize(items), 2);
  EXPECT_STREQ(cJSON_GetObjectItem(cJSON_GetArrayItem(items, 0), "shared")->valuestring, "true");
  EXPECT_STREQ(cJSON_GetObjectItem(cJSON_GetArrayItem(items, 1), "shared")->valuestring, "false");
  cJSON_Delete(cams);
}

TEST_F(DeviceModelTest, AnOfflineDeviceIsAnnouncedOnceAfterTheDelayUnlessItCameBack) {
  on_ui([](CkavrelCtrl& c) {
    c.set_offline_delay_for_testing(200);
    c.AddDisconnectedNotification("KVR-1", 5);
    c.AddDisconnectedNotification("KVR-2", 5);
    c.AddDisconnectedNotification(nullptr, 5);
    c.AddDisconnectedNotification("KVR-3", 0);
    EXPECT_TRUE(c.ClearDisconnectedNotification("KVR-2", 5));
    EXPECT_FALSE(c.ClearDisconnectedNotification("KVR-2", 5));
    c.FireDisconnectedNotifications();  // too early
  });
  quiet();
  auto offline_event = [](const host::ScriptEvent& e) {
    return e.id == kCallBackMsg && e.arg_long(2) == kavrel::kEventP2PConnected;
  };
  EXPECT_TRUE(host_->wait_for_events(offline_event, 1, 0ms).empty()) << "announced before its delay";
  // Once the delay has passed, the next look announces it; looks after that announce nothing.
  auto until = std::chrono::steady_clock::now() + 10s;
  while (host_->wait_for_events(offline_event, 1, 20ms).empty() && std::chrono::steady_clock::now() < until) {
    on_ui([](CkavrelCtrl& c) { c.FireDisconnectedNotifications(); });
  }
  on_ui([](CkavrelCtrl& c) {
    c.FireDisconnectedNotifications();
    c.FireDisconnectedNotifications();
  });
  quiet();
  auto offline = host_->wait_for_events(offline_event, 1, 0ms);
  ASSERT_EQ(offline.size(), 1u);
  EXPECT_EQ(offline[0].arg_long(3), -4);
  EXPECT_EQ(offline[0].arg_long(4), 1);
  EXPECT_EQ(offline[0].arg_text(5), "KVR-1");
}

TEST_F(DeviceModelTest, ALiveStartResultGoesToThePaneItNames) {
  host_->clear_events();
  on_ui([](CkavrelCtrl& c) {
    // Every pane holds a camera or not: the pane index decides, never the record's handle.
    c.Callback(0, 0, kavrel::kEventLiveStarted, 15, 0, "cam-15", 6);
    c.Callback(0, 0, kavrel::kEventLiveStarted, 16, 0, "cam-16", 6);
    c.Callback(0, 0, kavrel::kEventLiveStarted, -1, 0, "cam-x", 5);
    c.Callback(0, 0, kavrel::kEventLiveStarted, 0, -3, "cam-0", 5);
  });
  auto live = [](const host::ScriptEvent& e) { return e.id == kCallBackMsg && e.arg_long(2) == kavrel::kEventLiveStarted; };
  quiet();
  auto events = host_->wait_for_events(live, 2, 0ms);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].arg_long(3), 15);
  EXPECT_EQ(events[0].arg_text(5), "cam-15");
  EXPECT_EQ(events[1].arg_long(3), 0);
  EXPECT_EQ(events[1].arg_long(4), -3);
}

TEST(ExportProgressTest, PercentOfTotal) {
  struct Case {
    int32_t total, done, percent;
  } cases[] = {{20, 5, 25}, {20, -1, 100}, {0, 0, 100}, {20, -2, 0}, {20, 20, 100}, {20, 25, 100},
               {3, 2, 66},  {-5, 0, 100}, {2000000000, 1999999999, 99}};
  for (const auto& c : cases) {
    EXPECT_EQ(kavrel::export_progress_percent(c.total, c.done), c.percent) << c.done << " of " << c.total;
  }
}

}  // namespace
