#include "platform/os/testing/FaultInjection.h"

#include <mutex>

namespace platform::os {

namespace {
std::mutex gFaultLock;
bool gShortWrite = false;
uint32_t gShortLimit = 0;
uint32_t gShortError = 0;
}  // namespace

void testing::injectShortWrite(uint32_t limit, uint32_t error) {
  std::lock_guard<std::mutex> g(gFaultLock);
  gShortWrite = true;
  gShortLimit = limit;
  gShortError = error;
}

void testing::clearInjectedFaults() {
  std::lock_guard<std::mutex> g(gFaultLock);
  gShortWrite = false;
}

bool detail::takeShortWrite(uint32_t& limit, uint32_t& error) {
  std::lock_guard<std::mutex> g(gFaultLock);
  if (!gShortWrite) return false;
  gShortWrite = false;
  limit = gShortLimit;
  error = gShortError;
  return true;
}

}  // namespace platform::os
