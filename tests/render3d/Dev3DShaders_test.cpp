// The pixel-shader set on the GL device (llvmpipe): each shader drawn over a
// small target at 1:1 and read back against its formula computed here.
#include "Render3DTestEnv.h"

#include <cmath>

#include "render3d/Dev3DShaders.h"

using namespace render3d;
using namespace render3d_test;

namespace {

constexpr int32_t kW = 8, kH = 4;

uint32_t Argb(int a, int r, int g, int b) { return uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); }
int A(uint32_t c) { return int(c >> 24); }
int R(uint32_t c) { return int(c >> 16 & 255); }
int G(uint32_t c) { return int(c >> 8 & 255); }
int B(uint32_t c) { return int(c & 255); }
int Q(double v) { return int(std::lround(std::clamp(v, 0.0, 1.0) * 255)); }

// L(n) of the table levels.
int L(int n) { return 8 * n + n / 4; }

class Shaders : public ::testing::Test {
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
  T3DTexture* Tex(const std::vector<uint32_t>& px, int32_t w = kW, int32_t h = kH) {
    T3DTexture* t = Own(T.Renderer->CreateTexture(tkArgb, w, h, false));
    EXPECT_TRUE(Fill(t, w, h, px));
    t->SetFilter(0);
    t->SetAddressMode(1, 1);
    return t;
  }
  T3DTexture* Luma(const std::vector<uint8_t>& px, int32_t w = kW, int32_t h = kH) {
    T3DTexture* t = Own(T.Renderer->CreateTexture(tkLuminance, w, h, false));
    T3DSurface* s = t->GetSurface(0);
    imaging::TBitmap* b = s->Lock({0, 0, w, h}, false);
    EXPECT_NE(b, nullptr);
    auto* sys = static_cast<imaging::TSysBitmap*>(b);
    for (int32_t y = 0; y < h; ++y) std::memcpy(sys->Row(y), &px[size_t(y) * w], size_t(w));
    s->Unlock(b);
    t->SetFilter(0);
    return t;
  }
  // A 32 x 32 x 32 table: f(red level k, green level j, blue level i).
  TVolumeTexture* Table(std::function<uint32_t(int k, int j, int i)> f) {
    TVolumeTexture* v = Own(T.Renderer->CreateVolumeTexture(32, 32, 32));
    EXPECT_NE(v, nullptr);
    imaging::TBitmap* b = v->Lock(0, 0, 0, 0, 32, 32, 32);
    EXPECT_NE(b, nullptr);
    auto* sys = static_cast<imaging::TSysBitmap*>(b);
    for (int i = 0; i < 32; ++i)
      for (int j = 0; j < 32; ++j) {
        auto* row = reinterpret_cast<uint32_t*>(sys->Row(32 * i + j));
        for (int k = 0; k < 32; ++k) row[k] = f(k, j, i);
      }
    v->Unlock(0, b);
    return v;
  }
  TVolumeTexture* Identity() { return Table([](int k, int j, int i) { return Argb(255, L(k), L(j), L(i)); }); }
  // The 256-wide ramp: row i = (i, i, i) or a function of i.
  T3DTexture* Ramp(std::function<uint32_t(int)> f) {
    std::vector<uint32_t> px(256 * 16);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 256; ++x) px[size_t(y) * 256 + x] = f(x);
    T3DTexture* t = Tex(px, 256, 16);
    t->SetFilter(1);
    return t;
  }

  // Draws a full-target quad with the shader; stage 0 (and 1 when given) are
  // bound by the draw, the other stages before it. The stage-0 texture is
  // drawn as premultiplied over transparent black, so the shader's output
  // reaches the target unblended.
  std::vector<uint32_t> Run(TPixelShaderId id, std::vector<TBaseTexture*> drawn, std::vector<TBaseTexture*> extra,
                            std::vector<std::vector<float>> consts, uint32_t diffuse = 0xFFFFFFFF) {
    T3DShader* sh = Own(T.Renderer->CreateShader(PixelShaderProgram(id), false));
    EXPECT_NE(sh, nullptr) << PixelShaderName(id);
    if (!sh) return {};
    T3DVertexList* vl = Own(T.Renderer->CreateVertexList(4, vcDiffuse, 2));
    auto off = T.Renderer->GetTexelOffset();
    auto vx = [&](float x, float y, float u, float v) {
      T3DVertex r = Vertex(x - off.X, y - off.Y, diffuse, u, v);
      r.TexCoords[1][0] = u;
      r.TexCoords[1][1] = v;
      return r;
    };
    std::vector<T3DVertex> v = {vx(0, 0, 0, 0), vx(kW, 0, 1, 0), vx(0, kH, 0, 1), vx(kW, kH, 1, 1)};
    vl->SetVertices(0, v, 0, 4);
    vl->SetFormat(0, 2, pkTriangleStrip);
    if (auto* t0 = dynamic_cast<T3DTexture*>(drawn[0])) t0->Premultiplied = true;
    EXPECT_TRUE(T.Renderer->BeginScene());
    T.Renderer->Clear({}, 0, 0, 0, 1);
    for (size_t i = 0; i < extra.size(); ++i)
      if (extra[i]) T.Renderer->SetTexture(int32_t(drawn.size() + i), extra[i]);
    T.Renderer->SetShader(sh);
    for (size_t r = 0; r < consts.size(); ++r) {
      std::vector<float> c = consts[r];
      c.resize(4);
      T.Renderer->SetShaderConstants(int32_t(r), c, 1, false);
    }
    EXPECT_TRUE(T.Renderer->DrawVertexList(drawn, int32_t(drawn.size()), vl, dfTextures | dfModulateColor | dfModulateAlpha));
    T.Renderer->SetShader(nullptr);
    EXPECT_TRUE(T.Renderer->EndScene());
    return ReadBack(T.Back());
  }
  static void Near(uint32_t got, int a, int r, int g, int b, const char* what, int tol = 2) {
    EXPECT_LE(std::abs(A(got) - a), tol) << what << " alpha " << A(got) << " vs " << a;
    EXPECT_LE(std::abs(R(got) - r), tol) << what << " red " << R(got) << " vs " << r;
    EXPECT_LE(std::abs(G(got) - g), tol) << what << " green " << G(got) << " vs " << g;
    EXPECT_LE(std::abs(B(got) - b), tol) << what << " blue " << B(got) << " vs " << b;
  }

  TTarget T;
  std::vector<TRefObject*> Owned;
};

