#include "controls/kvFrameControls.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "foundation/kpExceptions.h"
#include "tests/controls/ControlsTestEnv.h"
#include "tests/controls/FrameRig.h"

namespace {

using controls::TFrameControl;
using controls::TKeyboardData;
using controls::TRect;
using controls_test::TRecordingDevice;
using foundation::TRef;

// Records "<control>:<event>" for every event of the controls it watches.
class TLog : public windowing::TEventHandler {
 public:
  void HandleEvent(foundation::TRefObject* sender, int32_t tag, foundation::TRefObject* data) override {
    auto* c = static_cast<TFrameControl*>(sender);
    Lines.push_back(std::string(c->GetName().View()) + ":" + std::to_string(tag));
    if (tag == controls::ceKey || tag == controls::ceDefaultKey) {
      auto* key = static_cast<controls::TKeyRecord*>(data);
      if (HandleAt == Lines.back()) key->Data->Handled = 1;
    }
    if (tag == controls::ceMouse) {
      auto* m = static_cast<controls::TMouseEx*>(data);
      MouseAt.push_back({m->X, m->Y});
    }
  }
  void Watch(TFrameControl* c, std::vector<int32_t> ids) { c->GetEvents()->SubscribeIds(ids, this); }
  std::vector<std::string> Lines;
  std::string HandleAt;
  std::vector<controls::TPoint> MouseAt;
};

class TTabOnly : public TFrameControl {
 public:
  using TFrameControl::TFrameControl;
  int32_t GetFocusKinds() override { return controls::fkTab; }
};

// Records font notices; a control with its own font stops them going down.
std::vector<std::string> g_fontNotices;
class TFontAware : public TFrameControl {
 public:
  using TFrameControl::TFrameControl;
  void ParentFontChanged(bool& goOn) override {
    g_fontNotices.push_back(std::string(GetName().View()));
    goOn = !OwnFont;
  }
  bool OwnFont = false;
};

struct Controls : ::testing::Test {
  void SetUp() override {
    device = foundation::MakeRef<TRecordingDevice>();
    device->Origin = {0, 0};
    rootFrame = TRef<controls::TDrawFrame>::Adopt(controls::CreateRootFrame(device.Get()));
    root = new TFrameControl(rootFrame.Get());
    root->SetName(foundation::TByteString::FromBytes("root"));
    root->SetSize(300, 200);
    log = foundation::MakeRef<TLog>();
  }
  void TearDown() override {
    if (root) root->Free();
    log.Reset();
    rootFrame.Reset();
    controls::DoneDrawFrames();
  }
  template <class T = TFrameControl>
  T* Make(TFrameControl* parent, const char* name, TRect bounds, bool tab = false) {
    auto* c = new T(parent->GetClientFrame());
    c->SetName(foundation::TByteString::FromBytes(name));
    c->SetBoundsRect(bounds);
    c->SetTabStop(tab);
    byName[name] = c;
    return c;
  }
  std::string FocusPath() {
    std::string s;
    for (TFrameControl* c = root; c; c = c->FocusedChild) s += std::string(c->GetName().View()) + (c->Focused ? "*" : "") + "/";
    return s;
  }
  std::string Deepest() {
    TFrameControl* c = root;
    while (c->FocusedChild) c = c->FocusedChild;
    return std::string(c->GetName().View());
  }
  bool Key(int kind, int code, uint32_t shift = 0) {
    TKeyboardData k;
    k.Kind = kind;
    k.Key = uint16_t(code);
    k.Shift = shift;
    root->DispatchKey(k);
    return k.Handled != 0;
  }
  void Pass() { device->UpdateFrames(rootFrame.Get(), {0, 0}, TRect{0, 0, 300, 200}); }

