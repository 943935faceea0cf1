// The raster helper: between BeginPaint and EndPaint it owns a 32-bit
// target bitmap and paints paths into it, filled (non-zero or even-odd) or
// stroked with a pen width, in one solid ARGB colour, through a point
// transform.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "text/kvRasterizer.h"
#include "text/kvRasterizerTypes.h"

namespace imaging {
class TBitmap;
}

namespace text {

using TPointTransform = std::function<TFloatPoint(TFloatPoint)>;

class TRasterHelper : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TRasterHelper)
  TRasterHelper();
  void Dispose() override;

  // A new w x h A8R8G8B8 bitmap filled with Argb becomes the target.
  void BeginPaint(int32_t W, int32_t H, uint32_t Argb);
  // BeginPaint with the helper's colour at alpha 0.
  void BeginPaintBlank(int32_t W, int32_t H);
  // Paints into an existing A8R8G8B8, A8B8G8R8 or A8r8g8b8 bitmap (not owned).
  void BeginPaintOn(imaging::TBitmap* Bitmap);
  // The target; the caller owns it from here.
  imaging::TBitmap* EndPaint();
  // Fills the path (or strokes it inside StrokePath); false when the path
  // does not begin each figure with a move, a curve lacks its points or a
  // coordinate is not a number: then nothing at all is painted.
  bool DrawPath(const TPath& Path, bool EvenOdd);
  bool StrokePath(const TPath& Path, float Width, bool Closed);
  void ResetTransform();
  bool Painting() const { return Target != nullptr; }

  TRasterizer* Rasterizer = nullptr;
  TOutline* Outline = nullptr;
  imaging::TBitmap* Target = nullptr;
  int32_t StrokeMode = 0;  // 0 fill, 1 stroke of closed figures, 2 of open ones
  int32_t StrokeCount = 0;
  std::vector<TFloatPoint> StrokePoints;
  float PenWidth = 0;
  uint32_t Color = 0xFFFFFFFFu;
  TPointTransform Transform;

 private:
  void WriteSpan(int32_t Row, int32_t First, int32_t Last, const int16_t* Coverage);
  void MoveTo(TFloatPoint P);
  void LineTo(TFloatPoint P);
  void FlushStroke();
  std::vector<uint8_t*> rows_;
  bool ownsTarget_ = false;
  bool swapRB_ = false;
  uint32_t paintColor_ = 0;
};

}  // namespace text
