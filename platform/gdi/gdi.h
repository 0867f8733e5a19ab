// The GDI subset: device contexts, pens, brushes, fonts, bitmaps and the drawing calls the control,
// the device library and the player use, with Win32 names and semantics, drawn with cairo into
// window surfaces (platform/window/surface.h) and memory bitmaps.
//
// Conventions
//  1. Pixels are 32-bit BGRA, top-down, everywhere: window surfaces, compatible bitmaps and DIB
//     sections. GDI drawing leaves byte 3 of a pixel as it finds it or writes 0xFF; nothing in
//     GDI reads it. GDI+ (gdiplus.h) reads alpha only from its own images.
//  2. Handles are opaque, never reused, and checked: a stale or wrong-kind handle makes a call
//     fail (false, 0 or null, as its Win32 namesake) instead of touching freed memory. An object
//     deleted while selected into a device context stays usable by that context until it is
//     deselected; its handle is gone at once. Stock objects ignore DeleteObject.
//  3. Narrow text is UTF-8 (the platform's code page); wide text is UTF-16 (char16_t). Counts are
//     in code units (bytes for narrow text); -1 means zero-terminated.
//  4. A window device context draws into the window's surface (client coordinates), taking the
//     surface's lock for each call only, and marks what it drew as changed for the compositor.
//     BeginPaint clips the context to the window's update rectangle and validates it.
//  5. Threads: any thread may make, use and delete GDI objects; one device context is used by one
//     thread at a time (as in Win32). Different contexts on the same window or bitmap may draw
//     from different threads: each call holds that surface's or bitmap's lock while it draws.
//  6. Font faces: "Arial" is drawn with Liberation Sans (same metrics), "Times New Roman" with
//     Liberation Serif, "Courier New" with Liberation Mono; every other face, including faces no
//     installed font carries (such as the buttons' face), falls back to DejaVu Sans, as the
//     system's font mapper falls back to its default face.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/gdi/gdi_api.h"
#include "platform/window/host_site.h"
#include "platform/window/surface.h"
#include "platform/window/window.h"

