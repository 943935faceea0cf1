#include "transitions/kvDrawEffects.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/kpExceptions.h"

namespace transitions {

namespace {
constexpr double kPi = 3.14159265358979323846;
// Opaque black, the colour of every background triangle.
constexpr TColors3 kBlack{0xFF000000u, 0xFF000000u, 0xFF000000u};
}  // namespace

// ---- Clock wipe -------------------------------------------------------------

void TClockEffect::Dispose() {
  foundation::FreeAndNil(Arrow);
  TDrawFilter::Dispose();
}

void TClockEffect::Init(const TRect& rect, float duration, float edgeWidth) {
  TDrawFilter::Init(rect, duration, edgeWidth);
  foundation::FreeAndNil(Arrow);
}

void TClockEffect::EnsureArrow() {
  if (Arrow) return;
  const float w = float(Rect.Right - Rect.Left), h = float(Rect.Bottom - Rect.Top);
  TArrowArea area{float(Rect.Top), h, float(Rect.Left), w};
  const float cx = float(int32_t(w * CentreX + Rect.Left)), cy = float(int32_t(h * CentreY + Rect.Top));
  Arrow = new TArrow(area, cx, cy, EdgeWidth);
  Arrow->OnTriangle = [this](const TTriVertex& a, const TTriVertex& b, const TTriVertex& c) {
    ArrowTriangle(a, b, c);
  };
}

void TClockEffect::ArrowTriangle(const TTriVertex& a, const TTriVertex& b, const TTriVertex& c) {
  TTriangle t{a, b, c};
  for (TTriVertex& v : t) {
    v.A = 255 - v.A;
    if (Mirror) v.X = float(Rect.Left + Rect.Right) - v.X;
    v = mapper_.Map(v);
  }
  Sink->DrawTriangle(t);
}

void TClockEffect::Draw(TEffController* controller) {
  if (!controller) return;
  EnsureArrow();
  mapper_.Setup(Rect, DrawRect, CentreX, CentreY);
  Sink = controller->GetWholeTile();
  Sink->BeginDraw(true, false);
  Arrow->Generate(float(Position * 2 * kPi * InvDuration));
  Sink->EndDraw();
  Sink = nullptr;
}

// ---- Broom wipe -------------------------------------------------------------

TBroomEffect::TBroomEffect(int32_t code, float offset) : Offset(offset), Direction(code) {
  if (code > 8) {
    Reverse = true;
    Direction = code - 8;
  }
}

void TBroomEffect::Dispose() {
  TDrawFilter::Dispose();
  foundation::FreeAndNil(Broom);
}

void TBroomEffect::Init(const TRect& rect, float duration, float edgeWidth) {
  TDrawFilter::Init(rect, duration, edgeWidth);
  foundation::FreeAndNil(Broom);
}

bool TBroomEffect::EnsureBroom() {
  if (Broom) return true;
  TArrowArea area{float(Rect.Top), float(Rect.Bottom - Rect.Top), float(Rect.Left), float(Rect.Right - Rect.Left)};
  Broom = CreateBroom(Direction, area, Offset, EdgeWidth);
  if (!Broom) return false;  // no broom for an unknown direction: nothing is drawn
  Broom->OnTriangle = [this](const TTriVertex& a, const TTriVertex& b, const TTriVertex& c) {
    BroomTriangle(a, b, c);
  };
  Start = Broom->StartAngle;
  Length = Broom->EndAngle - Broom->StartAngle;
  return true;
}

void TBroomEffect::BroomTriangle(const TTriVertex& a, const TTriVertex& b, const TTriVertex& c) {
  TTriangle t{a, b, c};
  for (TTriVertex& v : t) {
    v.A = 255 - v.A;
    v = mapper_.Map(v);
  }
  Sink->DrawTriangle(t);
}

void TBroomEffect::Draw(TEffController* controller) {
  if (!controller) return;
  if (!EnsureBroom()) return;
  mapper_.Setup(Rect, DrawRect, Broom->PivotFractionX(), Broom->PivotFractionY());
  Sink = controller->GetWholeTile();
  Sink->BeginDraw(true, false);
  const double t = Progress();
  const double u = Reverse ? 1 - t : t;
  Broom->Generate(float(Start + Length * u));
  Sink->EndDraw();
  Sink = nullptr;
}

// ---- Overturn -----------------------------------------------------------------

float EaseInOut(float u) { return u < 0.5f ? 2 * u * u : 1 - 2 * (1 - u) * (1 - u); }

void PaintGridBlack(TEffController* controller) {
  for (int32_t c = 0; c < controller->ColumnCount; ++c)
    for (int32_t r = 0; r < controller->RowCount; ++r) {
      TEffTile* tile = controller->GetTile(c, r);
      const float l = float(tile->Rect.Left), t = float(tile->Rect.Top), rr = float(tile->Rect.Right),
                  b = float(tile->Rect.Bottom);
      tile->BeginDraw(false, false);
      tile->DrawColoredTriangle({TTriVertex{l, t, 255}, {rr, t, 255}, {l, b, 255}}, kBlack);
      tile->DrawColoredTriangle({TTriVertex{l, b, 255}, {rr, t, 255}, {rr, b, 255}}, kBlack);
      tile->EndDraw();
    }
}

void TOverturnEffect::PageCorners(double a, const TRect& g, T3DPoint p[4]) const {
  QEL_ASSERT(Kind >= 1 && Kind <= 8, "TOverturnEffect: unknown kind");
  const double s = (Kind % 2 == 1) ? -a : a;
  const bool vertical = Kind == 1 || Kind == 2 || Kind == 5 || Kind == 6;
  const bool centred = Kind >= 5;
  const double lo = vertical ? g.Left : g.Top, hi = vertical ? g.Right : g.Bottom;
  const double c = (lo + hi) / 2, half = (hi - lo) / 2;
  const double e = std::fabs(s) >= kPi / 2 ? -1 : 1;
  const double h = e * std::cos(s) * half;
  const double o = e * Depth * std::sin(s) * half;
  const double z1 = centred ? -o : std::fabs(o) - o, z2 = centred ? o : std::fabs(o) + o;
  if (vertical) {
    p[0] = {float(c + h), float(g.Top), float(z1)};
    p[1] = {float(c + h), float(g.Bottom), float(z1)};
    p[2] = {float(c - h), float(g.Top), float(z2)};
    p[3] = {float(c - h), float(g.Bottom), float(z2)};
  } else {
    p[0] = {float(g.Left), float(c + h), float(z1)};
    p[1] = {float(g.Left), float(c - h), float(z2)};
    p[2] = {float(g.Right), float(c + h), float(z1)};
    p[3] = {float(g.Right), float(c - h), float(z2)};
  }
}

void TOverturnEffect::Draw(TEffController* controller) {
  if (!controller) return;
  const double t = Progress();
  const double a = Ease ? EaseInOut(float(t)) * kPi : t * kPi;
  TRect g;
  controller->GetGridBounds(g);
  PaintGridBlack(controller);
  T3DPoint p[4];
  PageCorners(a, g, p);
  const float k = float(std::nearbyint(std::fabs(std::cos(a)) * 155 + 100));
  const bool vertical = Kind == 1 || Kind == 2 || Kind == 5 || Kind == 6;
  const double gw = double(g.Right) - g.Left, gh = double(g.Bottom) - g.Top;
  auto fx = [&](double x) { return gw != 0 ? (x - g.Left) / gw : 0.0; };
  auto fy = [&](double y) { return gh != 0 ? (y - g.Top) / gh : 0.0; };
  auto lerp = [](double a0, double a1, double f) { return float(a0 + (a1 - a0) * f); };
  // The page point of a picture point.
  auto corner = [&](double x, double y) -> T3DPoint {
    if (vertical)
      return {lerp(p[2].X, p[0].X, fx(x)), lerp(p[0].Y, p[1].Y, fy(y)), lerp(p[2].Z, p[0].Z, fx(x))};
    return {lerp(p[0].X, p[2].X, fx(x)), lerp(p[1].Y, p[0].Y, fy(y)), lerp(p[1].Z, p[0].Z, fy(y))};
  };
  for (int32_t c = 0; c < controller->ColumnCount; ++c)
    for (int32_t r = 0; r < controller->RowCount; ++r) {
      TEffTile* tile = controller->GetTile(c, r);
      TRect cr;
      if (!ClipRect(tile->Rect, DrawRect, cr)) continue;
      const float l = float(cr.Left), tp = float(cr.Top), rt = float(cr.Right), b = float(cr.Bottom);
      tile->BeginDraw(true, true);
      if (vertical) {
        const T3DPoint q0 = corner(rt, tp), q1 = corner(rt, b), q2 = corner(l, tp), q3 = corner(l, b);
        tile->DrawMappedTriangle3D({TTriVertex{rt, tp, k}, {rt, b, k}, {l, tp, k}}, {q0, q1, q2});
        tile->DrawMappedTriangle3D({TTriVertex{l, tp, k}, {rt, b, k}, {l, b, k}}, {q2, q1, q3});
      } else {
        const T3DPoint q0 = corner(l, b), q1 = corner(l, tp), q2 = corner(rt, b), q3 = corner(rt, tp);
        tile->DrawMappedTriangle3D({TTriVertex{l, b, k}, {l, tp, k}, {rt, b, k}}, {q0, q1, q2});
        tile->DrawMappedTriangle3D({TTriVertex{rt, b, k}, {l, tp, k}, {rt, tp, k}}, {q2, q1, q3});
      }
      tile->EndDraw();
    }
}

// ---- Two slides -------------------------------------------------------------

TTwoSlidesEffect::TTwoSlidesEffect(int32_t direction, float depth, float lift, float tiltDegrees)
    : Direction(direction), Depth(depth), Lift(lift), TiltAngle(float(tiltDegrees / 180.0 * kPi)) {
  MovingImage = true;
}

void TTwoSlidesEffect::MoveCorners(const TTriVertex* corners, int n, float u, float w, float h,
                                   T3DPoint* out) const {
  double dx = 0, dy = 0;
  switch (Direction) {
    case 1: dx = w; break;
    case 2: dx = -w; break;
    case 3: dy = h; break;
    case 4: dy = -h; break;
    default: QEL_ASSERT(false, "TTwoSlidesEffect: unknown direction");
  }
  const double lift = Lift * std::sin(u * kPi);
  const double tilt = std::sin(u * double(TiltAngle));
  for (int i = 0; i < n; ++i) {
    const double x = corners[i].X, y = corners[i].Y;
    double z = u * std::fabs(double(h)) * Depth;
    if (dx > 0) z += (dx - x) * tilt;
    if (dx < 0) z += x * tilt;
    if (dy > 0) z += (dy - y) * tilt;
    if (dy < 0) z += y * tilt;
    out[i] = {float(x + dx * lift), float(y + dy * lift), float(z)};
  }
}

void TTwoSlidesEffect::DrawSlide(TEffController* controller, float u, float w, float h) {
  const bool reflect = Direction == 1 || Direction == 2;
  const double p = DrawRect.Top + (double(DrawRect.Bottom) - DrawRect.Top) * 0.33;
  for (int32_t c = 0; c < controller->ColumnCount; ++c)
    for (int32_t r = 0; r < controller->RowCount; ++r) {
      TEffTile* tile = controller->GetTile(c, r);
      TRect cr;
      if (!ClipRect(tile->Rect, DrawRect, cr)) continue;
      CurrentTile = tile;
      const float l = float(cr.Left), t = float(cr.Top), rt = float(cr.Right), b = float(cr.Bottom);
      // Corners (L,T), (L,B), (R,T), (R,B).
      const TTriVertex src[4] = {{l, t, 255}, {l, b, 255}, {rt, t, 255}, {rt, b, 255}};
      T3DPoint m[4];
      MoveCorners(src, 4, u, w, h, m);
      tile->BeginDraw(true, true);
      tile->DrawMappedTriangle3D({src[0], src[2], src[1]}, {m[0], m[2], m[1]});
      tile->DrawMappedTriangle3D({src[1], src[2], src[3]}, {m[1], m[2], m[3]});
      const float p1 = float(std::max(p, double(t))), p2 = float(std::max(p, double(b)));
      if (reflect && p2 > p1) {
        // The floor reflection: the part below p, mirrored about the bottom
        // line, darker towards the top.
        const float bottom = float(DrawRect.Bottom);
        // A grey level below 0 (the reflection's top edge) is held at 0.
        auto shade = [&](float y) { return bottom != 0 ? std::max(0.0f, 192 * y / bottom - 64) : 0.0f; };
        const TTriVertex rs[4] = {{l, p1, shade(p1)}, {l, p2, shade(p2)}, {rt, p1, shade(p1)}, {rt, p2, shade(p2)}};
        T3DPoint rm[4];
        MoveCorners(rs, 4, u, w, h, rm);
        for (T3DPoint& q : rm) q.Y = 2 * bottom - q.Y;
        tile->DrawMappedTriangle3D({rs[0], rs[1], rs[2]}, {rm[0], rm[1], rm[2]});
        tile->DrawMappedTriangle3D({rs[1], rs[3], rs[2]}, {rm[1], rm[3], rm[2]});
      }
      tile->EndDraw();
    }
  CurrentTile = nullptr;
}

void TTwoSlidesEffect::Draw(TEffController* controller) {
  if (!controller) return;
  ++DrawCount;
  const bool odd = (DrawCount & 1) == 1;
  TRect g;
  controller->GetGridBounds(g);
  const double t = Progress();
  const float s = EaseInOut(float(t));
  if (odd) PaintGridBlack(controller);
  const float gw = float(g.Right - g.Left), gh = float(g.Bottom - g.Top);
  if ((t >= 0.5) != odd)
    DrawSlide(controller, 1 - s, -gw, -gh);
  else
    DrawSlide(controller, s, gw, gh);
}

// ---- Roll ---------------------------------------------------------------------

TRollEffect2::TRollEffect2(int32_t shape, int32_t rollKind) : Shape(shape), RollKind(rollKind) {
  MovingImage = true;
  Reverse = rollKind > 4;
}

void TRollEffect2::SetBackColour(uint32_t colorRef) {
  BackColour[0] = uint8_t(colorRef >> 16);
  BackColour[1] = uint8_t(colorRef >> 8);
  BackColour[2] = uint8_t(colorRef);
}

void TRollEffect2::FreeGeometry() {
  foundation::FreeAndNil(Roller);
  foundation::FreeAndNil(BackSeparator);
  foundation::FreeAndNil(FrontSeparator);
}

void TRollEffect2::Dispose() {
  FreeGeometry();
  TDrawFilter::Dispose();
}

bool TRollEffect2::BuildSeparators(TEffController* controller, const TRect& v) {
  std::vector<float> cols, rows;
  ColumnMap.clear();
  RowMap.clear();
  // The first row and column name the cells; a grid without either has none.
  if (controller->ColumnCount <= 0 || controller->RowCount <= 0) return false;
  for (int32_t c = 0; c < controller->ColumnCount; ++c) {
    const TRect& r = controller->GetTile(c, 0)->Rect;
    TRect clipped;
    if (!ClipRect(r, TRect{v.Left, r.Top, v.Right, r.Bottom}, clipped)) continue;
    if (cols.empty()) cols.push_back(float(clipped.Left));
    cols.push_back(float(clipped.Right));
    ColumnMap.push_back(c);
  }
  for (int32_t rr = 0; rr < controller->RowCount; ++rr) {
    const TRect& r = controller->GetTile(0, rr)->Rect;
    TRect clipped;
    if (!ClipRect(r, TRect{r.Left, v.Top, r.Right, v.Bottom}, clipped)) continue;
    if (rows.empty()) rows.push_back(float(clipped.Top));
    rows.push_back(float(clipped.Bottom));
    RowMap.push_back(rr);
  }
  if (ColumnMap.empty() || RowMap.empty()) return false;
  FrontSeparator = new T2DSeparator(cols.data(), int32_t(ColumnMap.size()), rows.data(), int32_t(RowMap.size()));
  BackSeparator = new T2DSeparator(cols.data(), int32_t(ColumnMap.size()), rows.data(), int32_t(RowMap.size()));
  return true;
}

void TRollEffect2::EnsureRoller(const TRect& v) {
  int32_t mode = 0;
  const int32_t k = RollKind;
  if (Shape == 14)
    mode = (k == 1 || k == 7) ? 1 : (k == 2 || k == 8) ? 4 : (k == 3 || k == 5) ? 2 : (k == 4 || k == 6) ? 3 : 0;
  else
    mode = (k == 1 || k == 7) ? 5 : (k == 2 || k == 8) ? 7 : (k == 3 || k == 5) ? 8 : (k == 4 || k == 6) ? 6 : 0;
  QEL_ASSERT(mode != 0, "TRollEffect2: unknown roll kind");
  Roller = new TRoller3(float(v.Left), float(v.Top), float(v.Right), float(v.Bottom), mode, Lift, Perspective);
  Roller->OnTriangle = [this](const TTriVertex& a, const TTriVertex& b, const TTriVertex& c, bool back) {
    RouteTriangle(a, b, c, back);
  };
  Roller->MaxAngle = float(FullTurn ? 2 * kPi : kPi);
  RollRadius = std::max(RollRadius, 2);
  Roller->SetRadius(float(RollRadius));
  Roller->BrightMax = 255;
  Roller->BrightMin = 50;
  Roller->FineStep = RollRadius > 99 ? 8 : std::max(3, RollRadius / 10);
  Roller->GetRange(RollStart, RollEnd);
  if (Reverse) std::swap(RollStart, RollEnd);
}

void TRollEffect2::RouteTriangle(const TTriVertex& p1, const TTriVertex& p2, const TTriVertex& p3, bool back) {
  if (back) {
    const TTriVertex t[3] = {p1, p3, p2};
    BackSeparator->AddPolygon(t, 2, 0, 2);
  } else {
    const TTriVertex t[3] = {p1, p2, p3};
    FrontSeparator->AddPolygon(t, 2, 0, 2);
  }
}

void TRollEffect2::DrawCells(T2DSeparator* sep, bool back) {
  const bool textured = !back || !ColourBack;
  Roller->ForEachCell(
      [&](int32_t c, int32_t r) {
        TEffTile* tile = Controller->GetTile(ColumnMap[c], RowMap[r]);
        tile->BeginDraw(textured, textured);
        const TPolygonSet& pieces = sep->CellPieces(c, r);
        if (int32_t(projected_.size()) < pieces.VertexCount) projected_.resize(size_t(pieces.VertexCount));
        // Each vertex is projected once, however many fan triangles share it.
        for (int32_t i = 0; i < pieces.VertexCount; ++i) projected_[i] = ProjectVertex(pieces.Vertices[i]);
        for (int32_t p = 0; p < pieces.PolygonCount; ++p) {
          const int32_t first = pieces.PolygonStart(p), end = pieces.Ends[p];
          for (int32_t k = first + 2; k < end; ++k) {
            const TTriangle t{pieces.Vertices[first], pieces.Vertices[k - 1], pieces.Vertices[k]};
            const TTriangle3D target{projected_[first], projected_[k - 1], projected_[k]};
            if (textured) {
              tile->DrawMappedTriangle3D(t, target);
              continue;
            }
            TColors3 colors;
            for (int i = 0; i < 3; ++i) {
              const uint32_t q = uint32_t(std::clamp(std::nearbyint(double(t[i].A)), 0.0, 255.0));
              const uint32_t red = (BackColour[2] * q) >> 8, green = (BackColour[1] * q) >> 8,
                             blue = (BackColour[0] * q) >> 8;
              colors[i] = 0xFF000000u | (red << 16) | (green << 8) | blue;
            }
            tile->DrawColoredTriangle3D(target, colors);
          }
        }
        tile->EndDraw();
      },
      int32_t(ColumnMap.size()), int32_t(RowMap.size()));
}

void TRollEffect2::Draw(TEffController* controller) {
  if (!controller) return;
  Controller = controller;
  TRect v;
  controller->GetViewRect(v);
  // The first frame builds the set-up; a new grid or view builds it again, so
  // the cell maps never point outside the controller's grid.
  const bool same = Roller && builtColumns_ == controller->ColumnEdges && builtRows_ == controller->RowEdges &&
                    builtView_.Left == v.Left && builtView_.Top == v.Top && builtView_.Right == v.Right &&
                    builtView_.Bottom == v.Bottom;
  if (!same) {
    FreeGeometry();
    builtColumns_ = controller->ColumnEdges;
    builtRows_ = controller->RowEdges;
    builtView_ = v;
    if (!BuildSeparators(controller, v)) return;
    EnsureRoller(v);
  }
  if (!FrontSeparator) return;
  FrontSeparator->Clear();
  BackSeparator->Clear();
  Roller->Generate(float(RollStart + (double(RollEnd) - RollStart) * Progress()));
  // A new frame invalidates every cached projection; the table is sized here,
  // once, so the per-vertex lookup stays a hash and a compare.
  if (++frame_ == 0 || vertexCache_.size() != kVertexCacheSize) {
    vertexCache_.assign(kVertexCacheSize, ProjectedVertex{0, 0, {}, 0});
    frame_ = 1;
  }
  DrawCells(FrontSeparator, false);
  DrawCells(BackSeparator, true);
  Controller = nullptr;
}

}  // namespace transitions
