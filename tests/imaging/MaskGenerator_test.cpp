#include "imaging/MaskGenerator.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"
#include "imaging/SysBitmap.h"

using namespace imaging;
using foundation::TRef;

namespace {

TEST(Masks, ShapeValue) {
  EXPECT_EQ(ShapeValue(5, 10, 5), 255);   // d = b - c
  EXPECT_EQ(ShapeValue(4, 10, 5), 255);
  EXPECT_EQ(ShapeValue(10, 10, 5), 0);    // d = b
  EXPECT_EQ(ShapeValue(11, 10, 5), 0);
  EXPECT_EQ(ShapeValue(7.5f, 10, 5), 127);  // s = 0.5: 255 - r(127.5) = 255 - 128
  // s = 0.25: E = 0.125, 255 - r(31.875) = 223; s = 0.8: E = 1 - 2 x 0.04 = 0.92, 255 - r(234.6) = 20.
  EXPECT_EQ(ShapeValue(6.25f, 10, 5), 223);
  EXPECT_EQ(ShapeValue(9, 10, 5), 20);
  EXPECT_EQ(ShapeValue(3, 3, 0), 0);  // no soft width: hard edge, the edge itself outside
  EXPECT_EQ(ShapeValue(2.99f, 3, 0), 255);
}

TEST(Masks, KeysBothWays) {
  TMaskParams p;
  p.Width = 300;
  p.Height = 200;
  p.Kind = 1;
  p.Softness = 12.5f;
  p.CornerRadius = 0;
  EXPECT_EQ(BuildPresetMaskKey(p), u"PresetedMask:300:200:1:12.5:0");
  TMaskParams q;
  ParseMaskKey(BuildPresetMaskKey(p), q);
  EXPECT_EQ(q.Width, 300);
  EXPECT_EQ(q.Height, 200);
  EXPECT_EQ(q.Kind, 1);
  EXPECT_EQ(q.Softness, 12.5f);
  p.Softness = 0.1f;  // 16 decimals of the single 0.1
  EXPECT_EQ(BuildPresetMaskKey(p), u"PresetedMask:300:200:1:0.1000000014901161:0");
  ParseMaskKey(BuildPresetMaskKey(p), q);
  EXPECT_EQ(q.Softness, 0.1f);
  TMaskParams r;
  ParseMaskKey(u"PresetedMask:abc: x:7:soft: 33", r);
  EXPECT_EQ(r.Width, 512);
  EXPECT_EQ(r.Height, 512);
  EXPECT_EQ(r.Kind, 0);
  EXPECT_EQ(r.Softness, 0);
  EXPECT_EQ(r.CornerRadius, 33);
}

uint8_t Grey(TImage* img, int x, int y) {
  auto* b = dynamic_cast<TSysBitmap*>(img->GetBitmap());
  const uint8_t* p = b->Row(y) + 3 * x;
  EXPECT_EQ(p[0], p[1]);
  EXPECT_EQ(p[1], p[2]);
  return p[0];
}

TEST(Masks, RoundedRectangle) {
  auto gen = TRef<TMaskGenerator>::Adopt(new TMaskGenerator({}));
  TMaskParams p;
  p.Width = 40;
  p.Height = 20;
  p.CornerRadius = 0;
  p.Softness = 50;
  TImage* img = GenerateMaskImage(gen.Get(), p);
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->Params.Name, BuildPresetMaskKey(p));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(Grey(img, x, y), 255);
  img->Free();
  // m = 10, radius 100 % -> u = 10, softness 50 % -> t = 6. The corner pixel (0, 0) is
  // 14.1 from (10, 10): outside; (9, 5) is 5.099 from (10, 10): s = 1.099 / 6,
  // 255 - r(255 x 2 s^2) = 238.
  p.CornerRadius = 100;
  img = GenerateMaskImage(gen.Get(), p);
  EXPECT_EQ(Grey(img, 0, 0), 0);
  EXPECT_EQ(Grey(img, 9, 5), 238);
  EXPECT_EQ(Grey(img, 39, 19), 0);
  EXPECT_EQ(Grey(img, 20, 0), 0);  // top band middle: |0 - 9.5| = 9.5 = cy: the edge
  img->Free();
  // 40 x 60: m = 20, u = 20, t = 11; middle band rows 20..39 measure |x - 19.5|
  // against cx: x = 2 at 17.5, s = 9 / 11, 255 - r(255 (1 - 2 (2 / 11)^2)) = 17.
  p.Height = 60;
  img = GenerateMaskImage(gen.Get(), p);
  EXPECT_EQ(Grey(img, 2, 30), 17);
  EXPECT_EQ(Grey(img, 12, 30), 255);  // 7.5 from cx, below 19.5 - 11
  EXPECT_EQ(Grey(img, 10, 30), 251);  // s = 1 / 11
  EXPECT_EQ(Grey(img, 0, 30), 0);
  img->Free();
}

