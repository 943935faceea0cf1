// The screen, the texture store and the draw manager on the GL device beside
// plain GL calls doing the same work in the same context, interleaved in
// every iteration; the counter "ratio" is ours / plain GL. Both sides end
// with glFinish, so the GPU work is inside the time.
//
// - a 24-megapixel picture (6000 x 4000) fitted to 1920 x 1080 through the
//   texture store: the first draw (tiles made, filled and uploaded) against
//   one glTexSubImage2D and a quad, and the cached draw against the quad;
// - a frame of 200 textured items through the draw manager against 200
//   bound-texture quads.
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/GLReference.h"
#include "foundation/kpThreads2.h"
#include "imaging/Startup.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvPixelFormat.h"
#include "platform/gpu/api.h"
#include "render3d/DXDev3D.h"
#include "render3d/Dev3DDrawer.h"
#include "render3d/Dev3DTexStore.h"

using namespace render3d;

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

constexpr int kW = 1920, kH = 1080;

struct Setup {
  TRendererDevice* Device = nullptr;
  T3DScreen* Screen = nullptr;
  Setup() {
    glref::StartOffscreen3D();
    Device = Get3DEngine()->CreateOffscreenDevice(kW, kH);
    Screen = new T3DScreen();
    Screen->AssignDevice(Device);
  }
};
Setup& S() {
  static Setup* s = new Setup();
  return *s;
}

// Plain GL: one program, a vertex buffer of quads, a 1920 x 1080 target.
struct Reference {
  GLuint Prog = glref::LinkProgram(glref::kPlainFragment), Vao = 0, Vbo = 0;
  glref::TTarget Target{kW, kH};
  Reference() {
    glGenVertexArrays(1, &Vao);
    glGenBuffers(1, &Vbo);
  }
  ~Reference() {
    glDeleteBuffers(1, &Vbo);
    glDeleteVertexArrays(1, &Vao);
    glDeleteProgram(Prog);
  }
  // Quads in pixels (x0, y0, x1, y1), each with its texture.
  void Draw(const std::vector<std::array<float, 4>>& quads, const std::vector<GLuint>& textures) {
    std::vector<float> v;
    for (auto& q : quads) {
      float x0 = q[0] / kW * 2 - 1, x1 = q[2] / kW * 2 - 1, y0 = 1 - q[1] / kH * 2, y1 = 1 - q[3] / kH * 2;
      float tri[6][4] = {{x0, y0, 0, 0}, {x1, y0, 1, 0}, {x0, y1, 0, 1}, {x0, y1, 0, 1}, {x1, y0, 1, 0}, {x1, y1, 1, 1}};
      for (auto& t : tri) v.insert(v.end(), t, t + 4);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, Target.Fbo);
    glViewport(0, 0, kW, kH);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glUseProgram(Prog);
    glBindVertexArray(Vao);
    glBindBuffer(GL_ARRAY_BUFFER, Vbo);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(v.size() * 4), v.data(), GL_STREAM_DRAW);
    glref::QuadAttributes();
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glActiveTexture(GL_TEXTURE0);
    glBindSampler(0, 0);
    for (size_t i = 0; i < quads.size(); ++i) {
      glBindTexture(GL_TEXTURE_2D, textures[i]);
      glDrawArrays(GL_TRIANGLES, GLint(i * 6), 6);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
  }
};

imaging::TSysBitmap* Picture(int w, int h) {
  auto* b = imaging::CreateSysBitmap(w, h, imaging::PixelFormatByName(u"A8R8G8B8"));
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(b->Row(y));
    for (int x = 0; x < w; ++x) row[x] = 0xFF000000u | uint32_t(x * 2654435761u ^ uint32_t(y) * 40503u);
  }
  return b;
}

// Draws the picture fitted into the screen (1/6000 x 1920 wide, centred).
void DrawFitted(T3DScreen* screen, TMultiTexture6* t) {
  const float k = float(kH) / 4000;
  TAffineFrame3D plane;
  float x0 = (kW - 6000 * k) / 2;
  foundation::InitAffineFrame3D(plane, {x0, 0, 0}, {k, 0, 0}, {0, k, 0}, {0, 0, 1});
  screen->BeginScene();
  screen->Clear(0xFF000000, false);
  t->Draw(plane, {0, 0}, {kW / 2.0f, kH / 2.0f, -float(kH)}, {0, 0, 6000, 4000});
  screen->EndScene(false);
}

