// The NetSDK's table of login sessions: login handle -> the control connection to the device.
//
// The table is guarded by its own mutex, held only to find, add or remove an entry; requests
// run on a shared_ptr taken from the table, so NET_Logout never waits for a lock held across a
// network wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "devsdk/netsdk/connection.h"

namespace netsdk {

// What the disconnect notification needs, shared by a login and its connection's lost handler.
struct LossNotice {
  std::atomic<int32_t> handle{0};  // set once the login is in the table
  std::string ip;
  uint16_t port = 0;
  std::atomic<bool> reported{false};  // the disconnect callback runs at most once
};

struct LoginSession {
  int32_t handle = 0;
  std::shared_ptr<Connection> control;
  std::shared_ptr<LossNotice> notice;
  uint32_t session_token = 0;
};

// The session of a login handle, or null (last error NET_ERR_INVALID_HANDLE set).
std::shared_ptr<LoginSession> find_login(int32_t handle);
// NET_Cleanup: closes every login without telling the device.
void close_all_logins();

// Waits from the network parameters, with their defaults.
int request_wait_ms(int32_t wait_ms);  // wait_ms above 0 wins
int connect_wait_ms();

// Sends a request on a login's control connection and sorts out the common failures: false with
// the last error set when there was no reply or the device refused.
bool ask(LoginSession& login, proto::Type type, const std::vector<uint8_t>& payload, int wait_ms,
         std::vector<uint8_t>& reply_payload);

}  // namespace netsdk
