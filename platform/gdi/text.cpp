// Fonts and text: CreateFont, metrics, TextOut, ExtTextOut and DrawText. Text is shaped and
// drawn by cairo from UTF-8; the font's cell (ascent + descent) is the line height.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gdi/gdi.h"
#include "platform/gdi/gdi_objects.h"

namespace platform {

using namespace gdi_internal;

namespace {

bool same_face(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// A scratch cairo context for measuring text outside any drawing.
class Measure {
 public:
  explicit Measure(const FontObject& font) {
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
    cr_ = cairo_create(surface_);
    use_font(cr_, font);
  }
  ~Measure() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
  }
  Measure(const Measure&) = delete;
  Measure& operator=(const Measure&) = delete;
  cairo_t* get() const { return cr_; }

 private:
  cairo_surface_t* surface_;
  cairo_t* cr_;
};

int text_width(cairo_t* cr, const std::string& text) {
  if (text.empty()) return 0;
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  return static_cast<int>(std::lround(extents.x_advance));
}

// Length of the UTF-8 sequence that starts with `lead`.
size_t sequence_length(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

// The longest start of `text` (whole characters) that, followed by "...", fits in `width`.
std::string with_end_ellipsis(cairo_t* cr, const std::string& text, int width) {
  std::vector<size_t> cuts;  // byte offsets at character boundaries
  for (size_t i = 0; i < text.size(); i += sequence_length(static_cast<unsigned char>(text[i]))) cuts.push_back(i);
  for (size_t k = cuts.size(); k-- > 0;) {
    std::string candidate = text.substr(0, cuts[k]) + "...";
    if (text_width(cr, candidate) <= width) return candidate;
  }
  return "...";
}

std::string strip_prefixes(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        out.push_back('&');
        ++i;
      }
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

// Breaks text into lines at '\n' (a preceding '\r' is dropped) and, with `wrap_width` >= 0, at
// spaces so that each line fits (a single word wider than the width stays whole).
std::vector<std::string> split_lines(cairo_t* cr, const std::string& text, int wrap_width) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (wrap_width < 0 || text_width(cr, line) <= wrap_width) {
      lines.push_back(line);
    } else {
      std::string current;
      size_t pos = 0;
      while (pos < line.size()) {
        size_t space = line.find(' ', pos);
        if (space == std::string::npos) space = line.size();
        std::string word = line.substr(pos, space - pos);
        std::string joined = current.empty() ? word : current + " " + word;
        if (!current.empty() && text_width(cr, joined) > wrap_width) {
          lines.push_back(current);
          current = word;
        } else {
          current = joined;
        }
        pos = space + 1;
      }
      lines.push_back(current);
    }
    if (end == text.size()) break;
    start = end + 1;
  }
  return lines;
}

// Draws one run of text with its baseline at (x, baseline), clipped to `clip` when given.
void draw_run(Target& target, const FontObject& font, const std::string& text, int x, int baseline,
              COLORREF color, const RECT* clip) {
  if (text.empty()) return;
  cairo_t* cr = target.cairo();
  cairo_save(cr);
  if (clip != nullptr) {
    cairo_rectangle(cr, clip->left, clip->top, clip->width(), clip->height());
    cairo_clip(cr);
  }
  use_font(cr, font);
  set_source(cr, color);
  cairo_move_to(cr, x, baseline);
  cairo_show_text(cr, text.c_str());
  cairo_restore(cr);
  cairo_text_extents_t extents;
  use_font(cr, font);
  cairo_text_extents(cr, text.c_str(), &extents);
  RECT ink{x + static_cast<int>(std::floor(extents.x_bearing)) - 1, baseline - font.ascent - 1,
           x + static_cast<int>(std::ceil(std::max(extents.x_advance, extents.x_bearing + extents.width))) + 1,
           baseline + font.descent + 1};
  if (clip != nullptr) ink = intersect(ink, *clip);
  target.drew(ink);
}

// TextOut and ExtTextOut on UTF-8 text.
bool text_out(HDC handle, int x, int y, unsigned options, const RECT* rect, const std::string& text) {
  auto dc = find_dc(handle);
  if (dc == nullptr) return false;
  const DcState& state = dc->state;
  const FontObject& font = *state.font;
  int width = 0;
  {
    Measure measure(font);
    width = text_width(measure.get(), text);
  }
  const unsigned horizontal = state.text_align & 6u;
  const unsigned vertical = state.text_align & 24u;
  int left = x;
  if (horizontal == TA_CENTER) left = x - width / 2;
  else if (horizontal == TA_RIGHT) left = x - width;
  int baseline = y + font.ascent;
  if (vertical == TA_BASELINE) baseline = y;
  else if (vertical == TA_BOTTOM) baseline = y - font.descent;
  Target target(*dc);
  if (!target.valid()) return true;
  if ((options & ETO_OPAQUE) != 0 && rect != nullptr) fill_pixels(target, *rect, pixel_of(state.bk_color));
  const RECT* clip = (options & ETO_CLIPPED) != 0 ? rect : nullptr;
  if (state.bk_mode == OPAQUE && !text.empty()) {
    RECT cell{left, baseline - font.ascent, left + width, baseline + font.descent};
    if (clip != nullptr) cell = intersect(cell, *clip);
    fill_pixels(target, cell, pixel_of(state.bk_color));
  }
  draw_run(target, font, text, left, baseline, state.text_color, clip);
  return true;
}

int draw_text(HDC handle, std::string text, RECT* rect, unsigned format) {
  auto dc = find_dc(handle);
  if (dc == nullptr || rect == nullptr) return 0;
  const DcState& state = dc->state;
  const FontObject& font = *state.font;
  if ((format & DT_NOPREFIX) == 0) text = strip_prefixes(text);
  const bool single = (format & DT_SINGLELINE) != 0;
  const int box_width = rect->width();
  std::vector<std::string> lines;
  std::vector<int> widths;
  {
    Measure measure(font);
    if (single) {
      lines.push_back(text);
    } else {
      lines = split_lines(measure.get(), text, (format & DT_WORDBREAK) != 0 ? std::max(box_width, 0) : -1);
    }
    for (std::string& line : lines) {
      if ((format & DT_END_ELLIPSIS) != 0 && (format & DT_CALCRECT) == 0 && text_width(measure.get(), line) > box_width)
        line = with_end_ellipsis(measure.get(), line, box_width);
      widths.push_back(text_width(measure.get(), line));
    }
  }
  const int line_height = font.height;
  const int total_height = line_height * static_cast<int>(lines.size());
  if ((format & DT_CALCRECT) != 0) {
    int widest = 0;
    for (int w : widths) widest = std::max(widest, w);
    rect->right = rect->left + widest;
    rect->bottom = rect->top + total_height;
    return total_height;
  }
  int top = rect->top;
  if (single && (format & DT_VCENTER) != 0) top = rect->top + (rect->height() - line_height) / 2;
  else if (single && (format & DT_BOTTOM) != 0) top = rect->bottom - line_height;
  Target target(*dc);
  if (target.valid()) {
    const RECT* clip = (format & DT_NOCLIP) != 0 ? nullptr : rect;
    for (size_t i = 0; i < lines.size(); ++i) {
      const int line_top = top + line_height * static_cast<int>(i);
      int left = rect->left;
      if ((format & DT_CENTER) != 0) left = rect->left + (box_width - widths[i]) / 2;
      else if ((format & DT_RIGHT) != 0) left = rect->right - widths[i];
      if (state.bk_mode == OPAQUE && !lines[i].empty()) {
        RECT cell{left, line_top, left + widths[i], line_top + line_height};
        if (clip != nullptr) cell = intersect(cell, *clip);
        fill_pixels(target, cell, pixel_of(state.bk_color));
      }
      draw_run(target, font, lines[i], left, line_top + font.ascent, state.text_color, clip);
    }
  }
  if (single && (format & (DT_VCENTER | DT_BOTTOM)) != 0) return top - rect->top + line_height;
  return total_height;
}

}  // namespace