void BM_PictureThroughTextureStore(benchmark::State& state) {
  const bool cached = state.range(0) != 0;
  Setup& s = S();
  imaging::TImage* image = imaging::WrapBitmapAsImage(Picture(6000, 4000), true, u"24mp");
  imaging::TSysBitmap* bmp = static_cast<imaging::TSysBitmap*>(image->GetBitmap());
  Reference ref;
  GLuint refTex = glref::PictureTexture(6000, 4000, nullptr);
  const float k = float(kH) / 4000, x0 = (kW - 6000 * k) / 2;
  std::vector<std::array<float, 4>> quad = {{x0, 0, x0 + 6000 * k, float(kH)}};
  auto* warm = new TTextureSource(s.Screen);
  DrawFitted(s.Screen, warm->GetTexture(image, {}));  // tiles made once
  glFinish();
  double ours = 0, base = 0;
  for (auto _ : state) {
    // A picture not drawn before: its tiles come from the pool and are filled
    // and uploaded (the wrapper shares the decoded bitmap).
    imaging::TImage* shown = cached ? image : imaging::WrapBitmapAsImage(bmp, false, u"24mp");
    // The picture is decoded already when a show draws it: its level-0
    // bitmap is produced outside the timing.
    shown->Store->GetBitmap(0, nullptr, imaging::TSysBitmap::StaticClass());
    auto t0 = Clock::now();
    DrawFitted(s.Screen, warm->GetTexture(shown, {}));
    glFinish();
    auto t1 = Clock::now();
    if (!cached) {
      glBindTexture(GL_TEXTURE_2D, refTex);
      glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 6000, 4000, GL_BGRA, GL_UNSIGNED_BYTE, bmp->Row(0));
    }
    ref.Draw(quad, {refTex});
    glFinish();
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
    if (!cached) shown->Free();  // its store and texture go with it
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  glDeleteTextures(1, &refTex);
  warm->Free();
  image->Free();
}
BENCHMARK(BM_PictureThroughTextureStore)->Arg(0)->Arg(1)->ArgName("cached")->Unit(benchmark::kMillisecond);

// A root item whose 200 children each draw one 64 x 64 texture.
class TTexItem64 : public TDrawItem {
 public:
  TCustomTexture* Texture = nullptr;
  float X = 0, Y = 0;
  void Draw(T3DDrawer* d) override {
    d->Screen->DrawTextureRect(Texture, {X, Y, 0}, {0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 64, 64});
  }
};
class TRootItem : public TDrawItem {
 public:
  std::vector<TDrawItem*> Children;
  void Draw(T3DDrawer* d) override {
    for (TDrawItem* c : Children) d->DrawItemInScene(c);
  }
};
class TFilledTexture : public TCustomTexture {
 public:
  using TCustomTexture::TCustomTexture;
  uint32_t Color = 0;
  void Paint(imaging::TSysBitmap* b) override { b->FillRect({0, 0, Width, Height}, Color); }
};

void BM_FrameOf200TexturedItems(benchmark::State& state) {
  Setup& s = S();
  auto* drawer = new T3DDrawer(s.Screen);
  drawer->CreateShaders();
  drawer->CaptureMode = 1;  // no present: the frame pacing would sleep
  auto* root = new TRootItem();
  std::vector<GLuint> refTextures;
  std::vector<std::array<float, 4>> quads;
  std::vector<uint32_t> texels(64 * 64);
  for (int i = 0; i < 200; ++i) {
    auto* t = new TFilledTexture(s.Screen);
    t->Color = 0xFF000000u | uint32_t(i * 2654435761u);
    t->SetSize(64, 64);
    auto* item = new TTexItem64();
    item->Texture = t;
    item->X = float((i * 97) % (kW - 64));
    item->Y = float((i * 53) % (kH - 64));
    root->Children.push_back(item);
    std::fill(texels.begin(), texels.end(), t->Color);
    refTextures.push_back(glref::PictureTexture(64, 64, texels.data()));
    quads.push_back({item->X, item->Y, item->X + 64, item->Y + 64});
  }
  Reference ref;
  TViewState view = s.Screen->GetViewState();
  drawer->DrawItemInView(root, view);  // fills the textures once
  glFinish();
  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    drawer->DrawItemInScene(root);
    glFinish();
    auto t1 = Clock::now();
    ref.Draw(quads, refTextures);
    glFinish();
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  for (GLuint t : refTextures) glDeleteTextures(1, &t);
  for (TDrawItem* c : root->Children) {
    static_cast<TTexItem64*>(c)->Texture->Free();
    c->Free();
  }
  root->Free();
  drawer->Free();
}
BENCHMARK(BM_FrameOf200TexturedItems)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
