#include "text/winTextElement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tests/imaging/ImagingTestEnv.h"
#include "tests/support/PinnedFonts.h"
#include "text/GdiDynamicFunctions.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"

using namespace text;
namespace fonts = platform::fonts;

namespace {

TFontParams Font(std::u16string name = u"Arial", float size = 12, uint8_t style = 0, bool transparent = true) {
  TFontParams p;
  InitFontParams(p, name, size, style, MakeFColor(0, 0, 0), MakeFColor(255, 255, 255), transparent);
  return p;
}

// Counts the measurements the width cache asks for.
class TCountingElement : public TWinTextElement {
 public:
  using TWinTextElement::TWinTextElement;
  int32_t GetRangeWidth(int32_t Start, int32_t Count) override {
    ++Calls;
    return TWinTextElement::GetRangeWidth(Start, Count);
  }
  int Calls = 0;
};

class TextElementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QEL_REQUIRE_PINNED_FONTS();
    InitWinFontUtils();
    InitGdiDynamicFunctions();
    InitFontSubstitute();
  }
  void TearDown() override {
    for (auto* e : made_) e->Free();
    DoneFontSubstitute();
    DoneGdiDynamicFunctions();
    DoneDWTextUtils();
    DoneTextServices();
  }
  template <class T = TWinTextElement>
  T* Make(const std::u16string& text, const TFontParams& font = Font(), int32_t flags = 0,
          TAcceptFontEvent accept = nullptr) {
    auto* e = new T(font, flags);
    e->OnAcceptFont = std::move(accept);
    e->InsertText(1, text, 1, int32_t(text.size()));
    made_.push_back(e);
    return e;
  }
  int32_t Extent(std::u16string family, float size, const std::u16string& text) {
    return CreateFontHandle(Font(family, size))->textExtent(text);
  }
  testsupport::ScopedFontBackend fonts_;
  std::vector<TWinTextElement*> made_;
};

// A font backend over another that counts how often its fonts shape a run.
class TCountingFont : public fonts::Font {
 public:
  TCountingFont(fonts::FontHandle inner, int* shapes) : inner_(std::move(inner)), shapes_(shapes) {}
  std::u16string faceFamily() const override { return inner_->faceFamily(); }
  std::string faceFile() const override { return inner_->faceFile(); }
  int32_t pixelSize() const override { return inner_->pixelSize(); }
  bool isScalable() const override { return inner_->isScalable(); }
  fonts::TextMetrics textMetrics() override { return inner_->textMetrics(); }
  bool outlineMetrics(fonts::OutlineMetrics& out) override { return inner_->outlineMetrics(out); }
  bool charAbcWidths(char32_t first, char32_t last, std::span<fonts::AbcWidth> out) override {
    return inner_->charAbcWidths(first, last, out);
  }
  bool glyphAbcWidths(std::span<const uint16_t> glyphs, std::span<fonts::AbcWidth> out) override {
    return inner_->glyphAbcWidths(glyphs, out);
  }
  void glyphIndices(std::u16string_view text, std::span<uint16_t> out, bool markMissing) override {
    inner_->glyphIndices(text, out, markMissing);
  }
  bool placeText(std::u16string_view text, fonts::Placement& out) override {
    ++*shapes_;
    return inner_->placeText(text, out);
  }
  int32_t textExtent(std::u16string_view text) override { return inner_->textExtent(text); }
  std::vector<fonts::UnicodeRange> unicodeRanges() override { return inner_->unicodeRanges(); }
  int32_t glyphOutline(uint16_t glyph, std::span<uint8_t> buffer) override {
    return inner_->glyphOutline(glyph, buffer);
  }
  void drawText(const fonts::Surface& surface, int32_t x, int32_t y, std::u16string_view text, uint32_t color,
                const fonts::ClipRect& clip) override {
    inner_->drawText(surface, x, y, text, color, clip);
  }

 private:
  fonts::FontHandle inner_;
  int* shapes_;
};

