#include "foundation/FloatGeometry.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace foundation {

bool IsNonZero(double x) { return std::fabs(x) > GeometryTolerance; }

TFloatPoint FloatPoint(float x, float y) { return {x, y}; }
TFloatPoint FloatSize(float cx, float cy) { return {cx, cy}; }
TFlatVector FlatVector(float x, float y) { return {x, y}; }
T3DPoint Point3D(float x, float y, float z) { return {x, y, z}; }
T3DPoint Vector3D(float x, float y, float z) { return {x, y, z}; }
T3DPoint Point3DFromFloatPoint(TFloatPoint p, float z) { return {p.X, p.Y, z}; }
T3DPoint Vector3DFromFlatVector(TFlatVector v, float z) { return {v.X, v.Y, z}; }
TFloatRect FloatRect(float left, float top, float right, float bottom) { return {left, top, right, bottom}; }
TFloatRect FloatBounds(float x, float y, float width, float height) { return {x, y, x + width, y + height}; }
TFloatRect RectToFloatRect(const TRect& r) {
  return {float(r.Left), float(r.Top), float(r.Right), float(r.Bottom)};
}
TFloatRect SizeToFloatRect(float cx, float cy) { return {0, 0, cx, cy}; }
TFloatPoint PointToFloatPoint(TPoint p) { return {float(p.X), float(p.Y)}; }
TFloatPoint RectCenter(const TRect& r) {
  // 64-bit sums so that rectangles near the Int32 limits do not overflow.
  return {float(double(int64_t(r.Left) + r.Right) * 0.5), float(double(int64_t(r.Top) + r.Bottom) * 0.5)};
}
float FixedToSingle(int32_t value) { return float(value) * (1.0f / 65536.0f); }
int32_t SingleToFixed(float x) {
  float v = x * 65536.0f - 0.5f;
  const float r = std::nearbyintf(v);  // default rounding: nearest, halves to even
  // Beyond the 16.16 range the conversion would be undefined: saturate (and a
  // value that is not a number becomes 0).
  if (!(r == r)) return 0;
  if (r >= 2147483648.0f) return INT32_MAX;
  if (r < -2147483648.0f) return INT32_MIN;
  return int32_t(r);
}
uint64_t FloatPointToFixedPoint(TFloatPoint p) {
  return uint64_t(uint32_t(SingleToFixed(p.X))) | (uint64_t(uint32_t(SingleToFixed(p.Y))) << 32);
}

