// The one seam through which test fault injection reaches the os area's
// production code. Only the os backends include it; tests arm faults through
// testing/FaultInjection.h. Every check is one atomic load while nothing is
// armed, so the file services take no extra lock on their hot paths.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform::os::detail {

// The points where a fault may be armed; bits of gArmedFaults.
enum FaultPoint : uint32_t {
  kFaultShortWrite = 1u << 0,
  kFaultBeforeShareLock = 1u << 1,
  kFaultBeforeUnlink = 1u << 2,
};

// Set (under the injection lock) when a fault is armed, cleared when it is
// taken. May change while threads run, hence atomic.
extern std::atomic<uint32_t> gArmedFaults;

inline bool faultArmed(FaultPoint point) {
  return (gArmedFaults.load(std::memory_order_acquire) & point) != 0;
}

// The slow paths, taken only while a fault is armed (testing/FaultInjection.cpp).
bool takeShortWriteArmed(uint32_t& limit, uint32_t& error);
void runFaultActionArmed(FaultPoint point);

// Takes a pending short-write injection: true with its limit and error.
inline bool takeShortWrite(uint32_t& limit, uint32_t& error) {
  return faultArmed(kFaultShortWrite) && takeShortWriteArmed(limit, error);
}
// Take and run a pending action at their point (no-op when none).
inline void runBeforeShareLock() {
  if (faultArmed(kFaultBeforeShareLock)) runFaultActionArmed(kFaultBeforeShareLock);
}
inline void runBeforeUnlink() {
  if (faultArmed(kFaultBeforeUnlink)) runFaultActionArmed(kFaultBeforeUnlink);
}

}  // namespace platform::os::detail
