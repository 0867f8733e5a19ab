#include "sim/tunnel/tunnel_service.h"

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <random>

#include "platform/net/socket_io.h"
#include "t2u/wire/line_channel.h"
#include "t2u/wire/protocol.h"
#include "t2u/wire/relay.h"

namespace sim::tunnel {

using Clock = std::chrono::steady_clock;
using platform::net::UniqueFd;
namespace wire = t2u::wire;

namespace {
constexpr int kOpeningLineTimeoutMs = 10000;
}  // namespace

struct TunnelService::Agent {
  std::string port_key;
  std::string token;
  int32_t version = 0;
  int32_t nat_type = 0;
  wire::LineChannel* channel = nullptr;
};

struct TunnelService::Watch {
  std::string device_id;
  std::string port_key;
  uint16_t peer_port = 0;
  bool answered = false;      // the first answer has been sent (it may be held back)
  bool established = false;   // the port has reported 1 at least once
  int32_t last = 0;           // the status last sent
  Clock::time_point cut_until{};
};

struct TunnelService::Client {
  std::string session;
  wire::LineChannel* channel = nullptr;
  std::map<uint64_t, Watch> watches;  // by the client's tag
};

struct TunnelService::Pending {
  std::string device_id;
  std::string agent_token;
  UniqueFd agent_side;  // set by the agent's ATTACH
  bool failed = false;  // the agent could not reach the device port
};

struct TunnelService::Stream {
  std::string device_id;
  int client_fd;
  int agent_fd;
};

struct TunnelService::Handler {
  std::thread thread;
  std::atomic<bool> done{false};
};

TunnelService::TunnelService(ServiceOptions options) : options_(std::move(options)) {
  token_state_ = std::random_device{}();
  token_state_ = (token_state_ << 32) ^ std::random_device{}();
}

TunnelService::~TunnelService() { stop(); }

bool TunnelService::start() {
  if (started_) return true;
  if (stop_.is_set()) return false;  // a stopped service stays stopped
  listener_ = platform::net::listen_loopback(options_.port, &port_);
  if (!listener_.valid()) return false;
  started_ = true;
  acceptor_ = std::thread(&TunnelService::accept_loop, this);
  timer_ = std::thread(&TunnelService::timer_loop, this);
  return true;
}

void TunnelService::stop() {
  if (!started_) return;
  stop_.set();
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (Stream* s : streams_) {
      ::shutdown(s->client_fd, SHUT_RDWR);
      ::shutdown(s->agent_fd, SHUT_RDWR);
    }
  }
  changed_.notify_all();
  if (acceptor_.joinable()) acceptor_.join();
  for (auto& h : handlers_) {
    if (h->thread.joinable()) h->thread.join();
  }
  handlers_.clear();
  if (timer_.joinable()) timer_.join();
  listener_.reset();
  std::lock_guard<std::mutex> hold(lock_);
  timers_.clear();
  started_ = false;
}

std::string TunnelService::new_token() {
  // splitmix64: unpredictable enough for a simulator, and never repeats within one run.
  uint64_t z = (token_state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(z));
  return text;
}

void TunnelService::accept_loop() {
  for (;;) {
    if (platform::net::wait_for(listener_.get(), POLLIN, stop_.fd(), -1) != platform::net::Wait::ready) return;
    UniqueFd fd = platform::net::accept_connection(listener_.get());
    if (!fd.valid()) continue;
    for (auto it = handlers_.begin(); it != handlers_.end();) {
      if ((*it)->done.load()) {
        (*it)->thread.join();
        it = handlers_.erase(it);
      } else {
        ++it;
      }
    }
    auto handler = std::make_unique<Handler>();
    Handler* raw = handler.get();
    handler->thread = std::thread([this, raw, conn = fd.release()] {
      handle(UniqueFd(conn));
      raw->done.store(true);
    });
    handlers_.push_back(std::move(handler));
  }
}

void TunnelService::timer_loop() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!stop_.is_set()) {
    if (timers_.empty()) {
      changed_.wait(hold);
      continue;
    }
    auto due = timers_.begin()->first;
    if (Clock::now() < due) {
      changed_.wait_until(hold, due);
      continue;
    }
    std::function<void()> action = std::move(timers_.begin()->second);
    timers_.erase(timers_.begin());
    action();  // runs with lock_ held
  }
}

void TunnelService::schedule(uint32_t delay_ms, std::function<void()> action) {
  timers_.emplace(Clock::now() + std::chrono::milliseconds(delay_ms), std::move(action));
  changed_.notify_all();
}

