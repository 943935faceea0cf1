#include "player/AnchorUtils.h"

#include <gtest/gtest.h>

using foundation::TFloatPoint;
using foundation::TRect;

namespace {

TRect Place(int32_t anchor, float offset, const TRect& area, int32_t w, int32_t h) {
  TFloatPoint point, align;
  player::GetAnchorPoints(anchor, offset, point, align);
  TRect r;
  player::PlaceAnchoredRect(r, point, align, area, w, h);
  return r;
}

void ExpectRect(const TRect& r, const TRect& e) {
  EXPECT_EQ(r.Left, e.Left);
  EXPECT_EQ(r.Top, e.Top);
  EXPECT_EQ(r.Right, e.Right);
  EXPECT_EQ(r.Bottom, e.Bottom);
}

}  // namespace

TEST(AnchorPlacement, PointsAndAlignmentsOfEveryAnchor) {
  struct Case {
    int32_t anchor;
    TFloatPoint point, align;
  };
  // Offset 10: a = -90, b = 90.
  const Case cases[] = {{0, {-90, -90}, {-100, -100}}, {1, {0, -90}, {0, -100}},  {2, {90, -90}, {100, -100}},
                        {3, {90, 0}, {100, 0}},        {4, {90, 90}, {100, 100}}, {5, {0, 90}, {0, 100}},
                        {6, {-90, 90}, {-100, 100}},   {7, {-90, 0}, {-100, 0}},  {8, {0, 0}, {0, 0}},
                        {9, {0, 0}, {0, 0}},           {-1, {0, 0}, {0, 0}}};
  for (const Case& c : cases) {
    TFloatPoint p{1, 1}, a{1, 1};
    player::GetAnchorPoints(c.anchor, 10, p, a);
    EXPECT_EQ(p.X, c.point.X) << c.anchor;
    EXPECT_EQ(p.Y, c.point.Y) << c.anchor;
    EXPECT_EQ(a.X, c.align.X) << c.anchor;
    EXPECT_EQ(a.Y, c.align.Y) << c.anchor;
  }
}

TEST(AnchorPlacement, ItemsLandOnTheirAnchors) {
  const TRect screen{0, 0, 1920, 1080};
  struct Case {
    int32_t anchor;
    float offset;
    TRect area;
    int32_t w, h;
    TRect expected;
  };
  const Case cases[] = {
      // Right-Bottom: 1920 - 200, 1080 - 100.
      {4, 0, screen, 200, 100, {1720, 980, 1920, 1080}},
      // Offset 10: the point is at 95 % of each extent, 96 left and 54 up.
      {4, 10, screen, 200, 100, {1624, 926, 1824, 1026}},
      {0, 0, screen, 200, 100, {0, 0, 200, 100}},
      {0, 10, screen, 200, 100, {96, 54, 296, 154}},
      // The centre ignores the offset; so does any anchor outside 0..8.
      {8, 0, screen, 200, 100, {860, 490, 1060, 590}},
      {8, 35, screen, 200, 100, {860, 490, 1060, 590}},
      {9, 10, screen, 200, 100, {860, 490, 1060, 590}},
      {-3, 10, screen, 200, 100, {860, 490, 1060, 590}},
      // An area away from the origin; half of 201 is 100.5, rounded to the even 100.
      {1, 10, {100, 50, 1100, 850}, 201, 101, {500, 90, 701, 191}},
      // Half of 1921 is 960.5: rounded to 960.
      {5, 0, {0, 0, 1921, 1081}, 200, 100, {860, 981, 1060, 1081}},
      {3, 0, screen, 200, 100, {1720, 490, 1920, 590}},
      {7, 20, screen, 200, 100, {192, 490, 392, 590}},
      {6, 0, screen, 200, 100, {0, 980, 200, 1080}},
      {2, 0, screen, 200, 100, {1720, 0, 1920, 100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "anchor " << c.anchor << " offset " << c.offset);
    ExpectRect(Place(c.anchor, c.offset, c.area, c.w, c.h), c.expected);
  }
}

TEST(AnchorPlacement, ExtremeValuesSaturate) {
  // A show may give any offset and size: nothing overflows.
  const TRect r = Place(4, -1e9f, {0, 0, 1920, 1080}, 2147483647, 2147483647);
  EXPECT_LE(r.Left, r.Right);
  EXPECT_EQ(r.Right, 2147483647);
  const TRect huge = Place(8, 0, {-2147483647, -2147483647, 2147483647, 2147483647}, 10, 10);
  EXPECT_EQ(huge.Left, -5);
  EXPECT_EQ(huge.Right, 5);
}
