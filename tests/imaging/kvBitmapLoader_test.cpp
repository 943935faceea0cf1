#include "imaging/kvBitmapLoader.h"

#include <gtest/gtest.h>

#include <cstring>

#include "foundation/kvStream.h"
#include "imaging/kvPixelFormat.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "tests/support/BmpWriter.h"

using namespace imaging;
using testsupport::BmpPackRows;
using testsupport::BmpSpec;
using testsupport::Bytes;

namespace {

foundation::TRef<foundation::TMemoryStream> StreamOf(const Bytes& b, size_t prefix = 0) {
  auto s = foundation::MakeRef<foundation::TMemoryStream>();
  Bytes all(prefix, 0xEE);
  all.insert(all.end(), b.begin(), b.end());
  if (!all.empty()) s->WriteBuf(all.data(), static_cast<int32_t>(all.size()));
  s->SetPosition(static_cast<int64_t>(prefix));
  return s;
}

foundation::TRef<TDirectBitmap> Load(const Bytes& file, bool forceOpaque = true) {
  auto s = StreamOf(file);
  return foundation::TRef<TDirectBitmap>::Adopt(LoadBmpStream(s.Get(), forceOpaque));
}

// Pixel (x, y) as 0xAARRGGBB for 3- and 4-byte bitmaps (alpha 0 for 3 bytes).
uint32_t Px(TDirectBitmap* b, int x, int y) {
  const uint8_t* p = b->Row(y) + x * b->BytesPerPixel();
  uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
  if (b->BytesPerPixel() == 4) v |= uint32_t(p[3]) << 24;
  return v;
}

// A 3 x 2 picture: top row red, green, blue; bottom row white, black, grey.
const uint32_t kTop[3] = {0xFF0000, 0x00FF00, 0x0000FF};
const uint32_t kBottom[3] = {0xFFFFFF, 0x000000, 0x808080};

void ExpectPicture(TDirectBitmap* b) {
  ASSERT_NE(b, nullptr);
  ASSERT_EQ(b->Width, 3);
  ASSERT_EQ(b->Height, 2);
  for (int x = 0; x < 3; ++x) {
    EXPECT_EQ(Px(b, x, 0) & 0xFFFFFF, kTop[x]) << x;
    EXPECT_EQ(Px(b, x, 1) & 0xFFFFFF, kBottom[x]) << x;
  }
}

BmpSpec Picture24(bool topDown) {
  BmpSpec s;
  s.width = 3;
  s.height = topDown ? -2 : 2;
  s.bits = 24;
  const uint32_t* first = topDown ? kTop : kBottom;
  const uint32_t* second = topDown ? kBottom : kTop;
  // Sized up front: gcc 12 at -O3 misreads two inserts into an empty vector
  // as an overflow.
  std::vector<uint32_t> v(6);
  std::copy(first, first + 3, v.begin());
  std::copy(second, second + 3, v.begin() + 3);
  s.pixels = BmpPackRows(3, 2, 24, v);
  return s;
}

TEST(LoadBmpStream, TopDownAndBottomUpGiveTheSamePicture) {
  for (bool topDown : {false, true}) {
    auto b = Load(testsupport::WriteBmp(Picture24(topDown)));
    EXPECT_EQ(b->PixelFormat, pfR8G8B8);
    ExpectPicture(b.Get());
  }
}

TEST(LoadBmpStream, PaletteDepthsMapThroughTheColourTable) {
  // Indexes 0..5 name the six colours; the table lists them in that order.
  const std::vector<uint32_t> table = {kTop[0], kTop[1], kTop[2], kBottom[0], kBottom[1], kBottom[2]};
  for (uint16_t bits : {4, 8}) {
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.bits = bits;
    s.palette = table;
    s.palette.resize(size_t(1) << bits, 0x123456);
    s.pixels = BmpPackRows(3, 2, bits, {3, 4, 5, 0, 1, 2});
    auto b = Load(testsupport::WriteBmp(s));
    ExpectPicture(b.Get());
  }
}

TEST(LoadBmpStream, OneBitWithTwoColoursUsedMapsBitOneToTheSecondEntry) {
  BmpSpec s;
  s.width = 9;
  s.height = 1;
  s.bits = 1;
  s.clrUsed = 2;
  s.palette = {0x000000, 0xABCDEF};
  s.pixels = BmpPackRows(9, 1, 1, {1, 0, 1, 1, 0, 0, 0, 0, 1});
  auto b = Load(testsupport::WriteBmp(s));
  ASSERT_NE(b.Get(), nullptr);
  const int expect[9] = {1, 0, 1, 1, 0, 0, 0, 0, 1};
  for (int x = 0; x < 9; ++x) EXPECT_EQ(Px(b.Get(), x, 0), expect[x] ? 0xABCDEFu : 0u) << x;
}

TEST(LoadBmpStream, SixteenBitFormatsFollowTheGreenMask) {
  struct Case {
    uint32_t compression;
    std::vector<uint32_t> masks;
    uint32_t headerSize;
    TPixelFormat** format;
  } cases[] = {
      {0, {}, 40, &pfX1R5G5B5},
      {3, {0x7C00, 0x03E0, 0x001F}, 40, &pfX1R5G5B5},
      {3, {0xF800, 0x07E0, 0x001F}, 40, &pfR5G6B5},
      {3, {0xF800, 0x07E0, 0x001F}, 124, &pfR5G6B5},  // masks inside a long header
      {3, {0x7C00, 0x03E0, 0x001F}, 108, &pfX1R5G5B5},
  };
  for (const Case& c : cases) {
    BmpSpec s;
    s.width = 2;
    s.height = 1;
    s.bits = 16;
    s.compression = c.compression;
    s.masks = c.masks;
    s.headerSize = c.headerSize;
    s.pixels = BmpPackRows(2, 1, 16, {0x1234, 0xF00F});
    auto b = Load(testsupport::WriteBmp(s));
    ASSERT_NE(b.Get(), nullptr) << c.headerSize;
    EXPECT_EQ(b->PixelFormat, *c.format);
    EXPECT_EQ(LoadU16(b->Row(0)), 0x1234);
    EXPECT_EQ(LoadU16(b->Row(0) + 2), 0xF00F);
  }
}

TEST(LoadBmpStream, ThirtyTwoBitAlpha) {
  BmpSpec s;
  s.width = 2;
  s.height = 1;
  s.bits = 32;
  s.pixels = BmpPackRows(2, 1, 32, {0x00112233, 0x00445566});
  auto opaque = Load(testsupport::WriteBmp(s), true);
  EXPECT_EQ(opaque->PixelFormat, pfA8R8G8B8);
  EXPECT_EQ(Px(opaque.Get(), 0, 0), 0xFF112233u);
  EXPECT_EQ(Px(opaque.Get(), 1, 0), 0xFF445566u);
  auto asStored = Load(testsupport::WriteBmp(s), false);
  EXPECT_EQ(Px(asStored.Get(), 0, 0), 0x00112233u);
  s.pixels = BmpPackRows(2, 1, 32, {0x80112233, 0x00445566});
  auto kept = Load(testsupport::WriteBmp(s), true);
  EXPECT_EQ(Px(kept.Get(), 0, 0), 0x80112233u);
  EXPECT_EQ(Px(kept.Get(), 1, 0), 0x00445566u);
}

TEST(LoadBmpStream, ThirtyTwoBitMasksAreHonoured) {
  // Pixel values little-endian; expected results as A R G B words.
  struct Case {
    const char* name;
    uint32_t headerSize;
    std::vector<uint32_t> masks;
    uint32_t stored;
    uint32_t expect;
  } cases[] = {
      // Bytes in memory R, G, B, A: red is the lowest byte of the value.
      {"RGBA in a V5 header", 124, {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}, 0x80332211, 0x80112233},
      {"RGBA in a V4 header", 108, {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}, 0x40665544, 0x40445566},
      {"ARGB order moved up a byte", 124, {0xFF000000, 0x00FF0000, 0x0000FF00, 0x000000FF}, 0x112233C0, 0xC0112233},
      // No alpha mask: opaque.
      {"RGB masks after a short header", 40, {0x000000FF, 0x0000FF00, 0x00FF0000}, 0x00332211, 0xFF112233},
      // Ten bits a channel: the top eight bits of each.
      {"10-10-10", 124, {0x3FF00000, 0x000FFC00, 0x000003FF, 0}, (0x3FCu << 20) | (0x200u << 10) | 0x004u,
       0xFFFF8001},
      // The layout the bitmap already has: stored as it is.
      {"standard BGRA", 124, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}, 0x7F123456, 0x7F123456},
  };
  for (const Case& c : cases) {
    BmpSpec s;
    s.width = 1;
    s.height = 1;
    s.bits = 32;
    s.compression = 3;
    s.headerSize = c.headerSize;
    s.masks = c.masks;
    s.pixels = BmpPackRows(1, 1, 32, {c.stored});
    auto b = Load(testsupport::WriteBmp(s), false);
    ASSERT_NE(b.Get(), nullptr) << c.name;
    EXPECT_EQ(b->PixelFormat, pfA8R8G8B8) << c.name;
    EXPECT_EQ(Px(b.Get(), 0, 0), c.expect) << c.name;
  }
}

