#include "imaging/SysAffineDrawer.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <optional>

#include "foundation/Rounding.h"
#include "imaging/ImagingAssert.h"

namespace imaging {

using foundation::AffineFrame2DToPoint;
using foundation::PointToAffineFrame2D;
using foundation::SingleToFixed;

namespace {

using TOutline = std::array<TFloatPoint, 4>;

struct TEdgeSpan {
  double Lo, Hi;
  int Direction;  // 1 descending (y grows), -1 ascending, 0 horizontal
};

// The quadrilateral through the images of four source points.
TOutline MakeOutline(const TAffineFrame2D& f, float l, float t, float r, float b) {
  return {AffineFrame2DToPoint(f, {l, t}), AffineFrame2DToPoint(f, {r, t}), AffineFrame2DToPoint(f, {r, b}),
          AffineFrame2DToPoint(f, {l, b})};
}

// The x-range of the edge a -> b inside the band y0..y1 (y grows downwards).
std::optional<TEdgeSpan> EdgeInBand(TFloatPoint a, TFloatPoint b, double y0, double y1) {
  IMG_ASSERT(y0 < y1, "");
  const double ax = a.X, ay = a.Y, bx = b.X, by = b.Y;
  if ((ay > y1 && by > y1) || (ay < y0 && by < y0)) return std::nullopt;
  if (ay == by) {
    if (ay > y0 && ay < y1) return TEdgeSpan{std::min(ax, bx), std::max(ax, bx), 0};
    return std::nullopt;
  }
  const int dir = by > ay ? 1 : -1;
  if (ax == bx) return TEdgeSpan{ax, ax, dir};
  const double slope = (bx - ax) / (by - ay);
  const double xa = ax + (y0 - ay) * slope, xb = ax + (y1 - ay) * slope;
  const double lo = std::max(std::min(xa, xb), std::min(ax, bx));
  const double hi = std::min(std::max(xa, xb), std::max(ax, bx));
  return TEdgeSpan{lo, hi, dir};
}

bool Empty(const TRect& r) { return r.Left >= r.Right || r.Top >= r.Bottom; }

// Callers pass whole numbers; a degenerate transform can make them NaN,
// which counts as 0 rather than reaching an undefined conversion.
int32_t ToInt(double v) { return foundation::RoundEvenSaturated(v); }

}  // namespace

TAffineDrawer::TAffineDrawer(int32_t BlockWidth, int32_t BandHeight)
    : blockWidth_(BlockWidth), bandHeight_(BandHeight), invBlockWidth_(1.0 / BlockWidth) {
  IMG_ASSERT(BlockWidth >= 1 && BandHeight >= 1, "");
}

void TAffineDrawer::ClearLayout() {
  bands_.clear();
  ready_ = false;
}

void TAffineDrawer::SetTransform(const TRect& B, TFloatPoint Origin, TFlatVector U, TFlatVector V) {
  IMG_ASSERT(B.Left >= 0 && B.Top >= 0, "Bounds must start at 0 or beyond");
  ClearLayout();
  const bool same = frameSet_ && foundation::SameFloatPoint(frame_.Origin, Origin) && frame_.U.X == U.X &&
                    frame_.U.Y == U.Y && frame_.V.X == V.X && frame_.V.Y == V.Y;
  if (!same) {
    frameSet_ = true;
    frameValid_ = foundation::InitAffineFrame2D(frame_, Origin, U, V);
    frame_.Origin = Origin;
    frame_.U = U;
    frame_.V = V;
    if (frameValid_) {
      const TFloatPoint c = PointToAffineFrame2D(frame_, {Origin.X + 1.0f, Origin.Y});
      const TFloatPoint r = PointToAffineFrame2D(frame_, {Origin.X, Origin.Y + 1.0f});
      colStep_ = {SingleToFixed(c.X), SingleToFixed(c.Y)};
      rowStep_ = {SingleToFixed(r.X), SingleToFixed(r.Y)};
    }
  }
  if (!frameValid_) return;
  if (!InitSampler()) return;

  // The whole image covers its continuous rectangle [0, W) x [0, H): every
  // pixel whose centre lands there has a valid sample.
  const TOutline outline = MakeOutline(frame_, float(wholeRect_.Left), float(wholeRect_.Top), float(wholeRect_.Right),
                                       float(wholeRect_.Bottom));
  double minX = outline[0].X, maxX = minX, minY = outline[0].Y, maxY = minY;
  for (const TFloatPoint& p : outline) {
    minX = std::min(minX, double(p.X)), maxX = std::max(maxX, double(p.X));
    minY = std::min(minY, double(p.Y)), maxY = std::max(maxY, double(p.Y));
  }
  bounds_ = {std::max(ToInt(std::trunc(minX)), B.Left), std::max(ToInt(std::trunc(minY)), B.Top),
             std::min(ToInt(std::ceil(maxX)), B.Right), std::min(ToInt(std::ceil(maxY)), B.Bottom)};
  if (Empty(bounds_)) {
    ready_ = true;
    return;
  }

  firstBand_ = bounds_.Top / bandHeight_;
  const int32_t endBand = (bounds_.Bottom - 1) / bandHeight_ + 1;
  bands_.resize(static_cast<size_t>(std::max(endBand - firstBand_, 0)));
  for (int32_t band = firstBand_; band < endBand; ++band) {
    TDrawBand& out = bands_[static_cast<size_t>(band - firstBand_)];
    const double y0 = double(band) * bandHeight_, y1 = y0 + bandHeight_;
    double x0 = 1e300, x1 = -1e300;
    for (int e = 0; e < 4; ++e)
      if (auto s = EdgeInBand(outline[e], outline[(e + 1) % 4], y0, y1)) {
        x0 = std::min(x0, s->Lo);
        x1 = std::max(x1, s->Hi);
      }
    x0 = std::max(x0, double(B.Left));
    x1 = std::min(x1, double(B.Right));
    if (x0 > x1) continue;
    const int32_t c0 = ToInt(std::trunc(x0 * invBlockWidth_));
    const int32_t c1 = ToInt(std::ceil(x1 * invBlockWidth_));
    if (c0 >= c1) continue;
    out.FirstBlock = c0;
    out.BlockCount = c1 - c0;
    out.Blocks.resize(static_cast<size_t>(out.BlockCount));
    for (int32_t c = c0; c < c1; ++c) {
      TDrawBlock& k = out.Blocks[static_cast<size_t>(c - c0)];
      k.Left = std::max(bounds_.Left, c * blockWidth_);
      k.Right = std::min(c * blockWidth_ + blockWidth_, bounds_.Right);
      k.Top = std::max(bounds_.Top, band * bandHeight_);
      k.Bottom = std::min(bounds_.Bottom, band * bandHeight_ + bandHeight_);
      const TFloatPoint s = PointToAffineFrame2D(frame_, {float(k.Left) + 0.5f, float(k.Top) + 0.5f});
      k.Source = {s.X - 0.5f, s.Y - 0.5f};
      k.FixedU = SingleToFixed(k.Source.X);
      k.FixedV = SingleToFixed(k.Source.Y);
      k.Kind = bkEdge;
    }
  }
  MarkInterior(interiorRect_, bkInterior);
  MarkInterior(opaqueRect_, bkOpaqueInterior);
  DemoteUnsafeBlocks();
  ready_ = true;
}

void TAffineDrawer::MarkInterior(const TRect& Rect, int32_t Kind) {
  if (Empty(Rect)) return;
  const TOutline outline = MakeOutline(frame_, float(Rect.Left) + 0.5f, float(Rect.Top) + 0.5f,
                                       float(Rect.Right) + 0.5f, float(Rect.Bottom) + 0.5f);
  for (size_t i = 0; i < bands_.size(); ++i) {
    TDrawBand& band = bands_[i];
    if (band.BlockCount == 0) continue;
    const double y0 = double(firstBand_ + int32_t(i)) * bandHeight_, y1 = y0 + bandHeight_;
    double left = -2147483648.0, right = 2147483648.0;
    bool ascending = false, descending = false, flat = false;
    for (int e = 0; e < 4; ++e) {
      auto s = EdgeInBand(outline[e], outline[(e + 1) % 4], y0, y1);
      if (!s) continue;
      if (s->Direction == 0) {
        flat = true;
      } else if (s->Direction > 0) {
        right = std::min(right, s->Lo);
        descending = true;
      } else {
        left = std::max(left, s->Hi);
        ascending = true;
      }
    }
    if (flat || (!ascending && !descending)) continue;
    IMG_ASSERT(ascending && descending, "INTERNAL ERROR: invalid flags combination");
    if (!(left < right)) continue;
    const int32_t from = std::max(ToInt(std::ceil(left * invBlockWidth_)), band.FirstBlock);
    const int32_t to = std::min(ToInt(std::trunc(right * invBlockWidth_)), band.FirstBlock + band.BlockCount);
    for (int32_t c = from; c < to; ++c) band.Blocks[static_cast<size_t>(c - band.FirstBlock)].Kind = Kind;
  }
}

// Interior kernels read the pixel right of and below every sample without a
// test. Their 16.16 positions are linear over a block, so the four corners
// bound them: a block whose corners could reach the last column or row (the
// fixed-point steps drift under strong enlargement; very wide images leave
// the 16.16 range) is drawn with the guarded kernel instead.
void TAffineDrawer::DemoteUnsafeBlocks() {
  // The kernels step in wrapping 32-bit arithmetic, so a corner beyond 2^31
  // would wrap on the way.
  const int64_t maxU = std::min((int64_t(SourceWidth) - 1) << 16, int64_t(INT32_MAX));
  const int64_t maxV = std::min((int64_t(SourceHeight) - 1) << 16, int64_t(INT32_MAX));
  for (TDrawBand& band : bands_)
    for (TDrawBlock& k : band.Blocks) {
      if (k.Kind != bkInterior && k.Kind != bkOpaqueInterior) continue;
      if (k.Right <= k.Left || k.Bottom <= k.Top) continue;
      bool safe = true;
      for (int64_t c : {int64_t(0), int64_t(k.Right - k.Left - 1)})
        for (int64_t r : {int64_t(0), int64_t(k.Bottom - k.Top - 1)}) {
          const int64_t u = k.FixedU + c * colStep_.U + r * rowStep_.U;
          const int64_t v = k.FixedV + c * colStep_.V + r * rowStep_.V;
          safe = safe && u >= 0 && u < maxU && v >= 0 && v < maxV;
        }
      if (!safe) k.Kind = bkEdge;
    }
}

void TAffineDrawer::Draw(TSysBitmap* Dest) {
  if (!ready_) return;
  IMG_ASSERT(Dest && Dest->BytesPerPixel() == 3, "");
  IMG_ASSERT(Dest->Width >= bounds_.Right && Dest->Height >= bounds_.Bottom, "");
  for (const TDrawBand& band : bands_)
    for (const TDrawBlock& k : band.Blocks) {
      if (k.Kind == bkNone) continue;
      IMG_ASSERT(k.Kind >= bkEdge && k.Kind <= bkOpaqueInterior, "");
      if (k.Right > k.Left && k.Bottom > k.Top && kernels_[k.Kind - 1]) kernels_[k.Kind - 1](k, Dest);
    }
}

void TImageDrawer::Dispose() {
  if (ownsSource_) foundation::FreeAndNil(source_);
  source_ = nullptr;
  TAffineDrawer::Dispose();
}

void TImageDrawer::SetImage(TSysBitmap* Bitmap, bool Owns) {
  IMG_ASSERT(Bitmap && (Bitmap->PixelFormat == pfR8G8B8 || Bitmap->PixelFormat == pfA8R8G8B8),
             "Unsupported PixelFormat");
  if (ownsSource_ && source_ != Bitmap) foundation::FreeAndNil(source_);
  ClearLayout();
  source_ = Bitmap;
  ownsSource_ = Owns;
  SourceWidth = Bitmap->Width;
  SourceHeight = Bitmap->Height;
  InitSampler();
}

}  // namespace imaging
