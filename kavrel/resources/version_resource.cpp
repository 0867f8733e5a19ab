// The module's version resource, read back by the build-number query.
#include "platform/version/version_note.h"

PLATFORM_VERSION_NOTE(kKavrelVersionResource, platform::fixed_file_info(1, 2, 1329, 0, 1, 2, 1115, 0),
                      "FileDescription\0" "kavrel ActiveX Control Module\0"
                      "FileVersion\0" "1.2.1329.0\0"
                      "InternalName\0" "kavrel\0"
                      "OriginalFilename\0" "kavrel.ocx\0"
                      "ProductName\0" "kavrel ActiveX Control Module\0"
                      "ProductVersion\0" "1.2.1115.0\0");
