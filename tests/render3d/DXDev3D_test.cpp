// The Direct3D layer on the GL device, read back from the GPU: clears,
// textured and coloured quads with each blend setup, render targets, volume
// textures, staging copies, the odd-sized picture at 1:1, vertex layouts,
// shaders, the result classifier, and the mended faults of textures.
#include "Render3DTestEnv.h"

#include "foundation/kpLog.h"
#include "foundation/kvLog.h"

using namespace render3d;
using namespace render3d_test;
namespace gpu = platform::gpu;

namespace {

class TCaptureLog : public foundation::TLog {
 public:
  std::vector<std::u16string>* Lines = nullptr;
  void Add(const std::u16string& text) override {
    if (Lines) Lines->push_back(text);
  }
};

class DXDev3D : public ::testing::Test {
 protected:
  void SetUp() override { T.Open(kW, kH); }
  void TearDown() override {
    for (auto* o : Owned) o->Free();
    T.Close();
  }
  template <class X>
  X* Own(X* o) {
    if (o) Owned.push_back(o);
    return o;
  }
  uint32_t At(const std::vector<uint32_t>& px, int x, int y) { return px[size_t(y) * kW + x]; }
  void Draw(T3DVertexList* vl, std::vector<TBaseTexture*> tex, TDrawFlags flags) {
    ASSERT_TRUE(T.Renderer->DrawVertexList(tex, static_cast<int32_t>(tex.size()), vl, flags));
  }

