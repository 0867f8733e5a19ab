#include <cstdio>
// Library results on their way to the page: the library callback (library's dispatcher thread)
// and the DoCallbackThread's pass over the callback message queue.
//
// The results that need no device or camera model are handled here: search results, alerts,
// record queries, the cloud list answers and their serial numbers. Tunnel status, device
// information and export progress join them with the device model, the device connections and
// export.
#include <cjson/cJSON.h>

#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include "kavrel/core/callback_names.h"
#include "kavrel/core/current_control.h"
#include "kavrel/core/traced.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/ui/ui_messages.h"
#include "kavrel/ui/ui_messages.h"
#include "platform/json/json_integer.h"
#include "trace/trace.h"

namespace kavrel {

const char* callback_id_name(int32_t id) {
  static const char* const kCloudFirst[] = {
      "c2s_get_access_url_res", "c2s_get_dev_list_res",  "c2s_get_camlist_sn_res", "c2s_get_camlist_res",
      "c2s_get_cam_pic_res",    "c2s_rename_cam_res",    "c2s_rename_group_res",   "c2s_move_cams_res",
      "c2s_move_group_res",     "c2s_new_group_res",     "c2s_remove_dev_res",     "c2s_remove_group_res",
      "c2s_user_check_res",     "c2s_user_modify_pass_res"};
  static const char* const kCloudSecond[] = {
      "c2s_get_pic_vcode_res",           "c2s_pic_vcode_check_res",         "c2s_get_regverify_type_res",
      "c2s_get_sms_vcode_res",           "c2s_sms_vcode_check_res",         "c2s_user_regist_res",
      "c2s_user_resetpass_email_res",    "c2d_search_res",                  "c2d_get_devinfo_res",
      "c2d_bind_user_local_res",         "c2s_get_cam_list_sessionid_res",  "c2s_get_dev_account_sessionid_res",
      "c2s_bind_user_p2p_res",           "c2s_get_camlist_sp_res",          "c2s_set_camlist_sp_res"};
  static const char* const kControl[] = {"HTTP_URL_RES",     "ADD_DEV_RES", "RECORD_QUERY_RES",
                                         "ALAERT_RES",       "LOGIN_RES",   "RECORD_QUERY_STATUS_RES",
                                         "GET_DEVINFO_RES"};
  switch (id) {
    case BRIXA_CB_CALLBACK_SEARCH_DEVICE: return "BRIXA_CB_CALLBACK_SEARCH_DEVICE";
    case BRIXA_CB_CALLBACK_P2P_MAPPED: return "BRIXA_CB_CALLBACK_P2P_MAPPED";
    case CB_CALLBACK_P2P_CONNECTED: return "CB_CALLBACK_P2P_CONNECTED";
    case BRIXA_CB_CALLBACK_GET_DEVINFO: return "BRIXA_CB_CALLBACK_GET_DEVINFO";
    case BRIXA_CB_CALLBACK_GET_LIVE_ALERT: return "BRIXA_CB_CALLBACK_GET_LIVE_ALERT";
    case BRIXA_CB_CALLBACK_QUERY_RECORD: return "BRIXA_CB_CALLBACK_QUERY_RECORD";
    case BRIXA_CB_CALLBACK_QUERY_RECORD_STATUS: return "BRIXA_CB_CALLBACK_QUERY_RECORD_STATUS";
    case BRIXA_CB_CALLBACK_BACKUP_PROGRESS: return "BRIXA_CB_CALLBACK_BACKUP_PROGRESS";
    case BRIXA_CB_CALLBACK_BACKUP_COMPLETED: return "BRIXA_CB_CALLBACK_BACKUP_COMPLETED";
    case BRIXA_CB_CALLBACK_BIZ_GET_LIST_SN: return "BRIXA_CB_CALLBACK_BIZ_GET_LIST_SN";
    case BRIXA_CB_CALLBACK_BIZ_GET_DEVLIST: return "BRIXA_CB_CALLBACK_BIZ_GET_DEVLIST";
    case BRIXA_CB_CALLBACK_BIZ_GET_CAMLIST: return "BRIXA_CB_CALLBACK_BIZ_GET_CAMLIST";
    case BRIXA_CB_CALLBACK_BIZ_SET_DEVLIST: return "BRIXA_CB_CALLBACK_BIZ_SET_DEVLIST";
    case BRIXA_CB_CALLBACK_BIZ_SET_CAMLIST: return "BRIXA_CB_CALLBACK_BIZ_SET_CAMLIST";
    case kEventGetDevListResult: return "c2s_get_dev_list_sp_res";
    case kEventSetDevListResult: return "c2s_set_dev_list_sp_res";
    case kEventListSerialsResult: return "c2s_get_dev_cam_list_sn_sp_res";
    case 0x20000001: return "LOG_ALARM";
    default: break;
  }
  if (id >= 0x10000001 && id <= 0x1000000e) return kCloudFirst[id - 0x10000001];
  if (id >= 0x10000010 && id <= 0x1000001e) return kCloudSecond[id - 0x10000010];
  if (id >= 0x20001000 && id <= 0x20001006) return kControl[id - 0x20001000];
  return "";
}

const char* tunnel_status_text(int32_t status) {
  switch (status) {
    case 0: return "P2P status: trying to establish connection";
    case 1: return "P2P status: connection established";
    case -1: return "P2P status: port tunnel not found";
    case -2: return "P2P status: establish connection failed";
    case -3: return "P2P status: connection interrupted";
    case -4: return "P2P status: device is offline";
    case -5: return "P2P status: password authentication failed";
    default: return "";
  }
}

int32_t export_progress_percent(int32_t total, int32_t done) {
  if (total > 0 && done >= 0 && done < total) return static_cast<int32_t>(static_cast<int64_t>(done) * 100 / total);
  if (done == -1 || done >= total) return 100;
  return 0;
}

namespace {

// Library values the events carry in 32-bit fields: the page only hands them back.
int32_t low_word(intptr_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

int32_t text_length(const char* info) { return info != nullptr ? static_cast<int32_t>(strlen(info)) : 0; }

// Reads the named numbers of a JSON payload (0 when absent or not a 32-bit integer); false when
// it is not JSON.
bool read_numbers(const char* info, std::initializer_list<std::pair<const char*, int32_t*>> wanted) {
  if (info == nullptr) return false;
  cJSON* root = cJSON_Parse(info);
  if (root == nullptr) return false;
  for (auto [name, out] : wanted) {
    *out = platform::json_integer_member<int32_t>(root, name).value_or(0);
  }
  cJSON_Delete(root);
  return true;
}

}  // namespace

int CkavrelCtrl::connectorcallback(intptr_t user, brixa_handle client, int32_t id, intptr_t param1, int32_t param2,
                                   const char* info, int32_t info_len) {
  auto* expected = reinterpret_cast<CkavrelCtrl*>(user);
  CurrentControl::use(expected, [&](CkavrelCtrl& control) {
    TracedMethod traced("CkavrelCtrl::connectorcallback");
    int32_t context = low_word(user);
    int32_t handle = low_word(reinterpret_cast<intptr_t>(client));
    int32_t tag1 = low_word(param1);
    trace::value("context", context);
    trace::value("handle", handle);
    trace::value("CallbackID", callback_id_name(id));
    trace::value("tag1", tag1);
    trace::value("tag2", param2);
    if (info_len < 100) {
      trace::value("info", info_len > 0 ? info : nullptr);
      trace::value("info_len", info_len);
    }
    if (info_len <= 0) info = nullptr;  // no payload: the pointer must not be read

    control.FireDisconnectedNotifications();
    std::lock_guard<std::recursive_mutex> dispatching(control.m_callbackLock);
    switch (id) {
      case BRIXA_CB_CALLBACK_P2P_MAPPED:
        control.OnTunnelStatus(client, reinterpret_cast<brixa_connection>(param1), param2, info, info_len);
        break;
      case BRIXA_CB_CALLBACK_GET_DEVINFO:
        control.OnDeviceInformation(param2, info);
        break;
      case BRIXA_CB_CALLBACK_BACKUP_PROGRESS:
        // Goes to the playback pane as its progress message once the pane exists.
        trace::value("percent", export_progress_percent(tag1, param2));
        break;
      case BRIXA_CB_CALLBACK_SEARCH_DEVICE:
        control.Callback(0, 0, kEventSearchResult, tag1, param2, info, text_length(info));
        break;
      case BRIXA_CB_CALLBACK_GET_LIVE_ALERT:
        control.Callback(0, 0, kEventAlert, tag1, param2, info, text_length(info));
        break;
      case BRIXA_CB_CALLBACK_QUERY_RECORD:
        trace::step("Start Requery Record callback return");
        control.Callback(0, 0, kEventRecordQuery, tag1, param2, info, text_length(info));
        break;
      case BRIXA_CB_CALLBACK_QUERY_RECORD_STATUS:
        trace::step("Start Requery Record status return");
        control.Callback(0, 0, kEventRecordQueryStatus, tag1, param2, info, text_length(info));
        break;
      case BRIXA_CB_CALLBACK_BIZ_GET_LIST_SN: {
        int32_t change = 0;
        if (param2 == 0) {
          int32_t devs_sn = 0;
          int32_t cams_sn = 0;
          if (!read_numbers(info, {{"devs_sn", &devs_sn}, {"cams_sn", &cams_sn}})) break;
          if (control.m_devListSn.load() == -1) {
            control.m_devListSn.store(devs_sn);
          } else if (control.m_devListSn.load() != devs_sn) {
            control.m_devListSn.store(devs_sn);
            change = 1;
          }
          if (control.m_camListSn.load() == -1) {
            control.m_camListSn.store(cams_sn);
          } else if (control.m_camListSn.load() != cams_sn) {
            control.m_camListSn.store(cams_sn);
            change = change == 1 ? 3 : 2;
          }
        }
        control.m_callbackQueue.push(ControlMessage::make(context, handle, kEventListSerialsResult,
                                                          param2 == 0 ? change : param2, 0, info, info_len));
        control.m_doCallbackThread.wake();
        break;
      }
      case BRIXA_CB_CALLBACK_BIZ_GET_DEVLIST:
      case BRIXA_CB_CALLBACK_BIZ_GET_CAMLIST: {
        int32_t event = id == BRIXA_CB_CALLBACK_BIZ_GET_DEVLIST ? kEventGetDevListResult : kEventGetCamListResult;
        control.FireEventCallback(context, handle, event, param2, 0, info, info_len);
        control.m_callbackQueue.push(ControlMessage::make(context, handle, event, param2, 0, info, info_len));
        control.m_doCallbackThread.wake();
        break;
      }
      case BRIXA_CB_CALLBACK_BIZ_SET_DEVLIST:
      case BRIXA_CB_CALLBACK_BIZ_SET_CAMLIST: {
        bool devices = id == BRIXA_CB_CALLBACK_BIZ_SET_DEVLIST;
        control.m_callbackQueue.push(ControlMessage::make(
            context, handle, devices ? kEventSetDevListResult : kEventSetCamListResult, param2, 0, info, info_len));
        control.m_doCallbackThread.wake();
        int32_t sn = 0;
        if (!read_numbers(info, {{"sn", &sn}})) break;
        std::atomic<int32_t>& serial = devices ? control.m_devListSn : control.m_camListSn;
        if (serial.load() != sn) serial.store(sn);
        break;
      }
      default:
        break;
    }
  });
  return 0;
}

void CkavrelCtrl::DoCallBackMsg() {
  try {
    while (std::optional<ControlMessage> m = m_callbackQueue.pop()) {
      switch (m->nID) {
        case kEventGetDevInfoResult:
        case kEventGetDevInfo:
          trace::step(" ID = GET_DEVINFO_RES");
          if (m->nInfoLen > 0 && m->info) SetCamInfoP2P(m->text());
          FireEventCallback(m->hContext, m->handle, m->nID, m->nTag1, m->nTag2, nullptr, 0);
          break;
        case kEventListSerialsResult: {
          const CloudCalls& cloud = *m_cloud.load();
          brixa_handle client = m_hClient.load();
          if (m->nTag1 == 1 || m->nTag1 == 3) cloud.get_device_list(client);
          if (m->nTag1 == 2 || m->nTag1 == 3) cloud.get_cam_list(client);
          FireEventCallback(m->hContext, m->handle, m->nID, m->nTag1, m->nTag2, m->text(), m->nInfoLen);
          break;
        }
        case kEventPaneClosed:
          break;  // raised directly by the pane that closed
        case kEventLiveStarted:
          // The pane is the one the live start named; without it the result has nowhere to go.
          if (NotifyPaneLiveStarted(m->nTag1)) {
            FireEventCallback(m->hContext, m->handle, m->nID, m->nTag1, m->nTag2, m->text(), m->nInfoLen);
          }
          break;
        case kEventGetCamListResult:
          if (m->nInfoLen > 0 && m->info) {
            SetCamInfo(m->text());
            if (platform::HWND window = m_hWnd.load()) platform::post_message(window, ui::kMsgOpenDefaultLayout, 0, 0);
          }
          FireEventCallback(m->hContext, m->handle, m->nID, m->nTag1, m->nTag2, m->text(), m->nInfoLen);
          break;
        case kEventGetDevListResult:
          if (m->nInfoLen > 0 && m->info) SetDevInfo(m->text());
          FireEventCallback(m->hContext, m->handle, m->nID, m->nTag1, m->nTag2, m->text(), m->nInfoLen);
          break;
        default:
          FireEventCallback(m->hContext, m->handle, m->nID, m->nTag1, m->nTag2, m->text(), m->nInfoLen);
          break;
      }
    }
  } catch (const std::exception& e) {
    trace::exception("CkavrelCtrl::DoCallBackMsg", e.what());
  }
}

void CkavrelCtrl::OnTunnelStatus(brixa_handle client, brixa_connection tunnel, int32_t status, const char* info,
                                 int32_t info_len) {
  std::string id = info != nullptr ? std::string(info, static_cast<size_t>(info_len)) : std::string();
  std::shared_ptr<DevInfo> device = m_devices.find(id.c_str());
  if (device == nullptr) {
    trace::error("CkavrelCtrl::connectorcallback", 496, "Device info not found (496)");
    return;
  }
  trace::value("StatusID", tunnel_status_text(status));
  bool is_web = tunnel != nullptr && tunnel == device->webConnection.load();
  bool is_tcp = tunnel != nullptr && tunnel == device->tcpConnection.load();
  bool is_web_tcp = tunnel != nullptr && tunnel == device->webTcpConnection.load();
  switch (status) {
    case 1: {
      int32_t port = brixa_connnect_get_mapped_port(client, tunnel);
      printf("mapped port: %d\n", port);
      if (port == 65535) {
        ReleaseDevP2P(device);
      } else if (is_web) {
        device->webConnectionStatus.store(1);
      } else if (is_tcp) {
        device->tcpConnectionStatus.store(1);
      } else if (is_web_tcp) {
        device->webTcpConnectionStatus.store(1);
      }
      break;
    }
    case -4:
    case -1:
      ReleaseDevP2P(device);
      break;
    case 0:
    case -2:
    case -3: {
      if (m_stopConnecting.load() != 0) break;
      if (is_web && !device->webConnectionRenewed.load()) {
        brixa_release_connect(client, tunnel);
        device->webConnection.store(
            brixa_create_connect(client, device->id.c_str(), static_cast<uint16_t>(device->dev_http_port.load()), 0));
        device->webConnectionStatus.store(0);
        device->webConnectionRenewed.store(true);
      } else if (is_tcp && !device->tcpConnectionRenewed.load()) {
        brixa_release_connect(client, tunnel);
        device->tcpConnection.store(
            brixa_create_connect(client, device->id.c_str(), static_cast<uint16_t>(device->dev_port.load()), 0));
        device->tcpConnectionStatus.store(0);
        device->tcpConnectionRenewed.store(true);
      } else if (is_web_tcp && !device->webTcpConnectionRenewed.load()) {
        uint16_t port = static_cast<uint16_t>(device->dev_port.load());
        brixa_release_connect(client, tunnel);
        device->webTcpConnection.store(brixa_create_connect(client, device->id.c_str(), port, port));
        device->webTcpConnectionStatus.store(0);
      }
      break;
    }
    default:
      break;
  }
  if (is_tcp) device->tcpConnectionStatus.store(status);

  if (device->webConnectionStatus.load() == 1 && device->webTcpConnectionStatus.load() == 1) {
    char url[64];
    snprintf(url, sizeof url, "http://127.0.0.1:%d", brixa_connnect_get_mapped_port(client, device->webConnection.load()));
    Callback(0, 0, kEventHttpUrl, 0, 1, url, static_cast<int32_t>(strlen(url)));
  } else if (status != 1) {
    Callback(0, 0, kEventHttpUrl, 0, status, info, info_len);
  }

  if (status == -4) {
    AddDisconnectedNotification(info, info_len);
    device->online.store(false);
  } else if (status == 1) {
    if (!ClearDisconnectedNotification(info, info_len)) Callback(0, 0, kEventP2PConnected, 1, 1, info, info_len);
    device->online.store(true);
  } else {
    Callback(0, 0, kEventP2PConnected, status, 1, info, info_len);
  }

  if (device->tcpConnectionStatus.load() == 1 && device->status_sp.load() == 3) {
    device->devInfoResult.store(kDevInfoAwaited);
    StartAddDeviceThread(device);
  }
}

void CkavrelCtrl::OnDeviceInformation(int32_t result, const char* info) {
  if (result == 0) {
    trace::step(" id = BRIXA_CB_CALLBACK_GET_DEVINFO");
    cJSON* root = info != nullptr ? cJSON_Parse(info) : nullptr;
    if (root == nullptr) return;
    const cJSON* id = cJSON_GetObjectItemCaseSensitive(root, "dev_id");
    std::string dev_id = cJSON_IsString(id) && strlen(id->valuestring) < 512 ? id->valuestring : "";
    cJSON_Delete(root);
    std::shared_ptr<DevInfo> device = m_devices.find(dev_id);
    if (device == nullptr) {
      trace::error("CkavrelCtrl::connectorcallback", 611, "Device info not found (611)");
      return;
    }
    SetCamInfoP2P(info);
    device->devInfoResult.store(0);
    return;
  }
  std::shared_ptr<DevInfo> device = m_devices.find(info != nullptr ? info : "");
  if (device == nullptr) {
    trace::error("CkavrelCtrl::connectorcallback", 624, "Device info not found (624)");
    return;
  }
  device->devInfoResult.store(result);
  FireEventCallback(0, 0, kEventGetDevInfoResult, -1, 0, nullptr, 0);
}

// ---- disconnected notifications ----

namespace {
uint64_t now_ms() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}
}  // namespace

void CkavrelCtrl::AddDisconnectedNotification(const char* info, int32_t len) {
  if (info == nullptr) {
    trace::error("CkavrelCtrl::AddDisconnectedNotification", 0, "Null szInfo");
    return;
  }
  if (len <= 0) {
    trace::error("CkavrelCtrl::AddDisconnectedNotification", 0, "Invalid nInfoLen");
    return;
  }
  std::string payload(info, static_cast<size_t>(len));
  std::lock_guard<std::mutex> hold(m_disconnectedLock);
  auto& entry = m_disconnected[payload.c_str()];
  if (entry) {
    entry->recorded_ms = now_ms();
  } else {
    entry = DisconnectedNotification{payload, now_ms()};
  }
}

bool CkavrelCtrl::ClearDisconnectedNotification(const char* info, int32_t len) {
  if (info == nullptr) {
    trace::error("CkavrelCtrl::ClearDisconnectedNotification", 0, "Null szInfo");
    return false;
  }
  if (len <= 0) {
    trace::error("CkavrelCtrl::ClearDisconnectedNotification", 0, "Invalid nInfoLen");
    return false;
  }
  std::string key(info, static_cast<size_t>(len));
  std::lock_guard<std::mutex> hold(m_disconnectedLock);
  auto it = m_disconnected.find(key.c_str());
  if (it != m_disconnected.end() && it->second) {
    trace::step("Found disconnection notification");
    it->second.reset();
    return true;
  }
  trace::step("Disconnection notification not found");
  return false;
}

void CkavrelCtrl::FireDisconnectedNotifications() {
  uint64_t now = now_ms();
  uint32_t delay = m_offlineDelayMs.load();
  std::lock_guard<std::mutex> hold(m_disconnectedLock);
  for (auto it = m_disconnected.begin(); it != m_disconnected.end();) {
    if (it->second && now - it->second->recorded_ms > delay) {
      const std::string& payload = it->second->payload;
      Callback(0, 0, kEventP2PConnected, -4, 1, payload.c_str(), static_cast<int32_t>(payload.size()));
      it = m_disconnected.erase(it);
    } else {
      ++it;
    }
  }
}

bool CkavrelCtrl::NotifyPaneLiveStarted(int32_t pane) {
  if (pane < 0 || pane >= 16) return false;
  // The DoCallbackThread is not the panes' thread: the end of the connecting indicator is posted.
  platform::HWND panel = m_paneRenderWindows[static_cast<size_t>(pane)].load();
  if (panel != nullptr) platform::post_message(panel, ui::kMsgConnecting, 0, 0);
  return true;
}

}  // namespace kavrel
