#include "render3d/Dev3DDrawer.h"

#include <algorithm>
#include <cfenv>
#include <climits>
#include <cmath>
#include <mutex>

#include "foundation/kpExceptions.h"
#include "foundation/Rounding.h"
#include "imaging/SysBitmapStore.h"
#include "render3d/Dev3DEffects2.h"
#include "render3d/Dev3DTexStore.h"
#include "imaging/kvPixelFormat.h"
#include "transitions/kvDrawFilter.h"

namespace render3d {

namespace {
// Nearest integer, halfway to the even neighbour.
using foundation::RoundEvenSaturated;
}  // namespace

void TEffectItem::Draw(T3DDrawer*) {
  if (Filter) Filter->Draw(Controller);
}

TPoint FitSizeInto(TPoint a, TPoint b) {
  double rb = double(b.X) / b.Y, ra = double(a.X) / a.Y;
  if (!(rb < ra)) return {RoundEvenSaturated(double(a.X) * b.Y / a.Y), b.Y};
  return {b.X, RoundEvenSaturated(double(a.Y) * b.X / a.X)};
}

TPoint FitSizeIntoNoEnlarge(TPoint a, TPoint b) {
  double rb = double(b.X) / b.Y, ra = double(a.X) / a.Y;
  if (!(rb < ra)) {
    int32_t h = std::min(a.Y, b.Y);
    return {RoundEvenSaturated(double(a.X) * h / a.Y), h};
  }
  int32_t w = std::min(a.X, b.X);
  return {w, RoundEvenSaturated(double(a.Y) * w / a.X)};
}

T3DDrawer::T3DDrawer(T3DScreen* screen)
    : Lock(MakeRef<foundation::TCriticalSection>()), Screen(screen), TextureSource(MakeRef<TTextureSource>(screen)) {
  ResetDrawnBounds();
}

T3DDrawer::~T3DDrawer() = default;

void T3DDrawer::Dispose() {
  ReleaseYuvImages();
  ShaderStack.clear();
  for (auto*& s : Shaders) {
    if (s) s->Free();
    s = nullptr;
  }
  // Pooled targets go back to their pools before the pools go.
  SharpenTarget.Reset();
  MotionFrame.Reset();
  MotionSum.Reset();
  TargetPool.Reset();
  HalfPool.Reset();
  MotionPool.Reset();
  BoxAntialiaser.Reset();
  Effecter.Reset();
  TextureSource.Reset();
  Screen = nullptr;
  Lock.Reset();
  TRefObject::Dispose();
}

void T3DDrawer::CreateShaders() {
  {
    std::lock_guard<foundation::TCriticalSection> g(*Lock);
    for (TPixelShaderId id : ShaderCreationOrder)
      if (!Shaders[id]) Shaders[id] = new TShader(Screen, PixelShaderProgram(id), false);
  }
  PrepareRenderTargets();
}

void T3DDrawer::PrepareRenderTargets() {
  const TRect& vp = Screen->View.Viewport;
  int32_t w = vp.Right - vp.Left, h = vp.Bottom - vp.Top;
  TargetRect = {0, 0, w, h};
  Camera = {float(vp.Left + vp.Right) / 2, float(vp.Top + vp.Bottom) / 2, -float(h)};
  if (!TargetPool) TargetPool = MakeRef<TRenderTargetManager>(true, false);
  if (!MotionPool) MotionPool = MakeRef<TRenderTargetManager>(true, true);
  if (!HalfPool) HalfPool = MakeRef<TRenderTargetManager>(true, false);
  TargetPool->SetSize(w, h);
  MotionPool->SetSize(w, h);
  HalfPool->SetSize(w / 2, h / 2);
  if (Effecter && !SameRect(Effecter->ViewRect, TargetRect)) Effecter->SetViewRect(TargetRect);
}

void T3DDrawer::BeginScene() {
  PrepareRenderTargets();
  Screen->BeginScene();
}

bool T3DDrawer::EndScene() { return Screen->EndScene(CaptureMode == 0); }

bool T3DDrawer::IsReady() const { return Screen != nullptr && Screen->IsReady(); }

bool DrawerIsReady(const T3DDrawer* drawer) { return drawer != nullptr && drawer->IsReady(); }

uint8_t T3DDrawer::GetShaderLevel() {
  T3DEngine* e = Get3DEngine();
  return e ? e->GetShaderLevel(Screen->Adapter) : 0;
}

bool T3DDrawer::DrawItemInView(TDrawItem* item, const TViewState& view) {
  TViewState saved = Screen->GetViewState();
  View = view;
  Screen->SetViewState(View);
  Camera = {view.Scale.X * 0.5f, view.Scale.Y * 0.5f, -view.Scale.Y};
  const TOnExit restore([&] {
    View = saved;
    Screen->SetViewState(View);
  });
  return DrawItemWithEffects(item);
}

bool T3DDrawer::DrawItemWithEffects(TDrawItem* item) {
  if (InEffects) return DrawItemInScene(item);
  double v = item->GetBlurAmount();
  // The threshold in the amount's own precision, so an amount of exactly
  // 0.00001 blurs (as a Double it is 9.9999997e-06).
  if (v >= double(1e-5f)) {
    InEffects = true;
    const TOnExit leave([this] { InEffects = false; });
    ResetDrawnBounds();
    RunBlurPass(item, v / 1000 * GetViewScale());
    return true;
  }
  if (v < 0 && !SharpenTarget) {
    InEffects = true;
    const TOnExit leave([this] { InEffects = false; });
    if (!BeginSharpenLayer()) return DrawItemInScene(item);
    TViewState view;
    MakeTargetView(view, SharpenView);
    bool r;
    try {
      r = DrawItemInView(item, view);
    } catch (...) {
      AbortSharpenLayer();
      throw;
    }
    EndSharpenLayer(-v / 100 * GetViewScale());
    return r;
  }
  return DrawItemInScene(item);
}

// A raise inside Draw ends the frame it opened (without presenting) and
// unwinds what the passes pushed, so the next frame starts at depth 0 with
// the back buffer as target and no pixel shader.
bool T3DDrawer::DrawItemInScene(TDrawItem* item) {
  struct TDepth {
    int32_t& d;
    ~TDepth() { --d; }
  } depth{++SceneDepth};
  if (SceneDepth > 1) {
    if (!IsReady()) return false;
    item->Draw(this);
    return true;
  }
  BeginScene();
  const int32_t targets = Screen->RenderTargetDepth();
  const size_t shaders = ShaderStack.size();
  try {
    if (IsReady()) item->Draw(this);
  } catch (...) {
    for (int32_t n = Screen->RenderTargetDepth(); n > std::max(targets, 1) && Screen->IsReady(); --n)
      Screen->PopRenderTarget();
    while (ShaderStack.size() > shaders) PushShader(nullptr);
    Screen->EndScene(false);
    item->Prepare();
    throw;
  }
  bool result = EndScene();
  item->Prepare();
  return result;
}

TRect T3DDrawer::GetViewBounds() const {
  return {RoundEvenSaturated(View.Area.Left), RoundEvenSaturated(View.Area.Top), RoundEvenSaturated(View.Area.Right),
          RoundEvenSaturated(View.Area.Bottom)};
}

double T3DDrawer::GetViewScale() const {
  if (!(View.Scale.X > 0)) return 1.0;
  return (double(View.Area.Right) - View.Area.Left) / View.Scale.X;
}

void T3DDrawer::SetDrawOrigin(TFloatPoint p) {
  int32_t w = TargetRect.Right - TargetRect.Left, h = TargetRect.Bottom - TargetRect.Top;
  int32_t x = RoundEvenSaturated(p.X), y = RoundEvenSaturated(p.Y);
  TViewState v;
  v.Viewport = {x, y, x + w, y + h};
  v.Area = {0, 0, float(w), float(h)};
  v.Scale = {float(w), float(h)};
  v.Origin = p;
  v.OffsetX = v.OffsetY = 0;
  View = v;
  Screen->SetViewState(v);
}

void T3DDrawer::MakeTargetView(TViewState& out, const TViewState& view) const {
  out = view;
  out.Viewport = {0, 0, view.Viewport.Right - view.Viewport.Left, view.Viewport.Bottom - view.Viewport.Top};
  out.Origin = {view.Origin.X - view.Viewport.Left, view.Origin.Y - view.Viewport.Top};
}

void T3DDrawer::PushShader(TShader* shader) {
  if (shader) {
    ShaderStack.push_back(shader);
    if (Screen->IsReady()) Screen->Renderer->SetShader(shader->DeviceShader);
    return;
  }
  if (!ShaderStack.empty()) ShaderStack.pop_back();
  if (Screen->IsReady())
    Screen->Renderer->SetShader(ShaderStack.empty() ? nullptr : ShaderStack.back()->DeviceShader);
}

void T3DDrawer::Clear(uint32_t color, const TRect& rect) { Screen->FillRect(color, rect); }

bool T3DDrawer::CopyBackBufferTo(imaging::TBitmap* bitmap) {
  if (CaptureMode != 1) return true;
  if (!Screen || !Screen->Renderer) return false;
  T3DSurface* s = nullptr;
  if (!Screen->Renderer->GetBackBuffer(s) || !s) return false;
  return s->CopyTo(bitmap);
}

imaging::TImage* T3DDrawer::CaptureScreen() {
  int32_t w = Screen->Bounds.Right - Screen->Bounds.Left, h = Screen->Bounds.Bottom - Screen->Bounds.Top;
  imaging::TSysBitmap* b = imaging::CreateSysBitmap(w, h, imaging::PixelFormatByName(u"R8G8B8"));
  if (!CopyBackBufferTo(b)) {
    b->Free();
    return nullptr;
  }
  return imaging::WrapBitmapAsImage(b, true, u"");
}

TBoxAntialiaser* T3DDrawer::GetBoxAntialiaser() {
  if (!BoxAntialiaser) BoxAntialiaser = MakeRef<TBoxAntialiaser>(Screen);
  return BoxAntialiaser.Get();
}

void T3DDrawer::ResetDrawnBounds() { DrawnBounds = {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN}; }

void T3DDrawer::AddDrawnRect(T3DPoint origin, TFloatPoint offset, T3DPoint ax, T3DPoint ay, const TFloatRect& rect) {
  if (!InEffects) return;
  const double xs[4] = {rect.Left, rect.Left, rect.Right, rect.Right};
  const double ys[4] = {rect.Bottom, rect.Top, rect.Bottom, rect.Top};
  double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300, minZ = 1e300;
  double kx = (double(View.Area.Right) - View.Area.Left) / View.Scale.X;
  double ky = (double(View.Area.Bottom) - View.Area.Top) / View.Scale.Y;
  for (int i = 0; i < 4; ++i) {
    double dx = xs[i] - offset.X, dy = ys[i] - offset.Y;
    T3DPoint c{float(origin.X + ax.X * dx + ay.X * dy), float(origin.Y + ax.Y * dx + ay.Y * dy),
               float(origin.Z + ax.Z * dx + ay.Z * dy)};
    double x, y;
    if (c.Z <= Camera.Z) {
      x = c.X > Camera.X ? TargetRect.Right : TargetRect.Left;
      y = c.Y > Camera.Y ? TargetRect.Bottom : TargetRect.Top;
    } else {
      // The view's origin shifts everything it draws on the target, so the
      // bounds (pixels of the target) shift with it.
      TFloatPoint p = ProjectPoint(c, Camera, CameraFactor);
      x = kx * p.X + View.Area.Left + View.Origin.X;
      y = ky * p.Y + View.Area.Top + View.Origin.Y;
    }
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    minY = std::min(minY, y);
    maxY = std::max(maxY, y);
    minZ = std::min(minZ, double(c.Z));
  }
  auto clampInt = [](double v) { return static_cast<int32_t>(std::clamp(v, -2147483648.0, 2147483647.0)); };
  DrawnBounds.Left = std::max(0, std::min(clampInt(std::trunc(minX)), DrawnBounds.Left));
  DrawnBounds.Top = std::max(0, std::min(clampInt(std::trunc(minY)), DrawnBounds.Top));
  DrawnBounds.Right = std::min(TargetRect.Right, std::max(clampInt(std::ceil(maxX)), DrawnBounds.Right));
  DrawnBounds.Bottom = std::min(TargetRect.Bottom, std::max(clampInt(std::ceil(maxY)), DrawnBounds.Bottom));
  double P = Camera.Z;
  double a = std::max(P, std::min(0.0, minZ));
  if (P == 0 || a == 0) return;
  DrawnBounds.Left = RoundEvenSaturated((1 - a / P) * DrawnBounds.Left);
  DrawnBounds.Top = RoundEvenSaturated((1 - a / P) * DrawnBounds.Top);
  DrawnBounds.Right += RoundEvenSaturated((TargetRect.Right - DrawnBounds.Right) / P * a);
  DrawnBounds.Bottom += RoundEvenSaturated((TargetRect.Bottom - DrawnBounds.Bottom) / P * a);
}

void T3DDrawer::AbortSharpenLayer() {
  if (!SharpenTarget) return;
  Screen->PopRenderTarget();
  SharpenTarget.Reset();  // back to its pool
}

}  // namespace render3d
