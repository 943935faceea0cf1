#include "imaging/SysBitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"

using namespace imaging;
using foundation::EAssertionFailed;
using foundation::TRef;

namespace {

TRef<TSysBitmap> Sys(int w, int h, TPixelFormat* f) { return TRef<TSysBitmap>::Adopt(CreateSysBitmap(w, h, f)); }

TEST(SysBitmap, DefaultFactoryMakesWrapper) {
  auto b = Sys(3, 2, pfA8R8G8B8);
  ASSERT_TRUE(b);
  auto* w = dynamic_cast<TSysDirectWrapper*>(b.Get());
  ASSERT_NE(w, nullptr);
  ASSERT_NE(w->Wrapped, nullptr);
  EXPECT_EQ(b->Row(1), w->Wrapped->Row(1));
  EXPECT_EQ(b->Pitch, 0);
  EXPECT_NE(b->Rows32(0), nullptr);
  EXPECT_EQ(b->Rows24(0), nullptr);
  // A request for the direct class still reaches the last factory.
  TRef<TBitmap> d = TRef<TBitmap>::Adopt(DefBitmapClass(2, 2, pfY8, TDirectBitmap::StaticClass(), nullptr, {}));
  EXPECT_STREQ(d->ClassName(), "TDirectBitmap");
}

TEST(SysBitmap, CropView) {
  auto src = Sys(40, 30, pfA8R8G8B8);
  src->_AddRef();
  auto* crop = new TCropBitmap(TRect{10, 20, 30, 25}, src.Get(), true);
  EXPECT_EQ(crop->Width, 20);
  EXPECT_EQ(crop->Height, 5);
  EXPECT_EQ(crop->Row(0), src->Row(20) + 40);
  EXPECT_EQ(crop->Pitch, src->Pitch);
  TRef<TBitmap> none = TRef<TBitmap>::Adopt(crop->Clone());
  EXPECT_FALSE(none);  // no factory makes a crop view
  crop->Free();        // releases the reference it owned
  auto* clipped = new TCropBitmap(TRect{-5, 28, 100, 100}, src.Get(), false);
  EXPECT_EQ(clipped->Width, 40);
  EXPECT_EQ(clipped->Height, 2);
  clipped->Free();
  try {
    new TCropBitmap(TRect{40, 0, 50, 5}, src.Get(), false);
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "TCropBitmap.Create - Bitmap is Empty");
  }
  try {
    new TSysDirectWrapper(nullptr, false);
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "TSysDirectWrapper.Create - Bitmap not Assigned");
  }
}

TEST(SysBitmap, PremultiplyModes) {
  struct Case {
    uint8_t c, a;
    int mode;
    uint8_t expect;
  };
  const Case cases[] = {{255, 254, 256, 253}, {255, 254, 255, 254}, {200, 255, 256, 200}, {200, 255, 255, 200},
                        {200, 0, 256, 0},     {200, 0, 255, 0},     {100, 128, 256, 50},  {100, 128, 255, 50},
                        {0, 0, 0, 0}};
  for (const auto& c : cases) {
    auto src = Sys(1, 1, pfA8R8G8B8);
    auto dst = Sys(1, 1, pfA8R8G8B8);
    src->Row(0)[0] = src->Row(0)[1] = src->Row(0)[2] = c.c;
    src->Row(0)[3] = c.a;
    dst->CopyRect(TRect{0, 0, 1, 1}, src.Get(), TPoint{0, 0}, c.mode);
    const uint8_t want = c.mode == 0 ? c.c : c.expect;
    EXPECT_EQ(dst->Row(0)[0], want) << int(c.c) << " a" << int(c.a) << " mode " << c.mode;
    EXPECT_EQ(dst->Row(0)[2], want);
    EXPECT_EQ(dst->Row(0)[3], c.a);
  }
  // No alpha in the destination: copied without premultiplying.
  auto src = Sys(1, 1, pfA8R8G8B8);
  StoreU32(src->Row(0), 0x10C8C8C8);
  auto rgb = Sys(1, 1, pfR8G8B8);
  rgb->CopyRect(TRect{0, 0, 1, 1}, src.Get(), TPoint{0, 0}, 256);
  EXPECT_EQ(rgb->Row(0)[0], 0xC8);
  EXPECT_THROW(rgb->CopyRect(TRect{0, 0, 1, 1}, src.Get(), TPoint{0, 0}, 128), EAssertionFailed);
}

