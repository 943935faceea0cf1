// A growable list of integer rectangles (the line rectangles rendered texts
// carry for hit tests) and a reference-counted wrapper that lets a list
// travel attached to an image.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"

namespace text {

using foundation::TRect;

// Items' length is the capacity (4, then doubling); Count the rectangles in use.
struct TRectList {
  std::vector<TRect> Items;
  int32_t Count = 0;
};

void ClearRectList(TRectList& List);
// Appends Rect unless it is empty (Left >= Right or Top >= Bottom): its index, or -1.
int32_t AddRectToList(TRectList& List, const TRect& Rect);
// True when some rectangle has Left <= X < Right and Top <= Y < Bottom.
bool RectListContains(const TRectList& List, int32_t X, int32_t Y);
void OffsetRectBy(TRect& Rect, int32_t DX, int32_t DY);

class TRectListWrapper : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TRectListWrapper)
  explicit TRectListWrapper(const TRectList& List) : List(List) {}
  TRectList List;
};

}  // namespace text
