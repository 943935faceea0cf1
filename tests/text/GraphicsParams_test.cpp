#include "text/GraphicsParams.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdio>
#include <limits>

using namespace text;
using foundation::TByteString;

namespace {
// Colours in test names are written (alpha, red, green, blue).
TARGB Argb(uint8_t a, uint8_t r, uint8_t g, uint8_t b) { return MakeARGB(r, g, b, a); }

std::string Hex(TARGB c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", c);
  return buf;
}

bool Same(TFColor a, TFColor b) { return a.R == b.R && a.G == b.G && a.B == b.B; }
}  // namespace

TEST(GraphicsParams, PackingAndConversions) {
  EXPECT_EQ(MakeARGB(0x11, 0x22, 0x33, 0x44), 0x44112233u);
  const TFColor c = MakeFColor(0x11, 0x22, 0x33);
  EXPECT_EQ(c.R, 0x11);
  EXPECT_EQ(c.G, 0x22);
  EXPECT_EQ(c.B, 0x33);
  EXPECT_EQ(FColorToARGB(c, 0x80), 0x80112233u);
  EXPECT_EQ(StripAlpha(0x80112233u), 0x00112233u);
  EXPECT_EQ(FColorToColorRef(c), 0x00332211u);
  // The top byte of a colour reference is ignored.
  EXPECT_TRUE(Same(ColorRefToFColor(0xFF332211u), c));
  EXPECT_TRUE(Same(ARGBToFColor(0x80112233u), c));
  // A TFColorA read as a little-endian word is the ARGB value.
  const TFColorA px{0x33, 0x22, 0x11, 0x80};
  uint32_t word;
  std::memcpy(&word, &px, 4);
  EXPECT_EQ(word, FColorToARGB(c, 0x80));
}

TEST(GraphicsParams, ColourTexts) {
  const TARGB def = 0x12345678u;
  struct Row {
    const char* text;
    TARGB want;
  } rows[] = {
      {"#FF8000", Argb(255, 255, 128, 0)},
      {"#ff8000", Argb(255, 255, 128, 0)},
      {"#FF8000,128", Argb(128, 255, 128, 0)},
      {"255", Argb(255, 255, 0, 0)},                 // a colour reference: red in the low byte
      {"65536", Argb(255, 0, 0, 1)},                 // blue in bits 16-23
      {" -1", Argb(255, 255, 255, 255)},             // blanks and a sign
      {"abc", Argb(255, 0, 0, 0)},                   // an unreadable decimal colour is 0
      {"2147483648", Argb(255, 0, 0, 0)},            // beyond 32 bits
      {"0,128,255", Argb(255, 0, 128, 255)},
      {"0,128,255,64", Argb(64, 0, 128, 255)},
      {"", def},
      {"1,2,3,4,5", def},
      {"#80FF0000", Argb(255, 255, 0, 0)},           // only the last six digits
      {"#123456789", Argb(255, 0x45, 0x67, 0x89)},  // digits shift out of 32 bits too
      {"300,0,0", Argb(255, 44, 0, 0)},
      {"-1,0,0", Argb(255, 255, 0, 0)},
      {"1,2,3,256", Argb(0, 1, 2, 3)},
      {"1,x,3", Argb(255, 1, 0, 3)},
      {"1,2,3,x", Argb(255, 1, 2, 3)},
      {"#FF0000,300", Argb(255, 255, 0, 0)},
      {"#FF0000,#80", Argb(0x80, 255, 0, 0)},
      {"#FF0000,#1FF", Argb(255, 255, 0, 0)},
      {"#FF0000,#zz", Argb(255, 255, 0, 0)},         // alpha's own default
      {"#FF0000,", Argb(255, 255, 0, 0)},
      {"#FF0000,#", Argb(0, 255, 0, 0)},             // a lone "#" is 0
      {"#FF0000,x", Argb(255, 255, 0, 0)},
      {"#FF0000,-5", Argb(0, 255, 0, 0)},            // a negative alpha reads as transparent
      {"#", Argb(255, 0, 0, 0)},
      {"#GG0000", Argb(255, 0, 0, 0)},
      {"#FF 000", Argb(255, 0, 0, 0)},
      {",128", Argb(128, 0, 0, 0)},
      {",", Argb(255, 0, 0, 0)},
      {",,", Argb(255, 0, 0, 0)},
  };
  for (const auto& r : rows)
    EXPECT_EQ(Hex(ByteStrToColorDef(TByteString::FromBytes(r.text), def)), Hex(r.want)) << '"' << r.text << '"';
}

