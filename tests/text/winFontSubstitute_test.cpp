#include "text/winFontSubstitute.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/fonts/api.h"
#include "text/winFontUtils.h"
#include "tests/support/PinnedFonts.h"

using namespace text;

namespace {

struct TestRun {
  int32_t start, count;
  std::u16string font;
  float size;
  bool covered;
};

TFontParams Font(std::u16string name, float size = 12, uint8_t style = 0) {
  TFontParams p;
  InitFontParams(p, name, size, style, {}, {}, true);
  return p;
}

class SubstituteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QEL_REQUIRE_PINNED_FONTS();
    InitWinFontUtils();
    InitGdiDynamicFunctions();
    InitFontSubstitute();
  }
  void TearDown() override {
    DoneFontSubstitute();
    DoneGdiDynamicFunctions();
    DoneDWTextUtils();
    DoneTextServices();
  }
  std::vector<TestRun> Split(const std::u16string& text, const TFontParams& font, int32_t start = 1, int32_t count = -1,
                         std::function<bool(const TFontParams&)> accept = nullptr) {
    std::vector<TestRun> runs;
    FontReplacer()->SplitText(text, start, count < 0 ? int32_t(text.size()) : count, font,
                              [&](const std::u16string&, int32_t s, int32_t c, const TFontParams& p, bool covered,
                                  bool& handled) {
                                if (covered && accept && !accept(p)) {
                                  handled = false;
                                  return;
                                }
                                runs.push_back({s, c, p.Name, p.Size, covered});
                              });
    return runs;
  }
  testsupport::ScopedFontBackend fonts_;
};

// The runs follow each other and cover exactly [start, start + count).
void ExpectTiling(const std::vector<TestRun>& runs, int32_t start, int32_t count) {
  std::vector<int> hits(size_t(start + count + 1), 0);
  for (const auto& r : runs)
    for (int32_t i = r.start; i < r.start + r.count; ++i) hits[size_t(i)]++;
  for (int32_t i = 1; i < start + count; ++i) EXPECT_EQ(hits[size_t(i)], i >= start ? 1 : 0) << i;
}

}  // namespace

TEST(ClusterLength, SurrogatesAndMarks) {
  struct Case {
    std::u16string text;
    int32_t pos, limit, expected;
  } cases[] = {
      {u"ab", 0, 2, 1},
      {u"e\u0301\u0302x", 0, 4, 3},
      {u"e\u0301\u0302x", 0, 2, 2},  // never beyond the limit
      {u"\U0001F600x", 0, 3, 2},
      {u"\U0001F600x", 0, 1, 1},     // a pair cut by the limit
      {u"\xD83Dx", 0, 2, 1},         // a lone high surrogate
      {u"a\u034Fb", 0, 3, 1},        // U+034F is no mark of Unicode 3.0
      {u"ab", 2, 2, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ClusterLength(c.text, c.pos, c.limit), c.expected) << c.pos << "/" << c.limit;
}

TEST_F(SubstituteTest, FallbackListComesFromTheInstalledFaces) {
  ASSERT_GT(FontReplacer()->FallbackCount(), 2);
  EXPECT_EQ(FontReplacer()->FallbackAt(0)->Params.Name, u"Liberation Sans");
  EXPECT_EQ(FontReplacer()->FallbackAt(0)->Params.Size, 10.0f);
}

TEST_F(SubstituteTest, FontsAreFoundWithoutRegardToCase) {
  EXPECT_EQ(FontReplacer()->FindFont(Font(u"lIBERATION sANS")), FontReplacer()->FallbackAt(0));
  EXPECT_EQ(FontReplacer()->FindFont(Font(u"Courier New")), nullptr);
  TFontItem* item = FontReplacer()->GetFont(Font(u"Courier New"), false);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(FontReplacer()->FindFont(Font(u"COURIER NEW")), item);
  EXPECT_TRUE(item->Initialised);
  EXPECT_TRUE(item->Coverage[0]->Contains(U'A'));
  EXPECT_EQ(item->Coverage[0], item->Coverage[3]) << "one set from the face's ranges serves every style";
  EXPECT_EQ(item->DefaultGlyph, 0);
  const int32_t before = FontReplacer()->FallbackCount();
  FontReplacer()->GetFont(Font(u"Extra Fallback"), true);
  EXPECT_EQ(FontReplacer()->FallbackCount(), before + 1);
}

TEST_F(SubstituteTest, CoveredTextIsOneRun) {
  auto runs = Split(u"Hello, world", Font(u"Arial"));
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].start, 1);
  EXPECT_EQ(runs[0].count, 12);
  EXPECT_EQ(runs[0].font, u"Arial");
  EXPECT_TRUE(runs[0].covered);
  // A part of the text.
  runs = Split(u"Hello, world", Font(u"Arial"), 3, 4);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].start, 3);
  EXPECT_EQ(runs[0].count, 4);
}

