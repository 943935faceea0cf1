// The Direct3D back end of drawn forms: a drawer that owns a screen bound to
// the form's window, draws fills as coloured quads (or clears) and images as
// tiled textures, and presents through the screen. Its factory entry gives
// accelerated forms this drawer when the 3D layer answers that it is usable.
// GUI thread only.
#pragma once

#include <cstdint>

#include "render3d/Dev3DScreen.h"
#include "render3d/Dev3DTiles.h"
#include "render3d/kvDrawForm.h"

namespace render3d {

// The form's window as a draw device.
class TDrawDevice2 : public TDrawDevice {
 public:
  QEL_CLASSNAME(TDrawDevice2)
  explicit TDrawDevice2(TDrawForm* Form);  // the form's window is made on demand
  TDrawForm* Form = nullptr;               // not owned
};

class TDev3DDrawer : public TDevDrawer {
 public:
  QEL_CLASSNAME(TDev3DDrawer)
  explicit TDev3DDrawer(TDrawDevice2* Device);  // takes the device over
  void Dispose() override;

  bool IsAccelerated() override { return true; }
  void SetBounds(uintptr_t Window, const TRect& Rect) override;
  void BeginPaint() override;
  void FillRect(const TRect& Rect, uint32_t Color) override;
  void DrawImage(imaging::TImage* Image, const TRect& Clip, TSurfaceTransform& Transform) override;
  void EndPaint(TRect& Rect) override;
  bool Present(TRefreshParams* Params) override;

  // One world unit per pixel with the world origin at the viewport's
  // top-left; the viewport is the rectangle clipped to the drawer.
  void SetView(const TRect& Rect);
  void SetFullView() { SetView(TRect{0, 0, Width, Height}); }
  TTextureManager6* GetTextureManager();

  TRef<TDrawDevice2> Device;
  TRef<T3DScreen> Screen;
  TRef<TTextureManager6> TexManager;  // made on first image
  TRect ViewRect;
};

// The Direct3D entry of the surface factory chain, installed in front of the
// entries already there; Remove puts the replaced entry back.
void InstallDev3DSurfaceFactory();
void RemoveDev3DSurfaceFactory();

}  // namespace render3d
