#include "transitions/RollTriangles3.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace transitions {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kSqrt2 = 1.41421356;
constexpr double kTiny = 2.9411764705882355e-39;
constexpr double kDiag = 0.70710677;
double Sign(double v) { return v > 0 ? 1 : (v < 0 ? -1 : 0); }
}  // namespace

TRoller3::TRoller3(float x0, float y0, float x1, float y1, int32_t mode, bool lift, float perspective)
    : Lift(lift), Perspective(perspective) {
  static const float dirs[8][2] = {{1, 0}, {-1, 0}, {0, -1}, {0, 1}, {float(kDiag), float(kDiag)},
                                   {float(kDiag), -float(kDiag)}, {-float(kDiag), float(kDiag)},
                                   {-float(kDiag), -float(kDiag)}};
  const int m = (mode >= 1 && mode <= 8) ? mode - 1 : 0;
  DirX = dirs[m][0];
  DirY = dirs[m][1];
  StartX = DirX < 0 ? x1 : x0;
  EndX = DirX < 0 ? x0 : x1;
  StartY = DirY < 0 ? y1 : y0;
  EndY = DirY < 0 ? y0 : y1;
  Width = x1 - x0;
  Height = y1 - y0;
  AxisSign = DirX != 0 ? float(Sign(DirX)) : float(Sign(DirY));
}

void TRoller3::GetRange(float& start, float& end) const {
  const double b = Lift ? kPi / 2 : 1;
  if (!Diagonal() && DirX != 0) {
    start = float(StartX - Sign(DirX) * Radius * b);
    end = EndX;
  } else if (!Diagonal()) {
    start = float(StartY - Sign(DirY) * Radius * b);
    end = EndY;
  } else {
    start = float(StartX - Sign(DirX) * (Radius * b / kSqrt2 + (double(Height) - Width) / 2));
    end = EndX;
  }
}

double TRoller3::LiftAngle(double r, double b, double k) {
  const double d = k * k - 2 * b * (r - b / 2);
  const double den = 2 * r - b;
  if (d < 0 || !(std::fabs(den) > kTiny) || !std::isfinite(d)) return kPi / 2;
  auto angle = [](double e) { return std::fabs(e) <= kTiny ? kPi / 2 : kPi - 2 * std::atan(1 / e); };
  const double e1 = (std::sqrt(d) - k) / den, e2 = (-k - std::sqrt(d)) / den;
  return std::min(angle(e1), angle(e2));
}

float TRoller3::Brightness(double past) const {
  double w = past / Radius;
  w = std::clamp(w, 0.0, double(MaxAngle));
  return float(std::fabs(std::cos(w)) * (BrightMax - BrightMin) + BrightMin);
}

void TRoller3::SinCos(double w, double& s, double& c) const {
  // Every point wound past the full angle shares it: its sine and cosine are
  // kept for the angle they were taken of.
  if (w == maxW_) {
    s = maxSin_;
    c = maxCos_;
    return;
  }
  s = std::sin(w);
  c = std::cos(w);
  if (w == double(MaxAngle)) {
    maxW_ = w;
    maxSin_ = s;
    maxCos_ = c;
  }
}

