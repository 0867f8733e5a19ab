// Searching a camera's recordings: the files between two times, and the days of a month that
// hold recordings. Each search runs on a worker of its own per camera (a new search of the same
// kind replaces the running one); the library answers through callbacks 259 and 260, which the
// callback dispatch turns into RECORD_QUERY_RES and RECORD_QUERY_STATUS_RES events.
//
// Threads: the script methods start and stop the workers on the user-interface thread; a worker
// reaches the control only as the current control and leaves events in the callback queue.
#include <string>

#include "kavrel/core/callback_names.h"
#include "kavrel/core/current_control.h"
#include "kavrel/core/traced.h"
#include "kavrel/media/recording_calls.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

// What differs between the two searches.
struct SearchKind {
  const char* worker_name;
  int device_line;
  const char* device_missing;
  int32_t event;
  const char* failed;
  const char* started;
  const char* login_refused;
};

constexpr SearchKind kFiles = {"query_record_address", 4612, "Device info not found (4612)", kEventRecordQuery,
                               "Start Request Record fail", "Start Request Record success",
                               "Start Request Record login fail"};
constexpr SearchKind kMonth = {"query_recordstatus_address", 5280, "Device info not found (5280)",
                               kEventRecordQueryStatus, "Start Request Record status fail",
                               "Start Request Record status success", "Start Request Record status login fail"};

// A time or month that does not fit its field reaches the library as empty text.
std::string fit_time(const char16_t* text) {
  std::string narrow = to_narrow(text);
  return narrow.size() < kTimeField ? narrow : std::string();
}

}  // namespace

#define KAVREL_TRACED(method) TracedMethod traced("CkavrelCtrl::" #method)

void CkavrelCtrl::OnLoginRefused(const std::shared_ptr<DevInfo>& device) {
  if (device->status_sp.load() == 1) {
    device->status_sp.store(2);
    UpdateCamInfoToServer();
  }
}

// ---- script methods ----

void CkavrelCtrl::CliQueryRecordDev(const char16_t* camID, const char16_t* szStartTime, const char16_t* szEndTime) {
  KAVREL_TRACED(CliQueryRecordDev);
  trace::wide_value("camID", camID);
  trace::wide_value("szStartTime", szStartTime);
  trace::wide_value("szEndTime", szEndTime);
  if (camID == nullptr || *camID == 0) return;
  std::shared_ptr<CamInfo> camera = m_cameras.find(to_narrow(camID));
  if (camera == nullptr) {
    trace::error("CkavrelCtrl::CliQueryRecordDev", 4990, "No camera instance");
    return;
  }
  camera->set_text(&CamInfo::searchStartTime, fit_time(szStartTime));
  camera->set_text(&CamInfo::searchEndTime, fit_time(szEndTime));
  StartQueryRecordThread(camera);
}

void CkavrelCtrl::CliQueryRecordStatusDev(const char16_t* camID, const char16_t* szMonth) {
  KAVREL_TRACED(CliQueryRecordStatusDev);
  trace::wide_value("camID", camID);
  trace::wide_value("szMonth", szMonth);
  if (camID == nullptr || *camID == 0) return;
  std::shared_ptr<CamInfo> camera = m_cameras.find(to_narrow(camID));
  if (camera == nullptr) {
    trace::error("CkavrelCtrl::CliQueryRecordStatusDev", 5240, "No camera instance");
    return;
  }
  camera->set_text(&CamInfo::searchMonth, fit_time(szMonth));
  StartQueryRecordStatusThread(camera);
}

// ---- workers ----

namespace {

// One pass of a search worker on the current control.
template <class Query>
void run_search(CkavrelCtrl& control, const std::shared_ptr<CamInfo>& camera, const SearchKind& kind, Query query,
                const TaskWorker::Context& context) {
  std::shared_ptr<DevInfo> device = control.devices().find(camera->text(&CamInfo::devid));
  if (device == nullptr) {
    trace::error(kind.worker_name, kind.device_line, kind.device_missing);
    return;
  }
  device->abortLogin.store(false);
  int login = control.LoginDev(device);
  if (login == 0) {
    if (!context.running()) return;  // replaced or stopped while logging in
    int32_t result = query(control.client(), device->id);
    if (result != 0) {
      control.Callback(0, 0, kind.event, 0, result, camera->id.c_str(), static_cast<int32_t>(camera->id.size()));
      trace::step(kind.failed);
    } else {
      trace::step(kind.started);
    }
  } else if (login == -11) {
    trace::step(kind.login_refused);
    if (device->status_sp.load() == 1) {
      device->status_sp.store(2);
      control.UpdateCamInfoToServer();
    }
  }
}

}  // namespace

void CkavrelCtrl::StartQueryRecordThread(const std::shared_ptr<CamInfo>& camera) {
  KAVREL_TRACED(StartQueryRecordThread);
  StopQueryRecordThread(camera);
  camera->queryRecordWorker.start(
      [self = this, camera](TaskWorker::Context& context) {
        TracedMethod body(kFiles.worker_name);
        CurrentControl::use(self, [&](CkavrelCtrl& control) {
          int32_t channel = camera->chlid.load();
          std::string start = camera->text(&CamInfo::searchStartTime);
          std::string end = camera->text(&CamInfo::searchEndTime);
          run_search(
              control, camera, kFiles,
              [&](brixa_handle client, const std::string& dev_id) {
                return recording_calls().query_record_files(client, dev_id.c_str(), channel, start.c_str(),
                                                            end.c_str());
              },
              context);
        });
      },
      UiWaitStyle());
}

void CkavrelCtrl::StopQueryRecordThread(const std::shared_ptr<CamInfo>& camera) {
  KAVREL_TRACED(StopQueryRecordThread);
  camera->queryRecordWorker.stop(kThreadStopTimeoutMs, UiWaitStyle());
}

void CkavrelCtrl::StartQueryRecordStatusThread(const std::shared_ptr<CamInfo>& camera) {
  KAVREL_TRACED(StartQueryRecordStatusThread);
  StopQueryRecordStatusThread(camera);
  camera->queryRecordStatusWorker.start(
      [self = this, camera](TaskWorker::Context& context) {
        TracedMethod body(kMonth.worker_name);
        CurrentControl::use(self, [&](CkavrelCtrl& control) {
          int32_t channel = camera->chlid.load();
          std::string month = camera->text(&CamInfo::searchMonth);
          run_search(
              control, camera, kMonth,
              [&](brixa_handle client, const std::string& dev_id) {
                return recording_calls().query_record_status(client, dev_id.c_str(), channel, month.c_str());
              },
              context);
        });
      },
      UiWaitStyle());
}

void CkavrelCtrl::StopQueryRecordStatusThread(const std::shared_ptr<CamInfo>& camera) {
  KAVREL_TRACED(StopQueryRecordStatusThread);
  camera->queryRecordStatusWorker.stop(kThreadStopTimeoutMs, UiWaitStyle());
}

}  // namespace kavrel
