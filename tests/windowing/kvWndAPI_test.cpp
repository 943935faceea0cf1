// The window-API layer: show-command mapping, window rectangles, subclassing
// that ends at WM_DESTROY, the hook store, the hidden tool window and the
// bound entry points.
#include <gtest/gtest.h>

#include <vector>

#include "foundation/kpExceptions.h"
#include "platform/window/headless/Window_headless.h"
#include "windowing/kvWndAPI.h"

using namespace windowing;
namespace pw = platform::window;

namespace {

std::vector<uint32_t> g_classMsgs;
LRESULT ClassProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  g_classMsgs.push_back(msg);
  return pw::defWindowProc(wnd, msg, wParam, lParam);
}

class WndAPI : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InitWndAPI();
    pw::WndClass cls;
    cls.lpfnWndProc = &ClassProc;
    cls.className = u"Plain";
    ASSERT_NE(pw::registerClass(cls), 0);
  }
  void SetUp() override { g_classMsgs.clear(); }
  HWND Make(uint32_t style = 0, HWND parent = 0, Rect r = {10, 20, 110, 70}) {
    TWndCreateParams p;
    p.ClassName = u"Plain";
    p.Style = style;
    p.X = r.left;
    p.Y = r.top;
    p.Width = r.right - r.left;
    p.Height = r.bottom - r.top;
    p.Parent = parent;
    return WindowApiClass->CreateWindow(p, nullptr);
  }
};

struct Recorder : foundation::TRefObject {
  std::vector<uint32_t> msgs;
  int32_t answer = 0;
  HWND unhookFrom = 0;
  WNDPROC prev = nullptr;
  int32_t Handle(TWndHookMessage& m) {
    msgs.push_back(m.Msg);
    if (m.Msg == pw::WM_USER) return answer;
    return static_cast<int32_t>(WindowApiClass->CallWindowProc(prev, m.Wnd, m.Msg, m.WParam, m.LParam));
  }
};

TEST_F(WndAPI, ShowCommandsMapOntoThePlatformValues) {
  const int32_t expected[12] = {0, 3, 6, 9, 5, 10, 3, 2, 7, 8, 4, 1};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(TWndAPI::ShowCommandValue(i), expected[i]) << i;
  const HWND h = Make();
  ASSERT_TRUE(WindowApiClass->ShowWindow(h, 6, false));
  EXPECT_FALSE(pw::isWindowVisible(h)) << "only the placement changes";
  EXPECT_TRUE(pw::isZoomed(h));
  ASSERT_TRUE(WindowApiClass->ShowWindow(h, 6, true));
  EXPECT_TRUE(pw::isWindowVisible(h));
  EXPECT_TRUE(pw::isZoomed(h));
  pw::destroyWindow(h);
}

TEST_F(WndAPI, WindowRectOfAMinimisedWindowIsItsNormalRectangleAndOfAChildParentRelative) {
  const HWND top = Make(pw::WS_VISIBLE, 0, Rect{100, 100, 400, 300});
  const HWND child = Make(pw::WS_CHILD | pw::WS_VISIBLE, top, Rect{5, 6, 55, 66});
  EXPECT_EQ(WindowApiClass->GetWindowRect(child), (Rect{5, 6, 55, 66}));
  pw::showWindow(top, pw::SW_SHOWMINIMIZED);
  EXPECT_EQ(WindowApiClass->GetWindowRect(top), (Rect{100, 100, 400, 300}));
  pw::destroyWindow(top);
}

TEST_F(WndAPI, AHookedWindowSeesEveryMessageUpToWmDestroyThenThePreviousProcedureRuns) {
  const HWND h = Make();
  auto* r = new Recorder;
  r->answer = -1;
  r->prev = TWndAPI::HookWindow(h, foundation::MethodOf<&Recorder::Handle>(r));
  EXPECT_EQ(r->prev, &ClassProc);
  EXPECT_EQ(WndHookCount(), 1);
  // A 32-bit -1 widens to the 64-bit -1.
  EXPECT_EQ(WindowApiClass->SendMessage(h, pw::WM_USER, 0, 0), -1);
  g_classMsgs.clear();
  WindowApiClass->DestroyWindow(h);
  EXPECT_EQ(r->msgs.back(), pw::WM_DESTROY);
  EXPECT_EQ(g_classMsgs, (std::vector<uint32_t>{pw::WM_DESTROY, pw::WM_NCDESTROY}));
  EXPECT_EQ(WndHookCount(), 0);
  // Nothing left to undo.
  TWndAPI::UnhookWindow(h, foundation::MethodOf<&Recorder::Handle>(r), r->prev);
  r->Free();
}

