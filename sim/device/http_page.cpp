#include "sim/device/http_page.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/net/socket_io.h"

namespace sim::device {
namespace {

constexpr size_t kMaxHead = 8192;
constexpr int kHeadWaitMs = 2000;

// HTML text with its special characters escaped.
std::string escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}


}  // namespace

HttpPage::HttpPage(std::string dev_id, std::string name) : dev_id_(std::move(dev_id)), name_(std::move(name)) {}

HttpPage::~HttpPage() { stop(); }

std::string HttpPage::body() const {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + escape(name_) +
         "</title></head><body><h1>" + escape(name_) + "</h1><p>Dispositivo " + escape(dev_id_) +
         "</p></body></html>";
}

bool HttpPage::start() {
  if (listen_fd_ >= 0) return true;
  uint16_t bound = 0;
  auto socket = platform::net::listen_loopback(0, &bound, platform::net::Blocking::yes);
  if (!socket.valid()) return false;
  listen_fd_ = socket.release();
  port_.store(bound);
  stopping_.store(false);
  accept_thread_ = std::thread([this] { accept_loop(); });
  return true;
}

void HttpPage::stop() {
  if (listen_fd_ < 0) return;
  stopping_.store(true);
  platform::net::shutdown_both(listen_fd_);
  if (accept_thread_.joinable()) accept_thread_.join();
  ::close(listen_fd_);
  listen_fd_ = -1;
}

void HttpPage::accept_loop() {
  while (!stopping_.load()) {
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (stopping_.load()) break;
      if (errno == EINTR || errno == ECONNABORTED) continue;
      break;
    }
    answer(fd);
    ::close(fd);
  }
}

void HttpPage::answer(int fd) {
  // Reads the request head (up to its blank line) within the time bound; the request itself
  // does not matter: every path gets the page.
  std::string head;
  char buffer[1024];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxHead) {
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, kHeadWaitMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || stopping_.load()) return;
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    head.append(buffer, static_cast<size_t>(n));
  }
  if (head.find("\r\n\r\n") == std::string::npos) {
    platform::net::send_all(fd, "HTTP/1.0 431 Request Header Fields Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", -1, kHeadWaitMs);
    return;
  }
  std::string page = body();
  platform::net::send_all(fd, "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                   std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page, -1, kHeadWaitMs);
  answered_.fetch_add(1);
}

}  // namespace sim::device
