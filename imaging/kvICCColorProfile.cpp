#include "imaging/kvICCColorProfile.h"

#include <lcms2.h>

#include <algorithm>
#include <cstring>

#include "imaging/ImagingAssert.h"

namespace imaging {

namespace {
TCreateColorTransform g_savedHook = nullptr;
bool g_started = false;

cmsHPROFILE OpenProfile(const std::vector<uint8_t>& bytes) {
  if (bytes.empty() || bytes.size() > 0xFFFFFFFFu) return nullptr;
  return cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
}
}  // namespace

uint32_t LcmsTransformFlags(bool BlackPointCompensation, uint8_t Precalculation, bool NullTransform) {
  uint32_t flags = 0;
  if (BlackPointCompensation) flags |= cmsFLAGS_BLACKPOINTCOMPENSATION;
  if (NullTransform) flags |= cmsFLAGS_NULLTRANSFORM;
  switch (Precalculation) {
    case 1: flags |= cmsFLAGS_NOOPTIMIZE; break;
    case 2: flags |= cmsFLAGS_HIGHRESPRECALC; break;
    case 3: flags |= cmsFLAGS_LOWRESPRECALC; break;
    default: break;
  }
  return flags;
}

bool TransformBitmapRect(TSysBitmap* Dest, TSysBitmap* Source, const TRect& DestRect, const TPoint& SourcePoint,
                         const std::vector<uint8_t>& DestICC, const std::vector<uint8_t>& SourceICC,
                         uint8_t Precalculation) {
  if (!Dest || !Source || Dest->PixelFormat != Source->PixelFormat) return false;
  const int32_t bits = Dest->PixelFormat->BitsPerPixel;
  if (bits != 24 && bits != 32) return false;
  int32_t x = DestRect.Left, y = DestRect.Top;
  const int64_t w64 = int64_t(DestRect.Right) - DestRect.Left, h64 = int64_t(DestRect.Bottom) - DestRect.Top;
  if (w64 <= 0 || h64 <= 0) return false;
  int32_t w = static_cast<int32_t>(std::min<int64_t>(w64, INT32_MAX));
  int32_t h = static_cast<int32_t>(std::min<int64_t>(h64, INT32_MAX));
  int32_t sx = SourcePoint.X, sy = SourcePoint.Y;
  if (!ClipBitmapRects(x, y, w, h, sx, sy, Dest->Width, Dest->Height, Source->Width, Source->Height)) return false;
  const size_t bpp = bits / 8;

  bool applied = false;
  cmsSetAdaptationState(0);
  if (!DestICC.empty() && !SourceICC.empty()) {
    cmsHPROFILE src = OpenProfile(SourceICC);
    cmsHPROFILE dst = OpenProfile(DestICC);
    if (src && dst) {
      const cmsUInt32Number layout = bits == 24 ? TYPE_BGR_8 : TYPE_BGRA_8;
      cmsHTRANSFORM t = cmsCreateTransform(src, layout, dst, layout, INTENT_PERCEPTUAL,
                                           LcmsTransformFlags(false, Precalculation, false));
      if (t) {
        for (int32_t i = 0; i < h; ++i)
          cmsDoTransform(t, Source->Row(sy + i) + size_t(sx) * bpp, Dest->Row(y + i) + size_t(x) * bpp,
                         static_cast<cmsUInt32Number>(w));
        applied = true;
        cmsDeleteTransform(t);
      }
    }
    if (src) cmsCloseProfile(src);
    if (dst) cmsCloseProfile(dst);
  }
  if (!applied) {
    const size_t bytes = size_t(w) * bpp;
    if (Dest == Source) {
      if (sx == x && sy == y) return false;
      if (sy < y) {  // source above: copy from the last row up so overlaps survive
        for (int32_t i = h - 1; i >= 0; --i)
          std::memmove(Dest->Row(y + i) + size_t(x) * bpp, Source->Row(sy + i) + size_t(sx) * bpp, bytes);
        return false;
      }
    }
    for (int32_t i = 0; i < h; ++i)
      std::memmove(Dest->Row(y + i) + size_t(x) * bpp, Source->Row(sy + i) + size_t(sx) * bpp, bytes);
  }
  return applied;
}

bool TICCColorTransform::TransformBitmap(TSysBitmap* Bitmap) {
  return TransformBitmapRect(Bitmap, Bitmap, TRect{0, 0, Bitmap->Width, Bitmap->Height}, TPoint{0, 0},
                             Destination->Data, Source->Data, 0);
}

TColorTransform* CreateICCColorTransform(TColorProfile* Source, TColorProfile* Destination) {
  IMG_ASSERT(Source && Destination, "");
  return new TICCColorTransform(Source, Destination);
}

void InitICCColorProfile() {
  if (g_started) return;
  g_started = true;
  g_savedHook = CreateColorTransformHook;
  CreateColorTransformHook = CreateICCColorTransform;
}

void DoneICCColorProfile() {
  if (!g_started) return;
  g_started = false;
  CreateColorTransformHook = g_savedHook;
}

}  // namespace imaging
