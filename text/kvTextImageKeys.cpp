#include "text/kvTextImageKeys.h"

#include <cmath>
#include <vector>

#include "foundation/kpStringUtils.h"
#include "foundation/kpTypes.h"
#include "foundation/kvByteString.h"
#include "foundation/kvStringUtils.h"

namespace text {

namespace {

// Splits at ':' into at most N fields, the last taking the rest.
std::vector<std::u16string> Fields(std::u16string_view s, size_t n) {
  std::vector<std::u16string> out;
  size_t pos = 0;
  while (out.size() + 1 < n) {
    const size_t c = s.find(u':', pos);
    if (c == std::u16string_view::npos) break;
    out.emplace_back(s.substr(pos, c - pos));
    pos = c + 1;
  }
  out.emplace_back(s.substr(std::min(pos, s.size())));
  return out;
}

double ReadFloat(const std::u16string& s, double def) {
  const double v = foundation::TByteString::FromUnicode(s).ToFloatDef(def);
  return std::isfinite(v) ? v : def;
}

std::u16string After(const std::u16string& s, size_t n) { return s.size() > n ? s.substr(n) : std::u16string(); }

}  // namespace

std::u16string StyleText(uint8_t Bits) {
  static const char16_t* const names[4] = {u"Bold", u"Italic", u"Underline", u"StrikeOut"};
  std::u16string out;
  for (int i = 0; i < 4; ++i)
    if (Bits & (1 << i)) {
      if (!out.empty()) out += u',';
      out += names[i];
    }
  return out;
}

uint8_t ParseStyleText(const std::u16string& Text) {
  uint8_t bits = 0;
  size_t pos = 0;
  while (pos <= Text.size()) {
    size_t c = Text.find(u',', pos);
    if (c == std::u16string::npos) c = Text.size();
    const std::u16string_view item(Text.data() + pos, c - pos);
    if (item == u"Bold") bits |= fpBold;
    else if (item == u"Italic") bits |= fpItalic;
    else if (item == u"Underline") bits |= fpUnderline;
    else if (item == u"StrikeOut") bits |= fpStrikeOut;
    pos = c + 1;
  }
  return bits;
}

std::u16string QuoteLines(foundation::TStringList* Lines) {
  std::u16string out = u"\"";
  const int32_t n = Lines ? Lines->GetCount() : 0;
  for (int32_t i = 0; i < n; ++i) {
    if (i > 0) out += u"\r\n";
    out += Lines->GetString(i);
  }
  return out + u"\"";
}

void SplitQuotedLines(const std::u16string& Text, foundation::TStringList* Lines) {
  Lines->Clear();
  std::u16string_view t(Text);
  if (t.size() > 1) {
    if (t.front() == u'"') t.remove_prefix(1);
    if (!t.empty() && t.back() == u'"') t.remove_suffix(1);
  }
  size_t start = 0, i = 0;
  while (i < t.size()) {
    const char16_t c = t[i];
    if (c == u'\r' || c == u'\n') {
      Lines->Add(std::u16string(t.substr(start, i - start)));
      const char16_t other = c == u'\r' ? u'\n' : u'\r';
      i += (i + 1 < t.size() && t[i + 1] == other) ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < t.size()) Lines->Add(std::u16string(t.substr(start)));
}

void MakeTextImageKey(std::u16string& Key, foundation::TStringList* Lines, const TTextParams& P) {
  using foundation::FloatToStrTrimmed;
  Key = std::u16string(TextImageKeyPrefix) + P.FontName + u":" + FloatToStrTrimmed(P.Scale, 6) + u":" +
        FloatToStrTrimmed(P.OffsetX, 6) + u":" + FloatToStrTrimmed(P.OffsetY, 6) + u":" + StyleText(P.Style) +
        u":" + foundation::IntToStr(P.Alignment) + u":" + FloatToStrTrimmed(P.Scale2, 6) + u":" +
        FloatToStrTrimmed(P.LineSpacing, 2) + u":" + QuoteLines(Lines);
}

void ParseTextImageKey(const std::u16string& Key, foundation::TStringList* Lines, TTextParams& P) {
  const TTextParams& d = DefaultTextParams();
  const auto f = Fields(After(Key, 6), 9);
  auto field = [&](size_t i) { return i < f.size() ? f[i] : std::u16string(); };
  P.FontName = f.size() > 0 ? f[0] : d.FontName;
  P.Scale = ReadFloat(field(1), d.Scale);
  P.OffsetX = float(ReadFloat(field(2), d.OffsetX));
  P.OffsetY = float(ReadFloat(field(3), d.OffsetY));
  P.Style = ParseStyleText(field(4));
  const int32_t align = foundation::StrToIntDef(field(5), d.Alignment);
  P.Alignment = (align >= 0 && align <= 255) ? uint8_t(align) : d.Alignment;
  P.Scale2 = ReadFloat(field(6), 1.0);
  const double ls = ReadFloat(field(7), d.LineSpacing);
  P.LineSpacing = (ls > -2147483648.0 && ls < 2147483647.0) ? int32_t(ls) : d.LineSpacing;
  if (Lines) SplitQuotedLines(field(8), Lines);
}

void MakeVectTextKey(std::u16string& Key, const std::u16string& TextKey) {
  const auto f = Fields(After(TextKey, 6), 9);
  auto field = [&](size_t i) { return i < f.size() ? f[i] : std::u16string(); };
  Key = std::u16string(VectTextKeyPrefix) + field(0) + u":" + field(4) + u":" + field(8);
}

void ParseVectTextKey(const std::u16string& Key, foundation::TStringList* Lines, TFontParams& Font) {
  const auto f = Fields(After(Key, 10), 3);
  auto field = [&](size_t i) { return i < f.size() ? f[i] : std::u16string(); };
  Font.Name = field(0);
  Font.Style = ParseStyleText(field(1));
  if (Lines) SplitQuotedLines(field(2), Lines);
}

std::u16string EncodeCaseMarkupLine(const std::u16string& Line) {
  std::u16string out;
  bool inRun = false;
  size_t i = 0;
  while (i < Line.size()) {
    const char16_t c = Line[i];
    size_t n = 1;
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < Line.size() && Line[i + 1] >= 0xDC00 && Line[i + 1] < 0xE000) n = 2;
    const std::u16string ch = Line.substr(i, n);
    if (c == u'<' || c == u'>') {
      if (inRun) out += u'>';
      inRun = false;
      out += ch + ch;
    } else if (foundation::LowerCaseStr(ch) != ch) {
      if (!inRun) out += u'<';
      inRun = true;
      out += ch;
    } else {
      if (inRun) out += u'>';
      inRun = false;
      out += ch;
    }
    i += n;
  }
  if (inRun) out += u'>';
  return out;
}

foundation::TStringList* EncodeCaseMarkup(foundation::TStringList* Lines) {
  auto* out = new foundation::TStringList();
  const int32_t n = Lines ? Lines->GetCount() : 0;
  for (int32_t i = 0; i < n; ++i) out->Add(EncodeCaseMarkupLine(Lines->GetString(i)));
  return out;
}

void DecodeCaseMarkup(std::u16string& Out, const std::u16string& Text) {
  Out.clear();
  size_t i = 0;
  while (i < Text.size()) {
    const char16_t c = Text[i];
    if (c == u'<' && i + 1 < Text.size() && Text[i + 1] == u'<') {
      Out += u'<';
      i += 2;
    } else if (c == u'>' && i + 1 < Text.size() && Text[i + 1] == u'>') {
      Out += u'>';
      i += 2;
    } else if (c == u'<') {
      const size_t close = Text.find(u'>', i + 1);
      const size_t end = close == std::u16string::npos ? Text.size() : close;
      Out.append(Text, i + 1, end - i - 1);
      i = close == std::u16string::npos ? Text.size() : close + 1;
    } else {
      Out += c;
      ++i;
    }
  }
}

}  // namespace text
