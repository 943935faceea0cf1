// The desktop change hook (told through the platform's test trigger, the
// newest hook first, on the main thread) and the position keeper of a form
// on the headless window layer.
#include "controls/kvFormHelpers.h"

#include "platform/window/winevents.h"
#include "tests/controls/PostmanRig.h"
#include "windowing/kvForms.h"
#include "windowing/winForms.h"

using namespace controls;
namespace pw = platform::window;
using foundation::TRect;

namespace {

class FormHelpers : public controls_test::PostmanTest {
 protected:
  void TearDown() override {
    DoneDesktopChangeHooks();
    PostmanTest::TearDown();
  }
};

struct TTold {
  std::vector<int> Order;
  int Id = 0;
  std::vector<std::pair<int, TDesktopChangeHook*>>* Log = nullptr;
  void Changed(TDesktopChangeHook* h) { Log->emplace_back(Id, h); }
};

TEST_F(FormHelpers, ADesktopSwitchReachesEveryHookNewestFirstOnTheMainThread) {
  const int before = pw::winEventHookCount();
  std::vector<std::pair<int, TDesktopChangeHook*>> log;
  TTold a{{}, 1, &log}, b{{}, 2, &log}, c{{}, 3, &log};
  auto ha = foundation::MakeRef<TDesktopChangeHook>();
  ha->OnChange = foundation::MethodOf<&TTold::Changed>(&a);
  EXPECT_EQ(pw::winEventHookCount(), before + 1) << "the first hook installs the system hook";
  auto hb = foundation::MakeRef<TDesktopChangeHook>();
  hb->OnChange = foundation::MethodOf<&TTold::Changed>(&b);
  auto hc = foundation::MakeRef<TDesktopChangeHook>();
  hc->OnChange = foundation::MethodOf<&TTold::Changed>(&c);
  EXPECT_EQ(pw::winEventHookCount(), before + 1) << "one system hook for all";
  EXPECT_EQ(pw::fireWinEventForTesting(0x21), 0) << "another event";
  EXPECT_EQ(pw::fireWinEventForTesting(pw::EVENT_SYSTEM_DESKTOPSWITCH), 1);
  EXPECT_TRUE(log.empty()) << "posted, not called from the system's thread";
  App->ProcessMessages();
  const std::vector<std::pair<int, TDesktopChangeHook*>> want = {{3, hc.Get()}, {2, hb.Get()}, {1, ha.Get()}};
  EXPECT_EQ(log, want);
  // A hook that went is not told.
  hb.Reset();
  log.clear();
  pw::fireWinEventForTesting(pw::EVENT_SYSTEM_DESKTOPSWITCH);
  App->ProcessMessages();
  const std::vector<std::pair<int, TDesktopChangeHook*>> want2 = {{3, hc.Get()}, {1, ha.Get()}};
  EXPECT_EQ(log, want2);
  DoneDesktopChangeHooks();
  EXPECT_EQ(pw::winEventHookCount(), before);
}

TEST_F(FormHelpers, LeavingTheMaximisedStateRestoresTheNormalBounds) {
  EXPECT_THROW(new TFormPosHelper(nullptr), foundation::EAssertionFailed);
  auto* form = new windowing::TKvForm();
  form->SetBoundsRect(TRect{100, 80, 500, 380});
  form->SetVisible(true);
  auto keeper = foundation::TRef<TFormPosHelper>::Adopt(new TFormPosHelper(form));
  form->SetBoundsRect(TRect{120, 90, 520, 390});  // moved while normal: remembered
  EXPECT_EQ(keeper->NormalBounds.Left, 120);
  // The platform's own restore rectangle is made to differ: the window is
  // moved while the keeper does not listen.
  form->Events()->UnsubscribeHandler(keeper.Get());
  form->SetBoundsRect(TRect{300, 300, 500, 400});
  form->Events()->SubscribeIds({0, 7, 8, 11}, keeper.Get());
  form->SetWindowState(2);
  ASSERT_EQ(form->WindowState() & 2, 2);
  EXPECT_EQ(keeper->LastState & 2, 2);
  // Moving the maximised window does not touch the normal bounds.
  form->SetBoundsRect(TRect{0, 0, 800, 600});
  EXPECT_EQ(keeper->NormalBounds.Left, 120);
  EXPECT_EQ(keeper->NormalBounds.Bottom, 390);
  // The platform restores to another rectangle: the keeper puts it back.
  form->SetWindowState(0);
  App->ProcessMessages();  // the restore follows once the state change is applied
  const TRect b = form->Bounds();
  EXPECT_EQ(b.Left, 120);
  EXPECT_EQ(b.Top, 90);
  EXPECT_EQ(b.Right, 520);
  EXPECT_EQ(b.Bottom, 390);
  EXPECT_EQ(keeper->LastState & 2, 0);
  form->Free();
  EXPECT_EQ(keeper->Form, nullptr) << "the form's end is noticed";
}

}  // namespace
