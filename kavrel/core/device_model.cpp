// The device and camera model: filling the records from the cloud lists and from device
// descriptions, writing the lists back to the cloud, deleting a device, and the shutdown steps.
#include <cjson/cJSON.h>

#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include "kavrel/core/callback_names.h"
#include "kavrel/core/traced.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "platform/json/json_integer.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

constexpr size_t kSummaryLimit = 16384;

// A string member that fits a field of `field` bytes, else empty (also when absent).
std::string read_text(const cJSON* object, const char* name, size_t field) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
  if (!cJSON_IsString(item)) return {};
  return fit_field(item->valuestring, field);
}

// A number member stored into `out`; absent numbers, and numbers that are no 32-bit integer,
// leave it unchanged.
void read_number(const cJSON* object, const char* name, std::atomic<int32_t>& out) {
  if (auto value = platform::json_integer_member<int32_t>(object, name)) out.store(*value);
}

void append_json_string(std::string& out, const std::string& text) {
  cJSON* item = cJSON_CreateString(text.c_str());
  if (item == nullptr) {
    out += "\"\"";
    return;
  }
  char* printed = cJSON_PrintUnformatted(item);
  out += printed != nullptr ? printed : "\"\"";
  cJSON_free(printed);
  cJSON_Delete(item);
}

}  // namespace

// ---- camera summary ----

void CameraSummary::begin(const std::string& dev_id) {
  text_ = "{\"dev_id\":";
  append_json_string(text_, dev_id);
}

void CameraSummary::channels(int32_t count) {
  text_ += ",\"chls\":";
  text_ += std::to_string(count);
  text_ += ",\"camlist\":[";
  open_list_ = true;
}

bool CameraSummary::camera(const std::string& cam_id, int32_t chlid, const std::string& name) {
  if (full_) return false;
  std::string element = first_ ? "{\"cam_id\":" : ",{\"cam_id\":";
  append_json_string(element, cam_id);
  element += ",\"chlid\":" + std::to_string(chlid) + ",\"name\":";
  append_json_string(element, name);
  element += "}";
  // Room is kept for the closing "]}".
  if (text_.size() + element.size() + 2 > limit_) {
    full_ = true;
    return false;
  }
  text_ += element;
  first_ = false;
  return true;
}

std::string CameraSummary::finish() {
  if (!open_list_) text_ += ",\"camlist\":[";
  text_ += "]}";
  return std::move(text_);
}

// ---- lists from the cloud ----

void CkavrelCtrl::SetDevInfo(const char* szInfo) {
  TracedMethod traced("CkavrelCtrl::SetDevInfo");
  trace::value("szInfo", szInfo);
  try {
    cJSON* root = szInfo != nullptr ? cJSON_Parse(szInfo) : nullptr;
    if (root == nullptr) return;
    const cJSON* devs = cJSON_GetObjectItemCaseSensitive(root, "devs");
    const cJSON* element = nullptr;
    cJSON_ArrayForEach(element, devs) {
      std::string id = read_text(element, "dev_id", kIdField);
      std::shared_ptr<DevInfo> device = m_devices.find_or_add(id);
      if (m_stopConnecting.load() != 0) continue;
      {
        std::lock_guard<std::mutex> hold(device->lock);
        device->name = read_text(element, "name", kDevTextField);
        device->vendor = read_text(element, "vendor", kDevTextField);
        device->model = read_text(element, "model", kDevTextField);
        // Longer than their fields: read as empty rather than cut or overrun.
        device->dev_user = read_text(element, "dev_user", kLoginField);
        device->dev_pass = read_text(element, "dev_pass", kLoginField);
      }
      read_number(element, "status_sp", device->status_sp);
      read_number(element, "dev_port", device->dev_port);
      read_number(element, "dev_http_port", device->dev_http_port);

      if (device->tcpConnection.load() != nullptr) {
        Callback(0, 0, kEventP2PConnected, device->tcpConnectionStatus.load(), 1, device->id.c_str(),
                 static_cast<int32_t>(device->id.size()));
      } else {
        for (int attempt = 0; attempt < kTunnelTries && m_stopConnecting.load() == 0; ++attempt) {
          brixa_connection c = brixa_create_connect(m_hClient.load(), device->id.c_str(),
                                                    static_cast<uint16_t>(device->dev_port.load()), 0);
          device->tcpConnection.store(c);
          device->tcpConnectionRenewed.store(false);
          if (c != nullptr) break;
          std::this_thread::sleep_for(kTunnelRetryPause);
        }
      }

      const cJSON* channels = cJSON_GetObjectItemCaseSensitive(element, "channels");
      if (cJSON_IsArray(channels)) {
        std::vector<std::string> slots;
        const cJSON* slot = nullptr;
        cJSON_ArrayForEach(slot, channels) {
          if (slots.size() == kChannelSlots) break;  // the slots hold 64 channels
          slots.push_back(cJSON_IsString(slot) ? fit_field(slot->valuestring, kChannelSlotField) : "");
        }
        std::lock_guard<std::mutex> hold(device->lock);
        device->channels = std::move(slots);
      }
    }
    cJSON_Delete(root);
  } catch (const std::exception& e) {
    trace::exception("CkavrelCtrl::SetDevInfo", e.what());
  }
}

