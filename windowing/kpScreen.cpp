#include "windowing/kpScreen.h"

#include <algorithm>

namespace windowing {

namespace pw = platform::window;
using pw::Rect;

namespace {

TScreen* g_screen = nullptr;

using EnumFn = bool (*)(pw::HDC, const Rect*, const pw::MonitorEnumProc&);
using InfoFn = bool (*)(HMONITOR, pw::MonitorInfo&);

bool IsEmpty(const Rect& r) { return r.right <= r.left || r.bottom <= r.top; }
Rect Intersect(const Rect& a, const Rect& b) {
  return Rect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
}

Rect ScreenRect() { return Rect{0, 0, pw::getSystemMetrics(pw::SM_CXSCREEN), pw::getSystemMetrics(pw::SM_CYSCREEN)}; }

// The single-monitor substitute for systems without the monitor functions.
bool SubstituteEnum(pw::HDC, const Rect* clip, const pw::MonitorEnumProc& proc) {
  Rect r = ScreenRect();
  if (clip) r = Intersect(r, *clip);
  if (IsEmpty(r)) return true;
  return proc(SubstituteMonitor, r);
}

bool SubstituteInfo(HMONITOR monitor, pw::MonitorInfo& info) {
  if (monitor != SubstituteMonitor || info.cbSize < pw::MONITORINFO_SIZE) return false;
  info.rcMonitor = ScreenRect();
  if (!pw::systemParametersInfo(pw::SPI_GETWORKAREA, 0, &info.rcWork, 0)) info.rcWork = info.rcMonitor;
  info.dwFlags = pw::MONITORINFOF_PRIMARY;
  if (info.cbSize > 71) info.deviceName = u"DISPLAY";
  return true;
}

EnumFn Enum() {
  auto fn = reinterpret_cast<EnumFn>(pw::optionalEntry("USER32.DLL", "EnumDisplayMonitors"));
  return fn ? fn : &SubstituteEnum;
}

InfoFn Info() {
  auto fn = reinterpret_cast<InfoFn>(pw::optionalEntry("USER32.DLL", "GetMonitorInfoA"));
  return fn ? fn : &SubstituteInfo;
}

bool Query(HMONITOR monitor, uint32_t size, pw::MonitorInfo& info) {
  info.cbSize = size;
  return Info()(monitor, info);
}

}  // namespace

Rect kpScreen::TMonitor::GetBounds(const TMonitor* monitor) {
  if (!monitor) return EmptyRect;
  return GetMonitorRect(monitor->Handle);
}

Rect kpScreen::TMonitor::GetWorkArea(const TMonitor* monitor) {
  pw::MonitorInfo info;
  if (!monitor || !Query(monitor->Handle, pw::MONITORINFO_SIZE, info)) return ZeroRect;
  return info.rcWork;
}

bool kpScreen::TMonitor::IsPrimary(const TMonitor* monitor) {
  pw::MonitorInfo info;
  if (!monitor || !Query(monitor->Handle, pw::MONITORINFO_SIZE, info)) return false;
  return (info.dwFlags & pw::MONITORINFOF_PRIMARY) != 0;
}

Rect GetMonitorRect(HMONITOR monitor) {
  pw::MonitorInfo info;
  if (!Query(monitor, pw::MONITORINFOEX_SIZE, info)) return ZeroRect;
  return info.rcMonitor;
}

TScreen::TScreen() {
  Enum()(0, nullptr, [this](HMONITOR m, const Rect&) {
    FMonitors.push_back(new kpScreen::TMonitor(m, static_cast<int32_t>(FMonitors.size())));
    return true;
  });
}

void TScreen::Dispose() {
  for (kpScreen::TMonitor* m : FMonitors) delete m;
  FMonitors.clear();
  TRefObject::Dispose();
}

kpScreen::TMonitor* TScreen::GetMonitor(int32_t index) const {
  return index >= 0 && index < GetMonitorCount() ? FMonitors[static_cast<size_t>(index)] : nullptr;
}

pw::Point TScreen::GetCursorPos() {
  pw::Point p;
  pw::getCursorPos(p);
  return p;
}

pw::Point TScreen::GetSize() { return pw::Point{pw::getSystemMetrics(pw::SM_CXSCREEN), pw::getSystemMetrics(pw::SM_CYSCREEN)}; }

int32_t TScreen::GetRefreshRate() {
  const pw::HDC dc = pw::getDC(0);
  const int32_t hz = pw::getDeviceCaps(dc, pw::VREFRESH);
  pw::releaseDC(0, dc);
  return hz;
}

bool TScreen::GetWorkArea(Rect& rect) { return pw::systemParametersInfo(pw::SPI_GETWORKAREA, 0, &rect, 0); }

void TScreen::GetDesktopRect(Rect& rect) {
  const bool ok = Enum()(0, nullptr, [&](HMONITOR m, const Rect&) {
    const Rect b = GetMonitorRect(m);
    if (IsEmpty(b)) return true;
    if (IsEmpty(rect)) {
      rect = b;
    } else {
      rect = Rect{std::min(rect.left, b.left), std::min(rect.top, b.top), std::max(rect.right, b.right),
                  std::max(rect.bottom, b.bottom)};
    }
    return true;
  });
  if (ok) return;
  if (!pw::getWindowRect(pw::getDesktopWindow(), rect)) rect = ZeroRect;
}

kpScreen::TMonitor* TScreen::MonitorFromRect(const Rect& rect) {
  if (IsEmpty(rect)) return nullptr;
  int64_t best = -1;
  int32_t result = -1;
  for (int32_t i = 0; i < GetMonitorCount(); ++i) {
    const Rect x = Intersect(kpScreen::TMonitor::GetBounds(FMonitors[static_cast<size_t>(i)]), rect);
    if (IsEmpty(x)) continue;
    const int32_t area = (x.right - x.left) * (x.bottom - x.top);
    if (area > best) {
      best = area;
      result = i;
    }
  }
  return GetMonitor(result);
}

int32_t TScreen::GetPixelsPerInch() {
  if (FPpiX == 0) {
    const pw::HDC dc = pw::getDC(0);
    FPpiX = pw::getDeviceCaps(dc, pw::LOGPIXELSX);
    FPpiY = pw::getDeviceCaps(dc, pw::LOGPIXELSY);
    pw::releaseDC(0, dc);
  }
  return FPpiX;
}

int32_t TScreen::GetColorDepth() {
  const pw::HDC dc = pw::createDisplayDC();
  const int32_t bits = pw::getDeviceCaps(dc, pw::BITSPIXEL);
  pw::deleteDC(dc);
  return bits;
}

TScreen* GetScreen() {
  if (!g_screen) g_screen = new TScreen;
  return g_screen;
}

void DoneScreen() { foundation::FreeAndNil(g_screen); }

}  // namespace windowing
