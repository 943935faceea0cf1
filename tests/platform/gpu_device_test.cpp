// The GL device read back from the GPU: clears, uploads, the pixel-centre and
// row-order conventions, blend setups, render targets, volume textures,
// pixel shaders, culling and fault injection. Runs on SDL's offscreen video
// driver (EGL on llvmpipe) wherever no driver is chosen.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/gpu/api.h"
#include "platform/gpu/testing/GpuFaults.h"

using namespace platform::gpu;

namespace {

struct V {  // XYZ | DIFFUSE | TEX1
  float x, y, z;
  uint32_t color;
  float u, v;
};

// Maps pixel coordinates (x right, y down) to Direct3D's device coordinates.
Matrix pixelProjection(float w, float h) {
  Matrix m;
  float v[16] = {2 / w, 0, 0, 0, 0, -2 / h, 0, 0, 0, 0, 1, 0, -1, 1, 0, 1};
  std::memcpy(m.m, v, sizeof v);
  return m;
}

class GpuDevice : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setGpuBackend(offscreenGpuBackend());
  }

  void SetUp() override {
    clearGpuFaults();
    d3d = direct3DCreate9Ex(D3D_SDK_VERSION);
    ASSERT_NE(d3d, nullptr) << "no GL 3.3 core context";
    PresentParameters pp;
    pp.backBufferWidth = kW;
    pp.backBufferHeight = kH;
    pp.backBufferFormat = D3DFMT_X8R8G8B8;
    pp.backBufferCount = 1;
    pp.swapEffect = D3DSWAPEFFECT_COPY;
    pp.windowed = true;
    ASSERT_EQ(d3d->createDeviceEx(0, D3DDEVTYPE_HAL, 0, 0x26, pp, nullptr, &dev), S_OK);
    ASSERT_EQ(dev->getBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), S_OK);
    ASSERT_EQ(dev->setTransform(D3DTS_PROJECTION, pixelProjection(kW, kH)), S_OK);
    ASSERT_EQ(dev->setRenderState(D3DRS_LIGHTING, 0), S_OK);
    ASSERT_EQ(dev->setRenderState(D3DRS_CULLMODE, D3DCULL_NONE), S_OK);
  }

  void TearDown() override {
    clearGpuFaults();
    if (vb) vb->release();
    if (back) back->release();
    if (dev) dev->release();
    if (d3d) d3d->release();
  }

  // The target's pixels, 0xAARRGGBB, rows from the top.
  std::vector<uint32_t> readBack(Surface* target) {
    SurfaceDesc desc;
    target->getDesc(desc);
    Surface* copy = nullptr;
    EXPECT_EQ(dev->createOffscreenPlainSurface(desc.width, desc.height, desc.format, D3DPOOL_SYSTEMMEM, &copy), S_OK);
    EXPECT_EQ(dev->getRenderTargetData(target, copy), S_OK);
    LockedRect lr;
    EXPECT_EQ(copy->lockRect(lr, nullptr, D3DLOCK_READONLY), S_OK);
    std::vector<uint32_t> px(size_t(desc.width) * desc.height);
    for (uint32_t y = 0; y < desc.height; ++y)
      std::memcpy(&px[y * desc.width], static_cast<uint8_t*>(lr.bits) + size_t(y) * lr.pitch, desc.width * 4);
    copy->unlockRect();
    copy->release();
    return px;
  }

  void draw(const std::vector<V>& verts, uint32_t type, uint32_t prims) {
    if (vb) vb->release();
    vb = nullptr;
    uint32_t bytes = static_cast<uint32_t>(verts.size() * sizeof(V));
    ASSERT_EQ(dev->createVertexBuffer(bytes, 0, D3DFVF_XYZ | D3DFVF_DIFFUSE | 0x100, D3DPOOL_DEFAULT, &vb), S_OK);
    void* p = nullptr;
    ASSERT_EQ(vb->lock(0, bytes, &p, 0), S_OK);
    std::memcpy(p, verts.data(), bytes);
    ASSERT_EQ(vb->unlock(), S_OK);
    ASSERT_EQ(dev->setFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE | 0x100), S_OK);
    ASSERT_EQ(dev->setStreamSource(0, vb, 0, sizeof(V)), S_OK);
    ASSERT_EQ(dev->drawPrimitive(type, 0, prims), S_OK);
  }

  // A quad over pixels [x0, x1) x [y0, y1) in Direct3D's convention: edges
  // half a pixel before the centres.
  void quad(float x0, float y0, float x1, float y1, uint32_t color) {
    draw({{x0 - 0.5f, y0 - 0.5f, 0, color, 0, 0},
          {x1 - 0.5f, y0 - 0.5f, 0, color, 1, 0},
          {x0 - 0.5f, y1 - 0.5f, 0, color, 0, 1},
          {x1 - 0.5f, y1 - 0.5f, 0, color, 1, 1}},
         D3DPT_TRIANGLESTRIP, 2);
  }

  void setStraightBlend() {
    dev->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
    dev->setRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->setRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    dev->setRenderState(D3DRS_SEPARATEALPHABLENDENABLE, 0);
    dev->setRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
  }

  // A default-pool texture filled through a system-memory copy.
  Texture* uploadTexture(uint32_t w, uint32_t h, const std::vector<uint32_t>& argb) {
    Texture* sys = nullptr;
    Texture* tex = nullptr;
    EXPECT_EQ(dev->createTexture(w, h, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &sys), S_OK);
    EXPECT_EQ(dev->createTexture(w, h, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &tex), S_OK);
    Surface* s = nullptr;
    EXPECT_EQ(sys->getSurfaceLevel(0, &s), S_OK);
    LockedRect lr;
    EXPECT_EQ(s->lockRect(lr, nullptr, 0), S_OK);
    for (uint32_t y = 0; y < h; ++y)
      std::memcpy(static_cast<uint8_t*>(lr.bits) + size_t(y) * lr.pitch, &argb[y * w], w * 4);
    EXPECT_EQ(s->unlockRect(), S_OK);
    s->release();
    EXPECT_EQ(dev->updateTexture(sys, tex), S_OK);
    sys->release();
    return tex;
  }

  static constexpr uint32_t kW = 64, kH = 48;
  Direct3D* d3d = nullptr;
  Device* dev = nullptr;
  Surface* back = nullptr;
  VertexBuffer* vb = nullptr;
};

