// The window side of a drawn form's surface: refreshes invalidate a margin
// around the drawn area and repaint at once, and a paint message first tries
// to show what the drawer already holds. The window calls go through
// TPaintWindow so the surface does not depend on how a window paints.
#pragma once

#include <cstdint>

#include "render3d/kvDrawForm.h"

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

  TPaintWindow* Painter = nullptr;
  TWinRefreshParams* RefreshParams = nullptr;
  int32_t RepaintNesting = 0;
};

}  // namespace render3d
