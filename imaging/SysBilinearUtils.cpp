#include "imaging/SysBilinearUtils.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/ImagingAssert.h"
#include "imaging/SysBitmapAlphaUtils.h"
#include "foundation/Rounding.h"

namespace imaging {

namespace {

// Nearest integer, halves to even (the default rounding mode).
using foundation::RoundEvenSaturated;

template <int N>
void GeneralKernel(uint8_t* Dest, const uint8_t* Source, const TMap* Map, int32_t Width) {
  for (int32_t i = 0; i < Width; ++i) {
    const uint8_t* a = Source + static_cast<size_t>(Map[i].Index) * N;
    const uint8_t* b = a + N;
    const int32_t w = Map[i].Weight;
    for (int c = 0; c < N; ++c) *Dest++ = static_cast<uint8_t>(a[c] + ((w * (b[c] - a[c])) >> 8));
  }
}

template <int N>
void CopyKernel(uint8_t* Dest, const uint8_t* Source, const TMap*, int32_t Width) {
  std::memcpy(Dest, Source, static_cast<size_t>(Width) * N);
}

template <int N>
void FillKernel(uint8_t* Dest, const uint8_t* Source, const TMap*, int32_t Width) {
  if constexpr (N == 1) {
    std::memset(Dest, Source[0], static_cast<size_t>(Width));
  } else {
    for (int32_t i = 0; i < Width; ++i, Dest += N) std::memcpy(Dest, Source, N);
  }
}

bool BadSize(const TBitmapParams& p) { return p.Width < 1 || p.Height < 1; }

void BilinearResampleRows(const TBitmapParams& D, const TBitmapParams& S, TBilinearParams& P) {
  if (BadSize(D) || BadSize(S)) return;
  const size_t r = static_cast<size_t>(S.Width) * BytesPerPixelOfBits(S.BitsPerPixel);
  const size_t need = S.Width == 1 ? 2 * r : r;
  if (P.Buffer.size() < need) P.Buffer.resize(need);
  if (P.Map.empty() || P.DestWidth != D.Width || P.SourceWidth != S.Width) {
    BuildBilinearMap(P.Map, D.Width, S.Width);
    P.DestWidth = D.Width;
    P.SourceWidth = S.Width;
  }
  const double g = D.Height < 2 ? 0.0 : double(S.Height - 1) / double(D.Height - 1);
  const bool direct = S.Height > 1 && S.Width > 1;
  uint8_t* buffer = P.Buffer.data();
  for (int32_t i = 0; i < D.Height; ++i) {
    uint8_t* out = D.ScanLines[static_cast<size_t>(i)];
    if (i > 0 && S.Height == 1) {
      P.Kernel(out, buffer, P.Map.data(), D.Width);
      continue;
    }
    const double y = i * g;
    const int32_t k = static_cast<int32_t>(y);
    const int32_t w = RoundEvenSaturated((y - k) * 256.0);
    if (w <= 0 && direct) {
      P.Kernel(out, S.ScanLines[static_cast<size_t>(k)], P.Map.data(), D.Width);
    } else {
      const int32_t k2 = k + 1 < S.Height ? k + 1 : k;
      BlendRows(buffer, S.ScanLines[static_cast<size_t>(k2)], S.ScanLines[static_cast<size_t>(k)],
                static_cast<int32_t>(r), w);
      P.Kernel(out, buffer, P.Map.data(), D.Width);
    }
  }
}

template <int N>
void ResampleBilinearN(const TBitmapParams& Dest, const TBitmapParams& Source) {
  TBilinearParams p;
  if (Source.Height == 1) {
    TBitmapParams temp;
    TByteDynArray tempBuffer;
    AllocBitmapParams(temp, Dest.Width, 1, Dest.BitsPerPixel, tempBuffer);
    p.Kernel = GeneralKernel<N>;
    BilinearResampleRows(temp, Source, p);
    p.Kernel = CopyKernel<N>;
    BilinearResampleRows(Dest, temp, p);
    return;
  }
  if (Source.Width == Dest.Width)
    p.Kernel = CopyKernel<N>;
  else if (Source.Width == 1)
    p.Kernel = FillKernel<N>;
  else
    p.Kernel = GeneralKernel<N>;
  BilinearResampleRows(Dest, Source, p);
}

bool InRange(int32_t Bits, int32_t Lo, int32_t Hi) { return Bits >= Lo && Bits <= Hi; }

}  // namespace

void BuildBilinearMap(std::vector<TMap>& Map, int32_t DestWidth, int32_t SourceWidth) {
  if (DestWidth < 1) {
    Map.clear();
    return;
  }
  if (Map.size() < static_cast<size_t>(DestWidth)) Map.resize(static_cast<size_t>(DestWidth));
  const double f = DestWidth < 2 ? 0.0 : double(SourceWidth - 1) / double(DestWidth - 1);
  for (int32_t i = 0; i < DestWidth; ++i) {
    const double x = i * f;
    const auto t = static_cast<uint32_t>(x);
    Map[static_cast<size_t>(i)] = {t, static_cast<uint16_t>(RoundEvenSaturated((x - t) * 256.0))};
  }
  if (SourceWidth > 1) Map[static_cast<size_t>(DestWidth - 1)] = {static_cast<uint32_t>(SourceWidth - 2), 256};
}

bool GetSysBitmapParams(TBitmapParams& Params, TSysBitmap* Bitmap) {
  Params.Width = Bitmap->Width;
  Params.Height = Bitmap->Height;
  Params.BitsPerPixel = Bitmap->PixelFormat ? Bitmap->PixelFormat->BitsPerPixel : 0;
  Params.ScanLines = Bitmap->ScanLines();
  return true;
}

bool GetDirectBitmapParams(TBitmapParams& Params, TDirectBitmap* Bitmap) {
  return GetDirectBitmapRectParams(Params, Bitmap, TRect{0, 0, Bitmap->Width, Bitmap->Height});
}

bool GetDirectBitmapRectParams(TBitmapParams& Params, TDirectBitmap* Bitmap, const TRect& Rect) {
  const TRect r{std::max(Rect.Left, 0), std::max(Rect.Top, 0), std::min(Rect.Right, Bitmap->Width),
                std::min(Rect.Bottom, Bitmap->Height)};
  Params.BitsPerPixel = Bitmap->PixelFormat ? Bitmap->PixelFormat->BitsPerPixel : 0;
  Params.ScanLines.clear();
  if (r.Left >= r.Right || r.Top >= r.Bottom) {
    Params.Width = 0;
    Params.Height = 0;
    return true;
  }
  Params.Width = r.Right - r.Left;
  Params.Height = r.Bottom - r.Top;
  // The real pixel size of the format (the same as 2, 3, 4 for 16, 24 and
  // 32 bits), so the row starts of wider formats land on a pixel too.
  const int32_t bpp = Params.BitsPerPixel > 0 ? BytesPerPixelOfBits(Params.BitsPerPixel) : 1;
  Params.ScanLines.reserve(static_cast<size_t>(Params.Height));
  for (int32_t i = 0; i < Params.Height; ++i)
    Params.ScanLines.push_back(Bitmap->Row(r.Top + i) + static_cast<size_t>(r.Left) * bpp);
  return true;
}

bool GetBitmapParams(TBitmapParams& Params, TBitmap* Bitmap) {
  if (!Bitmap) return false;
  if (auto* s = dynamic_cast<TSysBitmap*>(Bitmap)) return GetSysBitmapParams(Params, s);
  if (auto* d = dynamic_cast<TDirectBitmap*>(Bitmap)) return GetDirectBitmapParams(Params, d);
  return false;
}

void AllocBitmapParams(TBitmapParams& Params, int32_t Width, int32_t Height, int32_t BitsPerPixel,
                       TByteDynArray& Buffer) {
  Params.Width = std::max(Width, 0);
  Params.Height = std::max(Height, 0);
  Params.BitsPerPixel = BitsPerPixel <= 0 ? 1 : BitsPerPixel;
  const size_t row = static_cast<size_t>(Params.Width) * BytesPerPixelOfBits(Params.BitsPerPixel);
  Buffer.assign(row * static_cast<size_t>(Params.Height), 0);
  Params.ScanLines.resize(static_cast<size_t>(Params.Height));
  for (size_t i = 0; i < Params.ScanLines.size(); ++i) Params.ScanLines[i] = Buffer.data() + i * row;
}

void ResampleBilinear8(const TBitmapParams& Dest, const TBitmapParams& Source) {
  IMG_ASSERT(InRange(Dest.BitsPerPixel, 1, 8) && InRange(Source.BitsPerPixel, 1, 8), "");
  ResampleBilinearN<1>(Dest, Source);
}

void ResampleBilinear24(const TBitmapParams& Dest, const TBitmapParams& Source) {
  IMG_ASSERT(InRange(Dest.BitsPerPixel, 17, 24) && InRange(Source.BitsPerPixel, 17, 24), "");
  ResampleBilinearN<3>(Dest, Source);
}

void ResampleBilinear32(const TBitmapParams& Dest, const TBitmapParams& Source) {
  IMG_ASSERT(InRange(Dest.BitsPerPixel, 25, 32) && InRange(Source.BitsPerPixel, 25, 32), "");
  ResampleBilinearN<4>(Dest, Source);
}

bool ResampleBitmapBilinear(TBitmap* Dest, TBitmap* Source) {
  if (!Dest || !Source || !Dest->PixelFormat || Dest->PixelFormat != Source->PixelFormat) return false;
  TBitmapParams d, s;
  if (!GetBitmapParams(d, Dest) || !GetBitmapParams(s, Source)) return false;
  switch (Dest->PixelFormat->BitsPerPixel) {
    case 8:
      ResampleBilinear8(d, s);
      return true;
    case 24:
      ResampleBilinear24(d, s);
      return true;
    case 32:
      ResampleBilinear32(d, s);
      return true;
    default:
      return false;
  }
}

}  // namespace imaging