const char* font_family_for_face(const char* face) {
  // Faces with a metric-compatible installed family, then installed families by their own name.
  static const struct {
    const char* face;
    const char* family;
  } kMap[] = {
      {"Arial", "Liberation Sans"},
      {"Times New Roman", "Liberation Serif"},
      {"Courier New", "Liberation Mono"},
      {"Liberation Sans", "Liberation Sans"},
      {"Liberation Serif", "Liberation Serif"},
      {"Liberation Mono", "Liberation Mono"},
      {"DejaVu Sans Mono", "DejaVu Sans Mono"},
      {"DejaVu Serif", "DejaVu Serif"},
  };
  if (face != nullptr) {
    for (const auto& entry : kMap)
      if (same_face(face, entry.face)) return entry.family;
  }
  // Everything else, the buttons' face among them (installed nowhere), goes to the default face.
  return "DejaVu Sans";
}

HFONT CreateFontIndirect(const LOGFONT* font) {
  if (font == nullptr) return nullptr;
  return static_cast<HFONT>(insert(std::make_shared<FontObject>(*font)));
}

HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline,
                  DWORD strike_out, DWORD char_set, DWORD out_precision, DWORD clip_precision, DWORD quality,
                  DWORD pitch_and_family, const char* face) {
  LOGFONT lf{};
  lf.lfHeight = height;
  lf.lfWidth = width;
  lf.lfEscapement = escapement;
  lf.lfOrientation = orientation;
  lf.lfWeight = weight;
  lf.lfItalic = static_cast<BYTE>(italic != 0);
  lf.lfUnderline = static_cast<BYTE>(underline != 0);
  lf.lfStrikeOut = static_cast<BYTE>(strike_out != 0);
  lf.lfCharSet = static_cast<BYTE>(char_set);
  lf.lfOutPrecision = static_cast<BYTE>(out_precision);
  lf.lfClipPrecision = static_cast<BYTE>(clip_precision);
  lf.lfQuality = static_cast<BYTE>(quality);
  lf.lfPitchAndFamily = static_cast<BYTE>(pitch_and_family);
  if (face != nullptr) {
    // Whole characters only, within the field.
    const std::string name(face);
    size_t keep = 0;
    for (size_t i = 0; i < name.size();) {
      const size_t n = sequence_length(static_cast<unsigned char>(name[i]));
      if (i + n >= sizeof(lf.lfFaceName)) break;
      i += n;
      keep = i;
    }
    std::memcpy(lf.lfFaceName, name.data(), keep);
  }
  return CreateFontIndirect(&lf);
}

HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic, DWORD underline,
                  DWORD strike_out, DWORD char_set, DWORD out_precision, DWORD clip_precision, DWORD quality,
                  DWORD pitch_and_family, const char16_t* face) {
  const std::string name = utf16_to_utf8(face, -1);
  return CreateFontA(height, width, escapement, orientation, weight, italic, underline, strike_out, char_set,
                     out_precision, clip_precision, quality, pitch_and_family, face == nullptr ? nullptr : name.c_str());
}

bool GetTextMetrics(HDC handle, TEXTMETRIC* metrics) {
  auto dc = find_dc(handle);
  if (dc == nullptr || metrics == nullptr) return false;
  const FontObject& font = *dc->state.font;
  *metrics = TEXTMETRIC{};
  metrics->tmHeight = font.height;
  metrics->tmAscent = font.ascent;
  metrics->tmDescent = font.descent;
  metrics->tmInternalLeading = std::max(0, font.height - static_cast<int>(std::lround(font.em_pixels)));
  metrics->tmAveCharWidth = font.average_width;
  metrics->tmMaxCharWidth = font.max_width;
  metrics->tmWeight = font.bold ? FW_BOLD : FW_NORMAL;
  return true;
}

bool GetTextExtentPoint32A(HDC handle, const char* text, int count, SIZE* size) {
  auto dc = find_dc(handle);
  if (dc == nullptr || size == nullptr || (text == nullptr && count != 0)) return false;
  const std::string s = text == nullptr ? std::string() : std::string(text, count < 0 ? std::strlen(text) : static_cast<size_t>(count));
  Measure measure(*dc->state.font);
  size->cx = text_width(measure.get(), s);
  size->cy = dc->state.font->height;
  return true;
}

bool GetTextExtentPoint32W(HDC dc, const char16_t* text, int count, SIZE* size) {
  const std::string s = utf16_to_utf8(text, count);
  return GetTextExtentPoint32A(dc, s.c_str(), static_cast<int>(s.size()), size);
}

bool TextOutA(HDC dc, int x, int y, const char* text, int count) {
  if (text == nullptr && count != 0) return false;
  const std::string s = text == nullptr ? std::string() : std::string(text, count < 0 ? std::strlen(text) : static_cast<size_t>(count));
  return text_out(dc, x, y, 0, nullptr, s);
}

bool TextOutW(HDC dc, int x, int y, const char16_t* text, int count) {
  if (text == nullptr && count != 0) return false;
  return text_out(dc, x, y, 0, nullptr, utf16_to_utf8(text, count));
}

bool ExtTextOutA(HDC dc, int x, int y, unsigned options, const RECT* rect, const char* text, unsigned count,
                 const int* dx) {
  if (dx != nullptr || (text == nullptr && count != 0)) return false;
  return text_out(dc, x, y, options, rect, text == nullptr ? std::string() : std::string(text, count));
}

bool ExtTextOutW(HDC dc, int x, int y, unsigned options, const RECT* rect, const char16_t* text, unsigned count,
                 const int* dx) {
  if (dx != nullptr || (text == nullptr && count != 0)) return false;
  return text_out(dc, x, y, options, rect, utf16_to_utf8(text, static_cast<int>(count)));
}

int DrawTextA(HDC dc, const char* text, int count, RECT* rect, unsigned format) {
  if (text == nullptr) return 0;
  return draw_text(dc, std::string(text, count < 0 ? std::strlen(text) : static_cast<size_t>(count)), rect, format);
}

int DrawTextW(HDC dc, const char16_t* text, int count, RECT* rect, unsigned format) {
  if (text == nullptr) return 0;
  return draw_text(dc, utf16_to_utf8(text, count), rect, format);
}

}  // namespace platform
