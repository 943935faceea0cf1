// Device loss injected at each point the layer recovers from: the renderer
// is dropped, every texture, vertex list and shader is cut loose, its owner
// refills a new one from its own data, and the next frame draws the same
// pixels as before the loss.
#include "Render3DTestEnv.h"

using namespace render3d;
using namespace render3d_test;
namespace gpu = platform::gpu;

namespace {

// The owner of the device objects, as the screen and the screen textures
// are: it keeps its own data and makes the objects again when they go.
class TScene {
 public:
  explicit TScene(TTarget& target) : T(target) {
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 7; ++x)
        Picture.push_back(0xFF000000u | uint32_t(x * 36) << 16 | uint32_t(y * 60) << 8 | uint32_t((x ^ y) * 30));
    std::string src = "void main() { fragColor = c[0]; }";
    Shader.assign(4, '\0');
    uint32_t len = static_cast<uint32_t>(src.size());
    std::memcpy(Shader.data(), &len, 4);
    Shader += src;
  }
  ~TScene() { DropAll(); }

  void DropAll() {
    if (Tex) Tex->Free();
    if (List) List->Free();
    if (List2) List2->Free();
    if (Sh) Sh->Free();
    Tex = nullptr;
    List = List2 = nullptr;
    Sh = nullptr;
  }

  bool Ensure() {
    if (!T.Renderer) T.MakeRenderer();
    if (!T.Renderer) return false;
    if (!T.Renderer->OnRendererLost) {
      T.Renderer->OnRendererLost = [this] {
        ++Lost;
        T.Renderer->Free();
        T.Renderer = nullptr;
      };
    }
    if (!Tex) {
      Tex = T.Renderer->CreateTexture(tkArgb, 7, 5, false);
      if (!Tex) return false;
      Tex->OnRelease = [this] {
        ++Released;
        Tex->Free();
        Tex = nullptr;
      };
      if (!Fill(Tex, 7, 5, Picture)) return false;
      ++Refills;
    }
    if (!List) {
      List = Quad(T.Renderer, 3, 2, 10, 7, 0xFFFFFFFF);
      if (!List) return false;
      List->OnRelease = [this] {
        ++Released;
        List->Free();
        List = nullptr;
      };
    }
    if (!List2) {
      List2 = Quad(T.Renderer, 12, 1, 15, 4, 0xFFFFFFFF);
      if (!List2) return false;
      List2->OnRelease = [this] {
        ++Released;
        List2->Free();
        List2 = nullptr;
      };
    }
    if (!Sh) {
      Sh = T.Renderer->CreateShader(Shader, false);
      if (!Sh) return false;
      Sh->OnRelease = [this] {
        ++Released;
        Sh->Free();
        Sh = nullptr;
      };
    }
    return T.Renderer != nullptr;
  }

  // One frame; the back buffer's pixels when every step succeeded.
  bool Frame(std::vector<uint32_t>& pixels) {
    if (!Ensure()) return false;
    T3DRenderer* r = T.Renderer;
    TBaseTexture* tex[] = {Tex};
    float color[4] = {0.0f, 1.0f, 0.0f, 1.0f};
    auto proj = PixelProjection(static_cast<float>(T.Width), static_cast<float>(T.Height));
    // A failing step may release the renderer: nothing runs after it.
    bool ok = r->BeginScene() && r->SetTransform(2, proj.data()) && r->Clear({}, 0, 0xFF202020, 0, 1) &&
              r->DrawVertexList(tex, 1, List, dfTextures | dfModulateColor | dfModulateAlpha) && r->SetShader(Sh) &&
              r->SetShaderConstants(0, color, 1, false) && r->DrawVertexList({}, 0, List2, dfModulateColor) &&
              r->SetShader(nullptr) && r->EndScene();
    if (!ok) return false;
    pixels = ReadBack(T.Back());
    return T.Renderer->Present(nullptr, nullptr);
  }

