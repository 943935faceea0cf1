// Native child windows: class registration once per class, a foreign
// registration replaced, fonts from the parent, bounds and destruction by
// the parent.
#include <gtest/gtest.h>

#include <vector>

#include "foundation/kpThreads2.h"
#include "windowing/kvWinControl.h"

using namespace windowing;
namespace pw = platform::window;

namespace {

std::vector<uint32_t> g_classSeen;
LRESULT PanelClassProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  g_classSeen.push_back(msg);
  if (msg == pw::WM_GETFONT) return 0x77;  // the class's own answer
  return pw::defWindowProc(wnd, msg, wParam, lParam);
}

LRESULT ParentProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  if (msg == pw::WM_GETFONT) return 0x1234;
  return pw::defWindowProc(wnd, msg, wParam, lParam);
}

class TPanel : public TWinControl {
 public:
  QEL_CLASSNAME(TPanel)
  void GetWindowClass(pw::WndClass& cls) override { cls.lpfnWndProc = &PanelClassProc; }
  void CreateParams(TCreateParams& p) override {
    TWinControl::CreateParams(p);
    p.Style |= pw::WS_VISIBLE;
    p.X = 4;
    p.Y = 5;
    p.Width = 40;
    p.Height = 30;
  }
};

class WinControl : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    foundation::InitThreads2();
    InitWndAPI();
    pw::WndClass cls;
    cls.lpfnWndProc = &ParentProc;
    cls.className = u"Parent";
    ASSERT_NE(pw::registerClass(cls), 0);
  }
  void SetUp() override {
    parent = pw::createWindowEx(0, u"Parent", u"", pw::WS_VISIBLE, 100, 100, 300, 200, 0, 0, 0, nullptr);
    g_classSeen.clear();
  }
  void TearDown() override {
    if (pw::isWindow(parent)) pw::destroyWindow(parent);
  }
  HWND parent = 0;
};

TEST_F(WinControl, TwoControlsOfOneClassRegisterItOnceAndTakeTheParentsFont) {
  auto* a = new TPanel;
  a->Create(parent);
  auto* b = new TPanel;
  b->Create(parent);
  EXPECT_EQ(a->WindowClassName(), u"TPanel");
  pw::WndClass info;
  ASSERT_TRUE(pw::getClassInfo(HInstance, u"TPanel", info));
  EXPECT_EQ(info.lpfnWndProc, &ControlFirstMessageProc);
  EXPECT_EQ(pw::getParent(a->Handle()), parent);
  EXPECT_EQ(a->Font(), 0x1234u);
  EXPECT_EQ(pw::sendMessage(b->Handle(), pw::WM_GETFONT, 0, 0), 0x1234);
  EXPECT_EQ(a->GetBoundsRect(), (Rect{4, 5, 44, 35}));
  a->SetBoundsRect(Rect{10, 10, 60, 20});
  Rect r;
  pw::getWindowRect(a->Handle(), r);
  EXPECT_EQ(r, (Rect{110, 110, 160, 120}));
  a->SetText(u"label");
  EXPECT_EQ(pw::getWindowText(a->Handle()), u"label");
  a->SetVisible(false);
  EXPECT_FALSE(pw::isWindowVisible(a->Handle()));
  const HWND h = a->Handle();
  a->Free();
  EXPECT_FALSE(pw::isWindow(h));
  b->Free();
}

TEST_F(WinControl, AClassRegisteredByOthersIsReplacedAndGetFontFallsToTheClass) {
  pw::unregisterClass(u"TPanel", HInstance);
  pw::WndClass foreign;
  foreign.lpfnWndProc = &pw::defWindowProc;
  foreign.className = u"TPanel";
  ASSERT_NE(pw::registerClass(foreign), 0);
  auto* a = new TPanel;
  // The creation messages reach the class procedure through the object.
  a->Create(parent);
  pw::WndClass info;
  ASSERT_TRUE(pw::getClassInfo(HInstance, u"TPanel", info));
  EXPECT_EQ(info.lpfnWndProc, &ControlFirstMessageProc);
  EXPECT_EQ(g_classSeen.front(), pw::WM_NCCREATE);
  // With no font stored the control asks its class.
  pw::sendMessage(a->Handle(), pw::WM_SETFONT, 0, 0);
  EXPECT_EQ(pw::sendMessage(a->Handle(), pw::WM_GETFONT, 0, 0), 0x77);
  a->Free();
}

TEST_F(WinControl, DestroyingTheParentClearsTheHandleAndDisposeDestroysNothing) {
  auto* a = new TPanel;
  a->Create(parent);
  const HWND h = a->Handle();
  pw::destroyWindow(parent);
  EXPECT_FALSE(pw::isWindow(h));
  EXPECT_EQ(a->Handle(), 0u);
  EXPECT_EQ(WndHookCount(), 0);
  a->Free();
}

}  // namespace
