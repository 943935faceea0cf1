#include "imaging/SysBitmapStore.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"
#include "imaging/SysBitmapUtils.h"

using namespace imaging;
using foundation::TRef;

namespace {

TSysBitmap* Random(int w, int h, TPixelFormat* f, unsigned seed) {
  TSysBitmap* b = CreateSysBitmap(w, h, f);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int i = 0; i < w * f->BytesPerPixel; ++i) b->Row(y)[i] = uint8_t(rng());
  return b;
}

std::vector<uint8_t> Bytes(TBitmap* bm) {
  auto* b = dynamic_cast<TSysBitmap*>(bm);
  std::vector<uint8_t> v;
  for (int y = 0; y < b->Height; ++y) v.insert(v.end(), b->Row(y), b->Row(y) + b->Width * b->BytesPerPixel());
  return v;
}

TRef<TWrapperBitmapStore> Wrap(TBitmap* b, TLevelProvider p = {}) {
  return TRef<TWrapperBitmapStore>::Adopt(new TWrapperBitmapStore(u"img", b, true, p));
}

TEST(MipStore, LevelSizesAndCaching) {
  auto store = Wrap(Random(5, 3, pfR8G8B8, 1));
  struct Size {
    int w, h;
  };
  const Size sizes[] = {{5, 3}, {3, 2}, {2, 1}, {1, 1}, {1, 1}};
  // Level 2 first: level 1 is made and cached in the working format on the way.
  TBitmap* l2 = store->GetBitmap(2, nullptr, nullptr);
  EXPECT_EQ(l2->Width, 2);
  ASSERT_GE(store->Levels.size(), 2u);
  ASSERT_EQ(store->Levels[1].Bitmaps.size(), 1u);
  EXPECT_EQ(store->Levels[1].Bitmaps[0]->PixelFormat, pfR8G8B8);
  for (int level = 0; level < 5; ++level) {
    TBitmap* b = store->GetBitmap(level, nullptr, nullptr);
    EXPECT_EQ(b->Width, sizes[level].w) << level;
    EXPECT_EQ(b->Height, sizes[level].h) << level;
  }
  // Every level is the halving of the level above, byte for byte.
  for (int level = 1; level < 5; ++level) {
    auto* above = dynamic_cast<TSysBitmap*>(store->GetBitmap(level - 1, nullptr, nullptr));
    auto* mine = dynamic_cast<TSysBitmap*>(store->GetBitmap(level, nullptr, nullptr));
    auto expect = TRef<TSysBitmap>::Adopt(CreateSysBitmap(mine->Width, mine->Height, pfR8G8B8));
    HalveBitmap24(above, expect.Get());
    EXPECT_EQ(Bytes(mine), Bytes(expect.Get())) << level;
  }
  EXPECT_EQ(store->GetBitmap(1, nullptr, nullptr), l2 == nullptr ? nullptr : store->Levels[1].Bitmaps[0]);
  TMipLevelResult r;
  try {
    store->GetMipLevel(r, -1, nullptr, nullptr);
    FAIL();
  } catch (const foundation::EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "TSysBitmapStore.GetMipLevel - Index<0");
  }
}

TEST(MipStore, AlphaImagesReducePremultiplied) {
  TSysBitmap* src = Random(6, 4, pfA8R8G8B8, 2);
  auto premul = TRef<TSysBitmap>::Adopt(CreateSysBitmap(6, 4, pfA8r8g8b8));
  premul->CopyFrom(src);
  auto store = Wrap(src);
  TBitmap* direct = store->GetBitmap(1, pfA8r8g8b8, nullptr);
  EXPECT_EQ(direct->PixelFormat, pfA8r8g8b8);
  auto expect = TRef<TSysBitmap>::Adopt(CreateSysBitmap(3, 2, pfA8r8g8b8));
  HalveBitmap32(premul.Get(), expect.Get());
  EXPECT_EQ(Bytes(direct), Bytes(expect.Get()));
  TBitmap* plain = store->GetBitmap(1, nullptr, nullptr);
  EXPECT_EQ(plain, direct);  // any format matches the cached level when none is asked
  auto store2 = Wrap(Random(6, 4, pfA8R8G8B8, 2));
  TBitmap* unpremul = store2->GetBitmap(1, nullptr, nullptr);
  EXPECT_EQ(unpremul->PixelFormat, pfA8R8G8B8);
  auto back = TRef<TSysBitmap>::Adopt(CreateSysBitmap(3, 2, pfA8R8G8B8));
  back->CopyFrom(expect.Get());
  EXPECT_EQ(Bytes(unpremul), Bytes(back.Get()));
}