TEST_F(WndAPI, UnhookingRestoresThePreviousProcedure) {
  const HWND h = Make();
  auto* r = new Recorder;
  r->prev = TWndAPI::HookWindow(h, foundation::MethodOf<&Recorder::Handle>(r));
  EXPECT_THROW(TWndAPI::UnhookWindow(h, foundation::MethodOf<&Recorder::Handle>(r), &CallDefWindowProc),
               foundation::EAssertionFailed);
  TWndAPI::UnhookWindow(h, foundation::MethodOf<&Recorder::Handle>(r), r->prev);
  EXPECT_EQ(reinterpret_cast<WNDPROC>(pw::getWindowLongPtr(h, pw::GWLP_WNDPROC)), &ClassProc);
  EXPECT_EQ(WndHookCount(), 0);
  pw::destroyWindow(h);
  r->Free();
}

struct Store : foundation::TRefObject {
  int64_t Handle(TWndHookMessage& m) { return m.Msg == pw::WM_USER ? int64_t{1} << 40 : 0; }
};

TEST_F(WndAPI, TheHookStoreAnswersByHandleWithFullWidth) {
  const HWND h = Make();
  auto* s = new Store;
  const WNDPROC proc = AddWindowProcHook(h, foundation::MethodOf<&Store::Handle>(s));
  pw::setWindowLongPtr(h, pw::GWLP_WNDPROC, reinterpret_cast<intptr_t>(proc));
  EXPECT_EQ(pw::sendMessage(h, pw::WM_USER, 0, 0), int64_t{1} << 40);
  EXPECT_TRUE(RemoveWindowProcHook(h));
  EXPECT_EQ(pw::sendMessage(h, pw::WM_USER, 0, 0), 0) << "no store: 0";
  EXPECT_FALSE(RemoveWindowProcHook(h));
  pw::setWindowLongPtr(h, pw::GWLP_WNDPROC, reinterpret_cast<intptr_t>(&ClassProc));
  pw::destroyWindow(h);
  s->Free();
}

TEST_F(WndAPI, TheDumbWindowIsAHiddenToolWindowWithBounds) {
  auto* d = new TDumbWindow;
  d->SetBounds(Rect{-16, -16, 12, 12});
  const HWND h = d->Handle();
  ASSERT_NE(h, 0u);
  pw::WindowState s;
  ASSERT_TRUE(pw::windowState(h, s));
  EXPECT_EQ(s.style, pw::WS_POPUP);
  EXPECT_EQ(s.exStyle, pw::WS_EX_TOOLWINDOW);
  EXPECT_FALSE(s.visible);
  EXPECT_EQ(s.rect, (Rect{-16, -16, 12, 12}));
  d->Free();
  EXPECT_FALSE(pw::isWindow(h));
  EXPECT_EQ(WndHookCount(), 0);
}

TEST_F(WndAPI, WideBuffersCopyExactLengthsOrUpToTheZero) {
  const char16_t buffer[] = {u'a', 0, u'b', u'c', 0};
  std::u16string s;
  WindowApiClass->WideBufferToString(s, buffer, 3);
  EXPECT_EQ(s, std::u16string(u"a\0b", 3));
  WindowApiClass->WideBufferToString(s, buffer + 2, -1);
  EXPECT_EQ(s, u"bc");
  EXPECT_EQ(WindowApiClass->StringToWideBuffer(u""), nullptr);
}

TEST_F(WndAPI, BoundEntriesAnswerNotImplementedWhenMissing) {
  bool enabled = false;
  EXPECT_EQ(GetDwmCompositionEnabled(enabled), 0);
  EXPECT_TRUE(enabled);
  const pw::OptionalEntries previous = pw::setOptionalEntries(pw::OptionalEntries{});
  enabled = false;
  EXPECT_EQ(GetDwmCompositionEnabled(enabled), pw::E_NOTIMPL);
  EXPECT_FALSE(enabled) << "the flag is left untouched";
  EXPECT_FALSE(CallAddClipboardFormatListener(1));
  pw::setOptionalEntries(previous);
  EXPECT_EQ(CallDwmSetWindowAttribute(1, 20, &enabled, 4), pw::E_NOTIMPL);
}

TEST_F(WndAPI, GetMessageErrorEndsTheLoopInsteadOfCountingAsAMessage) {
  Msg m;
  EXPECT_FALSE(WindowApiClass->GetMessage(m, 0xDEAD0, 0, 0));
}

}  // namespace
