// The manual clock: virtual milliseconds moved only by tests.
#include "platform/os/manual/Clock_manual.h"

namespace platform::os {

ManualClock& processManualClock() {
  // Never destroyed: a thread may still wait on it while the process exits.
  static ManualClock* clock = new ManualClock();
  return *clock;
}

ClockBackend* manualClockBackend() { return &processManualClock(); }

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
