// The library frame through its exports: start and stop, clients, and what happens before init.
#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "brixa/api/brixa.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/library.h"
#include "brixa/live/stuck_monitor.h"
#include "devsdk/netsdk/netsdk_testing.h"
#include "platform/testing/debug_capture.h"
#include "t2u/t2u.h"
#include "trace/trace.h"

namespace {

using platform::testing::DebugCapture;
using namespace std::chrono_literals;

int ignore_callback(intptr_t, brixa_handle, int32_t, intptr_t, int32_t, const char*, int32_t) { return 0; }

// Every test starts and ends with the library stopped and tracing on.
class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    trace::force_verbose_for_testing(true);
    NET_TestReset();
    ASSERT_FALSE(brixa::initialised());
    ASSERT_FALSE(brixa::registry_open());
  }
  void TearDown() override {
    if (brixa::initialised() || brixa::registry_open()) brixa_uninit();
    trace::force_verbose_for_testing(false);
  }
};

TEST_F(Frame, ExportsBeforeInitReturnNotInitialisedWithoutAnErrorLine) {
  DebugCapture capture;
  EXPECT_EQ(brixa_cli_attach_callback(nullptr, ignore_callback, 0), BRIXA_ERR_NOT_INITIALISED);
  EXPECT_EQ(brixa_cli_detach_callback(nullptr), BRIXA_ERR_NOT_INITIALISED);
  brixa_release(reinterpret_cast<brixa_handle>(0x42));  // nothing to do, nothing touched
  for (const auto& line : capture.lines()) EXPECT_EQ(line.rfind("Error:", 0), std::string::npos) << line;
}

TEST_F(Frame, CreateBeforeInitMakesTheRegistryAndAUsableHandle) {
  brixa_handle client = brixa_create();
  ASSERT_NE(client, nullptr);
  ASSERT_TRUE(brixa::registry_open());
  brixa_init("127.0.0.1", 8000, "key");
  EXPECT_EQ(brixa_cli_attach_callback(client, ignore_callback, 0), BRIXA_OK);
  EXPECT_EQ(brixa_cli_detach_callback(client), BRIXA_OK);
  brixa_release(client);
}

TEST_F(Frame, NullUnknownAndReleasedHandlesAreRefused) {
  brixa_init("127.0.0.1", 8000, "key");
  brixa_handle client = brixa_create();
  ASSERT_NE(client, nullptr);
  // An address that is no client and cannot be read: any access through it would crash.
  auto* bogus = reinterpret_cast<brixa_handle>(uintptr_t{0x10});
  EXPECT_EQ(brixa_cli_attach_callback(nullptr, ignore_callback, 0), BRIXA_ERR_FAILED);
  EXPECT_EQ(brixa_cli_attach_callback(bogus, ignore_callback, 0), BRIXA_ERR_FAILED);
  brixa_release(bogus);
  brixa_release(nullptr);

  brixa_release(client);
  EXPECT_EQ(brixa_cli_attach_callback(client, ignore_callback, 0), BRIXA_ERR_FAILED)
      << "a released handle is no longer registered";
  brixa_release(client);  // a second release does nothing
}

// The stuck-connection monitor traces from its own thread, at its own pace.
bool from_monitor_thread(const std::string& line) {
  return line == "  -: Starting monitoring of connections" || line == "  -: Exit monitoring of connections" ||
         line == "  -: Checking connections";
}

std::vector<std::string> without_monitor_lines(std::vector<std::string> lines) {
  lines.erase(std::remove_if(lines.begin(), lines.end(), from_monitor_thread), lines.end());
  return lines;
}

