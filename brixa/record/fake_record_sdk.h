// A scripted device behind the recordings code's SDK table, for tests: it records every call,
// hands out playback and download handles, refuses on cue, serves a list of recorded files by
// time, and can hold a record query until the test lets it go.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "brixa/record/record_sdk.h"

namespace brixa::record::testing {

std::string text_of(const NET_TIME& t);  // "2024-01-31 23:59:50"

class FakeRecordSdk {
 public:
  FakeRecordSdk();
  ~FakeRecordSdk();  // puts the NetSDK back
  FakeRecordSdk(const FakeRecordSdk&) = delete;
  FakeRecordSdk& operator=(const FakeRecordSdk&) = delete;

  // Every call so far, one text each: "play 7 2 2024-01-31 23:59:50 2024-02-01 00:59:50",
  // "stop 100", "pause 100 1", "fast 100", "slow 100", "normal 100", "download 7 2 <start> <end>
  // <file>", "stop_download 200", "query <start> <end>", "status 2024-02".
  std::vector<std::string> calls();
  void clear_calls();
  bool wait_for_call_count(size_t count, std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

  // Scripting.
  void refuse_next_starts(int count, uint32_t error_number);  // playback and download starts
  void fail_controls(bool fail);                               // pause, fast, slow, normal
  void set_osd_time(int32_t play_handle, const NET_TIME& t);   // the on-screen time of a playback
  void set_files(std::vector<NET_RECORDFILE_INFO> files, bool boundary_inclusive);
  void fail_queries(bool fail);
  void set_day_flags(std::vector<int> days);  // days 1-31 with recordings
  void hold_query(int call_number);  // the query with this number (from 1) waits for release
  void release_query();
  bool wait_query_held(std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

  // What the code handed over with the last start.
  NET_PlayPosCallback position_callback();
  NET_TimeDownloadPosCallback download_callback();
  intptr_t download_user();

  static FakeRecordSdk* current;

  // The table's entries (called by the code under test on its threads).
  int32_t play(int32_t login, int32_t channel, const NET_TIME* start, const NET_TIME* end, void* window,
               NET_PlayPosCallback position);
  NET_BOOL stop(int32_t handle);
  NET_BOOL control(const char* what, int32_t handle);
  NET_BOOL osd(int32_t handle, NET_TIME* t);
  int32_t download(int32_t login, int32_t channel, const NET_TIME* start, const NET_TIME* end, const char* file,
                   NET_TimeDownloadPosCallback position, intptr_t user);
  NET_BOOL stop_download(int32_t handle);
  NET_BOOL query(const NET_TIME* start, const NET_TIME* end, NET_RECORDFILE_INFO* buffer, int32_t size,
                 int32_t* count);
  NET_BOOL status(const NET_TIME* month, NET_RECORD_STATUS* out);

 private:
  void log(std::string call);
  bool refuse_start();

  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::string> calls_;
  int32_t next_handle_ = 100;
  std::map<int32_t, bool> running_;  // playbacks and downloads not yet stopped
  int refusals_ = 0;
  uint32_t refusal_error_ = 0;
  bool fail_controls_ = false;
  std::map<int32_t, NET_TIME> osd_;
  std::vector<NET_RECORDFILE_INFO> files_;
  bool inclusive_ = false;
  bool fail_queries_ = false;
  NET_RECORD_STATUS status_{};
  int query_calls_ = 0;
  int hold_call_ = 0;
  bool holding_ = false;
  NET_PlayPosCallback position_ = nullptr;
  NET_TimeDownloadPosCallback download_ = nullptr;
  intptr_t download_user_ = 0;
};

}  // namespace brixa::record::testing
