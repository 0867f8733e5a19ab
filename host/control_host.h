// The test host: what the page host and the tests share. It creates a control on its own
// user-interface thread (through the registry by ProgID or CLSID, or from a given factory),
// registers an event sink, creates the control's window inside a host window, calls methods by
// name and waits for events.
//
// Every operation may be called from any thread; calls on the control are carried over to the
// user-interface thread and waited for. Events are recorded with the thread they arrived on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/control_module.h"
#include "host/ui_thread.h"
#include "kavrel/shell/com.h"

namespace host {

struct ScriptEvent {
  com::DISPID id = 0;
  std::vector<com::Variant> args;
  std::thread::id thread;

  // The argument at `index` as a long, or as UTF-8 text.
  int32_t arg_long(size_t index) const;
  std::string arg_text(size_t index) const;
  bool arg_is_null(size_t index) const;
};

class ControlHost {
 public:
  struct Options {
    std::string registry_path;  // empty: platform::Registry::default_path()
    bool record_events = true;  // false: events only reach the listener (a long-running host)
  };
  // Called on the user-interface thread for every event, in the order the control raised them.
  using EventListener = std::function<void(const ScriptEvent&)>;

  // Looks the class up in the registry, loads its module and creates the object. Null with
  // `error` set on failure.
  static std::unique_ptr<ControlHost> create(const std::string& progid_or_clsid, std::string* error,
                                             const Options& options);
  static std::unique_ptr<ControlHost> create(const std::string& progid_or_clsid, std::string* error) {
    return create(progid_or_clsid, error, Options{});
  }
  // Creates the object with `factory`, run on the host's user-interface thread (for tests that
  // link the control directly). The factory returns an object holding one reference.
  static std::unique_ptr<ControlHost> adopt(const std::function<com::IUnknown*()>& factory, std::string* error);

  // Installs the listener (null removes it). Any thread.
  void set_event_listener(EventListener listener);

  // Destroys the control's window, disconnects the sink and releases the object on its thread,
  // then stops the thread.
  ~ControlHost();
  ControlHost(const ControlHost&) = delete;
  ControlHost& operator=(const ControlHost&) = delete;

  // Creates the control's window as a child of the host window.
  com::HRESULT create_window(const platform::Rect& rect = platform::Rect{0, 0, 900, 600});
  com::HRESULT destroy_window();
  platform::HWND control_window();

  // Calls a method by name (GetIDOfName, then Invoke), or by DISPID.
  com::HRESULT call(const std::string& name, const std::vector<com::Variant>& args, com::Variant* result = nullptr,
                    com::ExcepInfo* error = nullptr);
  com::HRESULT call_id(com::DISPID id, const std::vector<com::Variant>& args, com::Variant* result = nullptr,
                       com::ExcepInfo* error = nullptr);
  com::HRESULT id_of(const std::string& name, com::DISPID* id);

  // Waits until an event satisfying `match` has arrived (counting those already recorded) and
  // returns the first such; nothing when none arrives within `timeout`.
  std::optional<ScriptEvent> wait_for_event(const std::function<bool(const ScriptEvent&)>& match,
                                            std::chrono::milliseconds timeout);
  // Waits until at least `count` events satisfying `match` have arrived; returns them all.
  std::vector<ScriptEvent> wait_for_events(const std::function<bool(const ScriptEvent&)>& match, size_t count,
                                           std::chrono::milliseconds timeout);
  std::vector<ScriptEvent> events() const;
  void clear_events();

  // Runs `fn` with the object on the user-interface thread.
  void with_object(const std::function<void(com::IUnknown*)>& fn);
  UiThread& ui() { return ui_; }
  // Empty when created by adopt().
  const std::string& module_path() const;

 private:
  class Sink;
  explicit ControlHost(bool record_events = true);
  bool connect(com::IUnknown* object, std::string* error);  // on the UI thread

  UiThread ui_;
  std::unique_ptr<ControlModule> module_;  // released after the object
  com::ComPtr<com::IUnknown> object_;      // user-interface thread only
  com::ComPtr<com::IDispatch> dispatch_;   // user-interface thread only
  uint32_t cookie_ = 0;
  Sink* sink_ = nullptr;  // owned by its references; recorded events are read under its lock
};

}  // namespace host
