// Reaching a device: its tunnels, the login through the tunnel, the add-device and login
// workers, the device web page tunnels and the service-port queries.
//
// Workers reach the control only as the current control, for their whole round: once the
// control stops being current no worker is inside it. Their device record is their own
// reference (shared ownership), so CliDelDevice never frees a record under a worker.
#include <chrono>
#include <thread>

#include "kavrel/core/callback_names.h"
#include "kavrel/core/current_control.h"
#include "kavrel/core/traced.h"
#include "kavrel/core/ui_wait.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "platform/net/socket_io.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

// How often a login looks at its tunnel's status (and a worker at the description it awaits),
// and how long it waits for the tunnel.
constexpr auto kPoll = std::chrono::milliseconds(100);
constexpr auto kExistingTunnelWait = std::chrono::seconds(30);
constexpr auto kNewTunnelWait = std::chrono::seconds(6);

int32_t low_word(const void* handle) {
  return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)));
}

uint16_t port16(int32_t port) { return static_cast<uint16_t>(port); }

}  // namespace

WaitStyle CkavrelCtrl::UiWaitStyle() const {
  // A control being taken apart waits blocking: nothing may reach it through a message then.
  return OnApartment() && m_stopConnecting.load() == 0 ? WaitStyle::serve_messages : WaitStyle::block;
}

// ---- login ----

int CkavrelCtrl::LoginDev(const std::shared_ptr<DevInfo>& device) {
  TracedMethod traced("CkavrelCtrl::LoginDev");
  if (device == nullptr) {
    trace::missing_device_record("pDevice");
    trace::error("CkavrelCtrl::LoginDev", 4112, "Null device info");
    return -10;
  }
  trace::device_record("pDevice", device->id.c_str(), device->text(&DevInfo::name).c_str(), device->online.load(),
                       device->logincount.load());
  brixa_handle client = m_hClient.load();
  // On the user-interface thread (a service-port query) the waits serve its messages; a quit of
  // that thread gives the login up.
  WaitStyle style = UiWaitStyle();
  bool quit = false;
  auto given_up = [&] { return quit || device->abortLogin.load() || m_stopConnecting.load() != 0; };
  auto event = [&](int32_t tag2) {
    Callback(0, 0, kEventLogin, 0, tag2, device->id.c_str(), static_cast<int32_t>(device->id.size()));
  };
  auto log_in = [&] {
    int32_t port = brixa_connnect_get_mapped_port(client, device->tcpConnection.load());
    std::string user = device->text(&DevInfo::dev_user);
    std::string pass = device->text(&DevInfo::dev_pass);
    return call_blocking(style, [&] {
      return brixa_login(client, device->id.c_str(), port16(port), user.c_str(), pass.c_str());
    });
  };
  // Waits for tcpConnectionStatus 1; ends early on abort, shutdown, or -4/-1.
  auto wait_up = [&](std::chrono::milliseconds limit) {
    auto settled = [&] {
      int32_t status = device->tcpConnectionStatus.load();
      return status == 1 || status == -4 || status == -1 || given_up();
    };
    if (wait_until(style, settled, limit, kPoll) == WaitEnd::quit) quit = true;
    return device->tcpConnectionStatus.load() == 1;
  };

  if (device->tcpConnection.load() != nullptr) {
    if (!wait_up(kExistingTunnelWait)) {
      if (given_up()) return -1;
      trace::error("CkavrelCtrl::LoginDev", 4134, "start login p2p fail (3784)");
      event(-3);
      return -10;
    }
    if (given_up()) return -1;
    trace::step("start login (3798)");
    int32_t r = log_in();
    if (r == 0) {
      trace::step("start login success (3802)");
      device->logincount.fetch_add(1);
      return 0;
    }
    if (r == 1) {
      trace::step("start login fail (3809)");
      event(-3);
      return -11;
    }
    trace::step("start login fail (3822)");
    event(r);
    return r;
  }

  device->tcpConnectionStatus.store(0);
  for (int attempt = 0; attempt < kTunnelTries && !given_up(); ++attempt) {
    brixa_connection c = call_blocking(style, [&] {
      return brixa_create_connect(client, device->id.c_str(), port16(device->dev_port.load()), 0);
    });
    device->tcpConnection.store(c);
    device->tcpConnectionRenewed.store(false);
    if (c != nullptr) break;
    if (wait_until(style, given_up, kTunnelRetryPause) == WaitEnd::quit) quit = true;
  }
  trace::step("start login p2p connect (3850)");
  bool up = wait_up(kNewTunnelWait);
  if (given_up()) return -1;
  if (!up) {
    trace::step("start login p2p connect fail (3867)");
    event(-1);
    return -10;
  }
  trace::step("start login p2p connect login (3880)");
  int32_t r = log_in();
  if (r == 0) {
    trace::step("start login p2p connect login success (3884)");
    device->logincount.fetch_add(1);
    return 0;
  }
  if (r == 1) {
    trace::step("start login p2p connect login fail (3891)");
    event(-3);
    return -11;
  }
  trace::step("start login p2p connect login fail2 (3904)");
  event(r);
  return r;
}

