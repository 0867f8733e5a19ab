#include "kavrel/resources/type_library.h"

#include <cjson/cJSON.h>
#include <strings.h>

namespace kavrel::typelib {
namespace {

constexpr Type L = Type::Long;
constexpr Type S = Type::Bstr;
constexpr Type B = Type::Bool;
constexpr Type V = Type::None;

}  // namespace

const std::vector<Member>& methods() {
  static const std::vector<Member> table = {
      {DISPID_ABOUTBOX, "AboutBox", V, {}, "Shows the About dialog"},
      {1, "CliInit", V,
       {{"szServerAddr", S}, {"szAppKey", S}, {"szAppPass", S}, {"szSvraddr", S}, {"lSvrport", L}, {"szSvrkey", S}},
       "Initialises the control with the cloud service and tunnel service"},
      {2, "CliUnInit", V, {}, "Stops everything and releases the library"},
      {13, "CliSetPicNum", L, {{"lPicNum", L}}, "Sets the number of panes of the video wall"},
      {14, "CliGetPicNum", L, {}, "Number of panes"},
      {15, "CliGetCurrPicIndex", L, {}, "Index of the selected pane"},
      {10, "CliEnableViewDoubleClick", V, {{"lEnable", L}}, "Stores the double-click flag"},
      {11, "CliShowViewTitle", V, {{"lShow", L}}, "Accepted; changes nothing"},
      {12, "CliShowViewStatus", V, {{"lShow", L}}, "Accepted; changes nothing"},
      {18, "CliDeviceSearch", V, {}, "Starts a local-network device search"},
      {20, "CliGetFirstIdelPicIndex", L, {}, "First pane without video"},
      {21, "CliCapturePicToInternetCache", S, {{"lPnlIndex", L}}, "Cache file name for a snapshot of the pane"},
      {22, "CliPlayerSetOsd", L, {{"lPnlIndex", L}, {"bstrOsd", S}, {"nPos", L}, {"x", L}, {"y", L}},
       "Checks the pane index"},
      {23, "CLiPTZCtrl", L,
       {{"lDevHandle", L}, {"nChannel", L}, {"nStream", L}, {"nControlType", L}, {"nSpeed", L}}, "Returns 0"},
      {24, "CliSetVolume", L, {{"lPnlIndex", L}, {"nVolume", L}}, "Pane volume"},
      {25, "CliGetVolume", L, {{"lPnlIndex", L}}, "Checks the pane index; returns 0"},
      {26, "CliSetAudioState", L, {{"lPnlIndex", L}, {"lState", L}}, "Pane audio on or off"},
      {27, "CliGetAudioState", L, {{"lPnlIndex", L}}, "Pane audio state"},
      {28, "CliStartAudio", L, {{"lPnlIndex", L}}, "Checks the pane index; returns 0"},
      {29, "CliStopAudio", V, {{"lPnlIndex", L}}, "Accepted; changes nothing"},
      {36, "CliFullScreen", V, {{"bFull", L}}, "Full screen on or off"},
      {39, "CliCloudInitSimple", V, {{"szUser", S}, {"szPass", S}}, "Signs in to the cloud account and fetches the lists"},
      {40, "CliDelDevice", V, {{"szID", S}}, "Removes a device and its cameras"},
      {41, "CliCloudSync", V, {}, "Asks the cloud for the list serial numbers"},
      {42, "CliCloudGetDeviceListSp", V, {}, "Fetches the device list"},
      {43, "CliCloudGetCamListSp", V, {}, "Fetches the camera list"},
      {44, "CliQueryAlarm", V, {{"devid", S}, {"timeBegin", S}, {"timeEnd", S}}, "Accepted; changes nothing"},
      {45, "CliOpenDeviceWeb", V, {{"szDevID", S}}, "Opens the device's web page through its tunnel"},
      {46, "CliAddDeviceP2P", V,
       {{"szDeviceId", S}, {"szDevUser", S}, {"szDevPass", S}, {"szDevName", S}, {"szDevPort", L}, {"szHttpPort", L}},
       "Adds a device by identifier and credentials"},
      {47, "CliStartPlayDev", L, {{"camID", S}, {"lStreamID", L}, {"lPnlIndex", L}}, "Starts live video in a pane"},
      {48, "CliStopPlayDev", V, {{"lPnlIndex", L}}, "Stops live video in a pane"},
      {49, "CliQueryRecordDev", V, {{"camID", S}, {"szStartTime", S}, {"szEndTime", S}}, "Searches recordings"},
      {50, "CliStartListenAlertDev", V, {{"camID", S}, {"lAlertType", L}}, "Starts alert listening"},
      {51, "CliStopListenAlertDev", V, {{"camID", S}}, "Stops alert listening"},
      {52, "CliQueryRecordStatusDev", V, {{"camID", S}, {"szMonth", S}}, "Days of a month with recordings"},
      {53, "CliStartPlaybackDev", V, {{"camID", S}, {"szStartTime", S}, {"lPnlIndex", L}}, "Starts playback"},
      {54, "CliStopPlaybackDev", V, {{"lPnlIndex", L}}, "Stops playback"},
      {55, "CliControlPlaybackDev", V, {{"lPnlIndex", L}, {"lCtrlCmd", L}}, "Playback control"},
      {56, "CliLoginDeviceP2PDev", V,
       {{"szDeviceId", S}, {"szDevUser", S}, {"szDevPass", S}, {"szDevPort", L}, {"szHttpPort", L}},
       "Logs in to a device through its tunnel"},
      {57, "CliLoginoutDeviceP2PDev", V, {{"szDeviceId", S}}, "Logs out of a device"},
      {58, "CliChangePageTo", V, {{"lPage", L}}, "Switches between the live and playback pages"},
      {59, "CliSetP2PPortRange", V, {{"lRangeStart", L}, {"lRangeEnd", L}}, "Local port range for tunnels"},
      {60, "CliPTZStop", V, {{"lPnlIndex", L}}, "Stops the running PTZ move"},
      {61, "CliPTZZoomStop", V, {{"lPnlIndex", L}}, "Stops the running PTZ move"},
      {62, "CliPTZZoomIn", V, {{"lPnlIndex", L}, {"lSpeed", L}}, "PTZ zoom in"},
      {63, "CliPTZZoomOut", V, {{"lPnlIndex", L}, {"lSpeed", L}}, "PTZ zoom out"},
      {64, "CliPTZMoveUp", V, {{"lPnlIndex", L}, {"lSpeed", L}}, "PTZ up"},
      {65, "CliPTZMoveDown", V, {{"lPnlIndex", L}, {"lSpeed", L}}, "PTZ down"},
      {66, "CliPTZMoveLeft", V, {{"lPnlIndex", L}, {"lSpeed", L}}, "PTZ left"},
      {67, "CliPTZMoveRight", V, {{"lPnlIndex", L}, {"lSpeed", L}}, "PTZ right"},
      {72, "CliPTZRecallPreset", V, {{"lPnlIndex", L}, {"lPreset", L}}, "Go to preset"},
      {73, "CliPTZSetPreset", V, {{"lPnlIndex", L}, {"lPreset", L}}, "Store preset"},
      {74, "CliPTZDeletePreset", V, {{"lPnlIndex", L}, {"lPreset", L}}, "Delete preset"},
      {68, "CliSaveLayout", V, {{"szLayoutName", S}}, "Saves the pane layout"},
      {69, "CliLoadLayout", B, {{"szLayoutName", S}}, "Loads a pane layout"},
      {70, "CliEnumLayouts", S, {}, "Lists saved layouts (JSON)"},
      {71, "CliDeleteLayout", V, {{"szLayoutName", S}}, "Deletes a layout"},
      {75, "CliGetBuild", L, {}, "Build number of the module"},
      {76, "CliStartBackup", L, {{"camID", S}, {"szStartTime", S}, {"lBackupLenSecs", L}}, "Exports recorded video"},
      {77, "CliStopBackup", L, {}, "Stops the export"},
      {78, "CliGetHTTPPort", L, {{"szDeviceID", S}}, "Device HTTP port"},
      {79, "CliGetHTTPSPort", L, {{"szDeviceID", S}}, "Device HTTPS port"},
      {80, "CliGetTCPPort", L, {{"szDeviceID", S}}, "Device TCP port"},
  };
  return table;
}

const std::vector<Member>& events() {
  static const std::vector<Member> table = {
      {DISPID_CliCallBackMsg, "CliCallBackMsg", V,
       {{"hContext", L}, {"handle", L}, {"nID", L}, {"nTag1", L}, {"nTag2", L}, {"szInfo", S}, {"nInfoLen", L}},
       "An asynchronous result"},
      {DISPID_CliCreatedNotify, "CliCreatedNotify", V, {{"lCreated", L}}, "The control's window has been created"},
  };
  return table;
}

const Member* find_method(com::DISPID id) {
  for (const Member& m : methods()) {
    if (m.id == id) return &m;
  }
  return nullptr;
}

const Member* find_method(const std::string& name) {
  for (const Member& m : methods()) {
    if (strcasecmp(m.name, name.c_str()) == 0) return &m;
  }
  return nullptr;
}

const Member* find_event(com::DISPID id) {
  for (const Member& m : events()) {
    if (m.id == id) return &m;
  }
  return nullptr;
}

const char* type_name(Type type) {
  switch (type) {
    case Type::Long: return "long";
    case Type::Bstr: return "BSTR";
    case Type::Bool: return "BOOL";
    case Type::None: return "void";
  }
  return "void";
}

namespace {

cJSON* describe_members(const std::vector<Member>& members) {
  cJSON* list = cJSON_CreateArray();
  for (const Member& m : members) {
    cJSON* item = cJSON_CreateObject();
    cJSON_AddNumberToObject(item, "dispid", m.id);
    cJSON_AddStringToObject(item, "name", m.name);
    cJSON_AddStringToObject(item, "result", type_name(m.result));
    cJSON* params = cJSON_AddArrayToObject(item, "params");
    for (const Param& p : m.params) {
      cJSON* param = cJSON_CreateObject();
      cJSON_AddStringToObject(param, "name", p.name);
      cJSON_AddStringToObject(param, "type", type_name(p.type));
      cJSON_AddItemToArray(params, param);
    }
    cJSON_AddStringToObject(item, "help", m.help);
    cJSON_AddItemToArray(list, item);
  }
  return list;
}

}  // namespace

std::string describe() {
  cJSON* root = cJSON_CreateObject();
  cJSON* library = cJSON_AddObjectToObject(root, "library");
  cJSON_AddStringToObject(library, "name", "kavrelLib");
  cJSON_AddStringToObject(library, "uuid", com::guid_text(LIBID_kavrelLib).c_str());
  cJSON_AddStringToObject(library, "version", "1.0");
  cJSON* coclass = cJSON_AddObjectToObject(root, "coclass");
  cJSON_AddStringToObject(coclass, "name", "kavrel");
  cJSON_AddStringToObject(coclass, "uuid", com::guid_text(CLSID_kavrel).c_str());
  cJSON_AddStringToObject(coclass, "progid", kControlProgId);
  cJSON* dispatch = cJSON_AddObjectToObject(root, "dispinterface");
  cJSON_AddStringToObject(dispatch, "name", "_Dkavrel");
  cJSON_AddStringToObject(dispatch, "uuid", com::guid_text(DIID__Dkavrel).c_str());
  cJSON_AddItemToObject(dispatch, "methods", describe_members(methods()));
  cJSON* source = cJSON_AddObjectToObject(root, "events");
  cJSON_AddStringToObject(source, "name", "_DkavrelEvents");
  cJSON_AddStringToObject(source, "uuid", com::guid_text(DIID__DkavrelEvents).c_str());
  cJSON_AddItemToObject(source, "methods", describe_members(events()));
  char* printed = cJSON_PrintUnformatted(root);
  std::string text = printed != nullptr ? printed : "";
  cJSON_free(printed);
  cJSON_Delete(root);
  return text;
}

}  // namespace kavrel::typelib
