#include "text/kvRectUtils.h"

namespace text {

void ClearRectList(TRectList& List) {
  List.Count = 0;
  List.Items = {};
}

int32_t AddRectToList(TRectList& List, const TRect& Rect) {
  if (!(Rect.Left < Rect.Right && Rect.Top < Rect.Bottom)) return -1;
  if (List.Count >= int32_t(List.Items.size())) List.Items.resize(List.Items.empty() ? 4 : List.Items.size() * 2);
  List.Items[size_t(List.Count)] = Rect;
  return List.Count++;
}

bool RectListContains(const TRectList& List, int32_t X, int32_t Y) {
  for (int32_t i = 0; i < List.Count; ++i) {
    const TRect& r = List.Items[size_t(i)];
    if (r.Left <= X && X < r.Right && r.Top <= Y && Y < r.Bottom) return true;
  }
  return false;
}

void OffsetRectBy(TRect& Rect, int32_t DX, int32_t DY) {
  Rect.Left += DX;
  Rect.Right += DX;
  Rect.Top += DY;
  Rect.Bottom += DY;
}

}  // namespace text