void TunnelService::handle(UniqueFd fd) {
  std::string line;
  if (platform::net::read_line(fd.get(), &line, wire::kMaxLine, stop_.fd(), kOpeningLineTimeoutMs) != platform::net::LineRead::ok) {
    return;
  }
  auto w = wire::split_words(line);
  if (w.size() < 2 || w[0] != wire::kTag) return;
  auto text = [](std::string_view word) { return wire::decode_text(word); };

  if (w[1] == "CLIENT" && w.size() == 3) {
    auto key = text(w[2]);
    if (key) serve_client(std::move(fd), *key);
  } else if (w[1] == "AGENT" && w.size() == 6) {
    auto id = text(w[2]);
    auto key = text(w[3]);
    auto version = wire::parse_signed(w[4]);
    auto nat = wire::parse_signed(w[5]);
    if (id && !id->empty() && key && version && nat) {
      serve_agent(std::move(fd), *id, *key, static_cast<int32_t>(*version), static_cast<int32_t>(*nat));
    }
  } else if (w[1] == "OPEN" && w.size() == 8) {
    auto id = text(w[4]);
    auto key = text(w[5]);
    auto peer_port = wire::parse_unsigned(w[7], 65535);
    if (id && key && text(w[6]) && peer_port && *peer_port != 0) {
      serve_open(std::move(fd), std::string(w[2]), *id, *key, static_cast<uint16_t>(*peer_port));
    }
  } else if (w[1] == "ATTACH" && w.size() == 5) {
    auto id = text(w[2]);
    auto stream = wire::parse_unsigned(w[3], UINT64_MAX);
    if (id && stream) serve_attach(std::move(fd), *id, *stream, std::string(w[4]));
  }
}

// ---- clients ----

void TunnelService::serve_client(UniqueFd fd, const std::string& key) {
  uint32_t delay;
  bool accept;
  {
    std::lock_guard<std::mutex> hold(lock_);
    delay = client_delay_ms_;
    accept = accept_clients_;
  }
  if (delay > 0 && !stop_.sleep_ms(static_cast<int>(delay))) return;
  if (!accept) {
    platform::net::send_all(fd.get(), "ERR refused\n", stop_.fd(), 1000);
    return;
  }
  if (!options_.client_key.empty() && key != options_.client_key) {
    platform::net::send_all(fd.get(), "ERR key\n", stop_.fd(), 1000);
    return;
  }
  wire::LineChannel channel(std::move(fd));
  Client client;
  client.channel = &channel;
  {
    std::lock_guard<std::mutex> hold(lock_);
    client.session = new_token();
    clients_[client.session] = &client;
    channel.post("OK " + client.session + " " + std::to_string(options_.client_nat_type));
  }
  channel.run([&](std::string_view line) { return on_client_line(client, line); }, stop_.fd());
  std::lock_guard<std::mutex> hold(lock_);
  clients_.erase(client.session);
}

bool TunnelService::on_client_line(Client& client, std::string_view line) {
  auto w = wire::split_words(line);
  if (w.empty()) return true;
  std::lock_guard<std::mutex> hold(lock_);
  if (w[0] == "WATCH" && w.size() == 5) {
    auto tag = wire::parse_unsigned(w[1], UINT64_MAX);
    auto id = wire::decode_text(w[2]);
    auto key = wire::decode_text(w[3]);
    auto peer_port = wire::parse_unsigned(w[4], 65535);
    if (!tag || !id || !key || !peer_port) return true;
    Watch& watch = client.watches[*tag];
    watch = Watch{};
    watch.device_id = *id;
    watch.port_key = *key;
    watch.peer_port = static_cast<uint16_t>(*peer_port);
    auto faults = faults_.find(*id);
    uint32_t delay = faults != faults_.end() ? faults->second.delay_ms : 0;
    if (delay == 0) {
      answer_watch(client, *tag, watch, true);
    } else {
      // The first answer comes late, as from a device slow to reach. The client may be gone by
      // then, so it is looked up again by its session.
      schedule(delay, [this, session = client.session, tag = *tag] {
        auto c = clients_.find(session);
        if (c == clients_.end()) return;
        auto found = c->second->watches.find(tag);
        if (found != c->second->watches.end() && !found->second.answered) {
          answer_watch(*c->second, tag, found->second, true);
        }
      });
    }
  } else if (w[0] == "UNWATCH" && w.size() == 2) {
    auto tag = wire::parse_unsigned(w[1], UINT64_MAX);
    if (tag) client.watches.erase(*tag);
  }
  return true;
}

