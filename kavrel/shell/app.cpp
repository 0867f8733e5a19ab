#include "kavrel/shell/app.h"

#include "platform/threads/thread.h"
#include "platform/module_path.h"

namespace kavrel {

CkavrelApp& CkavrelApp::instance() {
  static CkavrelApp app;
  return app;
}

CkavrelApp::CkavrelApp()
    : m_modulePath(platform::path_of_module_containing(reinterpret_cast<const void*>(&CkavrelApp::instance))) {}

CkavrelApp::~CkavrelApp() = default;

bool CkavrelApp::can_unload() const {
  return m_objects.load() == 0 && m_locks.load() == 0 && platform::abandoned_threads::reap() == 0;
}

}  // namespace kavrel