  TRef<TRecordingDevice> device;
  TRef<controls::TDrawFrame> rootFrame;
  TFrameControl* root = nullptr;
  TRef<TLog> log;
  std::map<std::string, TFrameControl*> byName;
};

TEST_F(Controls, TabAndShiftTabWrapOverHiddenAndDisabledSubtrees) {
  Make(root, "a", {0, 0, 10, 10}, true);
  TFrameControl* panel = Make(root, "panel", {0, 20, 100, 60});
  Make(panel, "b", {0, 0, 10, 10}, true);
  Make(panel, "c", {20, 0, 30, 10}, true)->SetEnabled(false);
  TFrameControl* hidden = Make(root, "hidden", {0, 70, 50, 90});
  Make(hidden, "d", {0, 0, 10, 10}, true);
  hidden->SetVisible(false);
  TFrameControl* off = Make(root, "off", {0, 100, 50, 120});
  Make(off, "e", {0, 0, 10, 10}, true)->SetEnabledState(1);  // enabled itself, inside a disabled control
  off->SetEnabled(false);
  Make<TTabOnly>(root, "f", {0, 130, 10, 140}, true);
  Make(root, "g", {0, 150, 10, 160}, false);

  // Starting with nothing focused: the first Tab goes to the first candidate.
  std::vector<std::string> forward;
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(Key(controls::kkChar, 9));
    forward.push_back(Deepest());
  }
  EXPECT_EQ(forward, (std::vector<std::string>{"a", "b", "f", "a"}));
  EXPECT_EQ(FocusPath(), "root*/a*/");
  std::vector<std::string> backward;
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(Key(controls::kkChar, 9, controls::ssShift));
    backward.push_back(Deepest());
  }
  EXPECT_EQ(backward, (std::vector<std::string>{"f", "b", "a", "f"}));
  // The old focus path is left: "panel" lost its focus when "f" took it.
  EXPECT_EQ(byName["panel"]->Focused, 0);
  EXPECT_EQ(byName["b"]->Focused, 0);
  EXPECT_EQ(byName["f"]->Focused, 1);
  // Arrow moves skip "f", which takes Tab moves only; right wraps to "a".
  EXPECT_TRUE(Key(controls::kkKeyDown, 39));
  EXPECT_EQ(Deepest(), "a");
  EXPECT_TRUE(Key(controls::kkKeyDown, 38));  // up: backward
  EXPECT_EQ(Deepest(), "b");
  // Tab with Ctrl is no move and stays unhandled; other keys too.
  EXPECT_FALSE(Key(controls::kkChar, 9, controls::ssCtrl));
  EXPECT_FALSE(Key(controls::kkKeyDown, 65));
  EXPECT_EQ(Deepest(), "b");
}

TEST_F(Controls, WithoutCandidatesTabIsStillConsumed) {
  Make(root, "x", {0, 0, 10, 10}, false);
  EXPECT_TRUE(Key(controls::kkChar, 9));
  EXPECT_EQ(root->FocusedChild, nullptr);
}

TEST_F(Controls, KeysGoDeepestFirstAndDefaultHandlingRunsUpward) {
  TFrameControl* panel = Make(root, "panel", {0, 0, 100, 100});
  TFrameControl* edit = Make(panel, "edit", {0, 0, 10, 10}, true);
  Make(panel, "other", {20, 0, 30, 10}, true);
  edit->SetFocus();
  EXPECT_EQ(FocusPath(), "root*/panel*/edit*/");
  for (auto* c : {root, panel, edit}) log->Watch(c, {controls::ceKey, controls::ceDefaultKey});
  EXPECT_FALSE(Key(controls::kkKeyDown, 65));
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"edit:14", "edit:15", "panel:15", "root:15"}));
  log->Lines.clear();
  log->HandleAt = "panel:15";
  EXPECT_TRUE(Key(controls::kkKeyDown, 65));
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"edit:14", "edit:15", "panel:15"}));
  log->Lines.clear();
  log->HandleAt = "edit:14";
  EXPECT_TRUE(Key(controls::kkChar, 9));  // handled by the control: no Tab move
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"edit:14"}));
  EXPECT_EQ(Deepest(), "edit");
}

TEST_F(Controls, FocusEventsAlongThePath) {
  TFrameControl* a = Make(root, "a", {0, 0, 10, 10}, true);
  TFrameControl* b = Make(root, "b", {20, 0, 30, 10}, true);
  for (auto* c : {root, a, b})
    log->Watch(c, {controls::ceSelected, controls::ceDeselected, controls::ceFocus, controls::ceFocusChangeDone,
                   controls::ceFocusChanging});
  a->SetFocus();
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"root:19", "a:3", "root:18", "root:5", "a:5"}));
  log->Lines.clear();
  b->SetFocus();
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"root:19", "a:4", "a:5", "b:3", "b:5", "root:18"}));
  EXPECT_EQ(a->Focused, 0);
  // Another parent's control is refused as a focused child.
  TFrameControl* inner = Make(a, "inner", {0, 0, 5, 5});
  root->SetFocusedChild(inner);
  EXPECT_EQ(root->FocusedChild, b);
}

