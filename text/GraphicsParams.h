// The small value types and arithmetic that text, drawing and controls
// share: the 32-bit ARGB colour (packing, premultiplication, averaging,
// blending, one-pixel compositing), the conversions between the 3-byte pixel
// colour, ARGB and the Windows colour reference, the parser of colour texts,
// and the font-parameter record. Everything here is a pure function on values.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/kvByteString.h"
#include "imaging/kvPixelFormat.h"

namespace text {

using imaging::TFColor;
using imaging::TFColorA;

// Alpha in bits 24-31, red 16-23, green 8-15, blue 0-7 (in memory the bytes
// of a TFColorA). The value 0 is the transparent colour.
using TARGB = uint32_t;
// A Windows colour reference: 0x00BBGGRR, red in the low byte.
using TColorRef = uint32_t;

constexpr TARGB TransparentColor = 0;

constexpr TARGB MakeARGB(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  return (TARGB(a) << 24) | (TARGB(r) << 16) | (TARGB(g) << 8) | TARGB(b);
}
constexpr uint8_t ARGBAlpha(TARGB c) { return uint8_t(c >> 24); }
constexpr uint8_t ARGBRed(TARGB c) { return uint8_t(c >> 16); }
constexpr uint8_t ARGBGreen(TARGB c) { return uint8_t(c >> 8); }
constexpr uint8_t ARGBBlue(TARGB c) { return uint8_t(c); }

TFColor MakeFColor(uint8_t r, uint8_t g, uint8_t b);
TARGB FColorToARGB(TFColor color, uint8_t a);
// The colour channels of an ARGB value (its alpha dropped).
TFColor ARGBToFColor(TARGB color);
// The ARGB with its alpha byte cleared.
TARGB StripAlpha(TARGB color);
TColorRef FColorToColorRef(TFColor color);
TFColor ColorRefToFColor(TColorRef ref);

// Alpha 255 unchanged, alpha 0 the transparent colour, otherwise each colour
// channel times alpha div 255.
TARGB PremultiplyARGB(TARGB color);
// Per channel (a + b) shr 1.
TFColor AverageFColor(TFColor a, TFColor b);
TARGB AverageARGB(TARGB a, TARGB b);
// Per channel a + w * (b - a) / 256, truncating toward zero; w runs from 0
// (a) to 256 (b) and is held to that range.
TFColor BlendFColor(TFColor a, TFColor b, int32_t w);
TARGB BlendARGB(TARGB a, TARGB b, int32_t w);
// Composites color over one non-premultiplied ARGB pixel in place, in 8-bit
// fixed point.
void BlendPixelOver(TARGB& pixel, TARGB color);

bool SameFColor(TFColor a, TFColor b);
// a = b, or anyTransparent is set and both have alpha 0.
bool SameARGB(TARGB a, TARGB b, bool anyTransparent);

// Reads a colour text: "#RRGGBB" or a decimal colour reference, each with an
// optional alpha item; or "r,g,b" with an optional alpha item. An empty text
// or one of more than four items gives def; unreadable items give their own
// defaults (0 for a channel, 255 for alpha). Never raises.
TARGB ByteStrToColorDef(const foundation::TByteString& text, TARGB def);
// As ByteStrToColorDef with the transparent colour as default.
TARGB ByteStrToColor(const foundation::TByteString& text);
// The UTF-8 of text, read by ByteStrToColor.
TARGB StrToColor(const std::u16string& text);

// Font style bits.
enum : uint8_t { fpBold = 1, fpItalic = 2, fpUnderline = 4, fpStrikeOut = 8 };
// Parts of a font-parameter record chosen by AssignFontParams.
enum : uint32_t { fpmName = 1, fpmSize = 2, fpmStyle = 4, fpmColors = 8 };

struct TFontParams {
  std::u16string Name;
  float Size = 0;  // points
  uint8_t Style = 0;
  TFColor Color{};
  TFColor BgColor{};
  bool Transparent = false;  // the background is not painted
};

void InitFontParams(TFontParams& params, const std::u16string& name, float size, uint8_t style, TFColor color,
                    TFColor bgColor, bool transparent);
// Copies the parts chosen by mask that differ; true when anything changed.
bool AssignFontParams(TFontParams& target, const TFontParams& source, uint32_t mask);
// Same name (exact), size and style; colours are not compared.
bool SameFont(const TFontParams& a, const TFontParams& b);
// Same Transparent and Color, and, unless transparent, same BgColor.
bool SameFontColors(TFColor colorA, TFColor bgA, bool transparentA, TFColor colorB, TFColor bgB,
                    bool transparentB);
bool SameFontParamsColors(const TFontParams& a, const TFontParams& b);

}  // namespace text