TEST(GraphicsParams, ColourTextDefaults) {
  EXPECT_EQ(ByteStrToColor(TByteString()), TransparentColor);
  EXPECT_EQ(ByteStrToColor(TByteString::FromBytes("1,2,3,4,5")), TransparentColor);
  EXPECT_EQ(ByteStrToColor(TByteString::FromBytes("#FF8000")), 0xFFFF8000u);
  EXPECT_EQ(StrToColor(u""), TransparentColor);
  EXPECT_EQ(StrToColor(u"#FF8000,128"), 0x80FF8000u);
  EXPECT_EQ(StrToColor(u"10,20,30"), 0xFF0A141Eu);
  // A non-ASCII character is not a hexadecimal digit.
  EXPECT_EQ(StrToColor(u"#FF80\u00e9"), 0xFF000000u);
}

TEST(GraphicsParams, Premultiply) {
  EXPECT_EQ(PremultiplyARGB(Argb(128, 255, 128, 0)), Argb(128, 128, 64, 0));
  EXPECT_EQ(PremultiplyARGB(Argb(0, 255, 128, 7)), 0u);
  EXPECT_EQ(PremultiplyARGB(Argb(255, 1, 2, 3)), Argb(255, 1, 2, 3));
  EXPECT_EQ(PremultiplyARGB(Argb(1, 255, 254, 128)), Argb(1, 1, 0, 0));  // exact integer division
  EXPECT_EQ(PremultiplyARGB(Argb(254, 255, 255, 255)), Argb(254, 254, 254, 254));
}

TEST(GraphicsParams, AverageAndBlend) {
  // Channels never carry into each other.
  EXPECT_EQ(AverageARGB(0xFF000000u, 0x01FFFFFFu), 0x807F7F7Fu);
  EXPECT_TRUE(Same(AverageFColor(MakeFColor(255, 0, 3), MakeFColor(255, 255, 4)), MakeFColor(255, 127, 3)));

  const TFColor a = MakeFColor(10, 3, 200), b = MakeFColor(0, 0, 255);
  EXPECT_TRUE(Same(BlendFColor(a, b, 0), a));
  EXPECT_TRUE(Same(BlendFColor(a, b, 256), b));
  // 10 toward 0 at half weight is 5; 3 toward 0 is 3 - 384/256 truncated, 2.
  EXPECT_TRUE(Same(BlendFColor(a, b, 128), MakeFColor(5, 2, 227)));
  // Weights are held to 0..256.
  EXPECT_TRUE(Same(BlendFColor(a, b, 1000), b));
  EXPECT_TRUE(Same(BlendFColor(a, b, -5), a));

  const TARGB x = Argb(0, 10, 3, 200), y = Argb(255, 0, 0, 255);
  EXPECT_EQ(BlendARGB(x, y, 0), x);
  EXPECT_EQ(BlendARGB(x, y, 256), y);
  EXPECT_EQ(BlendARGB(x, y, 128), Argb(127, 5, 2, 227));
}

TEST(GraphicsParams, BlendPixelOver) {
  struct Row {
    TARGB pixel, color, want;
  } rows[] = {
      {Argb(200, 1, 2, 3), Argb(0, 9, 9, 9), Argb(200, 1, 2, 3)},        // transparent source
      {Argb(200, 1, 2, 3), Argb(255, 9, 8, 7), Argb(255, 9, 8, 7)},      // opaque source
      {Argb(0, 1, 2, 3), Argb(40, 9, 8, 7), Argb(40, 9, 8, 7)},          // empty pixel
      // Opaque pixel: p + floor((s - p) * sa / 256); 99 over 100 at 128 floors to 99.
      {Argb(255, 100, 100, 100), Argb(128, 0, 200, 99), Argb(255, 50, 150, 99)},
      // General case: e = 128 + 128 - 64 = 192, f = 341.
      {Argb(128, 0, 255, 0), Argb(128, 255, 0, 0), Argb(192, 169, 85, 0)},
  };
  for (const auto& r : rows) {
    TARGB p = r.pixel;
    BlendPixelOver(p, r.color);
    EXPECT_EQ(Hex(p), Hex(r.want)) << Hex(r.pixel) << " under " << Hex(r.color);
  }
  // Two nearly opaque layers give alpha 256, held at 255.
  TARGB p = Argb(254, 255, 255, 255);
  BlendPixelOver(p, Argb(254, 255, 255, 255));
  EXPECT_EQ(ARGBAlpha(p), 255);
}

