#include "text/winDWTextUtils.h"

#include <gtest/gtest.h>

#include "foundation/SysObj.h"
#include "text/GdiDynamicFunctions.h"
#include "text/UnicodeCharTable.h"
#include "text/winFontUtils.h"
#include "tests/support/PinnedFonts.h"

using namespace text;

namespace {

struct Coverage {
  Coverage() : c(new TFontUnicodeChars) {}
  ~Coverage() { c->Free(); }
  TFontUnicodeChars* operator->() const { return c; }
  TFontUnicodeChars* c;
};

TFontParams Font(std::u16string name) {
  TFontParams p;
  InitFontParams(p, name, 12, 0, {}, {}, true);
  return p;
}

}  // namespace

TEST(FontUnicodeChars, PrivateAndSharedPages) {
  InitDWTextUtils();
  {
    Coverage cov;
    EXPECT_EQ(cov->PageCapacity(), 0);
    cov->AddRange(0x41, 0x5A);
    EXPECT_EQ(cov->PageCapacity(), 4);
    ASSERT_NE(cov->Page(0), nullptr);
    EXPECT_NE(cov->Page(0), FullBitSet());
    for (uint32_t c = 0x41; c <= 0x5A; ++c) EXPECT_TRUE(cov->Contains(c));
    EXPECT_FALSE(cov->Contains(0x40));
    EXPECT_FALSE(cov->Contains(0x5B));
    EXPECT_FALSE(cov->Contains(0x4E00));
    EXPECT_EQ(cov->PageCapacity(), 4) << "a lookup never grows anything";

    cov->AddRange(0x4E00, 0x9FFF);
    for (int32_t p = 0x4E; p <= 0x9F; ++p) EXPECT_EQ(cov->Page(p), FullBitSet()) << p;
    EXPECT_EQ(cov->Page(0x4D), nullptr);
    EXPECT_EQ(cov->PageCapacity(), 256) << "doubled from 4 until page 0x9F fits";
    EXPECT_TRUE(cov->Contains(0x9FA5));
    EXPECT_FALSE(cov->Contains(0xA000));
    EXPECT_FALSE(cov->Contains(0x10FFFF));

    // A partial page that later gets its missing bits stays private.
    cov->AddRange(0x00, 0x40);
    cov->AddRange(0x5B, 0xFF);
    EXPECT_NE(cov->Page(0), FullBitSet());
    for (uint32_t c = 0; c < 256; ++c) EXPECT_TRUE(cov->Contains(c));

    // Ranges across pages, partial at both ends; the top is U+10FFFF.
    cov->AddRange(0x10FFF0, 0x20FFFF);
    EXPECT_TRUE(cov->Contains(0x10FFFF));
    EXPECT_FALSE(cov->Contains(0x10FFEF));
    cov->AddRange(0x1F5F0, 0x1F710);
    EXPECT_EQ(cov->Page(0x1F6), FullBitSet());
    EXPECT_TRUE(cov->Contains(0x1F5F0));
    EXPECT_TRUE(cov->Contains(0x1F710));
    EXPECT_FALSE(cov->Contains(0x1F711));
  }
  // Every coverage set released its references to the shared page.
  EXPECT_EQ(FullBitSet()->_AddRef(), 2);
  FullBitSet()->_Release();
  DoneDWTextUtils();
}

TEST(FontUnicodeChars, GlyphSetRangesCountCodePoints) {
  Coverage cov;
  AddGlyphSetRange(cov.c, 0x20, 95);
  EXPECT_TRUE(cov->Contains(0x20));
  EXPECT_TRUE(cov->Contains(0x7E));
  EXPECT_FALSE(cov->Contains(0x7F));
  AddGlyphSetRange(cov.c, 0x100, 0);
  EXPECT_EQ(cov->Page(1), nullptr);
  DoneDWTextUtils();
}

TEST(UnicodeCharTable, CombiningMarksOfUnicode3) {
  EXPECT_EQ(CharClassOf(0x0301), ccCombiningMark);
  EXPECT_NE(CharClassOf(0x0041), ccCombiningMark);
  EXPECT_NE(CharClassOf(0x034F), ccCombiningMark) << "not a mark in Unicode 3.0";
  EXPECT_EQ(CharClassOf(0x093F), ccCombiningMark);
  EXPECT_EQ(CharClassOf(0xFE23), ccCombiningMark);
  EXPECT_NE(CharClassOf(0xFE24), ccCombiningMark);
  EXPECT_NE(CharClassOf(0x1D167), ccCombiningMark) << "beyond the 16-bit table";
  int marks = 0;
  for (uint32_t c = 0; c < 0x10000; ++c) marks += CharClassOf(c) == ccCombiningMark;
  EXPECT_EQ(marks, 575);
}

class FaceCoverageTest : public ::testing::Test {
 protected:
  void SetUp() override { QEL_REQUIRE_PINNED_FONTS(); }
  void TearDown() override { DoneDWTextUtils(); }
  testsupport::ScopedFontBackend fonts_;
};

TEST_F(FaceCoverageTest, RangesOfInstalledFaces) {
  EXPECT_TRUE(IsDirectWriteRangesAvailable());
  struct Case {
    std::u16string font;
    uint32_t in, out;
  } cases[] = {
      {u"Arial", U'A', 0x4E00},
      {u"DejaVu Sans", 0x05D0, 0x4E00},
      {u"WenQuanYi Micro Hei", 0x4E00, 0x0915},
      {u"FreeSans", 0x0915, 0x4E00},
      {u"Symbola", 0x1F600, 0x4E00},
  };
  for (const auto& c : cases) {
    Coverage cov;
    ASSERT_TRUE(GetFontUnicodeCharsDW(Font(c.font), cov.c));
    EXPECT_TRUE(cov->Contains(c.in)) << std::hex << c.in;
    EXPECT_FALSE(cov->Contains(c.out)) << std::hex << c.out;
  }
  // The 16-bit glyph sets stop at the end of the BMP.
  InitGdiDynamicFunctions();
  ASSERT_EQ(GdiFontUnicodeCharsHook, &GetFontUnicodeCharsGDI);
  Coverage gdi;
  ASSERT_TRUE(GdiFontUnicodeCharsHook(Font(u"Symbola"), gdi.c));
  EXPECT_TRUE(gdi->Contains(0x2600));
  EXPECT_FALSE(gdi->Contains(0x1F600));
  DoneGdiDynamicFunctions();
  EXPECT_EQ(GdiFontUnicodeCharsHook, nullptr);
}

TEST_F(FaceCoverageTest, GlyphAbcWidthsCheckTheirRange) {
  auto f = CreateFontHandle(Font(u"Arial"));
  std::u16string text = u"AVW";
  std::vector<uint16_t> glyphs(3);
  f->glyphIndices(text, glyphs, false);
  std::vector<platform::fonts::AbcWidth> w;
  ASSERT_TRUE(GetGlyphABCWidths(f.get(), glyphs, 1, 2, w));
  ASSERT_EQ(w.size(), 2u);
  std::vector<platform::fonts::AbcWidth> one(1);
  f->charAbcWidths(U'V', U'V', one);
  EXPECT_EQ(w[0].a, one[0].a);
  EXPECT_EQ(w[0].b, one[0].b);
  EXPECT_TRUE(GetGlyphABCWidths(f.get(), glyphs, 3, 0, w));
  for (auto [start, count] : {std::pair{-1, 1}, {4, 0}, {0, -1}, {2, 2}}) {
    EXPECT_THROW(GetGlyphABCWidths(f.get(), glyphs, start, count, w), ERangeError) << start << "," << count;
  }
}
