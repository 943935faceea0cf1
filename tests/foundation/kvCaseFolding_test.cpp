#include "foundation/kvCaseFolding.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "foundation/kpExceptions.h"

using namespace foundation;

namespace {

int SumCounts(const TFoldingRun* runs, int n) {
  int total = 0;
  for (int i = 0; i < n; ++i) total += runs[i].Count < 0 ? -runs[i].Count : runs[i].Count;
  return total;
}

}  // namespace

TEST(CaseFoldingTables, RecordsHaveTheStoredShape) {
  EXPECT_EQ(SumCounts(CommonFoldingRuns, CommonFoldingRunCount), 1027);
  EXPECT_EQ(SumCounts(SimpleFoldingRuns, SimpleFoldingRunCount), 28);
  // A-Z: one record for A, one for the 25 letters after it. The records are
  // packed, so their fields are read by value, never bound to a reference.
  EXPECT_EQ(int(CommonFoldingRuns[0].Step), 0x41);
  EXPECT_EQ(int(CommonFoldingRuns[0].Delta), 0x20);
  EXPECT_EQ(int(CommonFoldingRuns[0].Count), 1);
  EXPECT_EQ(int(CommonFoldingRuns[1].Step), 1);
  EXPECT_EQ(int(CommonFoldingRuns[1].Delta), 0x20);
  EXPECT_EQ(int(CommonFoldingRuns[1].Count), 25);
}

TEST(CaseFoldingTables, FoldingsCoverExactlyTheExpectedPages) {
  int folded = 0;
  std::set<uint32_t> pages;
  for (uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (FoldCodePoint(cp) != cp) {
      ++folded;
      pages.insert(cp >> 8);
    }
  }
  EXPECT_EQ(folded, 1055);
  const std::set<uint32_t> expected = {0x0, 0x1, 0x2, 0x3, 0x4, 0x5, 0x10, 0x1E,
                                       0x1F, 0x21, 0x24, 0x2C, 0xA6, 0xA7, 0xFF, 0x104};
  EXPECT_EQ(pages, expected);
  // Exactly those pages exist in the table: the others answer at once.
  const TCharPage* const* table = CaseFoldingTable();
  std::set<uint32_t> present;
  for (int i = 0; i < CharPageCount; ++i)
    if (table[i] != nullptr) present.insert(static_cast<uint32_t>(i));
  EXPECT_EQ(present, expected);
}

TEST(CaseFoldingTables, SpotValues) {
  struct Case {
    uint32_t from, to;
  } cases[] = {
      {0x0041, 0x0061}, {0x005A, 0x007A}, {0x0061, 0x0061}, {0x00C9, 0x00E9},
      {0x1E9E, 0x00DF},  // simple-only folding of capital sharp s
      {0x00DF, 0x00DF}, {0x0130, 0x0130},  // no full or Turkic foldings
      {0x212A, 0x006B}, {0x2126, 0x03C9}, {0x03A3, 0x03C3}, {0x03C2, 0x03C3}, {0x0345, 0x03B9},
      {0x1F88, 0x1F80}, {0x1FBC, 0x1FB3}, {0x1FFC, 0x1FF3},  // capitals with prosgegrammeni
      {0x10400, 0x10428}, {0x10427, 0x1044F}, {0x10428, 0x10428},
      {0xA7AA, 0x0266}, {0x10C7, 0x2D27},  // present in 6.1
      {0x0528, 0x0528}, {0xA698, 0xA698}, {0x13F8, 0x13F8}, {0xAB70, 0xAB70},  // later additions
      {0xFF21, 0xFF41}, {0x24B6, 0x24D0}, {0x2C00, 0x2C30}, {0x4E00, 0x4E00}, {0x10FFFF, 0x10FFFF},
      {0x110000, 0x110000}, {0xFFFFFFFF, 0xFFFFFFFF},
  };
  for (const Case& c : cases) EXPECT_EQ(FoldCodePoint(c.from), c.to) << std::hex << c.from;
}

TEST(CaseFolding, SameText) {
  EXPECT_FALSE(SameText(u"Stra\u00DFe", u"STRASSE"));
  EXPECT_TRUE(SameText(u"STRA\u1E9EE", u"stra\u00DFe"));
  EXPECT_TRUE(SameText(u"\u03A3\u0391\u03A3", u"\u03C3\u03B1\u03C2"));
  EXPECT_TRUE(SameText(u"\U00010400", u"\U00010428"));
  EXPECT_TRUE(SameText(u"x\U00010400y", u"X\U00010428Y"));
  EXPECT_FALSE(SameText(u"\U00010400", u"\U00010429"));
  EXPECT_TRUE(SameText(u"", u""));
  EXPECT_FALSE(SameText(u"a", u""));
  // Lone surrogates fold to themselves.
  EXPECT_TRUE(SameText(u"a\xD801", u"A\xD801"));
  EXPECT_FALSE(SameText(u"a\xD801", u"A\xD802"));
}

