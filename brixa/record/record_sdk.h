// The NetSDK's recording operations as the recordings code calls them: one table of function
// pointers, the real NetSDK by default. Tests put a scripted device in its place to reach the
// states and failures a simulated device cannot be made to show on cue (an open-channel refusal
// followed by success, a playback that has not drawn yet).
#pragma once

#include "brixa/sdk/sdk.h"

namespace brixa::record {

struct RecordSdk {
  decltype(&NET_PlayBackByTimeEx) play_back_by_time;
  decltype(&NET_StopPlayBack) stop_play_back;
  decltype(&NET_PausePlayBack) pause_play_back;
  decltype(&NET_FastPlayBack) fast_play_back;
  decltype(&NET_SlowPlayBack) slow_play_back;
  decltype(&NET_NormalPlayBack) normal_play_back;
  decltype(&NET_GetPlayBackOsdTime) get_osd_time;
  decltype(&NET_DownloadByTime) download_by_time;
  decltype(&NET_StopDownload) stop_download;
  decltype(&NET_QueryRecordFile) query_record_file;
  decltype(&NET_QueryRecordStatus) query_record_status;
  decltype(&NET_GetLastError) last_error;
};

// The table in use. Read by every thread of the recordings code.
const RecordSdk& sdk();
// Tests only: puts `table` in place of the NetSDK (null restores it). Not to be called while a
// recordings operation or notification runs.
void set_sdk_for_testing(const RecordSdk* table);

}  // namespace brixa::record
