// HSL conversions and the in-place adjustment, byte for byte. The expected
// values come from an independent evaluation of the formulas (double
// arithmetic, halves rounded to even).
#include "imaging/HslIniHelpers.h"

#include <cstdint>

#include <gtest/gtest.h>

#include "imaging/kvLoadCallBack.h"
#include "tests/imaging/ImagingTestEnv.h"

using namespace imaging;
using foundation::TRect;
using foundation::TRef;

namespace {

TRef<TSysBitmap> Filled(int w, int h, TPixelFormat* format, TFColorA colour) {
  auto bmp = TRef<TSysBitmap>::Adopt(CreateSysBitmap(w, h, format));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) bmp->Rows32(y)[x] = colour;
  return bmp;
}

bool Same(const TFColorA& a, const TFColorA& b) { return a.B == b.B && a.G == b.G && a.R == b.R && a.A == b.A; }

// Restores the load callback's mode after a test.
struct ModeScope {
  ~ModeScope() { SetLoadCallBackMode(0); }
};

}  // namespace

TEST(Hsl, RgbToHslTable) {
  const int rows[][6] = {
      {255, 0, 0, 0, 255, 128},     {0, 255, 0, 85, 255, 128},     {0, 0, 255, 170, 255, 128},
      {128, 128, 128, 0, 0, 128},   {200, 100, 50, 14, 153, 125},  {10, 20, 30, 149, 128, 20},
      {255, 255, 255, 0, 0, 255},   {0, 0, 0, 0, 0, 0},            {1, 2, 3, 149, 128, 2},
      {250, 128, 0, 22, 255, 125},  {127, 0, 255, 191, 255, 128},  {64, 200, 180, 121, 140, 132},
  };
  for (const auto& r : rows) {
    int32_t a = r[0], b = r[1], c = r[2];
    RgbToHsl(a, b, c);
    EXPECT_EQ(a, r[3]) << r[0] << "," << r[1] << "," << r[2];
    EXPECT_EQ(b, r[4]) << r[0] << "," << r[1] << "," << r[2];
    EXPECT_EQ(c, r[5]) << r[0] << "," << r[1] << "," << r[2];
  }
}

TEST(Hsl, HslToRgbTable) {
  const int rows[][6] = {
      {0, 0, 200, 200, 200, 200},    {0, 255, 128, 255, 1, 1},      {85, 255, 128, 1, 255, 1},
      {170, 255, 128, 1, 1, 255},    {30, 100, 60, 84, 70, 36},     {200, 50, 220, 223, 213, 227},
      {255, 255, 255, 255, 255, 255}, {128, 128, 127, 63, 189, 191}, {42, 200, 128, 228, 225, 28},
      {127, 10, 10, 10, 10, 10},
  };
  for (const auto& r : rows) {
    int32_t a = r[0], b = r[1], c = r[2];
    HslToRgb(a, b, c);
    EXPECT_EQ(a, r[3]) << r[0] << "," << r[1] << "," << r[2];
    EXPECT_EQ(b, r[4]) << r[0] << "," << r[1] << "," << r[2];
    EXPECT_EQ(c, r[5]) << r[0] << "," << r[1] << "," << r[2];
  }
  // The hue position wraps by 255 into the four ranges of the wheel.
  EXPECT_EQ(HslComponent(0.2, 0.6, 300), HslComponent(0.2, 0.6, 45));
  EXPECT_EQ(HslComponent(0.2, 0.6, -10), HslComponent(0.2, 0.6, 245));
  EXPECT_EQ(HslComponent(0.2, 0.6, 21.25), 102);  // halfway up: 0.4 * 255
  EXPECT_EQ(HslComponent(0.2, 0.6, 100), 153);
  EXPECT_EQ(HslComponent(0.2, 0.6, 200), 51);
}