TEST(GraphicsParams, BlendPixelOverStaysBetweenItsInputs) {
  // The composite of two channel values never rises above the larger and,
  // the fixed-point truncation aside (at most 8 units at the smallest
  // alphas), never falls below the smaller, for every pair of partial alphas.
  for (int sa = 1; sa < 255; sa += 3)
    for (int pa = 1; pa < 255; pa += 3)
      for (int s : {0, 77, 255})
        for (int p : {0, 200, 255}) {
          TARGB pixel = Argb(uint8_t(pa), uint8_t(p), uint8_t(p), uint8_t(p));
          BlendPixelOver(pixel, Argb(uint8_t(sa), uint8_t(s), uint8_t(s), uint8_t(s)));
          const int v = ARGBRed(pixel);
          ASSERT_GE(v, std::min(s, p) - 8) << sa << ' ' << pa << ' ' << s << ' ' << p;
          ASSERT_LE(v, std::max(s, p)) << sa << ' ' << pa << ' ' << s << ' ' << p;
          ASSERT_EQ(ARGBGreen(pixel), v);
          ASSERT_GE(ARGBAlpha(pixel), std::max(sa, pa));
        }
}

TEST(GraphicsParams, SameColours) {
  EXPECT_TRUE(SameFColor(MakeFColor(1, 2, 3), MakeFColor(1, 2, 3)));
  EXPECT_FALSE(SameFColor(MakeFColor(1, 2, 3), MakeFColor(1, 2, 4)));
  EXPECT_TRUE(SameARGB(0x80112233u, 0x80112233u, false));
  EXPECT_FALSE(SameARGB(0x00112233u, 0x00445566u, false));
  EXPECT_TRUE(SameARGB(0x00112233u, 0x00445566u, true));
  EXPECT_FALSE(SameARGB(0x00112233u, 0x01112233u, true));
}

TEST(GraphicsParams, FontParams) {
  TFontParams a;
  InitFontParams(a, u"Serif", 12.5f, fpBold | fpItalic, MakeFColor(1, 2, 3), MakeFColor(4, 5, 6), true);
  EXPECT_EQ(a.Name, u"Serif");
  EXPECT_EQ(a.Size, 12.5f);
  EXPECT_EQ(a.Style, 3);
  EXPECT_TRUE(Same(a.Color, MakeFColor(1, 2, 3)));
  EXPECT_TRUE(Same(a.BgColor, MakeFColor(4, 5, 6)));
  EXPECT_TRUE(a.Transparent);

  TFontParams b = a;
  b.BgColor = MakeFColor(9, 9, 9);
  // The background of a transparent font does not count.
  EXPECT_TRUE(SameFontParamsColors(a, b));
  EXPECT_FALSE(AssignFontParams(b, a, fpmColors));
  EXPECT_TRUE(Same(b.BgColor, MakeFColor(9, 9, 9)));
  b.Transparent = false;
  a.Transparent = false;
  EXPECT_FALSE(SameFontParamsColors(a, b));
  EXPECT_FALSE(SameFontColors(a.Color, a.BgColor, true, a.Color, a.BgColor, false));

  // SameFont compares name (exactly), size and style, never colours.
  b = a;
  b.Color = MakeFColor(7, 7, 7);
  EXPECT_TRUE(SameFont(a, b));
  b.Name = u"serif";
  EXPECT_FALSE(SameFont(a, b));
}

TEST(GraphicsParams, AssignFontParamsCopiesOnlyChosenParts) {
  TFontParams src, dst;
  InitFontParams(src, u"Serif", 10, fpUnderline, MakeFColor(1, 2, 3), MakeFColor(4, 5, 6), false);
  InitFontParams(dst, u"serif", 11, fpStrikeOut, MakeFColor(7, 8, 9), MakeFColor(4, 5, 6), true);

  TFontParams t = dst;
  EXPECT_TRUE(AssignFontParams(t, src, fpmName));
  EXPECT_EQ(t.Name, u"Serif");  // names compare case-sensitively
  EXPECT_EQ(t.Size, 11);
  EXPECT_FALSE(AssignFontParams(t, src, fpmName));

  t = dst;
  EXPECT_TRUE(AssignFontParams(t, src, fpmSize | fpmStyle));
  EXPECT_EQ(t.Size, 10);
  EXPECT_EQ(t.Style, fpUnderline);
  EXPECT_EQ(t.Name, u"serif");

  // The colour part moves as one: colour, background and the flag.
  t = dst;
  EXPECT_TRUE(AssignFontParams(t, src, fpmColors));
  EXPECT_TRUE(Same(t.Color, src.Color));
  EXPECT_FALSE(t.Transparent);
  EXPECT_EQ(t.Style, fpStrikeOut);

  t = dst;
  EXPECT_FALSE(AssignFontParams(t, src, 0));
  EXPECT_EQ(t.Name, u"serif");

  // A NaN size never equals itself, so it always counts as changed.
  src.Size = std::numeric_limits<float>::quiet_NaN();
  t = dst;
  EXPECT_TRUE(AssignFontParams(t, src, fpmSize));
  EXPECT_TRUE(std::isnan(t.Size));
  EXPECT_TRUE(AssignFontParams(t, src, fpmSize));
}
