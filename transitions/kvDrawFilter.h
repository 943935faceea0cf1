// Draw filters: each frame a filter turns the transition's position into
// triangles written into the tiles of an effect controller. This unit holds
// the base, the soft-edge curve, the cross-fade, the soft-edged shapes and
// the random-cells, slide and push filters.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "transitions/kvTriController.h"

namespace transitions {

using foundation::TFloatPoint;

class TDrawFilter : public foundation::TRefObject {
 public:
  virtual void Init(const TRect& rect, float duration, float edgeWidth);
  // Stores the position clamped to 0..Duration.
  virtual void SetPosition(float position);
  // Every concrete filter returns at once for a null controller.
  virtual void Draw(TEffController* controller) = 0;
  // The per-frame notification; nothing to do for the filters here.
  virtual void FrameNotify() {}

  // The normalised progress, 0 at the start and 1 at the end.
  double Progress() const { return double(Position) * InvDuration; }

  float Duration = 0;
  double InvDuration = 0;
  float Position = 0;
  float EdgeWidth = 0;
  TRect Rect;
  bool Reverse = false;
  bool CrossFade = false;
  bool MovingImage = false;
  TRect DrawRect;
};

// The soft-edge S-curve on 0..255 and its 15-point table.
float SoftEdgeCurve(float x);
struct TSoftEdgeTable {
  std::array<float, 15> X{}, Y{};
};
constexpr TSoftEdgeTable BuildSoftEdgeTable();
double SafeReciprocal(double x);
double SqrDistance(TFloatPoint a, TFloatPoint b);

constexpr float SoftEdgeCurveC(float x) {
  if (x < 127.5f) {
    const float sq = x * x;
    return float(double(sq) * 0.0078125);
  }
  const float d = 255.0f - x;
  const float sq = d * d;
  return float(255.0 - double(sq) * 0.0078125);
}
constexpr TSoftEdgeTable BuildSoftEdgeTable() {
  TSoftEdgeTable t;
  for (int i = 0; i < 15; ++i) {
    t.X[i] = float(i) * 18.214285f;
    t.Y[i] = SoftEdgeCurveC(t.X[i]);
  }
  return t;
}
// Filled at compile time; never changes.
inline constexpr TSoftEdgeTable SoftEdge = BuildSoftEdgeTable();
inline constexpr const std::array<float, 15>& SoftEdgeX = SoftEdge.X;
inline constexpr const std::array<float, 15>& SoftEdgeY = SoftEdge.Y;

// The cross-fade, the default transition.
class TAlphaFilter : public TDrawFilter {
 public:
  QEL_CLASSNAME(TAlphaFilter)
  TAlphaFilter() { CrossFade = true; }
  void Draw(TEffController* controller) override;
};

// Maps a vertex from Rect to DrawRect about a point given as fractions of
// each rectangle (the centre of a shape, the pivot of a broom).
struct TRectMapper {
  double ScaleX = 1, ScaleY = 1;
  float FromX = 0, FromY = 0, ToX = 0, ToY = 0;
  void Setup(const TRect& from, const TRect& to, float fracX, float fracY);
  TTriVertex Map(const TTriVertex& v) const {
    return {float((v.X - FromX) * ScaleX + ToX), float((v.Y - FromY) * ScaleY + ToY), v.A};
  }
};

// A shape that grows from a centre with a soft edge along the S-curve.
class TCommonFilter : public TDrawFilter {
 public:
  TCommonFilter(float centreX, float centreY) : CentreX(centreX), CentreY(centreY) {}
  void Init(const TRect& rect, float duration, float edgeWidth) override;
  void Draw(TEffController* controller) override;
  virtual void CalcRadius();
  virtual void DrawBand(float inner, float outer, float alphaInner, float alphaOuter, int32_t index) = 0;
  void DrawBands(float a, float b);

  float CentreX, CentreY;
  TFloatPoint Centre;
  float Radius = 0;
  TEffTile* Sink = nullptr;

