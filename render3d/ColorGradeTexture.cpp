#include "render3d/ColorGradeTexture.h"

#include <atomic>
#include <cstring>

#include "imaging/ColorGradeGenerator.h"

namespace render3d {

namespace {
std::atomic<TFilterChainApplier> g_applier{nullptr};

void ApplyFilters(TRefObject* first, imaging::TSysBitmap* b, int32_t w, int32_t rows) {
  if (TFilterChainApplier f = g_applier.load(); f && first) f(first, b, w, rows);
}
}  // namespace

void SetFilterChainApplier(TFilterChainApplier applier) { g_applier.store(applier); }
TFilterChainApplier GetFilterChainApplier() { return g_applier.load(); }

TCustomColorGradeTexture::TCustomColorGradeTexture(T3DScreen* screen, uint8_t mode)
    : TCustomColoringTexture(screen), Mode(mode) {}

void TCustomColorGradeTexture::Dispose() {
  if (OwnsBitmap && Bitmap) Bitmap->Free();
  Bitmap = nullptr;
  TCustomColoringTexture::Dispose();
}

void TCustomColorGradeTexture::SetSource(TRefObject* filters) {
  Filters = filters;
  FreeTexture();
  GetTexture();
}

void TCustomColorGradeTexture::SetBitmap(imaging::TSysBitmap* bitmap, bool owns) {
  if (OwnsBitmap && Bitmap && Bitmap != bitmap) Bitmap->Free();
  Bitmap = bitmap;
  OwnsBitmap = owns;
}

TBaseTexture* TCustomColorGradeTexture::GetTexture() {
  if (Texture || !Screen || !Screen->IsReady()) return Texture;
  T3DRenderer* r = Screen->Renderer;
  if (Mode == 1) {
    TVolumeTexture* v = r->CreateVolumeTexture(32, 32, 32);
    if (!v) return nullptr;
    Texture = v;
    imaging::TBitmap* view = v->Lock(0, 0, 0, 0, 32, 32, 32);
    if (auto* b = static_cast<imaging::TSysBitmap*>(view)) {
      const TOnExit unlock([&] { v->Unlock(0, view); });
      if (Bitmap)
        b->CopyFrom(Bitmap);
      else
        imaging::FillIdentityColorLUT(b);
      ApplyFilters(Filters, b, b->Width, b->Height);
    }
  } else {
    T3DTexture* t = r->CreateTexture(tkArgb, 256, 16, false);
    if (!t) return nullptr;
    Texture = t;
    T3DSurface* s = t->GetSurface(0);
    imaging::TBitmap* view = s ? s->Lock({0, 0, 256, 16}, false) : nullptr;
    if (auto* b = static_cast<imaging::TSysBitmap*>(view)) {
      const TOnExit unlock([&] { s->Unlock(view); });
      if (Bitmap)
        b->CopyFrom(Bitmap);
      else
        imaging::FillIdentityRamp(b);
      // The grade reaches every row, not only the first: the ramp is
      // sampled on all of them.
      if (Filters && g_applier.load()) {
        ApplyFilters(Filters, b, 256, 1);
        for (int32_t y = 1; y < b->Height; ++y) std::memcpy(b->Row(y), b->Row(0), 256 * 4);
      }
    }
  }
  Texture->OnRelease = [this] { FreeTexture(); };
  return Texture;
}

}  // namespace render3d
