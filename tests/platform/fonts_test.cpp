#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "platform/fonts/api.h"
#include "tests/support/PinnedFonts.h"

using namespace platform::fonts;
using testsupport::ScopedFontBackend;

namespace {

FontRequest Req(std::u16string family, int32_t height, int32_t weight = 0, bool italic = false) {
  FontRequest r;
  r.family = std::move(family);
  r.height = height;
  r.weight = weight;
  r.italic = italic;
  return r;
}

class FontsTest : public ::testing::Test {
 protected:
  void SetUp() override { QEL_REQUIRE_PINNED_FONTS(); }
  ScopedFontBackend fonts_;
};

}  // namespace

TEST_F(FontsTest, WindowsFamiliesResolveToPinnedFaces) {
  struct Case {
    std::u16string family;
    int32_t weight;
    bool italic;
    std::string file;
  } cases[] = {
      {u"Arial", 0, false, testsupport::kLiberationSans},
      {u"arial", 700, false, testsupport::kLiberationSansBold},
      {u"Arial", 0, true, testsupport::kLiberationSansItalic},
      {u"Times New Roman", 0, false, testsupport::kLiberationSerif},
      {u"Wingdings", 0, false, testsupport::kDejaVuSans},
      {u"Segoe UI", 0, false, testsupport::kDejaVuSans},
      {u"WenQuanYi Micro Hei", 0, false, testsupport::kWqyMicroHei},
  };
  for (const auto& c : cases) {
    FontHandle f = createFont(Req(c.family, -16, c.weight, c.italic));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->faceFile(), c.file) << std::string(c.family.begin(), c.family.end());
    EXPECT_TRUE(f->isScalable());
  }
  // An unknown family still gets a real face.
  EXPECT_FALSE(createFont(Req(u"No Such Family 123", -16))->faceFile().empty());
}

TEST_F(FontsTest, MetricsFollowTheFaceAndTheRequestedHeight) {
  // Liberation Sans: 2048 units per em, ascender 1854, descender 434 (hhea
  // and OS/2 win metrics alike); ascent and descent are rounded up.
  FontHandle f = createFont(Req(u"Arial", -16));
  TextMetrics tm = f->textMetrics();
  EXPECT_EQ(f->pixelSize(), 16);
  EXPECT_EQ(tm.ascent, int(std::ceil(16 * 1854 / 2048.0)));
  EXPECT_EQ(tm.descent, int(std::ceil(16 * 434 / 2048.0)));
  EXPECT_EQ(tm.height, tm.ascent + tm.descent);
  EXPECT_EQ(tm.pitchAndFamily & TMPF_VARIABLE_PITCH, TMPF_VARIABLE_PITCH);
  EXPECT_NE(tm.pitchAndFamily & TMPF_TRUETYPE, 0);
  // A positive height is the cell height: the em size scales by 2048 / (1854 + 434).
  FontHandle cell = createFont(Req(u"Arial", 40));
  EXPECT_EQ(cell->pixelSize(), int(std::lround(40 * 2048.0 / (1854 + 434))));
  // Bigger requests give bigger fonts.
  EXPECT_GT(createFont(Req(u"Arial", -32))->textMetrics().ascent, tm.ascent);

  OutlineMetrics om;
  ASSERT_TRUE(f->outlineMetrics(om));
  EXPECT_LT(om.underscorePosition, 0) << "the underscore lies below the baseline";
  EXPECT_GE(om.underscoreSize, 1);
  EXPECT_GT(om.strikeoutPosition, 0);
  EXPECT_LT(om.strikeoutPosition, tm.ascent);
}

