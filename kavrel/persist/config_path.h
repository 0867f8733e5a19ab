// The control's configuration folder: where the channel-resolution file, the pane pictures and
// the layouts live. It is the folder "kavrel" in the user's cache directory ($XDG_CACHE_HOME, or
// ~/.cache), which the page host points at a folder of its own run.
#pragma once

#include <string>

namespace kavrel {

// The folder, made when missing; empty when there is none to be had.
std::string config_folder();
// The full name of a file in the folder; the bare name when there is no folder.
std::string config_file_name(const std::string& file);

}  // namespace kavrel
