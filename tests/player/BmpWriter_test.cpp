#include "player/BmpWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/kvStream.h"
#include "imaging/SysBitmap.h"
#include "imaging/kvBitmapLoader.h"
#include "imaging/kvPixelFormat.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "tests/support/TempTree.h"

using foundation::MakeRef;
using foundation::TMemoryStream;
using foundation::TRef;
using imaging::TDirectBitmap;

namespace {

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

// A picture whose every pixel differs: red grows with x, green with y.
Rgb Colour(int x, int y) { return Rgb{uint8_t(40 * x + 10), uint8_t(60 * y + 5), uint8_t(200 - 30 * x - 7 * y)}; }

TRef<TDirectBitmap> Picture(int w, int h, imaging::TPixelFormat* format) {
  auto b = TRef<TDirectBitmap>::Adopt(new TDirectBitmap(w, h, format));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Rgb c = Colour(x, y);
      uint8_t* p = b->Row(y) + x * b->BytesPerPixel();
      if (b->BytesPerPixel() == 2) {
        b->Row16(y)[x] = uint16_t(((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3));
      } else if (format == imaging::pfB8G8R8) {
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
      } else {
        p[0] = c.b, p[1] = c.g, p[2] = c.r;
        if (b->BytesPerPixel() == 4) p[3] = 255;
      }
    }
  return b;
}

std::vector<uint8_t> Written(imaging::TBitmap* b, bool* ok = nullptr) {
  auto s = MakeRef<TMemoryStream>();
  const bool result = player::WriteBitmapAsBMP(b, s.Get());
  if (ok) *ok = result;
  return std::vector<uint8_t>(s->Data(), s->Data() + s->GetSize());
}

uint32_t U32(const std::vector<uint8_t>& d, size_t at) {
  return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (uint32_t(d[at + 3]) << 24);
}
uint16_t U16(const std::vector<uint8_t>& d, size_t at) { return uint16_t(d[at] | (d[at + 1] << 8)); }

// The picture as python3-pil reads it: "w h" then one "r g b" line per pixel, top row first.
std::string ReadWithPil(const std::string& path) {
  const std::string cmd =
      "/usr/bin/python3 -c \"import sys\nfrom PIL import Image\nim=Image.open(sys.argv[1])\n"
      "print(im.format, im.size[0], im.size[1])\nim=im.convert('RGB')\n"
      "[print(*im.getpixel((x,y))) for y in range(im.size[1]) for x in range(im.size[0])]\" '" +
      path + "' 2>&1";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return "popen failed";
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::string ExpectedPilText(int w, int h) {
  std::ostringstream s;
  s << "BMP " << w << " " << h << "\n";
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Rgb c = Colour(x, y);
      s << int(c.r) << " " << int(c.g) << " " << int(c.b) << "\n";
    }
  return s.str();
}

// A bitmap that keeps no rows: every read goes through the row reader.
class TComputedBitmap : public imaging::TBitmap {
 public:
  TComputedBitmap(int w, int h) {
    Width = w;
    Height = h;
    PixelFormat = imaging::pfR8G8B8;
  }
  int32_t GetPixels(std::span<uint8_t> buffer, int32_t offset, int32_t x, int32_t y, int32_t count) override {
    for (int32_t i = 0; i < count; ++i) {
      const Rgb c = Colour(x + i, y);
      buffer[offset + 3 * i] = c.b;
      buffer[offset + 3 * i + 1] = c.g;
      buffer[offset + 3 * i + 2] = c.r;
    }
    return count * 3;
  }
};

}  // namespace

TEST(BmpWriter, SizeFieldsCountThePaddedRows) {
  struct Case {
    int w, h;
    imaging::TPixelFormat** format;
    uint32_t bits, stride;
  };
  // Strides worked out by hand: 3 x 3 bytes = 9 -> 12; 3 x 2 = 6 -> 8; 3 x 4 = 12; 1 x 3 = 3 -> 4.
  const Case cases[] = {{3, 1, &imaging::pfR8G8B8, 24, 12}, {3, 3, &imaging::pfR8G8B8, 24, 12},
                        {3, 2, &imaging::pfX1R5G5B5, 16, 8}, {3, 2, &imaging::pfA8R8G8B8, 32, 12},
                        {1, 3, &imaging::pfR8G8B8, 24, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " at " << c.bits);
    auto b = Picture(c.w, c.h, *c.format);
    bool ok = false;
    const auto d = Written(b.Get(), &ok);
    ASSERT_TRUE(ok);
    const uint32_t image = c.stride * uint32_t(c.h);
    ASSERT_EQ(d.size(), 54u + image);
    EXPECT_EQ(d[0], 'B');
    EXPECT_EQ(d[1], 'M');
    EXPECT_EQ(U32(d, 2), 54u + image);
    EXPECT_EQ(U32(d, 6), 0u);
    EXPECT_EQ(U32(d, 10), 54u);
    EXPECT_EQ(U32(d, 14), 40u);
    EXPECT_EQ(U32(d, 18), uint32_t(c.w));
    EXPECT_EQ(U32(d, 22), uint32_t(c.h));
    EXPECT_EQ(U16(d, 26), 1u);
    EXPECT_EQ(U16(d, 28), c.bits);
    EXPECT_EQ(U32(d, 30), 0u);
    EXPECT_EQ(U32(d, 34), image);
    for (size_t i = 38; i < 54; ++i) EXPECT_EQ(d[i], 0) << i;
  }
}

