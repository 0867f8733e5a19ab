// The control's two long-lived threads. Each serves its own control, and only while that
// control is the current control; between passes it waits for work, a stop request, or at most
// 100 ms.
#include <cjson/cJSON.h>

#include <cstring>

#include "kavrel/core/current_control.h"
#include "kavrel/core/traced.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

constexpr uint32_t kPassIntervalMs = 100;
constexpr size_t kCommandNameBuffer = 120;

// A string member of the command, or empty when absent or not a string.
std::string member_text(const cJSON* command, const char* name) {
  const cJSON* item = cJSON_GetObjectItemCaseSensitive(command, name);
  return cJSON_IsString(item) && item->valuestring != nullptr ? item->valuestring : "";
}

}  // namespace

void CkavrelCtrl::StartDoCallbackThread() {
  TracedMethod traced("CkavrelCtrl::StartDoCallbackThread");
  try {
    m_doCallbackThread.start([self = this](TaskWorker::Context& context) {
      while (context.running()) {
        CurrentControl::use(self, [&](CkavrelCtrl& control) {
          if (context.running()) control.DoCallBackMsg();
        });
        context.idle(kPassIntervalMs);
      }
    });
  } catch (const std::exception& e) {
    trace::exception("CkavrelCtrl::StartDoCallbackThread", e.what());
  }
}

void CkavrelCtrl::StopDoCallbackTread() {
  TracedMethod traced("CkavrelCtrl::StopDoCallbackTread");
  m_doCallbackThread.stop();
}

void CkavrelCtrl::StartCmdThread() {
  TracedMethod traced("CkavrelCtrl::StartCmdThread");
  try {
    m_cmdThread.start([self = this](TaskWorker::Context& context) {
      TracedMethod body("cmd_thread_address");
      while (context.running()) {
        CurrentControl::use(self, [&](CkavrelCtrl& control) {
          if (context.running()) control.RunCommands(context);
        });
        context.idle(kPassIntervalMs);
      }
    });
  } catch (const std::exception& e) {
    trace::exception("CkavrelCtrl::StartCmdThread", e.what());
  }
}

void CkavrelCtrl::StopCmdThread() {
  TracedMethod traced("CkavrelCtrl::StopCmdThread");
  m_cmdThread.stop();
}

void CkavrelCtrl::RunCommands(const TaskWorker::Context& context) {
  // Commands run one after another; a stop request is honoured between two of them.
  while (context.running()) {
    std::optional<CommandRecord> record = m_cmdQueue.pop();
    if (!record) break;
    RunCommand(record->text);
  }
}

bool CkavrelCtrl::RunCommand(const std::string& text) {
  if (text.empty()) return false;
  size_t start = 0;
  while (start < text.size() && static_cast<unsigned char>(text[start]) <= 32) ++start;
  cJSON* command = cJSON_Parse(text.c_str() + start);
  if (command == nullptr) return false;  // an unparsable command is dropped silently

  std::string name = member_text(command, "cmd");
  if (name.size() >= kCommandNameBuffer) name.clear();  // does not fit the name buffer
  const CloudCalls& cloud = *m_cloud.load();
  brixa_handle client = m_hClient.load();
  bool known = true;
  if (name == "cmd_get_list") {
    cloud.get_list(client);
  } else if (name == "cmd_get_sn") {
    cloud.get_list_sn(client);
  } else if (name == "cmd_get_dev_list") {
    cloud.get_device_list(client);
  } else if (name == "cmd_get_cam_list") {
    cloud.get_cam_list(client);
  } else if (name == "cmd_set_cam_list") {
    cloud.set_cam_list(client, member_text(command, "camlist").c_str());
  } else if (name == "cmd_set_dev_list") {
    cloud.set_device_list(client, 1, member_text(command, "devlist").c_str());
  } else {
    known = false;
  }
  cJSON_Delete(command);
  return known;
}

}  // namespace kavrel