int32_t TunnelService::device_status(const std::string& device_id, const std::string& port_key) const {
  auto f = faults_.find(device_id);
  Faults faults = f != faults_.end() ? f->second : Faults{};
  auto agent = agents_.find(device_id);
  if (agent == agents_.end() || faults.offline) return -4;
  if (faults.refuse) return -2;
  if (faults.reject_key || agent->second->port_key != port_key) return -5;
  return 1;
}

int32_t TunnelService::watch_status(const Watch& watch) const {
  if (Clock::now() < watch.cut_until) return -3;
  int32_t status = device_status(watch.device_id, watch.port_key);
  // A tunnel that was up and is now lost is reported as cut, not as never reached.
  if (watch.established && (status == -4 || status == -2)) return -3;
  return status;
}

void TunnelService::answer_watch(Client& client, uint64_t tag, Watch& watch, bool force) {
  int32_t status = watch_status(watch);
  if (!force && status == watch.last) return;
  watch.answered = true;
  watch.last = status;
  if (status == 1) watch.established = true;
  int32_t nat = 0;
  int32_t version = 0;
  auto agent = agents_.find(watch.device_id);
  if (status == 1 && agent != agents_.end()) {
    nat = agent->second->nat_type;
    version = agent->second->version;
  }
  client.channel->post("STATUS " + std::to_string(tag) + " " + std::to_string(status) + " " + std::to_string(nat) +
                       " " + std::to_string(version));
}

void TunnelService::reevaluate(const std::string& device_id) {
  for (auto& [session, client] : clients_) {
    for (auto& [tag, watch] : client->watches) {
      if (watch.device_id == device_id && watch.answered) answer_watch(*client, tag, watch, false);
    }
  }
}

// ---- agents ----

void TunnelService::serve_agent(UniqueFd fd, const std::string& device_id, const std::string& port_key,
                                int32_t version, int32_t nat_type) {
  wire::LineChannel channel(std::move(fd));
  auto agent = std::make_unique<Agent>();
  agent->port_key = port_key;
  agent->version = version;
  agent->nat_type = nat_type;
  agent->channel = &channel;
  Agent* self = agent.get();
  {
    std::lock_guard<std::mutex> hold(lock_);
    agent->token = new_token();
    auto old = agents_.find(device_id);
    if (old != agents_.end()) old->second->channel->close();  // a newer registration wins
    agents_[device_id] = std::move(agent);
    // Announce before any CONNECT can be posted on the channel.
    channel.post("OK " + self->token);
    reevaluate(device_id);
  }
  changed_.notify_all();
  channel.run([&](std::string_view line) { return on_agent_line(device_id, line); }, stop_.fd());
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto current = agents_.find(device_id);
    if (current != agents_.end() && current->second.get() == self) {
      agents_.erase(current);
      cut_streams(device_id);
      reevaluate(device_id);
    }
  }
  changed_.notify_all();
}

bool TunnelService::on_agent_line(const std::string& device_id, std::string_view line) {
  auto w = wire::split_words(line);
  if (w.size() == 2 && w[0] == "FAILED") {
    auto id = wire::parse_unsigned(w[1], UINT64_MAX);
    std::lock_guard<std::mutex> hold(lock_);
    if (id) {
      auto p = pendings_.find(*id);
      if (p != pendings_.end() && p->second->device_id == device_id) p->second->failed = true;
    }
    changed_.notify_all();
  }
  return true;
}

// ---- streams ----

void TunnelService::serve_open(UniqueFd fd, const std::string& session, const std::string& device_id,
                               const std::string& port_key, uint16_t peer_port) {
  uint32_t delay;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (clients_.count(session) == 0) {
      platform::net::send_all(fd.get(), "ERR -1\n", stop_.fd(), 1000);
      return;
    }
    auto faults = faults_.find(device_id);
    delay = faults != faults_.end() ? faults->second.delay_ms : 0;
  }
  if (delay > 0 && !stop_.sleep_ms(static_cast<int>(delay))) return;

  Pending pending;
  pending.device_id = device_id;
  uint64_t stream_id;
  {
    std::unique_lock<std::mutex> hold(lock_);
    int32_t status = device_status(device_id, port_key);
    if (status != 1) {
      hold.unlock();
      platform::net::send_all(fd.get(), "ERR " + std::to_string(status) + "\n", stop_.fd(), 1000);
      return;
    }
    Agent& agent = *agents_[device_id];
    stream_id = next_id_++;
    pending.agent_token = agent.token;
    pendings_[stream_id] = &pending;
    agent.channel->post("CONNECT " + std::to_string(stream_id) + " " + std::to_string(peer_port));
    changed_.wait_for(hold, std::chrono::milliseconds(options_.open_timeout_ms),
                      [&] { return pending.agent_side.valid() || pending.failed || stop_.is_set(); });
    pendings_.erase(stream_id);
  }
  UniqueFd agent_side = std::move(pending.agent_side);
  if (!agent_side.valid()) {
    platform::net::send_all(fd.get(), "ERR -2\n", stop_.fd(), 1000);
    return;
  }
  if (!platform::net::send_all(fd.get(), "OK\n", stop_.fd(), 5000)) return;

  Stream stream{device_id, fd.get(), agent_side.get()};
  {
    std::lock_guard<std::mutex> hold(lock_);
    // A cut or an offline switch may have come while the stream was opening.
    if (device_status(device_id, port_key) != 1 || stop_.is_set()) return;
    streams_.push_back(&stream);
  }
  wire::pump(fd.get(), agent_side.get(), stop_.fd());
  std::lock_guard<std::mutex> hold(lock_);
  streams_.remove(&stream);
}

