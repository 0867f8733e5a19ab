// The save steps of snapshots: a save through the browser's save functions
// (platform/window/browser_save.h), and the writable cache folder where the control keeps its
// temporary files. The control never writes to a path the page chose itself: it writes in the
// cache folder and hands the file to the save.
//
// User-interface thread only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window/browser_save.h"
#include "platform/window/window.h"

namespace kavrel::media {

// Results as the browser's save functions give them: 0 success, else a failure code.
inline constexpr int32_t kSaveOk = platform::kSaveOk;
inline constexpr int32_t kSaveCancelled = platform::kSaveCancelled;
inline constexpr int32_t kSaveFailed = platform::kSaveFailed;

// One save through the browser's save functions: the dialog, then either Save or Cancel. A save
// left unfinished is cancelled when the session ends.
class SaveSession {
 public:
  SaveSession() = default;
  ~SaveSession();
  SaveSession(const SaveSession&) = delete;
  SaveSession& operator=(const SaveSession&) = delete;

  // Shows the save dialog; `filter` as "Description|*.ext|Description|*.ext|". kSaveOk when
  // the user chose a path (then chosen() holds it), else a failure and nothing to save.
  int32_t ShowDialog(platform::HWND owner, const std::string& initial_name, const std::string& filter,
                     const std::string& default_extension);
  // Hands `file` to the chosen path. kSaveOk, or a failure (the user then hears of it).
  int32_t Save(const std::string& file);
  void Cancel();
  const std::string& chosen() const { return chosen_; }

 private:
  std::string chosen_;
  platform::SaveState state_ = 0;  // 0: no save open
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
