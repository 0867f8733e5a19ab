// Test helper: collects every debug line written while it lives.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/debug_channel.h"

namespace platform::testing {

class DebugCapture {
 public:
  DebugCapture() { set_debug_sink(&DebugCapture::sink, this); }
  ~DebugCapture() { set_debug_sink(nullptr, nullptr); }
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;

  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> hold(lock_);
    return lines_;
  }
  bool contains(const std::string& line) const {
    auto all = lines();
    return std::find(all.begin(), all.end(), line) != all.end();
  }
  // True when some line contains `part`.
  bool mentions(const std::string& part) const {
    for (const auto& line : lines())
      if (line.find(part) != std::string::npos) return true;
    return false;
  }
  void clear() {
    std::lock_guard<std::mutex> hold(lock_);
    lines_.clear();
  }

 private:
  static void sink(void* context, const char* line) {
    auto* self = static_cast<DebugCapture*>(context);
    std::lock_guard<std::mutex> hold(self->lock_);
    self->lines_.emplace_back(line);
  }

  mutable std::mutex lock_;
  std::vector<std::string> lines_;  // guarded by lock_; written by tracing threads
};

}  // namespace platform::testing
