// Which level of a picture is drawn, and that only that level is decoded and
// colour converted: a store that records the levels it decodes and a colour
// transform that records the bitmaps it converts.
#include "imaging/DisplayLevel.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "imaging/SysBitmapStore.h"
#include "imaging/kvColorProfileData.h"
#include "tests/imaging/ImagingTestEnv.h"

using namespace imaging;

namespace {

TEST(DisplayLevel, SidesHalveRoundingUp) {
  EXPECT_EQ(LevelSide(6000, 0), 6000);
  EXPECT_EQ(LevelSide(6000, 1), 3000);
  EXPECT_EQ(LevelSide(4001, 1), 2001);
  EXPECT_EQ(LevelSide(4001, 3), 501);
  EXPECT_EQ(LevelSide(1, 3), 1);
}

TEST(DisplayLevel, TheSmallestLevelNotBelowTheTarget) {
  struct Case {
    int32_t w, h, tw, th, expect;
  } cases[] = {
      {6000, 4000, 1920, 1080, 1},  // 3000 x 2000; 1500 x 1000 would be too narrow
      {8000, 6000, 1920, 1080, 2},  // 2000 x 1500
      {3840, 2160, 1920, 1080, 1},  // exactly the target
      {3839, 2160, 1920, 1080, 1},  // 1920 x 1080 rounded up from 1919.5: still enough
      {3838, 2160, 1920, 1080, 0},  // 1919 wide: too narrow
      {3000, 2000, 1920, 1080, 0},
      {1920, 1080, 1920, 1080, 0},
      {640, 480, 1920, 1080, 0},    // smaller than the target: full size
      {100000, 100000, 10, 10, 3},  // no deeper than the deepest level
      {4000, 6000, 1920, 1080, 1},  // portrait: 2000 x 3000
  };
  for (const Case& c : cases)
    EXPECT_EQ(DisplayLevelFor(c.w, c.h, c.tw, c.th), c.expect) << c.w << "x" << c.h << " for " << c.tw << "x" << c.th;
}

// A store that decodes levels 0 to 3 directly (as the JPEG loader does),
// each grey 100, and records which it decoded.
class TRecordingStore : public TSysBitmapStore {
 public:
  TRecordingStore(int32_t w, int32_t h, std::vector<int32_t>* decoded)
      : TSysBitmapStore(u"photo.jpg", TSize{w, h}, pfR8G8B8, TLevelProvider()), decoded_(decoded) {}
  void LoadMipLevel(TMipLevelResult& Result, int32_t Level) override {
    Result = TMipLevelResult{};
    Result.Level = Level;
    if (Level < 0 || Level > 3) return;
    decoded_->push_back(Level);
    TSysBitmap* b = CreateSysBitmap(LevelSide(Params.Width, Level), LevelSide(Params.Height, Level), pfR8G8B8);
    for (int32_t y = 0; y < b->Height; ++y)
      for (int32_t x = 0; x < b->Width * 3; ++x) b->Row(y)[x] = 100;
    Result.Bitmap = b;
    Result.Owned = true;
  }

 private:
  std::vector<int32_t>* decoded_;
};

std::vector<std::pair<int32_t, int32_t>> gTransformed;

// Records the size of every bitmap it converts and turns grey 100 into 200.
class TRecordingTransform : public TColorTransform {
 public:
  using TColorTransform::TColorTransform;
  bool TransformBitmap(TSysBitmap* Bitmap) override {
    gTransformed.emplace_back(Bitmap->Width, Bitmap->Height);
    for (int32_t y = 0; y < Bitmap->Height; ++y)
      for (int32_t x = 0; x < Bitmap->Width * 3; ++x) Bitmap->Row(y)[x] = 200;
    return true;
  }
};

TColorTransform* RecordingHook(TColorProfile* Source, TColorProfile* Destination) {
  return new TRecordingTransform(Source, Destination);
}

class DisplayBitmap : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = CreateColorTransformHook;
    CreateColorTransformHook = RecordingHook;
    gTransformed.clear();
  }
  void TearDown() override { CreateColorTransformHook = saved_; }
  TCreateColorTransform saved_ = nullptr;
};

TEST_F(DisplayBitmap, OnlyTheDrawnLevelIsDecodedAndTransformed) {
  std::vector<int32_t> decoded;
  auto* store = new TRecordingStore(800, 600, &decoded);
  store->ColorProfile = CreateColorProfileFromBytes(BuildAdobeRGBProfileBytes(), u"embedded");
  const int32_t level = DisplayLevelFor(800, 600, 300, 200);
  ASSERT_EQ(level, 1);  // 400 x 300; 200 x 150 would be too small
  TSysBitmap* shown = DisplayBitmapOfLevel(store, level, SRGBColorProfile);
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->Width, 400);
  EXPECT_EQ(shown->Height, 300);
  EXPECT_EQ(decoded, std::vector<int32_t>{1});
  ASSERT_EQ(gTransformed.size(), 1u);
  EXPECT_EQ(gTransformed[0], std::make_pair(400, 300));
  EXPECT_EQ(shown->Row(299)[3 * 399 + 2], 200);
  // The store keeps its level as decoded: asking again converts a fresh copy once more.
  EXPECT_EQ(static_cast<TSysBitmap*>(store->GetBitmap(1, pfR8G8B8, TSysBitmap::StaticClass()))->Row(0)[0], 100);
  TSysBitmap* again = DisplayBitmapOfLevel(store, level, SRGBColorProfile);
  EXPECT_EQ(again->Row(0)[0], 200);
  EXPECT_EQ(decoded, std::vector<int32_t>{1});
  EXPECT_EQ(gTransformed.size(), 2u);
  again->Free();
  shown->Free();
  store->Free();
}

TEST_F(DisplayBitmap, NoTransformBetweenEqualProfiles) {
  std::vector<int32_t> decoded;
  auto* store = new TRecordingStore(64, 48, &decoded);  // no profile: sRGB
  TSysBitmap* shown = DisplayBitmapOfLevel(store, 0, SRGBColorProfile);
  ASSERT_NE(shown, nullptr);
  EXPECT_TRUE(gTransformed.empty());
  EXPECT_EQ(shown->Row(0)[0], 100);
  EXPECT_EQ(decoded, std::vector<int32_t>{0});
  shown->Free();
  store->Free();
  EXPECT_EQ(DisplayBitmapOfLevel(nullptr, 0), nullptr);
}

}  // namespace
