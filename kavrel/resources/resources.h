// The control module's resources: string table, dialogs and version numbers. User-visible texts
// are Brazilian Portuguese; the class names of the string table are those the module registers.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window/host_site.h"

namespace kavrel::resources {

// String resources.
inline constexpr uint32_t IDS_KAVREL = 1;          // type name of the control class
inline constexpr uint32_t IDS_KAVREL_PPG = 2;      // name of the property page class
inline constexpr uint32_t IDS_KAVREL_PPG_CAPTION = 200;  // property page and message box caption

// Dialog resources.
inline constexpr uint32_t IDD_ABOUTBOX_KAVREL = 1;
inline constexpr uint32_t IDD_PROPPAGE_KAVREL = 200;

// Toolbox bitmap resource of the control class.
inline constexpr uint32_t IDB_KAVREL = 1;

// Version of the module file and of the product.
inline constexpr uint16_t kFileVersion[4] = {1, 2, 1329, 0};
inline constexpr uint16_t kProductVersion[4] = {1, 2, 1115, 0};

// The text of a string resource, empty for an unknown number.
std::string load_string(uint32_t id);

// The About dialog and the property page dialog, as plain data.
platform::DialogTemplate about_dialog();
platform::DialogTemplate property_page_dialog();

}  // namespace kavrel::resources
