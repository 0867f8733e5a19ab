#include "platform/net/socket_io.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace platform::net {
namespace {

// A connected pair over loopback: the client's end and the listener's accepted end.
struct Pair {
  UniqueFd listener, client, server;
  uint16_t port = 0;
  Pair() {
    listener = listen_loopback(0, &port);
    client = connect_to("127.0.0.1", port, -1, 2000);
    EXPECT_EQ(wait_for(listener.get(), POLLIN, -1, 2000), Wait::ready);
    server = accept_connection(listener.get());
  }
};

TEST(Sockets, ConnectTellsWhyItFailed) {
  uint16_t port = 0;
  UniqueFd gone = listen_loopback(0, &port);
  gone.reset();  // nothing listens there any more
  struct Case {
    const char* host;
    uint16_t port;
    ConnectResult result;
  } cases[] = {{"127.0.0.1", port, ConnectResult::refused},
               {"127.0.0.1", 0, ConnectResult::bad_address},
               {"", 80, ConnectResult::bad_address},
               {"not an address", 80, ConnectResult::bad_address}};
  for (const auto& c : cases) {
    ConnectResult result = ConnectResult::ok;
    EXPECT_FALSE(connect_to(c.host, c.port, -1, 2000, &result).valid()) << c.host;
    EXPECT_EQ(result, c.result) << c.host;
  }
  EXPECT_FALSE(loopback_port_in_use(port));
  UniqueFd open = listen_loopback(0, &port);
  EXPECT_TRUE(loopback_port_in_use(port));
}

TEST(Sockets, LinesAreReadUpToTheirEndAndNoFurther) {
  Pair p;
  ASSERT_TRUE(p.server.valid());
  std::string text = "first\nsecond\n" + std::string(100, 'x') + "\n";
  ASSERT_TRUE(send_all(p.client.get(), text, -1, 2000));
  std::string line;
  EXPECT_EQ(read_line(p.server.get(), &line, 64, -1, 2000), LineRead::ok);
  EXPECT_EQ(line, "first");
  EXPECT_EQ(read_line(p.server.get(), &line, 64, -1, 2000), LineRead::ok);
  EXPECT_EQ(line, "second");
  EXPECT_EQ(read_line(p.server.get(), &line, 64, -1, 2000), LineRead::too_long);
  EXPECT_EQ(read_line(p.server.get(), &line, 64, -1, 2000), LineRead::ok);  // the rest of it
  EXPECT_EQ(line, std::string(35, 'x'));
  EXPECT_EQ(read_line(p.server.get(), &line, 64, -1, 0), LineRead::timeout);
  p.client.reset();
  EXPECT_EQ(read_line(p.server.get(), &line, 64, -1, 2000), LineRead::closed);
}

TEST(Sockets, AStopDescriptorEndsAWait) {
  Pair p;
  int stop[2];
  ASSERT_EQ(::pipe(stop), 0);
  std::thread stopper([&] { EXPECT_EQ(::write(stop[1], "x", 1), 1); });
  EXPECT_EQ(wait_for(p.server.get(), POLLIN, stop[0], 10000), Wait::stopped);
  stopper.join();
  std::string line;
  EXPECT_EQ(read_line(p.server.get(), &line, 64, stop[0], 10000), LineRead::stopped);
  ::close(stop[0]);
  ::close(stop[1]);
}

TEST(Sockets, AShutdownWakesABlockedReceive) {
  uint16_t port = 0;
  UniqueFd listener = listen_loopback(0, &port, Blocking::yes);
  UniqueFd client = connect_to("127.0.0.1", port, -1, 2000, nullptr, Blocking::yes);
  ASSERT_TRUE(client.valid());
  long got = 1;
  std::thread reader([&] {
    char buffer[16];
    got = receive_some(client.get(), buffer, sizeof buffer);
  });
  // Whether or not the reader has blocked yet, the shutdown ends its receive.
  shutdown_both(client.get());
  reader.join();
  EXPECT_EQ(got, 0);
}

}  // namespace
}  // namespace platform::net