TEST(Hsl, AdjustBitmapTable) {
  // colour (r, g, b), shifts (hue degrees, saturation %, lightness %), result (r, g, b)
  const int rows[][9] = {
      {200, 100, 50, 90, 0, 0, 75, 200, 50},      {200, 100, 50, -45, 20, -10, 180, 20, 84},
      {10, 200, 30, 360, 0, 0, 10, 200, 28},      {10, 200, 30, 0, -100, 0, 105, 105, 105},
      {10, 200, 30, 0, 0, 100, 255, 255, 255},    {120, 60, 240, -200, 50, -50, 44, 43, 0},
      {90, 90, 90, 30, 40, 0, 126, 90, 54},       {255, 0, 0, 180, 0, 0, 1, 252, 255},
  };
  for (const auto& r : rows) {
    const TFColorA before{uint8_t(r[2]), uint8_t(r[1]), uint8_t(r[0]), 0x5A};
    auto bmp = Filled(3, 3, pfA8R8G8B8, before);
    AdjustBitmapHsl(bmp.Get(), TRect{1, 1, 2, 2}, 0.5f, r[3], r[4], r[5]);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 3; ++x) {
        const TFColorA& p = bmp->Rows32(y)[x];
        if (x == 1 && y == 1) {
          EXPECT_EQ(p.R, r[6]) << r[0] << "," << r[1] << "," << r[2] << " shift " << r[3] << "," << r[4] << "," << r[5];
          EXPECT_EQ(p.G, r[7]) << r[0] << "," << r[1] << "," << r[2] << " shift " << r[3] << "," << r[4] << "," << r[5];
          EXPECT_EQ(p.B, r[8]) << r[0] << "," << r[1] << "," << r[2] << " shift " << r[3] << "," << r[4] << "," << r[5];
          EXPECT_EQ(p.A, 0x5A);
        } else {
          EXPECT_TRUE(Same(p, before)) << "pixel outside the rectangle changed";
        }
      }
    }
  }
}

TEST(Hsl, AdjustBitmapLeavesOtherCasesAlone) {
  ModeScope mode;
  const TFColorA colour{30, 200, 10, 0xFF};
  // No shift at all.
  auto bmp = Filled(4, 4, pfA8R8G8B8, colour);
  AdjustBitmapHsl(bmp.Get(), TRect{0, 0, 4, 4}, 0, 0, 0, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_TRUE(Same(bmp->Rows32(y)[x], colour));
  // Another 32-bit format.
  auto other = Filled(4, 4, pfA8B8G8R8, colour);
  AdjustBitmapHsl(other.Get(), TRect{0, 0, 4, 4}, 0, 0, -100, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_TRUE(Same(other->Rows32(y)[x], colour));
  // A rectangle beyond the bitmap is cut to it; -100 % saturation greys.
  AdjustBitmapHsl(bmp.Get(), TRect{-5, -5, 50, 50}, 0, 0, -100, 0);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      const TFColorA& p = bmp->Rows32(y)[x];
      EXPECT_TRUE(p.R == p.G && p.G == p.B);
      EXPECT_EQ(p.A, 0xFF);
    }
  }
  // A callback that refuses after the first row leaves the other rows.
  auto stop = Filled(4, 4, pfA8R8G8B8, colour);
  SetLoadCallBackMode(3);
  AdjustBitmapHsl(stop.Get(), TRect{0, 0, 4, 4}, 0, 0, -100, 0);
  for (int x = 0; x < 4; ++x) EXPECT_FALSE(Same(stop->Rows32(0)[x], colour));
  for (int y = 1; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_TRUE(Same(stop->Rows32(y)[x], colour));
}

TEST(Hsl, ExtremeShiftsFromShowDataDoNotOverflow) {
  // Saturation and lightness shifts far beyond 100 % clamp like 100 % does;
  // the products must not overflow 32 bits on the way.
  const TFColorA colour{30, 200, 10, 0x77};
  const struct {
    int32_t sat, light;
    int32_t sameAsSat, sameAsLight;
  } rows[] = {
      {INT32_MAX, 0, 100, 0},
      {INT32_MIN, 0, -100, 0},
      {0, INT32_MAX, 0, 100},
      {0, INT32_MIN, 0, -100},
      {8400000, -8400000, 100, -100},
  };
  for (const auto& r : rows) {
    auto extreme = Filled(2, 2, pfA8R8G8B8, colour);
    auto plain = Filled(2, 2, pfA8R8G8B8, colour);
    AdjustBitmapHsl(extreme.Get(), TRect{0, 0, 2, 2}, 0, 0, r.sat, r.light);
    AdjustBitmapHsl(plain.Get(), TRect{0, 0, 2, 2}, 0, 0, r.sameAsSat, r.sameAsLight);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x)
        EXPECT_TRUE(Same(extreme->Rows32(y)[x], plain->Rows32(y)[x])) << r.sat << "," << r.light;
  }
  // Hue shifts of any size complete and leave alpha alone.
  for (int32_t hue : {INT32_MAX, INT32_MIN, 20000000}) {
    auto bmp = Filled(2, 2, pfA8R8G8B8, colour);
    AdjustBitmapHsl(bmp.Get(), TRect{0, 0, 2, 2}, 0, hue, 0, 0);
    EXPECT_EQ(bmp->Rows32(1)[1].A, 0x77) << hue;
  }
}
