// The tool bar: which buttons it lays out for the pane's flags, and their faces; the spinner.
#include "kavrel/ui/video_tool.h"

#include <gtest/gtest.h>

#include "kavrel/resources/module_resources.h"
#include "kavrel/ui/spinner.h"
#include "kavrel/ui/ui_messages.h"

namespace kavrel::ui {
namespace {

using platform::RECT;

std::vector<ToolButton> laid_out(const std::array<std::optional<RECT>, kToolButtonCount>& rects) {
  std::vector<ToolButton> out;
  for (int i = 0; i < kToolButtonCount; ++i) {
    if (rects[i]) out.push_back(static_cast<ToolButton>(i));
  }
  return out;
}

struct LayoutCase {
  const char* name;
  ToolFlags flags;
  std::vector<ToolButton> order;  // left to right
};

TEST(ToolLayout, ButtonsShareTheBarInEqualSlots) {
  ToolFlags with_alarm;
  with_alarm.has_alarm = true;
  ToolFlags playback;
  playback.playback = true;
  playback.has_alarm = true;  // the playback bar never shows the alarm output
  const LayoutCase cases[] = {
      {"live with alarm outputs", with_alarm,
       {kToolAlarm, kToolSnapshot, kToolRecord, kToolBlc, kToolHistory, kToolFreeze, kToolClose}},
      {"live without", ToolFlags{}, {kToolSnapshot, kToolRecord, kToolBlc, kToolHistory, kToolFreeze, kToolClose}},
      {"playback", playback, {kToolSnapshot, kToolBlc, kToolHistory, kToolFreeze, kToolClose}},
  };
  const RECT client{0, 0, 702, 32};  // inner width 700
  for (const LayoutCase& c : cases) {
    auto rects = tool_layout(c.flags, client);
    int n = static_cast<int>(c.order.size());
    int slot = 700 / n;
    ASSERT_EQ(laid_out(rects).size(), c.order.size()) << c.name;
    for (int i = 0; i < n; ++i) {
      ASSERT_TRUE(rects[c.order[i]]) << c.name;
      EXPECT_EQ(*rects[c.order[i]], (RECT{1 + i * slot, 1, 1 + (i + 1) * slot, 31})) << c.name << " slot " << i;
    }
  }
}

TEST(ToolLayout, ExportingShowsOnlyACentredCancelButton) {
  ToolFlags flags;
  flags.has_alarm = true;
  flags.exporting = true;
  auto rects = tool_layout(flags, RECT{0, 0, 402, 32});
  EXPECT_EQ(laid_out(rects), std::vector<ToolButton>{kToolClose});
  EXPECT_EQ(*rects[kToolClose], (RECT{101, 1, 301, 31}));
  ButtonFace face = tool_button_face(kToolClose, flags);
  EXPECT_EQ(face.command, kCmdCancelExport);
  EXPECT_EQ(face.picture, resources::IDB_PNG_CLOSE);
  EXPECT_EQ(face.text, u"Cancelar exportação de vídeo");
}

TEST(ToolFaces, CommandsPicturesAndTextsFollowTheFlags) {
  ToolFlags off;
  ToolFlags on;
  on.history = on.blc = on.freeze = on.recording = on.alarm_on = true;
  struct Case {
    ToolButton button;
    int32_t command;
    uint32_t picture_off, picture_on;
    std::u16string text_off, text_on;
  };
  const Case cases[] = {
      {kToolClose, 205, 201, 201, u"Fechar", u"Fechar"},
      {kToolSnapshot, 200, 204, 204, u"Foto", u"Foto"},
      {kToolHistory, 210, 210, 210, u"Ver histórico", u"Ver simples"},
      {kToolBlc, 211, 211, 211, u"Ativar BLC", u"Desat. BLC"},
      {kToolFreeze, 212, 212, 212, u"Congelar", u"Descongelar"},
      {kToolRecord, 201, 206, 207, u"Gravar", u"Parar"},
      {kToolAlarm, 208, 209, 208, u"Ativar", u"Desativar"},
  };
  for (const Case& c : cases) {
    ButtonFace a = tool_button_face(c.button, off);
    ButtonFace b = tool_button_face(c.button, on);
    EXPECT_EQ(a.command, c.command);
    EXPECT_EQ(b.command, c.command);
    EXPECT_EQ(a.picture, c.picture_off);
    EXPECT_EQ(b.picture, c.picture_on);
    EXPECT_EQ(a.text, c.text_off);
    EXPECT_EQ(b.text, c.text_on);
  }
}

TEST(Spinner, ExportSpokesCountThePercentage) {
  EXPECT_EQ(export_spoke_count(0), 1);
  EXPECT_EQ(export_spoke_count(8), 1);
  EXPECT_EQ(export_spoke_count(9), 2);
  EXPECT_EQ(export_spoke_count(50), 7);
  EXPECT_EQ(export_spoke_count(100), 13);
  EXPECT_EQ(spinner_spokes(60, 60, 24, 0, export_spoke_count(0)).size(), 1u);
  EXPECT_EQ(spinner_spokes(60, 60, 24, 0, export_spoke_count(100)).size(), 13u);
}

TEST(Spinner, SpokesTurnThirtyDegreesAndFade) {
  auto spokes = spinner_spokes(100, 100, 30, 90, 12);
  ASSERT_EQ(spokes.size(), 12u);
  // The first spoke points down (90 degrees, y grows downwards), from r / 1.5 to r.
  EXPECT_NEAR(spokes[0].x1, 100, 1e-3);
  EXPECT_NEAR(spokes[0].y1, 120, 1e-3);
  EXPECT_NEAR(spokes[0].y2, 130, 1e-3);
  // The fourth is 90 degrees further: pointing left.
  EXPECT_NEAR(spokes[3].x2, 70, 1e-3);
  EXPECT_NEAR(spokes[3].y2, 100, 1e-3);
  for (size_t i = 0; i < spokes.size(); ++i) EXPECT_EQ(spokes[i].alpha, 255 - 14 * static_cast<int>(i));
}

}  // namespace
}  // namespace kavrel::ui
