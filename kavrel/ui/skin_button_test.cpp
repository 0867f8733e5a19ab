// The skinned button: its state machine, where it posts, and how it draws.
#include "kavrel/ui/skin_button.h"

#include <gtest/gtest.h>

#include "kavrel/resources/module_resources.h"
#include "kavrel/ui/testing/ui_fixture.h"

namespace kavrel::ui {
namespace {

using platform::RECT;
using testing::CommandSink;
using testing::pump_pending;

class SkinButtonTest : public testing::UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    owner_ = std::make_unique<CommandSink>();
    button_.rect = RECT{100, 100, 220, 132};
  }
  void TearDown() override {
    owner_.reset();
    UiTest::TearDown();
  }
  // What has been invalidated since the last call (and forget it).
  std::optional<RECT> taken_update() {
    RECT update;
    bool any = platform::get_update_rect(owner_->window(), &update);
    platform::validate_rect(owner_->window(), nullptr);
    if (!any) return std::nullopt;
    return update;
  }
  // Serves posted messages; returns the commands that reached the owner.
  std::vector<CommandSink::Command> posted() {
    pump_pending();
    std::vector<CommandSink::Command> out;
    out.swap(owner_->commands);
    return out;
  }

  std::unique_ptr<CommandSink> owner_;
  CSkinDcButton button_;
};

TEST_F(SkinButtonTest, HoverRepaintsOnceAndLeavingRepaintsOnce) {
  button_.SetImage(resources::IDB_PNG_SNAPSHOT, owner_->window(), 200);
  taken_update();
  EXPECT_TRUE(button_.OnMouseMove(150, 110));
  EXPECT_EQ(button_.state(), CSkinDcButton::kHover);
  EXPECT_EQ(taken_update(), button_.rect);
  EXPECT_TRUE(button_.OnMouseMove(160, 120));
  EXPECT_EQ(taken_update(), std::nullopt) << "moving within a hovered button repaints nothing";
  EXPECT_FALSE(button_.OnMouseMove(10, 10));
  EXPECT_EQ(button_.state(), CSkinDcButton::kNormal);
  EXPECT_EQ(taken_update(), button_.rect);
  button_.OnMouseMove(11, 10);
  EXPECT_EQ(taken_update(), std::nullopt);
}

TEST_F(SkinButtonTest, PostOnPressSendsCommandWithThePointAtTheDownAndNothingAtTheUp) {
  button_.SetImage(resources::IDB_PNG_SNAPSHOT, owner_->window(), 200);
  ASSERT_TRUE(button_.post_on_press);
  button_.OnLButtonDown(130, 115);
  auto commands = posted();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].wparam, 200u);
  EXPECT_EQ(point_x(commands[0].lparam), 130);
  EXPECT_EQ(point_y(commands[0].lparam), 115);
  button_.OnLButtonUp(130, 115);
  EXPECT_TRUE(posted().empty());
  EXPECT_EQ(button_.state(), CSkinDcButton::kHover);
}

TEST_F(SkinButtonTest, PostOnReleaseNeedsPressAndReleaseInside) {
  button_.SetImage(resources::IDB_PNG_SNAPSHOT, owner_->window(), 211);
  button_.post_on_press = false;
  // Pressed inside, released outside: nothing, and the press is forgotten.
  button_.OnLButtonDown(130, 115);
  EXPECT_TRUE(button_.pressed());
  button_.OnLButtonUp(5, 5);
  EXPECT_FALSE(button_.pressed());
  EXPECT_TRUE(posted().empty());
  button_.OnLButtonUp(130, 115);
  EXPECT_TRUE(posted().empty()) << "a release without a press posts nothing";
  // Pressed outside: not even pressed.
  button_.OnLButtonDown(5, 5);
  EXPECT_FALSE(button_.pressed());
  // Press and release inside: one command.
  button_.OnLButtonDown(130, 115);
  button_.OnLButtonUp(131, 116);
  auto commands = posted();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].wparam, 211u);
}

