#include "platform/os/clock.h"

#include <atomic>


namespace platform::os {

namespace {
std::atomic<ClockBackend*> g_clock{nullptr};
std::mutex g_localTimeMutex;
std::function<SystemTime()> g_localTimeSource;
}  // namespace

SystemTime systemLocalTimeImpl();  // linux/Clock_linux.cpp

ClockBackend* setClockBackend(ClockBackend* c) { return g_clock.exchange(c, std::memory_order_acq_rel); }

ClockBackend* linuxClockBackend() { return &realClock(); }

ClockBackend& clock() {
  ClockBackend* c = g_clock.load(std::memory_order_acquire);
  return c ? *c : realClock();
}

uint64_t nowMs() { return clock().nowMs(); }
uint32_t timeGetTime() { return static_cast<uint32_t>(clock().nowMs()); }
void sleepMs(uint32_t ms) { clock().sleepMs(ms); }

bool waitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, uint32_t timeoutMs,
             const std::function<bool()>& pred) {
  if (timeoutMs == INFINITE) {
    cv.wait(lock, pred);
    return true;
  }
  if (pred()) return true;
  if (timeoutMs == 0) return false;
  ClockBackend& c = clock();
  return c.waitUntil(lock, cv, c.nowMs() + timeoutMs, pred);
}

SystemTime getLocalTime() {
  std::function<SystemTime()> source;
  {
    std::lock_guard<std::mutex> guard(g_localTimeMutex);
    source = g_localTimeSource;
  }
  return source ? source() : systemLocalTimeImpl();
}

void setLocalTimeSource(std::function<SystemTime()> source) {
  std::lock_guard<std::mutex> guard(g_localTimeMutex);
  g_localTimeSource = std::move(source);
}

}  // namespace platform::os
