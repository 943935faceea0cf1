#include "imaging/SysBilinearDrawer.h"

#include <cstring>

#include "imaging/ImagingAssert.h"

namespace imaging {

namespace {

// One bilinear sample of N channels at 16.16 (u, v) with the four pixels
// (x0, y0), (x1, y0), (x0, y1), (x1, y1) already chosen.
template <int N>
inline void Sample(const TSysBitmap* s, int32_t x0, int32_t x1, int32_t y0, int32_t y1, uint32_t fu, uint32_t fv,
                   uint8_t* out) {
  const uint32_t w11 = (fu * fv) >> 16;
  const uint32_t w10 = fu - w11, w01 = fv - w11, w00 = 65536 - fu - fv + w11;
  const uint8_t* a = s->Row(y0) + x0 * N;
  const uint8_t* b = s->Row(y0) + x1 * N;
  const uint8_t* c = s->Row(y1) + x0 * N;
  const uint8_t* d = s->Row(y1) + x1 * N;
  for (int i = 0; i < N; ++i) out[i] = static_cast<uint8_t>((w00 * a[i] + w10 * b[i] + w01 * c[i] + w11 * d[i]) >> 16);
}

// The guarded position: valid from -0.5 to below size - 0.5; the pair of
// pixels held inside the image.
inline bool Guard(uint32_t p, int32_t size, int32_t& i0, int32_t& i1) {
  if (((p + 32768u) >> 16) >= static_cast<uint32_t>(size)) return false;
  i0 = static_cast<int32_t>(p) >> 16;
  i1 = i0 + 1;
  if (i0 < 0) i0 = i1 = 0;
  if (i1 >= size) i0 = i1 = size - 1;
  return true;
}

inline void BlendOver(uint8_t* d, const uint8_t* s) {
  const int32_t a = s[3];
  if (a == 255) {
    std::memcpy(d, s, 3);
    return;
  }
  for (int i = 0; i < 3; ++i) d[i] = static_cast<uint8_t>(d[i] + ((a * (s[i] - d[i])) >> 8));
}

// Walks a block: (u, v) starts at the block's position, steps by the column
// step per pixel and the row step per row, wrapping as 32-bit numbers do.
template <class Pixel>
void Walk(const TDrawBlock& k, TSysBitmap* dest, TFixedStep col, TFixedStep row, Pixel pixel) {
  uint32_t ur = static_cast<uint32_t>(k.FixedU), vr = static_cast<uint32_t>(k.FixedV);
  for (int32_t y = k.Top; y < k.Bottom; ++y) {
    uint32_t u = ur, v = vr;
    uint8_t* d = dest->Row(y) + k.Left * 3;
    for (int32_t x = k.Left; x < k.Right; ++x, d += 3) {
      pixel(u, v, d);
      u += static_cast<uint32_t>(col.U);
      v += static_cast<uint32_t>(col.V);
    }
    ur += static_cast<uint32_t>(row.U);
    vr += static_cast<uint32_t>(row.V);
  }
}

}  // namespace

bool TBilinearDrawer::InitSampler() {
  if (!source_) return false;
  wholeRect_ = {0, 0, SourceWidth, SourceHeight};
  if (SourceWidth <= 0 || SourceHeight <= 0) return false;
  interiorRect_ = {0, 0, SourceWidth - 1, SourceHeight - 1};
  TSysBitmap* s = source_;
  const int32_t W = SourceWidth, H = SourceHeight;
  if (s->PixelFormat == pfR8G8B8) {
    opaqueRect_ = interiorRect_;
    kernels_[0] = [this, s, W, H](const TDrawBlock& k, TSysBitmap* dest) {
      Walk(k, dest, colStep_, rowStep_, [&](uint32_t u, uint32_t v, uint8_t* d) {
        int32_t x0, x1, y0, y1;
        if (Guard(u, W, x0, x1) && Guard(v, H, y0, y1)) Sample<3>(s, x0, x1, y0, y1, u & 0xFFFF, v & 0xFFFF, d);
      });
    };
    kernels_[1] = kernels_[2] = [this, s](const TDrawBlock& k, TSysBitmap* dest) {
      Walk(k, dest, colStep_, rowStep_, [&](uint32_t u, uint32_t v, uint8_t* d) {
        const int32_t x0 = static_cast<int32_t>(u) >> 16, y0 = static_cast<int32_t>(v) >> 16;
        Sample<3>(s, x0, x0 + 1, y0, y0 + 1, u & 0xFFFF, v & 0xFFFF, d);
      });
    };
    return true;
  }
  IMG_ASSERT(s->PixelFormat == pfA8R8G8B8, "");
  opaqueRect_ = {};
  kernels_[0] = [this, s, W, H](const TDrawBlock& k, TSysBitmap* dest) {
    Walk(k, dest, colStep_, rowStep_, [&](uint32_t u, uint32_t v, uint8_t* d) {
      int32_t x0, x1, y0, y1;
      if (!Guard(u, W, x0, x1) || !Guard(v, H, y0, y1)) return;
      uint8_t px[4];
      Sample<4>(s, x0, x1, y0, y1, u & 0xFFFF, v & 0xFFFF, px);
      if (px[3] != 0) BlendOver(d, px);
    });
  };
  kernels_[1] = [this, s](const TDrawBlock& k, TSysBitmap* dest) {
    Walk(k, dest, colStep_, rowStep_, [&](uint32_t u, uint32_t v, uint8_t* d) {
      const int32_t x0 = static_cast<int32_t>(u) >> 16, y0 = static_cast<int32_t>(v) >> 16;
      uint8_t px[4];
      Sample<4>(s, x0, x0 + 1, y0, y0 + 1, u & 0xFFFF, v & 0xFFFF, px);
      BlendOver(d, px);
    });
  };
  kernels_[2] = nullptr;
  return true;
}

}  // namespace imaging
