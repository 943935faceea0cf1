// Virtual time for tests: the clock moves only when a test advances it.
// Sleepers and timed waiters wake when the virtual time passes their deadline.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/os/clock.h"

namespace platform::os {

class ManualClock : public ClockBackend {
 public:
  explicit ManualClock(uint64_t startMs = 0) : now_(startMs) {}

  uint64_t nowMs() override { return now_.load(std::memory_order_acquire); }
  void sleepMs(uint32_t ms) override;
  bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, uint64_t deadlineMs,
                 const std::function<bool()>& pred) override;

  // Moves virtual time forward by ms (or to an absolute value) and wakes
  // every sleeper whose deadline has passed.
  void advance(uint64_t ms);
  void set(uint64_t ms);
  // Blocks (on real time, without a limit) until at least n threads sleep or
  // wait on this clock with a deadline; tests use it before advancing.
  void waitForSleepers(int n);
  int sleepers();

 private:
  void enter();
  void leave();
  std::atomic<uint64_t> now_;
  // Guards sleepers_ and the sleepers' waits on changed_; now_ is atomic and
  // read without it.
  std::mutex mutex_;
  std::condition_variable changed_;
  int sleepers_ = 0;
};

// The process's manual clock, the one manualClockBackend() answers.
ManualClock& processManualClock();

// Installs a manual clock for one scope and restores the previous clock after.
class ScopedManualClock {
 public:
  explicit ScopedManualClock(uint64_t startMs = 0) : clock_(startMs) { previous_ = setClockBackend(&clock_); }
  ~ScopedManualClock() { setClockBackend(previous_); }
  ScopedManualClock(const ScopedManualClock&) = delete;
  ScopedManualClock& operator=(const ScopedManualClock&) = delete;
  ManualClock& operator*() { return clock_; }
  ManualClock* operator->() { return &clock_; }

 private:
  ManualClock clock_;
  ClockBackend* previous_ = nullptr;
};

}  // namespace platform::os