// Positions here are distances along the roll direction (s = +1).
void TRoller3::ProjectAlong(double pos, double rollLine, double start, double& out, double& z) const {
  const double r = Radius;
  out = pos;
  z = 0;
  if (!Lift) {
    const double u = pos - rollLine;
    const double w = std::min(u / r, double(MaxAngle));
    if (w > 0) {
      double sw, cw;
      SinCos(w, sw, cw);
      out = rollLine + (r * sw + cw * (u - w * r));
    }
    return;
  }
  const double b = start - rollLine;
  const double c = b > 0 ? start : rollLine;
  const double u = pos - c;
  const double w = std::min(u / r, double(MaxAngle));
  if (!(w > 0)) return;
  double sw, cw;
  SinCos(w, sw, cw);
  out = c + (r * sw + cw * (u - w * r));
  z = -double(Perspective) * r * (1 - cw);
  if (b > 0 && z != 0 && std::fabs(double(Perspective)) > kTiny) {
    // The roll still hangs before the sheet: turn it about the start edge.
    // The polar angle is taken of (start - position, h), i.e. of the point
    // mirrored through the edge, so the turned point is mirrored back; without
    // that the roll would jump to its mirror image behind the edge the moment
    // the roll line reaches the sheet (and stand in view at the start).
    const double q = start - out;
    const double h = z / Perspective;
    const double rr = std::sqrt(h * h + q * q);
    double phi = std::fabs(q) <= kTiny ? kPi / 2 : std::atan(h / q);
    if (q < 0) phi += kPi;
    out = start - rr * std::cos(phi + b / r);
    z = double(Perspective) * rr * std::sin(phi + b / r);
  }
}

double TRoller3::TurnOver(double start, double end, double rollLine) const {
  if (!Lift) return kPi / 2;
  if (!(std::fabs(double(Perspective)) > kTiny)) return kPi / 2;
  const double r = Radius;
  const double n = start - rollLine;
  double m1, m2;
  if (n > 0) {
    m1 = start - std::sin(n / r) * r;
    m2 = std::cos(n / r) * r;
  } else {
    m1 = rollLine;
    m2 = r;
  }
  const double b = std::fabs(double(Height)) / Perspective + r - m2;
  const double k = m1 - (start + end) / 2;
  return LiftAngle(r, b, k);
}

void TRoller3::ProjectCached(double pos, double rollLine, double& out, double& z) const {
  constexpr size_t kSize = 1024;
  if (cache_.size() != kSize) cache_.assign(kSize, CacheEntry{0, 0, 0, 0});
  uint64_t bits;
  std::memcpy(&bits, &pos, sizeof bits);
  CacheEntry& e = cache_[(bits ^ (bits >> 29) ^ (bits >> 41)) & (kSize - 1)];
  if (e.frame == frame_ && e.pos == pos) {
    out = e.out;
    z = e.z;
    return;
  }
  ProjectAlong(pos, rollLine, 0, out, z);
  e = CacheEntry{pos, out, z, frame_};
}

foundation::T3DPoint TRoller3::Project(float x, float y) const {
  if (!Diagonal()) {
    const double s = AxisSign;
    const bool alongX = DirX != 0;
    const double start = alongX ? StartX : StartY;
    const double pos = alongX ? x : y;
    double out, z;
    // Work in distances along the direction, then back to coordinates.
    ProjectCached((pos - start) * s, (double(RollLine) - start) * s, out, z);
    const float moved = float(start + s * out);
    return alongX ? foundation::T3DPoint{moved, y, float(z)} : foundation::T3DPoint{x, moved, float(z)};
  }
  const double sx = Sign(DirX), sy = Sign(DirY);
  const double a = sx * (double(x) - StartX), b = sy * (double(y) - StartY);
  const double delta = (a + b) / kSqrt2, offset = (a - b) / kSqrt2;
  // The roll line along the diagonal is the same for the whole frame.
  if (!(diagFor_.RollLine == RollLine && diagFor_.StartX == StartX && diagFor_.Width == Width &&
        diagFor_.Height == Height && diagFor_.Sx == sx)) {
    const double eff = double(RollLine) - sx * (double(Width) - Height) / 2;
    diagFor_ = DiagonalLine{RollLine, StartX, Width, Height, sx, (eff - StartX) * sx * kSqrt2};
  }
  const double rollDelta = diagFor_.RollDelta;
  double out, z;
  ProjectCached(delta, rollDelta, out, z);
  const double na = (out + offset) / kSqrt2, nb = (out - offset) / kSqrt2;
  return {float(StartX + sx * na), float(StartY + sy * nb), float(z)};
}

