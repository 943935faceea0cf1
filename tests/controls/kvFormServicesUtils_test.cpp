// The window-free arithmetic of the form services: placement, centring,
// fitting to monitors, the minimum size, the animation pace and the popup
// shadow, against values worked out by hand.
#include "controls/kvFormServicesUtils.h"

#include <gtest/gtest.h>

using controls::TFitAction;
using controls::TRect;

namespace {

bool Same(const TRect& a, const TRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

TEST(FormPlacement, DefaultBoundsAndCentring) {
  // 1920 x 1040: 15 % is 288, 10 % is 104.
  EXPECT_TRUE(Same(controls::PlaceDefaultBounds(TRect{0, 0, 1920, 1040}), TRect{288, 104, 1632, 936}));
  // 1000 x 700 at (100, 50): 150 and 70.
  EXPECT_TRUE(Same(controls::PlaceDefaultBounds(TRect{100, 50, 1100, 750}), TRect{250, 120, 950, 680}));
  // 300 x 200 on (0, 0, 1001, 801): ((1001 - 300) div 2, (801 - 200) div 2) = (350, 300).
  EXPECT_TRUE(Same(controls::CenterBoundsOn(TRect{5, 5, 305, 205}, TRect{0, 0, 1001, 801}), TRect{350, 300, 650, 500}));
  // On a rectangle at a negative origin: (-1920 + 0 - 400) div 2 = -1160.
  EXPECT_TRUE(Same(controls::CenterBoundsOn(TRect{0, 0, 400, 300}, TRect{-1920, 0, 0, 1080}), TRect{-1160, 390, -760, 690}));
}

TEST(FormPlacement, FitToMonitorPicksTheWorkAreaHoldingMostOfTheWindow) {
  // Two monitors side by side; work areas lose 40 pixels of taskbar.
  const std::vector<TRect> two = {TRect{0, 0, 1920, 1040}, TRect{1920, 0, 3200, 984}};
  struct Case {
    const char* what;
    TRect bounds;
    bool center;
    TFitAction action;
    TRect result;
  };
  const Case cases[] = {
      {"wholly inside the first", TRect{100, 100, 500, 400}, false, TFitAction::Unchanged, {}},
      {"wholly inside the second, even when centring", TRect{2000, 100, 2400, 400}, true, TFitAction::Unchanged, {}},
      // 1700..2300: 220 columns on the first, 380 on the second; it starts before 1920.
      {"straddling, mostly on the second", TRect{1700, 100, 2300, 500}, false, TFitAction::Move, TRect{1920, 100, 2520, 500}},
      // 1500..2000: 420 on the first, 80 on the second: ends after 1920.
      {"straddling, mostly on the first", TRect{1500, 100, 2000, 500}, false, TFitAction::Move, TRect{1420, 100, 1920, 500}},
      // Equal shares (200 each): the first wins.
      {"a tie goes to the first", TRect{1720, 0, 2120, 300}, false, TFitAction::Move, TRect{1520, 0, 1920, 300}},
      // Hanging below the second's work area (984) and taller than it: centred vertically.
      {"taller than the work area", TRect{2000, 10, 2200, 1010}, false, TFitAction::Move, TRect{2000, -8, 2200, 992}},
      {"starting above the work area", TRect{100, -50, 300, 150}, false, TFitAction::Move, TRect{100, 0, 300, 200}},
      // Centred on the second: ((1920 + 3200 - 600) div 2, (0 + 984 - 400) div 2) = (2260, 292).
      {"centred on the chosen one", TRect{1700, 100, 2300, 500}, true, TFitAction::Move, TRect{2260, 292, 2860, 692}},
      {"off every monitor", TRect{5000, 0, 5200, 100}, false, TFitAction::CenterOnWorkArea, {}},
  };
  for (const auto& c : cases) {
    const auto r = controls::FitBoundsToMonitors(c.bounds, two, c.center);
    EXPECT_EQ(r.Action, c.action) << c.what;
    if (c.action == TFitAction::Move) {
      EXPECT_TRUE(Same(r.Bounds, c.result)) << c.what << ": " << r.Bounds.Left << "," << r.Bounds.Top << ","
                                            << r.Bounds.Right << "," << r.Bounds.Bottom;
    }
  }
  EXPECT_EQ(controls::FitBoundsToMonitors(TRect{0, 0, 10, 10}, {}, false).Action, TFitAction::CenterOnWorkArea);
}

TEST(FormPlacement, TheMinimumSizeMovesTheEdgeThatMoved) {
  const TRect cur{100, 100, 500, 400};
  struct Case {
    const char* what;
    TRect proposed;
    int32_t minW, minH;
    TRect result;
  };
  const Case cases[] = {
      {"right edge dragged in", TRect{100, 100, 250, 400}, 300, 0, TRect{100, 100, 400, 400}},
      {"left edge dragged in", TRect{350, 100, 500, 400}, 300, 0, TRect{200, 100, 500, 400}},
      {"top edge dragged in", TRect{100, 350, 500, 400}, 0, 200, TRect{100, 200, 500, 400}},
      {"bottom edge dragged in", TRect{100, 100, 500, 150}, 0, 200, TRect{100, 100, 500, 300}},
      {"large enough", TRect{100, 100, 450, 350}, 300, 200, TRect{100, 100, 450, 350}},
      {"no limit", TRect{100, 100, 110, 110}, 0, 0, TRect{100, 100, 110, 110}},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(Same(controls::ApplyMinSize(cur, c.proposed, c.minW, c.minH), c.result)) << c.what;
}

TEST(AnimationPace, IntervalsForRefreshRates) {
  const std::pair<int32_t, int32_t> table[] = {
      {60, 16}, {75, 13}, {30, 16}, {0, 16}, {144, 6}, {120, 8}, {240, 4}, {1000, 1}, {2000, 1}, {90, 11},
  };
  for (auto [hz, ms] : table) EXPECT_EQ(controls::AnimationInterval(hz), ms) << hz << " Hz";
}

TEST(AnimationPace, TicksSoonAfterARepaintAreSkipped) {
  controls::ResetAnimationTicks();
  // A repaint at 1000; ticks of a 16 ms timer.
  auto t = controls::AnimationTick(1007, 1000, 16);  // 2 * 7 = 14, not above 16
  EXPECT_FALSE(t.Runs);
  EXPECT_EQ(t.Line, "skip --- : 0");
  t = controls::AnimationTick(1009, 1000, 16);  // 18 > 16
  EXPECT_TRUE(t.Runs);
  EXPECT_EQ(t.Line, "ani time : 2");
  t = controls::AnimationTick(1008, 1000, 16);  // exactly 16: skipped
  EXPECT_FALSE(t.Runs);
  EXPECT_EQ(t.Line, "skip --- : -1");
  t = controls::AnimationTick(1030, 1025, 13);  // 10 < 13
  EXPECT_FALSE(t.Runs);
  EXPECT_EQ(t.Line, "skip --- : 22");
  t = controls::AnimationTick(1037, 1030, 13);  // 14 > 13
  EXPECT_TRUE(t.Runs);
  EXPECT_EQ(t.Line, "ani time : 7");
}

TEST(PopupShadow, TheEasingCurve) {
  // f = i * 255 / 8 for the columns, by hand: round(f^2 / 128) up to 128,
  // 255 - round((255 - f)^2 / 128) above.
  const int32_t columns[8] = {0, 8, 32, 71, 127, 184, 223, 247};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(controls::ShadowCurve(i * 255.0 / 8), columns[i]) << "column " << i;
  // f = j * 32 for the rows.
  const int32_t rows[8] = {0, 8, 32, 72, 128, 184, 224, 247};
  for (int j = 0; j < 8; ++j) EXPECT_EQ(controls::ShadowCurve(j * 32.0), rows[j]) << "row " << j;
  EXPECT_EQ(controls::ShadowCurve(255), 255);
}

TEST(PopupShadow, TheBandAlongTheEdges) {
  const int w = 40, h = 30;
  const auto a = controls::ShadowAlpha(w, h);
  ASSERT_EQ(a.size(), size_t(w * h));
  auto at = [&](int x, int y) { return int(a[size_t(y * w + x)]); };
  EXPECT_EQ(at(0, 0), 0);
  EXPECT_EQ(at(3, 5), 71 * 184 / 256);     // 51: both ramps
  EXPECT_EQ(at(20, 2), 255 * 32 / 256);    // 31: an opaque column in a band row
  EXPECT_EQ(at(20, 7), 255 * 247 / 256);   // 246
  EXPECT_EQ(at(2, 15), 32);                // a middle row: the column ramp only
  EXPECT_EQ(at(w - 2, 15), 8);             // the right ramp, mirrored
  EXPECT_EQ(at(20, 15), 0);                // transparent inside the band
  EXPECT_EQ(at(8, 15), 0);
  EXPECT_EQ(at(20, h - 1 - 5), 255 * 184 / 256);  // the bottom band, mirrored
  // A shadow narrower than two bands: the ramps meet in the middle.
  const auto n = controls::ShadowAlpha(10, 30);
  EXPECT_EQ(int(n[size_t(15 * 10 + 4)]), 127);
  EXPECT_EQ(int(n[size_t(15 * 10 + 5)]), 127);
  EXPECT_TRUE(controls::ShadowAlpha(0, 0).empty());
}

}  // namespace
