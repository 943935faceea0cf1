// Drawing an image under an affine transform into a 24-bit bitmap. The
// covered destination area is cut into blocks (8 x 8 in practice); each block
// is classified once as lying on the image's edge, where every sample is
// tested against the image, or inside it, where samples are read without
// tests. The sampler (kernels per block kind) comes from a derived class.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "imaging/SysBitmap.h"

namespace imaging {

using foundation::TAffineFrame2D;
using foundation::TFlatVector;
using foundation::TFloatPoint;

enum : int32_t { bkNone = 0, bkEdge = 1, bkInterior = 2, bkOpaqueInterior = 3 };

struct TDrawBlock {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  TFloatPoint Source;            // source position of the top-left pixel
  int32_t FixedU = 0, FixedV = 0;  // the same in 16.16
  int32_t Kind = bkNone;
};

struct TDrawBand {
  int32_t FirstBlock = 0;
  int32_t BlockCount = 0;
  std::vector<TDrawBlock> Blocks;
};

// A 16.16 source step (u then v).
struct TFixedStep {
  int32_t U = 0, V = 0;
};

class TAffineDrawer;
using TBlockKernel = std::function<void(const TDrawBlock& Block, TSysBitmap* Dest)>;

class TAffineDrawer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TAffineDrawer)
  TAffineDrawer(int32_t BlockWidth, int32_t BandHeight);

  // Prepares the kernels for the current image; false when there is nothing to sample.
  virtual bool InitSampler() = 0;
  // Lays out the blocks for drawing the image at Origin + s U + t V, clipped to
  // Bounds (left and top at least 0).
  void SetTransform(const TRect& Bounds, TFloatPoint Origin, TFlatVector U, TFlatVector V);
  // Draws every block into a 24-bit bitmap reaching the bounds' right and bottom.
  virtual void Draw(TSysBitmap* Dest);

  bool Ready() const { return ready_; }
  const TRect& DrawBounds() const { return bounds_; }
  int32_t FirstBand() const { return firstBand_; }
  const std::vector<TDrawBand>& Bands() const { return bands_; }
  TFixedStep ColumnStep() const { return colStep_; }
  TFixedStep RowStep() const { return rowStep_; }

  int32_t SourceWidth = 0;
  int32_t SourceHeight = 0;
  int32_t Opacity = 255;

 protected:
  TRect wholeRect_{}, interiorRect_{}, opaqueRect_{};
  TBlockKernel kernels_[3];
  TFixedStep colStep_{}, rowStep_{};
  void ClearLayout();

 private:
  void MarkInterior(const TRect& Rect, int32_t Kind);
  void DemoteUnsafeBlocks();

  TAffineFrame2D frame_{};
  bool frameValid_ = false;
  bool frameSet_ = false;
  int32_t blockWidth_, bandHeight_;
  double invBlockWidth_;
  TRect bounds_{};
  int32_t firstBand_ = 0;
  std::vector<TDrawBand> bands_;
  bool ready_ = false;
};

class TImageDrawer : public TAffineDrawer {
 public:
  QEL_CLASSNAME(TImageDrawer)
  using TAffineDrawer::TAffineDrawer;
  void Dispose() override;
  // R8G8B8 or A8R8G8B8; a previously owned bitmap is released.
  virtual void SetImage(TSysBitmap* Bitmap, bool Owns);

 protected:
  TSysBitmap* source_ = nullptr;
  bool ownsSource_ = false;
};

}  // namespace imaging
