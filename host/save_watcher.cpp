#include "host/save_watcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace host {

SaveWatcher::SaveWatcher(Finished finished) : finished_(std::move(finished)) {}

SaveWatcher::~SaveWatcher() { stop(); }

bool SaveWatcher::start(std::string* error) {
  inotify_fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  wake_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (inotify_fd_ < 0 || wake_fd_ < 0) {
    if (error != nullptr) *error = std::string("cannot watch saved files: ") + std::strerror(errno);
    stop();
    return false;
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

void SaveWatcher::stop() {
  if (thread_.joinable()) {
    uint64_t one = 1;
    ssize_t written = ::write(wake_fd_, &one, sizeof one);
    (void)written;
    thread_.join();
  }
  if (inotify_fd_ >= 0) ::close(inotify_fd_);
  if (wake_fd_ >= 0) ::close(wake_fd_);
  inotify_fd_ = wake_fd_ = -1;
}

bool SaveWatcher::watch(const std::string& folder) {
  if (inotify_fd_ < 0) return false;
  int wd = inotify_add_watch(inotify_fd_, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
  if (wd < 0) return false;
  std::lock_guard<std::mutex> hold(lock_);
  folders_[wd] = folder;
  return true;
}

void SaveWatcher::run() {
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    pollfd fds[2] = {{inotify_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    ssize_t got = ::read(inotify_fd_, buffer.data(), buffer.size());
    if (got <= 0) continue;
    for (ssize_t at = 0; at < got;) {
      inotify_event event;
      std::memcpy(&event, buffer.data() + at, sizeof event);
      std::string name = event.len > 0 ? std::string(buffer.data() + at + sizeof event) : std::string();
      at += static_cast<ssize_t>(sizeof event + event.len);
      if (name.empty() || (event.mask & IN_ISDIR) != 0) continue;
      std::string folder;
      {
        std::lock_guard<std::mutex> hold(lock_);
        auto it = folders_.find(event.wd);
        if (it == folders_.end()) continue;
        folder = it->second;
      }
      finished_(folder + "/" + name.c_str());
    }
  }
}

}  // namespace host