TEST_F(GpuDevice, ClearWholeTargetAndRectanglesCountRowsFromTheTop) {
  ASSERT_EQ(dev->clear(0, nullptr, D3DCLEAR_TARGET, 0xFF102030, 0, 0), S_OK);
  Rect r{2, 0, 6, 3};  // the top three rows, columns 2..5
  ASSERT_EQ(dev->clear(1, &r, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFF0000, 1, 0), S_OK);
  auto px = readBack(back);
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) {
      bool inRect = x >= 2 && x < 6 && y < 3;
      ASSERT_EQ(px[y * kW + x] & 0xFFFFFF, inRect ? 0xFF0000u : 0x102030u) << x << "," << y;
    }
}

TEST_F(GpuDevice, ClearHonoursTheViewport) {
  ASSERT_EQ(dev->clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 0, 0), S_OK);
  ASSERT_EQ(dev->setViewport({10, 20, 5, 4, 0, 1}), S_OK);
  ASSERT_EQ(dev->clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 0, 0), S_OK);
  auto px = readBack(back);
  int green = 0;
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x)
      if ((px[y * kW + x] & 0xFFFFFF) == 0x00FF00) {
        ++green;
        EXPECT_TRUE(x >= 10 && x < 15 && y >= 20 && y < 24) << x << "," << y;
      }
  EXPECT_EQ(green, 20);
}

