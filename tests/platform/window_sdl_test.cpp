// The window core on SDL2's offscreen driver: a real top-level window opened
// by showing and closed through the message loop, monitors from SDL, and
// the screen saver held off while asked and given back after.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/os/threads.h"
#include "platform/window/api.h"
#include "tests/support/GlDriverLeaks.h"

using namespace platform::window;

namespace {

int g_destroyed = 0;
LRESULT TopProc(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    ++g_destroyed;
    postQuitMessage(5);
  }
  return defWindowProc(hwnd, message, wParam, lParam);
}

class SdlWindows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    backend = sdlWindowBackend();
    ASSERT_NE(backend, nullptr);
    previous = setWindowBackend(backend);
    WndClass cls;
    cls.lpfnWndProc = &TopProc;
    cls.className = u"Top";
    ASSERT_NE(registerClass(cls), 0);
  }
  static void TearDownTestSuite() {
    unregisterClass(u"Top", 0);
    backend->shutdown();
    setWindowBackend(previous);
  }
  static WindowBackend* backend;
  static WindowBackend* previous;
};
WindowBackend* SdlWindows::backend = nullptr;
WindowBackend* SdlWindows::previous = nullptr;

TEST_F(SdlWindows, AShownWindowGetsARealWindowAndTheLoopClosesIt) {
  const HWND h = createWindowEx(0, u"Top", u"Show", WS_CAPTION | WS_THICKFRAME, 40, 50, 320, 200, 0, 0, 0, nullptr);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(nativeWindowOf(h), nullptr) << "made when first shown";
  showWindow(h, SW_SHOWNORMAL);
  EXPECT_NE(nativeWindowOf(h), nullptr);
  KeepGlDriverLoaded();
  g_destroyed = 0;
  ASSERT_TRUE(postMessage(h, WM_CLOSE, 0, 0));
  Msg m;
  int r;
  while ((r = getMessage(m, 0, 0, 0)) > 0) dispatchMessage(m);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(m.wParam, 5u);
  EXPECT_EQ(g_destroyed, 1);
  EXPECT_FALSE(isWindow(h));
  EXPECT_EQ(nativeWindowOf(h), nullptr);
}

TEST_F(SdlWindows, ChildrenAndHiddenWindowsHaveNoWindowOfTheirOwn) {
  const HWND top = createWindowEx(0, u"Top", u"", WS_VISIBLE, 0, 0, 100, 100, 0, 0, 0, nullptr);
  const HWND child = createWindowEx(0, u"Top", u"", WS_CHILD | WS_VISIBLE, 5, 5, 10, 10, top, 0, 0, nullptr);
  const HWND hidden = createWindowEx(0, u"Top", u"", 0, 0, 0, 100, 100, 0, 0, 0, nullptr);
  KeepGlDriverLoaded();
  EXPECT_EQ(nativeWindowOf(child), nativeWindowOf(top)) << "a child draws into its top-level window";
  EXPECT_NE(nativeWindowOf(top), nullptr);
  EXPECT_EQ(nativeWindowOf(hidden), nullptr);
  destroyWindow(hidden);
  destroyWindow(top);
  Msg m;
  while (peekMessage(m, 0, 0, 0, PM_REMOVE)) {
  }
}

TEST_F(SdlWindows, MonitorsComeFromSdlsDisplays) {
  int n = 0;
  Rect first;
  enumDisplayMonitors(0, nullptr, [&](HMONITOR m, const Rect& r) {
    if (n++ == 0) first = r;
    MonitorInfo info;
    EXPECT_TRUE(getMonitorInfo(m, info));
    EXPECT_LE(info.rcWork.right - info.rcWork.left, info.rcMonitor.right - info.rcMonitor.left);
    return true;
  });
  ASSERT_GE(n, 1);
  EXPECT_GT(first.right - first.left, 0);
  EXPECT_EQ(getSystemMetrics(SM_CXSCREEN), first.right - first.left);
  const HDC dc = getDC(0);
  EXPECT_GT(getDeviceCaps(dc, VREFRESH), 0);
  EXPECT_GT(getDeviceCaps(dc, BITSPIXEL), 15);
  EXPECT_GT(getDeviceCaps(dc, LOGPIXELSX), 0);
  releaseDC(0, dc);
}

TEST_F(SdlWindows, TheScreenSaverIsHeldOffWhileAskedAndGivenBack) {
  EXPECT_FALSE(backend->screenSaverHeldOff());
  setThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED);
  EXPECT_TRUE(backend->screenSaverHeldOff());
  setThreadExecutionState(ES_CONTINUOUS);
  EXPECT_FALSE(backend->screenSaverHeldOff());
  // A program ending with the request still on gives it back on its way
  // out (the backend's shutdown, also run at exit).
  setThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED);
  EXPECT_TRUE(backend->screenSaverHeldOff());
  backend->shutdown();
  EXPECT_FALSE(backend->screenSaverHeldOff());
  setThreadExecutionState(ES_CONTINUOUS);
}

}  // namespace