TEST_F(Controls, MouseReachesTheControlUnderThePointerAndWheelPassesThrough) {
  TFrameControl* panel = Make(root, "panel", {10, 10, 110, 110});
  TFrameControl* button = Make(panel, "button", {20, 30, 60, 50});
  controls::WheelCatchCounter = 0;
  TFrameControl* label = Make(panel, "label", {20, 60, 60, 80});
  controls::WheelCatchCounter = 1;
  EXPECT_EQ(label->CatchesWheel, 0);
  for (auto* c : {panel, button, label}) log->Watch(c, {controls::ceMouse, controls::ceMouseLeave});
  device->MouseEvent(rootFrame.Get(), {35, 45}, {35, 45}, 0, controls::mkMove, 0, true);
  ASSERT_EQ(log->Lines, std::vector<std::string>{"button:11"});
  EXPECT_EQ(log->MouseAt[0].X, 5);  // 35 - 10 - 20
  EXPECT_EQ(log->MouseAt[0].Y, 5);
  log->Lines.clear();
  // A wheel over the label goes to the panel beneath it.
  device->MouseEvent(rootFrame.Get(), {35, 75}, {35, 75}, 0, controls::mkWheel, 120, true);
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"button:12", "panel:11"}));
  log->Lines.clear();
  device->MouseEvent(rootFrame.Get(), {35, 75}, {35, 75}, 0, controls::mkMove, 0, true);
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"panel:12", "label:11"}));
  // A hidden control takes no mouse.
  label->SetVisible(false);
  log->Lines.clear();
  device->MouseEvent(rootFrame.Get(), {36, 75}, {36, 75}, 0, controls::mkMove, 0, true);
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"label:12", "panel:11"}));
}

TEST_F(Controls, SizeAndPositionChangesInvalidateAndFire) {
  TFrameControl* c = Make(root, "c", {10, 10, 30, 20});
  Pass();
  log->Watch(c, {controls::ceSizing, controls::ceSized, controls::ceMoving, controls::ceMoved});
  device->Dirty.clear();
  c->SetSize(40, 20);
  c->SetSize(40, 20);  // no change: nothing
  c->SetPosition(50, 60);
  Pass();
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"c:7", "c:8", "c:9", "c:10"}));
  EXPECT_TRUE(device->Dirtied(TRect{10, 10, 30, 20}));  // the old area
  EXPECT_TRUE(device->Dirtied(TRect{50, 60, 90, 80}));  // the new one
  c->SetSize(-5, 7);
  EXPECT_EQ(c->Width, 0);
  EXPECT_EQ(c->Height, 7);
  EXPECT_EQ(c->ClientToScreen({1, 1}).X, 51);
  EXPECT_EQ(c->ScreenToClient({51, 61}).Y, 1);
  EXPECT_EQ(c->ScaleX(13), 13);  // no style set: unscaled
}

TEST_F(Controls, ChildOrderFollowsFrameOrder) {
  TFrameControl* first = Make(root, "first", {0, 0, 1, 1});
  TFrameControl* second = Make(root, "second", {0, 0, 1, 1});
  // A control on a frame inserted before "second"'s frame takes its index.
  auto* middle = new TFrameControl(controls::AddFrameBefore(root->Frame.Get(), second->Frame.Get()));
  EXPECT_EQ(middle->Index, 1);
  EXPECT_EQ(second->Index, 2);
  EXPECT_EQ(root->Child(1), middle);
  EXPECT_EQ(first->NextSibling(), middle);
  EXPECT_EQ(middle->NextSibling(), second);
  EXPECT_EQ(second->NextSibling(), nullptr);
  EXPECT_EQ(middle->GetRoot(), root);
  // A frame below a frame without control finds no parent control.
  auto loose = TRef<controls::TDrawFrame>::Adopt(controls::CreateRootFrame(device.Get()));
  controls::TDrawFrame* below = controls::InsertFrame(loose.Get(), 0);
  EXPECT_THROW(new TFrameControl(below), foundation::EAssertionFailed);
}

