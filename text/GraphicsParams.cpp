#include "text/GraphicsParams.h"

#include <algorithm>

#include "foundation/kvByteStringLists.h"

namespace text {

using foundation::TByteString;
using foundation::TCommaList;

TFColor MakeFColor(uint8_t r, uint8_t g, uint8_t b) { return TFColor{b, g, r}; }

TARGB FColorToARGB(TFColor color, uint8_t a) { return MakeARGB(color.R, color.G, color.B, a); }

TFColor ARGBToFColor(TARGB color) { return MakeFColor(ARGBRed(color), ARGBGreen(color), ARGBBlue(color)); }

TARGB StripAlpha(TARGB color) { return color & 0x00FFFFFFu; }

TColorRef FColorToColorRef(TFColor color) {
  return TColorRef(color.R) | (TColorRef(color.G) << 8) | (TColorRef(color.B) << 16);
}

TFColor ColorRefToFColor(TColorRef ref) { return MakeFColor(uint8_t(ref), uint8_t(ref >> 8), uint8_t(ref >> 16)); }

TARGB PremultiplyARGB(TARGB color) {
  const uint32_t a = ARGBAlpha(color);
  if (a == 255) return color;
  if (a == 0) return TransparentColor;
  return MakeARGB(uint8_t(ARGBRed(color) * a / 255), uint8_t(ARGBGreen(color) * a / 255),
                  uint8_t(ARGBBlue(color) * a / 255), uint8_t(a));
}

TFColor AverageFColor(TFColor a, TFColor b) {
  return TFColor{uint8_t((a.B + b.B) >> 1), uint8_t((a.G + b.G) >> 1), uint8_t((a.R + b.R) >> 1)};
}

TARGB AverageARGB(TARGB a, TARGB b) {
  TARGB out = 0;
  for (int shift = 0; shift < 32; shift += 8) out |= ((((a >> shift) & 0xFF) + ((b >> shift) & 0xFF)) >> 1) << shift;
  return out;
}

namespace {

// A weight outside 0..256 would carry a channel past its byte.
int32_t ClampWeight(int32_t w) { return std::clamp(w, 0, 256); }

uint8_t BlendChannel(int32_t a, int32_t b, int32_t w) {
  // C++ division truncates toward zero, as the blend requires.
  return uint8_t(a + (w * (b - a)) / 256);
}

}  // namespace

TFColor BlendFColor(TFColor a, TFColor b, int32_t w) {
  w = ClampWeight(w);
  return TFColor{BlendChannel(a.B, b.B, w), BlendChannel(a.G, b.G, w), BlendChannel(a.R, b.R, w)};
}

TARGB BlendARGB(TARGB a, TARGB b, int32_t w) {
  w = ClampWeight(w);
  TARGB out = 0;
  for (int shift = 0; shift < 32; shift += 8)
    out |= TARGB(BlendChannel(int32_t((a >> shift) & 0xFF), int32_t((b >> shift) & 0xFF), w)) << shift;
  return out;
}

void BlendPixelOver(TARGB& pixel, TARGB color) {
  const int32_t sa = ARGBAlpha(color);
  const int32_t pa = ARGBAlpha(pixel);
  if (sa == 0) return;
  if (sa == 255 || pa == 0) {
    pixel = color;
    return;
  }
  TARGB out = 0;
  if (pa == 255) {
    for (int shift = 0; shift < 24; shift += 8) {
      const int32_t s = int32_t((color >> shift) & 0xFF);
      const int32_t p = int32_t((pixel >> shift) & 0xFF);
      // An arithmetic shift floors, rounding toward minus infinity.
      out |= TARGB(uint8_t(p + (((s - p) * sa) >> 8))) << shift;
    }
    pixel = out | 0xFF000000u;
    return;
  }
  const int32_t e = pa + sa - ((sa * pa) >> 8);
  const int32_t f = 65536 / e;
  for (int shift = 0; shift < 24; shift += 8) {
    const int32_t s = int32_t((color >> shift) & 0xFF);
    const int32_t p = int32_t((pixel >> shift) & 0xFF);
    // Never above the larger of s and p, so it fits its byte.
    const int32_t v = (f * (sa * (s - ((pa * p) >> 8)) + pa * p)) >> 16;
    out |= TARGB(uint8_t(v)) << shift;
  }
  pixel = out | (TARGB(e >= 256 ? 255 : e) << 24);
}

bool SameFColor(TFColor a, TFColor b) { return a.R == b.R && a.G == b.G && a.B == b.B; }

bool SameARGB(TARGB a, TARGB b, bool anyTransparent) {
  return a == b || (anyTransparent && ARGBAlpha(a) == 0 && ARGBAlpha(b) == 0);
}

// ---- Colour texts ------------------------------------------------------------

namespace {

// One item of the one- or two-item form: "#" and hexadecimal digits, or a
// decimal integer. An empty item gives def; a "#" item with a character that
// is not a hexadecimal digit gives def; a decimal item that does not read
// gives decimalDef.
int64_t ReadHexOrDecimal(const TCommaList& list, int i, uint32_t def, int32_t decimalDef) {
  int start, length;
  if (!list.GetItemRange(i, start, length)) return def;
  if (list.Text.GetByte(start) == '#') return list.Text.HexToIntDef(def, start + 1, length - 1);
  return list.Text.ToIntDef(decimalDef, start, length);
}

}  // namespace

TARGB ByteStrToColorDef(const TByteString& text, TARGB def) {
  TCommaList list;
  list.Split(text, ',');
  const int count = list.GetCount();
  if (count == 0 || count > 4) return def;
  if (count <= 2) {
    // The colour: "#RRGGBB" (digits beyond six shift into the dropped top
    // byte) or a colour reference 0x00BBGGRR.
    int start, length;
    const bool hex = list.GetItemRange(0, start, length) && list.Text.GetByte(start) == '#';
    const uint32_t v = uint32_t(ReadHexOrDecimal(list, 0, 0, 0));
    const uint8_t r = hex ? uint8_t(v >> 16) : uint8_t(v);
    const uint8_t g = uint8_t(v >> 8);
    const uint8_t b = hex ? uint8_t(v) : uint8_t(v >> 16);
    // Alpha above 255 is held at 255; a negative decimal alpha reads as 0
    // rather than wrapping into an arbitrary opacity.
    const int64_t a = count == 2 ? ReadHexOrDecimal(list, 1, 255, 255) : 255;
    return MakeARGB(r, g, b, uint8_t(std::clamp<int64_t>(a, 0, 255)));
  }
  // "r,g,b[,a]": each value keeps its low 8 bits.
  const uint8_t r = uint8_t(list.GetInt(0, 0));
  const uint8_t g = uint8_t(list.GetInt(1, 0));
  const uint8_t b = uint8_t(list.GetInt(2, 0));
  const uint8_t a = count == 4 ? uint8_t(list.GetInt(3, 255)) : 255;
  return MakeARGB(r, g, b, a);
}

TARGB ByteStrToColor(const TByteString& text) { return ByteStrToColorDef(text, TransparentColor); }

TARGB StrToColor(const std::u16string& text) { return ByteStrToColor(TByteString::FromUnicode(text)); }

// ---- Font parameters ---------------------------------------------------------

void InitFontParams(TFontParams& params, const std::u16string& name, float size, uint8_t style, TFColor color,
                    TFColor bgColor, bool transparent) {
  params.Name = name;
  params.Size = size;
  params.Style = style;
  params.Color = color;
  params.BgColor = bgColor;
  params.Transparent = transparent;
}

bool AssignFontParams(TFontParams& target, const TFontParams& source, uint32_t mask) {
  bool changed = false;
  if ((mask & fpmName) && target.Name != source.Name) {
    target.Name = source.Name;
    changed = true;
  }
  // A NaN size never equals anything, so it always counts as a change.
  if ((mask & fpmSize) && !(target.Size == source.Size)) {
    target.Size = source.Size;
    changed = true;
  }
  if ((mask & fpmStyle) && target.Style != source.Style) {
    target.Style = source.Style;
    changed = true;
  }
  if ((mask & fpmColors) && !SameFontParamsColors(target, source)) {
    target.Color = source.Color;
    target.BgColor = source.BgColor;
    target.Transparent = source.Transparent;
    changed = true;
  }
  return changed;
}

bool SameFont(const TFontParams& a, const TFontParams& b) {
  return a.Name == b.Name && a.Size == b.Size && a.Style == b.Style;
}

bool SameFontColors(TFColor colorA, TFColor bgA, bool transparentA, TFColor colorB, TFColor bgB,
                    bool transparentB) {
  return transparentA == transparentB && SameFColor(colorA, colorB) && (transparentA || SameFColor(bgA, bgB));
}

bool SameFontParamsColors(const TFontParams& a, const TFontParams& b) {
  return SameFontColors(a.Color, a.BgColor, a.Transparent, b.Color, b.BgColor, b.Transparent);
}

}  // namespace text
