#include "platform/os/testing/FaultInjection.h"

#include <mutex>

#include "platform/os/faults.h"

namespace platform::os {

std::atomic<uint32_t> detail::gArmedFaults{0};

namespace {
// Guards the armed values below; taken only by tests and by a file service
// that found a fault armed.
std::mutex gFaultLock;
uint32_t gShortLimit = 0;
uint32_t gShortError = 0;
std::function<void()> gBeforeShareLock;
std::function<void()> gBeforeUnlink;

void arm(detail::FaultPoint point) { detail::gArmedFaults.fetch_or(point, std::memory_order_release); }
void disarm(detail::FaultPoint point) { detail::gArmedFaults.fetch_and(~uint32_t(point), std::memory_order_release); }
}  // namespace

void testing::injectShortWrite(uint32_t limit, uint32_t error) {
  std::lock_guard<std::mutex> g(gFaultLock);
  gShortLimit = limit;
  gShortError = error;
  arm(detail::kFaultShortWrite);
}

void testing::injectBeforeShareLock(std::function<void()> action) {
  std::lock_guard<std::mutex> g(gFaultLock);
  gBeforeShareLock = std::move(action);
  if (gBeforeShareLock) arm(detail::kFaultBeforeShareLock);
  else disarm(detail::kFaultBeforeShareLock);
}

void testing::injectBeforeUnlink(std::function<void()> action) {
  std::lock_guard<std::mutex> g(gFaultLock);
  gBeforeUnlink = std::move(action);
  if (gBeforeUnlink) arm(detail::kFaultBeforeUnlink);
  else disarm(detail::kFaultBeforeUnlink);
}

void testing::clearInjectedFaults() {
  std::lock_guard<std::mutex> g(gFaultLock);
  detail::gArmedFaults.store(0, std::memory_order_release);
  gBeforeShareLock = nullptr;
  gBeforeUnlink = nullptr;
}

bool detail::takeShortWriteArmed(uint32_t& limit, uint32_t& error) {
  std::lock_guard<std::mutex> g(gFaultLock);
  // Another writer may have taken it between the fast check and the lock.
  if (!faultArmed(kFaultShortWrite)) return false;
  disarm(kFaultShortWrite);
  limit = gShortLimit;
  error = gShortError;
  return true;
}

// Taken under the lock, run outside it: the action may call the file
// services itself.
void detail::runFaultActionArmed(FaultPoint point) {
  std::function<void()> action;
  {
    std::lock_guard<std::mutex> g(gFaultLock);
    if (!faultArmed(point)) return;
    disarm(point);
    action.swap(point == kFaultBeforeShareLock ? gBeforeShareLock : gBeforeUnlink);
  }
  if (action) action();
}

}  // namespace platform::os