TEST_F(FontsTest, AbcWidthsSumToTheShapedAdvance) {
  FontHandle f = createFont(Req(u"Arial", -20));
  std::u16string text = u"AWfij";
  Placement p;
  ASSERT_TRUE(f->placeText(text, p));
  std::vector<AbcWidth> abc(text.size());
  std::vector<uint16_t> gl(text.size());
  f->glyphIndices(text, gl, true);
  ASSERT_TRUE(f->glyphAbcWidths(gl, abc));
  for (size_t i = 0; i < text.size(); ++i) {
    EXPECT_EQ(abc[i].a + abc[i].b + abc[i].c, p.advances[i]) << i;
    std::vector<AbcWidth> one(1);
    ASSERT_TRUE(f->charAbcWidths(text[i], text[i], one));
    EXPECT_EQ(one[0].a, abc[i].a);
    EXPECT_EQ(one[0].b, abc[i].b);
    EXPECT_GT(one[0].b, 0);
  }
  EXPECT_EQ(p.width, std::accumulate(p.advances.begin(), p.advances.end(), 0));
  EXPECT_EQ(f->textExtent(text), p.width);
  // An italic f reaches past its advance on the right.
  FontHandle it = createFont(Req(u"Arial", -40, 0, true));
  std::vector<AbcWidth> fw(1);
  ASSERT_TRUE(it->charAbcWidths(U'f', U'f', fw));
  EXPECT_LT(fw[0].c, 0);
}

TEST_F(FontsTest, GlyphIndicesMarkMissingCharactersAndPairSurrogates) {
  FontHandle f = createFont(Req(u"Arial", -16));
  std::u16string text = u"A\u4E00\U0001F600";  // Latin, CJK, emoji (the last is a pair)
  std::vector<uint16_t> marked(text.size()), plain(text.size());
  f->glyphIndices(text, marked, true);
  f->glyphIndices(text, plain, false);
  EXPECT_NE(marked[0], 0);
  EXPECT_NE(marked[0], MissingGlyph);
  EXPECT_EQ(marked[1], MissingGlyph);
  EXPECT_EQ(plain[1], 0);
  EXPECT_EQ(marked[2], MissingGlyph);
  EXPECT_EQ(marked[3], 0) << "the low surrogate carries no glyph of its own";
  FontHandle sym = createFont(Req(u"Symbola", -16));
  std::vector<uint16_t> s(text.size());
  sym->glyphIndices(text, s, true);
  EXPECT_NE(s[2], MissingGlyph) << "Symbola has the emoji";
}

TEST_F(FontsTest, PlacementOfLeftToRightText) {
  FontHandle f = createFont(Req(u"Arial", -16));
  std::u16string text = u"Hello";
  Placement p;
  ASSERT_TRUE(f->placeText(text, p));
  ASSERT_EQ(p.glyphs.size(), 5u);
  for (size_t i = 0; i < text.size(); ++i) {
    EXPECT_EQ(p.order[i], int(i));
    EXPECT_EQ(p.classes[i], GCPCLASS_LATIN);
    EXPECT_EQ(p.carets[i], p.glyphOffsets[i]);
    if (i > 0) {
      EXPECT_GT(p.carets[i], p.carets[i - 1]);
    }
  }
}

TEST_F(FontsTest, PlacementOfRightToLeftTextMixedWithNumbers) {
  FontHandle f = createFont(Req(u"DejaVu Sans", -16));
  // Hebrew "shalom", a blank, then 123: the digits stay left to right but
  // the whole stands left of the Hebrew word, which reads right to left.
  std::u16string text = u"\u05E9\u05DC\u05D5\u05DD 123";
  Placement p;
  ASSERT_TRUE(f->placeText(text, p));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(p.classes[size_t(i)], GCPCLASS_HEBREW) << i;
  for (int i = 5; i < 8; ++i) EXPECT_EQ(p.classes[size_t(i)], GCPCLASS_LATIN) << i;
  // The first Hebrew letter is right of the second; the digits run left to right.
  EXPECT_GT(p.order[0], p.order[1]);
  EXPECT_LT(p.order[5], p.order[6]);
  EXPECT_LT(p.order[6], p.order[7]);
  // A right-to-left caret is the right edge of its character.
  int32_t g0 = p.order[0];
  EXPECT_EQ(p.carets[0], p.glyphOffsets[size_t(g0)] + p.glyphAdvances[size_t(g0)]);
  EXPECT_GT(p.carets[0], p.carets[1]);
}

