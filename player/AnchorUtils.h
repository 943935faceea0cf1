// Placement of an item (the logo, the navigation panel) by one of nine
// anchors with an inward offset. Points and alignments are in percent of
// the half extent: -100 the left (top) edge, 0 the centre, +100 the right
// (bottom) edge.
#pragma once

#include <cstdint>

#include "foundation/FloatGeometry.h"

namespace player {

enum : int32_t {
  anLeftTop = 0,
  anTop = 1,
  anRightTop = 2,
  anRight = 3,
  anRightBottom = 4,
  anBottom = 5,
  anLeftBottom = 6,
  anLeft = 7,
  anCenter = 8,  // and any other value
};

// The area's point for the anchor moved inward by offset, and the point of
// the item that lands on it.
void GetAnchorPoints(int32_t anchor, float offset, foundation::TFloatPoint& point, foundation::TFloatPoint& align);

// The item's rectangle: its point given by align lands on the area's point.
void PlaceAnchoredRect(foundation::TRect& rect, const foundation::TFloatPoint& point,
                       const foundation::TFloatPoint& align, const foundation::TRect& area, int32_t width,
                       int32_t height);

}  // namespace player