BmpSpec Rle(uint16_t bits, int32_t width, int32_t height, Bytes codes) {
  BmpSpec s;
  s.width = width;
  s.height = height;
  s.bits = bits;
  s.compression = bits == 8 ? 1 : 2;
  for (uint32_t i = 0; i < (1u << bits); ++i) s.palette.push_back(i * 0x010101);
  s.pixels = std::move(codes);
  return s;
}

TEST(LoadBmpStream, RunLengthStreams) {
  // RLE8, 4 x 2 bottom-up: file row 0 (bottom) = run of 3 x 7, absolute 9; row 1 = absolute 1 2 3, run 1 x 4.
  auto b = Load(testsupport::WriteBmp(Rle(8, 4, 2, {3, 7, 0, 3, 9, 0, 0, 0, 0, 0, 0, 3, 1, 2, 3, 0, 1, 4, 0, 1})));
  ASSERT_NE(b.Get(), nullptr);
  const uint8_t expect[2][4] = {{1, 2, 3, 4}, {7, 7, 7, 9}};  // top row first
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Px(b.Get(), x, y), expect[y][x] * 0x010101u) << x << "," << y;

  // RLE4: run of 5 alternating 0xA, 0xB; an absolute run of 3 nibbles 1 2 3 (2 bytes, padded to even).
  auto r4 = Load(testsupport::WriteBmp(Rle(4, 8, -1, {5, 0xAB, 0, 3, 0x12, 0x30, 0, 1})));
  ASSERT_NE(r4.Get(), nullptr);
  const uint8_t e4[8] = {0xA, 0xB, 0xA, 0xB, 0xA, 1, 2, 3};
  for (int x = 0; x < 8; ++x) EXPECT_EQ(Px(r4.Get(), x, 0), e4[x] * 0x010101u) << x;

  // A delta past the last row ends the decoding successfully; the rest stays 0.
  auto d = Load(testsupport::WriteBmp(Rle(8, 2, 2, {2, 5, 0, 2, 0, 9})));
  ASSERT_NE(d.Get(), nullptr);
  EXPECT_EQ(Px(d.Get(), 0, 1), 0x050505u);
  EXPECT_EQ(Px(d.Get(), 0, 0), 0u);

  // A huge picture claimed by a few bytes of codes is refused before anything is allocated.
  EXPECT_EQ(Load(testsupport::WriteBmp(Rle(8, 16384, 16384, {0, 1}))).Get(), nullptr);
  auto blank = Load(testsupport::WriteBmp(Rle(8, 256, 256, {0, 1})));
  ASSERT_NE(blank.Get(), nullptr);  // end of bitmap at once: all index 0
  EXPECT_EQ(Px(blank.Get(), 255, 255), 0u);

  // Refused: a run longer than the room left; codes cut short; RLE8 with 4 bits.
  EXPECT_EQ(Load(testsupport::WriteBmp(Rle(8, 2, 2, {5, 1, 0, 1}))).Get(), nullptr);
  EXPECT_EQ(Load(testsupport::WriteBmp(Rle(8, 2, 2, {0, 3, 1}))).Get(), nullptr);
  BmpSpec wrong = Rle(4, 2, 1, {2, 0x11, 0, 1});
  wrong.compression = 1;
  EXPECT_EQ(Load(testsupport::WriteBmp(wrong)).Get(), nullptr);
}