// An asymmetric picture of odd size, a distinct colour in each corner, drawn
// at 1:1 with linear filtering: equal to its source only when pixel centres,
// texel centres and row order all agree.
TEST_F(GpuDevice, OddSizedPictureDrawnAtOneToOneReadsBackIdentical) {
  const uint32_t w = 37, h = 23, ox = 5, oy = 9;
  std::vector<uint32_t> pic(w * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) pic[y * w + x] = 0xFF000000u | (x * 6) << 16 | (y * 11) << 8 | ((x + y) * 3);
  pic[0] = 0xFFFF0000;
  pic[w - 1] = 0xFF00FF00;
  pic[(h - 1) * w] = 0xFF0000FF;
  pic[h * w - 1] = 0xFFFFFFFF;
  Texture* tex = uploadTexture(w, h, pic);
  ASSERT_EQ(dev->clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 0, 0), S_OK);
  dev->setRenderState(D3DRS_ALPHABLENDENABLE, 0);
  dev->setTexture(0, tex);
  dev->setSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  dev->setSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  dev->setSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
  dev->setSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
  dev->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  dev->setTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  quad(ox, oy, ox + w, oy + h, 0xFFFFFFFF);
  auto px = readBack(back);
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) {
      bool inside = x >= ox && x < ox + w && y >= oy && y < oy + h;
      uint32_t want = inside ? pic[(y - oy) * w + (x - ox)] : 0xFF000000u;
      ASSERT_EQ(px[y * kW + x] & 0xFFFFFF, want & 0xFFFFFF) << x << "," << y;
    }
  dev->setTexture(0, nullptr);
  tex->release();
}

struct BlendCase {
  const char* name;
  uint32_t src, dest, op;
  bool separate;
  uint32_t srcAlpha, destAlpha;
  uint32_t vertex;  // the drawn colour
  uint32_t target;  // the cleared colour
  uint32_t expected;
};

class GpuBlend : public GpuDevice, public ::testing::WithParamInterface<BlendCase> {};

// The setups the renderer composes, against the blend formula worked by hand
// (byte results within one step of rounding).
TEST_P(GpuBlend, ComposesAsTheFormulaSays) {
  const BlendCase& c = GetParam();
  Texture* rt = nullptr;
  ASSERT_EQ(dev->createTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &rt), S_OK);
  Surface* s = nullptr;
  ASSERT_EQ(rt->getSurfaceLevel(0, &s), S_OK);
  ASSERT_EQ(dev->setRenderTarget(0, s), S_OK);
  dev->setTransform(D3DTS_PROJECTION, pixelProjection(16, 16));
  ASSERT_EQ(dev->clear(0, nullptr, D3DCLEAR_TARGET, c.target, 0, 0), S_OK);
  dev->setRenderState(D3DRS_ALPHABLENDENABLE, 1);
  dev->setRenderState(D3DRS_SRCBLEND, c.src);
  dev->setRenderState(D3DRS_DESTBLEND, c.dest);
  dev->setRenderState(D3DRS_BLENDOP, c.op);
  dev->setRenderState(D3DRS_SEPARATEALPHABLENDENABLE, c.separate);
  dev->setRenderState(D3DRS_SRCBLENDALPHA, c.srcAlpha);
  dev->setRenderState(D3DRS_DESTBLENDALPHA, c.destAlpha);
  dev->setRenderState(D3DRS_BLENDOPALPHA, D3DBLENDOP_ADD);
  quad(0, 0, 16, 16, c.vertex);
  auto px = readBack(s);
  for (int shift = 0; shift < 32; shift += 8) {
    int got = (px[5 * 16 + 7] >> shift) & 255, want = (c.expected >> shift) & 255;
    EXPECT_NEAR(got, want, 1) << c.name << " channel shift " << shift;
  }
  s->release();
  rt->release();
}

