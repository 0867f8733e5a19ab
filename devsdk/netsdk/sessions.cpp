// Login sessions with devices: NET_Login and NET_Logout, and the table of logins.
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "devsdk/netsdk/alarm_listening.h"
#include "devsdk/netsdk/logins.h"
#include "devsdk/netsdk/netsdk.h"
#include "devsdk/netsdk/replies.h"
#include "devsdk/netsdk/sdk_state.h"

namespace netsdk {
namespace {

constexpr int kDefaultWaitMs = 5000;
constexpr int kLogoutSendMs = 1000;

std::mutex table_lock;
std::map<int32_t, std::shared_ptr<LoginSession>> table;  // guarded by table_lock
int32_t next_handle = 1;                                 // guarded by table_lock

int32_t add_login(std::shared_ptr<LoginSession> login) {
  std::lock_guard<std::mutex> hold(table_lock);
  int32_t handle = next_handle;
  // Handles stay positive and are not reused while in the table.
  do {
    next_handle = next_handle == INT32_MAX ? 1 : next_handle + 1;
  } while (table.count(next_handle) != 0);
  login->handle = handle;
  table[handle] = std::move(login);
  return handle;
}

std::shared_ptr<LoginSession> remove_login(int32_t handle) {
  std::lock_guard<std::mutex> hold(table_lock);
  auto it = table.find(handle);
  if (it == table.end()) return nullptr;
  auto login = it->second;
  table.erase(it);
  return login;
}

// Calls the application's disconnect callback once for a login whose connection dropped.
void report_loss(const std::shared_ptr<LossNotice>& notice) {
  int32_t handle = notice->handle.load();
  if (handle <= 0 || notice->reported.exchange(true)) return;
  NET_DisconnectCallback callback;
  intptr_t user;
  {
    auto& s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    if (!s.initialised) return;
    callback = s.on_disconnect;
    user = s.disconnect_user;
  }
  if (callback != nullptr) callback(handle, notice->ip.c_str(), notice->port, user);
}

int32_t fail_login(int32_t* error, int32_t login_error) {
  if (error != nullptr) *error = login_error;
  set_last_error(last_error_from_login_error(login_error));
  return 0;
}

bool sdk_initialised() {
  auto& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.initialised;
}

}  // namespace

int request_wait_ms(int32_t wait_ms) {
  if (wait_ms > 0) return wait_ms;
  auto& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.params.wait_time_ms > 0 ? s.params.wait_time_ms : kDefaultWaitMs;
}

int connect_wait_ms() {
  auto& s = state();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.params.connect_time_ms > 0 ? s.params.connect_time_ms : kDefaultWaitMs;
}

std::shared_ptr<LoginSession> find_login(int32_t handle) {
  {
    std::lock_guard<std::mutex> hold(table_lock);
    auto it = table.find(handle);
    if (it != table.end()) return it->second;
  }
  set_last_error(NET_ERR_INVALID_HANDLE);
  return nullptr;
}

void close_all_logins() {
  std::map<int32_t, std::shared_ptr<LoginSession>> all;
  {
    std::lock_guard<std::mutex> hold(table_lock);
    all.swap(table);
  }
  for (auto& [handle, login] : all) login->control->close();
  join_reaped();
}

bool ask(LoginSession& login, proto::Type type, const std::vector<uint8_t>& payload, int wait_ms,
         std::vector<uint8_t>& reply_payload) {
  auto reply = login.control->request(type, payload, wait_ms);
  if (reply.outcome != Connection::Outcome::replied) {
    set_last_error(NET_ERR_NETWORK_ERROR);
    return false;
  }
  if (reply.status != proto::status::ok) {
    set_last_error(last_error_from_status(reply.status));
    return false;
  }
  reply_payload = std::move(reply.payload);
  return true;
}

}  // namespace netsdk

using netsdk::set_last_error;

