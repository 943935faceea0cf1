// Forms on real windows of the layer (headless backend): styles from the
// form's state, showing, window states, input reaching the form as events,
// capture on press, eaten keys, the window manager's changes coming back as
// form updates, modal showing, full screen as a borderless window over the
// monitor, cursors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/kpExceptions.h"
#include "imaging/Startup.h"
#include "platform/window/headless/Window_headless.h"
#include "windowing/winFormUtils.h"
#include "windowing/winForms.h"
#include "WindowingFixture.h"

using namespace windowing;
namespace pw = platform::window;

namespace {

struct Log : TEventHandler {
  std::vector<std::string> lines;
  bool eatKeys = false;
  void HandleEvent(foundation::TRefObject*, int32_t tag, foundation::TRefObject* data) override {
    if (tag == feMouse) {
      auto* m = static_cast<TMouseData*>(data);
      lines.push_back("mouse " + std::to_string(m->Kind) + " b" + std::to_string(m->Button) + " " +
                      std::to_string(m->X) + "," + std::to_string(m->Y));
    } else if (tag == feKey) {
      auto* k = static_cast<TKeybordData*>(data);
      lines.push_back("key " + std::to_string(k->Kind) + " " + std::to_string(k->Key) + " s" +
                      std::to_string(k->Shift & 0x0E));
      if (eatKeys && k->Kind == 1) k->Key = 0;
    } else if (tag == feWheel) {
      lines.push_back("wheel");
    } else {
      lines.push_back("e" + std::to_string(tag));
    }
  }
  bool Has(const std::string& s) const {
    for (const auto& l : lines)
      if (l == s) return true;
    return false;
  }
};

class WinForms : public windowing_test::AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    static bool once = false;
    if (!once) {
      once = true;
      imaging::StartImaging();
      InitWinForms();
    }
    pw::headless().reset();
    ResetWheelAccumulator();
    form = new TKvForm();
    log = new Log;
    for (int id = 0; id <= 23; ++id) form->Events()->Subscribe(id, log);
  }
  void TearDown() override {
    if (form) form->Free();
    log->Free();
    AppTest::TearDown();
  }
  TWinFormController* ctl() { return static_cast<TWinFormController*>(form->Controller()); }
  void Pump() {
    app->ProcessMessages();
  }
  void Inject(pw::InputEvent e) {
    e.window = ctl()->Handle();
    pw::headless().injectInput(e);
    Pump();
  }
  static pw::InputEvent Mouse(pw::InputKind k, int x, int y, uint8_t button = 0, uint8_t clicks = 1) {
    pw::InputEvent e;
    e.kind = k;
    e.x = x;
    e.y = y;
    e.button = button;
    e.clicks = clicks;
    return e;
  }
  static pw::InputEvent Key(pw::InputKind k, int32_t keycode, int32_t sc, uint16_t mod = 0) {
    pw::InputEvent e;
    e.kind = k;
    e.keycode = keycode;
    e.scancode = sc;
    e.mod = mod;
    return e;
  }
  TKvForm* form = nullptr;
  Log* log = nullptr;
};

TEST(WinFormStyles, BorderStylesAndIcons) {
  const TFormStyles s1 = FormWindowStyles(0, 1, 7, true, true);
  EXPECT_EQ(s1.Style & FormStyleMask, 0x06CF0000u & FormStyleMask);
  EXPECT_NE(s1.Style & pw::WS_VISIBLE, 0u);
  EXPECT_EQ(s1.ExStyle, 0x10000u | 0x100u | pw::WS_EX_TOPMOST);
  const TFormStyles s0 = FormWindowStyles(3, 0, EffectiveBorderIcons(0, 7), false, false);
  EXPECT_EQ(s0.Style, pw::WS_POPUP | pw::WS_MINIMIZE | pw::WS_MAXIMIZE);
  EXPECT_EQ(s0.ExStyle, 0x10000u);
  const TFormStyles s6 = FormWindowStyles(0, 6, EffectiveBorderIcons(6, 15), false, false);
  EXPECT_EQ(s6.Style, pw::WS_CAPTION | 0x00080000u) << "system menu only";
  EXPECT_NE(s6.ExStyle & 0x400u, 0u) << "help button";
  EXPECT_EQ(FormWindowStyles(0, 2, 7, false, false).ExStyle & pw::WS_EX_TOOLWINDOW, pw::WS_EX_TOOLWINDOW);
  EXPECT_THROW(FormWindowStyles(0, 7, 7, false, false), foundation::EAssertionFailed);
}

