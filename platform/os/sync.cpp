#include "platform/os/sync.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "platform/os/threads.h"

namespace platform::os {

namespace {

// Live kernel mutexes, so that a thread's exit record never touches a mutex
// that was destroyed meanwhile.
// Never destroyed: threads still ending while the process exits use them.
std::mutex& liveMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::unordered_set<KernelMutex*>& liveMutexes() {
  static auto* set = new std::unordered_set<KernelMutex*>;
  return *set;
}

// The mutexes the calling thread holds; at thread exit each is abandoned.
struct HeldMutexes {
  std::vector<KernelMutex*> list;
  ~HeldMutexes() {
    const ThreadId me = currentThreadId();
    std::lock_guard<std::mutex> guard(liveMutex());
    for (KernelMutex* m : list) {
      if (liveMutexes().count(m)) m->abandonByExitingOwner(me);
    }
  }
};

thread_local HeldMutexes t_held;

// Lock order: the live set before a mutex's own lock, never the reverse.
void registerHeld(KernelMutex* m) { t_held.list.push_back(m); }

void unregisterHeld(KernelMutex* m) {
  auto& list = t_held.list;
  auto it = std::find(list.begin(), list.end(), m);
  if (it != list.end()) list.erase(it);
}

}  // namespace

KernelMutex::KernelMutex() {
  std::lock_guard<std::mutex> guard(liveMutex());
  liveMutexes().insert(this);
}

KernelMutex::~KernelMutex() {
  {
    std::lock_guard<std::mutex> guard(liveMutex());
    liveMutexes().erase(this);
  }
  if (owner_ == currentThreadId()) unregisterHeld(this);
}

WaitResult KernelMutex::wait(uint32_t timeoutMs) {
  const ThreadId me = currentThreadId();
  std::unique_lock<std::mutex> lock(mutex_);
  if (owner_ == me) {
    ++depth_;
    return WaitResult::Signaled;
  }
  if (!waitFor(lock, cv_, timeoutMs, [this] { return owner_ == 0; })) return WaitResult::Timeout;
  owner_ = me;
  depth_ = 1;
  registerHeld(this);
  if (abandoned_) {
    abandoned_ = false;
    return WaitResult::Abandoned;
  }
  return WaitResult::Signaled;
}

bool KernelMutex::release() {
  const ThreadId me = currentThreadId();
  std::lock_guard<std::mutex> guard(mutex_);
  if (owner_ != me || depth_ == 0) return false;
  if (--depth_ == 0) {
    owner_ = 0;
    unregisterHeld(this);
    cv_.notify_all();
  }
  return true;
}

bool KernelMutex::ownedByCaller() {
  std::lock_guard<std::mutex> guard(mutex_);
  return owner_ == currentThreadId();
}

void KernelMutex::abandonByExitingOwner(uint32_t owner) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (owner_ != owner) return;
  owner_ = 0;
  depth_ = 0;
  abandoned_ = true;
  cv_.notify_all();
}

struct AnyWaiter {
  std::mutex mutex;
  std::condition_variable cv;
};

void Event::set() {
  std::vector<std::shared_ptr<AnyWaiter>> waiters;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    signaled_ = true;
    if (manual_)
      cv_.notify_all();
    else
      cv_.notify_one();
    if (!waiters_.empty()) waiters = waiters_;
  }
  // Lock order: a waiter's lock before an event's lock (waitAny tests the
  // events under its own lock), so the waiters are woken after this event's
  // lock is released. Taking the waiter's lock first means a waiter between
  // its test and its sleep cannot miss the wake-up.
  for (const auto& waiter : waiters) {
    std::lock_guard<std::mutex> guard(waiter->mutex);
    waiter->cv.notify_all();
  }
}

void Event::addWaiter(const std::shared_ptr<AnyWaiter>& waiter) {
  std::lock_guard<std::mutex> guard(mutex_);
  waiters_.push_back(waiter);
}

void Event::removeWaiter(const AnyWaiter* waiter) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = std::find_if(waiters_.begin(), waiters_.end(), [&](const auto& w) { return w.get() == waiter; });
  if (it != waiters_.end()) waiters_.erase(it);
}

void Event::reset() {
  std::lock_guard<std::mutex> guard(mutex_);
  signaled_ = false;
}

bool Event::isSet() {
  std::lock_guard<std::mutex> guard(mutex_);
  return signaled_;
}

bool Event::wait(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!waitFor(lock, cv_, timeoutMs, [this] { return signaled_; })) return false;
  if (!manual_) signaled_ = false;
  return true;
}

int waitAny(Event& first, Event& second, uint32_t timeoutMs) {
  auto waiter = std::make_shared<AnyWaiter>();
  first.addWaiter(waiter);
  second.addWaiter(waiter);
  int taken = -1;
  {
    std::unique_lock<std::mutex> lock(waiter->mutex);
    waitFor(lock, waiter->cv, timeoutMs, [&] {
      if (first.wait(0))
        taken = 0;
      else if (second.wait(0))
        taken = 1;
      return taken >= 0;
    });
  }
  first.removeWaiter(waiter.get());
  second.removeWaiter(waiter.get());
  return taken;
}

}  // namespace platform::os
