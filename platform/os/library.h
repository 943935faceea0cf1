// Dynamic libraries of the os area: load a library, look up an entry point,
// free it. Failures set the last error to 126 (library not found or not
// loadable) or 127 (entry point not found). Windows system libraries that
// parts of the program bind at run time for optional features are answered
// from a fixed table of optional entries: the entries other areas serve are
// registered by those areas at start-up, the rest report "not available".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::os {

// 0 is no library. Numbers are never reused while the process runs.
using LibraryHandle = uintptr_t;

// Loads a library by a path in internal form ("Z:\...") or by a bare name
// through the system's search. A name of the optional-entry table ("dwmapi",
// "Mscms.dll", ... without regard to case, ".dll" optional) is answered by
// the table: a handle when the table gives the library any present entry,
// else 0. 0 with last error 126 on failure; lastLibraryError() then holds
// the system loader's text.
LibraryHandle loadLibrary(std::u16string_view name);
// The entry point, or nullptr with last error 127 (6 for a handle that is
// not a loaded library).
void* getProcAddress(LibraryHandle library, std::string_view entry);
// Frees one load; false with last error 6 for an unknown or freed handle.
bool freeLibrary(LibraryHandle library);
// The system loader's text for the calling thread's last failed load or
// look-up (empty when the table answered).
std::string lastLibraryError();

// Registers the function an area serves for a present entry of the
// optional-entry table (registration at start-up, before threads look it
// up; registering again replaces it). The function has the type the serving
// area declares for it. False when the table has no such present entry.
bool registerOptionalEntry(std::u16string_view library, std::string_view entry, void* function);

}  // namespace platform::os
