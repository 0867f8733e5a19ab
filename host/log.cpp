#include "host/log.h"

#include <unistd.h>

#include <atomic>
#include <mutex>

namespace host {
namespace {

// Written by whoever installs a sink, read by every thread that logs; guarded by sink_lock.
std::mutex sink_lock;
LogSink& installed_sink() {
  static auto* sink = new LogSink();
  return *sink;
}
std::atomic<bool> verbose{false};

}  // namespace

void set_log_sink(LogSink sink) {
  std::lock_guard<std::mutex> hold(sink_lock);
  installed_sink() = std::move(sink);
}

void set_log_verbose(bool on) { verbose.store(on); }
bool log_verbose_enabled() { return verbose.load(); }

void log_line(const std::string& text) {
  std::string line = "kavrel-host: " + text;
  std::lock_guard<std::mutex> hold(sink_lock);
  if (installed_sink()) {
    installed_sink()(line);
    return;
  }
  line += '\n';
  // One write per line, so lines of several threads never interleave.
  ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
  (void)written;
}

void log_verbose(const std::string& text) {
  if (verbose.load()) log_line(text);
}

}  // namespace host
