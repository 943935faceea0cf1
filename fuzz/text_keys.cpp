// Reads arbitrary texts as "Text: " and "VectTxt2: " keys and as marked
// lines. Checks: decoding the markup of any encoded line gives the line back;
// a key written from what was read reads back to the same parameters and
// lines; the vector-text key carries the font, style and lines of its key.
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/kvStrings.h"
#include "fuzz/FuzzSupport.h"
#include "text/kvTextImageKeys.h"

using namespace text;

namespace {

std::u16string Utf16Of(const uint8_t* data, size_t size) {
  std::u16string s;
  for (size_t i = 0; i + 1 < size; i += 2) s += char16_t(data[i] | (data[i + 1] << 8));
  if (size % 2) s += char16_t(data[size - 1]);
  return s;
}

bool SameLines(foundation::TStringList* a, foundation::TStringList* b) {
  if (a->GetCount() != b->GetCount()) return false;
  for (int32_t i = 0; i < a->GetCount(); ++i)
    if (a->GetString(i) != b->GetString(i)) return false;
  return true;
}

}  // namespace

QEL_FUZZ_TARGET(data, size) {
  const std::u16string text = Utf16Of(data, size);

  // Markup: encode then decode is the identity, for any line.
  std::u16string back;
  DecodeCaseMarkup(back, EncodeCaseMarkupLine(text));
  fuzzing::Check(back == text);
  DecodeCaseMarkup(back, text);  // arbitrary marked text never fails

  auto* lines = new foundation::TStringList();
  auto* again = new foundation::TStringList();
  TTextParams p = DefaultTextParams();
  ParseTextImageKey(std::u16string(TextImageKeyPrefix) + text, lines, p);
  if (p.FontName.find(u':') == std::u16string::npos) {
    std::u16string key;
    MakeTextImageKey(key, lines, p);
    TTextParams q;
    ParseTextImageKey(key, again, q);
    fuzzing::Check(q.FontName == p.FontName && q.Style == p.Style && q.Alignment == p.Alignment);
    // Lines survive unless one of them holds a double quote at an end or is an empty last line.
    std::u16string vkey;
    MakeVectTextKey(vkey, key);
    TFontParams f;
    ParseVectTextKey(vkey, again, f);
    fuzzing::Check(f.Name == p.FontName && f.Style == p.Style);
    if (lines->GetCount() > 0 && !lines->GetString(lines->GetCount() - 1).empty()) {
      bool quotes = false;
      for (int32_t i = 0; i < lines->GetCount(); ++i) quotes = quotes || lines->GetString(i).find(u'"') != std::u16string::npos;
      if (!quotes) fuzzing::Check(SameLines(lines, again));
    }
  }
  TFontParams f;
  ParseVectTextKey(std::u16string(VectTextKeyPrefix) + text, lines, f);
  (void)ParseStyleText(text);
  SplitQuotedLines(text, lines);
  foundation::TStringList* marked = EncodeCaseMarkup(lines);
  marked->Free();
  again->Free();
  lines->Free();
  return 0;
}
