// Text-image keys, quoting, style text and case markup: round trips and the
// readings of damaged fields.
#include "text/kvTextImageKeys.h"

#include <gtest/gtest.h>

#include <vector>

using namespace text;

namespace {

struct Lines {
  foundation::TStringList* l = new foundation::TStringList();
  Lines(std::vector<std::u16string> v = {}) {
    for (auto& s : v) l->Add(s);
  }
  ~Lines() { l->Free(); }
  std::vector<std::u16string> get() const {
    std::vector<std::u16string> v;
    for (int32_t i = 0; i < l->GetCount(); ++i) v.push_back(l->GetString(i));
    return v;
  }
};

std::string U8(const std::u16string& s) { return std::string(s.begin(), s.end()); }

}  // namespace

TEST(CaseMarkup, MarksAndRoundTrips) {
  const std::vector<std::pair<std::u16string, std::u16string>> rows = {
      {u"Hello World", u"<H>ello <W>orld"},
      {u"ABC", u"<ABC>"},
      {u"a<b", u"a<<b"},
      {u"A>", u"<A>>>"},
      {u"A<", u"<A><<"},
      {u"<>", u"<<>>"},
      {u"", u""},
      {u"\u0416\u0436 \u00C9t\u00C9", u"<\u0416>\u0436 <\u00C9>t<\u00C9>"},
  };
  for (const auto& [line, marked] : rows) {
    EXPECT_EQ(EncodeCaseMarkupLine(line), marked) << U8(line);
    std::u16string back;
    DecodeCaseMarkup(back, marked);
    EXPECT_EQ(back, line) << U8(line);
  }
  // An unclosed run copies to the end.
  std::u16string d;
  DecodeCaseMarkup(d, u"a<BC");
  EXPECT_EQ(d, u"aBC");
  Lines two({u"Ab", u"cD"});
  foundation::TStringList* m = EncodeCaseMarkup(two.l);
  ASSERT_EQ(m->GetCount(), 2);
  EXPECT_EQ(m->GetString(1), u"c<D>");
  m->Free();
}

TEST(QuotedLines, QuoteAndSplit) {
  Lines a({u"one", u"two: 2", u""});
  EXPECT_EQ(QuoteLines(a.l), u"\"one\r\ntwo: 2\r\n\"");
  const std::vector<std::pair<std::u16string, std::vector<std::u16string>>> rows = {
      {u"\"a\r\nb\"", {u"a", u"b"}},
      {u"a\nb\rc\n\rd\r\ne", {u"a", u"b", u"c", u"d", u"e"}},  // no quotes: the whole text
      {u"\"", {u"\""}},
      {u"\"\"", {}},
      {u"\"x", {u"x"}},
  };
  for (const auto& [text, want] : rows) {
    Lines l({u"old"});
    SplitQuotedLines(text, l.l);
    EXPECT_EQ(l.get(), want) << U8(text);
  }
}

TEST(StyleTexts, NamesAndParsing) {
  EXPECT_EQ(StyleText(2 | 8), u"Italic,StrikeOut");
  EXPECT_EQ(StyleText(15), u"Bold,Italic,Underline,StrikeOut");
  EXPECT_EQ(StyleText(0), u"");
  EXPECT_EQ(ParseStyleText(u"Italic,StrikeOut"), 10);
  EXPECT_EQ(ParseStyleText(u"Italic, StrikeOut"), 2);
  EXPECT_EQ(ParseStyleText(u"bold,Underline"), 4);
}

TEST(TextImageKeys, WriteAndReadBack) {
  TTextParams p = DefaultTextParams();
  p.FontName = u"Times New Roman";
  p.Style = 1 | 4;
  p.Alignment = 2;
  p.LineSpacing = -35;
  p.Scale = 1.5;
  p.Scale2 = 0.25;
  p.OffsetX = -2.125f;
  p.OffsetY = 3;
  Lines lines({u"<T>ime: 12:30", u"", u"x"});
  std::u16string key;
  MakeTextImageKey(key, lines.l, p);
  EXPECT_EQ(key, u"Text: Times New Roman:1.5:-2.125:3:Bold,Underline:2:0.25:-35:\"<T>ime: 12:30\r\n\r\nx\"");
  TTextParams q;
  Lines back;
  ParseTextImageKey(key, back.l, q);
  EXPECT_EQ(q.FontName, p.FontName);
  EXPECT_EQ(q.Style, p.Style);
  EXPECT_EQ(q.Alignment, 2);
  EXPECT_EQ(q.LineSpacing, -35);
  EXPECT_DOUBLE_EQ(q.Scale, 1.5);
  EXPECT_DOUBLE_EQ(q.Scale2, 0.25);
  EXPECT_FLOAT_EQ(q.OffsetX, -2.125f);
  EXPECT_FLOAT_EQ(q.OffsetY, 3);
  EXPECT_EQ(back.get(), lines.get());

  std::u16string vkey;
  MakeVectTextKey(vkey, key);
  EXPECT_EQ(vkey, u"VectTxt2: Times New Roman:Bold,Underline:\"<T>ime: 12:30\r\n\r\nx\"");
  TFontParams f;
  f.Size = 17;
  Lines vl;
  ParseVectTextKey(vkey, vl.l, f);
  EXPECT_EQ(f.Name, u"Times New Roman");
  EXPECT_EQ(f.Style, 5);
  EXPECT_EQ(f.Size, 17);
  EXPECT_EQ(vl.get(), lines.get());
}

TEST(TextImageKeys, DamagedFieldsKeepDefaults) {
  const std::vector<std::u16string> keys = {
      u"Text: Arial:big:x:y:Bold:left:huge:wide:\"a\"",
      u"Text: Arial:1e999:0:0::1:1:0:\"a\"",
      u"Text: Arial",
      u"Text: ",
      u"Te",
  };
  for (const auto& k : keys) {
    TTextParams q;
    q.Scale = 9;
    Lines l;
    ParseTextImageKey(k, l.l, q);
    EXPECT_DOUBLE_EQ(q.Scale, 1.0) << U8(k);
    EXPECT_DOUBLE_EQ(q.Scale2, 1.0) << U8(k);
    EXPECT_EQ(q.Alignment, 1) << U8(k);
    EXPECT_EQ(q.LineSpacing, 0) << U8(k);
  }
  // A font name holding a colon does not survive.
  TTextParams p = DefaultTextParams();
  p.FontName = u"A:B";
  Lines one({u"t"});
  std::u16string key;
  MakeTextImageKey(key, one.l, p);
  TTextParams q;
  Lines back;
  ParseTextImageKey(key, back.l, q);
  EXPECT_EQ(q.FontName, u"A");
}
