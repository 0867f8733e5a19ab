#include "kavrel/core/current_control.h"

#include <mutex>

namespace kavrel {

std::shared_mutex& CurrentControl::lock() {
  static std::shared_mutex lease;
  return lease;
}

CkavrelCtrl*& CurrentControl::current() {
  static CkavrelCtrl* control = nullptr;
  return control;
}

void CurrentControl::set(CkavrelCtrl* control) {
  std::unique_lock<std::shared_mutex> hold(lock());
  current() = control;
}

void CurrentControl::clear(CkavrelCtrl* control) {
  std::unique_lock<std::shared_mutex> hold(lock());
  if (current() == control) current() = nullptr;
}

bool CurrentControl::is(const CkavrelCtrl* control) {
  std::shared_lock<std::shared_mutex> hold(lock());
  return current() != nullptr && current() == control;
}

}  // namespace kavrel
