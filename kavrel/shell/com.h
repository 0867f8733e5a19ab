// The component object model the control module and its hosts share, in place of the browser
// plugin framework: identifiers, result codes, script values, and the interfaces through which a
// host creates the control, calls its methods, receives its events and shows its window.
//
// Conventions
//  1. Objects are reference counted: every interface pointer handed out has been AddRef'ed and
//     the receiver Releases it. ComPtr does this.
//  2. Results are HRESULTs: S_OK (0) and S_FALSE (1) succeed, negative values fail.
//  3. Nothing is thrown across these interfaces.
//  4. Apartment threading: a control object lives on the thread that created it (its user-interface
//     thread); every call on it comes from that thread, and it raises its events there. Calls from
//     other threads are refused with RPC_E_WRONG_THREAD.
//  5. Script values (Variant) hold a 32-bit integer, a UTF-16 string (BSTR), a boolean, or nothing.
//     A null BSTR (VT_NULL) is distinct from an empty one.
//  6. Method arguments are passed in declaration order (first argument first).
//
// This header is shared by the module and the hosts; it holds no code that needs linking.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/window/window.h"

namespace com {

using HRESULT = int32_t;
using DISPID = int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
inline constexpr HRESULT SELFREG_E_TYPELIB = static_cast<HRESULT>(0x80040200u);
inline constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
inline constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009u);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = static_cast<HRESULT>(0x80040200u);
inline constexpr HRESULT RPC_E_WRONG_THREAD = static_cast<HRESULT>(0x8001010Eu);

inline bool succeeded(HRESULT hr) { return hr >= 0; }
inline bool failed(HRESULT hr) { return hr < 0; }

