// The font services over the platform's fonts: a font record turned into a
// font at the screen's resolution, text measured with its overhangs, and a
// run rendered into a bitmap whose alpha is recovered from the anti-aliased
// drawing when the background is transparent.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "imaging/kvFastDIB.h"
#include "platform/fonts/api.h"
#include "text/kvTextServices.h"

namespace text {

// The logical font the platform makes fonts from.
struct TLogFont {
  int32_t lfHeight = 0;  // negative: character height in pixels
  int32_t lfWidth = 0;
  int32_t lfWeight = 0;
  uint8_t lfItalic = 0;
  uint8_t lfUnderline = 0;
  uint8_t lfStrikeOut = 0;
  uint8_t lfCharSet = 0;
  uint8_t lfQuality = 0;
  char16_t lfFaceName[32] = {};
};

constexpr uint8_t DEFAULT_CHARSET = 1;
constexpr uint8_t PROOF_QUALITY = 2;

void GetScreenDpi(int32_t& X, int32_t& Y);
// Fills LogFont for Size points at Dpi; a face name of 32 or more characters
// becomes "Arial". Always true.
bool MakeLogFont(TLogFont& LogFont, int32_t Dpi, const std::u16string& Name, float Size, uint8_t Style);
platform::fonts::FontHandle CreateFontFromLogFont(const TLogFont& LogFont);
// The font of Params at the screen's vertical resolution.
platform::fonts::FontHandle CreateFontHandle(const TFontParams& Params);

// Width of the 1-based range with the overhangs of its first and last
// characters: negative overhangs widen the width and are kept, others are 0.
int32_t GetTextExtentOverhang(platform::fonts::Font* Font, const std::u16string& Text, int32_t Start, int32_t Count,
                              int32_t& Left, int32_t& Right);
void MeasureTextRange(TTextMeasure& Measure, platform::fonts::Font* Font, const std::u16string& Text, int32_t Start,
                      int32_t Count);

// A DIB whose creations and disposals are counted process-wide.
class TCountDib : public imaging::TFastDIB {
 public:
  QEL_CLASSNAME(TCountDib)
  TCountDib();
  void Dispose() override;
  static int32_t LiveCount();
};

class TWinFontUtils : public TFontUtils {
 public:
  QEL_CLASSNAME(TWinFontUtils)
  void GetDefaultFont(TFontParams& Params) override;
  void GetFontMetrics(TFontMetrics& Metrics, const TFontParams& Params) override;
  void GetUnderline(const TFontParams& Params, int32_t& Position, int32_t& Thickness) override;
  int32_t GetTextExtent(const TFontParams& Params, const std::u16string& Text, int32_t Start, int32_t Count,
                        int32_t& LeftOverhang, int32_t& RightOverhang) override;
  imaging::TImage* RenderText(const TFontParams& Params, const std::u16string& Text, int32_t Start, int32_t Count,
                              foundation::TPoint& Offset) override;
};

// Installs the process-wide TWinFontUtils (the platform's fonts must be set up).
void InitWinFontUtils();

}  // namespace text
