#include "platform/os/testing/FaultInjection.h"

#include <mutex>

namespace platform::os {

namespace {
std::mutex gFaultLock;
bool gShortWrite = false;
uint32_t gShortLimit = 0;
uint32_t gShortError = 0;
std::function<void()> gBeforeShareLock;
std::function<void()> gBeforeUnlink;

// Taken under the lock, run outside it: the action may call the file
// services itself.
void runTaken(std::function<void()>& slot) {
  std::function<void()> action;
  {
    std::lock_guard<std::mutex> g(gFaultLock);
    action.swap(slot);
  }
  if (action) action();
}
}  // namespace

void testing::injectShortWrite(uint32_t limit, uint32_t error) {
  std::lock_guard<std::mutex> g(gFaultLock);
  gShortWrite = true;
  gShortLimit = limit;
  gShortError = error;
}

void testing::injectBeforeShareLock(std::function<void()> action) {
  std::lock_guard<std::mutex> g(gFaultLock);
  gBeforeShareLock = std::move(action);
}

void testing::injectBeforeUnlink(std::function<void()> action) {
  std::lock_guard<std::mutex> g(gFaultLock);
  gBeforeUnlink = std::move(action);
}

void testing::clearInjectedFaults() {
  std::lock_guard<std::mutex> g(gFaultLock);
  gShortWrite = false;
  gBeforeShareLock = nullptr;
  gBeforeUnlink = nullptr;
}

void detail::runBeforeShareLock() { runTaken(gBeforeShareLock); }

void detail::runBeforeUnlink() { runTaken(gBeforeUnlink); }

bool detail::takeShortWrite(uint32_t& limit, uint32_t& error) {
  std::lock_guard<std::mutex> g(gFaultLock);
  if (!gShortWrite) return false;
  gShortWrite = false;
  limit = gShortLimit;
  error = gShortError;
  return true;
}

}  // namespace platform::os
