// The platform-neutral form over a controller that has no window: setters
// apply their change at once, every change is announced once and only when
// the value differs, updates of one report are all in place before the
// first announcement, the modal rules, the default colour.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/kpExceptions.h"
#include "windowing/kvForms.h"
#include "WindowingFixture.h"

using namespace windowing;

namespace {

std::vector<std::string> g_log;

// A controller without a window: every setter declines, so the form
// applies the change itself.
class NoWindowController : public TFormController {
 public:
  // What ShowModal sets on the owner while its loop runs.
  void SetModalChild(TFormController* child) { FModalChild = child; }
  TRect GetDefaultBounds() override { return TRect{10, 20, 110, 220}; }
  bool HasCapture() override { return false; }
  TPoint ClientToScreen(TPoint pt) override { return TPoint{pt.X + 10, pt.Y + 20}; }
  TPoint ScreenToClient(TPoint pt) override { return TPoint{pt.X - 10, pt.Y - 20}; }
  bool SetBounds(const TRect&) override { return false; }
  bool SetCaption(const std::u16string&) override { return false; }
  bool SetCursor(int32_t) override { return false; }
  bool SetVisible(bool) override { return false; }
  bool SetShowInTaskbar(bool) override { return false; }
  bool SetStayOnTop(bool) override { return false; }
  bool SetWindowState(int32_t) override { return false; }
  bool SetBorderStyle(int32_t) override { return false; }
  bool SetBorderIcons(int32_t) override { return false; }
  void Flash() override { ++flashes; }
  void Activate() override {
    ++activations;
    TFormUpdate u;
    u.Kind = fuActivated;
    ApplyUpdates(&u, 1);
  }
  void Close() override { ++closes; }
  void SetCapture() override {}
  void ReleaseCapture() override {}
  void Invalidate() override {}
  void InvalidateRect(const TRect&) override {}
  TRect GetClientRect() override { return TRect{0, 0, 100, 200}; }
  TPoint GetClientOrigin() override { return TPoint{}; }
  uintptr_t GetHandle() override { return 0; }
  int flashes = 0, activations = 0, closes = 0;
};

TFormController* MakeNoWindow(TKvForm* form) {
  auto* c = new NoWindowController;
  c->Attach(form);
  return c;
}

class Recorder : public TEventHandler {
 public:
  explicit Recorder(TKvForm* f) : form(f) {}
  void HandleEvent(foundation::TRefObject*, int32_t tag, foundation::TRefObject* data) override {
    std::string line = "e" + std::to_string(tag);
    if (tag == fuMoved + 1 || tag == fuResized + 1)  // state seen by the subscriber
      line += "(" + std::to_string(form->Bounds().Left) + "," + std::to_string(form->GetWidth()) + ")";
    if (tag == feAdjustBounds && widen) static_cast<TAdjustBoundsData*>(data)->Rect.Right += 50;
    if (tag == feKey && eatKeys) static_cast<TKeybordData*>(data)->Key = 0;
    g_log.push_back(line);
  }
  TKvForm* form;
  bool widen = false, eatKeys = false;
};

class TestForm : public TKvForm {
 public:
  using TKvForm::TKvForm;
  void Resized() override { g_log.push_back("resized"); }
};

class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_log.clear();
    form = new TestForm(&MakeNoWindow);
    rec = new Recorder(form);
    for (int id = 0; id <= 23; ++id) form->Events()->Subscribe(id, rec);
  }
  void TearDown() override {
    if (form) form->Free();
    rec->Free();
  }
  NoWindowController* ctl() { return static_cast<NoWindowController*>(form->Controller()); }
  TestForm* form;
  Recorder* rec;
};

TEST_F(FormsTest, CreationTakesDefaultsAndJoinsTheList) {
  EXPECT_EQ(form->Bounds().Left, 10);
  EXPECT_EQ(form->Bounds().Bottom, 220);
  EXPECT_EQ(form->BorderStyle(), 1);
  EXPECT_EQ(form->BorderIcons(), 7);
  EXPECT_EQ(form->WindowState(), 0);
  EXPECT_EQ(GetFirstForm(), form);
  const int32_t before = GetFormCount();
  auto* second = new TKvForm(&MakeNoWindow);
  EXPECT_EQ(GetFormCount(), before + 1);
  EXPECT_EQ(GetFirstForm(), second);  // newest first
  EXPECT_EQ(GetNextForm(second), form);
  EXPECT_EQ(GetNextForm(nullptr), nullptr);
  second->Free();
  EXPECT_EQ(GetFormCount(), before);
  EXPECT_EQ(GetFirstForm(), form);
}

TEST_F(FormsTest, SettersAnnounceOnlyRealChanges) {
  form->SetCaption(u"One");
  form->SetCaption(u"One");
  form->SetCursor(3);
  form->SetCursor(3);
  form->SetVisible(true);
  form->SetVisible(true);
  form->SetWindowState(2);
  form->SetBorderStyle(1);  // already 1
  form->SetBorderIcons(3);
  form->SetShowInTaskbar(true);
  EXPECT_EQ(g_log, (std::vector<std::string>{"e3", "e5", "e6", "e11", "e13", "e9"}));
  EXPECT_EQ(form->Caption(), u"One");
  EXPECT_EQ(form->Cursor(), 3);
  EXPECT_TRUE(form->Visible());
  EXPECT_EQ(form->WindowState(), 2);
  EXPECT_EQ(form->BorderIcons(), 3);
}

