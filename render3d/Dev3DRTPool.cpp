#include "render3d/Dev3DRTPool.h"

#include "foundation/kpExceptions.h"
#include "foundation/kvBitUtils.h"
#include "imaging/kvPixelFormat.h"

namespace render3d {

TRenderTargetTexture::TRenderTargetTexture(T3DScreen* screen, TPoint size, bool withAlpha, bool wide)
    : TCustomTexture(screen) {
  Filled = true;
  SetSize(size.X, size.Y);
  Kind = wide ? tkTargetWide : (withAlpha ? tkTargetArgb : tkTargetXrgb);
  Premultiplied = withAlpha;
}

void TRenderTargetTexture::BeforeDestruction() {
  if (Pool && RefCount() == 1) {
    TRenderTargetManager* pool = Pool;
    bool fits = Width == pool->Size.X && Height == pool->Size.Y && Premultiplied == pool->WithAlpha;
    if (fits) {
      _AddRef();  // the pool's reference; the one being freed stays the caller's
      pool->Release(this);
    } else {
      Pool = nullptr;  // a target of a size the pool no longer has is freed
    }
  }
  TCustomTexture::BeforeDestruction();
}

TRenderTargetManager::TRenderTargetManager(bool withAlpha, bool wide) : WithAlpha(withAlpha), Wide(wide) {}

void TRenderTargetManager::Dispose() {
  Clear();
  TRefObject::Dispose();
}

void TRenderTargetManager::Clear() {
  std::vector<TRenderTargetTexture*> idle;
  idle.swap(FreeTargets);
  for (auto* t : idle) t->Free();
}

void TRenderTargetManager::SetSize(int32_t width, int32_t height) {
  TPoint s{foundation::NextPowerOfTwo(width), foundation::NextPowerOfTwo(height)};
  if (s.X != Size.X || s.Y != Size.Y) Clear();
  Size = s;
}

TRenderTargetTexture* TRenderTargetManager::Get(T3DScreen* screen) {
  TRenderTargetTexture* t;
  if (!FreeTargets.empty()) {
    t = FreeTargets.back();
    FreeTargets.pop_back();
  } else {
    t = new TRenderTargetTexture(screen, Size, WithAlpha, Wide);
  }
  t->Pool = this;
  t->GetTexture();
  return t;
}

void TRenderTargetManager::Release(TRenderTargetTexture* target) {
  if (!target) return;
  QEL_ASSERT(target->Width == Size.X && target->Height == Size.Y, "Dev3DRTPool");
  QEL_ASSERT(target->Premultiplied == WithAlpha, "Dev3DRTPool");
  FreeTargets.push_back(target);
  target->Pool = nullptr;
}

void TBoxAntiTexture::Paint(imaging::TSysBitmap* bitmap) {
  if (Bitmap) bitmap->CopyRect({0, 0, Bitmap->Width, Bitmap->Height}, Bitmap, {0, 0}, 0);
}

TBoxAntialiaser::TBoxAntialiaser(T3DScreen* screen) {
  Bitmap = TRef<imaging::TSysBitmap>::Adopt(
      imaging::CreateSysBitmap(256, 256, imaging::PixelFormatByName(u"A8R8G8B8")));
  Bitmap->FillRect({0, 0, 256, 256}, 0xFFFFFFFF);
  Texture = MakeRef<TBoxAntiTexture>(screen);
  Texture->Bitmap = Bitmap.Get();
  Texture->SetSize(256, 256);
  Texture->GetTexture();
}

void TBoxAntialiaser::Dispose() {
  Texture.Reset();
  Bitmap.Reset();
  TRefObject::Dispose();
}

void TBoxAntialiaser::Draw(T3DPoint corner, T3DPoint camera, T3DPoint x, T3DPoint y, uint32_t cTL, uint32_t cTR,
                           uint32_t cBL, uint32_t cBR, uint8_t edgeMask) {
  T3DScreen* screen = Texture->Screen;
  if (!screen) return;
  T3DPoint u{x.X / 256, x.Y / 256, x.Z / 256}, v{y.X / 256, y.Y / 256, y.Z / 256};
  TAffineFrame3D plane;
  foundation::InitAffineFrame3D(plane, corner, u, v, foundation::CrossVectors3D(u, v));
  T3DScreen::TEdgeMesh mesh;
  screen->BuildEdgeMesh(mesh, plane, {0, 0}, camera, {0, 0, 256, 256}, edgeMask);
  TCustomTexture* t[1] = {Texture.Get()};
  screen->DrawEdgeMesh(t, mesh, cTL, cTR, cBL, cBR, 15);
}

}  // namespace render3d
