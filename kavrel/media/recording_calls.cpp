#include "kavrel/media/recording_calls.h"

#include <atomic>

// The library's recording exports are bound weakly: a library without them leaves them null, and
// every call then fails (-1) instead of the control failing to load.
extern "C" {
__attribute__((weak)) int32_t brixa_start_playback(brixa_handle, void*, const char*, int32_t, const char*);
__attribute__((weak)) int32_t brixa_stop_playback(int32_t);
__attribute__((weak)) int32_t brixa_control_playback(int32_t, uint32_t);
__attribute__((weak)) int32_t brixa_start_backup(brixa_handle, int32_t, const char*, int32_t, const char*, int32_t,
                                                 const char*);
__attribute__((weak)) int32_t brixa_stop_backup(void);
__attribute__((weak)) int32_t brixa_query_record_files(brixa_handle, const char*, int32_t, const char*, const char*);
__attribute__((weak)) int32_t brixa_query_record_status(brixa_handle, const char*, int32_t, const char*);
}

namespace kavrel {
namespace {

int32_t start_playback(brixa_handle h, void* w, const char* d, int32_t c, const char* t) {
  return ::brixa_start_playback != nullptr ? ::brixa_start_playback(h, w, d, c, t) : -1;
}
int32_t stop_playback(int32_t id) { return ::brixa_stop_playback != nullptr ? ::brixa_stop_playback(id) : -1; }
int32_t control_playback(int32_t id, uint32_t cmd) {
  return ::brixa_control_playback != nullptr ? ::brixa_control_playback(id, cmd) : -1;
}
int32_t start_backup(brixa_handle h, int32_t r, const char* d, int32_t c, const char* t, int32_t l, const char* f) {
  return ::brixa_start_backup != nullptr ? ::brixa_start_backup(h, r, d, c, t, l, f) : -1;
}
int32_t stop_backup() { return ::brixa_stop_backup != nullptr ? ::brixa_stop_backup() : -1; }
int32_t query_record_files(brixa_handle h, const char* d, int32_t c, const char* s, const char* e) {
  return ::brixa_query_record_files != nullptr ? ::brixa_query_record_files(h, d, c, s, e) : -1;
}
int32_t query_record_status(brixa_handle h, const char* d, int32_t c, const char* m) {
  return ::brixa_query_record_status != nullptr ? ::brixa_query_record_status(h, d, c, m) : -1;
}

const RecordingCalls kLibrary = {start_playback, stop_playback,      control_playback,   start_backup,
                                 stop_backup,    query_record_files, query_record_status};
std::atomic<const RecordingCalls*> in_force{&kLibrary};

}  // namespace

const RecordingCalls& recording_calls() { return *in_force.load(); }

void set_recording_calls(const RecordingCalls* calls) { in_force.store(calls != nullptr ? calls : &kLibrary); }

}  // namespace kavrel
