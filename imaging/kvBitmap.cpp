#include "imaging/kvBitmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/ImagingAssert.h"

namespace imaging {

TBitmapFactory DefBitmapClass = nullptr;

namespace {
TBitmapFactory g_savedFactory = nullptr;
bool g_started = false;
}  // namespace

bool ClassInheritsFrom(TBitmapClass Cls, TBitmapClass Ancestor) {
  for (TBitmapClass c = Cls; c; c = c->Parent)
    if (c == Ancestor) return true;
  return false;
}

bool BitmapSizeAllowed(int64_t Width, int64_t Height, int32_t BitsPerPixel) {
  if (Width < 1 || Height < 1 || BitsPerPixel < 1) return false;
  if (Width > MaxBitmapPixels || Height > MaxBitmapPixels) return false;
  if (Width * Height > MaxBitmapPixels) return false;
  // Row bytes and the total in 64 bits; 2^28 pixels of at most 128 bits stay below 2^33.
  const int64_t rowBytes = (Width * BitsPerPixel + 7) / 8;
  if (BitsPerPixel > 128 || rowBytes > (int64_t(1) << 31) - 64) return false;
  return true;
}

TBitmapClass TBitmap::StaticClass() {
  static const TBitmapClassInfo info{"TBitmap", nullptr};
  return &info;
}

TBitmap* TBitmap::Clone() { return CloneAs(PixelFormat, GetClass(), Progress); }

int32_t TBitmap::GetPixels(std::span<uint8_t>, int32_t, int32_t, int32_t, int32_t) {
  throw EAbstractError(std::string_view("Abstract Error"));
}
void TBitmap::GetPixels8(std::span<uint8_t>, int32_t, int32_t, int32_t, int32_t) {
  throw EAbstractError(std::string_view("Abstract Error"));
}
void TBitmap::GetPixels16(std::span<uint16_t>, int32_t, int32_t, int32_t, int32_t) {
  throw EAbstractError(std::string_view("Abstract Error"));
}
void TBitmap::GetPixels24(std::span<TFColor>, int32_t, int32_t, int32_t, int32_t) {
  throw EAbstractError(std::string_view("Abstract Error"));
}
void TBitmap::GetPixels32(std::span<TFColorA>, int32_t, int32_t, int32_t, int32_t) {
  throw EAbstractError(std::string_view("Abstract Error"));
}

TBitmap* TBitmap::CloneAs(TPixelFormat* Format, TBitmapClass RequiredClass, const TProgressMethod& aProgress) {
  if (!Format) Format = PixelFormat;
  const TProgressMethod& p = aProgress ? aProgress : Progress;
  if (!DefBitmapClass) return nullptr;
  return DefBitmapClass(Width, Height, Format, RequiredClass, this, p);
}

bool TBitmap::IsCompatible(TPixelFormat* Format, TBitmapClass RequiredClass) const {
  if (Format && Format != PixelFormat) return false;
  return !RequiredClass || ClassInheritsFrom(GetClass(), RequiredClass);
}

bool TBitmap::DoProgress(float Fraction) { return Progress ? Progress(Fraction) : true; }

// ---- TDirectBitmap ---------------------------------------------------------------

TDirectBitmap::TDirectBitmap(int32_t aWidth, int32_t aHeight, TPixelFormat* aFormat) {
  IMG_ASSERT(aWidth >= 1, "");
  IMG_ASSERT(aHeight >= 1, "");
  IMG_ASSERT(aFormat, "");
  IMG_ASSERT(BitmapSizeAllowed(aWidth, aHeight, aFormat->BitsPerPixel),
             std::string(ClassName()) + ".Create - Bitmap too large");
  Width = aWidth;
  Height = aHeight;
  PixelFormat = aFormat;
  const int32_t bpp = (aFormat->BitsPerPixel + 7) / 8;
  rowBytes_ = static_cast<int32_t>(int64_t(aWidth) * bpp);
  rows_.assign(static_cast<size_t>(aHeight), nullptr);
  for (auto& r : rows_) {
    r = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(rowBytes_), 1));
    if (!r) {
      for (auto& q : rows_) std::free(q);
      rows_.clear();
      throw std::bad_alloc();
    }
  }
}

void TDirectBitmap::Dispose() {
  for (auto& r : rows_) std::free(r);
  rows_.clear();
  TBitmap::Dispose();
}

