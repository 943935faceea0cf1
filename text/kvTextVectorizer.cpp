#include "text/kvTextVectorizer.h"

namespace text {

namespace {
TVectorizer* NoVectorizer() { return nullptr; }
}  // namespace

TCreateVectorizerFunc CreateVectorizer = NoVectorizer;

uint8_t ParseGlyphKeyStyle(const std::u16string& Text) {
  const std::u16string t = Text + u",";
  uint8_t style = 0;
  size_t pos = 0;
  for (int item = 0; item < 4 && pos < t.size(); ++item) {
    while (pos < t.size() && (t[pos] == u' ' || t[pos] == u'\t')) ++pos;
    const size_t comma = t.find(u',', pos);
    if (comma == std::u16string::npos) break;
    const std::u16string_view s(t.data() + pos, comma - pos);
    if (s == u"Bold") style |= fpBold;
    else if (s == u"Italic") style |= fpItalic;
    else if (s == u"Underline") style |= fpUnderline;
    else if (s == u"StrikeOut") style |= fpStrikeOut;
    pos = comma + 1;
  }
  return style;
}

void SplitGlyphKey(const std::u16string& Key, std::u16string& Name, uint8_t& Style) {
  const size_t colon = Key.find(u':');
  Name = Key.substr(0, colon);
  if (colon == std::u16string::npos) {
    Style = 0;
    return;
  }
  const size_t next = Key.find(u':', colon + 1);
  Style = ParseGlyphKeyStyle(Key.substr(colon + 1, next == std::u16string::npos ? std::u16string::npos : next - colon - 1));
}

}  // namespace text