 protected:
  void EmitTriangle(const TTriVertex& a, const TTriVertex& b, const TTriVertex& c);
  // Corner alphas top-left, top-right, bottom-right, bottom-left.
  void EmitQuad(float x1, float y1, float x2, float y2, float aTL, float aTR, float aBR, float aBL);
  void EmitQuad4(const TTriVertex& p1, const TTriVertex& p2, const TTriVertex& p3, const TTriVertex& p4);
  TRectMapper mapper_;
};

class TCircleFilter : public TCommonFilter {
 public:
  QEL_CLASSNAME(TCircleFilter)
  TCircleFilter(float centreX, float centreY, bool reverse);
  void CalcRadius() override;
  void DrawBand(float inner, float outer, float alphaInner, float alphaOuter, int32_t index) override;
  float Offset = 0;
  float FarDistance = 0;
  int32_t SegmentCount = 128;

 private:
  // cos and sin of every multiple of the segment step, made once per count.
  std::vector<double> cos_, sin_;
};

class THLines : public TCommonFilter {
 public:
  QEL_CLASSNAME(THLines)
  using TCommonFilter::TCommonFilter;
  void CalcRadius() override;
  void DrawBand(float inner, float outer, float alphaInner, float alphaOuter, int32_t index) override;
};

class TVLines : public TCommonFilter {
 public:
  QEL_CLASSNAME(TVLines)
  using TCommonFilter::TCommonFilter;
  void CalcRadius() override;
  void DrawBand(float inner, float outer, float alphaInner, float alphaOuter, int32_t index) override;
};

class TDiagLines : public TCommonFilter {
 public:
  QEL_CLASSNAME(TDiagLines)
  // Kind 8 or 10; Direction 1..4.
  TDiagLines(int32_t kind, int32_t direction);
  void Setup(uint8_t mode, bool flip);
  void CalcRadius() override;
  void DrawBand(float inner, float outer, float alphaInner, float alphaOuter, int32_t index) override;
  uint8_t Mode = 0;
  bool Flip = false;
  float TopX = 0, BottomX = 0;
};

class TRhombFilter : public TCommonFilter {
 public:
  QEL_CLASSNAME(TRhombFilter)
  using TCommonFilter::TCommonFilter;
  void CalcRadius() override;
  void DrawBand(float inner, float outer, float alphaInner, float alphaOuter, int32_t index) override;
  float Offset = 0;
};

class TSquareFilter : public TCommonFilter {
 public:
  QEL_CLASSNAME(TSquareFilter)
  using TCommonFilter::TCommonFilter;
  void CalcRadius() override;
  void DrawBand(float inner, float outer, float alphaInner, float alphaOuter, int32_t index) override;
  double Aspect = 1;
  float Offset = 0;
};

// Dissolves the picture cell by cell, each cell after its own random delay.
class TRandomFilter : public TDrawFilter {
 public:
  QEL_CLASSNAME(TRandomFilter)
  // The grid is taken between 0 and kMaxCellsPerSide on each side, and at
  // Init at most one cell per pixel of the drawn rectangle.
  TRandomFilter(int32_t columns, int32_t rows, int32_t seed);
  static constexpr int32_t kMaxCellsPerSide = 256;
  void Init(const TRect& rect, float duration, float edgeWidth) override;
  void Draw(TEffController* controller) override;
  // Trunc(NextGlobalFloat x limit).
  static int32_t RandomBelow(int32_t limit);

  int32_t Columns, Rows;
  std::vector<std::vector<int32_t>> Delays;  // [column][row]
  int32_t Seed;
  float Spread = 0;
};

// Moves every tile's piece of the picture by the slide offset.
void DrawShiftedTiles(TEffController* controller, int32_t direction, double t);

// Direction: 1 the picture enters from the left, 2 from the right, 3 from the
// top, 4 from the bottom.
class TSlideFilter : public TDrawFilter {
 public:
  QEL_CLASSNAME(TSlideFilter)
  explicit TSlideFilter(int32_t direction) : Direction(direction) { MovingImage = true; }
  void Draw(TEffController* controller) override;
  int32_t Direction;
};

class TPushFilter : public TDrawFilter {
 public:
  QEL_CLASSNAME(TPushFilter)
  explicit TPushFilter(int32_t direction) : Direction(direction) { MovingImage = true; }
  void Draw(TEffController* controller) override;
  // The filter's Reverse operation (the name is taken by the Reverse flag):
  // mirrors the position and the direction for the outgoing picture; applied
  // twice it restores the filter.
  void ApplyReverse();
  int32_t Direction;
};

// The clipped intersection of two integer rectangles; false when empty.
bool ClipRect(const TRect& a, const TRect& b, TRect& out);

}  // namespace transitions