TEST(LoadBmpStream, RefusedHeaders) {
  auto base = [] { return Picture24(false); };
  struct Case {
    const char* what;
    BmpSpec spec;
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, auto change) {
    BmpSpec s = base();
    change(s);
    cases.push_back({what, s});
  };
  add("file size beyond the stream", [](BmpSpec& s) { s.fileSize = 100000; });
  add("two planes", [](BmpSpec& s) { s.planes = 2; });
  add("zero width", [](BmpSpec& s) { s.width = 0; });
  add("zero height", [](BmpSpec& s) { s.height = 0; });
  add("compression 6", [](BmpSpec& s) { s.compression = 6; });
  add("zero bits", [](BmpSpec& s) { s.bits = 0; });
  add("zero bits with PNG compression", [](BmpSpec& s) { s.bits = 0, s.compression = 5; });
  add("12 bits", [](BmpSpec& s) { s.bits = 12; });
  add("16 bits RLE", [](BmpSpec& s) { s.bits = 16, s.compression = 1; });
  add("16 bits odd green mask", [](BmpSpec& s) { s.bits = 16, s.compression = 3, s.masks = {0, 0xFF00, 0}; });
  add("32 bits RLE", [](BmpSpec& s) { s.bits = 32, s.compression = 2; });
  add("huge width", [](BmpSpec& s) { s.width = 0x7FFFFFFF; });
  add("height -2^31", [](BmpSpec& s) { s.height = INT32_MIN; });
  add("10^9 pixels in 60 bytes", [](BmpSpec& s) { s.width = 1000, s.height = 1000000, s.pixels.resize(6); });
  add("rows beyond the data", [](BmpSpec& s) { s.width = 300, s.height = 300; });
  add("8 bits, row cut short", [](BmpSpec& s) {
    s.bits = 8, s.palette.assign(256, 0), s.width = 16, s.height = 2, s.pixels.assign(20, 0);
  });
  for (const Case& c : cases) EXPECT_EQ(Load(testsupport::WriteBmp(c.spec)).Get(), nullptr) << c.what;

  Bytes bad = testsupport::WriteBmp(base());
  bad[0] = 'X';
  EXPECT_EQ(Load(bad).Get(), nullptr);
  EXPECT_EQ(Load(Bytes(bad.begin(), bad.begin() + 13)).Get(), nullptr);
  EXPECT_EQ(Load(Bytes(bad.begin(), bad.begin() + 30)).Get(), nullptr);
}

