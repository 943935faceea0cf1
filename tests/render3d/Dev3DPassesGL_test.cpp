// The draw manager's passes on the GL device (llvmpipe), read back and
// compared with independent computations on the CPU: the blur of a step
// edge through the half-resolution copy and the seven-tap kernel, the
// unsharp mask of a known pattern, a mask's brightness and colour applied
// to the content, the off-screen layer's opacity and the motion-blur
// average of sub-frames.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "DrawerRig.h"
#include "imaging/SysBitmap.h"
#include "imaging/SysBitmapStore.h"
#include "render3d/Dev3DDrawer.h"

using namespace render3d;
using namespace render3d_test;

namespace {

constexpr int32_t kW = 64, kH = 64;

// A picture drawn at 1:1 from the top-left corner, reporting what it draws
// as the image drawing does.
class TPictureItem : public TDrawItem {
 public:
  explicit TPictureItem(TCustomTexture* t, float blur = 0) : Tex(t), Blur(blur) {}
  float GetBlurAmount() override { return Blur; }
  void Draw(T3DDrawer* d) override {
    const TFloatRect r{0, 0, float(Tex->Width), float(Tex->Height)};
    d->AddDrawnRect({0, 0, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, r);
    d->Screen->DrawTextureRect(Tex, {0, 0, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, r);
  }
  TCustomTexture* Tex;
  float Blur;
};

class TNothingItem : public TDrawItem {
 public:
  void Draw(T3DDrawer*) override {}
};

uint32_t Grey(int v) { return 0xFF000000u | uint32_t(v) << 16 | uint32_t(v) << 8 | uint32_t(v); }
uint32_t Rgb(int r, int g, int b) { return 0xFF000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); }

class PassesGL : public ::testing::Test, protected TDrawerRig {
 protected:
  void SetUp() override { Open(kW, kH); }
  void TearDown() override { Close(); }
  TPixelTexture* Texture(int32_t w, int32_t h, const std::function<uint32_t(int32_t, int32_t)>& f) {
    std::vector<uint32_t> px(size_t(w) * h);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) px[size_t(y) * w + x] = f(x, y);
    return Own(new TPixelTexture(S, w, h, px));
  }
  // One frame over a background colour: the root item's Draw runs inside
  // the scene.
  std::vector<uint32_t> Frame(uint32_t background, const std::function<void(T3DDrawer*)>& draw) {
    auto* root = new TFuncItem([&](T3DDrawer* d) {
      d->Screen->Clear(background, false);
      draw(d);
    });
    EXPECT_TRUE(D->DrawItemInView(root, Full()));
    root->Free();
    return Back();
  }
};

// ---- blur ----

// The kernel's weights, outer to centre.
constexpr double kW3 = 0.065722, kW2 = 0.108356, kW1 = 0.17865, kW0 = 0.294544;

std::vector<double> Kernel(const std::vector<double>& a, int step, double e) {
  const int n = int(a.size());
  auto at = [&](int i) { return a[size_t(std::clamp(i, 0, n - 1))]; };
  std::vector<double> r(a.size());
  for (int i = 0; i < n; ++i)
    r[size_t(i)] = std::round((1 - e + e * kW0) * at(i) + e * kW1 * (at(i - step) + at(i + step)) +
                              e * kW2 * (at(i - 2 * step) + at(i + 2 * step)) +
                              e * kW3 * (at(i - 3 * step) + at(i + 3 * step)));
  return r;
}

// Bilinear doubling: full-resolution pixel X samples half-resolution
// coordinate X / 2 + 0.25.
double Doubled(const std::vector<double>& h, int X) {
  const int n = int(h.size()), j = X / 2;
  auto at = [&](int i) { return h[size_t(std::clamp(i, 0, n - 1))]; };
  return X % 2 == 0 ? 0.75 * at(j) + 0.25 * at(j - 1) : 0.75 * at(j) + 0.25 * at(j + 1);
}

struct BlurCase {
  double Radius;    // screen pixels
  double MixAlpha;  // < 0: the kernel passes run
  int FullPairs;    // pairs of weight 1 before the last pair
  double LastWeight;
};

TEST_F(PassesGL, BlurredStepEdgeFollowsTheHalfResolutionKernel) {
  // A vertical step edge off the 2 x 2 grid; every row alike, so the
  // vertical passes change nothing and a row is the one-dimensional model.
  auto edge = [](int32_t x) { return x < 29 ? 20 : 220; };
  auto* tex = Texture(kW, kH, [&](int32_t x, int32_t) { return Grey(edge(x)); });
  std::vector<double> full(kW), half(kW / 2);
  for (int32_t x = 0; x < kW; ++x) full[size_t(x)] = edge(x);
  for (int32_t i = 0; i < kW / 2; ++i) half[size_t(i)] = std::round((full[size_t(2 * i)] + full[size_t(2 * i + 1)]) / 2);

  const BlurCase cases[] = {
      {1, (0.5 - 1e-5) / 0.99999, 0, 0},  // below one half-resolution pixel: one mix
      {2, -1, 0, 0.0},                   // weight 0: the half-resolution copy doubled back
      {14, -1, 0, 1.0},                  // one full pair
      {21, -1, 1, std::log2(10.5 / 7)},  // one full pair, then a partial one at step 2
      {28, -1, 1, 1.0},                  // two full pairs, the second at step 2
  };
  for (const BlurCase& c : cases) {
    SCOPED_TRACE("radius " + std::to_string(c.Radius));
    std::vector<double> expect(kW);
    if (c.MixAlpha >= 0) {
      for (int32_t X = 0; X < kW; ++X)
        expect[size_t(X)] = full[size_t(X)] + (Doubled(half, X) - full[size_t(X)]) * c.MixAlpha;
    } else {
      std::vector<double> h = half;
      int step = 1;
      for (int p = 0; p < c.FullPairs; ++p, step *= 2) h = Kernel(h, step, 1);
      h = Kernel(h, step, c.LastWeight);
      for (int32_t X = 0; X < kW; ++X) expect[size_t(X)] = Doubled(h, X);
    }
    auto* item = Own(new TPictureItem(tex, float(c.Radius * 1000)));  // amount / 1000 x view scale 1 = radius
    auto px = Frame(0xFF0000FFu, [&](T3DDrawer* d) { d->DrawItemWithEffects(item); });
    for (int32_t y : {4, 31, 60}) {
      for (int32_t X = 0; X < kW; ++X) {
        const uint32_t p = px[size_t(y) * kW + X];
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(Channel(p, k), expect[size_t(X)], 2.0) << "x " << X << " y " << y;
      }
    }
  }
  // Every target is back in its pool and the view is the frame's again.
  EXPECT_EQ(D->HalfPool->IdleCount(), 2);
  EXPECT_EQ(D->TargetPool->IdleCount(), 1);
  EXPECT_EQ(S->RenderTargetDepth(), 1);
}

TEST_F(PassesGL, BlurOfAnItemThatDrawsNothingLeavesTheScreen) {
  struct TBlurredNothing : TNothingItem {
    float GetBlurAmount() override { return 20000; }
  };
  auto* item = Own(new TBlurredNothing());
  auto px = Frame(0xFF336699u, [&](T3DDrawer* d) { d->DrawItemWithEffects(item); });
  int changed = 0;
  for (uint32_t p : px) changed += (p & 0xFFFFFF) != 0x336699;
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(D->HalfPool->IdleCount(), 2);
}

// ---- sharpening ----

TEST_F(PassesGL, SharpenLayerAppliesTheUnsharpMask) {
  // A checkerboard of four 30-pixel fields: corners and edges both show.
  auto v = [](int32_t x, int32_t y) { return ((x >= 30) != (y >= 30)) ? 160 : 80; };
  auto* tex = Texture(kW, kH, [&](int32_t x, int32_t y) { return Grey(v(x, y)); });
  struct Case {
    float Amount;  // the item's (negative) blur amount
    double Factor; // -amount x view scale / 10000
  };
  for (const Case& c : {Case{-10000, 1.0}, Case{-5000, 0.5}}) {
    SCOPED_TRACE(c.Amount);
    auto* item = Own(new TPictureItem(tex, c.Amount));
    auto px = Frame(0xFF000000u, [&](T3DDrawer* d) { d->DrawItemWithEffects(item); });
    int bad = 0;
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < kW; ++x) {
        auto at = [&](int32_t dx, int32_t dy) {
          return double(v(std::clamp(x + dx, 0, kW - 1), std::clamp(y + dy, 0, kH - 1)));
        };
        const double blur = (4 * at(0, 0) + 2 * (at(-1, 0) + at(1, 0) + at(0, -1) + at(0, 1)) + at(-1, -1) +
                             at(1, -1) + at(-1, 1) + at(1, 1)) /
                            16;
        const double e = std::clamp(at(0, 0) + (at(0, 0) - blur) * c.Factor, 0.0, 255.0);
        if (std::abs(Channel(px[size_t(y) * kW + x], 1) - e) > 1.5) ++bad;
      }
    EXPECT_EQ(bad, 0);
  }
  EXPECT_EQ(D->SharpenTarget.Get(), nullptr);
  EXPECT_EQ(D->TargetPool->IdleCount(), 1);
}

