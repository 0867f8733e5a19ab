// Script calls into the control: names to DISPIDs, DISPIDs to methods, script values to C++
// arguments. The type library's tables decide what a script may call; each method's C++
// signature decides the conversion, and binding_mismatch() keeps the two in step.
#include <cstdio>
#include <exception>
#include <tuple>
#include <utility>

#include "kavrel/shell/dispatch.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "trace/trace.h"

namespace kavrel {
namespace {

using com::HRESULT;
using com::Variant;
using typelib::Type;

const char* vt_name(com::VarType vt) {
  switch (vt) {
    case com::VT_EMPTY: return "nothing";
    case com::VT_NULL: return "null";
    case com::VT_I4: return "a long";
    case com::VT_BSTR: return "a BSTR";
    case com::VT_BOOL: return "a BOOL";
  }
  return "an unknown type";
}

template <class T>
struct Arg;

template <>
struct Arg<int32_t> {
  static constexpr Type type = Type::Long;
  static bool get(const Variant& v, int32_t* out) {
    if (v.vt != com::VT_I4) return false;
    *out = v.lval;
    return true;
  }
};

template <>
struct Arg<const char16_t*> {
  static constexpr Type type = Type::Bstr;
  // A null script value is a null BSTR; the pointer stays valid while the caller's Variant lives.
  static bool get(const Variant& v, const char16_t** out) {
    if (v.vt == com::VT_NULL || v.vt == com::VT_EMPTY) {
      *out = nullptr;
      return true;
    }
    if (v.vt != com::VT_BSTR) return false;
    *out = v.bstr.c_str();
    return true;
  }
};

template <class R>
struct Result;
template <>
struct Result<void> {
  static constexpr Type type = Type::None;
};
template <>
struct Result<int32_t> {
  static constexpr Type type = Type::Long;
  static Variant make(int32_t value) { return Variant::i4(value); }
};
template <>
struct Result<std::u16string> {
  static constexpr Type type = Type::Bstr;
  static Variant make(std::u16string value) { return Variant::string(std::move(value)); }
};
template <>
struct Result<bool> {
  static constexpr Type type = Type::Bool;
  static Variant make(bool value) { return Variant::boolean(value); }
};

template <class M>
struct Signature;

template <class R, class... A>
struct Signature<R (CkavrelCtrl::*)(A...)> {
  using Args = std::tuple<A...>;
  static std::vector<Type> params() { return {Arg<A>::type...}; }
  static constexpr Type result = Result<R>::type;

