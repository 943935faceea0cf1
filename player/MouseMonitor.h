// Watching the mouse over the player's window: whether the pointer is
// inside, whether it has been idle long enough to hide the cursor, and the
// window's activation; and telling real mouse movements from jitter.
// Main thread only.
#pragma once

#include <cstdint>
#include <functional>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "foundation/kpThreads2.h"

namespace player {

// The milliseconds clock the monitor and the detector read (tests inject one).
using TMsClock = std::function<int64_t()>;
TMsClock DefaultMsClock();

// The position a "pointer left the window" move is sent to. It is no
// position: the move detector ignores it.
constexpr int32_t kNoMousePosition = 2147483647;

// A mouse coordinate from a computed double: NaN and values out of range
// saturate at the int32 limits (so the leave position survives the
// double-to-integer steps of the hit tests intact).
int32_t SaturateMouseCoordinate(double v);

class TMouseMoveDetector : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMouseMoveDetector)
  explicit TMouseMoveDetector(TMsClock clock = DefaultMsClock());

  // True for a movement of more than 5 pixels (Manhattan distance) from the
  // last counted point; the first point is stored and answers false. The
  // leave position is ignored.
  bool Moved(int32_t x, int32_t y);
  void SetIdleWatch(bool on);
  bool IsIdle();

  int32_t Count = 0;
  bool IdleReset = false;
  int32_t X = 0, Y = 0;
  int64_t LastMoveTime = 0;
  int32_t IdleInterval = 0;

 private:
  TMsClock FClock;
};

class TMouseMonitor;

// What the monitor needs of the watched window: its pointer position and
// client area, its state query, and a 20 ms hover timer. The window's side
// delivers its events to TMouseMonitor::HandleEvent and each timer tick to
// TMouseMonitor::Check. It keeps its subscribers as plain pointers and
// sends mmeDestroyed when its window goes: the monitor holds a reference to
// it until then, so that event cannot come from its own last release.
class TMonitoredForm : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMonitoredForm)
  virtual bool HasForm() = 0;
  // The pointer's screen position; false when it is not known.
  virtual bool GetCursorPos(int32_t& x, int32_t& y) = 0;
  // A screen point converted to client coordinates in place.
  virtual void ScreenToClient(int32_t& x, int32_t& y) = 0;
  virtual foundation::TRect GetClientRect() = 0;
  // True when a click is not the user's (the form's state query).
  virtual bool StateQuery() = 0;
  virtual void Subscribe(TMouseMonitor* monitor) = 0;
  virtual void Unsubscribe(TMouseMonitor* monitor) = 0;
  // Starts (true) or stops the 20 ms hover timer.
  virtual void SetHoverTimer(bool running) = 0;
};

// Event numbers of the watched window that the monitor handles.
enum : int32_t {
  mmeDestroyed = 0,
  mmeActivated = 1,
  mmeDeactivated = 2,
  mmeClick = 4,
  mmeChanged = 6,
  mmeMouseMoved = 21,
};

class TMouseMonitor : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMouseMonitor)
  using TNotify = foundation::TMethod<void(TMouseMonitor* monitor)>;
  using TActivate = foundation::TMethod<void(TMouseMonitor* monitor, bool active)>;

  // The services must be given (assertion). With AutoFree the caller's
  // reference passes to the watched window: the monitor frees itself when
  // the window is destroyed.
  TMouseMonitor(TMonitoredForm* services, bool autoFree, TMsClock clock = DefaultMsClock());
  void Dispose() override;

  void SetEnterLeave(TNotify enter);
  // Also checks at once whether the pointer is inside, and if so marks it
  // inside and runs a check.
  void SetLeave(TNotify leave);
  bool IsInside();
  void SetHidden(bool hidden);
  void SetHideInterval(int32_t ms);
  void HandleEvent(int32_t kind);
  void Check();

  foundation::TRef<TMonitoredForm> Services;
  bool AutoFree = false;
  bool HoverTimerRunning = false;
  bool Inside = false;
  TNotify OnEnter, OnLeave, OnClick;
  int32_t HideInterval = 0;
  bool Hidden = false;
  int32_t LastPointX = -2147483647, LastPointY = -2147483647;
  int64_t LastMoveTime = 0;
  bool BlockInput = false;
  TNotify OnHiddenChanged;
  TNotify OnCheck;
  TActivate OnActivate;

 private:
  void JitterTest();
  void StopWatching();
  TMsClock FClock;
};

}  // namespace player
