#include "t2u/tunnel_client.h"

#include <cstring>
#include <system_error>
#include <vector>

#include "t2u/thread_start.h"

#include "platform/net/socket_io.h"
#include "t2u/wire/protocol.h"
#include "trace/trace.h"

namespace t2u {

using wire::encode_text;

namespace {
// Connecting to the service and sending the opening line of the control connection.
constexpr int kControlConnectTimeoutMs = 3000;
// The service may hold its answer back (it can be told to delay clients); a service that never
// answers is given up on after this long and tried again.
constexpr int kHelloTimeoutMs = 60000;
constexpr int kRefusedRetryMs = 1000;
}  // namespace

TunnelClient::TunnelClient(std::string server, uint16_t server_port, std::string key)
    : server_(std::move(server)), server_port_(server_port), key_(std::move(key)) {}

TunnelClient::~TunnelClient() { stop(); }

bool TunnelClient::start() {
  try {
    control_ = start_thread([this] { control_loop(); });
    return true;
  } catch (const std::system_error& e) {
    trace::exception("TunnelClient::start", e.what());
    return false;
  }
}

void TunnelClient::stop() {
  stop_.set();
  if (control_.joinable()) control_.join();
  std::map<uint16_t, Mapping> ports;
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopped_ = true;
    ports.swap(ports_);
  }
  for (auto& [number, mapping] : ports) mapping.port->stop();
}

std::string TunnelClient::watch_line(const PortTarget& target) {
  return "WATCH " + std::to_string(target.tag) + " " + encode_text(target.device_id) + " " +
         encode_text(target.port_key) + " " + std::to_string(target.peer_port);
}

int TunnelClient::add_port(PortTarget target, platform::net::UniqueFd listener, uint16_t port) {
  std::lock_guard<std::mutex> hold(lock_);
  if (stopped_ || ports_.count(port) != 0) return -1;
  target.tag = next_tag_++;
  auto mapped = std::make_shared<MappedPort>(*this, std::move(target), std::move(listener), port);
  if (!mapped->start()) return -1;
  if (channel_ != nullptr) channel_->post(watch_line(mapped->target()));
  ports_[port].port = std::move(mapped);
  return port;
}

void TunnelClient::del_port(uint16_t port) {
  std::shared_ptr<MappedPort> mapped;
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = ports_.find(port);
    if (it == ports_.end()) return;
    mapped = std::move(it->second.port);
    ports_.erase(it);
    if (channel_ != nullptr) channel_->post("UNWATCH " + std::to_string(mapped->target().tag));
  }
  mapped->stop();
}

int TunnelClient::port_status(uint16_t port, t2u_port_stats* stats) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = ports_.find(port);
  if (it == ports_.end()) return -1;
  const Mapping& m = it->second;
  if (m.status == 1 && stats != nullptr) {
    std::memset(stats, 0, sizeof *stats);
    stats->usingRelay = 1;  // every stream goes through the service
    stats->relay_quality = 1.0f;
    stats->remoteNATType = m.remote_nat_type;
    stats->localNATType = local_nat_type_;
    stats->remoteVersion = m.remote_version;
  }
  return m.status;
}

bool TunnelClient::session(std::string* token) const {
  std::lock_guard<std::mutex> hold(lock_);
  if (channel_ == nullptr) return false;
  *token = session_;
  return true;
}

std::unique_ptr<wire::LineChannel> TunnelClient::open_control(std::string* session, int32_t* nat_type) {
  platform::net::UniqueFd fd = platform::net::connect_to(server_, server_port_, stop_.fd(), kControlConnectTimeoutMs);
  if (!fd.valid()) return nullptr;
  std::string hello = std::string(wire::kTag) + " CLIENT " + encode_text(key_) + "\n";
  if (!platform::net::send_all(fd.get(), hello, stop_.fd(), kControlConnectTimeoutMs)) return nullptr;
  std::string reply;
  if (platform::net::read_line(fd.get(), &reply, wire::kMaxLine, stop_.fd(), kHelloTimeoutMs) != platform::net::LineRead::ok) {
    return nullptr;
  }
  auto words = wire::split_words(reply);
  if (words.size() != 3 || words[0] != "OK") return nullptr;
  auto nat = wire::parse_signed(words[2]);
  if (!nat) return nullptr;
  *session = std::string(words[1]);
  *nat_type = static_cast<int32_t>(*nat);
  return std::make_unique<wire::LineChannel>(std::move(fd));
}

bool TunnelClient::on_control_line(std::string_view line) {
  auto words = wire::split_words(line);
  if (words.size() != 5 || words[0] != "STATUS") return true;  // unknown lines are ignored
  auto tag = wire::parse_unsigned(words[1], UINT64_MAX);
  auto status = wire::parse_signed(words[2]);
  auto nat = wire::parse_signed(words[3]);
  auto version = wire::parse_signed(words[4]);
  if (!tag || !status || !nat || !version) return true;
  std::lock_guard<std::mutex> hold(lock_);
  for (auto& [number, mapping] : ports_) {
    if (mapping.port->target().tag != *tag) continue;
    mapping.status = static_cast<int32_t>(*status);
    mapping.remote_nat_type = static_cast<int32_t>(*nat);
    mapping.remote_version = static_cast<int32_t>(*version);
    break;
  }
  return true;
}

void TunnelClient::control_loop() {
  int backoff = kReconnectFirstMs;
  while (!stop_.is_set()) {
    std::string session;
    int32_t nat_type = 0;
    std::unique_ptr<wire::LineChannel> channel = open_control(&session, &nat_type);
    if (!channel) {
      // Unreachable or refused: try again, more slowly each time.
      if (!stop_.sleep_ms(backoff)) break;
      backoff = backoff * 2 > kRefusedRetryMs ? kRefusedRetryMs : backoff * 2;
      continue;
    }
    backoff = kReconnectFirstMs;
    {
      std::lock_guard<std::mutex> hold(lock_);
      session_ = session;
      local_nat_type_ = nat_type;
      channel_ = channel.get();
      for (auto& [number, mapping] : ports_) channel->post(watch_line(mapping.port->target()));
      accepted_.store(true);
    }
    channel->run([this](std::string_view line) { return on_control_line(line); }, stop_.fd());
    {
      std::lock_guard<std::mutex> hold(lock_);
      accepted_.store(false);
      channel_ = nullptr;
      session_.clear();
      // Without the service no tunnel can be kept up: an established one counts as cut.
      for (auto& [number, mapping] : ports_) {
        if (mapping.status == 1) mapping.status = -3;
      }
    }
    if (!stop_.sleep_ms(backoff)) break;
  }
}

}  // namespace t2u
