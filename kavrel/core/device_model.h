// The account's devices and cameras: the DevInfo and CamInfo records and the two maps that own
// them, keyed by identifier text.
//
// Ownership: every record is held by std::shared_ptr. The map holds one reference; whoever works
// on a record (a worker thread, a callback, a script method) takes its own reference through a
// lookup, so a record removed from its map (CliDelDevice, the camera-map clearing of a direct
// login) stays valid until the last user lets go of it. Nothing ever reaches a freed record.
//
// Threads: the map lock guards only the map structure for one lookup, insertion, removal or
// snapshot. Inside a record, the numbers, flags and tunnel handles that several threads poll are
// atomics; the texts and channel slots are guarded by the record's own `lock`, held only to copy
// them in or out. The identifier never changes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "brixa/api/brixa.h"
#include "kavrel/core/task_worker.h"

namespace kavrel {

// Fixed field sizes of the records (bytes, terminating zero included). A value that does not fit
// is read as empty.
inline constexpr size_t kIdField = 240;
inline constexpr size_t kLoginField = 120;
inline constexpr size_t kDevTextField = 240;
inline constexpr size_t kCamNameField = 64;
inline constexpr size_t kCamDevIdRead = 64;
inline constexpr size_t kPicSnField = 240;
inline constexpr size_t kChannelSlots = 64;
inline constexpr size_t kChannelSlotField = 120;
// Times ("YYYYMMDDhhmmss") and months ("YYYYMM") of the recorded-video methods.
inline constexpr size_t kTimeField = 16;
// devInfoResult while a device description is awaited.
inline constexpr int32_t kDevInfoAwaited = -100;
// A tunnel to a device is asked for up to this many times, with this pause after each refusal.
inline constexpr int kTunnelTries = 3;
inline constexpr std::chrono::milliseconds kTunnelRetryPause{100};

// `text` when it fits a field of `field` bytes with its terminating zero, else empty.
inline std::string fit_field(const char* text, size_t field) {
  if (text == nullptr) return {};
  std::string value(text);
  return value.size() < field ? value : std::string();
}

struct DevInfo {
  explicit DevInfo(std::string identifier) : id(std::move(identifier)) {}
  DevInfo(const DevInfo&) = delete;
  DevInfo& operator=(const DevInfo&) = delete;

  const std::string id;

  // Texts and channel slots; guarded by `lock`.
  mutable std::mutex lock;
  std::string dev_user, dev_pass, name, model, vendor;
  std::vector<std::string> channels;  // at most kChannelSlots

  std::atomic<int32_t> dev_port{0};
  std::atomic<int32_t> dev_http_port{0};
  std::atomic<int32_t> status_sp{0};
  std::atomic<int32_t> devInfoResult{0};
  std::atomic<int32_t> logincount{0};
  std::atomic<bool> online{false};
  std::atomic<bool> abortLogin{false};

  std::atomic<brixa_connection> webConnection{nullptr};
  std::atomic<int32_t> webConnectionStatus{0};
  std::atomic<bool> webConnectionRenewed{false};
  std::atomic<brixa_connection> tcpConnection{nullptr};
  std::atomic<int32_t> tcpConnectionStatus{0};
  std::atomic<bool> tcpConnectionRenewed{false};
  std::atomic<brixa_connection> webTcpConnection{nullptr};
  std::atomic<int32_t> webTcpConnectionStatus{0};
  std::atomic<bool> webTcpConnectionRenewed{false};

  // The add-device or login thread. `worker_lock` serialises starting and stopping it, which
  // the user-interface thread and the library's dispatcher thread both do.
  std::mutex worker_lock;
  TaskWorker worker{"CkavrelCtrl::StopAddDeviceThread", 4404, "AddDeviceThread is not ending (4401)"};

  std::string text(std::string DevInfo::*field) const {
    std::lock_guard<std::mutex> hold(lock);
    return this->*field;
  }
  std::vector<std::string> channel_slots() const {
    std::lock_guard<std::mutex> hold(lock);
    return channels;
  }
};

struct CamInfo {
  explicit CamInfo(std::string identifier) : id(std::move(identifier)) {}
  CamInfo(const CamInfo&) = delete;
  CamInfo& operator=(const CamInfo&) = delete;

  const std::string id;

  mutable std::mutex lock;  // guards the texts
  std::string name, devid, dev_user, dev_pass, pic_sn;

