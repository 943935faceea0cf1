// Locks and events of the os area: the recursive process-local lock (a
// critical section), the kernel-style mutex that reports when its owner thread
// ended while holding it, and manual- or auto-reset events. Every timed wait
// runs against the installed clock backend (clock.h).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/os/clock.h"

namespace platform::os {

enum class WaitResult { Signaled, Abandoned, Timeout };

// Recursive, process-local lock.
class CriticalSection {
 public:
  void enter() { mutex_.lock(); }
  bool tryEnter() { return mutex_.try_lock(); }
  void leave() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;  // the section itself: what it guards is the caller's
};

// A recursive mutex with the abandonment rule of a kernel mutex: when the
// owning thread ends while holding it, the next wait acquires it and answers
// Abandoned. Ownership is released per thread at thread exit (a thread-local
// record of held mutexes), which is the end-of-thread signal the thread
// objects rely on.
class KernelMutex {
 public:
  KernelMutex();
  KernelMutex(const KernelMutex&) = delete;
  KernelMutex& operator=(const KernelMutex&) = delete;
  ~KernelMutex();

  // Waits up to timeoutMs (INFINITE: no limit; 0: a try).
  WaitResult wait(uint32_t timeoutMs);
  // Releases one level of ownership; false when the caller does not own it.
  bool release();
  // True when the calling thread owns the mutex.
  bool ownedByCaller();

  // Called from the thread-exit record of the owning thread.
  void abandonByExitingOwner(uint32_t owner);

 private:
  std::mutex mutex_;  // guards owner_ and depth_; waiters sleep on cv_
  std::condition_variable cv_;
  uint32_t owner_ = 0;  // thread id, 0 when free
  uint32_t depth_ = 0;
  bool abandoned_ = false;  // the owner ended while holding it; the next taker is told
};

// A thread waiting in waitAny: every event it waits on wakes it when set.
struct AnyWaiter;

// Manual-reset or auto-reset event.
class Event {
 public:
  explicit Event(bool manualReset = true, bool initialState = false)
      : manual_(manualReset), signaled_(initialState) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  void reset();
  bool isSet();
  // True when the event was signalled within the time-out (INFINITE: no limit).
  bool wait(uint32_t timeoutMs);

 private:
  friend int waitAny(Event& first, Event& second, uint32_t timeoutMs);
  void addWaiter(const std::shared_ptr<AnyWaiter>& waiter);
  void removeWaiter(const AnyWaiter* waiter);

  // Guards signaled_ and the waiters of waitAny; waitAny takes its own
  // waiter's lock first, then each event's.
  std::mutex mutex_;
  std::condition_variable cv_;
  bool manual_;
  bool signaled_;
  // Threads in waitAny on this event (shared: set() wakes them after it let
  // go of its own lock, while a waiter may already be leaving).
  std::vector<std::shared_ptr<AnyWaiter>> waiters_;
};

// Waits until one of two events is signalled (WaitForMultipleObjects on two
// events, any one): 0 or 1 for the event taken (an auto-reset event is
// consumed), -1 after the time-out. The first event wins when both are set.
// The waiter sleeps until one of the events is set or the installed clock
// reaches the time-out.
int waitAny(Event& first, Event& second, uint32_t timeoutMs);

}  // namespace platform::os
