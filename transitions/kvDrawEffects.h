// The transitions that draw through generators or in 3-D: clock wipe, broom
// wipe, roll, overturn and two slides.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "transitions/ArrowGenerator.h"
#include "transitions/BroomGenerator.h"
#include "transitions/RollTriangles3.h"
#include "transitions/kvDrawFilter.h"

namespace transitions {

// The hand of a clock sweeping once about a centre.
class TClockEffect : public TDrawFilter {
 public:
  QEL_CLASSNAME(TClockEffect)
  TClockEffect(float centreX, float centreY, bool mirror) : CentreX(centreX), CentreY(centreY), Mirror(mirror) {}
  void Dispose() override;
  // Also drops the generator, so that a restart with another rectangle
  // builds it anew.
  void Init(const TRect& rect, float duration, float edgeWidth) override;
  void Draw(TEffController* controller) override;

  float CentreX, CentreY;
  bool Mirror;
  TArrow* Arrow = nullptr;
  TEffTile* Sink = nullptr;

 private:
  void EnsureArrow();
  void ArrowTriangle(const TTriVertex& a, const TTriVertex& b, const TTriVertex& c);
  TRectMapper mapper_;
};

// A soft straight edge turning about a pivot outside the picture.
class TBroomEffect : public TDrawFilter {
 public:
  QEL_CLASSNAME(TBroomEffect)
  // Code 1..8 a direction; 9..16 the same direction reversed.
  TBroomEffect(int32_t code, float offset);
  void Dispose() override;
  void Init(const TRect& rect, float duration, float edgeWidth) override;
  void Draw(TEffController* controller) override;

  TBroom* Broom = nullptr;
  float Offset;
  int32_t Direction;
  float Start = 0, Length = 0;
  TEffTile* Sink = nullptr;

 private:
  bool EnsureBroom();
  void BroomTriangle(const TTriVertex& a, const TTriVertex& b, const TTriVertex& c);
  TRectMapper mapper_;
};

float EaseInOut(float u);

// A card turning half a revolution in front of a black background.
class TOverturnEffect : public TDrawFilter {
 public:
  QEL_CLASSNAME(TOverturnEffect)
  // Direction 1..4; Second selects the centred-depth variant.
  TOverturnEffect(int32_t direction, float depth, bool second, bool ease)
      : Kind(direction + (second ? 4 : 0)), Ease(ease), Depth(depth) {}
  void Draw(TEffController* controller) override;
  // The page corners P0..P3 for the turn angle over the grid bounds.
  void PageCorners(double a, const TRect& g, T3DPoint p[4]) const;

  int32_t Kind;
  bool Ease;
  float Depth;
};

// Both pictures move at once, apart sideways and back in depth.
class TTwoSlidesEffect : public TDrawFilter {
 public:
  QEL_CLASSNAME(TTwoSlidesEffect)
  TTwoSlidesEffect(int32_t direction, float depth, float lift, float tiltDegrees);
  // Called twice per frame, once per picture.
  void Draw(TEffController* controller) override;
  void MoveCorners(const TTriVertex* corners, int n, float u, float w, float h, T3DPoint* out) const;

  int32_t Direction;
  float Depth, Lift, TiltAngle;
  TEffTile* CurrentTile = nullptr;
  int32_t DrawCount = 0;

 private:
  void DrawSlide(TEffController* controller, float u, float w, float h);
};

// Paints every tile of the grid opaque black.
void PaintGridBlack(TEffController* controller);

// Rolls the picture up like a sheet of paper.
class TRollEffect2 : public TDrawFilter {
 public:
  QEL_CLASSNAME(TRollEffect2)
  // Shape 14 along an axis, 15 diagonal; RollKind 1..8 (above 4 reversed).
  TRollEffect2(int32_t shape, int32_t rollKind);
  void Dispose() override;
  void Draw(TEffController* controller) override;

  int32_t Shape, RollKind;
  TRoller3* Roller = nullptr;
  T2DSeparator* BackSeparator = nullptr;
  T2DSeparator* FrontSeparator = nullptr;
  bool FullTurn = false;
  int32_t RollRadius = 0;
  bool ColourBack = false;
  uint8_t BackColour[3] = {0, 0, 0};  // blue, green, red
  bool Lift = false;
  float Perspective = 1;
  float RollStart = 0, RollEnd = 0;
  std::vector<int32_t> ColumnMap, RowMap;
  TEffController* Controller = nullptr;

  // Sets BackColour from a COLORREF (0x00BBGGRR).
  void SetBackColour(uint32_t colorRef);

 private:
  bool BuildSeparators(TEffController* controller, const TRect& v);
  void EnsureRoller(const TRect& v);
  void RouteTriangle(const TTriVertex& p1, const TTriVertex& p2, const TTriVertex& p3, bool back);
  void DrawCells(T2DSeparator* sep, bool back);
  void FreeGeometry();
  // What the set-up was built from; a change (device reset, new grid) rebuilds it.
  std::vector<float> builtColumns_, builtRows_;
  std::vector<T3DPoint> projected_;  // the projections of one piece's vertices
  // Projections of this frame by exact sheet position: neighbouring strip
  // triangles and cells repeat the same vertices.
  struct ProjectedVertex {
    uint32_t XBits, YBits;
    T3DPoint P;
    uint32_t Frame;
  };
  std::vector<ProjectedVertex> vertexCache_;
  uint32_t frame_ = 0;
  static constexpr size_t kVertexCacheSize = 4096;  // the hash below keeps its top 12 bits
  static_assert(kVertexCacheSize == size_t(1) << (32 - 20));
  // Inline: it runs for every vertex of every piece; the table is sized by Draw.
  T3DPoint ProjectVertex(const TTriVertex& v) {
    uint32_t x, y;
    std::memcpy(&x, &v.X, sizeof x);
    std::memcpy(&y, &v.Y, sizeof y);
    ProjectedVertex& e = vertexCache_[((x * 0x9E3779B1u) ^ (y * 0x85EBCA77u)) >> 20];
    if (e.Frame == frame_ && e.XBits == x && e.YBits == y) return e.P;
    e = ProjectedVertex{x, y, Roller->Project(v.X, v.Y), frame_};
    return e.P;
  }
  TRect builtView_;
};

}  // namespace transitions
