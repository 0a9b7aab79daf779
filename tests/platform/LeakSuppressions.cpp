// Font matching keeps its caches for the life of the process and frees them
// never; the dialog tests reach it through Pango. The leak checker of the
// sanitizer build is told to look past those allocations only. (The runtime
// finds this function by name, so it must stay visible.)
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