void CkavrelCtrl::SuspendLoginDev(const std::shared_ptr<DevInfo>& device) {
  TracedMethod traced("CkavrelCtrl::SuspendLoginDev");
  if (device == nullptr) {
    trace::error("CkavrelCtrl::SuspendLoginDev", 4100, "Null device info");
    return;
  }
  device->abortLogin.store(true);
}

void CkavrelCtrl::LogoutDev(const std::shared_ptr<DevInfo>& device) {
  TracedMethod traced("CkavrelCtrl::LogoutDev");
  if (device == nullptr) return;
  brixa_logout(m_hClient.load(), device->id.c_str());
  if (std::shared_ptr<DevInfo> entered = m_devices.find(device->id)) entered->logincount.fetch_sub(1);
}

// ---- workers ----

namespace {

// Waits while the description is awaited; false when the wait was given up.
bool wait_description(const DevInfo& device, TaskWorker::Context& context, bool honour_abort) {
  while (device.devInfoResult.load() == kDevInfoAwaited) {
    if (!context.running() || (honour_abort && device.abortLogin.load())) return false;
    context.idle(static_cast<uint32_t>(kPoll.count()));
  }
  return true;
}

}  // namespace

void CkavrelCtrl::StartAddDeviceThread(const std::shared_ptr<DevInfo>& device) {
  TracedMethod traced("CkavrelCtrl::StartAddDeviceThread");
  if (device == nullptr) return;
  WaitStyle style = UiWaitStyle();
  brixa_handle client = m_hClient.load();
  std::lock_guard<std::mutex> hold(device->worker_lock);
  device->worker.stop(kThreadStopTimeoutMs, style);
  call_blocking(style, [&] { brixa_stop_get_device_info(client, device->id.c_str()); });
  device->worker.start([self = this, device](TaskWorker::Context& context) {
    TracedMethod body("add_device_address");
    CurrentControl::use(self, [&](CkavrelCtrl& control) {
      if (!context.running()) return;
      brixa_handle current_client = control.m_hClient.load();
      auto event = [&](int32_t tag2) {
        control.Callback(0, 0, kEventAddDevice, 0, tag2, device->id.c_str(), static_cast<int32_t>(device->id.size()));
      };
      device->abortLogin.store(false);
      int r = control.LoginDev(device);
      if (r == 0) {
        brixa_start_get_device_info(current_client, device->id.c_str());
        if (wait_description(*device, context, false)) {
          int32_t result = device->devInfoResult.load();
          if (result == 0) {
            event(1);
          } else if (result == -1 && device->status_sp.load() == 0) {
            event(-2);
          }
        }
      } else if (r == -10) {
        if (device->status_sp.load() == 0) event(-3);
        if (device->status_sp.load() != 3) {
          device->status_sp.store(3);
          control.UpdateCamInfoToServer();
        }
      } else if (r == -11) {
        if (device->status_sp.load() == 3) {
          device->status_sp.store(4);
          control.UpdateCamInfoToServer();
          event(-4);
        } else {
          device->devInfoResult.store(-1);
          event(-5);
        }
      } else if (r != -1) {
        device->devInfoResult.store(-1);
        if (device->status_sp.load() == 0) event(-6);
      }
      // The add-device round leaves the device logged out with its tunnel open. Only a login
      // of this round is taken back, so the count never goes below the logins still held.
      if (r == 0) {
        brixa_logout(current_client, device->id.c_str());
        device->logincount.fetch_sub(1);
      }
    });
  }, style);
}

