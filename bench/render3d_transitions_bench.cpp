// One frame of a running transition at 1920 x 1080 through the draw manager
// (the outgoing slide rendered into the effecter's target, the filter's
// geometry through the triangle controller, the incoming slide and the
// triangles drawn) beside plain GL cross-fading the same two pictures in the
// same context, interleaved in every iteration. Counters: "ratio" = ours /
// plain GL, "frame_share" = our time as a share of a 16.7 ms frame. Both
// sides end with glFinish, so the GPU work is inside the time.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "bench/GLReference.h"
#include "foundation/kpThreads2.h"
#include "imaging/Startup.h"
#include "platform/gpu/api.h"
#include "render3d/DXDev3D.h"
#include "render3d/Dev3DDrawer.h"
#include "render3d/Dev3DEffects2.h"

using namespace render3d;

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

constexpr int kW = 1920, kH = 1080;

std::vector<uint32_t> Pixels(bool incoming) {
  std::vector<uint32_t> p(size_t(kW) * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      p[size_t(y) * kW + x] = incoming ? 0xFF000000u | uint32_t(y & 0xFF) << 8 | uint32_t(255 - (x & 0xFF))
                                       : 0xFF000000u | uint32_t(x & 0xFF) << 16 | uint32_t((x ^ y) & 0xFF);
  return p;
}

class TPixelTexture : public TCustomTexture {
 public:
  TPixelTexture(T3DScreen* s, std::vector<uint32_t> px) : TCustomTexture(s), Data(std::move(px)) { SetSize(kW, kH); }
  void Paint(imaging::TSysBitmap* b) override {
    for (int y = 0; y < kH; ++y) std::memcpy(b->Row(y), &Data[size_t(y) * kW], size_t(kW) * 4);
  }
  std::vector<uint32_t> Data;
};

class TPictureItem : public TDrawItem {
 public:
  explicit TPictureItem(TCustomTexture* t) : Tex(t) {}
  void Draw(T3DDrawer* d) override {
    d->Screen->DrawTextureRect(Tex, {0, 0, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, float(kW), float(kH)});
  }
  TCustomTexture* Tex;
};

struct Setup {
  TRendererDevice* Device = nullptr;
  T3DScreen* Screen = nullptr;
  T3DDrawer* Drawer = nullptr;
  TPixelTexture *OutTex = nullptr, *InTex = nullptr;
  TPictureItem *Out = nullptr, *In = nullptr;
  std::vector<uint32_t> OutPixels = Pixels(false), InPixels = Pixels(true);
  Setup() {
    glref::StartOffscreen3D();
    Device = Get3DEngine()->CreateOffscreenDevice(kW, kH);
    Screen = new T3DScreen();
    Screen->AssignDevice(Device);
    Drawer = new T3DDrawer(Screen);
    Drawer->CreateShaders();
    OutTex = new TPixelTexture(Screen, OutPixels);
    InTex = new TPixelTexture(Screen, InPixels);
    Out = new TPictureItem(OutTex);
    In = new TPictureItem(InTex);
  }
  TViewState Full() const {
    TViewState v;
    v.Viewport = {0, 0, kW, kH};
    v.Area = {0, 0, float(kW), float(kH)};
    v.Scale = {float(kW), float(kH)};
    return v;
  }
};
Setup& S() {
  static Setup* s = new Setup();
  return *s;
}

const char* kRefFragment = R"(#version 330 core
in vec2 vTex;
uniform sampler2D s0;
uniform float alpha;
out vec4 fragColor;
void main() { fragColor = vec4(texture(s0, vTex).rgb, alpha); }
)";

// Plain GL: the outgoing picture, then the incoming one blended over it
// with alpha 0.5, into a 1920 x 1080 target.
struct Reference {
  GLuint Prog = glref::LinkProgram(kRefFragment);
  GLint Alpha = glGetUniformLocation(Prog, "alpha");
  glref::TFullQuad Quad;
  glref::TTarget Target{kW, kH};
  GLuint A = 0, B = 0;
  Reference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b)
      : A(glref::PictureTexture(kW, kH, a.data())), B(glref::PictureTexture(kW, kH, b.data())) {}
  ~Reference() {
    GLuint t[2] = {A, B};
    glDeleteTextures(2, t);
    glDeleteProgram(Prog);
  }
  void Draw() {
    glBindFramebuffer(GL_FRAMEBUFFER, Target.Fbo);
    glViewport(0, 0, kW, kH);
    glUseProgram(Prog);
    glBindVertexArray(Quad.Vao);
    glActiveTexture(GL_TEXTURE0);
    glBindSampler(0, 0);
    glDisable(GL_BLEND);
    glUniform1f(Alpha, 1.0f);
    glBindTexture(GL_TEXTURE_2D, A);
    glDrawArrays(GL_TRIANGLES, 0, 6);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glUniform1f(Alpha, 0.5f);
    glBindTexture(GL_TEXTURE_2D, B);
    glDrawArrays(GL_TRIANGLES, 0, 6);
    glBindVertexArray(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
  }
};

// Kind and the one option flag that selects a variant (-1: none needed).
struct Kind {
  int32_t Kind, Flag;
};
constexpr Kind kKinds[] = {{1, -1}, {2, 6}, {3, 2}, {4, 0}, {5, 0}, {6, -1}, {7, 0}, {8, 0}, {9, 3}, {10, 0}, {11, 1}};

void BM_TransitionFrame(benchmark::State& state) {
  Setup& s = S();
  const Kind& k = kKinds[state.range(0)];
  TEffectRecord e;
  e.Kind = k.Kind;
  e.Options.assign(12, false);
  if (k.Flag >= 0) e.Options[size_t(k.Flag)] = true;
  e.IntParams = {50, 50, 10, 7};
  e.FloatParams = {0.2f, 0.5f, 10.0f};
  TTransitionState st;
  st.Effect = &e;
  st.Duration = 1000;
  st.EdgeFactor = 0.05f;
  st.Position = 500;
  Reference ref(s.OutPixels, s.InPixels);
  auto frame = [&] {
    s.Screen->BeginScene();
    s.Drawer->PrepareRenderTargets();
    s.Screen->Clear(0xFF000000u, false);
    s.Drawer->DrawTransition(s.Out, s.In, &st, s.Full(), {float(kW), float(kH)});
    s.Screen->EndScene(false);
  };
  frame();  // textures filled and the filter made once
  ref.Draw();
  glFinish();
  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    frame();
    glFinish();
    auto t1 = Clock::now();
    ref.Draw();
    glFinish();
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  state.counters["frame_share"] =
      state.iterations() > 0 ? ours / double(state.iterations()) / (1.0 / 60) : 0;
  state.SetLabel("kind " + std::to_string(k.Kind));
}
BENCHMARK(BM_TransitionFrame)->DenseRange(0, int(std::size(kKinds)) - 1)->ArgName("k")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
