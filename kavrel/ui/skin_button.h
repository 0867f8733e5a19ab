// CSkinDcButton: a windowless skinned button. Its owner window lays it out, paints it into its
// own device context and feeds it the mouse; a pressed button posts the command message (3224)
// with its command identifier to the owner, which passes it up towards the control.
//
// One thread: the owner window's.
#pragma once

#include <cstdint>
#include <string>

#include "kavrel/ui/gdi_image.h"
#include "platform/gdi/gdi.h"

namespace kavrel::ui {

class CSkinDcButton {
 public:
  enum State : int { kNormal = 0, kHover = 1, kPressed = 2, kDisabled = 3 };
  static constexpr int kDrawStyleSkinned = 5;
  // Buttons at least this wide put the picture on the left of the text; narrower ones above it.
  static constexpr int kWideButtonWidth = 120;

  CSkinDcButton() = default;
  ~CSkinDcButton();
  CSkinDcButton(const CSkinDcButton&) = delete;
  CSkinDcButton& operator=(const CSkinDcButton&) = delete;

  // Sets the picture (loaded only when it differs from the loaded one), the owner and the
  // command; a button with a picture posts on press and is dimmed while idle.
  void SetImage(uint32_t picture, platform::HWND owner, int32_t command,
                const resources::ResourceSource& module = resources::module_resources());
  void SetText(std::u16string text) { m_text = std::move(text); }
  // Owner without picture (a label).
  void SetOwner(platform::HWND owner) { m_owner = owner; }

  void Draw(platform::HDC dc);
  // True when the point is inside.
  bool OnMouseMove(int x, int y);
  void OnLButtonDown(int x, int y);
  void OnLButtonUp(int x, int y);

  // Set by the owner directly.
  platform::RECT rect;
  bool enabled = true;
  int draw_style = kDrawStyleSkinned;
  bool post_on_press = false;
  bool dim_when_idle = false;

  int state() const { return m_state; }
  bool pressed() const { return m_pressed; }
  int32_t command() const { return m_command; }
  uint32_t picture() const { return m_requestedPicture; }
  uint32_t picture_width() const { return m_pictureWidth; }
  uint32_t picture_height() const { return m_pictureHeight; }
  const std::u16string& text() const { return m_text; }

  // Where the picture and the text go for the current rectangle (owner client coordinates).
  platform::RECT PictureRect() const;
  platform::RECT TextRect() const;

 private:
  // Changes the state; repaints the button's rectangle when it differs from the painted one.
  void ChangeState(int state);
  void PostCommand(int x, int y);
  platform::HFONT Font();

  platform::HWND m_owner = nullptr;
  int m_state = kNormal;
  int m_paintedState = kNormal;
  bool m_pressed = false;
  uint32_t m_requestedPicture = 0;
  uint32_t m_loadedPicture = 0;
  uint32_t m_pictureWidth = 0;
  uint32_t m_pictureHeight = 0;
  CGDIImageEx m_picture;
  std::u16string m_text;
  platform::HFONT m_font = nullptr;
  uint32_t m_commandMessage = 0;
  int32_t m_command = 0;
};

// The frame colours of ring n (3, 2, 1 from the outside in) around a base colour: each channel
// times 1 + n/10 capped at 255 for the light edges, times 1 - n/10 for the dark ones.
platform::COLORREF frame_light(platform::COLORREF base, int ring);
platform::COLORREF frame_dark(platform::COLORREF base, int ring);

// Fills the rectangle with a vertical two-colour gradient (colours 0x00BBGGRR).
void GradientFillV(platform::HDC dc, const platform::RECT& rect, platform::COLORREF top, platform::COLORREF bottom);

// The dark bar background shared by the tool bar and the information bar: a light grey fill, a
// black outline and, two pixels in, a gradient from slate to black to slate.
void PaintBarBackground(platform::HDC dc, const platform::RECT& client);

}  // namespace kavrel::ui