namespace {

// One "cams" array of the camera list.
void cam_camitem(RecordMap<CamInfo>& cameras, const cJSON* cams) {
  const cJSON* element = nullptr;
  cJSON_ArrayForEach(element, cams) {
    std::string id = read_text(element, "id", kIdField);
    bool created = false;
    std::shared_ptr<CamInfo> camera = cameras.find_or_add(id, &created);
    if (created) {
      trace::step("Adding new camera info (1564)");
      trace::value("channel->id", id.c_str());
    }
    read_number(element, "sn", camera->sn);
    read_number(element, "shared", camera->shared);
    read_number(element, "type", camera->type);
    read_number(element, "chlid", camera->chlid);
    read_number(element, "onvif_port", camera->onvif_port);
    read_number(element, "state", camera->state);
    read_number(element, "ptz", camera->ptz);
    std::string name, devid;
    {
      std::lock_guard<std::mutex> hold(camera->lock);
      camera->name = read_text(element, "name", kCamNameField);
      camera->devid = read_text(element, "devid", kCamDevIdRead);
      camera->dev_user = read_text(element, "dev_user", kLoginField);
      camera->dev_pass = read_text(element, "dev_pass", kLoginField);
      camera->pic_sn = read_text(element, "pic_sn", kPicSnField);
      name = camera->name;
      devid = camera->devid;
    }
    trace::step("Parsed camera");
    trace::value("channel->id", id.c_str());
    trace::value("channel->name", name.c_str());
    trace::value("channel->devid", devid.c_str());
    trace::value("channel->chlid", camera->chlid.load());
  }
}

// A group: first its groups (recursively), then its cameras.
void cam_group_traverse(RecordMap<CamInfo>& cameras, const cJSON* group, int depth) {
  // A document nests only as deep as the parser allows; the bound keeps the stack safe anyway.
  if (depth > 64) return;
  const cJSON* child = nullptr;
  cJSON_ArrayForEach(child, cJSON_GetObjectItemCaseSensitive(group, "groups")) {
    cam_group_traverse(cameras, child, depth + 1);
  }
  cam_camitem(cameras, cJSON_GetObjectItemCaseSensitive(group, "cams"));
}

}  // namespace

int CkavrelCtrl::SetCamInfo(const char* szInfo) {
  TracedMethod traced("CkavrelCtrl::SetCamInfo");
  trace::value("szInfo", szInfo);
  cJSON* root = szInfo != nullptr ? cJSON_Parse(szInfo) : nullptr;
  if (root == nullptr) return -1;
  try {
    cam_group_traverse(m_cameras, root, 0);
  } catch (const std::exception& e) {
    trace::exception("CkavrelCtrl::SetCamInfo", e.what());
  }
  cJSON_Delete(root);
  // The panes of the saved setup are restored from here once layouts exist.
  return 0;
}

// ---- device description ----

