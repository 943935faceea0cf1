#include "render3d/kvDrawForm.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>

#include "foundation/kpExceptions.h"
#include "render3d/OnExit.h"
#include "render3d/kvImageText.h"
#include "text/kvTextServices.h"
#include "windowing/kvApplication.h"
#include "windowing/kvForms.h"

namespace render3d {

bool DrawRectEmpty(const TRect& R) { return R.Right <= R.Left || R.Bottom <= R.Top; }

TRect DrawRectIntersect(const TRect& A, const TRect& B) {
  TRect r{std::max(A.Left, B.Left), std::max(A.Top, B.Top), std::min(A.Right, B.Right), std::min(A.Bottom, B.Bottom)};
  if (DrawRectEmpty(r)) return TRect{};
  return r;
}

TRect DrawRectUnion(const TRect& A, const TRect& B) {
  if (DrawRectEmpty(A)) return B;
  if (DrawRectEmpty(B)) return A;
  return TRect{std::min(A.Left, B.Left), std::min(A.Top, B.Top), std::max(A.Right, B.Right),
               std::max(A.Bottom, B.Bottom)};
}

TRect DrawRectOffset(const TRect& R, int32_t DX, int32_t DY) {
  return TRect{R.Left + DX, R.Top + DY, R.Right + DX, R.Bottom + DY};
}

bool DrawRectInside(const TRect& Inner, const TRect& Outer) {
  return Inner.Left >= Outer.Left && Inner.Top >= Outer.Top && Inner.Right <= Outer.Right &&
         Inner.Bottom <= Outer.Bottom;
}

bool DrawRectsMeet(const TRect& A, const TRect& B) { return !DrawRectEmpty(DrawRectIntersect(A, B)); }

// ---- transforms ----

void InitSurfaceTransform(TSurfaceTransform& T) { T = TSurfaceTransform{}; }

void FreeSurfaceTransformCache(TSurfaceTransform& T) {
  if (T.Cached) T.Cached->Free();
  T.Cached = nullptr;
}

void OffsetSurfaceTransform(TSurfaceTransform& T, float DX, float DY) {
  T.OriginX += DX;
  T.OriginY += DY;
}

void SetSurfaceTransformAxes(TSurfaceTransform& T, foundation::TFlatVector X, foundation::TFlatVector Y) {
  constexpr float eps = 0.000001f;
  T.XAxis = X;
  T.YAxis = Y;
  if (std::fabs(X.Y) < eps && std::fabs(Y.X) < eps)
    T.Kind = (std::fabs(X.X - 1) < eps && std::fabs(Y.Y - 1) < eps) ? 0 : 1;
  else
    T.Kind = 2;
}

void ResetSurfaceTransformAxes(TSurfaceTransform& T) {
  T.XAxis = {1, 0};
  T.YAxis = {0, 1};
  T.Kind = 0;
}

TRect GetTransformedBounds(const TSurfaceTransform& T, int32_t W, int32_t H) {
  const double ox = T.OriginX, oy = T.OriginY;
  double x0, y0, x1, y1;
  if (T.Kind == 0) {
    x0 = ox;
    y0 = oy;
    x1 = ox + W;
    y1 = oy + H;
  } else if (T.Kind == 1) {
    const double ex = ox + double(W) * T.XAxis.X, ey = oy + double(H) * T.YAxis.Y;
    x0 = std::min(ox, ex);
    x1 = std::max(ox, ex);
    y0 = std::min(oy, ey);
    y1 = std::max(oy, ey);
  } else {
    const double xs[4] = {ox, ox + W * double(T.XAxis.X), ox + H * double(T.YAxis.X),
                          ox + W * double(T.XAxis.X) + H * double(T.YAxis.X)};
    const double ys[4] = {oy, oy + W * double(T.XAxis.Y), oy + H * double(T.YAxis.Y),
                          oy + W * double(T.XAxis.Y) + H * double(T.YAxis.Y)};
    x0 = *std::min_element(xs, xs + 4);
    x1 = *std::max_element(xs, xs + 4);
    y0 = *std::min_element(ys, ys + 4);
    y1 = *std::max_element(ys, ys + 4);
  }
  return TRect{int32_t(std::floor(x0)), int32_t(std::floor(y0)), int32_t(std::ceil(x1)), int32_t(std::ceil(y1))};
}

// ---- drawer ----

void TDevDrawer::SetBounds(uintptr_t aWindow, const TRect& Rect) {
  Window = aWindow;
  Origin = TPoint{Rect.Left, Rect.Top};
  Width = Rect.Right - Rect.Left;
  Height = Rect.Bottom - Rect.Top;
}

TRect TDevDrawer::GetBounds() const { return TRect{Origin.X, Origin.Y, Origin.X + Width, Origin.Y + Height}; }

void TDevDrawer::AddDirtyRect(const TRect& Rect) {
  if (DrawRectEmpty(Rect)) return;
  Dirty = DrawRectEmpty(Dirty) ? Rect : DrawRectUnion(Dirty, Rect);
}

void TDevDrawer::EndPaint(TRect& Rect) {
  Rect = Dirty;
  Dirty = TRect{};
}

// ---- surfaces ----

void TDrawSurface::DrawTiled(const TRect& Rect, imaging::TImage* Image, const TPoint& Start) {
  if (!Image) return;
  const int32_t w = Image->Params.Width, h = Image->Params.Height;
  if (w <= 0 || h <= 0) return;
  // Division truncates toward zero, so a rectangle left of the start point
  // begins its tiles at the start point's column.
  const int32_t y0 = Start.Y + h * ((Rect.Top - Start.Y) / h);
  const int32_t x0 = Start.X + w * ((Rect.Left - Start.X) / w);
  for (int32_t y = y0; y < Rect.Bottom; y += h)
    for (int32_t x = x0; x < Rect.Right; x += w) DrawImageAt(Image, Rect, x, y);
}

bool IsDarkColor(text::TFColor C) { return (int32_t(C.R) * 299 + int32_t(C.G) * 587 + int32_t(C.B) * 114) < 128000; }

TDevDrawSurface::TDevDrawSurface(TDevDrawer* aDrawer) : Drawer(aDrawer) {
  if (text::TFontUtils* fu = text::FontUtils())
    fu->GetDefaultFont(DefaultFont);
  else
    text::InitFontParams(DefaultFont, u"Arial", 9, 0, text::MakeFColor(0, 0, 0), text::MakeFColor(255, 255, 255),
                         true);
  DefaultFont.Transparent = true;
  // The text colour always contrasts with the form colour.
  windowing::TFormColor form;
  windowing::GetDefaultFormColor(form);
  if (IsDarkColor(text::MakeFColor(form.R, form.G, form.B)) == IsDarkColor(DefaultFont.Color))
    std::swap(DefaultFont.Color, DefaultFont.BgColor);
  InitSurfaceTransform(Transform);
}

void TDevDrawSurface::Dispose() {
  FreeSurfaceTransformCache(Transform);
  if (Drawer) Drawer->Free();
  Drawer = nullptr;
  TDrawSurfaceEx::Dispose();
}

bool TDevDrawSurface::GetVisibleRect(TRect& Rect) {
  const TRect dirty = Drawer ? Drawer->Dirty : TRect{};
  Rect = DrawRectIntersect(ClipRect, dirty);
  if (DrawRectEmpty(Rect)) {
    Rect = TRect{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    return false;
  }
  return true;
}

TRect TDevDrawSurface::ClipTransformed(const TRect& Rect) {
  TRect visible;
  if (!GetVisibleRect(visible)) return TRect{};
  return DrawRectIntersect(visible, DrawRectOffset(Rect, Origin.X, Origin.Y));
}

bool TDevDrawSurface::IsVisible(const TRect& Rect) {
  TRect visible;
  if (!GetVisibleRect(visible)) return false;
  return DrawRectsMeet(DrawRectOffset(Rect, Origin.X, Origin.Y), visible);
}

void TDevDrawSurface::FillRect(const TRect& Rect, uint32_t Color) {
  const TRect r = ClipTransformed(Rect);
  if (!DrawRectEmpty(r) && Drawer) Drawer->FillRect(r, Color);
}

void TDevDrawSurface::DrawImageAt(imaging::TImage* Image, const TRect& Clip, int32_t X, int32_t Y) {
  if (!Image) return;
  Transform.OriginX = float(X);
  Transform.OriginY = float(Y);
  DrawImageClipped(Image, Clip, Transform);
}

void TDevDrawSurface::DrawImageTransformed(imaging::TImage* Image, const TRect& Clip, TSurfaceTransform& T) {
  if (!Image) return;
  DrawImageClipped(Image, Clip, T);
}

void TDevDrawSurface::DrawImageClipped(imaging::TImage* Image, const TRect& Clip, TSurfaceTransform& T) {
  if (!Drawer) return;
  const TRect bounds = GetTransformedBounds(T, Image->Params.Width, Image->Params.Height);
  TRect target;
  if (DrawRectInside(bounds, Clip))
    GetVisibleRect(target);
  else
    target = ClipTransformed(Clip);
  if (DrawRectEmpty(target)) return;
  OffsetSurfaceTransform(T, float(Origin.X), float(Origin.Y));
  const TOnExit back([&] { OffsetSurfaceTransform(T, float(-Origin.X), float(-Origin.Y)); });
  if (DrawRectsMeet(DrawRectOffset(bounds, Origin.X, Origin.Y), target)) Drawer->DrawImage(Image, target, T);
}

void TDevDrawSurface::DrawText(text::TTextElement* Element, const TPoint& Position, const TRect& Clip) {
  TRect visible;
  if (!GetVisibleRect(visible)) return;
  if (!Element) return;
  auto* e = dynamic_cast<TImageTextElement*>(Element);
  if (!e) foundation::QelAssertFail(std::string("Wrong TextElement type: ") + Element->ClassName());
  if (!Drawer) return;
  TSurfaceTransform t = Transform;
  t.Cached = nullptr;  // the copy must not share (and free) the surface's cached object
  for (int32_t i = 0; i < e->PieceCount(); ++i) {
    TPoint offset;
    imaging::TImage* image = e->GetPiece(i, offset);
    if (!image) continue;
    TRect r{Position.X, Position.Y, Position.X + image->Params.Width, Position.Y + image->Params.Height};
    r = DrawRectOffset(r, offset.X, offset.Y);
    if (i == 0 && !DrawRectInside(r, Clip)) {
      visible = DrawRectIntersect(visible, DrawRectOffset(Clip, Origin.X, Origin.Y));
      if (DrawRectEmpty(visible)) break;
    }
    r = DrawRectOffset(r, Origin.X, Origin.Y);
    t.OriginX = float(Origin.X + Position.X + offset.X);
    t.OriginY = float(Origin.Y + Position.Y + offset.Y);
    if (DrawRectsMeet(r, visible)) Drawer->DrawImage(image, visible, t);
  }
  FreeSurfaceTransformCache(t);
}

void TDevDrawSurface::MeasureText(text::TTextFontMetrics& Metrics, const text::TFontParams& Font) {
  MeasureImageText(Metrics, Font);
}

text::TTextElement* TDevDrawSurface::CreateTextElement(const std::u16string& Text, int32_t Start, int32_t Count,
                                                       const text::TFontParams& Font, int32_t Flags) {
  return CreateImageTextElement(Text, Start, Count, Font, Flags);
}

void TDevDrawSurface::SetBounds(uintptr_t Window, const TRect& Rect) {
  if (Drawer) Drawer->SetBounds(Window, Rect);
}

void TDevDrawSurface::InvalidateRect(const TRect& Rect) {
  if (!Drawer) return;
  const TRect r = DrawRectIntersect(Rect, TRect{0, 0, Drawer->Width, Drawer->Height});
  if (!DrawRectEmpty(r)) Drawer->AddDirtyRect(r);
}

void TDevDrawSurface::Refresh(const TRect& Rect) {
  if (DrawRectEmpty(Rect) || !Drawer) return;
  const auto p = foundation::MakeRef<TRefreshParams>();
  p->Window = Drawer->Window;
  p->Rect = Rect;
  Drawer->Present(p.Get());
}

void TDevDrawSurface::Paint(const TRect& Rect) {
  if (!Drawer) return;
  Origin = TPoint{0, 0};
  ClipRect = TRect{0, 0, Drawer->Width, Drawer->Height};
  TRect dirty;
  try {
    Drawer->BeginPaint();
    if (!DrawRectEmpty(Rect)) InvalidateRect(Rect);
    if (PaintCallback) PaintCallback(this);
  } catch (...) {
    Drawer->EndPaint(dirty);
    ClipRect = TRect{};
    Refresh(dirty);
    throw;
  }
  Drawer->EndPaint(dirty);
  ClipRect = TRect{};
  Refresh(dirty);
}

// ---- drawn forms ----

namespace {
TSurfaceFactory g_surfaceFactory = nullptr;
}

TSurfaceFactory GetSurfaceFactory() { return g_surfaceFactory; }

TSurfaceFactory SetSurfaceFactory(TSurfaceFactory Factory) {
  TSurfaceFactory previous = g_surfaceFactory;
  g_surfaceFactory = Factory;
  return previous;
}

TDrawForm::TDrawForm(bool Accelerated, TControllerFactory Factory) : TKvForm(Factory) {
  if (g_surfaceFactory) g_surfaceFactory(this, Accelerated);
}

void TDrawForm::Dispose() {
  if (Surface) {
    Surface->PaintCallback = nullptr;
    Surface->Free();
    Surface = nullptr;
  }
  TKvForm::Dispose();
  // Freeing the last drawn form ends the message loop.
  if (windowing::GetFormCount() == 0 && windowing::Application) windowing::Application->Terminate();
}

void TDrawForm::SetSurface(TDevDrawSurface* NewSurface) {
  if (Surface) Surface->PaintCallback = nullptr;
  Surface = NewSurface;
  if (Surface) Surface->PaintCallback = [this](TDevDrawSurface* S) { PaintSurface(S); };
}

void TDrawForm::ResizeSurface(bool Repaint) {
  if (!Surface) return;
  const uintptr_t window = Controller()->GetHandle();  // made on demand
  const TPoint client = GetClientSize();
  Surface->SetBounds(window, TRect{0, 0, client.X, client.Y});
  if (Repaint && Surface->Drawer)
    Surface->Paint(TRect{0, 0, Surface->Drawer->Width, Surface->Drawer->Height});
}

void TDrawForm::Changed(int32_t Kind) {
  if (Kind == windowing::fuVisible || Kind == windowing::fuResized || Kind == windowing::fuWindowState)
    UpdateSurface(Visible());
  else if (Kind == windowing::fuMoved)
    Moved();
  TKvForm::Changed(Kind);
}

void TDrawForm::Paint(const TRect& UpdateRect) {
  (void)UpdateRect;  // the whole form is painted; the drawer keeps what is unchanged
  if (Surface) Surface->Paint(TRect{0, 0, GetWidth(), GetHeight()});
}

void TDrawForm::GetCloseAction(int32_t& Action) {
  Hide();
  Action = 2;  // hide and free the form
}

bool TDrawForm::IsAccelerated() { return Surface && Surface->Drawer && Surface->Drawer->IsAccelerated(); }

void TDrawForm::RecreateSurface(bool Accelerated) {
  if (!Surface || IsAccelerated() == Accelerated) return;
  TDevDrawSurface* old = Surface;
  SetSurface(nullptr);
  old->Free();
  if (g_surfaceFactory) g_surfaceFactory(this, Accelerated);
  ResizeSurface(Visible());
}

}  // namespace render3d
