#include "host/control_module.h"

#include <dlfcn.h>

namespace host {

std::optional<ClassEntry> find_class(const platform::Registry& registry, const std::string& name) {
  com::CLSID clsid;
  if (!com::parse_guid(name, &clsid)) {
    std::optional<std::string> text = registry.get_value(name + "\\CLSID");
    if (!text || !com::parse_guid(*text, &clsid)) return std::nullopt;
  }
  std::string key = "CLSID\\" + com::guid_text(clsid) + "\\InprocServer32";
  std::optional<std::string> module = registry.get_value(key);
  if (!module || module->empty()) return std::nullopt;
  ClassEntry entry;
  entry.clsid = clsid;
  entry.module = *module;
  entry.threading_model = registry.get_value(key, "ThreadingModel").value_or("");
  return entry;
}

std::unique_ptr<ControlModule> ControlModule::load(const std::string& path, std::string* error) {
  std::unique_ptr<ControlModule> module(new ControlModule());
  module->path_ = path;
  // Once loaded, the control stays for the process (RTLD_NODELETE): it and the library it
  // loads keep process-lived state (their registries, callback queues and lists of abandoned
  // threads) so that a thread they left behind never meets freed memory, and unloading them
  // would drop that state with their code. The module is still asked whether it could unload.
  module->handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (module->handle_ == nullptr) {
    if (error != nullptr) *error = dlerror();
    return nullptr;
  }
  auto* self = module.get();
  auto entry = [&](const char* name) {
    void* symbol = dlsym(self->handle_, name);
    if (symbol == nullptr && error != nullptr) *error = std::string(path) + " does not export " + name;
    return symbol;
  };
  module->get_class_object_ = reinterpret_cast<com::DllGetClassObjectFn>(entry("DllGetClassObject"));
  module->can_unload_ = reinterpret_cast<com::DllCanUnloadNowFn>(entry("DllCanUnloadNow"));
  module->register_ = reinterpret_cast<com::DllRegisterServerFn>(entry("DllRegisterServer"));
  module->unregister_ = reinterpret_cast<com::DllUnregisterServerFn>(entry("DllUnregisterServer"));
  if (module->get_class_object_ == nullptr || module->can_unload_ == nullptr || module->register_ == nullptr ||
      module->unregister_ == nullptr) {
    return nullptr;  // the destructor closes the handle: nothing of it is in use
  }
  return module;
}

ControlModule::~ControlModule() {
  if (handle_ == nullptr) return;
  // Objects, locks or threads of the module still alive: leave it loaded rather than pull its
  // code away under them.
  if (can_unload_ == nullptr || can_unload_() == com::S_OK) dlclose(handle_);
}

com::HRESULT ControlModule::create_instance(const com::CLSID& clsid, const com::IID& iid, void** out) const {
  com::ComPtr<com::IClassFactory> factory;
  com::HRESULT hr = get_class_object(clsid, com::IID_IClassFactory, factory.put());
  if (com::failed(hr)) return hr;
  return factory->CreateInstance(nullptr, iid, out);
}

}  // namespace host