TEST_F(FormsTest, BoundsWithoutWindowAdjustThenSizeThenPosition) {
  rec->widen = true;
  form->SetBoundsRect(TRect{5, 6, 305, 406});
  // Subscribers see both changes in place; the size is announced first.
  EXPECT_EQ(g_log, (std::vector<std::string>{"e23", "e8(5,350)", "resized", "e7(5,350)"}));
  EXPECT_EQ(form->Bounds().Right, 355);
  EXPECT_EQ(form->Bounds().Bottom, 406);
  g_log.clear();
  form->SetBoundsRect(TRect{5, 6, 305, 406});  // the subscriber widens again to the same size
  EXPECT_EQ(g_log, (std::vector<std::string>{"e23"}));
}

TEST_F(FormsTest, UpdatesAppliedLastToFirstAnnouncedFirstToLast) {
  TFormUpdate u[3];
  u[0].Kind = fuCaption;
  u[0].Caption = u"x";
  u[1].Kind = fuMoved;
  u[1].X = 70;
  u[1].Y = 80;
  u[2].Kind = fuResized;
  u[2].Width = 40;
  u[2].Height = 30;
  ApplyFormUpdates(form, u, 3);
  EXPECT_EQ(g_log, (std::vector<std::string>{"e3", "e7(70,40)", "e8(70,40)", "resized"}));
  EXPECT_EQ(form->Bounds().Right, 110);
  EXPECT_EQ(form->Bounds().Bottom, 110);
}

TEST_F(FormsTest, InvalidUpdatesAreAssertions) {
  TFormUpdate u;
  u.Kind = fuCapture;
  EXPECT_THROW(ApplyFormUpdates(form, &u, 1), foundation::EAssertionFailed);
  u.Kind = 13;
  EXPECT_THROW(ApplyFormUpdates(form, &u, 1), foundation::EAssertionFailed);
  u.Kind = fuCaption;
  EXPECT_THROW(ApplyFormUpdates(form, &u, 0), foundation::EAssertionFailed);
}

TEST_F(FormsTest, EatenKeyComesBackAsZero) {
  uint16_t key = 65;
  form->KeyEvent(ssShift, key, 1);
  EXPECT_EQ(key, 65);
  rec->eatKeys = true;
  form->KeyEvent(ssShift, key, 1);
  EXPECT_EQ(key, 0);
}

TEST_F(FormsTest, ModalChildTakesActivationAndBlocksClose) {
  auto* modal = new TKvForm(&MakeNoWindow);
  // The owner's modal child is set as ShowModal does while its loop runs.
  auto* owner = dynamic_cast<NoWindowController*>(form->Controller());
  ASSERT_NE(owner, nullptr);
  owner->SetModalChild(modal->Controller());
  TFormUpdate u;
  u.Kind = fuActivated;
  ApplyFormUpdates(form, &u, 1);
  EXPECT_FALSE(form->Active());
  EXPECT_TRUE(modal->Active());
  auto* mc = static_cast<NoWindowController*>(modal->Controller());
  EXPECT_EQ(mc->flashes, 1);
  form->Close();
  EXPECT_EQ(ctl()->closes, 0);
  EXPECT_EQ(form->Controller()->QueryCloseAction(), 0);
  owner->SetModalChild(nullptr);
  form->Close();
  EXPECT_EQ(ctl()->closes, 1);
  EXPECT_EQ(form->Controller()->QueryCloseAction(), 1);
  modal->Free();
}

TEST_F(FormsTest, ShowModalOnVisibleFormReturnsAtOnce) {
  form->SetVisible(true);
  g_log.clear();
  form->ShowModal(nullptr);
  EXPECT_TRUE(g_log.empty());
}

TEST_F(FormsTest, ShowModalRunsTheLoopUntilHiddenThenActivatesTheOwner) {
  windowing_test::StartWindowing();
  ApplicationFactory();
  auto* app = CurrentWinApplication();
  auto* owner = new TKvForm(&MakeNoWindow);
  auto* oc = static_cast<NoWindowController*>(owner->Controller());
  bool ranInside = false;
  // Runs inside the modal loop's message processing.
  platform::window::headless().injectEvent([&] {
    ranInside = true;
    EXPECT_TRUE(form->Visible());
    EXPECT_EQ(owner->Controller()->ModalChild(), form->Controller());
    owner->Close();  // refused while the modal form is open
    form->Hide();
  });
  form->ShowModal(owner);
  EXPECT_TRUE(ranInside);
  EXPECT_FALSE(form->Visible());
  EXPECT_EQ(oc->closes, 0);
  EXPECT_EQ(owner->Controller()->ModalChild(), nullptr);
  EXPECT_EQ(oc->activations, 1);
  EXPECT_TRUE(owner->Active());
  owner->Free();
  app->Finalize();
  app->Free();
}

TEST(FormsUnit, DefaultColourAndFactory) {
  ClearDefaultFormColor();
  TFormColor c{1, 2, 3, 4};
  EXPECT_FALSE(GetDefaultFormColor(c));
  EXPECT_EQ(c.R, 255);
  EXPECT_EQ(c.G, 255);
  EXPECT_EQ(c.B, 255);
  SetDefaultFormColor(10, 20, 30);
  EXPECT_TRUE(GetDefaultFormColor(c));
  EXPECT_EQ(c.R, 10);
  EXPECT_EQ(c.B, 30);
  auto* f = new TKvForm(&MakeNoWindow);
  EXPECT_EQ(f->Color(), (TFormColor{30, 20, 10, 255}));
  f->Free();
  ClearDefaultFormColor();
  ClearFormControllerFactory();
  EXPECT_THROW(new TKvForm(), foundation::EAssertionFailed);
  SetFormControllerFactory(&MakeNoWindow);
  EXPECT_THROW(SetFormControllerFactory(&MakeNoWindow), foundation::EAssertionFailed);
  ClearFormControllerFactory();
}

}  // namespace
