// The library's record of one connection to one device of a client, created together with its
// tunnel connector and kept in the client's device list, newest first.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "brixa/alerts/alert_state.h"
#include "brixa/core/intrusive_list.h"
#include "brixa/live/live_channels.h"
#include "platform/threads/thread.h"

struct brixa_client;
struct brixa_connector;

namespace brixa {

constexpr int kDevIdBytes = 128;
constexpr int kUserBytes = 64;
constexpr int kPasswordBytes = 32;

// Guarded by the owning client's device list lock, except where a field says otherwise. (The
// lock belongs to the client record, so the fields carry no annotation of their own: every
// function that touches them REQUIRES(client->device_list_lock).)
struct device_session {
  ListLink link;  // first member: the device list links sessions through it

  brixa_client* client = nullptr;
  brixa_connector* connector = nullptr;
  char dev_id[kDevIdBytes] = {};
  uint16_t dev_port = 0;
  uint16_t local_port = 0;
  uint16_t mapped_port = 0;
  char user[kUserBytes] = {};
  char password[kPasswordBytes] = {};
  int32_t login_handle = 0;  // logged in while above 0
  int32_t relogin = 0;       // read by the tunnel check; nothing sets it
  int32_t channel_count = 0;
  int32_t login_count = 0;
  int32_t alarm_input_count = 0;
  int32_t alarm_output_count = 0;

  // The device-information thread never reads the session: it works on copies and polls this
  // flag, which it co-owns, so a thread that outlives its stop bound never touches freed memory.
  // Stop, logout, reset and release clear the flag and end the thread.
  std::shared_ptr<std::atomic<int32_t>> device_info_running = std::make_shared<std::atomic<int32_t>>(0);
  platform::Thread device_info_thread;

  // Live streams, fisheye and resolution cache of the session's channels.
  live::LiveChannels live;

  // The playback and the backup (download) running on this session, 0 when none (brixa/record).
  int32_t playback_handle = 0;
  int32_t backup_handle = 0;
  // Alert listening flags and the alarm states last seen.
  alerts::AlertState alerts;

  static device_session* from_link(ListLink* link) { return reinterpret_cast<device_session*>(link); }
};

}  // namespace brixa