void CkavrelCtrl::StopAddDeviceThread(const std::shared_ptr<DevInfo>& device) {
  TracedMethod traced("CkavrelCtrl::StopAddDeviceThread");
  if (device == nullptr) return;
  WaitStyle style = UiWaitStyle();
  brixa_handle client = m_hClient.load();
  std::lock_guard<std::mutex> hold(device->worker_lock);
  // The description thread is told first, so a worker waiting for it ends with it.
  device->abortLogin.store(true);
  call_blocking(style, [&] { brixa_stop_get_device_info(client, device->id.c_str()); });
  device->worker.stop(kThreadStopTimeoutMs, style);
}

void CkavrelCtrl::StartLoginDeviceP2PDevThread(const std::shared_ptr<DevInfo>& device) {
  TracedMethod traced("CkavrelCtrl::StartLoginDeviceP2PDevThread");
  if (device == nullptr) return;
  WaitStyle style = UiWaitStyle();
  std::lock_guard<std::mutex> hold(device->worker_lock);
  device->worker.stop(kThreadStopTimeoutMs, style);
  device->worker.start([self = this, device](TaskWorker::Context& context) {
    TracedMethod body("login_device_p2p_address");
    auto started = std::chrono::steady_clock::now();
    CurrentControl::use(self, [&](CkavrelCtrl& control) {
      if (!context.running()) return;
      device->abortLogin.store(false);
      int r = control.LoginDev(device);
      if (r == 0 && !device->abortLogin.load()) {
        device->devInfoResult.store(kDevInfoAwaited);
        brixa_start_get_device_info(control.m_hClient.load(), device->id.c_str());
        if (!wait_description(*device, context, true)) return;
        int32_t result = device->devInfoResult.load();
        control.Callback(0, 0, kEventGetDevInfo, 0, result == 0 ? 1 : result == -1 ? -2 : -3, device->id.c_str(),
                         static_cast<int32_t>(device->id.size()));
      }
    });
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    trace::value("ElapsedLoginTime", static_cast<int>(elapsed.count()));
  }, style);
}

void CkavrelCtrl::StopLoginDeviceP2PDevThread(const std::shared_ptr<DevInfo>& device) {
  TracedMethod traced("CkavrelCtrl::StopLoginDeviceP2PDevThread");
  StopAddDeviceThread(device);
}

// ---- tunnels ----

void CkavrelCtrl::ReleaseDevP2P(const std::shared_ptr<DevInfo>& device) {
  TracedMethod traced("CkavrelCtrl::ReleaseDevP2P");
  if (device == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(m_webDeviceLock);
    if (m_currentWebDevice == nullptr) return;
    if (m_currentWebDevice == device) m_currentWebDevice = nullptr;
  }
  brixa_handle client = m_hClient.load();
  if (brixa_connection c = device->webConnection.exchange(nullptr)) brixa_release_connect(client, c);
  if (brixa_connection c = device->webTcpConnection.exchange(nullptr)) brixa_release_connect(client, c);
  device->webConnectionStatus.store(0);
  device->webTcpConnectionStatus.store(0);
}