TEST_F(WinForms, DefaultBoundsAreThreeQuartersOfTheWorkAreaCentred) {
  // Work area 1920 x 1040: width (1920 - 4) * 3 / 4 = 1437, height (1040 - 4 + 23) * 3 / 4 = 794.
  EXPECT_EQ(form->GetWidth(), 1437);
  EXPECT_EQ(form->GetHeight(), 794);
  EXPECT_EQ(form->Bounds().Left, (1920 - 1437) / 2);
  EXPECT_EQ(form->Bounds().Top, (1040 - 794) / 2);
  EXPECT_EQ(ctl()->Handle(), 0u) << "no window before it is needed";
}

TEST_F(WinForms, ShowingCreatesTheWindowAndActivates) {
  form->SetCaption(u"Hello");
  form->SetBoundsRect(TRect{100, 50, 500, 350});
  form->SetVisible(true);
  const HWND h = ctl()->Handle();
  ASSERT_NE(h, 0u);
  pw::WindowState s;
  ASSERT_TRUE(pw::windowState(h, s));
  EXPECT_EQ(s.className, u"TKvForm");
  EXPECT_TRUE(s.visible);
  EXPECT_EQ(s.text, u"Hello");
  EXPECT_EQ(s.rect, (pw::Rect{100, 50, 500, 350}));
  EXPECT_TRUE(form->Visible());
  EXPECT_TRUE(form->Active());
  EXPECT_TRUE(form->IsActive());
  EXPECT_EQ(FindFormByHandle(h), form);
  // Changes through the window come back as updates.
  log->lines.clear();
  form->SetCaption(u"Other");
  EXPECT_EQ(form->Caption(), u"Other");
  EXPECT_TRUE(log->Has("e3"));
  form->SetBoundsRect(TRect{120, 60, 520, 400});
  EXPECT_EQ(form->Bounds().Top, 60);
  EXPECT_EQ(form->GetHeight(), 340);
  form->Hide();
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(pw::isWindowVisible(h));
}

TEST_F(WinForms, WindowStateThreeShowsMinimizedRestoringToMaximized) {
  form->SetWindowState(3);
  form->SetVisible(true);
  const HWND h = ctl()->Handle();
  EXPECT_TRUE(pw::isIconic(h));
  pw::WindowPlacement p;
  pw::getWindowPlacement(h, p);
  EXPECT_EQ(p.flags & pw::WPF_RESTORETOMAXIMIZED, pw::WPF_RESTORETOMAXIMIZED);
  EXPECT_EQ(form->WindowState(), 3);
  // The window manager restores it: the form hears it.
  pw::backendWindowStateChanged(h, false, true);
  EXPECT_EQ(form->WindowState(), 2);
  pw::backendWindowStateChanged(h, false, false);
  EXPECT_EQ(form->WindowState(), 0);
}

TEST_F(WinForms, MouseInputCaptureAndDoubleClicks) {
  form->SetBoundsRect(TRect{100, 50, 500, 350});
  form->SetVisible(true);
  Inject(Mouse(pw::InputKind::MouseMotion, 10, 20));
  EXPECT_TRUE(log->Has("mouse 0 b0 10,20"));
  Inject(Mouse(pw::InputKind::MouseButtonDown, 10, 20, 1));
  EXPECT_TRUE(form->HasCapture()) << "a press captures";
  Inject(Mouse(pw::InputKind::MouseButtonDown, 10, 20, 3));
  Inject(Mouse(pw::InputKind::MouseButtonUp, 11, 21, 1));
  EXPECT_TRUE(form->HasCapture()) << "the right button is still down";
  Inject(Mouse(pw::InputKind::MouseButtonUp, 11, 21, 3));
  EXPECT_FALSE(form->HasCapture()) << "the last button released frees the capture";
  EXPECT_TRUE(log->Has("mouse 2 b4 11,21"));
  log->lines.clear();
  Inject(Mouse(pw::InputKind::MouseButtonDown, 30, 40, 1, 2));
  std::vector<std::string> mouse;
  for (const auto& l : log->lines)
    if (l.rfind("mouse", 0) == 0) mouse.push_back(l);
  EXPECT_EQ(mouse, (std::vector<std::string>{"mouse 1 b1 30,40", "mouse 3 b1 30,40"}));
  EXPECT_TRUE(form->HasCapture());
  Inject(Mouse(pw::InputKind::MouseButtonUp, 30, 40, 1));
  pw::InputEvent w;
  w.kind = pw::InputKind::MouseWheel;
  w.wheelY = 1;
  Inject(w);
  EXPECT_TRUE(log->Has("wheel"));
}

