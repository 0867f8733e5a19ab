// The bridge between one page and the control: script calls by name with arguments checked
// against the type library, run one at a time on the control's thread as WM_SCRIPT_CALL; events
// in the order the control raised them; the surface's frames and the page's input; host-site
// requests and their answers; the takeover of the control by a newer page. host/PROTOCOL.md is
// the page's side of it.
//
// Threads
//  - Page messages, page open and close, call completion: the network thread. The call queue,
//    the page's view state and `running_` belong to it.
//  - Script calls and events: the control's user-interface thread.
//  - send_site(), current_page(): any thread; `page_lock_` guards the current page pointer.
#pragma once

#include <cjson/cJSON.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/control_host.h"
#include "host/input_router.h"
#include "host/page_server.h"
#include "host/page_site.h"
#include "host/script_table.h"
#include "host/surface_streamer.h"

namespace host {

// What a page needs to restore its view after a reconnect.
struct PageViewState {
  bool initialised = false;
  bool signed_in = false;
  std::string user;
};

class Bridge final : public PageListener {
 public:
  struct Options {
    size_t max_calls_per_page = 32;  // queued and running; more are refused at once
    int max_surface_side = 4096;     // device pixels
  };

  Bridge(ControlHost& control, ScriptTable table, PageSite& site, SurfaceStreamer& streamer, InputRouter& router,
         InputState& input, Options options);

  // Set once before the server starts.
  void set_server(PageServer* server) { server_ = server; }
  void set_control_window(platform::HWND window);
  void set_build(int32_t build) { build_ = build; }
  // Defaults the page pre-fills its sign-in form with (a JSON object, text), sent in hello.
  void set_demo_defaults(std::string json) { demo_json_ = std::move(json); }

  // An event of the control (user-interface thread).
  void on_control_event(const ScriptEvent& event);
  // The surface now shows a window lifted out of the control (full screen) or the control again.
  // Any thread.
  void on_full_screen(bool on);
  // A host-site message for the current page; false when there is none. Any thread.
  bool send_site(const std::string& message);
  // No more calls are taken; queued ones are dropped. Any thread (waits for the network thread).
  void shutdown();

  void on_page_open(const std::shared_ptr<PageSocket>& page) override;
  void on_page_message(const std::shared_ptr<PageSocket>& page, const std::string& text) override;
  void on_page_closed(const std::shared_ptr<PageSocket>& page) override;

 private:
  struct Call {
    std::shared_ptr<PageSocket> page;
    std::shared_ptr<cJSON> id;  // the page's call id, echoed in the result
    const ScriptMember* member = nullptr;
    std::vector<com::Variant> args;
  };

  void handle_call(const std::shared_ptr<PageSocket>& page, const cJSON* message);
  void handle_resize(const cJSON* message);
  void handle_input(const std::shared_ptr<PageSocket>& page, const cJSON* message);
  void pump();
  void finish(Call call, com::HRESULT hr, com::Variant result, com::ExcepInfo error);
  void reply_error(const std::shared_ptr<PageSocket>& page, const cJSON* id, const std::string& error);
  void send_error(const std::shared_ptr<PageSocket>& page, const std::string& error);
  std::string hello() const;
  std::shared_ptr<PageSocket> current_page() const;

  ControlHost& control_;
  platform::HWND control_window_ = nullptr;
  const ScriptTable table_;
  PageSite& site_;
  SurfaceStreamer& streamer_;
  InputRouter& router_;
  InputState& input_;
  const Options options_;
  PageServer* server_ = nullptr;
  int32_t build_ = 0;
  std::string demo_json_;

  mutable std::mutex page_lock_;
  std::shared_ptr<PageSocket> current_;  // guarded by page_lock_; changed on the network thread
  bool full_screen_ = false;             // guarded by page_lock_
  std::string created_event_;            // the last CliCreatedNotify, for each new page; guarded by page_lock_

  // Network thread only.
  std::deque<Call> queue_;
  bool running_ = false;
  uint64_t running_page_ = 0;
  bool shut_ = false;
  PageViewState view_;
  platform::Size surface_;
};

}  // namespace host
