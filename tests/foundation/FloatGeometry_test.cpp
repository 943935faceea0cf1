#include "foundation/FloatGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace foundation;

TEST(FloatGeometry, IntersectFloatRect) {
  struct Case {
    TFloatRect a, b, want;
    bool ok;
  } cases[] = {
      {{0, 0, 10, 10}, {5, 5, 20, 20}, {5, 5, 10, 10}, true},
      {{0, 0, 1, 1}, {2, 2, 3, 3}, EmptyFloatRect, false},
      {{0, 0, 1, 1}, {1, 0, 2, 1}, EmptyFloatRect, false},  // touching
  };
  for (const Case& c : cases) {
    TFloatRect r{};
    EXPECT_EQ(IntersectFloatRect(r, c.a, c.b), c.ok);
    EXPECT_TRUE(SameFloatRect(r, c.want)) << r.Left << "," << r.Top << "," << r.Right << "," << r.Bottom;
  }
  // A NaN side of b keeps a's side.
  TFloatRect r{};
  EXPECT_TRUE(IntersectFloatRect(r, {0, 0, 10, 10}, {NAN, 2, NAN, 8}));
  EXPECT_TRUE(SameFloatRect(r, {0, 2, 10, 8}));
}

TEST(FloatGeometry, FixedPointConversions) {
  struct Case {
    float x;
    int32_t fixed;
  } cases[] = {{1.0f, 65536},        {0.5f, 32768},         {1.0f / 65536, 0},   {3.0f / 65536, 2},
               {-1.0f, -65536},      {-32768.0f, INT32_MIN}, {32767.0f, 2147418112},
               // Beyond the 16.16 range the value saturates; not a number gives 0.
               {32768.0f, INT32_MAX}, {-1e30f, INT32_MIN},   {1e30f, INT32_MAX}, {NAN, 0}};
  for (const Case& c : cases) EXPECT_EQ(SingleToFixed(c.x), c.fixed) << c.x;
  EXPECT_EQ(FixedToSingle(32768), 0.5f);
  EXPECT_EQ(FloatPointToFixedPoint({1.0f, -1.0f}), (uint64_t(uint32_t(-65536)) << 32) | 65536u);
}

TEST(FloatGeometry, AffineFrame2D) {
  TAffineFrame2D f;
  EXPECT_FALSE(InitAffineFrame2D(f, {0, 0}, {1, 0}, {2, 0}));
  TFloatPoint p = PointToAffineFrame2D(f, {7, 3});
  EXPECT_EQ(p.X, 0);
  EXPECT_EQ(p.Y, 0);

  ASSERT_TRUE(InitAffineFrame2D(f, {1, 1}, {2, 0}, {0, 4}));
  p = PointToAffineFrame2D(f, {5, 9});
  EXPECT_FLOAT_EQ(p.X, 2);
  EXPECT_FLOAT_EQ(p.Y, 2);
  p = AffineFrame2DToPoint(f, {2, 2});
  EXPECT_FLOAT_EQ(p.X, 5);
  EXPECT_FLOAT_EQ(p.Y, 9);
}

TEST(FloatGeometry, AffineFrame3DRoundTrip) {
  TAffineFrame3D f;
  ASSERT_TRUE(InitAffineFrame3D(f, {1, 2, 3}, {2, 0, 0}, {1, 3, 0}, {0, 1, 5}));
  T3DPoint stu{0.5f, -2.0f, 1.25f};
  T3DPoint p = AffineFrame3DToPoint(f, stu);
  T3DPoint back = PointToAffineFrame3D(f, p);
  EXPECT_NEAR(back.X, stu.X, 1e-5);
  EXPECT_NEAR(back.Y, stu.Y, 1e-5);
  EXPECT_NEAR(back.Z, stu.Z, 1e-5);
  // The scaled form solves for (p.X, p.Y, p.Z / k).
  T3DPoint scaled = PointToAffineFrame3DScaled(f, {p.X, p.Y, p.Z * 4}, 4);
  EXPECT_NEAR(scaled.X, stu.X, 1e-5);
  EXPECT_NEAR(scaled.Y, stu.Y, 1e-5);
  EXPECT_NEAR(scaled.Z, stu.Z, 1e-5);
  // A flat frame has no inverse.
  TAffineFrame3D flat;
  EXPECT_FALSE(InitAffineFrame3D(flat, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}));
  EXPECT_EQ(flat.InvDeterminant, 0);
  EXPECT_TRUE(SameAffineFrame3D(f, f));
  EXPECT_FALSE(SameAffineFrame3D(f, flat));
}

TEST(FloatGeometry, VectorsAndRotations) {
  T3DPoint z = NormalizeVector3D({0, 0, 0});
  EXPECT_EQ(z.X, 0);
  EXPECT_EQ(z.Y, 0);
  EXPECT_EQ(z.Z, 0);
  T3DPoint n = NormalizeVector3D({3, 0, 4});
  EXPECT_FLOAT_EQ(n.X, 0.6f);
  EXPECT_FLOAT_EQ(n.Z, 0.8f);
  TFlatVector m = RotateFlatVectorMinus90({1, 2});
  EXPECT_EQ(m.X, 2);
  EXPECT_EQ(m.Y, -1);
  TFlatVector pl = RotateFlatVectorPlus90({1, 2});
  EXPECT_EQ(pl.X, -2);
  EXPECT_EQ(pl.Y, 1);
  TFlatVector d = DivideFlatVector({4, 6}, 0);
  EXPECT_EQ(d.X, 4);
  EXPECT_EQ(d.Y, 6);
  d = NormalizeFlatVectorMax({-4, 2});
  EXPECT_EQ(d.X, -1);
  EXPECT_EQ(d.Y, 0.5f);
  T3DPoint c = CrossVectors3D({1, 0, 0}, {0, 1, 0});
  EXPECT_EQ(c.Z, 1);
  EXPECT_EQ(ClampSingle(5, 0, 2), 2);
  EXPECT_EQ(ClampSingle(-1, 0, 2), 0);
  // The centre of a rectangle at the Int32 limits does not overflow.
  TFloatPoint ctr = RectCenter({2147483600, 0, 2147483646, 10});
  EXPECT_FLOAT_EQ(ctr.X, 2147483623.0f);
  EXPECT_EQ(ctr.Y, 5);
}
