#include "imaging/Resample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/AssertionText.h"
#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"

using namespace imaging;
using foundation::TRef;

namespace {

TRef<TSysBitmap> Grey(int w, int h, uint8_t fill = 0) {
  auto b = TRef<TSysBitmap>::Adopt(CreateSysBitmap(w, h, pfY8));
  for (int y = 0; y < h; ++y) std::fill_n(b->Row(y), w, fill);
  return b;
}

std::vector<uint8_t> Row(TSysBitmap* b, int y) { return {b->Row(y), b->Row(y) + b->Width}; }

TEST(Resample, FilterTable) {
  const char* names[] = {"Box", "Triangle", "Hermite", "Bell", "B-Spline", "Lanczos3", "Mitchell"};
  const float supports[] = {0.5f, 1, 1, 1.5f, 2, 3, 2};
  for (int i = 0; i < ResampleFilterCount; ++i) {
    EXPECT_EQ(std::string(ResampleFilters[i].Name), names[i]);
    EXPECT_EQ(ResampleFilters[i].Support, supports[i]);
  }
  struct Sample {
    TFilterProc f;
    float x, want;
  };
  const double pi = 3.14159265358979;
  const Sample samples[] = {
      {BoxFilter, -0.5f, 0},        {BoxFilter, 0.5f, 1},           {BoxFilter, 0.7f, 0},
      {TriangleFilter, 0.25f, 0.75f}, {TriangleFilter, -1, 0},
      {HermiteFilter, 0.5f, 0.5f},  {HermiteFilter, 0, 1},
      {BellFilter, 0, 0.75f},       {BellFilter, 1, 0.125f},        {BellFilter, 1.5f, 0},
      {SplineFilter, 0, 2.0f / 3},  {SplineFilter, -1, 1.0f / 6},   {SplineFilter, 2, 0},
      {Lanczos3Filter, 0, 1},       {Lanczos3Filter, 3, 0},
      {Lanczos3Filter, 0.5f, float((2 / pi) * (std::sin(pi / 6) / (pi / 6)))},
      {MitchellFilter, 0, 16.0f / 18}, {MitchellFilter, 1, 1.0f / 18}, {MitchellFilter, 1.5f, -0.125f / 6 * (5.0f / 3)},
  };
  for (const auto& s : samples) EXPECT_NEAR(s.f(s.x), s.want, 1e-6) << s.x;
}

TEST(Resample, ContributorLists) {
  std::vector<TContributor> l;
  // Enlarging by 1 with the B-Spline: 1/6, 2/3, 1/6; at the left border -1 reflects to 1.
  BuildContributors(l, 0, 1.0f, SplineFilter, 2.0f, 5);
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[0].Pixel, 1);
  EXPECT_EQ(l[1].Pixel, 0);
  EXPECT_EQ(l[2].Pixel, 1);
  EXPECT_NEAR(l[0].Weight, 1.0 / 6, 1e-6);
  EXPECT_NEAR(l[1].Weight, 2.0 / 3, 1e-6);
  // At the right border 5 reflects to 2 x 5 - 5 - 1 = 4.
  BuildContributors(l, 4, 1.0f, SplineFilter, 2.0f, 5);
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[2].Pixel, 4);
  // Shrinking by 2 with the triangle: weights 1/4, 1/2, 1/4 around 2i.
  BuildContributors(l, 1, 0.5f, TriangleFilter, 1.0f, 8);
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[0].Pixel, 1);
  EXPECT_EQ(l[1].Pixel, 2);
  EXPECT_EQ(l[2].Pixel, 3);
  EXPECT_FLOAT_EQ(l[0].Weight, 0.25f);
  EXPECT_FLOAT_EQ(l[1].Weight, 0.5f);
  // The box at scale 1: one contributor of weight 1.
  BuildContributors(l, 3, 1.0f, BoxFilter, 0.5f, 8);
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].Pixel, 3);
  EXPECT_EQ(l[0].Weight, 1.0f);
}

TEST(Resample, SmallSourcesAreRefused) {
  auto d = Grey(4, 4);
  for (auto [w, h] : {std::pair{1, 5}, std::pair{5, 1}, std::pair{1, 1}}) {
    auto s = Grey(w, h);
    EXPECT_EQ(testsupport::AssertionMessageOf(
                  [&] { ResampleFiltered(s.Get(), d.Get(), BoxFilter, 0.5f, 1, nullptr, nullptr, -1, {}); }),
              u"Source bitmap too small");
  }
  auto rgb = TRef<TSysBitmap>::Adopt(CreateSysBitmap(3, 3, pfR8G8B8));
  auto s = Grey(3, 3);
  EXPECT_THROW(ResampleFiltered(rgb.Get(), d.Get(), BoxFilter, 0.5f, 1, nullptr, nullptr, -1, {}),
               foundation::EAssertionFailed);
  EXPECT_THROW(ResampleFiltered(s.Get(), rgb.Get(), BoxFilter, 0.5f, 1, nullptr, nullptr, -1, {}),
               foundation::EAssertionFailed);
}

TEST(Resample, BoxAtScaleOneCopies) {
  auto s = Grey(6, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) s->Row(y)[x] = uint8_t(y * 60 + x * 7);
  auto d = Grey(6, 4, 99);
  ResampleFiltered(s.Get(), d.Get(), BoxFilter, 0.5f, 1, nullptr, nullptr, -1, {});
  for (int y = 0; y < 4; ++y) EXPECT_EQ(Row(d.Get(), y), Row(s.Get(), y));
}

