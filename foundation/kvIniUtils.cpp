#include "foundation/kvIniUtils.h"

#include "foundation/kpTypes.h"
#include "foundation/kvByteStringLists.h"
#include "foundation/kvStringUtils.h"

namespace foundation {

TPoint IniItemGetIntPair(const TIniItem* item, TPoint def) {
  const TCommaList list = TIniItem::GetValueList(item, ',');
  if (list.GetCount() != 2) return def;
  return TPoint{list.GetInt(0, def.X), list.GetInt(1, def.Y)};
}

namespace {
template <size_t N>
std::array<float, N> GetFloats(const TIniItem* item, const std::array<float, N>& def) {
  const TCommaList list = TIniItem::GetValueList(item, ',');
  if (list.GetCount() != static_cast<int>(N)) return def;
  std::array<float, N> out{};
  for (size_t i = 0; i < N; ++i) out[i] = static_cast<float>(list.GetFloat(static_cast<int>(i), def[i]));
  return out;
}
}  // namespace

std::array<float, 4> IniItemGetFloat4(const TIniItem* item, const std::array<float, 4>& def) {
  return GetFloats(item, def);
}
std::array<float, 3> IniItemGetFloat3(const TIniItem* item, const std::array<float, 3>& def) {
  return GetFloats(item, def);
}

int32_t IniItemGetFontStyle(const TIniItem* item) {
  const TByteString value = TIniItem::GetRawValue(item);
  const std::string_view text = value.View();
  static constexpr std::pair<std::string_view, int32_t> kWords[] = {
      {"Bold", fsBold}, {"Italic", fsItalic}, {"Underline", fsUnderline}, {"StrikeOut", fsStrikeOut}};
  int32_t style = 0;
  size_t pos = 0;
  while (!text.empty()) {
    const size_t comma = text.find(',', pos);
    const std::string_view part = text.substr(pos, comma == std::string_view::npos ? text.npos : comma - pos);
    for (const auto& [word, bit] : kWords)
      if (part == word) style |= bit;
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return style;
}

bool IsTextOne(std::u16string_view s) { return s == u"1"; }

std::u16string FloatToText6(double value) { return FloatToStrTrimmed(value, 6); }

void ParseTextWithSizeKey(std::u16string_view key, int32_t& width, int32_t& height, std::u16string& text) {
  constexpr size_t kPrefix = 13;  // "TextWithSize:"
  if (key.size() < kPrefix) return;
  std::u16string s(key.substr(kPrefix));
  const size_t keyEnd = s.size();
  s.push_back(u':');
  size_t pos = 0;
  for (int field = 0; field < 3; ++field) {
    if (pos >= keyEnd) return;  // the key ends before this field
    while (pos < keyEnd && s[pos] == u' ') ++pos;
    if (field == 2) {
      text = s.substr(pos, keyEnd - pos);
      return;
    }
    const size_t colon = s.find(u':', pos);
    const int32_t v = StrToIntDef(std::u16string_view(s).substr(pos, colon - pos), 0);
    (field == 0 ? width : height) = v;
    pos = colon + 1;
  }
}

}  // namespace foundation
