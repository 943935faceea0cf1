#include "imaging/SysBitmapAlphaUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"

using namespace imaging;
using foundation::TRef;

namespace {

TRef<TSysBitmap> Sys(int w, int h, TPixelFormat* f) { return TRef<TSysBitmap>::Adopt(CreateSysBitmap(w, h, f)); }

// The packed blend worked out per byte. Within each 4-byte group, bytes j and
// j + 2 share a signed 32-bit word: the upper one is floored; the lower one
// is rounded toward zero of the whole (wrapping) word, i.e. floored when the
// word is not negative and raised toward zero otherwise. Bytes after the last
// whole group are truncated toward zero one by one.
std::vector<uint8_t> ExpectedBlend(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int w) {
  std::vector<uint8_t> out(a.size());
  const size_t groups = a.size() / 4;
  for (size_t g = 0; g < groups; ++g)
    for (int j = 0; j < 2; ++j) {
      const size_t lo = 4 * g + j, hi = lo + 2;
      const int dlo = b[lo] - a[lo], dhi = b[hi] - a[hi];
      const int64_t word = (int64_t(dlo) + 65536 * int64_t(dhi)) * w;
      const auto wrapped = static_cast<int32_t>(static_cast<uint32_t>(word & 0xFFFFFFFF));
      const double qlo = dlo * w / 256.0;
      out[lo] = uint8_t(a[lo] + int(wrapped < 0 ? std::ceil(qlo) : std::floor(qlo)));
      out[hi] = uint8_t(a[hi] + int(std::floor(dhi * w / 256.0)));
    }
  for (size_t i = groups * 4; i < a.size(); ++i) out[i] = uint8_t(a[i] + (b[i] - a[i]) * w / 256);
  return out;
}

TEST(AlphaUtils, BlendRowsIsInstalledByStartUp) { EXPECT_EQ(BlendRows, &BlendRowsPacked); }

TEST(AlphaUtils, BlendRowsHandWorkedBytes) {
  struct Case {
    std::vector<uint8_t> row, next;
    int w;
    std::vector<uint8_t> want;
  };
  const Case cases[] = {
      // Half way, positive word: the lower byte of the pair is floored (-0.5 -> -1).
      {{10, 0, 0, 0}, {9, 0, 1, 0}, 128, {9, 0, 0, 0}},
      // The word wraps negative: the lower byte goes toward zero (-2.99 -> -2), the upper is floored.
      {{10, 0, 0, 0}, {7, 0, 200, 0}, 255, {8, 0, 199, 0}},
      // Negative upper difference: both toward the lower value.
      {{100, 0, 100, 0}, {99, 0, 0, 0}, 128, {100, 0, 50, 0}},
      // Weight 0 and 256 give the rows exactly.
      {{1, 2, 3, 4, 5}, {250, 251, 252, 253, 254}, 0, {1, 2, 3, 4, 5}},
      {{1, 2, 3, 4, 5}, {250, 251, 252, 253, 254}, 256, {250, 251, 252, 253, 254}},
      // The trailing byte is blended alone, truncating toward zero (-0.5 -> 0).
      {{0, 0, 0, 0, 10}, {0, 0, 0, 0, 9}, 128, {0, 0, 0, 0, 10}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> out(c.row.size(), 0xEE);
    BlendRows(out.data(), c.next.data(), c.row.data(), int(out.size()), c.w);
    EXPECT_EQ(out, c.want) << "weight " << c.w;
  }
}

TEST(AlphaUtils, BlendRowsMatchesTheWorkedRuleOnRandomRows) {
  std::mt19937 rng(7);
  for (int n : {1, 2, 3, 4, 7, 8, 64, 1023}) {
    std::vector<uint8_t> a(n), b(n);
    for (int i = 0; i < n; ++i) a[i] = uint8_t(rng()), b[i] = uint8_t(rng());
    for (int w : {0, 1, 37, 128, 200, 255, 256}) {
      std::vector<uint8_t> out(n + 1, 0x5A);
      BlendRows(out.data(), b.data(), a.data(), n, w);
      EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + n), ExpectedBlend(a, b, w)) << n << " " << w;
      EXPECT_EQ(out[n], 0x5A) << "wrote past the count";
    }
  }
}

