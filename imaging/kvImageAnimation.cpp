#include "imaging/kvImageAnimation.h"

#include <algorithm>

#include "foundation/kvByteStringLists.h"

namespace imaging {

const TImageAnimationParams DefaultImageAnimationParams{};

void ParseImageAnimationDurations(const std::u16string& Text, TImageAnimationParams& Params) {
  const int32_t count = std::clamp(Params.Count, 0, kMaxAnimationFrames);
  Params.Count = count;
  Params.Durations.assign(static_cast<size_t>(count), 100);
  foundation::TCommaList list;
  list.SplitUnicode(Text, ',');
  const int items = list.GetCount();
  if (items < 1) return;
  const int32_t last = list.GetInt(items - 1, 0);
  for (int32_t i = 0; i < count; ++i) Params.Durations[static_cast<size_t>(i)] = i < items ? list.GetInt(i, 0) : last;
}

bool SameImageAnimationParams(const TImageAnimationParams& A, const TImageAnimationParams& B) {
  return A.Enable == B.Enable && A.Columns == B.Columns && A.Rows == B.Rows && A.Count == B.Count &&
         A.RepCount == B.RepCount && A.Offset == B.Offset && A.Durations == B.Durations;
}

void GetAnimationFrameRect(foundation::TFloatRect& Rect, int32_t Width, int32_t Height, int32_t Columns,
                           int32_t Rows, int32_t Column, int32_t Row) {
  const double cw = static_cast<double>(Width) / Columns, rh = static_cast<double>(Height) / Rows;
  Rect.Left = static_cast<float>(Column * cw);
  Rect.Top = static_cast<float>(Row * rh);
  Rect.Right = static_cast<float>((Column + 1) * cw);
  Rect.Bottom = static_cast<float>((Row + 1) * rh);
}

}  // namespace imaging