class TCountingBackend : public fonts::FontBackend {
 public:
  explicit TCountingBackend(fonts::FontBackend* inner) : inner_(inner) {}
  fonts::FontHandle createFont(const fonts::FontRequest& request) override {
    return std::make_shared<TCountingFont>(inner_->createFont(request), &Shapes);
  }
  std::vector<std::u16string> fallbackFamilies(const std::u16string& family) override {
    return inner_->fallbackFamilies(family);
  }
  std::u16string messageFontFamily() override { return inner_->messageFontFamily(); }
  float messageFontSize() override { return inner_->messageFontSize(); }
  int32_t screenDpi() override { return inner_->screenDpi(); }
  fonts::FontStats stats() override { return inner_->stats(); }
  void releaseCachedFaces() override { inner_->releaseCachedFaces(); }
  int Shapes = 0;

 private:
  fonts::FontBackend* inner_;
};

// A line of Latin, Hebrew, Chinese, unassigned code points and a combining
// accent, repeated: many runs of several fonts.
std::u16string MixedText(int repeats) {
  std::u16string s;
  for (int k = 0; k < repeats; ++k) s += u"Ave \u05E9\u05DC\u05D5\u05DD \u4E2D\u6587 a\u0378e\u0301 ";
  return s;
}

// Every character's caret is one end of its span, and a point inside the
// span hits that character (empty spans of cluster continuations excepted).
void ExpectCaretsAgreeWithHits(TWinTextElement* e) {
  for (int32_t i = 0; i < e->Count; ++i) {
    const auto [a, b] = e->CharRanges[size_t(i)];
    EXPECT_EQ(e->Carets[size_t(i)], a) << "character " << i + 1;
    if (a != b) {
      EXPECT_EQ(e->HitTest((a + b) / 2), i + 1) << "character " << i + 1;
    }
    EXPECT_GE(std::min(a, b), 0);
    EXPECT_LE(std::max(a, b), e->Extent.Width);
  }
}

}  // namespace

TEST(StyleToText, Names) {
  struct Case {
    uint8_t style;
    std::u16string text;
  } cases[] = {{0, u""}, {fpBold, u"Bold"}, {fpBold | fpItalic, u"Bold,Italic"}, {fpItalic | fpStrikeOut, u"Italic,StrikeOut"},
               {15, u"Bold,Italic,Underline,StrikeOut"}};
  for (const auto& c : cases) EXPECT_EQ(StyleToText(c.style), c.text);
}

TEST_F(TextElementTest, LatinLineIsOneRun) {
  auto* e = Make(u"Hello world");
  ASSERT_EQ(e->RunCount, 1);
  EXPECT_TRUE(e->Runs[0].IsText);
  EXPECT_EQ(e->Runs[0].Font.Name, u"Arial");
  EXPECT_EQ(e->GlyphCount, 11);
  EXPECT_EQ(e->Extent.Width, Extent(u"Arial", 12, u"Hello world"));
  EXPECT_EQ(e->Carets[0], 0);
  EXPECT_EQ(e->Carets[11], e->Extent.Width);
  for (int i = 1; i <= 11; ++i) EXPECT_GT(e->Carets[size_t(i)], e->Carets[size_t(i - 1)]);
  EXPECT_EQ(e->CharAdvances[11], -1);
  ExpectCaretsAgreeWithHits(e);
  // Ink: "H" starts right of the pen, "d" ends left of the advance.
  EXPECT_GT(e->Extent.InkLeft, 0);
  EXPECT_EQ(e->Extent.InkLeft + e->Extent.InkWidth + e->Extent.AfterInk, e->Extent.Width);
}

TEST_F(TextElementTest, CaretPositionsClampTheIndex) {
  auto* e = Make(u"abc");
  int32_t a = -1, b = -1;
  e->GetCaretPos(0, a, b);
  EXPECT_EQ(a, e->Carets[0]);
  EXPECT_EQ(b, e->Carets[0]);
  e->GetCaretPos(1, a, b);
  EXPECT_EQ(a, e->Carets[0]);
  EXPECT_EQ(b, e->Carets[1]);
  e->GetCaretPos(99, a, b);
  EXPECT_EQ(a, e->Carets[2]);
  EXPECT_EQ(b, e->Carets[3]);
}

