// The control as an object: interfaces, reference counting, events, object safety, its window,
// the build number and the About box.
#include <cstring>

#include "kavrel/core/traced.h"
#include "kavrel/resources/resources.h"
#include "kavrel/resources/type_library.h"
#include "kavrel/shell/app.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/ui/ui_messages.h"
#include "kavrel/ui/video_wnd_manager.h"
#include "platform/version/version_info.h"
#include "platform/window/host_site.h"
#include "trace/trace.h"

namespace kavrel {

using com::HRESULT;

CkavrelCtrl* CkavrelCtrl::Create() {
  CkavrelApp::instance().object_created();
  return new CkavrelCtrl();
}

HRESULT CkavrelCtrl::QueryInterface(const com::IID& iid, void** out) {
  if (out == nullptr) return com::E_POINTER;
  *out = nullptr;
  if (iid == com::IID_IUnknown || iid == com::IID_IDispatch || iid == typelib::DIID__Dkavrel) {
    *out = static_cast<com::IDispatch*>(this);
  } else if (iid == com::IID_IEventSource) {
    *out = static_cast<com::IEventSource*>(this);
  } else if (iid == com::IID_IControlWindow) {
    *out = static_cast<com::IControlWindow*>(this);
  } else if (iid == com::IID_IControlInfo) {
    *out = static_cast<com::IControlInfo*>(this);
  } else if (iid == com::IID_IObjectSafety) {
    *out = static_cast<com::IObjectSafety*>(&m_xObjSafe);
  } else {
    return com::E_NOINTERFACE;
  }
  AddRef();
  return com::S_OK;
}

uint32_t CkavrelCtrl::AddRef() { return m_refs.fetch_add(1) + 1; }

uint32_t CkavrelCtrl::Release() {
  uint32_t left = m_refs.fetch_sub(1) - 1;
  if (left == 0) {
    delete this;
    CkavrelApp::instance().object_destroyed();
  }
  return left;
}

// ---- events ----

HRESULT CkavrelCtrl::Advise(com::IDispatch* sink, uint32_t* cookie) {
  if (!OnApartment()) return com::RPC_E_WRONG_THREAD;
  if (sink == nullptr || cookie == nullptr) return com::E_POINTER;
  *cookie = m_nextCookie++;
  m_sinks.emplace(*cookie, com::ComPtr<com::IDispatch>::share(sink));
  return com::S_OK;
}

HRESULT CkavrelCtrl::Unadvise(uint32_t cookie) {
  if (!OnApartment()) return com::RPC_E_WRONG_THREAD;
  return m_sinks.erase(cookie) != 0 ? com::S_OK : com::CONNECT_E_NOCONNECTION;
}

namespace {

// Calls every sink with one event. The sinks are copied first: a sink may unadvise itself or
// others while it runs, and the control stays alive for the whole round.
void raise(com::IDispatch* control, const std::map<uint32_t, com::ComPtr<com::IDispatch>>& sinks, com::DISPID id,
           const com::Variant* args, uint32_t count) {
  auto keep = com::ComPtr<com::IDispatch>::share(control);
  std::vector<com::ComPtr<com::IDispatch>> targets;
  for (const auto& [cookie, sink] : sinks) targets.push_back(sink);
  for (auto& sink : targets) sink->Invoke(id, args, count, nullptr, nullptr);
}

}  // namespace

void CkavrelCtrl::FireCliCallBackMsg(int32_t hContext, int32_t handle, int32_t nID, int32_t nTag1, int32_t nTag2,
                                     const char16_t* szInfo, int32_t nInfoLen) {
  if (!OnApartment()) {
    // Events reach the page only on its thread; other threads go through FireEventCallback.
    trace::error("CkavrelCtrl::FireCliCallBackMsg", 32, "Event raised outside the control's thread");
    return;
  }
  com::Variant args[] = {com::Variant::i4(hContext),
                         com::Variant::i4(handle),
                         com::Variant::i4(nID),
                         com::Variant::i4(nTag1),
                         com::Variant::i4(nTag2),
                         szInfo != nullptr ? com::Variant::string(szInfo) : com::Variant::null(),
                         com::Variant::i4(nInfoLen)};
  raise(this, m_sinks, typelib::DISPID_CliCallBackMsg, args, 7);
}

void CkavrelCtrl::FireCliCreatedNotify(int32_t lCreated) {
  if (!OnApartment()) return;
  com::Variant args[] = {com::Variant::i4(lCreated)};
  raise(this, m_sinks, typelib::DISPID_CliCreatedNotify, args, 1);
}

// ---- object safety ----

HRESULT CkavrelCtrl::XObjSafe::QueryInterface(const com::IID& iid, void** out) {
  return outer_->QueryInterface(iid, out);
}
uint32_t CkavrelCtrl::XObjSafe::AddRef() { return outer_->AddRef(); }
uint32_t CkavrelCtrl::XObjSafe::Release() { return outer_->Release(); }

HRESULT CkavrelCtrl::XObjSafe::GetInterfaceSafetyOptions(const com::IID& iid, uint32_t* supported,
                                                         uint32_t* enabled) {
  if (supported == nullptr || enabled == nullptr) return com::E_POINTER;
  void* found = nullptr;
  HRESULT hr = outer_->QueryInterface(iid, &found);
  if (com::succeeded(hr)) static_cast<com::IUnknown*>(found)->Release();
  *supported = com::INTERFACESAFE_FOR_UNTRUSTED_CALLER | com::INTERFACESAFE_FOR_UNTRUSTED_DATA;
  *enabled = com::INTERFACESAFE_FOR_UNTRUSTED_CALLER | com::INTERFACESAFE_FOR_UNTRUSTED_DATA;
  return hr;
}

HRESULT CkavrelCtrl::XObjSafe::SetInterfaceSafetyOptions(const com::IID& iid, uint32_t option_set_mask,
                                                         uint32_t enabled_options) {
  void* found = nullptr;
  HRESULT hr = outer_->QueryInterface(iid, &found);
  if (com::failed(hr)) return com::E_NOINTERFACE;
  static_cast<com::IUnknown*>(found)->Release();
  constexpr uint32_t kKnown = com::INTERFACESAFE_FOR_UNTRUSTED_CALLER | com::INTERFACESAFE_FOR_UNTRUSTED_DATA;
  if ((option_set_mask & ~kKnown) != 0) return com::E_FAIL;
  // An option can be switched on, never off.
  if ((option_set_mask & enabled_options & kKnown) != option_set_mask) return com::E_FAIL;
  return com::S_OK;
}

// ---- information for hosts ----

HRESULT CkavrelCtrl::GetTypeLibrary(std::string* description) {
  if (description == nullptr) return com::E_POINTER;
  *description = typelib::describe();
  return com::S_OK;
}

HRESULT CkavrelCtrl::GetPropertyPages(std::vector<com::CLSID>* pages) {
  if (pages == nullptr) return com::E_POINTER;
  *pages = {typelib::CLSID_kavrelPropPage};
  return com::S_OK;
}

HRESULT CkavrelCtrl::GetMiscStatus(uint32_t* status) {
  if (status == nullptr) return com::E_POINTER;
  *status = typelib::kControlMiscStatus;
  return com::S_OK;
}

HRESULT CkavrelCtrl::GetPropertyVersion(uint32_t* version) {
  if (version == nullptr) return com::E_POINTER;
  *version = 0x10000;  // version 1.0; no properties are exchanged
  return com::S_OK;
}

// ---- the control's window ----

HRESULT CkavrelCtrl::CreateControlWindow(platform::HWND parent, const platform::Rect& rect, platform::HWND* window) {
  if (!OnApartment()) return com::RPC_E_WRONG_THREAD;
  if (window == nullptr) return com::E_POINTER;
  if (m_hWnd != nullptr) {
    *window = m_hWnd;
    return com::S_FALSE;  // already active
  }
  platform::WindowSpec spec;
  spec.parent = parent;
  spec.rect = rect;
  spec.style = (parent != nullptr ? platform::WS_CHILD : 0u) | platform::WS_VISIBLE;
  spec.name = "kavrel Control";
  spec.proc = &CkavrelCtrl::WindowProc;
  spec.create_params = this;
  *window = platform::create_window(spec);
  return *window != nullptr ? com::S_OK : com::E_FAIL;
}

HRESULT CkavrelCtrl::DestroyControlWindow() {
  if (!OnApartment()) return com::RPC_E_WRONG_THREAD;
  if (m_hWnd == nullptr) return com::S_FALSE;
  platform::destroy_window(m_hWnd);
  return com::S_OK;
}

HRESULT CkavrelCtrl::GetControlWindow(platform::HWND* window) {
  if (window == nullptr) return com::E_POINTER;
  *window = m_hWnd;
  return m_hWnd != nullptr ? com::S_OK : com::S_FALSE;
}

platform::LRESULT CkavrelCtrl::WindowProc(platform::HWND window, platform::UINT message, platform::WPARAM wparam,
                                          platform::LPARAM lparam) {
  if (message == platform::WM_NCCREATE) {
    auto* create = reinterpret_cast<platform::CreateStruct*>(lparam);
    auto* control = static_cast<CkavrelCtrl*>(create->create_params);
    platform::set_window_data(window, control);
    control->m_hWnd = window;
    return 1;
  }
  auto* control = static_cast<CkavrelCtrl*>(platform::get_window_data(window));
  if (control == nullptr) return platform::default_window_proc(window, message, wparam, lparam);
  switch (message) {
    case platform::WM_CREATE:
      return control->OnCreate();
    case platform::WM_DESTROY:
      control->OnDestroy();
      return 0;
    case platform::WM_NCDESTROY:
      platform::set_window_data(window, nullptr);
      control->m_hWnd = nullptr;
      return 0;
    case platform::WM_TIMER:
      control->OnTimer(wparam);
      return 0;
    case platform::WM_SIZE:
      control->OnSize();
      return 0;
    case platform::WM_PAINT:
      control->OnDraw();
      return 0;
    case ui::WM_GETMINMAXINFO: {
      // At most the screen; at least 900 x 600 when the user drags it.
      auto* info = reinterpret_cast<ui::MINMAXINFO*>(lparam);
      platform::Size screen = platform::host_site()->screen_size();
      info->ptMaxSize = platform::Point{screen.cx, screen.cy};
      info->ptMinTrackSize = platform::Point{900, 600};
      return 0;
    }
    case ui::kMsgCommand: {
      // The wall sends its selected index; the playback pane, whose parent is this window, sends
      // itself, and its commands go with the wall's selection too.
      int32_t index = static_cast<int32_t>(static_cast<intptr_t>(wparam));
      if (control->playback_pane() != nullptr && wparam == reinterpret_cast<platform::WPARAM>(control->playback_pane())) {
        index = control->video_wall() != nullptr ? control->video_wall()->selected_index() : -1;
      }
      control->OnCmsBtnLButtonDown(index, static_cast<int32_t>(lparam));
      return 1;
    }
    case ui::kMsgLeaveFullScreen:
      control->LeaveFullScreen();
      return 0;
    case ui::kMsgLiveSlotChanged:
      control->OnLiveSlotChanged(static_cast<int32_t>(wparam));
      return 0;
    case ui::kMsgResumeLive:
      control->OnResumeLive();
      return 0;
    case ui::kMsgOpenDefaultLayout:
      control->OpenDefaultLayout();
      return 0;
    default:
      return platform::default_window_proc(window, message, wparam, lparam);
  }
}

// ---- build number and About box ----

int32_t CkavrelCtrl::CliGetBuild() {
  TracedMethod traced("CkavrelCtrl::CliGetBuild");
  const char* module = "kavrel.ocx";
  uint32_t size = platform::get_file_version_info_size(module);
  if (size == 0) return 0;
  std::vector<char> block(size);
  if (!platform::get_file_version_info(module, size, block.data())) return 0;
  const void* value = nullptr;
  uint32_t length = 0;
  if (!platform::query_version_value(block.data(), "\\", &value, &length) || length < sizeof(platform::FixedFileInfo)) {
    return 0;
  }
  platform::FixedFileInfo fixed;
  memcpy(&fixed, value, sizeof fixed);
  if (fixed.signature != platform::kFixedFileInfoSignature) return 0;
  return static_cast<int32_t>(fixed.file_version_ls >> 16);
}

void CkavrelCtrl::AboutBox() {
  TracedMethod traced("CkavrelCtrl::AboutBox");
  platform::host_site()->show_dialog(m_hWnd, resources::about_dialog());
}

}  // namespace kavrel
