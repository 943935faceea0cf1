// The worst a show may ask of the player, each beside a reference run in
// the same iterations ("ratio" = ours / reference; times are thread CPU
// times, the machine being shared):
//   - the text of a 40,000-character line: laid out and every glyph's
//     information asked for, as drawing it does, against shaping the same
//     line once with the font (a floor: one pass of the shaper);
//   - one frame in the middle of a mosaic transition asking for two billion
//     columns and rows (the largest grid drawn: 256 x 256 cells) at
//     1280 x 720 through the draw controller on the recording renderer,
//     against the same frame of a dissolve;
//   - opening a show of 100,000 slides (the packed show opened and its show
//     source made, as the player's opener does), against reading its project
//     text into an INI tree alone (a floor); "peak_mb" is the process's peak
//     resident memory during the open, reset before each.
#include <benchmark/benchmark.h>

#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "container/kvQelFileAccessor2.h"
#include "container/kvQelLoader2.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvStream.h"
#include "player/Startup.h"
#include "player/PlayerStartup.h"
#include "showmodel/kvObjectFilters.h"
#include "showmodel/kvQel3DDrawer.h"
#include "showmodel/kvQelKeyFrames.h"
#include "showmodel/kvQelObject.h"
#include "showmodel/kvQelObjectMod.h"
#include "showmodel/kvQelSource2.h"
#include "showmodel/kvQelVideo.h"
#include "showmodel/kvQelViewPort.h"
#include "showmodel/kvSlideEffect.h"
#include "tests/support/FixtureShow.h"
#include "tests/support/PinnedFonts.h"
#include "tests/support/RecordingRenderer.h"
#include "tests/support/ShowFrames.h"
#include "text/GdiDynamicFunctions.h"
#include "text/kvGlyphCache.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextElement.h"
#include "text/winTextVectorizer.h"