// ---- masks ----

struct MaskBand {
  uint32_t Mask;  // the mask picture's pixel in this band
  double R, G, B, A;  // the mask's colour and alpha as the combination uses them
};

TEST_F(PassesGL, MaskBrightnessAndColourApplyToTheContent) {
  const uint32_t bg = Rgb(32, 64, 96);
  const uint32_t content = Rgb(200, 100, 50);
  // Grey mask pixels count as white with their brightness as alpha; a
  // coloured one tints; where the mask draws nothing the content is hidden.
  const MaskBand bands[4] = {{Grey(255), 1, 1, 1, 1},
                             {Grey(128), 1, 1, 1, 128 / 255.0},
                             {Rgb(255, 0, 0), 1, 0, 0, 1},
                             {0x00000000u, 0, 0, 0, 0}};
  auto* maskTex = Texture(kW, kH, [&](int32_t, int32_t y) { return bands[y / 16].Mask; });
  auto* contentTex = Texture(kW, kH, [&](int32_t, int32_t) { return content; });
  auto* mask = Own(new TPictureItem(maskTex));
  auto* body = Own(new TPictureItem(contentTex));
  for (double opacity : {100.0, 50.0}) {
    SCOPED_TRACE(opacity);
    bool drawn = false;
    auto px = Frame(bg, [&](T3DDrawer* d) { drawn = d->DrawThroughMask(mask, body, nullptr, opacity); });
    EXPECT_TRUE(drawn);
    const double vertexAlpha = std::round(opacity * 2.55) / 255;
    for (int band = 0; band < 4; ++band) {
      const MaskBand& m = bands[band];
      const double a = m.A * vertexAlpha;
      const double mc[3] = {m.B, m.G, m.R};  // channel k = 0 blue
      for (int k = 0; k < 3; ++k) {
        const double e = Channel(content, k) * mc[k] * a + Channel(bg, k) * (1 - a);
        EXPECT_NEAR(Channel(px[size_t(band * 16 + 8) * kW + 20], k), e, 2.0) << "band " << band << " channel " << k;
      }
    }
  }
  EXPECT_EQ(D->TargetPool->IdleCount(), 2);
}

