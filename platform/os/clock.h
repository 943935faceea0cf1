// Clocks and sleeping of the os area: one injectable millisecond clock serves
// every tick, sleep and timed wait of the program, so tests can step virtual
// time instead of sleeping. Wall-clock time is a separate injectable source.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace platform::os {

// A time-out of all ones means "no limit", as in every timed wait of the system.
inline constexpr uint32_t INFINITE = 0xFFFFFFFFu;

// The clock backend: monotonic milliseconds, sleeping, and the timed wait
// every synchronisation object of the layer uses.
class ClockBackend {
 public:
  virtual ~ClockBackend() = default;
  // Milliseconds on this clock (64-bit, never decreasing).
  virtual uint64_t nowMs() = 0;
  // Sleeps the calling thread for ms milliseconds of this clock; 0 yields.
  virtual void sleepMs(uint32_t ms) = 0;
  // Waits on cv (lock held) until pred() holds or the clock reaches
  // deadlineMs; answers pred() at the end.
  virtual bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                         uint64_t deadlineMs, const std::function<bool()>& pred) = 0;
};

// The real clock: CLOCK_MONOTONIC, 0 at the first use in the process.
ClockBackend& realClock();

// The backends of the area, made on first use and never destroyed: the
// Linux clock (the real one, also the headless choice) and the process's
// manual clock (virtual time, manual/Clock_manual.h), which startPlatform
// installs for a manual configuration.
ClockBackend* linuxClockBackend();
ClockBackend* manualClockBackend();

// Installs a clock backend (nullptr: the real clock) and answers the
// previous one (nullptr when it was the default). The backend must outlive
// its use. Atomic: may change while threads run, but a thread in a timed
// wait keeps the clock it started with, so swap clocks only while nothing
// waits on the old one (tests install a ManualClock for a whole test).
ClockBackend* setClockBackend(ClockBackend* clock);
ClockBackend& clock();

// Shorthands over the installed backend.
uint64_t nowMs();
// The 32-bit multimedia-timer value (the clock's milliseconds, wrapping
// after 49.7 days).
uint32_t timeGetTime();
void sleepMs(uint32_t ms);
void yieldThread();

// Waits with a time-out in ms (INFINITE: no limit) on cv until pred holds.
bool waitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, uint32_t timeoutMs,
             const std::function<bool()>& pred);

// The calendar record of local date and time (all fields 16-bit unsigned).
struct SystemTime {
  uint16_t year = 0;
  uint16_t month = 0;      // 1-12
  uint16_t dayOfWeek = 0;  // 0 Sunday
  uint16_t day = 0;        // 1-31
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
};

// The local date and time; a test may install its own source (empty: the system's).
SystemTime getLocalTime();
void setLocalTimeSource(std::function<SystemTime()> source);

// The user's locale month and day names (UTF-8; Sunday first). False, with
// the names left empty, when the locale gives none.
struct LocaleDateNames {
  std::string shortMonths[12], longMonths[12], shortDays[7], longDays[7];
};
bool getLocaleDateNames(LocaleDateNames& names);

// Multimedia timer resolution requests: no effect on Linux.
inline void timeBeginPeriod(uint32_t) {}
inline void timeEndPeriod(uint32_t) {}

}  // namespace platform::os
