// The brixa exports of recorded video that the control calls (playback, export, record queries),
// gathered in one table so tests can stand in for the library and watch the calls. The table in
// force is process-wide; a test sets it before the control uses it.
#pragma once

#include <cstdint>

#include "brixa/api/brixa.h"

namespace kavrel {

struct RecordingCalls {
  int32_t (*start_playback)(brixa_handle, void* hwnd, const char* dev_id, int32_t chl_id, const char* start_time);
  int32_t (*stop_playback)(int32_t playback_id);
  int32_t (*control_playback)(int32_t playback_id, uint32_t ctrl_cmd);
  int32_t (*start_backup)(brixa_handle, int32_t reserved, const char* dev_id, int32_t chl_id, const char* start_time,
                          int32_t backup_len_secs, const char* file_name);
  int32_t (*stop_backup)();
  int32_t (*query_record_files)(brixa_handle, const char* dev_id, int32_t chl_id, const char* start_time,
                                const char* end_time);
  int32_t (*query_record_status)(brixa_handle, const char* dev_id, int32_t chl_id, const char* month);
};

// The table in force: the library's exports unless a test set another.
const RecordingCalls& recording_calls();
// Null restores the library's table. The table must outlive its use.
void set_recording_calls(const RecordingCalls* calls);

}  // namespace kavrel