void CkavrelCtrl::SetCamInfoP2P(const char* szInfo) {
  TracedMethod traced("CkavrelCtrl::SetCamInfoP2P");
  trace::step("parsing JSON data");
  cJSON* root = szInfo != nullptr ? cJSON_Parse(szInfo) : nullptr;
  if (root == nullptr) {
    trace::error("CkavrelCtrl::SetCamInfoP2P", 1672, "invalid JSON data");
    return;
  }
  CameraSummary summary(kSummaryLimit);
  std::string id = read_text(root, "dev_id", kIdField);
  int32_t status = platform::json_integer_member<int32_t>(root, "status").value_or(0);
  bool created = false;
  std::shared_ptr<DevInfo> device = m_devices.find_or_add(id, &created);
  if (created) trace::step("creating new DevInfo (1693)");

  device->status_sp.store(1);
  if (device->tcpConnection.load() == nullptr && m_stopConnecting.load() == 0) {
    brixa_connection c =
        brixa_create_connect(m_hClient.load(), device->id.c_str(), static_cast<uint16_t>(device->dev_port.load()), 0);
    device->tcpConnection.store(c);
    device->tcpConnectionRenewed.store(false);
    if (c == nullptr) device->tcpConnectionStatus.store(0);
  }

  trace::step("getting name property");
  std::string name = read_text(root, "name", kDevTextField);
  std::string dev_user, dev_pass;
  {
    std::lock_guard<std::mutex> hold(device->lock);
    if (!name.empty() && (device->name.empty() || device->name == device->id)) device->name = name;
    if (name.empty() && device->name.empty()) device->name = device->id;
    trace::step("getting vendor property");
    device->vendor = read_text(root, "vendor", kDevTextField);
    trace::step("getting model property");
    device->model = read_text(root, "model", kDevTextField);
    dev_user = device->dev_user;
    dev_pass = device->dev_pass;
  }
  read_number(root, "dev_port", device->dev_port);
  read_number(root, "dev_http_port", device->dev_http_port);

  summary.begin(device->id);
  trace::step("getting channel array property");
  const cJSON* channels = cJSON_GetObjectItemCaseSensitive(root, "channels");
  if (!cJSON_IsArray(channels)) {
    trace::error("CkavrelCtrl::SetCamInfoP2P", 1745, "no channel info");
  } else {
    if (m_accountMode.load() == 2) {
      trace::step("clearing camera map");
      m_cameras.clear();
    }
    // The device keeps 64 channel slots: channels past them are left out of the model and the
    // summary alike.
    int32_t count = std::min<int32_t>(cJSON_GetArraySize(channels), static_cast<int32_t>(kChannelSlots));
    summary.channels(count);
    trace::step("enumerating list of cameras");
    std::vector<std::string> slots;
    int32_t index = 0;
    const cJSON* element = nullptr;
    cJSON_ArrayForEach(element, channels) {
      if (index++ == count) break;
      std::string cam_id = read_text(element, "uid", kIdField);
      bool new_camera = false;
      std::shared_ptr<CamInfo> camera = m_cameras.find_or_add(cam_id, &new_camera);
      if (new_camera) {
        trace::step("Adding new camera info (1786)");
        trace::value("channel->id", cam_id.c_str());
      }
      camera->state.store(status);
      camera->camStreamId.store(-1);
      camera->playbackPane.store(-1);
      camera->playbackHandle.store(-1);
      slots.push_back(fit_field(cam_id.c_str(), kChannelSlotField));
      std::string cam_name;
      {
        std::lock_guard<std::mutex> hold(camera->lock);
        camera->devid = device->id;
        camera->dev_user = dev_user;
        camera->dev_pass = dev_pass;
        camera->name = read_text(element, "name", kCamNameField);
        cam_name = camera->name;
      }
      read_number(element, "ptz", camera->ptz);
      read_number(element, "chlid", camera->chlid);
      // Past 16384 bytes the summary leaves the remaining elements out whole.
      summary.camera(cam_id, camera->chlid.load(), cam_name);
    }
    std::lock_guard<std::mutex> hold(device->lock);
    device->channels = std::move(slots);
  }
  cJSON_Delete(root);

  std::string text = summary.finish();
  if (m_accountMode.load() == 1) {
    trace::step("updating camera info in server");
    UpdateCamInfoToServer();
  }
  FireEventCallback(0, 0, kEventGetDevInfoResult, 0, 0, text.c_str(), static_cast<int32_t>(text.size()));
}

// ---- writing the lists back ----

