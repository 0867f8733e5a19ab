// The right-click menu of a video pane: close, reconnect and the picture-mode and fisheye
// submenus, each item carrying its command number.
#pragma once

#include "platform/gdi/user.h"

namespace kavrel::ui {

// Builds the menu anew (seven popup menus); the caller destroys it with DestroyMenu.
platform::HMENU BuildPaneMenu();

}  // namespace kavrel::ui
