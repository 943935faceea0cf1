// The source of glyph outlines and font metrics for vector text: an
// abstract vectorizer and the factory hook a platform unit fills.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/SysObj.h"
#include "text/GraphicsParams.h"
#include "text/kvRasterizerTypes.h"
#include "text/kvTextElement.h"

namespace text {

struct TLineMetrics {
  int32_t Ascent = 0;   // pixels above the baseline
  int32_t Descent = 0;  // pixels below it
  float UnderlinePosition = 0;  // signed distance from the baseline, negative below
  float UnderlineThickness = 0;
  float StrikeOutPosition = 0;  // above the baseline
  float StrikeOutThickness = 0;
};

class TVectorizer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TVectorizer)
  // A new element holding Text laid out in Font, owned by the caller.
  virtual TTextElementEx* CreateTextElement(const TFontParams& Font, const std::u16string& Text) = 0;
  // The outline of one glyph in pixels, y downward, origin at the glyph's
  // origin on the baseline. Reads the glyph key, index and size of Glyph.
  virtual bool GetGlyphPath(const TGlyphInfo& Glyph, TPath& Path) = 0;
  virtual void GetLineMetrics(TLineMetrics& Metrics, const TFontParams& Font) = 0;
  virtual bool IsOutlineFont(const TFontParams& Font) = 0;
};

using TCreateVectorizerFunc = TVectorizer* (*)();
// A new vectorizer, or none until a platform unit fills the hook. Set at
// start-up, before threads use it.
extern TCreateVectorizerFunc CreateVectorizer;

// The style bits of a glyph key's style text: the text gets a trailing ","
// and is split there; blanks before each item are skipped; of the first
// four items "Bold", "Italic", "Underline" and "StrikeOut" (exact) count.
uint8_t ParseGlyphKeyStyle(const std::u16string& Text);
// Splits a glyph key ("name:style") into font name and style bits.
void SplitGlyphKey(const std::u16string& Key, std::u16string& Name, uint8_t& Style);

}  // namespace text