TEST_F(SkinButtonTest, DisabledButtonIgnoresTheMouse) {
  button_.SetImage(resources::IDB_PNG_SNAPSHOT, owner_->window(), 200);
  button_.enabled = false;
  taken_update();
  EXPECT_FALSE(button_.OnMouseMove(150, 110));
  button_.OnLButtonDown(150, 110);
  button_.OnLButtonUp(150, 110);
  EXPECT_EQ(button_.state(), CSkinDcButton::kNormal);
  EXPECT_FALSE(button_.pressed());
  EXPECT_EQ(taken_update(), std::nullopt);
  EXPECT_TRUE(posted().empty());
}

TEST(SkinButtonGeometry, NarrowButtonsStackPictureOverTextWideOnesSitSideBySide) {
  CSkinDcButton b;
  b.rect = RECT{10, 0, 129, 32};  // 119 wide
  EXPECT_EQ(b.PictureRect(), (RECT{10 + (119 - 16) / 2, 0, 10 + (119 - 16) / 2 + 16, 16}));
  EXPECT_EQ(b.TextRect(), (RECT{10, 16, 129, 32}));
  b.rect = RECT{10, 0, 130, 32};  // exactly 120: side by side
  EXPECT_EQ(b.PictureRect(), (RECT{10, 0, 42, 32}));
  EXPECT_EQ(b.TextRect(), (RECT{42, 0, 130, 32}));
}

TEST(SkinButtonGeometry, FrameColoursScaleTheBaseAndCap) {
  constexpr platform::COLORREF lime = platform::RGB(50, 205, 50);
  EXPECT_EQ(frame_light(lime, 3), platform::RGB(65, 255, 65));
  EXPECT_EQ(frame_dark(lime, 3), platform::RGB(35, 143, 35));
  EXPECT_EQ(frame_light(lime, 1), platform::RGB(55, 225, 55));
  EXPECT_EQ(frame_dark(lime, 1), platform::RGB(45, 184, 45));
}

// Draws a button into a memory bitmap and reads pixels back.
class ButtonCanvas {
 public:
  ButtonCanvas(int w, int h) {
    dc_ = platform::CreateCompatibleDC(nullptr);
    bitmap_ = platform::CreateCompatibleBitmap(dc_, w, h);
    old_ = platform::SelectObject(dc_, bitmap_);
    RECT all{0, 0, w, h};
    platform::FillSolidRect(dc_, &all, 0);
  }
  ~ButtonCanvas() {
    platform::SelectObject(dc_, old_);
    platform::DeleteObject(bitmap_);
    platform::DeleteDC(dc_);
  }
  platform::HDC dc() const { return dc_; }
  platform::COLORREF at(int x, int y) const { return platform::GetPixel(dc_, x, y); }

 private:
  platform::HDC dc_;
  platform::HBITMAP bitmap_;
  platform::HGDIOBJ old_;
};

int red(platform::COLORREF c) { return platform::GetRValue(c); }

TEST(SkinButtonDrawing, PictureGoesBesideOrAboveTheTextByWidth) {
  // The close picture is a red square: find where the red lands.
  for (int width : {119, 120}) {
    ButtonCanvas canvas(200, 40);
    CSkinDcButton b;
    b.SetImage(resources::IDB_PNG_CLOSE, nullptr, 205);
    b.SetText(u"Fechar");
    b.rect = RECT{0, 0, width, 32};
    b.OnMouseMove(-1, -1);  // stays normal
    b.dim_when_idle = false;
    b.Draw(canvas.dc());
    RECT picture = b.PictureRect();
    int cx = (picture.left + picture.right) / 2;
    int cy = (picture.top + picture.bottom) / 2;
    // The cross's corner area near the picture's edge is red.
    int px = picture.left + (picture.right - picture.left) / 5;
    EXPECT_GT(red(canvas.at(px, cy)), 150) << "width " << width;
    if (width == 119) {
      EXPECT_EQ(picture.bottom, 16);
      EXPECT_LT(red(canvas.at(5, 24)), 60) << "nothing of the picture below its half-height square";
    } else {
      EXPECT_EQ(picture.right, 32);
      EXPECT_GT(red(canvas.at(cx - 10, 22)), 150);
    }
  }
}