TEST_F(PassesGL, MaskThatDrawsNothingHidesTheContentAndBackgroundTiles) {
  auto* contentTex = Texture(kW, kH, [](int32_t x, int32_t) { return x < 32 ? 0x00000000u : Rgb(10, 200, 30); });
  auto* bgTex = Texture(16, 16, [](int32_t x, int32_t y) { return x < 8 ? Rgb(250, 0, 0) : Rgb(0, 0, 250 - y * 10); });
  // The background is a picture drawn from its attached device texture,
  // with the image drawing's defaults (alpha 254 at full opacity).
  imaging::TSysBitmap* bgBitmap = imaging::CreateSysBitmap(16, 16, imaging::PixelFormatByName(u"A8R8G8B8"));
  auto* bgImage = Own(imaging::WrapBitmapAsImage(bgBitmap, true, u""));
  bgTex->_AddRef();  // the attachment list holds a reference of its own
  bgImage->GetAttachments()->Add(bgTex);
  auto* whiteTex = Texture(kW, kH, [](int32_t, int32_t) { return Grey(255); });
  auto* body = Own(new TPictureItem(contentTex));
  auto* white = Own(new TPictureItem(whiteTex));
  auto* nothing = Own(new TNothingItem());
  auto px = Frame(Rgb(1, 2, 3), [&](T3DDrawer* d) { d->DrawThroughMask(nothing, body, bgImage, 100); });
  for (uint32_t p : px) ASSERT_EQ(p & 0xFFFFFF, 0x010203u);
  // A white mask: the tiled background shows where the content is clear.
  px = Frame(Rgb(1, 2, 3), [&](T3DDrawer* d) { d->DrawThroughMask(white, body, bgImage, 100); });
  int bad = 0;
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < kW; ++x) {
      const uint32_t want = x < 32 ? bgTex->Pixels[size_t(y % 16) * 16 + size_t(x % 16)] : Rgb(10, 200, 30);
      const double a = x < 32 ? 254 / 255.0 : 1.0;
      for (int k = 0; k < 3; ++k)
        if (std::abs(Channel(px[size_t(y) * kW + x], k) - (Channel(want, k) * a + Channel(Rgb(1, 2, 3), k) * (1 - a))) > 2) {
          ++bad;
          break;
        }
    }
  EXPECT_EQ(bad, 0);
}

