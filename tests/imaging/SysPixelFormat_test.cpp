#include "imaging/SysPixelFormat.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "ImagingTestEnv.h"
#include "foundation/kpExceptions.h"

using namespace imaging;

namespace {

TPixelFormat* F(const char16_t* name) { return PixelFormatByName(name); }

std::vector<uint8_t> Convert(TPixelFormat* dest, TPixelFormat* src, const std::vector<uint8_t>& in, int count) {
  TPixelConverter* c = PixelConverter(dest, src);
  EXPECT_NE(c, nullptr);
  // A guard byte after the destination run shows any overrun.
  std::vector<uint8_t> out(size_t(count) * size_t(dest->BytesPerPixel) + 1, 0xEE);
  c->Convert(out.data(), in.data(), count);
  EXPECT_EQ(out.back(), 0xEE) << "converter wrote past the last pixel";
  out.pop_back();
  return out;
}

struct FlagCase {
  const char16_t* name;
  bool color, lum, alpha, premul, nonByte;
  int bits, bytes;
};

TEST(PixelFormat, FlagsAndSizes) {
  const FlagCase cases[] = {
      {u"A8r8g8b8", true, false, true, true, false, 32, 4},
      {u"Y8", false, true, false, false, false, 8, 1},
      {u"X1R5G5B5", true, false, false, false, true, 16, 2},
      {u"R5G6B5", true, false, false, false, true, 16, 2},
      {u"A16R16G16B16", true, false, true, false, false, 64, 8},
      {u"y8", false, true, false, true, false, 8, 1},
      {u"R3G3B2", true, false, false, false, true, 8, 1},
      {u"A1", false, false, true, false, true, 1, 1},
      {u"R8G8B8X1", true, false, false, false, true, 25, 4},
  };
  for (const auto& c : cases) {
    TPixelFormat* f = F(c.name);
    ASSERT_NE(f, nullptr);
    SCOPED_TRACE(f->Name);
    EXPECT_EQ(f->HasColor, c.color);
    EXPECT_EQ(f->HasLuminance, c.lum);
    EXPECT_EQ(f->HasAlpha, c.alpha);
    EXPECT_EQ(f->Premultiplied, c.premul);
    EXPECT_EQ(f->NonByteAligned, c.nonByte);
    EXPECT_EQ(f->BitsPerPixel, c.bits);
    EXPECT_EQ(f->BytesPerPixel, c.bytes);
  }
}

TEST(PixelFormat, NameIsIdentity) {
  EXPECT_EQ(F(u"A8R8G8B8"), pfA8R8G8B8);
  EXPECT_EQ(F(u"A8R8G8B8"), F(u"A8R8G8B8"));
  EXPECT_NE(F(u"A8R8G8B8"), F(u"A8r8g8b8"));
  EXPECT_EQ(AsCommonPixelFormat(nullptr), nullptr);
  EXPECT_EQ(GetPixelConverter(nullptr, pfR8G8B8), nullptr);
}

TEST(PixelFormat, ParsingRules) {
  TPartList parts;
  for (const char* bad : {"8R", "R0", "a8", "x8", "R8 G8", "", "R8Q8", "RGB"}) {
    EXPECT_FALSE(ParsePixelFormatName(bad, parts)) << bad;
  }
  // A letter directly followed by another keeps only the later one.
  ASSERT_TRUE(ParsePixelFormatName("AR8G8B8", parts));
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[2].Letter, 'R');
  // A trailing letter without digits is ignored; least significant first.
  ASSERT_TRUE(ParsePixelFormatName("R5G6B5A", parts));
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].Letter, 'B');
  EXPECT_EQ(parts[0].Bits, 5);
  EXPECT_EQ(parts[1].Bits, 6);
  EXPECT_THROW(F(u"8R8"), foundation::EAssertionFailed);
}

struct ConvCase {
  const char16_t* dest;
  const char16_t* src;
  std::vector<uint8_t> in;
  std::vector<uint8_t> out;
};

