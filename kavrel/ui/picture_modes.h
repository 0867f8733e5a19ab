// The library's picture-mode switches that the panes call on their render window (history,
// wide dynamic range, freeze), gathered in one table so tests can watch them. The table in force
// is process-wide; it is set before the wall is created and read on the user-interface thread.
#pragma once

#include <cstdint>

#include "platform/window/window.h"

namespace kavrel::ui {

struct PictureModeCalls {
  void (*set_history_mode)(platform::HWND window, int32_t mode);
  void (*set_history_interval)(platform::HWND window, int32_t milliseconds);
  void (*set_wdr_mode)(platform::HWND window, int32_t mode);
  void (*set_wdr_intensity)(platform::HWND window, int32_t intensity);
  void (*set_freeze_mode)(platform::HWND window, int32_t mode, int32_t corner);
};

// The table in force: the library's exports unless a test set another.
const PictureModeCalls& picture_mode_calls();
// Null restores the default table. The table must outlive its use.
void set_picture_mode_calls(const PictureModeCalls* calls);

}  // namespace kavrel::ui