int32_t TDirectBitmap::GetPixels(std::span<uint8_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) {
  const std::string cls = ClassName();
  IMG_ASSERT(X >= 0 && X < Width && Y >= 0 && Y < Height, cls + ".GetPixels (X,Y) out of Bitmap.Size");
  IMG_ASSERT(Offset >= 0, cls + ".GetPixels - Offset out of Bounds");
  Count = std::min(Count, Width - X);
  if (Count < 1) return 0;
  const int64_t bpp = (PixelFormat->BitsPerPixel + 7) / 8;
  const int64_t bytes = Count * bpp;
  IMG_ASSERT(int64_t(Offset) + bytes <= static_cast<int64_t>(Buffer.size()),
             cls + ".GetPixels - Not Enought Pixel Buffer Space");
  std::memcpy(Buffer.data() + Offset, Row(Y) + X * bpp, static_cast<size_t>(bytes));
  return static_cast<int32_t>(bytes);
}

template <class T>
void TDirectBitmap::TypedRead(const char* Name, std::span<T> Buffer, int32_t Offset, int32_t X, int32_t Y,
                              int32_t Count) {
  IMG_ASSERT(PixelFormat->BytesPerPixel == static_cast<int32_t>(sizeof(T)), "");
  const std::string cls = std::string(ClassName()) + "." + Name;
  IMG_ASSERT(X >= 0 && Y >= 0 && int64_t(X) + Count <= Width && Y < Height, cls + " out of Bitmap.Size");
  IMG_ASSERT(Offset >= 0 && int64_t(Offset) + Count <= static_cast<int64_t>(Buffer.size()),
             cls + " - Out of Pixel Buffer Bounds");
  if (Count > 0)
    std::memcpy(reinterpret_cast<uint8_t*>(Buffer.data() + Offset), Row(Y) + size_t(X) * sizeof(T),
                size_t(Count) * sizeof(T));
}

void TDirectBitmap::GetPixels8(std::span<uint8_t> B, int32_t O, int32_t X, int32_t Y, int32_t C) {
  TypedRead("GetPixels8", B, O, X, Y, C);
}
void TDirectBitmap::GetPixels16(std::span<uint16_t> B, int32_t O, int32_t X, int32_t Y, int32_t C) {
  TypedRead("GetPixels16", B, O, X, Y, C);
}
void TDirectBitmap::GetPixels24(std::span<TFColor> B, int32_t O, int32_t X, int32_t Y, int32_t C) {
  TypedRead("GetPixels24", B, O, X, Y, C);
}
void TDirectBitmap::GetPixels32(std::span<TFColorA> B, int32_t O, int32_t X, int32_t Y, int32_t C) {
  TypedRead("GetPixels32", B, O, X, Y, C);
}

bool ClipBitmapRects(int32_t& X, int32_t& Y, int32_t& W, int32_t& H, int32_t& SX, int32_t& SY, int32_t DestWidth,
                     int32_t DestHeight, int32_t SourceWidth, int32_t SourceHeight) {
  // 64-bit sums: hostile rectangles must not wrap around.
  int64_t x = X, y = Y, w = W, h = H, sx = SX, sy = SY;
  if (x >= DestWidth || y >= DestHeight || x + w <= 0 || y + h <= 0) return false;
  int64_t right = std::min<int64_t>(x + w, DestWidth);
  int64_t bottom = std::min<int64_t>(y + h, DestHeight);
  if (x < 0) {
    sx -= x;
    x = 0;
  }
  if (y < 0) {
    sy -= y;
    y = 0;
  }
  w = right - x;
  h = bottom - y;
  if (sx >= SourceWidth || sy >= SourceHeight || sx + w <= 0 || sy + h <= 0) return false;
  int64_t sright = std::min<int64_t>(sx + w, SourceWidth);
  int64_t sbottom = std::min<int64_t>(sy + h, SourceHeight);
  if (sx < 0) {
    x -= sx;
    sx = 0;
  }
  if (sy < 0) {
    y -= sy;
    sy = 0;
  }
  w = sright - sx;
  h = sbottom - sy;
  X = static_cast<int32_t>(x);
  Y = static_cast<int32_t>(y);
  W = static_cast<int32_t>(std::max<int64_t>(w, INT32_MIN));
  H = static_cast<int32_t>(std::max<int64_t>(h, INT32_MIN));
  SX = static_cast<int32_t>(sx);
  SY = static_cast<int32_t>(sy);
  return w > 0 && h > 0;
}

