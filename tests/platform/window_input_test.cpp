// SDL-shaped input injected through the headless backend and the window
// messages it becomes: mouse routing to children and the capture, double
// clicks, the wheel, keys with their data word, characters.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/window/api.h"
#include "platform/window/headless/Window_headless.h"

using namespace platform::window;

namespace {

constexpr int32_t SDLK_SCANCODE_MASK = 1 << 30;
constexpr uint16_t KMOD_LSHIFT = 0x1, KMOD_LCTRL = 0x40, KMOD_LALT = 0x100, KMOD_NUM = 0x1000;

class Input : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WndClass dbl;
    dbl.lpfnWndProc = &defWindowProc;
    dbl.style = CS_DBLCLKS;
    dbl.className = u"Dbl";
    ASSERT_NE(registerClass(dbl), 0);
    WndClass plain;
    plain.lpfnWndProc = &defWindowProc;
    plain.className = u"NoDbl";
    ASSERT_NE(registerClass(plain), 0);
  }
  void SetUp() override {
    setWindowBackend(nullptr);
    headless().reset();
    top = createWindowEx(0, u"Dbl", u"", WS_VISIBLE, 100, 50, 400, 300, 0, 0, 0, nullptr);
    child = createWindowEx(0, u"NoDbl", u"", WS_CHILD | WS_VISIBLE, 20, 30, 100, 100, top, 0, 0, nullptr);
    Drain();
  }
  void TearDown() override {
    destroyWindow(top);
    Drain();
  }
  // Runs the pump and takes what it posted.
  std::vector<Msg> Drain() {
    std::vector<Msg> out;
    Msg m;
    while (peekMessage(m, 0, 0, 0, PM_REMOVE))
      if (m.message != WM_NULL) out.push_back(m);
    return out;
  }
  std::vector<Msg> Inject(std::vector<InputEvent> events) {
    for (InputEvent& e : events) {
      if (!e.window) e.window = top;
      headless().injectInput(e);
    }
    return Drain();
  }
  static InputEvent Mouse(InputKind kind, int x, int y, uint8_t button = 0, uint8_t clicks = 1) {
    InputEvent e;
    e.kind = kind;
    e.x = x;
    e.y = y;
    e.button = button;
    e.clicks = clicks;
    return e;
  }
  static InputEvent Key(InputKind kind, int32_t keycode, int32_t scancode, uint16_t mod = 0) {
    InputEvent e;
    e.kind = kind;
    e.keycode = keycode;
    e.scancode = scancode;
    e.mod = mod;
    return e;
  }
  HWND top = 0, child = 0;
};

int16_t X(LPARAM l) { return static_cast<int16_t>(l & 0xFFFF); }
int16_t Y(LPARAM l) { return static_cast<int16_t>((l >> 16) & 0xFFFF); }

TEST_F(Input, MouseMessagesGoToTheChildUnderThePointInItsCoordinates) {
  auto msgs = Inject({Mouse(InputKind::MouseMotion, 25, 35), Mouse(InputKind::MouseMotion, 300, 200)});
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0].hwnd, child);
  EXPECT_EQ(msgs[0].message, WM_MOUSEMOVE);
  EXPECT_EQ(X(msgs[0].lParam), 5);
  EXPECT_EQ(Y(msgs[0].lParam), 5);
  EXPECT_EQ(msgs[1].hwnd, top);
  EXPECT_EQ(X(msgs[1].lParam), 300);
}

TEST_F(Input, ButtonsCarryTheirFlagsAndTheCaptureTakesEverything) {
  InputEvent down = Mouse(InputKind::MouseButtonDown, 300, 200, 1);
  down.mod = KMOD_LSHIFT;
  InputEvent move = Mouse(InputKind::MouseMotion, 25, 35);
  move.mod = KMOD_LSHIFT;
  auto msgs = Inject({down, move});
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0].message, WM_LBUTTONDOWN);
  EXPECT_EQ(msgs[0].wParam, static_cast<WPARAM>(MK_LBUTTON | MK_SHIFT));
  EXPECT_EQ(msgs[1].wParam, static_cast<WPARAM>(MK_LBUTTON | MK_SHIFT)) << "the button is still down";
  setCapture(top);
  msgs = Inject({Mouse(InputKind::MouseMotion, 25, 35), Mouse(InputKind::MouseButtonUp, 25, 35, 1)});
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0].hwnd, top);
  EXPECT_EQ(X(msgs[0].lParam), 25);
  EXPECT_EQ(msgs[1].message, WM_LBUTTONUP);
  EXPECT_EQ(msgs[1].wParam, 0u);
  releaseCapture();
}