TEST_F(FontsTest, ArabicIsShapedInContext) {
  FontHandle f = createFont(Req(u"DejaVu Sans", -16));
  std::u16string text = u"\u0633\u0644\u0627\u0645";  // "salam": joined forms and a lam-alef ligature
  Placement p;
  ASSERT_TRUE(f->placeText(text, p));
  std::vector<uint16_t> nominal(text.size());
  f->glyphIndices(text, nominal, false);
  // Joined forms differ from the nominal (isolated) glyphs, and the ligature
  // makes fewer glyphs than characters.
  EXPECT_LT(p.glyphs.size(), text.size());
  int32_t g0 = p.order[0];
  EXPECT_NE(p.glyphs[size_t(g0)], nominal[0]);
  for (uint8_t c : p.classes) EXPECT_EQ(c, GCPCLASS_HEBREW);
  // Lam and alef share a glyph: the alef's advance is 0, its order the lam's.
  EXPECT_EQ(p.order[1], p.order[2]);
  EXPECT_EQ(p.advances[2], 0);
}

TEST_F(FontsTest, DevanagariConjunctsFormOneCluster) {
  FontHandle f = createFont(Req(u"FreeSans", -20));
  // "ki": the vowel sign i is drawn left of the consonant it follows.
  std::u16string text = u"\u0915\u093F";
  Placement p;
  ASSERT_TRUE(f->placeText(text, p));
  EXPECT_EQ(p.order[0], p.order[1]) << "one cluster";
  EXPECT_GT(p.advances[0], 0);
  EXPECT_EQ(p.advances[1], 0);
  std::vector<uint16_t> nominal(2);
  f->glyphIndices(text, nominal, false);
  ASSERT_EQ(p.glyphs.size(), 2u);
  EXPECT_EQ(p.glyphs[0], nominal[1]) << "the vowel sign comes first visually";
}

TEST_F(FontsTest, CoverageComesFromTheCharacterMap) {
  FontHandle dv = createFont(Req(u"DejaVu Sans", -16));
  FontHandle cjk = createFont(Req(u"WenQuanYi Micro Hei", -16));
  auto contains = [](const std::vector<UnicodeRange>& r, char32_t c) {
    return std::any_of(r.begin(), r.end(), [c](const UnicodeRange& x) { return x.first <= c && c <= x.last; });
  };
  auto a = dv->unicodeRanges();
  auto b = cjk->unicodeRanges();
  EXPECT_TRUE(contains(a, U'A'));
  EXPECT_TRUE(contains(a, 0x05D0));
  EXPECT_FALSE(contains(a, 0x4E00));
  EXPECT_TRUE(contains(b, 0x4E00));
  // Ranges are sorted, disjoint and not adjacent.
  for (size_t i = 1; i < a.size(); ++i) EXPECT_GT(a[i].first, a[i - 1].last + 1);
}

TEST_F(FontsTest, FallbackFamiliesComeFromCoverage) {
  auto list = fonts_.get()->fallbackFamilies(u"Arial");
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.front(), u"Liberation Sans");
  EXPECT_NE(std::find(list.begin(), list.end(), u"WenQuanYi Micro Hei"), list.end());
  std::vector<std::u16string> sorted = list;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "each family once";
}

TEST_F(FontsTest, DrawingPaintsAntiAliasedTextInsideTheClip) {
  FontHandle f = createFont(Req(u"Arial", -24));
  const int w = 80, h = 32;
  std::vector<uint8_t> px(size_t(w * h * 4), 255);
  for (size_t i = 3; i < px.size(); i += 4) px[i] = 7;  // alpha marker
  Surface s{px.data(), w, h, w * 4, 32};
  f->drawText(s, 2, 2, u"Hx", 0x000000, {0, 0, 40, h});
  int dark = 0, mid = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &px[size_t((y * w + x) * 4)];
      EXPECT_EQ(p[3], 7) << "alpha untouched";
      EXPECT_TRUE(p[0] == p[1] && p[1] == p[2]) << "black on white stays grey";
      if (x >= 40) {
        EXPECT_EQ(p[0], 255) << "clipped at " << x;
      }
      if (p[0] == 0) ++dark;
      if (p[0] > 0 && p[0] < 255) ++mid;
    }
  EXPECT_GT(dark, 20);
  EXPECT_GT(mid, 5) << "anti-aliased edges";
  // 24-bit, coloured, right to left: red only in the red channel.
  std::vector<uint8_t> px24(size_t(64 * 3 * 24), 0);
  Surface s24{px24.data(), 64, 24, 64 * 3, 24};
  createFont(Req(u"DejaVu Sans", -16))->drawText(s24, 0, 0, u"\u05E9\u05DC", 0xFF0000, {0, 0, 64, 24});
  bool red = false;
  for (size_t i = 0; i < px24.size(); i += 3) {
    EXPECT_EQ(px24[i], 0);
    EXPECT_EQ(px24[i + 1], 0);
    red |= px24[i + 2] > 128;
  }
  EXPECT_TRUE(red);
}

