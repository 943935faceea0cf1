// Process services of the os area that the thread and instance units need:
// the named mutex of the single-instance check, kept as a lock file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/os/sync.h"

namespace platform::os {

// A named, process-wide mutex whose ownership ends with the owning process.
// It is a lock file named after the mutex name in $XDG_RUNTIME_DIR (else
// $TMPDIR, else /tmp); the process holding flock(LOCK_EX) on it owns it.
struct NamedMutexRecord;
using NamedMutex = NamedMutexRecord*;

// Opens the named mutex, creating it when absent; the opener becomes its
// owner when nobody holds it (the creator is the initial owner). nullptr
// when the lock file cannot be opened.
NamedMutex openOrCreateNamedMutex(const std::string& name);
// A wait of 0 ms: Signaled when this handle already owns it, Abandoned when
// the previous owner ended and this handle has now taken it, Timeout when
// another holder owns it.
WaitResult tryTakeNamedMutex(NamedMutex mutex);
bool namedMutexOwned(NamedMutex mutex);
// Releases ownership and closes the handle (the program itself never does).
void closeNamedMutex(NamedMutex mutex);
// The lock file's path for a mutex name.
std::string namedMutexPath(const std::string& name);

// Debugger output: one line per call, UTF-8, to stderr; a test may install
// its own sink (empty: stderr).
void outputDebugString(const std::string& utf8);
void setDebugOutputSink(std::function<void(const std::string&)> sink);

}  // namespace platform::os
