// The debug output channel: the one place where trace lines leave the process.
#pragma once

namespace platform {

// Writes one line (a newline is appended) with a single write to standard error, or hands it to
// the installed sink. Safe from any thread; lines from different threads never interleave.
void debug_output(const char* line);

// A sink receives every line instead of standard error. Installing null restores standard
// error. Tests use it to read what a module traced.
using DebugSink = void (*)(void* context, const char* line);
void set_debug_sink(DebugSink sink, void* context);

}  // namespace platform