TEST(PixelFormat, ConvertersByteForByte) {
  const ConvCase cases[] = {
      // registered converters
      {u"R8G8B8", u"Y8", {7, 200}, {7, 7, 7, 200, 200, 200}},
      {u"B8G8R8", u"A8", {9}, {9, 9, 9}},
      {u"A8R8G8B8", u"R8G8B8", {1, 2, 3}, {1, 2, 3, 255}},
      {u"A8r8g8b8", u"R8G8B8", {1, 2, 3}, {1, 2, 3, 255}},
      {u"R8G8B8", u"A8R8G8B8", {1, 2, 3, 4}, {1, 2, 3}},
      {u"R8G8B8", u"R5G6B5", {0x00, 0xF8}, {0, 0, 248}},
      {u"R8G8B8", u"R5G6B5", {0xE0, 0x07}, {0, 252, 0}},
      {u"R8G8B8", u"X1R5G5B5", {0xFF, 0xFF}, {248, 248, 248}},
      {u"A8r8g8b8", u"A8R8G8B8", {200, 100, 50, 128, 9, 9, 9, 0, 9, 8, 7, 255},
       {100, 50, 25, 128, 0, 0, 0, 0, 9, 8, 7, 255}},
      {u"A8R8G8B8", u"A8r8g8b8", {100, 50, 25, 128, 9, 8, 7, 0}, {199, 99, 49, 128, 9, 8, 7, 0}},
      // invalid premultiplied data wraps in the low byte
      {u"A8R8G8B8", u"A8r8g8b8", {255, 0, 0, 1}, {0x01, 0, 0, 1}},
      // byte mapping: alpha read as luminance and back, fillers 0, missing alpha 255
      {u"Y8", u"A8R8G8B8", {1, 2, 3, 77}, {77}},
      {u"A8R8G8B8", u"Y8", {90}, {0, 0, 0, 90}},
      {u"X8B8G8R8", u"A8R8G8B8", {1, 2, 3, 4}, {3, 2, 1, 0}},
      {u"A8B8G8R8", u"X8R8G8B8", {1, 2, 3, 4}, {3, 2, 1, 255}},
      {u"R8G8B8", u"R8G8B8", {5, 6, 7}, {5, 6, 7}},
      {u"B8G8R8", u"R8G8B8", {1, 2, 3, 4, 5, 6}, {3, 2, 1, 6, 5, 4}},
      {u"X8B8G8R8", u"R8G8B8", {1, 2, 3}, {3, 2, 1, 0}},
      {u"B8G8R8", u"A8R8G8B8", {1, 2, 3, 4}, {3, 2, 1}},
      {u"A8B8G8R8", u"Y8", {9}, {0, 0, 0, 9}},
      // 16-bit channels scale: v shr 8 down, v x 257 up
      {u"A8R8G8B8", u"A16R16G16B16", {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xFF, 0xEE}, {0x12, 0x56, 0x9A, 0xEE}},
      {u"A16R16G16B16", u"R8G8B8", {0x12, 0x56, 0x9A}, {0x12, 0x12, 0x56, 0x56, 0x9A, 0x9A, 0xFF, 0xFF}},
      // bit mapping: widening fills ones, narrowing shifts
      {u"A8R8G8B8", u"X1R5G5B5", {0x21, 0x7C}, {15, 15, 255, 255}},
      {u"R5G6B5", u"A8R8G8B8", {255, 255, 255, 9}, {0xFF, 0xFF}},
      {u"X1R5G5B5", u"R8G8B8", {0, 0, 8}, {0x00, 0x04}},
      {u"A1", u"A8R8G8B8", {0, 0, 0, 200}, {1}},
  };
  for (const auto& c : cases) {
    TPixelFormat* d = F(c.dest);
    TPixelFormat* s = F(c.src);
    SCOPED_TRACE(s->Name + " -> " + d->Name);
    const int count = static_cast<int>(c.in.size()) / s->BytesPerPixel;
    EXPECT_EQ(Convert(d, s, c.in, count), c.out);
  }
}

