#include "host/control_host.h"

#include "kavrel/shell/text.h"

namespace host {

int32_t ScriptEvent::arg_long(size_t index) const {
  return index < args.size() && args[index].vt == com::VT_I4 ? args[index].lval : 0;
}

std::string ScriptEvent::arg_text(size_t index) const {
  return index < args.size() && args[index].vt == com::VT_BSTR ? kavrel::to_narrow(args[index].bstr) : std::string();
}

bool ScriptEvent::arg_is_null(size_t index) const { return index < args.size() && args[index].vt == com::VT_NULL; }

// The event sink: an IDispatch the control calls for each event.
class ControlHost::Sink final : public com::IDispatch {
 public:
  explicit Sink(bool record) : record_(record) {}
  void set_listener(EventListener listener) {
    std::lock_guard<std::mutex> hold(lock_);
    listener_ = std::make_shared<EventListener>(std::move(listener));
  }

  com::HRESULT QueryInterface(const com::IID& iid, void** out) override {
    if (out == nullptr) return com::E_POINTER;
    *out = nullptr;
    if (iid != com::IID_IUnknown && iid != com::IID_IDispatch) return com::E_NOINTERFACE;
    *out = static_cast<com::IDispatch*>(this);
    AddRef();
    return com::S_OK;
  }
  uint32_t AddRef() override { return refs_.fetch_add(1) + 1; }
  uint32_t Release() override {
    uint32_t left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
  }
  com::HRESULT GetIDOfName(const std::u16string&, com::DISPID*) override { return com::DISP_E_UNKNOWNNAME; }
  com::HRESULT Invoke(com::DISPID id, const com::Variant* args, uint32_t count, com::Variant*, com::ExcepInfo*) override {
    ScriptEvent event;
    event.id = id;
    event.args.assign(args, args + count);
    event.thread = std::this_thread::get_id();
    std::shared_ptr<EventListener> listener;
    {
      std::lock_guard<std::mutex> hold(lock_);
      listener = listener_;
    }
    if (listener && *listener) (*listener)(event);
    if (record_) {
      {
        std::lock_guard<std::mutex> hold(lock_);
        events_.push_back(std::move(event));
      }
      arrived_.notify_all();
    }
    return com::S_OK;
  }

  std::vector<ScriptEvent> wait(const std::function<bool(const ScriptEvent&)>& match, size_t count,
                                std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> hold(lock_);
    std::vector<ScriptEvent> found;
    arrived_.wait_for(hold, timeout, [&] {
      found.clear();
      for (const auto& e : events_) {
        if (match(e)) found.push_back(e);
      }
      return found.size() >= count;
    });
    return found;
  }
  std::vector<ScriptEvent> events() const {
    std::lock_guard<std::mutex> hold(lock_);
    return events_;
  }
  void clear() {
    std::lock_guard<std::mutex> hold(lock_);
    events_.clear();
  }