namespace platform {

// ---- basic types ----
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using COLORREF = uint32_t;  // 0x00BBGGRR
using COLOR16 = uint16_t;
using RECT = Rect;
using POINT = Point;
using SIZE = Size;

constexpr COLORREF RGB(int r, int g, int b) {
  return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr BYTE GetRValue(COLORREF c) { return static_cast<BYTE>(c & 0xFF); }
constexpr BYTE GetGValue(COLORREF c) { return static_cast<BYTE>((c >> 8) & 0xFF); }
constexpr BYTE GetBValue(COLORREF c) { return static_cast<BYTE>((c >> 16) & 0xFF); }
inline constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;

struct HDC__;
struct HPEN__;
struct HBRUSH__;
struct HFONT__;
struct HBITMAP__;
using HDC = HDC__*;
using HGDIOBJ = void*;
using HPEN = HPEN__*;
using HBRUSH = HBRUSH__*;
using HFONT = HFONT__*;
using HBITMAP = HBITMAP__*;

// ---- rectangles and points (user-interface helpers the drawing code leans on) ----
PLATFORM_GDI_API bool SetRect(RECT* rect, int left, int top, int right, int bottom);
PLATFORM_GDI_API bool SetRectEmpty(RECT* rect);
PLATFORM_GDI_API bool CopyRect(RECT* dst, const RECT* src);
PLATFORM_GDI_API bool IsRectEmpty(const RECT* rect);
PLATFORM_GDI_API bool PtInRect(const RECT* rect, POINT point);  // left/top inside, right/bottom out
PLATFORM_GDI_API bool OffsetRect(RECT* rect, int dx, int dy);
PLATFORM_GDI_API bool InflateRect(RECT* rect, int dx, int dy);
// False (and an empty result) when the two do not overlap.
PLATFORM_GDI_API bool IntersectRect(RECT* dst, const RECT* a, const RECT* b);
PLATFORM_GDI_API bool UnionRect(RECT* dst, const RECT* a, const RECT* b);
PLATFORM_GDI_API bool EqualRect(const RECT* a, const RECT* b);

// ---- device contexts ----
// A context on the window's client area; ReleaseDC gives it back.
PLATFORM_GDI_API HDC GetDC(HWND window);
// The same as GetDC: windows have no non-client area here.
PLATFORM_GDI_API HDC GetWindowDC(HWND window);
PLATFORM_GDI_API int ReleaseDC(HWND window, HDC dc);
// The window a context draws into, null for memory contexts.
PLATFORM_GDI_API HWND WindowFromDC(HDC dc);

struct PAINTSTRUCT {
  HDC hdc = nullptr;
  bool fErase = false;
  RECT rcPaint;  // the update rectangle, client coordinates
  bool fRestore = false;
  bool fIncUpdate = false;
  BYTE rgbReserved[32] = {};
};
// Takes the window's update rectangle into `paint`, validates it and returns a context clipped
// to it (null when the handle is not a window). EndPaint releases the context.
PLATFORM_GDI_API HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
PLATFORM_GDI_API bool EndPaint(HWND window, const PAINTSTRUCT* paint);

// A memory context holding a 1 x 1 bitmap until another one is selected. `dc` may be null.
PLATFORM_GDI_API HDC CreateCompatibleDC(HDC dc);
PLATFORM_GDI_API bool DeleteDC(HDC dc);

// Saves the context's selected objects, colours, modes, position and clip; RestoreDC with -1
// takes the last saved state, with a positive number the state SaveDC returned.
PLATFORM_GDI_API int SaveDC(HDC dc);
PLATFORM_GDI_API bool RestoreDC(HDC dc, int saved);

// Region complexity results of the clip calls.
inline constexpr int ERROR = 0;
inline constexpr int NULLREGION = 1;
inline constexpr int SIMPLEREGION = 2;
// The clip is one rectangle here (the update rectangle, narrowed by IntersectClipRect).
PLATFORM_GDI_API int IntersectClipRect(HDC dc, int left, int top, int right, int bottom);
// The part of the context that drawing can reach: the clip within the surface or bitmap.
PLATFORM_GDI_API int GetClipBox(HDC dc, RECT* rect);
// Removes the clip set by IntersectClipRect (a paint context keeps its update rectangle).
PLATFORM_GDI_API int SelectClipRgn(HDC dc, std::nullptr_t);

inline constexpr int HORZRES = 8;
inline constexpr int VERTRES = 10;
inline constexpr int BITSPIXEL = 12;
inline constexpr int LOGPIXELSX = 88;
inline constexpr int LOGPIXELSY = 90;
// Width and height of the surface or selected bitmap, 32 bits per pixel, 96 dots per inch.
PLATFORM_GDI_API int GetDeviceCaps(HDC dc, int index);

// ---- objects ----
// Object kinds of GetObjectType and GetCurrentObject.
inline constexpr DWORD OBJ_PEN = 1;
inline constexpr DWORD OBJ_BRUSH = 2;
inline constexpr DWORD OBJ_DC = 3;
inline constexpr DWORD OBJ_FONT = 6;
inline constexpr DWORD OBJ_BITMAP = 7;
inline constexpr DWORD OBJ_MEMDC = 10;

// Stock objects.
inline constexpr int WHITE_BRUSH = 0;
inline constexpr int LTGRAY_BRUSH = 1;
inline constexpr int GRAY_BRUSH = 2;
inline constexpr int DKGRAY_BRUSH = 3;
inline constexpr int BLACK_BRUSH = 4;
inline constexpr int NULL_BRUSH = 5;
inline constexpr int HOLLOW_BRUSH = NULL_BRUSH;
inline constexpr int WHITE_PEN = 6;
inline constexpr int BLACK_PEN = 7;
inline constexpr int NULL_PEN = 8;
inline constexpr int SYSTEM_FONT = 13;
inline constexpr int DEFAULT_GUI_FONT = 17;
PLATFORM_GDI_API HGDIOBJ GetStockObject(int which);

// Selects a pen, brush, font or bitmap and returns the one it replaces (null on failure). A
// bitmap can be selected into one memory context at a time, and never into a window context.
PLATFORM_GDI_API HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
PLATFORM_GDI_API bool DeleteObject(HGDIOBJ object);
PLATFORM_GDI_API DWORD GetObjectType(HGDIOBJ object);
PLATFORM_GDI_API HGDIOBJ GetCurrentObject(HDC dc, DWORD kind);

// Pens: solid, or null (draws nothing). Other styles draw solid.
inline constexpr int PS_SOLID = 0;
inline constexpr int PS_DASH = 1;
inline constexpr int PS_DOT = 2;
inline constexpr int PS_NULL = 5;
inline constexpr int PS_INSIDEFRAME = 6;
PLATFORM_GDI_API HPEN CreatePen(int style, int width, COLORREF color);

// Brushes: solid only.
PLATFORM_GDI_API HBRUSH CreateSolidBrush(COLORREF color);

// ---- colours and modes ----
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;
// Each returns the previous value (CLR_INVALID or 0 on failure).
PLATFORM_GDI_API COLORREF SetTextColor(HDC dc, COLORREF color);
PLATFORM_GDI_API COLORREF GetTextColor(HDC dc);
PLATFORM_GDI_API COLORREF SetBkColor(HDC dc, COLORREF color);
PLATFORM_GDI_API COLORREF GetBkColor(HDC dc);
PLATFORM_GDI_API int SetBkMode(HDC dc, int mode);
PLATFORM_GDI_API int GetBkMode(HDC dc);

inline constexpr unsigned TA_LEFT = 0;
inline constexpr unsigned TA_TOP = 0;
inline constexpr unsigned TA_RIGHT = 2;
inline constexpr unsigned TA_CENTER = 6;
inline constexpr unsigned TA_BOTTOM = 8;
inline constexpr unsigned TA_BASELINE = 24;
inline constexpr unsigned GDI_ERROR = 0xFFFFFFFFu;
PLATFORM_GDI_API unsigned SetTextAlign(HDC dc, unsigned align);
PLATFORM_GDI_API unsigned GetTextAlign(HDC dc);

inline constexpr int BLACKONWHITE = 1;
inline constexpr int WHITEONBLACK = 2;
inline constexpr int COLORONCOLOR = 3;
inline constexpr int HALFTONE = 4;
inline constexpr int STRETCH_DELETESCANS = COLORONCOLOR;
inline constexpr int STRETCH_HALFTONE = HALFTONE;
// HALFTONE averages the source area under each destination pixel; the other modes pick the
// nearest source pixel.
PLATFORM_GDI_API int SetStretchBltMode(HDC dc, int mode);
PLATFORM_GDI_API int GetStretchBltMode(HDC dc);
// Accepted for the HALFTONE idiom; the brush origin changes nothing here.
PLATFORM_GDI_API bool SetBrushOrgEx(HDC dc, int x, int y, POINT* previous);

// ---- lines and shapes ----
PLATFORM_GDI_API bool MoveToEx(HDC dc, int x, int y, POINT* previous);
// A line from the current position to (x, y), the end point excluded; the position moves there.
PLATFORM_GDI_API bool LineTo(HDC dc, int x, int y);
// Outline with the pen, inside with the brush; the right and bottom edges are excluded. With the
// null pen the filled area is one pixel smaller on the right and bottom, as in Win32.
PLATFORM_GDI_API bool Rectangle(HDC dc, int left, int top, int right, int bottom);
PLATFORM_GDI_API bool Ellipse(HDC dc, int left, int top, int right, int bottom);
// Fills (left..right-1, top..bottom-1) with the brush; the selected objects do not matter.
PLATFORM_GDI_API int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
// A one-pixel border inside the rectangle, with the brush.
PLATFORM_GDI_API int FrameRect(HDC dc, const RECT* rect, HBRUSH brush);
// The two-colour frame: top and left edges in `top_left`, bottom and right edges in
// `bottom_right`, one pixel wide, inside the rectangle (the right column and bottom row belong to
// the second colour, the corners they share with the first belong to the second too).
PLATFORM_GDI_API void Draw3dRect(HDC dc, const RECT* rect, COLORREF top_left, COLORREF bottom_right);
// Fills the rectangle with one colour, leaving the context's colours as they were.
PLATFORM_GDI_API void FillSolidRect(HDC dc, const RECT* rect, COLORREF color);
PLATFORM_GDI_API COLORREF GetPixel(HDC dc, int x, int y);
PLATFORM_GDI_API COLORREF SetPixel(HDC dc, int x, int y, COLORREF color);

// ---- gradients (MSIMG32) ----
struct TRIVERTEX {
  LONG x = 0;
  LONG y = 0;
  COLOR16 Red = 0;  // 16 bits per channel: the 8-bit value shifted left by 8
  COLOR16 Green = 0;
  COLOR16 Blue = 0;
  COLOR16 Alpha = 0;
};
struct GRADIENT_RECT {
  ULONG UpperLeft = 0;
  ULONG LowerRight = 0;
};
inline constexpr ULONG GRADIENT_FILL_RECT_H = 0;
inline constexpr ULONG GRADIENT_FILL_RECT_V = 1;
// Rectangle gradients only: each GRADIENT_RECT of `mesh` names two vertices whose colours run
// from the top (or left) edge to the bottom (or right) edge. The first row (column) has the first
// colour exactly; each further row moves 1/height of the way to the second.
PLATFORM_GDI_API bool GradientFill(HDC dc, const TRIVERTEX* vertices, ULONG vertex_count, const void* mesh,
                                   ULONG mesh_count, ULONG mode);

// ---- fonts and text ----
inline constexpr int LF_FACESIZE = 32;
inline constexpr int FW_DONTCARE = 0;
inline constexpr int FW_NORMAL = 400;
inline constexpr int FW_BOLD = 700;
inline constexpr BYTE ANSI_CHARSET = 0;
inline constexpr BYTE DEFAULT_CHARSET = 1;
inline constexpr BYTE OUT_DEFAULT_PRECIS = 0;
inline constexpr BYTE CLIP_DEFAULT_PRECIS = 0;
inline constexpr BYTE DEFAULT_QUALITY = 0;
inline constexpr BYTE PROOF_QUALITY = 2;
inline constexpr BYTE ANTIALIASED_QUALITY = 4;
inline constexpr BYTE CLEARTYPE_QUALITY = 5;
inline constexpr BYTE DEFAULT_PITCH = 0;
inline constexpr BYTE FF_DONTCARE = 0x00;
inline constexpr BYTE FF_SWISS = 0x20;

// The face name is UTF-8 here; CreateFontW takes it as UTF-16.
struct LOGFONT {
  LONG lfHeight = 0;  // < 0: character (em) height in pixels; > 0: cell height; 0: 16-pixel cell
  LONG lfWidth = 0;   // 0: natural width; otherwise the average character width
  LONG lfEscapement = 0;
  LONG lfOrientation = 0;
  LONG lfWeight = FW_NORMAL;  // 600 and above draw bold
  BYTE lfItalic = 0;
  BYTE lfUnderline = 0;
  BYTE lfStrikeOut = 0;
  BYTE lfCharSet = DEFAULT_CHARSET;
  BYTE lfOutPrecision = OUT_DEFAULT_PRECIS;
  BYTE lfClipPrecision = CLIP_DEFAULT_PRECIS;
  BYTE lfQuality = DEFAULT_QUALITY;
  BYTE lfPitchAndFamily = DEFAULT_PITCH;
  char lfFaceName[LF_FACESIZE * 3] = {};  // UTF-8, zero-terminated
};
using LOGFONTA = LOGFONT;
PLATFORM_GDI_API HFONT CreateFontIndirect(const LOGFONT* font);
PLATFORM_GDI_API HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                                   DWORD underline, DWORD strike_out, DWORD char_set, DWORD out_precision,
                                   DWORD clip_precision, DWORD quality, DWORD pitch_and_family, const char* face);
PLATFORM_GDI_API HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                                   DWORD underline, DWORD strike_out, DWORD char_set, DWORD out_precision,
                                   DWORD clip_precision, DWORD quality, DWORD pitch_and_family,
                                   const char16_t* face);