void TunnelService::serve_attach(UniqueFd fd, const std::string& device_id, uint64_t stream_id,
                                 const std::string& token) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto p = pendings_.find(stream_id);
    if (p == pendings_.end()) return;
    Pending& pending = *p->second;
    if (pending.device_id != device_id || pending.agent_token != token || pending.agent_side.valid()) return;
    pending.agent_side = std::move(fd);
  }
  changed_.notify_all();
}

void TunnelService::cut_streams(const std::string& device_id) {
  for (Stream* s : streams_) {
    if (s->device_id != device_id) continue;
    ::shutdown(s->client_fd, SHUT_RDWR);
    ::shutdown(s->agent_fd, SHUT_RDWR);
  }
}

// ---- switches ----

void TunnelService::after_switch(const std::string& device_id) {
  auto agent = agents_.find(device_id);
  if (agent == agents_.end() || device_status(device_id, agent->second->port_key) != 1) cut_streams(device_id);
  reevaluate(device_id);
}

void TunnelService::set_device_online(const std::string& device_id, bool online) {
  std::lock_guard<std::mutex> hold(lock_);
  faults_[device_id].offline = !online;
  after_switch(device_id);
}

void TunnelService::set_refuse(const std::string& device_id, bool refuse) {
  std::lock_guard<std::mutex> hold(lock_);
  faults_[device_id].refuse = refuse;
  after_switch(device_id);
}

void TunnelService::set_reject_key(const std::string& device_id, bool reject) {
  std::lock_guard<std::mutex> hold(lock_);
  faults_[device_id].reject_key = reject;
  after_switch(device_id);
}

void TunnelService::set_delay(const std::string& device_id, uint32_t delay_ms) {
  std::lock_guard<std::mutex> hold(lock_);
  faults_[device_id].delay_ms = delay_ms;
}

void TunnelService::cut_tunnels(const std::string& device_id) {
  std::lock_guard<std::mutex> hold(lock_);
  cut_streams(device_id);
  auto until = Clock::now() + std::chrono::milliseconds(options_.reestablish_ms);
  bool any = false;
  for (auto& [session, client] : clients_) {
    for (auto& [tag, watch] : client->watches) {
      if (watch.device_id != device_id || !watch.answered || watch.last != 1) continue;
      watch.cut_until = until;
      answer_watch(*client, tag, watch, false);
      any = true;
    }
  }
  if (any) schedule(options_.reestablish_ms, [this, device_id] { reevaluate(device_id); });
}

void TunnelService::set_accept_clients(bool accept) {
  std::lock_guard<std::mutex> hold(lock_);
  accept_clients_ = accept;
}

void TunnelService::set_client_delay(uint32_t delay_ms) {
  std::lock_guard<std::mutex> hold(lock_);
  client_delay_ms_ = delay_ms;
}

// ---- observation ----

bool TunnelService::device_registered(const std::string& device_id) const {
  std::lock_guard<std::mutex> hold(lock_);
  return agents_.count(device_id) != 0;
}

bool TunnelService::wait_device_registered(const std::string& device_id, uint32_t timeout_ms) const {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                           [&] { return agents_.count(device_id) != 0 || stop_.is_set(); }) &&
         agents_.count(device_id) != 0;
}

size_t TunnelService::client_count() const {
  std::lock_guard<std::mutex> hold(lock_);
  return clients_.size();
}

size_t TunnelService::stream_count(const std::string& device_id) const {
  std::lock_guard<std::mutex> hold(lock_);
  size_t n = 0;
  for (const Stream* s : streams_) n += s->device_id == device_id ? 1 : 0;
  return n;
}

}  // namespace sim::tunnel
