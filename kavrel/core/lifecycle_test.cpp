// The control's lifecycle, queues and threads, with the control linked in and hosted on a
// user-interface thread of the test host.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "host/control_host.h"
#include "kavrel/core/callback_names.h"
#include "kavrel/core/current_control.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "platform/testing/debug_capture.h"
#include "sim/cloud/cloud_service.h"
#include "sim/cloud/service_crypto.h"
#include "trace/trace.h"

namespace {

using namespace std::chrono_literals;
using com::Variant;
using kavrel::CkavrelCtrl;

template <class Fn>
bool eventually(Fn done, std::chrono::milliseconds limit = 10s) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// A cloud that only counts the calls the command thread makes, and can be made slow.
struct FakeCloud {
  static inline std::mutex lock;
  static inline std::map<std::string, int> calls;  // guarded by lock
  static inline std::string last_list;             // guarded by lock
  static inline int32_t last_update_sn = 0;        // guarded by lock
  static inline std::atomic<int> get_list_delay_ms{0};
  static inline std::atomic<bool> in_get_list{false};

  static void count(const std::string& name) {
    std::lock_guard<std::mutex> hold(lock);
    ++calls[name];
  }
  static int called(const std::string& name) {
    std::lock_guard<std::mutex> hold(lock);
    return calls.count(name) != 0 ? calls[name] : 0;
  }
  static void reset() {
    std::lock_guard<std::mutex> hold(lock);
    calls.clear();
    last_list.clear();
    get_list_delay_ms = 0;
  }
  static int32_t create(brixa_handle, const char*, const char*, const char*, const char*, const char*, int32_t) {
    count("create");
    return 0;
  }
  static int32_t release(brixa_handle) {
    count("release");
    return 0;
  }
  static int32_t get_list(brixa_handle) {
    in_get_list = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(get_list_delay_ms.load()));  // deaf to any stop
    count("get_list");
    in_get_list = false;
    return 200;
  }
  static int32_t get_list_sn(brixa_handle) {
    count("get_list_sn");
    return 200;
  }
  static int32_t get_device_list(brixa_handle) {
    count("get_device_list");
    return 200;
  }
  static int32_t get_cam_list(brixa_handle) {
    count("get_cam_list");
    return 200;
  }
  static int32_t set_device_list(brixa_handle, int32_t update_sn, const char* list) {
    count("set_device_list");
    std::lock_guard<std::mutex> hold(lock);
    last_list = list;
    last_update_sn = update_sn;
    return 200;
  }
  static int32_t set_cam_list(brixa_handle, const char* list) {
    count("set_cam_list");
    std::lock_guard<std::mutex> hold(lock);
    last_list = list;
    return 200;
  }
  static inline const kavrel::CloudCalls table = {create,          release,      get_list,        get_list_sn,
                                                  get_device_list, get_cam_list, set_device_list, set_cam_list};
};

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeCloud::reset();
    std::string error;
    host_ = host::ControlHost::adopt(
        [this] {
          control_ = CkavrelCtrl::Create();
          return static_cast<com::IDispatch*>(control_);
        },
        &error);
    ASSERT_NE(host_, nullptr) << error;
  }
  void TearDown() override {
    host_.reset();
    trace::force_verbose_for_testing(false);
  }

  // Runs fn(control) on the control's thread.
  template <class Fn>
  void on_ui(Fn fn) {
    host_->ui().run([&] { fn(*control_); });
  }
  void init(const std::u16string& server = u"", const std::u16string& key = u"", const std::u16string& pass = u"") {
    ASSERT_EQ(host_->call("CliInit", {Variant::string(server), Variant::string(key), Variant::string(pass),
                                      Variant::string(u"127.0.0.1"), Variant::i4(0), Variant::null()}),
              com::S_OK);
  }
  void use_fake_cloud() {
    on_ui([](CkavrelCtrl& c) { c.set_cloud_calls_for_testing(&FakeCloud::table); });
  }

  std::unique_ptr<host::ControlHost> host_;
  CkavrelCtrl* control_ = nullptr;  // owned by host_
};

