#include "imaging/kvCompoundBitmap.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "ImagingTestEnv.h"

using namespace imaging;
using foundation::TRef;

namespace {

TSysBitmap* Part(int w, int h, uint8_t v) {
  TSysBitmap* b = CreateSysBitmap(w, h, pfY8);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->Row(y)[x] = uint8_t(v + x);
  return b;
}

TEST(CompoundBitmap, ComposesRowsFromParts) {
  auto c = TRef<TCompoundBitmap>::Adopt(new TCompoundBitmap(20, 10, pfY8));
  c->Items.push_back({Part(4, 3, 10), true, 2, 1, nullptr});
  c->Items.push_back({Part(4, 3, 100), true, 4, 2, nullptr});  // overlaps the first from row 2, columns 4..5
  c->Items.push_back({nullptr, false, 0, 0, nullptr});
  std::vector<uint8_t> buf(12, 0xEE);
  // Row 1: only the first part (columns 2..5 = 10..13).
  EXPECT_EQ(c->GetPixels(buf, 1, 0, 1, 10), 10);
  EXPECT_EQ(buf, (std::vector<uint8_t>{0xEE, 0xEE, 0xEE, 10, 11, 12, 13, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  // Row 2: the second part wins at columns 4..5 and goes on to 7.
  std::fill(buf.begin(), buf.end(), 0xEE);
  EXPECT_EQ(c->GetPixels(buf, 0, 3, 2, 6), 6);
  EXPECT_EQ(buf, (std::vector<uint8_t>{11, 100, 101, 102, 103, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  // A span between the parts leaves the buffer alone and still answers the count.
  std::fill(buf.begin(), buf.end(), 0xEE);
  EXPECT_EQ(c->GetPixels(buf, 0, 10, 2, 5), 5);
  EXPECT_EQ(c->GetPixels(buf, 0, 0, 8, 12), 12);
  EXPECT_EQ(buf, std::vector<uint8_t>(12, 0xEE));
  // Spans beyond the buffer are cut to it.
  EXPECT_EQ(c->GetPixels(buf, 10, 0, 1, 50), 2);
  EXPECT_EQ(c->GetPixels(buf, 20, 0, 1, 5), 0);
  std::vector<uint8_t> typed(4, 7);
  c->GetPixels8(typed, 0, 2, 1, 4);
  EXPECT_EQ(typed, std::vector<uint8_t>(4, 7));
}

TEST(CompoundBitmap, ItemImagesAndJitter) {
  auto c = TRef<TCompoundBitmap>::Adopt(new TCompoundBitmap(50, 50, pfY8));
  TSysBitmap* shared = Part(6, 4, 0);
  c->Items.push_back({shared, false, 10, 20, nullptr});
  TCompoundPlacement p;
  TImage* first = c->GetItemImage(0, p);
  ASSERT_NE(first, nullptr);
  std::set<float> xs;
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(c->GetItemImage(0, p), first);
    EXPECT_EQ(p.HalfSize.X, 3);
    EXPECT_EQ(p.HalfSize.Y, 2);
    EXPECT_GE(p.Position.X, 10 + 3 - 5);
    EXPECT_LE(p.Position.X, 10 + 3 + 4);
    EXPECT_GE(p.Position.Y, 20 + 2 - 5);
    EXPECT_LE(p.Position.Y, 20 + 2 + 4);
    EXPECT_EQ(p.XAxis.X, 1);
    EXPECT_EQ(p.YAxis.Y, 1);
    xs.insert(p.Position.X);
  }
  EXPECT_GT(xs.size(), 3u) << "the jitter varies";
  EXPECT_EQ(c->GetItemImage(1, p), nullptr);
  EXPECT_EQ(c->GetItemImage(-1, p), nullptr);
  c = {};
  shared->Free();  // not owned by the item: still alive after the compound went
}

}  // namespace