// The font file family a face is drawn with (see convention 6).
PLATFORM_GDI_API const char* font_family_for_face(const char* face);

struct TEXTMETRIC {
  LONG tmHeight = 0;  // ascent + descent
  LONG tmAscent = 0;
  LONG tmDescent = 0;
  LONG tmInternalLeading = 0;
  LONG tmExternalLeading = 0;
  LONG tmAveCharWidth = 0;
  LONG tmMaxCharWidth = 0;
  LONG tmWeight = 0;
};
PLATFORM_GDI_API bool GetTextMetrics(HDC dc, TEXTMETRIC* metrics);
// Width (advance) and height (the font's cell height) of the text in the selected font.
PLATFORM_GDI_API bool GetTextExtentPoint32A(HDC dc, const char* text, int count, SIZE* size);
PLATFORM_GDI_API bool GetTextExtentPoint32W(HDC dc, const char16_t* text, int count, SIZE* size);

// Text at (x, y) by the text alignment; with OPAQUE background mode the text's cell is filled
// with the background colour first.
PLATFORM_GDI_API bool TextOutA(HDC dc, int x, int y, const char* text, int count);
PLATFORM_GDI_API bool TextOutW(HDC dc, int x, int y, const char16_t* text, int count);

inline constexpr unsigned ETO_OPAQUE = 0x0002;
inline constexpr unsigned ETO_CLIPPED = 0x0004;
// ETO_OPAQUE fills `rect` with the background colour (text may be null or empty: a plain fill);
// ETO_CLIPPED clips the text to `rect`. Per-character advances (`dx`) are not supported and must
// be null.
PLATFORM_GDI_API bool ExtTextOutA(HDC dc, int x, int y, unsigned options, const RECT* rect, const char* text,
                                  unsigned count, const int* dx);
