// Fault injection for the os file services: tests make the next write short,
// as a full disk would, to show that no caller reports it as success. Armed
// faults reach the file services through platform/os/faults.h.
#pragma once

#include <cstdint>
#include <functional>

namespace platform::os::testing {

// The next writeFile on any handle writes at most limit bytes and then fails
// with error (112, disk full, by default). One shot.
void injectShortWrite(uint32_t limit, uint32_t error = 112);
// Runs action once, in the next createFile that takes a share lock, between
// its open and its lock: the moment at which another run's clean-up may
// delete the file just created.
void injectBeforeShareLock(std::function<void()> action);
// Runs action once, in the next deleteFile of a regular file, between its
// share probe and the unlink.
void injectBeforeUnlink(std::function<void()> action);
// Cancels every pending injection.
void clearInjectedFaults();

}  // namespace platform::os::testing
