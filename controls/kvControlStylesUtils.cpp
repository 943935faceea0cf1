#include "controls/kvControlStylesUtils.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "foundation/kpExceptions.h"
#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvImage.h"
#include "imaging/kvPixelFormat.h"
#include "render3d/kvDrawForm.h"
#include "text/kvRasterizerTypes.h"
#include "text/kvRasterizerUtils.h"

namespace controls {

using foundation::TRef;

// ---- Generator and its cache ------------------------------------------------

void TStageGenerator::Dispose() {
  // Views that outlive the generator's last owner keep it alive through their
  // own reference, so the buckets are empty by now.
  FBuckets.fill(nullptr);
  TRefObject::Dispose();
}

TStageView* TStageGenerator::CreateView(int32_t width, int32_t height) {
  return new TStageView(this, width, height);
}

TStageView* TStageGenerator::GetView(int32_t width, int32_t height) {
  const int32_t bucket = BucketOf(width, height);
  for (TStageView* v = FBuckets[static_cast<size_t>(bucket)]; v; v = v->NextInBucket)
    if (v->Width == width && v->Height == height) {
      v->_AddRef();
      return v;
    }
  TStageView* view = CreateView(width, height);
  view->NextInBucket = FBuckets[static_cast<size_t>(bucket)];
  FBuckets[static_cast<size_t>(bucket)] = view;
  return view;
}

int32_t TStageGenerator::ViewCount() const {
  int32_t n = 0;
  for (TStageView* head : FBuckets)
    for (TStageView* v = head; v; v = v->NextInBucket) ++n;
  return n;
}

void TStageGenerator::Unlink(TStageView* view) {
  TStageView** link = &FBuckets[static_cast<size_t>(BucketOf(view->Width, view->Height))];
  while (*link && *link != view) link = &(*link)->NextInBucket;
  QEL_ASSERT(*link == view, "No View in ImageGenerator");
  *link = view->NextInBucket;
  view->NextInBucket = nullptr;
}

// ---- Views ------------------------------------------------------------------

TStageView::TStageView(TStageGenerator* generator, int32_t width, int32_t height)
    : Generator(TRef<TStageGenerator>::AddRef(generator)),
      Width(width),
      Height(height),
      Bounds{0, 0, width, height} {}

void TStageView::Dispose() {
  if (Generator) Generator->Unlink(this);
  Image.Reset();
  Generator.Reset();
  TRefObject::Dispose();
}

imaging::TImage* TStageView::GetImage() {
  if (!Rendered && Generator) {
    Rendered = true;
    Image = TRef<imaging::TImage>::Adopt(Generator->Render(Width, Height));
  }
  return Image.Get();
}

bool TStageView::HitTest(int32_t x, int32_t y) {
  if (x < Bounds.Left || y < Bounds.Top || x >= Bounds.Right || y >= Bounds.Bottom) return false;
  if (RectHit) return true;
  imaging::TImage* image = GetImage();
  if (!image) return false;
  auto* bitmap = dynamic_cast<imaging::TSysBitmap*>(image->GetBitmap());
  if (!bitmap || x >= bitmap->Width || y >= bitmap->Height) return false;
  if (bitmap->BytesPerPixel() != 4) return true;  // an opaque picture
  return bitmap->Row(y)[x * 4 + 3] >= 128;
}

void TStageView::Draw(render3d::TDrawSurface* surface, int32_t x, int32_t y, const foundation::TRect& clip) {
  imaging::TImage* image = GetImage();
  if (image && surface) surface->DrawImageAt(image, clip, x - Bounds.Left, y - Bounds.Top);
}

// ---- Box pictures -----------------------------------------------------------

namespace {

// One rasterizer for every box picture; drawn controls live on the main
// thread, the lock only keeps a stray caller from sharing it mid-picture.
std::mutex GRasterLock;  // guards GRaster and its painting
text::TRasterHelper* GRaster = nullptr;

// A colour of alpha a blended over one pixel as the sharp frame does it.
void BlendInto(uint8_t* p, int32_t bytesPerPixel, uint32_t argb) {
  const uint32_t a = argb >> 24;
  if (a == 0) return;
  const uint8_t b = uint8_t(argb), g = uint8_t(argb >> 8), r = uint8_t(argb >> 16);
  if (a == 255 || (bytesPerPixel == 4 && p[3] == 0)) {
    p[0] = b;
    p[1] = g;
    p[2] = r;
    if (bytesPerPixel == 4) p[3] = uint8_t(a);
    return;
  }
  const uint32_t keep = 255 - a;
  const uint8_t src[3] = {uint8_t(b * a / 255), uint8_t(g * a / 255), uint8_t(r * a / 255)};
  for (int i = 0; i < 3; ++i) p[i] = uint8_t(p[i] * keep / 256 + src[i]);
  if (bytesPerPixel == 4) p[3] = uint8_t(p[3] * keep / 256 + a);
}

imaging::TImage* ToImage(imaging::TBitmap* bitmap) {
  if (imaging::BitmapToImageHook) return imaging::BitmapToImageHook(bitmap, true, u"");
  return imaging::WrapBitmapAsImage(bitmap, true, u"");
}

}  // namespace

TStageView* TBoxGenerator::CreateView(int32_t width, int32_t height) {
  TStageView* view = TStageGenerator::CreateView(width, height);
  view->RectHit = Radius == 0;
  return view;
}

imaging::TImage* TBoxGenerator::Render(int32_t width, int32_t height) {
  if ((FillColor >> 24) == 0 && (FrameColor >> 24) == 0) return nullptr;
  if (width <= 0 || height <= 0) return nullptr;
  const float s = Scale;
  // The sheet's numbers are free text: a frame wider than the picture draws
  // as one that fills it, and one that is no number as none.
  const float limit = float(std::max(width, height));
  const float frameWidth = std::isfinite(FrameWidth) ? std::clamp(FrameWidth, 0.0f, limit) : 0.0f;
  const float radius = std::isfinite(Radius) ? std::min(Radius, limit) : 0.0f;
  if (radius < 0.00001f && frameWidth - std::floor(frameWidth) < 0.01f) {
    const bool alpha = (FillColor >> 24) < 255;
    imaging::TSysBitmap* bitmap =
        imaging::CreateSysBitmap(width, height, alpha ? imaging::pfA8R8G8B8 : imaging::pfR8G8B8);
    const int32_t bpp = bitmap->BytesPerPixel();
    QEL_ASSERT(bpp == 3 || bpp == 4, "Unsupported format");
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* row = bitmap->Row(y);
      for (int32_t x = 0; x < width; ++x) {
        uint8_t* p = row + x * bpp;
        p[0] = uint8_t(FillColor);
        p[1] = uint8_t(FillColor >> 8);
        p[2] = uint8_t(FillColor >> 16);
        if (bpp == 4) p[3] = uint8_t(FillColor >> 24);
      }
    }
    const int32_t t = static_cast<int32_t>(std::clamp(std::nearbyint(frameWidth * s), 0.0f, limit));
    auto strip = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
      x0 = std::max(x0, 0);
      y0 = std::max(y0, 0);
      x1 = std::min(x1, width);
      y1 = std::min(y1, height);
      for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) BlendInto(bitmap->Row(y) + x * bpp, bpp, FrameColor);
    };
    if (t > 0) {
      const int32_t bottom = std::max(height - t, t);
      strip(0, 0, width, t);                      // top
      strip(0, t, t, bottom);                     // left
      strip(std::max(width - t, t), t, width, bottom);  // right
      strip(0, bottom, width, height);            // bottom
    }
    return ToImage(bitmap);
  }

  std::lock_guard<std::mutex> guard(GRasterLock);
  if (!GRaster) GRaster = new text::TRasterHelper();
  GRaster->ResetTransform();
  GRaster->Color = FillColor;
  GRaster->BeginPaintBlank(width, height);
  const float e = frameWidth * 0.5f * s;
  const float x = e, y = e, w = float(width) - 2 * e, h = float(height) - 2 * e;
  text::TPath path;
  if (radius > 0) {
    const float r = std::min(radius * s, (float(height) - frameWidth * s) * 0.5f);
    text::AddRoundRectToPath(path, x, y, w, h, r);
    GRaster->Color = FillColor;
    GRaster->DrawPath(path, false);
    if (frameWidth > 0) {
      GRaster->Color = FrameColor;
      GRaster->StrokePath(path, frameWidth * s, true);
    }
  } else {
    text::AddRectToPath(path, x, y, w, h);
    GRaster->Color = FillColor;
    GRaster->DrawPath(path, false);
    if (frameWidth > 0) {
      text::TPath ring;
      text::AddFrameToPath(ring, x, y, w, h, e);
      GRaster->Color = FrameColor;
      GRaster->DrawPath(ring, false);
    }
  }
  return ToImage(GRaster->EndPaint());
}

void DoneControlStylesUtils() {
  std::lock_guard<std::mutex> guard(GRasterLock);
  if (GRaster) GRaster->Free();
  GRaster = nullptr;
}

}  // namespace controls