void CkavrelCtrl::CreateDevP2PConnect(const std::shared_ptr<DevInfo>& device) {
  TracedMethod traced("CkavrelCtrl::CreateDevP2PConnect");
  std::shared_ptr<DevInfo> previous;
  {
    std::lock_guard<std::mutex> hold(m_webDeviceLock);
    previous = m_currentWebDevice;
  }
  if (previous != nullptr) ReleaseDevP2P(previous);
  brixa_handle client = m_hClient.load();
  WaitStyle style = UiWaitStyle();
  auto stopping = [&] { return m_stopConnecting.load() != 0; };
  // One tunnel, tried up to three times with a pause between tries.
  auto connect = [&](uint16_t dev_port, uint16_t local_port, std::atomic<brixa_connection>& slot,
                     std::atomic<bool>& renewed, std::atomic<int32_t>* status_each_try) {
    for (int attempt = 0; attempt < kTunnelTries && !stopping(); ++attempt) {
      if (status_each_try != nullptr) status_each_try->store(0);
      brixa_connection c = call_blocking(
          style, [&] { return brixa_create_connect(client, device->id.c_str(), dev_port, local_port); });
      slot.store(c);
      renewed.store(false);
      if (c != nullptr) return;
      if (wait_until(style, stopping, kTunnelRetryPause) == WaitEnd::quit) return;
    }
  };
  if (device->webConnection.load() == nullptr) {
    device->webConnectionStatus.store(0);
    connect(port16(device->dev_http_port.load()), 0, device->webConnection, device->webConnectionRenewed, nullptr);
  }
  if (device->webTcpConnection.load() == nullptr) {
    uint16_t port = port16(device->dev_port.load());
    if (!platform::net::loopback_port_in_use(port)) {
      connect(port, port, device->webTcpConnection, device->webTcpConnectionRenewed, &device->webTcpConnectionStatus);
    } else {
      trace::error("CkavrelCtrl::CreateDevP2PConnect", 2625, "Local TCP port is already used");
      FireCliCallBackMsg(0, low_word(client), kEventHttpUrl, port, 10, u"", 0);
    }
  }
  std::lock_guard<std::mutex> hold(m_webDeviceLock);
  m_currentWebDevice = device;
}

// ---- script methods ----

namespace {

// Fills a record from the script's arguments, as the add-device and direct-login methods do.
void fill_device(DevInfo& device, const std::string& name, const std::string& user, const std::string& pass,
                 int32_t port, int32_t http_port) {
  {
    std::lock_guard<std::mutex> hold(device.lock);
    device.name = fit_field(device.id.c_str(), kDevTextField);
    if (!name.empty()) device.name = fit_field(name.c_str(), kDevTextField);
    device.dev_user = fit_field(user.c_str(), kLoginField);
    device.dev_pass = fit_field(pass.c_str(), kLoginField);
  }
  device.dev_port.store(port);
  device.dev_http_port.store(http_port);
  device.devInfoResult.store(kDevInfoAwaited);
  device.status_sp.store(0);
}

}  // namespace

void CkavrelCtrl::CliAddDeviceP2P(const char16_t* szDeviceId, const char16_t* szDevUser, const char16_t* szDevPass,
                                  const char16_t* szDevName, int32_t szDevPort, int32_t szHttpPort) {
  TracedMethod traced("CkavrelCtrl::CliAddDeviceP2P");
  trace::wide_value("szDeviceId", szDeviceId);
  trace::wide_value("szDevUser", szDevUser);
  trace::wide_secret("szDevPass", szDevPass);
  trace::wide_value("szDevName", szDevName);
  trace::value("szDevPort", szDevPort);
  trace::value("szHttpPort", szHttpPort);
  std::string id = fit_field(to_narrow(szDeviceId).c_str(), kIdField);
  std::shared_ptr<DevInfo> device = m_devices.find_or_add(id);
  fill_device(*device, to_narrow(szDevName), to_narrow(szDevUser), to_narrow(szDevPass), szDevPort, szHttpPort);
  StartAddDeviceThread(device);
}

void CkavrelCtrl::CliLoginDeviceP2PDev(const char16_t* szDeviceId, const char16_t* szDevUser,
                                       const char16_t* szDevPass, int32_t szDevPort, int32_t szHttpPort) {
  TracedMethod traced("CkavrelCtrl::CliLoginDeviceP2PDev");
  trace::wide_value("szDeviceId", szDeviceId);
  trace::wide_value("szDevUser", szDevUser);
  trace::wide_secret("szDevPass", szDevPass);
  trace::value("szDevPort", szDevPort);
  trace::value("szHttpPort", szHttpPort);
  m_stopConnecting.store(0);
  m_accountMode.store(2);
  std::string id = fit_field(to_narrow(szDeviceId).c_str(), kIdField);
  std::shared_ptr<DevInfo> device = m_devices.find_or_add(id);
  fill_device(*device, std::string(), to_narrow(szDevUser), to_narrow(szDevPass), szDevPort, szHttpPort);
  StartLoginDeviceP2PDevThread(device);
}

