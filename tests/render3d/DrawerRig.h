// A screen and draw manager on an offscreen GL target (llvmpipe in CI) for
// tests that draw and read the pixels back, with the small draw items and
// textures those tests draw.
#pragma once

#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "Render3DTestEnv.h"
#include "render3d/Dev3DDrawer.h"

namespace render3d_test {

// A texture painted from 0xAARRGGBB pixels (a picture already on the device).
class TPixelTexture : public render3d::TCustomTexture {
 public:
  TPixelTexture(render3d::T3DScreen* s, int32_t w, int32_t h, std::vector<uint32_t> px)
      : TCustomTexture(s), Pixels(std::move(px)) {
    SetSize(w, h);
  }
  void Paint(imaging::TSysBitmap* b) override {
    for (int32_t y = 0; y < Height; ++y) std::memcpy(b->Row(y), &Pixels[size_t(y) * Width], size_t(Width) * 4);
  }
  std::vector<uint32_t> Pixels;
};

// An item whose drawing is a function of the test's.
class TFuncItem : public render3d::TDrawItem {
 public:
  TFuncItem() = default;
  explicit TFuncItem(std::function<void(render3d::T3DDrawer*)> body) : Body(std::move(body)) {}
  void Draw(render3d::T3DDrawer* d) override { Body(d); }
  std::function<void(render3d::T3DDrawer*)> Body;
};

inline int Channel(uint32_t c, int k) { return int((c >> (8 * k)) & 0xFF); }

struct TDrawerRig {
  // A w x h target with its screen and, unless told otherwise, a draw
  // manager with its shaders.
  void Open(int32_t w, int32_t h, bool withDrawer = true) {
    Close();
    W = w;
    H = h;
    render3d::T3DEngine* engine = render3d::Get3DEngine();
    ASSERT_NE(engine, nullptr);
    Device = engine->CreateOffscreenDevice(w, h);
    ASSERT_NE(Device, nullptr);
    S = new render3d::T3DScreen();
    S->AssignDevice(Device);
    ASSERT_TRUE(S->IsReady());
    if (!withDrawer) return;
    D = new render3d::T3DDrawer(S);
    D->CreateShaders();
  }
  // What the test made on the screen goes before the drawer, the drawer
  // before its screen.
  void Close() {
    for (auto* o : Owned) o->Free();
    Owned.clear();
    if (D) D->Free();
    D = nullptr;
    if (S) S->Free();
    S = nullptr;
    if (Device) Device->Free();
    Device = nullptr;
  }
  template <class X>
  X* Own(X* x) {
    Owned.push_back(x);
    return x;
  }
  // The whole target at 1:1.
  render3d::TViewState Full() const {
    render3d::TViewState v;
    v.Viewport = {0, 0, W, H};
    v.Area = {0, 0, float(W), float(H)};
    v.Scale = {float(W), float(H)};
    return v;
  }
  // One frame over a background colour, drawn by body inside the view (the
  // whole target unless given).
  std::vector<uint32_t> Frame(const std::function<void(render3d::T3DDrawer*)>& body,
                              uint32_t background = 0xFF000000u) {
    return Frame(body, background, Full());
  }
  std::vector<uint32_t> Frame(const std::function<void(render3d::T3DDrawer*)>& body, uint32_t background,
                              const render3d::TViewState& view) {
    auto* item = new TFuncItem([&](render3d::T3DDrawer* d) {
      d->Clear(background, {-1, -1, W + 1, H + 1});
      body(d);
    });
    EXPECT_TRUE(D->DrawItemInView(item, view));
    item->Free();
    return Back();
  }
  // The back buffer's pixels, rows from the top.
  std::vector<uint32_t> Back() {
    render3d::T3DSurface* s = nullptr;
    EXPECT_TRUE(S->Renderer->GetBackBuffer(s));
    return s ? ReadBack(s) : std::vector<uint32_t>(size_t(W) * H);
  }

  render3d::TRendererDevice* Device = nullptr;
  render3d::T3DScreen* S = nullptr;
  render3d::T3DDrawer* D = nullptr;
  int32_t W = 0, H = 0;
  std::vector<foundation::TRefObject*> Owned;
};

}  // namespace render3d_test
