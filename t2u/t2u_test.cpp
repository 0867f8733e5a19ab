// The tunnel library against the tunnel service, a device agent and an echo "device", all in
// this process on loopback.
#include "t2u/t2u.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/debug_capture.h"
#include "sim/tunnel/testing/tunnel_world.h"
#include "t2u/thread_start.h"
#include "trace/trace.h"

namespace {

using sim::tunnel::ServiceOptions;
using sim::tunnel::testing::connect_local;
using sim::tunnel::testing::echo_exchange;
using sim::tunnel::testing::EchoWorld;
using sim::tunnel::testing::free_port;
using sim::tunnel::testing::kAgentNatType;
using sim::tunnel::testing::kAgentVersion;
using sim::tunnel::testing::kEchoDevice;
using sim::tunnel::testing::kEchoDevicePort;
using sim::tunnel::testing::kPortKey;
using sim::tunnel::testing::kServiceNatType;
using sim::tunnel::testing::wait_for_end;
using sim::tunnel::testing::wait_until;

class TunnelLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    world_ = std::make_unique<EchoWorld>(options());
    ASSERT_TRUE(world_->start());
  }
  void TearDown() override {
    t2u_exit();
    t2u_set_port_range(0, 0);
  }

  void init(const char* key = "svc-key") { t2u_init("127.0.0.1", world_->service().port(), key); }
  bool ready() {
    return wait_until([] { return t2u_status() == 1; }, 5000);
  }
  int add_echo_port(uint16_t local_port = 0, const char* port_key = kPortKey) {
    return t2u_add_port_v3(kEchoDevice, port_key, "127.0.0.1", kEchoDevicePort, local_port);
  }
  // Waits for the port to report `status`.
  bool reaches(int port, int status, int timeout_ms = 5000) {
    return wait_until([&] { return t2u_port_status(static_cast<uint16_t>(port), nullptr) == status; }, timeout_ms);
  }

  std::unique_ptr<EchoWorld> world_;
  virtual ServiceOptions options() { return {}; }
};

TEST_F(TunnelLibrary, StatusIsMinusOneOutsideInitAndOneOnceAccepted) {
  EXPECT_EQ(t2u_status(), -1);
  world_->service().set_client_delay(500);
  init();
  EXPECT_EQ(t2u_status(), 0);  // the service holds its answer back
  EXPECT_TRUE(ready());
  t2u_exit();
  EXPECT_EQ(t2u_status(), -1);
}

TEST_F(TunnelLibrary, RefusedClientStaysNotReadyUntilAccepted) {
  world_->service().set_accept_clients(false);
  init();
  EXPECT_FALSE(wait_until([] { return t2u_status() == 1; }, 1200));
  EXPECT_EQ(t2u_status(), 0);
  world_->service().set_accept_clients(true);
  EXPECT_TRUE(ready());
}

TEST_F(TunnelLibrary, OperationsBeforeInitRefuse) {
  EXPECT_EQ(add_echo_port(), -1);
  EXPECT_EQ(t2u_port_status(1234, nullptr), -1);
  t2u_del_port(1234);  // nothing to do, nothing breaks
  t2u_exit();
  EXPECT_EQ(t2u_status(), -1);
}

TEST_F(TunnelLibrary, AddPortRefusesBadArguments) {
  init();
  std::string long_id(300, 'x');
  EXPECT_EQ(t2u_add_port_v3(nullptr, kPortKey, "127.0.0.1", kEchoDevicePort, 0), -1);
  EXPECT_EQ(t2u_add_port_v3("", kPortKey, "127.0.0.1", kEchoDevicePort, 0), -1);
  EXPECT_EQ(t2u_add_port_v3(long_id.c_str(), kPortKey, "127.0.0.1", kEchoDevicePort, 0), -1);
  EXPECT_EQ(t2u_add_port_v3(kEchoDevice, nullptr, "127.0.0.1", kEchoDevicePort, 0), -1);
  EXPECT_EQ(t2u_add_port_v3(kEchoDevice, kPortKey, "127.0.0.1", 0, 0), -1);
}

TEST_F(TunnelLibrary, LocalPortIsChosenOrHonouredOrRefused) {
  init();
  int chosen = add_echo_port(0);
  EXPECT_GT(chosen, 0);

  uint16_t wanted = free_port();
  EXPECT_EQ(add_echo_port(wanted), wanted);
  EXPECT_EQ(add_echo_port(wanted), -1);  // already mapped
  EXPECT_EQ(add_echo_port(static_cast<uint16_t>(chosen)), -1);

  t2u_del_port(wanted);
  EXPECT_EQ(add_echo_port(wanted), wanted);  // free again after removal
}

TEST_F(TunnelLibrary, PortRangeBoundsTheChoice) {
  EXPECT_EQ(t2u_set_port_range(2000, 1000), -1);
  EXPECT_EQ(t2u_set_port_range(0, 10), -1);
  EXPECT_EQ(t2u_set_port_range(1, 70000), -1);

  uint16_t only = free_port();
  ASSERT_EQ(t2u_set_port_range(only, only), 0);  // set before init: kept
  init();
  EXPECT_EQ(add_echo_port(0), only);
  EXPECT_EQ(add_echo_port(0), -1);  // the range is used up
  uint16_t outside = free_port();
  EXPECT_EQ(add_echo_port(outside), outside);  // a requested port is not bound by the range
}

