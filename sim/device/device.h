// A simulated recorder or camera serving the device wire protocol on 127.0.0.1, and, when its
// settings name a tunnel service, registered there under its identifier through an embedded
// device agent that relays tunnel streams to its service port.
//
// Threads: the accept thread, one thread per connection (a playback or download is sent on its
// connection's thread) and the agent's threads, all started
// by start() and stopped and joined by stop() (or the destructor). The device's state (settings, logins,
// alarm I/O, switches, counters) is guarded by `state_lock_`; the connection list by
// `connections_lock_`. Both are taken briefly and never together with a socket wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "devsdk/proto/alarms.h"
#include "devsdk/proto/messages.h"
#include "devsdk/proto/ptz.h"
#include "sim/device/alarms/alarm_driver.h"
#include "sim/device/alarms/alarm_hub.h"
#include "sim/device/http_page.h"
#include "sim/device/search/search_responder.h"
#include "sim/device/settings.h"
#include "sim/device/video/video_source.h"

namespace sim::tunnel {
class DeviceAgent;
}

namespace sim::device {

// The device port a tunnel reaches the service port by, when the settings give none.
inline constexpr uint16_t kDefaultServicePort = 37777;

class Device {
 public:
  explicit Device(Settings settings);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Listens on 127.0.0.1 (settings.listen_port, or an ephemeral port) and starts the agent.
  // False when it cannot listen.
  bool start();
  void stop();
  uint16_t port() const { return port_.load(); }
  // The device port that tunnels ask for to reach the service port.
  uint16_t tunnel_port() const { return tunnel_port_; }
  // True once the agent is registered with the tunnel service (false without a tunnel).
  bool wait_tunnel_registered(uint32_t timeout_ms) const;
  const std::string& dev_id() const { return dev_id_; }
  // The device's web page, offered through the tunnel as its HTTP port.
  const HttpPage& page() const { return page_; }

  // ---- Switches, from any thread ----
  void set_login_error(int code);  // 0 clears
  void set_fault(Fault fault);
  void set_alarm_output(size_t index, uint16_t state);
  void set_alarm_input(size_t index, uint16_t state);
  void set_channels(int channels);
  // Cuts every open connection at once, as a device that loses its network.
  void drop_connections();
  // Raises (or clears) an alarm of kind 0x2101-0x2107 on a channel and pushes it to every
  // subscribed control connection. Alarm inputs switched by set_alarm_input raise 0x2101.
  void raise_alarm(uint32_t kind, int32_t channel, bool on) { alarms_.raise(kind, channel, on); }
  const AlarmHub& alarms() const { return alarms_; }
  // Answers the LAN search on UDP `port` of the loopback broadcast address (0: an ephemeral
  // port, which further devices may then share). The port, or 0 when it cannot listen.
  uint16_t answer_search(uint16_t port);
  const SearchResponder& search_responder() const { return *search_; }

  // ---- What happened, for tests ----
  std::vector<uint16_t> alarm_outputs() const;
  // Every output write received, each as the whole list of states it carried.
  std::vector<std::vector<uint16_t>> output_writes() const;
  int logins_accepted() const;
  int sessions_open() const;
  int io_queries() const;
  int connections_accepted() const { return connections_accepted_.load(); }
  uint32_t last_login_mode() const;
  // The device's live streams: streams and viewers open, pictures made.
  const video::VideoSource& video() const { return *video_; }
  // Playbacks and downloads being sent now.
  int recording_streams() const { return recording_streams_.load(); }
  // The pan-tilt-zoom head of a PTZ channel, null for other channels.
  std::shared_ptr<video::PtzHead> ptz_head(int32_t channel) const;

  // ---- Used by the protocol logic of a connection (control_session.cpp) ----
  struct LoginResult {
    int32_t status = 0;
    uint32_t token = 0;
  };
  Fault fault_for(uint16_t type) const;
  LoginResult login(const proto::LoginRequest& request);
  void logout(uint32_t token);
  proto::LoginReply login_reply(uint32_t token) const;
  proto::DeviceConfig device_config() const;
  proto::NetworkConfig network_config() const;
  // A reply status; `out` filled on ok.
  int32_t channel_config(int32_t channel, proto::ChannelConfig& out) const;
  int32_t named_config(const proto::NamedConfigRequest& request, std::string& text) const;
  // What a live stream of `real_play_type` on `channel` shows; a reply status.
  int32_t stream_spec(int32_t channel, uint32_t real_play_type, video::StreamKey& key, video::StreamSpec& spec) const;
  bool session_open(uint32_t token) const;
  // Record queries: a reply status; `out` filled on ok.
  int32_t record_files(const proto::RecordQuery& query, proto::RecordList& out) const;
  int32_t record_month(const proto::RecordMonthQuery& query, proto::RecordMonth& out) const;
  // Alarm input (1) or output (2) states; false for another kind.
  bool io_states(uint32_t io_type, proto::IoStates& out);
  int32_t io_control(const proto::IoControl& request);  // a reply status
  int32_t ptz_control(const proto::PtzControl& request);  // a reply status
  // Alarm subscriptions of a control connection.
  AlarmHub& alarm_hub() { return alarms_; }
  proto::AlarmSubscribeReply alarm_sizes() const;
  proto::SearchAnswer search_answer() const;

 private:
  struct Connection {
    std::thread thread;
    int fd = -1;
    std::atomic<bool> done{false};
  };

  void accept_loop();
  void serve(Connection* connection);
  // A stream connection after its bind: sends the stream until either side ends it.
  void serve_stream(int fd, proto::FrameReader& frames, const proto::BindRequest& bind, uint32_t bind_id);
  // A playback or download connection after its bind (recordings/recording_stream.h).
  void serve_recording(int fd, proto::FrameReader& frames, const proto::BindRequest& bind, uint32_t bind_id);
  void join_finished_connections();

  const std::string dev_id_;
  const TunnelLink tunnel_;
  const uint16_t tunnel_port_;
  HttpPage page_;
  std::unique_ptr<sim::tunnel::DeviceAgent> agent_;  // owned by start() and stop()
  std::atomic<uint16_t> port_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_accepted_{0};
  std::atomic<int> recording_streams_{0};
  int listen_fd_ = -1;  // owned; written by start() and stop() only
  std::thread accept_thread_;

  mutable std::mutex state_lock_;
  Settings settings_;                              // guarded by state_lock_
  std::map<uint32_t, std::string> sessions_;       // login token -> user; guarded
  uint32_t next_token_ = 0x1000;                   // guarded
  std::vector<std::vector<uint16_t>> output_writes_;  // guarded
  int logins_accepted_ = 0;                        // guarded
  int io_queries_ = 0;                             // guarded
  uint32_t last_login_mode_ = 0;                   // guarded

  std::unique_ptr<video::VideoSource> video_ = std::make_unique<video::VideoSource>();
  // One head per PTZ channel (settings.video.ptz), made at construction; immutable after it.
  std::vector<std::shared_ptr<video::PtzHead>> ptz_heads_;

  AlarmHub alarms_;
  std::unique_ptr<AlarmDriver> alarm_driver_;  // owned by start() and stop()
  std::unique_ptr<SearchResponder> search_ = std::make_unique<SearchResponder>([this] { return search_answer(); });

  std::mutex connections_lock_;
  std::list<std::unique_ptr<Connection>> connections_;  // guarded by connections_lock_
};

}  // namespace sim::device
