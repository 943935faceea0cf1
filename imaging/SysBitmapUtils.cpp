#include "imaging/SysBitmapUtils.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "imaging/ImagingAssert.h"

namespace imaging {

namespace {

inline int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

// Reports progress in fixed steps and remembers a refusal.
class ProgressSteps {
 public:
  ProgressSteps(TBitmap* b, float step) : b_(b), step_(step) {}
  bool Next() {
    const bool go = !b_ || b_->DoProgress(fraction_);
    fraction_ += step_;
    return go;
  }

 private:
  TBitmap* b_;
  float step_;
  float fraction_ = 0.0f;
};

// The rows of a source bitmap as they are.
template <int N>
class TPlainRows {
 public:
  explicit TPlainRows(TSysBitmap* b) : b_(b) {}
  const uint8_t* Row(int32_t y) { return b_->Row(y); }
  const uint8_t* Pixel(int32_t x, int32_t y) { return b_->Row(y) + size_t(x) * N; }

 private:
  TSysBitmap* b_;
};

// The rows of a source bitmap converted on the fly to 4-byte pixels: the three
// rows the filter reads at once are kept converted (slot row mod 3), single
// edge pixels are converted one at a time.
class TConvertedRows {
 public:
  TConvertedRows(TSysBitmap* b, TPixelConverter* c, TPixelConverter* then)
      : b_(b), c_(c), then_(then), bpp_(size_t(b->BytesPerPixel())), rows_(3 * size_t(b->Width) * 4) {}
  const uint8_t* Row(int32_t y) {
    const int slot = y % 3;
    uint8_t* r = rows_.data() + size_t(slot) * size_t(b_->Width) * 4;
    if (tag_[slot] != y) {
      c_->Convert(r, b_->Row(y), b_->Width);
      if (then_) then_->Convert(r, r, b_->Width);
      tag_[slot] = y;
    }
    return r;
  }
  const uint8_t* Pixel(int32_t x, int32_t y) {
    c_->Convert(pixel_, b_->Row(y) + size_t(x) * bpp_, 1);
    if (then_) then_->Convert(pixel_, pixel_, 1);
    return pixel_;
  }

