// The module's entry points as plain functions; exports.cpp gives them their exported names.
#pragma once

#include "kavrel/shell/com.h"

namespace kavrel {

com::HRESULT get_class_object(const com::CLSID& clsid, const com::IID& iid, void** out);
com::HRESULT can_unload_now();
com::HRESULT register_server();
com::HRESULT unregister_server();

}  // namespace kavrel
