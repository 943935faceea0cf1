#include "foundation/SysLock.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "foundation/kpExceptions.h"
#include "platform/os/clock.h"
#include "platform/os/threads.h"

namespace foundation {

namespace {
std::atomic<uint32_t> g_startTick{0};
std::atomic<bool> g_shuttingDown{false};
std::atomic<int32_t> g_liveThreads{0};
std::mutex g_locksMutex;  // the array is filled at start-up, but tests make locks from many threads
// Never destroyed: the handles live until the process ends (the player ends
// without unit shutdown).
std::vector<TLockHandle>& Locks() {
  static auto* locks = new std::vector<TLockHandle>;
  return *locks;
}
constexpr int32_t kShutdownTimeoutMs = 5000;
}  // namespace

void CreateLock(TLockHandle& handle) {
  handle = new platform::os::KernelMutex;
  std::lock_guard<std::mutex> guard(g_locksMutex);
  if (Locks().capacity() == 0) Locks().reserve(16);
  if (Locks().size() == Locks().capacity()) Locks().reserve(Locks().capacity() * 2);
  Locks().push_back(handle);
}

void EnterLock(TLockHandle& handle) {
  QEL_ASSERT(handle != nullptr, "SysLock: invalid lock handle");
  handle->wait(platform::os::INFINITE);
}

void LeaveLock(TLockHandle& handle) {
  if (handle) handle->release();
}

bool BeginThreadAccounting() {
  if (g_shuttingDown.load()) return false;
  platform::os::coInitialize();
  g_liveThreads.fetch_add(1);
  return true;
}

void EndThreadAccounting() {
  platform::os::coUninitialize();
  g_liveThreads.fetch_sub(1);
}

int32_t LiveThreadCount() { return g_liveThreads.load(); }
bool ShuttingDown() { return g_shuttingDown.load(); }

int32_t LockHandleCount() {
  std::lock_guard<std::mutex> guard(g_locksMutex);
  return static_cast<int32_t>(Locks().size());
}

bool WaitThreadsAndCloseLocks(int32_t timeoutMs) {
  g_shuttingDown.store(true);
  const uint32_t start = platform::os::timeGetTime();
  while (g_liveThreads.load() > 0) {
    platform::os::sleepMs(0);
    if (static_cast<int32_t>(platform::os::timeGetTime() - start) > timeoutMs) return false;
  }
  std::lock_guard<std::mutex> guard(g_locksMutex);
  for (auto it = Locks().rbegin(); it != Locks().rend(); ++it) delete *it;
  Locks().clear();
  return true;
}

void* CompareExchangePointer(void*& target, void* newValue, void* comparand) {
  std::atomic_ref<void*> ref(target);
  ref.compare_exchange_strong(comparand, newValue);
  return comparand;
}

uint32_t GetProcessorCount() {
  static const uint32_t count = [] {
    uint32_t n = platform::os::processorCount();
    return n == 0 ? 1u : n;
  }();
  return count;
}

void SysSleep(uint32_t ms) { platform::os::sleepMs(ms); }

uint32_t SysTickMs() { return platform::os::timeGetTime() - g_startTick.load(); }

void InitSysLock() {
  platform::os::coInitialize();
  g_startTick.store(platform::os::timeGetTime());
  g_shuttingDown.store(false);
}

void FinalizeSysLock() {
  WaitThreadsAndCloseLocks(kShutdownTimeoutMs);
  platform::os::coUninitialize();
}

}  // namespace foundation
