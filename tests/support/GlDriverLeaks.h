// For test programs that open SDL windows with GL (one per program: it
// defines the leak checker's suppressions). The GL driver SDL loads for a
// window keeps allocations it never frees and is unloaded before the leak
// check, which then cannot name them: the program keeps the driver's
// libraries loaded once a window made them come, and the check passes over
// what they allocated.
#pragma once

#include <dlfcn.h>

extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:swrast_dri.so\nleak:libEGL_mesa.so\nleak:libEGL.so\nleak:libGLdispatch.so\nleak:libLLVM\n"
         "leak:libglapi.so\nleak:libGLX_mesa.so\nleak:libgallium\nleak:libX11\nleak:libdbus\n";
}

inline void KeepGlDriverLoaded() {
  for (const char* lib : {"libEGL.so.1", "libEGL_mesa.so.0", "libGLdispatch.so.0", "libglapi.so.0",
                          "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", "libLLVM-15.so.1"})
    dlopen(lib, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}
