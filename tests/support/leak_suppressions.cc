// Fontconfig keeps its font caches for the life of the process and never
// frees them; the leak checker of sanitizer builds would report them when the
// text renderer is used. Read by LeakSanitizer at start-up.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
