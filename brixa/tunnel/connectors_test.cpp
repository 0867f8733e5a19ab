// The tunnel connectors against the real tunnel library, the tunnel service, a device agent and
// an echo "device", all in this process on loopback.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "brixa/api/brixa.h"
#include "brixa/core/client_registry.h"
#include "brixa/core/callback_dispatch.h"
#include "brixa/tunnel/connector.h"
#include "brixa/tunnel/connectors.h"
#include "brixa/tunnel/socket_map.h"
#include "platform/testing/debug_capture.h"
#include "sim/tunnel/testing/tunnel_world.h"
#include "t2u/t2u.h"
#include "trace/trace.h"

namespace brixa::tunnel {
namespace {

// Whether a socket of this process is still bound to the local port. Asking the port itself is
// not enough: once it is free, a test running in another process may bind the same number.
bool process_holds_port(uint16_t port) {
  bool held = false;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* entry = readdir(dir)) {
      int fd = std::atoi(entry->d_name);
      if (entry->d_name[0] == '.' || fd == dirfd(dir)) continue;
      sockaddr_in local{};
      socklen_t length = sizeof local;
      if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 || local.sin_family != AF_INET) continue;
      if (ntohs(local.sin_port) == port) held = true;
    }
    closedir(dir);
  }
  return held;
}

using sim::tunnel::testing::echo_exchange;
using sim::tunnel::testing::EchoWorld;
using sim::tunnel::testing::free_port;
using sim::tunnel::testing::kEchoDevice;
using sim::tunnel::testing::kEchoDevicePort;
using sim::tunnel::testing::wait_until;

// Connectors the check thread follows, and whether the socket map is open.
size_t followed_connectors() {
  SocketMap& map = socket_map();
  ReadLock hold(map.lock);
  return map.connectors.size();
}
bool socket_map_open() {
  SocketMap& map = socket_map();
  ReadLock hold(map.lock);
  return map.open;
}

struct Message {
  int32_t id;
  intptr_t param1;
  int32_t param2;
  std::string info;
};

// Collects every callback message of the client.
class Recorder {
 public:
  static int callback(intptr_t user, brixa_handle, int32_t id, intptr_t param1, int32_t param2, const char* info,
                      int32_t info_len) {
    auto* self = reinterpret_cast<Recorder*>(user);
    std::lock_guard<std::mutex> hold(self->lock_);
    self->messages_.push_back({id, param1, param2, info_len > 0 ? std::string(info, info_len) : std::string()});
    self->arrived_.notify_all();
    return 0;
  }
  std::vector<Message> tunnel_messages() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<Message> out;
    for (const auto& m : messages_)
      if (m.id == BRIXA_CB_CALLBACK_P2P_MAPPED) out.push_back(m);
    return out;
  }
  bool saw(int32_t id) {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& m : messages_)
      if (m.id == id) return true;
    return false;
  }
  // Waits until `count` tunnel messages have arrived.
  bool wait_tunnel_messages(size_t count, int timeout_ms) {
    return wait_until([&] { return tunnel_messages().size() >= count; }, timeout_ms);
  }

 private:
  std::mutex lock_;
  std::condition_variable arrived_;
  std::vector<Message> messages_;
};

