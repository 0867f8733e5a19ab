// A module with a version block, read back by the version resource tests.
#include "platform/version/version_note.h"

PLATFORM_VERSION_NOTE(kTestModuleVersion, platform::fixed_file_info(3, 4, 567, 8, 9, 10, 1112, 13),
                      "FileDescription\0" "versioned test module\0"
                      "ProductName\0" "kavrel tests\0");
