// The control's configuration folder: where the layouts, the channel-resolution file and the pane
// pictures live. It is the folder "kavrel" in the user's configuration directory
// ($XDG_CONFIG_HOME, or ~/.config), so the user's layouts outlive caches being cleared; the demo
// host points it at a folder of its own run.
#pragma once

#include <string>

namespace kavrel {

// The folder, made when missing; empty when there is none to be had.
std::string config_folder();
// The full name of a file in the folder; the bare name when there is no folder.
std::string config_file_name(const std::string& file);

}  // namespace kavrel