TEST_F(ControlTest, CreatedNotifyFollowsTheControlBecomingCurrent) {
  bool current_before = true;
  on_ui([&](CkavrelCtrl& c) { current_before = kavrel::CurrentControl::is(&c); });
  EXPECT_FALSE(current_before);
  ASSERT_EQ(host_->create_window(), com::S_OK);
  auto created = host_->wait_for_event([](const host::ScriptEvent& e) { return e.id == 34; }, 5s);
  ASSERT_TRUE(created);
  EXPECT_EQ(created->arg_long(0), 1);
  EXPECT_EQ(created->thread, host_->ui().id());
  on_ui([&](CkavrelCtrl& c) { EXPECT_TRUE(kavrel::CurrentControl::is(&c)); });
  ASSERT_EQ(host_->destroy_window(), com::S_OK);
  on_ui([&](CkavrelCtrl& c) { EXPECT_FALSE(kavrel::CurrentControl::is(&c)); });
}

TEST_F(ControlTest, SecondInitChangesNothing) {
  ASSERT_EQ(host_->create_window(), com::S_OK);
  init(u"http://127.0.0.1:1/");
  brixa_handle client = nullptr;
  std::thread::id cmd_thread;
  on_ui([&](CkavrelCtrl& c) {
    client = c.client();
    EXPECT_TRUE(c.initialised());
    EXPECT_TRUE(c.cmd_thread_running());
    EXPECT_TRUE(c.callback_thread_running());
  });
  EXPECT_NE(client, nullptr);
  init(u"http://other/", u"not-even-base64", u"");
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_EQ(c.client(), client);
    EXPECT_EQ(c.server_address(), u"http://127.0.0.1:1/");
    EXPECT_EQ(kavrel::to_narrow(c.app_key()), kavrel::kDefaultAppKey);
  });
  ASSERT_EQ(host_->call("CliUnInit", {}), com::S_OK);
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_FALSE(c.initialised());
    EXPECT_EQ(c.client(), nullptr);
    EXPECT_FALSE(c.cmd_thread_running());
    EXPECT_FALSE(c.callback_thread_running());
    EXPECT_TRUE(c.server_address().empty());
  });
}

TEST_F(ControlTest, CredentialsAreDecryptedWithTheTypeLibraryPhraseOrKeptAsDefaults) {
  const std::string phrase = "3D7A0C52-E8B1-4F96-A25D-6B0E91C4F7A3";
  struct Case {
    std::string key_cipher, pass_cipher;
    std::string expected_key, expected_pass;
  } cases[] = {
      {"", "", kavrel::kDefaultAppKey, kavrel::kDefaultAppPass},
      {sim::cloud::aes_encrypt_base64("page-app-key", phrase), "", "page-app-key", kavrel::kDefaultAppPass},
      {"", sim::cloud::aes_encrypt_base64("page-app-pass", phrase), kavrel::kDefaultAppKey, "page-app-pass"},
      {sim::cloud::aes_encrypt_base64("a-key-of-exactly-32-characters!!", phrase),
       sim::cloud::aes_encrypt_base64("p", phrase), "a-key-of-exactly-32-characters!!", "p"},
  };
  for (const auto& c : cases) {
    init(u"http://127.0.0.1:1/", kavrel::to_wide(c.key_cipher), kavrel::to_wide(c.pass_cipher));
    on_ui([&](CkavrelCtrl& control) {
      EXPECT_EQ(kavrel::to_narrow(control.app_key()), c.expected_key);
      EXPECT_EQ(kavrel::to_narrow(control.app_pass()), c.expected_pass);
    });
    ASSERT_EQ(host_->call("CliUnInit", {}), com::S_OK);
  }
}

TEST_F(ControlTest, UnInitWithoutInitOnlyResetsTheSerials) {
  ASSERT_EQ(host_->create_window(), com::S_OK);
  const char* serials = "{\"devs_sn\":5,\"cams_sn\":6}";
  // The library's serial answer, as the dispatcher thread would deliver it.
  CkavrelCtrl::connectorcallback(reinterpret_cast<intptr_t>(control_), nullptr, BRIXA_CB_CALLBACK_BIZ_GET_LIST_SN, 0, 0,
                                 serials, static_cast<int32_t>(strlen(serials)));
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_EQ(c.device_list_serial(), 5);
    EXPECT_EQ(c.camera_list_serial(), 6);
    EXPECT_EQ(c.pending_callback_messages(), 1u);
  });
  trace::force_verbose_for_testing(true);
  platform::testing::DebugCapture capture;
  ASSERT_EQ(host_->call("CliUnInit", {}), com::S_OK);
  trace::force_verbose_for_testing(false);
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"-->: CkavrelCtrl::CliUnInit", "<--: CkavrelCtrl::CliUnInit"}));
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_EQ(c.device_list_serial(), -1);
    EXPECT_EQ(c.camera_list_serial(), -1);
    EXPECT_EQ(c.pending_callback_messages(), 1u) << "nothing but the serials changes";
    EXPECT_FALSE(c.initialised());
  });
}