class Connectors : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(world_.start());
    brixa_init("127.0.0.1", world_.service().port(), "svc-key");
    client_ = brixa_create();
    ASSERT_NE(client_, nullptr);
    brixa_cli_attach_callback(client_, &Recorder::callback, reinterpret_cast<intptr_t>(&recorder_));
  }
  void TearDown() override {
    if (client_ != nullptr) {
      brixa_cli_detach_callback(client_);
      brixa_release(client_);
    }
    brixa_uninit();
    brixa_set_port_range(0, 0);
    trace::force_verbose_for_testing(false);
  }

  brixa_connection connect(uint16_t local_port = 0, const char* dev_id = kEchoDevice) {
    return brixa_create_connect(client_, dev_id, kEchoDevicePort, local_port);
  }
  int32_t mapped(brixa_connection c) { return brixa_connnect_get_mapped_port(client_, c); }
  // Runs a check round now and waits until whatever it reported has been delivered: a message
  // posted after the round arrives after everything the round posted.
  void settle() {
    ASSERT_TRUE(run_check_round_for_testing());
    static int32_t witness = 0x7000;
    int32_t id = ++witness;
    post(client_, id, 0, 0, nullptr, 0);
    ASSERT_TRUE(wait_until([&] { return recorder_.saw(id); }, 5000));
  }
  // The login handle of the connection's session (read under the client's locks).
  int32_t login_handle_of(brixa_connection c) {
    return with_client(client_, [&](brixa_client* client) -> int32_t {
      DeviceListLock list(client->device_list_lock);
      for (ListLink* l = client->devices.first(); l != client->devices.end(); l = l->next) {
        device_session* s = device_session::from_link(l);
        if (s->connector == c) return s->login_handle;
      }
      return -100;
    });
  }
  void set_login_handle(brixa_connection c, int32_t handle) {
    with_client(client_, [&](brixa_client* client) -> int32_t {
      DeviceListLock list(client->device_list_lock);
      for (ListLink* l = client->devices.first(); l != client->devices.end(); l = l->next) {
        device_session* s = device_session::from_link(l);
        if (s->connector == c) s->login_handle = handle;
      }
      return 0;
    });
  }

  EchoWorld world_;
  Recorder recorder_;
  brixa_handle client_ = nullptr;
};

TEST_F(Connectors, LocalPortZeroLetsTheTunnelLibraryChooseAndARequestedPortIsUsed) {
  brixa_connection any = connect(0);
  ASSERT_NE(any, nullptr);
  EXPECT_GT(mapped(any), 0);

  uint16_t wanted = free_port();
  brixa_connection exact = connect(wanted);
  ASSERT_NE(exact, nullptr);
  EXPECT_EQ(mapped(exact), wanted);

  // The same port again cannot be mapped: no connection.
  platform::testing::DebugCapture capture;
  trace::force_verbose_for_testing(true);
  EXPECT_EQ(connect(wanted), nullptr);
  EXPECT_TRUE(capture.mentions("Add port failed (276)"));
  EXPECT_TRUE(capture.mentions("Cannot connect (173)"));
}

TEST_F(Connectors, PortRangeBoundsTheChosenPort) {
  uint16_t only = free_port();
  ASSERT_EQ(brixa_set_port_range(only, only), 0);
  brixa_connection c = connect(0);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(mapped(c), only);
}

TEST_F(Connectors, BytesReallyFlow) {
  brixa_connection c = connect();
  ASSERT_NE(c, nullptr);
  ASSERT_TRUE(recorder_.wait_tunnel_messages(1, 5000));
  EXPECT_TRUE(echo_exchange(static_cast<uint16_t>(mapped(c)), 10u << 20));
}

TEST_F(Connectors, ReleasedConnectionIsGoneAndReleaseAlwaysSaysMinusOne) {
  brixa_connection c = connect();
  ASSERT_NE(c, nullptr);
  int32_t port = mapped(c);
  ASSERT_GT(port, 0);
  EXPECT_EQ(brixa_release_connect(client_, c), -1);  // released, and still -1
  EXPECT_EQ(mapped(c), -1);
  EXPECT_FALSE(process_holds_port(static_cast<uint16_t>(port)));  // the port is closed
  EXPECT_EQ(brixa_release_connect(client_, c), -1);  // nothing left to release
  EXPECT_EQ(followed_connectors(), 0u);
}

