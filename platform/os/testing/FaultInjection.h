// Fault injection for the os file services: tests make the next write short,
// as a full disk would, to show that no caller reports it as success.
#pragma once

#include <cstdint>

namespace platform::os::testing {

// The next writeFile on any handle writes at most limit bytes and then fails
// with error (112, disk full, by default). One shot.
void injectShortWrite(uint32_t limit, uint32_t error = 112);
// Cancels a pending injection.
void clearInjectedFaults();

}  // namespace platform::os::testing

namespace platform::os::detail {
// Takes a pending short-write injection: true with its limit and error.
bool takeShortWrite(uint32_t& limit, uint32_t& error);
}  // namespace platform::os::detail