  TTarget& T;
  std::vector<uint32_t> Picture;
  std::string Shader;
  T3DTexture* Tex = nullptr;
  T3DVertexList* List = nullptr;
  T3DVertexList* List2 = nullptr;
  T3DShader* Sh = nullptr;
  int Lost = 0, Released = 0, Refills = 0;
};

struct LossPoint {
  const char* name;
  gpu::GpuCall call;
  bool remake;  // drop the objects first, so that their creation or upload meets the loss
};

class DeviceLoss : public ::testing::TestWithParam<LossPoint> {
 protected:
  void SetUp() override { T.Open(24, 12); }
  void TearDown() override { T.Close(); }
  TTarget T;
};

TEST_P(DeviceLoss, NextFrameDrawsTheSamePixels) {
  const LossPoint& p = GetParam();
  TScene scene(T);
  std::vector<uint32_t> before, after;
  ASSERT_TRUE(scene.Frame(before));
  // The picture and the shader's colour are really there.
  EXPECT_EQ(before[2 * 24 + 3] & 0xFFFFFF, scene.Picture[0] & 0xFFFFFF);
  EXPECT_EQ(before[1 * 24 + 12] & 0xFFFFFF, 0x00FF00u);
  if (p.remake) scene.DropAll();
  gpu::injectGpuFault(p.call, gpu::D3DERR_DEVICELOST);
  std::vector<uint32_t> ignored;
  EXPECT_FALSE(scene.Frame(ignored)) << p.name;
  EXPECT_EQ(gpu::pendingGpuFaults(), 0) << p.name << ": the loss point was never reached";
  EXPECT_EQ(scene.Lost, 1) << p.name;
  EXPECT_EQ(T.Renderer, nullptr);
  // Every object that existed was cut loose and freed by its owner.
  EXPECT_EQ(scene.Tex, nullptr);
  EXPECT_EQ(scene.List, nullptr);
  EXPECT_EQ(scene.Sh, nullptr);
  EXPECT_FALSE(T.Device->FindMessenger<TDevStore>()) << "a lost store leaves the target";
  ASSERT_TRUE(scene.Frame(after)) << p.name;
  EXPECT_EQ(before, after) << p.name;
  EXPECT_GE(scene.Refills, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Points, DeviceLoss,
    ::testing::Values(LossPoint{"BeginScene", gpu::GpuCall::BeginScene, false},
                      LossPoint{"SceneRenderTarget", gpu::GpuCall::SetRenderTarget, false},
                      LossPoint{"SceneStates", gpu::GpuCall::SetState, false},
                      LossPoint{"QuadDraw", gpu::GpuCall::DrawPrimitive, false},
                      LossPoint{"Transform", gpu::GpuCall::SetTransform, false},
                      LossPoint{"Clear", gpu::GpuCall::Clear, false},
                      LossPoint{"BindTexture", gpu::GpuCall::SetTexture, false},
                      LossPoint{"Upload", gpu::GpuCall::UpdateTexture, true},
                      LossPoint{"SetShader", gpu::GpuCall::SetShader, false},
                      LossPoint{"ShaderConstants", gpu::GpuCall::SetShaderConstants, false},
                      LossPoint{"EndScene", gpu::GpuCall::EndScene, false},
                      LossPoint{"Present", gpu::GpuCall::Present, false},
                      LossPoint{"CreateTexture", gpu::GpuCall::CreateTexture, true},
                      LossPoint{"CreateVertexList", gpu::GpuCall::CreateVertexBuffer, true},
                      LossPoint{"CreateShader", gpu::GpuCall::CreateShader, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Reset and recreation: a new renderer on a target whose store still has a
// device resets it to the target's new size instead of making another.
TEST(DeviceReuse, RendererOnALiveStoreKeepsItsDevice) {
  TTarget t;
  t.Open(16, 16);
  TDevStore* store = t.Device->FindMessenger<TDevStore>();
  ASSERT_NE(store, nullptr);
  gpu::Device* device = store->Device;
  t.Renderer->Free();
  t.Renderer = nullptr;
  t.Device->SetSize(20, 10);
  t.MakeRenderer();
  EXPECT_EQ(t.Device->FindMessenger<TDevStore>(), store);
  EXPECT_EQ(store->Device, device);
  int32_t w = 0, h = 0;
  t.Back()->GetSize(w, h);
  EXPECT_EQ(w, 20);
  EXPECT_EQ(h, 10);
  t.Close();
}

// A failed device creation hands the renderer to OnRendererLost... or, for
// a renderer nobody listens to, releases it; the store goes with it.
TEST(DeviceReuse, FailedCreationLeavesNoRendererAndNoStore) {
  TTarget t;
  t.Open(8, 8);
  t.Renderer->Free();
  t.Renderer = nullptr;
  if (auto* store = t.Device->FindMessenger<TDevStore>()) {
    t.Device->RemoveMessenger(store);
    store->Free();
  }
  gpu::injectGpuFault(gpu::GpuCall::CreateDevice, gpu::D3DERR_NOTAVAILABLE);
  EXPECT_EQ(t.Engine->CreateRenderer(t.Device, t.Params), nullptr);
  EXPECT_EQ(t.Engine->LastResult, rcLostOrOther);
  EXPECT_EQ(t.Device->FindMessenger<TDevStore>(), nullptr);
  EXPECT_TRUE(t.Device->Renderers.empty());
  t.Close();
}

}  // namespace


namespace {

// After a loss in full screen the next renderer is made windowed once; its
// first scene gives the device back so that the one after it is exclusive.
TEST(FullScreen, WindowedOnceThenBackToExclusive) {
  bool savedExclusive = ExclusiveAllowed.load();
  ExclusiveAllowed = true;
  TTarget t;
  t.Open(16, 16);
  t.Renderer->Free();
  t.Renderer = nullptr;
  t.Device->SetBounds({0, 0, 16, 16}, {0, 0}, true);
  t.Params.Mode.MonitorRect = {0, 0, 24, 12};
  auto* wrapper = t.Device->FindMessenger<TRectangleWrapper>();
  ASSERT_NE(wrapper, nullptr);
  wrapper->WindowedOnce = true;
  auto* windowed = static_cast<T3DRenderer9*>(t.Engine->CreateRenderer(t.Device, t.Params));
  ASSERT_NE(windowed, nullptr);
  EXPECT_FALSE(windowed->Exclusive);
  EXPECT_FALSE(windowed->Active);
  EXPECT_FALSE(wrapper->WindowedOnce);
  int lost = 0;
  windowed->OnRendererLost = [&] { ++lost; };
  EXPECT_FALSE(windowed->BeginScene());
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(windowed->Store, nullptr);
  EXPECT_TRUE(windowed->Active);
  windowed->Free();
  auto* exclusive = static_cast<T3DRenderer9*>(t.Engine->CreateRenderer(t.Device, t.Params));
  ASSERT_NE(exclusive, nullptr);
  EXPECT_TRUE(exclusive->Exclusive);
  EXPECT_TRUE(exclusive->Active);
  int32_t w = 0, h = 0;
  exclusive->BackBuffer->GetSize(w, h);
  EXPECT_EQ(w, 24);  // the monitor's size
  EXPECT_EQ(h, 12);
  EXPECT_TRUE(exclusive->BeginScene());
  EXPECT_TRUE(exclusive->EndScene());
  // A loss while exclusive, with the display still usable: windowed once again.
  gpu::injectGpuFault(gpu::GpuCall::Clear, gpu::D3DERR_DEVICELOST);
  EXPECT_FALSE(exclusive->Clear({}, 0, 0, 0, 1));
  EXPECT_TRUE(wrapper->WindowedOnce);
  exclusive->Free();
  ExclusiveAllowed = savedExclusive;
  t.Close();
}

}  // namespace
