#include "brixa/record/fake_record_sdk.h"

#include <cstdio>
#include <cstring>
#include <tuple>

namespace brixa::record::testing {
namespace {

thread_local uint32_t last_error = 0;

auto key(const NET_TIME& t) { return std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second); }

FakeRecordSdk& fake() { return *FakeRecordSdk::current; }

const RecordSdk kTable = {
    [](int32_t login, int32_t channel, const NET_TIME* start, const NET_TIME* end, void* window,
       NET_PlayPosCallback position, intptr_t, NET_PlayDataCallback, intptr_t) {
      return fake().play(login, channel, start, end, window, position);
    },
    [](int32_t h) { return fake().stop(h); },
    [](int32_t h, NET_BOOL pause) { return fake().control(pause ? "pause 1" : "pause 0", h); },
    [](int32_t h) { return fake().control("fast", h); },
    [](int32_t h) { return fake().control("slow", h); },
    [](int32_t h) { return fake().control("normal", h); },
    [](int32_t h, NET_TIME* osd, NET_TIME*, NET_TIME*) { return fake().osd(h, osd); },
    [](int32_t login, int32_t channel, int32_t, const NET_TIME* start, const NET_TIME* end, const char* file,
       NET_TimeDownloadPosCallback position, intptr_t user) {
      return fake().download(login, channel, start, end, file, position, user);
    },
    [](int32_t h) { return fake().stop_download(h); },
    [](int32_t, int32_t, int32_t, const NET_TIME* start, const NET_TIME* end, const char*, NET_RECORDFILE_INFO* buffer,
       int32_t size, int32_t* count, int32_t, NET_BOOL) { return fake().query(start, end, buffer, size, count); },
    [](int32_t, int32_t, int32_t, const NET_TIME* month, const char*, NET_RECORD_STATUS* status, int32_t) {
      return fake().status(month, status);
    },
    []() { return last_error; },
};

}  // namespace

FakeRecordSdk* FakeRecordSdk::current = nullptr;

std::string text_of(const NET_TIME& t) {
  char text[64];
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

FakeRecordSdk::FakeRecordSdk() {
  current = this;
  set_sdk_for_testing(&kTable);
}

FakeRecordSdk::~FakeRecordSdk() {
  set_sdk_for_testing(nullptr);
  current = nullptr;
}

void FakeRecordSdk::log(std::string call) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    calls_.push_back(std::move(call));
  }
  changed_.notify_all();
}

std::vector<std::string> FakeRecordSdk::calls() {
  std::lock_guard<std::mutex> hold(lock_);
  return calls_;
}

void FakeRecordSdk::clear_calls() {
  std::lock_guard<std::mutex> hold(lock_);
  calls_.clear();
}

bool FakeRecordSdk::wait_for_call_count(size_t count, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, limit, [&] { return calls_.size() >= count; });
}

void FakeRecordSdk::refuse_next_starts(int count, uint32_t error_number) {
  std::lock_guard<std::mutex> hold(lock_);
  refusals_ = count;
  refusal_error_ = NET_ERROR_BASE | error_number;
}

void FakeRecordSdk::fail_controls(bool fail) {
  std::lock_guard<std::mutex> hold(lock_);
  fail_controls_ = fail;
}

void FakeRecordSdk::set_osd_time(int32_t play_handle, const NET_TIME& t) {
  std::lock_guard<std::mutex> hold(lock_);
  osd_[play_handle] = t;
}

void FakeRecordSdk::set_files(std::vector<NET_RECORDFILE_INFO> files, bool boundary_inclusive) {
  std::lock_guard<std::mutex> hold(lock_);
  files_ = std::move(files);
  inclusive_ = boundary_inclusive;
}

void FakeRecordSdk::fail_queries(bool fail) {
  std::lock_guard<std::mutex> hold(lock_);
  fail_queries_ = fail;
}

void FakeRecordSdk::set_day_flags(std::vector<int> days) {
  std::lock_guard<std::mutex> hold(lock_);
  status_ = NET_RECORD_STATUS{};
  for (int day : days) status_.day_flags[day - 1] = 1;
}

void FakeRecordSdk::hold_query(int call_number) {
  std::lock_guard<std::mutex> hold(lock_);
  hold_call_ = call_number;
}

void FakeRecordSdk::release_query() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    hold_call_ = 0;
  }
  changed_.notify_all();
}

bool FakeRecordSdk::wait_query_held(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, limit, [&] { return holding_; });
}

NET_PlayPosCallback FakeRecordSdk::position_callback() {
  std::lock_guard<std::mutex> hold(lock_);
  return position_;
}