TEST(LoadBmpStream, ReadsFromTheStreamPositionAndRaisesOnAShortColourTable) {
  auto s = StreamOf(testsupport::WriteBmp(Picture24(false)), 7);
  auto b = foundation::TRef<TDirectBitmap>::Adopt(LoadBmpStream(s.Get(), true));
  ExpectPicture(b.Get());

  BmpSpec pal;
  pal.width = 1;
  pal.height = 1;
  pal.bits = 8;
  pal.palette.assign(10, 0);  // 256 entries expected
  Bytes file = testsupport::WriteBmp(pal);
  auto t = StreamOf(file);
  EXPECT_THROW(LoadBmpStream(t.Get(), true), foundation::EStreamReadError);
}

// ---- Icon images -----------------------------------------------------------

Bytes IconDib(uint16_t bits, int32_t width, int32_t rows, const std::vector<uint32_t>& colours,
              const std::vector<uint32_t>& maskBits, std::vector<uint32_t> palette = {}) {
  BmpSpec s;
  s.width = width;
  s.height = rows * 2;
  s.bits = bits;
  s.palette = std::move(palette);
  s.pixels = BmpPackRows(width, rows, bits, colours);
  Bytes mask = BmpPackRows(width, rows, 1, maskBits);
  s.pixels.insert(s.pixels.end(), mask.begin(), mask.end());
  return testsupport::WriteDib(s);
}