void CkavrelCtrl::UpdateCamInfoToServer() {
  TracedMethod traced("CkavrelCtrl::UpdateCamInfoToServer");
  cJSON* devs_root = cJSON_CreateObject();
  if (devs_root == nullptr) {
    trace::error("CkavrelCtrl::UpdateCamInfoToServer", 2285, "Cannot create root JSON object (2285)");
    return;
  }
  cJSON* devs = cJSON_AddArrayToObject(devs_root, "devs");
  for (const auto& device : m_devices.snapshot()) {
    if (device->devInfoResult.load() == -1) continue;
    cJSON* item = cJSON_CreateObject();
    {
      std::lock_guard<std::mutex> hold(device->lock);
      cJSON* slots = cJSON_AddArrayToObject(item, "channels");
      for (const auto& slot : device->channels) cJSON_AddItemToArray(slots, cJSON_CreateString(slot.c_str()));
      cJSON_AddStringToObject(item, "vendor", device->vendor.c_str());
      cJSON_AddStringToObject(item, "dev_pass", device->dev_pass.c_str());
      cJSON_AddStringToObject(item, "dev_user", device->dev_user.c_str());
      cJSON_AddStringToObject(item, "name", device->name.c_str());
      cJSON_AddStringToObject(item, "dev_id", device->id.c_str());
      cJSON_AddStringToObject(item, "model", device->model.c_str());
    }
    cJSON_AddNumberToObject(item, "dev_port", device->dev_port.load());
    cJSON_AddNumberToObject(item, "dev_http_port", device->dev_http_port.load());
    cJSON_AddNumberToObject(item, "status_sp", device->status_sp.load());
    cJSON_AddItemToArray(devs, item);
  }
  char* devs_text = cJSON_PrintUnformatted(devs_root);
  cJSON_Delete(devs_root);

  cJSON* command = cJSON_CreateObject();
  if (command == nullptr || devs_text == nullptr) {
    trace::error("CkavrelCtrl::UpdateCamInfoToServer", 2298, "Cannot create root JSON object (2298)");
    cJSON_free(devs_text);
    cJSON_Delete(command);
    return;
  }
  cJSON_AddStringToObject(command, "cmd", "cmd_set_dev_list");
  cJSON_AddStringToObject(command, "devlist", devs_text);
  cJSON_free(devs_text);
  char* command_text = cJSON_PrintUnformatted(command);
  cJSON_Delete(command);
  trace::step("Pushing cmd");
  PostCmd(command_text);
  cJSON_free(command_text);

  cJSON* cams_root = cJSON_CreateObject();
  if (cams_root == nullptr) {
    trace::error("CkavrelCtrl::UpdateCamInfoToServer", 2323, "Cannot create root JSON object (2323)");
    return;
  }
  cJSON* cams = cJSON_AddArrayToObject(cams_root, "cams");
  for (const auto& camera : m_cameras.snapshot()) {
    cJSON* item = cJSON_CreateObject();
    {
      std::lock_guard<std::mutex> hold(camera->lock);
      cJSON_AddStringToObject(item, "dev_pass", camera->dev_pass.c_str());
      cJSON_AddStringToObject(item, "dev_user", camera->dev_user.c_str());
      cJSON_AddStringToObject(item, "devid", camera->devid.c_str());
      cJSON_AddStringToObject(item, "id", camera->id.c_str());
      cJSON_AddStringToObject(item, "name", camera->name.c_str());
    }
    cJSON_AddStringToObject(item, "shared", camera->shared.load() != 0 ? "true" : "false");
    cJSON_AddNumberToObject(item, "ptz", camera->ptz.load());
    cJSON_AddNumberToObject(item, "state", camera->state.load());
    cJSON_AddNumberToObject(item, "chlid", camera->chlid.load());
    cJSON_AddNumberToObject(item, "type", camera->type.load());
    cJSON_AddItemToArray(cams, item);
  }
  char* cams_text = cJSON_PrintUnformatted(cams_root);
  cJSON_Delete(cams_root);
  command = cJSON_CreateObject();
  if (command == nullptr || cams_text == nullptr) {
    trace::error("CkavrelCtrl::UpdateCamInfoToServer", 2323, "Cannot create root JSON object (2323)");
    cJSON_free(cams_text);
    cJSON_Delete(command);
    return;
  }
  cJSON_AddStringToObject(command, "cmd", "cmd_set_cam_list");
  cJSON_AddStringToObject(command, "camlist", cams_text);
  cJSON_free(cams_text);
  command_text = cJSON_PrintUnformatted(command);
  cJSON_Delete(command);
  trace::step("Pushing cmd");
  PostCmd(command_text);
  cJSON_free(command_text);
}

