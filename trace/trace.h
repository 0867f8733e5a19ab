// The developer trace: fixed line formats written to the debug channel, one line per call, only
// while tracing is on. Tracing is on when a marker library named "ExDebug.dll" lies beside the
// module that traces; each module (the library, the control) probes once and keeps its own flag.
//
// Every operation may be called from any thread. Fixed-format lines are cut at 255 characters,
// string values at 16,383; nothing is written past a buffer.
#pragma once

namespace trace {

// True when tracing is on. After the first call this is one flag test.
bool on();

void enter(const char* function);                       // "-->: %s"
void leave(const char* function);                       // "<--: %s"
void step(const char* text);                            // "  -: %s"
void error(const char* function, int line, const char* message);  // "Error: %s %d (%s)"
void error(const char* function, int line);             // "Error: %s %d"
void value(const char* name, int number);               // "   : %s %d"
void value(const char* name, const char* text);         // "   : %s %s"; nothing when text is null
void date_time(const char* name, int month, int day, int hour, int minute, int second);
void connector(const char* address, int peer_port, int local_port, const char* id);
void exception(const char* method, const char* what);   // "Exception in %s: %s"
void wide_value(const char* name, const char16_t* text);  // UTF-16 shown as UTF-8
// A password, key or pass: "   : %s ***" (an empty text stays empty, a null one writes nothing).
// The text itself never reaches the trace.
void secret(const char* name, const char* text);
void wide_secret(const char* name, const char16_t* text);
void device_record(const char* label, const char* id, const char* name, int online, int login_count);
// " DevInfo %s is null": written whether tracing is on or not.
void missing_device_record(const char* label);

// Writes the exit line of a method when it is left without having written it itself, for
// instance by an exception. Arm it right after the entry line; call disarm() after the exit line.
class ExitGuard {
 public:
  explicit ExitGuard(const char* function) : function_(function) {}
  ~ExitGuard() {
    if (armed_) leave(function_);
  }
  ExitGuard(const ExitGuard&) = delete;
  ExitGuard& operator=(const ExitGuard&) = delete;
  void disarm() { armed_ = false; }

 private:
  const char* function_;
  bool armed_ = true;
};

// Tests only: switch this module's tracing on or off, or run the marker probe again.
void force_verbose_for_testing(bool verbose);
void reprobe_for_testing();

}  // namespace trace
