#include "render3d/kvSysDevDrawer.h"

#include <cmath>

#include "foundation/kpExceptions.h"
#include "imaging/SysBilinearUtils.h"

namespace render3d {

namespace {

constexpr const char* kUnsupported = "Usupported Pixel Format";

void AssertBackFormat(imaging::TPixelFormat* F) {
  if (F != imaging::pfR8G8B8 && F != imaging::pfB8G8R8) foundation::QelAssertFail(std::string(kUnsupported));
}

int32_t Nearest(double v) { return int32_t(std::nearbyint(v)); }  // halves to even

void AssertRange(imaging::TSysBitmap* B, const TRect& R) {
  QEL_ASSERT(R.Left >= 0 && R.Top >= 0 && R.Right <= B->Width && R.Bottom <= B->Height, "Blend range");
}

// p + (a * (s - p)) / 256, the division truncating toward zero.
inline uint8_t Mix(uint8_t p, uint8_t s, int32_t a) { return uint8_t(p + (a * (int32_t(s) - int32_t(p))) / 256); }

}  // namespace

imaging::TPixelFormat* AlphaCounterpart(imaging::TPixelFormat* F) {
  if (F == imaging::pfR8G8B8) return imaging::pfA8R8G8B8;
  if (F == imaging::pfB8G8R8) return imaging::pfA8B8G8R8;
  foundation::QelAssertFail(std::string(kUnsupported));
}

void BlendAlphaRow24(imaging::TSysBitmap* Dest, const TRect& T, imaging::TSysBitmap* Src, TPoint Off,
                     int32_t Opacity) {
  const int32_t w = T.Right - T.Left, h = T.Bottom - T.Top;
  AssertRange(Dest, T);
  AssertRange(Src, TRect{Off.X, Off.Y, Off.X + w, Off.Y + h});
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* d = Dest->Row(T.Top + y) + size_t(T.Left) * 3;
    const uint8_t* s = Src->Row(Off.Y + y) + size_t(Off.X) * 4;
    for (int32_t x = 0; x < w; ++x, d += 3, s += 4) {
      const int32_t a = s[3];
      int32_t k;
      if (Opacity > 255) {
        if (a == 0) continue;
        k = a;
      } else {
        k = (a * Opacity) / 256;
        if (k == 0) continue;
      }
      d[0] = Mix(d[0], s[0], k);
      d[1] = Mix(d[1], s[1], k);
      d[2] = Mix(d[2], s[2], k);
    }
  }
}

void BlendOpacity24(imaging::TSysBitmap* Dest, const TRect& T, imaging::TSysBitmap* Src, TPoint Off,
                    int32_t Opacity) {
  const int32_t w = T.Right - T.Left, h = T.Bottom - T.Top;
  AssertRange(Dest, T);
  AssertRange(Src, TRect{Off.X, Off.Y, Off.X + w, Off.Y + h});
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* d = Dest->Row(T.Top + y) + size_t(T.Left) * 3;
    const uint8_t* s = Src->Row(Off.Y + y) + size_t(Off.X) * 3;
    for (int32_t i = 0; i < w * 3; ++i) d[i] = Mix(d[i], s[i], Opacity);
  }
}

void TSysImageTag::Dispose() {
  if (Bitmap) Bitmap->Free();
  Bitmap = nullptr;
  TRefObject::Dispose();
}

void TSysDevDrawer::Dispose() {
  if (Back) Back->Free();
  Back = nullptr;
  TDevDrawer::Dispose();
}

void TSysDevDrawer::SetBounds(uintptr_t aWindow, const TRect& Rect) {
  const int32_t w = Rect.Right - Rect.Left, h = Rect.Bottom - Rect.Top;
  if (Rect.Left == Origin.X && Rect.Top == Origin.Y && w == Width && h == Height) {
    TDevDrawer::SetBounds(aWindow, Rect);
    return;
  }
  TDevDrawer::SetBounds(aWindow, Rect);
  if (Back) Back->Free();
  Back = nullptr;
  if (w >= 1 && h >= 1) {
    Back = CreateBitmap(w, h);
    AssertBackFormat(Back ? Back->PixelFormat : nullptr);
  }
}