TEST_F(ControlTest, LibraryCallbacksReachNoControlThatIsNotCurrent) {
  const char* payload = "{\"devs_sn\":1,\"cams_sn\":2}";
  CkavrelCtrl::connectorcallback(reinterpret_cast<intptr_t>(control_), nullptr, BRIXA_CB_CALLBACK_BIZ_GET_LIST_SN, 0, 0,
                                 payload, static_cast<int32_t>(strlen(payload)));
  on_ui([&](CkavrelCtrl& c) {
    EXPECT_EQ(c.device_list_serial(), -1);
    EXPECT_EQ(c.pending_callback_messages(), 0u);
  });
}

TEST_F(ControlTest, EventsFromWorkerThreadsArriveInQueueOrderOnTheUserInterfaceThread) {
  ASSERT_EQ(host_->create_window(), com::S_OK);
  init();
  host_->clear_events();
  constexpr int kThreads = 4;
  constexpr int kEach = 60;
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t) {
    producers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        std::string info = "p" + std::to_string(t) + "-" + std::to_string(i);
        if (t == 0) {
          // Through the callback message queue and the DoCallbackThread.
          control_->Callback(7, 7, kavrel::kEventAlert, t, i, info.c_str(), static_cast<int32_t>(info.size()));
        } else {
          control_->FireEventCallback(0, 0, kavrel::kEventAlert, t, i, info.c_str(), static_cast<int32_t>(info.size()));
        }
        if (i % 16 == 0) std::this_thread::sleep_for(1ms);
      }
    });
  }
  for (auto& p : producers) p.join();
  auto events = host_->wait_for_events([](const host::ScriptEvent& e) { return e.id == 32; }, kThreads * kEach, 10s);
  ASSERT_EQ(events.size(), static_cast<size_t>(kThreads * kEach));
  std::vector<int> next(kThreads, 0);
  for (const auto& e : events) {
    EXPECT_EQ(e.thread, host_->ui().id()) << "an event was raised off the user-interface thread";
    int producer = e.arg_long(3);
    int sequence = e.arg_long(4);
    EXPECT_EQ(sequence, next[producer]++) << "producer " << producer << " out of order";
    std::string info = "p" + std::to_string(producer) + "-" + std::to_string(sequence);
    EXPECT_EQ(e.arg_text(5), info);
    EXPECT_EQ(e.arg_long(6), static_cast<int32_t>(info.size()));
    if (producer == 0) {
      EXPECT_EQ(e.arg_long(0), 0) << "Callback stores context 0";
    }
  }
  on_ui([&](CkavrelCtrl& c) { EXPECT_EQ(c.pending_events(), 0u); });
  ASSERT_EQ(host_->call("CliUnInit", {}), com::S_OK);
}

TEST_F(ControlTest, EventsQueuedBeforeTheWindowExistsArriveOnceItIsCreated) {
  control_->FireEventCallback(0, 0, kavrel::kEventAlert, 1, 2, nullptr, 0);
  EXPECT_FALSE(host_->wait_for_event([](const host::ScriptEvent& e) { return e.id == 32; }, 100ms));
  ASSERT_EQ(host_->create_window(), com::S_OK);
  auto event = host_->wait_for_event([](const host::ScriptEvent& e) { return e.id == 32; }, 5s);
  ASSERT_TRUE(event);
  EXPECT_TRUE(event->arg_is_null(5)) << "no payload reaches the page as a null BSTR";
  EXPECT_EQ(event->arg_long(6), 0);
}

