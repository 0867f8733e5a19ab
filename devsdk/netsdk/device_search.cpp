// LAN device search: NET_StartSearchDevices, NET_StopSearchDevices, NET_SetSearchPort.
//
// Threads: each search's thread sends the requests, reads the answers and runs the callback;
// application threads start and stop searches. The table of searches is guarded by
// `searches_lock`, held only to add, find or remove; a search's stop flag is an atomic.
#include "devsdk/netsdk/device_search.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "devsdk/netsdk/connection.h"
#include "devsdk/netsdk/sdk_state.h"
#include "platform/net/socket_io.h"

namespace netsdk {
namespace {

constexpr int kResendMs = 1000;  // a request every second while the search runs
constexpr int kPollMs = 100;     // how soon a stop is seen

static_assert(sizeof(NET_DEVICE_SEARCH_INFO) == 1052, "the search record is 1052 bytes");
static_assert(offsetof(NET_DEVICE_SEARCH_INFO, ip) == 4);
static_assert(offsetof(NET_DEVICE_SEARCH_INFO, port) == 68);
static_assert(offsetof(NET_DEVICE_SEARCH_INFO, serial) == 364);
static_assert(offsetof(NET_DEVICE_SEARCH_INFO, detail_type) == 540);
static_assert(offsetof(NET_DEVICE_SEARCH_INFO, name) == 700);
static_assert(offsetof(NET_DEVICE_SEARCH_INFO, http_port) == 796);

struct Search {
  int32_t handle = 0;
  NET_SearchDevicesCallback callback = nullptr;
  intptr_t user = 0;
  platform::net::UniqueFd socket;
  uint16_t port = 0;
  uint32_t nonce = 0;
  std::atomic<bool> stop{false};
  std::thread thread;
};

std::mutex searches_lock;
std::map<int32_t, std::shared_ptr<Search>> searches;  // guarded by searches_lock
int32_t next_search = 1;                             // guarded by searches_lock
std::atomic<uint16_t> configured_port{0};

template <size_t N>
void put_text(char (&field)[N], const std::string& text) {
  size_t n = std::min(text.size(), N - 1);
  memcpy(field, text.data(), n);
  field[n] = 0;
}

uint16_t discovery_port() {
  uint16_t port = configured_port.load();
  if (port != 0) return port;
  if (const char* env = std::getenv("KAVREL_DISCOVERY_PORT")) {
    char* end = nullptr;
    long value = std::strtol(env, &end, 10);
    if (end != env && *end == 0 && value > 0 && value <= 65535) return static_cast<uint16_t>(value);
  }
  return proto::kDefaultDiscoveryPort;
}

bool is_loopback(const char* ip) {
  in_addr address{};
  return inet_pton(AF_INET, ip, &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

void send_request(const Search& s) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(s.port);
  inet_pton(AF_INET, proto::kSearchBroadcastAddress, &to.sin_addr);
  proto::SearchRequest request;
  request.nonce = s.nonce;
  auto bytes = proto::encode(request);
  ::sendto(s.socket.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to),
           sizeof to);
}

void run_search(Search& s) {
  using Clock = std::chrono::steady_clock;
  auto next_send = Clock::now();
  uint8_t buffer[proto::kMaxSearchDatagram];
  while (!s.stop.load()) {
    auto now = Clock::now();
    if (now >= next_send) {
      send_request(s);
      next_send = now + std::chrono::milliseconds(kResendMs);
    }
    pollfd p{s.socket.get(), POLLIN, 0};
    if (::poll(&p, 1, kPollMs) <= 0) continue;
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    ssize_t n = ::recvfrom(s.socket.get(), buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                           &from_length);
    if (n <= 0 || from.sin_family != AF_INET || (ntohl(from.sin_addr.s_addr) >> 24) != 127) continue;
    proto::SearchAnswer answer;
    if (!proto::decode_search(buffer, static_cast<size_t>(n), answer) || answer.nonce != s.nonce) continue;
    char sender[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender);
    NET_DEVICE_SEARCH_INFO record;
    fill_search_record(answer, sender, record);
    if (!s.stop.load()) s.callback(&record, s.user);
  }
}

void end_search(std::shared_ptr<Search> s) {
  s->stop.store(true);
  if (!s->thread.joinable()) return;
  if (s->thread.get_id() == std::this_thread::get_id()) {
    reap(std::move(s->thread));  // stopped from its own callback: joined at the next cleanup
  } else {
    s->thread.join();
  }
}

}  // namespace

void fill_search_record(const proto::SearchAnswer& answer, const char* sender_ip, NET_DEVICE_SEARCH_INFO& record) {
  memset(&record, 0, sizeof record);
  record.size = sizeof record;
  put_text(record.ip, answer.ip.empty() ? std::string(sender_ip != nullptr ? sender_ip : "") : answer.ip);
  record.port = answer.port;
  put_text(record.netmask, "255.0.0.0");
  put_text(record.gateway, "127.0.0.1");
  put_text(record.mac, answer.mac);
  put_text(record.serial, answer.serial);
  put_text(record.detail_type, answer.model);
  put_text(record.name, answer.name);
  record.http_port = answer.http_port;
}

void stop_all_searches() {
  std::map<int32_t, std::shared_ptr<Search>> all;
  {
    std::lock_guard<std::mutex> hold(searches_lock);
    all.swap(searches);
  }
  for (auto& [handle, search] : all) end_search(search);
}

}  // namespace netsdk

using netsdk::set_last_error;

extern "C" {

int32_t NET_StartSearchDevices(NET_SearchDevicesCallback callback, intptr_t user, const char* local_ip) {
  if (netsdk::injected_failure("NET_StartSearchDevices")) return 0;
  if (callback == nullptr || (local_ip != nullptr && !netsdk::is_loopback(local_ip))) {
    set_last_error(NET_ERR_ILLEGAL_PARAM);
    return 0;
  }
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    set_last_error(NET_ERR_SYSTEM_ERROR);
    return 0;
  }
  auto search = std::make_shared<netsdk::Search>();
  search->socket = platform::net::UniqueFd(fd);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  inet_pton(AF_INET, local_ip != nullptr ? local_ip : "127.0.0.1", &local.sin_addr);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    set_last_error(NET_ERR_NETWORK_ERROR);
    return 0;
  }
  search->callback = callback;
  search->user = user;
  search->port = netsdk::discovery_port();
  search->nonce = std::random_device{}();
  int32_t handle;
  {
    std::lock_guard<std::mutex> hold(netsdk::searches_lock);
    handle = netsdk::next_search;
    netsdk::next_search = netsdk::next_search == INT32_MAX ? 1 : netsdk::next_search + 1;
    search->handle = handle;
    netsdk::searches[handle] = search;
    // Started under the lock, so a stop that finds the search always finds its thread.
    search->thread = std::thread([s = search] { netsdk::run_search(*s); });
  }
  set_last_error(0);
  return handle;
}

NET_BOOL NET_StopSearchDevices(int32_t search_handle) {
  std::shared_ptr<netsdk::Search> search;
  {
    std::lock_guard<std::mutex> hold(netsdk::searches_lock);
    auto it = netsdk::searches.find(search_handle);
    if (it != netsdk::searches.end()) {
      search = it->second;
      netsdk::searches.erase(it);
    }
  }
  if (search == nullptr) {
    set_last_error(NET_ERR_INVALID_HANDLE);
    return 0;
  }
  netsdk::end_search(search);
  set_last_error(0);
  return 1;
}

void NET_SetSearchPort(uint16_t port) { netsdk::configured_port.store(port); }

}  // extern "C"
