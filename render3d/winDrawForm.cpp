#include "render3d/winDrawForm.h"

namespace render3d {

TWinDrawSurface::TWinDrawSurface(TDevDrawer* aDrawer, TPaintWindow* aPainter)
    : TDevDrawSurface(aDrawer), Painter(aPainter), RefreshParams(new TWinRefreshParams) {}

void TWinDrawSurface::Dispose() {
  if (RefreshParams) RefreshParams->Free();
  RefreshParams = nullptr;
  TDevDrawSurface::Dispose();
}

void TWinDrawSurface::Refresh(const TRect& Rect) {
  if (DrawRectEmpty(Rect) || !Drawer || !Painter) return;
  // A margin around the drawn area so antialiased edges just outside it are
  // shown as well.
  TRect r{Rect.Left - RefreshMargin, Rect.Top - RefreshMargin, Rect.Right + RefreshMargin,
          Rect.Bottom + RefreshMargin};
  r = DrawRectIntersect(r, TRect{0, 0, Drawer->Width, Drawer->Height});
  if (DrawRectEmpty(r)) return;
  r = DrawRectOffset(r, Drawer->Origin.X, Drawer->Origin.Y);
  Painter->InvalidateRect(Drawer->Window, r);
  Painter->UpdateWindow(Drawer->Window);
}

bool TWinDrawSurface::PaintHandler(uintptr_t Window) {
  if (!Painter) return false;
  TRect paint;
  uintptr_t dc = 0;
  Painter->BeginPaint(Window, paint, dc);
  RefreshParams->DC = dc;
  const TRect area = Drawer ? Drawer->GetBounds() : TRect{};
  if (DrawRectEmpty(paint)) paint = area;
  const TRect r = DrawRectIntersect(area, paint);
  try {
    if (!DrawRectEmpty(r)) {
      RefreshParams->Window = Window;
      RefreshParams->Rect = r;
      // Show what the drawer already has; draw again only when that fails.
      if (!Drawer->Present(RefreshParams) && RepaintNesting == 0) {
        ++RepaintNesting;
        try {
          Paint(r);
        } catch (...) {
          --RepaintNesting;
          throw;
        }
        --RepaintNesting;
      }
    }
  } catch (...) {
    RefreshParams->DC = 0;
    Painter->EndPaint(Window);
    throw;
  }
  RefreshParams->DC = 0;
  Painter->EndPaint(Window);
  return true;
}

}  // namespace render3d
