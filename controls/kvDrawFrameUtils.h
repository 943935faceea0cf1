// The small records of drawn forms: rectangle helpers, the mouse record and
// the key record.
#pragma once

#include <cstdint>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"

namespace controls {

using foundation::TPoint;
using foundation::TRect;

inline constexpr TRect EmptyRect{0, 0, 0, 0};

inline bool IsRectEmpty(const TRect& r) { return r.Left >= r.Right || r.Top >= r.Bottom; }
// Intersects in place; an empty result becomes the empty constant.
void IntersectRectInPlace(TRect& r, const TRect& other);
TRect IntersectRects(const TRect& a, const TRect& b);
TRect OffsetRectBy(const TRect& r, int32_t dx, int32_t dy);
// Two empty rectangles count as equal.
bool SameRect(const TRect& a, const TRect& b);
inline void ClearRect(TRect& r) { r = EmptyRect; }
// An empty operand yields the other.
TRect UnionRects(const TRect& a, const TRect& b);
inline bool RectContains(const TRect& r, int32_t x, int32_t y) {
  return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
}

// Mouse record kinds and buttons.
enum : int32_t { mkMove = 0, mkDown = 1, mkUp = 2, mkDoubleClick = 3, mkWheel = 4 };
enum : int32_t { mbNone = 0, mbLeft = 1, mbRight = 4, mbMiddle = 5 };
// Shift-state bits shared by the mouse and key records.
enum : int32_t {
  ssWin = 1,
  ssShift = 2,
  ssAlt = 4,
  ssCtrl = 8,
  ssLeft = 16,
  ssRight = 32,
  ssMiddle = 64,
  ssButtons = ssLeft | ssRight | ssMiddle,
};

struct TMouseData {
  int32_t Kind = 0;
  int32_t Shift = 0;
  int32_t Button = 0;
  int32_t Wheel = 0;
  int32_t X = 0, Y = 0;  // in the receiving frame's coordinates
  TPoint ScreenPos{};
  int32_t HitCode = 0;
  uint8_t Captured = 0;
  int32_t CapturedButton = 0;
  int32_t CapturedHit = 0;
  int32_t Cursor = 0;
};

// The device's one mouse record; reference counted so it can travel as
// event data.
class TMouseEx : public foundation::TRefObject, public TMouseData {
 public:
  QEL_CLASSNAME(TMouseEx)
};

enum : int32_t { kkKeyUp = 0, kkKeyDown = 1, kkChar = 2 };

struct TKeyboardData {
  uint16_t Key = 0;  // virtual-key code, or the character for kkChar
  uint32_t Shift = 0;
  int32_t Kind = 0;
  uint8_t Handled = 0;
};

// A key record as event data (it refers to the record being routed).
class TKeyRecord : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TKeyRecord)
  explicit TKeyRecord(TKeyboardData* data) : Data(data) {}
  TKeyboardData* Data;  // not owned: the record of the routing call
};

}  // namespace controls