// Every level of an image with alpha is the premultiplied reduction of the
// level above (taken in the premultiplied format from the cached level),
// un-premultiplied into "A8R8G8B8"; odd sizes take the clamped edge samples.
// Level 0 in another layout is first read as "A8R8G8B8" and premultiplied, so
// an "A8B8G8R8" image reduces like its "A8R8G8B8" twin (a plain channel copy
// into "A8r8g8b8" would take it for premultiplied data and brighten it); data
// already premultiplied is only reordered.
TEST(MipStore, AlphaChainLevelByLevel) {
 for (TPixelFormat* native : {pfA8R8G8B8, pfA8B8G8R8, PixelFormatByName(u"A4R4G4B4"), pfA8b8g8r8}) {
  SCOPED_TRACE(native->Name);
  auto store = Wrap(Random(23, 11, native, 5));
  TBitmap* above = store->GetBitmap(0, nullptr, nullptr);
  for (int level = 1; level <= 5; ++level) {
    auto premul = TRef<TSysBitmap>::Adopt(CreateSysBitmap(above->Width, above->Height, pfA8r8g8b8));
    if (level == 1 && !native->Premultiplied) {
      auto plain = TRef<TSysBitmap>::Adopt(CreateSysBitmap(above->Width, above->Height, pfA8R8G8B8));
      plain->CopyFrom(above);
      premul->CopyFrom(plain.Get());
    } else {
      premul->CopyFrom(above);
    }
    auto reduced = TRef<TSysBitmap>::Adopt(CreateSysBitmap((above->Width + 1) / 2, (above->Height + 1) / 2, pfA8r8g8b8));
    HalveBitmap32(premul.Get(), reduced.Get());
    auto expect = TRef<TSysBitmap>::Adopt(CreateSysBitmap(reduced->Width, reduced->Height, pfA8R8G8B8));
    expect->CopyFrom(reduced.Get());
    TBitmap* got = store->GetBitmap(level, nullptr, nullptr);
    ASSERT_EQ(got->PixelFormat, pfA8R8G8B8);
    ASSERT_EQ(Bytes(got), Bytes(expect.Get())) << "level " << level;
    above = got;
  }
 }
}

TEST(MipStore, WrappedDirectBitmaps) {
  auto* direct = new TDirectBitmap(4, 4, pfR8G8B8);
  direct->_AddRef();
  TImage* img = WrapBitmapAsImage(direct, false, u"d");
  TBitmap* native = img->GetBitmap();
  EXPECT_STREQ(native->ClassName(), "TSysDirectWrapper");
  EXPECT_EQ(img->Store->GetBitmap(0, nullptr, TDirectBitmap::StaticClass()), direct);  // not a copy
  img->Free();
  EXPECT_EQ(direct->RefCount(), 2);  // alive: the image did not own it
  direct->Free();
  const int before = foundation::LiveObjectCount();
  TImage* owned = WrapBitmapAsImage(new TDirectBitmap(2, 2, pfY8), true, u"o");
  owned->Free();
  EXPECT_EQ(foundation::LiveObjectCount(), before);  // freed with the image
  EXPECT_EQ(WrapBitmapAsImage(nullptr, true, u"none"), nullptr);
  EXPECT_THROW(new TWrapperBitmapStore(u"x", nullptr, false, {}), foundation::EAssertionFailed);
}

TEST(MipStore, TurnsAppliedToDirectLevels) {
  TSysBitmap* src = Random(4, 2, pfR8G8B8, 5);
  const auto srcBytes = Bytes(src);
  TLevelProvider quarter = [](TImageParams& p) {
    std::swap(p.Width, p.Height);
    return TurnLevel90Hook;
  };
  auto store = Wrap(src, quarter);
  EXPECT_EQ(store->Params.Width, 2);
  EXPECT_EQ(store->Params.Height, 4);
  auto* l0 = dynamic_cast<TSysBitmap*>(store->GetBitmap(0, nullptr, nullptr));
  ASSERT_NE(l0, nullptr);
  EXPECT_EQ(l0->Width, 2);
  EXPECT_EQ(l0->Height, 4);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(l0->Row(x)[(1 - y) * 3], srcBytes[size_t((y * 4 + x) * 3)]);
  EXPECT_EQ(store->GetBitmap(1, nullptr, nullptr)->Width, 1);
  EXPECT_EQ(store->GetBitmap(1, nullptr, nullptr)->Height, 2);

  // A half turn of an owned 24-bit system bitmap happens in place.
  TSysBitmap* owned = Random(3, 2, pfR8G8B8, 6);
  const auto before = Bytes(owned);
  TBitmapReference ref{owned, true};
  RotateBitmap180Hook(store.Get(), ref);
  EXPECT_EQ(ref.Bitmap, owned);
  EXPECT_EQ(Bytes(owned)[0], before[before.size() - 3]);
  // Not owned: turned in a converted copy, the original untouched.
  TBitmapReference borrowed{owned, false};
  const auto now = Bytes(owned);
  RotateBitmap270Hook(store.Get(), borrowed);
  EXPECT_NE(borrowed.Bitmap, owned);
  EXPECT_TRUE(borrowed.Owns);
  EXPECT_EQ(Bytes(owned), now);
  EXPECT_EQ(borrowed.Bitmap->Width, 2);
  borrowed.Bitmap->Free();
  // Alpha images turn in "A8R8G8B8".
  TBitmapReference alpha{Random(2, 3, pfA8r8g8b8, 7), true};
  RotateBitmap90Hook(store.Get(), alpha);
  EXPECT_EQ(alpha.Bitmap->PixelFormat, pfA8R8G8B8);
  alpha.Bitmap->Free();
  owned->Free();
}

}  // namespace