// ---- the off-screen layer ----

TEST_F(PassesGL, OffscreenLayerIsDrawnWithItsOpacityAndKeepsItsAlphaByte) {
  const uint32_t bg = Rgb(0, 0, 200);
  auto* tex = Texture(kW, kH, [](int32_t x, int32_t) { return x < 16 ? 0x00000000u : Rgb(240, 120, 0); });
  for (int alpha : {255, 128, 0}) {
    SCOPED_TRACE(alpha);
    TRenderTargetTexture* layer = nullptr;
    auto px = Frame(bg, [&](T3DDrawer* d) {
      layer = d->BeginOffscreen();
      d->Screen->DrawTextureRect(tex, {0, 0, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, float(kW), float(kH)});
      d->EndOffscreen();
      d->DrawOffscreen(layer, uint8_t(alpha), Full());
    });
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->Alpha, 255);  // back in the pool as it was
    EXPECT_EQ(D->TargetPool->IdleCount(), 1);
    const double a = alpha / 255.0;
    for (int k = 0; k < 3; ++k) {
      EXPECT_NEAR(Channel(px[size_t(30) * kW + 40], k), Channel(Rgb(240, 120, 0), k) * a + Channel(bg, k) * (1 - a), 2.0) << k;
      EXPECT_EQ(Channel(px[size_t(30) * kW + 5], k), Channel(bg, k)) << k;  // the clear part of the layer
    }
  }
}

// ---- motion blur ----

TEST_F(PassesGL, MotionBlurOfSubFramesIsTheirAverage) {
  std::vector<TPixelTexture*> frames;
  const int32_t kFrames = 4;
  for (int32_t i = 0; i < kFrames; ++i)
    frames.push_back(Texture(kW, kH, [i](int32_t x, int32_t y) { return Rgb(i * 60, x * 3, (y + i * 17) % 256); }));
  struct Case {
    int32_t N;
    double Divisor;
  };
  for (const Case& c : {Case{3, 3}, Case{4, 4}, Case{2, 4}}) {
    SCOPED_TRACE("N " + std::to_string(c.N) + " D " + std::to_string(c.Divisor));
    auto px = Frame(0xFFFFFFFFu, [&](T3DDrawer* d) {
      d->BeginMotionBlurFrame();
      for (int32_t i = 0; i < c.N; ++i) {
        d->Screen->DrawTextureRect(frames[size_t(i)], {0, 0, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0},
                                   {0, 0, float(kW), float(kH)});
        d->AddMotionBlurFrame(1 / c.Divisor, i == c.N - 1 ? c.Divisor / c.N : 1.0);
      }
      d->EndMotionBlur();
    });
    int bad = 0;
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < kW; ++x)
        for (int k = 0; k < 3; ++k) {
          double sum = 0;
          for (int32_t i = 0; i < c.N; ++i) sum += Channel(frames[size_t(i)]->Pixels[size_t(y) * kW + x], k);
          if (std::abs(Channel(px[size_t(y) * kW + x], k) - sum / c.N) > 1.5) ++bad;
        }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(D->MotionFrame.Get(), nullptr);
    EXPECT_EQ(D->MotionSum.Get(), nullptr);
    EXPECT_EQ(D->MotionPool->IdleCount(), 3);
  }
}

// ---- a drawer whose shaders and pools were never made ----

TEST_F(PassesGL, PassesWithoutTheirShadersLeaveTheCallersShaderInPlace) {
  auto* bare = Own(new T3DDrawer(S));  // no CreateShaders: no pools, no shaders
  TShader* callers = D->GetShader(psPremul4);
  ASSERT_TRUE(S->BeginScene());
  bare->PushShader(callers);
  TRenderTargetTexture* layer = bare->BeginOffscreen();  // the pools are made on demand
  ASSERT_NE(layer, nullptr);
  bare->EndOffscreen();
  bare->DrawOffscreen(layer, 200, Full());
  bare->BeginMotionBlurFrame();
  bare->AddMotionBlurFrame(1, 1);
  bare->EndMotionBlur();
  ASSERT_EQ(bare->ShaderStack.size(), 1u);
  EXPECT_EQ(bare->ShaderStack.back(), callers);
  EXPECT_EQ(S->RenderTargetDepth(), 1);
  bare->PushShader(nullptr);
  S->EndScene(false);
}

}  // namespace