TEST(Resample, SplineAtScaleOneBlurs) {
  // A vertical stripe of 240: 240/6 = 40 beside it, 240 x 2/3 = 160 on it;
  // 40 x 257 = 10280 in the 16-bit image gives 40 back.
  auto s = Grey(5, 3);
  for (int y = 0; y < 3; ++y) s->Row(y)[2] = 240;
  auto d = Grey(5, 3, 99);
  ResampleFiltered(s.Get(), d.Get(), SplineFilter, 2.0f, 1, nullptr, nullptr, -1, {});
  for (int y = 0; y < 3; ++y) EXPECT_EQ(Row(d.Get(), y), (std::vector<uint8_t>{0, 40, 160, 40, 0})) << y;
}

TEST(Resample, OvershootIsClampedBeforeTheIntermediateImage) {
  // Enlarging a step 0 | 255 by 2 with the Mitchell kernel: at c = 2.5 the sum
  // is 255 x (2 k(0.5) + k(1.5)) = 263.8, which must become 255, not wrap.
  auto s = Grey(5, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 2; x < 5; ++x) s->Row(y)[x] = 255;
  auto d = Grey(10, 4);
  ResampleFiltered(s.Get(), d.Get(), MitchellFilter, 2.0f, 2, nullptr, nullptr, -1, {});
  for (int y = 0; y < 4; ++y) {
    EXPECT_EQ(d->Row(y)[5], 255) << y;
    EXPECT_EQ(d->Row(y)[9], 255) << y;
  }
  auto l = Grey(5, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 2; x < 5; ++x) l->Row(y)[x] = 255;
  // Lanczos3 at c = 2.5: 255 x (2 k(0.5) + k(1.5) + k(2.5)) = 264.6; rows 0 and 2 lie on source rows.
  ResampleFiltered(l.Get(), d.Get(), Lanczos3Filter, 3.0f, 2, nullptr, nullptr, -1, {});
  for (int y : {0, 2}) EXPECT_EQ(d->Row(y)[5], 255) << y;
}

TEST(Resample, OutputTableReadsTheTwelveBitResult) {
  std::vector<uint8_t> table(4096, 1);
  table[0] = 7;
  table[4095] = 200;
  auto s = Grey(4, 2);
  for (int y = 0; y < 2; ++y) s->Row(y)[1] = s->Row(y)[3] = 255;
  auto d = Grey(4, 2);
  ResampleFiltered(s.Get(), d.Get(), BoxFilter, 0.5f, 1, nullptr, table.data(), 4095, {});
  for (int y = 0; y < 2; ++y) EXPECT_EQ(Row(d.Get(), y), (std::vector<uint8_t>{7, 200, 7, 200}));
}

TEST(Resample, ProgressAndAbort) {
  auto s = Grey(6, 5);
  auto d = Grey(3, 4, 9);
  int calls = 0;
  int sender = 0;
  ResampleFiltered(s.Get(), d.Get(), TriangleFilter, 1.0f, 0.5f, &sender, nullptr, -1, [&](void* who, bool&) {
    EXPECT_EQ(who, &sender);
    ++calls;
  });
  EXPECT_EQ(calls, 3 + 5 + 4 + 3);  // column lists, source rows, row lists, destination columns
  calls = 0;
  d = Grey(3, 4, 9);
  ResampleFiltered(s.Get(), d.Get(), TriangleFilter, 1.0f, 0.5f, nullptr, nullptr, -1, [&](void*, bool& abort) {
    ++calls;
    abort = true;
  });
  EXPECT_EQ(calls, 4) << "each loop does its first step, then stops";
  EXPECT_EQ(d->Row(0)[0], 0);  // the first destination column was written
  EXPECT_EQ(d->Row(0)[1], 9);  // the second was not
}

TEST(Resample, HostileScalesReadNothingOutside) {
  for (int n : {2, 3}) {
    for (const auto& f : ResampleFilters) {
      auto s = Grey(n, n, 200);
      auto d = Grey(1, 1);
      ResampleFiltered(s.Get(), d.Get(), f.Filter, f.Support, 1.0f / n, nullptr, nullptr, -1, {});
      if (f.Filter != Lanczos3Filter && f.Filter != MitchellFilter) {
        EXPECT_NEAR(d->Row(0)[0], 200, 1) << f.Name;  // a flat picture stays flat
      }
      auto big = Grey(7, 5);
      ResampleFiltered(s.Get(), big.Get(), f.Filter, f.Support, 0.4f, nullptr, nullptr, -1, {});
      ResampleFiltered(s.Get(), big.Get(), f.Filter, f.Support, 40.0f, nullptr, nullptr, -1, {});
    }
  }
  auto s = Grey(3, 3, 200);
  for (float scale : {0.0f, -1.0f, 1e-9f, std::numeric_limits<float>::quiet_NaN(),
                      std::numeric_limits<float>::infinity()}) {
    auto d = Grey(2, 2, 5);
    ResampleFiltered(s.Get(), d.Get(), SplineFilter, 2.0f, scale, nullptr, nullptr, -1, {});
    EXPECT_EQ(d->Row(0)[0], 5) << scale;
  }
}

}  // namespace
