#include "platform/window/winevents.h"

#include <map>
#include <mutex>
#include <vector>

namespace platform::window {

namespace {
struct Hook {
  uint32_t min, max;
  WinEventProc proc;
};
struct Hooks {
  std::mutex lock;  // guards everything below
  std::map<HWINEVENTHOOK, Hook> hooks;
  HWINEVENTHOOK next = 0x7000;
};
Hooks& H() {
  static Hooks* hooks = new Hooks;  // never destroyed: hooks may be removed during static destruction
  return *hooks;
}
}  // namespace

HWINEVENTHOOK setWinEventHook(uint32_t eventMin, uint32_t eventMax, uintptr_t, WinEventProc proc, uint32_t,
                              uint32_t, uint32_t) {
  if (!proc || eventMin > eventMax) return 0;
  Hooks& h = H();
  std::lock_guard<std::mutex> g(h.lock);
  const HWINEVENTHOOK id = h.next++;
  h.hooks[id] = Hook{eventMin, eventMax, proc};
  return id;
}

bool unhookWinEvent(HWINEVENTHOOK hook) {
  Hooks& h = H();
  std::lock_guard<std::mutex> g(h.lock);
  return h.hooks.erase(hook) != 0;
}

int fireWinEventForTesting(uint32_t event) {
  std::vector<std::pair<HWINEVENTHOOK, WinEventProc>> due;
  {
    Hooks& h = H();
    std::lock_guard<std::mutex> g(h.lock);
    for (const auto& [id, hook] : h.hooks)
      if (event >= hook.min && event <= hook.max) due.emplace_back(id, hook.proc);
  }
  for (const auto& [id, proc] : due) proc(id, event, 0, 0, 0, 0, 0);
  return static_cast<int>(due.size());
}

int winEventHookCount() {
  Hooks& h = H();
  std::lock_guard<std::mutex> g(h.lock);
  return static_cast<int>(h.hooks.size());
}

}  // namespace platform::window
