#include "kavrel/resources/resources.h"

#include <cstdio>

namespace kavrel::resources {

std::string load_string(uint32_t id) {
  switch (id) {
    case IDS_KAVREL: return "kavrel Control";
    case IDS_KAVREL_PPG: return "kavrel Property Page";
    case IDS_KAVREL_PPG_CAPTION: return "Quenlar Cloud";
    default: return {};
  }
}

platform::DialogTemplate about_dialog() {
  char version[64];
  std::snprintf(version, sizeof version, "Versão %u.%u.%u.%u", kFileVersion[0], kFileVersion[1], kFileVersion[2],
                kFileVersion[3]);
  platform::DialogTemplate dialog;
  dialog.resource_id = IDD_ABOUTBOX_KAVREL;
  dialog.caption = "Sobre o kavrel Control";
  dialog.lines = {"kavrel Control", version};
  dialog.buttons = {platform::DialogButton{platform::IDOK, "OK"}};
  dialog.size = platform::Size{234, 60};
  return dialog;
}

platform::DialogTemplate property_page_dialog() {
  // The page exchanges no properties: it is empty apart from its caption.
  platform::DialogTemplate dialog;
  dialog.resource_id = IDD_PROPPAGE_KAVREL;
  dialog.caption = load_string(IDS_KAVREL_PPG_CAPTION);
  dialog.size = platform::Size{250, 62};
  return dialog;
}

}  // namespace kavrel::resources
