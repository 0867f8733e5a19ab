// Built into every executable that links the drawing subset, in sanitizer builds only.
//
// Leaks: fontconfig (under cairo's font faces) stores its internal pointers as encoded offsets,
// so the leak checker cannot follow them and reports the font patterns that live for the process.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

// Races: cairo is not built with the thread sanitizer, so the atomic operations of its internal
// caches (freed patterns and paths handed between the threads that draw) are invisible to it and
// their hand-overs look like races. Each thread here draws on its own surfaces and contexts,
// which is what cairo supports.
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_suppressions() {
  return "race:libcairo.so\n";
}
