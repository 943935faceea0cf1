// Each benchmark times the 3D layer and plain GL calls doing the same work in
// the same context, one after the other in every iteration, and reports
// ours / plain GL as the counter "ratio" (aim: at most 1.25). Both sides end
// with glFinish, so the GPU work is inside the time.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/kpThreads2.h"
#include "imaging/Startup.h"
#include "imaging/SysBitmap.h"
#include "platform/gpu/api.h"
#include "render3d/DXDev3D.h"
#include "render3d/Startup.h"

using namespace render3d;

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

struct Setup {
  T3DEngine9* Engine = nullptr;
  TRendererDevice* Device = nullptr;
  T3DRenderer9* Renderer = nullptr;
  Setup() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    platform::gpu::setGpuBackend(platform::gpu::offscreenGpuBackend());
    StartRender3D();
    Engine = static_cast<T3DEngine9*>(CreateDXEngine());
    Device = Engine->CreateOffscreenDevice(256, 256);
    TRendererParams params;
    Engine->GetDisplayMode(params.Mode, 0);
    Renderer = static_cast<T3DRenderer9*>(Engine->CreateRenderer(Device, params));
  }
};
Setup& S() {
  static Setup* s = new Setup();
  return *s;
}

// The picture and its mip levels, each level halved (values do not matter).
std::vector<std::vector<uint32_t>> MipLevels(int w, int h) {
  std::vector<std::vector<uint32_t>> levels;
  for (;;) {
    std::vector<uint32_t> px(size_t(w) * h);
    for (size_t i = 0; i < px.size(); ++i) px[i] = 0xFF000000u | uint32_t(i * 2654435761u);
    levels.push_back(std::move(px));
    if (w == 1 && h == 1) break;
    w = std::max(1, w / 2);
    h = std::max(1, h / 2);
  }
  return levels;
}

void BM_Upload4KWithMips(benchmark::State& state) {
  Setup& s = S();
  const int W = 3840, H = 2160;
  auto levels = MipLevels(W, H);
  s.Renderer->Store->Anisotropy = true;  // a full mip chain
  T3DTexture* tex = s.Renderer->CreateTexture(tkArgb, W, H, true);
  if (!tex || tex->GetLevelCount() != static_cast<int>(levels.size())) {
    state.SkipWithError("no mipmapped texture");
    return;
  }
  GLuint ref = 0;
  glGenTextures(1, &ref);
  glBindTexture(GL_TEXTURE_2D, ref);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(levels.size()) - 1);
  for (size_t l = 0, w = W, h = H; l < levels.size(); ++l, w = std::max<size_t>(1, w / 2), h = std::max<size_t>(1, h / 2))
    glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(l), GL_RGBA8, GLsizei(w), GLsizei(h), 0, GL_BGRA, GL_UNSIGNED_BYTE,
                 nullptr);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    int w = W, h = H;
    for (size_t l = 0; l < levels.size(); ++l) {
      T3DSurface* surface = tex->GetSurface(static_cast<int32_t>(l));
      imaging::TBitmap* bmp = surface->Lock({0, 0, w, h}, false);
      auto* sys = static_cast<imaging::TSysBitmap*>(bmp);
      for (int y = 0; y < h; ++y) std::memcpy(sys->Row(y), &levels[l][size_t(y) * w], size_t(w) * 4);
      surface->Unlock(bmp);
      w = std::max(1, w / 2);
      h = std::max(1, h / 2);
    }
    s.Renderer->SetTexture(0, tex);  // the upload
    s.Renderer->SetTexture(0, nullptr);
    glFinish();
    auto t1 = Clock::now();
    glBindTexture(GL_TEXTURE_2D, ref);
    w = W;
    h = H;
    for (size_t l = 0; l < levels.size(); ++l) {
      glTexSubImage2D(GL_TEXTURE_2D, static_cast<GLint>(l), 0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, levels[l].data());
      w = std::max(1, w / 2);
      h = std::max(1, h / 2);
    }
    glFinish();
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  glDeleteTextures(1, &ref);
  tex->Free();
}
BENCHMARK(BM_Upload4KWithMips)->Unit(benchmark::kMillisecond);

const char* kRefVertex = R"(#version 330 core
layout(location = 0) in vec3 aPos;
layout(location = 1) in vec4 aDiffuse;
layout(location = 2) in vec2 aTex;
uniform mat4 uM;
out vec4 vDiffuse;
out vec2 vTex;
void main() { gl_Position = uM * vec4(aPos, 1.0); vDiffuse = aDiffuse; vTex = aTex; }
)";
const char* kRefFragment = R"(#version 330 core
in vec4 vDiffuse;
in vec2 vTex;
uniform sampler2D s0;
out vec4 fragColor;
void main() { fragColor = texture(s0, vTex) * vDiffuse; }
)";

