// Colour-grade tables: the identity and video tables against their
// formulas, the ramp, the difference tables, and the cache keyed by the
// profile with colour management on and off.
#include "ImagingTestEnv.h"

#include <cmath>
#include <cstring>

#include "imaging/ColorGradeGenerator.h"
#include "imaging/kvPixelFormat.h"

using namespace imaging;

namespace {

TSysBitmap* Table(const char16_t* format = u"A8R8G8B8") { return CreateSysBitmap(32, 1024, PixelFormatByName(format)); }
const uint8_t* Entry(TSysBitmap* b, int i, int j, int k) {
  return b->Row(32 * i + j) + size_t(k) * size_t(b->BytesPerPixel());
}

TEST(ColorGradeTables, LevelsEndAtWhite) {
  EXPECT_EQ(GradeLevel(0), 0);
  EXPECT_EQ(GradeLevel(4), 33);
  EXPECT_EQ(GradeLevel(31), 255);
  auto* t = Table();
  FillIdentityColorLUT(t);
  const uint8_t* white = Entry(t, 31, 31, 31);
  EXPECT_EQ(white[0], 255);
  EXPECT_EQ(white[1], 255);
  EXPECT_EQ(white[2], 255);
  EXPECT_EQ(white[3], 255);
  const uint8_t* e = Entry(t, 2, 4, 7);  // blue L(2), green L(4), red L(7)
  EXPECT_EQ(e[0], 16);
  EXPECT_EQ(e[1], 33);
  EXPECT_EQ(e[2], 57);
  t->Free();
}

TEST(ColorGradeTables, VideoTableFollowsTheVideoRangeFormula) {
  auto* t = Table();
  FillYuvToRgbLUT(t);
  // (Y, U, V) = (L(2), L(16), L(16)) = (16, 132, 132): nearly black.
  const uint8_t* e = Entry(t, 2, 16, 16);
  EXPECT_EQ(e[2], 6);
  EXPECT_EQ(e[1], 0);  // -4.8 clamps to 0
  EXPECT_EQ(e[0], 8);
  EXPECT_EQ(e[3], 255);
  for (int i : {0, 9, 31})
    for (int j : {3, 16, 30})
      for (int k : {0, 12, 31}) {
        double y = (GradeLevel(i) - 16) * 255.0 / 219, u = GradeLevel(j) - 128, v = GradeLevel(k) - 128;
        auto c = [](double x) { return int(std::clamp(std::trunc(double(float(x))), 0.0, 255.0)); };
        const uint8_t* p = Entry(t, i, j, k);
        EXPECT_EQ(p[2], c(v * 1.596 + y));
        EXPECT_EQ(p[1], c(y - v * 0.813 - u * 0.391));
        EXPECT_EQ(p[0], c(u * 2.018 + y));
      }
  t->Free();
}

TEST(ColorGradeTables, DifferenceTablesAndTheRamp) {
  auto* zero = Table(u"R8G8B8");
  for (int y = 0; y < 1024; ++y) std::memset(zero->Row(y), 0, 96);
  AddIdentityToColorLUT(zero);
  auto* id = Table(u"R8G8B8");
  InitColorGradeLUT(id);
  for (int y = 0; y < 1024; ++y) ASSERT_EQ(std::memcmp(zero->Row(y), id->Row(y), 96), 0) << y;
  AddIdentityToColorLUT(zero);  // modulo 256
  EXPECT_EQ(Entry(zero, 31, 0, 0)[0], uint8_t(510));
  auto* ramp = CreateSysBitmap(256, 16, PixelFormatByName(u"A8R8G8B8"));
  FillIdentityRamp(ramp);
  for (int y : {0, 15}) {
    EXPECT_EQ(ramp->Row(y)[4 * 200], 200);
    EXPECT_EQ(ramp->Row(y)[4 * 200 + 2], 200);
    EXPECT_EQ(ramp->Row(y)[4 * 200 + 3], 255);
  }
  for (auto* b : {zero, id, ramp}) b->Free();
}

TEST(ColorGradeTables, CacheFollowsTheProfileAndTheSwitch) {
  ColorManagementOff.store(true);
  TSysBitmap* plain = GetColorGradeLUT(true, AdobeRGBColorProfile);
  auto* id = Table();
  FillIdentityColorLUT(id);
  for (int y = 0; y < 1024; ++y) ASSERT_EQ(std::memcmp(plain->Row(y), id->Row(y), 128), 0);
  TSysBitmap* video = GetColorGradeLUT(false, AdobeRGBColorProfile);
  EXPECT_EQ(Entry(video, 2, 16, 16)[2], 6);
  ColorManagementOff.store(false);
  TSysBitmap* adobe = GetColorGradeLUT(true, AdobeRGBColorProfile);
  EXPECT_EQ(GetColorGradeLUT(true, AdobeRGBColorProfile), adobe);
  // sRGB pure red lies inside the wider space: its red drops below 255.
  const uint8_t* red = Entry(adobe, 0, 0, 31);
  EXPECT_LT(red[2], 250);
  TSysBitmap* srgb = GetColorGradeLUT(true, SRGBColorProfile);
  EXPECT_GE(Entry(srgb, 0, 0, 31)[2], 253);
  id->Free();
}

}  // namespace