struct GUID {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};
  bool operator==(const GUID&) const = default;
};
using IID = GUID;
using CLSID = GUID;

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional, either case).
inline bool parse_guid(const std::string& text, GUID* out) {
  std::string t = text;
  if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
  if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') return false;
  auto hex = [&](size_t at, size_t digits, uint64_t* value) {
    *value = 0;
    for (size_t i = 0; i < digits; ++i) {
      char c = t[at + i];
      int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (v < 0) return false;
      *value = *value * 16 + static_cast<uint64_t>(v);
    }
    return true;
  };
  uint64_t a, b, c, d, e;
  if (!hex(0, 8, &a) || !hex(9, 4, &b) || !hex(14, 4, &c) || !hex(19, 4, &d) || !hex(24, 12, &e)) return false;
  out->data1 = static_cast<uint32_t>(a);
  out->data2 = static_cast<uint16_t>(b);
  out->data3 = static_cast<uint16_t>(c);
  out->data4[0] = static_cast<uint8_t>(d >> 8);
  out->data4[1] = static_cast<uint8_t>(d);
  for (int i = 0; i < 6; ++i) out->data4[2 + i] = static_cast<uint8_t>(e >> (8 * (5 - i)));
  return true;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case.
inline std::string guid_text(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2, g.data3,
                g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return text;
}

// Interface identifiers of the standard interfaces.
inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IObjectSafety{0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
// Our own interfaces.
inline constexpr IID IID_IEventSource{0xCB510ED6, 0xF433, 0x48F6, {0xAA, 0xF7, 0xE4, 0x50, 0xEC, 0x57, 0x36, 0x0B}};
inline constexpr IID IID_IControlWindow{0xA93AA837, 0x6B44, 0x45BA, {0xAB, 0x2E, 0xAD, 0x74, 0x03, 0x31, 0xB5, 0x20}};
inline constexpr IID IID_IControlInfo{0x8A870614, 0xBFA8, 0x44AD, {0xB8, 0xF6, 0x52, 0x2D, 0xFF, 0x6A, 0xF6, 0x52}};
inline constexpr IID IID_IPropertyPageInfo{0xF7533109, 0xBA4B, 0x4344, {0xAA, 0x65, 0x31, 0xB9, 0xB9, 0xB1, 0xCE, 0xB0}};

// Safety options of IObjectSafety.
inline constexpr uint32_t INTERFACESAFE_FOR_UNTRUSTED_CALLER = 0x1;
inline constexpr uint32_t INTERFACESAFE_FOR_UNTRUSTED_DATA = 0x2;

// ---- script values ----

enum VarType : uint16_t { VT_EMPTY = 0, VT_NULL = 1, VT_I4 = 3, VT_BSTR = 8, VT_BOOL = 11 };

struct Variant {
  VarType vt = VT_EMPTY;
  int32_t lval = 0;     // VT_I4
  bool boolval = false; // VT_BOOL
  std::u16string bstr;  // VT_BSTR

  static Variant empty() { return {}; }
  static Variant null() { return Variant{VT_NULL, 0, false, {}}; }
  static Variant i4(int32_t value) { return Variant{VT_I4, value, false, {}}; }
  static Variant boolean(bool value) { return Variant{VT_BOOL, 0, value, {}}; }
  static Variant string(std::u16string value) { return Variant{VT_BSTR, 0, false, std::move(value)}; }
  bool operator==(const Variant&) const = default;
};

// Filled by Invoke when it fails: what went wrong, in words a script author can act on, and the
// index of the offending argument where there is one.
struct ExcepInfo {
  std::string description;
  int32_t arg_error = -1;
};

// ---- interfaces ----

struct IUnknown {
  virtual HRESULT QueryInterface(const IID& iid, void** out) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* outer, const IID& iid, void** out) = 0;
  virtual HRESULT LockServer(bool lock) = 0;

 protected:
  ~IClassFactory() = default;
};

struct IDispatch : IUnknown {
  // The DISPID of a method or event by name (case-insensitive); DISP_E_UNKNOWNNAME otherwise.
  virtual HRESULT GetIDOfName(const std::u16string& name, DISPID* id) = 0;
  // Calls the member: DISP_E_MEMBERNOTFOUND for an unknown DISPID, DISP_E_BADPARAMCOUNT for a
  // wrong number of arguments, DISP_E_TYPEMISMATCH for an argument of the wrong type (its index
  // in ExcepInfo::arg_error), DISP_E_EXCEPTION when the member failed. `result` may be null.
  virtual HRESULT Invoke(DISPID id, const Variant* args, uint32_t count, Variant* result, ExcepInfo* error) = 0;

 protected:
  ~IDispatch() = default;
};

struct IObjectSafety : IUnknown {
  virtual HRESULT GetInterfaceSafetyOptions(const IID& iid, uint32_t* supported, uint32_t* enabled) = 0;
  virtual HRESULT SetInterfaceSafetyOptions(const IID& iid, uint32_t option_set_mask, uint32_t enabled_options) = 0;

 protected:
  ~IObjectSafety() = default;
};

// The control's outgoing events, delivered by calling the sink's Invoke with the event's DISPID.
struct IEventSource : IUnknown {
  virtual HRESULT Advise(IDispatch* sink, uint32_t* cookie) = 0;
  virtual HRESULT Unadvise(uint32_t cookie) = 0;

 protected:
  ~IEventSource() = default;
};

// In-place activation: the control's own window inside a host window.
struct IControlWindow : IUnknown {
  // Creates the control's window as a child of `parent` (which may be null) on the calling
  // thread, which must be the control's thread.
  virtual HRESULT CreateControlWindow(platform::HWND parent, const platform::Rect& rect, platform::HWND* window) = 0;
  virtual HRESULT DestroyControlWindow() = 0;
  virtual HRESULT GetControlWindow(platform::HWND* window) = 0;

 protected:
  ~IControlWindow() = default;
};

// What a host learns about the control class.
struct IControlInfo : IUnknown {
  // The type library description (JSON: methods, arguments, results, events, identifiers).
  virtual HRESULT GetTypeLibrary(std::string* description) = 0;
  virtual HRESULT GetPropertyPages(std::vector<CLSID>* pages) = 0;
  virtual HRESULT GetMiscStatus(uint32_t* status) = 0;
  // The version of the control's persistent properties (0x10000 for 1.0).
  virtual HRESULT GetPropertyVersion(uint32_t* version) = 0;

 protected:
  ~IControlInfo() = default;
};

// A property page as plain data the host can show.
struct IPropertyPageInfo : IUnknown {
  virtual HRESULT GetPageInfo(std::string* caption, uint32_t* dialog_resource, std::vector<std::string>* lines) = 0;

 protected:
  ~IPropertyPageInfo() = default;
};

// ---- module entry points (looked up by name) ----
using DllGetClassObjectFn = HRESULT (*)(const CLSID& clsid, const IID& iid, void** out);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();

// Holds one reference; Releases it when it goes.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes over a reference the caller already holds.
  static ComPtr adopt(T* raw) {
    ComPtr p;
    p.raw_ = raw;
    return p;
  }
  // Adds a reference of its own.
  static ComPtr share(T* raw) {
    if (raw != nullptr) raw->AddRef();
    return adopt(raw);
  }
  ComPtr(const ComPtr& other) : raw_(other.raw_) {
    if (raw_ != nullptr) raw_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : raw_(std::exchange(other.raw_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(raw_, other.raw_);
    return *this;
  }
  ~ComPtr() { reset(); }

  void reset() {
    if (T* old = std::exchange(raw_, nullptr)) old->Release();
  }
  T* get() const { return raw_; }
  T* operator->() const { return raw_; }
  explicit operator bool() const { return raw_ != nullptr; }
  // For out-parameters: releases what is held and returns the slot.
  void** put() {
    reset();
    return reinterpret_cast<void**>(&raw_);
  }

  template <class U>
  HRESULT query(const IID& iid, ComPtr<U>* out) const {
    if (raw_ == nullptr) return E_POINTER;
    return raw_->QueryInterface(iid, out->put());
  }

 private:
  T* raw_ = nullptr;
};

}  // namespace com
