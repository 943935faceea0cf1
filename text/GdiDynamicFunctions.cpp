#include "text/GdiDynamicFunctions.h"

#include <algorithm>

#include "text/winFontUtils.h"

namespace text {

TFontCoverageFiller GdiFontUnicodeCharsHook = nullptr;
TGlyphABCWidthsFunc GlyphABCWidthsHook = nullptr;

void AddGlyphSetRange(TFontUnicodeChars* Coverage, uint32_t First, uint32_t Count) {
  if (Count > 0) Coverage->AddRange(First, First + Count - 1);
}

bool GetFontUnicodeCharsGDI(const TFontParams& Params, TFontUnicodeChars* Coverage) {
  platform::fonts::FontHandle f = CreateFontHandle(Params);
  if (!f || !f->isScalable() || !Coverage) return false;
  // A glyph set holds (first code unit, count) pairs of the 16-bit plane.
  for (const auto& r : f->unicodeRanges()) {
    if (r.first > 0xFFFF) break;
    const uint32_t first = r.first;
    const uint32_t count = std::min<uint32_t>(r.last, 0xFFFF) - first + 1;
    AddGlyphSetRange(Coverage, first, count);
  }
  return true;
}

bool GetGlyphABCWidths(platform::fonts::Font* Font, std::span<const uint16_t> Glyphs, int32_t Start, int32_t Count,
                       std::vector<platform::fonts::AbcWidth>& Widths) {
  if (Start < 0 || size_t(Start) > Glyphs.size() || Count < 0 || size_t(Start) + size_t(Count) > Glyphs.size())
    throw ERangeError("Range check error");
  if (!Font) return false;
  Widths.assign(size_t(Count), {});
  return Font->glyphAbcWidths(Glyphs.subspan(size_t(Start), size_t(Count)), Widths);
}

void InitGdiDynamicFunctions() {
  GdiFontUnicodeCharsHook = GetFontUnicodeCharsGDI;
  GlyphABCWidthsHook = GetGlyphABCWidths;
}

void DoneGdiDynamicFunctions() {
  GdiFontUnicodeCharsHook = nullptr;
  GlyphABCWidthsHook = nullptr;
}

}  // namespace text
