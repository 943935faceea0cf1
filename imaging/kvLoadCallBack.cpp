#include "imaging/kvLoadCallBack.h"

#include <atomic>

#include "foundation/TickClock.h"
#include "imaging/ImagingAssert.h"
#include "platform/os/clock.h"
#include "platform/os/threads.h"

namespace imaging {

namespace {

void DefaultPause(uint32_t ms) { foundation::SleepMs(ms); }
bool DefaultPriority(uint32_t cls) { return platform::os::setProcessPriorityClass(cls); }

// Mode, routine and last pause are read by loader threads while the main
// thread switches them: atomics, so a switch is seen at the next call.
std::atomic<uint8_t> g_mode{0};
std::atomic<bool (*)(float)> g_routine{LoadCallBackContinue};
std::atomic<uint32_t> g_lastPause{0};
std::atomic<void (*)(uint32_t)> g_pause{DefaultPause};
std::atomic<bool (*)(uint32_t)> g_priority{DefaultPriority};

uint32_t Now32() { return platform::os::timeGetTime(); }

void PauseWhenDue(uint32_t ms) {
  const uint32_t now = Now32();
  // Modulo 2^32: a wrap of the tick does not stall the test.
  if (static_cast<uint32_t>(now - g_lastPause.load(std::memory_order_relaxed)) > 5) {
    g_pause.load()(ms);
    g_lastPause.store(Now32(), std::memory_order_relaxed);
  }
}

}  // namespace

bool LoadCallBackContinue(float) { return true; }
bool LoadCallBackYield(float) {
  PauseWhenDue(0);
  return true;
}
bool LoadCallBackSleep(float) {
  PauseWhenDue(1);
  return true;
}
bool LoadCallBackAbort(float) { return false; }

bool LoadCallBack(float Fraction) { return g_routine.load(std::memory_order_acquire)(Fraction); }

TProgressMethod LoadCallBackMethod() { return TProgressMethod(LoadCallBack); }

uint8_t GetLoadCallBackMode() { return g_mode.load(); }

void SetLoadCallBackMode(uint8_t Mode) {
  const uint8_t old = g_mode.load();
  if (Mode == old) return;
  static bool (*const kRoutines[4])(float) = {LoadCallBackContinue, LoadCallBackYield, LoadCallBackSleep,
                                              LoadCallBackAbort};
  IMG_ASSERT(Mode <= 3, "");
  g_mode.store(Mode);
  g_lastPause.store(Now32());
  g_routine.store(kRoutines[Mode], std::memory_order_release);
  if (Mode == 2)
    g_priority.load()(platform::os::HIGH_PRIORITY_CLASS);
  else if (old == 2)
    g_priority.load()(platform::os::NORMAL_PRIORITY_CLASS);
}

TLoadThrottleServices SetLoadThrottleServices(const TLoadThrottleServices& Services) {
  TLoadThrottleServices old{g_pause.load(), g_priority.load()};
  g_pause.store(Services.Pause ? Services.Pause : DefaultPause);
  g_priority.store(Services.SetPriorityClass ? Services.SetPriorityClass : DefaultPriority);
  return old;
}

void InitLoadCallBack() {
  g_mode.store(0);
  g_routine.store(LoadCallBackContinue);
}

}  // namespace imaging
