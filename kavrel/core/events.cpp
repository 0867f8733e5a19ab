// The two queues that carry results towards the page: the callback message queue (for the
// DoCallbackThread) and the event queue (for the user-interface thread's event timer).
#include "kavrel/core/callback_names.h"
#include "kavrel/core/traced.h"
#include "kavrel/shell/kavrel_ctrl.h"
#include "kavrel/shell/text.h"
#include "trace/trace.h"

namespace kavrel {

int CkavrelCtrl::Callback(int32_t hContext, int32_t handle, int32_t nID, int32_t nTag1, int32_t nTag2,
                          const char* szInfo, int32_t nInfoLen) {
  TracedMethod traced("CkavrelCtrl::Callback");
  trace::value("hContext", hContext);
  trace::value("handle", handle);
  trace::value("CallbackID", callback_id_name(nID));
  trace::value("nTag1", nTag1);
  trace::value("nTag2", nTag2);
  if (nInfoLen > 0) trace::value("szInfo", szInfo);
  trace::value("nInfoLen", nInfoLen);
  m_callbackQueue.push(ControlMessage::make(0, 0, nID, nTag1, nTag2, szInfo, nInfoLen));
  m_doCallbackThread.wake();
  return 1;
}

int CkavrelCtrl::FireEventCallback(int32_t hContext, int32_t handle, int32_t nID, int32_t nTag1, int32_t nTag2,
                                   const char* szInfo, int32_t nInfoLen) {
  TracedMethod traced("CkavrelCtrl::FireEventCallback");
  trace::value("hContext", hContext);
  trace::value("handle", handle);
  trace::value("CallbackID", callback_id_name(nID));
  trace::value("nTag1", nTag1);
  trace::value("nTag2", nTag2);
  if (nInfoLen > 0 && nInfoLen < 100) trace::value("szInfo", szInfo);
  trace::value("nInfoLen", nInfoLen);
  // The armed test runs under the queue's lock, and so does the timer's last empty check: a
  // record can never be left waiting with no timer armed.
  m_eventQueue.push_then(ControlMessage::make(hContext, handle, nID, nTag1, nTag2, szInfo, nInfoLen),
                         [&] { ArmEventTimerLocked(); });
  return 1;
}

void CkavrelCtrl::ArmEventTimerLocked() {
  if (m_eventTimerId != -1 || m_hWnd == nullptr) return;  // no window yet: OnCreate arms it
  uintptr_t id = platform::set_timer(m_hWnd, kEventTimerId, kEventTimerPeriodMs);
  if (id != 0) m_eventTimerId = static_cast<intptr_t>(id);
}

void CkavrelCtrl::OnTimer(uintptr_t id) {
  if (id == kDefaultLayoutTimerId) {
    OnDefaultLayoutTimer();
    return;
  }
  if (id != kEventTimerId) return;
  for (;;) {
    std::optional<ControlMessage> m = m_eventQueue.pop_or([&] {
      if (m_eventTimerId != -1) {
        platform::kill_timer(m_hWnd, kEventTimerId);
        m_eventTimerId = -1;
      }
    });
    if (!m) break;
    std::u16string info = to_wide(m->text());
    FireCliCallBackMsg(m->hContext, m->handle, m->nID, m->nTag1, m->nTag2, m->info ? info.c_str() : nullptr,
                       m->nInfoLen);
  }
}

void CkavrelCtrl::PostCmd(const char* text) {
  TracedMethod traced("CkavrelCtrl::PostCmd");
  trace::value("cmd", text);
  if (text == nullptr) return;
  m_cmdQueue.push(CommandRecord{text});
  m_cmdThread.wake();
}

}  // namespace kavrel
