#include "imaging/SysBitmap.h"

#include <algorithm>
#include <cstring>

#include "imaging/ImagingAssert.h"

namespace imaging {

namespace {
TBitmapFactory g_savedFactory = nullptr;
bool g_started = false;
constexpr int32_t kFillPatternBytes = 3072;
}  // namespace

TSysBitmap::TSysBitmap(const TSize& Size, TPixelFormat* aFormat, TScanLines aScanLines, int32_t aPitch) {
  IMG_ASSERT(Size.cx >= 0, "");
  IMG_ASSERT(Size.cy >= 0 && aScanLines.size() == static_cast<size_t>(Size.cy), "");
  SetScanLines(Size, aFormat, std::move(aScanLines), aPitch);
}

void TSysBitmap::SetScanLines(const TSize& Size, TPixelFormat* aFormat, TScanLines aScanLines, int32_t aPitch) {
  Width = Size.cx;
  Height = Size.cy;
  PixelFormat = aFormat;
  scanLines_ = std::move(aScanLines);
  Pitch = aPitch;
}

void TSysBitmap::CopyRowUnchecked(uint8_t* Dest, int32_t X, int32_t Y, int32_t Count) {
  const int32_t n = std::min(Count, Width - X);
  if (n <= 0) return;
  const size_t bpp = size_t(BytesPerPixel());
  std::memmove(Dest, Row(Y) + size_t(X) * bpp, size_t(n) * bpp);
}

int32_t TSysBitmap::GetPixels(std::span<uint8_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) {
  const int32_t bpp = BytesPerPixel();
  const int64_t room = (static_cast<int64_t>(Buffer.size()) - Offset) / bpp;
  const int64_t n = std::min<int64_t>({Count, int64_t(Width) - X, room});
  if (n <= 0) return 0;
  std::memmove(Buffer.data() + Offset, Row(Y) + size_t(X) * size_t(bpp), size_t(n) * size_t(bpp));
  return static_cast<int32_t>(n * bpp);
}

void TSysBitmap::GetPixels8(std::span<uint8_t> B, int32_t O, int32_t X, int32_t Y, int32_t C) {
  IMG_ASSERT(BytesPerPixel() == 1, "");
  CopyRowUnchecked(reinterpret_cast<uint8_t*>(B.data() + O), X, Y, C);
}
void TSysBitmap::GetPixels16(std::span<uint16_t> B, int32_t O, int32_t X, int32_t Y, int32_t C) {
  IMG_ASSERT(BytesPerPixel() == 2, "");
  CopyRowUnchecked(reinterpret_cast<uint8_t*>(B.data() + O), X, Y, C);
}
void TSysBitmap::GetPixels24(std::span<TFColor> B, int32_t O, int32_t X, int32_t Y, int32_t C) {
  IMG_ASSERT(BytesPerPixel() == 3, "");
  CopyRowUnchecked(reinterpret_cast<uint8_t*>(B.data() + O), X, Y, C);
}
void TSysBitmap::GetPixels32(std::span<TFColorA> B, int32_t O, int32_t X, int32_t Y, int32_t C) {
  IMG_ASSERT(BytesPerPixel() == 4, "");
  CopyRowUnchecked(reinterpret_cast<uint8_t*>(B.data() + O), X, Y, C);
}

namespace {

// Both modes work on whole 32-bit pixels without branches, reading from one
// row and writing another (the same row in place). c x a div 255 is computed
// as (v + 1 + v shr 8) shr 8 with v = c x a, which equals the truncating
// division for every v up to 255 x 255 and leaves c unchanged for a = 255 by
// itself; mode 256 keeps alpha-255 pixels by a select.
void Premultiply255(uint8_t* d, const uint8_t* s, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) {
    const uint32_t v = LoadU32(s + 4 * size_t(i));
    const uint32_t a = v >> 24;
    const uint32_t m0 = (v & 0xFF) * a, m1 = ((v >> 8) & 0xFF) * a, m2 = ((v >> 16) & 0xFF) * a;
    const uint32_t c0 = (m0 + 1 + (m0 >> 8)) >> 8, c1 = (m1 + 1 + (m1 >> 8)) >> 8, c2 = (m2 + 1 + (m2 >> 8)) >> 8;
    StoreU32(d + 4 * size_t(i), c0 | (c1 << 8) | (c2 << 16) | (v & 0xFF000000u));
  }
}

void Premultiply256(uint8_t* d, const uint8_t* s, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) {
    const uint32_t v = LoadU32(s + 4 * size_t(i));
    const uint32_t a = v >> 24;
    const uint32_t c0 = ((v & 0xFF) * a) >> 8, c1 = (((v >> 8) & 0xFF) * a) >> 8, c2 = (((v >> 16) & 0xFF) * a) >> 8;
    const uint32_t q = c0 | (c1 << 8) | (c2 << 16) | (v & 0xFF000000u);
    StoreU32(d + 4 * size_t(i), a == 255 ? v : q);
  }
}

}  // namespace