float MinSingle(float a, float b) { return a < b ? a : b; }
float MaxSingle(float a, float b) { return a > b ? a : b; }
float ClampSingle(float x, float lo, float hi) {
  if (x < lo) return lo;
  if (x > hi) return hi;
  return x;
}
TFloatPoint OffsetFloatPoint(TFloatPoint p, float dx, float dy) { return {p.X + dx, p.Y + dy}; }
TFloatPoint MoveFloatPoint(TFloatPoint p, TFlatVector v) { return {p.X + v.X, p.Y + v.Y}; }
TFloatPoint AddFloatPoints(TFloatPoint a, TFloatPoint b) { return {a.X + b.X, a.Y + b.Y}; }
TFlatVector AddFlatVectors(TFlatVector a, TFlatVector b) { return {a.X + b.X, a.Y + b.Y}; }
T3DPoint AddPoints3D(T3DPoint a, T3DPoint b) { return {a.X + b.X, a.Y + b.Y, a.Z + b.Z}; }
T3DPoint MovePoint3D(T3DPoint p, T3DPoint v) { return AddPoints3D(p, v); }
TFlatVector FlatVectorBetween(TFloatPoint a, TFloatPoint b) { return {b.X - a.X, b.Y - a.Y}; }
T3DPoint Vector3DBetween(T3DPoint a, T3DPoint b) { return {b.X - a.X, b.Y - a.Y, b.Z - a.Z}; }
TFloatPoint ScaleFloatPoint(TFloatPoint p, float k) { return {p.X * k, p.Y * k}; }
TFlatVector ScaleFlatVector(TFlatVector v, float k) { return {v.X * k, v.Y * k}; }
T3DPoint ScaleVector3D(T3DPoint v, float k) { return {v.X * k, v.Y * k, v.Z * k}; }
TFlatVector DivideFlatVector(TFlatVector v, float k) {
  if (!IsNonZero(k)) return v;
  return ScaleFlatVector(v, 1.0f / k);
}
TFlatVector CombineFlatVectors(TFlatVector a, TFlatVector b, float s, float t) {
  return {a.X * s + b.X * t, a.Y * s + b.Y * t};
}
T3DPoint CombineVectors3D(T3DPoint a, T3DPoint b, float s, float t) {
  return {a.X * s + b.X * t, a.Y * s + b.Y * t, a.Z * s + b.Z * t};
}
T3DPoint CombineVectors3D3(T3DPoint a, T3DPoint b, T3DPoint c, float s, float t, float u) {
  return {a.X * s + b.X * t + c.X * u, a.Y * s + b.Y * t + c.Y * u, a.Z * s + b.Z * t + c.Z * u};
}
float DotFlatVectors(TFlatVector a, TFlatVector b) { return a.X * b.X + a.Y * b.Y; }
T3DPoint CrossVectors3D(T3DPoint a, T3DPoint b) {
  return {a.Y * b.Z - b.Y * a.Z, a.Z * b.X - b.Z * a.X, a.X * b.Y - b.X * a.Y};
}
float FlatVectorLength(TFlatVector v) { return std::sqrt(v.X * v.X + v.Y * v.Y); }
float Distance3D(T3DPoint a, T3DPoint b) {
  T3DPoint d = Vector3DBetween(a, b);
  return std::sqrt(d.X * d.X + d.Y * d.Y + d.Z * d.Z);
}
T3DPoint NormalizeVector3D(T3DPoint v) {
  float len = std::sqrt(v.X * v.X + v.Y * v.Y + v.Z * v.Z);
  if (!IsNonZero(len)) return v;
  return ScaleVector3D(v, 1.0f / len);
}
TFlatVector NormalizeFlatVectorMax(TFlatVector v) {
  float m = MaxSingle(std::fabs(v.X), std::fabs(v.Y));
  if (!IsNonZero(m)) return v;
  return ScaleFlatVector(v, 1.0f / m);
}
TFlatVector RotateFlatVectorMinus90(TFlatVector v) { return {v.Y, -v.X}; }
TFlatVector RotateFlatVectorPlus90(TFlatVector v) { return {-v.Y, v.X}; }
bool SameFloatPoint(TFloatPoint a, TFloatPoint b) { return a.X == b.X && a.Y == b.Y; }
bool SameFloatRect(const TFloatRect& a, const TFloatRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}
static bool Same3D(T3DPoint a, T3DPoint b) { return a.X == b.X && a.Y == b.Y && a.Z == b.Z; }
bool SameAffineFrame3D(const TAffineFrame3D& a, const TAffineFrame3D& b) {
  return Same3D(a.Origin, b.Origin) && Same3D(a.U, b.U) && Same3D(a.V, b.V) && Same3D(a.W, b.W);
}
bool OffsetFloatRect(TFloatRect& r, double dx, double dy) {
  r.Left = float(r.Left + dx);
  r.Right = float(r.Right + dx);
  r.Top = float(r.Top + dy);
  r.Bottom = float(r.Bottom + dy);
  return true;
}
bool IntersectFloatRect(TFloatRect& result, const TFloatRect& a, const TFloatRect& b) {
  TFloatRect r = a;
  // Written as "take b's when b's is tighter" so that a NaN keeps a's value.
  if (b.Left > r.Left) r.Left = b.Left;
  if (b.Top > r.Top) r.Top = b.Top;
  if (b.Right < r.Right) r.Right = b.Right;
  if (b.Bottom < r.Bottom) r.Bottom = b.Bottom;
  if (IsFloatRectEmpty(r)) {
    result = EmptyFloatRect;
    return false;
  }
  result = r;
  return true;
}
bool IsFloatRectEmpty(const TFloatRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }
float FloatRectWidth(const TFloatRect& r) { return r.Right - r.Left; }
float FloatRectHeight(const TFloatRect& r) { return r.Bottom - r.Top; }

