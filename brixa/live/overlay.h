// What the drawing hook and the monitor write over the picture: the alarm text, the
// electronic-PTZ outline of a fisheye view and the disconnection notice.
#pragma once

#include <cstdint>
#include <string>

#include "brixa/live/channel_capture.h"
#include "platform/gdi/gdi.h"

namespace brixa::live {

inline constexpr platform::COLORREF kAlarmTextColour = 0x0000FFFF;  // yellow, as 0x00BBGGRR
inline constexpr platform::COLORREF kNoticeColour = 0x000000FF;     // red
inline constexpr platform::COLORREF kEptzColour = 0x0000FF00;       // green
inline constexpr int kNoticeBandHeight = 20;

struct AlarmFlags {
  bool motion = false;
  bool video_loss = false;
  bool masking = false;
  bool audio = false;
  bool any() const { return motion || video_loss || masking || audio; }
};

// "%s %s %s %s" with the four alarm words, an absent alarm giving an empty word (so blanks stay).
std::string alarm_text(const AlarmFlags& flags);
// Draws the text at (0, 0), yellow on a transparent background, in the context's current font.
void draw_alarm_text(platform::HDC dc, const std::string& text);

// The selected electronic-PTZ window of the fisheye layout, scaled to a W x H picture, as an
// outline in green 3 pixels wide. Nothing when the selection is not one of the layout's windows
// or the layout has no extent. Returns whether it drew.
bool draw_eptz_outline(platform::HDC dc, const PLAY_FISHEYE_DISPLAY& display, int32_t selected, int width,
                       int height);

// "Desconectado por %d %s": minutes from 60 seconds on, seconds below.
std::string stall_notice_text(uint32_t elapsed_ms);
// Writes the notice in red, centred, on a white band 20 pixels high across the window from its
// vertical middle, on the window's own context.
void draw_stall_notice(platform::HWND window, const std::string& text);

}  // namespace brixa::live
