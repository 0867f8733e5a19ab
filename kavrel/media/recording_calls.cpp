#include "kavrel/media/recording_calls.h"

#include <atomic>

namespace kavrel {
namespace {

const RecordingCalls kLibrary = {brixa_start_playback,     brixa_stop_playback, brixa_control_playback,
                                 brixa_start_backup,       brixa_stop_backup,   brixa_query_record_files,
                                 brixa_query_record_status};
std::atomic<const RecordingCalls*> in_force{&kLibrary};

}  // namespace

const RecordingCalls& recording_calls() { return *in_force.load(); }

void set_recording_calls(const RecordingCalls* calls) { in_force.store(calls != nullptr ? calls : &kLibrary); }

}  // namespace kavrel