std::vector<uint32_t> Pattern() {
  std::vector<uint32_t> px(kW * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) px[size_t(y) * kW + x] = Argb(200 + x, 30 * x + 5, 60 * y + 7, 17 * (x + y) + 3);
  return px;
}

TEST_F(Shaders, EveryProgramCompilesAndHasItsName) {
  const char* names[] = {"unsharp", "gauss_blur_h7", "gauss_blur_v7", "gauss_mix", "premul3", "premul4",
                         "color_grading", "color_grade_linear", "color_grade_prem", "color_grade_linear_prem",
                         "motion_blur", "videomask", "color_grade_video", "color_grade_deinter",
                         "color_grade_chromakey", "color_grade_chroma_deinter"};
  for (int i = 0; i < psShaderCount; ++i) {
    EXPECT_STREQ(PixelShaderName(TPixelShaderId(i)), names[i]);
    T3DShader* s = T.Renderer->CreateShader(PixelShaderProgram(TPixelShaderId(i)), false);
    EXPECT_NE(s, nullptr) << names[i];
    if (s) s->Free();
  }
  std::string p = PixelShaderProgram(psPremul4);
  uint32_t n = uint8_t(p[0]) | uint8_t(p[1]) << 8 | uint8_t(p[2]) << 16 | uint32_t(uint8_t(p[3])) << 24;
  EXPECT_EQ(n + 4, p.size());
}