TEST_F(ControlTest, CommandsRunTheirLibraryCallAndUnknownOnesNone) {
  ASSERT_EQ(host_->create_window(), com::S_OK);
  init();
  use_fake_cloud();
  struct Case {
    std::string text;
    std::string call;  // "" when the command must make no call
  } cases[] = {
      {R"({"cmd":"cmd_unknown"})", ""},
      {"not json at all", ""},
      {"", ""},
      {R"({"cmd":")" + std::string(120, 'x') + R"("})", ""},  // a name that does not fit its buffer
      {R"({"nocmd":1})", ""},
      {" \t\n{\"cmd\":\"cmd_get_sn\"}", "get_list_sn"},  // leading white space is skipped
      {R"({"cmd":"cmd_get_list"})", "get_list"},
      {R"({"cmd":"cmd_get_dev_list"})", "get_device_list"},
      {R"({"cmd":"cmd_get_cam_list"})", "get_cam_list"},
      {R"({"cmd":"cmd_set_cam_list","camlist":"{\"cams\":[]}"})", "set_cam_list"},
      {R"({"cmd":"cmd_set_dev_list","devlist":"{\"devs\":[]}"})", "set_device_list"},
  };
  int expected_total = 0;
  for (const auto& c : cases) {
    on_ui([&](CkavrelCtrl& control) { control.PostCmd(c.text.c_str()); });
    if (!c.call.empty()) {
      ++expected_total;
      ASSERT_TRUE(eventually([&] { return FakeCloud::called(c.call) == 1; })) << c.text;
    }
  }
  // Every call made belongs to a known command.
  int total = 0;
  for (const char* name : {"get_list_sn", "get_list", "get_device_list", "get_cam_list", "set_cam_list",
                           "set_device_list"}) {
    total += FakeCloud::called(name);
  }
  EXPECT_EQ(total, expected_total);
  {
    std::lock_guard<std::mutex> hold(FakeCloud::lock);
    EXPECT_EQ(FakeCloud::last_list, "{\"devs\":[]}");
    EXPECT_EQ(FakeCloud::last_update_sn, 1);
  }
  on_ui([&](CkavrelCtrl& c) { EXPECT_EQ(c.pending_commands(), 0u); });
  ASSERT_EQ(host_->call("CliUnInit", {}), com::S_OK);
}

TEST_F(ControlTest, CloudInitSimplePostsTheListCommand) {
  ASSERT_EQ(host_->create_window(), com::S_OK);
  init();
  use_fake_cloud();
  ASSERT_EQ(host_->call("CliCloudInitSimple", {Variant::string(u"alice"), Variant::string(u"alice-pw")}), com::S_OK);
  ASSERT_TRUE(eventually([] { return FakeCloud::called("get_list") == 1; }));
  EXPECT_EQ(FakeCloud::called("create"), 1);
  ASSERT_EQ(host_->call("CliUnInit", {}), com::S_OK);
  EXPECT_EQ(FakeCloud::called("release"), 1);
}

TEST_F(ControlTest, ACommandThreadThatIgnoresItsStopDoesNotHoldUnInitBeyondItsBound) {
  ASSERT_EQ(host_->create_window(), com::S_OK);
  init();
  use_fake_cloud();
  FakeCloud::get_list_delay_ms = 3000;
  ASSERT_EQ(host_->call("CliCloudInitSimple", {Variant::string(u"u"), Variant::string(u"p")}), com::S_OK);
  ASSERT_TRUE(eventually([] { return FakeCloud::in_get_list.load(); }));
  trace::force_verbose_for_testing(true);
  platform::testing::DebugCapture capture;
  ASSERT_EQ(host_->call("CliUnInit", {}), com::S_OK);
  EXPECT_TRUE(FakeCloud::in_get_list.load()) << "CliUnInit waited for the command to end";
  EXPECT_TRUE(capture.contains("Error: CkavrelCtrl::StopCmdThread 2189 (CmdThread is not ending (2189))"));
  trace::force_verbose_for_testing(false);
  on_ui([&](CkavrelCtrl& c) { EXPECT_FALSE(c.initialised()); });
  // The window's destruction waits until the abandoned thread has left the control.
  ASSERT_EQ(host_->destroy_window(), com::S_OK);
  EXPECT_FALSE(FakeCloud::in_get_list.load());
  EXPECT_TRUE(eventually([] { return platform::abandoned_threads::reap() == 0; }));
}