TEST_F(Connectors, AReleaseThatFindsTheDeviceListBusyIsNotLostAndThePortCloses) {
  brixa_connection c = connect();
  ASSERT_NE(c, nullptr);
  int32_t port = mapped(c);
  ASSERT_GT(port, 0);
  // Another thread of the client holds its device list for longer than a release waits.
  std::atomic<bool> holding{false};
  std::atomic<bool> let_go{false};
  std::thread holder([&] {
    client_->device_list_lock.enter();
    holding = true;
    while (!let_go.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    client_->device_list_lock.leave();
  });
  ASSERT_TRUE(wait_until([&] { return holding.load(); }, 5000));
  EXPECT_EQ(brixa_release_connect(client_, c), -1);
  let_go = true;
  holder.join();
  // The caller has let go of the handle; the port must still close, and nothing follows it.
  EXPECT_TRUE(wait_until([&] { return t2u_port_status(static_cast<uint16_t>(port), nullptr) == T2U_PORT_UNKNOWN; },
                         10000))
      << "the release was lost: port " << port << " still mapped";
  // The tunnel library forgets the port before its listening socket is closed on its own thread.
  EXPECT_TRUE(wait_until([&] { return !process_holds_port(static_cast<uint16_t>(port)); }, 10000))
      << "port " << port << " still open";
  EXPECT_TRUE(wait_until([&] { return followed_connectors() == 0; }, 10000));
  EXPECT_EQ(mapped(c), -1);
}

TEST_F(Connectors, FirstStatusIsReportedOnceWithHandleStatusAndIdentifier) {
  brixa_connection c = connect();
  ASSERT_NE(c, nullptr);
  ASSERT_TRUE(recorder_.wait_tunnel_messages(1, 5000));
  settle();  // a further round finds nothing new
  settle();
  auto messages = recorder_.tunnel_messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].param1, reinterpret_cast<intptr_t>(c));
  EXPECT_EQ(messages[0].param2, 1);
  EXPECT_EQ(messages[0].info, kEchoDevice);
}

TEST_F(Connectors, TunnelStillTryingReportsNothing) {
  world_.service().set_delay(kEchoDevice, 60000);  // the device never answers during the test
  brixa_connection c = connect();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(t2u_port_status(static_cast<uint16_t>(mapped(c)), nullptr), 0);
  settle();
  settle();
  EXPECT_EQ(t2u_port_status(static_cast<uint16_t>(mapped(c)), nullptr), 0);
  EXPECT_TRUE(recorder_.tunnel_messages().empty());
}

TEST_F(Connectors, UpCutUpGivesThreeMessagesAndLogsTheSessionOut) {
  brixa_connection c = connect();
  ASSERT_NE(c, nullptr);
  ASSERT_TRUE(recorder_.wait_tunnel_messages(1, 5000));
  set_login_handle(c, 77);  // as if logged in through the tunnel

  world_.service().set_device_online(kEchoDevice, false);
  ASSERT_TRUE(recorder_.wait_tunnel_messages(2, 5000));
  EXPECT_EQ(login_handle_of(c), 0);

  world_.service().set_device_online(kEchoDevice, true);
  ASSERT_TRUE(recorder_.wait_tunnel_messages(3, 5000));
  settle();
  auto messages = recorder_.tunnel_messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].param2, 1);
  EXPECT_EQ(messages[1].param2, -3);
  EXPECT_EQ(messages[2].param2, 1);
  for (const auto& m : messages) {
    EXPECT_EQ(m.param1, reinterpret_cast<intptr_t>(c));
    EXPECT_EQ(m.info, kEchoDevice);
  }
}

// The first status a device in each condition reports.
struct Condition {
  const char* name;
  void (*arrange)(EchoWorld&);
  int32_t status;
};

