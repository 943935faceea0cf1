#include "platform/os/clock.h"

#include <atomic>

#include "platform/os/manual/Clock_manual.h"

namespace platform::os {

namespace {
std::atomic<ClockBackend*> g_clock{nullptr};
std::mutex g_localTimeMutex;
std::function<SystemTime()> g_localTimeSource;
}  // namespace

SystemTime systemLocalTimeImpl();  // linux/clock_linux.cpp

void setClockBackend(ClockBackend* c) { g_clock.store(c, std::memory_order_release); }

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

// ---- the manual clock ----

void ManualClock::enter() {
  std::lock_guard<std::mutex> guard(mutex_);
  ++sleepers_;
  changed_.notify_all();
}

void ManualClock::leave() {
  std::lock_guard<std::mutex> guard(mutex_);
  --sleepers_;
  changed_.notify_all();
}

void ManualClock::sleepMs(uint32_t ms) {
  if (ms == 0) {
    yieldThread();
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t deadline = now_.load() + ms;
  ++sleepers_;
  changed_.notify_all();
  changed_.wait(lock, [&] { return now_.load() >= deadline; });
  --sleepers_;
  changed_.notify_all();
}

bool ManualClock::waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                            uint64_t deadlineMs, const std::function<bool()>& pred) {
  // The waiter cannot block on two condition variables at once, so it polls
  // the virtual time at a short real interval while it waits on its own one.
  enter();
  bool result;
  for (;;) {
    if (pred()) {
      result = true;
      break;
    }
    if (nowMs() >= deadlineMs) {
      result = pred();
      break;
    }
    cv.wait_for(lock, std::chrono::milliseconds(1));
  }
  lock.unlock();
  leave();
  lock.lock();
  return result;
}

void ManualClock::advance(uint64_t ms) {
  std::lock_guard<std::mutex> guard(mutex_);
  now_.fetch_add(ms);
  changed_.notify_all();
}

void ManualClock::set(uint64_t ms) {
  std::lock_guard<std::mutex> guard(mutex_);
  now_.store(ms);
  changed_.notify_all();
}

void ManualClock::waitForSleepers(int n) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return sleepers_ >= n; });
}

int ManualClock::sleepers() {
  std::lock_guard<std::mutex> guard(mutex_);
  return sleepers_;
}

}  // namespace platform::os
