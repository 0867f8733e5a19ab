#include "platform/window/host_site.h"

#include <mutex>

namespace platform {

HostSite::~HostSite() = default;
void HostSite::set_topmost_window(HWND) {}
std::string HostSite::writable_cache_folder() { return {}; }
void HostSite::cancel_dialogs() {}
void HostSite::play_audio(int32_t, const int16_t*, size_t, int32_t) {}
void HostSite::stop_audio(int32_t) {}
void HostSite::file_not_saved(const std::string&) {}

uint32_t HeadlessSite::track_popup_menu(HWND, const Menu&, Point) { return 0; }
int HeadlessSite::message_box(HWND, const std::string&, const std::string&, uint32_t) { return IDOK; }
int HeadlessSite::show_dialog(HWND, const DialogTemplate&) { return IDOK; }
SaveDialogResult HeadlessSite::save_file_dialog(HWND, const SaveDialogRequest&) {
  SaveDialogResult none;
  none.available = false;
  return none;
}
Point HeadlessSite::cursor_position() { return {}; }
bool HeadlessSite::is_key_down(int) { return false; }
bool HeadlessSite::play_sound(const std::string&, const void*, size_t) { return false; }
Size HeadlessSite::screen_size() { return Size{1920, 1080}; }

namespace {

// Read by the control's threads, written by the host; guarded by site_lock.
std::mutex site_lock;
std::shared_ptr<HostSite>& installed() {
  static auto* site = new std::shared_ptr<HostSite>(std::make_shared<HeadlessSite>());
  return *site;
}

}  // namespace

void set_host_site(std::shared_ptr<HostSite> site) {
  std::lock_guard<std::mutex> hold(site_lock);
  installed() = site != nullptr ? std::move(site) : std::make_shared<HeadlessSite>();
}

std::shared_ptr<HostSite> host_site() {
  std::lock_guard<std::mutex> hold(site_lock);
  return installed();
}

}  // namespace platform
