// A text element: one line of text laid out in one requested font. The
// abstract base answers the cached width questions (prefix and suffix
// widths, how many characters fit) and the paint and layout rectangles from
// the measurements its implementation provides.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "text/GraphicsParams.h"

namespace text {

struct TTextExtent {
  int32_t InkLeft = 0;   // x of the leftmost ink from the line's start
  int32_t InkWidth = 0;  // rightmost minus leftmost ink x
  int32_t AfterInk = 0;  // Width minus the ink's right edge
  int32_t Width = 0;     // sum of the advances
};

struct TTextFontMetrics {
  int32_t Ascent = 0;
  int32_t Descent = 0;
  int32_t Height = 0;
  int32_t Reserved[3] = {};
};

struct TGlyphID {
  std::u16string GlyphKey;  // font name, ":", StyleToText of the style
  uint16_t GlyphIndex = 0;
  float FontSize = 0;
};

struct TGlyphInfo {
  TGlyphID ID;
  int32_t AWidth = 0, BWidth = 0, CWidth = 0;
  int32_t Advance = 0;
  int32_t Ascent = 0, Descent = 0, Height = 0;
  int32_t Reserved1[3] = {};
  int32_t PenX = 0;
  int32_t Reserved2 = 0;
};

// Reading-order prefixes of an element's text.
enum : int32_t { tfNone = 0, tfLeftToRightEmbedding = 1, tfRightToLeftEmbedding = 2, tfLeftToRightOverride = 3,
                 tfRightToLeftOverride = 4 };

// The caller's rule for stepping back from n characters (to a word break,
// for example).
using TStepBackMethod = std::function<int32_t(int32_t)>;

// "Bold", "Italic", "Underline", "StrikeOut" for the style bits, joined by ",".
std::u16string StyleToText(uint8_t Style);

class TTextElement : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TTextElement)
  TTextElement(const TFontParams& Font, int32_t Flags);

  virtual void GetFontMetrics(TTextFontMetrics& Metrics) = 0;
  // Caret x before and after character Index (1-based, clamped to 0..Count).
  virtual void GetCaretPos(int32_t Index, int32_t& Before, int32_t& After) = 0;
  virtual bool IsClusterContinuation(int32_t Index) = 0;
  virtual int32_t GetUnderlineThickness() = 0;
  virtual int32_t GetUnderlinePosition() = 0;
  virtual int32_t GetRangeWidth(int32_t Start, int32_t Count) = 0;
  virtual void GetExtent(TTextExtent& Extent) = 0;
  // How many characters from Start fit MaxWidth, stepping back with StepBack.
  virtual int32_t GetFitCount(int32_t Start, int32_t MaxWidth, const TStepBackMethod& StepBack);
  virtual TTextElement* CloneRange(int32_t Start, int32_t Count) = 0;
  virtual void GetPaintRect(foundation::TRect& Rect, const foundation::TPoint& Position);
  virtual void GetLayoutRect(foundation::TRect& Rect, const foundation::TPoint& Position);

  int32_t GetRangeWidthCached(int32_t Start, int32_t Count);
  int32_t GetWidth();

  std::vector<int32_t> PrefixWidths, SuffixWidths;
  int32_t Flags = 0;
  int32_t Count = 0;
  TFontParams Font;

 protected:
  void ResetWidthCaches();
};

class TTextElementEx : public TTextElement {
 public:
  QEL_CLASSNAME(TTextElementEx)
  using TTextElement::TTextElement;
  virtual int32_t GetGlyphCount() = 0;
  virtual void GetGlyphInfo(int32_t Glyph, TGlyphInfo& Info) = 0;
};

}  // namespace text