TEST(BmpWriter, RowsGoBottomUpInBgrOrderWithZeroPadding) {
  auto b = Picture(3, 2, imaging::pfR8G8B8);
  const auto d = Written(b.Get());
  ASSERT_EQ(d.size(), 54u + 24u);
  for (int fileRow = 0; fileRow < 2; ++fileRow) {
    const int y = 1 - fileRow;  // the bottom row comes first
    for (int x = 0; x < 3; ++x) {
      const Rgb c = Colour(x, y);
      const size_t at = 54 + 12 * fileRow + 3 * x;
      EXPECT_EQ(d[at], c.b);
      EXPECT_EQ(d[at + 1], c.g);
      EXPECT_EQ(d[at + 2], c.r);
    }
    for (int pad = 9; pad < 12; ++pad) EXPECT_EQ(d[54 + 12 * fileRow + pad], 0) << fileRow;
  }
}

TEST(BmpWriter, RefusesWithoutWritingAnything) {
  auto s = MakeRef<TMemoryStream>();
  auto grey = TRef<TDirectBitmap>::Adopt(new TDirectBitmap(4, 4, imaging::pfY8));
  EXPECT_FALSE(player::WriteBitmapAsBMP(grey.Get(), s.Get()));
  EXPECT_FALSE(player::WriteBitmapAsBMP(nullptr, s.Get()));
  auto b = Picture(2, 2, imaging::pfR8G8B8);
  EXPECT_FALSE(player::WriteBitmapAsBMP(b.Get(), nullptr));
  EXPECT_EQ(s->GetSize(), 0);

  qeltest::TempTree tree;
  EXPECT_FALSE(player::SaveBitmapToBMPFile(grey.Get(), tree.internal("grey.bmp")));
  EXPECT_FALSE(tree.exists("grey.bmp"));
}

TEST(BmpWriter, OtherFormatsAreConvertedToTheDeclaredLayout) {
  // R, G, B in memory becomes B, G, R in the file; B, G, R, A is written as stored.
  for (imaging::TPixelFormat* format : {imaging::pfB8G8R8, imaging::pfA8R8G8B8}) {
    auto b = Picture(3, 2, format);
    const auto d = Written(b.Get());
    const int bpp = format->BytesPerPixel;
    const size_t stride = (size_t(3 * bpp) + 3) & ~size_t(3);
    ASSERT_EQ(d.size(), 54 + 2 * stride);
    for (int x = 0; x < 3; ++x) {
      const Rgb c = Colour(x, 1);  // the first file row is the bottom row
      EXPECT_EQ(d[54 + bpp * x], c.b) << format->Name;
      EXPECT_EQ(d[54 + bpp * x + 1], c.g) << format->Name;
      EXPECT_EQ(d[54 + bpp * x + 2], c.r) << format->Name;
    }
  }
  // 5-6-5 becomes 5-5-5: pure red 0xF800 is 0x7C00, pure green 0x07E0 is 0x03E0, blue 0x001F stays.
  auto b = TRef<TDirectBitmap>::Adopt(new TDirectBitmap(3, 1, imaging::pfR5G6B5));
  b->Row16(0)[0] = 0xF800;
  b->Row16(0)[1] = 0x07E0;
  b->Row16(0)[2] = 0x001F;
  const auto d = Written(b.Get());
  ASSERT_EQ(d.size(), 54u + 8u);
  EXPECT_EQ(U16(d, 28), 16u);
  EXPECT_EQ(U16(d, 54), 0x7C00);
  EXPECT_EQ(U16(d, 56), 0x03E0);
  EXPECT_EQ(U16(d, 58), 0x001F);
  EXPECT_EQ(U16(d, 60), 0);
}

TEST(BmpWriter, RowTablesAndRowReadersGiveTheSameFile) {
  auto direct = Picture(5, 3, imaging::pfR8G8B8);
  auto wrapped = TRef<imaging::TSysDirectWrapper>::Adopt(new imaging::TSysDirectWrapper(direct.Get(), false));
  auto computed = TRef<TComputedBitmap>::Adopt(new TComputedBitmap(5, 3));
  const auto expected = Written(direct.Get());
  ASSERT_EQ(expected.size(), 54u + 16u * 3u);
  EXPECT_EQ(Written(wrapped.Get()), expected);
  EXPECT_EQ(Written(computed.Get()), expected);
}

TEST(BmpWriter, FilesReadBackByOurReaderAndByAnIndependentOne) {
  struct Case {
    int w, h;
    imaging::TPixelFormat** format;
  };
  const Case cases[] = {{3, 3, &imaging::pfR8G8B8}, {5, 2, &imaging::pfR8G8B8}, {4, 3, &imaging::pfA8R8G8B8},
                        {3, 4, &imaging::pfB8G8R8}};
  qeltest::TempTree tree;
  int n = 0;
  for (const Case& c : cases) {
    const std::string name = "p" + std::to_string(n++) + ".bmp";
    SCOPED_TRACE(name + " " + (*c.format)->Name);
    auto b = Picture(c.w, c.h, *c.format);
    ASSERT_TRUE(player::SaveBitmapToBMPFile(b.Get(), tree.internal(name)));
    const std::string bytes = tree.read(name);

    auto s = MakeRef<TMemoryStream>();
    s->WriteBuf(bytes.data(), int32_t(bytes.size()));
    s->SetPosition(0);
    auto back = TRef<TDirectBitmap>::Adopt(imaging::LoadBmpStream(s.Get(), true));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->Width, c.w);
    ASSERT_EQ(back->Height, c.h);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        const uint8_t* p = back->Row(y) + x * back->BytesPerPixel();
        EXPECT_EQ((Rgb{p[2], p[1], p[0]}), Colour(x, y)) << x << "," << y;
      }

    EXPECT_EQ(ReadWithPil(tree.path(name)), ExpectedPilText(c.w, c.h));
  }
}
