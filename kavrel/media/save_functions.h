// The save steps of snapshots and local recordings: a save dialog that returns a chosen path and
// a save state, the copy of a finished file to the chosen path, the cancel, and the writable
// cache folder where the control keeps its temporary files. The control never writes to a path
// the page chose itself: it writes in the cache folder and hands the file to the save.
//
// User-interface thread only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window/window.h"

namespace kavrel::media {

// Results as the browser's save functions give them: 0 success, else a failure code.
inline constexpr int32_t kSaveOk = 0;
inline constexpr int32_t kSaveCancelled = 1;                                      // S_FALSE
inline constexpr int32_t kSaveFailed = static_cast<int32_t>(0x80004005u);         // E_FAIL
inline constexpr int32_t kSavePathNotFound = static_cast<int32_t>(0x80070003u);   // Win32 facility
inline constexpr int32_t kSaveAccessDenied = static_cast<int32_t>(0x80070005u);

// One save: dialog, then either Save or Cancel.
class SaveSession {
 public:
  // Shows the save dialog; `filter` as "Description|*.ext|Description|*.ext|". kSaveOk when
  // the user chose a path (then chosen() holds it), else a failure and nothing to save.
  int32_t ShowDialog(platform::HWND owner, const std::string& initial_name, const std::string& filter,
                     const std::string& default_extension);
  // Copies `file` to the chosen path. kSaveOk, or a failure code of the Win32 facility.
  int32_t Save(const std::string& file);
  void Cancel();
  const std::string& chosen() const { return chosen_; }

 private:
  std::string chosen_;
  bool open_ = false;
};

// The writable cache folder ("kavrel" in the user's cache directory) with "/" appended, made
// when missing; empty when there is none.
std::string writable_cache_folder();

// The low 16 bits of a failure of the Win32 facility (0x8007xxxx), 1003 for any other failure.
int32_t win32_error_code(int32_t result);

// The extension of a chosen path: the text from its last dot (none when the dot is in a folder).
std::string path_extension(const std::string& path);

// Whether `name` may be used as one part of a file name: not empty, no separator, no "..".
bool safe_name_part(const std::string& name);

}  // namespace kavrel::media