// Every registration made at start-up: its converter class and one pixel through it.
TEST(PixelFormat, RegisteredConverterTable) {
  struct Reg {
    const char16_t* dest;
    const char16_t* src;
    const char* cls;
    std::vector<uint8_t> in, out;
  };
  const Reg regs[] = {
      {u"B8G8R8", u"A8", "TAYtoRGBConvertor", {40}, {40, 40, 40}},
      {u"R8G8B8", u"A8", "TAYtoRGBConvertor", {41}, {41, 41, 41}},
      {u"R5G6B5", u"A8", "TAYto16Convertor", {255}, {0xFF, 0xFF}},
      {u"X1R5G5B5", u"A8", "TAYto16Convertor", {255}, {0xFF, 0x7F}},
      {u"B8G8R8", u"Y8", "TAYtoRGBConvertor", {42}, {42, 42, 42}},
      {u"R8G8B8", u"Y8", "TAYtoRGBConvertor", {43}, {43, 43, 43}},
      {u"R5G6B5", u"Y8", "TAYto16Convertor", {8}, {0x41, 0x08}},
      {u"X1R5G5B5", u"Y8", "TAYto16Convertor", {8}, {0x21, 0x04}},
      {u"A8B8G8R8", u"B8G8R8", "TRGBToRGBA", {1, 2, 3}, {1, 2, 3, 255}},
      {u"A8R8G8B8", u"R8G8B8", "TRGBToRGBA", {4, 5, 6}, {4, 5, 6, 255}},
      {u"A8r8g8b8", u"R8G8B8", "TRGBToRGBA", {7, 8, 9}, {7, 8, 9, 255}},
      {u"A8b8g8r8", u"B8G8R8", "TRGBToRGBA", {1, 1, 1}, {1, 1, 1, 255}},
      {u"B8G8R8", u"A8B8G8R8", "TRGBAToRGB", {1, 2, 3, 4}, {1, 2, 3}},
      {u"R8G8B8", u"A8R8G8B8", "TRGBAToRGB", {5, 6, 7, 8}, {5, 6, 7}},
      {u"R8G8B8", u"R5G6B5", "TR5G6B5ToBGR8", {0x1F, 0x00}, {248, 0, 0}},
      {u"R8G8B8", u"X1R5G5B5", "TX1R5G5B5ToBGR8", {0xE0, 0x03}, {0, 248, 0}},
      {u"A8r8g8b8", u"A8R8G8B8", "TBGRAToPremulBGRA", {200, 100, 50, 128}, {100, 50, 25, 128}},
      {u"A8b8g8r8", u"A8B8G8R8", "TBGRAToPremulBGRA", {255, 255, 255, 1}, {0, 0, 0, 1}},
      {u"A8R8G8B8", u"A8r8g8b8", "TPremulBGRAToBGRA", {100, 50, 25, 128}, {199, 99, 49, 128}},
      {u"A8B8G8R8", u"A8b8g8r8", "TPremulBGRAToBGRA", {1, 2, 3, 255}, {1, 2, 3, 255}},
  };
  for (const auto& r : regs) {
    TPixelFormat* d = F(r.dest);
    TPixelFormat* s = F(r.src);
    SCOPED_TRACE(s->Name + " -> " + d->Name);
    EXPECT_STREQ(PixelConverter(d, s)->ClassName(), r.cls);
    EXPECT_EQ(Convert(d, s, r.in, 1), r.out);
  }
}

// The channel rules computed independently, pixel by pixel, from the format
// names: each destination channel takes the source channel of its kind (the
// one named first), widened with ones in the new low bits or narrowed by
// dropping low bits; a missing channel is 0, or all ones up to 8 bits for
// alpha and luminance. Channels here are at most 8 bits wide.
std::vector<uint8_t> ChannelRules(TPixelFormat* dest, TPixelFormat* src, const std::vector<uint8_t>& in, int count) {
  auto* d = AsCommonPixelFormat(dest);
  auto* s = AsCommonPixelFormat(src);
  std::vector<uint8_t> out;
  for (int i = 0; i < count; ++i) {
    uint64_t v = 0;
    for (int b = 0; b < s->BytesPerPixel; ++b) v |= uint64_t(in[size_t(i * s->BytesPerPixel + b)]) << (8 * b);
    uint64_t w = 0;
    int dshift = 0;
    for (const TPixelPart& dp : d->Parts) {
      uint64_t value = 0;
      int sshift = 0, found = -1, sbits = 0;
      for (const TPixelPart& sp : s->Parts) {
        if (sp.Kind != 0 && sp.Kind == dp.Kind) {
          found = sshift;
          sbits = sp.Bits;
        }
        sshift += sp.Bits;
      }
      if (dp.Kind == 0) {
        value = 0;
      } else if (found >= 0) {
        const uint64_t x = (v >> found) & ((uint64_t(1) << sbits) - 1);
        if (x == 0 || sbits == dp.Bits)
          value = x;
        else if (dp.Bits < sbits)
          value = x >> (sbits - dp.Bits);
        else
          value = (x << (dp.Bits - sbits)) | ((uint64_t(1) << (dp.Bits - sbits)) - 1);
      } else {
        value = dp.Kind == 4 ? (255u >> (8 - dp.Bits)) : 0;
      }
      w |= value << dshift;
      dshift += dp.Bits;
    }
    for (int b = 0; b < d->BytesPerPixel; ++b) out.push_back(uint8_t(w >> (8 * b)));
  }
  return out;
}

