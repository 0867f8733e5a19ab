// Watches the folders the host hands out from the save dialog and reports each file once the
// control has finished writing it there (closed after writing, or moved in), so the page can be
// offered it as a download.
//
// Threads: one watcher thread, started by start() and joined by stop() or the destructor; the
// callback runs on it. watch() may be called from any thread.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace host {

class SaveWatcher {
 public:
  using Finished = std::function<void(const std::string& path)>;
  explicit SaveWatcher(Finished finished);
  ~SaveWatcher();
  SaveWatcher(const SaveWatcher&) = delete;
  SaveWatcher& operator=(const SaveWatcher&) = delete;

  bool start(std::string* error);
  void stop();
  // Starts watching `folder` (which exists). False when it cannot be watched.
  bool watch(const std::string& folder);

 private:
  void run();

  Finished finished_;
  int inotify_fd_ = -1;
  int wake_fd_ = -1;
  std::thread thread_;
  std::mutex lock_;
  std::map<int, std::string> folders_;  // watch descriptor -> folder; guarded by lock_
};

}  // namespace host
