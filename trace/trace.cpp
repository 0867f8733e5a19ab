#include "trace/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/debug_channel.h"
#include "platform/module_path.h"

namespace trace {
namespace {

constexpr int kUnprobed = 0;
constexpr int kOff = 1;
constexpr int kOn = 2;

constexpr size_t kLineBuffer = 256;
constexpr size_t kStringValueBuffer = 16384;
constexpr size_t kDateTimeBuffer = 80;

// This module's verbose flag. Written by the probe (any thread, possibly two at once with the
// same result) and read by every tracing thread.
std::atomic<int> state{kUnprobed};

int probe() {
  // The folder of the module holding this code decides; the marker is loaded, never used.
  std::string folder = platform::folder_of_module_containing(reinterpret_cast<const void*>(&probe));
  int result = kOff;
  if (!folder.empty() && platform::try_load_library(folder + "/ExDebug.dll")) {
    platform::debug_output("Extended debug DLL found");
    result = kOn;
  }
  state.store(result, std::memory_order_relaxed);
  return result;
}

inline int current_state() {
  int s = state.load(std::memory_order_relaxed);
  return s != kUnprobed ? s : probe();
}

// Formats into a fixed buffer of `Size` bytes (cut when longer) and writes one line.
template <size_t Size>
void write_fixed(const char* format, ...) __attribute__((format(printf, 1, 2)));

template <size_t Size>
void write_fixed(const char* format, ...) {
  char line[Size];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  platform::debug_output(line);
}

const char* safe(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

bool on() { return current_state() == kOn; }

void enter(const char* function) {
  if (on()) write_fixed<kLineBuffer>("-->: %s", safe(function));
}

void leave(const char* function) {
  if (on()) write_fixed<kLineBuffer>("<--: %s", safe(function));
}

void step(const char* text) {
  if (on()) write_fixed<kLineBuffer>("  -: %s", safe(text));
}

void error(const char* function, int line, const char* message) {
  if (on()) write_fixed<kLineBuffer>("Error: %s %d (%s)", safe(function), line, safe(message));
}

void error(const char* function, int line) {
  if (on()) write_fixed<kLineBuffer>("Error: %s %d", safe(function), line);
}

void value(const char* name, int number) {
  if (on()) write_fixed<kLineBuffer>("   : %s %d", safe(name), number);
}

void value(const char* name, const char* text) {
  if (text == nullptr || !on()) return;
  // Long values (JSON documents, addresses) get a heap buffer of their own for this one line.
  char* line = static_cast<char*>(malloc(kStringValueBuffer));
  if (line == nullptr) return;
  snprintf(line, kStringValueBuffer, "   : %s %s", safe(name), text);
  platform::debug_output(line);
  free(line);
}

void date_time(const char* name, int month, int day, int hour, int minute, int second) {
  if (!on()) return;
  char when[kDateTimeBuffer];
  snprintf(when, sizeof when, "%d %d %d:%d:%d", month, day, hour, minute, second);
  write_fixed<kLineBuffer>("   : %s %s", safe(name), when);
}

void connector(const char* address, int peer_port, int local_port, const char* id) {
  if (on()) {
    write_fixed<kLineBuffer>("   : %s peer port %d local port %d (ID %s)", safe(address), peer_port,
                             local_port, safe(id));
  }
}

void exception(const char* method, const char* what) {
  if (on()) write_fixed<kLineBuffer>("Exception in %s: %s", safe(method), safe(what));
}

void wide_value(const char* name, const char16_t* text) {
  if (text == nullptr || !on()) return;
  std::string narrow;
  for (const char16_t* p = text; *p != 0; ++p) {
    char32_t c = *p;
    if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate
    }
    if (c < 0x80) {
      narrow.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      narrow.push_back(static_cast<char>(0xC0 | (c >> 6)));
      narrow.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      narrow.push_back(static_cast<char>(0xE0 | (c >> 12)));
      narrow.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      narrow.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      narrow.push_back(static_cast<char>(0xF0 | (c >> 18)));
      narrow.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      narrow.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      narrow.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  write_fixed<kLineBuffer>("   : %s %s", safe(name), narrow.c_str());
}

void secret(const char* name, const char* text) {
  if (text == nullptr || !on()) return;
  write_fixed<kLineBuffer>("   : %s %s", safe(name), text[0] != 0 ? "***" : "");
}

void wide_secret(const char* name, const char16_t* text) {
  if (text == nullptr || !on()) return;
  write_fixed<kLineBuffer>("   : %s %s", safe(name), text[0] != 0 ? "***" : "");
}

void device_record(const char* label, const char* id, const char* name, int online, int login_count) {
  if (on()) {
    write_fixed<kLineBuffer>(" %s: id %s, name %s, online %d, logincount %d", safe(label), safe(id),
                             safe(name), online, login_count);
  }
}

void missing_device_record(const char* label) {
  current_state();  // the probe still runs first, so its own line comes before this one
  write_fixed<kLineBuffer>(" DevInfo %s is null", safe(label));
}

void force_verbose_for_testing(bool verbose) {
  state.store(verbose ? kOn : kOff, std::memory_order_relaxed);
}

void reprobe_for_testing() { state.store(kUnprobed, std::memory_order_relaxed); }

}  // namespace trace
