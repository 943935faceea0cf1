#include "text/kvSvgUtils.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "imaging/kvBitmap.h"

namespace text {

double EvalQuadraticBezier(double a, double b, double c, double t) {
  const double u = 1 - t;
  return u * u * a + 2 * t * u * b + t * t * c;
}

double EvalCubicBezierD(double a, double b, double c, double d, double t) {
  const double u = 1 - t;
  return u * u * u * a + 3 * u * u * t * b + 3 * u * t * t * c + t * t * t * d;
}

double EvalCubicBezier(float a, float b, float c, float d, double t) { return EvalCubicBezierD(a, b, c, d, t); }

namespace {

bool Flat(TFloatPoint a, TFloatPoint b) { return std::fabs(b.X - a.X) < 2 && std::fabs(b.Y - a.Y) < 2; }

template <size_t N>
bool OutsideClip(const TFloatPoint (&p)[N], const TFlattenClip& c) {
  bool left = true, right = true, above = true, below = true;
  for (const auto& q : p) {
    left = left && q.X < c.Left;
    right = right && q.X > c.Right;
    above = above && q.Y < c.Top;
    below = below && q.Y > c.Bottom;
  }
  return left || right || above || below;
}

template <class Eval>
void Subdivide(const Eval& eval, TFloatPoint start, TFloatPoint end, float t0, float t1, int depth,
               const TFlattenEmit& emit) {
  if (depth < 2) return;
  if (t1 - t0 > 0 && !Flat(start, end)) {
    const float tm = float((double(t0) + double(t1)) / 2);
    const TFloatPoint mid = eval(tm);
    Subdivide(eval, start, mid, t0, tm, depth - 1, emit);
    Subdivide(eval, mid, end, tm, t1, depth - 1, emit);
  } else {
    emit(end);
  }
}

}  // namespace

void FlattenQuadratic(TFloatPoint P0, TFloatPoint P1, TFloatPoint P2, const TFlattenEmit& Emit,
                      const TFlattenClip& Clip) {
  const TFloatPoint hull[3] = {P0, P1, P2};
  if (OutsideClip(hull, Clip)) {
    Emit(P2);
    return;
  }
  const auto eval = [&](float t) {
    return TFloatPoint{float(EvalQuadraticBezier(P0.X, P1.X, P2.X, t)), float(EvalQuadraticBezier(P0.Y, P1.Y, P2.Y, t))};
  };
  const bool unclipped = Clip.Left < -3e38f && Clip.Right > 3e38f && Clip.Top < -3e38f && Clip.Bottom > 3e38f;
  if (unclipped) {
    Subdivide(eval, P0, P2, 0.0f, 1.0f, 32, Emit);
    return;
  }
  // With a clip, pieces are tested on their own hulls (the quadratic's
  // control points of [t0, t1] by blossoming).
  struct Rec {
    static void Go(const TFloatPoint (&q)[3], const decltype(eval)& ev, TFloatPoint start, TFloatPoint end, float t0,
                   float t1, int depth, const TFlattenEmit& emit, const TFlattenClip& clip) {
      if (depth < 2) return;
      // Control point of the piece: the blossom b(t0, t1).
      const double a = t0, b = t1;
      const TFloatPoint c{float((1 - a) * (1 - b) * q[0].X + ((1 - a) * b + a * (1 - b)) * q[1].X + a * b * q[2].X),
                          float((1 - a) * (1 - b) * q[0].Y + ((1 - a) * b + a * (1 - b)) * q[1].Y + a * b * q[2].Y)};
      const TFloatPoint hullPiece[3] = {start, c, end};
      if (t1 - t0 > 0 && !Flat(start, end) && !OutsideClip(hullPiece, clip)) {
        const float tm = float((double(t0) + double(t1)) / 2);
        const TFloatPoint mid = ev(tm);
        Go(q, ev, start, mid, t0, tm, depth - 1, emit, clip);
        Go(q, ev, mid, end, tm, t1, depth - 1, emit, clip);
      } else {
        emit(end);
      }
    }
  };
  Rec::Go(hull, eval, P0, P2, 0.0f, 1.0f, 32, Emit, Clip);
}

void FlattenCubic(TFloatPoint P0, TFloatPoint P1, TFloatPoint P2, TFloatPoint P3, const TFlattenEmit& Emit,
                  const TFlattenClip& Clip) {
  const TFloatPoint hull[4] = {P0, P1, P2, P3};
  if (OutsideClip(hull, Clip)) {
    Emit(P3);
    return;
  }
  const auto eval = [&](float t) {
    return TFloatPoint{float(EvalCubicBezierD(P0.X, P1.X, P2.X, P3.X, t)),
                       float(EvalCubicBezierD(P0.Y, P1.Y, P2.Y, P3.Y, t))};
  };
  const bool unclipped = Clip.Left < -3e38f && Clip.Right > 3e38f && Clip.Top < -3e38f && Clip.Bottom > 3e38f;
  if (unclipped) {
    Subdivide(eval, P0, P3, 0.0f, 1.0f, 32, Emit);
    return;
  }
  struct Rec {
    static TFloatPoint Blossom(const TFloatPoint (&q)[4], double a, double b, double c) {
      // b(a, b, c) of the cubic: symmetric polar form.
      const double w0 = (1 - a) * (1 - b) * (1 - c);
      const double w1 = a * (1 - b) * (1 - c) + (1 - a) * b * (1 - c) + (1 - a) * (1 - b) * c;
      const double w2 = a * b * (1 - c) + a * (1 - b) * c + (1 - a) * b * c;
      const double w3 = a * b * c;
      return TFloatPoint{float(w0 * q[0].X + w1 * q[1].X + w2 * q[2].X + w3 * q[3].X),
                         float(w0 * q[0].Y + w1 * q[1].Y + w2 * q[2].Y + w3 * q[3].Y)};
    }
    static void Go(const TFloatPoint (&q)[4], const decltype(eval)& ev, TFloatPoint start, TFloatPoint end, float t0,
                   float t1, int depth, const TFlattenEmit& emit, const TFlattenClip& clip) {
      if (depth < 2) return;
      const TFloatPoint hullPiece[4] = {start, Blossom(q, t0, t0, t1), Blossom(q, t0, t1, t1), end};
      if (t1 - t0 > 0 && !Flat(start, end) && !OutsideClip(hullPiece, clip)) {
        const float tm = float((double(t0) + double(t1)) / 2);
        const TFloatPoint mid = ev(tm);
        Go(q, ev, start, mid, t0, tm, depth - 1, emit, clip);
        Go(q, ev, mid, end, tm, t1, depth - 1, emit, clip);
      } else {
        emit(end);
      }
    }
  };
  Rec::Go(hull, eval, P0, P3, 0.0f, 1.0f, 32, Emit, Clip);
}

}  // namespace text
