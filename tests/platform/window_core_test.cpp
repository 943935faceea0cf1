// The display-free window core on the headless backend: classes, creation
// and destruction order, queues, WM_QUIT, timers on the manual clock,
// geometry kept in the records, monitors and the screen saver.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/os/errors.h"
#include "platform/os/manual/Clock_manual.h"
#include "platform/window/api.h"
#include "platform/window/headless/Window_headless.h"

using namespace platform::window;

namespace {

struct Seen {
  HWND hwnd;
  uint32_t message;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Seen> g_seen;
LRESULT g_ncCreateAnswer = 1;
LRESULT g_createAnswer = 0;
void* g_createParam = nullptr;

LRESULT RecordingProc(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  g_seen.push_back({hwnd, message, wParam, lParam});
  if (message == WM_NCCREATE) {
    g_createParam = reinterpret_cast<CreateStruct*>(lParam)->lpCreateParams;
    return g_ncCreateAnswer;
  }
  if (message == WM_CREATE) return g_createAnswer;
  if (message == WM_USER + 1) return static_cast<LRESULT>(wParam * 2);
  if (message == WM_STYLECHANGING) {
    // A window that refuses to lose its caption.
    reinterpret_cast<StyleStruct*>(lParam)->styleNew |= WS_CAPTION;
    return 0;
  }
  return defWindowProc(hwnd, message, wParam, lParam);
}

std::vector<uint32_t> MessagesOf(HWND hwnd) {
  std::vector<uint32_t> out;
  for (const Seen& s : g_seen)
    if (s.hwnd == hwnd) out.push_back(s.message);
  return out;
}

class WindowCore : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    g_ncCreateAnswer = 1;
    g_createAnswer = 0;
    headless().reset();
    setWindowBackend(nullptr);
    WndClass cls;
    cls.lpfnWndProc = &RecordingProc;
    cls.className = u"Recorder";
    ASSERT_NE(registerClass(cls), 0);
  }
  void TearDown() override {
    for (HWND h : topLevelWindows()) destroyWindow(h);
    Msg m;
    while (peekMessage(m, 0, 0, 0, PM_REMOVE)) {
    }
    EXPECT_TRUE(unregisterClass(u"Recorder", 0));
  }
  HWND Make(uint32_t style = 0, HWND parent = 0, Rect r = {10, 20, 110, 70}) {
    return createWindowEx(0, u"Recorder", u"title", style, r.left, r.top, r.right - r.left, r.bottom - r.top,
                          parent, 0, 0, nullptr);
  }
};

TEST_F(WindowCore, ClassesAreUniqueWithoutRegardToCaseAndStayWhileWindowsExist) {
  WndClass dup;
  dup.lpfnWndProc = &RecordingProc;
  dup.className = u"RECORDER";
  EXPECT_EQ(registerClass(dup), 0);
  EXPECT_EQ(platform::os::getLastError(), ERROR_CLASS_ALREADY_EXISTS);
  WndClass info;
  ASSERT_TRUE(getClassInfo(0, u"recorder", info));
  EXPECT_EQ(info.lpfnWndProc, &RecordingProc);
  const HWND h = Make();
  EXPECT_FALSE(unregisterClass(u"Recorder", 0));
  EXPECT_EQ(platform::os::getLastError(), ERROR_CLASS_HAS_WINDOWS);
  destroyWindow(h);
  EXPECT_FALSE(getClassInfo(0, u"NoSuchClass", info));
}

TEST_F(WindowCore, CreationSendsNcCreateThenCreateBeforeReturning) {
  int param = 7;
  const HWND h = createWindowEx(0, u"Recorder", u"x", 0, 0, 0, 10, 10, 0, 0, 0, &param);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(MessagesOf(h), (std::vector<uint32_t>{WM_NCCREATE, WM_CREATE}));
  EXPECT_EQ(g_createParam, &param);
  EXPECT_TRUE(isWindow(h));
}

