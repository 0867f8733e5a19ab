// The life of the control: construction, CliInit, CliUnInit, window creation and destruction,
// destruction of the object.
#include <atomic>
#include <exception>

#include "kavrel/core/current_control.h"
#include "kavrel/core/traced.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "kavrel/ui/video_wnd_manager.h"
#include "platform/gdi/gdiplus.h"
#include "platform/net/socket_io.h"
#include "platform/window/browser_save.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

constexpr uint16_t kProbedDevicePort = 37777;

// GDI+ start-up is process-wide: the first control window starts it and keeps its token, the
// window's destruction shuts it down. User-interface thread only.
bool gdiplus_started = false;
platform::Gdiplus::ULONG_PTR gdiplus_token = 0;

void start_drawing() {
  if (gdiplus_started) return;
  platform::Gdiplus::GdiplusStartupInput input;
  if (platform::Gdiplus::GdiplusStartup(&gdiplus_token, &input, nullptr) == platform::Gdiplus::Ok) {
    gdiplus_started = true;
  }
}

void shut_drawing_down() {
  if (!gdiplus_started) return;
  platform::Gdiplus::GdiplusShutdown(gdiplus_token);
  gdiplus_token = 0;
  gdiplus_started = false;
}

// Decrypts one of CliInit's encrypted arguments into a zeroed buffer and reads the result as
// zero-terminated text.
std::string decrypt_argument(const char16_t* cipher) {
  std::string narrow = to_narrow(cipher);
  if (narrow.empty()) return {};
  char plain[kDecryptBufferSize] = {};
  brixa_aes_decrypt(narrow.c_str(), plain, kArgumentPassPhrase);
  plain[sizeof plain - 1] = 0;
  return plain;
}

}  // namespace

CkavrelCtrl::CkavrelCtrl() : m_apartment(std::this_thread::get_id()) {
  TracedMethod traced("CkavrelCtrl::CkavrelCtrl");
  trace::value("BuildDate", __DATE__);
  trace::value("BuildNumber", CliGetBuild());
  if (platform::net::loopback_port_in_use(kProbedDevicePort)) {
    trace::step("TCP port 37777 is NOT available");
  } else {
    trace::step("TCP port 37777 is available");
  }
  LoadChannelResolutionList();
}

CkavrelCtrl::~CkavrelCtrl() {
  TracedMethod traced("CkavrelCtrl::~CkavrelCtrl");
  // A host that lets go of the control without deactivating it first: the window goes now, on
  // its own thread, so its procedure never reaches a freed control; elsewhere it is cut loose.
  if (m_hWnd != nullptr) {
    if (platform::get_window_thread(m_hWnd) == std::this_thread::get_id()) {
      platform::destroy_window(m_hWnd);
    } else {
      platform::set_window_data(m_hWnd, nullptr);
      platform::kill_timer(m_hWnd, kEventTimerId);
      m_hWnd = nullptr;
    }
  }
  StopFullScreenWatcher();
  // Started without a window (or the window was cut loose): stop what CliInit started.
  if (m_bInitialised) CliUnInit();
  CurrentControl::clear(this);
  m_stopConnecting.store(1);
  m_accountMode.store(0);
}

void CkavrelCtrl::CliInit(const char16_t* szServerAddr, const char16_t* szAppKey, const char16_t* szAppPass,
                          const char16_t* szSvraddr, int32_t lSvrport, const char16_t* szSvrkey) {
  TracedMethod traced("CkavrelCtrl::CliInit");
  trace::wide_value("szServerAddr", szServerAddr);
  trace::wide_value("szSvraddr", szSvraddr);
  trace::value("lSvrport", lSvrport);
  if (m_bInitialised) return;

  trace::step("Initializing Control");
  m_stopConnecting.store(0);
  m_devListSn.store(-1);
  m_camListSn.store(-1);

  m_serverAddr = szServerAddr != nullptr ? szServerAddr : u"";
  m_appKey = to_wide(kDefaultAppKey);
  m_appPass = to_wide(kDefaultAppPass);
  if (szAppKey != nullptr && *szAppKey != 0) m_appKey = to_wide(decrypt_argument(szAppKey));
  if (szAppPass != nullptr && *szAppPass != 0) m_appPass = to_wide(decrypt_argument(szAppPass));

  trace::step("Starting callback thread");
  StartDoCallbackThread();
  trace::step("Starting cmd thread");
  StartCmdThread();

  std::string server_key = decrypt_argument(szSvrkey);
  uint16_t port = 0;
  if (lSvrport >= 0 && lSvrport <= 0xFFFF) {
    port = static_cast<uint16_t>(lSvrport);
  } else {
    // A port that does not fit would reach the tunnel service as some other port.
    trace::error("CkavrelCtrl::CliInit", 2086, "Invalid lSvrport (2086)");
  }
  trace::step("Init P2P interface");
  brixa_init(to_narrow(szSvraddr).c_str(), port, server_key.c_str());
  trace::step("Create handle");
  m_hClient.store(brixa_create());
  trace::step("Attach callback");
  brixa_cli_attach_callback(m_hClient.load(), &CkavrelCtrl::connectorcallback, reinterpret_cast<intptr_t>(this));

  m_bInitialised = true;
  std::lock_guard<std::mutex> hold(m_webDeviceLock);
  m_currentWebDevice = nullptr;
}

