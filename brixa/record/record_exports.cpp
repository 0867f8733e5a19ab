// The exports of playback, backup and record queries: their trace lines around playback.h and
// record_queries.h.
#include "brixa/api/brixa.h"
#include "brixa/record/playback.h"
#include "brixa/record/record_queries.h"
#include "trace/trace.h"

namespace {

int handle_value(brixa_handle client) { return static_cast<int>(reinterpret_cast<intptr_t>(client)); }

int32_t leave(const char* function, int32_t result) {
  trace::leave(function);
  return result;
}

}  // namespace

extern "C" {

BRIXA_API int32_t brixa_start_playback(brixa_handle handle, void* hwnd, const char* dev_id, int32_t chl_id,
                                       const char* start_time) {
  trace::enter("brixa_start_playback");
  trace::value("handle", handle_value(handle));
  trace::value("dev_id", dev_id);
  trace::value("chl_id", chl_id);
  trace::value("start_time", start_time);
  return leave("brixa_start_playback", brixa::record::start_playback(handle, hwnd, dev_id, chl_id, start_time));
}

BRIXA_API int32_t brixa_stop_playback(int32_t playback_id) {
  trace::enter("brixa_stop_playback");
  trace::value("playback_id", playback_id);
  return leave("brixa_stop_playback", brixa::record::stop_playback(playback_id));
}

BRIXA_API int32_t brixa_control_playback(int32_t playback_id, uint32_t ctrl_cmd) {
  trace::enter("brixa_control_playback");
  trace::value("playback_id", playback_id);
  trace::value("ctrl_cmd", static_cast<int>(ctrl_cmd));
  return leave("brixa_control_playback", brixa::record::control_playback(playback_id, ctrl_cmd));
}

BRIXA_API int32_t brixa_start_backup(brixa_handle handle, int32_t /*reserved*/, const char* dev_id, int32_t chl_id,
                                     const char* start_time, int32_t backup_len_secs, const char* file_name) {
  trace::enter("brixa_start_backup");
  trace::value("handle", handle_value(handle));
  trace::value("dev_id", dev_id);
  trace::value("chl_id", chl_id);
  trace::value("start_time", start_time);
  trace::value("backup_len_secs", backup_len_secs);
  trace::value("file_name", file_name);
  return leave("brixa_start_backup",
               brixa::record::start_backup(handle, dev_id, chl_id, start_time, backup_len_secs, file_name));
}

BRIXA_API int32_t brixa_stop_backup(void) {
  trace::enter("brixa_stop_backup");
  return leave("brixa_stop_backup", brixa::record::stop_backup());
}

BRIXA_API int32_t brixa_query_record_files(brixa_handle handle, const char* dev_id, int32_t chl_id,
                                           const char* start_time, const char* end_time) {
  trace::enter("brixa_query_record_files");
  trace::value("handle", handle_value(handle));
  trace::value("dev_id", dev_id);
  trace::value("chl_id", chl_id);
  trace::value("start_time", start_time);
  trace::value("end_time", end_time);
  return leave("brixa_query_record_files",
               brixa::record::query_record_files(handle, dev_id, chl_id, start_time, end_time));
}

BRIXA_API int32_t brixa_query_record_status(brixa_handle handle, const char* dev_id, int32_t chl_id,
                                            const char* month) {
  trace::enter("brixa_query_record_status");
  trace::value("handle", handle_value(handle));
  trace::value("dev_id", dev_id);
  trace::value("chl_id", chl_id);
  trace::value("month", month);
  return leave("brixa_query_record_status", brixa::record::query_record_status(handle, dev_id, chl_id, month));
}

}  // extern "C"