TEST_F(WinForms, KeysAndEatenKeysNeverReachTheDefaultProcedure) {
  form->SetVisible(true);
  Inject(Key(pw::InputKind::KeyDown, 'a', 4));
  pw::InputEvent t;
  t.kind = pw::InputKind::TextInput;
  t.text = "a";
  Inject(t);
  Inject(Key(pw::InputKind::KeyUp, 'a', 4));
  EXPECT_TRUE(log->Has("key 1 65 s0"));
  EXPECT_TRUE(log->Has("key 2 97 s0"));
  EXPECT_TRUE(log->Has("key 0 65 s0"));
  // Alt+F4 eaten by a subscriber does not close the form.
  log->eatKeys = true;
  Inject(Key(pw::InputKind::KeyDown, (1 << 30) | 61, 61, 0x100));
  Inject(Key(pw::InputKind::KeyUp, (1 << 30) | 61, 61, 0));
  EXPECT_TRUE(form->Visible());
  // Not eaten: the default procedure closes it, and the close action hides.
  log->eatKeys = false;
  Inject(Key(pw::InputKind::KeyDown, (1 << 30) | 61, 61, 0x100));
  Inject(Key(pw::InputKind::KeyUp, (1 << 30) | 61, 61, 0));
  Pump();
  EXPECT_FALSE(form->Visible());
  EXPECT_NE(ctl()->Handle(), 0u) << "hidden, not destroyed";
}

TEST_F(WinForms, EraseBeforeFirstPaintOnlyAndPaintReachesTheForm) {
  form->SetVisible(true);
  const HWND h = ctl()->Handle();
  EXPECT_EQ(pw::sendMessage(h, pw::WM_ERASEBKGND, 0, 0), 1) << "the class background";
  EXPECT_FALSE(ctl()->Painted());
  pw::invalidateRect(h, nullptr, false);
  pw::updateWindow(h);
  EXPECT_TRUE(ctl()->Painted());
  EXPECT_EQ(pw::sendMessage(h, pw::WM_ERASEBKGND, 0, 0), 1);
}

TEST_F(WinForms, InteractiveSizingKeepsTheFormsMinimum) {
  form->SetVisible(true);
  struct Min : TEventHandler {
    void HandleEvent(foundation::TRefObject*, int32_t, foundation::TRefObject* data) override {
      auto* a = static_cast<TAdjustBoundsData*>(data);
      if (a->Rect.Right - a->Rect.Left < 300) a->Rect.Right = a->Rect.Left + 300;
    }
  };
  auto* m = new Min;
  form->Events()->Subscribe(feAdjustBounds, m);
  const pw::Rect r = pw::backendWindowSizing(ctl()->Handle(), pw::Rect{0, 0, 100, 100});
  EXPECT_EQ(r.right, 300);
  m->Free();
}

TEST_F(WinForms, StayOnTopSurvivesLayeredContent) {
  form->SetVisible(true);
  ASSERT_TRUE(ctl()->SetStayOnTop(true));
  EXPECT_TRUE(form->StayOnTop());
  foundation::TRef<imaging::TSysBitmap> bmp = foundation::TRef<imaging::TSysBitmap>::Adopt(
      imaging::CreateSysBitmap(2, 1, imaging::pfA8R8G8B8));
  uint8_t* row = bmp->ScanLines()[0];
  const uint8_t px[8] = {200, 100, 50, 255, 10, 20, 30, 0};
  std::copy_n(px, 8, row);
  EXPECT_TRUE(form->Controller()->UpdateLayered(bmp.Get(), 128));
  const HWND h = ctl()->Handle();
  EXPECT_NE(pw::getWindowLongPtr(h, pw::GWL_EXSTYLE) & pw::WS_EX_TOPMOST, 0);
  EXPECT_NE(pw::getWindowLongPtr(h, pw::GWL_EXSTYLE) & pw::WS_EX_TRANSPARENT, 0);
  pw::sendMessage(h, pw::WM_WINDOWPOSCHANGED, 0, 0);
  EXPECT_TRUE(form->StayOnTop());
  pw::LayeredContent lc;
  ASSERT_TRUE(pw::layeredContent(h, lc));
  // Alpha 255 at 128/256: 127, channels x 127 / 256; alpha 0: all zero.
  EXPECT_EQ(lc.bits[3], 127);
  EXPECT_EQ(lc.bits[0], 200 * 127 / 256);
  EXPECT_EQ(lc.bits[2], 50 * 127 / 256);
  for (int i = 4; i < 8; ++i) EXPECT_EQ(lc.bits[i], 0);
}

