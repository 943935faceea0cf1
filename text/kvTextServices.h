// The platform-neutral font services that text elements, drawn controls,
// forms and the style sheet ask for: a default font, font metrics, text
// widths with overhangs and a rendered text image. One process-wide
// implementation (winFontUtils) is installed at start-up.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "imaging/kvImage.h"
#include "text/GraphicsParams.h"

namespace text {

struct TFontMetrics {
  int32_t Ascent = 0;
  int32_t Descent = 0;
  int32_t Height = 0;
};

struct TTextMeasure {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t LeftOverhang = 0;
  int32_t InnerWidth = 0;
  int32_t RightOverhang = 0;
  int32_t Ascent = 0;
  int32_t Descent = 0;
};

class TFontUtils : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFontUtils)
  // "Arial", 9 points, no style, black on white, transparent.
  virtual void GetDefaultFont(TFontParams& Params);
  virtual void GetFontMetrics(TFontMetrics& Metrics, const TFontParams& Params) = 0;
  virtual void GetUnderline(const TFontParams& Params, int32_t& Position, int32_t& Thickness) = 0;
  // GetTextExtent with the overhangs discarded. Start is 1-based.
  virtual int32_t GetTextWidth(const TFontParams& Params, const std::u16string& Text, int32_t Start, int32_t Count);
  virtual int32_t GetTextExtent(const TFontParams& Params, const std::u16string& Text, int32_t Start, int32_t Count,
                                int32_t& LeftOverhang, int32_t& RightOverhang) = 0;
  // The run as an image; Offset is where the image's origin lies relative to
  // the text origin. nullptr when there is nothing to draw.
  virtual imaging::TImage* RenderText(const TFontParams& Params, const std::u16string& Text, int32_t Start,
                                      int32_t Count, foundation::TPoint& Offset) = 0;
};

// The text rectangle of a run measured as Measure (Right already grown by one);
// underlined fonts reach down to the underline.
foundation::TRect TextRunRect(TFontUtils* Utils, const TTextMeasure& Measure, const TFontParams& Params);

// The process-wide services; nullptr until installed.
TFontUtils* FontUtils();
// Installs Utils (taking the caller's reference) and frees the previous one.
void SetFontUtils(TFontUtils* Utils);
// Frees the process-wide services.
void DoneTextServices();

}  // namespace text
