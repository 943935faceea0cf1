// System event hooks. The desktop offers no system-wide event source to
// hook, so a hook is accepted and never fires on its own; tests fire events
// through the trigger below, which calls every matching hook as the system
// would (from the calling thread).
#pragma once

#include <cstdint>

#include "platform/window/api.h"

namespace platform::window {

using HWINEVENTHOOK = uintptr_t;
using WinEventProc = void (*)(HWINEVENTHOOK hook, uint32_t event, HWND hwnd, int32_t idObject, int32_t idChild,
                              uint32_t thread, uint32_t time);

inline constexpr uint32_t EVENT_SYSTEM_DESKTOPSWITCH = 0x0020;
inline constexpr uint32_t WINEVENT_OUTOFCONTEXT = 0;

// 0 when the range is empty or there is no procedure.
HWINEVENTHOOK setWinEventHook(uint32_t eventMin, uint32_t eventMax, uintptr_t module, WinEventProc proc,
                              uint32_t processId, uint32_t threadId, uint32_t flags);
bool unhookWinEvent(HWINEVENTHOOK hook);
// Test trigger: calls the hooks whose range holds the event; how many ran.
int fireWinEventForTesting(uint32_t event);
// The number of hooks installed.
int winEventHookCount();

}  // namespace platform::window