TEST_F(Input, ASecondClickIsADoubleClickOnlyForClassesThatAskForIt) {
  const std::vector<InputEvent> clicks{
      Mouse(InputKind::MouseButtonDown, 300, 200, 1, 1), Mouse(InputKind::MouseButtonUp, 300, 200, 1, 1),
      Mouse(InputKind::MouseButtonDown, 300, 200, 1, 2), Mouse(InputKind::MouseButtonUp, 300, 200, 1, 2)};
  std::vector<uint32_t> seen;
  for (const Msg& m : Inject(clicks)) seen.push_back(m.message);
  EXPECT_EQ(seen, (std::vector<uint32_t>{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}));
  std::vector<InputEvent> onChild = clicks;
  for (InputEvent& e : onChild) {
    e.x = 30;
    e.y = 40;
  }
  seen.clear();
  for (const Msg& m : Inject(onChild)) seen.push_back(m.message);
  EXPECT_EQ(seen, (std::vector<uint32_t>{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP}));
  auto x = Inject({Mouse(InputKind::MouseButtonDown, 300, 200, 5)});
  ASSERT_EQ(x.size(), 1u);
  EXPECT_EQ(x[0].message, WM_XBUTTONDOWN);
  EXPECT_EQ(x[0].wParam >> 16, 2u);
  Inject({Mouse(InputKind::MouseButtonUp, 300, 200, 5)});
}

LRESULT Refuses(HWND hwnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_MOUSEACTIVATE) return 3;  // MA_NOACTIVATE
  return defWindowProc(hwnd, msg, wParam, lParam);
}

TEST_F(Input, APressActivatesItsWindowUnlessTheWindowRefuses) {
  const HWND other = createWindowEx(0, u"Dbl", u"", WS_VISIBLE, 600, 50, 100, 100, 0, 0, 0, nullptr);
  ASSERT_EQ(getActiveWindow(), other);
  InputEvent press = Mouse(InputKind::MouseButtonDown, 300, 200, 1);
  Inject({press, Mouse(InputKind::MouseButtonUp, 300, 200, 1)});
  EXPECT_EQ(getActiveWindow(), top);
  setWindowLongPtr(other, GWLP_WNDPROC, reinterpret_cast<intptr_t>(&Refuses));
  press.window = other;
  InputEvent release = Mouse(InputKind::MouseButtonUp, 10, 10, 1);
  release.window = other;
  press.x = press.y = 10;
  auto msgs = Inject({press, release});
  EXPECT_EQ(getActiveWindow(), top);
  ASSERT_EQ(msgs.size(), 2u) << "the click itself still arrives";
  EXPECT_EQ(msgs[0].hwnd, other);
  destroyWindow(other);
}

TEST_F(Input, DisabledWindowsReceiveNothing) {
  enableWindow(child, false);
  EXPECT_TRUE(Inject({Mouse(InputKind::MouseMotion, 25, 35)}).empty());
  enableWindow(child, true);
}

TEST_F(Input, TheWheelSendsUnitsOf120PerNotchAndAddsUpWhatIsLeft) {
  InputEvent half = Mouse(InputKind::MouseWheel, 10, 20);
  half.wheelY = 0.5f;
  auto msgs = Inject({half});
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].message, WM_MOUSEWHEEL);
  EXPECT_EQ(static_cast<int16_t>(msgs[0].wParam >> 16), 60);
  EXPECT_EQ(X(msgs[0].lParam), 110) << "screen position";
  EXPECT_EQ(Y(msgs[0].lParam), 70);
  InputEvent tiny = half;
  tiny.wheelY = 1.0f / 240;  // half a unit
  EXPECT_TRUE(Inject({tiny}).empty());
  msgs = Inject({tiny});
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(static_cast<int16_t>(msgs[0].wParam >> 16), 1);
  InputEvent back = half;
  back.wheelY = -2;
  msgs = Inject({back});
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(static_cast<int16_t>(msgs[0].wParam >> 16), -240);
}

