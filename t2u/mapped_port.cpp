#include "t2u/mapped_port.h"

#include <poll.h>

#include <memory>
#include <system_error>

#include "platform/net/socket_io.h"
#include "t2u/thread_start.h"
#include "t2u/tunnel_client.h"
#include "t2u/wire/protocol.h"
#include "t2u/wire/relay.h"
#include "trace/trace.h"

namespace t2u {

namespace {
// Connecting to the service and sending the opening line of one relayed stream.
constexpr int kStreamConnectTimeoutMs = 5000;
// The service answers an opening stream once the device has answered, or with an error after
// its own time-out; this bound only guards against a service that never answers.
constexpr int kOpenAnswerTimeoutMs = 30000;
}  // namespace

MappedPort::MappedPort(TunnelClient& client, PortTarget target, platform::net::UniqueFd listener, uint16_t port)
    : client_(client), target_(std::move(target)), listener_(std::move(listener)), port_(port) {}

MappedPort::~MappedPort() { stop(); }

bool MappedPort::start() {
  try {
    acceptor_ = start_thread([this] { accept_loop(); });
    return true;
  } catch (const std::system_error& e) {
    trace::exception("MappedPort::start", e.what());
    return false;
  }
}

void MappedPort::stop() {
  stop_.set();
  if (acceptor_.joinable()) acceptor_.join();
  listener_.reset();
  for (auto& stream : streams_) {
    if (stream->thread.joinable()) stream->thread.join();
  }
  streams_.clear();
}

void MappedPort::reap_finished_streams() {
  for (auto it = streams_.begin(); it != streams_.end();) {
    if ((*it)->done.load()) {
      (*it)->thread.join();
      it = streams_.erase(it);
    } else {
      ++it;
    }
  }
}

void MappedPort::accept_loop() {
  for (;;) {
    platform::net::Wait w = platform::net::wait_for(listener_.get(), POLLIN, stop_.fd(), -1);
    if (w != platform::net::Wait::ready) return;
    platform::net::UniqueFd local = platform::net::accept_connection(listener_.get());
    if (!local.valid()) continue;
    reap_finished_streams();
    if (streams_.size() >= kMaxStreams) continue;  // closes the connection
    auto stream = std::make_unique<Stream>();
    Stream* raw = stream.get();
    // The connection stays owned here until its thread runs, so a thread that cannot start
    // leaves nothing open behind it.
    auto connection = std::make_shared<platform::net::UniqueFd>(std::move(local));
    try {
      stream->thread = start_thread([this, raw, connection] {
        relay(std::move(*connection));
        raw->done.store(true);
      });
    } catch (const std::system_error& e) {
      trace::error("MappedPort::accept_loop", __LINE__, "Cannot start a stream thread: connection closed");
      trace::exception("MappedPort::accept_loop", e.what());
      connection->reset();
      continue;
    }
    streams_.push_back(std::move(stream));
  }
}

void MappedPort::relay(platform::net::UniqueFd local) {
  std::string session;
  if (!client_.session(&session)) return;  // not accepted by the service: nothing to relay to
  platform::net::UniqueFd service = platform::net::connect_to(client_.server(), client_.server_port(), stop_.fd(), kStreamConnectTimeoutMs);
  if (!service.valid()) return;
  std::string open = std::string(wire::kTag) + " OPEN " + session + " " + std::to_string(target_.tag) + " " +
                     wire::encode_text(target_.device_id) + " " + wire::encode_text(target_.port_key) + " " +
                     wire::encode_text(target_.peer_host) + " " + std::to_string(target_.peer_port) + "\n";
  if (!platform::net::send_all(service.get(), open, stop_.fd(), kStreamConnectTimeoutMs)) return;
  std::string answer;
  if (platform::net::read_line(service.get(), &answer, wire::kMaxLine, stop_.fd(), kOpenAnswerTimeoutMs) != platform::net::LineRead::ok ||
      answer != "OK") {
    return;
  }
  wire::pump(local.get(), service.get(), stop_.fd());
}

}  // namespace t2u