TEST_F(SubstituteTest, CjkCharacterGoesToTheFirstCoveringFallback) {
  auto runs = Split(u"abc\u4E00def", Font(u"Arial", 12));
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].font, u"Arial");
  EXPECT_EQ(runs[1].start, 4);
  EXPECT_EQ(runs[1].count, 1);
  EXPECT_EQ(runs[1].font, u"WenQuanYi Micro Hei");
  EXPECT_TRUE(runs[1].covered);
  EXPECT_EQ(runs[2].start, 5);
  EXPECT_EQ(runs[2].font, u"Arial");
  // The fallback's size: the first pixel height whose ascent exceeds the
  // requested font's ascent, above the largest one that does not.
  auto ascent = [](std::u16string family, int32_t h) {
    platform::fonts::FontRequest r;
    r.family = family;
    r.height = -h;
    return platform::fonts::createFont(r)->textMetrics().ascent;
  };
  const int32_t A = ascent(u"Arial", 16);  // 12 points at 96 dpi
  const int32_t h = int32_t(std::lround(runs[1].size * 96 / 72.0));
  EXPECT_FLOAT_EQ(runs[1].size, float(h * 72 / 96.0));
  EXPECT_GT(ascent(u"WenQuanYi Micro Hei", h), A);
  EXPECT_LE(ascent(u"WenQuanYi Micro Hei", h - 1), A);
}

TEST_F(SubstituteTest, ClustersAndSurrogatesStayTogether) {
  // A CJK base with a combining mark the CJK face may lack: one run holds both.
  std::u16string text = u"a\u4E00\u0301b";
  auto runs = Split(text, Font(u"Arial"));
  ExpectTiling(runs, 1, 4);
  for (const auto& r : runs) EXPECT_FALSE(r.start == 3) << "no run starts at the mark";
  // An emoji (a surrogate pair) goes to the emoji face as one run of two units.
  runs = Split(u"a\U0001F600b", Font(u"Arial"));
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[1].start, 2);
  EXPECT_EQ(runs[1].count, 2);
  EXPECT_TRUE(runs[1].covered);
  // The first face of the fallback order that has the emoji.
  std::u16string first;
  for (const auto& family : fonts_.get()->fallbackFamilies(u"Arial")) {
    platform::fonts::FontRequest r;
    r.family = family;
    r.height = -16;
    for (const auto& range : platform::fonts::createFont(r)->unicodeRanges())
      if (range.first <= 0x1F600 && 0x1F600 <= range.last) first = family;
    if (!first.empty()) break;
  }
  EXPECT_EQ(runs[1].font, first);
}

TEST_F(SubstituteTest, CharactersNoFontCoversKeepTheRequestedFont) {
  auto runs = Split(u"a\u0378b", Font(u"Arial"));  // U+0378 is unassigned
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[1].start, 2);
  EXPECT_EQ(runs[1].font, u"Arial");
  EXPECT_EQ(runs[1].size, 12.0f);
  EXPECT_FALSE(runs[1].covered);
}

TEST_F(SubstituteTest, RefusedFontsFallFurther) {
  // Refusing the CJK face leaves no font for the character.
  auto runs = Split(u"a\u4E00b", Font(u"Arial"), 1, -1,
                    [](const TFontParams& p) { return p.Name != u"WenQuanYi Micro Hei"; });
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_FALSE(runs[1].covered);
  EXPECT_EQ(runs[1].font, u"Arial");
  // Refusing the requested font itself sends its text to the fallbacks.
  runs = Split(u"ab", Font(u"Arial"), 1, -1, [](const TFontParams& p) { return p.Name != u"Arial"; });
  ASSERT_FALSE(runs.empty());
  ExpectTiling(runs, 1, 2);
  for (const auto& r : runs) EXPECT_NE(r.font, u"Arial");
}

TEST_F(SubstituteTest, MixedScriptsTileTheText) {
  const std::u16string text = u"Abc \u05E9\u05DC\u05D5\u05DD 123 \u0645\u0631\u062D\u0628\u0627 \u0915\u093F \u4E2D\u6587 \U0001F600.";
  auto runs = Split(text, Font(u"Arial"));
  ExpectTiling(runs, 1, int32_t(text.size()));
  for (const auto& r : runs) EXPECT_TRUE(r.covered) << r.start;
  // The Devanagari cluster went to FreeSans, the Han to the CJK face.
  auto fontAt = [&](int32_t pos) {
    for (const auto& r : runs)
      if (pos >= r.start && pos < r.start + r.count) return r.font;
    return std::u16string();
  };
  EXPECT_EQ(fontAt(int32_t(text.find(u'\u0915')) + 1), u"FreeSans");
  EXPECT_EQ(fontAt(int32_t(text.find(u'\u4E2D')) + 1), u"WenQuanYi Micro Hei");
}
