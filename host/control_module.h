// A control module loaded the way a browser loads one: found through the registry by ProgID or
// CLSID, opened by its file name, entered through its four exported functions.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "kavrel/shell/com.h"
#include "platform/registry/registry.h"

namespace host {

struct ClassEntry {
  com::CLSID clsid;
  std::string module;           // the in-process server's file
  std::string threading_model;  // "Apartment" for the control
};

// Looks a class up by ProgID ("KAVREL.kavrelCtrl.1") or CLSID text ("{...}").
std::optional<ClassEntry> find_class(const platform::Registry& registry, const std::string& name);

class ControlModule {
 public:
  // Opens the module; null with `error` set when it cannot be opened or lacks an entry point.
  static std::unique_ptr<ControlModule> load(const std::string& path, std::string* error);
  // Unloads the module only when it says it can be unloaded; otherwise it stays loaded.
  ~ControlModule();
  ControlModule(const ControlModule&) = delete;
  ControlModule& operator=(const ControlModule&) = delete;

  com::HRESULT register_server() const { return register_(); }
  com::HRESULT unregister_server() const { return unregister_(); }
  com::HRESULT can_unload_now() const { return can_unload_(); }
  com::HRESULT get_class_object(const com::CLSID& clsid, const com::IID& iid, void** out) const {
    return get_class_object_(clsid, iid, out);
  }
  // The class factory's CreateInstance for `clsid`.
  com::HRESULT create_instance(const com::CLSID& clsid, const com::IID& iid, void** out) const;
  const std::string& path() const { return path_; }

 private:
  ControlModule() = default;

  std::string path_;
  void* handle_ = nullptr;
  com::DllGetClassObjectFn get_class_object_ = nullptr;
  com::DllCanUnloadNowFn can_unload_ = nullptr;
  com::DllRegisterServerFn register_ = nullptr;
  com::DllUnregisterServerFn unregister_ = nullptr;
};

}  // namespace host