NET_TimeDownloadPosCallback FakeRecordSdk::download_callback() {
  std::lock_guard<std::mutex> hold(lock_);
  return download_;
}

intptr_t FakeRecordSdk::download_user() {
  std::lock_guard<std::mutex> hold(lock_);
  return download_user_;
}

bool FakeRecordSdk::refuse_start() {
  std::lock_guard<std::mutex> hold(lock_);
  if (refusals_ == 0) return false;
  --refusals_;
  last_error = refusal_error_;
  return true;
}

int32_t FakeRecordSdk::play(int32_t login, int32_t channel, const NET_TIME* start, const NET_TIME* end, void*,
                            NET_PlayPosCallback position) {
  log("play " + std::to_string(login) + " " + std::to_string(channel) + " " + text_of(*start) + " " +
      text_of(*end));
  if (refuse_start()) return 0;
  std::lock_guard<std::mutex> hold(lock_);
  position_ = position;
  int32_t handle = next_handle_++;
  running_[handle] = true;
  return handle;
}

NET_BOOL FakeRecordSdk::stop(int32_t handle) {
  log("stop " + std::to_string(handle));
  std::lock_guard<std::mutex> hold(lock_);
  auto it = running_.find(handle);
  if (it == running_.end() || !it->second) return 0;
  it->second = false;
  return 1;
}

NET_BOOL FakeRecordSdk::control(const char* what, int32_t handle) {
  std::string call = what;
  // "pause 1" is logged as "pause <handle> 1".
  if (call.rfind("pause ", 0) == 0) {
    log("pause " + std::to_string(handle) + call.substr(5));
  } else {
    log(call + " " + std::to_string(handle));
  }
  std::lock_guard<std::mutex> hold(lock_);
  return fail_controls_ ? 0 : 1;
}

NET_BOOL FakeRecordSdk::osd(int32_t handle, NET_TIME* t) {
  std::lock_guard<std::mutex> hold(lock_);
  auto it = osd_.find(handle);
  if (it == osd_.end()) return 0;
  *t = it->second;
  return 1;
}

int32_t FakeRecordSdk::download(int32_t login, int32_t channel, const NET_TIME* start, const NET_TIME* end,
                                const char* file, NET_TimeDownloadPosCallback position, intptr_t user) {
  log("download " + std::to_string(login) + " " + std::to_string(channel) + " " + text_of(*start) + " " +
      text_of(*end) + " " + (file != nullptr ? file : "(null)"));
  if (refuse_start()) return 0;
  std::lock_guard<std::mutex> hold(lock_);
  download_ = position;
  download_user_ = user;
  int32_t handle = next_handle_++;
  running_[handle] = true;
  return handle;
}

NET_BOOL FakeRecordSdk::stop_download(int32_t handle) {
  log("stop_download " + std::to_string(handle));
  std::lock_guard<std::mutex> hold(lock_);
  auto it = running_.find(handle);
  if (it == running_.end() || !it->second) return 0;
  it->second = false;
  return 1;
}

NET_BOOL FakeRecordSdk::query(const NET_TIME* start, const NET_TIME* end, NET_RECORDFILE_INFO* buffer, int32_t size,
                              int32_t* count) {
  log("query " + text_of(*start) + " " + text_of(*end));
  std::unique_lock<std::mutex> hold(lock_);
  int number = ++query_calls_;
  if (number == hold_call_) {
    holding_ = true;
    changed_.notify_all();
    changed_.wait_for(hold, std::chrono::seconds(10), [&] { return hold_call_ != number; });
    holding_ = false;
  }
  if (fail_queries_) {
    last_error = NET_ERROR_BASE | NET_ERR_NETWORK_ERROR;
    return 0;
  }
  int32_t room = size / static_cast<int32_t>(sizeof(NET_RECORDFILE_INFO));
  int32_t n = 0;
  for (const NET_RECORDFILE_INFO& f : files_) {
    bool after_start = inclusive_ ? key(f.end) >= key(*start) : key(f.end) > key(*start);
    if (!after_start || key(f.start) >= key(*end)) continue;
    if (n == room) break;
    buffer[n++] = f;
  }
  *count = n;
  return 1;
}

NET_BOOL FakeRecordSdk::status(const NET_TIME* month, NET_RECORD_STATUS* out) {
  char text[32];
  snprintf(text, sizeof text, "status %04u-%02u", month->year, month->month);
  log(text);
  std::lock_guard<std::mutex> hold(lock_);
  if (fail_queries_) return 0;
  *out = status_;
  return 1;
}

}  // namespace brixa::record::testing
