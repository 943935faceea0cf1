#include "foundation/TickClock.h"

#include <mutex>

namespace foundation {

namespace {
// The reading and the base change together; several threads read the clock,
// so both are guarded and a wrap is counted once.
std::mutex g_tickMutex;
bool g_started = false;
uint32_t g_last = 0;
int64_t g_base = 0;

void StartLocked() {
  g_last = platform::os::timeGetTime();
  g_base = -static_cast<int64_t>(g_last);
  g_started = true;
}
}  // namespace

void InitTickClock() {
  std::lock_guard<std::mutex> guard(g_tickMutex);
  StartLocked();
}

int64_t UpdateTickCounter() {
  std::lock_guard<std::mutex> guard(g_tickMutex);
  if (!g_started) StartLocked();
  const uint32_t now = platform::os::timeGetTime();
  // A backward step of up to 2^31 - 1 ms is not taken for a wrap.
  if (now < g_last && g_last - now > 2147483647u) g_base += 4294967296LL;
  g_last = now;
  return g_base + now;
}

int64_t GetTickMs() { return UpdateTickCounter(); }

void SleepMs(uint32_t ms) { platform::os::sleepMs(ms); }
void BeginTimerPeriod(uint32_t ms) { platform::os::timeBeginPeriod(ms); }
void EndTimerPeriod(uint32_t ms) { platform::os::timeEndPeriod(ms); }
TSystemTime GetLocalSystemTime() { return platform::os::getLocalTime(); }

}  // namespace foundation