TEST(CaseFolding, FoldCase) {
  EXPECT_EQ(FoldCase(u"\U00010400"), u"\U00010428");
  EXPECT_EQ(FoldCase(u"Hello \u212A\u0130\u00DF"), u"hello k\u0130\u00DF");
  EXPECT_EQ(FoldCase(u"ABCDEF", 2, 3), u"bcd");
  EXPECT_EQ(FoldCase(u"ABCDEF", -5, 2), u"ab");
  EXPECT_EQ(FoldCase(u"ABCDEF", 5, 100), u"ef");
  EXPECT_EQ(FoldCase(u"ABCDEF", 9, 1), u"");
  // A range that splits a pair keeps the lone half as it is.
  EXPECT_EQ(FoldCase(u"\U00010400", 1, 1), std::u16string(1, u'\xD801'));

  std::u16string big(3000, u'Q');
  EXPECT_EQ(FoldCase(big), std::u16string(3000, u'q'));
  // Pairs that straddle the 1024-unit chunks come out whole.
  std::u16string pairs = u"A";
  for (int i = 0; i < 1500; ++i) pairs += u"\U00010401";
  std::u16string expected = u"a";
  for (int i = 0; i < 1500; ++i) expected += u"\U00010429";
  EXPECT_EQ(FoldCase(pairs), expected);
}

TEST(CaseFolding, FoldCaseChunkKeepsAPairThatDoesNotFit) {
  const std::u16string s = u"ab\U00010400c";
  char16_t buffer[8] = {};
  int written = -1;
  EXPECT_EQ(FoldCaseChunk(s, 1, 5, buffer, written, 3), 2);
  EXPECT_EQ(written, 2);
  EXPECT_EQ(std::u16string(buffer, 2), u"ab");
  EXPECT_EQ(FoldCaseChunk(s, 3, 3, buffer, written, 8), 3);
  EXPECT_EQ(std::u16string(buffer, static_cast<size_t>(written)), u"\U00010428c");
  EXPECT_EQ(FoldCaseChunk(s, 1, 5, buffer, written, 0), 0);
  EXPECT_EQ(written, 0);
}

TEST(CaseFolding, Comparisons) {
  EXPECT_EQ(CompareTextRange(u"abc", u"ABCD", 1, 1, 3, 4), -1);
  EXPECT_EQ(CompareTextRange(u"b", u"A", 1, 1, 1, 1), 1);
  EXPECT_EQ(CompareTextRange(u"xxHELLO", u"hello", 3, 1, 100, 5), 0);
  EXPECT_EQ(CompareTextRange(u"abc", u"abd", 0, -3, 3, 3), static_cast<int>(u'c') - static_cast<int>(u'd'));
  // Code-point order: a supplementary character sorts after every BMP unit,
  // although its high surrogate is below U+FF5A.
  EXPECT_EQ(CompareTextRange(u"\uFF3Ax", u"\U00010400", 1, 1, 2, 2), 0xFF5A - 0x10428);
  // Also when the pair ends the longer range: U+FF3A < U+FF3A x < U+10400
  // must not turn into a cycle.
  EXPECT_EQ(CompareTextRange(u"\uFF3A", u"\U00010400", 1, 1, 1, 2), 0xFF5A - 0x10428);
  EXPECT_LT(CompareTextRange(u"\uFF3A", u"\uFF3Ax", 1, 1, 1, 2), 0);
  EXPECT_EQ(CompareTextRange(u"x\U00010400", u"X\xD801", 1, 1, 3, 2), 1);
  EXPECT_GT(CompareTextRange(u"\U00010401", u"\U00010400", 1, 1, 2, 2), 0);
  // Pairs that differ only in their low half are compared whole.
  EXPECT_EQ(CompareTextSameStart(u"\U00010400", u"\U00010428", 1, 2), 0);
  EXPECT_EQ(CompareTextAt(u"--\U00010400", u"\U00010401", 3, 1, 2), 0x10428 - 0x10429);
  // Counts past the end are cut to the texts.
  EXPECT_EQ(CompareTextAt(u"AB", u"ab", 1, 1, 99), 0);
}

TEST(CaseFolding, JoinLowSurrogate) {
  uint32_t cp = 0xD801;
  EXPECT_TRUE(JoinLowSurrogate(cp, u'\xDC00'));
  EXPECT_EQ(cp, 0x10400u);
  cp = 0xD801;
  EXPECT_FALSE(JoinLowSurrogate(cp, u'a'));
  EXPECT_EQ(cp, 0xD801u);
}

TEST(CaseFolding, PagesAreReleasedAndRebuiltOnDemand) {
  InitCaseFolding();
  const int before = LiveObjectCount();
  DoneCaseFolding();
  EXPECT_EQ(LiveObjectCount(), before - 16);
  EXPECT_EQ(CaseFoldingTable()[0x21]->PageIndex, 0x21);  // refilled on first use
  EXPECT_EQ(LiveObjectCount(), before);
  EXPECT_EQ(CaseFoldingTable()[0x104]->PlaneBase, 0x10000);
  TCharPage* page = new TCharPage();
  EXPECT_THROW(page->Init(0x110000), EAssertionFailed);
  page->Free();
}