TEST_F(WindowCore, RefusedCreationDestroysTheWindowAndAnswersZero) {
  g_ncCreateAnswer = 0;
  EXPECT_EQ(Make(), 0u);
  g_ncCreateAnswer = 1;
  g_createAnswer = -1;
  EXPECT_EQ(Make(), 0u);
  EXPECT_TRUE(topLevelWindows().empty());
  // The window that refused got its destruction messages.
  ASSERT_FALSE(g_seen.empty());
  EXPECT_EQ(g_seen.back().message, WM_NCDESTROY);
}

TEST_F(WindowCore, DestructionReachesChildrenBeforeTheParentEnds) {
  const HWND parent = Make();
  const HWND child = Make(WS_CHILD, parent);
  const HWND grandchild = Make(WS_CHILD, child);
  g_seen.clear();
  ASSERT_TRUE(destroyWindow(parent));
  std::vector<std::pair<HWND, uint32_t>> order;
  for (const Seen& s : g_seen)
    if (s.message == WM_DESTROY || s.message == WM_NCDESTROY) order.emplace_back(s.hwnd, s.message);
  const std::vector<std::pair<HWND, uint32_t>> expected{
      {parent, WM_DESTROY},       {child, WM_DESTROY},       {grandchild, WM_DESTROY},
      {grandchild, WM_NCDESTROY}, {child, WM_NCDESTROY},     {parent, WM_NCDESTROY}};
  EXPECT_EQ(order, expected);
  EXPECT_FALSE(isWindow(parent));
  EXPECT_FALSE(isWindow(child));
  EXPECT_FALSE(isWindow(grandchild));
  EXPECT_FALSE(postMessage(child, WM_USER, 0, 0));
  EXPECT_EQ(platform::os::getLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowCore, HandlesAreNeverReused) {
  const HWND a = Make();
  destroyWindow(a);
  const HWND b = Make();
  EXPECT_NE(a, b);
  EXPECT_FALSE(isWindow(a));
}

TEST_F(WindowCore, PostedMessagesComeInOrderThenQuitWithItsCode) {
  const HWND h = Make();
  ASSERT_TRUE(postMessage(h, WM_USER + 5, 1, 2));
  postQuitMessage(42);
  ASSERT_TRUE(postMessage(0, WM_USER + 6, 3, 4));
  Msg m;
  ASSERT_EQ(getMessage(m, 0, 0, 0), 1);
  EXPECT_EQ(m.hwnd, h);
  EXPECT_EQ(m.message, WM_USER + 5);
  EXPECT_EQ(m.wParam, 1u);
  EXPECT_EQ(m.lParam, 2);
  ASSERT_EQ(getMessage(m, 0, 0, 0), 1);
  EXPECT_EQ(m.hwnd, 0u);
  EXPECT_EQ(m.message, WM_USER + 6);
  ASSERT_EQ(getMessage(m, 0, 0, 0), 0);
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 42u);
  EXPECT_FALSE(peekMessage(m, 0, 0, 0, PM_REMOVE)) << "the quit is taken once";
}

