// The window side of a drawn form's surface: refreshes invalidate a margin
// around the drawn area and repaint at once, and a paint message first tries
// to show what the drawer already holds. The window calls go through
// TPaintWindow so the surface does not depend on how a window paints.
#pragma once

#include <cstdint>

#include "imaging/kvFastDIB.h"
#include "render3d/kvDrawForm.h"
#include "render3d/kvSysDevDrawer.h"
#include "windowing/winForms.h"

namespace render3d {

constexpr int32_t RefreshMargin = 32;

// The painting calls of the window system a surface needs.
class TPaintWindow {
 public:
  virtual ~TPaintWindow() = default;
  virtual void InvalidateRect(uintptr_t Window, const TRect& Rect) = 0;
  virtual void UpdateWindow(uintptr_t Window) = 0;
  // Starts a paint pass: the area to paint and the device context.
  virtual void BeginPaint(uintptr_t Window, TRect& PaintRect, uintptr_t& DC) = 0;
  virtual void EndPaint(uintptr_t Window) = 0;
};

class TWinRefreshParams : public TRefreshParams {
 public:
  QEL_CLASSNAME(TWinRefreshParams)
  uintptr_t DC = 0;
};

class TWinDrawSurface : public TDevDrawSurface {
 public:
  QEL_CLASSNAME(TWinDrawSurface)
  TWinDrawSurface(TDevDrawer* Drawer, TPaintWindow* Painter);  // the painter is not owned
  void Dispose() override;
  void Refresh(const TRect& Rect) override;
  // Answers a paint message; always handled.
  bool PaintHandler(uintptr_t Window);
  // The form controller's paint handler (set by the factory entry).
  void HandlePaintMessage(windowing::TWinFormController* Controller, windowing::HWND Wnd,
                          windowing::TWndMessage& Msg, bool& Handled);

  TPaintWindow* Painter = nullptr;
  // The controller whose paint handler this surface is; cleared on Dispose.
  windowing::TWinFormController* Controller = nullptr;
  TWinRefreshParams* RefreshParams = nullptr;
  int32_t RepaintNesting = 0;
};

// The painting calls of the window layer.
TPaintWindow* PlatformPaintWindow();

// The software drawer whose back bitmap is a 24-bit DIB, copied to the
// window with a blit.
class TWinDevDrawer : public TSysDevDrawer {
 public:
  QEL_CLASSNAME(TWinDevDrawer)
  imaging::TSysBitmap* CreateBitmap(int32_t Width, int32_t Height) override;
  bool Present(TRefreshParams* Params) override;
  // The back bitmap as a DIB (null when there is none).
  imaging::TDibBitmap* Dib() const { return dynamic_cast<imaging::TDibBitmap*>(Back); }
};

// The window entry of the surface factory chain: every form on a window of
// the window layer ends with a TWinDrawSurface. Installed in front of the
// entries already there; Remove puts the replaced entry back.
void InstallWinSurfaceFactory();
void RemoveWinSurfaceFactory();

}  // namespace render3d