PLATFORM_GDI_API bool ExtTextOutW(HDC dc, int x, int y, unsigned options, const RECT* rect, const char16_t* text,
                                  unsigned count, const int* dx);

inline constexpr unsigned DT_TOP = 0x0000;
inline constexpr unsigned DT_LEFT = 0x0000;
inline constexpr unsigned DT_CENTER = 0x0001;
inline constexpr unsigned DT_RIGHT = 0x0002;
inline constexpr unsigned DT_VCENTER = 0x0004;
inline constexpr unsigned DT_BOTTOM = 0x0008;
inline constexpr unsigned DT_WORDBREAK = 0x0010;
inline constexpr unsigned DT_SINGLELINE = 0x0020;
inline constexpr unsigned DT_NOCLIP = 0x0100;
inline constexpr unsigned DT_CALCRECT = 0x0400;
inline constexpr unsigned DT_NOPREFIX = 0x0800;
inline constexpr unsigned DT_END_ELLIPSIS = 0x8000;
// Formats text in the rectangle and returns its height (0 on failure). DT_VCENTER and DT_BOTTOM
// act on single-line text; DT_END_ELLIPSIS ends a line that does not fit with "..."; DT_CALCRECT
// only measures (the rectangle's right and bottom are set to fit the text). Text is clipped to
// the rectangle unless DT_NOCLIP. Without DT_NOPREFIX "&x" shows x and "&&" shows "&".
PLATFORM_GDI_API int DrawTextA(HDC dc, const char* text, int count, RECT* rect, unsigned format);
PLATFORM_GDI_API int DrawTextW(HDC dc, const char16_t* text, int count, RECT* rect, unsigned format);