// Horizontal and vertical seven-tap blurs: (0, 0, 0, 1) keeps the centre; an
// impulse spreads into the weights; weights summing to 1 keep a flat picture.
TEST_F(Shaders, GaussBlurTapsAndWeights) {
  auto pic = Pattern();
  auto same = Run(psGaussBlurH7, {Tex(pic)}, {}, {{0, 0, 0, 1}, {1.0f / kW}});
  for (int i = 0; i < kW * kH; ++i) ASSERT_EQ(same[size_t(i)], pic[size_t(i)]) << i;
  std::vector<uint32_t> impulse(kW * kH, 0);
  impulse[size_t(1) * kW + 4] = Argb(255, 255, 255, 255);
  // Weights of a blur pass: sum w0 + 2 (w1 + w2 + w3) = 1.
  const float w[4] = {0.05f, 0.1f, 0.2f, 0.3f};  // w3, w2, w1, w0
  EXPECT_FLOAT_EQ(w[3] + 2 * (w[0] + w[1] + w[2]), 1.0f);
  auto h = Run(psGaussBlurH7, {Tex(impulse)}, {}, {{w[0], w[1], w[2], w[3]}, {1.0f / kW}});
  const int expectRow[kW] = {0, Q(0.05), Q(0.1), Q(0.2), Q(0.3), Q(0.2), Q(0.1), Q(0.05)};
  for (int x = 0; x < kW; ++x) Near(h[size_t(kW) + x], expectRow[x], expectRow[x], expectRow[x], expectRow[x], "h7");
  EXPECT_EQ(h[0], 0u);
  auto v = Run(psGaussBlurV7, {Tex(impulse)}, {}, {{w[0], w[1], w[2], w[3]}, {1.0f / kH}});
  // Taps beyond the picture clamp to its edge rows: row 0 sees the impulse at
  // k = +1 and, through the clamp, nothing else.
  Near(v[4], Q(0.2), Q(0.2), Q(0.2), Q(0.2), "v7 row 0");
  Near(v[size_t(kW) + 4], Q(0.3), Q(0.3), Q(0.3), Q(0.3), "v7 row 1");
  Near(v[size_t(3) * kW + 4], Q(0.1), Q(0.1), Q(0.1), Q(0.1), "v7 row 3");
  std::vector<uint32_t> flat(kW * kH, Argb(128, 100, 150, 200));
  auto f = Run(psGaussBlurH7, {Tex(flat)}, {}, {{w[0], w[1], w[2], w[3]}, {1.0f / kW}});
  for (int i = 0; i < kW * kH; ++i) Near(f[size_t(i)], 128, 100, 150, 200, "flat");
}

TEST_F(Shaders, UnsharpAmountAndThreshold) {
  auto pic = Pattern();
  auto zero = Run(psUnsharp, {Tex(pic)}, {}, {{1.0f / kW, 1.0f / kH}, {0}, {0}});
  for (int i = 0; i < kW * kH; ++i) Near(zero[size_t(i)], A(pic[size_t(i)]), R(pic[size_t(i)]), G(pic[size_t(i)]), B(pic[size_t(i)]), "amount 0", 1);
  // A spike on grey: with threshold 0 and amount 1 the centre moves away from
  // the blur of its 3 x 3 neighbourhood; a high threshold keeps it.
  std::vector<uint32_t> spike(kW * kH, Argb(255, 100, 100, 100));
  spike[size_t(2) * kW + 3] = Argb(255, 180, 100, 60);
  auto s = Run(psUnsharp, {Tex(spike)}, {}, {{1.0f / kW, 1.0f / kH}, {0}, {1}});
  // blur = (4 c + 12 x 100) / 16: red (720 + 1200) / 16 = 120, blue (240 + 1200) / 16 = 90.
  Near(s[size_t(2) * kW + 3], 255, 180 + 60, 100, 60 - 30, "sharpened centre");
  // Its left neighbour sees the spike on an edge (weight 2): red blur 110 -> 90, blue 95 -> 105.
  Near(s[size_t(2) * kW + 2], 255, 90, 100, 105, "edge neighbour");
  auto t = Run(psUnsharp, {Tex(spike)}, {}, {{1.0f / kW, 1.0f / kH}, {0.5f}, {1}});
  Near(t[size_t(2) * kW + 3], 255, 180, 100, 60, "above threshold", 1);
}

TEST_F(Shaders, GaussMixAndMotionBlur) {
  std::vector<uint32_t> big(kW * kH, Argb(200, 200, 0, 100)), small(kW * kH, Argb(100, 0, 200, 20));
  auto m = Run(psGaussMix, {Tex(big), Tex(small)}, {}, {{0.25f}});
  Near(m[5], 175, 150, 50, 80, "mix");
  auto mb = Run(psMotionBlur, {Tex(big), Tex(small)}, {}, {{0.5f, 0.5f}});
  // (frame x 0.5 + accumulator) x 0.5
  Near(mb[5], Q((100 / 2.0 + 200) / 2 / 255), Q((0 + 200) / 2.0 / 255), Q((100 + 0) / 2.0 / 255), Q((10 + 100) / 2.0 / 255), "motion");
}

