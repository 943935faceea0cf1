// Single-precision 2-D and 3-D value types and the small arithmetic on them:
// points, vectors, rectangles, affine frames and 16.16 fixed-point conversion.
// Everything here is a pure function of its arguments.
#pragma once

#include <cstdint>

namespace foundation {

// Integer rectangle and point of the window and bitmap interfaces.
struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};
struct TPoint {
  int32_t X = 0, Y = 0;
};

struct TFloatPoint {
  float X = 0, Y = 0;
};
struct TFlatVector {
  float X = 0, Y = 0;
};
struct T3DPoint {
  float X = 0, Y = 0, Z = 0;
};
struct TFloatRect {
  float Left = 0, Top = 0, Right = 0, Bottom = 0;
};

struct TAffineFrame2D {
  TFloatPoint Origin;
  TFlatVector U, V;
  double InvDeterminant = 0;
};
struct TAffineFrame3D {
  T3DPoint Origin;
  T3DPoint U, V, W;
  double InvDeterminant = 0;
};

// The inverted rectangle that any union replaces.
inline constexpr TFloatRect EmptyFloatRect{3.4e38f, 3.4e38f, 1.4e-45f, 1.4e-45f};
inline constexpr double GeometryTolerance = 2.9411764705882355e-39;

bool IsNonZero(double x);

TFloatPoint FloatPoint(float x, float y);
TFloatPoint FloatSize(float cx, float cy);
TFlatVector FlatVector(float x, float y);
T3DPoint Point3D(float x, float y, float z);
T3DPoint Vector3D(float x, float y, float z);
T3DPoint Point3DFromFloatPoint(TFloatPoint p, float z);
T3DPoint Vector3DFromFlatVector(TFlatVector v, float z);
TFloatRect FloatRect(float left, float top, float right, float bottom);
TFloatRect FloatBounds(float x, float y, float width, float height);
TFloatRect RectToFloatRect(const TRect& r);
TFloatRect SizeToFloatRect(float cx, float cy);
TFloatPoint PointToFloatPoint(TPoint p);
TFloatPoint RectCenter(const TRect& r);
float FixedToSingle(int32_t value);
int32_t SingleToFixed(float x);
uint64_t FloatPointToFixedPoint(TFloatPoint p);

float MinSingle(float a, float b);
float MaxSingle(float a, float b);
float ClampSingle(float x, float lo, float hi);
TFloatPoint OffsetFloatPoint(TFloatPoint p, float dx, float dy);
TFloatPoint MoveFloatPoint(TFloatPoint p, TFlatVector v);
TFloatPoint AddFloatPoints(TFloatPoint a, TFloatPoint b);
TFlatVector AddFlatVectors(TFlatVector a, TFlatVector b);
T3DPoint AddPoints3D(T3DPoint a, T3DPoint b);
T3DPoint MovePoint3D(T3DPoint p, T3DPoint v);
TFlatVector FlatVectorBetween(TFloatPoint a, TFloatPoint b);
T3DPoint Vector3DBetween(T3DPoint a, T3DPoint b);
TFloatPoint ScaleFloatPoint(TFloatPoint p, float k);
TFlatVector ScaleFlatVector(TFlatVector v, float k);
T3DPoint ScaleVector3D(T3DPoint v, float k);
TFlatVector DivideFlatVector(TFlatVector v, float k);
TFlatVector CombineFlatVectors(TFlatVector a, TFlatVector b, float s, float t);
T3DPoint CombineVectors3D(T3DPoint a, T3DPoint b, float s, float t);
T3DPoint CombineVectors3D3(T3DPoint a, T3DPoint b, T3DPoint c, float s, float t, float u);
float DotFlatVectors(TFlatVector a, TFlatVector b);
T3DPoint CrossVectors3D(T3DPoint a, T3DPoint b);
float FlatVectorLength(TFlatVector v);
float Distance3D(T3DPoint a, T3DPoint b);
T3DPoint NormalizeVector3D(T3DPoint v);
TFlatVector NormalizeFlatVectorMax(TFlatVector v);
TFlatVector RotateFlatVectorMinus90(TFlatVector v);
TFlatVector RotateFlatVectorPlus90(TFlatVector v);
bool SameFloatPoint(TFloatPoint a, TFloatPoint b);
bool SameFloatRect(const TFloatRect& a, const TFloatRect& b);
bool SameAffineFrame3D(const TAffineFrame3D& a, const TAffineFrame3D& b);
bool OffsetFloatRect(TFloatRect& r, double dx, double dy);
bool IntersectFloatRect(TFloatRect& result, const TFloatRect& a, const TFloatRect& b);
bool IsFloatRectEmpty(const TFloatRect& r);
float FloatRectWidth(const TFloatRect& r);
float FloatRectHeight(const TFloatRect& r);

bool InitAffineFrame2D(TAffineFrame2D& frame, TFloatPoint origin, TFlatVector u, TFlatVector v);
TFloatPoint AffineFrame2DToPoint(const TAffineFrame2D& frame, TFloatPoint st);
TFloatPoint PointToAffineFrame2D(const TAffineFrame2D& frame, TFloatPoint p);
bool InitAffineFrame3D(TAffineFrame3D& frame, T3DPoint origin, T3DPoint u, T3DPoint v, T3DPoint w);
T3DPoint AffineFrame3DToVector(const TAffineFrame3D& frame, T3DPoint stu);
T3DPoint AffineFrame3DToPoint(const TAffineFrame3D& frame, T3DPoint stu);
T3DPoint PointToAffineFrame3D(const TAffineFrame3D& frame, T3DPoint p);
T3DPoint PointToAffineFrame3DScaled(const TAffineFrame3D& frame, T3DPoint p, float k);

}  // namespace foundation