 private:
  ~Sink() = default;
  std::atomic<uint32_t> refs_{1};
  const bool record_;
  mutable std::mutex lock_;
  std::shared_ptr<EventListener> listener_;  // guarded by lock_; called outside it
  std::condition_variable arrived_;
  std::vector<ScriptEvent> events_;  // guarded by lock_; written on the UI thread, read by tests
};

ControlHost::ControlHost(bool record_events) : sink_(new Sink(record_events)) {}

void ControlHost::set_event_listener(EventListener listener) { sink_->set_listener(std::move(listener)); }

std::unique_ptr<ControlHost> ControlHost::create(const std::string& progid_or_clsid, std::string* error,
                                                 const Options& options) {
  platform::Registry registry(options.registry_path.empty() ? platform::Registry::default_path()
                                                            : options.registry_path);
  std::optional<ClassEntry> entry = find_class(registry, progid_or_clsid);
  if (!entry) {
    if (error != nullptr) *error = progid_or_clsid + " is not registered in " + registry.path();
    return nullptr;
  }
  std::unique_ptr<ControlHost> host(new ControlHost(options.record_events));
  bool ok = false;
  host->ui_.run([&] {
    host->module_ = ControlModule::load(entry->module, error);
    if (host->module_ == nullptr) return;
    com::ComPtr<com::IUnknown> object;
    com::HRESULT hr = host->module_->create_instance(entry->clsid, com::IID_IUnknown, object.put());
    if (com::failed(hr)) {
      if (error != nullptr) *error = "the class factory refused to create the object";
      return;
    }
    ok = host->connect(object.get(), error);
  });
  if (!ok) return nullptr;
  return host;
}

std::unique_ptr<ControlHost> ControlHost::adopt(const std::function<com::IUnknown*()>& factory, std::string* error) {
  std::unique_ptr<ControlHost> host(new ControlHost());
  bool ok = false;
  host->ui_.run([&] {
    auto object = com::ComPtr<com::IUnknown>::adopt(factory());
    if (!object) {
      if (error != nullptr) *error = "the factory made no object";
      return;
    }
    ok = host->connect(object.get(), error);
  });
  if (!ok) return nullptr;
  return host;
}

bool ControlHost::connect(com::IUnknown* object, std::string* error) {
  object_ = com::ComPtr<com::IUnknown>::share(object);
  if (com::failed(object_.query(com::IID_IDispatch, &dispatch_))) {
    if (error != nullptr) *error = "the object has no dispatch interface";
    return false;
  }
  com::ComPtr<com::IEventSource> source;
  if (com::succeeded(object_.query(com::IID_IEventSource, &source))) source->Advise(sink_, &cookie_);
  return true;
}

ControlHost::~ControlHost() {
  ui_.run([&] {
    if (object_) {
      com::ComPtr<com::IControlWindow> window;
      if (com::succeeded(object_.query(com::IID_IControlWindow, &window))) window->DestroyControlWindow();
      com::ComPtr<com::IEventSource> source;
      if (cookie_ != 0 && com::succeeded(object_.query(com::IID_IEventSource, &source))) source->Unadvise(cookie_);
    }
    dispatch_.reset();
    object_.reset();
    module_.reset();
  });
  ui_.stop();
  sink_->Release();
}

com::HRESULT ControlHost::create_window(const platform::Rect& rect) {
  com::HRESULT hr = com::E_NOINTERFACE;
  ui_.run([&] {
    com::ComPtr<com::IControlWindow> window;
    if (com::failed(object_.query(com::IID_IControlWindow, &window))) return;
    platform::HWND created = nullptr;
    hr = window->CreateControlWindow(ui_.host_window(), rect, &created);
  });
  return hr;
}

com::HRESULT ControlHost::destroy_window() {
  com::HRESULT hr = com::E_NOINTERFACE;
  ui_.run([&] {
    com::ComPtr<com::IControlWindow> window;
    if (com::succeeded(object_.query(com::IID_IControlWindow, &window))) hr = window->DestroyControlWindow();
  });
  return hr;
}

platform::HWND ControlHost::control_window() {
  platform::HWND found = nullptr;
  ui_.run([&] {
    com::ComPtr<com::IControlWindow> window;
    if (com::succeeded(object_.query(com::IID_IControlWindow, &window))) window->GetControlWindow(&found);
  });
  return found;
}

com::HRESULT ControlHost::id_of(const std::string& name, com::DISPID* id) {
  com::HRESULT hr = com::E_UNEXPECTED;
  ui_.run([&] { hr = dispatch_->GetIDOfName(kavrel::to_wide(name), id); });
  return hr;
}

com::HRESULT ControlHost::call(const std::string& name, const std::vector<com::Variant>& args, com::Variant* result,
                               com::ExcepInfo* error) {
  com::DISPID id = 0;
  com::HRESULT hr = id_of(name, &id);
  if (com::failed(hr)) {
    if (error != nullptr) error->description = "unknown method " + name;
    return hr;
  }
  return call_id(id, args, result, error);
}

com::HRESULT ControlHost::call_id(com::DISPID id, const std::vector<com::Variant>& args, com::Variant* result,
                                  com::ExcepInfo* error) {
  com::HRESULT hr = com::E_UNEXPECTED;
  ui_.run([&] {
    hr = dispatch_->Invoke(id, args.data(), static_cast<uint32_t>(args.size()), result, error);
  });
  return hr;
}

std::optional<ScriptEvent> ControlHost::wait_for_event(const std::function<bool(const ScriptEvent&)>& match,
                                                       std::chrono::milliseconds timeout) {
  std::vector<ScriptEvent> found = sink_->wait(match, 1, timeout);
  if (found.empty()) return std::nullopt;
  return found.front();
}

std::vector<ScriptEvent> ControlHost::wait_for_events(const std::function<bool(const ScriptEvent&)>& match,
                                                      size_t count, std::chrono::milliseconds timeout) {
  return sink_->wait(match, count, timeout);
}

std::vector<ScriptEvent> ControlHost::events() const { return sink_->events(); }

void ControlHost::clear_events() { sink_->clear(); }

void ControlHost::with_object(const std::function<void(com::IUnknown*)>& fn) {
  ui_.run([&] { fn(object_.get()); });
}

const std::string& ControlHost::module_path() const {
  static const std::string none;
  return module_ ? module_->path() : none;
}

}  // namespace host