TEST_F(Controls, DisposingAParentReleasesItsChildren) {
  TFrameControl* panel = Make(root, "panel", {0, 0, 50, 50});
  TFrameControl* a = Make(panel, "a", {0, 0, 5, 5});
  Make(panel, "b", {10, 0, 15, 5});
  log->Watch(panel, {controls::ceDisposing, controls::ceChildRemoved});
  log->Watch(root, {controls::ceChildRemoved});
  log->Watch(a, {controls::ceDisposing});
  controls::EnterUpdateBracket();
  panel->RemoveAndRelease();
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"root:17", "panel:0", "panel:17", "a:0", "panel:17"}));
  EXPECT_EQ(root->ChildCount(), 0);
  EXPECT_EQ(root->Frame->ChildCount(), 0);
  // Released inside a bracket: still readable until it ends.
  EXPECT_EQ(a->RemovedByParent, 1);
  EXPECT_EQ(a->Parent, nullptr);
  EXPECT_EQ(controls::DeferredReleaseCount(), 3);
  controls::LeaveUpdateBracket();
  EXPECT_EQ(controls::DeferredReleaseCount(), 0);
  EXPECT_THROW(controls::LeaveUpdateBracket(), foundation::EAssertionFailed);
}

TEST_F(Controls, EnabledStateInheritsFromTheParent) {
  TFrameControl* panel = Make(root, "panel", {0, 0, 50, 50});
  TFrameControl* child = Make(panel, "child", {0, 0, 5, 5});
  TFrameControl* own = Make(panel, "own", {0, 0, 5, 5});
  own->SetEnabledState(1);
  log->Watch(panel, {controls::ceEnabled});
  log->Watch(child, {controls::ceEnabled});
  log->Watch(own, {controls::ceEnabled});
  panel->SetEnabled(false);
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"panel:6", "child:6"}));
  EXPECT_FALSE(child->IsEnabled());
  EXPECT_TRUE(own->IsEnabled());
  log->Lines.clear();
  child->SetEnabled(true);  // "inherit" again: still disabled, no event
  EXPECT_FALSE(child->IsEnabled());
  EXPECT_TRUE(log->Lines.empty());
  panel->SetEnabled(true);
  EXPECT_TRUE(child->IsEnabled());
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"panel:6", "child:6"}));
}

TEST_F(Controls, DeferredUpdatesTickAndTagsAreFoundByClass) {
  TFrameControl* c = Make(root, "c", {0, 0, 5, 5});
  log->Watch(c, {controls::ceTick});
  EXPECT_TRUE(c->RequestDeferredUpdate());
  device->ProcessPending();
  EXPECT_EQ(log->Lines, std::vector<std::string>{"c:2"});
  auto* probe = new TTabOnly(c->GetClientFrame());
  EXPECT_EQ(c->FindTag<TLog>(), nullptr);
  c->GetTags()->Add(TRef<TLog>::AddRef(log.Get()).Detach());
  EXPECT_EQ(c->FindTag<TLog>(), log.Get());
  EXPECT_EQ(probe->Parent, c);
}

TEST_F(Controls, FontNoticesStopBelowAControlWithItsOwnFont) {
  auto* outer = Make<TFontAware>(root, "outer", {0, 0, 50, 50});
  auto* own = Make<TFontAware>(outer, "own", {0, 0, 20, 20});
  Make<TFontAware>(own, "below_own", {0, 0, 5, 5});
  Make<TFontAware>(outer, "plain", {30, 0, 40, 10});
  own->OwnFont = true;
  g_fontNotices.clear();
  root->NotifyFontChanged();
  EXPECT_EQ(g_fontNotices, (std::vector<std::string>{"outer", "own", "plain"}));
  // Without a style set the root answers the default user-interface font.
  text::TFontParams font;
  own->GetFont(font);
  EXPECT_FALSE(font.Name.empty());
  EXPECT_GT(font.Size, 0);
}

}  // namespace