  static constexpr int32_t kW = 64, kH = 48;
  TTarget T;
  std::vector<TRefObject*> Owned;
};

TEST_F(DXDev3D, ClearAndReadBackThroughCopyTo) {
  ASSERT_TRUE(T.Renderer->BeginScene());
  ASSERT_TRUE(T.Renderer->Clear({}, 0, 0xFF336699, 0, 1));
  TRect rects[] = {{1, 2, 4, 3}};
  ASSERT_TRUE(T.Renderer->Clear(rects, 1, 0xFFFF0000, 0, 1 | 2));  // bit 2: colour only
  ASSERT_TRUE(T.Renderer->EndScene());
  auto px = ReadBack(T.Back());
  EXPECT_EQ(At(px, 0, 0) & 0xFFFFFF, 0x336699u);
  EXPECT_EQ(At(px, 1, 2) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(At(px, 3, 2) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(At(px, 4, 2) & 0xFFFFFF, 0x336699u);
  EXPECT_EQ(At(px, 1, 3) & 0xFFFFFF, 0x336699u);
  EXPECT_TRUE(T.Renderer->Present(nullptr, nullptr));
  EXPECT_FALSE(T.Renderer->IsFlipEx());
}

// The asymmetric non-power-of-two picture, filled through a level lock and
// drawn at 1:1 through the texel offset: identical to its source.
TEST_F(DXDev3D, OddSizedPictureReadsBackIdentical) {
  const int32_t w = 37, h = 23, ox = 11, oy = 7;
  std::vector<uint32_t> pic(size_t(w) * h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) pic[size_t(y) * w + x] = 0xFF000000u | uint32_t(x * 7) << 16 | uint32_t(y * 9) << 8;
  pic[0] = 0xFFFF0000;
  pic[w - 1] = 0xFF00FF00;
  pic[size_t(h - 1) * w] = 0xFF0000FF;
  pic[size_t(h) * w - 1] = 0xFFFFFFFF;
  T3DTexture* tex = Own(T.Renderer->CreateTexture(tkArgb, w, h, false));
  ASSERT_NE(tex, nullptr);
  ASSERT_TRUE(Fill(tex, w, h, pic));
  tex->SetFilter(1);  // linear: exact only when texel and pixel centres agree
  tex->SetAddressMode(1, 1);
  T3DVertexList* vl = Own(Quad(T.Renderer, ox, oy, ox + w, oy + h, 0xFFFFFFFF));
  ASSERT_TRUE(T.Renderer->BeginScene());
  ASSERT_TRUE(T.Renderer->Clear({}, 0, 0xFF000000, 0, 1));
  Draw(vl, {tex}, dfTextures | dfModulateColor | dfModulateAlpha);
  ASSERT_TRUE(T.Renderer->EndScene());
  auto px = ReadBack(T.Back());
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < kW; ++x) {
      bool in = x >= ox && x < ox + w && y >= oy && y < oy + h;
      ASSERT_EQ(At(px, x, y) & 0xFFFFFF, (in ? pic[size_t(y - oy) * w + (x - ox)] : 0u) & 0xFFFFFF) << x << "," << y;
    }
}

struct BlendCase {
  const char* name;
  TBlendMode mode;
  bool premultipliedTexture;
  bool premultipliedTarget;
  uint32_t texel, target, expected;
};

class DXBlend : public DXDev3D, public ::testing::WithParamInterface<BlendCase> {};

// Each blend setup the renderer composes, drawn into a render-target texture
// and checked against the formula by hand (one step of rounding allowed).
TEST_P(DXBlend, DrawVertexListComposes) {
  const BlendCase& c = GetParam();
  T3DTexture* rt = Own(T.Renderer->CreateTexture(tkTargetArgb, 8, 8, false));
  ASSERT_NE(rt, nullptr);
  rt->Premultiplied = c.premultipliedTarget;
  T3DTexture* tex = Own(T.Renderer->CreateTexture(tkArgb, 1, 1, false));
  ASSERT_TRUE(Fill(tex, 1, 1, {c.texel}));
  tex->Premultiplied = c.premultipliedTexture;
  T3DVertexList* vl = Own(Quad(T.Renderer, 0, 0, 8, 8, 0xFFFFFFFF));
  ASSERT_TRUE(T.Renderer->BeginScene());
  ASSERT_TRUE(T.Renderer->SetRenderTarget(rt->GetSurface(0)));
  auto proj = PixelProjection(8, 8);
  T.Renderer->SetTransform(2, proj.data());
  ASSERT_TRUE(T.Renderer->Clear({}, 0, c.target, 0, 1));
  T.Renderer->SetBlendMode(c.mode);
  Draw(vl, {tex}, dfTextures | dfModulateColor | dfModulateAlpha);
  ASSERT_TRUE(T.Renderer->EndScene());
  uint32_t got = ReadBack(rt->GetSurface(0))[3 * 8 + 3];
  for (int shift = 0; shift < 32; shift += 8)
    EXPECT_NEAR(int((got >> shift) & 255), int((c.expected >> shift) & 255), 1) << c.name << " shift " << shift;
}

INSTANTIATE_TEST_SUITE_P(
    Setups, DXBlend,
    ::testing::Values(
        // straight source (a = 128/255) over opaque blue: colour (128,0,127), alpha 128a + 255(1-a) = 191
        BlendCase{"straight", bmNormal, false, false, 0x80FF0000, 0xFF0000FF, 0xBF80007F},
        // premultiplied source: ONE, INVSRCALPHA: (128,0,0) + (1-a)(0,0,255); alpha 128 + 127 = 255
        BlendCase{"premultiplied", bmNormal, true, false, 0x80800000, 0xFF0000FF, 0xFF80007F},
        // straight source into a premultiplied target: separate alpha, alpha ONE/INVSRCALPHA over alpha 0
        BlendCase{"into_premultiplied_target", bmNormal, false, true, 0x80FF0000, 0x00000000, 0x80800000},
        // separate alpha by mode, over opaque: alpha 128 + 255 * 127/255 = 255
        BlendCase{"separate_mode", bmSeparateAlpha, false, false, 0x80FF0000, 0xFF0000FF, 0xFF80007F},
        // max: channel maxima; the premultiplied flag does not apply
        BlendCase{"max", bmMax, true, false, 0x40208010, 0x80104020, 0x80208020}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DXDev3D, UntexturedDrawUsesVertexColourAndAlpha) {
  T3DVertexList* vl = Own(Quad(T.Renderer, 0, 0, 4, 4, 0x80FF0000));
  ASSERT_TRUE(T.Renderer->BeginScene());
  ASSERT_TRUE(T.Renderer->Clear({}, 0, 0xFF0000FF, 0, 1));
  Draw(vl, {}, dfModulateColor | dfModulateAlpha);
  ASSERT_TRUE(T.Renderer->EndScene());
  uint32_t got = ReadBack(T.Back())[size_t(kW) + 1];
  EXPECT_NEAR(int((got >> 16) & 255), 128, 1);
  EXPECT_NEAR(int(got & 255), 127, 1);
}

TEST_F(DXDev3D, RenderTargetTexturesCopyAndDrawTopDown) {
  T3DTexture* rt = Own(T.Renderer->CreateTexture(tkTargetXrgb, 6, 4, false));
  ASSERT_NE(rt, nullptr);
  T3DSurface* s = rt->GetSurface(0);
  ASSERT_NE(dynamic_cast<T3DSurfaceRT*>(s), nullptr);
  ASSERT_TRUE(T.Renderer->BeginScene());
  ASSERT_TRUE(T.Renderer->SetRenderTarget(s));
  EXPECT_EQ(T.Renderer->GetRenderTarget(), s);
  ASSERT_TRUE(T.Renderer->Clear({}, 0, 0xFF00FF00, 0, 1));
  TRect top[] = {{0, 0, 6, 1}};
  ASSERT_TRUE(T.Renderer->Clear(top, 1, 0xFFFF0000, 0, 1));
  EXPECT_FALSE(T.Renderer->SetRenderTarget(nullptr));
  EXPECT_EQ(T.Renderer->GetRenderTarget(), s);
  T3DSurface* back = T.Back();
  ASSERT_TRUE(T.Renderer->SetRenderTarget(back));
  ASSERT_TRUE(T.Renderer->Clear({}, 0, 0xFF000000, 0, 1));
  TRect src[] = {{0, 0, 6, 4}}, dst[] = {{10, 20, 16, 24}};
  ASSERT_TRUE(T.Renderer->CopySurface(s, back, src, dst, 1));
  ASSERT_TRUE(T.Renderer->EndScene());
  auto px = ReadBack(back);
  EXPECT_EQ(At(px, 10, 20) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(At(px, 15, 21) & 0xFFFFFF, 0x00FF00u);
  EXPECT_EQ(At(px, 15, 23) & 0xFFFFFF, 0x00FF00u);
  EXPECT_EQ(At(px, 10, 24) & 0xFFFFFF, 0u);
  auto own = ReadBack(s);
  EXPECT_EQ(own[0] & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(own[6] & 0xFFFFFF, 0x00FF00u);
}

TEST_F(DXDev3D, VolumeLockPresentsSlicesAsRowsAndReachesTheShader) {
  TVolumeTexture* vol = Own(T.Renderer->CreateVolumeTexture(4, 3, 2));
  ASSERT_NE(vol, nullptr);
  EXPECT_EQ(vol->GetLevelCount(), 1);
  imaging::TBitmap* bmp = vol->Lock(0, 0, 0, 0, 4, 3, 2);
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(bmp->Width, 4);
  EXPECT_EQ(bmp->Height, 6);
  auto* sys = static_cast<imaging::TSysBitmap*>(bmp);
  for (int r = 0; r < 6; ++r)
    for (int x = 0; x < 4; ++x) {
      uint32_t c = r < 3 ? 0xFF0000FFu : 0xFFFF0000u;  // slice 0 blue, slice 1 red
      std::memcpy(sys->Row(r) + x * 4, &c, 4);
    }
  ASSERT_TRUE(vol->Unlock(0, bmp));
  std::string src = "void main() { fragColor = texture(v0, vec3(0.5, 0.5, c[0].x)); }";
  std::string code(4, '\0');
  uint32_t len = static_cast<uint32_t>(src.size());
  std::memcpy(code.data(), &len, 4);
  code += src;
  T3DShader* sh = Own(T.Renderer->CreateShader(code, false));
  ASSERT_NE(sh, nullptr);
  T3DVertexList* vl = Own(Quad(T.Renderer, 0, 0, 4, 4, 0xFFFFFFFF));
  for (float z : {0.25f, 0.75f}) {
    ASSERT_TRUE(T.Renderer->BeginScene());
    ASSERT_TRUE(T.Renderer->SetTexture(0, vol));
    ASSERT_TRUE(T.Renderer->SetShader(sh));
    float c[4] = {z, 0, 0, 0};
    ASSERT_TRUE(T.Renderer->SetShaderConstants(0, c, 1, false));
    // The volume texture in the array leaves its stage as SetTexture set it.
    TBaseTexture* arr[] = {vol};
    ASSERT_TRUE(T.Renderer->DrawVertexList(arr, 1, vl, dfTextures));
    ASSERT_TRUE(T.Renderer->SetShader(nullptr));
    ASSERT_TRUE(T.Renderer->EndScene());
    EXPECT_EQ(ReadBack(T.Back())[size_t(kW) + 1] & 0xFFFFFF, z < 0.5f ? 0x0000FFu : 0xFF0000u);
  }
}

TEST_F(DXDev3D, VertexListLayouts) {
  struct {
    TVertexComponents comps;
    int32_t sets;
    uint32_t fvf;
    int32_t stride, diffuse, tex;
  } cases[] = {{vcDiffuse, 2, 0x242, 32, 12, 16}, {vcDiffuse, 1, 0x142, 24, 12, 16},
               {vcNormal | vcDiffuse | vcSpecular, 0, 0x0D2, 32, 24, 32}, {0, 8, 0x802, 76, 0, 12}};
  for (auto& c : cases) {
    auto* vl = static_cast<T3DVertexList9*>(Own(T.Renderer->CreateVertexList(16, c.comps, c.sets)));
    ASSERT_NE(vl, nullptr);
    EXPECT_EQ(vl->FVF, c.fvf);
    EXPECT_EQ(vl->Stride, c.stride);
    if (c.comps & vcDiffuse) {
      EXPECT_EQ(vl->DiffuseOffset, c.diffuse);
    }
    EXPECT_EQ(vl->TexOffset, c.tex);
  }
}

// Vertices written from slot 10 land in slots 10 onwards: drawn from there
// they cover the pixels the list says; slots 0..9 stay unused.
TEST_F(DXDev3D, SetVerticesWritesFromTheDestinationSlot) {
  T3DVertexList* vl = Own(T.Renderer->CreateVertexList(14, vcDiffuse, 0));
  std::vector<T3DVertex> v = {Vertex(-1, -1, 0xFF00FF00, 0, 0), Vertex(-0.5f, -0.5f, 0xFFFF0000, 0, 0),
                              Vertex(9.5f, -0.5f, 0xFFFF0000, 0, 0), Vertex(-0.5f, 9.5f, 0xFFFF0000, 0, 0),
                              Vertex(9.5f, 9.5f, 0xFFFF0000, 0, 0)};
  ASSERT_TRUE(vl->SetVertices(10, v, 1, 4));
  ASSERT_TRUE(vl->SetFormat(10, 2, pkTriangleStrip));
  ASSERT_TRUE(T.Renderer->BeginScene());
  ASSERT_TRUE(T.Renderer->Clear({}, 0, 0xFF000000, 0, 1));
  Draw(vl, {}, dfModulateColor | dfModulateAlpha);
  ASSERT_TRUE(T.Renderer->EndScene());
  auto px = ReadBack(T.Back());
  EXPECT_EQ(At(px, 0, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(At(px, 9, 0) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(At(px, 10, 0) & 0xFFFFFF, 0u);
}

TEST_F(DXDev3D, StagingCopiesAreSharedByKeyAndAlwaysSystemMemory) {
  auto* a = static_cast<T3DTexture9*>(Own(T.Renderer->CreateTexture(tkArgb, 5, 3, false)));
  auto* b = static_cast<T3DTexture9*>(Own(T.Renderer->CreateTexture(tkArgb, 5, 3, false)));
  ASSERT_TRUE(Fill(a, 5, 3, std::vector<uint32_t>(15, 0xFF112233)));
  T3DTexture9* staging = a->Staging;
  ASSERT_NE(staging, nullptr);
  EXPECT_EQ(staging->Pool, uint32_t(gpu::D3DPOOL_SYSTEMMEM));
  ASSERT_TRUE(T.Renderer->SetTexture(0, a));  // uploads; the copy goes back to the pool
  EXPECT_EQ(a->Staging, nullptr);
  EXPECT_FALSE(a->Dirty);
  ASSERT_TRUE(Fill(b, 5, 3, std::vector<uint32_t>(15, 0xFF445566)));
  EXPECT_EQ(b->Staging, staging);  // the same pooled copy, reused
  // A render target's level locks through a plain system-memory copy of its
  // kind's format: no staging copy of a staging copy.
  auto* rt = static_cast<T3DTexture9*>(Own(T.Renderer->CreateTexture(tkTargetArgb, 4, 4, false)));
  imaging::TBitmap* bmp = rt->GetSurface(0)->Lock({0, 0, 4, 4}, true);
  ASSERT_NE(bmp, nullptr);
  ASSERT_NE(rt->Staging, nullptr);
  EXPECT_EQ(rt->Staging->Pool, uint32_t(gpu::D3DPOOL_SYSTEMMEM));
  EXPECT_EQ(rt->Staging->Staging, nullptr);
  EXPECT_EQ(dynamic_cast<T3DSurfaceRT*>(rt->Staging->GetSurface(0)), nullptr);
  EXPECT_TRUE(rt->GetSurface(0)->Unlock(bmp));
  EXPECT_EQ(bmp, nullptr);
}

TEST_F(DXDev3D, MipChainOnlyWithAnisotropyAndWideTargetsFollowTheAdapter) {
  auto* store = T.Renderer->Store;
  ASSERT_NE(store, nullptr);
  T3DTexture* mip = Own(T.Renderer->CreateTexture(tkArgb, 37, 23, true));
  EXPECT_EQ(mip->GetLevelCount(), store->Anisotropy ? 6 : 1);
  store->Anisotropy = !store->Anisotropy;
  T3DTexture* other = Own(T.Renderer->CreateTexture(tkArgb, 37, 23, true));
  EXPECT_EQ(other->GetLevelCount(), store->Anisotropy ? 6 : 1);
  T3DTexture* wide = Own(T.Renderer->CreateTexture(tkTargetWide, 4, 4, false));
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->GetSurface(0)->GetPixelFormat(),
            imaging::PixelFormatByName(T.Engine->WideTargets ? u"A16R16G16B16" : u"A8R8G8B8"));
}

TEST_F(DXDev3D, SurfaceWithoutDeviceObjectIsEmpty) {
  T3DSurface9* s = new T3DSurface9();
  int32_t w = 1, h = 1;
  s->GetSize(w, h);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(s->Lock({0, 0, 1, 1}, true), nullptr);
  s->Free();
}

TEST_F(DXDev3D, ClassifierAndItsLogLines) {
  std::vector<std::u16string> lines;
  auto* log = new TCaptureLog();
  log->Lines = &lines;
  foundation::SetLog(log);
  struct {
    gpu::HRESULT code;
    uint8_t cls, lost;
  } cases[] = {{gpu::S_OK, 0, 0},
               {gpu::S_PRESENT_OCCLUDED, 0, 0},
               {gpu::S_PRESENT_MODE_CHANGED, 0, 0},
               {gpu::E_NOTIMPL, 1, 0},
               {gpu::D3DERR_INVALIDCALL, 1, 0},
               {gpu::D3DERR_OUTOFVIDEOMEMORY, 2, 0},
               {gpu::D3DERR_DEVICELOST, 3, 2},
               {gpu::D3DERR_DEVICENOTRESET, 3, 0},
               {gpu::E_FAIL, 3, 0}};
  for (auto& c : cases) {
    uint8_t lost = 9;
    EXPECT_EQ(CheckDxResult(c.code, lost), c.cls) << c.code;
    EXPECT_EQ(lost, c.lost) << c.code;
  }
  foundation::SetLog(nullptr);
  ASSERT_EQ(lines.size(), 6u);  // the three successes write nothing
  EXPECT_EQ(lines[1], u"Dx Error = -2005530516  $FFFFFFFF8876086C");
}

TEST_F(DXDev3D, EngineCapabilitiesByName) {
  EXPECT_EQ(T.Engine->GetCapsValue(u"PIXELSHADERVERSION", 0), T.Engine->GetCapsValue(u"pixelshaderversion", 0));
  EXPECT_EQ(T.Engine->GetCapsValue(u"PixelShaderVersion", 0), gpu::psVersion(3, 0));
  EXPECT_EQ(T.Engine->GetCapsValue(u"nonsense", 0), 0u);
  EXPECT_GE(T.Engine->GetCapsValue(u"MaxTexWidth", 0), 4096u);
  EXPECT_FALSE(T.Engine->GetCapsText(u"Vendor", 0).empty());
  EXPECT_TRUE(T.Engine->GetCapsText(u"deviceid", 0).empty());
  EXPECT_EQ(T.Engine->GetShaderLevel(0), 2);
  EXPECT_EQ(T.Engine->AdapterFromRect({-5000, -5000, -4000, -4000}), 0u);
  EXPECT_TRUE(T.Engine->CheckDevice());
  EXPECT_TRUE(IsHardwareAccelerated());
  gpu::injectGpuFault(gpu::GpuCall::CheckDeviceState, gpu::S_PRESENT_OCCLUDED);
  EXPECT_FALSE(T.Engine->CheckDevice());
  SetSessionLockedHook([] { return true; });
  EXPECT_FALSE(T.Engine->CheckDevice());
  SetSessionLockedHook(nullptr);
  EXPECT_TRUE(T.Engine->CheckDevice());
}

TEST_F(DXDev3D, NoThreeDimensionalAdapterWhenAskedNot) {
  setenv("QEL_NO_3D", "1", 1);
  EXPECT_FALSE(IsHardwareAccelerated());
  EXPECT_EQ(CreateDXEngine(), nullptr);
  unsetenv("QEL_NO_3D");
  EXPECT_TRUE(IsHardwareAccelerated());
}

// A writer still holds a level lock while the texture is released: the
// texture, its surfaces and the staging copy live until the unlock.
TEST_F(DXDev3D, TextureReleasedWhileALevelIsLocked) {
  T3DTexture* tex = T.Renderer->CreateTexture(tkArgb, 4, 4, false);
  ASSERT_NE(tex, nullptr);
  T3DSurface* s = tex->GetSurface(0);
  imaging::TBitmap* bmp = s->Lock({0, 0, 4, 4}, false);
  ASSERT_NE(bmp, nullptr);
  int before = foundation::LiveObjectCount();
  tex->Free();  // the owner lets go
  EXPECT_EQ(foundation::LiveObjectCount(), before);
  auto* sys = static_cast<imaging::TSysBitmap*>(bmp);
  std::memset(sys->Row(3), 0x7F, 16);  // still writable
  EXPECT_TRUE(s->Unlock(bmp));
  EXPECT_LT(foundation::LiveObjectCount(), before);
}

// The store goes (device lost) while a writer holds a level lock: the
// unlock finds its staging copy, marks nothing dirty and frees the copy.
TEST_F(DXDev3D, StoreDisposedWhileALevelIsLocked) {
  auto* tex = static_cast<T3DTexture9*>(Own(T.Renderer->CreateTexture(tkArgb, 4, 4, false)));
  bool released = false;
  tex->OnRelease = [&] { released = true; };
  T3DSurface* s = tex->GetSurface(0);
  imaging::TBitmap* bmp = s->Lock({0, 0, 4, 4}, false);
  ASSERT_NE(bmp, nullptr);
  gpu::injectGpuFault(gpu::GpuCall::Clear, gpu::D3DERR_DEVICELOST);
  EXPECT_FALSE(T.Renderer->Clear({}, 0, 0, 0, 1));
  EXPECT_TRUE(released);
  EXPECT_EQ(T.Renderer->Store, nullptr);
  ASSERT_NE(tex->Staging, nullptr);  // kept for the writer
  std::memset(static_cast<imaging::TSysBitmap*>(bmp)->Row(0), 0x11, 16);
  EXPECT_TRUE(s->Unlock(bmp));
  EXPECT_FALSE(tex->Dirty);
  EXPECT_EQ(tex->Staging, nullptr);
}

// Creation runs in the renderer's frame: out-of-memory reaches LastResult,
// a loss reaches State and releases the store.
TEST_F(DXDev3D, TextureCreationAnswersReachTheRenderer) {
  gpu::injectGpuFault(gpu::GpuCall::CreateTexture, gpu::D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(T.Renderer->CreateTexture(tkTargetArgb, 8, 8, false), nullptr);
  EXPECT_EQ(T.Renderer->LastResult, rcOutOfVideoMemory);
  EXPECT_EQ(T.Renderer->State, rsReady);
  gpu::injectGpuFault(gpu::GpuCall::CreateVolumeTexture, gpu::D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(T.Renderer->CreateVolumeTexture(4, 4, 4), nullptr);
  EXPECT_EQ(T.Renderer->LastResult, rcOutOfVideoMemory);
  bool lost = false;
  T.Renderer->OnRendererLost = [&] { lost = true; };
  gpu::injectGpuFault(gpu::GpuCall::CreateTexture, gpu::D3DERR_DEVICELOST);
  EXPECT_EQ(T.Renderer->CreateTexture(tkArgb, 8, 8, false), nullptr);
  EXPECT_TRUE(lost);
  EXPECT_EQ(T.Renderer->State, rsLost);
  EXPECT_EQ(T.Renderer->Store, nullptr);
  // Operations after the store is gone answer at once.
  EXPECT_FALSE(T.Renderer->BeginScene());
  EXPECT_FALSE(T.Renderer->Present(nullptr, nullptr));
  EXPECT_EQ(T.Renderer->State, rsLost);
}

TEST_F(DXDev3D, ShadersAndTheirLengthPrefix) {
  std::string src = "void main() { fragColor = c[2]; }";
  std::string code(4, '\0');
  uint32_t len = static_cast<uint32_t>(src.size());
  std::memcpy(code.data(), &len, 4);
  code += src + "trailing bytes beyond the length";
  auto* sh = static_cast<T3DShader9*>(Own(T.Renderer->CreateShader(code, false)));
  ASSERT_NE(sh, nullptr);
  EXPECT_NE(sh->PixelShader, nullptr);
  EXPECT_EQ(T.Renderer->CreateShader(code, true), nullptr);  // no vertex shaders on this layer
  EXPECT_EQ(T.Renderer->LastResult, rcInvalidCall);
  T3DVertexList* vl = Own(Quad(T.Renderer, 0, 0, 4, 4, 0xFFFFFFFF));
  ASSERT_TRUE(T.Renderer->BeginScene());
  ASSERT_TRUE(T.Renderer->SetShader(sh));
  float c[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0.0f, 1.0f, 0.0f, 1.0f};
  ASSERT_TRUE(T.Renderer->SetShaderConstants(0, c, 3, false));
  Draw(vl, {}, dfModulateColor | dfModulateAlpha);
  ASSERT_TRUE(T.Renderer->SetShader(nullptr));
  Draw(vl, {}, 0);  // back to the fixed stages: no texture, the vertex colour
  ASSERT_TRUE(T.Renderer->EndScene());
  EXPECT_EQ(ReadBack(T.Back())[size_t(kW) + 1] & 0xFFFFFF, 0xFFFFFFu);
  ASSERT_TRUE(T.Renderer->BeginScene());
  ASSERT_TRUE(T.Renderer->SetShader(sh));
  Draw(vl, {}, dfModulateColor | dfModulateAlpha);
  ASSERT_TRUE(T.Renderer->EndScene());
  EXPECT_EQ(ReadBack(T.Back())[size_t(kW) + 1] & 0xFFFFFF, 0x00FF00u);
  T.Renderer->SetShader(nullptr);
}

TEST_F(DXDev3D, PanelForwardsMouseInTheTargetsCoordinates) {
  auto* panel = T.Device->FindMessenger<TWinPanel>();
  ASSERT_NE(panel, nullptr);
  panel->SetBoundsRect({100, 50, 200, 150});
  std::vector<std::pair<uint32_t, intptr_t>> sent;
  SetSendMessageHook([&](uintptr_t, uint32_t msg, uintptr_t, intptr_t l) {
    sent.push_back({msg, l});
    return intptr_t(7);
  });
  EXPECT_EQ(panel->WndProc(0x0201, 1, (20 << 16) | 10), 7);
  EXPECT_EQ(panel->WndProc(0x020A, 0, (300 << 16) | 400), 7);  // the wheel's screen point passes unchanged
  int painted = 0;
  T.Device->OnPaint = [&](TRefObject* sender) { painted += sender == T.Device; };
  EXPECT_TRUE(panel->Unpainted);
  EXPECT_EQ(panel->WndProc(0x000F, 0, 0), 1);
  EXPECT_FALSE(panel->Unpainted);
  SetSendMessageHook(nullptr);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].second, (70 << 16) | 110);
  EXPECT_EQ(sent[1].second, (300 << 16) | 400);
  EXPECT_EQ(painted, 1);
}

}  // namespace
