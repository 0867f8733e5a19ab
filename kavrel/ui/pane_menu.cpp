#include "kavrel/ui/pane_menu.h"

#include "kavrel/ui/ui_messages.h"

namespace kavrel::ui {
namespace {

using platform::HMENU;

void item(HMENU menu, int32_t command, const char16_t* text) {
  platform::AppendMenuW(menu, platform::MF_STRING, static_cast<platform::UINT_PTR>(command), text);
}

void separator(HMENU menu) { platform::AppendMenuW(menu, platform::MF_SEPARATOR, 0, nullptr); }

void submenu(HMENU menu, HMENU sub, const char16_t* text) {
  platform::AppendMenuW(menu, platform::MF_POPUP, reinterpret_cast<platform::UINT_PTR>(sub), text);
}

}  // namespace

HMENU BuildPaneMenu() {
  HMENU menu = platform::CreatePopupMenu();
  HMENU blc = platform::CreatePopupMenu();
  HMENU history = platform::CreatePopupMenu();
  HMENU freeze = platform::CreatePopupMenu();
  HMENU fisheye = platform::CreatePopupMenu();
  HMENU ceiling_layouts = platform::CreatePopupMenu();
  HMENU wall_layouts = platform::CreatePopupMenu();

  item(menu, kCmdClose, u"Fechar");
  item(menu, kCmdReconnect, u"Reconectar");
  separator(menu);

  item(blc, kCmdBlcOff, u"Inativo");
  item(blc, kCmdBlcLow, u"Baixo");
  item(blc, kCmdBlcDefault, u"Padrão");
  item(blc, kCmdBlcHigh, u"Alto");
  submenu(menu, blc, u"BLC");

  item(history, kCmdHistoryOff, u"Inativo");
  item(history, kCmdHistoryShort, u"Breve");
  item(history, kCmdHistoryMedium, u"Médio");
  item(history, kCmdHistoryLong, u"Longo");
  submenu(menu, history, u"Histórico");

  item(freeze, kCmdFreezeOff, u"Inativo");
  item(freeze, kCmdFreezeTopLeft, u"Superior esquerda");
  item(freeze, kCmdFreezeTopRight, u"Superior direito");
  item(freeze, kCmdFreezeBottomLeft, u"Inferior esquerdo");
  item(freeze, kCmdFreezeBottomRight, u"Inferior direita");
  submenu(menu, freeze, u"Congelar");

  item(fisheye, kCmdFisheyeCeiling, u"Teto");
  item(fisheye, kCmdFisheyeFloor, u"Chão");
  item(fisheye, kCmdFisheyeWall, u"Parede");
  separator(fisheye);
  item(ceiling_layouts, kCmdFisheyeOriginal, u"Original");
  item(ceiling_layouts, kCmdFisheyePanorama1, u"Panorama mais 1 EPTZ");
  item(ceiling_layouts, kCmdFisheyeOriginal2, u"Original mais 2 EPTZ");
  item(ceiling_layouts, kCmdFisheyeOriginal3, u"Original mais 3 EPTZ");
  item(ceiling_layouts, kCmdFisheyeOriginal4, u"Original mais 4 EPTZ");
  item(ceiling_layouts, kCmdFisheyePanorama6, u"Panorama mais 6 EPTZ");
  item(ceiling_layouts, kCmdFisheyeOriginal8, u"Original mais 8 EPTZ");
  submenu(fisheye, ceiling_layouts, u"Layout para teto/chão");
  item(wall_layouts, kCmdFisheyeWallPanorama, u"Panorama");
  item(wall_layouts, kCmdFisheyeWallPanorama3, u"Panorama mais 3 EPTZ");
  item(wall_layouts, kCmdFisheyeWallPanorama4, u"Panorama mais 4 EPTZ");
  item(wall_layouts, kCmdFisheyeWallPanorama8, u"Panorama mais 8 EPTZ");
  submenu(fisheye, wall_layouts, u"Layout para parede");
  submenu(menu, fisheye, u"Fisheye");
  return menu;
}

}  // namespace kavrel::ui
