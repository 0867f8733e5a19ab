// Built into every executable that links the drawing subset, in address-sanitizer builds only.
// Fontconfig (under cairo's font faces) stores its internal pointers as encoded offsets, so the
// leak checker cannot follow them and reports the font patterns that live for the process.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