void PremultiplyRow255(uint8_t* p, int32_t Count) { Premultiply255(p, p, Count); }
void PremultiplyRow256(uint8_t* p, int32_t Count) { Premultiply256(p, p, Count); }

void TSysBitmap::CopyRect(const TRect& DestRect, TBitmap* Source, const TPoint& SourcePoint, int32_t Premultiply) {
  IMG_ASSERT(Premultiply == 0 || Premultiply == 255 || Premultiply == 256, "Invalid APremultiply parameter Value");
  int32_t x = DestRect.Left, y = DestRect.Top;
  const int64_t w64 = int64_t(DestRect.Right) - DestRect.Left, h64 = int64_t(DestRect.Bottom) - DestRect.Top;
  if (w64 <= 0 || h64 <= 0) return;
  int32_t w = static_cast<int32_t>(std::min<int64_t>(w64, INT32_MAX));
  int32_t h = static_cast<int32_t>(std::min<int64_t>(h64, INT32_MAX));
  int32_t sx = SourcePoint.X, sy = SourcePoint.Y;
  if (!ClipBitmapRects(x, y, w, h, sx, sy, Width, Height, Source->Width, Source->Height)) return;
  if (!PixelFormat->HasAlpha || BytesPerPixel() != 4) Premultiply = 0;

  const size_t dbpp = size_t(BytesPerPixel());
  const size_t sbpp = size_t(Source->BytesPerPixel());
  auto* sysSource = dynamic_cast<TSysBitmap*>(Source);
  const bool same = Source->PixelFormat == PixelFormat;
  TPixelConverter* conv = same ? nullptr : PixelConverter(PixelFormat, Source->PixelFormat);
  IMG_ASSERT(same || conv, "");
  std::vector<uint8_t> scratch;
  if (!same && !sysSource) scratch.resize(size_t(w) * sbpp);

  float fraction = 0.0f;
  const float step = 1.0f / static_cast<float>(h);
  for (int32_t i = 0; i < h; ++i) {
    if (!DoProgress(fraction)) break;
    fraction += step;
    uint8_t* dest = Row(y + i) + size_t(x) * dbpp;
    if (sysSource) {
      const uint8_t* src = sysSource->Row(sy + i) + size_t(sx) * sbpp;
      const uintptr_t d0 = reinterpret_cast<uintptr_t>(dest), s0 = reinterpret_cast<uintptr_t>(src);
      if (same && Premultiply != 0 && (d0 + size_t(w) * dbpp <= s0 || s0 + size_t(w) * dbpp <= d0)) {
        // Premultiplied while copying: one pass over the row instead of two.
        (Premultiply == 255 ? Premultiply255 : Premultiply256)(dest, src, w);
        continue;
      }
      if (same)
        std::memmove(dest, src, size_t(w) * dbpp);
      else
        conv->Convert(dest, src, w);
    } else if (same) {
      Source->GetPixels(std::span<uint8_t>(dest, size_t(w) * dbpp), 0, sx, sy + i, w);
    } else {
      Source->GetPixels(scratch, 0, sx, sy + i, w);
      conv->Convert(dest, scratch.data(), w);
    }
    if (Premultiply == 255)
      PremultiplyRow255(dest, w);
    else if (Premultiply == 256)
      PremultiplyRow256(dest, w);
  }
  DoProgress(1.0f);
}

void TSysBitmap::CopyFrom(TBitmap* Source) { CopyRect(TRect{0, 0, Width, Height}, Source, TPoint{0, 0}, 0); }

bool TSysBitmap::FillRect(const TRect& Rect, uint32_t Color) {
  const int32_t left = std::max(Rect.Left, 0), top = std::max(Rect.Top, 0);
  const int32_t right = std::min(Rect.Right, Width), bottom = std::min(Rect.Bottom, Height);
  if (left >= right || top >= bottom) return false;
  const int32_t bpp = BytesPerPixel();
  uint8_t color[4];
  StoreU32(color, Color);
  std::vector<uint8_t> pattern(size_t(std::max(bpp, kFillPatternBytes)));
  TPixelConverter* conv = PixelConverter(PixelFormat, pfA8R8G8B8);
  IMG_ASSERT(conv, "");
  conv->Convert(pattern.data(), color, 1);
  const int32_t width = right - left;
  const int32_t limit = std::max(1, kFillPatternBytes / bpp);
  int32_t count = 1;
  while (count < width && count < limit) {
    const int32_t next = std::min({count * 2, width, limit});
    std::memcpy(pattern.data() + size_t(count) * size_t(bpp), pattern.data(), size_t(next - count) * size_t(bpp));
    count = next;
  }
  for (int32_t y = top; y < bottom; ++y) {
    uint8_t* dest = Row(y) + size_t(left) * size_t(bpp);
    for (int32_t done = 0; done < width;) {
      const int32_t n = std::min(count, width - done);
      std::memcpy(dest + size_t(done) * size_t(bpp), pattern.data(), size_t(n) * size_t(bpp));
      done += n;
    }
  }
  return DoProgress(1.0f);
}

