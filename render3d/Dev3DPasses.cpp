// The draw manager's multi-pass operations: the Gaussian blur through a
// half-resolution copy, the unsharp-mask sharpen layer, motion-blur
// accumulation of sub-frames, the off-screen layer for whole-slide opacity
// and drawing an item through a mask item.
//
// Every pass takes its targets from the drawer's pools and hands them back
// on every way out (a raise inside an item's Draw included: the scene's
// unwinding pops the render targets, the guards below return the targets).
// Views are set explicitly after each push, one world unit per target pixel.
#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "render3d/Dev3DDrawer.h"
#include "render3d/Dev3DImages.h"

namespace render3d {

namespace {

// The seven-tap kernel (outer to centre); 2 x (w3 + w2 + w1) + w0 = 1.
constexpr double kGauss3 = 0.065722, kGauss2 = 0.108356, kGauss1 = 0.17865, kGauss0 = 0.294544;

const T3DPoint kAxisX{1, 0, 0}, kAxisY{0, 1, 0};

TFloatRect WholeImage(const TCustomTexture* t) { return {0, 0, float(t->Width), float(t->Height)}; }

// A pass's shader for a scope. A shader that was never made (no
// CreateShaders) pushes nothing, so the pop cannot take the caller's shader
// off the stack.
class TPassShader {
 public:
  TPassShader(T3DDrawer* drawer, TShader* shader) : D(shader ? drawer : nullptr) {
    if (D) D->PushShader(shader);
  }
  TPassShader(const TPassShader&) = delete;
  TPassShader& operator=(const TPassShader&) = delete;
  ~TPassShader() { Pop(); }
  void Pop() {
    if (D) D->PushShader(nullptr);
    D = nullptr;
  }

