// Locks and events of the os area: the recursive process-local lock (a
// critical section), the kernel-style mutex that reports when its owner thread
// ended while holding it, and manual- or auto-reset events. Every timed wait
// runs against the installed clock backend (clock.h).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

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
  std::recursive_mutex mutex_;
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
  std::mutex mutex_;
  std::condition_variable cv_;
  uint32_t owner_ = 0;  // thread id, 0 when free
  uint32_t depth_ = 0;
  bool abandoned_ = false;  // the owner ended while holding it; the next taker is told
};

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
  std::mutex mutex_;
  std::condition_variable cv_;
  bool manual_;
  bool signaled_;
};

}  // namespace platform::os