// ---- script methods of the account ----

void CkavrelCtrl::CliDelDevice(const char16_t* szID) {
  TracedMethod traced("CkavrelCtrl::CliDelDevice");
  trace::wide_value("szID", szID);
  std::string id = to_narrow(szID);
  std::shared_ptr<DevInfo> device = m_devices.find(id);
  if (device == nullptr) {
    trace::error("CkavrelCtrl::CliDelDevice", 3468, "Device info not found (3468)");
  } else {
    // Its worker stops first; a worker that outlives the bound keeps its own reference.
    StopAddDeviceThread(device);
    brixa_handle client = m_hClient.load();
    // Releasing logs the device out and closes the tunnel: the page stays served meanwhile.
    auto release = [&, style = UiWaitStyle()](brixa_connection c) {
      call_blocking(style, [&] { brixa_release_connect(client, c); });
    };
    if (brixa_connection c = device->tcpConnection.exchange(nullptr)) {
      trace::step("Release TCP handle (3473)");
      release(c);
    }
    if (brixa_connection c = device->webConnection.exchange(nullptr)) {
      trace::step("Release web handle (3479)");
      release(c);
    }
    if (brixa_connection c = device->webTcpConnection.exchange(nullptr)) {
      trace::step("Release TCP web handle (3485)");
      release(c);
    }
    {
      std::lock_guard<std::mutex> hold(m_webDeviceLock);
      if (m_currentWebDevice == device) m_currentWebDevice = nullptr;
    }
    trace::step("Deleting cameras (3490)");
    for (const auto& slot : device->channel_slots()) m_cameras.remove(slot);
    trace::step("Deleting device (3501)");
    m_devices.remove(id);
  }
  UpdateCamInfoToServer();
}

// ---- shutdown ----

void CkavrelCtrl::SuspendDeviceInfo() {
  TracedMethod traced("CkavrelCtrl::SuspendDeviceInfo");
  brixa_handle client = m_hClient.load();
  for (const auto& device : m_devices.snapshot()) {
    trace::step("SuspendDeviceMap");
    trace::device_record("pDevice", device->id.c_str(), device->text(&DevInfo::name).c_str(), device->online.load(),
                         device->logincount.load());
    if (brixa_connection c = device->tcpConnection.load()) brixa_suspend_connect(client, c);
    if (brixa_connection c = device->webConnection.load()) brixa_suspend_connect(client, c);
  }
}

void CkavrelCtrl::UniniDeviceInfo() {
  TracedMethod traced("CkavrelCtrl::UniniDeviceInfo");
  brixa_handle client = m_hClient.load();
  for (const auto& device : m_devices.snapshot()) {
    trace::step("ReleaseDeviceMap");
    trace::value("dev_id", device->id.c_str());
    SuspendLoginDev(device);
    // The worker ends at its next poll now; it is stopped before its tunnels go.
    StopAddDeviceThread(device);
    while (device->logincount.load() > 0) {
      trace::step("logging out from device");
      brixa_logout(client, device->id.c_str());
      device->logincount.fetch_sub(1);
    }
    if (brixa_connection c = device->tcpConnection.exchange(nullptr)) {
      trace::step("releasing TCP connection handle");
      brixa_release_connect(client, c);
    }
    if (brixa_connection c = device->webConnection.exchange(nullptr)) {
      trace::step("releasing WEB connection handle");
      brixa_release_connect(client, c);
    }
  }
}

void CkavrelCtrl::UniniCamInfo() {
  TracedMethod traced("CkavrelCtrl::UniniCamInfo");
  for (const auto& camera : m_cameras.snapshot()) {
    trace::step("ReleaseCamMap");
    trace::value("cam_id", camera->id.c_str());
    StopPlayThread(camera);
    camera->camStartMode.store(0);
    StopQueryRecordThread(camera);
    StopQueryRecordStatusThread(camera);
    StopListenAlertThread(camera);
  }
}

}  // namespace kavrel
