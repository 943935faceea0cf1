#include "render3d/kvImageText.h"

#include <algorithm>

namespace render3d {

TTextColorKey TextColorKeyOf(const text::TFontParams& F) {
  return TTextColorKey{F.Color.B, F.Color.G, F.Color.R, F.BgColor.B, F.BgColor.G, F.BgColor.R,
                       uint8_t(F.Transparent ? 1 : 0)};
}

TImageTextElement::TImageTextElement(const std::u16string& aText, int32_t Start, int32_t aCount,
                                     const text::TFontParams& aFont, int32_t aFlags)
    : TTextElement(aFont, aFlags) {
  const int32_t len = int32_t(aText.size());
  const int32_t from = std::max(Start, 1);
  const int32_t n = std::clamp(aCount, 0, std::max(len - from + 1, 0));
  if (n > 0) Text = aText.substr(size_t(from - 1), size_t(n));
  Length = int32_t(Text.size());
  Count = Length;
}

void TImageTextElement::Dispose() {
  for (int32_t i = 0; i < CacheCount; ++i)
    if (Cache[size_t(i)].Image) {
      Cache[size_t(i)].Image->Free();
      Cache[size_t(i)].Image = nullptr;
    }
  CacheCount = 0;
  TTextElement::Dispose();
}

void TImageTextElement::GetFontMetrics(text::TTextFontMetrics& M) {
  if (!(Computed & 1)) {
    MeasureImageText(Metrics, Font);
    Computed |= 1;
  }
  M = Metrics;
}

void TImageTextElement::GetExtent(text::TTextExtent& E) {
  if (!(Computed & 2)) {
    int32_t left = 0, right = 0, total = 0;
    if (text::TFontUtils* fu = text::FontUtils()) total = fu->GetTextExtent(Font, Text, 1, Length, left, right);
    Extent.InkLeft = left;
    Extent.InkWidth = total - left - right;
    Extent.AfterInk = right;
    Extent.Width = total;
    Computed |= 2;
  }
  E = Extent;
}

int32_t TImageTextElement::GetRangeWidth(int32_t Start, int32_t aCount) {
  text::TFontUtils* fu = text::FontUtils();
  if (!fu || aCount <= 0) return fu ? fu->GetTextWidth(Font, Text, Start, 0) : 0;
  return fu->GetTextWidth(Font, Text, Start, aCount);
}

void TImageTextElement::GetCaretPos(int32_t Index, int32_t& Before, int32_t& After) {
  Index = std::clamp(Index, 0, Length);
  if (Index == 0) {
    Before = After = GetRangeWidth(1, 0);
    return;
  }
  Before = GetRangeWidth(1, Index - 1);
  After = GetRangeWidth(1, Index);
}

bool TImageTextElement::IsClusterContinuation(int32_t) { return false; }

void TImageTextElement::FetchDecoration() {
  if (DecorationSecond != INT32_MAX) return;
  int32_t pos = 0, thick = 0;
  if (text::TFontUtils* fu = text::FontUtils()) fu->GetUnderline(Font, pos, thick);
  DecorationFirst = pos;
  DecorationSecond = thick;
}

int32_t TImageTextElement::GetUnderlinePosition() {
  FetchDecoration();
  return DecorationFirst;
}

int32_t TImageTextElement::GetUnderlineThickness() {
  FetchDecoration();
  return DecorationSecond;
}

text::TTextElement* TImageTextElement::CloneRange(int32_t Start, int32_t aCount) {
  return new TImageTextElement(Text, Start, aCount, Font, Flags);
}

int32_t TImageTextElement::FindCacheSlot(const TTextColorKey& Key) {
  for (int32_t i = 0; i < CacheCount; ++i)
    if (Cache[size_t(i)].Key == Key) {
      if (i > 0) {
        const TCacheEntry hit = Cache[size_t(i)];
        for (int32_t j = i; j > 0; --j) Cache[size_t(j)] = Cache[size_t(j - 1)];
        Cache[0] = hit;
      }
      return 0;
    }
  // A new entry is not moved to the front until it is hit again.
  const int32_t slot = CacheCount < 3 ? CacheCount++ : 2;
  TCacheEntry& e = Cache[size_t(slot)];
  if (e.Image) e.Image->Free();
  e.Image = nullptr;
  e.Key = Key;
  return slot;
}

imaging::TImage* TImageTextElement::GetPiece(int32_t, TPoint& Offset) {
  if (Text.empty()) {
    Offset = PieceOffset;
    return nullptr;
  }
  TCacheEntry& e = Cache[size_t(FindCacheSlot(TextColorKeyOf(Font)))];
  if (!e.Image)
    if (text::TFontUtils* fu = text::FontUtils()) e.Image = fu->RenderText(Font, Text, 1, Length, PieceOffset);
  Offset = PieceOffset;
  return e.Image;
}

void MeasureImageText(text::TTextFontMetrics& M, const text::TFontParams& Font) {
  M = text::TTextFontMetrics{};
  text::TFontUtils* fu = text::FontUtils();
  if (!fu) return;
  text::TFontMetrics fm;
  fu->GetFontMetrics(fm, Font);
  M.Ascent = fm.Ascent;
  M.Descent = fm.Descent;
  M.Height = fm.Height;
}

TImageTextElement* CreateImageTextElement(const std::u16string& Text, int32_t Start, int32_t Count,
                                          const text::TFontParams& Font, int32_t Flags) {
  if (!text::FontUtils()) return nullptr;
  return new TImageTextElement(Text, Start, Count, Font, Flags);
}

}  // namespace render3d
