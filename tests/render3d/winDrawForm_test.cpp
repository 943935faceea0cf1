// The window side of a drawn surface on a fake window that repaints
// synchronously: the refresh rectangle grows by the margin and is clamped
// and moved by the drawer origin, a paint message presents first and only
// repaints when presenting fails, and a nested paint message only presents.
#include <gtest/gtest.h>

#include <vector>

#include "render3d/winDrawForm.h"

using namespace render3d;
using foundation::TRect;

namespace {

bool Same(const TRect& a, const TRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

struct TFakeWindow : TPaintWindow {
  std::vector<TRect> Invalidated;
  TRect NextPaint;  // the paint structure's rectangle of the next paint message
  TWinDrawSurface* Surface = nullptr;
  int32_t Updates = 0, Begun = 0, Ended = 0;
  void InvalidateRect(uintptr_t, const TRect& R) override { Invalidated.push_back(R); }
  void UpdateWindow(uintptr_t W) override {
    ++Updates;
    if (Surface) Surface->PaintHandler(W);  // repaint at once, as a real window does
  }
  void BeginPaint(uintptr_t, TRect& R, uintptr_t& DC) override {
    ++Begun;
    R = NextPaint;
    DC = 0xD0;
  }
  void EndPaint(uintptr_t) override { ++Ended; }
};

class TPresentDrawer : public TDevDrawer {
 public:
  bool CanPresent = true;
  std::vector<TRect> Presented, Fills;
  std::vector<uintptr_t> DCs;
  void FillRect(const TRect& R, uint32_t) override { Fills.push_back(R); }
  void DrawImage(imaging::TImage*, const TRect&, TSurfaceTransform&) override {}
  bool Present(TRefreshParams* P) override {
    Presented.push_back(P->Rect);
    auto* w = dynamic_cast<TWinRefreshParams*>(P);
    DCs.push_back(w ? w->DC : 0);
    return CanPresent;
  }
};

TEST(WinDrawSurface, RefreshGrowsByTheMarginClampsAndMovesByTheOrigin) {
  TFakeWindow win;
  auto* d = new TPresentDrawer;
  auto* s = new TWinDrawSurface(d, &win);
  s->SetBounds(9, TRect{0, 0, 100, 100});
  s->Refresh(TRect{10, 10, 20, 20});
  ASSERT_EQ(win.Invalidated.size(), 1u);
  EXPECT_TRUE(Same(win.Invalidated[0], TRect{0, 0, 52, 52}));
  EXPECT_EQ(win.Updates, 1);
  s->SetBounds(9, TRect{5, 7, 105, 107});
  s->Refresh(TRect{50, 60, 70, 90});  // (18, 28, 102, 122) clamped to (18, 28, 100, 100), moved by (5, 7)
  EXPECT_TRUE(Same(win.Invalidated[1], TRect{23, 35, 105, 107}));
  s->Refresh(TRect{});
  EXPECT_EQ(win.Invalidated.size(), 2u);
  s->Free();
}

TEST(WinDrawSurface, PaintMessagePresentsFirstAndRepaintsOnlyWhenThatFails) {
  TFakeWindow win;
  auto* d = new TPresentDrawer;
  auto* s = new TWinDrawSurface(d, &win);
  s->SetBounds(9, TRect{0, 0, 100, 80});
  int32_t paints = 0;
  s->PaintCallback = [&](TDevDrawSurface* surf) {
    ++paints;
    surf->FillRect(TRect{0, 0, 30, 30}, 0xFF000000);
  };
  // an empty paint rectangle stands for the drawer's whole bounds
  win.NextPaint = TRect{};
  EXPECT_TRUE(s->PaintHandler(9));
  ASSERT_EQ(d->Presented.size(), 1u);
  EXPECT_TRUE(Same(d->Presented[0], TRect{0, 0, 100, 80}));
  EXPECT_EQ(d->DCs[0], 0xD0u);
  EXPECT_EQ(paints, 0);
  EXPECT_EQ(win.Begun, 1);
  EXPECT_EQ(win.Ended, 1);

  // presenting fails: the surface repaints the area; its refresh re-enters
  // the paint handler through UpdateWindow, which then only tries to present
  d->CanPresent = false;
  win.Surface = s;
  win.NextPaint = TRect{20, 20, 40, 40};
  d->Presented.clear();
  s->PaintHandler(9);
  EXPECT_EQ(paints, 1);
  ASSERT_EQ(d->Fills.size(), 1u);
  EXPECT_TRUE(Same(d->Fills[0], TRect{20, 20, 30, 30}));  // only inside the repainted area
  // the repaint's refresh grew the area by the margin
  EXPECT_TRUE(Same(win.Invalidated.back(), TRect{0, 0, 72, 72}));
  // outer present, then the nested one from the refresh; no second repaint
  EXPECT_EQ(d->Presented.size(), 2u);
  EXPECT_EQ(s->RepaintNesting, 0);
  EXPECT_EQ(win.Begun, win.Ended);
  s->Free();
}

}  // namespace