TEST_F(FontsTest, UnderlineIsDrawnBelowTheBaseline) {
  FontRequest r = Req(u"Arial", -20);
  r.underline = true;
  FontHandle f = createFont(r);
  const int w = 40, h = 30;
  std::vector<uint8_t> px(size_t(w * h * 4), 255);
  f->drawText({px.data(), w, h, w * 4, 32}, 0, 0, u"  ", 0, {0, 0, w, h});
  int ascent = f->textMetrics().ascent;
  int rows = 0;
  for (int y = 0; y < h; ++y)
    if (px[size_t((y * w + 2) * 4)] < 128) {
      ++rows;
      EXPECT_GT(y, ascent - 1);
    }
  EXPECT_GE(rows, 1) << "blanks draw nothing but the underline";
}

TEST_F(FontsTest, HandlesAreSharedAndFacesReleased) {
  FontStats before = fonts_.get()->stats();
  {
    FontHandle a = createFont(Req(u"Arial", -16));
    FontHandle b = createFont(Req(u"arial", -16));
    EXPECT_EQ(a.get(), b.get());
    FontHandle c = createFont(Req(u"Liberation Sans", -16));
    EXPECT_NE(a.get(), c.get());
    EXPECT_EQ(fonts_.get()->stats().loadedFaces, before.loadedFaces + 1) << "one face serves both";
    std::vector<FontHandle> many;
    for (int i = 0; i < 1000; ++i) many.push_back(createFont(Req(u"Arial", -(8 + i % 50))));
    EXPECT_EQ(fonts_.get()->stats().loadedFaces, before.loadedFaces + 50);
  }
  EXPECT_LE(fonts_.get()->stats().loadedFaces, before.loadedFaces + 64) << "a few recent faces stay loaded";
  fonts_.get()->releaseCachedFaces();
  FontStats after = fonts_.get()->stats();
  EXPECT_EQ(after.liveFonts, before.liveFonts);
  EXPECT_EQ(after.loadedFaces, before.loadedFaces);
}

TEST(FontsNoFonts, EveryTextStillMeasuresAndDraws) {
  ScopedFontBackend none(std::vector<std::string>{});
  FontHandle f = createFont(Req(u"Arial", -20));
  ASSERT_TRUE(f);
  EXPECT_TRUE(f->faceFile().empty());
  EXPECT_FALSE(f->isScalable());
  TextMetrics tm = f->textMetrics();
  EXPECT_EQ(tm.height, 20);
  EXPECT_GT(tm.ascent, tm.descent);
  Placement p;
  ASSERT_TRUE(f->placeText(u"ab\u05D0", p));
  ASSERT_EQ(p.glyphs.size(), 3u);
  EXPECT_GT(p.width, 0);
  EXPECT_EQ(p.classes[2], GCPCLASS_HEBREW);
  EXPECT_TRUE(f->unicodeRanges().empty());
  EXPECT_TRUE(none.get()->fallbackFamilies(u"Arial").empty());
  OutlineMetrics om;
  EXPECT_FALSE(f->outlineMetrics(om));
  // The boxes are drawn.
  std::vector<uint8_t> px(size_t(40 * 24 * 4), 255);
  f->drawText({px.data(), 40, 24, 160, 32}, 0, 0, u"a", 0, {0, 0, 40, 24});
  EXPECT_NE(std::count(px.begin(), px.end(), 0), 0);
}