TEST_F(TunnelLibrary, EstablishedPortFillsTheStatusRecord) {
  init();
  int port = add_echo_port();
  ASSERT_TRUE(reaches(port, 1));
  unsigned char raw[88];
  std::memset(raw, 0xAB, sizeof raw);
  auto* stats = reinterpret_cast<t2u_port_stats*>(raw);
  ASSERT_EQ(t2u_port_status(static_cast<uint16_t>(port), stats), 1);
  auto at = [&](size_t offset) {
    int32_t v;
    std::memcpy(&v, raw + offset, 4);
    return v;
  };
  EXPECT_EQ(at(24), 1);  // usingRelay
  EXPECT_EQ(at(36), kAgentNatType);
  EXPECT_EQ(at(40), kServiceNatType);
  EXPECT_EQ(at(84), kAgentVersion);
  EXPECT_EQ(t2u_port_status(static_cast<uint16_t>(port + 1 == 65536 ? 1 : port + 1), nullptr), -1);
}

// How a freshly mapped port reports a device in each condition.
struct DeviceCondition {
  const char* name;
  std::function<void(EchoWorld&)> arrange;
  const char* port_key;
  int status;
};

TEST_F(TunnelLibrary, FreshPortReportsTheDeviceCondition) {
  const DeviceCondition cases[] = {
      {"reachable", [](EchoWorld&) {}, kPortKey, 1},
      {"offline", [](EchoWorld& w) { w.service().set_device_online(kEchoDevice, false); }, kPortKey, -4},
      {"agent gone",
       [](EchoWorld& w) {
         w.stop_agent();
         // The service must have seen the agent go, or the port comes up first and is then cut
         // (-3) instead of never coming up.
         EXPECT_TRUE(wait_until([&] { return !w.service().device_registered(kEchoDevice); }, 5000));
       },
       kPortKey, -4},
      {"wrong key", [](EchoWorld&) {}, "not-the-key", -5},
      {"key rejected", [](EchoWorld& w) { w.service().set_reject_key(kEchoDevice, true); }, kPortKey, -5},
      {"refused", [](EchoWorld& w) { w.service().set_refuse(kEchoDevice, true); }, kPortKey, -2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    world_ = std::make_unique<EchoWorld>();
    ASSERT_TRUE(world_->start());
    c.arrange(*world_);
    init();
    int port = add_echo_port(0, c.port_key);
    ASSERT_GT(port, 0);
    EXPECT_TRUE(reaches(port, c.status));
    t2u_exit();
  }
}

TEST_F(TunnelLibrary, BytesFlowThroughTheTunnel) {
  init();
  int port = add_echo_port();
  ASSERT_TRUE(reaches(port, 1));
  // Several streams of one port at the same time.
  std::vector<std::thread> streams;
  bool ok[4] = {};
  for (int i = 0; i < 4; ++i) {
    streams.emplace_back([&, i] { ok[i] = echo_exchange(static_cast<uint16_t>(port), 2 << 20, i + 1); });
  }
  for (auto& t : streams) t.join();
  for (bool b : ok) EXPECT_TRUE(b);
  EXPECT_EQ(world_->echo().accepted(), 4u);
}

TEST_F(TunnelLibrary, StreamToAnUnofferedDevicePortIsClosed) {
  init();
  int port = t2u_add_port_v3(kEchoDevice, kPortKey, "127.0.0.1", 1, 0);
  ASSERT_TRUE(reaches(port, 1));  // the device is reachable; the port it is asked for is not
  int fd = connect_local(static_cast<uint16_t>(port));
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(wait_for_end(fd, 10000));
  ::close(fd);
}

TEST_F(TunnelLibrary, AStreamThreadThatCannotStartClosesItsConnectionAndTheNextIsRelayed) {
  platform::testing::DebugCapture capture;
  trace::force_verbose_for_testing(true);
  init();
  int port = add_echo_port();
  ASSERT_TRUE(reaches(port, 1));
  t2u::testing::fail_thread_starts(1);
  int fd = connect_local(static_cast<uint16_t>(port));
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(wait_for_end(fd, 5000)) << "the library closes the connection it cannot serve";
  ::close(fd);
  EXPECT_TRUE(echo_exchange(static_cast<uint16_t>(port), 4096)) << "the port goes on accepting";
  trace::force_verbose_for_testing(false);
  EXPECT_TRUE(capture.mentions("Cannot start a stream thread")) << "the refusal is traced";
}

TEST_F(TunnelLibrary, ThreadsThatCannotStartLeaveInitAndAddPortRefusing) {
  t2u::testing::fail_thread_starts(1);
  init();
  EXPECT_EQ(t2u_status(), -1) << "no control thread: not initialised";
  init();
  ASSERT_TRUE(ready());
  t2u::testing::fail_thread_starts(1);
  EXPECT_EQ(add_echo_port(), -1);
  int port = add_echo_port();
  EXPECT_TRUE(reaches(port, 1));
}

TEST_F(TunnelLibrary, OfflineDeviceCutsTheTunnelAndComesBack) {
  init();
  int port = add_echo_port();
  ASSERT_TRUE(reaches(port, 1));
  int fd = connect_local(static_cast<uint16_t>(port));
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(wait_until([&] { return world_->service().stream_count(kEchoDevice) == 1; }, 5000));

  world_->service().set_device_online(kEchoDevice, false);
  EXPECT_TRUE(reaches(port, -3));  // it was up: cut, not "never reached"
  EXPECT_TRUE(wait_for_end(fd, 5000));
  ::close(fd);

  world_->service().set_device_online(kEchoDevice, true);
  EXPECT_TRUE(reaches(port, 1));
  EXPECT_TRUE(echo_exchange(static_cast<uint16_t>(port), 4096));
}

TEST_F(TunnelLibrary, AgentRestartIsReportedAsCutThenUp) {
  init();
  int port = add_echo_port();
  ASSERT_TRUE(reaches(port, 1));
  world_->stop_agent();
  EXPECT_TRUE(reaches(port, -3));
  ASSERT_TRUE(world_->start_agent());
  EXPECT_TRUE(reaches(port, 1));
}

class TunnelLibraryQuickReestablish : public TunnelLibrary {
  ServiceOptions options() override {
    ServiceOptions o;
    o.reestablish_ms = 300;
    return o;
  }
};

TEST_F(TunnelLibraryQuickReestablish, CutTunnelsEndStreamsAndComeBack) {
  init();
  int port = add_echo_port();
  ASSERT_TRUE(reaches(port, 1));
  int fd = connect_local(static_cast<uint16_t>(port));
  ASSERT_TRUE(wait_until([&] { return world_->service().stream_count(kEchoDevice) == 1; }, 5000));

  world_->service().cut_tunnels(kEchoDevice);
  EXPECT_TRUE(reaches(port, -3, 250));
  EXPECT_TRUE(wait_for_end(fd, 5000));
  ::close(fd);
  EXPECT_TRUE(reaches(port, 1, 2000));  // after the service's 300 ms
}

TEST_F(TunnelLibrary, DelayedDeviceStaysTryingUntilItAnswers) {
  world_->service().set_delay(kEchoDevice, 700);
  init();
  int port = add_echo_port();
  ASSERT_TRUE(ready());
  EXPECT_EQ(t2u_port_status(static_cast<uint16_t>(port), nullptr), 0);
  EXPECT_TRUE(reaches(port, 1));
  EXPECT_TRUE(echo_exchange(static_cast<uint16_t>(port), 1024));  // the opening is delayed too
}

TEST_F(TunnelLibrary, LostServiceMakesTheLibraryNotReadyAndCutsPorts) {
  init();
  int port = add_echo_port();
  ASSERT_TRUE(reaches(port, 1));
  world_->service().stop();
  EXPECT_TRUE(wait_until([] { return t2u_status() == 0; }, 5000));
  EXPECT_EQ(t2u_port_status(static_cast<uint16_t>(port), nullptr), -3);
}

TEST_F(TunnelLibrary, DelPortClosesListenerAndStreams) {
  init();
  int port = add_echo_port();
  ASSERT_TRUE(reaches(port, 1));
  int fd = connect_local(static_cast<uint16_t>(port));
  ASSERT_TRUE(wait_until([&] { return world_->service().stream_count(kEchoDevice) == 1; }, 5000));
  t2u_del_port(static_cast<uint16_t>(port));
  EXPECT_EQ(t2u_port_status(static_cast<uint16_t>(port), nullptr), -1);
  EXPECT_TRUE(wait_for_end(fd, 5000));
  ::close(fd);
  EXPECT_LT(connect_local(static_cast<uint16_t>(port)), 0);
}

TEST_F(TunnelLibrary, ExitWithLiveStreamsEndsThemAndJoins) {
  init();
  int port = add_echo_port();
  ASSERT_TRUE(reaches(port, 1));
  int fd = connect_local(static_cast<uint16_t>(port));
  ASSERT_TRUE(wait_until([&] { return world_->service().stream_count(kEchoDevice) == 1; }, 5000));
  t2u_exit();
  EXPECT_EQ(t2u_status(), -1);
  EXPECT_TRUE(wait_for_end(fd, 5000));
  ::close(fd);
  EXPECT_LT(connect_local(static_cast<uint16_t>(port)), 0);
}

TEST_F(TunnelLibrary, ManyThreadsMapAndQueryAtOnce) {
  init();
  ASSERT_TRUE(ready());
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10; ++i) {
        int port = add_echo_port();
        if (port <= 0) {
          ++failures;
          continue;
        }
        t2u_port_status(static_cast<uint16_t>(port), nullptr);
        t2u_status();
        t2u_del_port(static_cast<uint16_t>(port));
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
