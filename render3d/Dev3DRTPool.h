// The render-target pool (targets of one size and kind handed out and taken
// back, last in first out) and the box antialiaser (a filled box whose
// flagged edges fade out over one screen pixel, drawn through the edge mesh
// with a small all-white texture).
#pragma once

#include "render3d/Dev3DScreen.h"

namespace render3d {

class TRenderTargetManager;

class TRenderTargetTexture : public TCustomTexture {
 public:
  QEL_CLASSNAME(TRenderTargetTexture)
  TRenderTargetTexture(T3DScreen* screen, TPoint size, bool withAlpha, bool wide);
  // Freeing the last reference of a target that is out of its pool puts it
  // back into the pool instead.
  void BeforeDestruction() override;
  TRenderTargetManager* Pool = nullptr;
};

class TRenderTargetManager : public TRefObject {
 public:
  QEL_CLASSNAME(TRenderTargetManager)
  TRenderTargetManager(bool withAlpha, bool wide);
  void Dispose() override;
  // Sizes are rounded up to powers of two; a new size frees the idle targets.
  void SetSize(int32_t width, int32_t height);
  // A target with its device texture made (when the device allows); the
  // caller owns one reference, which Release or Free hands back.
  TRenderTargetTexture* Get(T3DScreen* screen);
  using foundation::TRefObject::Release;
  void Release(TRenderTargetTexture* target);
  void Clear();
  int32_t IdleCount() const { return static_cast<int32_t>(FreeTargets.size()); }

  std::vector<TRenderTargetTexture*> FreeTargets;  // owned
  TPoint Size;
  bool WithAlpha = false;
  bool Wide = false;
};

class TBoxAntiTexture : public TCustomTexture {
 public:
  QEL_CLASSNAME(TBoxAntiTexture)
  using TCustomTexture::TCustomTexture;
  void Paint(imaging::TSysBitmap* bitmap) override;
  imaging::TSysBitmap* Bitmap = nullptr;  // not owned
};

class TBoxAntialiaser : public TRefObject {
 public:
  QEL_CLASSNAME(TBoxAntialiaser)
  explicit TBoxAntialiaser(T3DScreen* screen);
  void Dispose() override;
  // corner: the box's top-left corner; x, y: its full width and height
  // vectors; colours top-left, top-right, bottom-left, bottom-right; edge
  // mask 1 left, 2 top, 4 right, 8 bottom.
  void Draw(T3DPoint corner, T3DPoint camera, T3DPoint x, T3DPoint y, uint32_t cTL, uint32_t cTR, uint32_t cBL,
            uint32_t cBR, uint8_t edgeMask);

  TRef<imaging::TSysBitmap> Bitmap;
  TRef<TBoxAntiTexture> Texture;
};

}  // namespace render3d