TEST(Masks, HardEllipse) {
  auto gen = TRef<TMaskGenerator>::Adopt(new TMaskGenerator({}));
  TMaskParams p;
  p.Kind = 1;
  p.Width = 31;
  p.Height = 15;
  TImage* img = GenerateMaskImage(gen.Get(), p);
  ASSERT_NE(img, nullptr);
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 31; ++x) {
      const float dx = x - 15.0f, dy = (y - 7.0f) * 31.0f / 15.0f;
      const float d = std::sqrt(dx * dx + dy * dy);
      if (std::fabs(d - 15) < 1e-3f) continue;  // on the edge itself
      ASSERT_EQ(Grey(img, x, y), d < 15 ? 255 : 0) << x << "," << y;
    }
  img->Free();
}

TEST(Masks, HostileSizesGiveNothing) {
  auto gen = TRef<TMaskGenerator>::Adopt(new TMaskGenerator({}));
  for (auto [w, h] : {std::pair{0, 10}, std::pair{10, -1}, std::pair{1 << 30, 1 << 30}, std::pair{INT32_MIN, 5}}) {
    TMaskParams p;
    p.Width = w;
    p.Height = h;
    EXPECT_EQ(GenerateMaskImage(gen.Get(), p), nullptr) << w << "x" << h;
  }
  for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 9}, std::pair{2, 3}}) {
    for (uint8_t kind : {0, 1}) {
      TMaskParams p;
      p.Width = w;
      p.Height = h;
      p.Kind = kind;
      p.CornerRadius = 1000;
      p.Softness = 500;
      TImage* img = GenerateMaskImage(gen.Get(), p);
      ASSERT_NE(img, nullptr);
      img->Free();
    }
  }
  TMaskParams bad;
  bad.Kind = 2;
  EXPECT_THROW(GenerateMaskImage(gen.Get(), bad), foundation::EAssertionFailed);
}

// Softness and radius come from keys as any single: values beyond the range
// clamp (a radius past half the smaller side is that half) instead of
// overflowing the conversion to whole pixels.
TEST(Masks, OutOfRangeRadiusAndSoftnessClamp) {
  EXPECT_EQ(ShapeValue(7, 10, INFINITY), 255);  // endless soft width: the inner edge
  EXPECT_EQ(ShapeValue(11, 10, INFINITY), 0);
  EXPECT_EQ(ShapeValue(7, 10, NAN), 0);
  auto gen = TRef<TMaskGenerator>::Adopt(new TMaskGenerator({}));
  TMaskParams p;
  p.Width = 24;
  p.Height = 16;
  p.Softness = 30;
  auto same = [&](float radius, float reference) {
    p.CornerRadius = radius;
    TImage* a = GenerateMaskImage(gen.Get(), p);
    p.CornerRadius = reference;
    TImage* b = GenerateMaskImage(gen.Get(), p);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    for (int y = 0; y < p.Height; ++y)
      for (int x = 0; x < p.Width; ++x) ASSERT_EQ(Grey(a, x, y), Grey(b, x, y)) << radius << " " << x << "," << y;
    a->Free();
    b->Free();
  };
  same(1.7e10f, 100);
  same(INFINITY, 100);
  same(-1e20f, 0);
  same(NAN, 0);
  p.CornerRadius = 50;
  for (float softness : {1e30f, INFINITY, NAN, -5.0f}) {
    p.Softness = softness;
    TImage* img = GenerateMaskImage(gen.Get(), p);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(Grey(img, 12, 8), 255) << softness;  // the middle stays inside
    img->Free();
  }
}

TEST(Masks, ProgressAbortEndsEachBand) {
  int calls = 0;
  auto gen = TRef<TMaskGenerator>::Adopt(new TMaskGenerator([&](void*, bool& abort) {
    ++calls;
    abort = true;
  }));
  TMaskParams p;
  p.Width = 20;
  p.Height = 20;
  p.CornerRadius = 50;  // u = 5: three bands
  TImage* img = GenerateMaskImage(gen.Get(), p);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(Grey(img, 10, 6), 0) << "the middle band stopped after its first row";
  EXPECT_EQ(Grey(img, 10, 5), 255);
  img->Free();
}

}  // namespace
