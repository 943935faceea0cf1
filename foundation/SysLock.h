// Plain lock handles with process-wide bookkeeping, the count of live worker
// threads, a millisecond tick and sleep, the processor count and an atomic
// pointer exchange.
#pragma once

#include <cstdint>

#include "platform/os/sync.h"

namespace foundation {

// A lock handle: a recursive mutex that reports abandonment. The lock unit
// owns every handle it made and closes them all at shutdown.
using TLockHandle = platform::os::KernelMutex*;

// Creates an unowned lock, stores it in handle and remembers it.
void CreateLock(TLockHandle& handle);
// Waits without limit; a normal and an abandoned acquisition both count as
// entered. An invalid (null) handle is an assertion failure.
void EnterLock(TLockHandle& handle);
void LeaveLock(TLockHandle& handle);

// False once shutdown began; otherwise counts the calling worker as live.
bool BeginThreadAccounting();
void EndThreadAccounting();
int32_t LiveThreadCount();
// Library shutdown: no new thread runs from now on; waits until no worker is
// live (false after timeoutMs, closing nothing), then closes every lock
// handle, last made first.
bool WaitThreadsAndCloseLocks(int32_t timeoutMs);
bool ShuttingDown();
int32_t LockHandleCount();

// One atomic compare-and-swap of a pointer variable: the previous value.
void* CompareExchangePointer(void*& target, void* newValue, void* comparand);

// Logical processors, asked of the system once; never 0.
uint32_t GetProcessorCount();

void SysSleep(uint32_t ms);
// Milliseconds since the unit started (32-bit, wraps with the timer).
uint32_t SysTickMs();

// Unit start (records the start tick, clears the shutting-down flag) and
// shutdown (WaitThreadsAndCloseLocks(5000)).
void InitSysLock();
void FinalizeSysLock();

}  // namespace foundation
