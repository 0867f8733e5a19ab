// Pictures of the wall as a person sees it: the wall in 1, 4, 9, 13 and 16 panes, some panes with
// video and a title, the selected pane's bars hovered. Each picture is compared with a reviewed
// reference under kavrel/ui/testdata with a tolerance that survives font hinting; the pictures
// taken are written to the build folder for a look. KAVREL_UPDATE_SCREENSHOTS=1 rewrites the
// references.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kavrel/ui/testing/ui_fixture.h"
#include "kavrel/ui/video_wnd_manager.h"

namespace kavrel::ui {
namespace {

using testing::CommandSink;
using testing::pump_pending;

constexpr int kWidth = 800;
constexpr int kHeight = 450;

// A street scene with a time stamp, drawn into a panel's surface as the player renders video.
void draw_scene(HWND panel, int seed) {
  platform::SurfaceAccess access(panel);
  if (!access.valid()) return;
  const platform::SurfacePixels& px = access.pixels();
  cairo_surface_t* s = cairo_image_surface_create_for_data(px.data, CAIRO_FORMAT_RGB24, px.width, px.height, px.stride);
  cairo_t* cr = cairo_create(s);
  double w = px.width;
  double h = px.height;
  double dusk = (seed % 3) * 0.18;
  cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, 0, h * 0.55);
  cairo_pattern_add_color_stop_rgb(sky, 0, 0.35 - dusk, 0.55 - dusk, 0.78 - dusk / 2);
  cairo_pattern_add_color_stop_rgb(sky, 1, 0.75 - dusk, 0.82 - dusk, 0.88 - dusk / 2);
  cairo_set_source(cr, sky);
  cairo_paint(cr);
  cairo_pattern_destroy(sky);
  // Ground and road.
  cairo_rectangle(cr, 0, h * 0.55, w, h * 0.45);
  cairo_set_source_rgb(cr, 0.30, 0.36, 0.28);
  cairo_fill(cr);
  cairo_move_to(cr, w * 0.42, h * 0.55);
  cairo_line_to(cr, w * 0.58, h * 0.55);
  cairo_line_to(cr, w * 0.95, h);
  cairo_line_to(cr, w * 0.05, h);
  cairo_close_path(cr);
  cairo_set_source_rgb(cr, 0.25, 0.25, 0.27);
  cairo_fill(cr);
  // Buildings.
  for (int i = 0; i < 4; ++i) {
    double bx = w * (0.02 + 0.16 * i + ((seed + i) % 2) * 0.55);
    double bh = h * (0.18 + 0.06 * ((seed * 7 + i * 3) % 4));
    cairo_rectangle(cr, bx, h * 0.55 - bh, w * 0.12, bh);
    cairo_set_source_rgb(cr, 0.55 - 0.05 * i, 0.50 - 0.04 * i, 0.46);
    cairo_fill(cr);
    for (int row = 0; row < 3; ++row) {
      cairo_rectangle(cr, bx + w * 0.02, h * 0.55 - bh + bh * (0.15 + 0.28 * row), w * 0.03, bh * 0.12);
      cairo_rectangle(cr, bx + w * 0.07, h * 0.55 - bh + bh * (0.15 + 0.28 * row), w * 0.03, bh * 0.12);
    }
    cairo_set_source_rgb(cr, 0.95, 0.88, 0.55);
    cairo_fill(cr);
  }
  // A car on the road.
  double cx = w * (0.3 + 0.1 * (seed % 4));
  cairo_rectangle(cr, cx, h * 0.78, w * 0.14, h * 0.08);
  cairo_set_source_rgb(cr, 0.75, 0.1 + 0.2 * (seed % 3), 0.12);
  cairo_fill(cr);
  cairo_arc(cr, cx + w * 0.03, h * 0.87, h * 0.025, 0, 2 * M_PI);
  cairo_arc(cr, cx + w * 0.11, h * 0.87, h * 0.025, 0, 2 * M_PI);
  cairo_set_source_rgb(cr, 0.05, 0.05, 0.05);
  cairo_fill(cr);
  // The time stamp an encoder burns in.
  cairo_select_font_face(cr, "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, std::max(9.0, h / 18));
  cairo_move_to(cr, 6, h - 8);
  cairo_set_source_rgb(cr, 1, 1, 1);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "2026-12-10 08:%02d:%02d  CAM %02d", 10 + seed % 40, (seed * 13) % 60, seed + 1);
  cairo_show_text(cr, stamp);
  cairo_destroy(cr);
  cairo_surface_destroy(s);
}

void render_scene(HWND panel, int seed) {
  draw_scene(panel, seed);
  platform::mark_surface_changed(panel, nullptr);  // after the surface's lock is let go
}

std::string testdata(const std::string& name) { return std::string(KAVREL_UI_TESTDATA) + "/" + name; }

bool write_png(const platform::Compositor::Frame& frame, const std::string& path) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, frame.width, frame.height);
  cairo_surface_flush(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < frame.height; ++y) {
    std::memcpy(data + y * stride, frame.pixels.data() + static_cast<size_t>(y) * frame.width * 4,
                static_cast<size_t>(frame.width) * 4);
  }
  cairo_surface_mark_dirty(s);
  bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(s);
  return ok;
}

