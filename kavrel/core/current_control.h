// The current control: the one live control of the process, through which the control's own
// threads and the library callback reach it.
//
// A thread uses the control only inside use(), which holds a shared lease for the call; clear()
// takes the lease exclusively, so once it returns no thread is inside the control any more and
// none can enter. Threads pass their own control as `expected`: a thread of a control that is
// not (or no longer) current does nothing, and never touches a missing control.
//
// Lock order: the lease is outermost; code run under it may take any control lock.
#pragma once

#include <shared_mutex>

namespace kavrel {

class CkavrelCtrl;

class CurrentControl {
 public:
  static void set(CkavrelCtrl* control);
  // Clears the current control when it is `control`, after every running use() has ended.
  static void clear(CkavrelCtrl* control);
  static bool is(const CkavrelCtrl* control);

  // Runs fn(control) when `expected` is the current control; false (nothing run) otherwise.
  template <class Fn>
  static bool use(const CkavrelCtrl* expected, Fn&& fn) {
    std::shared_lock<std::shared_mutex> lease(lock());
    if (current() == nullptr || current() != expected) return false;
    fn(*current());
    return true;
  }

 private:
  static std::shared_mutex& lock();
  static CkavrelCtrl*& current();  // guarded by lock()
};

}  // namespace kavrel
