// Text drawn as images: a text element whose measurements come from the
// process-wide font services and whose drawing is a picture of the text
// rendered by them, cached per element for three colour combinations.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "imaging/kvImage.h"
#include "text/kvTextElement.h"
#include "text/kvTextServices.h"

namespace render3d {

using foundation::TPoint;

// Colour, background colour (three bytes each) and the transparent flag.
using TTextColorKey = std::array<uint8_t, 7>;
TTextColorKey TextColorKeyOf(const text::TFontParams& Font);

class TImageTextElement : public text::TTextElement {
 public:
  QEL_CLASSNAME(TImageTextElement)
  // Start is 1-based: the element holds Count characters of Text from Start.
  TImageTextElement(const std::u16string& Text, int32_t Start, int32_t Count, const text::TFontParams& Font,
                    int32_t Flags);
  void Dispose() override;

  void GetFontMetrics(text::TTextFontMetrics& Metrics) override;
  void GetCaretPos(int32_t Index, int32_t& Before, int32_t& After) override;  // the character span
  bool IsClusterContinuation(int32_t Index) override;
  int32_t GetUnderlineThickness() override;  // second decoration metric
  int32_t GetUnderlinePosition() override;   // first decoration metric
  int32_t GetRangeWidth(int32_t Start, int32_t Count) override;
  void GetExtent(text::TTextExtent& Extent) override;
  text::TTextElement* CloneRange(int32_t Start, int32_t Count) override;

  int32_t PieceCount() const { return Text.empty() ? 0 : 1; }
  imaging::TImage* GetPiece(int32_t Index, TPoint& Offset);
  int32_t FindCacheSlot(const TTextColorKey& Key);

  struct TCacheEntry {
    imaging::TImage* Image = nullptr;
    TTextColorKey Key{};
  };
  std::u16string Text;
  int32_t Length = 0;
  std::array<TCacheEntry, 3> Cache{};
  int32_t CacheCount = 0;
  TPoint PieceOffset;
  int32_t DecorationFirst = 0, DecorationSecond = INT32_MAX;
  text::TTextFontMetrics Metrics;
  text::TTextExtent Extent;
  uint8_t Computed = 0;  // bit 1 metrics, bit 2 extent

 private:
  void FetchDecoration();
};

// Zero metrics without font services.
void MeasureImageText(text::TTextFontMetrics& Metrics, const text::TFontParams& Font);
// Null without font services.
TImageTextElement* CreateImageTextElement(const std::u16string& Text, int32_t Start, int32_t Count,
                                          const text::TFontParams& Font, int32_t Flags);

}  // namespace render3d