TEST_F(TextElementTest, RightToLeftCaretsRunBackwards) {
  auto* e = Make(u"\u05E9\u05DC\u05D5\u05DD");
  int32_t start = 0, dummy = 0, end = 0;
  e->GetCaretPos(0, start, dummy);
  e->GetCaretPos(4, dummy, end);
  EXPECT_LT(end, start) << "the end caret lies left of the start";
  EXPECT_EQ(start, e->Extent.Width);
  EXPECT_EQ(end, 0);
  ExpectCaretsAgreeWithHits(e);
  // Ranges are reversed for right-to-left characters.
  EXPECT_GT(e->CharRanges[0].first, e->CharRanges[0].second);
}

TEST_F(TextElementTest, RightToLeftOverrideReversesLatin) {
  auto* e = Make(u"abc", Font(), tfRightToLeftOverride);
  EXPECT_EQ(e->Carets[0], e->Extent.Width);
  EXPECT_EQ(e->Carets[3], 0);
  EXPECT_EQ(e->Extent.Width, Extent(u"Arial", 12, u"abc"));
}

TEST_F(TextElementTest, MixedScriptsLayOutWithFallbackFaces) {
  struct Case {
    std::u16string text;
    std::u16string fallback;  // a run font the line must use; empty: only the requested font
  } cases[] = {
      {u"Gr\u00FC\u00DFe \u041F\u0440\u0438\u0432\u0435\u0442 \u0393\u03B5\u03B9\u03AC", u""},
      {u"abc \u05E9\u05DC\u05D5\u05DD 123 def", u""},
      {u"\u0645\u0631\u062D\u0628\u0627 2024", u"DejaVu Sans"},
      {u"Hindi \u0939\u093F\u0928\u094D\u0926\u0940", u"FreeSans"},
      {u"CJK \u4E2D\u6587\u5B57", u"WenQuanYi Micro Hei"},
      {u"smile \U0001F600 \u263A", u""},
  };
  for (const auto& c : cases) {
    auto* e = Make(c.text);
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    bool found = c.fallback.empty();
    int32_t sum = 0, glyphs = 0;
    for (const auto& r : e->Runs) {
      EXPECT_TRUE(r.IsText);
      found |= r.Font.Name == c.fallback;
      sum += r.Width;
      glyphs += r.GlyphCount;
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(sum, e->Extent.Width);
    EXPECT_EQ(glyphs, e->GlyphCount);
    EXPECT_GT(e->Extent.Width, 0);
    ExpectCaretsAgreeWithHits(e);
    for (int32_t i = 0; i < e->Count; ++i) EXPECT_LT(e->CharToGlyph[size_t(i)], e->GlyphCount);
  }
}

TEST_F(TextElementTest, LeftToRightRunsAroundRightToLeftOnesAreOrderedVisually) {
  auto* e = Make(u"ab \u05D0\u05D1 cd \u4E00");
  // Carets of the Latin parts increase from left to right; the Hebrew letters sit between them.
  EXPECT_LT(e->Carets[0], e->Carets[3]);
  EXPECT_LT(e->Carets[4], e->Carets[3]) << "the second Hebrew letter is left of the first";
  EXPECT_LT(e->Carets[3], e->Carets[6]);
  EXPECT_LT(e->Carets[6], e->Carets[9]) << "the CJK character comes last";
  for (size_t i = 1; i < e->Runs.size(); ++i) {
    // Runs are stored in visual order: each starts where the previous ends.
    int32_t left = INT32_MAX;
    for (int32_t k = e->Runs[i].Start; k < e->Runs[i].Start + e->Runs[i].Count; ++k)
      left = std::min({left, e->CharRanges[size_t(k)].first, e->CharRanges[size_t(k)].second});
    int32_t pen = 0;
    for (size_t j = 0; j < i; ++j) pen += e->Runs[j].Width;
    EXPECT_EQ(left, pen) << "run " << i;
  }
}

TEST_F(TextElementTest, MissingCharactersUseTheMissingGlyphFont) {
  auto* e = Make(u"a\u0378\u0379b");  // unassigned code points
  ASSERT_EQ(e->RunCount, 3);
  EXPECT_FALSE(e->Runs[1].IsText);
  EXPECT_EQ(e->Runs[1].Font.Name, u"Wingdings");
  EXPECT_GT(e->Runs[1].Width, 0) << "the boxes take room";
  TGlyphInfo first, second;
  e->GetGlyphInfo(1, first);
  e->GetGlyphInfo(2, second);
  EXPECT_EQ(first.ID.GlyphKey, u"Wingdings:");
  EXPECT_EQ(first.PenX, e->Runs[0].Width);
  EXPECT_EQ(second.PenX - first.PenX, Extent(u"Wingdings", 12, u"L")) << "the pen advances by an L";
}

TEST_F(TextElementTest, RefusedFontsLeaveTheBox) {
  int asked = 0;
  auto* e = Make(u"a\u4E00b", Font(), 0, [&](const TFontParams& f, bool check, bool& accepted) {
    ++asked;
    EXPECT_TRUE(check);
    accepted = f.Name != u"WenQuanYi Micro Hei";
  });
  EXPECT_GT(asked, 0);
  ASSERT_EQ(e->RunCount, 3);
  EXPECT_FALSE(e->Runs[1].IsText);
  EXPECT_EQ(e->Runs[1].Font.Name, u"Wingdings");
}

TEST_F(TextElementTest, ClusterContinuations) {
  auto* e = Make(u"e\u0301x\u0644\u0627");  // e + acute, then Arabic lam-alef
  EXPECT_FALSE(e->IsClusterContinuation(1));
  EXPECT_TRUE(e->IsClusterContinuation(2));
  EXPECT_FALSE(e->IsClusterContinuation(3));
  EXPECT_TRUE(e->IsClusterContinuation(5));
  EXPECT_FALSE(e->IsClusterContinuation(6));
  // A continuation's span is empty, at the start of the next character's span.
  EXPECT_EQ(e->CharRanges[0].first, e->CharRanges[0].second);
}

TEST_F(TextElementTest, RangeWidthCache) {
  auto* e = Make<TCountingElement>(u"abcdef");
  EXPECT_EQ(e->GetRangeWidthCached(1, 6), e->Extent.Width);
  EXPECT_EQ(e->GetRangeWidthCached(3, 0), 0);
  EXPECT_EQ(e->Calls, 0);
  const int32_t prefix = e->GetRangeWidthCached(1, 3);
  EXPECT_EQ(prefix, Extent(u"Arial", 12, u"abc"));
  EXPECT_EQ(e->GetRangeWidthCached(0, 3), prefix) << "start 0 counts from 1";
  EXPECT_EQ(e->Calls, 1);
  EXPECT_EQ(e->PrefixWidths[2], prefix);
  const int32_t suffix = e->GetRangeWidthCached(4, 10);  // clamped to "def"
  EXPECT_EQ(suffix, Extent(u"Arial", 12, u"def"));
  e->GetRangeWidthCached(4, 3);
  EXPECT_EQ(e->Calls, 2);
  EXPECT_EQ(e->SuffixWidths[2], suffix);
  // A range ending one before the end is measured every time.
  e->GetRangeWidthCached(3, 3);
  e->GetRangeWidthCached(3, 3);
  EXPECT_EQ(e->Calls, 4);
  // A text change empties the caches.
  e->InsertText(7, u"g", 1, 1);
  e->GetRangeWidthCached(1, 3);
  EXPECT_EQ(e->Calls, 5);
}

TEST_F(TextElementTest, FitCount) {
  auto* e = Make(u"one two three");
  const int32_t w = e->Extent.Width;
  EXPECT_EQ(e->GetFitCount(1, w, nullptr), 13);
  EXPECT_EQ(e->GetFitCount(0, w, nullptr), 13) << "start 0 counts from 1";
  const int32_t seven = Extent(u"Arial", 12, u"one two");
  auto wordBreak = [&](int32_t n) {
    int32_t k = n - 1;
    while (k > 0 && e->Text[size_t(k)] != u' ') --k;
    return k;
  };
  EXPECT_EQ(e->GetFitCount(1, seven + 2, wordBreak), 7);
  EXPECT_EQ(e->GetFitCount(1, seven + 2, [](int32_t n) { return n - 1; }), 7 + 1 - 1 + 0) << "character by character";
  // A rule that answers its input unchanged still ends.
  EXPECT_EQ(e->GetFitCount(5, 0, [](int32_t n) { return n; }), 0);
  EXPECT_EQ(e->GetFitCount(99, w, nullptr), 1) << "a start past the end becomes the last character";
  // An empty element fits nothing.
  auto* empty = Make(u"");
  EXPECT_EQ(empty->Count, 0);
  EXPECT_EQ(empty->GetFitCount(1, 100, wordBreak), 0);
  EXPECT_EQ(empty->GetFitCount(0, 0, nullptr), 0);
  TTextExtent x;
  empty->GetExtent(x);
  EXPECT_EQ(x.Width, 0);
  EXPECT_EQ(empty->GetRangeWidthCached(1, 1), 0);
}

TEST_F(TextElementTest, Rectangles) {
  auto* e = Make(u"Wave");
  TTextFontMetrics m;
  e->GetFontMetrics(m);
  foundation::TRect r;
  e->GetLayoutRect(r, {10, 20});
  EXPECT_EQ(r.Left, 10);
  EXPECT_EQ(r.Top, 20);
  EXPECT_EQ(r.Right, 10 + e->Extent.Width);
  EXPECT_EQ(r.Bottom, 20 + m.Height);
  e->GetPaintRect(r, {10, 20});
  EXPECT_EQ(r.Left, 10 + e->Extent.InkLeft);
  EXPECT_EQ(r.Right, 10 + e->Extent.InkLeft + e->Extent.InkWidth + 2);
  auto* opaque = Make(u"Wave", Font(u"Arial", 12, 0, false));
  opaque->GetPaintRect(r, {10, 20});
  EXPECT_EQ(r.Left, std::min(10, 10 + opaque->Extent.InkLeft));
  EXPECT_EQ(r.Right, std::max(10 + opaque->Extent.InkLeft + opaque->Extent.InkWidth, 10 + opaque->Extent.Width) + 2);
  auto* under = Make(u"Wave", Font(u"Arial", 12, fpUnderline));
  under->GetPaintRect(r, {0, 0});
  EXPECT_EQ(r.Bottom, std::max(m.Height, m.Ascent - under->GetUnderlinePosition() + under->GetUnderlineThickness()));
  EXPECT_LT(under->GetUnderlinePosition(), 0);
}

TEST_F(TextElementTest, SizeZeroLaysOutAtEight) {
  auto* e = Make(u"abc", Font(u"Arial", 0));
  EXPECT_EQ(e->Font.Size, 8.0f);
  EXPECT_EQ(e->Extent.Width, Extent(u"Arial", 8, u"abc"));
}

TEST_F(TextElementTest, GlyphInformation) {
  auto* e = Make(u"AVb", Font(u"Arial", 12, fpBold | fpItalic));
  ASSERT_EQ(e->GetGlyphCount(), 3);
  for (int32_t g = 0; g < 3; ++g) {
    TGlyphInfo info;
    e->GetGlyphInfo(g, info);
    EXPECT_EQ(info.ID.GlyphKey, u"Arial:Bold,Italic");
    EXPECT_EQ(info.ID.FontSize, 12.0f);
    EXPECT_EQ(info.ID.GlyphIndex, e->Glyphs[size_t(g)]);
    EXPECT_EQ(info.PenX, e->Carets[size_t(g)]);
    // ABC widths are the glyph's own, without the kerning of the line.
    std::vector<fonts::AbcWidth> abc(1);
    CreateFontHandle(e->Font)->charAbcWidths(e->Text[size_t(g)], e->Text[size_t(g)], abc);
    EXPECT_EQ(info.Advance, abc[0].a + abc[0].b + abc[0].c);
    EXPECT_EQ(info.Height, info.Ascent + info.Descent);
    EXPECT_GT(info.BWidth, 0);
  }
}

TEST_F(TextElementTest, CloneRangeAndInsert) {
  int dcs = 0;
  auto* e = new TWinTextElement(Font(), 0);
  made_.push_back(e);
  e->OnGetDC = [&] { return uintptr_t(++dcs); };
  e->OnReleaseDC = [&](uintptr_t) { --dcs; };
  e->InsertText(1, u"world", 1, 5);
  e->InsertText(0, u"xxhello ", 3, 100);  // clamped position and count
  EXPECT_EQ(e->Text, u"hello world");
  EXPECT_EQ(dcs, 0) << "every device context given back";
  auto* c = static_cast<TWinTextElement*>(e->CloneRange(7, 5));
  made_.push_back(c);
  EXPECT_EQ(c->Text, u"world");
  EXPECT_EQ(c->Font.Name, u"Arial");
  EXPECT_EQ(c->Extent.Width, Extent(u"Arial", 12, u"world"));
  EXPECT_TRUE(bool(c->OnGetDC));
}

TEST_F(TextElementTest, PaintingDrawsEveryRun) {
  auto* e = Make(u"ab\u4E00\u05D0");
  const int w = 100, h = 30;
  std::vector<uint8_t> px(size_t(w * h * 4), 255);
  e->Paint({px.data(), w, h, w * 4, 32}, 2, 2, {0, 0, w, h});
  // Ink appears inside the span of each run and nowhere right of the line.
  for (const auto& r : e->Runs) {
    int32_t a = INT32_MAX, b = INT32_MIN;
    for (int32_t k = r.Start; k < r.Start + r.Count; ++k) {
      a = std::min({a, e->CharRanges[size_t(k)].first, e->CharRanges[size_t(k)].second});
      b = std::max({b, e->CharRanges[size_t(k)].first, e->CharRanges[size_t(k)].second});
    }
    int dark = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 2 + a; x < 2 + b; ++x) dark += px[size_t((y * w + x) * 4)] < 128;
    EXPECT_GT(dark, 3) << "run at " << r.Start;
  }
  for (int y = 0; y < h; ++y)
    for (int x = 2 + e->Extent.Width + 3; x < w; ++x) EXPECT_EQ(px[size_t((y * w + x) * 4)], 255);
}

