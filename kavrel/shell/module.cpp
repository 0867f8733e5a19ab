// The module's class factories, registration and exported entry points.
#include <string>

#include "kavrel/resources/resources.h"
#include "kavrel/resources/type_library.h"
#include "kavrel/shell/app.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/module.h"
#include "platform/registry/registry.h"

namespace kavrel {

using com::HRESULT;
using platform::Registry;

namespace {

std::string module_folder() {
  const std::string& path = CkavrelApp::instance().module_path();
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string class_key(const com::CLSID& clsid) { return "CLSID\\" + com::guid_text(clsid); }

std::string typelib_key() { return "TypeLib\\" + com::guid_text(typelib::LIBID_kavrelLib) + "\\1.0"; }

// Factories are static objects: their references keep the module as server locks do.
template <class Factory>
HRESULT factory_query(Factory* self, const com::IID& iid, void** out) {
  if (out == nullptr) return com::E_POINTER;
  *out = nullptr;
  if (iid != com::IID_IUnknown && iid != com::IID_IClassFactory) return com::E_NOINTERFACE;
  *out = static_cast<com::IClassFactory*>(self);
  self->AddRef();
  return com::S_OK;
}

CkavrelCtrl::CkavrelCtrlFactory control_factory;
CkavrelPropPage::CkavrelPropPageFactory page_factory;

bool register_type_library(bool add) {
  Registry registry(Registry::default_path());
  return registry.update([&](Registry::Keys& keys) {
    std::string interface_key = "Interface\\" + com::guid_text(typelib::DIID__Dkavrel);
    std::string events_key = "Interface\\" + com::guid_text(typelib::DIID__DkavrelEvents);
    if (!add) {
      Registry::erase_tree(keys, typelib_key());
      Registry::erase_tree(keys, interface_key);
      Registry::erase_tree(keys, events_key);
      return;
    }
    keys[typelib_key()][""] = "kavrelLib";
    keys[typelib_key() + "\\0\\linux64"][""] = CkavrelApp::instance().module_path();
    keys[typelib_key() + "\\FLAGS"][""] = "0";
    keys[typelib_key() + "\\HELPDIR"][""] = module_folder();
    keys[interface_key][""] = "_Dkavrel";
    keys[interface_key + "\\TypeLib"][""] = com::guid_text(typelib::LIBID_kavrelLib);
    keys[interface_key + "\\TypeLib"]["Version"] = "1.0";
    keys[events_key][""] = "_DkavrelEvents";
    keys[events_key + "\\TypeLib"][""] = com::guid_text(typelib::LIBID_kavrelLib);
    keys[events_key + "\\TypeLib"]["Version"] = "1.0";
  });
}

}  // namespace

// ---- control class factory ----

HRESULT CkavrelCtrl::CkavrelCtrlFactory::QueryInterface(const com::IID& iid, void** out) {
  return factory_query(this, iid, out);
}
uint32_t CkavrelCtrl::CkavrelCtrlFactory::AddRef() {
  CkavrelApp::instance().lock_server(true);
  return 2;
}
uint32_t CkavrelCtrl::CkavrelCtrlFactory::Release() {
  CkavrelApp::instance().lock_server(false);
  return 1;
}

HRESULT CkavrelCtrl::CkavrelCtrlFactory::CreateInstance(com::IUnknown* outer, const com::IID& iid, void** out) {
  if (out == nullptr) return com::E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return com::CLASS_E_NOAGGREGATION;
  CkavrelCtrl* control = CkavrelCtrl::Create();
  HRESULT hr = control->QueryInterface(iid, out);
  control->Release();
  return hr;
}

HRESULT CkavrelCtrl::CkavrelCtrlFactory::LockServer(bool lock) {
  CkavrelApp::instance().lock_server(lock);
  return com::S_OK;
}

bool CkavrelCtrl::CkavrelCtrlFactory::UpdateRegistry(bool register_class) {
  Registry registry(Registry::default_path());
  return registry.update([&](Registry::Keys& keys) {
    std::string key = class_key(typelib::CLSID_kavrel);
    if (!register_class) {
      Registry::erase_tree(keys, key);
      Registry::erase_tree(keys, typelib::kControlProgId);
      return;
    }
    const std::string clsid = com::guid_text(typelib::CLSID_kavrel);
    const std::string type_name = resources::load_string(resources::IDS_KAVREL);
    const std::string& module = CkavrelApp::instance().module_path();
    keys[key][""] = type_name;
    keys[key + "\\InprocServer32"][""] = module;
    keys[key + "\\InprocServer32"]["ThreadingModel"] = "Apartment";
    keys[key + "\\ProgID"][""] = typelib::kControlProgId;
    keys[key + "\\Control"];
    keys[key + "\\ToolboxBitmap32"][""] = module + ", " + std::to_string(resources::IDB_KAVREL);
    keys[key + "\\MiscStatus"][""] = "0";
    keys[key + "\\MiscStatus\\1"][""] = std::to_string(typelib::kControlMiscStatus);
    keys[key + "\\TypeLib"][""] = com::guid_text(typelib::LIBID_kavrelLib);
    keys[key + "\\Version"][""] = "1.0";
    keys[typelib::kControlProgId][""] = type_name;
    keys[std::string(typelib::kControlProgId) + "\\CLSID"][""] = clsid;
  });
}

// ---- property page ----

CkavrelPropPage::CkavrelPropPage() { CkavrelApp::instance().object_created(); }
CkavrelPropPage::~CkavrelPropPage() { CkavrelApp::instance().object_destroyed(); }

HRESULT CkavrelPropPage::QueryInterface(const com::IID& iid, void** out) {
  if (out == nullptr) return com::E_POINTER;
  *out = nullptr;
  if (iid != com::IID_IUnknown && iid != com::IID_IPropertyPageInfo) return com::E_NOINTERFACE;
  *out = static_cast<com::IPropertyPageInfo*>(this);
  AddRef();
  return com::S_OK;
}
uint32_t CkavrelPropPage::AddRef() { return m_refs.fetch_add(1) + 1; }
uint32_t CkavrelPropPage::Release() {
  uint32_t left = m_refs.fetch_sub(1) - 1;
  if (left == 0) delete this;
  return left;
}

HRESULT CkavrelPropPage::GetPageInfo(std::string* caption, uint32_t* dialog_resource, std::vector<std::string>* lines) {
  if (caption == nullptr || dialog_resource == nullptr || lines == nullptr) return com::E_POINTER;
  platform::DialogTemplate dialog = resources::property_page_dialog();
  *caption = dialog.caption;
  *dialog_resource = dialog.resource_id;
  *lines = dialog.lines;
  return com::S_OK;
}

HRESULT CkavrelPropPage::CkavrelPropPageFactory::QueryInterface(const com::IID& iid, void** out) {
  return factory_query(this, iid, out);
}
uint32_t CkavrelPropPage::CkavrelPropPageFactory::AddRef() {
  CkavrelApp::instance().lock_server(true);
  return 2;
}
uint32_t CkavrelPropPage::CkavrelPropPageFactory::Release() {
  CkavrelApp::instance().lock_server(false);
  return 1;
}

HRESULT CkavrelPropPage::CkavrelPropPageFactory::CreateInstance(com::IUnknown* outer, const com::IID& iid, void** out) {
  if (out == nullptr) return com::E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return com::CLASS_E_NOAGGREGATION;
  auto* page = new CkavrelPropPage();
  HRESULT hr = page->QueryInterface(iid, out);
  page->Release();
  return hr;
}

HRESULT CkavrelPropPage::CkavrelPropPageFactory::LockServer(bool lock) {
  CkavrelApp::instance().lock_server(lock);
  return com::S_OK;
}

bool CkavrelPropPage::CkavrelPropPageFactory::UpdateRegistry(bool register_class) {
  Registry registry(Registry::default_path());
  return registry.update([&](Registry::Keys& keys) {
    std::string key = class_key(typelib::CLSID_kavrelPropPage);
    if (!register_class) {
      Registry::erase_tree(keys, key);
      return;
    }
    keys[key][""] = resources::load_string(resources::IDS_KAVREL_PPG);
    keys[key + "\\InprocServer32"][""] = CkavrelApp::instance().module_path();
    keys[key + "\\InprocServer32"]["ThreadingModel"] = "Apartment";
  });
}

// ---- module entry points ----

HRESULT get_class_object(const com::CLSID& clsid, const com::IID& iid, void** out) {
  if (out == nullptr) return com::E_POINTER;
  *out = nullptr;
  if (clsid == typelib::CLSID_kavrel) return control_factory.QueryInterface(iid, out);
  if (clsid == typelib::CLSID_kavrelPropPage) return page_factory.QueryInterface(iid, out);
  return com::CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT can_unload_now() { return CkavrelApp::instance().can_unload() ? com::S_OK : com::S_FALSE; }

HRESULT register_server() {
  if (!register_type_library(true)) return com::SELFREG_E_TYPELIB;
  if (!CkavrelCtrl::CkavrelCtrlFactory::UpdateRegistry(true) ||
      !CkavrelPropPage::CkavrelPropPageFactory::UpdateRegistry(true)) {
    return com::SELFREG_E_CLASS;
  }
  return com::S_OK;
}

HRESULT unregister_server() {
  if (!register_type_library(false)) return com::SELFREG_E_TYPELIB;
  if (!CkavrelCtrl::CkavrelCtrlFactory::UpdateRegistry(false) ||
      !CkavrelPropPage::CkavrelPropPageFactory::UpdateRegistry(false)) {
    return com::SELFREG_E_CLASS;
  }
  return com::S_OK;
}

}  // namespace kavrel
