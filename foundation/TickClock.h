// The program-wide millisecond clock: the 32-bit multimedia timer extended to
// 64 bits, 0 when the unit started. Also sleeping, the timer-resolution
// requests and the local calendar time.
#pragma once

#include <cstdint>

#include "platform/os/clock.h"

namespace foundation {

using TSystemTime = platform::os::SystemTime;

// Milliseconds since the unit started.
int64_t GetTickMs();
// Reads the timer and extends it to 64 bits, counting each wrap once.
int64_t UpdateTickCounter();
void SleepMs(uint32_t ms);
void BeginTimerPeriod(uint32_t ms);
void EndTimerPeriod(uint32_t ms);
TSystemTime GetLocalSystemTime();

// Unit start: the clock restarts at 0 from the current timer reading (the
// first read starts it when nobody did).
void InitTickClock();

}  // namespace foundation