 private:
  TSysBitmap* b_;
  TPixelConverter* c_;
  TPixelConverter* then_;
  size_t bpp_;
  std::vector<uint8_t> rows_;
  int32_t tag_[3] = {-1, -1, -1};
  uint8_t pixel_[4] = {};
};

// Progress goes to Reporter (none: no reports).
template <int N, class Rows>
void HalveRows(Rows& Source, int32_t sw, int32_t sh, TSysBitmap* Dest, TBitmap* Reporter) {
  const int32_t dw = Dest->Width, dh = Dest->Height;
  if (sw < 1 || sh < 1 || dw < 1 || dh < 1) return;
  const int32_t w = std::min(dw, sw / 2), h = std::min(dh, sh / 2);

  // The 1 2 1 / 2 4 2 / 1 2 1 filter around (2x, 2y), every fetch clamped to the source.
  auto clamped = [&](int32_t x, int32_t y) {
    const int32_t cx = 2 * x, cy = 2 * y;
    const int32_t xs[3] = {Clamp(cx - 1, 0, sw - 1), Clamp(cx, 0, sw - 1), Clamp(cx + 1, 0, sw - 1)};
    const int32_t ys[3] = {Clamp(cy - 1, 0, sh - 1), Clamp(cy, 0, sh - 1), Clamp(cy + 1, 0, sh - 1)};
    static const int kW[3] = {1, 2, 1};
    uint32_t sum[N] = {};
    for (int j = 0; j < 3; ++j)
      for (int i = 0; i < 3; ++i) {
        const uint8_t* p = Source.Pixel(xs[i], ys[j]);
        for (int c = 0; c < N; ++c) sum[c] += uint32_t(kW[j] * kW[i]) * p[c];
      }
    uint8_t* out = Dest->Row(y) + size_t(x) * N;
    for (int c = 0; c < N; ++c) out[c] = static_cast<uint8_t>(sum[c] >> 4);
  };

  ProgressSteps progress(Reporter, 1.0f / static_cast<float>(dh + h));
  // Interior: all nine samples inside the source, no clamping. The filter is
  // separable and its sums are exact, so the rows are first summed 1 2 1
  // vertically over every byte the row needs (a plain loop over contiguous
  // bytes), then 1 2 1 across: the same sum, the same truncation.
  std::vector<uint16_t> column(w > 1 ? size_t(2 * w) * N : 0);
  for (int32_t y = 1; y < h; ++y) {
    if (!progress.Next()) return;
    const uint8_t* r0 = Source.Row(2 * y - 1);
    const uint8_t* r1 = Source.Row(2 * y);
    const uint8_t* r2 = Source.Row(2 * y + 1);
    uint8_t* out = Dest->Row(y);
    if (w <= 1) continue;
    // Source columns 1 .. 2w - 1 (byte N .. 2wN - 1), all inside the source since 2w <= sw.
    uint16_t* v = column.data();
    for (size_t j = N; j < size_t(2 * w) * N; ++j)
      v[j] = static_cast<uint16_t>(r0[j] + 2 * r1[j] + r2[j]);
    for (int32_t x = 1; x < w; ++x) {
      const size_t a = size_t(2 * x - 1) * N, b = a + N, c = b + N;
      for (int k = 0; k < N; ++k)
        out[size_t(x) * N + k] = static_cast<uint8_t>((v[a + k] + 2u * v[b + k] + v[c + k]) >> 4);
    }
  }
  if (h >= 1) {
    if (!progress.Next()) return;
    for (int32_t x = 0; x < w; ++x) clamped(x, 0);
    if (w >= 1)
      for (int32_t y = 1; y < h; ++y) clamped(0, y);
    for (int32_t y = 0; y < h; ++y) {
      if (!progress.Next()) return;
      for (int32_t x = w; x < dw; ++x) clamped(x, y);
    }
  }
  for (int32_t y = h; y < dh; ++y) {
    if (!progress.Next()) return;
    for (int32_t x = 0; x < dw; ++x) clamped(x, y);
  }
  if (Reporter) Reporter->DoProgress(1.0f);
}

template <int N>
void HalveBitmap(TSysBitmap* Source, TSysBitmap* Dest) {
  IMG_ASSERT(Source->BytesPerPixel() == N && Dest->BytesPerPixel() == N, "");
  TPlainRows<N> rows(Source);
  HalveRows<N>(rows, Source->Width, Source->Height, Dest, Source);
}

template <int N>
void Rotate180(TSysBitmap* b) {
  IMG_ASSERT(b->PixelFormat->BitsPerPixel == 8 * N, "");
  const int32_t w = b->Width, hgt = b->Height;
  const float step = hgt > 0 ? 2.0f / static_cast<float>(hgt) : 0.0f;
  float fraction = 0.0f;
  for (int32_t top = 0, bottom = hgt - 1; top <= bottom; ++top, --bottom) {
    if (!b->DoProgress(fraction)) return;
    fraction += step;
    uint8_t* a = b->Row(top);
    uint8_t* z = b->Row(bottom);
    if (top == bottom) {
      for (int32_t i = 0, j = w - 1; i < j; ++i, --j) std::swap_ranges(a + size_t(i) * N, a + size_t(i + 1) * N, a + size_t(j) * N);
    } else {
      for (int32_t i = 0; i < w; ++i)
        std::swap_ranges(a + size_t(i) * N, a + size_t(i + 1) * N, z + size_t(w - 1 - i) * N);
    }
  }
  b->DoProgress(1.0f);
}

template <int N, bool Clockwise>
void RotateQuarter(TSysBitmap* s, TSysBitmap* d) {
  IMG_ASSERT(s->PixelFormat->BitsPerPixel == 8 * N && d->PixelFormat->BitsPerPixel == 8 * N, "");
  IMG_ASSERT(d->Width == s->Height && d->Height == s->Width, "");
  const int32_t w = s->Width, h = s->Height;
  const float step = h > 0 ? 1.0f / static_cast<float>(h) : 0.0f;
  float fraction = 0.0f;
  for (int32_t y = 0; y < h; ++y) {
    if (!s->DoProgress(fraction)) return;
    fraction += step;
    const uint8_t* src = s->Row(y);
    if (Clockwise) {
      const size_t col = size_t(h - 1 - y) * N;  // (x, y) -> (h - 1 - y, x)
      for (int32_t x = 0; x < w; ++x) std::memcpy(d->Row(x) + col, src + size_t(x) * N, N);
    } else {
      const size_t col = size_t(y) * N;  // (x, y) -> (y, w - 1 - x)
      for (int32_t x = 0; x < w; ++x) std::memcpy(d->Row(w - 1 - x) + col, src + size_t(x) * N, N);
    }
  }
  s->DoProgress(1.0f);
}

void Grey(TSysBitmap* b, bool disable) {
  if (!b || b->BytesPerPixel() != 4) return;
  for (int32_t y = 0; y < b->Height; ++y) {
    uint8_t* p = b->Row(y);
    for (int32_t x = 0; x < b->Width; ++x, p += 4) {
      const uint8_t g = static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3);
      p[0] = p[1] = p[2] = g;
      if (disable) p[3] = static_cast<uint8_t>(p[3] >> 2);
    }
  }
}

std::mutex g_blendLock;
std::atomic<TBlendEntry*> g_blendTable{nullptr};

}  // namespace

