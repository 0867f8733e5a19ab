// The binding of the dispatch table to the control's methods: one entry per method of the type
// library, each converting script values to the method's argument types and its result back.
#pragma once

#include <string>
#include <vector>

#include "kavrel/resources/type_library.h"
#include "kavrel/shell/com.h"

namespace kavrel {

class CkavrelCtrl;

struct BoundMethod {
  com::DISPID id;
  // Calls the method with arguments already counted; converts and type-checks each one.
  com::HRESULT (*call)(CkavrelCtrl& control, const typelib::Member& member, const com::Variant* args,
                       com::Variant* result, com::ExcepInfo* error);
  std::vector<typelib::Type> params;  // as the C++ method declares them
  typelib::Type result;
};

const std::vector<BoundMethod>& bound_methods();
const BoundMethod* find_binding(com::DISPID id);

// Empty when every method of the table is bound with exactly its argument and result types;
// otherwise a description of the first difference.
std::string binding_mismatch();

}  // namespace kavrel