TEST_F(TextElementTest, ThousandLayoutsLeaveNoFontBehind) {
  fonts_.get()->releaseCachedFaces();
  const fonts::FontStats before = fonts_.get()->stats();
  for (int i = 0; i < 1000; ++i) {
    auto* e = new TWinTextElement(Font(u"Arial", float(8 + i % 7)), 0);
    e->InsertText(1, u"Mix \u05D0\u05D1 \u4E00 \U0001F600", 1, 14);
    e->Free();
  }
  fonts_.get()->releaseCachedFaces();
  const fonts::FontStats after = fonts_.get()->stats();
  EXPECT_EQ(after.liveFonts, before.liveFonts);
  EXPECT_EQ(after.loadedFaces, before.loadedFaces);
}

TEST_F(TextElementTest, WithoutAnyFontTextStillLaysOutAsBoxes) {
  testsupport::ScopedFontBackend none(std::vector<std::string>{});
  auto* e = Make(u"Hi \u4E00\u05D0");
  ASSERT_GE(e->RunCount, 1);
  for (const auto& r : e->Runs) {
    EXPECT_FALSE(r.IsText);
    EXPECT_EQ(r.Font.Name, u"Wingdings");
  }
  EXPECT_EQ(e->Count, 5);
  EXPECT_GT(e->Extent.Width, 0);
  EXPECT_EQ(e->GetFitCount(1, e->Extent.Width, nullptr), 5);
  TTextFontMetrics m;
  e->GetFontMetrics(m);
  EXPECT_GT(m.Height, 0);
  TGlyphInfo info;
  e->GetGlyphInfo(0, info);
  EXPECT_GT(info.Advance, 0);
  const int w = 120, h = 30;
  std::vector<uint8_t> px(size_t(w * h * 4), 255);
  e->Paint({px.data(), w, h, w * 4, 32}, 0, 0, {0, 0, w, h});
  EXPECT_NE(std::count(px.begin(), px.end(), uint8_t(0)), 0) << "the boxes are drawn";
  // The element's shaped runs hold fonts of this test's backend: it goes
  // before the backend does.
  for (auto* made : made_) made->Free();
  made_.clear();
}