TEST_F(Input, KeysBecomeVirtualKeysWithTheirDataWordAndControlCharacters) {
  // Ctrl+A: key down, then the control character 1.
  auto msgs = Inject({Key(InputKind::KeyDown, 'a', 4, KMOD_LCTRL)});
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0].message, WM_KEYDOWN);
  EXPECT_EQ(msgs[0].wParam, 65u);
  EXPECT_EQ((msgs[0].lParam >> 16) & 0xFF, 0x1E);
  EXPECT_EQ(msgs[0].lParam & 0xFFFF, 1);
  EXPECT_EQ(msgs[1].message, WM_CHAR);
  EXPECT_EQ(msgs[1].wParam, 1u);
  msgs = Inject({Key(InputKind::KeyUp, 'a', 4, KMOD_LCTRL)});
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].message, WM_KEYUP);
  EXPECT_NE(msgs[0].lParam & (LPARAM{1} << 30), 0);
  EXPECT_NE(msgs[0].lParam & (LPARAM{1} << 31), 0);
  // The left Alt key: a system key with scan code 0x38 and the context bit.
  msgs = Inject({Key(InputKind::KeyDown, SDLK_SCANCODE_MASK | 226, 226, KMOD_LALT)});
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].message, WM_SYSKEYDOWN);
  EXPECT_EQ(msgs[0].wParam, 18u);
  EXPECT_EQ((msgs[0].lParam >> 16) & 0xFF, 0x38);
  EXPECT_NE(msgs[0].lParam & (LPARAM{1} << 29), 0);
  EXPECT_LT(getKeyState(18), 0);
  Inject({Key(InputKind::KeyUp, SDLK_SCANCODE_MASK | 226, 226, 0)});
  EXPECT_GE(getKeyState(18), 0);
}

TEST_F(Input, TheKeypadFollowsNumLockAndAltF4ClosesTheWindow) {
  const int32_t kp8 = SDLK_SCANCODE_MASK | 96;
  EXPECT_EQ(virtualKeyOf(kp8, KMOD_NUM), 104);
  EXPECT_EQ(virtualKeyOf(kp8, 0), 38);
  EXPECT_EQ(virtualKeyOf(SDLK_SCANCODE_MASK | 98, KMOD_NUM), 96);
  EXPECT_EQ(virtualKeyOf(SDLK_SCANCODE_MASK | 58, 0), 112);
  EXPECT_EQ(virtualKeyOf(SDLK_SCANCODE_MASK | 115, 0), 135);
  EXPECT_EQ(virtualKeyOf(';', 0), 186);
  for (const Msg& m : Inject({Key(InputKind::KeyDown, SDLK_SCANCODE_MASK | 61, 61, KMOD_LALT)})) {
    EXPECT_EQ(m.message, WM_SYSKEYDOWN);
    EXPECT_EQ(m.wParam, 0x73u);
    dispatchMessage(m);
  }
  auto msgs = Drain();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].message, WM_CLOSE);
  Inject({Key(InputKind::KeyUp, SDLK_SCANCODE_MASK | 61, 61, 0)});
}

TEST_F(Input, TextBecomesOneCharacterPerUtf16Unit) {
  InputEvent t;
  t.kind = InputKind::TextInput;
  t.text = "\xC3\xA9\xF0\x9F\x98\x80";  // é and an emoji
  auto msgs = Inject({t});
  ASSERT_EQ(msgs.size(), 3u);
  EXPECT_EQ(msgs[0].wParam, 0xE9u);
  EXPECT_EQ(msgs[1].wParam, 0xD83Du);
  EXPECT_EQ(msgs[2].wParam, 0xDE00u);
  for (const Msg& m : msgs) EXPECT_EQ(m.message, WM_CHAR);
}

TEST_F(Input, LockKeysToggle) {
  const int32_t caps = SDLK_SCANCODE_MASK | 57;
  const bool before = getKeyState(20) & 1;
  Inject({Key(InputKind::KeyDown, caps, 57), Key(InputKind::KeyUp, caps, 57)});
  EXPECT_NE(static_cast<bool>(getKeyState(20) & 1), before);
  EXPECT_GE(getKeyState(20), 0);
}

