#include "text/kvTextServices.h"

#include <algorithm>
#include <atomic>

namespace text {

namespace {
std::atomic<TFontUtils*> g_utils{nullptr};
}  // namespace

void TFontUtils::GetDefaultFont(TFontParams& Params) {
  InitFontParams(Params, u"Arial", 9, 0, MakeFColor(0, 0, 0), MakeFColor(255, 255, 255), true);
}

int32_t TFontUtils::GetTextWidth(const TFontParams& Params, const std::u16string& Text, int32_t Start,
                                 int32_t Count) {
  int32_t left = 0, right = 0;
  return GetTextExtent(Params, Text, Start, Count, left, right);
}

foundation::TRect TextRunRect(TFontUtils* Utils, const TTextMeasure& M, const TFontParams& Params) {
  foundation::TRect r;
  r.Top = 0;
  r.Bottom = M.Height;
  const bool lines = (Params.Style & (fpUnderline | fpStrikeOut)) != 0;
  if (Params.Transparent && !lines) {
    r.Left = M.LeftOverhang;
    r.Right = M.InnerWidth;
  } else {
    r.Left = std::min(M.LeftOverhang, 0);
    r.Right = M.LeftOverhang + M.InnerWidth;
    // Overhangs are kept as negative values: the ink reaching past the advance.
    r.Right = std::max(r.Right, r.Right - M.RightOverhang);
  }
  r.Right += 1;
  if (Params.Style & fpUnderline) {
    int32_t position = 0, thickness = 0;
    Utils->GetUnderline(Params, position, thickness);
    r.Bottom = std::max(r.Bottom, M.Ascent - position + thickness);
  }
  return r;
}

TFontUtils* FontUtils() { return g_utils.load(std::memory_order_acquire); }

void SetFontUtils(TFontUtils* Utils) {
  TFontUtils* old = g_utils.exchange(Utils);
  if (old) old->Free();
}

void DoneTextServices() { SetFontUtils(nullptr); }

}  // namespace text