void TSysDevDrawer::FillRect(const TRect& Rect, uint32_t Color) {
  if (!Back) return;
  const int32_t alpha = int32_t(Color >> 24);
  if (alpha == 255) {
    Back->FillRect(Rect, Color);
    return;
  }
  if (alpha == 0) return;
  const TRect r = DrawRectIntersect(Rect, TRect{0, 0, Back->Width, Back->Height});
  if (DrawRectEmpty(r)) return;
  // Channel bytes in memory order: blue, green, red for "R8G8B8"; a
  // "B8G8R8" bitmap holds red first.
  uint8_t c[3] = {uint8_t(Color), uint8_t(Color >> 8), uint8_t(Color >> 16)};
  if (Back->PixelFormat == imaging::pfB8G8R8) std::swap(c[0], c[2]);
  for (int32_t y = r.Top; y < r.Bottom; ++y) {
    uint8_t* p = Back->Row(y) + size_t(r.Left) * 3;
    for (int32_t x = r.Left; x < r.Right; ++x, p += 3)
      for (int32_t i = 0; i < 3; ++i) p[i] = Mix(p[i], c[i], alpha);
  }
}

void TSysDevDrawer::DrawImage(imaging::TImage* Image, const TRect& Clip, TSurfaceTransform& T) {
  if (!Back || !Image) return;
  int32_t x = Nearest(T.OriginX), y = Nearest(T.OriginY);
  const int32_t iw = Image->Params.Width, ih = Image->Params.Height;
  int32_t w = iw, h = ih;
  if (T.Kind != 0) {
    // Only the diagonal is used; the image is never mirrored.
    w = Nearest(double(w) * double(T.XAxis.X));
    h = Nearest(double(h) * double(T.YAxis.Y));
    if (w == 0 || h == 0) return;
    if (w < 0) {
      x += w;
      w = -w;
    }
    if (h < 0) {
      y += h;
      h = -h;
    }
  }
  if (w <= 0 || h <= 0) return;
  const TRect target = DrawRectIntersect(DrawRectIntersect(TRect{x, y, x + w, y + h}, Clip), Dirty);
  if (DrawRectEmpty(target)) return;
  const TPoint offset{target.Left - x, target.Top - y};

  imaging::TPixelFormat* imageFormat = Image->Params.PixelFormat;
  if (!imageFormat) imageFormat = Image->GetBitmap() ? Image->GetBitmap()->PixelFormat : nullptr;
  const bool alpha = imageFormat && imageFormat->HasAlpha;
  imaging::TPixelFormat* format = alpha ? AlphaCounterpart(Back->PixelFormat) : Back->PixelFormat;

  imaging::TSysBitmap* source = nullptr;
  if (w != iw || h != ih) {
    auto* tag = dynamic_cast<TSysImageTag*>(T.Cached);
    if (!tag) {
      FreeSurfaceTransformCache(T);
      tag = new TSysImageTag;
      T.Cached = tag;
    }
    if (tag->Image != Image || !tag->Bitmap || tag->Bitmap->Width != w || tag->Bitmap->Height != h ||
        tag->Bitmap->PixelFormat != format) {
      if (tag->Bitmap) tag->Bitmap->Free();
      tag->Bitmap = nullptr;
      tag->Image = Image;
      auto* full = Image->Store->GetBitmap(0, format, imaging::TSysBitmap::StaticClass());
      if (!full) return;
      tag->Bitmap = imaging::CreateSysDirectWrapper(w, h, format);
      imaging::ResampleBitmapBilinear(tag->Bitmap, full);
    }
    source = tag->Bitmap;
  } else {
    source = dynamic_cast<imaging::TSysBitmap*>(Image->Store->GetBitmap(0, format, imaging::TSysBitmap::StaticClass()));
  }
  if (!source) return;

  const int32_t opacity = Nearest(double(T.Opacity) * 256.0);
  if (alpha)
    BlendAlphaRow24(Back, target, source, offset, opacity);
  else if (opacity > 255)
    Back->CopyRect(target, source, offset, 0);
  else
    BlendOpacity24(Back, target, source, offset, opacity);
}

}  // namespace render3d
