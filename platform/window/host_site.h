// The host site: what the control asks of the program that shows it. Menus, message boxes,
// modal dialogs, the save dialog, the cursor, the keyboard, sounds and the screen size all go
// through one interface, so a host can present them (in a page) and tests can script them.
//
// The site is process-wide. Calls come from the control's user-interface thread, except where
// a caller says otherwise; an implementation must be callable from any thread. Texts are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/window/ui_api.h"
#include "platform/window/window.h"

namespace platform {

struct Point {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  int32_t cx = 0;
  int32_t cy = 0;
  bool operator==(const Size&) const = default;
};

struct MenuItem {
  std::string text;
  uint32_t command = 0;  // 0 for separators and submenu heads
  bool separator = false;
  bool checked = false;
  bool disabled = false;
  std::vector<MenuItem> submenu;
};

struct Menu {
  std::vector<MenuItem> items;
};

// Message box types and results.
inline constexpr uint32_t MB_OK = 0x0;
inline constexpr uint32_t MB_OKCANCEL = 0x1;
inline constexpr uint32_t MB_YESNO = 0x4;
inline constexpr uint32_t MB_ICONERROR = 0x10;
inline constexpr uint32_t MB_ICONWARNING = 0x30;
inline constexpr uint32_t MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Virtual key codes the control asks about.
inline constexpr int VK_ESCAPE = 0x1B;

// A dialog as plain data: a caption, lines of text and buttons.
struct DialogButton {
  int id = IDOK;
  std::string text;
};

struct DialogTemplate {
  uint32_t resource_id = 0;
  std::string caption;
  std::vector<std::string> lines;
  std::vector<DialogButton> buttons;
  Size size;  // in dialog units; a host may ignore it
};

struct SaveDialogRequest {
  std::string title;
  std::string initial_name;
  // Pairs of a description and a pattern, as "Vídeo MP4 (*.mp4)" and "*.mp4".
  std::vector<std::pair<std::string, std::string>> filters;
  std::string default_extension;
};

struct SaveDialogResult {
  bool available = true;  // false: the site has no save dialog at all
  bool chosen = false;
  std::string path;
  uint32_t filter_index = 0;  // 1-based index of the chosen filter
};

class PLATFORM_UI_API HostSite {
 public:
  virtual ~HostSite();

  // Shows a popup menu at a screen point and returns the chosen command, 0 when none.
  virtual uint32_t track_popup_menu(HWND owner, const Menu& menu, Point at) = 0;
  // A modal message box; returns IDOK, IDCANCEL, IDYES or IDNO.
  virtual int message_box(HWND owner, const std::string& text, const std::string& caption, uint32_t type) = 0;
  // A modal dialog; returns the id of the button that closed it.
  virtual int show_dialog(HWND owner, const DialogTemplate& dialog) = 0;
  virtual SaveDialogResult save_file_dialog(HWND owner, const SaveDialogRequest& request) = 0;
  virtual Point cursor_position() = 0;
  // True while the key is held down.
  virtual bool is_key_down(int virtual_key) = 0;
  // Plays a WAVE sound (a whole RIFF file in memory); false when it cannot be played.
  virtual bool play_sound(const std::string& name, const void* wave, size_t size) = 0;
  virtual Size screen_size() = 0;
  // The writable cache folder: a folder under the user's cache directory, named by the host,
  // where the control keeps temporary files (exports, recordings) until they are saved. Empty
  // when the site has none; the default has none.
  virtual std::string writable_cache_folder();
  // Ends every modal request (box, dialog, save dialog) that waits for an answer, on any thread,
  // with the answer a headless site gives; used while the control shuts down. The default has
  // nothing that waits.
  virtual void cancel_dialogs();
  // Presents the window above everything, at its rectangle in screen coordinates (the wall in
  // full-screen mode); null ends that. The default does nothing, for hosts without a screen.
  virtual void set_topmost_window(HWND window);
  // Live sound of a stream of the Device SDK: 16-bit mono PCM to play after what came before,
  // and the end of that stream's sound. Called on the SDK's stream threads, not the UI thread;
  // `samples` is valid during the call only. The default plays nothing.
  virtual void play_audio(int32_t stream, const int16_t* samples, size_t count, int32_t sample_rate);
  virtual void stop_audio(int32_t stream);
  // The user chose `name` in a save dialog and the file was then not saved (what was to be saved
  // could not be made, or writing it failed), so the user hears of it. The default does nothing.
  virtual void file_not_saved(const std::string& name);
};

// A site for programs without a user: menus choose nothing, boxes and dialogs answer IDOK, there
// is no save dialog (not available) and no cache folder, no key is down, sounds are not played,
// the screen is 1920 x 1080.
class PLATFORM_UI_API HeadlessSite : public HostSite {
 public:
  uint32_t track_popup_menu(HWND owner, const Menu& menu, Point at) override;
  int message_box(HWND owner, const std::string& text, const std::string& caption, uint32_t type) override;
  int show_dialog(HWND owner, const DialogTemplate& dialog) override;
  SaveDialogResult save_file_dialog(HWND owner, const SaveDialogRequest& request) override;
  Point cursor_position() override;
  bool is_key_down(int virtual_key) override;
  bool play_sound(const std::string& name, const void* wave, size_t size) override;
  Size screen_size() override;
};

// Installs the process's site (null restores the headless one). Any thread.
PLATFORM_UI_API void set_host_site(std::shared_ptr<HostSite> site);
// The current site, never null. The caller keeps it alive for the duration of its call.
PLATFORM_UI_API std::shared_ptr<HostSite> host_site();

}  // namespace platform