void TDirectBitmap::CopyRect(const TRect& DestRect, TBitmap* Source, const TPoint& SourcePoint) {
  int32_t x = DestRect.Left, y = DestRect.Top;
  int64_t w64 = int64_t(DestRect.Right) - DestRect.Left, h64 = int64_t(DestRect.Bottom) - DestRect.Top;
  if (w64 <= 0 || h64 <= 0) return;
  int32_t w = static_cast<int32_t>(std::min<int64_t>(w64, INT32_MAX));
  int32_t h = static_cast<int32_t>(std::min<int64_t>(h64, INT32_MAX));
  int32_t sx = SourcePoint.X, sy = SourcePoint.Y;
  if (!ClipBitmapRects(x, y, w, h, sx, sy, Width, Height, Source->Width, Source->Height)) return;
  const int32_t bpp = PixelFormat->BytesPerPixel;
  if (Source->PixelFormat == PixelFormat && bpp >= 1 && bpp <= 4) {
    for (int32_t i = 0; i < h; ++i) {
      uint8_t* row = Row(y + i);
      switch (bpp) {
        case 1: Source->GetPixels8(std::span<uint8_t>(row, size_t(Width)), x, sx, sy + i, w); break;
        case 2: Source->GetPixels16(std::span<uint16_t>(Row16(y + i), size_t(Width)), x, sx, sy + i, w); break;
        case 3: Source->GetPixels24(std::span<TFColor>(Row24(y + i), size_t(Width)), x, sx, sy + i, w); break;
        default: Source->GetPixels32(std::span<TFColorA>(Row32(y + i), size_t(Width)), x, sx, sy + i, w); break;
      }
    }
    return;
  }
  const int32_t destBpp = (PixelFormat->BitsPerPixel + 7) / 8;
  std::vector<uint8_t> scratch(size_t(w) * size_t(Source->BytesPerPixel()));
  TPixelConverter* conv = PixelConverter(PixelFormat, Source->PixelFormat);
  IMG_ASSERT(conv, "");
  for (int32_t i = 0; i < h; ++i) {
    Source->GetPixels(scratch, 0, sx, sy + i, w);
    conv->Convert8(Row(y + i), scratch.data(), x * destBpp, 0, w);
  }
}

void TDirectBitmap::CopyFrom(TBitmap* Source) { CopyRect(TRect{0, 0, Width, Height}, Source, TPoint{0, 0}); }

int32_t FillPixelFor(TPixelFormat* Format, uint32_t Color, uint8_t Pixel[4]) {
  const uint32_t b = Color & 0xFF, g = (Color >> 8) & 0xFF, r = (Color >> 16) & 0xFF;
  switch (Format->BytesPerPixel) {
    case 1:
      Pixel[0] = static_cast<uint8_t>((r + g + b) / 3);
      return 1;
    case 2: {
      uint16_t w;
      if (Format == pfR5G6B5)
        w = static_cast<uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
      else
        w = static_cast<uint16_t>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
      StoreU16(Pixel, w);
      return 2;
    }
    case 3:
      Pixel[0] = static_cast<uint8_t>(b);
      Pixel[1] = static_cast<uint8_t>(g);
      Pixel[2] = static_cast<uint8_t>(r);
      return 3;
    case 4:
      StoreU32(Pixel, Color);
      return 4;
    default:
      return 0;
  }
}

void TDirectBitmap::FillRect(const TRect& Rect, uint32_t Color) {
  const int32_t left = std::max(Rect.Left, 0), top = std::max(Rect.Top, 0);
  const int32_t right = std::min(Rect.Right, Width), bottom = std::min(Rect.Bottom, Height);
  if (left >= right || top >= bottom) return;
  uint8_t pixel[4];
  const int32_t n = FillPixelFor(PixelFormat, Color, pixel);
  if (n == 0) return;
  for (int32_t y = top; y < bottom; ++y) {
    uint8_t* p = Row(y) + size_t(left) * size_t(n);
    for (int32_t x = left; x < right; ++x, p += n) std::memcpy(p, pixel, size_t(n));
  }
}

TBitmap* CreateDefDirectBitmap(int32_t Width, int32_t Height, TPixelFormat* PixelFormat, TBitmapClass RequiredClass,
                               TBitmap* Source, const TProgressMethod& Progress) {
  if (!RequiredClass || !ClassInheritsFrom(TDirectBitmap::StaticClass(), RequiredClass)) return nullptr;
  auto* bmp = new TDirectBitmap(Width, Height, PixelFormat);
  bmp->Progress = Progress;
  if (Source) {
    try {
      bmp->CopyFrom(Source);
    } catch (...) {
      bmp->Free();
      throw;
    }
  }
  return bmp;
}

void InitKvBitmap() {
  if (g_started) return;
  g_started = true;
  g_savedFactory = DefBitmapClass;
  DefBitmapClass = CreateDefDirectBitmap;
}

void DoneKvBitmap() {
  if (!g_started) return;
  g_started = false;
  DefBitmapClass = g_savedFactory;
}

}  // namespace imaging
