// The optional glyph services of the platform, bound at start-up: a face's
// Unicode ranges as 16-bit glyph sets (the coverage filler font substitution
// falls back to) and the ABC widths of glyph indices (used by the
// vectorizer and the text elements). Either hook stays empty until
// InitGdiDynamicFunctions installs it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "foundation/kpExceptions.h"
#include "platform/fonts/api.h"
#include "text/GraphicsParams.h"
#include "text/winDWTextUtils.h"

namespace text {

class ERangeError : public foundation::TCommonException {
 public:
  using TCommonException::TCommonException;
};

using TFontCoverageFiller = bool (*)(const TFontParams& Params, TFontUnicodeChars* Coverage);
using TGlyphABCWidthsFunc = bool (*)(platform::fonts::Font* Font, std::span<const uint16_t> Glyphs, int32_t Start,
                                     int32_t Count, std::vector<platform::fonts::AbcWidth>& Widths);

extern TFontCoverageFiller GdiFontUnicodeCharsHook;
extern TGlyphABCWidthsFunc GlyphABCWidthsHook;

// Adds one glyph-set range: Count code points from First.
void AddGlyphSetRange(TFontUnicodeChars* Coverage, uint32_t First, uint32_t Count);
// The face's 16-bit glyph sets: each range from its first code unit for its
// count of code points. True when the glyph set could be read.
bool GetFontUnicodeCharsGDI(const TFontParams& Params, TFontUnicodeChars* Coverage);
// The ABC widths of Count glyphs from Start. A Start outside the array, a
// negative Count or a range past its end raises ERangeError.
bool GetGlyphABCWidths(platform::fonts::Font* Font, std::span<const uint16_t> Glyphs, int32_t Start, int32_t Count,
                       std::vector<platform::fonts::AbcWidth>& Widths);

void InitGdiDynamicFunctions();
void DoneGdiDynamicFunctions();

}  // namespace text
