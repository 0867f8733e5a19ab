// The host site answered by the page: menus, message boxes, dialogs and the save dialog become
// requests the page answers over the WebSocket; sounds and saved files are offered to it as
// downloads; the cursor, keys and screen size come from the page's input.
//
// A request made on the user-interface thread waits in a modal loop: timers, painting, posted
// and sent messages keep being served, script calls are held back until the answer is in. The
// wait is bounded (reply_timeout) and ends at once when the page goes (cancel_all) or the host
// stops (shutdown); the answer is then the one a headless site gives. Requests from other
// threads wait the same way without a loop.
//
// Threads: HostSite members run on whatever thread the control calls from; reply(),
// cancel_all() and shutdown() come from the network thread or the host's owner. `lock_` guards
// the pending requests.
#pragma once

#include <cjson/cJSON.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "host/downloads.h"
#include "host/input_state.h"
#include "host/save_watcher.h"
#include "host/ui_thread.h"
#include "platform/window/host_site.h"

namespace host {

class PageSite final : public platform::HostSite {
 public:
  // Delivers one site message (JSON text) to the current page; false when there is none.
  using Sender = std::function<bool(const std::string& message)>;

  struct Options {
    std::chrono::milliseconds reply_timeout{60000};
    std::string save_folder;  // where saved files go before the page downloads them
    // The control's writable cache folder (a folder under the user's cache directory); made
    // when first asked for. Empty: the site has none.
    std::string cache_folder;
  };

  PageSite(UiThread& ui, Downloads& downloads, InputState& input, Options options);
  ~PageSite() override;

  // Starts the watcher of saved files. False with `error` when it cannot run.
  bool start(Sender sender, std::string* error);

  // A page's answer to request `id` (network thread). `value` may be null.
  void reply(uint64_t id, const cJSON* value);
  // The page went away: every waiting request ends with its headless answer.
  void cancel_all();
  // As cancel_all, and every later request is answered at once without asking.
  void shutdown();

  uint32_t track_popup_menu(platform::HWND owner, const platform::Menu& menu, platform::Point at) override;
  int message_box(platform::HWND owner, const std::string& text, const std::string& caption, uint32_t type) override;
  int show_dialog(platform::HWND owner, const platform::DialogTemplate& dialog) override;
  platform::SaveDialogResult save_file_dialog(platform::HWND owner, const platform::SaveDialogRequest& request) override;
  platform::Point cursor_position() override;
  bool is_key_down(int virtual_key) override;
  bool play_sound(const std::string& name, const void* wave, size_t size) override;
  platform::Size screen_size() override;
  std::string writable_cache_folder() override;
  // The control shuts down: as cancel_all.
  void cancel_dialogs() override;
  void play_audio(int32_t stream, const int16_t* samples, size_t count, int32_t sample_rate) override;
  void stop_audio(int32_t stream) override;
  void file_not_saved(const std::string& name) override;

  // Sends a notification that needs no answer; false when no page is there.
  bool notify(cJSON* message);

  // Live sound of a stream for the page to play: 16-bit mono PCM at `sample_rate`, sent as
  // {"kind":"audio","stream","rate","pcm"} with the samples little-endian in base64; and the
  // end of that stream's sound ({"kind":"audio-end","stream"}). Any thread.
  bool send_audio(int32_t stream, const int16_t* samples, size_t count, int32_t sample_rate);
  bool end_audio(int32_t stream);

 private:
  struct Pending {
    bool done = false;
    bool answered = false;
    std::string value;  // the answer as JSON text
  };

  // Sends `request` (consumed) with a fresh id and waits for its answer; nothing when cancelled,
  // timed out or no page is there.
  std::optional<std::string> ask(cJSON* request);
  void wait_in_modal_loop(uint64_t id, std::chrono::steady_clock::time_point deadline);
  void wake(uint64_t id);
  void file_saved(const std::string& path);

  UiThread& ui_;
  Downloads& downloads_;
  InputState& input_;
  const Options options_;
  SaveWatcher watcher_;
  Sender sender_;  // set by start(), before any request

  std::mutex lock_;
  std::condition_variable answered_;
  std::map<uint64_t, Pending> pending_;   // guarded by lock_
  uint64_t next_id_ = 1;                  // guarded by lock_
  bool shut_ = false;                     // guarded by lock_
  std::map<std::string, std::string> saved_names_;  // path -> name the page chose; guarded by lock_
};

}  // namespace host
