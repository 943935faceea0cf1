#include "controls/kvDrawFrames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/kpExceptions.h"
#include "tests/controls/ControlsTestEnv.h"
#include "tests/controls/FrameRig.h"

namespace {

using controls::TDrawFrame;
using controls::TRect;
using controls_test::TRecordingDevice;
using controls_test::TRecordingHandler;
using controls_test::TRecordingSurface;
using foundation::TRef;

bool Same(const TRect& a, const TRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

// A root, a panel at (10, 10) and two handlers: A at (5, 5) of the panel
// with client (0, 0, 20, 10), B at (40, 5) with client (0, 0, 10, 10).
struct Tree : ::testing::Test {
  void SetUp() override {
    device = foundation::MakeRef<TRecordingDevice>();
    root = TRef<TDrawFrame>::Adopt(controls::CreateRootFrame(device.Get()));
    panel = controls::InsertFrame(root.Get(), 0);
    panel->SetPosition(10, 10);
    a = Attach("A", controls::InsertFrame(panel, 0), 5, 5, TRect{0, 0, 20, 10});
    b = Attach("B", controls::InsertFrame(panel, 1), 40, 5, TRect{0, 0, 10, 10});
    Pass();
  }
  void TearDown() override {
    for (auto* h : handlers) h->Free();
    root.Reset();
  }
  TRecordingHandler* Attach(const std::string& name, TDrawFrame* f, int x, int y, TRect client) {
    auto* h = new TRecordingHandler(name, client, 0xFF000000u | uint32_t(handlers.size() + 1));
    f->SetPosition(x, y);
    h->SetFrame(f);
    handlers.push_back(h);
    return h;
  }
  void Pass() { device->UpdateFrames(root.Get(), controls::TPoint{0, 0}, TRect{0, 0, 200, 100}); }
  int32_t Mouse(int x, int y, int shift, int kind, int button, bool inside = true) {
    return device->MouseEvent(root.Get(), {x, y}, {x + 100, y + 50}, shift, kind, button, inside);
  }

  TRef<TRecordingDevice> device;
  TRef<TDrawFrame> root;
  TDrawFrame* panel = nullptr;
  TRecordingHandler* a = nullptr;
  TRecordingHandler* b = nullptr;
  std::vector<TRecordingHandler*> handlers;
};

TEST_F(Tree, FirstPassPositionsShowsAndInvalidates) {
  EXPECT_TRUE(device->Dirtied(TRect{15, 15, 35, 25}));
  EXPECT_TRUE(device->Dirtied(TRect{50, 15, 60, 25}));
  EXPECT_EQ(a->Frame->AbsPos.X, 15);
  EXPECT_EQ(a->Showing, std::vector<bool>{true});
  EXPECT_EQ(a->Frame->Flags & (controls::dfShowing | controls::dfClipped), controls::dfShowing);
  EXPECT_EQ(a->Frame->Flags & (controls::dfPathDirty | controls::dfInvalid | controls::dfMoved), 0);
  // An unchanged tree: nothing is invalidated again.
  device->Dirty.clear();
  Pass();
  for (auto& d : device->Dirty) ADD_FAILURE() << d.Left << "," << d.Top << "," << d.Right << "," << d.Bottom;
}

TEST_F(Tree, MovingAParentInvalidatesOldAndNewAreasOfItsChildren) {
  device->Dirty.clear();
  const int before = device->PassRequests;
  panel->SetPosition(60, 30);
  EXPECT_GT(device->PassRequests, before);  // a pass was asked for
  Pass();
  EXPECT_TRUE(device->Dirtied(TRect{15, 15, 35, 25}));  // A old
  EXPECT_TRUE(device->Dirtied(TRect{65, 35, 85, 45}));  // A new
  EXPECT_TRUE(device->Dirtied(TRect{50, 15, 60, 25}));  // B old
  EXPECT_TRUE(device->Dirtied(TRect{100, 35, 110, 45}));  // B new
  EXPECT_EQ(device->Dirty.size(), 4u);
  EXPECT_EQ(b->Frame->AbsPos.X, 100);
  EXPECT_EQ(b->Frame->AbsPos.Y, 35);
  EXPECT_EQ(a->Showing, std::vector<bool>{true});
  // Screen positions add the device's origin.
  EXPECT_EQ(a->Frame->AbsOrigin().X, 165);
  EXPECT_EQ(a->Frame->FrameToScreen({1, 2}).Y, 87);  // 30 + 5 + 50 + 2
}

TEST_F(Tree, InvalidatingAFrameRepaintsOnlyItsArea) {
  device->Dirty.clear();
  a->Client = TRect{0, 0, 30, 10};
  a->Invalidate();
  Pass();
  // Old area and new one; B is not touched.
  EXPECT_TRUE(device->Dirtied(TRect{15, 15, 35, 25}));
  EXPECT_TRUE(device->Dirtied(TRect{15, 15, 45, 25}));
  EXPECT_EQ(device->Dirty.size(), 2u);
}

TEST_F(Tree, ClippedChildrenGetNoPaintAndNoMouse) {
  panel->SetClipping(true);
  panel->SetClipRect(TRect{0, 0, 30, 30});  // A inside, B (x 40) outside
  device->Dirty.clear();
  Pass();
  EXPECT_EQ(b->Showing, (std::vector<bool>{true, false}));
  EXPECT_TRUE(device->Dirtied(TRect{50, 15, 60, 25}));  // where B was
  EXPECT_EQ(b->Frame->Flags & controls::dfShowing, 0);
  EXPECT_NE(b->Frame->Flags & controls::dfClipped, 0);
  auto surface = foundation::MakeRef<TRecordingSurface>();
  device->PaintFrames(root.Get(), surface.Get(), {0, 0}, TRect{0, 0, 200, 100});
  EXPECT_EQ(a->Paints, 1);
  EXPECT_EQ(b->Paints, 0);
  EXPECT_EQ(a->PaintOrigin.X, 15);
  ASSERT_EQ(surface->Fills.size(), 1u);
  EXPECT_TRUE(Same(surface->Fills[0], TRect{15, 15, 35, 25}));
  Mouse(57, 17, 0, controls::mkMove, 0);
  EXPECT_TRUE(b->Mouse.empty());
  EXPECT_EQ(device->Hovered, nullptr);
  // A partly clipped child shows only its visible part and is marked clipped.
  panel->SetClipRect(TRect{0, 0, 15, 30});
  device->Dirty.clear();
  Pass();
  EXPECT_NE(a->Frame->Flags & controls::dfClipped, 0);
  EXPECT_TRUE(device->Dirtied(TRect{15, 15, 25, 25}));
  auto clipped = foundation::MakeRef<TRecordingSurface>();
  device->PaintFrames(root.Get(), clipped.Get(), {0, 0}, TRect{0, 0, 200, 100});
  ASSERT_EQ(clipped->Fills.size(), 1u);
  EXPECT_TRUE(Same(clipped->Fills[0], TRect{15, 15, 25, 25}));
}

TEST_F(Tree, HiddenFramesStopShowingAndComeBack) {
  a->Frame->SetVisible(false);
  device->Dirty.clear();
  Pass();
  EXPECT_EQ(a->Showing, (std::vector<bool>{true, false}));
  EXPECT_TRUE(device->Dirtied(TRect{15, 15, 35, 25}));
  auto surface = foundation::MakeRef<TRecordingSurface>();
  device->PaintFrames(root.Get(), surface.Get(), {0, 0}, TRect{0, 0, 200, 100});
  EXPECT_EQ(a->Paints, 0);
  a->Frame->SetVisible(true);
  Pass();
  EXPECT_EQ(a->Showing, (std::vector<bool>{true, false, true}));
}

TEST_F(Tree, HoverMovesBetweenFramesWithLeaveNotices) {
  Mouse(16, 17, 0, controls::mkMove, 0);
  ASSERT_EQ(a->Mouse.size(), 1u);
  EXPECT_EQ(a->Mouse[0].X, 1);  // relative to A
  EXPECT_EQ(a->Mouse[0].Y, 2);
  EXPECT_EQ(device->Hovered, a->Frame.Get());
  Mouse(56, 16, 0, controls::mkMove, 0);
  EXPECT_EQ(a->Leaves, 1);
  EXPECT_EQ(b->Mouse.size(), 1u);
  EXPECT_EQ(device->Hovered, b->Frame.Get());
  Mouse(150, 90, 0, controls::mkMove, 0);  // over nothing
  EXPECT_EQ(b->Leaves, 1);
  EXPECT_EQ(device->Hovered, nullptr);
  // The cursor the handler asks for comes back.
  a->CursorAnswer = 7;
  EXPECT_EQ(Mouse(16, 17, 0, controls::mkMove, 0), 7);
}

TEST_F(Tree, PressDragOutAndReleaseOutsideTheForm) {
  using namespace controls;
  Mouse(16, 16, ssLeft, mkDown, mbLeft);
  ASSERT_EQ(a->Mouse.size(), 1u);
  EXPECT_EQ(a->Mouse[0].Kind, mkDown);
  EXPECT_EQ(a->Mouse[0].Captured, 0);
  EXPECT_EQ(device->Mouse->Captured, 1);
  // Dragged across B and out of the form: A sees every move, B nothing.
  Mouse(57, 17, ssLeft, mkMove, 0);
  Mouse(300, 300, ssLeft, mkMove, 0, false);
  ASSERT_EQ(a->Mouse.size(), 3u);
  EXPECT_TRUE(b->Mouse.empty());
  EXPECT_EQ(a->Mouse[2].X, 285);  // still relative to A
  EXPECT_EQ(a->Mouse[2].Captured, 1);
  // Released outside: the next event finds the button up; A gets a
  // button-up while its capture is still set, then the capture ends.
  Mouse(310, 310, 0, mkMove, 0, false);
  ASSERT_EQ(a->Mouse.size(), 4u);
  EXPECT_EQ(a->Mouse[3].Kind, mkUp);
  EXPECT_EQ(a->Mouse[3].Button, mbLeft);
  EXPECT_EQ(a->Mouse[3].Captured, 1);
  EXPECT_EQ(a->Mouse[3].CapturedButton, mbLeft);
  EXPECT_EQ(device->Mouse->Captured, 0);
  EXPECT_EQ(a->Leaves, 1);
  EXPECT_EQ(device->Hovered, nullptr);
}

TEST_F(Tree, TheRealButtonUpReachesTheCapturedFrameOnceWithTheCaptureSet) {
  using namespace controls;
  Mouse(16, 16, ssLeft, mkDown, mbLeft);
  Mouse(17, 16, 0, mkUp, mbLeft);
  ASSERT_EQ(a->Mouse.size(), 2u);
  EXPECT_EQ(a->Mouse[1].Kind, mkUp);
  EXPECT_EQ(a->Mouse[1].Captured, 1);
  EXPECT_EQ(a->Mouse[1].X, 2);
  EXPECT_EQ(device->Mouse->Captured, 0);
  EXPECT_EQ(a->Leaves, 0);
  // The next move is an ordinary one.
  Mouse(18, 16, 0, mkMove, 0);
  ASSERT_EQ(a->Mouse.size(), 3u);
  EXPECT_EQ(a->Mouse[2].Kind, mkMove);
  EXPECT_EQ(a->Mouse[2].Captured, 0);
}

TEST_F(Tree, ReleaseOverAnotherFrameEndsAsAMoveThere) {
  using namespace controls;
  Mouse(16, 16, ssRight, mkDown, mbRight);
  Mouse(56, 16, ssRight, mkMove, 0);
  Mouse(56, 16, 0, mkUp, mbRight);
  ASSERT_EQ(a->Mouse.size(), 3u);
  EXPECT_EQ(a->Mouse[2].Kind, mkUp);
  EXPECT_EQ(a->Mouse[2].Button, mbRight);
  EXPECT_EQ(a->Mouse[2].Captured, 1);
  EXPECT_EQ(a->Leaves, 1);
  ASSERT_EQ(b->Mouse.size(), 1u);
  EXPECT_EQ(b->Mouse[0].Kind, mkMove);
  EXPECT_EQ(b->Mouse[0].X, 6);
  EXPECT_EQ(device->Hovered, b->Frame.Get());
  // The record is left as it was given.
  EXPECT_EQ(device->Mouse->Kind, mkUp);
  EXPECT_EQ(device->Mouse->X, 56);
}

TEST_F(Tree, OtherButtonsDoNotCaptureAndWheelKeepsTheButtonBits) {
  using namespace controls;
  Mouse(16, 16, 0, mkDown, 2);  // not a capturing button
  EXPECT_EQ(device->Mouse->Captured, 0);
  device->Mouse->Shift = ssLeft | ssCtrl;
  device->MouseWheel(root.Get(), ssShift, -120);
  ASSERT_EQ(a->Mouse.size(), 2u);
  EXPECT_EQ(a->Mouse[1].Kind, mkWheel);
  EXPECT_EQ(device->Mouse->Shift, ssLeft | ssShift);
  EXPECT_EQ(device->Mouse->Wheel, -120);
  EXPECT_TRUE(device->SetShiftBit(3, true));
  EXPECT_FALSE(device->SetShiftBit(3, true));
  EXPECT_EQ(device->Mouse->Shift, ssLeft | ssShift | ssCtrl);
}

TEST_F(Tree, PendingUpdatesRunOncePerPassAndAgainOnlyInTheNext) {
  EXPECT_TRUE(a->RequestDeferredUpdate());
  EXPECT_TRUE(a->RequestDeferredUpdate());
  EXPECT_TRUE(b->RequestDeferredUpdate());
  EXPECT_EQ(device->PendingCount(), 2);
  EXPECT_EQ(device->PendingCalls, std::vector<bool>{true});
  a->AskAgain = 1;  // asks again inside its own update
  device->ProcessPending();
  EXPECT_EQ(a->Updates, 1);
  EXPECT_EQ(b->Updates, 1);
  EXPECT_EQ(device->PendingCount(), 1);
  EXPECT_EQ(device->PendingCalls, std::vector<bool>{true});
  device->ProcessPending();
  EXPECT_EQ(a->Updates, 2);
  EXPECT_EQ(b->Updates, 1);
  EXPECT_EQ(device->PendingCalls, (std::vector<bool>{true, false}));
  // Removed before the pass: not run.
  b->RequestDeferredUpdate();
  EXPECT_TRUE(device->RemovePending(b));
  EXPECT_FALSE(device->RemovePending(b));
  device->ProcessPending();
  EXPECT_EQ(b->Updates, 1);
}

TEST(Frames, InsertRemoveAndSiblingPlacement) {
  auto device = foundation::MakeRef<TRecordingDevice>();
  auto root = TRef<TDrawFrame>::Adopt(controls::CreateRootFrame(device.Get()));
  EXPECT_EQ(controls::InsertFrame(root.Get(), 1), nullptr);
  EXPECT_EQ(controls::InsertFrame(root.Get(), -1), nullptr);
  TDrawFrame* f0 = controls::InsertFrame(root.Get(), 0);
  TDrawFrame* f2 = controls::AddFrameAfter(root.Get(), f0);
  TDrawFrame* f1 = controls::AddFrameBefore(root.Get(), f2);
  TDrawFrame* first = controls::AddFrameBefore(root.Get(), nullptr);
  auto other = TRef<TDrawFrame>::Adopt(controls::CreateRootFrame(device.Get()));
  TDrawFrame* last = controls::AddFrameAfter(root.Get(), other.Get());  // not a child: at the end
  ASSERT_EQ(root->ChildCount(), 5);
  const TDrawFrame* order[] = {first, f0, f1, f2, last};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(root->Child(i), order[i]) << i;
    EXPECT_EQ(root->Child(i)->FrameIndex, i);
  }
  EXPECT_EQ(f1->Device.Get(), device.Get());
  EXPECT_TRUE(f1->IsVisible());
  TRef<TDrawFrame> removed = TRef<TDrawFrame>::Adopt(controls::RemoveFrame(root.Get(), 1));
  EXPECT_EQ(removed.Get(), f0);
  EXPECT_EQ(removed->ParentFrame, nullptr);
  EXPECT_EQ(f2->FrameIndex, 2);
  EXPECT_EQ(controls::RemoveFrame(root.Get(), 4), nullptr);
  // A second handler on one frame is refused.
  auto* h1 = new TRecordingHandler("1", TRect{0, 0, 1, 1});
  auto* h2 = new TRecordingHandler("2", TRect{0, 0, 1, 1});
  h1->SetFrame(f1);
  EXPECT_THROW(h2->SetFrame(f1), foundation::EAssertionFailed);
  // Disposing a handler takes its frame out of the tree.
  h1->Free();
  EXPECT_EQ(root->ChildCount(), 3);
  EXPECT_EQ(f2->FrameIndex, 1);
  h2->Free();
}

TEST(Frames, RectangleHelpers) {
  using namespace controls;
  EXPECT_TRUE(IsRectEmpty(TRect{5, 5, 5, 10}));
  EXPECT_TRUE(SameRect(TRect{1, 1, 0, 0}, TRect{9, 9, 2, 2}));
  EXPECT_FALSE(SameRect(TRect{0, 0, 1, 1}, TRect{0, 0, 1, 2}));
  TRect r{0, 0, 10, 10};
  IntersectRectInPlace(r, TRect{20, 20, 30, 30});
  EXPECT_TRUE(Same(r, EmptyRect));
  EXPECT_TRUE(Same(UnionRects(EmptyRect, TRect{1, 2, 3, 4}), TRect{1, 2, 3, 4}));
  EXPECT_TRUE(Same(UnionRects(TRect{0, 0, 2, 2}, TRect{5, 1, 6, 8}), TRect{0, 0, 6, 8}));
  EXPECT_TRUE(Same(OffsetRectBy(TRect{0, 0, 2, 2}, 3, -1), TRect{3, -1, 5, 1}));
}

}  // namespace
