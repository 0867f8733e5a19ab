// What one simulated recorder or camera is: its identity, logins, alarm I/O, reported ports and
// the faults it shows on demand.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/device/alarms/alarm_settings.h"

namespace sim::device {

struct User {
  std::string name;
  std::string password;
  bool locked = false;       // login refused with 5
  bool blacklisted = false;  // login refused with 6
  bool exclusive = false;    // a second login while one is open is refused with 4
};

// Misbehaviour switched on for the requests of one message type (0: every request, login
// included).
enum class FaultKind {
  none,
  drop,       // close the connection instead of answering
  stall,      // never answer; keep the connection open
  garbage,    // answer with bytes that are not a message
  oversized,  // answer with a header announcing a payload far above any limit
  refuse,     // answer with status not_supported; the connection stays
};

struct Fault {
  FaultKind kind = FaultKind::none;
  uint16_t on_type = 0;
};

// The tunnel service the device registers with, so clients reach it by identifier. The device
// offers its service port through the tunnel as `tcp_port` (37777 when that is 0).
struct TunnelLink {
  std::string service_host = "127.0.0.1";
  uint16_t service_port = 0;  // 0: the device is not registered anywhere
  std::string port_key = "vakP60372";
};

// What the device's cameras show (sim/device/README.md, "Video").
struct VideoSettings {
  std::vector<std::string> channel_names;  // drawn into each channel's picture; "Canal N" beyond
  bool fisheye = false;    // a one-channel camera with a fisheye lens: circular picture
  bool extra_cif = false;  // extra stream 352 x 288 (240) instead of 704 x 576 (480)
  std::vector<bool> ptz;   // channels with a pan-tilt-zoom head; none beyond the list
};

// A stretch of recording on one channel (or, with channel -1, on every channel), cut into files
// of `file_seconds` (the last one shorter). Times are seconds since the epoch; nothing is
// recorded after the present, so a span reaching past it ends there.
struct RecordSpan {
  int32_t channel = 0;
  int64_t start = 0;
  int64_t end = 0;  // after start
  int32_t file_seconds = 3600;
  uint8_t record_type = 0;  // 0 regular, 1 alarm, 2 motion, 3 card
};

struct Settings {
  std::string dev_id = "KVR-TEST";
  std::string name = "Gravador";
  std::string model = "NVR-4";
  std::string serial;  // empty: derived from dev_id
  std::string software_version = "2.1.0";
  int channels = 4;    // 0 to 255
  std::vector<User> users{{"admin", "admin"}};
  int max_connections = 16;  // logged-in sessions at once; 0: no limit
  std::vector<uint16_t> alarm_inputs{0, 0, 0, 0};  // states; the count is the number of inputs
  std::vector<uint16_t> alarm_outputs{0, 0};       // at most 255
  uint16_t tcp_port = 0;    // reported service port; 0: 37777 behind a tunnel, else the listening port
  uint16_t http_port = 80;  // reported
  uint16_t https_port = 443;
  uint8_t multi_preview = 4;
  uint8_t video_standard = 0;
  uint16_t listen_port = 0;  // 0: an ephemeral port on 127.0.0.1
  int login_error = 0;       // 1-10: every login is refused with that code
  Fault fault;
  TunnelLink tunnel;
  VideoSettings video;
  // The recordings of every channel; without them each channel has the default schedule
  // (sim/device/README.md, "Recordings").
  std::optional<std::vector<RecordSpan>> recordings;
  AlarmSettings alarms;         // alarms the device raises on its own
  uint16_t discovery_port = 0;  // answers the LAN search on this UDP port; 0: does not
};

}  // namespace sim::device