  template <size_t... I>
  static bool convert(const typelib::Member& member, const Variant* args, Args& values, com::ExcepInfo* error,
                      std::index_sequence<I...>) {
    int32_t bad = -1;
    ((bad < 0 && !Arg<std::tuple_element_t<I, Args>>::get(args[I], &std::get<I>(values)) ? bad = I : 0), ...);
    if (bad < 0) return true;
    if (error != nullptr) {
      char text[256];
      std::snprintf(text, sizeof text, "%s: argument %d (%s) must be a %s, not %s", member.name, bad + 1,
                    member.params[static_cast<size_t>(bad)].name, typelib::type_name(member.params[static_cast<size_t>(bad)].type),
                    vt_name(args[bad].vt));
      error->description = text;
      error->arg_error = bad;
    }
    return false;
  }
};

template <auto Method>
HRESULT call(CkavrelCtrl& control, const typelib::Member& member, const Variant* args, Variant* result,
             com::ExcepInfo* error) {
  using Sig = Signature<decltype(Method)>;
  typename Sig::Args values{};
  if (!Sig::convert(member, args, values, error, std::make_index_sequence<std::tuple_size_v<typename Sig::Args>>{})) {
    return com::DISP_E_TYPEMISMATCH;
  }
  if constexpr (Sig::result == Type::None) {
    std::apply([&](auto... a) { (control.*Method)(a...); }, values);
    if (result != nullptr) *result = Variant::empty();
  } else {
    auto value = std::apply([&](auto... a) { return (control.*Method)(a...); }, values);
    if (result != nullptr) *result = Result<decltype(value)>::make(std::move(value));
  }
  return com::S_OK;
}

template <auto Method>
BoundMethod bind(com::DISPID id) {
  using Sig = Signature<decltype(Method)>;
  return BoundMethod{id, &call<Method>, Sig::params(), Sig::result};
}

}  // namespace

const std::vector<BoundMethod>& bound_methods() {
  using C = CkavrelCtrl;
  static const std::vector<BoundMethod> table = {
      bind<&C::AboutBox>(typelib::DISPID_ABOUTBOX),
      bind<&C::CliInit>(1),
      bind<&C::CliUnInit>(2),
      bind<&C::CliSetPicNum>(13),
      bind<&C::CliGetPicNum>(14),
      bind<&C::CliGetCurrPicIndex>(15),
      bind<&C::CliEnableViewDoubleClick>(10),
      bind<&C::CliShowViewTitle>(11),
      bind<&C::CliShowViewStatus>(12),
      bind<&C::CliDeviceSearch>(18),
      bind<&C::CliGetFirstIdelPicIndex>(20),
      bind<&C::CliCapturePicToInternetCache>(21),
      bind<&C::CliPlayerSetOsd>(22),
      bind<&C::CLiPTZCtrl>(23),
      bind<&C::CliSetVolume>(24),
      bind<&C::CliGetVolume>(25),
      bind<&C::CliSetAudioState>(26),
      bind<&C::CliGetAudioState>(27),
      bind<&C::CliStartAudio>(28),
      bind<&C::CliStopAudio>(29),
      bind<&C::CliFullScreen>(36),
      bind<&C::CliCloudInitSimple>(39),
      bind<&C::CliDelDevice>(40),
      bind<&C::CliCloudSync>(41),
      bind<&C::CliCloudGetDeviceListSp>(42),
      bind<&C::CliCloudGetCamListSp>(43),
      bind<&C::CliQueryAlarm>(44),
      bind<&C::CliOpenDeviceWeb>(45),
      bind<&C::CliAddDeviceP2P>(46),
      bind<&C::CliStartPlayDev>(47),
      bind<&C::CliStopPlayDev>(48),
      bind<&C::CliQueryRecordDev>(49),
      bind<&C::CliStartListenAlertDev>(50),
      bind<&C::CliStopListenAlertDev>(51),
      bind<&C::CliQueryRecordStatusDev>(52),
      bind<&C::CliStartPlaybackDev>(53),
      bind<&C::CliStopPlaybackDev>(54),
      bind<&C::CliControlPlaybackDev>(55),
      bind<&C::CliLoginDeviceP2PDev>(56),
      bind<&C::CliLoginoutDeviceP2PDev>(57),
      bind<&C::CliChangePageTo>(58),
      bind<&C::CliSetP2PPortRange>(59),
      bind<&C::CliPTZStop>(60),
      bind<&C::CliPTZZoomStop>(61),
      bind<&C::CliPTZZoomIn>(62),
      bind<&C::CliPTZZoomOut>(63),
      bind<&C::CliPTZMoveUp>(64),
      bind<&C::CliPTZMoveDown>(65),
      bind<&C::CliPTZMoveLeft>(66),
      bind<&C::CliPTZMoveRight>(67),
      bind<&C::CliPTZRecallPreset>(72),
      bind<&C::CliPTZSetPreset>(73),
      bind<&C::CliPTZDeletePreset>(74),
      bind<&C::CliSaveLayout>(68),
      bind<&C::CliLoadLayout>(69),
      bind<&C::CliEnumLayouts>(70),
      bind<&C::CliDeleteLayout>(71),
      bind<&C::CliGetBuild>(75),
      bind<&C::CliStartBackup>(76),
      bind<&C::CliStopBackup>(77),
      bind<&C::CliGetHTTPPort>(78),
      bind<&C::CliGetHTTPSPort>(79),
      bind<&C::CliGetTCPPort>(80),
  };
  return table;
}

const BoundMethod* find_binding(com::DISPID id) {
  for (const BoundMethod& b : bound_methods()) {
    if (b.id == id) return &b;
  }
  return nullptr;
}

std::string binding_mismatch() {
  const auto& members = typelib::methods();
  if (members.size() != bound_methods().size()) return "the table and the bindings differ in size";
  for (size_t i = 0; i < members.size(); ++i) {
    const typelib::Member& m = members[i];
    const BoundMethod& b = bound_methods()[i];
    if (b.id != m.id) return std::string(m.name) + ": bound in another position";
    if (b.result != m.result) return std::string(m.name) + ": result type differs";
    if (b.params.size() != m.params.size()) return std::string(m.name) + ": argument count differs";
    for (size_t k = 0; k < b.params.size(); ++k) {
      if (b.params[k] != m.params[k].type) return std::string(m.name) + ": type of " + m.params[k].name + " differs";
    }
  }
  return {};
}

com::HRESULT CkavrelCtrl::GetIDOfName(const std::u16string& name, com::DISPID* id) {
  if (id == nullptr) return com::E_POINTER;
  const typelib::Member* member = typelib::find_method(to_narrow(name));
  if (member == nullptr) return com::DISP_E_UNKNOWNNAME;
  *id = member->id;
  return com::S_OK;
}

com::HRESULT CkavrelCtrl::Invoke(com::DISPID id, const com::Variant* args, uint32_t count, com::Variant* result,
                                 com::ExcepInfo* error) {
  auto fail = [&](com::HRESULT hr, std::string text) {
    if (error != nullptr) error->description = std::move(text);
    return hr;
  };
  if (!OnApartment()) {
    return fail(com::RPC_E_WRONG_THREAD, "the control is called only on the thread that created it");
  }
  const typelib::Member* member = typelib::find_method(id);
  const BoundMethod* binding = find_binding(id);
  if (member == nullptr || binding == nullptr) {
    return fail(com::DISP_E_MEMBERNOTFOUND, "no method with DISPID " + std::to_string(id));
  }
  if (count != member->params.size()) {
    return fail(com::DISP_E_BADPARAMCOUNT, std::string(member->name) + " takes " +
                                               std::to_string(member->params.size()) + " argument(s), not " +
                                               std::to_string(count));
  }
  if (count > 0 && args == nullptr) return fail(com::E_POINTER, "arguments missing");
  // The page may release the control from inside a method (through an event it raises).
  auto keep = com::ComPtr<com::IDispatch>::share(this);
  try {
    return binding->call(*this, *member, args, result, error);
  } catch (const std::exception& e) {
    std::string method = std::string("CkavrelCtrl::") + member->name;
    trace::exception(method.c_str(), e.what());
    return fail(com::DISP_E_EXCEPTION, e.what());
  }
}

}  // namespace kavrel
