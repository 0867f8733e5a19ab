// The type library of the control: its identifiers and the method and event tables, in the
// order of the dispatch interface. Everything that describes the control to a script (the
// dispatch binding, the description the page host serves) is generated from these tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kavrel/shell/com.h"

namespace kavrel::typelib {

inline constexpr const char* kControlProgId = "KAVREL.kavrelCtrl.1";
inline constexpr const char* kPropPageProgId = "KAVREL.kavrelPropPage.1";
inline constexpr com::CLSID CLSID_kavrel{0xBB038862, 0x8058, 0x4A87, {0x9D, 0x74, 0xD2, 0xFB, 0x6E, 0x74, 0x29, 0xD6}};
inline constexpr com::CLSID CLSID_kavrelPropPage{0xB834B30B, 0xD21B, 0x4BA4, {0xB6, 0x74, 0xC0, 0xBA, 0x71, 0x54, 0x23, 0xF1}};
inline constexpr com::GUID LIBID_kavrelLib{0x3D7A0C52, 0xE8B1, 0x4F96, {0xA2, 0x5D, 0x6B, 0x0E, 0x91, 0xC4, 0xF7, 0xA3}};
inline constexpr com::IID DIID__Dkavrel{0x085EFF51, 0xCDAB, 0x47FC, {0xA6, 0x3B, 0x8F, 0xF8, 0x1F, 0x83, 0xCC, 0xC5}};
inline constexpr com::IID DIID__DkavrelEvents{0x99A5B0D9, 0x3112, 0x4451, {0xA3, 0x24, 0x97, 0xEF, 0x6B, 0xD9, 0x2B, 0x97}};
inline constexpr uint16_t kLibraryMajor = 1;
inline constexpr uint16_t kLibraryMinor = 0;

// Registration attributes of the control class: OLEMISC_SETCLIENTSITEFIRST | ACTIVATEWHENVISIBLE
// | INSIDEOUT | CANTLINKINSIDE | RECOMPOSEONRESIZE.
inline constexpr uint32_t kControlMiscStatus = 0x20191;

inline constexpr com::DISPID DISPID_ABOUTBOX = -552;
inline constexpr com::DISPID DISPID_CliCallBackMsg = 32;
inline constexpr com::DISPID DISPID_CliCreatedNotify = 34;

enum class Type { None, Long, Bstr, Bool };

struct Param {
  const char* name;
  Type type;
};

struct Member {
  com::DISPID id;
  const char* name;
  Type result;
  std::vector<Param> params;
  const char* help;
};

// The methods of _Dkavrel in table order.
const std::vector<Member>& methods();
// The events of _DkavrelEvents.
const std::vector<Member>& events();

// The member with that DISPID or name (names compare without regard to case), or null.
const Member* find_method(com::DISPID id);
const Member* find_method(const std::string& name);
const Member* find_event(com::DISPID id);

const char* type_name(Type type);  // "long", "BSTR", "BOOL", "void"

// The type library description served to pages: a JSON document with the library, coclass and
// both interfaces, every member with its DISPID, arguments and result.
std::string describe();

}  // namespace kavrel::typelib
