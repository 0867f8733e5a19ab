#include "sim/device/device.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>

#include "platform/net/socket_io.h"
#include "sim/device/alarms/push_sink.h"
#include "sim/device/control_session.h"
#include "sim/device/recordings/recording_stream.h"
#include "sim/device/recordings/schedule.h"
#include "sim/device/video/stream_catalog.h"
#include "sim/tunnel/agent/device_agent.h"

namespace sim::device {
namespace {

constexpr size_t kMaxConnections = 64;  // open connections at once; more are closed at accept
constexpr int kSendWaitMs = 5000;

}  // namespace

Device::Device(Settings settings)
    : dev_id_(settings.dev_id),
      tunnel_(settings.tunnel),
      tunnel_port_(settings.tcp_port != 0 ? settings.tcp_port : kDefaultServicePort),
      page_(settings.dev_id, settings.name),
      settings_(std::move(settings)) {
  if (settings_.serial.empty()) settings_.serial = "SN-" + dev_id_;
  settings_.channels = settings_.channels < 0 ? 0 : (settings_.channels > 255 ? 255 : settings_.channels);
  for (bool ptz : settings_.video.ptz) ptz_heads_.push_back(ptz ? std::make_shared<video::PtzHead>() : nullptr);
}

Device::~Device() { stop(); }

bool Device::start() {
  if (listen_fd_ >= 0) return true;
  uint16_t bound = 0;
  uint16_t wanted;
  {
    std::lock_guard<std::mutex> hold(state_lock_);
    wanted = settings_.listen_port;
  }
  auto socket = platform::net::listen_loopback(wanted, &bound, platform::net::Blocking::yes);
  if (!socket.valid()) return false;
  listen_fd_ = socket.release();
  port_.store(bound);
  stopping_.store(false);
  accept_thread_ = std::thread([this] { accept_loop(); });
  {
    std::lock_guard<std::mutex> hold(state_lock_);
    alarm_driver_ = std::make_unique<AlarmDriver>(alarms_, settings_.alarms, settings_.channels);
    if (settings_.discovery_port != 0) search_->start(settings_.discovery_port);
  }
  alarm_driver_->start();
  if (tunnel_.service_port != 0) {
    sim::tunnel::AgentOptions options;
    options.service_host = tunnel_.service_host;
    options.service_port = tunnel_.service_port;
    options.device_id = dev_id_;
    options.port_key = tunnel_.port_key;
    options.port_map = {{tunnel_port_, bound}};
    // The HTTP port leads to the device's web page.
    uint16_t http_port;
    {
      std::lock_guard<std::mutex> hold(state_lock_);
      http_port = settings_.http_port;
    }
    if (http_port != 0 && http_port != tunnel_port_ && page_.start()) options.port_map[http_port] = page_.port();
    agent_ = std::make_unique<sim::tunnel::DeviceAgent>(options);
    agent_->start();
  }
  return true;
}

bool Device::wait_tunnel_registered(uint32_t timeout_ms) const {
  return agent_ != nullptr && agent_->wait_registered(timeout_ms);
}

void Device::stop() {
  if (listen_fd_ < 0) return;
  if (agent_ != nullptr) {
    agent_->stop();
    agent_.reset();
  }
  page_.stop();
  if (alarm_driver_ != nullptr) alarm_driver_->stop();
  search_->stop();
  stopping_.store(true);
  platform::net::shutdown_both(listen_fd_);
  if (accept_thread_.joinable()) accept_thread_.join();
  ::close(listen_fd_);
  listen_fd_ = -1;
  std::list<std::unique_ptr<Connection>> all;
  {
    std::lock_guard<std::mutex> hold(connections_lock_);
    for (auto& c : connections_) platform::net::shutdown_both(c->fd);
    all.swap(connections_);
  }
  video_->stop();  // wakes the stream connections waiting for pictures
  for (auto& c : all) {
    if (c->thread.joinable()) c->thread.join();
    ::close(c->fd);
  }
}

void Device::accept_loop() {
  while (!stopping_.load()) {
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (stopping_.load()) break;
      if (errno == EINTR || errno == ECONNABORTED) continue;
      break;
    }
    join_finished_connections();
    std::lock_guard<std::mutex> hold(connections_lock_);
    if (stopping_.load() || connections_.size() >= kMaxConnections) {
      ::close(fd);
      continue;
    }
    connections_accepted_.fetch_add(1);
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    Connection* raw = c.get();
    c->thread = std::thread([this, raw] { serve(raw); });
    connections_.push_back(std::move(c));
  }
}

