#include "render3d/Dev3DDrawForm.h"

#include <cmath>

#include "foundation/kpExceptions.h"

namespace render3d {

namespace {

bool SameRect(const TRect& A, const TRect& B) {
  return A.Left == B.Left && A.Top == B.Top && A.Right == B.Right && A.Bottom == B.Bottom;
}

TSurfaceFactory g_previous = nullptr;
bool g_installed = false;

bool Dev3DSurfaceEntry(TDrawForm* Form, bool Accelerated) {
  bool made = false;
  if (Accelerated && IsHardwareAccelerated()) {
    auto* drawer = new TDev3DDrawer(new TDrawDevice2(Form));
    TDevDrawSurface* old = Form->Surface;
    Form->SetSurface(new TDevDrawSurface(drawer));
    if (old) old->Free();
    made = true;
  }
  if (g_previous) made = g_previous(Form, Accelerated);
  // Nothing else could draw the form: try the 3D layer after all (once).
  if (!made && !Accelerated) return Dev3DSurfaceEntry(Form, true);
  return made;
}

}  // namespace

TDrawDevice2::TDrawDevice2(TDrawForm* aForm)
    : TDrawDevice(static_cast<uint32_t>(aForm->Controller()->GetHandle())), Form(aForm) {}

TDev3DDrawer::TDev3DDrawer(TDrawDevice2* aDevice) : Device(TRef<TDrawDevice2>::Adopt(aDevice)) {
  QEL_ASSERT(aDevice != nullptr, u"TDev3DDrawer: no device");
  Screen = MakeRef<T3DScreen>();
  Screen->AssignDevice(Device.Get());  // makes the window's renderer
}

void TDev3DDrawer::Dispose() {
  TexManager.Reset();
  Screen.Reset();
  Device.Reset();
  TDevDrawer::Dispose();
}

void TDev3DDrawer::SetBounds(uintptr_t aWindow, const TRect& Rect) {
  TDevDrawer::SetBounds(aWindow, Rect);
  Device->Handle = aWindow;
  const TPoint pos = Device->Form ? Device->Form->ClientToScreen(TPoint{Rect.Left, Rect.Top}) : TPoint{};
  Device->SetBounds(Rect, pos, false);
}

void TDev3DDrawer::BeginPaint() {
  Screen->BeginScene();
  ViewRect = TRect{};
  SetFullView();
}

void TDev3DDrawer::EndPaint(TRect& Rect) {
  Screen->EndScene(false);
  TDevDrawer::EndPaint(Rect);
}

bool TDev3DDrawer::Present(TRefreshParams* Params) { return Params && Screen->Present(Params->Rect); }

void TDev3DDrawer::SetView(const TRect& Rect) {
  if (SameRect(Rect, ViewRect) || (DrawRectEmpty(Rect) && DrawRectEmpty(ViewRect))) return;
  ViewRect = DrawRectIntersect(Rect, TRect{0, 0, Width, Height});
  if (DrawRectEmpty(ViewRect)) {
    ViewRect = TRect{};
    return;
  }
  const float w = float(ViewRect.Right - ViewRect.Left), h = float(ViewRect.Bottom - ViewRect.Top);
  TViewState v;
  v.Viewport = ViewRect;
  v.Area = TFloatRect{0, 0, w, h};
  v.Scale = TFloatPoint{w, h};
  v.Origin = TFloatPoint{0, 0};
  v.OffsetX = v.OffsetY = 0;
  Screen->SetViewState(v);
}

void TDev3DDrawer::FillRect(const TRect& Rect, uint32_t Color) {
  const uint32_t alpha = Color >> 24;
  if (alpha == 0) return;
  if (!DrawRectInside(Rect, ViewRect)) SetFullView();
  if (alpha == 255 && Rect.Left <= 0 && Rect.Top <= 0 && Rect.Right >= Width && Rect.Bottom >= Height) {
    Screen->FillRect(Color, Rect);
    return;
  }
  const float l = float(Rect.Left), t = float(Rect.Top), r = float(Rect.Right), b = float(Rect.Bottom);
  Screen->DrawColorQuad({l, t, 0}, {r, t, 0}, {l, b, 0}, {r, b, 0}, Color, Color, Color, Color);
}

TTextureManager6* TDev3DDrawer::GetTextureManager() {
  if (!TexManager) TexManager = MakeRef<TTextureManager6>(Screen.Get());
  return TexManager.Get();
}

void TDev3DDrawer::DrawImage(imaging::TImage* Image, const TRect& Clip, TSurfaceTransform& T) {
  if (!Image) return;
  if (!SameRect(Clip, ViewRect)) SetView(Clip);
  // An empty view keeps the previous viewport on the device: draw nothing.
  if (DrawRectEmpty(ViewRect) || !Screen->CanDraw()) return;
  TImageTexStore* store = GetImageTexStore(Image);
  if (!store) return;
  TImageTex* tex = GetImageTex(store, GetTextureManager(), Image);
  if (!tex) return;
  tex->Alpha = int32_t(std::nearbyint(double(T.Opacity) * 255.0));
  tex->PointFilter = T.PointFilter != 0;
  tex->Mipmapped = true;
  tex->EdgeAntialiasing = false;
  tex->Tinted = false;
  const float cw = float(Clip.Right - Clip.Left), ch = float(Clip.Bottom - Clip.Top);
  tex->DrawTransformed({T.OriginX, T.OriginY, 0}, {0, 0}, {cw / 2, ch / 2, -ch}, T.XAxis, T.YAxis);
}

void InstallDev3DSurfaceFactory() {
  if (g_installed) return;
  g_previous = SetSurfaceFactory(&Dev3DSurfaceEntry);
  g_installed = true;
}

void RemoveDev3DSurfaceFactory() {
  // Only the entry in front can step back without dropping later ones.
  if (!g_installed || GetSurfaceFactory() != &Dev3DSurfaceEntry) return;
  SetSurfaceFactory(g_previous);
  g_previous = nullptr;
  g_installed = false;
}

}  // namespace render3d