// The mask combination: a white mask gives the content un-premultiplied with
// its alpha kept, a black mask alpha 0, a grey one counts as white.
TEST_F(Shaders, Premul3MaskCombination) {
  std::vector<uint32_t> content(kW * kH, Argb(128, 64, 32, 16));
  struct Case {
    uint32_t mask;
    int a, r, g, b;
    const char* what;
  };
  const Case cases[] = {
      {Argb(255, 255, 255, 255), 128, 128, 64, 32, "white"},
      {Argb(255, 0, 0, 0), 0, 128, 64, 32, "black (grey: white colour, alpha 0)"},
      {Argb(255, 128, 128, 128), 64, 128, 64, 32, "grey"},
      // A red mask: g = (1 - 1)(1)(1 - 1) = 0, colour (1, 0, 0), alpha 1.
      {Argb(255, 255, 0, 0), 128, 128, 0, 0, "red"},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> mask(kW * kH, c.mask);
    auto px = Run(psPremul3, {Tex(mask), Tex(content)}, {}, {});
    Near(px[3], c.a, c.r, c.g, c.b, c.what);
  }
  auto half = Run(psPremul3, {Tex(std::vector<uint32_t>(kW * kH, Argb(255, 255, 255, 255))), Tex(content)}, {}, {},
                  Argb(128, 255, 255, 255));
  Near(half[3], 64, 128, 64, 32, "vertex alpha");
}

TEST_F(Shaders, Premul4) {
  std::vector<uint32_t> px(kW * kH, Argb(128, 64, 32, 0));
  px[1] = 0;  // alpha 0: no division by zero
  auto r = Run(psPremul4, {Tex(px)}, {}, {}, Argb(255, 255, 128, 255));
  // rgb / a = (0.502, 0.251, 0); times vertex colour (1, 0.502, 1) and alpha 0.502.
  Near(r[0], 128, Q(64 / 128.0 * 128 / 255), Q(32 / 128.0 * 128 / 255.0 * 128 / 255), 0, "premul4");
  Near(r[1], 0, 0, 0, 0, "alpha 0");
}

// Identity tables return the input for any mix; a mix of the identity and an
// inverted table lands between.
TEST_F(Shaders, ColorGradingVolumeTables) {
  auto pic = Pattern();
  TVolumeTexture* id = Identity();
  TVolumeTexture* inv = Table([](int k, int j, int i) { return Argb(255, 255 - L(k), 255 - L(j), 255 - L(i)); });
  for (float t : {0.0f, 0.6f, 1.0f}) {
    auto px = Run(psColorGrading, {Tex(pic)}, {id, id}, {{t}});
    for (int i = 0; i < kW * kH; ++i)
      Near(px[size_t(i)], A(pic[size_t(i)]), R(pic[size_t(i)]), G(pic[size_t(i)]), B(pic[size_t(i)]), "identity");
  }
  auto half = Run(psColorGrading, {Tex(pic)}, {id, inv}, {{0.25f}});
  uint32_t p = pic[9];
  Near(half[9], A(p), Q((0.75 * R(p) + 0.25 * (255 - R(p))) / 255), Q((0.75 * G(p) + 0.25 * (255 - G(p))) / 255),
       Q((0.75 * B(p) + 0.25 * (255 - B(p))) / 255), "mixed", 3);
  // The premultiplied variant un-premultiplies, grades and multiplies again.
  std::vector<uint32_t> prem(kW * kH, Argb(128, 64, 32, 100));
  auto pr = Run(psColorGradePrem, {Tex(prem)}, {id, id}, {{0.5f}});
  Near(pr[2], 128, 64, 32, 100, "prem identity");
}

TEST_F(Shaders, ColorGradingPerChannelRamps) {
  auto pic = Pattern();
  T3DTexture* id = Ramp([](int i) { return Argb(255, i, i, i); });
  T3DTexture* inv = Ramp([](int i) { return Argb(255, 255 - i, 255 - i, 255 - i); });
  auto px = Run(psColorGradeLinear, {Tex(pic)}, {id, id}, {{0.3f}});
  for (int i = 0; i < kW * kH; ++i)
    Near(px[size_t(i)], A(pic[size_t(i)]), R(pic[size_t(i)]), G(pic[size_t(i)]), B(pic[size_t(i)]), "ramp identity");
  auto full = Run(psColorGradeLinear, {Tex(pic)}, {id, inv}, {{1.0f}});
  Near(full[6], A(pic[6]), 255 - R(pic[6]), 255 - G(pic[6]), 255 - B(pic[6]), "inverted");
  std::vector<uint32_t> prem(kW * kH, Argb(128, 64, 32, 100));
  auto pr = Run(psColorGradeLinearPrem, {Tex(prem)}, {id, id}, {{0.5f}});
  Near(pr[2], 128, 64, 32, 100, "prem ramp");
}

