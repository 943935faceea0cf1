#include "transitions/kvDrawFilter.h"

#include <algorithm>
#include <cmath>

#include "foundation/kpExceptions.h"
#include "transitions/kvRandom.h"

namespace transitions {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

// ---- Base -------------------------------------------------------------------

void TDrawFilter::Init(const TRect& rect, float duration, float edgeWidth) {
  Rect = rect;
  Duration = duration;
  InvDuration = SafeReciprocal(duration);
  EdgeWidth = edgeWidth;
  Position = 0;
}

void TDrawFilter::SetPosition(float position) {
  // Also a position that is not a number: every filter would turn it into
  // geometry that is not either.
  if (!(position >= 0)) position = 0;
  if (position > Duration) position = Duration;
  Position = position;
}

float SoftEdgeCurve(float x) { return SoftEdgeCurveC(x); }

double SafeReciprocal(double x) { return x == 0 ? 0.0 : 1.0 / x; }

double SqrDistance(TFloatPoint a, TFloatPoint b) {
  const float dx = a.X - b.X, dy = a.Y - b.Y;
  return double(dx * dx + dy * dy);
}

bool ClipRect(const TRect& a, const TRect& b, TRect& out) {
  out.Left = std::max(a.Left, b.Left);
  out.Top = std::max(a.Top, b.Top);
  out.Right = std::min(a.Right, b.Right);
  out.Bottom = std::min(a.Bottom, b.Bottom);
  return out.Right > out.Left && out.Bottom > out.Top;
}

// ---- Cross-fade -------------------------------------------------------------

void TAlphaFilter::Draw(TEffController* controller) {
  if (!controller) return;
  float alpha = float(255.0f * Position * InvDuration);
  alpha = std::clamp(alpha, 0.0f, 255.0f);
  TEffTile* tile = controller->GetWholeTile();
  tile->BeginDraw(true, false);
  const float l = float(DrawRect.Left), t = float(DrawRect.Top), r = float(DrawRect.Right),
              b = float(DrawRect.Bottom);
  tile->DrawTriangle({TTriVertex{l, t, alpha}, {r, t, alpha}, {l, b, alpha}});
  tile->DrawTriangle({TTriVertex{r, b, alpha}, {l, b, alpha}, {r, t, alpha}});
  tile->EndDraw();
}

// ---- Mapping ----------------------------------------------------------------

void TRectMapper::Setup(const TRect& from, const TRect& to, float fracX, float fracY) {
  const double fw = double(from.Right) - from.Left, fh = double(from.Bottom) - from.Top;
  const double tw = double(to.Right) - to.Left, th = double(to.Bottom) - to.Top;
  ScaleX = tw * SafeReciprocal(fw);
  ScaleY = th * SafeReciprocal(fh);
  FromX = float(from.Left + fw * fracX);
  FromY = float(from.Top + fh * fracY);
  ToX = float(to.Left + tw * fracX);
  ToY = float(to.Top + th * fracY);
}

// ---- Shapes -----------------------------------------------------------------

void TCommonFilter::Init(const TRect& rect, float duration, float edgeWidth) {
  TDrawFilter::Init(rect, duration, edgeWidth);
  Centre.X = rect.Left + float(rect.Right - rect.Left) * CentreX;
  Centre.Y = rect.Top + float(rect.Bottom - rect.Top) * CentreY;
  CalcRadius();
}

void TCommonFilter::CalcRadius() {
  const float w = float(Rect.Right - Rect.Left), h = float(Rect.Bottom - Rect.Top);
  double far = 0;
  for (TFloatPoint p : {TFloatPoint{0, 0}, TFloatPoint{0, h}, TFloatPoint{w, 0}, TFloatPoint{w, h}})
    far = std::max(far, std::sqrt(SqrDistance(Centre, p)));
  Radius = float(EdgeWidth + far);
}

void TCommonFilter::Draw(TEffController* controller) {
  if (!controller) return;
  Sink = controller->GetWholeTile();
  mapper_.Setup(Rect, DrawRect, CentreX, CentreY);
  float x = float(double(Radius) * (double(Position) * InvDuration));
  if (Reverse) x = Radius - x;
  Sink->BeginDraw(true, false);
  DrawBands(x - EdgeWidth, x);
  Sink->EndDraw();
  Sink = nullptr;
}

void TCommonFilter::DrawBands(float a, float b) {
  if (b <= 0) return;
  if (a > 0) DrawBand(0, a, 255, 255, -1);
  float d, c;
  if (a < 0) {
    d = 0;
    c = SoftEdgeCurve(-a * 255 / (b - a));
  } else {
    d = a;
    c = 0;
  }
  int32_t n = 0;
  for (int i = 1; i <= 14; ++i) {
    const float e = SoftEdgeX[i] * (b - a) / 255 + a;
    const float f = SoftEdgeY[i];
    // Points closer than 2 pixels widen the pending band instead.
    if ((i == 14 || e - d > 2) && e > 0 && d < Radius) {
      DrawBand(d, e, 255 - c, 255 - f, n++);
      d = e;
      c = f;
    }
  }
}

void TCommonFilter::EmitTriangle(const TTriVertex& a, const TTriVertex& b, const TTriVertex& c) {
  Sink->DrawTriangle({mapper_.Map(a), mapper_.Map(b), mapper_.Map(c)});
}

void TCommonFilter::EmitQuad(float x1, float y1, float x2, float y2, float aTL, float aTR, float aBR,
                             float aBL) {
  EmitTriangle({x1, y1, aTL}, {x2, y1, aTR}, {x1, y2, aBL});
  EmitTriangle({x2, y1, aTR}, {x2, y2, aBR}, {x1, y2, aBL});
}

void TCommonFilter::EmitQuad4(const TTriVertex& p1, const TTriVertex& p2, const TTriVertex& p3,
                              const TTriVertex& p4) {
  EmitTriangle(p1, p2, p4);
  EmitTriangle(p2, p3, p4);
}

TCircleFilter::TCircleFilter(float centreX, float centreY, bool reverse) : TCommonFilter(centreX, centreY) {
  Reverse = reverse;
  SegmentCount = 128;
}

void TCircleFilter::CalcRadius() {
  const float l = float(Rect.Left), t = float(Rect.Top), r = float(Rect.Right), b = float(Rect.Bottom);
  double far = 0;
  for (TFloatPoint p : {TFloatPoint{l, t}, TFloatPoint{r, t}, TFloatPoint{l, b}, TFloatPoint{r, b}})
    far = std::max(far, std::sqrt(SqrDistance(Centre, p)));
  FarDistance = float(far);
  // Distance from the centre to the rectangle, 0 inside.
  const float dx = Centre.X < l ? l - Centre.X : (Centre.X > r ? Centre.X - r : 0);
  const float dy = Centre.Y < t ? t - Centre.Y : (Centre.Y > b ? Centre.Y - b : 0);
  Offset = std::sqrt(dx * dx + dy * dy);
  Radius = FarDistance - Offset + EdgeWidth;
  if (Offset > 0) SegmentCount = 256;
}

void TCircleFilter::DrawBand(float inner, float outer, float aIn, float aOut, int32_t index) {
  const int32_t n = SegmentCount;
  if (n <= 0) return;
  const double ri = double(inner) + Offset, ro = double(outer) + Offset;
  const double step = 2 * kPi / n;
  if (int32_t(cos_.size()) != 2 * n + 1) {
    cos_.resize(size_t(2 * n + 1));
    sin_.resize(size_t(2 * n + 1));
    for (int32_t k = 0; k <= 2 * n; ++k) {
      cos_[k] = std::cos(k * step);
      sin_[k] = std::sin(k * step);
    }
  }
  // Angles as multiples of the step. Even rings start the outer circle one
  // step on, odd rings the inner one, so neighbouring rings are staggered.
  const bool even = (index & 1) == 0;
  const int32_t innerStart = even ? 0 : 1, outerStart = even ? 1 : 0;
  int32_t ia = innerStart, oa = outerStart;
  auto at = [this](double r, int32_t k, float a) {
    return TTriVertex{float(Centre.X + r * cos_[k]), float(Centre.Y + r * sin_[k]), a};
  };
  for (int32_t i = 1; i <= n; ++i) {
    const bool innerBased = ((i & 1) == 1) == even;
    // The last segment closes the ring exactly on its first vertices.
    const bool last = i == n;
    if (innerBased) {
      const int32_t next = last ? innerStart : ia + 2;
      if (ri > 0) EmitTriangle(at(ri, ia, aIn), at(ro, oa, aOut), at(ri, next, aIn));
      ia = next;
    } else {
      const int32_t next = last ? outerStart : oa + 2;
      EmitTriangle(at(ri, ia, aIn), at(ro, oa, aOut), at(ro, next, aOut));
      oa = next;
    }
  }
}

void THLines::CalcRadius() {
  Radius = EdgeWidth + std::max(std::fabs(Centre.X - Rect.Left), std::fabs(Centre.X - Rect.Right));
}

void THLines::DrawBand(float inner, float outer, float aIn, float aOut, int32_t) {
  const float cx = Centre.X, t = float(Rect.Top), b = float(Rect.Bottom);
  EmitQuad(cx - outer, t, cx - inner, b, aOut, aIn, aIn, aOut);
  EmitQuad(cx + inner, t, cx + outer, b, aIn, aOut, aOut, aIn);
}

void TVLines::CalcRadius() {
  Radius = EdgeWidth + std::max(std::fabs(Centre.Y - Rect.Top), std::fabs(Centre.Y - Rect.Bottom));
}

void TVLines::DrawBand(float inner, float outer, float aIn, float aOut, int32_t) {
  const float cy = Centre.Y, l = float(Rect.Left), r = float(Rect.Right);
  EmitQuad(l, cy - outer, r, cy - inner, aOut, aOut, aIn, aIn);
  EmitQuad(l, cy + inner, r, cy + outer, aIn, aIn, aOut, aOut);
}

TDiagLines::TDiagLines(int32_t kind, int32_t direction) : TCommonFilter(0, 0) {
  uint8_t mode;
  if (kind == 8) {
    mode = 1;
    Reverse = direction == 1 || direction == 3;
  } else {
    mode = (direction == 1 || direction == 3) ? 0 : 2;
  }
  Setup(mode, direction > 2);
}

void TDiagLines::Setup(uint8_t mode, bool flip) {
  Mode = mode;
  Flip = flip;
  CentreX = 0;
  CentreY = 0;
}

void TDiagLines::CalcRadius() {
  const int32_t w = Rect.Right - Rect.Left, h = Rect.Bottom - Rect.Top;
  const int32_t s = w + h;
  TopX = Mode == 0 ? 0.0f : (Mode == 1 ? float(s / 2) : float(s));
  BottomX = TopX - float(h);
  Radius = (Mode == 1 ? TopX : float(s)) + EdgeWidth;
  if (Flip) {
    const float old = TopX;
    TopX = old - float(h);
    BottomX = old;
  }
}

void TDiagLines::DrawBand(float inner, float outer, float aIn, float aOut, int32_t) {
  const float xt = Rect.Left + TopX, xb = Rect.Left + BottomX, t = float(Rect.Top), b = float(Rect.Bottom);
  if (Mode != 2)
    EmitQuad4({xt + inner, t, aIn}, {xt + outer, t, aOut}, {xb + outer, b, aOut}, {xb + inner, b, aIn});
  if (Mode != 0)
    EmitQuad4({xt - outer, t, aOut}, {xt - inner, t, aIn}, {xb - inner, b, aIn}, {xb - outer, b, aOut});
}

void TRhombFilter::CalcRadius() {
  const float l = float(Rect.Left), t = float(Rect.Top), r = float(Rect.Right), b = float(Rect.Bottom);
  const float cx = Centre.X, cy = Centre.Y;
  const float ox = cx < l ? l - cx : (cx > r ? cx - r : 0);
  const float oy = cy < t ? t - cy : (cy > b ? cy - b : 0);
  Offset = ox + oy;
  float far = 0;
  for (TFloatPoint p : {TFloatPoint{l, t}, TFloatPoint{r, t}, TFloatPoint{l, b}, TFloatPoint{r, b}})
    far = std::max(far, std::fabs(p.X - cx) + std::fabs(p.Y - cy));
  Radius = EdgeWidth + far - Offset;
}

void TRhombFilter::DrawBand(float inner, float outer, float aIn, float aOut, int32_t) {
  const float ri = inner + Offset, ro = outer + Offset, cx = Centre.X, cy = Centre.Y;
  const TTriVertex li{cx - ri, cy, aIn}, ti{cx, cy - ri, aIn}, rI{cx + ri, cy, aIn}, bi{cx, cy + ri, aIn};
  const TTriVertex lo{cx - ro, cy, aOut}, to{cx, cy - ro, aOut}, rO{cx + ro, cy, aOut}, bo{cx, cy + ro, aOut};
  EmitQuad4(lo, to, ti, li);
  EmitQuad4(to, rO, rI, ti);
  EmitQuad4(bi, rI, rO, bo);
  EmitQuad4(li, bi, bo, lo);
}

void TSquareFilter::CalcRadius() {
  const float l = float(Rect.Left), t = float(Rect.Top), r = float(Rect.Right), b = float(Rect.Bottom);
  const float w = r - l, h = b - t, cx = Centre.X, cy = Centre.Y;
  Aspect = double(w) * SafeReciprocal(h);
  Radius = w + EdgeWidth;
  const bool insideX = cx >= l && cx <= r, insideY = cy >= t && cy <= b;
  if (insideX && insideY) {
    Offset = 0;
    Radius = float(EdgeWidth + std::max(double(std::max(cx - l, r - cx)),
                                        std::max((b - cy) * Aspect, (cy - t) * Aspect)));
  } else if (insideY) {
    Offset = cx < l ? l - cx : cx - r;
  } else if (insideX) {
    Offset = float(cy < t ? (t - cy) * Aspect : (cy - b) * Aspect);
  } else {
    const float hx = cx < l ? l - cx : cx - r;
    const double vy = (cy < t ? t - cy : cy - b) * Aspect;
    Offset = float(std::min(double(hx), vy));
  }
  // With the centre beyond a corner the smaller of the two distances is the
  // offset, and a radius of W + EW then stops short of the far side in the
  // other direction: the shape must still reach the farthest corner at the end.
  double farthest = 0;
  for (TFloatPoint p : {TFloatPoint{l, t}, TFloatPoint{r, t}, TFloatPoint{l, b}, TFloatPoint{r, b}})
    farthest = std::max(farthest, std::max(double(std::fabs(p.X - cx)), std::fabs(p.Y - cy) * Aspect));
  Radius = float(std::max(double(Radius), EdgeWidth + farthest - Offset));
  Aspect = SafeReciprocal(Aspect);
}

void TSquareFilter::DrawBand(float inner, float outer, float aIn, float aOut, int32_t) {
  const float ri = inner + Offset, ro = outer + Offset;
  const float hi = float(ri * Aspect), ho = float(ro * Aspect), cx = Centre.X, cy = Centre.Y;
  EmitQuad4({cx - ro, cy - ho, aOut}, {cx + ro, cy - ho, aOut}, {cx + ri, cy - hi, aIn}, {cx - ri, cy - hi, aIn});
  EmitQuad4({cx - ri, cy + hi, aIn}, {cx + ri, cy + hi, aIn}, {cx + ro, cy + ho, aOut}, {cx - ro, cy + ho, aOut});
  EmitQuad4({cx - ro, cy - ho, aOut}, {cx - ri, cy - hi, aIn}, {cx - ri, cy + hi, aIn}, {cx - ro, cy + ho, aOut});
  EmitQuad4({cx + ro, cy + ho, aOut}, {cx + ri, cy + hi, aIn}, {cx + ri, cy - hi, aIn}, {cx + ro, cy - ho, aOut});
}

// ---- Random cells -----------------------------------------------------------

TRandomFilter::TRandomFilter(int32_t columns, int32_t rows, int32_t seed)
    : Columns(std::clamp(columns, 0, kMaxCellsPerSide)), Rows(std::clamp(rows, 0, kMaxCellsPerSide)), Seed(seed) {}

int32_t TRandomFilter::RandomBelow(int32_t limit) { return int32_t(NextGlobalFloat() * float(limit)); }

namespace {
// The spread as the filter can use it: a delay is never negative, and a
// spread from a damaged show must not overflow the integer delays.
float UsableSpread(float spread) { return spread > 0 ? std::min(spread, 1e6f) : 0.0f; }
}  // namespace

void TRandomFilter::Init(const TRect& rect, float duration, float edgeWidth) {
  TDrawFilter::Init(rect, duration, edgeWidth);
  // A cell narrower than a pixel of the target draws nothing a smaller grid
  // would not, and the grid's cost grows with its cells: a show's "cols" and
  // "rows" are taken at most up to the target's pixels.
  const int64_t width = int64_t(rect.Right) - rect.Left, height = int64_t(rect.Bottom) - rect.Top;
  Columns = int32_t(std::clamp<int64_t>(Columns, 0, std::max<int64_t>(width, 1)));
  Rows = int32_t(std::clamp<int64_t>(Rows, 0, std::max<int64_t>(height, 1)));
  Delays.assign(size_t(Columns), std::vector<int32_t>(size_t(Rows), 0));
  SetGlobalSeed(Seed);
  const int32_t limit = int32_t(UsableSpread(Spread) * 100);
  for (int32_t i = 0; i < Rows; ++i)
    for (int32_t j = 0; j < Columns; ++j) Delays[j][i] = RandomBelow(limit);
}

void TRandomFilter::Draw(TEffController* controller) {
  if (!controller) return;
  // Not initialised (or the grid was changed since): no delays to draw by.
  if (int32_t(Delays.size()) != Columns || (Columns > 0 && int32_t(Delays[0].size()) != Rows)) return;
  const double t = Progress();
  const int32_t p = int32_t((double(UsableSpread(Spread)) * 100 + 256) * t - 256);
  TEffTile* tile = controller->GetWholeTile();
  tile->BeginDraw(true, false);
  const float cw = float(DrawRect.Right - DrawRect.Left) / float(Columns);
  const float ch = float(DrawRect.Bottom - DrawRect.Top) / float(Rows);
  for (int32_t i = 0; i < Rows; ++i)
    for (int32_t j = 0; j < Columns; ++j) {
      const int32_t f = Delays[j][i] - p;
      if (f > 254) continue;
      const float a = f < 0 ? 255.0f : float(255 - f);
      const float x1 = DrawRect.Left + j * cw, y1 = DrawRect.Top + i * ch;
      const float x2 = DrawRect.Left + (j + 1) * cw, y2 = DrawRect.Top + (i + 1) * ch;
      tile->DrawTriangle({TTriVertex{x1, y1, a}, {x2, y1, a}, {x1, y2, a}});
      tile->DrawTriangle({TTriVertex{x2, y1, a}, {x2, y2, a}, {x1, y2, a}});
    }
  tile->EndDraw();
}

// ---- Slide and push ---------------------------------------------------------

void DrawShiftedTiles(TEffController* controller, int32_t direction, double t) {
  TRect v;
  controller->GetViewRect(v);
  const double w = double(v.Right) - v.Left, h = double(v.Bottom) - v.Top;
  double dx = 0, dy = 0;
  if (direction == 1 || direction == 2)
    dx = w * t;
  else
    dy = h * t;
  switch (direction) {
    case 1: dx -= w; break;
    case 2: dx = w - dx; break;
    case 3: dy -= h; break;
    case 4: dy = h - dy; break;
    default: break;
  }
  const float fx = float(dx), fy = float(dy);
  for (int32_t row = 0; row < controller->RowCount; ++row)
    for (int32_t col = 0; col < controller->ColumnCount; ++col) {
      TEffTile* tile = controller->GetTile(col, row);
      TRect c;
      if (!ClipRect(tile->Rect, v, c)) continue;
      const float l = float(c.Left), t0 = float(c.Top), r = float(c.Right), b = float(c.Bottom);
      tile->BeginDraw(true, false);
      tile->DrawMappedTriangle({TTriVertex{l, t0, 255}, {r, t0, 255}, {l, b, 255}},
                               {TTriVertex{l + fx, t0 + fy, 255}, {r + fx, t0 + fy, 255}, {l + fx, b + fy, 255}});
      tile->DrawMappedTriangle({TTriVertex{r, b, 255}, {l, b, 255}, {r, t0, 255}},
                               {TTriVertex{r + fx, b + fy, 255}, {l + fx, b + fy, 255}, {r + fx, t0 + fy, 255}});
      tile->EndDraw();
    }
}

void TSlideFilter::Draw(TEffController* controller) {
  if (!controller) return;
  DrawShiftedTiles(controller, Direction, Progress());
}

void TPushFilter::Draw(TEffController* controller) {
  if (!controller) return;
  DrawShiftedTiles(controller, Direction, Progress());
}

void TPushFilter::ApplyReverse() {
  Position = Duration - Position;
  switch (Direction) {
    case 1: Direction = 2; break;
    case 2: Direction = 1; break;
    case 3: Direction = 4; break;
    case 4: Direction = 3; break;
    default: break;
  }
}

}  // namespace transitions
