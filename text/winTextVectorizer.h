// The vectorizer over the platform's fonts: text elements whose fallback
// accepts only outline fonts, glyph outlines read from the platform's outline
// records and fitted to the glyph's black box, and line metrics.
#pragma once

#include <cstdint>
#include <span>

#include "text/kvTextVectorizer.h"

namespace text {

class TWinVectorizer : public TVectorizer {
 public:
  QEL_CLASSNAME(TWinVectorizer)
  TTextElementEx* CreateTextElement(const TFontParams& Font, const std::u16string& Text) override;
  bool GetGlyphPath(const TGlyphInfo& Glyph, TPath& Path) override;
  void GetLineMetrics(TLineMetrics& Metrics, const TFontParams& Font) override;
  bool IsOutlineFont(const TFontParams& Font) override;
};

// Appends the figures of an outline record buffer to Path: each polygon's
// start becomes a move, line records lines, quadratic spline records
// quadratic segments (with the implied on-curve midpoints), cubic records
// cubic segments. A polygon header of another type than 24 raises the
// assertion "GetGlyphOutline: don't exist HeaderType".
void ReadGlyphOutline(std::span<const uint8_t> Buffer, TPath& Path);
// Moves the outline right so it starts no further left than A, then
// compresses it towards its left edge so it ends no further right than A + B.
void FitGlyphToBlackBox(TPath& Path, int32_t A, int32_t B);

// Fills CreateVectorizer with the platform vectorizer.
void InitWinTextVectorizer();
void DoneWinTextVectorizer();

}  // namespace text