bool InitAffineFrame2D(TAffineFrame2D& frame, TFloatPoint origin, TFlatVector u, TFlatVector v) {
  frame.Origin = origin;
  frame.U = u;
  frame.V = v;
  double det = double(u.X) * v.Y - double(v.X) * u.Y;
  if (IsNonZero(det)) {
    frame.InvDeterminant = 1.0 / det;
    return true;
  }
  frame.InvDeterminant = 0;
  return false;
}
TFloatPoint AffineFrame2DToPoint(const TAffineFrame2D& f, TFloatPoint st) {
  return {f.Origin.X + f.U.X * st.X + f.V.X * st.Y, f.Origin.Y + f.U.Y * st.X + f.V.Y * st.Y};
}
TFloatPoint PointToAffineFrame2D(const TAffineFrame2D& f, TFloatPoint p) {
  double dx = double(p.X) - f.Origin.X, dy = double(p.Y) - f.Origin.Y;
  return {float((dx * f.V.Y - dy * f.V.X) * f.InvDeterminant), float((dy * f.U.X - dx * f.U.Y) * f.InvDeterminant)};
}

static double Det3(double ax, double ay, double az, double bx, double by, double bz, double cx, double cy,
                   double cz) {
  // a . (b x c)
  return ax * (by * cz - cy * bz) + ay * (bz * cx - cz * bx) + az * (bx * cy - cx * by);
}
bool InitAffineFrame3D(TAffineFrame3D& f, T3DPoint origin, T3DPoint u, T3DPoint v, T3DPoint w) {
  f.Origin = origin;
  f.U = u;
  f.V = v;
  f.W = w;
  double det = Det3(u.X, u.Y, u.Z, v.X, v.Y, v.Z, w.X, w.Y, w.Z);
  if (IsNonZero(det)) {
    f.InvDeterminant = 1.0 / det;
    return true;
  }
  f.InvDeterminant = 0;
  return false;
}
T3DPoint AffineFrame3DToVector(const TAffineFrame3D& f, T3DPoint stu) {
  return CombineVectors3D3(f.U, f.V, f.W, stu.X, stu.Y, stu.Z);
}
T3DPoint AffineFrame3DToPoint(const TAffineFrame3D& f, T3DPoint stu) {
  return AddPoints3D(f.Origin, AffineFrame3DToVector(f, stu));
}
static T3DPoint Cramer(const TAffineFrame3D& f, double dx, double dy, double dz) {
  const T3DPoint &u = f.U, &v = f.V, &w = f.W;
  double s = Det3(dx, dy, dz, v.X, v.Y, v.Z, w.X, w.Y, w.Z) * f.InvDeterminant;
  double t = Det3(u.X, u.Y, u.Z, dx, dy, dz, w.X, w.Y, w.Z) * f.InvDeterminant;
  double r = Det3(u.X, u.Y, u.Z, v.X, v.Y, v.Z, dx, dy, dz) * f.InvDeterminant;
  return {float(s), float(t), float(r)};
}
T3DPoint PointToAffineFrame3D(const TAffineFrame3D& f, T3DPoint p) {
  return Cramer(f, double(p.X) - f.Origin.X, double(p.Y) - f.Origin.Y, double(p.Z) - f.Origin.Z);
}
T3DPoint PointToAffineFrame3DScaled(const TAffineFrame3D& f, T3DPoint p, float k) {
  T3DPoint r = Cramer(f, (double(p.X) - f.Origin.X) * k, (double(p.Y) - f.Origin.Y) * k,
                      double(p.Z) - double(f.Origin.Z) * k);
  return {float(r.X / double(k)), float(r.Y / double(k)), float(r.Z / double(k))};
}

}  // namespace foundation
