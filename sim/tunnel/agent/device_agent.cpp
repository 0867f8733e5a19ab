#include "sim/tunnel/agent/device_agent.h"

#include "platform/net/socket_io.h"
#include "t2u/wire/line_channel.h"
#include "t2u/wire/protocol.h"
#include "t2u/wire/relay.h"

namespace sim::tunnel {

namespace wire = t2u::wire;

namespace {
// Reaching the service (connect and send an opening line), waiting for its answer to the
// registration, and reaching the device's own port.
constexpr int kServiceConnectTimeoutMs = 5000;
constexpr int kRegistrationAnswerTimeoutMs = 5000;
constexpr int kDeviceConnectTimeoutMs = 5000;
constexpr size_t kMaxStreams = 256;
}  // namespace

DeviceAgent::DeviceAgent(AgentOptions options) : options_(std::move(options)) {}

DeviceAgent::~DeviceAgent() { stop(); }

void DeviceAgent::start() {
  if (!registrar_.joinable() && !stop_.is_set()) registrar_ = std::thread(&DeviceAgent::register_loop, this);
}

void DeviceAgent::stop() {
  stop_.set();
  if (registrar_.joinable()) registrar_.join();
  for (auto& s : streams_) {
    if (s->thread.joinable()) s->thread.join();
  }
  streams_.clear();
}

bool DeviceAgent::registered() const {
  std::lock_guard<std::mutex> hold(lock_);
  return registered_;
}

bool DeviceAgent::wait_registered(uint32_t timeout_ms) const {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms), [&] { return registered_; });
}

void DeviceAgent::register_loop() {
  while (!stop_.is_set()) {
    platform::net::UniqueFd fd =
        platform::net::connect_to(options_.service_host, options_.service_port, stop_.fd(), kServiceConnectTimeoutMs);
    std::string reply;
    if (fd.valid()) {
      std::string hello = std::string(wire::kTag) + " AGENT " + wire::encode_text(options_.device_id) + " " +
                          wire::encode_text(options_.port_key) + " " + std::to_string(options_.version) + " " +
                          std::to_string(options_.nat_type) + "\n";
      if (!platform::net::send_all(fd.get(), hello, stop_.fd(), kServiceConnectTimeoutMs) ||
          platform::net::read_line(fd.get(), &reply, wire::kMaxLine, stop_.fd(), kRegistrationAnswerTimeoutMs) != platform::net::LineRead::ok) {
        reply.clear();
      }
    }
    auto words = wire::split_words(reply);
    if (words.size() == 2 && words[0] == "OK") {
      std::string token(words[1]);
      wire::LineChannel channel(std::move(fd));
      {
        std::lock_guard<std::mutex> hold(lock_);
        registered_ = true;
        channel_ = &channel;
      }
      changed_.notify_all();
      channel.run([&](std::string_view line) { return on_line(line, token); }, stop_.fd());
      {
        std::lock_guard<std::mutex> hold(lock_);
        registered_ = false;
        channel_ = nullptr;
      }
      changed_.notify_all();
    }
    reap_finished_streams();
    stop_.sleep_ms(kRetryMs);
  }
}

void DeviceAgent::reap_finished_streams() {
  for (auto it = streams_.begin(); it != streams_.end();) {
    if ((*it)->done.load()) {
      (*it)->thread.join();
      it = streams_.erase(it);
    } else {
      ++it;
    }
  }
}

bool DeviceAgent::on_line(std::string_view line, const std::string& token) {
  auto words = wire::split_words(line);
  if (words.size() != 3 || words[0] != "CONNECT") return true;
  auto stream_id = wire::parse_unsigned(words[1], UINT64_MAX);
  auto peer_port = wire::parse_unsigned(words[2], 65535);
  if (!stream_id || !peer_port) return true;
  reap_finished_streams();
  if (streams_.size() >= kMaxStreams) {
    std::lock_guard<std::mutex> hold(lock_);
    if (channel_ != nullptr) channel_->post("FAILED " + std::to_string(*stream_id));
    return true;
  }
  auto stream = std::make_unique<Stream>();
  Stream* raw = stream.get();
  stream->thread = std::thread([this, raw, id = *stream_id, port = static_cast<uint16_t>(*peer_port), token] {
    relay(id, port, token);
    raw->done.store(true);
  });
  streams_.push_back(std::move(stream));
  return true;
}

void DeviceAgent::relay(uint64_t stream_id, uint16_t peer_port, std::string token) {
  uint16_t target_port = peer_port;
  auto found = options_.port_map.find(peer_port);
  if (found != options_.port_map.end()) {
    target_port = found->second;
  } else if (options_.default_port != 0) {
    target_port = options_.default_port;
  } else if (!options_.port_map.empty()) {
    target_port = 0;  // not a port this device offers
  }
  platform::net::UniqueFd device;
  if (target_port != 0) device = platform::net::connect_to(options_.target_host, target_port, stop_.fd(), kDeviceConnectTimeoutMs);
  if (!device.valid()) {
    std::lock_guard<std::mutex> hold(lock_);
    if (channel_ != nullptr) channel_->post("FAILED " + std::to_string(stream_id));
    return;
  }
  platform::net::UniqueFd service =
      platform::net::connect_to(options_.service_host, options_.service_port, stop_.fd(), kServiceConnectTimeoutMs);
  if (!service.valid()) return;
  std::string attach = std::string(wire::kTag) + " ATTACH " + wire::encode_text(options_.device_id) + " " +
                       std::to_string(stream_id) + " " + token + "\n";
  if (!platform::net::send_all(service.get(), attach, stop_.fd(), kServiceConnectTimeoutMs)) return;
  wire::pump(device.get(), service.get(), stop_.fd());
}

}  // namespace sim::tunnel