TEST_F(TextElementTest, GlyphInformationIsEachRunShapedOnItsOwn) {
  // Worked out here run by run: the run's characters (an L for each
  // character no font covers) shaped alone, the pen summed over the runs
  // before it and the run's own glyphs before the glyph.
  auto* e = Make(MixedText(3));
  ASSERT_GT(e->RunCount, 6);
  int32_t glyph = 0, pen = 0;
  for (const TTextRun& r : e->Runs) {
    fonts::FontHandle f = CreateFontHandle(r.Font);
    const std::u16string chars =
        r.IsText ? e->Text.substr(size_t(r.Start), size_t(r.Count)) : std::u16string(size_t(r.Count), u'L');
    fonts::Placement p;
    ASSERT_TRUE(f->placeText(chars, p));
    const fonts::TextMetrics tm = f->textMetrics();
    int32_t x = pen;
    for (int32_t g = 0; g < r.GlyphCount; ++g, ++glyph) {
      SCOPED_TRACE("glyph " + std::to_string(glyph));
      TGlyphInfo info;
      e->GetGlyphInfo(glyph, info);
      EXPECT_EQ(info.ID.GlyphIndex, e->Glyphs[size_t(glyph)]);
      EXPECT_EQ(info.ID.GlyphKey, r.Font.Name + u":" + StyleToText(r.Font.Style));
      EXPECT_EQ(info.PenX, x);
      EXPECT_EQ(info.Ascent, tm.ascent);
      EXPECT_EQ(info.Descent, tm.descent);
      std::vector<fonts::AbcWidth> abc(1);
      const uint16_t id = size_t(g) < p.glyphs.size() ? p.glyphs[size_t(g)] : e->Glyphs[size_t(glyph)];
      ASSERT_TRUE(f->glyphAbcWidths(std::span<const uint16_t>(&id, 1), abc));
      EXPECT_EQ(info.Advance, abc[0].a + abc[0].b + abc[0].c);
      x += size_t(g) < p.glyphAdvances.size() ? p.glyphAdvances[size_t(g)] : 0;
    }
    pen += r.Width;
  }
  EXPECT_EQ(glyph, e->GetGlyphCount());
  TGlyphInfo past;
  e->GetGlyphInfo(glyph, past);
  EXPECT_EQ(past.ID.GlyphIndex, 0);
}