void SetBitmapAlpha(TSysBitmap* Bitmap, const TRect& Rect, uint8_t Alpha) {
  IMG_ASSERT(Bitmap->BytesPerPixel() == 4, "");
  const int32_t left = std::max(Rect.Left, 0), top = std::max(Rect.Top, 0);
  const int32_t right = std::min(Rect.Right, Bitmap->Width), bottom = std::min(Rect.Bottom, Bitmap->Height);
  if (left >= right || top >= bottom) return;
  ProgressSteps progress(Bitmap, 1.0f / static_cast<float>(bottom - top));
  for (int32_t y = top; y < bottom; ++y) {
    if (!progress.Next()) return;
    uint8_t* p = Bitmap->Row(y) + size_t(left) * 4 + 3;
    for (int32_t x = left; x < right; ++x, p += 4) *p = Alpha;
  }
}

void HalveBitmap24(TSysBitmap* Source, TSysBitmap* Dest) { HalveBitmap<3>(Source, Dest); }
void HalveBitmap32(TSysBitmap* Source, TSysBitmap* Dest) { HalveBitmap<4>(Source, Dest); }

void HalveBitmap32Converted(TSysBitmap* Source, TPixelConverter* Converter, TPixelConverter* Then,
                            TSysBitmap* Dest) {
  IMG_ASSERT(Converter && Dest->BytesPerPixel() == 4, "");
  TConvertedRows rows(Source, Converter, Then);
  HalveRows<4>(rows, Source->Width, Source->Height, Dest, nullptr);
}

bool IsBitmapOpaque(TBitmap* Bitmap) {
  if (!Bitmap) return false;
  if (!Bitmap->PixelFormat->HasAlpha) return true;
  auto* sys = dynamic_cast<TSysBitmap*>(Bitmap);
  if (!sys || sys->BytesPerPixel() != 4) return false;
  for (int32_t y = 0; y < sys->Height; ++y) {
    const uint8_t* p = sys->Row(y) + 3;
    for (int32_t x = 0; x < sys->Width; ++x, p += 4)
      if (*p != 255) return false;
  }
  return true;
}

void BrightnessToAlpha32(TSysBitmap* Bitmap) {
  IMG_ASSERT(Bitmap->PixelFormat == pfA8R8G8B8, "");
  const float step = Bitmap->Height > 0 ? 1.0f / static_cast<float>(Bitmap->Height) : 0.0f;
  float fraction = 0.0f;
  for (int32_t y = 0; y < Bitmap->Height; ++y) {
    if (!Bitmap->DoProgress(fraction)) return;
    fraction += step;
    uint8_t* p = Bitmap->Row(y);
    for (int32_t x = 0; x < Bitmap->Width; ++x, p += 4) {
      const int32_t b = p[0], g = p[1], r = p[2];
      p[3] = static_cast<uint8_t>(std::max({r, g, b}));
      if (b == g && g == r) {
        p[0] = p[1] = p[2] = 255;
        continue;
      }
      const uint64_t k = uint64_t(255 - std::abs(g - b)) * uint64_t(255 - std::abs(r - g)) *
                         uint64_t(255 - std::abs(b - r));
      for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(p[c] + k * uint64_t(255 - p[c]) / 16581375u);
    }
  }
  Bitmap->DoProgress(1.0f);
}

void Rotate180Bitmap32(TSysBitmap* Bitmap) { Rotate180<4>(Bitmap); }
void Rotate180Bitmap24(TSysBitmap* Bitmap) { Rotate180<3>(Bitmap); }
void Rotate90Bitmap24(TSysBitmap* Source, TSysBitmap* Dest) { RotateQuarter<3, true>(Source, Dest); }
void Rotate90Bitmap32(TSysBitmap* Source, TSysBitmap* Dest) { RotateQuarter<4, true>(Source, Dest); }
void Rotate270Bitmap24(TSysBitmap* Source, TSysBitmap* Dest) { RotateQuarter<3, false>(Source, Dest); }
void Rotate270Bitmap32(TSysBitmap* Source, TSysBitmap* Dest) { RotateQuarter<4, false>(Source, Dest); }

void GrayscaleBitmap32(TSysBitmap* Bitmap) { Grey(Bitmap, false); }
void DisableBitmap32(TSysBitmap* Bitmap) { Grey(Bitmap, true); }