// ---- views -----------------------------------------------------------------------

TRefBitmap::TRefBitmap(const TSize& Size, TPixelFormat* aFormat, TScanLines aScanLines, int32_t aPitch,
                       foundation::TRefObject* aReferenced, bool aOwns)
    : TSysBitmap(Size, aFormat, std::move(aScanLines), aPitch) {
  Referenced = aReferenced;
  OwnsReferenced = aOwns;
}

void TRefBitmap::Dispose() {
  if (OwnsReferenced) foundation::FreeAndNil(Referenced);
  Referenced = nullptr;
  TSysBitmap::Dispose();
}

TCropBitmap::TCropBitmap(const TRect& Rect, TSysBitmap* Source, bool OwnsSource) {
  const int32_t left = std::max(Rect.Left, 0), top = std::max(Rect.Top, 0);
  const int32_t right = std::min(Rect.Right, Source->Width), bottom = std::min(Rect.Bottom, Source->Height);
  IMG_ASSERT(left < right && top < bottom, std::string(ClassName()) + ".Create - Bitmap is Empty");
  TScanLines rows(size_t(bottom - top));
  const size_t offset = size_t(left) * size_t(Source->BytesPerPixel());
  for (int32_t i = 0; i < bottom - top; ++i) rows[size_t(i)] = Source->Row(top + i) + offset;
  SetScanLines(TSize{right - left, bottom - top}, Source->PixelFormat, std::move(rows), Source->Pitch);
  Referenced = Source;
  OwnsReferenced = OwnsSource;
}

TSysDirectWrapper::TSysDirectWrapper(TDirectBitmap* Bitmap, bool OwnsBitmap) {
  IMG_ASSERT(Bitmap, std::string(ClassName()) + ".Create - Bitmap not Assigned");
  IMG_ASSERT(Bitmap->Width >= 1 && Bitmap->Height >= 1, std::string(ClassName()) + ".Create - Bitmap is Empty");
  TScanLines rows(size_t(Bitmap->Height));
  for (int32_t i = 0; i < Bitmap->Height; ++i) rows[size_t(i)] = Bitmap->Row(i);
  SetScanLines(TSize{Bitmap->Width, Bitmap->Height}, Bitmap->PixelFormat, std::move(rows), 0);
  Wrapped = Bitmap;
  OwnsWrapped = OwnsBitmap;
}

void TSysDirectWrapper::Dispose() {
  if (OwnsWrapped) foundation::FreeObj(Wrapped);
  Wrapped = nullptr;
  TSysBitmap::Dispose();
}

TSysDirectWrapper* CreateSysDirectWrapper(int32_t Width, int32_t Height, TPixelFormat* PixelFormat) {
  auto* direct = new TDirectBitmap(Width, Height, PixelFormat);
  return new TSysDirectWrapper(direct, true);
}

TSysBitmap* CreateSysBitmap(int32_t Width, int32_t Height, TPixelFormat* PixelFormat) {
  if (!DefBitmapClass) return nullptr;
  TBitmap* b = DefBitmapClass(Width, Height, PixelFormat, TSysBitmap::StaticClass(), nullptr, {});
  if (!b) return nullptr;
  auto* s = dynamic_cast<TSysBitmap*>(b);
  if (!s) {
    const std::string name = b->ClassName();
    b->Free();
    ImagingAssertFail("Invalid class typecast: " + name, __FILE__, __LINE__);
  }
  return s;
}

TSysBitmap* CreateSysBitmapOfSize(const TSize& Size, TPixelFormat* PixelFormat) {
  return CreateSysBitmap(Size.cx, Size.cy, PixelFormat);
}

TBitmap* CreateDefSysBitmap(int32_t Width, int32_t Height, TPixelFormat* PixelFormat, TBitmapClass RequiredClass,
                            TBitmap* Source, const TProgressMethod& Progress) {
  if (!RequiredClass || ClassInheritsFrom(TSysDirectWrapper::StaticClass(), RequiredClass)) {
    TSysDirectWrapper* w = CreateSysDirectWrapper(Width, Height, PixelFormat);
    w->Progress = Progress;
    if (Source) {
      try {
        w->CopyFrom(Source);
      } catch (...) {
        w->Free();
        throw;
      }
    }
    return w;
  }
  return g_savedFactory ? g_savedFactory(Width, Height, PixelFormat, RequiredClass, Source, Progress) : nullptr;
}

void InitSysBitmap() {
  if (g_started) return;
  g_started = true;
  g_savedFactory = DefBitmapClass;
  DefBitmapClass = CreateDefSysBitmap;
}

void DoneSysBitmap() {
  if (!g_started) return;
  g_started = false;
  DefBitmapClass = g_savedFactory;
}

}  // namespace imaging
