// Typed readers of comma-separated INI values (pairs, float vectors, font
// styles) and small conversions of the same family. Every reader accepts a
// missing item, whose value is empty and gives the default.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/FloatGeometry.h"
#include "foundation/kvIni.h"

namespace foundation {

// Two items, as in 10,20; any other number of items gives the default.
TPoint IniItemGetIntPair(const TIniItem* item, TPoint def);
// Four or three single-precision items, each falling back to the default's
// element; any other number of items gives the default.
std::array<float, 4> IniItemGetFloat4(const TIniItem* item, const std::array<float, 4>& def);
std::array<float, 3> IniItemGetFloat3(const TIniItem* item, const std::array<float, 3>& def);

enum : int32_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
// Items compared exactly with "Bold", "Italic", "Underline" and "StrikeOut";
// 0 for a missing item.
int32_t IniItemGetFontStyle(const TIniItem* item);

// True exactly for the text "1".
bool IsTextOne(std::u16string_view s);
// Fixed point with 6 decimals, trailing zeros and a trailing "." removed.
std::u16string FloatToText6(double value);

// A resource key "TextWithSize:" width ":" height ":" text; outputs the key
// does not reach are left as they were.
void ParseTextWithSizeKey(std::u16string_view key, int32_t& width, int32_t& height, std::u16string& text);

}  // namespace foundation
