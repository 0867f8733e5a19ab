#include "kavrel/ui/skin_button.h"

#include <algorithm>

#include "kavrel/ui/ui_messages.h"
#include "platform/window/surface.h"

namespace kavrel::ui {

namespace gp = platform::Gdiplus;
using platform::COLORREF;
using platform::RECT;

namespace {

constexpr COLORREF kLime = platform::RGB(50, 205, 50);
constexpr COLORREF kSilver = platform::RGB(192, 192, 192);
constexpr unsigned kTextFormat = platform::DT_CENTER | platform::DT_VCENTER | platform::DT_SINGLELINE |
                                 platform::DT_END_ELLIPSIS;  // 0x8025
// The buttons' face name; it names no installed face, so the font mapper's default draws it.
constexpr char16_t kButtonFace[] = u"\u00CB\u00CE\u00CC\u00E5";

int scale_channel(int channel, int numerator) { return std::min(255, channel * (10 + numerator) / 10); }

}  // namespace

COLORREF frame_light(COLORREF base, int ring) {
  return platform::RGB(scale_channel(platform::GetRValue(base), ring), scale_channel(platform::GetGValue(base), ring),
                       scale_channel(platform::GetBValue(base), ring));
}

COLORREF frame_dark(COLORREF base, int ring) {
  return platform::RGB(platform::GetRValue(base) * (10 - ring) / 10, platform::GetGValue(base) * (10 - ring) / 10,
                       platform::GetBValue(base) * (10 - ring) / 10);
}

void GradientFillV(platform::HDC dc, const RECT& rect, COLORREF top, COLORREF bottom) {
  platform::TRIVERTEX v[2];
  v[0].x = rect.left;
  v[0].y = rect.top;
  v[0].Red = static_cast<platform::COLOR16>(platform::GetRValue(top) << 8);
  v[0].Green = static_cast<platform::COLOR16>(platform::GetGValue(top) << 8);
  v[0].Blue = static_cast<platform::COLOR16>(platform::GetBValue(top) << 8);
  v[1].x = rect.right;
  v[1].y = rect.bottom;
  v[1].Red = static_cast<platform::COLOR16>(platform::GetRValue(bottom) << 8);
  v[1].Green = static_cast<platform::COLOR16>(platform::GetGValue(bottom) << 8);
  v[1].Blue = static_cast<platform::COLOR16>(platform::GetBValue(bottom) << 8);
  platform::GRADIENT_RECT mesh{0, 1};
  platform::GradientFill(dc, v, 2, &mesh, 1, platform::GRADIENT_FILL_RECT_V);
}

void PaintBarBackground(platform::HDC dc, const RECT& client) {
  constexpr COLORREF kSlate = platform::RGB(64, 69, 73);
  platform::FillSolidRect(dc, &client, kPaneBackground);
  platform::Draw3dRect(dc, &client, 0, 0);
  RECT inner = client;
  platform::InflateRect(&inner, -2, -2);
  int middle = inner.top + (inner.bottom - inner.top) / 2;
  // The two halves overlap by up to two rows at the middle.
  RECT upper{inner.left, inner.top, inner.right, std::min(inner.bottom, middle + 1)};
  RECT lower{inner.left, std::max(inner.top, middle - 1), inner.right, inner.bottom};
  GradientFillV(dc, upper, kSlate, 0);
  GradientFillV(dc, lower, 0, kSlate);
}

CSkinDcButton::~CSkinDcButton() {
  if (m_font != nullptr) platform::DeleteObject(m_font);
}

void CSkinDcButton::SetImage(uint32_t picture, platform::HWND owner, int32_t command,
                             const resources::ResourceSource& module) {
  m_requestedPicture = picture;
  if (picture != m_loadedPicture) {
    m_picture.Load(picture, module);
    m_loadedPicture = picture;
    m_pictureWidth = m_picture.width();
    m_pictureHeight = m_picture.height();
  }
  m_owner = owner;
  m_commandMessage = kMsgCommand;
  m_command = command;
  dim_when_idle = true;
  post_on_press = true;
}

void CSkinDcButton::ChangeState(int state) {
  m_state = state;
  if (m_state != m_paintedState) {
    if (m_owner != nullptr) platform::invalidate_rect(m_owner, &rect);
    m_paintedState = m_state;
  }
}

void CSkinDcButton::PostCommand(int x, int y) {
  if (m_owner == nullptr || m_commandMessage == 0) return;
  platform::post_message(m_owner, m_commandMessage, static_cast<platform::WPARAM>(m_command),
                         make_point_lparam(x, y));
}

bool CSkinDcButton::OnMouseMove(int x, int y) {
  if (!enabled) return false;
  if (platform::PtInRect(&rect, platform::POINT{x, y})) {
    if (m_state != kHover) ChangeState(kHover);
    return true;
  }
  if (m_state != kNormal) ChangeState(kNormal);
  return false;
}

void CSkinDcButton::OnLButtonDown(int x, int y) {
  if (!enabled) return;
  if (!platform::PtInRect(&rect, platform::POINT{x, y})) return;
  ChangeState(kPressed);
  m_pressed = true;
  if (post_on_press) PostCommand(x, y);
}

void CSkinDcButton::OnLButtonUp(int x, int y) {
  if (!enabled) return;
  if (platform::PtInRect(&rect, platform::POINT{x, y}) && m_pressed) {
    ChangeState(kHover);
    if (!post_on_press) PostCommand(x, y);
  }
  m_pressed = false;
}

RECT CSkinDcButton::PictureRect() const {
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  if (width >= kWideButtonWidth) return RECT{rect.left, rect.top, rect.left + height, rect.top + height};
  int size = height / 2;
  int x = rect.left + (width - size) / 2;
  return RECT{x, rect.top, x + size, rect.top + size};
}

RECT CSkinDcButton::TextRect() const {
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  if (width >= kWideButtonWidth) return RECT{rect.left + height, rect.top, rect.right, rect.bottom};
  return RECT{rect.left, rect.top + height / 2, rect.right, rect.bottom};
}

platform::HFONT CSkinDcButton::Font() {
  if (m_font == nullptr) {
    m_font = platform::CreateFontW(12, 0, 0, 0, platform::FW_NORMAL, 0, 0, 0, platform::ANSI_CHARSET, 0, 0,
                                   platform::PROOF_QUALITY, platform::FF_SWISS, kButtonFace);
  }
  return m_font;
}

void CSkinDcButton::Draw(platform::HDC dc) {
  if (draw_style != kDrawStyleSkinned || dc == nullptr) return;
  if (!enabled) m_state = kDisabled;

  if (m_state == kHover || m_state == kPressed) {
    COLORREF base = m_state == kHover ? kLime : kSilver;
    RECT ring = rect;
    for (int n = 3; n >= 1; --n) {
      platform::Draw3dRect(dc, &ring, frame_light(base, n), frame_dark(base, n));
      platform::InflateRect(&ring, -1, -1);
    }
  }

  if (!m_text.empty()) {
    platform::SetBkMode(dc, platform::TRANSPARENT);
    platform::SetTextColor(dc, 0xFFFFFF);
    platform::HGDIOBJ previous = platform::SelectObject(dc, Font());
    RECT text_rect = TextRect();
    platform::DrawTextW(dc, m_text.c_str(), static_cast<int>(m_text.size()), &text_rect, kTextFormat);
    if (previous != nullptr) platform::SelectObject(dc, previous);
  }

  if (m_requestedPicture != 0 && m_picture.image() != nullptr) {
    gp::Graphics graphics(dc);
    gp::ColorMatrix matrix;
    for (int i = 0; i < 5; ++i) matrix.m[i][i] = 1.0f;
    matrix.m[3][3] = (dim_when_idle && m_state == kNormal) ? 0.5f : 1.0f;
    gp::ImageAttributes attributes;
    attributes.SetColorMatrix(&matrix);
    RECT dst = PictureRect();
    graphics.DrawImage(m_picture.image(), gp::Rect(dst.left, dst.top, dst.right - dst.left, dst.bottom - dst.top), 0,
                       0, static_cast<int>(m_pictureWidth), static_cast<int>(m_pictureHeight), gp::UnitPixel,
                       &attributes);
  }
}

}  // namespace kavrel::ui
