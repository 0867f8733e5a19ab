// Script methods whose work lives in the device model and the device connections. Each traces
// its entry, arguments and exit. The cloud account methods are complete here; the video wall's
// are in kavrel/ui/control_wall.cpp, and the media operations and layouts in kavrel/media.
#include "kavrel/core/traced.h"
#include "kavrel/core/ui_wait.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

void arg(const char* name, const char16_t* text) { trace::wide_value(name, text); }
// Passwords, keys and passes: the trace shows only that one was given.
void secret_arg(const char* name, const char16_t* text) { trace::wide_secret(name, text); }

}  // namespace

#define KAVREL_TRACED(method) TracedMethod traced("CkavrelCtrl::" #method)
#define KAVREL_ARG(name) arg(#name, name)
#define KAVREL_SECRET_ARG(name) secret_arg(#name, name)

// ---- cloud account ----

void CkavrelCtrl::CliCloudInitSimple(const char16_t* szUser, const char16_t* szPass) {
  KAVREL_TRACED(CliCloudInitSimple);
  KAVREL_ARG(szUser);
  KAVREL_SECRET_ARG(szPass);
  // The persistent state is initialised as the object is created; nothing waits for a container.
  m_stopConnecting.store(0);
  m_devListSn.store(-1);
  m_camListSn.store(-1);
  m_accountMode.store(1);
  std::string user = to_narrow(szUser);
  std::string pass = to_narrow(szPass);
  std::string url = to_narrow(m_serverAddr);
  std::string app_pass = to_narrow(m_appPass);
  std::string app_key = to_narrow(m_appKey);
  if (m_cloud.load()->create(m_hClient.load(), app_key.c_str(), app_pass.c_str(), url.c_str(), user.c_str(),
                             pass.c_str(), 0) == 0) {
    PostCmd("{ \"cmd\": \"cmd_get_list\" }");
  }
}

void CkavrelCtrl::CliCloudSync() {
  KAVREL_TRACED(CliCloudSync);
  // The cloud calls below are whole HTTP exchanges: the page stays served while they last.
  const CloudCalls& cloud = *m_cloud.load();
  brixa_handle client = m_hClient.load();
  call_blocking(UiWaitStyle(), [&] { cloud.get_list_sn(client); });
}

void CkavrelCtrl::CliCloudGetDeviceListSp() {
  KAVREL_TRACED(CliCloudGetDeviceListSp);
  const CloudCalls& cloud = *m_cloud.load();
  brixa_handle client = m_hClient.load();
  call_blocking(UiWaitStyle(), [&] { cloud.get_device_list(client); });
}

void CkavrelCtrl::CliCloudGetCamListSp() {
  KAVREL_TRACED(CliCloudGetCamListSp);
  const CloudCalls& cloud = *m_cloud.load();
  brixa_handle client = m_hClient.load();
  call_blocking(UiWaitStyle(), [&] { cloud.get_cam_list(client); });
}

// Devices, alerts, recordings, playback, export, snapshots, audio, PTZ and layouts are in kavrel/media.

}  // namespace kavrel
