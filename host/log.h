// The page host's own log: one line per call, written whole to standard error or to a sink a
// test installs. Callers never pass a secret; script calls are logged through masked_call_text().
#pragma once

#include <functional>
#include <string>

namespace host {

using LogSink = std::function<void(const std::string& line)>;

// Installs the sink (null: standard error). Any thread.
void set_log_sink(LogSink sink);
// Verbose lines (every script call, every page message kind) are dropped unless switched on.
void set_log_verbose(bool verbose);
bool log_verbose_enabled();

void log_line(const std::string& text);
void log_verbose(const std::string& text);

}  // namespace host
