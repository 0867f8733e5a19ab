#include "platform/debug_channel.h"

#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>

namespace platform {
namespace {

// Touched by every tracing thread and by the thread that installs a sink; guarded by sink_lock.
std::mutex sink_lock;
DebugSink current_sink = nullptr;
void* current_context = nullptr;

void write_to_stderr(const char* line) {
  std::string out(line);
  out.push_back('\n');
  const char* p = out.data();
  size_t left = out.size();
  while (left > 0) {
    ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace

void debug_output(const char* line) {
  if (line == nullptr) return;
  std::lock_guard<std::mutex> hold(sink_lock);
  if (current_sink != nullptr) {
    current_sink(current_context, line);
  } else {
    write_to_stderr(line);
  }
}

void set_debug_sink(DebugSink sink, void* context) {
  std::lock_guard<std::mutex> hold(sink_lock);
  current_sink = sink;
  current_context = context;
}

}  // namespace platform
