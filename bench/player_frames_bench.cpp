// One frame of the fixture show at 1280 x 720: the slides chosen for the
// show time, drawn through the root item and the draw manager (objects,
// text, the dissolve between two slides) on the GL device, beside plain GL
// drawing one full-frame textured quad in the same context (the least a
// frame costs), interleaved in every iteration. Both sides end with
// glFinish. Counters: "ratio" = ours / plain GL, "frame_ms" = our time per
// frame. Five repetitions give the median and the worst ("max").
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/GLReference.h"
#include "container/kvQelLoader2.h"
#include "decoders/Startup.h"
#include "foundation/kpThreads2.h"
#include "imaging/Startup.h"
#include "platform/gpu/api.h"
#include "platform/os/paths.h"
#include "player/QelDrawController.h"
#include "player/Startup.h"
#include "render3d/DXDev3D.h"
#include "showmodel/kvObjectFilters.h"
#include "showmodel/kvQel3DDrawer.h"
#include "showmodel/kvQelKeyFrames.h"
#include "showmodel/kvQelObject.h"
#include "showmodel/kvQelObjectMod.h"
#include "showmodel/kvQelSource2.h"
#include "showmodel/kvSlideProducer.h"
#include "tests/support/FixtureShow.h"
#include "tests/support/PinnedFonts.h"
#include "text/GdiDynamicFunctions.h"
#include "text/kvGlyphCache.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextVectorizer.h"

namespace {

using Clock = std::chrono::steady_clock;
using foundation::TRef;
double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

constexpr int kW = 1280, kH = 720;

// The folder of the show copy, removed when the program ends.
std::string& ShowFolder() {
  static std::string folder;
  return folder;
}
void RemoveShowFolder() {
  std::error_code ec;
  if (!ShowFolder().empty()) std::filesystem::remove_all(ShowFolder(), ec);
}

struct Setup {
  testsupport::ScopedFontBackend Fonts;
  std::string Folder;
  TRef<container::TQelShowLocator> Locator;
  TRef<showmodel::TSlideProducer> Producer;
  TRef<showmodel::TTiming> Timing;
  std::vector<TRef<showmodel::TDrawContainer>> Slides;
  render3d::TRendererDevice* Device = nullptr;
  render3d::T3DScreen* Screen = nullptr;
  TRef<player::TQelDrawController> Controller;
  TRef<player::TRootItem> Root;

  Setup() {
    glref::StartOffscreen3D();
    player::StartPlayer();
    text::GlobalFontCache()->SetCacheId(u"local");
    // The show appended to a copy of this program, opened as the player does.
    Folder = (std::filesystem::temp_directory_path() / ("qel-player-frames-" + std::to_string(getpid()))).string();
    std::filesystem::create_directories(Folder);
    ShowFolder() = Folder;
    std::atexit(RemoveShowFolder);
    const std::string show = Folder + "/show";
    std::filesystem::copy_file("/proc/self/exe", show, std::filesystem::copy_options::overwrite_existing);
    testsupport::FixtureShowContainer().AppendToFile(show);
    std::u16string error;
    Locator = TRef<container::TQelShowLocator>::Adopt(container::OpenShow(platform::os::fromPosixPath(show), error));
    if (!Locator) std::abort();
    showmodel::TQelSource* source = Locator->GetSource();
    Producer = TRef<showmodel::TSlideProducer>::Adopt(new showmodel::TSlideProducer(source, false, {}, nullptr));
    Timing = TRef<showmodel::TTiming>::Adopt(new showmodel::TTiming(0));
    Producer->SetTiming(Timing.Get());
    Producer->SetRenderSize(kW, kH, 100, 100, false);
    for (int32_t k = 0; k < source->SlideCount; ++k)
      Slides.push_back(TRef<showmodel::TDrawContainer>::Adopt(Producer->PrepareSlide(k)));
    Device = render3d::Get3DEngine()->CreateOffscreenDevice(kW, kH);
    Screen = new render3d::T3DScreen();
    Screen->AssignDevice(Device);
    Controller = TRef<player::TQelDrawController>::Adopt(new player::TQelDrawController(Screen));
    Controller->InitDrawer();
    Root = TRef<player::TRootItem>::Adopt(new player::TRootItem(true));
    Root->View.Viewport = {0, 0, kW, kH};
    Root->View.Area = {0, 0, float(kW), float(kH)};
    Root->View.Scale = {float(kW), float(kH)};
  }
  bool Frame(double t) {
    Timing->Time = t;
    std::vector<showmodel::TDrawContainer*> list;
    for (auto& s : Slides) list.push_back(s.Get());
    if (!Root->SelectSlides(list.data(), int32_t(list.size()), nullptr)) return false;
    return Controller->DrawRoot(Root.Get(), Root->View);
  }
};
Setup& S() {
  static Setup* s = new Setup();
  return *s;
}

// Plain GL: one 1280 x 720 picture drawn over a 1280 x 720 target.
struct Reference {
  GLuint Prog = glref::LinkProgram(glref::kPlainFragment);
  glref::TFullQuad Quad;
  glref::TTarget Target{kW, kH};
  GLuint Tex = 0;
  Reference() {
    std::vector<uint32_t> px(size_t(kW) * kH);
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) px[size_t(y) * kW + x] = 0xFF000000u | uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF);
    Tex = glref::PictureTexture(kW, kH, px.data());
  }
  ~Reference() {
    glDeleteTextures(1, &Tex);
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
    glBindTexture(GL_TEXTURE_2D, Tex);
    glDrawArrays(GL_TRIANGLES, 0, 6);
    glBindVertexArray(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
  }
};

// Show times: the first slide, the dissolve halfway, the second and the
// third slide.
constexpr double kTimes[] = {2000, 4500, 6000, 10000};
const char* kLabels[] = {"first slide", "dissolve", "second slide", "third slide"};

void BM_ShowFrame(benchmark::State& state) {
  Setup& s = S();
  const double t = kTimes[state.range(0)];
  Reference ref;
  if (!s.Frame(t)) {
    state.SkipWithError("the frame was not drawn");
    return;
  }
  ref.Draw();
  glFinish();
  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    s.Frame(t);
    glFinish();
    auto t1 = Clock::now();
    ref.Draw();
    glFinish();
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  state.counters["frame_ms"] = state.iterations() > 0 ? ours / double(state.iterations()) * 1000 : 0;
  state.SetLabel(kLabels[state.range(0)]);
}
BENCHMARK(BM_ShowFrame)
    ->DenseRange(0, int(std::size(kTimes)) - 1)
    ->ArgName("time")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });

}  // namespace

BENCHMARK_MAIN();
