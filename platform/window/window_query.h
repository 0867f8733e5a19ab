// Questions a host asks about the window tree it shows: which window lies under a point, and
// which top-level windows a thread has (a window the control lifts out of its parent, as its
// wall does for full screen, becomes one).
#pragma once

#include <thread>
#include <vector>

#include "platform/window/host_site.h"
#include "platform/window/ui_api.h"
#include "platform/window/window.h"

namespace platform {

// The deepest visible window of `root`'s tree whose visible part contains `at` (root client
// coordinates): the one a click there reaches. `client` receives `at` in that window's client
// coordinates. Null when the point is outside the root or the root is hidden. Any thread.
PLATFORM_UI_API HWND window_from_point(HWND root, Point at, Point* client);

// The windows without a parent that `owner` created and has not destroyed, in creation order.
// Any thread.
PLATFORM_UI_API std::vector<HWND> top_level_windows(std::thread::id owner);

}  // namespace platform