INSTANTIATE_TEST_SUITE_P(
    Setups, GpuBlend,
    ::testing::Values(
        // straight, a = 128/255: colour a * (255,0,0) + (1 - a) * (0,0,255) = (128,0,127);
        // alpha a * 128 + (1 - a) * 255 = 191
        BlendCase{"straight", D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD, false, 0, 0, 0x80FF0000,
                  0xFF0000FF, 0xBF80007F},
        // premultiplied source (ONE, INVSRCALPHA): (128,0,0) + 0.498 * (0,0,255)
        BlendCase{"premultiplied", D3DBLEND_ONE, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD, false, 0, 0, 0x80800000,
                  0xFF0000FF, 0xFF80007F},
        // separate alpha: colour straight, alpha ONE/INVSRCALPHA: 128 + 255*127/255 = 255; target alpha 0
        BlendCase{"separate", D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_ADD, true, D3DBLEND_ONE,
                  D3DBLEND_INVSRCALPHA, 0x80FF0000, 0x000000FF, 0x8080007F},
        // max: per channel maximum of source and target
        BlendCase{"max", D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, D3DBLENDOP_MAX, false, 0, 0, 0x40208010,
                  0x80104020, 0x80208020}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GpuDevice, RenderTargetTextureIsSampledAndCopiedTopDown) {
  Texture* rt = nullptr;
  ASSERT_EQ(dev->createTexture(8, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &rt), S_OK);
  EXPECT_EQ(rt->getLevelCount(), 1u);
  Surface* s = nullptr;
  ASSERT_EQ(rt->getSurfaceLevel(0, &s), S_OK);
  ASSERT_EQ(dev->setRenderTarget(0, s), S_OK);
  ASSERT_EQ(dev->clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 0, 0), S_OK);
  Rect top{0, 0, 8, 1};
  ASSERT_EQ(dev->clear(1, &top, D3DCLEAR_TARGET, 0xFFFF0000, 0, 0), S_OK);
  // Copy it into the back buffer at (20, 10), doubled in size.
  ASSERT_EQ(dev->setRenderTarget(0, back), S_OK);
  ASSERT_EQ(dev->clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 0, 0), S_OK);
  Rect src{0, 0, 8, 4}, dst{20, 10, 36, 18};
  ASSERT_EQ(dev->stretchRect(s, &src, back, &dst, D3DTEXF_NONE), S_OK);
  EXPECT_EQ(dev->stretchRect(s, &src, s, &dst, D3DTEXF_NONE), D3DERR_INVALIDCALL);
  auto px = readBack(back);
  EXPECT_EQ(px[10 * kW + 20] & 0xFFFFFF, 0xFF0000u);  // first copied row: the red top row
  EXPECT_EQ(px[11 * kW + 35] & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(px[12 * kW + 20] & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(px[17 * kW + 35] & 0xFFFFFF, 0x0000FFu);
  EXPECT_EQ(px[18 * kW + 20] & 0xFFFFFF, 0x000000u);
  EXPECT_EQ(px[9 * kW + 20] & 0xFFFFFF, 0x000000u);
  // Drawn as a texture, an X8R8G8B8 target reads as opaque.
  dev->setTexture(0, rt);
  dev->setTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  dev->setTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  setStraightBlend();
  quad(0, 0, 8, 4, 0xFFFFFFFF);
  px = readBack(back);
  EXPECT_EQ(px[0] & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(px[3 * kW + 7] & 0xFFFFFF, 0x0000FFu);
  dev->setTexture(0, nullptr);
  s->release();
  rt->release();
}

TEST_F(GpuDevice, SetRenderTargetRefusesNullAndPlainSurfaces) {
  EXPECT_EQ(dev->setRenderTarget(0, nullptr), D3DERR_INVALIDCALL);
  Surface* plain = nullptr;
  ASSERT_EQ(dev->createOffscreenPlainSurface(4, 4, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &plain), S_OK);
  EXPECT_EQ(dev->setRenderTarget(0, plain), D3DERR_INVALIDCALL);
  plain->release();
}

TEST_F(GpuDevice, TextureStagesModulateAndSelect) {
  Texture* tex = uploadTexture(1, 1, {0x80FF8040});
  dev->setRenderState(D3DRS_ALPHABLENDENABLE, 0);
  dev->setTexture(0, tex);
  struct {
    uint32_t colorOp, alphaOp, expected;
  } cases[] = {
      {D3DTOP_MODULATE, D3DTOP_MODULATE, 0x40804010},    // texture x diffuse (0x80808040), per channel /255
      {D3DTOP_SELECTARG1, D3DTOP_SELECTARG1, 0x80FF8040},  // texture
      {D3DTOP_SELECTARG1, D3DTOP_SELECTARG2, 0x80FF8040},  // alpha from the diffuse (0x80)
  };
  for (auto& c : cases) {
    dev->setTextureStageState(0, D3DTSS_COLOROP, c.colorOp);
    dev->setTextureStageState(0, D3DTSS_ALPHAOP, c.alphaOp);
    quad(0, 0, 4, 4, 0x80808040);
    uint32_t got = readBack(back)[kW + 1];
    for (int shift = 0; shift < 24; shift += 8)
      EXPECT_NEAR(int((got >> shift) & 255), int((c.expected >> shift) & 255), 1) << c.colorOp;
  }
  // Without a texture the diffuse colour comes through.
  dev->setTexture(0, nullptr);
  quad(0, 0, 4, 4, 0xFF123456);
  EXPECT_EQ(readBack(back)[kW + 1] & 0xFFFFFF, 0x123456u);
  tex->release();
}

TEST_F(GpuDevice, CullModeFollowsDirect3DWinding) {
  // Clockwise on the screen (x right, y down): Direct3D's front face.
  std::vector<V> cw = {{0, 0, 0, 0xFFFF0000, 0, 0}, {40, 0, 0, 0xFFFF0000, 0, 0}, {0, 40, 0, 0xFFFF0000, 0, 0}};
  std::vector<V> ccw = {cw[0], cw[2], cw[1]};
  dev->setRenderState(D3DRS_ALPHABLENDENABLE, 0);
  struct {
    uint32_t mode;
    bool clockwise, drawn;
  } cases[] = {{D3DCULL_CCW, true, true}, {D3DCULL_CCW, false, false}, {D3DCULL_CW, true, false},
               {D3DCULL_CW, false, true}, {D3DCULL_NONE, false, true}};
  for (auto& c : cases) {
    dev->clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 0, 0);
    dev->setRenderState(D3DRS_CULLMODE, c.mode);
    draw(c.clockwise ? cw : ccw, D3DPT_TRIANGLELIST, 1);
    EXPECT_EQ((readBack(back)[5 * kW + 5] & 0xFFFFFF) == 0xFF0000u, c.drawn) << c.mode << " " << c.clockwise;
  }
}

// A volume texture sampled by a pixel shader: the slices land where the
// box lock put them.
TEST_F(GpuDevice, VolumeTextureAndPixelShaderConstants) {
  VolumeTexture* sys = nullptr;
  VolumeTexture* vol = nullptr;
  ASSERT_EQ(dev->createVolumeTexture(2, 2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &sys), S_OK);
  ASSERT_EQ(dev->createVolumeTexture(2, 2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &vol), S_OK);
  LockedBox lb;
  ASSERT_EQ(sys->lockBox(0, lb, nullptr, D3DLOCK_NOSYSLOCK), S_OK);
  EXPECT_EQ(lb.rowPitch, 8);
  EXPECT_EQ(lb.slicePitch, 16);
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x) {
        uint32_t c = 0xFF000000u | uint32_t(x * 255) << 16 | uint32_t(y * 255) << 8 | uint32_t(z * 255);
        std::memcpy(static_cast<uint8_t*>(lb.bits) + z * lb.slicePitch + y * lb.rowPitch + x * 4, &c, 4);
      }
  ASSERT_EQ(sys->unlockBox(0), S_OK);
  ASSERT_EQ(dev->updateTexture(sys, vol), S_OK);
  const std::string code = "void main() { fragColor = texture(v1, c[0].xyz) * c[1]; }";
  Shader* ps = nullptr;
  ASSERT_EQ(dev->createPixelShader(code.data(), static_cast<uint32_t>(code.size()), &ps), S_OK);
  const std::string bad = "void main() { fragColor = nonsense; }";
  Shader* broken = nullptr;
  EXPECT_EQ(dev->createPixelShader(bad.data(), static_cast<uint32_t>(bad.size()), &broken), D3DERR_INVALIDCALL);
  ASSERT_EQ(dev->setPixelShader(ps), S_OK);
  ASSERT_EQ(dev->setTexture(1, vol), S_OK);
  dev->setSamplerState(1, D3DSAMP_MINFILTER, D3DTEXF_POINT);
  dev->setSamplerState(1, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
  dev->setRenderState(D3DRS_ALPHABLENDENABLE, 0);
  struct {
    float x, y, z;
    uint32_t expected;
  } cases[] = {{0.25f, 0.25f, 0.25f, 0x000000}, {0.75f, 0.25f, 0.75f, 0xFF00FF}, {0.25f, 0.75f, 0.75f, 0x00FFFF}};
  for (auto& c : cases) {
    float consts[8] = {c.x, c.y, c.z, 0, 1, 1, 1, 1};
    ASSERT_EQ(dev->setPixelShaderConstantF(0, consts, 2), S_OK);
    quad(0, 0, 4, 4, 0xFFFFFFFF);
    EXPECT_EQ(readBack(back)[kW + 1] & 0xFFFFFF, c.expected);
  }
  float half[8] = {0.75f, 0.75f, 0.75f, 0, 0.5f, 1, 0.5f, 1};
  dev->setPixelShaderConstantF(0, half, 2);
  quad(0, 0, 4, 4, 0xFFFFFFFF);
  EXPECT_NEAR(int((readBack(back)[kW + 1] >> 16) & 255), 128, 1);
  dev->setPixelShader(nullptr);
  dev->setTexture(1, nullptr);
  ps->release();
  vol->release();
  sys->release();
}

TEST_F(GpuDevice, InjectedFaultsAnswerOnceEach) {
  injectGpuFault(GpuCall::Clear, D3DERR_INVALIDCALL, 2);
  injectGpuFault(GpuCall::CreateTexture, D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(dev->clear(0, nullptr, D3DCLEAR_TARGET, 0, 0, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->clear(0, nullptr, D3DCLEAR_TARGET, 0, 0, 0), D3DERR_INVALIDCALL);
  EXPECT_EQ(dev->clear(0, nullptr, D3DCLEAR_TARGET, 0, 0, 0), S_OK);
  Texture* t = nullptr;
  EXPECT_EQ(dev->createTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t), D3DERR_OUTOFVIDEOMEMORY);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(pendingGpuFaults(), 0);
  injectGpuFault(GpuCall::Any, D3DERR_DEVICENOTRESET);
  EXPECT_EQ(dev->checkDeviceState(0), D3DERR_DEVICENOTRESET);
  EXPECT_EQ(dev->checkDeviceState(0), S_OK);
}

// A device that answered DEVICELOST keeps answering it, as a real one does,
// until it is reset.
TEST_F(GpuDevice, LossIsStickyUntilReset) {
  injectGpuFault(GpuCall::BeginScene, D3DERR_DEVICELOST);
  EXPECT_EQ(dev->beginScene(), D3DERR_DEVICELOST);
  EXPECT_EQ(dev->clear(0, nullptr, D3DCLEAR_TARGET, 0, 0, 0), D3DERR_DEVICELOST);
  EXPECT_EQ(dev->presentEx(nullptr, nullptr, 0, nullptr, 0), D3DERR_DEVICELOST);
  PresentParameters pp;
  pp.backBufferWidth = 8;
  pp.backBufferHeight = 8;
  pp.backBufferFormat = D3DFMT_X8R8G8B8;
  pp.windowed = true;
  back->release();
  back = nullptr;
  ASSERT_EQ(dev->resetEx(pp, nullptr), S_OK);
  ASSERT_EQ(dev->getBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), S_OK);
  SurfaceDesc d;
  back->getDesc(d);
  EXPECT_EQ(d.width, 8u);
  EXPECT_EQ(dev->clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 0, 0), S_OK);
  EXPECT_EQ(readBack(back)[63] & 0xFFFFFF, 0x00FF00u);
}

TEST_F(GpuDevice, CapabilitiesOfAGl33Context) {
  Caps caps;
  ASSERT_EQ(d3d->getDeviceCaps(0, D3DDEVTYPE_HAL, caps), S_OK);
  EXPECT_TRUE(caps.devCaps & D3DDEVCAPS_HWRASTERIZATION);
  EXPECT_GE(caps.pixelShaderVersion, psVersion(3, 0));
  EXPECT_GE(caps.maxTextureWidth, 4096u);
  AdapterIdentifier id;
  ASSERT_EQ(d3d->getAdapterIdentifier(0, 0, id), S_OK);
  EXPECT_GT(std::strlen(id.description), 0u);
  EXPECT_EQ(d3d->checkDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE,
                                   D3DFMT_D24X8),
            D3DERR_NOTAVAILABLE);
  EXPECT_EQ(d3d->checkDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, 0, D3DRTYPE_TEXTURE, D3DFMT_L8), S_OK);
  Texture* full = nullptr;
  ASSERT_EQ(dev->createTexture(37, 23, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &full), S_OK);
  EXPECT_EQ(full->getLevelCount(), 6u);  // 37 -> 18 -> 9 -> 4 -> 2 -> 1
  full->release();
}

}  // namespace