TEST_F(WindowCore, FiltersAndPeekWithoutRemoval) {
  const HWND a = Make(), b = Make();
  postMessage(a, WM_USER + 1, 0, 0);
  postMessage(b, WM_USER + 2, 0, 0);
  postMessage(0, WM_USER + 3, 0, 0);
  Msg m;
  ASSERT_TRUE(peekMessage(m, b, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_USER + 2);
  ASSERT_TRUE(peekMessage(m, HWND_THREAD_ONLY, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER + 3);
  ASSERT_TRUE(peekMessage(m, 0, WM_USER + 2, WM_USER + 2, PM_REMOVE));
  EXPECT_EQ(m.hwnd, b);
  ASSERT_TRUE(peekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.hwnd, a);
  EXPECT_FALSE(peekMessage(m, 0, 0, 0, PM_REMOVE));
}

TEST_F(WindowCore, GetMessageAnswersMinusOneForAnInvalidWindowFilter) {
  Msg m;
  EXPECT_EQ(getMessage(m, 0xDEAD0, 0, 0), -1);
  EXPECT_EQ(platform::os::getLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowCore, DispatchCallsTheCurrentProcedureAndSendIsDirectOnTheSameThread) {
  const HWND h = Make();
  postMessage(h, WM_USER + 1, 21, 0);
  Msg m;
  ASSERT_EQ(getMessage(m, 0, 0, 0), 1);
  EXPECT_EQ(dispatchMessage(m), 42);
  EXPECT_EQ(sendMessage(h, WM_USER + 1, 5, 0), 10);
  EXPECT_TRUE(lastSendDelivered());
  EXPECT_EQ(sendMessage(0xBAD0, WM_USER + 1, 5, 0), 0);
  EXPECT_FALSE(lastSendDelivered());
}

TEST_F(WindowCore, DestroyingAWindowDropsItsPostedMessagesAndTimers) {
  platform::os::ScopedManualClock clock(1000);
  const HWND a = Make(), b = Make();
  postMessage(a, WM_USER, 0, 0);
  postMessage(b, WM_USER, 0, 0);
  setTimer(a, 1, 10, nullptr);
  destroyWindow(a);
  clock->advance(50);
  Msg m;
  ASSERT_TRUE(peekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.hwnd, b);
  EXPECT_FALSE(peekMessage(m, 0, 0, 0, PM_REMOVE));
}

int g_timerCalls = 0;
void TimerProc(HWND, uint32_t message, uintptr_t id, uint32_t) {
  EXPECT_EQ(message, WM_TIMER);
  g_timerCalls += static_cast<int>(id);
}

TEST_F(WindowCore, QueueTimersFallDueOnTheManualClockAfterPostedMessages) {
  platform::os::ScopedManualClock clock(5000);
  const HWND h = Make();
  ASSERT_EQ(setTimer(h, 7, 100, nullptr), 1u);
  const uintptr_t threadTimer = setTimer(0, 0, 250, &TimerProc);
  ASSERT_NE(threadTimer, 0u);
  Msg m;
  clock->advance(99);
  EXPECT_FALSE(peekMessage(m, 0, 0, 0, PM_REMOVE));
  clock->advance(1);
  postMessage(h, WM_USER, 0, 0);
  ASSERT_TRUE(peekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER) << "posted messages come before timers";
  ASSERT_TRUE(peekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_EQ(m.hwnd, h);
  EXPECT_EQ(m.wParam, 7u);
  EXPECT_FALSE(peekMessage(m, 0, 0, 0, PM_REMOVE)) << "the next period starts at delivery";
  // 350 ms later both are due; each gives one WM_TIMER however late it is.
  clock->advance(350);
  g_timerCalls = 0;
  int timers = 0;
  while (peekMessage(m, 0, 0, 0, PM_REMOVE)) {
    ASSERT_EQ(m.message, WM_TIMER);
    dispatchMessage(m);
    ++timers;
  }
  EXPECT_EQ(timers, 2);
  EXPECT_EQ(g_timerCalls, static_cast<int>(threadTimer));
  EXPECT_TRUE(killTimer(0, threadTimer));
  EXPECT_FALSE(killTimer(0, threadTimer));
}

TEST_F(WindowCore, PaintComesLastAndStopsOnceValidated) {
  const HWND h = Make();
  ASSERT_TRUE(invalidateRect(h, nullptr, true));
  invalidateRect(h, nullptr, true);
  postMessage(h, WM_USER, 0, 0);
  Msg m;
  ASSERT_TRUE(peekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_USER);
  ASSERT_TRUE(peekMessage(m, 0, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_PAINT);
  ASSERT_TRUE(peekMessage(m, 0, 0, 0, PM_REMOVE)) << "until the window validates, it keeps coming";
  dispatchMessage(m);  // the default handling validates
  EXPECT_FALSE(peekMessage(m, 0, 0, 0, PM_REMOVE));
  invalidateRect(h, nullptr, false);
  g_seen.clear();
  updateWindow(h);
  EXPECT_EQ(MessagesOf(h), std::vector<uint32_t>{WM_PAINT});
  EXPECT_FALSE(peekMessage(m, 0, 0, 0, PM_REMOVE));
  invalidateRect(h, nullptr, false);
  destroyWindow(h);
  EXPECT_FALSE(peekMessage(m, 0, 0, 0, PM_REMOVE)) << "a destroyed window paints nothing";
}

// Invalidations unite into one update rectangle; a paint pass hands it out,
// validates the window and draws through a DC over the back surface.
TEST_F(WindowCore, PaintPassHandsOutTheUnitedUpdateRectangleAndDrawsIntoTheBackSurface) {
  const HWND h = Make();
  Rect client;
  ASSERT_TRUE(getClientRect(h, client));
  Rect u;
  EXPECT_FALSE(getUpdateRect(h, u));
  const Rect a{10, 10, 20, 20}, b{5, 30, 8, 40}, none{3, 3, 3, 9};
  invalidateRect(h, &a, false);
  invalidateRect(h, &b, false);
  invalidateRect(h, &none, false);  // an empty rectangle adds nothing
  ASSERT_TRUE(getUpdateRect(h, u));
  EXPECT_EQ(u, (Rect{5, 10, 20, 40}));
  PaintStruct ps;
  const HDC dc = beginPaint(h, ps);
  ASSERT_NE(dc, 0u);
  EXPECT_EQ(ps.hdc, dc);
  EXPECT_EQ(ps.rcPaint, (Rect{5, 10, 20, 40}));
  EXPECT_FALSE(getUpdateRect(h, u)) << "the paint pass takes the update area";
  Msg m;
  EXPECT_FALSE(peekMessage(m, 0, 0, 0, PM_REMOVE)) << "nothing left to paint";
  // A 2 x 1 picture of 24 bits copied to (6, 11).
  uint8_t px[8] = {1, 2, 3, 4, 5, 6, 0, 0};
  const HDC src = createSurfaceDC(px, 2, 1, 24, 8, false);
  ASSERT_TRUE(bitBlt(dc, 6, 11, 2, 1, src, 0, 0, SRCCOPY));
  deleteDC(src);
  EXPECT_TRUE(endPaint(h, ps));
  int32_t w = 0, hh = 0;
  std::vector<uint8_t> bits;
  ASSERT_TRUE(windowSurface(h, w, hh, bits));
  EXPECT_EQ(w, client.right - client.left);
  const size_t at = (size_t(11) * w + 6) * 4;
  EXPECT_EQ(std::vector<uint8_t>(bits.begin() + at, bits.begin() + at + 8),
            (std::vector<uint8_t>{1, 2, 3, 255, 4, 5, 6, 255}));
  // Without a rectangle the whole client area is invalid.
  invalidateRect(h, nullptr, false);
  ASSERT_TRUE(getUpdateRect(h, u));
  EXPECT_EQ(u, (Rect{0, 0, client.right - client.left, client.bottom - client.top}));
  validateRect(h, nullptr);
}

// A window resized while a DC over its back surface is open gets a new back
// surface; the open DC draws into that one, clipped to its size.
TEST_F(WindowCore, ADCHeldAcrossAResizeDrawsIntoTheNewBackSurface) {
  const HWND h = Make();
  const HDC held = getDC(h);
  ASSERT_NE(held, 0u);
  ASSERT_TRUE(setWindowPos(h, 0, 0, 0, 12, 6, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
  const HDC fresh = getDC(h);  // made at the new size
  ASSERT_NE(fresh, 0u);
  uint8_t px[3 * 4] = {9, 8, 7, 9, 8, 7, 9, 8, 7, 9, 8, 7};
  const HDC src = createSurfaceDC(px, 4, 1, 24, 12, false);
  ASSERT_TRUE(bitBlt(held, 10, 5, 4, 1, src, 0, 0, SRCCOPY));
  deleteDC(src);
  EXPECT_EQ(releaseDC(h, fresh), 1);
  EXPECT_EQ(releaseDC(h, held), 1);
  int32_t w = 0, hh = 0;
  std::vector<uint8_t> bits;
  ASSERT_TRUE(windowSurface(h, w, hh, bits));
  ASSERT_EQ(w, 12);
  ASSERT_EQ(hh, 6);
  // Two of the four pixels fit: (10, 5) and (11, 5).
  for (int32_t x = 9; x < 12; ++x) {
    const uint8_t* p = &bits[(size_t(5) * 12 + x) * 4];
    const std::vector<uint8_t> want = x >= 10 ? std::vector<uint8_t>{9, 8, 7, 255} : std::vector<uint8_t>{0, 0, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(p, p + 4), want) << "at x " << x;
  }
  destroyWindow(h);
}

// A destroyed window's back surface goes with it; a DC still open over it
// refuses blits instead of writing into freed memory.
TEST_F(WindowCore, ADestroyedWindowTakesItsBackSurfaceAlong) {
  const HWND h = Make();
  const HDC held = getDC(h);
  ASSERT_NE(held, 0u);
  int32_t w = 0, hh = 0;
  std::vector<uint8_t> bits;
  ASSERT_TRUE(windowSurface(h, w, hh, bits));
  destroyWindow(h);
  EXPECT_FALSE(windowSurface(h, w, hh, bits));
  uint8_t px[4] = {1, 2, 3, 0};
  const HDC src = createSurfaceDC(px, 1, 1, 24, 4, false);
  EXPECT_FALSE(bitBlt(held, 0, 0, 1, 1, src, 0, 0, SRCCOPY));
  deleteDC(src);
  EXPECT_EQ(releaseDC(h, held), 0);
}

TEST_F(WindowCore, RegisteredMessagesAreStablePerName) {
  const uint32_t a = registerWindowMessage(u"TaskbarButtonCreated");
  const uint32_t b = registerWindowMessage(u"MSWHEEL_ROLLMSG");
  EXPECT_GE(a, 0xC000u);
  EXPECT_LE(a, 0xFFFFu);
  EXPECT_NE(a, b);
  EXPECT_EQ(registerWindowMessage(u"taskbarbuttoncreated"), a);
  EXPECT_EQ(registerWindowMessage(u""), 0u);
}

LRESULT Subclass(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER + 1) return 99;
  return callWindowProc(&RecordingProc, hwnd, message, wParam, lParam);
}

TEST_F(WindowCore, SubclassingReplacesTheProcedureAndStylesPassThroughStyleChanging) {
  const HWND h = Make(WS_POPUP);
  const intptr_t old = setWindowLongPtr(h, GWLP_WNDPROC, reinterpret_cast<intptr_t>(&Subclass));
  EXPECT_EQ(old, reinterpret_cast<intptr_t>(&RecordingProc));
  EXPECT_EQ(sendMessage(h, WM_USER + 1, 1, 0), 99);
  setWindowLongPtr(h, GWL_STYLE, static_cast<int32_t>(WS_POPUP | WS_THICKFRAME));
  EXPECT_EQ(static_cast<uint32_t>(getWindowLongPtr(h, GWL_STYLE)), WS_POPUP | WS_THICKFRAME | WS_CAPTION);
  EXPECT_EQ(MessagesOf(h).back(), WM_STYLECHANGED);
}

TEST_F(WindowCore, TextGoesThroughSetTextAndReadsBack) {
  const HWND h = Make();
  ASSERT_TRUE(setWindowText(h, u"Zoë"));
  EXPECT_EQ(getWindowText(h), u"Zoë");
  EXPECT_EQ(getWindowTextLength(h), 3);
  EXPECT_EQ(MessagesOf(h).back(), WM_SETTEXT);
  char16_t buffer[3];
  EXPECT_EQ(sendMessage(h, WM_GETTEXT, 3, reinterpret_cast<LPARAM>(buffer)), 2);
  EXPECT_EQ(std::u16string(buffer), u"Zo");
}

TEST_F(WindowCore, ShowingSendsShowWindowPositionAndActivationInOrder) {
  const HWND h = Make();
  g_seen.clear();
  EXPECT_FALSE(showWindow(h, SW_SHOWNORMAL));
  std::vector<uint32_t> expected{WM_SHOWWINDOW, WM_WINDOWPOSCHANGED, WM_SIZE, WM_MOVE, WM_ACTIVATE};
  EXPECT_EQ(MessagesOf(h), expected);
  EXPECT_TRUE(isWindowVisible(h));
  EXPECT_EQ(getActiveWindow(), h);
  EXPECT_TRUE(showWindow(h, SW_HIDE));
  EXPECT_FALSE(isWindowVisible(h));
  EXPECT_EQ(getActiveWindow(), 0u);
}

TEST_F(WindowCore, MaximisingCoversTheWorkAreaAndRestoringGivesTheNormalRectangleBack) {
  const HWND h = Make(0, 0, Rect{10, 20, 110, 70});
  showWindow(h, SW_SHOWMAXIMIZED);
  Rect r;
  ASSERT_TRUE(getWindowRect(h, r));
  EXPECT_EQ(r, (Rect{0, 0, 1920, 1040}));
  WindowPlacement p;
  ASSERT_TRUE(getWindowPlacement(h, p));
  EXPECT_EQ(p.showCmd, static_cast<uint32_t>(SW_SHOWMAXIMIZED));
  EXPECT_EQ(p.rcNormalPosition, (Rect{10, 20, 110, 70}));
  showWindow(h, SW_RESTORE);
  ASSERT_TRUE(getWindowRect(h, r));
  EXPECT_EQ(r, (Rect{10, 20, 110, 70}));
  // A hidden window keeps a placement's show command for later.
  showWindow(h, SW_HIDE);
  p.showCmd = SW_SHOWMINIMIZED;
  ASSERT_TRUE(setWindowPlacement(h, p));
  EXPECT_FALSE(isWindowVisible(h));
  EXPECT_TRUE(isIconic(h));
}

TEST_F(WindowCore, ChildGeometryAndWindowFromPointDescendIntoVisibleChildren) {
  const HWND top = Make(WS_VISIBLE, 0, Rect{100, 100, 500, 400});
  const HWND child = Make(WS_CHILD | WS_VISIBLE, top, Rect{50, 60, 150, 160});
  const HWND hidden = Make(WS_CHILD, top, Rect{200, 200, 300, 300});
  Rect r;
  ASSERT_TRUE(getWindowRect(child, r));
  EXPECT_EQ(r, (Rect{150, 160, 250, 260}));
  Point p{0, 0};
  ASSERT_TRUE(clientToScreen(child, p));
  EXPECT_EQ(p, (Point{150, 160}));
  EXPECT_EQ(windowFromPoint(Point{160, 170}), child);
  EXPECT_EQ(windowFromPoint(Point{320, 320}), top) << "hidden children are passed over";
  EXPECT_EQ(windowFromPoint(Point{5, 5}), 0u);
  EXPECT_EQ(getParent(hidden), top);
  EXPECT_EQ(topLevelOf(child), top);
}

TEST_F(WindowCore, MonitorsComeFromTheBackend) {
  MonitorDesc a, b;
  a.bounds = {0, 0, 1280, 1024};
  a.work = {0, 0, 1280, 984};
  a.refreshHz = 75;
  a.bitsPerPixel = 24;
  a.dpiX = a.dpiY = 120;
  b.bounds = {1280, 0, 3200, 1080};
  b.work = b.bounds;
  headless().setMonitors({a, b});
  std::vector<std::pair<HMONITOR, Rect>> seen;
  const Rect clip{1000, 0, 1500, 100};
  EXPECT_TRUE(enumDisplayMonitors(0, &clip, [&](HMONITOR m, const Rect& r) {
    seen.emplace_back(m, r);
    return true;
  }));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].second, (Rect{1000, 0, 1280, 100}));
  EXPECT_EQ(seen[1].second, (Rect{1280, 0, 1500, 100}));
  MonitorInfo info;
  info.cbSize = MONITORINFOEX_SIZE;
  ASSERT_TRUE(getMonitorInfo(seen[1].first, info));
  EXPECT_EQ(info.rcMonitor, b.bounds);
  EXPECT_EQ(info.dwFlags, 0u);
  EXPECT_EQ(info.deviceName, u"\\\\.\\DISPLAY2");
  info.cbSize = 39;
  EXPECT_FALSE(getMonitorInfo(seen[0].first, info));
  EXPECT_EQ(getSystemMetrics(SM_CXSCREEN), 1280);
  Rect work;
  ASSERT_TRUE(systemParametersInfo(SPI_GETWORKAREA, 0, &work, 0));
  EXPECT_EQ(work, a.work);
  const HDC dc = getDC(0);
  EXPECT_EQ(getDeviceCaps(dc, VREFRESH), 75);
  EXPECT_EQ(getDeviceCaps(dc, BITSPIXEL), 24);
  EXPECT_EQ(getDeviceCaps(dc, LOGPIXELSY), 120);
  releaseDC(0, dc);
  Rect desktop;
  ASSERT_TRUE(getWindowRect(getDesktopWindow(), desktop));
  EXPECT_EQ(desktop, (Rect{0, 0, 3200, 1080}));
}

TEST_F(WindowCore, ScreenSaverIsHeldOffWhileEitherRequestStands) {
  EXPECT_FALSE(screenSaverInhibited());
  setThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED);
  EXPECT_TRUE(headless().inhibited());
  systemParametersInfo(SPI_SETSCREENSAVEACTIVE, 0, nullptr, 0);
  setThreadExecutionState(ES_CONTINUOUS);
  EXPECT_TRUE(headless().inhibited()) << "the saver setting still holds it off";
  systemParametersInfo(SPI_SETSCREENSAVEACTIVE, 1, nullptr, 0);
  EXPECT_FALSE(headless().inhibited());
  EXPECT_EQ(headless().inhibitChanges(), 2);
}

TEST_F(WindowCore, BackendSeesTopLevelWindowsOnly) {
  const HWND top = Make();
  Make(WS_CHILD, top);
  EXPECT_EQ(headless().liveWindows(), std::vector<HWND>{top});
  destroyWindow(top);
  EXPECT_TRUE(headless().liveWindows().empty());
  EXPECT_EQ(nativeWindowOf(top), nullptr);
}

TEST_F(WindowCore, OptionalEntriesAnswerFromTheTable) {
  EXPECT_TRUE(optionalLibraryPresent("DWMAPI.DLL"));
  EXPECT_NE(optionalEntry("dwmapi", "DwmIsCompositionEnabled"), nullptr);
  EXPECT_EQ(optionalEntry("DWMAPI.DLL", "DwmSetWindowAttribute"), nullptr);
  EXPECT_FALSE(optionalLibraryPresent("WtsApi32"));
  OptionalEntries none;
  const OptionalEntries previous = setOptionalEntries(none);
  EXPECT_FALSE(optionalLibraryPresent("DWMAPI.DLL"));
  setOptionalEntries(previous);
  EXPECT_TRUE(optionalLibraryPresent("dwmapi"));
}

}  // namespace
