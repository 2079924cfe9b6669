// The system's font configuration library keeps a small allocation that it never frees; it is
// not ours, so the leak checker of sanitized builds is told to pass over it.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