void TRoller3::Generate(float rollLine) {
  RollLine = rollLine;
  ClearCache();
  MaxAngle = std::min(MaxAngle, float(3 * kPi / 2));
  if (Diagonal())
    GenerateDiagonal();
  else
    GenerateAxis();
}

template <class Line>
void TRoller3::Sweep(double start, double end, double s, double rollLine, double r, double e,
                     std::initializer_list<double> cuts, bool mirrored, Line line) const {
  double d = start;
  int guard = 0;
  while ((end - d) * s > 0 && guard++ < 1000000) {
    const bool flat = (d + 50 * s - rollLine) * s < 0;
    const bool past = (d - (s * r * MaxAngle + rollLine)) * s > 0;
    const double width = (flat || past) ? 50 : FineStep;
    double next = d + s * width;
    for (double cut : cuts)
      if ((cut - d) * s > 0 && (next - cut) * s > 0) next = cut;
    if ((next - end) * s > 0) next = end;
    TTriVertex pd, qd, pg, qg;
    line(d, pd, qd);
    line(next, pg, qg);
    const bool back = (d - e) * s >= 0;
    if (mirrored) {
      Emit(pd, qd, pg, back);
      Emit(pg, qd, qg, back);
    } else {
      Emit(pd, pg, qd, back);
      Emit(pg, qg, qd, back);
    }
    d = next;
  }
}

void TRoller3::GenerateAxis() {
  const double s = AxisSign;
  const bool alongX = DirX != 0;
  const double start = alongX ? StartX : StartY, c = alongX ? EndX : EndY;
  const double o0 = alongX ? std::min(StartY, EndY) : std::min(StartX, EndX);
  const double o1 = alongX ? std::max(StartY, EndY) : std::max(StartX, EndX);
  const double r = Radius;
  // The turn-over point, in sheet coordinates.
  const double g = TurnOver(0, (c - start) * s, (double(RollLine) - start) * s);
  const double e = RollLine + s * r * g;
  auto line = [&](double pos, TTriVertex& p, TTriVertex& q) {
    const float a = Brightness((pos - RollLine) * s);
    if (alongX) {
      p = {float(pos), float(o0), a};
      q = {float(pos), float(o1), a};
    } else {
      p = {float(o0), float(pos), a};
      q = {float(o1), float(pos), a};
    }
  };
  const bool keep = DirY < 0 || DirX > 0;
  Sweep(start, c, s, RollLine, r, e, {e}, !keep, line);
}

void TRoller3::GenerateDiagonal() {
  const double sx = Sign(DirX), sy = Sign(DirY);
  const double w = std::fabs(double(Width)), h = std::fabs(double(Height));
  const double x0 = StartX, y0 = StartY;
  const double eff = double(RollLine) - sx * (double(Width) - Height) / 2;  // roll line in x units
  const double r = Radius / kSqrt2;                                         // radius in x units
  const double total = (w + h) / 2;
  const double g = TurnOver(0, total * kSqrt2, (eff - x0) * sx * kSqrt2);
  const double e = eff + sx * r * g;
  const double breaks[2] = {x0 + sx * std::min(w, h) / 2, x0 + sx * std::max(w, h) / 2};
  const double c = x0 + sx * total;
  // Ends of the strip line of parameter x on the sheet's boundary.
  auto line = [&](double x, TTriVertex& p, TTriVertex& q) {
    const double lam = (x - x0) * sx;
    const float a = Brightness((x - eff) * sx * kSqrt2);
    double pa = 0, pb = 2 * lam, qa = 2 * lam, qb = 0;
    if (pb > h) pb = h, pa = 2 * lam - h;
    if (qa > w) qa = w, qb = 2 * lam - w;
    p = {float(x0 + sx * pa), float(y0 + sy * pb), a};
    q = {float(x0 + sx * qa), float(y0 + sy * qb), a};
  };
  const bool same = DirX * DirY > 0;
  Sweep(x0, c, sx, eff, r, e, {breaks[0], breaks[1], e}, same, line);
}

}  // namespace transitions
