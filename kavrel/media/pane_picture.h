// The last frame of a pane: the picture its render window holds, written as a BMP file when the
// pane stops, and shown again under the connecting indicator when the pane next starts.
#pragma once

#include <string>

#include "platform/window/window.h"

namespace kavrel {

// "<config folder>/<device>_<channel>.bmp".
std::string pane_picture_file(const std::string& dev_id, int32_t channel);

// Writes the window's surface as a 24-bit BMP file, through a temporary file that then replaces
// `path`. False when the window has no pixels or the file cannot be written.
bool save_window_picture(platform::HWND window, const std::string& path);

}  // namespace kavrel
