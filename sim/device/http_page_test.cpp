// The device's web page: every request gets the page; escaped names; a client that never ends
// its request head does not hold the page up for others.
#include "sim/device/http_page.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace {

int connect_to(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval limit{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string exchange(uint16_t port, const std::string& request) {
  int fd = connect_to(port);
  if (fd < 0) return {};
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  char buffer[2048];
  ssize_t n;
  while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  return answer;
}

TEST(HttpPageTest, AnswersEveryPathWithTheEscapedPage) {
  sim::device::HttpPage page("KVR-1", "Loja <Centro> & Cia");
  ASSERT_TRUE(page.start());
  for (const char* path : {"/", "/index.html", "/cgi-bin/anything?x=1"}) {
    std::string answer = exchange(page.port(), std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer;
    EXPECT_NE(answer.find("Content-Length: " + std::to_string(page.body().size())), std::string::npos);
    EXPECT_NE(answer.find("<h1>Loja &lt;Centro&gt; &amp; Cia</h1>"), std::string::npos) << answer;
    EXPECT_NE(answer.find("KVR-1"), std::string::npos);
  }
  EXPECT_EQ(page.requests_answered(), 3);
  page.stop();
}

TEST(HttpPageTest, AnEndlessHeadIsRefusedAndASilentClientIsDropped) {
  sim::device::HttpPage page("KVR-1", "Loja");
  ASSERT_TRUE(page.start());
  // Exactly the head limit, so the page has read all of it when it answers.
  std::string endless = "GET / HTTP/1.1\r\n" + std::string(8192 - 16, 'a');
  EXPECT_EQ(exchange(page.port(), endless).rfind("HTTP/1.0 431", 0), 0u);
  int silent = connect_to(page.port());
  ASSERT_GE(silent, 0);
  // The silent client is dropped after its time bound; the next one is answered.
  EXPECT_EQ(exchange(page.port(), "GET / HTTP/1.0\r\n\r\n").rfind("HTTP/1.0 200 OK", 0), 0u);
  ::close(silent);
  page.stop();
}

}  // namespace