// Every colour byte with every alpha, in one long row: mode 255 gives
// c x a div 255, mode 256 (c x a) shr 8, alpha 255 stays as it is in both.
TEST(SysBitmap, PremultiplyModesEveryValue) {
  auto src = Sys(256 * 256 + 5, 1, pfA8R8G8B8);
  for (int i = 0; i < src->Width; ++i) {
    uint8_t* p = src->Row(0) + 4 * i;
    p[0] = uint8_t(i >> 8);
    p[1] = uint8_t(255 - (i >> 8));
    p[2] = uint8_t(i * 7);
    p[3] = uint8_t(i);
  }
  for (int mode : {255, 256}) {
    auto dst = Sys(src->Width, 1, pfA8R8G8B8);
    dst->CopyRect(TRect{0, 0, dst->Width, 1}, src.Get(), TPoint{0, 0}, mode);
    for (int i = 0; i < src->Width; ++i) {
      const uint8_t* s = src->Row(0) + 4 * i;
      const uint8_t* d = dst->Row(0) + 4 * i;
      const unsigned a = s[3];
      for (int c = 0; c < 3; ++c) {
        const unsigned want = a == 255 ? s[c] : mode == 255 ? s[c] * a / 255 : (s[c] * a) >> 8;
        ASSERT_EQ(d[c], want) << "mode " << mode << " c " << int(s[c]) << " a " << a;
      }
      ASSERT_EQ(d[3], a);
    }
    // The in-place row functions give the same bytes.
    auto again = Sys(src->Width, 1, pfA8R8G8B8);
    again->CopyFrom(src.Get());
    (mode == 255 ? PremultiplyRow255 : PremultiplyRow256)(again->Row(0), again->Width);
    ASSERT_EQ(0, std::memcmp(again->Row(0), dst->Row(0), size_t(4 * src->Width))) << "mode " << mode;
  }
}

TEST(SysBitmap, CopyProgressAndForeignSources) {
  auto src = Sys(4, 3, pfR8G8B8);
  for (int y = 0; y < 3; ++y)
    for (int i = 0; i < 12; ++i) src->Row(y)[i] = uint8_t(y * 16 + i);
  auto dst = Sys(4, 3, pfA8R8G8B8);
  std::vector<float> calls;
  dst->Progress = [&](float f) {
    calls.push_back(f);
    return calls.size() < 3;  // refuse before the third row
  };
  dst->CopyFrom(src.Get());
  EXPECT_EQ(calls, (std::vector<float>{0.0f, 1.0f / 3, 2.0f / 3, 1.0f}));
  EXPECT_EQ(dst->Row(1)[4], 16 + 3);
  EXPECT_EQ(dst->Row(1)[7], 255);
  EXPECT_EQ(LoadU32(dst->Row(2)), 0u);  // the refused row stays
  // Refused before the first row: nothing copied, the final call still made.
  calls.clear();
  dst->Progress = [&](float f) {
    calls.push_back(f);
    return false;
  };
  auto fresh = Sys(4, 3, pfA8R8G8B8);
  fresh->Progress = dst->Progress;
  fresh->CopyFrom(src.Get());
  EXPECT_EQ(calls, (std::vector<float>{0.0f, 1.0f}));
  EXPECT_EQ(LoadU32(fresh->Row(0)), 0u);
  // A foreign (direct) source, same format and converted.
  auto* direct = new TDirectBitmap(4, 3, pfR8G8B8);
  direct->CopyFrom(src.Get());
  auto same = Sys(4, 3, pfR8G8B8);
  same->CopyRect(TRect{1, 1, 4, 3}, direct, TPoint{0, 0}, 0);
  EXPECT_EQ(same->Row(1)[3], 0);
  EXPECT_EQ(same->Row(2)[3], 16);
  auto conv = Sys(4, 3, pfA8R8G8B8);
  conv->CopyFrom(direct);
  EXPECT_EQ(conv->Row(2)[4], 32 + 3);
  EXPECT_EQ(conv->Row(2)[7], 255);
  direct->Free();
}

TEST(SysBitmap, FillRectPattern) {
  auto b = Sys(2000, 2, pfR8G8B8);
  EXPECT_TRUE(b->FillRect(TRect{0, 0, 2000, 1}, 0xFF102030));
  for (int x = 0; x < 2000; ++x) {
    ASSERT_EQ(b->Row(0)[3 * x], 0x30);
    ASSERT_EQ(b->Row(0)[3 * x + 2], 0x10);
  }
  EXPECT_EQ(b->Row(1)[0], 0);
  EXPECT_FALSE(b->FillRect(TRect{5, 5, 9, 9}, 0));
  auto w = Sys(3, 1, pfR5G6B5);
  w->FillRect(TRect{1, 0, 3, 1}, 0xFFFFFFFF);
  EXPECT_EQ(LoadU16(w->Row(0)), 0);
  EXPECT_EQ(LoadU16(w->Row(0) + 4), 0xFFFF);
  b->Progress = [](float) { return false; };
  EXPECT_FALSE(b->FillRect(TRect{0, 0, 1, 1}, 0));
}

TEST(SysBitmap, GetPixelsLimitsToBuffer) {
  auto b = Sys(5, 1, pfR8G8B8);
  for (int i = 0; i < 15; ++i) b->Row(0)[i] = uint8_t(i);
  std::vector<uint8_t> buf(8, 0xEE);
  EXPECT_EQ(b->GetPixels(buf, 1, 2, 0, 5), 6);  // (8 - 1) div 3 = 2 pixels
  EXPECT_EQ(buf[1], 6);
  EXPECT_EQ(buf[7], 0xEE);
  std::vector<uint8_t> one(1);
  EXPECT_THROW(b->GetPixels8(one, 0, 0, 0, 1), EAssertionFailed);
}

}  // namespace