  std::atomic<int32_t> sn{0};
  std::atomic<int32_t> shared{0};
  std::atomic<int32_t> type{0};
  std::atomic<int32_t> chlid{0};
  std::atomic<int32_t> onvif_port{0};
  std::atomic<int32_t> state{0};
  std::atomic<int32_t> ptz{0};
  // Live and playback state of the media operations; -1 when unused.
  std::atomic<int32_t> camStreamId{-1};
  std::atomic<int32_t> playbackPane{-1};
  std::atomic<int32_t> playbackHandle{-1};
  // Live viewing: the pane the camera was started in, and how (0 none, 1 live, 2 playback).
  std::atomic<int32_t> camPane{-1};
  std::atomic<int32_t> camStartMode{0};
  // The start thread; its running flag is the camera's camStartRunning. Started and stopped on
  // the user-interface thread.
  TaskWorker startWorker{"CkavrelCtrl::StopPlayThread", 4904, "StartPlayThread is not ending (4904)"};
  // Alert listening: the type the page last gave (kept, not used) and the listen worker, started
  // and stopped on the user-interface thread.
  std::atomic<int32_t> lAlertType{0};
  TaskWorker listenWorker{"CkavrelCtrl::StopListenAlertThread", 5262, "ListenzAlarmThread is not ending (5262)"};

  // Recorded video. The texts are guarded by `lock`: the playback start time, the record
  // search's times and month, and the export's temporary file.
  std::string playbackStartTime, searchStartTime, searchEndTime, searchMonth, backupFileName;
  // Set while this camera's export runs; written by the user-interface thread (start, stop) and
  // the library's callback thread (completion).
  std::atomic<bool> backupRunning{false};
  // The record search workers; started and stopped on the user-interface thread.
  TaskWorker queryRecordWorker{"CkavrelCtrl::StopQueryRecordThread", 5032, "QueryRecordThread is not ending (5032)"};
  TaskWorker queryRecordStatusWorker{"CkavrelCtrl::StopQueryRecordStatusThread", 5290,
                                     "QueryRecordStatusThread is not ending"};

  std::string text(std::string CamInfo::*field) const {
    std::lock_guard<std::mutex> hold(lock);
    return this->*field;
  }
  void set_text(std::string CamInfo::*field, std::string value) {
    std::lock_guard<std::mutex> hold(lock);
    this->*field = std::move(value);
  }
};

// A map of records keyed by identifier, with its own lock held for one operation at a time.
template <class Record>
class RecordMap {
 public:
  std::shared_ptr<Record> find(const std::string& id) const {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = records_.find(id);
    return it != records_.end() ? it->second : nullptr;
  }
  // The record of `id`, entered new when absent (`created` tells which).
  std::shared_ptr<Record> find_or_add(const std::string& id, bool* created = nullptr) {
    std::lock_guard<std::mutex> hold(lock_);
    auto& slot = records_[id];
    if (created != nullptr) *created = slot == nullptr;
    if (slot == nullptr) slot = std::make_shared<Record>(id);
    return slot;
  }
  std::shared_ptr<Record> remove(const std::string& id) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = records_.find(id);
    if (it == records_.end()) return nullptr;
    std::shared_ptr<Record> record = std::move(it->second);
    records_.erase(it);
    return record;
  }
  // Every record, in key order.
  std::vector<std::shared_ptr<Record>> snapshot() const {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::shared_ptr<Record>> all;
    all.reserve(records_.size());
    for (const auto& [id, record] : records_) all.push_back(record);
    return all;
  }
  // Empties the map; the records go when their last user lets go.
  void clear() {
    std::map<std::string, std::shared_ptr<Record>> dropped;
    {
      std::lock_guard<std::mutex> hold(lock_);
      dropped.swap(records_);
    }
  }
  size_t size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return records_.size();
  }

 private:
  mutable std::mutex lock_;
  std::map<std::string, std::shared_ptr<Record>> records_;  // guarded by lock_
};

// Builds the camera summary of a device description: {"dev_id":"..","chls":N,"camlist":[..]}.
// Elements that would take the text past `limit` bytes are left out whole, so the text stays
// valid JSON; texts are escaped as JSON strings.
class CameraSummary {
 public:
  explicit CameraSummary(size_t limit) : limit_(limit) {}
  void begin(const std::string& dev_id);
  void channels(int32_t count);
  // False when the element no longer fits.
  bool camera(const std::string& cam_id, int32_t chlid, const std::string& name);
  std::string finish();

 private:
  size_t limit_;
  std::string text_;
  bool open_list_ = false;
  bool first_ = true;
  bool full_ = false;
};

}  // namespace kavrel
