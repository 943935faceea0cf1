// The screen: the display monitors found when it was made, and direct
// queries of the primary display (size, refresh rate, work area, pixels per
// inch, colour depth).
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/SysObj.h"
#include "platform/window/api.h"

namespace windowing {

using platform::window::HMONITOR;

namespace kpScreen {

class TMonitor {
 public:
  TMonitor(HMONITOR handle, int32_t index) : Handle(handle), Index(index) {}
  HMONITOR Handle;
  int32_t Index;
  // The monitor rectangle; none gives the empty rectangle, a failed query
  // the zero rectangle.
  static platform::window::Rect GetBounds(const TMonitor* monitor);
  // The work area and the primary flag; a failed query gives the zero
  // rectangle and false.
  static platform::window::Rect GetWorkArea(const TMonitor* monitor);
  static bool IsPrimary(const TMonitor* monitor);
};

}  // namespace kpScreen

constexpr platform::window::Rect EmptyRect{2147483647, 2147483647, -2147483647 - 1, -2147483647 - 1};
constexpr platform::window::Rect ZeroRect{0, 0, 0, 0};
// The handle of the one monitor of the substitute used when the monitor
// functions are missing.
constexpr HMONITOR SubstituteMonitor = 0x12340042;

class TScreen : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TScreen)
  TScreen();
  void Dispose() override;
  int32_t GetMonitorCount() const { return static_cast<int32_t>(FMonitors.size()); }
  kpScreen::TMonitor* GetMonitor(int32_t index) const;
  platform::window::Point GetCursorPos();
  platform::window::Point GetSize();
  int32_t GetRefreshRate();
  bool GetWorkArea(platform::window::Rect& rect);
  void GetDesktopRect(platform::window::Rect& rect);
  kpScreen::TMonitor* MonitorFromRect(const platform::window::Rect& rect);
  int32_t GetPixelsPerInch();
  // The vertical value read with the horizontal one (0 before).
  int32_t PixelsPerInchY() const { return FPpiY; }
  int32_t GetColorDepth();

 private:
  std::vector<kpScreen::TMonitor*> FMonitors;
  int32_t FPpiX = 0, FPpiY = 0;
};

TScreen* GetScreen();
platform::window::Rect GetMonitorRect(HMONITOR monitor);
// Unit end: frees the screen.
void DoneScreen();

}  // namespace windowing
