// The exported entry points of kavrel.ocx; everything else the host reaches through interfaces.
#include "kavrel/shell/module.h"

#define KAVREL_EXPORT extern "C" __attribute__((visibility("default")))

KAVREL_EXPORT com::HRESULT DllGetClassObject(const com::CLSID& clsid, const com::IID& iid, void** out) {
  return kavrel::get_class_object(clsid, iid, out);
}

KAVREL_EXPORT com::HRESULT DllCanUnloadNow() { return kavrel::can_unload_now(); }

KAVREL_EXPORT com::HRESULT DllRegisterServer() { return kavrel::register_server(); }

KAVREL_EXPORT com::HRESULT DllUnregisterServer() { return kavrel::unregister_server(); }