foundation::TRef<TDirectBitmap> LoadIcon(const Bytes& dib) {
  auto s = StreamOf(dib);
  return foundation::TRef<TDirectBitmap>::Adopt(LoadIconDIB(s.Get()));
}

TEST(LoadIconDIB, AlphaComesFromTheImageOrTheMask) {
  // 2 x 2, stored bottom row first; mask bit 1 (transparent) at stored row 0, column 1.
  auto own = LoadIcon(IconDib(32, 2, 2, {0x80010203, 0xFF040506, 0x10070809, 0x200A0B0C}, {0, 1, 0, 0}));
  ASSERT_NE(own.Get(), nullptr);
  EXPECT_EQ(own->PixelFormat, pfA8R8G8B8);
  EXPECT_EQ(Px(own.Get(), 0, 1), 0x80010203u);
  EXPECT_EQ(Px(own.Get(), 1, 1), 0xFF040506u);
  EXPECT_EQ(Px(own.Get(), 0, 0), 0x10070809u);

  auto masked = LoadIcon(IconDib(24, 2, 2, {0x010203, 0x040506, 0x070809, 0x0A0B0C}, {0, 1, 0, 0}));
  ASSERT_NE(masked.Get(), nullptr);
  EXPECT_EQ(Px(masked.Get(), 0, 1), 0xFF010203u);
  EXPECT_EQ(Px(masked.Get(), 1, 1), 0x00040506u);
  EXPECT_EQ(Px(masked.Get(), 1, 0), 0xFF0A0B0Cu);

  auto zeroAlpha = LoadIcon(IconDib(32, 2, 1, {0x010203, 0x040506}, {1, 0}));
  EXPECT_EQ(Px(zeroAlpha.Get(), 0, 0), 0x00010203u);
  EXPECT_EQ(Px(zeroAlpha.Get(), 1, 0), 0xFF040506u);

  // Palette icons take all four bytes of the entry, then the mask.
  auto pal = LoadIcon(IconDib(1, 2, 1, {0, 1}, {0, 0}, {0x7F112233, 0x00445566}));
  EXPECT_EQ(Px(pal.Get(), 0, 0), 0xFF112233u);
  EXPECT_EQ(Px(pal.Get(), 1, 0), 0xFF445566u);
}

TEST(LoadIconDIB, RefusesWhatItCannotRead) {
  Bytes one = IconDib(24, 1, 1, {0}, {0});
  one[8] = 1;  // height 1: no colour row
  EXPECT_EQ(LoadIcon(one).Get(), nullptr);
  Bytes big = IconDib(24, 1, 1, {0}, {0});
  big[4] = 0xFF, big[5] = 0xFF, big[6] = 0x00;  // 65535 wide, two bytes of rows
  EXPECT_EQ(LoadIcon(big).Get(), nullptr);
  // A mask cut short is not an error.
  Bytes shortMask = IconDib(24, 2, 2, {1, 2, 3, 4}, {1, 1, 1, 1});
  shortMask.resize(shortMask.size() - 4);
  auto b = LoadIcon(shortMask);
  ASSERT_NE(b.Get(), nullptr);
  EXPECT_EQ(Px(b.Get(), 0, 1), 0x00000001u);
  EXPECT_EQ(Px(b.Get(), 0, 0), 0xFF000003u);
}

}  // namespace