// ---- bitmaps ----
struct BITMAP {
  LONG bmType = 0;
  LONG bmWidth = 0;
  LONG bmHeight = 0;
  LONG bmWidthBytes = 0;
  WORD bmPlanes = 1;
  WORD bmBitsPixel = 32;
  void* bmBits = nullptr;  // the pixels of a DIB section, null for other bitmaps
};
inline constexpr DWORD BI_RGB = 0;
struct BITMAPINFOHEADER {
  DWORD biSize = sizeof(BITMAPINFOHEADER);
  LONG biWidth = 0;
  LONG biHeight = 0;  // < 0: top-down rows; > 0: bottom-up rows
  WORD biPlanes = 1;
  WORD biBitCount = 32;
  DWORD biCompression = BI_RGB;
  DWORD biSizeImage = 0;
  LONG biXPelsPerMeter = 0;
  LONG biYPelsPerMeter = 0;
  DWORD biClrUsed = 0;
  DWORD biClrImportant = 0;
};
struct RGBQUAD {
  BYTE rgbBlue = 0;
  BYTE rgbGreen = 0;
  BYTE rgbRed = 0;
  BYTE rgbReserved = 0;
};
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
inline constexpr unsigned DIB_RGB_COLORS = 0;

// A 32-bit bitmap of that size, black. (Unlike Win32, a memory context's default bitmap does not
// make a monochrome one.) Null for a non-positive size.
PLATFORM_GDI_API HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);
// A 32-bit, top-down (negative biHeight), BI_RGB DIB section, all zero; *bits receives its
// pixels, which live as long as the bitmap. Other formats (bottom-up among them) are refused.
PLATFORM_GDI_API HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, unsigned usage, void** bits,
                                          void* section, DWORD offset);