void CkavrelCtrl::CliUnInit() {
  TracedMethod traced("CkavrelCtrl::CliUnInit");
  m_devListSn.store(-1);
  m_camListSn.store(-1);
  if (!m_bInitialised) return;
  try {
    m_stopConnecting.store(1);
    // A save dialog open on the library's thread holds its callback lock: it ends now, so the
    // library's shutdown below does not wait for the user.
    platform::cancel_save_dialogs();
    CliStopBackup();
    // The library's playbacks end with its client below; the control's playback goes with them,
    // so a later CliInit does not find a stale playback handle.
    if (std::shared_ptr<CamInfo> camera = current_camera()) {
      StopPlayThread(camera);
      SetCurrentCamera(nullptr);
    }
    StopPlaybackDev();
    m_resumeThread.stop(kThreadStopTimeoutMs, UiWaitStyle());
    for (int32_t pane = 0; pane < 16; ++pane) {
      const LiveSlot& slot = live_slot(pane);
      if (slot.slotCamera != nullptr || slot.slotStreaming.load()) CliStopPlayDev(pane);
    }
    SuspendDeviceInfo();
    DropQueues();
    std::shared_ptr<DevInfo> web_device;
    {
      std::lock_guard<std::mutex> hold(m_webDeviceLock);
      web_device = m_currentWebDevice;
    }
    if (web_device != nullptr) ReleaseDevP2P(web_device);
    UniniDeviceInfo();
    UniniCamInfo();

    brixa_handle client = m_hClient.load();
    if (client != nullptr) {
      m_cloud.load()->release(client);
      // A search still collecting would report to a client that is about to go.
      brixa_stop_search_devices();
      brixa_cli_detach_callback(client);
      brixa_release(client);
    }
    // brixa_init ran in CliInit whether or not a client could be made.
    brixa_uninit();

    m_serverAddr.clear();
    m_bInitialised = false;
    m_hClient.store(nullptr);
  } catch (const std::exception& e) {
    trace::exception("CkavrelCtrl::CliUnInit", e.what());
  }
}

void CkavrelCtrl::DropQueues() {
  StopDoCallbackTread();
  StopCmdThread();
  m_callbackQueue.clear();
  m_eventQueue.locked([&](bool) {
    if (m_eventTimerId != -1) {
      if (m_hWnd != nullptr) platform::kill_timer(m_hWnd, kEventTimerId);
      m_eventTimerId = -1;
    }
  });
  m_eventQueue.clear();
  if (m_hWnd != nullptr) platform::kill_timer(m_hWnd, kDefaultLayoutTimerId);
  // Commands belong to the session being closed; a later CliInit starts with none.
  m_cmdQueue.clear();
}

int CkavrelCtrl::OnCreate() {
  TracedMethod traced("CkavrelCtrl::OnCreate");
  start_drawing();
  CreateVideoWindows();
  m_eventQueue.locked([&](bool empty) {
    if (!empty) ArmEventTimerLocked();  // events queued before the window existed
  });
  CurrentControl::set(this);
  FireCliCreatedNotify(1);
  return 0;
}

void CkavrelCtrl::OnDestroy() {
  TracedMethod traced("CkavrelCtrl::OnDestroy");
  try {
    m_eventQueue.locked([&](bool) {
      if (m_eventTimerId != -1) {
        platform::kill_timer(m_hWnd, kEventTimerId);
        m_eventTimerId = -1;
      }
    });
    StopFullScreenWatcher();
    CliUnInit();
    for (auto& panel : m_paneRenderWindows) panel.store(nullptr);
    m_playbackRenderWindow.store(nullptr);
    shut_drawing_down();
    CurrentControl::clear(this);
  } catch (const std::exception& e) {
    trace::exception("CkavrelCtrl::OnDestroy", e.what());
  }
}

}  // namespace kavrel
