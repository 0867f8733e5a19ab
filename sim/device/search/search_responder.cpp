#include "sim/device/search/search_responder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace sim::device {

uint16_t SearchResponder::start(uint16_t port) {
  if (socket_.valid()) return port == 0 || port == port_.load() ? port_.load() : 0;
  platform::net::UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.valid()) return 0;
  int on = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  inet_pton(AF_INET, proto::kSearchBroadcastAddress, &address.sin_addr);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return 0;
  socklen_t length = sizeof address;
  if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  socket_ = std::move(fd);
  port_.store(ntohs(address.sin_port));
  stopping_.store(false);
  thread_ = std::thread([this] { run(); });
  return port_.load();
}

void SearchResponder::stop() {
  stopping_.store(true);
  if (thread_.joinable()) thread_.join();
  socket_ = platform::net::UniqueFd();
  port_.store(0);
}

void SearchResponder::run() {
  uint8_t buffer[proto::kMaxSearchDatagram];
  while (!stopping_.load()) {
    pollfd p{socket_.get(), POLLIN, 0};
    if (::poll(&p, 1, kPollMs) <= 0) continue;
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    ssize_t n = ::recvfrom(socket_.get(), buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                           &from_length);
    // Only loopback senders get an answer.
    if (n <= 0 || from.sin_family != AF_INET || (ntohl(from.sin_addr.s_addr) >> 24) != 127) continue;
    proto::SearchRequest request;
    if (!proto::decode_search(buffer, static_cast<size_t>(n), request)) continue;
    proto::SearchAnswer answer = describe_();
    answer.nonce = request.nonce;
    auto bytes = proto::encode(answer);
    if (::sendto(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&from),
                 from_length) == static_cast<ssize_t>(bytes.size())) {
      answers_sent_.fetch_add(1);
    }
  }
}

}  // namespace sim::device