// Rows of random pixels of many lengths (the converters work on several
// pixels at once and finish with single ones) give exactly the bytes of the
// channel rules, and the registered converters those of their formulas.
TEST(PixelFormat, WholeRowsMatchPerPixelRules) {
  using Rule = std::vector<uint8_t> (*)(const std::vector<uint8_t>&, int);
  struct Pair {
    const char16_t* dest;
    const char16_t* src;
    Rule rule;  // none: the channel rules
  };
  static const Rule premul = [](const std::vector<uint8_t>& in, int n) {
    std::vector<uint8_t> o(in.begin(), in.begin() + 4 * n);
    for (int i = 0; i < n; ++i) {
      const unsigned a = in[size_t(4 * i + 3)];
      if (a != 255)
        for (int c = 0; c < 3; ++c) o[size_t(4 * i + c)] = uint8_t((in[size_t(4 * i + c)] * a) >> 8);
    }
    return o;
  };
  static const Rule unpremul = [](const std::vector<uint8_t>& in, int n) {
    std::vector<uint8_t> o(in.begin(), in.begin() + 4 * n);
    for (int i = 0; i < n; ++i) {
      const unsigned a = in[size_t(4 * i + 3)];
      if (a != 0 && a != 255)
        for (int c = 0; c < 3; ++c) o[size_t(4 * i + c)] = uint8_t((in[size_t(4 * i + c)] * (65280 / a)) >> 8);
    }
    return o;
  };
  static const Rule rgbToRgba = [](const std::vector<uint8_t>& in, int n) {
    std::vector<uint8_t> o;
    for (int i = 0; i < n; ++i) o.insert(o.end(), {in[size_t(3 * i)], in[size_t(3 * i + 1)], in[size_t(3 * i + 2)], 255});
    return o;
  };
  static const Rule rgbaToRgb = [](const std::vector<uint8_t>& in, int n) {
    std::vector<uint8_t> o;
    for (int i = 0; i < n; ++i) o.insert(o.end(), {in[size_t(4 * i)], in[size_t(4 * i + 1)], in[size_t(4 * i + 2)]});
    return o;
  };
  static const Rule from565 = [](const std::vector<uint8_t>& in, int n) {
    std::vector<uint8_t> o;
    for (int i = 0; i < n; ++i) {
      const unsigned w = in[size_t(2 * i)] | in[size_t(2 * i + 1)] << 8;
      o.insert(o.end(), {uint8_t((w & 31) << 3), uint8_t(((w >> 5) & 63) << 2), uint8_t(((w >> 11) & 31) << 3)});
    }
    return o;
  };
  static const Rule from555 = [](const std::vector<uint8_t>& in, int n) {
    std::vector<uint8_t> o;
    for (int i = 0; i < n; ++i) {
      const unsigned w = in[size_t(2 * i)] | in[size_t(2 * i + 1)] << 8;
      o.insert(o.end(), {uint8_t((w & 31) << 3), uint8_t(((w >> 5) & 31) << 3), uint8_t(((w >> 10) & 31) << 3)});
    }
    return o;
  };
  const Pair pairs[] = {
      {u"A8r8g8b8", u"A8R8G8B8", premul},   {u"A8b8g8r8", u"A8B8G8R8", premul},
      {u"A8R8G8B8", u"A8r8g8b8", unpremul}, {u"A8B8G8R8", u"A8b8g8r8", unpremul},
      {u"A8R8G8B8", u"R8G8B8", rgbToRgba},  {u"A8b8g8r8", u"B8G8R8", rgbToRgba},
      {u"R8G8B8", u"A8R8G8B8", rgbaToRgb},  {u"B8G8R8", u"A8B8G8R8", rgbaToRgb},
      {u"R8G8B8", u"R5G6B5", from565},      {u"R8G8B8", u"X1R5G5B5", from555},
      // generic byte mapping
      {u"X8B8G8R8", u"A8R8G8B8", nullptr}, {u"A8B8G8R8", u"A8R8G8B8", nullptr},
      {u"A8R8G8B8", u"X8R8G8B8", nullptr}, {u"R8G8B8A8", u"A8R8G8B8", nullptr},
      {u"A8R8G8B8", u"B8G8R8", nullptr},   {u"B8G8R8", u"A8R8G8B8", nullptr},
      {u"Y8", u"A8R8G8B8", nullptr},       {u"A8R8G8B8", u"Y8", nullptr},
      // generic bit mapping
      {u"R5G6B5", u"X1R5G5B5", nullptr},   {u"X1R5G5B5", u"R5G6B5", nullptr},
      {u"A8R8G8B8", u"R5G6B5", nullptr},   {u"R5G6B5", u"A8R8G8B8", nullptr},
      {u"A1R5G5B5", u"A8R8G8B8", nullptr}, {u"A8R8G8B8", u"A1R5G5B5", nullptr},
      {u"A4R4G4B4", u"X1R5G5B5", nullptr}, {u"R8G8B8", u"A4R4G4B4", nullptr},
      {u"A4R4G4B4", u"R8G8B8", nullptr},   {u"R3G3B2", u"R5G6B5", nullptr},
      {u"R5G6B5", u"R3G3B2", nullptr},     {u"B5G6R5", u"R5G6B5", nullptr},
      {u"R4G4B4A4", u"A2R2G2B2Y8", nullptr}, {u"R5G6B5", u"R8G8B8", nullptr},
      {u"X4R4G4B4Y8", u"A8R8G8B8", nullptr}, {u"R2R2G4B4A4", u"X1R5G5B5", nullptr},
      {u"A8R8G8B8", u"R2R2G4B4A4", nullptr}, {u"Y4", u"A1R5G5B5", nullptr},
  };
  std::mt19937 rng(7);
  for (const Pair& p : pairs) {
    TPixelFormat* d = F(p.dest);
    TPixelFormat* s = F(p.src);
    SCOPED_TRACE(s->Name + " -> " + d->Name);
    for (int count : {0, 1, 3, 4, 5, 7, 8, 15, 16, 17, 33, 255, 256, 257, 600}) {
      std::vector<uint8_t> in(size_t(count) * size_t(s->BytesPerPixel) + 16);
      for (auto& b : in) b = uint8_t(rng());
      const auto want = p.rule ? p.rule(in, count) : ChannelRules(d, s, in, count);
      ASSERT_EQ(Convert(d, s, in, count), want) << count << " pixels";
    }
  }
}

