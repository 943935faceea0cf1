// The geometry of the broom wipe: a soft straight edge turning about a pivot
// outside the picture, emitted as one triangle fan about the pivot.
#pragma once

#include <cstdint>

#include "foundation/SysObj.h"
#include "transitions/ArrowGenerator.h"

namespace transitions {

inline constexpr TCurve256 BroomCurve = BuildIntSCurve();

class TBroom : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TBroom)
  void GetRange(float& startAngle, float& endAngle) const {
    startAngle = StartAngle;
    endAngle = EndAngle;
  }
  // Sets Current and emits one fan.
  void Generate(float angle);
  // 0 for an empty area, which maps every point onto one line anyway.
  float PivotFractionX() const { return Area.Width != 0 ? PivotX / Area.Width : 0.0f; }
  float PivotFractionY() const { return Area.Height != 0 ? PivotY / Area.Height : 0.0f; }

  TArrowArea Area;
  float PivotX = 0, PivotY = 0, SoftAngle = 0, Current = 0, StartAngle = 0, EndAngle = 0, Offset = 0;
  // The range passes 2 pi (the downward broom): samples below pi are taken a
  // turn later. Kept per broom, so that two live brooms never disturb each other.
  bool Wraps = false;
  TTriangleEvent OnTriangle;

  static constexpr float kStep = 0.0062831854f;  // 2 pi / 1000

 protected:
  TBroom(const TArrowArea& area, float offset) : Area(area), Offset(offset) {}
  // Soft angle for an edge EdgeWidth wide at distance D from the pivot.
  void SetSoft(float edgeWidth, double d);
};

class TBroomUp : public TBroom {
 public:
  QEL_CLASSNAME(TBroomUp)
  TBroomUp(const TArrowArea& area, float offset, float edgeWidth);
};
class TBroomRight : public TBroom {
 public:
  QEL_CLASSNAME(TBroomRight)
  TBroomRight(const TArrowArea& area, float offset, float edgeWidth);
};
class TBroomDown : public TBroom {
 public:
  QEL_CLASSNAME(TBroomDown)
  TBroomDown(const TArrowArea& area, float offset, float edgeWidth);
};
class TBroomLeft : public TBroom {
 public:
  QEL_CLASSNAME(TBroomLeft)
  TBroomLeft(const TArrowArea& area, float offset, float edgeWidth);
};
class TBroomUpRight : public TBroom {
 public:
  QEL_CLASSNAME(TBroomUpRight)
  TBroomUpRight(const TArrowArea& area, float offset, float edgeWidth);
};
class TBroomDownRight : public TBroom {
 public:
  QEL_CLASSNAME(TBroomDownRight)
  TBroomDownRight(const TArrowArea& area, float offset, float edgeWidth);
};
class TBroomDownLeft : public TBroom {
 public:
  QEL_CLASSNAME(TBroomDownLeft)
  TBroomDownLeft(const TArrowArea& area, float offset, float edgeWidth);
};
class TBroomUpLeft : public TBroom {
 public:
  QEL_CLASSNAME(TBroomUpLeft)
  TBroomUpLeft(const TArrowArea& area, float offset, float edgeWidth);
};

// The broom of a direction 1..8; null for any other value.
TBroom* CreateBroom(int32_t direction, const TArrowArea& area, float offset, float edgeWidth);

}  // namespace transitions