TEST_F(ControlTest, UnInitReturnsWithinItsBoundWhileTheCloudServiceStalls) {
  // The real library against a service that takes the list request and never answers it.
  sim::cloud::CloudService service;
  ASSERT_NE(service.start(), 0);
  sim::cloud::Fault stall;
  stall.kind = sim::cloud::Fault::Kind::kDelay;
  stall.delay_ms = 600000;
  service.add_fault(stall);
  ASSERT_EQ(host_->create_window(), com::S_OK);
  init(kavrel::to_wide(service.url()));
  ASSERT_EQ(host_->call("CliCloudInitSimple", {Variant::string(u"alice"), Variant::string(u"alice-pw")}), com::S_OK);
  ASSERT_TRUE(eventually([&] { return !service.requests().empty(); })) << "the command thread sent nothing";

  std::atomic<bool> returned{false};
  platform::Thread uninit([&] {
    host_->call("CliUnInit", {});
    returned = true;
  });
  // Its bound: the command thread's stop bound and the library's release, which cancels the
  // stalled exchange instead of waiting for it.
  EXPECT_TRUE(eventually([&] { return returned.load(); }, 15s)) << "CliUnInit waited for the stalled service";
  uninit.join_within(60000);
  on_ui([&](CkavrelCtrl& c) { EXPECT_FALSE(c.initialised()); });
  ASSERT_EQ(host_->destroy_window(), com::S_OK);
  EXPECT_TRUE(eventually([] { return platform::abandoned_threads::reap() == 0; }))
      << "the command thread did not end once its exchange was cancelled";
}

TEST_F(ControlTest, NoSecretGivenToAScriptMethodAppearsInTheTrace) {
  const std::string phrase = kavrel::kArgumentPassPhrase;
  const std::string key_cipher = sim::cloud::aes_encrypt_base64("app-key-Rt52", phrase);
  const std::string pass_cipher = sim::cloud::aes_encrypt_base64("app-pass-Wc18", phrase);
  const std::string server_key_cipher = sim::cloud::aes_encrypt_base64("svr-key-Pn74", phrase);
  ASSERT_EQ(host_->create_window(), com::S_OK);
  trace::force_verbose_for_testing(true);
  platform::testing::DebugCapture capture;
  ASSERT_EQ(host_->call("CliInit", {Variant::string(u""), Variant::string(kavrel::to_wide(key_cipher)),
                                    Variant::string(kavrel::to_wide(pass_cipher)), Variant::string(u"127.0.0.1"),
                                    Variant::i4(1), Variant::string(kavrel::to_wide(server_key_cipher))}),
            com::S_OK);
  use_fake_cloud();
  struct Case {
    const char* method;
    std::vector<Variant> args;
  } cases[] = {
      {"CliCloudInitSimple", {Variant::string(u"alice"), Variant::string(u"cloud-pass-Jh39")}},
      {"CliAddDeviceP2P",
       {Variant::string(u"DEV-1"), Variant::string(u"admin"), Variant::string(u"dev-pass-Bx66"),
        Variant::string(u"Loja"), Variant::i4(37777), Variant::i4(80)}},
      {"CliLoginDeviceP2PDev",
       {Variant::string(u"DEV-2"), Variant::string(u"admin"), Variant::string(u"dev-pass-Qs20"), Variant::i4(37777),
        Variant::i4(80)}},
  };
  for (const Case& c : cases) EXPECT_EQ(host_->call(c.method, c.args), com::S_OK) << c.method;
  ASSERT_EQ(host_->call("CliUnInit", {}), com::S_OK);
  trace::force_verbose_for_testing(false);
  for (const std::string& secret : {std::string("app-key-Rt52"), std::string("app-pass-Wc18"),
                                    std::string("svr-key-Pn74"), key_cipher, pass_cipher, server_key_cipher,
                                    std::string("cloud-pass-Jh39"), std::string("dev-pass-Bx66"),
                                    std::string("dev-pass-Qs20")}) {
    EXPECT_FALSE(capture.mentions(secret)) << secret;
  }
  EXPECT_TRUE(capture.contains("   : szPass ***"));
  EXPECT_TRUE(capture.contains("   : szDevPass ***"));
}

}  // namespace