 private:
  T3DDrawer* D;
};

}  // namespace

// Constants of the pixel shader about to be pushed (registers from reg on).
static void SetPixelConstants(T3DScreen* screen, int32_t reg, std::initializer_list<float> values) {
  if (!screen->IsReady()) return;
  float v[4] = {0, 0, 0, 0};
  int i = 0;
  for (float f : values) v[i++] = f;
  screen->Renderer->SetShaderConstants(reg, v, 1, false);
}

// ---- blur ----

void T3DDrawer::RunBlurPass(TDrawItem* item, double r) {
  if (!TargetPool || !HalfPool) PrepareRenderTargets();
  BlurView = Screen->GetViewState();
  auto P = TRef<TRenderTargetTexture>::Adopt(TargetPool->Get(Screen));
  Screen->PushRenderTarget(P.Get(), 0, 0);
  Screen->FillRect(0x00000000u, {0, 0, P->TexWidth, P->TexHeight});
  TViewState target;
  MakeTargetView(target, BlurView);
  DrawItemInView(item, target);
  Screen->PopRenderTarget();

  // An item that drew nothing leaves the bounds inverted: the passes then
  // run over an empty region.
  TRect b = DrawnBounds;
  if (b.Left >= b.Right || b.Top >= b.Bottom) b = {0, 0, 0, 0};
  const int32_t bw = b.Right - b.Left, bh = b.Bottom - b.Top;
  const TFloatRect drawn{float(b.Left), float(b.Top), float(b.Right), float(b.Bottom)};

  auto H = TRef<TRenderTargetTexture>::Adopt(HalfPool->Get(Screen));
  Screen->PushRenderTarget(H.Get(), 0, 0);
  Screen->FillRect(0x00000000u, {0, 0, H->TexWidth, H->TexHeight});
  SetDrawOrigin({0, 0});
  const TFloatPoint Q{float(std::trunc((H->Width - bw * 0.5) * 0.5)), float(std::trunc((H->Height - bh * 0.5) * 0.5))};
  Screen->DrawTextureRect(P.Get(), {Q.X, Q.Y, 0}, {float(b.Left), float(b.Top)}, {0.5f, 0, 0}, {0, 0.5f, 0}, drawn);
  Screen->PopRenderTarget();

  const double x = r * 0.5;  // in half-resolution pixels
  if (x >= 1e-5 && x < 1) {
    SetDrawOrigin({float(BlurView.Viewport.Left), float(BlurView.Viewport.Top)});
    SetPixelConstants(Screen, 0, {float((x - 1e-5) / 0.99999)});
    TPassShader shader(this, Shaders[psGaussMix]);
    TCustomTexture* tex[2] = {P.Get(), H.Get()};
    const TFloatRect rects[2] = {drawn, {Q.X, Q.Y, float(Q.X + bw * 0.5), float(Q.Y + bh * 0.5)}};
    Screen->DrawTextureQuad(tex, {0, 0, 0}, {0, 0}, kAxisX, kAxisY, rects, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                            0xFFFFFFFFu);
    shader.Pop();
  } else {
    int32_t n = 0;
    double g = 0;
    if (x > 7) {
      const double h = std::log2(x / 7);
      n = static_cast<int32_t>(std::trunc(h));
      g = h - n;
      if (g > 0)
        ++n;
      else
        g = 1;
    } else if (x > 1) {
      g = (x - 1) / 6;
    }
    auto F = TRef<TRenderTargetTexture>::Adopt(HalfPool->Get(Screen));
    // One pass of the kernel from S into D (or, without D, back onto the
    // current target at full resolution over the item's bounds).
    auto pass = [&](TRenderTargetTexture* S, TRenderTargetTexture* D, double step, bool vertical, double e) {
      T3DPoint ax = kAxisX, ay = kAxisY;
      if (D) {
        Screen->PushRenderTarget(D, 0, 0);
        Screen->FillRect(0x00000000u, {0, 0, D->TexWidth, D->TexHeight});
        SetDrawOrigin({0, 0});
      } else {
        SetDrawOrigin({float(BlurView.Viewport.Left), float(BlurView.Viewport.Top)});
        ax = {2, 0, 0};
        ay = {0, 2, 0};
      }
      SetPixelConstants(Screen, 0,
                        {float(e * kGauss3), float(e * kGauss2), float(e * kGauss1), float(1 - e + e * kGauss0)});
      SetPixelConstants(Screen, 1, {float(step / (vertical ? S->TexHeight : S->TexWidth))});
      TPassShader shader(this, Shaders[vertical ? psGaussBlurV7 : psGaussBlurH7]);
      const double qx = std::trunc((S->Width - bw * 0.5) * 0.5), qy = std::trunc((S->Height - bh * 0.5) * 0.5);
      const double m = 7 * step;
      const TFloatRect src{float(std::max(0.0, qx - m)), float(std::max(0.0, qy - m)),
                           float(std::min(double(S->Width), qx + bw * 0.5 + m)),
                           float(std::min(double(S->Height), qy + bh * 0.5 + m))};
      if (D)
        Screen->DrawTextureRect(S, {0, 0, 0}, {0, 0}, ax, ay, src);
      else
        Screen->DrawTextureRect(S, {float(b.Left), float(b.Top), 0}, {float(qx), float(qy)}, ax, ay, src);
      shader.Pop();
      if (D) Screen->PopRenderTarget();
    };
    double step = 1;
    for (int32_t i = 0; i < n; ++i) {
      pass(H.Get(), F.Get(), step, false, 1);
      pass(F.Get(), H.Get(), step, true, 1);
      step *= 2;
    }
    pass(H.Get(), F.Get(), step, false, g);
    pass(F.Get(), nullptr, step, true, g);
  }
  View = BlurView;
  Screen->SetViewState(BlurView);
}

// ---- sharpening ----

bool T3DDrawer::BeginSharpenLayer() {
  if (!TargetPool) PrepareRenderTargets();
  SharpenView = Screen->GetViewState();
  SharpenTarget = TRef<TRenderTargetTexture>::Adopt(TargetPool->Get(Screen));
  Screen->PushRenderTarget(SharpenTarget.Get(), 0, 0);
  Screen->Clear(0x00000000u, false);
  return true;
}

void T3DDrawer::EndSharpenLayer(double amount) {
  if (!SharpenTarget) return;
  const auto t = std::move(SharpenTarget);
  Screen->PopRenderTarget();
  SetPixelConstants(Screen, 0, {float(1.0 / t->TexWidth), float(1.0 / t->TexHeight)});
  SetPixelConstants(Screen, 1, {0.0f});
  SetPixelConstants(Screen, 2, {float(amount / 100)});
  TPassShader shader(this, Shaders[psUnsharp]);
  SetDrawOrigin({float(SharpenView.Viewport.Left), float(SharpenView.Viewport.Top)});
  Screen->DrawTextureRect(t.Get(), {0, 0, 0}, {0, 0}, kAxisX, kAxisY, WholeImage(t.Get()));
  View = SharpenView;
  Screen->SetViewState(SharpenView);
  shader.Pop();
}

// ---- motion blur ----

void T3DDrawer::BeginMotionBlurFrame() {
  if (!MotionPool) PrepareRenderTargets();
  MotionView = Screen->GetViewState();
  MotionFrame = TRef<TRenderTargetTexture>::Adopt(MotionPool->Get(Screen));
  Screen->PushRenderTarget(MotionFrame.Get(), 0, 0);
  Screen->FillRect(0xFF000000u, {0, 0, MotionFrame->TexWidth, MotionFrame->TexHeight});
}

void T3DDrawer::AddMotionBlurFrame(double w1, double w2) {
  if (!MotionFrame) return;
  auto R = TRef<TRenderTargetTexture>::Adopt(MotionPool->Get(Screen));
  Screen->PushRenderTarget(R.Get(), 0, 0);
  Screen->Clear(0xFF000000u, false);
  if (!MotionSum) {
    MotionSum = TRef<TRenderTargetTexture>::Adopt(MotionPool->Get(Screen));
    Screen->PushRenderTarget(MotionSum.Get(), 0, 0);
    Screen->Clear(0xFF000000u, false);
    Screen->PopRenderTarget();
  }
  SetPixelConstants(Screen, 0, {float(w1), float(w2)});
  TPassShader shader(this, Shaders[psMotionBlur]);
  SetDrawOrigin({float(MotionView.Viewport.Left), float(MotionView.Viewport.Top)});
  TCustomTexture* tex[2] = {MotionSum.Get(), MotionFrame.Get()};
  const TFloatRect rects[2] = {WholeImage(MotionSum.Get()), WholeImage(MotionFrame.Get())};
  Screen->DrawTextureQuad(tex, {0, 0, 0}, {0, 0}, kAxisX, kAxisY, rects, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
                          0xFFFFFFFFu);
  shader.Pop();
  Screen->PopRenderTarget();
  MotionSum = std::move(R);  // the old sum back to the pool
}

void T3DDrawer::EndMotionBlur() {
  if (!MotionFrame) return;
  Screen->PopRenderTarget();
  // The sum when frames were added, else the one frame; the other goes back
  // to its pool.
  const auto sum = MotionSum ? std::move(MotionSum) : std::move(MotionFrame);
  MotionFrame.Reset();
  MotionSum.Reset();
  SetDrawOrigin({float(MotionView.Viewport.Left), float(MotionView.Viewport.Top)});
  Screen->DrawTextureRect(sum.Get(), {0, 0, 0}, {0, 0}, kAxisX, kAxisY, WholeImage(sum.Get()));
  View = MotionView;
  Screen->SetViewState(MotionView);
}

// ---- the off-screen layer ----

TRenderTargetTexture* T3DDrawer::BeginOffscreen() {
  if (!TargetPool) PrepareRenderTargets();
  TRenderTargetTexture* t = TargetPool->Get(Screen);
  Screen->PushRenderTarget(t, 0, 0);
  Screen->FillRect(0x00000000u, {0, 0, t->TexWidth, t->TexHeight});
  return t;
}

void T3DDrawer::EndOffscreen() { Screen->PopRenderTarget(); }

void T3DDrawer::DrawOffscreen(TRenderTargetTexture* target, uint8_t alpha, const TViewState& view) {
  if (!target) return;
  auto t = TRef<TRenderTargetTexture>::Adopt(target);
  const uint8_t saved = t->Alpha;
  t->Alpha = alpha;
  // The shader is popped first, then the alpha restored, then the target
  // goes back to its pool.
  const TOnExit restore([&] { t->Alpha = saved; });
  SetDrawOrigin({float(view.Viewport.Left), float(view.Viewport.Top)});
  TPassShader shader(this, Shaders[psPremul4]);
  Screen->DrawTextureRect(t.Get(), {0, 0, 0}, {0, 0}, kAxisX, kAxisY, WholeImage(t.Get()));
}

// ---- masks ----

bool T3DDrawer::DrawThroughMask(TDrawItem* mask, TDrawItem* content, imaging::TImage* background, double opacity) {
  if (GetShaderLevel() == 0) return false;
  if (!TargetPool) PrepareRenderTargets();
  const TViewState saved = Screen->GetViewState();
  TViewState target;
  MakeTargetView(target, saved);

  auto Tc = TRef<TRenderTargetTexture>::Adopt(TargetPool->Get(Screen));
  Screen->PushRenderTarget(Tc.Get(), 0, 0);
  Screen->Clear(0x00000000u, false);
  if (background && background->Params.Width > 0 && background->Params.Height > 0) {
    // The background is an ordinary picture: tiled with the image drawing's
    // defaults, from the device texture attached to it or the texture cache.
    SetDrawOrigin({0, 0});
    const int32_t bw = background->Params.Width, bh = background->Params.Height;
    for (int32_t i = 0; i <= (Tc->Width - 1) / bw; ++i)
      for (int32_t j = 0; j <= (Tc->Height - 1) / bh; ++j)
        DrawImage(background, {float(i * bw), float(j * bh), 0}, {0, 0}, kAxisX, kAxisY, DefaultImageDrawParams);
  }
  DrawItemInView(content, target);
  Screen->PopRenderTarget();

  auto Tm = TRef<TRenderTargetTexture>::Adopt(TargetPool->Get(Screen));
  Screen->PushRenderTarget(Tm.Get(), 0, 0);
  Screen->Clear(0xFF000000u, false);  // opaque black: nothing of the content shows
  DrawItemInView(mask, target);
  Screen->PopRenderTarget();

  if (Screen->IsReady()) Screen->Renderer->SetBlendMode(bmSeparateAlpha);
  TPassShader shader(this, Shaders[psPremul3]);
  const uint32_t a = uint32_t(std::lround(std::clamp(opacity, 0.0, 100.0) * 2.55));
  const uint32_t c = a << 24 | 0xFFFFFFu;
  SetDrawOrigin({float(saved.Viewport.Left), float(saved.Viewport.Top)});
  TCustomTexture* tex[2] = {Tm.Get(), Tc.Get()};
  const TFloatRect rects[2] = {WholeImage(Tc.Get()), WholeImage(Tc.Get())};
  {
    const TOnExit restore([&] {
      shader.Pop();
      if (Screen->IsReady()) Screen->Renderer->SetBlendMode(bmNormal);
    });
    Screen->DrawTextureQuad(tex, {0, 0, 0}, {0, 0}, kAxisX, kAxisY, rects, c, c, c, c);
  }
  View = saved;
  Screen->SetViewState(saved);
  return true;
}

}  // namespace render3d
