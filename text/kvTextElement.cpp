#include "text/kvTextElement.h"

#include <algorithm>

#include "foundation/kpExceptions.h"

namespace text {

std::u16string StyleToText(uint8_t Style) {
  static const char16_t* const names[] = {u"Bold", u"Italic", u"Underline", u"StrikeOut"};
  std::u16string out;
  for (int i = 0; i < 4; ++i) {
    if (!(Style & (1 << i))) continue;
    if (!out.empty()) out += u',';
    out += names[i];
  }
  return out;
}

TTextElement::TTextElement(const TFontParams& aFont, int32_t aFlags) : Flags(aFlags), Font(aFont) {}

void TTextElement::ResetWidthCaches() {
  PrefixWidths.clear();
  SuffixWidths.clear();
}

int32_t TTextElement::GetWidth() {
  TTextExtent e;
  GetExtent(e);
  return e.Width;
}

int32_t TTextElement::GetRangeWidthCached(int32_t Start, int32_t aCount) {
  if (aCount <= 0) return 0;
  if (Start <= 1 && aCount == Count) return GetWidth();
  if (Start < 1) Start = 1;
  if (Start > Count) return 0;
  aCount = std::min(aCount, Count - Start + 1);
  if (PrefixWidths.empty()) {
    PrefixWidths.assign(size_t(Count), -1);
    SuffixWidths.assign(size_t(Count), -1);
  }
  QEL_ASSERT(aCount >= 1 && !PrefixWidths.empty(), "GetRangeWidthCached");
  const size_t slot = size_t(aCount - 1);
  std::vector<int32_t>* cache = nullptr;
  if (Start == 1)
    cache = &PrefixWidths;
  else if (Start + aCount - 1 == Count)
    cache = &SuffixWidths;
  if (cache && (*cache)[slot] > 0) return (*cache)[slot];
  const int32_t w = GetRangeWidth(Start, aCount);
  if (cache) (*cache)[slot] = w;
  return w;
}

int32_t TTextElement::GetFitCount(int32_t Start, int32_t MaxWidth, const TStepBackMethod& StepBack) {
  // An empty element fits nothing (and has no character to measure).
  if (Count <= 0) return 0;
  if (Start <= 0) Start = 1;
  if (Start > Count) Start = Count;
  int32_t n = Count - Start + 1;
  if (Start == 1 && GetWidth() <= MaxWidth) return n;
  while (n > 0 && GetRangeWidthCached(Start, n) > MaxWidth) {
    const int32_t back = StepBack ? StepBack(n) : n - 1;
    // A rule that does not step back still makes progress.
    n = back < n ? std::max(back, 0) : n - 1;
  }
  return n;
}

void TTextElement::GetPaintRect(foundation::TRect& Rect, const foundation::TPoint& Position) {
  TTextExtent e;
  GetExtent(e);
  TTextFontMetrics m;
  GetFontMetrics(m);
  const int32_t x = Position.X, y = Position.Y;
  Rect.Top = y;
  Rect.Bottom = y + m.Height;
  const bool lines = (Font.Style & (fpUnderline | fpStrikeOut)) != 0;
  if (!Font.Transparent || lines) {
    Rect.Left = std::min(x, x + e.InkLeft);
    Rect.Right = std::max(x + e.InkLeft + e.InkWidth, x + e.Width);
  } else {
    Rect.Left = x + e.InkLeft;
    Rect.Right = x + e.InkLeft + e.InkWidth;
  }
  Rect.Right += 1;
  if (Font.Style & fpUnderline)
    Rect.Bottom = std::max(Rect.Bottom, y + m.Ascent - GetUnderlinePosition() + GetUnderlineThickness());
}

void TTextElement::GetLayoutRect(foundation::TRect& Rect, const foundation::TPoint& Position) {
  TTextFontMetrics m;
  GetFontMetrics(m);
  Rect = {Position.X, Position.Y, Position.X + GetWidth(), Position.Y + m.Height};
}

}  // namespace text
