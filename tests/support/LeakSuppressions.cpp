// Linked into every test program. Start-ups that reach the text library open
// the system's fontconfig, which keeps what a live configuration owns in a
// form the leak checker cannot follow; the configuration lives for the whole
// program, so those blocks are not leaks. Weak: a program that needs more
// (the GL driver's, tests/support/GlDriverLeaks.h) gives its own list.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