TEST(AlphaUtils, RecoverAlphaCases) {
  struct Case {
    uint8_t black[4];  // B, G, R, A as drawn over black
    uint8_t white[3];
    uint8_t want[4];
  };
  const Case cases[] = {
      {{10, 20, 30, 0}, {10, 20, 30}, {10, 20, 30, 255}},      // opaque: same over both
      {{0, 0, 0, 0}, {255, 255, 255}, {0, 0, 0, 0}},           // fully transparent
      {{64, 64, 64, 9}, {191, 191, 191}, {64, 64, 64, 128}},  // half: 64 - 191 + 255 = 128
      {{0, 0, 100, 7}, {255, 255, 255}, {0, 0, 100, 100}},     // the largest channel decides
      {{5, 5, 5, 5}, {255, 255, 255}, {5, 5, 5, 5}},           // d = 5
      {{0, 0, 0, 77}, {255, 255, 255}, {0, 0, 0, 0}},          // d = 0 clears all four bytes
  };
  for (TPixelFormat* f : {pfA8R8G8B8, pfA8r8g8b8}) {
    auto k = Sys(int(std::size(cases)), 1, f);
    auto w = Sys(int(std::size(cases)), 1, pfR8G8B8);
    for (size_t i = 0; i < std::size(cases); ++i) {
      std::copy_n(cases[i].black, 4, k->Row(0) + 4 * i);
      std::copy_n(cases[i].white, 3, w->Row(0) + 3 * i);
    }
    RecoverAlpha(k.Get(), w.Get());
    for (size_t i = 0; i < std::size(cases); ++i)
      for (int c = 0; c < 4; ++c) EXPECT_EQ(k->Row(0)[4 * i + c], cases[i].want[c]) << "case " << i << " byte " << c;
  }
}

TEST(AlphaUtils, RecoverAlphaKeepsToTheGivenAndTheRealSize) {
  auto k = Sys(3, 2, pfA8R8G8B8);
  auto w = Sys(2, 2, pfR8G8B8);  // narrower than the first bitmap
  for (int y = 0; y < 2; ++y) {
    std::fill_n(k->Row(y), 12, 0);
    std::fill_n(w->Row(y), 6, 0);  // black over white too: opaque black
  }
  RecoverAlpha(k.Get(), w.Get(), 1, 1);
  EXPECT_EQ(k->Row(0)[3], 255);
  EXPECT_EQ(k->Row(0)[7], 0) << "outside the given width";
  EXPECT_EQ(k->Row(1)[3], 0) << "outside the given height";
  RecoverAlpha(k.Get(), w.Get(), 100, 100);  // cut to both bitmaps
  EXPECT_EQ(k->Row(1)[7], 255);
  EXPECT_EQ(k->Row(1)[11], 0) << "the white bitmap has no third column";
}

TEST(AlphaUtils, RecoverAlphaAssertsFormats) {
  auto k = Sys(1, 1, pfR8G8B8);
  auto w = Sys(1, 1, pfR8G8B8);
  auto a = Sys(1, 1, pfA8R8G8B8);
  EXPECT_THROW(RecoverAlpha(k.Get(), w.Get()), foundation::EAssertionFailed);
  EXPECT_THROW(RecoverAlpha(a.Get(), a.Get()), foundation::EAssertionFailed);
}

TEST(AlphaUtils, HasAlphaChannel) {
  auto b = Sys(3, 2, pfA8R8G8B8);
  for (int y = 0; y < 2; ++y) std::fill_n(b->Row(y), 12, 0);
  bool allZero = false;
  EXPECT_FALSE(HasAlphaChannel(b.Get(), allZero));
  EXPECT_TRUE(allZero);
  b->Row(1)[4] = 9;  // colour without alpha
  EXPECT_FALSE(HasAlphaChannel(b.Get(), allZero));
  EXPECT_FALSE(allZero);
  b->Row(1)[11] = 1;  // alpha of the last pixel
  EXPECT_TRUE(HasAlphaChannel(b.Get(), allZero));
  auto rgb = Sys(1, 1, pfR8G8B8);
  EXPECT_THROW(HasAlphaChannel(rgb.Get(), allZero), foundation::EAssertionFailed);
}

}  // namespace
