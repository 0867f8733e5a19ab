// Library results on their way to the page: the library callback (library's dispatcher thread)
// and the DoCallbackThread's pass over the callback message queue.
//
// The results that need no device or camera model are handled here: search results, alerts,
// record queries, the cloud list answers and their serial numbers. Tunnel status, device
// information and export progress join them with the device model, the device connections and
// export.
#include <cjson/cJSON.h>

#include <cstring>
#include <exception>

#include "kavrel/core/callback_names.h"
#include "kavrel/core/current_control.h"
#include "kavrel/core/traced.h"
#include "kavrel/shell/kavrel_ctrl.h"
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

namespace {

// Library values the events carry in 32-bit fields: the page only hands them back.
int32_t low_word(intptr_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

int32_t text_length(const char* info) { return info != nullptr ? static_cast<int32_t>(strlen(info)) : 0; }

// Reads the named numbers of a JSON payload (0 when absent); false when it is not JSON.
bool read_numbers(const char* info, std::initializer_list<std::pair<const char*, int32_t*>> wanted) {
  if (info == nullptr) return false;
  cJSON* root = cJSON_Parse(info);
  if (root == nullptr) return false;
  for (auto [name, out] : wanted) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(root, name);
    *out = cJSON_IsNumber(item) ? static_cast<int32_t>(item->valuedouble) : 0;
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

    std::lock_guard<std::recursive_mutex> dispatching(control.m_callbackLock);
    switch (id) {
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
          // The device description updates the device model here once it exists; the page
          // gets the event without the payload.
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
        default:
          // Device and camera lists update the model here once it exists, before the event.
          FireEventCallback(m->hContext, m->handle, m->nID, m->nTag1, m->nTag2, m->text(), m->nInfoLen);
          break;
      }
    }
  } catch (const std::exception& e) {
    trace::exception("CkavrelCtrl::DoCallBackMsg", e.what());
  }
}

}  // namespace kavrel