namespace {

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

render3d_test::TRecordingEngine* gEngine = nullptr;
render3d::T3DEngine* MakeEngine() {
  gEngine->_AddRef();
  return gEngine;
}

std::string& Folder() {
  static std::string folder;
  return folder;
}
void RemoveFolder() {
  std::error_code ec;
  if (!Folder().empty()) std::filesystem::remove_all(Folder(), ec);
}

void Start() {
  static bool started = false;
  if (started) return;
  started = true;
  static testsupport::ScopedFontBackend fonts;
  player::StartPlayer();
  text::GlobalFontCache()->SetCacheId(u"local");
  gEngine = new render3d_test::TRecordingEngine();
  render3d::SetEngineFactory(&MakeEngine);
  Folder() = (std::filesystem::temp_directory_path() / ("qel-show-worst-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(Folder());
  std::atexit(RemoveFolder);
}

// ---- a 40,000-character line ----

std::u16string LongLine() {
  std::u16string s;
  const std::u16string words[] = {u"Wide ", u"\u05E9\u05DC\u05D5\u05DD ", u"\u4E2D\u6587 ", u"text, ", u"e\u0301t\u00E9 "};
  for (size_t k = 0; s.size() < 40000; ++k) s += words[k % 5];
  s.resize(40000);
  return s;
}

void BM_LongTextFrame(benchmark::State& state) {
  Start();
  const std::u16string line = LongLine();
  text::TFontParams font;
  text::InitFontParams(font, u"Arial", 24, 0, text::MakeFColor(0, 0, 0), text::MakeFColor(255, 255, 255), true);
  double ours = 0, base = 0;
  int64_t glyphs = 0;
  for (auto _ : state) {
    const double t0 = Now();
    auto* e = new text::TWinTextElement(font, 0);
    e->InsertText(1, line, 1, int32_t(line.size()));
    glyphs = e->GetGlyphCount();
    int64_t sum = 0;
    for (int32_t g = 0; g < e->GetGlyphCount(); ++g) {
      text::TGlyphInfo info;
      e->GetGlyphInfo(g, info);
      sum += info.PenX;
    }
    benchmark::DoNotOptimize(sum);
    e->Free();
    const double t1 = Now();
    platform::fonts::Placement p;
    text::CreateFontHandle(font)->placeText(line, p);
    benchmark::DoNotOptimize(p.width);
    const double t2 = Now();
    ours += t1 - t0;
    base += t2 - t1;
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  state.counters["frame_ms"] = ours / double(state.iterations()) * 1000;
  state.counters["shape_once_ms"] = base / double(state.iterations()) * 1000;
  state.counters["glyphs"] = double(glyphs);
}
BENCHMARK(BM_LongTextFrame)->Unit(benchmark::kMillisecond)->Iterations(3);

// ---- the largest mosaic ----

class Frames : public testsupport::ShowFrames {
  void AfterFrame(render3d::T3DScreen* screen) override {
    if (auto* r = dynamic_cast<render3d_test::TRecordingRenderer*>(screen->Renderer)) r->Calls.clear();
    gEngine->Made.clear();  // not owned: renderers a lost device dropped are gone
  }
};

std::string ShowWithTransition(const std::string& name, const std::string& block) {
  std::string project = testsupport::FixtureProjectText();
  const std::string fade = "  object Fade: dissolve\r\n    checked=1\r\n  end\r\n";
  project.replace(project.find(fade), fade.size(), block);
  testsupport::ContainerBuilder b;
  b.AddDeflated("Project.qel", project);
  for (auto& e : testsupport::FixtureShowMedia()) b.Add(e);
  const std::string path = Folder() + "/" + name;
  b.WriteFile(path);
  return path;
}

void BM_LargestMosaicFrame(benchmark::State& state) {
  Start();
  const std::string mosaic = ShowWithTransition(
      "mosaic", "  object Fade: mosaic\r\n    cols=2000000000\r\n    rows=2000000000\r\n    checked=1\r\n  end\r\n");
  const std::string dissolve = ShowWithTransition("dissolve", "  object Fade: dissolve\r\n    checked=1\r\n  end\r\n");
  Frames ours, ref;
  testsupport::ShowFramesReport a, b;
  if (!ours.Open(mosaic, 1, a) || !ref.Open(dissolve, 1, b)) {
    state.SkipWithError("the shows did not open");
    return;
  }
  const double t = 4500;  // the middle of the second slide's transition
  if (!ours.Frame(t, a) || !ref.Frame(t, b) || a.MosaicColumns < 1) {
    state.SkipWithError("the transition frame was not drawn");
    return;
  }
  double mine = 0, base = 0;
  for (auto _ : state) {
    const double t0 = Now();
    ours.Frame(t, a);
    const double t1 = Now();
    ref.Frame(t, b);
    const double t2 = Now();
    mine += t1 - t0;
    base += t2 - t1;
  }
  state.counters["ratio"] = base > 0 ? mine / base : 0;
  state.counters["frame_ms"] = mine / double(state.iterations()) * 1000;
  state.counters["dissolve_ms"] = base / double(state.iterations()) * 1000;
  state.counters["cells"] = double(a.MosaicColumns) * a.MosaicRows;
}
BENCHMARK(BM_LargestMosaicFrame)->Unit(benchmark::kMillisecond)->Iterations(20);

// ---- 100,000 slides ----

std::string ManySlidesProject(int32_t slides) {
  std::string s = "[Main]\r\nopt_repeat=close\r\nobject TheEffect: AnEffect\r\n  time=500\r\n"
                  "  object Fade: dissolve\r\n    checked=1\r\n  end\r\nend\r\n[Times]\r\nopt_slidescount=" +
                  std::to_string(slides) + "\r\n";
  for (int32_t k = 1; k <= slides; ++k) s += "opt_synchpos" + std::to_string(k) + "=" + std::to_string(k * 3000) + "\r\n";
  for (int32_t k = 1; k <= slides; ++k)
    s += "[Slide" + std::to_string(k) + "]\r\nobject TheEffect: AnEffect\r\n  ref=default\r\nend\r\n"
         "object Container: Root\r\n  object Photo: Image\r\n    ImageName=photos\\beach.jpg\r\n  end\r\nend\r\n";
  return s;
}

// The process's peak resident memory in MiB, and its reset to the present.
double PeakMb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void BM_OpenManySlides(benchmark::State& state) {
  Start();
  const std::string project = ManySlidesProject(100000);
  testsupport::ContainerBuilder b;
  b.AddDeflated("Project.qel", project);
  for (auto& e : testsupport::FixtureShowMedia()) b.Add(e);
  const std::string path = Folder() + "/many";
  b.WriteFile(path);
  const std::vector<uint8_t> bytes(project.begin(), project.end());
  double ours = 0, base = 0, peak = 0, peakRef = 0;
  int32_t slides = 0;
  for (auto _ : state) {
    ResetPeak();
    const double before = PeakMb();
    const double t0 = Now();
    std::u16string error;
    auto locator = foundation::TRef<container::TQelShowLocator>::Adopt(
        container::OpenShow(platform::os::fromPosixPath(path), error));
    const double t1 = Now();
    peak = std::max(peak, PeakMb() - before);
    slides = locator && locator->GetSource() ? locator->GetSource()->SlideCount : -1;
    locator.Reset();
    ResetPeak();
    const double before2 = PeakMb();
    const double t2 = Now();
    auto ini = foundation::MakeRef<foundation::TIniFile>();
    auto stream = foundation::MakeRef<foundation::TMemoryStream>();
    stream->WriteBuf(bytes.data(), int32_t(bytes.size()));
    stream->SetPosition(0);
    const bool read = foundation::LoadIniFromStream(ini.Get(), stream.Get());
    const double t3 = Now();
    if (!read || !foundation::TIniFile::FindSection(ini.Get(), u"Slide100000")) {
      state.SkipWithError("the project text did not read");
      return;
    }
    peakRef = std::max(peakRef, PeakMb() - before2);
    ini.Reset();
    ours += t1 - t0;
    base += t3 - t2;
  }
  if (slides != 100000) state.SkipWithError("the show did not open with its slides");
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  state.counters["open_s"] = ours / double(state.iterations());
  state.counters["ini_only_s"] = base / double(state.iterations());
  state.counters["peak_mb"] = peak;
  state.counters["ini_only_peak_mb"] = peakRef;
}
BENCHMARK(BM_OpenManySlides)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
