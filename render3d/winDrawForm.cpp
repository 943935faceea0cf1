#include "render3d/winDrawForm.h"

#include <unordered_map>
#include <vector>

#include "foundation/kpThreads2.h"
#include "platform/window/api.h"
#include "render3d/OnExit.h"

namespace render3d {

TWinDrawSurface::TWinDrawSurface(TDevDrawer* aDrawer, TPaintWindow* aPainter)
    : TDevDrawSurface(aDrawer), Painter(aPainter), RefreshParams(new TWinRefreshParams) {}

void TWinDrawSurface::Dispose() {
  if (Controller && Controller->PaintHandler == foundation::MethodOf<&TWinDrawSurface::HandlePaintMessage>(this))
    Controller->PaintHandler = {};
  Controller = nullptr;
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
        const TOnExit leave([this] { --RepaintNesting; });
        Paint(r);
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

void TWinDrawSurface::HandlePaintMessage(windowing::TWinFormController*, windowing::HWND Wnd,
                                         windowing::TWndMessage& Msg, bool& Handled) {
  PaintHandler(Wnd);
  Msg.Result = 0;
  Handled = true;
}

// ---- the window layer's painting calls ----

namespace {

namespace pw = platform::window;

class TPlatformPaintWindow : public TPaintWindow {
 public:
  void InvalidateRect(uintptr_t Window, const TRect& R) override {
    const pw::Rect r{R.Left, R.Top, R.Right, R.Bottom};
    pw::invalidateRect(Window, &r, false);
  }
  void UpdateWindow(uintptr_t Window) override { pw::updateWindow(Window); }
  void BeginPaint(uintptr_t Window, TRect& PaintRect, uintptr_t& DC) override {
    pw::PaintStruct ps;
    DC = pw::beginPaint(Window, ps);
    PaintRect = TRect{ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom};
    Open[Window].push_back(ps);  // a paint message may arrive inside a repaint
  }
  void EndPaint(uintptr_t Window) override {
    auto it = Open.find(Window);
    if (it == Open.end() || it->second.empty()) return;
    const pw::PaintStruct ps = it->second.back();
    it->second.pop_back();
    if (it->second.empty()) Open.erase(it);
    pw::endPaint(Window, ps);
  }

 private:
  std::unordered_map<uintptr_t, std::vector<pw::PaintStruct>> Open;
};

TSurfaceFactory g_previous = nullptr;
bool g_installed = false;

bool WinSurfaceEntry(TDrawForm* Form, bool Accelerated) {
  bool earlier = false;
  if (!Form->Surface && g_previous) earlier = g_previous(Form, Accelerated);
  auto* controller = dynamic_cast<windowing::TWinFormController*>(Form->Controller());
  if (!controller || dynamic_cast<TWinDrawSurface*>(Form->Surface)) return earlier;
  // Keep the drawer an earlier entry made (the 3D one); otherwise draw in
  // software.
  TDevDrawSurface* old = Form->Surface;
  TDevDrawer* drawer = old ? old->Drawer : nullptr;
  if (old) old->Drawer = nullptr;
  if (!drawer) drawer = new TWinDevDrawer;
  Form->SetSurface(nullptr);
  if (old) old->Free();
  auto* surface = new TWinDrawSurface(drawer, PlatformPaintWindow());
  surface->Controller = controller;
  controller->PaintHandler = foundation::MethodOf<&TWinDrawSurface::HandlePaintMessage>(surface);
  Form->SetSurface(surface);
  return true;
}

}  // namespace

TPaintWindow* PlatformPaintWindow() {
  static TPlatformPaintWindow* painter = new TPlatformPaintWindow;  // GUI thread only; lives with the process
  return painter;
}

imaging::TSysBitmap* TWinDevDrawer::CreateBitmap(int32_t W, int32_t H) { return imaging::CreateDibBitmap(W, H, 24); }

bool TWinDevDrawer::Present(TRefreshParams* Params) {
  imaging::TDibBitmap* dib = Dib();
  if (!Params || Params->Window != Window || !dib || !dib->DIB) return false;
  pw::HDC dc = 0;
  bool fetched = false;
  auto* win = dynamic_cast<TWinRefreshParams*>(Params);
  if (win && win->DC) {
    dc = win->DC;
  } else {
    // Window 0 would be the measuring screen DC, which has no pixels.
    dc = Window ? pw::getDC(Window) : 0;
    if (!dc) return false;
    fetched = true;
  }
  const TRect& r = Params->Rect;
  dib->DIB->Draw(dc, r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top, r.Left - Origin.X, r.Top - Origin.Y);
  if (fetched) pw::releaseDC(Window, dc);
  return true;
}

void InstallWinSurfaceFactory() {
  if (g_installed) return;
  g_previous = SetSurfaceFactory(&WinSurfaceEntry);
  g_installed = true;
}

void RemoveWinSurfaceFactory() {
  // Only the entry in front can step back without dropping later ones.
  if (!g_installed || GetSurfaceFactory() != &WinSurfaceEntry) return;
  SetSurfaceFactory(g_previous);
  g_previous = nullptr;
  g_installed = false;
}

}  // namespace render3d
