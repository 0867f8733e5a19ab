// The browser's save functions. A control inside a browser page never writes to a path the user
// chose: it keeps its files in the writable cache folder and hands each finished file to the
// browser, which puts it where the user said. Here the host site plays the browser: its save
// dialog names a path in a folder of the host, a copy of the file to that path is what saving
// means, and the host offers the file to the page from there.
//
// Results follow the system's convention: 0 success; kSaveCancelled when the user chose nothing;
// kSaveNotAvailable when the site has no such function (a headless site); kSaveFailed when the
// copy could not be made. A save state names one chosen path; it ends with save_file or
// cancel_save_file, whichever comes first.
//
// Threads: any thread. The states are guarded by a lock of this file, never held while the
// dialog is open or a file is copied.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window/ui_api.h"
#include "platform/window/window.h"

namespace platform {

inline constexpr int32_t kSaveOk = 0;
inline constexpr int32_t kSaveCancelled = 1;
inline constexpr int32_t kSaveNotAvailable = static_cast<int32_t>(0x80004001u);
inline constexpr int32_t kSaveFailed = static_cast<int32_t>(0x80004005u);

using SaveState = uint64_t;

// Asks the user for a path. `filter` is pairs of a description and a pattern, each ended by
// '|': "File video MP4|*.mp4|File video DAV|*.dav|". On 0, `chosen_path` and `state` are set.
PLATFORM_UI_API int32_t show_save_file_dialog(HWND owner, const std::string& initial_name, const std::string& filter,
                                              const std::string& default_extension, std::string* chosen_path,
                                              SaveState* state);
// Copies the file at `source` to the state's chosen path (whole, or not at all) and ends the
// state. A chosen file that is not saved, here or by cancel_save_file, is told to the host site.
PLATFORM_UI_API int32_t save_file(SaveState state, const std::string& source);
// Ends the state without a copy.
PLATFORM_UI_API int32_t cancel_save_file(SaveState state);
// The writable cache folder (without a trailing separator).
PLATFORM_UI_API int32_t get_writeable_folder_path(std::string* folder);
// Ends every save dialog that is open now, as cancelled (a control that shuts down).
PLATFORM_UI_API void cancel_save_dialogs();

}  // namespace platform