GLuint Compile(GLenum type, const char* src) {
  GLuint sh = glCreateShader(type);
  glShaderSource(sh, 1, &src, nullptr);
  glCompileShader(sh);
  return sh;
}

void BM_TenThousandTexturedQuads(benchmark::State& state) {
  Setup& s = S();
  const int kQuads = 10000;
  T3DRenderer9* r = s.Renderer;
  T3DTexture* tex = r->CreateTexture(tkArgb, 16, 16, false);
  {
    T3DSurface* surface = tex->GetSurface(0);
    imaging::TBitmap* bmp = surface->Lock({0, 0, 16, 16}, false);
    for (int y = 0; y < 16; ++y) std::memset(static_cast<imaging::TSysBitmap*>(bmp)->Row(y), 0x80 + y, 64);
    surface->Unlock(bmp);
  }
  tex->SetFilter(1);
  std::vector<T3DVertex> verts;
  verts.reserve(kQuads * 6);
  for (int q = 0; q < kQuads; ++q) {
    float x = float((q * 37) % 240), y = float((q * 91) % 240);
    T3DVertex v[4];
    float pos[4][2] = {{x, y}, {x + 16, y}, {x, y + 16}, {x + 16, y + 16}};
    float uv[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    for (int i = 0; i < 4; ++i) {
      v[i].X = pos[i][0] / 128.0f - 1.0f;
      v[i].Y = 1.0f - pos[i][1] / 128.0f;
      v[i].Diffuse = 0xC0FFFFFF;
      v[i].TexCoords[0][0] = uv[i][0];
      v[i].TexCoords[0][1] = uv[i][1];
    }
    for (int i : {0, 1, 2, 2, 1, 3}) verts.push_back(v[i]);
  }
  T3DVertexList* list = r->CreateVertexList(kQuads * 6, vcDiffuse, 1);
  list->SetFormat(0, kQuads * 2, pkTriangleList);

  // The reference: the same vertices in the same layout, one program, the
  // same blending, into a framebuffer of the same size.
  struct RefVertex {
    float x, y, z;
    uint32_t color;
    float u, v;
  };
  std::vector<RefVertex> refVerts;
  for (auto& v : verts) refVerts.push_back({v.X, v.Y, v.Z, v.Diffuse, v.TexCoords[0][0], v.TexCoords[0][1]});
  GLuint prog = glCreateProgram();
  GLuint vs = Compile(GL_VERTEX_SHADER, kRefVertex), fs = Compile(GL_FRAGMENT_SHADER, kRefFragment);
  glAttachShader(prog, vs);
  glAttachShader(prog, fs);
  glLinkProgram(prog);
  GLuint vao = 0, vbo = 0, fbo = 0, target = 0, refTex = 0;
  glGenVertexArrays(1, &vao);
  glGenBuffers(1, &vbo);
  glBindBuffer(GL_ARRAY_BUFFER, vbo);
  glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(refVerts.size() * sizeof(RefVertex)), nullptr, GL_DYNAMIC_DRAW);
  glGenTextures(1, &target);
  glBindTexture(GL_TEXTURE_2D, target);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 256, 256, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
  glGenFramebuffers(1, &fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target, 0);
  glGenTextures(1, &refTex);
  glBindTexture(GL_TEXTURE_2D, refTex);
  std::vector<uint32_t> texels(256, 0x80808080);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 16, 16, 0, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    TBaseTexture* arr[] = {tex};
    r->BeginScene();
    r->Clear({}, 0, 0xFF000000, 0, 1);
    list->SetVertices(0, verts, 0, kQuads * 6);
    r->DrawVertexList(arr, 1, list, dfTextures | dfModulateColor | dfModulateAlpha);
    r->EndScene();
    glFinish();
    auto t1 = Clock::now();
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glViewport(0, 0, 256, 256);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glUseProgram(prog);
    glUniformMatrix4fv(glGetUniformLocation(prog, "uM"), 1, GL_FALSE, identity);
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(refVerts.size() * sizeof(RefVertex)), refVerts.data());
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(RefVertex), reinterpret_cast<void*>(0));
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(RefVertex), reinterpret_cast<void*>(12));
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, sizeof(RefVertex), reinterpret_cast<void*>(16));
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, refTex);
    glBindSampler(0, 0);
    glEnable(GL_BLEND);
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glBlendEquation(GL_FUNC_ADD);
    glDisable(GL_CULL_FACE);
    glDrawArrays(GL_TRIANGLES, 0, GLsizei(refVerts.size()));
    glFinish();
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  glDeleteFramebuffers(1, &fbo);
  glDeleteTextures(1, &target);
  glDeleteTextures(1, &refTex);
  glDeleteBuffers(1, &vbo);
  glDeleteVertexArrays(1, &vao);
  glDeleteProgram(prog);
  glDeleteShader(vs);
  glDeleteShader(fs);
  list->Free();
  tex->Free();
}
BENCHMARK(BM_TenThousandTexturedQuads)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