void Device::join_finished_connections() {
  std::list<std::unique_ptr<Connection>> finished;
  {
    std::lock_guard<std::mutex> hold(connections_lock_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->done.load()) {
        finished.push_back(std::move(*it));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) {
    c->thread.join();
    ::close(c->fd);
  }
}

void Device::serve(Connection* connection) {
  const int fd = connection->fd;
  bool stream = false;
  proto::BindRequest bind;
  uint32_t bind_id = 0;
  proto::FrameReader frames(ControlSession::kMaxRequestPayload);
  // Replies and pushed alarms share the connection's sending side.
  auto sink = std::make_shared<PushSink>(fd);
  {
    ControlSession session(*this);
    session.set_push_sink(sink);
    std::vector<uint8_t> buffer(16 * 1024);
    bool stalled = false;
    bool open = true;
    while (open) {
      long n = platform::net::receive_some(fd, buffer.data(), buffer.size());
      if (n <= 0) break;
      if (stalled) continue;  // a stalled device reads and never answers
      frames.feed(buffer.data(), static_cast<size_t>(n));
      proto::Message m;
      for (;;) {
        auto r = frames.next(m);
        if (r == proto::FrameReader::Result::need_more) break;
        if (r != proto::FrameReader::Result::message) {
          open = false;  // malformed or oversized: close the connection
          break;
        }
        std::vector<uint8_t> out;
        auto next = session.handle(m, out);
        if (!sink->send(out, kSendWaitMs)) {
          open = false;
          break;
        }
        if (next == ControlSession::Next::close) {
          open = false;
          break;
        }
        if (next == ControlSession::Next::stall) {
          stalled = true;
          break;
        }
        if (next == ControlSession::Next::stream) {
          stream = true;
          bind = session.bind();
          bind_id = session.bind_request_id();
          open = false;
          break;
        }
      }
    }
    if (!stream) platform::net::shutdown_both(fd);
  }  // the session's login and alarm subscription end here
  sink->close();
  if (stream) {
    serve_stream(fd, frames, bind, bind_id);
    platform::net::shutdown_both(fd);
  }
  connection->done.store(true);
}

void Device::serve_stream(int fd, proto::FrameReader& frames, const proto::BindRequest& bind, uint32_t bind_id) {
  if (bind.purpose == proto::kBindPlayback || bind.purpose == proto::kBindDownload) {
    serve_recording(fd, frames, bind, bind_id);
    return;
  }
  auto answer = [fd](const proto::Message& m, int32_t status) {
    auto bytes = proto::reply_bytes(static_cast<proto::Type>(m.header.type), m.header.request_id, status, {});
    return platform::net::send_all(fd, bytes.data(), bytes.size(), -1, kSendWaitMs);
  };
  proto::Message request;
  request.header.type = static_cast<uint16_t>(proto::Type::bind);
  request.header.request_id = bind_id;
  int32_t status = proto::status::ok;
  video::StreamKey key;
  video::StreamSpec spec;
  if (!session_open(bind.session_token)) {
    status = proto::status::not_logged_in;
  } else if (bind.purpose != proto::kBindLive) {
    status = proto::status::not_supported;
  } else {
    status = stream_spec(bind.channel, bind.stream, key, spec);
  }
  auto viewer = std::make_shared<video::StreamViewer>(bind.session_token);
  if (status == proto::status::ok && !video_->attach(key, spec, viewer)) status = proto::status::busy;
  if (!answer(request, status) || status != proto::status::ok) {
    if (status == proto::status::ok) video_->detach(key, viewer);
    return;
  }
  // The login may have ended while the stream started.
  if (!session_open(bind.session_token)) viewer->close();

  std::vector<video::FrameBytes> batch;
  std::vector<uint8_t> buffer(4096);
  bool open = true;
  while (open && !stopping_.load()) {
    batch.clear();
    if (!viewer->take(batch, 100)) break;
    for (const auto& frame : batch) {
      if (!platform::net::send_all(fd, frame->data(), frame->size(), -1, kSendWaitMs)) {
        open = false;
        break;
      }
    }
    // The client only ever closes a stream connection, or asks for stream control.
    pollfd p{fd, POLLIN, 0};
    while (open && ::poll(&p, 1, 0) > 0) {
      long n = platform::net::receive_some(fd, buffer.data(), buffer.size());
      if (n <= 0) {
        open = false;
        break;
      }
      frames.feed(buffer.data(), static_cast<size_t>(n));
      proto::Message m;
      for (;;) {
        auto r = frames.next(m);
        if (r == proto::FrameReader::Result::need_more) break;
        bool control = r == proto::FrameReader::Result::message && !m.is_reply() && !m.is_push() &&
                       m.header.type == static_cast<uint16_t>(proto::Type::stream_control);
        if (!control || !answer(m, proto::status::not_supported)) {
          open = false;
          break;
        }
      }
    }
  }
  video_->detach(key, viewer);
}

void Device::serve_recording(int fd, proto::FrameReader& frames, const proto::BindRequest& bind, uint32_t bind_id) {
  auto answer = [fd, bind_id](int32_t status, const std::vector<uint8_t>& payload) {
    auto bytes = proto::reply_bytes(proto::Type::bind, bind_id, status, payload);
    return platform::net::send_all(fd, bytes.data(), bytes.size(), -1, kSendWaitMs);
  };
  int32_t status = proto::status::ok;
  video::StreamKey key;
  video::StreamSpec spec;
  std::vector<recordings::Segment> segments;
  int64_t start = recordings::to_epoch(bind.start);
  int64_t end = recordings::to_epoch(bind.end);
  if (!session_open(bind.session_token)) {
    status = proto::status::not_logged_in;
  } else if (end <= start) {
    status = proto::status::invalid_parameter;
  } else {
    // Recordings are kept at the extra stream's picture size.
    status = stream_spec(bind.channel, video::kRealPlayExtra, key, spec);
  }
  if (status == proto::status::ok) {
    std::vector<RecordSpan> spans;
    {
      std::lock_guard<std::mutex> hold(state_lock_);
      spans = recordings::channel_spans(settings_.recordings, bind.channel, time(nullptr));
    }
    segments = recordings::span_segments(spans, start, end, bind.stream);
    if (segments.empty()) status = proto::status::no_record;
  }
  std::shared_ptr<const video::EncodedLoop> loop;
  if (status == proto::status::ok) {
    loop = video::encoded_loop(spec.scene, spec.bit_rate);
    if (loop == nullptr) status = proto::status::busy;
  }
  if (status != proto::status::ok) {
    answer(status, {});
    return;
  }
  recordings::RecordingStream stream(loop, spec.lens, std::move(segments));
  if (!answer(status, proto::encode(stream.info()))) return;
  recording_streams_.fetch_add(1);
  const uint32_t token = bind.session_token;
  stream.serve(fd, frames, bind.purpose == proto::kBindPlayback,
               [this, token] { return !stopping_.load() && session_open(token); });
  recording_streams_.fetch_sub(1);
}

int32_t Device::record_files(const proto::RecordQuery& query, proto::RecordList& out) const {
  std::vector<RecordSpan> spans;
  {
    std::lock_guard<std::mutex> hold(state_lock_);
    if (query.channel < 0 || query.channel >= settings_.channels) return proto::status::invalid_parameter;
    spans = recordings::channel_spans(settings_.recordings, query.channel, time(nullptr));
  }
  size_t most = std::min<size_t>(query.most, proto::kMaxRecordFiles);
  out.files.clear();
  for (const auto& f :
       recordings::files_overlapping(spans, recordings::to_epoch(query.start), recordings::to_epoch(query.end),
                                     query.record_type, most)) {
    out.files.push_back(recordings::describe(f));
  }
  return proto::status::ok;
}

int32_t Device::record_month(const proto::RecordMonthQuery& query, proto::RecordMonth& out) const {
  if (query.month < 1 || query.month > 12 || query.year < 1970) return proto::status::invalid_parameter;
  std::vector<RecordSpan> spans;
  {
    std::lock_guard<std::mutex> hold(state_lock_);
    if (query.channel < 0 || query.channel >= settings_.channels) return proto::status::invalid_parameter;
    spans = recordings::channel_spans(settings_.recordings, query.channel, time(nullptr));
  }
  out.day_mask = recordings::month_mask(spans, query.year, query.month, query.record_type);
  return proto::status::ok;
}

void Device::drop_connections() {
  std::lock_guard<std::mutex> hold(connections_lock_);
  for (auto& c : connections_) platform::net::shutdown_both(c->fd);
}

void Device::set_login_error(int code) {
  std::lock_guard<std::mutex> hold(state_lock_);
  settings_.login_error = code;
}

void Device::set_fault(Fault fault) {
  std::lock_guard<std::mutex> hold(state_lock_);
  settings_.fault = fault;
}

void Device::set_alarm_output(size_t index, uint16_t state) {
  std::lock_guard<std::mutex> hold(state_lock_);
  if (index < settings_.alarm_outputs.size()) settings_.alarm_outputs[index] = state;
}

void Device::set_alarm_input(size_t index, uint16_t state) {
  {
    std::lock_guard<std::mutex> hold(state_lock_);
    if (index >= settings_.alarm_inputs.size()) return;
    settings_.alarm_inputs[index] = state;
  }
  alarms_.raise(proto::kAlarmInput, static_cast<int32_t>(index), state != 0);
}

uint16_t Device::answer_search(uint16_t port) { return search_->start(port); }

proto::AlarmSubscribeReply Device::alarm_sizes() const {
  std::lock_guard<std::mutex> hold(state_lock_);
  proto::AlarmSubscribeReply sizes;
  sizes.channels = static_cast<uint16_t>(settings_.channels);
  sizes.alarm_inputs = static_cast<uint16_t>(settings_.alarm_inputs.size());
  return sizes;
}

proto::SearchAnswer Device::search_answer() const {
  std::lock_guard<std::mutex> hold(state_lock_);
  proto::SearchAnswer a;
  a.serial = settings_.serial;
  a.ip = "127.0.0.1";
  a.port = settings_.tcp_port != 0 ? settings_.tcp_port : port_.load();
  a.http_port = settings_.http_port;
  a.model = settings_.model;
  a.name = settings_.name;
  a.mac = "02:00:00:00:00:01";
  return a;
}

void Device::set_channels(int channels) {
  std::lock_guard<std::mutex> hold(state_lock_);
  settings_.channels = channels < 0 ? 0 : (channels > 255 ? 255 : channels);
}

std::vector<uint16_t> Device::alarm_outputs() const {
  std::lock_guard<std::mutex> hold(state_lock_);
  return settings_.alarm_outputs;
}

std::vector<std::vector<uint16_t>> Device::output_writes() const {
  std::lock_guard<std::mutex> hold(state_lock_);
  return output_writes_;
}

int Device::logins_accepted() const {
  std::lock_guard<std::mutex> hold(state_lock_);
  return logins_accepted_;
}

int Device::sessions_open() const {
  std::lock_guard<std::mutex> hold(state_lock_);
  return static_cast<int>(sessions_.size());
}

int Device::io_queries() const {
  std::lock_guard<std::mutex> hold(state_lock_);
  return io_queries_;
}

uint32_t Device::last_login_mode() const {
  std::lock_guard<std::mutex> hold(state_lock_);
  return last_login_mode_;
}

Fault Device::fault_for(uint16_t type) const {
  std::lock_guard<std::mutex> hold(state_lock_);
  const Fault& f = settings_.fault;
  if (f.kind != FaultKind::none && (f.on_type == 0 || f.on_type == type)) return f;
  return Fault{};
}

Device::LoginResult Device::login(const proto::LoginRequest& request) {
  namespace st = proto::status;
  std::lock_guard<std::mutex> hold(state_lock_);
  last_login_mode_ = request.login_mode;
  if (settings_.login_error >= st::login_wrong_password && settings_.login_error <= st::login_too_many_connections)
    return {settings_.login_error, 0};
  const User* user = nullptr;
  for (const auto& u : settings_.users)
    if (u.name == request.user) user = &u;
  if (user == nullptr) return {st::login_no_such_user, 0};
  if (user->locked) return {st::login_locked, 0};
  if (user->blacklisted) return {st::login_blacklisted, 0};
  if (user->password != request.password) return {st::login_wrong_password, 0};
  if (user->exclusive) {
    for (const auto& [token, name] : sessions_)
      if (name == user->name) return {st::login_already_logged_in, 0};
  }
  if (settings_.max_connections > 0 && static_cast<int>(sessions_.size()) >= settings_.max_connections)
    return {st::login_too_many_connections, 0};
  uint32_t token = next_token_++;
  if (next_token_ == 0) next_token_ = 1;
  sessions_[token] = user->name;
  ++logins_accepted_;
  return {st::ok, token};
}

void Device::logout(uint32_t token) {
  {
    std::lock_guard<std::mutex> hold(state_lock_);
    sessions_.erase(token);
  }
  video_->close_viewers(token);  // the login's stream connections end with it
}

bool Device::session_open(uint32_t token) const {
  std::lock_guard<std::mutex> hold(state_lock_);
  return sessions_.count(token) != 0;
}

int32_t Device::channel_config(int32_t channel, proto::ChannelConfig& out) const {
  std::lock_guard<std::mutex> hold(state_lock_);
  if (channel < 0 || channel >= settings_.channels) return proto::status::invalid_parameter;
  out = video::channel_config(settings_, channel);
  return proto::status::ok;
}

int32_t Device::named_config(const proto::NamedConfigRequest& request, std::string& text) const {
  std::lock_guard<std::mutex> hold(state_lock_);
  return video::named_config(settings_, request.name, request.channel, text);
}

int32_t Device::stream_spec(int32_t channel, uint32_t real_play_type, video::StreamKey& key,
                            video::StreamSpec& spec) const {
  int32_t status;
  {
    std::lock_guard<std::mutex> hold(state_lock_);
    status = video::stream_spec(settings_, channel, real_play_type, key, spec);
  }
  if (status == proto::status::ok && spec.scene.ptz) {
    spec.ptz = ptz_head(channel);
    if (spec.ptz != nullptr) spec.scene.view = spec.ptz->view();
  }
  return status;
}

std::shared_ptr<video::PtzHead> Device::ptz_head(int32_t channel) const {
  if (channel < 0 || static_cast<size_t>(channel) >= ptz_heads_.size()) return nullptr;
  return ptz_heads_[static_cast<size_t>(channel)];
}

int32_t Device::ptz_control(const proto::PtzControl& request) {
  {
    std::lock_guard<std::mutex> hold(state_lock_);
    if (request.channel < 0 || request.channel >= settings_.channels) return proto::status::invalid_parameter;
  }
  auto head = ptz_head(request.channel);
  return head != nullptr ? head->control(request) : proto::status::not_supported;
}

proto::LoginReply Device::login_reply(uint32_t token) const {
  std::lock_guard<std::mutex> hold(state_lock_);
  proto::LoginReply r;
  r.session_token = token;
  r.serial = settings_.serial;
  r.channels = static_cast<uint8_t>(settings_.channels);
  r.alarm_inputs = static_cast<uint8_t>(settings_.alarm_inputs.size() > 255 ? 255 : settings_.alarm_inputs.size());
  r.alarm_outputs = static_cast<uint8_t>(settings_.alarm_outputs.size() > 255 ? 255 : settings_.alarm_outputs.size());
  r.disks = 1;
  r.device_type = settings_.channels > 1 ? 1 : 2;  // recorder or camera
  return r;
}

proto::DeviceConfig Device::device_config() const {
  std::lock_guard<std::mutex> hold(state_lock_);
  proto::DeviceConfig c;
  c.serial = settings_.serial;
  c.name = settings_.name;
  c.model = settings_.model;
  c.software_version = settings_.software_version;
  c.device_type = settings_.channels > 1 ? 1 : 2;
  c.channels = static_cast<uint8_t>(settings_.channels);
  c.alarm_inputs = static_cast<uint8_t>(settings_.alarm_inputs.size() > 255 ? 255 : settings_.alarm_inputs.size());
  c.alarm_outputs = static_cast<uint8_t>(settings_.alarm_outputs.size() > 255 ? 255 : settings_.alarm_outputs.size());
  c.disks = 1;
  c.multi_preview = settings_.multi_preview;
  c.video_standard = settings_.video_standard;
  return c;
}

proto::NetworkConfig Device::network_config() const {
  std::lock_guard<std::mutex> hold(state_lock_);
  proto::NetworkConfig c;
  c.host_name = dev_id_.substr(0, 15);
  // The service port as clients name it: through a tunnel, the port the tunnel asks for.
  c.tcp_port = settings_.tcp_port != 0 ? settings_.tcp_port : tunnel_.service_port != 0 ? tunnel_port_ : port_.load();
  c.udp_port = c.tcp_port;
  c.http_port = settings_.http_port;
  c.https_port = settings_.https_port;
  c.max_connections = static_cast<uint16_t>(settings_.max_connections);
  c.address = "127.0.0.1";
  c.netmask = "255.0.0.0";
  c.gateway = "127.0.0.1";
  c.mac = "02:00:00:00:00:01";
  return c;
}

bool Device::io_states(uint32_t io_type, proto::IoStates& out) {
  std::lock_guard<std::mutex> hold(state_lock_);
  const std::vector<uint16_t>* states = nullptr;
  if (io_type == proto::kIoAlarmInput) states = &settings_.alarm_inputs;
  if (io_type == proto::kIoAlarmOutput) states = &settings_.alarm_outputs;
  if (states == nullptr) return false;
  ++io_queries_;
  out.entries.clear();
  for (size_t i = 0; i < states->size() && i < proto::kMaxIoEntries; ++i)
    out.entries.push_back({static_cast<uint16_t>(i), (*states)[i]});
  return true;
}

int32_t Device::io_control(const proto::IoControl& request) {
  std::lock_guard<std::mutex> hold(state_lock_);
  if (request.io_type != proto::kIoAlarmOutput) return proto::status::invalid_parameter;
  if (request.entries.empty() || request.entries.size() > settings_.alarm_outputs.size())
    return proto::status::invalid_parameter;
  std::vector<uint16_t> written;
  for (size_t i = 0; i < request.entries.size(); ++i) {
    settings_.alarm_outputs[i] = request.entries[i].state != 0 ? 1 : 0;
    written.push_back(request.entries[i].state);
  }
  output_writes_.push_back(std::move(written));
  return proto::status::ok;
}

}  // namespace sim::device