TEST(SkinButtonDrawing, IdlePictureIsDimmedHoverIsFramedDisabledIsPlain) {
  auto draw = [](bool enabled, bool hover, bool dim) {
    auto canvas = std::make_unique<ButtonCanvas>(140, 40);
    CSkinDcButton b;
    b.SetImage(resources::IDB_PNG_CLOSE, nullptr, 205);
    b.rect = RECT{0, 0, 130, 32};
    b.dim_when_idle = dim;
    if (hover) b.OnMouseMove(50, 10);
    b.enabled = enabled;
    b.Draw(canvas->dc());
    return canvas;
  };
  // A point of the red square away from the cross and the frame.
  auto full = draw(true, false, false);
  auto dimmed = draw(true, false, true);
  EXPECT_GT(red(full->at(7, 16)), red(dimmed->at(7, 16)) + 40);
  auto hovered = draw(true, true, true);
  EXPECT_EQ(hovered->at(0, 10), frame_light(platform::RGB(50, 205, 50), 3)) << "outer ring, left edge";
  EXPECT_EQ(hovered->at(129, 10), frame_dark(platform::RGB(50, 205, 50), 3)) << "outer ring, right edge";
  auto disabled = draw(false, true, true);
  EXPECT_EQ(disabled->at(129, 10), 0u) << "a disabled button has no frame";
  EXPECT_EQ(red(disabled->at(7, 16)), red(full->at(7, 16))) << "and its picture is not dimmed";
}

}  // namespace
}  // namespace kavrel::ui

namespace kavrel::ui {
namespace {

// A resource table that counts what is asked of it and holds the module's own pictures.
class CountingSource : public resources::ResourceSource {
 public:
  resources::ResourceBytes Find(uint32_t id, std::string_view type) const override {
    asked.emplace_back(id, std::string(type));
    if (id == 777 && type == resources::kTypeBitmap) return resources::module_resources().Find(1, type);
    if (id == 777 && type == resources::kTypePng) return resources::module_resources().Find(201, type);
    if (id == 778 && type == resources::kTypePng) {
      static const uint8_t junk[] = {0x89, 'P', 'N', 'G', 1, 2, 3};
      return resources::ResourceBytes{junk, sizeof junk};
    }
    return resources::module_resources().Find(id, type);
  }
  mutable std::vector<std::pair<uint32_t, std::string>> asked;
};

TEST(GdiImage, ABitmapResourceWinsAndNoPngIsLookedFor) {
  CountingSource source;
  CGDIImageEx image;
  ASSERT_TRUE(image.Load(777, source));
  EXPECT_EQ(image.width(), 16u);  // the toolbox bitmap, not the 32 x 32 picture
  EXPECT_EQ(image.height(), 15u);
  EXPECT_EQ(source.asked, (std::vector<std::pair<uint32_t, std::string>>{{777, "BITMAP"}}));
}

TEST(GdiImage, EveryModulePictureLoadsAtItsSize) {
  for (uint32_t id : {201u, 204u, 206u, 207u, 208u, 209u, 210u, 211u, 212u}) {
    CGDIImageEx image;
    ASSERT_TRUE(image.Load(id)) << id;
    EXPECT_EQ(image.width(), 32u) << id;
    EXPECT_EQ(image.height(), 32u) << id;
  }
  for (uint32_t id : {203u, 205u}) {
    CGDIImageEx image;
    ASSERT_TRUE(image.Load(id)) << id;
    EXPECT_EQ(image.width(), 80u);
    EXPECT_EQ(image.height(), 16u);
  }
}

TEST(GdiImage, MissingOrBrokenPicturesLeaveTheButtonWithoutOne) {
  CountingSource source;
  CGDIImageEx image;
  EXPECT_FALSE(image.Load(202, source));
  EXPECT_EQ(image.image(), nullptr);
  EXPECT_FALSE(image.Load(778, source));
  EXPECT_EQ(image.image(), nullptr);
  CSkinDcButton button;
  button.SetImage(202, nullptr, 1, source);
  EXPECT_EQ(button.picture_width(), 0u);
  EXPECT_EQ(button.picture_height(), 0u);
}

}  // namespace
}  // namespace kavrel::ui