PLATFORM_GDI_API int GetObject(HGDIOBJ object, int size, void* out);
// Reads rows of a bitmap (selected into a context or not) as a 32- or 24-bit BI_RGB DIB,
// top-down or bottom-up by the sign of biHeight. Scan lines count from the top of a top-down DIB
// and from the bottom of a bottom-up one (Win32); `bits` receives scans start..start+lines-1.
// With `bits` null only the header is filled. Returns the number of rows copied, 0 on failure.
PLATFORM_GDI_API int GetDIBits(HDC dc, HBITMAP bitmap, unsigned start, unsigned lines, void* bits, BITMAPINFO* info,
                               unsigned usage);
// Writes rows of a 32- or 24-bit DIB into a bitmap; returns the number of rows written.
PLATFORM_GDI_API int SetDIBits(HDC dc, HBITMAP bitmap, unsigned start, unsigned lines, const void* bits,
                               const BITMAPINFO* info, unsigned usage);
// Copies a part of a 32- or 24-bit DIB onto the context at (x, y); the source point is counted
// from the DIB's first row in memory for a top-down DIB and from its lower-left corner for a
// bottom-up one, as in Win32. `start` must be 0 and `lines` the DIB's height. Returns the rows.
PLATFORM_GDI_API int SetDIBitsToDevice(HDC dc, int x, int y, DWORD width, DWORD height, int src_x, int src_y,
                                       unsigned start, unsigned lines, const void* bits, const BITMAPINFO* info,
                                       unsigned usage);
// Scales a part of a 32- or 24-bit DIB onto the context with the context's stretch mode.
// Returns the rows drawn (the destination height), 0 on failure.
PLATFORM_GDI_API int StretchDIBits(HDC dc, int x, int y, int width, int height, int src_x, int src_y, int src_width,
                                   int src_height, const void* bits, const BITMAPINFO* info, unsigned usage,
                                   DWORD rop);

// Raster operations.
inline constexpr DWORD SRCCOPY = 0x00CC0020;
inline constexpr DWORD PATCOPY = 0x00F00021;
inline constexpr DWORD BLACKNESS = 0x00000042;
inline constexpr DWORD WHITENESS = 0x00FF0062;
// SRCCOPY copies (source and destination may be the same context, overlapping); PATCOPY fills
// with the brush; BLACKNESS and WHITENESS fill. Other operations fail.
PLATFORM_GDI_API bool BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int src_x, int src_y, DWORD rop);
// SRCCOPY with scaling by the destination's stretch mode. Sizes must be positive (no mirroring).
PLATFORM_GDI_API bool StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int src_x, int src_y,
                                 int src_width, int src_height, DWORD rop);

// ---- direct pixel access, for filters and snapshots ----
// Holds the pixels of what a context draws into (its window surface or selected bitmap) locked
// while it lives. Nothing else can draw into them meanwhile, so keep it short and never send a
// message or take another access while holding one. With `will_write`, the whole area is marked
// changed when the access ends (window contexts), so the compositor shows the new pixels.
class PLATFORM_GDI_API DcPixels {
 public:
  DcPixels(HDC dc, bool will_write);
  ~DcPixels();
  DcPixels(const DcPixels&) = delete;
  DcPixels& operator=(const DcPixels&) = delete;

  bool valid() const { return pixels_.data != nullptr; }
  const SurfacePixels& pixels() const { return pixels_; }

 private:
  struct Hold;
  Hold* hold_ = nullptr;
  bool will_write_ = false;
  SurfacePixels pixels_;
};

// The same for a bitmap handle.
class PLATFORM_GDI_API BitmapPixels {
 public:
  BitmapPixels(HBITMAP bitmap, bool will_write);
  ~BitmapPixels();
  BitmapPixels(const BitmapPixels&) = delete;
  BitmapPixels& operator=(const BitmapPixels&) = delete;

  bool valid() const { return pixels_.data != nullptr; }
  const SurfacePixels& pixels() const { return pixels_; }

 private:
  struct Hold;
  Hold* hold_ = nullptr;
  SurfacePixels pixels_;
};

// Live GDI objects (pens, brushes, fonts, bitmaps and contexts, stock objects excluded), for
// leak checks in tests.
PLATFORM_GDI_API size_t gdi_object_count();

}  // namespace platform