TEST_F(WinForms, ModalShowDisablesTheOwnerAndHidingGivesItBack) {
  form->SetVisible(true);
  const HWND ownerWnd = ctl()->Handle();
  auto* modal = new TKvForm();
  bool checked = false;
  pw::headless().injectEvent([&] {
    checked = true;
    EXPECT_FALSE(pw::isWindowEnabled(ownerWnd));
    form->Close();  // refused
    EXPECT_TRUE(form->Visible());
    pw::WindowState s;
    pw::windowState(static_cast<TWinFormController*>(modal->Controller())->Handle(), s);
    EXPECT_EQ(s.parent, ownerWnd) << "owned by the owner's window";
    modal->Hide();
    EXPECT_TRUE(pw::isWindowEnabled(ownerWnd)) << "hiding re-enables the owner";
  });
  modal->ShowModal(form);
  EXPECT_TRUE(checked);
  EXPECT_TRUE(pw::isWindowEnabled(ownerWnd));
  EXPECT_TRUE(form->Active());
  modal->Free();
}

TEST_F(WinForms, FullScreenIsABorderlessWindowOverTheMonitorAndBack) {
  form->SetBoundsRect(TRect{100, 100, 700, 500});
  form->SetVisible(true);
  form->SetBorderStyle(0);
  form->SetBoundsRect(TRect{0, 0, 1920, 1080});
  const HWND h = ctl()->Handle();
  pw::WindowState s;
  pw::windowState(h, s);
  EXPECT_EQ(s.style & pw::WS_CAPTION, 0u);
  EXPECT_NE(s.style & pw::WS_POPUP, 0u);
  EXPECT_EQ(s.rect, (pw::Rect{0, 0, 1920, 1080}));
  EXPECT_EQ(form->BorderStyle(), 0);
  form->SetBorderStyle(1);
  form->SetBoundsRect(TRect{100, 100, 700, 500});
  pw::windowState(h, s);
  EXPECT_EQ(s.style & pw::WS_CAPTION, pw::WS_CAPTION);
  EXPECT_EQ(s.rect, (pw::Rect{100, 100, 700, 500}));
}

TEST_F(WinForms, CursorsFollowTheFormUnderTheMouse) {
  form->SetBoundsRect(TRect{100, 50, 500, 350});
  form->SetVisible(true);
  Inject(Mouse(pw::InputKind::MouseMotion, 10, 10));
  form->SetCursor(4);
  EXPECT_EQ(pw::headless().shownCursor(), pw::IDC_HAND);
  form->SetCursor(-1);
  EXPECT_EQ(pw::headless().shownCursor(), 0u) << "hidden";
  pw::sendMessage(ctl()->Handle(), pw::WM_SETCURSOR, ctl()->Handle(), pw::HTCLIENT);
  EXPECT_EQ(pw::headless().shownCursor(), 0u);
  form->SetCursor(0);
  EXPECT_EQ(pw::headless().shownCursor(), pw::IDC_ARROW);
  EXPECT_EQ(CursorForId(1000), pw::loadSystemCursor(pw::IDC_ARROW));
  EXPECT_EQ(CursorForId(0), pw::loadSystemCursor(pw::IDC_ARROW));
  EXPECT_TRUE(SetCursorById(-1));
}

TEST_F(WinForms, TaskbarProgressAndDarkTitleAreNotAvailable) {
  EXPECT_FALSE(form->Controller()->SetTaskbarProgress(1, 0.5f));
  EXPECT_EQ(ctl()->ProgressFlag(), 2);
  EXPECT_FALSE(form->Controller()->SetTaskbarProgress(4, 0.5f));
  EXPECT_EQ(ctl()->ProgressFlag(), 2) << "nothing stored";
  SetDefaultFormColor(10, 10, 10);
  auto* dark = new TKvForm();
  dark->SetVisible(true);
  EXPECT_FALSE(static_cast<TWinFormController*>(dark->Controller())->DarkTitle());
  EXPECT_FALSE(SetDarkTitleBar(static_cast<TWinFormController*>(dark->Controller())->Handle(), true));
  dark->Free();
  ClearDefaultFormColor();
}

TEST_F(WinForms, CloseActionTwoFreesTheFormThroughTheReleaseMessage) {
  struct FreeOnClose : TKvForm {
    void GetCloseAction(int32_t& a) override { a = 2; }
  };
  auto* f = new FreeOnClose();
  f->SetVisible(true);
  const int32_t before = GetFormCount();
  f->Close();
  Pump();
  EXPECT_EQ(GetFormCount(), before - 1);
}

}  // namespace