TEST_F(Input, ButtonUpReportsTheButtonsStillHeld) {
  auto msgs = Inject({Mouse(InputKind::MouseButtonDown, 300, 200, 1), Mouse(InputKind::MouseButtonDown, 300, 200, 3),
                      Mouse(InputKind::MouseButtonUp, 300, 200, 1), Mouse(InputKind::MouseButtonUp, 300, 200, 3)});
  ASSERT_EQ(msgs.size(), 4u);
  EXPECT_EQ(msgs[1].wParam, static_cast<WPARAM>(MK_LBUTTON | MK_RBUTTON));
  EXPECT_EQ(msgs[2].message, WM_LBUTTONUP);
  EXPECT_EQ(msgs[2].wParam, static_cast<WPARAM>(MK_RBUTTON)) << "the left button is released";
  EXPECT_EQ(msgs[3].message, WM_RBUTTONUP);
  EXPECT_EQ(msgs[3].wParam, 0u);
}

InputEvent Text(const char* utf8, uint16_t mod) {
  InputEvent t;
  t.kind = InputKind::TextInput;
  t.text = utf8;
  t.mod = mod;
  return t;
}

TEST_F(Input, TextTakesTheKeyDataOfItsKeyDown) {
  // Alt+F: SDL reports the key and the text "f"; both are system messages
  // with the context bit, so a drawn edit box does not type the letter.
  auto msgs = Inject({Key(InputKind::KeyDown, 'f', 9, KMOD_LALT), Text("f", KMOD_LALT)});
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0].message, WM_SYSKEYDOWN);
  EXPECT_EQ(msgs[1].message, WM_SYSCHAR);
  EXPECT_EQ(msgs[1].wParam, static_cast<WPARAM>('f'));
  EXPECT_EQ(msgs[1].lParam, msgs[0].lParam);
  EXPECT_NE(msgs[1].lParam & (LPARAM{1} << 29), 0);
  Inject({Key(InputKind::KeyUp, 'f', 9, KMOD_LALT)});
  // A plain key's text carries its scan code.
  msgs = Inject({Key(InputKind::KeyDown, 'g', 10, 0), Text("g", 0)});
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[1].message, WM_CHAR);
  EXPECT_EQ((msgs[1].lParam >> 16) & 0xFF, 0x22);
  Inject({Key(InputKind::KeyUp, 'g', 10, 0)});
  // Alt+Backspace: the control character is a system character with Alt.
  msgs = Inject({Key(InputKind::KeyDown, 8, 42, KMOD_LALT)});
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[1].message, WM_SYSCHAR);
  EXPECT_EQ(msgs[1].wParam, 8u);
  EXPECT_NE(msgs[1].lParam & (LPARAM{1} << 29), 0);
  Inject({Key(InputKind::KeyUp, 8, 42, 0)});
}

TEST_F(Input, AltKeypadCodesGiveTheirCharacterWhenAltIsReleased) {
  const int32_t alt = SDLK_SCANCODE_MASK | 226;
  auto kp = [](int digit) { return digit == 0 ? 98 : 88 + digit; };
  std::vector<InputEvent> ev{Key(InputKind::KeyDown, alt, 226, KMOD_LALT | KMOD_NUM)};
  for (int d : {0, 2, 3, 3}) {
    ev.push_back(Key(InputKind::KeyDown, SDLK_SCANCODE_MASK | kp(d), kp(d), KMOD_LALT | KMOD_NUM));
    ev.push_back(Text(d == 0 ? "0" : d == 2 ? "2" : "3", KMOD_LALT | KMOD_NUM));  // dropped
    ev.push_back(Key(InputKind::KeyUp, SDLK_SCANCODE_MASK | kp(d), kp(d), KMOD_LALT | KMOD_NUM));
  }
  ev.push_back(Key(InputKind::KeyUp, alt, 226, KMOD_NUM));
  auto msgs = Inject(ev);
  std::vector<Msg> chars;
  for (const Msg& m : msgs)
    if (m.message == WM_CHAR || m.message == WM_SYSCHAR) chars.push_back(m);
  ASSERT_EQ(chars.size(), 1u) << "keypad text with Alt alone is part of the code";
  EXPECT_EQ(chars[0].message, WM_CHAR);
  EXPECT_EQ((chars[0].lParam >> 16) & 0xFF, 0x38);
  EXPECT_NE(chars[0].lParam & (LPARAM{1} << 31), 0);
  EXPECT_EQ(chars[0].lParam & (LPARAM{1} << 29), 0);
  EXPECT_EQ(chars[0].wParam, 233u);
  EXPECT_EQ(msgs.back().message, WM_CHAR) << "the character follows the release of Alt";
  // Ctrl+Alt+keypad is no code; a letter between ends the entry.
  ev = {Key(InputKind::KeyDown, alt, 226, KMOD_LALT | KMOD_NUM),
        Key(InputKind::KeyDown, 'x', 27, KMOD_LALT | KMOD_NUM), Key(InputKind::KeyUp, 'x', 27, KMOD_LALT | KMOD_NUM),
        Key(InputKind::KeyDown, SDLK_SCANCODE_MASK | 89, 89, KMOD_LALT | KMOD_NUM),
        Key(InputKind::KeyUp, SDLK_SCANCODE_MASK | 89, 89, KMOD_LALT | KMOD_NUM),
        Key(InputKind::KeyUp, alt, 226, KMOD_NUM)};
  for (const Msg& m : Inject(ev)) EXPECT_NE(m.message, WM_CHAR);
}