// Share of pixels whose colour differs by more than a small step from the reference; -1 when the
// reference cannot be read or has another size.
double mismatch(const platform::Compositor::Frame& frame, const std::string& reference) {
  cairo_surface_t* s = cairo_image_surface_create_from_png(reference.c_str());
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS || cairo_image_surface_get_width(s) != frame.width ||
      cairo_image_surface_get_height(s) != frame.height) {
    cairo_surface_destroy(s);
    return -1;
  }
  const unsigned char* data = cairo_image_surface_get_data(s);
  int stride = cairo_image_surface_get_stride(s);
  size_t off = 0;
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) {
      const unsigned char* a = data + y * stride + x * 4;
      const uint8_t* b = frame.pixels.data() + (static_cast<size_t>(y) * frame.width + x) * 4;
      for (int c = 0; c < 3; ++c) {
        if (std::abs(static_cast<int>(a[c]) - static_cast<int>(b[c])) > 40) {
          ++off;
          break;
        }
      }
    }
  }
  cairo_surface_destroy(s);
  return static_cast<double>(off) / (static_cast<double>(frame.width) * frame.height);
}

class WallScreenshot : public testing::UiTest, public ::testing::WithParamInterface<int> {};

TEST_P(WallScreenshot, LooksLikeTheReviewedPicture) {
  int count = GetParam();
  CommandSink control;
  platform::move_window(control.window(), platform::Rect{0, 0, kWidth, kHeight});
  CVideoWndManger wall(control.window());
  ASSERT_NE(wall.Create(control.window(), "VideoManager", kWallStyle), nullptr);
  wall.Move(0, 0, kWidth, kHeight);
  ASSERT_TRUE(wall.SetLayout(count));
  static const char16_t* const kTitles[] = {u"Portaria - Principal ",     u"Estacionamento - Extra ",
                                            u"Recepção - Principal ",     u"Galpão 2 - Principal ",
                                            u"Doca - Extra ",             u"Corredor - Principal "};
  int start = page_start(count, wall.page());
  for (int i = 0; i < count; ++i) {
    CVideoWnd* pane = wall.pane(start + i);
    // Every third pane stays empty, as a wall in use has some free panes.
    if ((start + i) % 3 == 2) continue;
    pane->OptimizeView(1280, 720);
    pane->SetVideoInfo(kTitles[(start + i) % 6]);
  }
  pump_pending();
  for (int i = 0; i < count; ++i) {
    if ((start + i) % 3 != 2) render_scene(wall.pane(start + i)->render_window(), start + i);
  }
  // One pane is connecting, one exports, the selected one has its bars hovered with the pointer
  // on a button.
  if (count > 1) platform::send_message(wall.pane(start + 2)->panel().GetHWND(), kMsgConnecting, kIndicatorOn, 0);
  if (count >= 9) {
    CVideoPannel& exporting = wall.pane(start + 4)->panel();
    exporting.tool().SetExporting(true);
    platform::send_message(exporting.GetHWND(), kMsgExportIndicator, kIndicatorOn, 0);
    platform::send_message(exporting.GetHWND(), kMsgExportPercent, 42, 0);
  }
  CVideoPannel& hovered = wall.pane(start)->panel();
  platform::Rect panel_client;
  platform::get_client_rect(hovered.GetHWND(), &panel_client);
  mouse(hovered.GetHWND(), WM_MOUSEMOVE, 10, panel_client.bottom - 10);
  const platform::RECT& snap = hovered.tool().button(kToolSnapshot).rect;
  mouse(hovered.tool().GetHWND(), WM_MOUSEMOVE, (snap.left + snap.right) / 2, (snap.top + snap.bottom) / 2);
  pump_pending();

  platform::Compositor compositor(control.window());
  platform::Compositor::Frame frame;
  compositor.compose(&frame);
  ASSERT_EQ(frame.width, kWidth);
  std::string name = "wall_" + std::to_string(count) + ".png";
  ASSERT_TRUE(write_png(frame, std::string(KAVREL_UI_SHOTS) + "/" + name));
  const char* update = std::getenv("KAVREL_UPDATE_SCREENSHOTS");
  if (update != nullptr && std::string(update) == "1") {
    ASSERT_TRUE(write_png(frame, testdata(name)));
  }
  double off = mismatch(frame, testdata(name));
  ASSERT_GE(off, 0) << "no reference picture " << testdata(name);
  EXPECT_LT(off, 0.02) << name << ": " << off * 100 << "% of the pixels differ from the reference";
}

INSTANTIATE_TEST_SUITE_P(Counts, WallScreenshot, ::testing::Values(1, 4, 9, 13, 16),
                         [](const ::testing::TestParamInfo<int>& param) { return std::to_string(param.param); });

}  // namespace
}  // namespace kavrel::ui
