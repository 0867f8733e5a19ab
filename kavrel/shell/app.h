// CkavrelApp: the module's application object, one per loaded module. It knows the module's
// file (for registration and version lookups) and counts what keeps the module loaded: live
// objects, server locks and threads that were abandoned by their stop and still run.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kavrel {

class CkavrelApp {
 public:
  static CkavrelApp& instance();

  // The full file name of the module holding the control.
  const std::string& module_path() const { return m_modulePath; }

  void object_created() { m_objects.fetch_add(1); }
  void object_destroyed() { m_objects.fetch_sub(1); }
  void lock_server(bool lock) {
    if (lock) {
      m_locks.fetch_add(1);
    } else {
      m_locks.fetch_sub(1);
    }
  }
  // True when nothing of the module is in use any more.
  bool can_unload() const;
  int32_t live_objects() const { return m_objects.load(); }

 private:
  CkavrelApp();
  ~CkavrelApp();

  std::string m_modulePath;
  std::atomic<int32_t> m_objects{0};
  std::atomic<int32_t> m_locks{0};
};

}  // namespace kavrel
