// Saving a finished video file (a completed export or a stopped local recording) where the user
// chooses, through the browser's save functions: the user picks a name; a name ending in ".mp4"
// or ".MP4" gets the video converted to MP4, any other name the raw DAV data. The temporary
// files are deleted in every case.
//
// Threads: whichever thread finished the file (the library's callback thread for an export);
// the save dialog is modal for that thread.
#pragma once

#include <string>

#include "kavrel/media/stream_converter.h"
#include "platform/window/window.h"

namespace kavrel {

inline constexpr const char* kSaveInitialName = "Video.mp4";
inline constexpr const char* kSaveFilter = "File video MP4|*.mp4|File video DAV|*.dav|";
inline constexpr const char* kSaveDefaultExtension = "mp4";

// Converts the DAV file `source` into an MP4 file at `destination`. True when the converter ran
// to its end and left a file there. A failed step closes what was opened (the source file, the
// converter) and removes a partial destination.
bool convert_dav_to_mp4(const StreamConverterCalls& converter, const std::string& source,
                        const std::string& destination);

// What became of a save.
enum class SaveOutcome { cancelled, saved_mp4, saved_dav, conversion_failed, save_failed };

// Asks for a name (`owner` is the dialog's owner), converts when the name asks for MP4, hands
// the file to the browser's save and deletes `source` and the converted file. A conversion that
// fails saves nothing: a missing or partial MP4 is never given as the user's video.
SaveOutcome save_video_file(platform::HWND owner, const std::string& source, const StreamConverterCalls& converter);

}  // namespace kavrel