TEST_F(Shaders, VideoMask) {
  std::vector<uint8_t> y = {16, 235, 126, 16, 16, 16, 16, 16};
  y.resize(kW * kH, 16);
  auto plain = Run(psVideoMask, {Luma(y)}, {}, {{0}});
  Near(plain[0], 0, 0, 0, 0, "black");
  Near(plain[1], 255, 255, 255, 255, "white");
  int mid = Q((126 / 255.0 - 0.0625) * 1.164384);
  Near(plain[2], mid, mid, mid, mid, "grey");
  auto inv = Run(psVideoMask, {Luma(y)}, {}, {{1}});
  Near(inv[0], 255, 255, 255, 255, "inverted black");
}

// The video table is sampled at (V, U, Y): with the identity table red
// follows V, green U and blue Y.
TEST_F(Shaders, VideoGradingSamplesVUY) {
  std::vector<uint8_t> Y(kW * kH, 200), U(kW * kH, 90), V(kW * kH, 30);
  TVolumeTexture* id = Identity();
  auto px = Run(psColorGradeVideo, {Luma(Y), Luma(U), Luma(V)}, {id, id}, {{0.5f}}, Argb(200, 255, 255, 255));
  Near(px[0], 200, 30, 90, 200, "VUY");
}

// The chroma key: the distance is half the sum of the absolute chroma
// differences, so opposite offsets do not cancel.
TEST_F(Shaders, ChromaKeyDistance) {
  std::vector<uint8_t> Y(kW * kH, 128), U(kW * kH), V(kW * kH);
  const int uv[][2] = {{54, 34}, {84, 4}, {56, 34}, {24, 64}};
  for (int i = 0; i < kW * kH; ++i) {
    U[size_t(i)] = uint8_t(uv[i % 4][0]);
    V[size_t(i)] = uint8_t(uv[i % 4][1]);
  }
  TVolumeTexture* id = Identity();
  const float tol = 10 / 255.0f;
  std::vector<std::vector<float>> c = {{0}, {0}, {0}, {tol, 1 / tol}, {54 / 255.0f, 34 / 255.0f}};
  for (TPixelShaderId s : {psColorGradeChromaKey, psColorGradeChromaDeinter}) {
    std::vector<std::vector<float>> cc = c;
    cc[1] = {float(kH), 1.0f / kH};
    cc[2] = {0, 0};
    auto px = Run(s, {Luma(Y), Luma(U), Luma(V)}, {id, id}, cc);
    EXPECT_EQ(A(px[0]), 0) << PixelShaderName(s) << ": the key colour";
    EXPECT_EQ(A(px[1]), 255) << PixelShaderName(s) << ": 84, 4 is far from the key";
    EXPECT_EQ(A(px[3]), 255) << PixelShaderName(s) << ": 24, 64 is far from the key";
    // 56, 34: d = 1/255, (d / tol)^2 = 0.01 of the vertex alpha.
    EXPECT_LE(A(px[2]), 4) << PixelShaderName(s);
  }
}

// Deinterlacing: with offsets (0, 0) a pixel on an even row takes its own
// row, and the odd row between two even rows their mean.
TEST_F(Shaders, DeinterlaceReadsEveryOtherRow) {
  std::vector<uint8_t> Y(kW * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) Y[size_t(y) * kW + x] = uint8_t(y % 2 == 0 ? 40 + 100 * (y / 2) : 250);
  std::vector<uint8_t> U(kW * kH, 128), V(kW * kH, 128);
  TVolumeTexture* id = Identity();
  auto px = Run(psColorGradeDeinter, {Luma(Y), Luma(U), Luma(V)}, {id, id}, {{0}, {float(kH), 1.0f / kH}, {0, 0}});
  // p = (y + 0.5); row 0 -> row 0 (40); row 1 -> between rows 0 and 2 at 0.5: 90;
  // row 2 -> row 2 (140); row 3 -> between rows 2 and 4 (clamped to row 3: 250) at 0.5.
  Near(px[0], 255, 128, 128, 40, "row 0");
  Near(px[size_t(kW)], 255, 128, 128, 90, "row 1");
  Near(px[size_t(2) * kW], 255, 128, 128, 140, "row 2");
}

}  // namespace