LRESULT RecordingProc(HWND h, uint32_t msg, WPARAM w, LPARAM l);
std::vector<uint32_t> g_seen;
WindowState g_stateAtPosChanged;
int32_t g_minWidth = 0;
LRESULT RecordingProc(HWND h, uint32_t msg, WPARAM w, LPARAM l) {
  g_seen.push_back(msg);
  if (msg == WM_WINDOWPOSCHANGED) windowState(h, g_stateAtPosChanged);
  if (msg == WM_SIZING) {
    auto* r = reinterpret_cast<Rect*>(l);
    if (r->right - r->left < g_minWidth) r->right = r->left + g_minWidth;
    return 1;
  }
  return defWindowProc(h, msg, w, l);
}

TEST(WindowManager, StateChangesReachTheWindowAfterTheRecord) {
  setWindowBackend(nullptr);
  WndClass c;
  c.lpfnWndProc = &RecordingProc;
  c.className = u"WmRecorder";
  registerClass(c);
  const HWND h = createWindowEx(0, u"WmRecorder", u"", WS_VISIBLE, 0, 0, 300, 200, 0, 0, 0, nullptr);
  g_seen.clear();
  backendWindowStateChanged(h, true, false);
  ASSERT_FALSE(g_seen.empty());
  EXPECT_EQ(g_seen[0], WM_WINDOWPOSCHANGED);
  EXPECT_TRUE(g_stateAtPosChanged.minimized);
  EXPECT_TRUE(isIconic(h));
  backendWindowStateChanged(h, false, true);
  EXPECT_TRUE(g_stateAtPosChanged.maximized);
  EXPECT_TRUE(isZoomed(h));
  backendWindowStateChanged(h, true, false);
  WindowPlacement p;
  getWindowPlacement(h, p);
  EXPECT_EQ(p.flags & WPF_RESTORETOMAXIMIZED, WPF_RESTORETOMAXIMIZED);
  g_seen.clear();
  backendWindowStateChanged(h, false, false);
  EXPECT_FALSE(g_stateAtPosChanged.minimized);
  EXPECT_FALSE(g_stateAtPosChanged.maximized);
  // An interactive resize asks the window first.
  g_minWidth = 250;
  g_seen.clear();
  const Rect r = backendWindowSizing(h, Rect{0, 0, 100, 120});
  ASSERT_FALSE(g_seen.empty());
  EXPECT_EQ(g_seen[0], WM_SIZING);
  EXPECT_EQ(r.right, 250);
  EXPECT_EQ(r.bottom, 120);
  destroyWindow(h);
}

