#include "controls/kvDrawFrameUtils.h"

#include <algorithm>

namespace controls {

void IntersectRectInPlace(TRect& r, const TRect& other) { r = IntersectRects(r, other); }

TRect IntersectRects(const TRect& a, const TRect& b) {
  const TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
                std::min(a.Bottom, b.Bottom)};
  return IsRectEmpty(r) ? EmptyRect : r;
}

TRect OffsetRectBy(const TRect& r, int32_t dx, int32_t dy) {
  return TRect{r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy};
}

bool SameRect(const TRect& a, const TRect& b) {
  const bool ea = IsRectEmpty(a), eb = IsRectEmpty(b);
  if (ea || eb) return ea && eb;
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

TRect UnionRects(const TRect& a, const TRect& b) {
  if (IsRectEmpty(a)) return b;
  if (IsRectEmpty(b)) return a;
  return TRect{std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
               std::max(a.Bottom, b.Bottom)};
}

}  // namespace controls