void TileBitmap(TSysBitmap* Dest, TBitmap* Source, const TRect& DestRect, const TRect& SourceRect,
                const TPoint& Offset) {
  IMG_ASSERT(Dest->BytesPerPixel() == 4 && Source->BytesPerPixel() == 4, "");
  const int32_t tw = SourceRect.Right - SourceRect.Left, th = SourceRect.Bottom - SourceRect.Top;
  if (tw <= 0 || th <= 0) return;  // no tile: nothing to repeat
  int32_t ox = Offset.X % tw, oy = Offset.Y % th;
  if (ox < 0) ox += tw;
  if (oy < 0) oy += th;
  for (int64_t ty = int64_t(DestRect.Top) + oy - th; ty < DestRect.Bottom; ty += th)
    for (int64_t tx = int64_t(DestRect.Left) + ox - tw; tx < DestRect.Right; tx += tw) {
      const int32_t l = static_cast<int32_t>(std::max<int64_t>(tx, DestRect.Left));
      const int32_t t = static_cast<int32_t>(std::max<int64_t>(ty, DestRect.Top));
      const int32_t r = static_cast<int32_t>(std::min<int64_t>(tx + tw, DestRect.Right));
      const int32_t b = static_cast<int32_t>(std::min<int64_t>(ty + th, DestRect.Bottom));
      if (l >= r || t >= b) continue;
      const TPoint sp{static_cast<int32_t>(SourceRect.Left + l - tx), static_cast<int32_t>(SourceRect.Top + t - ty)};
      Dest->CopyRect(TRect{l, t, r, b}, Source, sp, 0);
    }
}

void TileBitmapClipped(TSysBitmap* Dest, TBitmap* Source, const TRect& DestRect, const TRect& SourceRect,
                       const TRect& Clip) {
  const TRect i{std::max(DestRect.Left, Clip.Left), std::max(DestRect.Top, Clip.Top),
                std::min(DestRect.Right, Clip.Right), std::min(DestRect.Bottom, Clip.Bottom)};
  if (i.Left >= i.Right || i.Top >= i.Bottom) return;
  TileBitmap(Dest, Source, i, SourceRect, TPoint{DestRect.Left - i.Left, DestRect.Top - i.Top});
}

const TBlendEntry* AlphaBlendTable() {
  TBlendEntry* t = g_blendTable.load(std::memory_order_acquire);
  if (t) return t;
  std::lock_guard<std::mutex> guard(g_blendLock);
  t = g_blendTable.load(std::memory_order_relaxed);
  if (t) return t;
  t = new TBlendEntry[65536];
  for (int32_t d = 0; d < 256; ++d)
    for (int32_t s = 0; s < 256; ++s) {
      TBlendEntry& e = t[d * 256 + s];
      e.A = 255 - ((255 - s) * (255 - d) / 255);
      e.W = d * (255 - s) / 255;
      e.R = 0;
      if (e.A != 0) {
        e.R = (1048576 + e.A / 2) / e.A;
        // 4113 keeps an opaque white at 255 after the 20-bit shift.
        if (e.R == 4112) e.R = 4113;
      }
    }
  g_blendTable.store(t, std::memory_order_release);
  return t;
}

void FreeAlphaBlendTable() {
  std::lock_guard<std::mutex> guard(g_blendLock);
  delete[] g_blendTable.exchange(nullptr);
}

void BlendRowOver32(uint8_t* Dest, const uint8_t* Source, int32_t Count) {
  const TBlendEntry* table = AlphaBlendTable();
  for (int32_t i = 0; i < Count; ++i, Dest += 4, Source += 4) {
    const uint32_t s = Source[3], d = Dest[3];
    if (s == 0) continue;
    if (s == 255 || d == 0) {
      std::memcpy(Dest, Source, 4);
      continue;
    }
    const TBlendEntry& e = table[d * 256 + s];
    for (int c = 0; c < 3; ++c)
      Dest[c] = static_cast<uint8_t>(((uint64_t(Dest[c]) * uint64_t(e.W) + uint64_t(Source[c]) * s) *
                                      uint64_t(e.R)) >> 20);
    Dest[3] = static_cast<uint8_t>(e.A);
  }
}

bool AlphaBlendBitmap32(TSysBitmap* Dest, int32_t X, int32_t Y, int32_t Width, int32_t Height, TSysBitmap* Source,
                        int32_t SourceX, int32_t SourceY) {
  AlphaBlendTable();
  if (!ClipBitmapRects(X, Y, Width, Height, SourceX, SourceY, Dest->Width, Dest->Height, Source->Width,
                       Source->Height))
    return false;
  for (int32_t i = 0; i < Height; ++i)
    BlendRowOver32(Dest->Row(Y + i) + size_t(X) * 4, Source->Row(SourceY + i) + size_t(SourceX) * 4, Width);
  return true;
}

}  // namespace imaging