TEST_F(Connectors, DeviceConditionsReachTheCallback) {
  const Condition cases[] = {
      {"offline", [](EchoWorld& w) { w.service().set_device_online(kEchoDevice, false); }, -4},
      {"no agent",
       [](EchoWorld& w) {
         w.stop_agent();
         // The service must have seen the agent go, or the connect still reaches it and the
         // tunnel is cut (-3) instead of never coming up.
         auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
         while (w.service().device_registered(kEchoDevice) && std::chrono::steady_clock::now() < deadline)
           std::this_thread::sleep_for(std::chrono::milliseconds(5));
       },
       -4},
      {"wrong key", [](EchoWorld& w) { w.service().set_reject_key(kEchoDevice, true); }, -5},
      {"refused", [](EchoWorld& w) { w.service().set_refuse(kEchoDevice, true); }, -2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange(world_);
    size_t before = recorder_.tunnel_messages().size();
    brixa_connection connection = connect();
    ASSERT_NE(connection, nullptr);  // the connection exists even though the tunnel is down
    ASSERT_TRUE(recorder_.wait_tunnel_messages(before + 1, 5000));
    Message last = recorder_.tunnel_messages().back();
    EXPECT_EQ(last.param1, reinterpret_cast<intptr_t>(connection));
    EXPECT_EQ(last.param2, c.status);
    brixa_release_connect(client_, connection);
    world_.service().set_device_online(kEchoDevice, true);
    world_.service().set_reject_key(kEchoDevice, false);
    world_.service().set_refuse(kEchoDevice, false);
    if (!world_.service().device_registered(kEchoDevice)) {
      ASSERT_TRUE(world_.start_agent());
    }
  }
}

TEST_F(Connectors, AgentWithAnotherKeyGivesMinusFive) {
  world_.stop_agent();
  sim::tunnel::AgentOptions options = world_.agent_options();
  options.port_key = "wrongKey1";
  sim::tunnel::DeviceAgent agent(options);
  agent.start();
  ASSERT_TRUE(agent.wait_registered(5000));
  brixa_connection c = connect();
  ASSERT_NE(c, nullptr);
  ASSERT_TRUE(recorder_.wait_tunnel_messages(1, 5000));
  EXPECT_EQ(recorder_.tunnel_messages()[0].param2, -5);
}

TEST_F(Connectors, ConnectFailsAtOnceWhenTheTunnelLibraryIsNotInitialised) {
  t2u_exit();  // status -1
  platform::testing::DebugCapture capture;
  trace::force_verbose_for_testing(true);
  EXPECT_EQ(connect(), nullptr);
  EXPECT_TRUE(capture.mentions("Cannot connect (173)"));
  EXPECT_FALSE(capture.mentions("T2U is not ready (234)"));  // no five-second wait
}

TEST_F(Connectors, ConnectGivesUpWhenTheTunnelLibraryNeverBecomesReady) {
  brixa_uninit();
  world_.service().set_accept_clients(false);
  brixa_init("127.0.0.1", world_.service().port(), "svc-key");
  client_ = brixa_create();
  platform::testing::DebugCapture capture;
  trace::force_verbose_for_testing(true);
  EXPECT_EQ(connect(), nullptr);
  EXPECT_TRUE(capture.mentions("T2U is not ready (234)"));
  EXPECT_TRUE(capture.mentions("Cannot connect (173)"));
}

TEST_F(Connectors, SuspendedConnectorGivesUpAtItsNextPoll) {
  brixa_uninit();
  world_.service().set_accept_clients(false);
  brixa_init("127.0.0.1", world_.service().port(), "svc-key");
  client_ = brixa_create();
  brixa_connector* c = brixa_connector_new(kEchoDevicePort, kEchoDevice, 0);
  ASSERT_NE(c, nullptr);
  c->client = client_;
  platform::testing::DebugCapture capture;
  trace::force_verbose_for_testing(true);
  // Suspended while it polls for the tunnel library: the next poll gives up.
  std::thread suspender([&] {
    EXPECT_TRUE(wait_until([&] { return capture.mentions("-->: brixa_connector_connect_t2u"); }, 5000));
    c->suspended.store(1);
  });
  EXPECT_EQ(c->ops.connect(c), -1);
  suspender.join();
  EXPECT_FALSE(capture.mentions("T2U is not ready (234)"));  // gave up before the 50 polls
  brixa_connector_delete(c);
}

TEST_F(Connectors, SuspendMarksAConnectedConnector) {
  brixa_connection c = connect();
  ASSERT_NE(c, nullptr);
  brixa_suspend_connect(client_, c);
  EXPECT_EQ(c->suspended.load(), 1);
}

TEST_F(Connectors, TooLongIdentifierIsRefused) {
  std::string id(64, 'd');
  EXPECT_EQ(connect(0, id.c_str()), nullptr);
}

TEST_F(Connectors, UnknownHandlesAndNullArguments) {
  brixa_connection c = connect();
  ASSERT_NE(c, nullptr);
  auto* stranger = reinterpret_cast<brixa_handle>(&world_);
  struct Case {
    brixa_handle client;
    brixa_connection connection;
  } cases[] = {{nullptr, c}, {client_, nullptr}, {stranger, c}};
  for (const auto& k : cases) {
    EXPECT_EQ(brixa_connnect_get_mapped_port(k.client, k.connection), -1);
    EXPECT_EQ(brixa_release_connect(k.client, k.connection), -1);
    brixa_suspend_connect(k.client, k.connection);
  }
  EXPECT_EQ(brixa_create_connect(stranger, kEchoDevice, kEchoDevicePort, 0), nullptr);
  EXPECT_EQ(c->suspended.load(), 0);
  EXPECT_GT(mapped(c), 0);  // untouched by all of that
}

TEST(ConnectorsWithoutLibrary, ExportsReportNotInitialised) {
  auto* fake = reinterpret_cast<brixa_connection>(0x1000);
  auto* client = reinterpret_cast<brixa_handle>(0x2000);
  EXPECT_EQ(brixa_create_connect(client, kEchoDevice, kEchoDevicePort, 0), nullptr);
  EXPECT_EQ(brixa_connnect_get_mapped_port(client, fake), -2);
  EXPECT_EQ(brixa_release_connect(client, fake), -2);
  brixa_suspend_connect(client, fake);
}

TEST_F(Connectors, ReleasingTheClientClosesItsTunnels) {
  brixa_connection a = connect();
  brixa_connection b = connect();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  int32_t port = mapped(a);
  brixa_cli_detach_callback(client_);
  brixa_release(client_);
  client_ = nullptr;
  EXPECT_EQ(followed_connectors(), 0u);
  EXPECT_EQ(t2u_port_status(static_cast<uint16_t>(port), nullptr), -1);
}

TEST_F(Connectors, UninitWithLiveTunnelsStopsEverything) {
  brixa_connection a = connect();
  brixa_connection b = connect();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_TRUE(recorder_.wait_tunnel_messages(2, 5000));
  int32_t port = mapped(a);
  int fd = sim::tunnel::testing::connect_local(static_cast<uint16_t>(port));  // a live stream
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(wait_until([&] { return world_.service().stream_count(kEchoDevice) == 1; }, 5000));

  platform::testing::DebugCapture capture;
  trace::force_verbose_for_testing(true);
  brixa_uninit();
  client_ = nullptr;  // freed by the uninit
  EXPECT_TRUE(capture.mentions("- joining t2u check thread"));
  EXPECT_TRUE(capture.mentions("- freeing socket map"));
  EXPECT_FALSE(socket_map_open());
  EXPECT_EQ(t2u_status(), -1);
  EXPECT_TRUE(sim::tunnel::testing::wait_for_end(fd, 5000));
  ::close(fd);
}

TEST_F(Connectors, ReleasesRaceStatusChangesWithoutDeadlock) {
  // Worker threads create and release connections while the device flaps, so the check thread
  // keeps taking the client's locks while releases hold them and wait for the socket map.
  std::atomic<bool> flapping{true};
  std::thread flapper([&] {
    bool online = true;
    while (flapping.load()) {
      online = !online;
      world_.service().set_device_online(kEchoDevice, online);
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    world_.service().set_device_online(kEchoDevice, true);
  });
  std::vector<std::thread> workers;
  std::atomic<int> created{0};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(4);
  for (int w = 0; w < 3; ++w) {
    workers.emplace_back([&] {
      while (std::chrono::steady_clock::now() < deadline) {
        brixa_connection c = connect();
        if (c == nullptr) continue;
        ++created;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        brixa_release_connect(client_, c);
      }
    });
  }
  for (auto& t : workers) t.join();
  flapping.store(false);
  flapper.join();
  EXPECT_GT(created.load(), 0);
  EXPECT_EQ(followed_connectors(), 0u);
}

}  // namespace
}  // namespace brixa::tunnel