void CkavrelCtrl::CliLoginoutDeviceP2PDev(const char16_t* szDeviceId) {
  TracedMethod traced("CkavrelCtrl::CliLoginoutDeviceP2PDev");
  trace::wide_value("szDeviceId", szDeviceId);
  std::shared_ptr<DevInfo> device = m_devices.find(to_narrow(szDeviceId));
  if (device == nullptr) {
    trace::error("CkavrelCtrl::CliLoginoutDeviceP2PDev", 5710, "Device info not found (5280)");
    return;
  }
  StopLoginDeviceP2PDevThread(device);
  brixa_handle client = m_hClient.load();
  WaitStyle style = UiWaitStyle();
  if (device->logincount.load() > 0) {
    call_blocking(style, [&] { brixa_logout(client, device->id.c_str()); });
    device->logincount.fetch_sub(1);
  }
  if (brixa_connection c = device->tcpConnection.exchange(nullptr)) {
    call_blocking(style, [&] { brixa_release_connect(client, c); });
  }
}

void CkavrelCtrl::CliOpenDeviceWeb(const char16_t* szDevID) {
  TracedMethod traced("CkavrelCtrl::CliOpenDeviceWeb");
  trace::wide_value("szDevID", szDevID);
  std::shared_ptr<DevInfo> device = m_devices.find(to_narrow(szDevID));
  if (device == nullptr) {
    trace::error("CkavrelCtrl::CliOpenDeviceWeb", 4082, "Device info not found");
    return;
  }
  CreateDevP2PConnect(device);
}

void CkavrelCtrl::CliSetP2PPortRange(int32_t lRangeStart, int32_t lRangeEnd) {
  TracedMethod traced("CkavrelCtrl::CliSetP2PPortRange");
  trace::value("lRangeStart", lRangeStart);
  trace::value("lRangeEnd", lRangeEnd);
  brixa_set_port_range(lRangeStart, lRangeEnd);
}

int32_t CkavrelCtrl::CliGetHTTPPort(const char16_t* szDeviceID) {
  TracedMethod traced("CkavrelCtrl::CliGetHTTPPort");
  trace::wide_value("szDeviceID", szDeviceID);
  std::shared_ptr<DevInfo> device = m_devices.find(to_narrow(szDeviceID));
  if (device == nullptr) {
    trace::error("CkavrelCtrl::CliGetHTTPPort", 238, "Device info not found (5280)");
    return 0;
  }
  if (!m_bInitialised) {
    trace::error("CkavrelCtrl::CliGetHTTPPort", 256, "AX control not initialized (255)");
    return 0;
  }
  if (device->logincount.load() == 0) {
    device->abortLogin.store(false);
    if (LoginDev(device) != 0) {
      trace::error("CkavrelCtrl::CliGetHTTPPort", 249, "Cannot login to device (249)");
      return 0;
    }
  }
  brixa_handle client = m_hClient.load();
  return call_blocking(UiWaitStyle(), [&] { return brixa_get_HTTP_port(client, device->id.c_str()); });
}

int32_t CkavrelCtrl::CliGetHTTPSPort(const char16_t* szDeviceID) {
  TracedMethod traced("CkavrelCtrl::CliGetHTTPSPort");
  trace::wide_value("szDeviceID", szDeviceID);
  std::shared_ptr<DevInfo> device = m_devices.find(to_narrow(szDeviceID));
  if (device == nullptr) {
    trace::error("CkavrelCtrl::CliGetHTTPSPort", 286, "Device info not found (5280)");
    return 0;
  }
  if (device->logincount.load() < 1) return 0;
  brixa_handle client = m_hClient.load();
  return call_blocking(UiWaitStyle(), [&] { return brixa_get_HTTPS_port(client, device->id.c_str()); });
}

int32_t CkavrelCtrl::CliGetTCPPort(const char16_t* szDeviceID) {
  TracedMethod traced("CkavrelCtrl::CliGetTCPPort");
  trace::wide_value("szDeviceID", szDeviceID);
  std::shared_ptr<DevInfo> device = m_devices.find(to_narrow(szDeviceID));
  if (device == nullptr) {
    trace::error("CkavrelCtrl::CliGetTCPPort", 320, "Device info not found (5280)");
    return 0;
  }
  if (device->logincount.load() < 1) return 0;
  brixa_handle client = m_hClient.load();
  return call_blocking(UiWaitStyle(), [&] { return brixa_get_TCP_port(client, device->id.c_str()); });
}

}  // namespace kavrel
