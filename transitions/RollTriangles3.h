// The roller geometry: cuts a sheet into strips across the roll direction and
// maps sheet points onto a cylinder of a given radius (optionally rising
// towards the viewer), for the roll effect.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "transitions/kvTriangler2.h"

namespace transitions {

using TRollTriangleEvent = std::function<void(const TTriVertex&, const TTriVertex&, const TTriVertex&, bool back)>;

class TRoller3 : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TRoller3)
  // Mode 1..8 gives the direction: 1 (1, 0), 2 (-1, 0), 3 (0, -1), 4 (0, 1)
  // and the four diagonals 5 (+, +), 6 (+, -), 7 (-, +), 8 (-, -).
  TRoller3(float x0, float y0, float x1, float y1, int32_t mode, bool lift, float perspective);

  void SetRadius(float radius) {
    Radius = radius;
    ClearCache();
  }
  void Generate(float rollLine);
  void GetRange(float& start, float& end) const;
  // Calls fn (column, row) for every cell in the roll direction.
  template <class Fn>
  void ForEachCell(Fn&& fn, int32_t columnCount, int32_t rowCount) const {
    for (int32_t i = 0; i < columnCount; ++i) {
      const int32_t c = DirX >= 0 ? i : columnCount - 1 - i;
      for (int32_t j = 0; j < rowCount; ++j) fn(c, DirY >= 0 ? j : rowCount - 1 - j);
    }
  }
  // Sheet point to 3-D point for the current roll line.
  foundation::T3DPoint Project(float x, float y) const;
  // The turn-over angle of the lifted form.
  static double LiftAngle(double r, double b, double k);
  bool Diagonal() const { return DirX != 0 && DirY != 0; }

  float DirX = 0, DirY = 0;
  float RollLine = 0;
  float StartX = 0, StartY = 0, Width = 0, Height = 0, EndX = 0, EndY = 0;
  float AxisSign = 1;
  float Radius = 2;
  bool Lift = false;
  float Perspective = 1;
  float MaxAngle = 3.14159265f;
  float BrightMax = 255, BrightMin = 50;
  int32_t FineStep = 3;
  TRollTriangleEvent OnTriangle;

 private:
  void GenerateAxis();
  void GenerateDiagonal();
  // Emits the strips from start to end (s the direction's sign): wide strips
  // where the sheet lies flat or is past the wrap, fine ones in the curl, and
  // a strip border at every cut. line(pos, p, q) gives a strip line's ends;
  // mirrored turns the triangles' winding.
  template <class Line>
  void Sweep(double start, double end, double s, double rollLine, double r, double e,
             std::initializer_list<double> cuts, bool mirrored, Line line) const;
  // Wrap angle of a distance past the roll line, limited to 0..MaxAngle.
  float Brightness(double past) const;
  // The axis formulas on one coordinate (distance along the roll direction
  // from the sheet start, the roll line and the turn-over in the same units).
  void ProjectAlong(double pos, double rollLine, double start, double& out, double& z) const;
  double TurnOver(double start, double end, double rollLine) const;
  // sin and cos of w, the ones of the last full angle from a memo.
  void SinCos(double w, double& s, double& c) const;
  mutable double maxW_ = -1, maxSin_ = 0, maxCos_ = 1;
  // The diagonal roll line in distances along the direction, with what it
  // was worked out from (NaN: not yet).
  struct DiagonalLine {
    float RollLine, StartX, Width, Height;
    double Sx, RollDelta;
  };
  mutable DiagonalLine diagFor_{std::nanf(""), 0, 0, 0, 0, 0};
  // Projections along the direction by exact position: the strip lines and
  // cell borders repeat the same positions many times per frame. Valid for
  // the state of the last Generate.
  struct CacheEntry {
    double pos, out, z;
    uint32_t frame;
  };
  void ClearCache() { ++frame_; }
  void ProjectCached(double pos, double rollLine, double& out, double& z) const;
  mutable std::vector<CacheEntry> cache_;
  uint32_t frame_ = 1;
  void Emit(const TTriVertex& a, const TTriVertex& b, const TTriVertex& c, bool back) const {
    if (OnTriangle) OnTriangle(a, b, c, back);
  }
};

}  // namespace transitions