TEST_F(TextElementTest, AskingForEveryGlyphShapesEachRunOnce) {
  // The shaping asked for every glyph of a line grows with the runs, not with
  // the glyphs times the runs' length; laying out again shapes afresh.
  TCountingBackend counting(fonts_.get());
  fonts::FontBackend* previous = fonts::setFontBackend(&counting);
  for (int repeats : {2, 40}) {
    SCOPED_TRACE(repeats);
    auto* e = Make(MixedText(repeats));
    int runsWithGlyphs = 0;
    for (const TTextRun& r : e->Runs) runsWithGlyphs += r.GlyphCount > 0;
    counting.Shapes = 0;
    for (int pass = 0; pass < 2; ++pass)
      for (int32_t g = 0; g < e->GetGlyphCount(); ++g) {
        TGlyphInfo info;
        e->GetGlyphInfo(g, info);
      }
    EXPECT_EQ(counting.Shapes, runsWithGlyphs);
    EXPECT_GT(e->GetGlyphCount(), 10 * repeats);
    e->InsertText(1, u"x", 1, 1);
    counting.Shapes = 0;
    TGlyphInfo info;
    e->GetGlyphInfo(0, info);
    EXPECT_EQ(counting.Shapes, 1);
    EXPECT_EQ(info.ID.GlyphIndex, e->Glyphs[0]);
  }
  fonts::setFontBackend(previous);
}

