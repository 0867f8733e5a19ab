// The tunnel service on its own: what it does with malformed or unauthorised openings, and how
// a newer agent registration replaces an older one. The library-facing behaviour is tested
// through t2u (t2u/t2u_test.cpp).
#include "sim/tunnel/tunnel_service.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>

#include "platform/net/socket_io.h"
#include "sim/tunnel/testing/tunnel_world.h"
#include "t2u/wire/protocol.h"

namespace sim::tunnel {
namespace {

namespace wire = t2u::wire;
using testing::EchoWorld;
using testing::kEchoDevice;
using testing::kPortKey;

platform::net::UniqueFd open_with(uint16_t port, const std::string& line) {
  platform::net::UniqueFd fd = platform::net::connect_to("127.0.0.1", port, -1, 5000);
  EXPECT_TRUE(fd.valid());
  if (fd.valid()) {
    EXPECT_TRUE(platform::net::send_all(fd.get(), line, -1, 5000));
  }
  return fd;
}

std::string answer(int fd) {
  std::string line;
  if (platform::net::read_line(fd, &line, wire::kMaxLine, -1, 5000) != platform::net::LineRead::ok) return "<none>";
  return line;
}

// A client session token, from a real opening.
std::string client_session(uint16_t port, platform::net::UniqueFd* keep) {
  *keep = open_with(port, "T2U1 CLIENT %\n");
  std::string line = answer(keep->get());
  auto words = wire::split_words(line);
  return words.size() == 3 && words[0] == "OK" ? std::string(words[1]) : std::string();
}

TEST(TunnelService, MalformedOpeningsAreDroppedAndTheServiceGoesOn) {
  EchoWorld world;
  ASSERT_TRUE(world.start());
  const std::string cases[] = {
      "\n",
      "T2U1\n",
      "HELLO there\n",
      "T2U2 CLIENT %\n",
      "T2U1 CLIENT\n",
      "T2U1 CLIENT a b\n",
      "T2U1 AGENT %zz key 1 1\n",
      "T2U1 AGENT % key 1 1\n",
      "T2U1 AGENT dev key one 1\n",
      "T2U1 OPEN x\n",
      "T2U1 OPEN s 1 dev key host 70000\n",
      "T2U1 ATTACH dev 999 token\n",
      "T2U1 ATTACH dev notanumber token\n",
      std::string(5000, 'x'),  // longer than any line, no newline
  };
  for (const std::string& line : cases) {
    SCOPED_TRACE(line.substr(0, 40));
    platform::net::UniqueFd fd = open_with(world.service().port(), line);
    EXPECT_TRUE(testing::wait_for_end(fd.get(), 15000));
  }
  EXPECT_EQ(world.service().client_count(), 0u);
  platform::net::UniqueFd keep;
  EXPECT_FALSE(client_session(world.service().port(), &keep).empty());
  EXPECT_TRUE(world.service().device_registered(kEchoDevice));
}

TEST(TunnelService, OpeningNeedsAValidSession) {
  EchoWorld world;
  ASSERT_TRUE(world.start());
  std::string open = std::string("T2U1 OPEN 0123456789abcdef 1 ") + kEchoDevice + " " + kPortKey + " 127.0.0.1 " +
                     std::to_string(testing::kEchoDevicePort) + "\n";
  platform::net::UniqueFd fd = open_with(world.service().port(), open);
  EXPECT_EQ(answer(fd.get()), "ERR -1");
  EXPECT_EQ(world.echo().accepted(), 0u);

  platform::net::UniqueFd control;
  std::string session = client_session(world.service().port(), &control);
  ASSERT_FALSE(session.empty());
  std::string good = "T2U1 OPEN " + session + " 1 " + kEchoDevice + " " + kPortKey + " 127.0.0.1 " +
                     std::to_string(testing::kEchoDevicePort) + "\n";
  platform::net::UniqueFd stream = open_with(world.service().port(), good);
  EXPECT_EQ(answer(stream.get()), "OK");
  ASSERT_TRUE(platform::net::send_all(stream.get(), "ping\n", -1, 5000));
  EXPECT_EQ(answer(stream.get()), "ping");
}

TEST(TunnelService, ClientKeyIsChecked) {
  ServiceOptions options;
  options.client_key = "right key";
  EchoWorld world(options);
  ASSERT_TRUE(world.start());
  platform::net::UniqueFd wrong = open_with(world.service().port(), "T2U1 CLIENT " + wire::encode_text("wrong") + "\n");
  EXPECT_EQ(answer(wrong.get()), "ERR key");
  platform::net::UniqueFd right = open_with(world.service().port(), "T2U1 CLIENT " + wire::encode_text("right key") + "\n");
  EXPECT_EQ(wire::split_words(answer(right.get())).at(0), "OK");
}

TEST(TunnelService, NewerAgentRegistrationReplacesTheOlder) {
  EchoWorld world;
  ASSERT_TRUE(world.start());
  AgentOptions options = world.agent_options();
  options.port_key = "newKey";
  DeviceAgent newer(options);
  newer.start();
  ASSERT_TRUE(newer.wait_registered(5000));

  platform::net::UniqueFd control;
  std::string session = client_session(world.service().port(), &control);
  auto watch = [&](const char* key, int tag) {
    std::string line = "WATCH " + std::to_string(tag) + " " + kEchoDevice + " " + key + " 37777\n";
    ASSERT_TRUE(platform::net::send_all(control.get(), line, -1, 5000));
  };
  watch(kPortKey, 1);
  EXPECT_EQ(answer(control.get()), "STATUS 1 -5 0 0");  // the old key is no longer the device's
  watch("newKey", 2);
  EXPECT_EQ(wire::split_words(answer(control.get())).at(2), "1");
  newer.stop();
}

}  // namespace
}  // namespace sim::tunnel
