#include "imaging/kvFastDIB.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"

using namespace imaging;
using foundation::EAssertionFailed;
using foundation::TRef;

namespace {

TRef<TFastDIB> Dib(int w, int h, int bits) {
  auto d = TRef<TFastDIB>::Adopt(new TFastDIB);
  d->SetSize(w, h, bits);
  return d;
}

TEST(FastDIB, PitchGapAndReuse) {
  struct Case {
    int w, bits, pitch, gap;
  };
  const Case cases[] = {{10, 24, 32, 2}, {33, 1, 8, 3}, {9, 4, 8, 3}, {5, 8, 8, 3}, {3, 16, 8, 2}, {7, 32, 28, 0}};
  for (const auto& c : cases) {
    auto d = Dib(c.w, 2, c.bits);
    EXPECT_EQ(d->Pitch, c.pitch) << c.w << "/" << c.bits;
    EXPECT_EQ(d->Gap, c.gap) << c.w << "/" << c.bits;
    EXPECT_EQ(d->Info.Header.biSizeImage, uint32_t(2 * c.pitch));
    EXPECT_EQ(d->Row(1), d->Row(0) + c.pitch);
  }
  auto d = Dib(10, 4, 24);
  uint8_t* bits = d->Bits;
  int allocations = 0;
  d->OnAllocate = [&](TFastDIB*) { ++allocations; };
  d->SetSize(10, 4, 24);
  EXPECT_EQ(d->Bits, bits);
  EXPECT_EQ(allocations, 0);
  d->SetSize(11, 4, 24);
  EXPECT_EQ(allocations, 1);
  std::vector<uint8_t> external(64);
  d->Allocate(external.data(), 4, 4, 32, 0, 0, 0);
  EXPECT_EQ(d->Bits, external.data());
  EXPECT_FALSE(d->OwnsBits);
}

TEST(FastDIB, HostileSizesAreRefusedBeforeAllocating) {
  auto d = TRef<TFastDIB>::Adopt(new TFastDIB);
  EXPECT_THROW(d->SetSize(INT_MAX, INT_MAX, 32), EAssertionFailed);
  EXPECT_THROW(d->SetSize(100000, INT_MIN, 8), EAssertionFailed);
  EXPECT_THROW(d->SetSize(1 << 20, 1 << 10, 24), EAssertionFailed);  // beyond the pixel cap
  EXPECT_THROW(d->SetSize(0, 5, 24), EAssertionFailed);
  EXPECT_THROW(d->SetSize(4, 4, 7), EAssertionFailed);
  EXPECT_EQ(d->Bits, nullptr);
}

TEST(FastDIB, BitfieldMasks) {
  uint32_t r, g, b;
  BuildBitfieldMasks(5, 6, 5, r, g, b);
  EXPECT_EQ(r, 0xF800u);
  EXPECT_EQ(g, 0x07E0u);
  EXPECT_EQ(b, 0x001Fu);
  BuildBitfieldMasks(8, 8, 8, r, g, b);
  EXPECT_EQ(r, 0xFF0000u);
  EXPECT_EQ(g, 0xFF00u);
  EXPECT_EQ(b, 0xFFu);
  BuildBitfieldMasks(16, 8, 8, r, g, b);
  EXPECT_EQ(r, 0xFFFF0000u);
  BuildBitfieldMasks(10, 10, 12, r, g, b);
  EXPECT_EQ(r, 0xFFC00000u);
  EXPECT_EQ(g, 0x003FF000u);
}

TEST(FastDIB, BitmapViewIsTopDown) {
  auto d = Dib(2, 3, 24);
  for (int i = 0; i < 3; ++i) d->Row(i)[0] = uint8_t(10 + i);
  d->_AddRef();
  auto* b = new TDibBitmap(d.Get(), true, pfR8G8B8);
  EXPECT_EQ(b->Row(0), d->Row(2));
  EXPECT_EQ(b->Row(0)[0], 12);
  EXPECT_EQ(b->Pitch, -d->Pitch);
  EXPECT_EQ(b->Height, 3);
  b->Free();
  EXPECT_EQ(d->RefCount(), 1);
  // A top-down DIB (negative height) keeps its memory order.
  auto td = Dib(2, -3, 24);
  auto* t = CreateDibBitmapOf(td.Get(), false);
  EXPECT_EQ(t->Row(0), td->Row(0));
  EXPECT_EQ(t->Pitch, td->Pitch);
  t->Free();
  try {
    new TDibBitmap(d.Get(), false, pfA8R8G8B8);
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Pixel Formats Not Compatible");
  }
}

TEST(FastDIB, SixteenBitDibsMatchTheirFormat) {
  // Pure green through a 16-bit DIB keeps green: memory and format agree.
  auto green = TRef<TSysBitmap>::Adopt(CreateSysBitmap(2, 1, pfR8G8B8));
  green->Row(0)[1] = 255;
  green->Row(0)[4] = 255;
  TDibBitmap* d565 = CreateDibBitmap(2, 1, 16);
  EXPECT_EQ(d565->PixelFormat, pfR5G6B5);
  EXPECT_EQ(d565->DIB->Info.Header.biCompression, BI_BITFIELDS);
  EXPECT_EQ(d565->DIB->Info.Colors[1], 0x07E0u);
  d565->CopyFrom(green.Get());
  EXPECT_EQ(LoadU16(d565->Row(0)), 0x07E0);
  auto back = TRef<TSysBitmap>::Adopt(CreateSysBitmap(2, 1, pfR8G8B8));
  back->CopyFrom(d565);
  EXPECT_EQ(back->Row(0)[1], 252);
  EXPECT_EQ(back->Row(0)[2], 0);
  d565->Free();
  // A BI_RGB 16-bit DIB holds 5-5-5 pixels and is paired with that format.
  auto raw = Dib(2, 1, 16);
  EXPECT_EQ(raw->Info.Header.biCompression, BI_RGB);
  TDibBitmap* d555 = CreateDibBitmapOf(raw.Get(), false);
  EXPECT_EQ(d555->PixelFormat, pfX1R5G5B5);
  d555->CopyFrom(green.Get());
  EXPECT_EQ(LoadU16(d555->Row(0)), 0x03E0);
  d555->Free();
  // From a header with 5-6-5 masks.
  TBitmapInfo info;
  info.Header.biWidth = 3;
  info.Header.biHeight = 2;
  info.Header.biBitCount = 16;
  info.Header.biCompression = BI_BITFIELDS;
  info.Colors[0] = 0xF800;
  info.Colors[1] = 0x07E0;
  info.Colors[2] = 0x001F;
  auto fromInfo = TRef<TFastDIB>::Adopt(new TFastDIB);
  fromInfo->SetSizeFromInfo(info);
  EXPECT_EQ(fromInfo->GreenBits, 6);
  EXPECT_EQ(PixelFormatForDIB(fromInfo.Get()), pfR5G6B5);
  EXPECT_EQ(PixelFormatForBitCount(15), pfX1R5G5B5);
  EXPECT_THROW(PixelFormatForBitCount(12), EAssertionFailed);
}

TEST(FastDIB, FactoryAnswersOnlyItsClass) {
  TRef<TBitmap> dib =
      TRef<TBitmap>::Adopt(DefBitmapClass(4, 2, pfR8G8B8, TDibBitmap::StaticClass(), nullptr, {}));
  ASSERT_TRUE(dib);
  EXPECT_STREQ(dib->ClassName(), "TDibBitmap");
  EXPECT_FALSE(TRef<TBitmap>::Adopt(DefBitmapClass(4, 2, pfB8G8R8, TDibBitmap::StaticClass(), nullptr, {})));
  TRef<TSysBitmap> sys = TRef<TSysBitmap>::Adopt(CreateSysBitmap(4, 2, pfR8G8B8));
  EXPECT_STREQ(sys->ClassName(), "TSysDirectWrapper");
  sys->Row(1)[0] = 77;
  TRef<TBitmap> copy = TRef<TBitmap>::Adopt(sys->CloneAs(nullptr, TDibBitmap::StaticClass()));
  ASSERT_TRUE(copy);
  EXPECT_EQ(static_cast<TDibBitmap*>(copy.Get())->Row(1)[0], 77);
}

TEST(FastDIB, RunLengthDecoding) {
  auto d = Dib(6, 3, 8);
  const std::vector<uint8_t> simple = {3, 65, 0, 0, 0, 1};
  d->DecodeRLE8(simple);
  EXPECT_EQ((std::vector<uint8_t>(d->Row(0), d->Row(0) + 6)), (std::vector<uint8_t>{65, 65, 65, 0, 0, 0}));
  // A literal of 3 (padded to 4 bytes), a delta of (1, 1), a run past the row end (dropped).
  auto e = Dib(6, 3, 8);
  const std::vector<uint8_t> mixed = {0, 3, 1, 2, 3, 0, 0, 2, 1, 1, 9, 7, 0, 1};
  e->DecodeRLE8(mixed);
  EXPECT_EQ((std::vector<uint8_t>(e->Row(0), e->Row(0) + 6)), (std::vector<uint8_t>{1, 2, 3, 0, 0, 0}));
  EXPECT_EQ((std::vector<uint8_t>(e->Row(1), e->Row(1) + 6)), (std::vector<uint8_t>{0, 0, 0, 0, 7, 7}));
  auto f = Dib(5, 2, 4);
  const std::vector<uint8_t> nibbles = {5, 0x12, 0, 0, 0, 3, 0xAB, 0xC0, 0, 1};
  f->DecodeRLE4(nibbles);
  EXPECT_EQ((std::vector<uint8_t>(f->Row(0), f->Row(0) + 3)), (std::vector<uint8_t>{0x12, 0x12, 0x10}));
  EXPECT_EQ((std::vector<uint8_t>(f->Row(1), f->Row(1) + 2)), (std::vector<uint8_t>{0xAB, 0xC0}));
  // Cut-short data and runaway deltas end quietly.
  auto g = Dib(4, 2, 8);
  g->DecodeRLE8(std::vector<uint8_t>{0, 9, 1, 2});
  g->DecodeRLE8(std::vector<uint8_t>{0, 2, 255, 255, 3, 1});
  g->DecodeRLE8(std::vector<uint8_t>{0});
  EXPECT_EQ(g->Row(0)[0], 1);
}

// The one run-length decoder the DIB and the BMP loader share: how the codes
// ended decides whether a BMP file is a picture; pixels past a row's end are
// dropped in both.
TEST(FastDIB, RunLengthEndings) {
  struct Case {
    const char* what;
    std::vector<uint8_t> codes;
    TRunLengthEnd end;
    std::vector<uint8_t> pixels;  // 3 x 2 indexes, data order
  };
  const Case cases[] = {
      {"end code", {2, 5, 0, 0, 1, 6, 0, 1}, TRunLengthEnd::Complete, {5, 5, 0, 6, 0, 0}},
      {"every row reached", {3, 1, 0, 0, 3, 2, 0, 0}, TRunLengthEnd::Complete, {1, 1, 1, 2, 2, 2}},
      {"data ends first", {3, 1, 0, 0}, TRunLengthEnd::CutShort, {1, 1, 1, 0, 0, 0}},
      {"delta cut short", {1, 4, 0, 2, 1}, TRunLengthEnd::CutShort, {4, 0, 0, 0, 0, 0}},
      {"literal cut short", {0, 4, 7, 8}, TRunLengthEnd::CutShort, {7, 8, 0, 0, 0, 0}},
      // A run across a row end inside the picture: the excess is dropped, not wrapped.
      {"row end", {5, 3, 0, 0, 1, 9, 0, 1}, TRunLengthEnd::Complete, {3, 3, 3, 9, 0, 0}},
      {"past the picture", {0, 0, 4, 4, 0, 1}, TRunLengthEnd::Overrun, {0, 0, 0, 4, 4, 4}},
      {"literal past the picture", {0, 2, 1, 1, 0, 3, 1, 2, 3, 0, 0, 1}, TRunLengthEnd::Overrun, {0, 0, 0, 0, 1, 2}},
      {"overrun then cut short", {0, 0, 9, 1}, TRunLengthEnd::Overrun, {0, 0, 0, 1, 1, 1}},
      {"delta past the last row", {1, 2, 0, 2, 0, 9, 4, 4}, TRunLengthEnd::Complete, {2, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(6, 0);
    uint8_t* rows[2] = {out.data(), out.data() + 3};
    EXPECT_EQ(DecodeRunLength(c.codes, false, 3, rows, false), c.end) << c.what;
    EXPECT_EQ(out, c.pixels) << c.what;
  }
  // Four-bit codes unpacked one index a byte (the loader) and packed two a byte (the DIB).
  const std::vector<uint8_t> four = {3, 0x5A, 0, 3, 0x12, 0x30, 0, 1};
  std::vector<uint8_t> unpacked(6, 0);
  uint8_t* row[1] = {unpacked.data()};
  EXPECT_EQ(DecodeRunLength(four, true, 6, row, false), TRunLengthEnd::Complete);
  EXPECT_EQ(unpacked, (std::vector<uint8_t>{5, 0xA, 5, 1, 2, 3}));
  std::vector<uint8_t> packed(3, 0);
  row[0] = packed.data();
  EXPECT_EQ(DecodeRunLength(four, true, 6, row, true), TRunLengthEnd::Complete);
  EXPECT_EQ(packed, (std::vector<uint8_t>{0x5A, 0x51, 0x23}));
}

TEST(FastDIB, AlphaDrawArithmetic) {
  struct Case {
    uint8_t d, s, a, out;
  };
  const Case cases[] = {{100, 200, 128, 150}, {200, 100, 128, 150}, {100, 200, 0, 100}, {100, 200, 255, 200},
                        {0, 255, 1, 1},       {255, 0, 1, 255}};  // the shift floors: -255 shr 8 = -1
  for (const auto& c : cases) {
    uint8_t d[3] = {c.d, c.d, c.d};
    const uint8_t s[4] = {c.s, c.s, c.s, c.a};
    AlphaDrawRow(d, s, 1);
    EXPECT_EQ(d[0], c.out) << int(c.d) << " " << int(c.s) << " " << int(c.a);
  }
}

}  // namespace
