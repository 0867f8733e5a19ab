// Where modules live on disk, and the probe that tries to load a library by path.
#pragma once

#include <string>

namespace platform {

// The folder (without a trailing separator) of the shared object or executable that contains
// `address`, or an empty string when no module contains it.
std::string folder_of_module_containing(const void* address);

// The full file name of that module, or an empty string.
std::string path_of_module_containing(const void* address);

// Loads the library at `path` and unloads it at once; true when it could be loaded. Used for
// marker libraries whose presence switches something on; their code is never called.
bool try_load_library(const std::string& path);

}  // namespace platform