TEST_F(Frame, InitRunsEveryStepInOrder) {
  DebugCapture capture;
  brixa_init("127.0.0.1", 8000, "svrkey-text");
  std::vector<std::string> expected = {
      "-->: brixa_init",
      "   : svraddr 127.0.0.1",
      "   : svrport 8000",
      "   : svrkey ***",
      "  -: Init P2P",
      "  -: Initializing SDK",
      "  -: Extending timeout for network communications",
      "  -: Creating client map",
      "  -: Init callback",
      "  -: Init connectors",
      "  -: creating socket map (198)",
      "  -: creating T2U check thread (201)",
      "  -: Registering drawing function",
      "<--: brixa_init",
  };
  EXPECT_EQ(without_monitor_lines(capture.lines()), expected);

  EXPECT_NE(t2u_status(), -1) << "the tunnel library was started";
  NET_TestState sdk{};
  NET_TestGetState(&sdk);
  EXPECT_EQ(sdk.initialised, 1);
  EXPECT_NE(sdk.on_disconnect, nullptr);
  EXPECT_NE(sdk.on_reconnect, nullptr);
  EXPECT_NE(sdk.draw, nullptr);
  const int32_t* fields = &sdk.params.wait_time_ms;
  const int32_t block[12] = {10000, 15000, 3, 0, 3000, 0, 3000, 10000, 0, 0, 0, 0};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(fields[i], block[i]) << "network parameter " << i + 1;
  EXPECT_TRUE(brixa::live::stuck_monitor_running());
}

TEST_F(Frame, SdkConnectionNoticesOnlyTrace) {
  brixa_init("127.0.0.1", 8000, "key");
  NET_TestState sdk{};
  NET_TestGetState(&sdk);
  ASSERT_NE(sdk.on_disconnect, nullptr);
  ASSERT_NE(sdk.on_reconnect, nullptr);
  DebugCapture capture;
  sdk.on_disconnect(5, "127.0.0.1", 37777, 0);
  sdk.on_reconnect(6, nullptr, 80, 0);
  std::vector<std::string> expected = {
      "-->: DisConnectFunc", "   : lLoginID 5", "   : pchDVRIP 127.0.0.1", "   : nDVRPort 37777", "<--: DisConnectFunc",
      "-->: AutoReconnectFunc", "   : lLoginID 6", "   : nDVRPort 80", "<--: AutoReconnectFunc"};
  EXPECT_EQ(without_monitor_lines(capture.lines()), expected);
}

TEST_F(Frame, SdkInitFailureIsTracedAndInitGoesOn) {
  DebugCapture capture;
  NET_TestFailNext("NET_Init", NET_ERR_SDK_INIT_ERROR);
  brixa_init("127.0.0.1", 8000, "key");
  EXPECT_TRUE(capture.contains("Error: brixa_init 60 (set disconnect callback (48) ERROR_NET_SDK_INIT_ERROR)"));
  EXPECT_TRUE(capture.contains("<--: brixa_init"));
  brixa_handle client = brixa_create();
  EXPECT_EQ(brixa_cli_attach_callback(client, ignore_callback, 0), BRIXA_OK);
}

TEST_F(Frame, SecondInitLeavesTheRunningLibraryAlone) {
  brixa_init("127.0.0.1", 8000, "key");
  brixa_handle client = brixa_create();
  brixa_init("127.0.0.1", 8000, "key");
  NET_TestState sdk{};
  NET_TestGetState(&sdk);
  EXPECT_EQ(sdk.init_calls, 1) << "the SDK is not initialised again under live sessions";
  EXPECT_EQ(brixa_cli_attach_callback(client, ignore_callback, 0), BRIXA_OK) << "clients survive";
  brixa_uninit();
  EXPECT_FALSE(brixa::live::stuck_monitor_running());
  NET_TestGetState(&sdk);
  EXPECT_EQ(sdk.initialised, 0);
  EXPECT_EQ(sdk.cleanup_calls, 1);
}

