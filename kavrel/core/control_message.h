// The control message record and the FIFO queues that carry it: the callback message queue
// (library results waiting for the DoCallbackThread) and the event queue (script events waiting
// for the user-interface thread).
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace kavrel {

struct ControlMessage {
  int32_t hContext = 0;
  int32_t handle = 0;
  int32_t nID = 0;
  int32_t nTag1 = 0;
  int32_t nTag2 = 0;
  // Copy of the payload (nInfoLen bytes; a zero follows in the string's storage), absent when
  // nInfoLen is 0 or less or the producer gave no text.
  std::optional<std::string> info;
  int32_t nInfoLen = 0;

  // Copies the producer's payload: exactly `info_len` bytes when that is positive and `info`
  // is not null.
  static ControlMessage make(int32_t context, int32_t handle, int32_t id, int32_t tag1, int32_t tag2,
                             const char* info, int32_t info_len);
  const char* text() const { return info ? info->c_str() : nullptr; }
};

// A FIFO with its own lock, held only to append, to take the front record or to clear.
template <class T>
class LockedQueue {
 public:
  void push(T item) {
    std::lock_guard<std::mutex> hold(lock_);
    items_.push_back(std::move(item));
  }
  std::optional<T> pop() {
    std::lock_guard<std::mutex> hold(lock_);
    if (items_.empty()) return std::nullopt;
    T front = std::move(items_.front());
    items_.pop_front();
    return front;
  }
  size_t clear() {
    std::deque<T> dropped;
    {
      std::lock_guard<std::mutex> hold(lock_);
      dropped.swap(items_);
    }
    return dropped.size();
  }
  size_t size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return items_.size();
  }

 protected:
  mutable std::mutex lock_;
  std::deque<T> items_;  // guarded by lock_
};

// A command for the CmdThread: a JSON object text with a member "cmd".
struct CommandRecord {
  std::string text;
};

}  // namespace kavrel
