#include "player/AnchorUtils.h"

#include <algorithm>
#include <cmath>

namespace player {

void GetAnchorPoints(int32_t anchor, float offset, foundation::TFloatPoint& point, foundation::TFloatPoint& align) {
  const float a = offset - 100;
  const float b = 100 - offset;
  switch (anchor) {
    case anLeftTop: point = {a, a}, align = {-100, -100}; break;
    case anTop: point = {0, a}, align = {0, -100}; break;
    case anRightTop: point = {b, a}, align = {100, -100}; break;
    case anRight: point = {b, 0}, align = {100, 0}; break;
    case anRightBottom: point = {b, b}, align = {100, 100}; break;
    case anBottom: point = {0, b}, align = {0, 100}; break;
    case anLeftBottom: point = {a, b}, align = {-100, 100}; break;
    case anLeft: point = {a, 0}, align = {-100, 0}; break;
    default: point = {0, 0}, align = {0, 0}; break;
  }
}

namespace {

// One axis: round to nearest with ties to even (the default rounding mode),
// saturated into int32 so odd offsets and huge areas cannot overflow.
int32_t PlaceStart(int32_t lo, int32_t hi, float point, float align, int32_t size) {
  const double at = std::nearbyint((double(hi) - lo) * (double(point) / 100 + 1) * 0.5);
  const double back = std::nearbyint((double(align) + 100) * size / 200);
  const double v = lo + at - back;
  if (!(v > INT32_MIN)) return INT32_MIN;
  if (v > INT32_MAX) return INT32_MAX;
  return int32_t(v);
}

int32_t Plus(int32_t a, int32_t b) { return int32_t(std::clamp<int64_t>(int64_t(a) + b, INT32_MIN, INT32_MAX)); }

}  // namespace

void PlaceAnchoredRect(foundation::TRect& rect, const foundation::TFloatPoint& point,
                       const foundation::TFloatPoint& align, const foundation::TRect& area, int32_t width,
                       int32_t height) {
  rect.Left = PlaceStart(area.Left, area.Right, point.X, align.X, width);
  rect.Right = Plus(rect.Left, width);
  rect.Top = PlaceStart(area.Top, area.Bottom, point.Y, align.Y, height);
  rect.Bottom = Plus(rect.Top, height);
}

}  // namespace player