TEST(WindowManager, ExStyleWritesKeepTopmost) {
  setWindowBackend(nullptr);
  WndClass c;
  c.lpfnWndProc = &defWindowProc;
  c.className = u"TopmostKeep";
  registerClass(c);
  const HWND h = createWindowEx(0, u"TopmostKeep", u"", WS_VISIBLE, 0, 0, 30, 20, 0, 0, 0, nullptr);
  setWindowPos(h, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  setWindowLongPtr(h, GWL_EXSTYLE, WS_EX_LAYERED | WS_EX_TRANSPARENT);
  EXPECT_NE(getWindowLongPtr(h, GWL_EXSTYLE) & WS_EX_TOPMOST, 0) << "a topmost form made layered stays on top";
  EXPECT_NE(getWindowLongPtr(h, GWL_EXSTYLE) & WS_EX_LAYERED, 0);
  setWindowPos(h, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  setWindowLongPtr(h, GWL_EXSTYLE, WS_EX_LAYERED | WS_EX_TOPMOST);
  EXPECT_EQ(getWindowLongPtr(h, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  destroyWindow(h);
}

TEST(WindowServices, ClipboardOpensOnceAndKeepsTextAndBlocks) {
  setWindowBackend(nullptr);
  headless().reset();
  ASSERT_TRUE(openClipboard(0));
  EXPECT_FALSE(openClipboard(0)) << "held by another open";
  ASSERT_TRUE(emptyClipboard());
  const uint32_t seq = getClipboardSequenceNumber();
  HGLOBAL t = globalAlloc(GMEM_MOVEABLE, 8);
  std::memcpy(globalLock(t), u"ab\u00e9", 8);
  globalUnlock(t);
  EXPECT_EQ(setClipboardData(CF_UNICODETEXT, t), t);
  HGLOBAL d = globalAlloc(GMEM_MOVEABLE, 44);
  EXPECT_EQ(globalSize(d), 44u);
  setClipboardData(CF_DIB, d);
  EXPECT_GT(getClipboardSequenceNumber(), seq);
  HGLOBAL got = getClipboardData(CF_UNICODETEXT);
  ASSERT_NE(got, 0u);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(globalLock(got))), u"ab\u00e9");
  EXPECT_EQ(getClipboardData(CF_DIB), d);
  EXPECT_TRUE(closeClipboard());
  EXPECT_EQ(getClipboardData(CF_DIB), 0u) << "closed";
  // The fake desktop clipboard: text goes there and comes back as UTF-16.
  headless().useFakeClipboard(true);
  headless().setForeignClipboardText("x\xE2\x82\xACy");
  ASSERT_TRUE(openClipboard(0));
  got = getClipboardData(CF_UNICODETEXT);
  ASSERT_NE(got, 0u);
  EXPECT_EQ(std::u16string(static_cast<const char16_t*>(globalLock(got))), u"x\u20acy");
  closeClipboard();
  headless().useFakeClipboard(false);
}

TEST(WindowServices, SystemCursorsAndLayeredContent) {
  setWindowBackend(nullptr);
  headless().reset();
  EXPECT_EQ(loadSystemCursor(12345), 0u);
  const HCURSOR hand = loadSystemCursor(IDC_HAND);
  ASSERT_NE(hand, 0u);
  EXPECT_EQ(loadSystemCursor(IDC_HAND), hand) << "shared";
  setCursor(hand);
  EXPECT_EQ(headless().shownCursor(), IDC_HAND);
  EXPECT_EQ(setCursor(0), hand);
  EXPECT_EQ(headless().shownCursor(), 0u);
  EXPECT_EQ(getCursor(), 0u);
  WndClass c;
  c.lpfnWndProc = &defWindowProc;
  c.className = u"LayeredWin";
  registerClass(c);
  const HWND h = createWindowEx(0, u"LayeredWin", u"", WS_VISIBLE, 0, 0, 2, 1, 0, 0, 0, nullptr);
  const uint8_t px[8] = {1, 2, 3, 128, 4, 5, 6, 64};
  EXPECT_FALSE(updateLayeredWindow(h, Point{}, 2, 1, px, 8)) << "not layered";
  setWindowLongPtr(h, GWL_EXSTYLE, WS_EX_LAYERED);
  EXPECT_TRUE(updateLayeredWindow(h, Point{5, 6}, 2, 1, px, 8));
  LayeredContent lc;
  ASSERT_TRUE(layeredContent(h, lc));
  EXPECT_EQ(lc.bits[3], 128);
  EXPECT_EQ(lc.bits[7], 64);
  EXPECT_NEAR(headless().windowOpacity(h), 128.0f / 255.0f, 1e-4);
  destroyWindow(h);
}

}  // namespace
