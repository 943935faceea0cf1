#include "player/MouseMonitor.h"

#include <cmath>
#include <cstdlib>

#include "foundation/TickClock.h"
#include "foundation/kpExceptions.h"

namespace player {

TMsClock DefaultMsClock() {
  return [] { return foundation::GetTickMs(); };
}

int32_t SaturateMouseCoordinate(double v) {
  if (std::isnan(v) || v >= 2147483647.0) return kNoMousePosition;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// ---- TMouseMoveDetector ----------------------------------------------------

TMouseMoveDetector::TMouseMoveDetector(TMsClock clock) : FClock(std::move(clock)) {}

bool TMouseMoveDetector::Moved(int32_t x, int32_t y) {
  // The pointer left the window: no position to measure from or to.
  if (x == kNoMousePosition && y == kNoMousePosition) return false;
  if (Count == 0) {
    X = x;
    Y = y;
    Count = 1;
    return false;
  }
  // In 64 bits: the differences of two int32 coordinates overflow 32.
  const int64_t d = std::llabs(int64_t(x) - X) + std::llabs(int64_t(y) - Y);
  if (d >= 6) {
    X = x;
    Y = y;
    LastMoveTime = FClock();
    if (Count < INT32_MAX) ++Count;
  }
  return d > 5;
}

void TMouseMoveDetector::SetIdleWatch(bool on) {
  IdleReset = !on;
  if (on) LastMoveTime = FClock() - IdleInterval - 1;
}

bool TMouseMoveDetector::IsIdle() {
  const int64_t now = FClock();
  if (IdleReset) {
    IdleReset = false;
    LastMoveTime = now;
  }
  return IdleInterval < now - LastMoveTime;
}

// ---- TMouseMonitor ---------------------------------------------------------

TMouseMonitor::TMouseMonitor(TMonitoredForm* services, bool autoFree, TMsClock clock)
    : AutoFree(autoFree), FClock(std::move(clock)) {
  QEL_ASSERT(services != nullptr, "TMouseMonitor: no services");
  Services = foundation::TRef<TMonitoredForm>::AddRef(services);
  Services->Subscribe(this);
}

void TMouseMonitor::Dispose() {
  StopWatching();
  foundation::TRefObject::Dispose();
}

void TMouseMonitor::StopWatching() {
  if (!Services) return;
  if (HoverTimerRunning) Services->SetHoverTimer(false);
  HoverTimerRunning = false;
  Services->Unsubscribe(this);
  Services.Reset();
}

void TMouseMonitor::SetEnterLeave(TNotify enter) { OnEnter = enter; }

void TMouseMonitor::SetLeave(TNotify leave) {
  OnLeave = leave;
  if (IsInside()) {
    Inside = true;
    Check();
  }
}

bool TMouseMonitor::IsInside() {
  if (!Services || !Services->HasForm()) return false;
  int32_t x = 0, y = 0;
  if (!Services->GetCursorPos(x, y)) return false;
  Services->ScreenToClient(x, y);
  const foundation::TRect r = Services->GetClientRect();
  return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
}

void TMouseMonitor::SetHidden(bool hidden) {
  LastMoveTime = FClock();
  int32_t x = 0, y = 0;
  if (Services && Services->GetCursorPos(x, y)) {
    LastPointX = x;
    LastPointY = y;
  }
  if (hidden != Hidden) {
    Hidden = hidden;
    if (OnHiddenChanged) OnHiddenChanged(this);
  }
}

void TMouseMonitor::SetHideInterval(int32_t ms) {
  if (ms < 0) ms = 0;
  if (ms == HideInterval) return;
  HideInterval = ms;
  SetHidden(Hidden);
}

void TMouseMonitor::Check() {
  if (OnCheck) OnCheck(this);
  if (OnEnter || OnLeave) {
    const bool inside = IsInside();
    if (inside != Inside) {
      Inside = inside;
      if (inside) {
        if (OnEnter) OnEnter(this);
      } else if (OnLeave) {
        OnLeave(this);
      }
    }
  }
  if (Services && Inside != HoverTimerRunning) {
    HoverTimerRunning = Inside;
    Services->SetHoverTimer(Inside);
  }
  if (HideInterval > 0 && FClock() - LastMoveTime > HideInterval) SetHidden(true);
}

void TMouseMonitor::JitterTest() {
  // A hidden cursor must come back at the first real move even when no
  // interval hides it again (hidden once at start).
  if (HideInterval == 0 && !Hidden) return;
  int32_t x = 0, y = 0;
  if (!Services || !Services->GetCursorPos(x, y)) return;
  // LastPoint starts at -2147483647: the differences need 64 bits.
  if (std::llabs(int64_t(x) - LastPointX) <= 4 && std::llabs(int64_t(y) - LastPointY) <= 4) return;
  SetHidden(false);
}

void TMouseMonitor::HandleEvent(int32_t kind) {
  switch (kind) {
    case mmeDestroyed: {
      StopWatching();
      Check();
      if (AutoFree) Free();  // the last statement: this may be gone after it
      return;
    }
    case mmeActivated:
      if (OnActivate) OnActivate(this, true);
      return;
    case mmeDeactivated:
      if (OnActivate) OnActivate(this, false);
      return;
    case mmeClick:
      if (OnClick && !(Services && Services->StateQuery())) OnClick(this);
      return;
    case mmeChanged:
      Check();
      return;
    case mmeMouseMoved:
      if (BlockInput) return;
      Check();
      JitterTest();
      return;
    default:
      foundation::QelAssertFail("TMouseMonitor: unexpected event");
  }
}

}  // namespace player