TEST(PixelFormat, GreyIntoSixteenBitsStaysInRow) {
  const std::vector<uint8_t> grey = {0, 8, 127, 255};
  // g shr 3 in every 5-bit field, g shr 2 in the 6-bit green field.
  auto w565 = [](int g) { return uint16_t(((g >> 3) << 11) | ((g >> 2) << 5) | (g >> 3)); };
  auto w555 = [](int g) { return uint16_t(((g >> 3) << 10) | ((g >> 3) << 5) | (g >> 3)); };
  for (TPixelFormat* src : {pfY8, pfA8}) {
    auto a = Convert(pfR5G6B5, src, grey, 4);
    auto b = Convert(pfX1R5G5B5, src, grey, 4);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(uint16_t(a[2 * i] | (a[2 * i + 1] << 8)), w565(grey[i]));
      EXPECT_EQ(uint16_t(b[2 * i] | (b[2 * i + 1] << 8)), w555(grey[i]));
    }
  }
}

TEST(PixelFormat, ArrayFormsCountOffsets) {
  TPixelConverter* c = PixelConverter(pfA8R8G8B8, pfR8G8B8);
  const uint8_t src[] = {0, 0, 1, 2, 3};
  TFColorA dest[3] = {};
  c->Convert32(dest, src, 2, 2, 1);  // destination in pixels, source in bytes
  EXPECT_EQ(dest[2].B, 1);
  EXPECT_EQ(dest[2].R, 3);
  EXPECT_EQ(dest[2].A, 255);
  EXPECT_EQ(dest[0].A, 0);
  c->Convert32(dest, src, 0, 0, 0);  // a count of 0 writes nothing
  EXPECT_EQ(dest[0].A, 0);
}

TEST(PixelFormat, RegistrationRules) {
  auto* conv = new TRGBToRGBA;
  TPixelFormat* d = F(u"A8R8G8B8");
  TPixelFormat* s = F(u"R8G8B8X8");
  RegisterPixelConverter(d, s, conv);
  EXPECT_EQ(GetPixelConverter(d, s), conv);  // the registered one is found first
  EXPECT_THROW(RegisterPixelConverter(d, s, conv), foundation::EAssertionFailed);
  EXPECT_THROW(RegisterPixelConverter(d, s, nullptr), foundation::EAssertionFailed);
  // Created on demand once and kept.
  EXPECT_EQ(GetPixelConverter(pfB8G8R8, pfR8G8B8), GetPixelConverter(pfB8G8R8, pfR8G8B8));
  EXPECT_NE(dynamic_cast<TDirectConvertor*>(GetPixelConverter(pfR8G8B8, pfR8G8B8)), nullptr);
  EXPECT_NE(dynamic_cast<TBitConvertor*>(GetPixelConverter(pfR5G6B5, pfX1R5G5B5)), nullptr);
  EXPECT_NE(dynamic_cast<TByteConvertor*>(GetPixelConverter(pfB8G8R8, pfR8G8B8)), nullptr);
}

}  // namespace