TEST_F(Frame, UninitReleasesClientsStillRegisteredAndStopsEverything) {
  brixa_init("127.0.0.1", 8000, "key");
  brixa_handle first = brixa_create();
  brixa_handle second = brixa_create();
  ASSERT_EQ(brixa_cli_attach_callback(first, ignore_callback, 0), BRIXA_OK);
  DebugCapture capture;
  brixa_uninit();
  std::vector<std::string> steps;
  for (const auto& line : without_monitor_lines(capture.lines()))
    if (line.rfind("  -: ", 0) == 0) steps.push_back(line.substr(5));
  std::vector<std::string> expected = {
      "Stopping stuck connections monitor", "Unregistering drawing function", "Clearing client map",
      "Closing connectors", "- joining t2u check thread", "- deleted t2u check thread",
      "- freeing socket map", "Cleaning SDK instance", "Closing Cloud instance"};
  EXPECT_EQ(steps, expected);
  EXPECT_FALSE(brixa::registry_open());
  EXPECT_EQ(t2u_status(), -1);
  EXPECT_FALSE(brixa::live::stuck_monitor_running());
  // The library starts again cleanly, and the old handles are gone with the old registry.
  brixa_init("127.0.0.1", 8000, "key");
  EXPECT_EQ(brixa_cli_attach_callback(first, ignore_callback, 0), BRIXA_ERR_FAILED);
  EXPECT_EQ(brixa_cli_attach_callback(second, ignore_callback, 0), BRIXA_ERR_FAILED);
}

TEST_F(Frame, UninitWithoutClientsGoesStraightToTheConnectors) {
  brixa_init("127.0.0.1", 8000, "key");
  DebugCapture capture;
  brixa_uninit();
  EXPECT_TRUE(capture.contains("  -: Clearing client map"));
  EXPECT_TRUE(capture.contains("  -: Closing connectors"));
  EXPECT_FALSE(brixa::registry_open());
}

TEST_F(Frame, UninitKeepsARegistryItCannotLockAndStillStopsTheRest) {
  brixa_init("127.0.0.1", 8000, "key");
  brixa_handle client = brixa_create();
  brixa::ClientRegistry& registry = brixa::client_registry();
  std::atomic<bool> holding{false};
  std::promise<void> uninit_returned;
  std::thread writer([&, returned = uninit_returned.get_future()] {
    registry.lock.lock_write();
    holding.store(true);
    returned.wait_for(10s);  // held for as long as the uninit tries, however slow the machine
    registry.lock.unlock_write();
  });
  while (!holding.load()) std::this_thread::yield();
  DebugCapture capture;
  brixa_uninit();
  uninit_returned.set_value();
  writer.join();
  EXPECT_TRUE(capture.contains("Error: brixa_uninit 148 (Cannot lock client map for clearing (148))"));
  EXPECT_TRUE(capture.contains("  -: Cleaning SDK instance"));
  EXPECT_TRUE(brixa::registry_open()) << "the registry and its clients stay";
  EXPECT_EQ(brixa_get_login_id(client, "dev"), BRIXA_ERR_NO_SESSION) << "the kept client is still known";
  EXPECT_FALSE(brixa::initialised());
  // A later stop, once the lock is free, releases what was kept.
  brixa_uninit();
  EXPECT_FALSE(brixa::registry_open());
  EXPECT_EQ(brixa_get_login_id(client, "dev"), BRIXA_ERR_NOT_INITIALISED);
}

TEST_F(Frame, SetPortRangePassesTheTunnelLibrarysResultWithoutInit) {
  // Values outside 0-65535 reach the tunnel library as they are, never wrapped to 16 bits.
  for (auto [first, last] : {std::pair{20000, 20100}, std::pair{20100, 20000}, std::pair{70000, 70100},
                             std::pair{-1, 100}}) {
    EXPECT_EQ(brixa_set_port_range(first, last), t2u_set_port_range(first, last)) << first << "-" << last;
  }
  EXPECT_EQ(brixa_set_port_range(70000, 70100), -1) << "70000 is no port, not 4464";
}

}  // namespace