extern "C" {

int32_t NET_Login(const char* ip, uint16_t port, const char* user, const char* password, int32_t login_mode,
                  void* reserved, NET_DEVICEINFO* info, int32_t* error) {
  if (error != nullptr) *error = 0;
  if (netsdk::injected_failure("NET_Login")) {
    if (error != nullptr) *error = NET_LOGIN_MAIN_CONNECTION_FAILED;
    return 0;
  }
  if (!netsdk::sdk_initialised()) {
    if (error != nullptr) *error = NET_LOGIN_MAIN_CONNECTION_FAILED;
    set_last_error(NET_ERR_NO_INIT);
    return 0;
  }
  if (ip == nullptr || port == 0 || user == nullptr || password == nullptr || reserved != nullptr) {
    if (error != nullptr) *error = NET_LOGIN_MAIN_CONNECTION_FAILED;
    set_last_error(NET_ERR_ILLEGAL_PARAM);
    return 0;
  }

  platform::net::ConnectResult connected = platform::net::ConnectResult::bad_address;
  auto socket = platform::net::connect_to(ip, port, -1, netsdk::connect_wait_ms(), &connected, platform::net::Blocking::yes);
  if (connected == platform::net::ConnectResult::timed_out) return netsdk::fail_login(error, NET_LOGIN_TIMEOUT);
  if (connected != platform::net::ConnectResult::ok) return netsdk::fail_login(error, NET_LOGIN_MAIN_CONNECTION_FAILED);

  auto notice = std::make_shared<netsdk::LossNotice>();
  notice->ip = ip;
  notice->port = port;
  auto control = netsdk::Connection::create(std::move(socket), proto::kMaxControlPayload);
  control->set_lost_handler([notice](netsdk::Connection::LossReason) { netsdk::report_loss(notice); });
  control->set_push_handler([notice](const proto::Message& m) {
    netsdk::on_alarm_push(notice->handle.load(), notice->ip, notice->port, m);
  });
  control->start();

  proto::LoginRequest request;
  request.login_mode = static_cast<uint32_t>(login_mode);
  request.user = user;
  request.password = password;
  request.client_name = "kavrel-netsdk";
  auto reply = control->request(proto::Type::login, proto::encode(request), netsdk::request_wait_ms(0));
  int32_t login_error = 0;
  proto::LoginReply answer;
  if (reply.outcome == netsdk::Connection::Outcome::timed_out) {
    login_error = NET_LOGIN_TIMEOUT;
  } else if (reply.outcome == netsdk::Connection::Outcome::closed) {
    login_error = NET_LOGIN_MAIN_CONNECTION_FAILED;
  } else if (reply.status != proto::status::ok) {
    login_error = netsdk::login_error_from_status(reply.status);
  } else if (!proto::decode(reply.payload, answer)) {
    login_error = NET_LOGIN_MAIN_CONNECTION_FAILED;
  }
  if (login_error != 0) {
    control->close();
    return netsdk::fail_login(error, login_error);
  }

  auto login = std::make_shared<netsdk::LoginSession>();
  login->control = control;
  login->notice = notice;
  login->session_token = answer.session_token;
  int32_t handle = netsdk::add_login(login);
  notice->handle.store(handle);
  // The connection may have dropped since the reply. If its reader saw no handle to report, the
  // login ends here as a failed connection; if it did report the handle, the login stands and
  // the application has heard of the drop.
  if (!control->alive() && !notice->reported.exchange(true)) {
    netsdk::remove_login(handle);
    control->close();
    return netsdk::fail_login(error, NET_LOGIN_MAIN_CONNECTION_FAILED);
  }
  if (info != nullptr) netsdk::fill_device_info(answer, info);
  set_last_error(0);
  return handle;
}

NET_BOOL NET_Logout(int32_t login_id) {
  if (netsdk::injected_failure("NET_Logout")) return 0;
  auto login = netsdk::remove_login(login_id);
  if (login == nullptr) {
    set_last_error(NET_ERR_INVALID_HANDLE);
    return 0;
  }
  netsdk::forget_alarm_listening(login_id);
  // Tell the device, without waiting for its answer: the login ends here either way. The device
  // closes the connection when it has read the logout, which is no loss.
  login->control->expect_close();
  login->control->send_only(proto::Type::logout, {}, netsdk::kLogoutSendMs);
  login->control->close();
  netsdk::join_reaped();
  set_last_error(0);
  return 1;
}

}  // extern "C"
