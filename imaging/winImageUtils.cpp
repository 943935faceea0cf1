#include "imaging/winImageUtils.h"

#include <cmath>

#include "imaging/ImagingAssert.h"
#include "imaging/SysBilinearDrawer.h"
#include "imaging/SysBitmapResize.h"

namespace imaging {

TSize FitSizeKeepAspect(int32_t SourceWidth, int32_t SourceHeight, int32_t BoxWidth, int32_t BoxHeight) {
  const double e = double(BoxHeight) / SourceHeight, f = double(BoxWidth) / SourceWidth;
  if (e > f) return {BoxWidth, std::min(static_cast<int32_t>(std::nearbyint(SourceHeight * f)), BoxHeight)};
  return {std::min(static_cast<int32_t>(std::nearbyint(SourceWidth * e)), BoxWidth), BoxHeight};
}

TFastDIB* CreateImageDIB(TImage* Image, int32_t Width, int32_t Height, TFColor Background, bool KeepSmall,
                         bool Opaque) {
  IMG_ASSERT(Width >= 1 && Height >= 1, "");
  if (!Image || !Image->Store) return nullptr;
  const bool alpha = Image->Params.PixelFormat && Image->Params.PixelFormat->HasAlpha;
  const int32_t level = SelectMipLevel(TSize{Image->Params.Width, Image->Params.Height}, Width, Height);
  auto* bitmap = dynamic_cast<TSysBitmap*>(
      Image->Store->GetBitmap(level, alpha ? pfA8R8G8B8 : pfR8G8B8, TSysBitmap::StaticClass()));
  if (!bitmap || bitmap->Width < 1 || bitmap->Height < 1) return nullptr;
  TSize size = FitSizeKeepAspect(bitmap->Width, bitmap->Height, Width, Height);
  if (KeepSmall && bitmap->Width < size.cx && bitmap->Height < size.cy) size = {bitmap->Width, bitmap->Height};
  // A very wide or tall level rounds one side to 0; the DIB keeps one pixel.
  size.cx = std::max(size.cx, 1);
  size.cy = std::max(size.cy, 1);

  const uint32_t bg = uint32_t(Background.B) | uint32_t(Background.G) << 8 | uint32_t(Background.R) << 16;
  auto* dib = new TFastDIB;
  TDibBitmap* view = nullptr;
  TBilinearDrawer* drawer = nullptr;
  try {
    if (!alpha || Opaque) {
      dib->SetSize(size.cx, size.cy, 24);
      view = CreateDibBitmapOf(dib, false);
      // Uncovered pixels (and transparent ones) show the background.
      view->FillRect(TRect{0, 0, size.cx, size.cy}, bg | 0xFF000000u);
      drawer = new TBilinearDrawer(8, 8);
      drawer->SetImage(bitmap, false);
      drawer->SetTransform(TRect{0, 0, size.cx, size.cy}, {0, 0},
                           {float(size.cx) / float(bitmap->Width), 0}, {0, float(size.cy) / float(bitmap->Height)});
      drawer->Draw(view);
    } else {
      dib->SetSize(size.cx, size.cy, 32);
      view = CreateDibBitmapOf(dib, false);
      ResizeBitmap32(view, bitmap, TRect{0, 0, size.cx, size.cy}, TRect{0, 0, bitmap->Width, bitmap->Height}, bg);
    }
  } catch (...) {
    foundation::FreeObj(drawer);
    foundation::FreeObj(view);
    dib->Free();
    throw;
  }
  foundation::FreeObj(drawer);
  foundation::FreeObj(view);
  return dib;
}

}  // namespace imaging
