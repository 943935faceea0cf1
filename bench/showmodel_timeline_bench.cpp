// Opening a project of 1,000 slides (each with its transition reference, a
// slide id and an end action) and building its show source: the project text
// is parsed into an INI tree and the source built over it, which resolves
// every slide's transition through the effect manager and fills the time
// table. "ratio" is our time over a reference, interleaved in the same run,
// that parses the same text and fills a table of the same rows straight from
// the sync positions with a fixed transition length (the least any time table
// costs: no effect definitions, no slide sections). The aim is that opening
// stays well below a frame's worth of start-up per 100 slides (16.7 ms for
// the whole show: "budget_ratio" is our time over 16.7 ms).
//
// The second benchmark prepares the next slide in a slide cache (look-ahead
// 3) as the show time moves on by one slide per iteration: the slide with its
// object tree (an image with two key frames) and its transition. "ratio" is
// over a reference that only loads the same slide's key frames into a
// property tree; "budget_ratio" is over 10 ms, one loader pass.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "container/kvQelFileAccessor2.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvStream.h"
#include "showmodel/Startup.h"
#include "showmodel/kvObjectFilters.h"
#include "showmodel/kvQelKeyFrames.h"
#include "showmodel/kvQelObject.h"
#include "showmodel/kvQelObjectMod.h"
#include "showmodel/kvQelSource2.h"
#include "showmodel/kvSlideProducer.h"

namespace {

constexpr int kSlides = 1000;

std::string ProjectText() {
  std::string t =
      "[Main]\nopt_scr_width=1920\nopt_scr_height=1080\nopt_repeat=repeat\nobject TheEffect: AnEffect\n  time=1000\n"
      "  object Fade: dissolve\n    checked=1\n  end\n  object Push: push\n    checked=1\n    direction=1111\n  end\n"
      "end\n[Times]\nopt_slidescount=" +
      std::to_string(kSlides) + "\n";
  for (int k = 1; k <= kSlides; ++k) t += "opt_synchpos" + std::to_string(k) + "=" + std::to_string(k * 5000) + "\n";
  for (int k = 1; k <= kSlides; ++k) {
    t += "[Slide" + std::to_string(k) + "]\nslideid=s" + std::to_string(k) + "\nPicture=photos\\p" +
         std::to_string(k) + ".jpg\nPers_EndAction=timer\nobject TheEffect: AnEffect\n  ref=default\nend\n";
    t += "object Container: Root\n  object Photo: Image\n    GUID={" + std::to_string(k) +
         "}\n    ImageName=photos\\p" + std::to_string(k) +
         ".jpg\n    object K0: KeyPoint\n      Time=0\n      ScaleX=100\n    end\n"
         "    object K1: KeyPoint\n      Origin=SlideEnd\n      Time=0\n      ScaleX=112\n    end\n  end\nend\n";
  }
  return t;
}

foundation::TRef<foundation::TIniFile> Parse(const std::string& text) {
  auto ini = foundation::MakeRef<foundation::TIniFile>();
  auto s = foundation::MakeRef<foundation::TMemoryStream>();
  s->WriteBuf(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
  s->SetPosition(0);
  foundation::LoadIniFromStream(ini.Get(), s.Get());
  return ini;
}

void BM_OpenThousandSlideShow(benchmark::State& state) {
  showmodel::StartShowModel();
  const std::string text = ProjectText();
  auto* files = new container::TRealFileSource();
  auto accessor = foundation::TRef<container::TFileAccessor>::Adopt(new container::TFileAccessor(files));
  files->Free();
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    {
      auto ini = Parse(text);
      auto source = foundation::TRef<showmodel::TQelSource>::Adopt(
          new showmodel::TQelSource(accessor.Get(), ini.Get(), false, [](int32_t) { return 0; }));
      benchmark::DoNotOptimize(source->ShowLength);
    }
    const auto t1 = std::chrono::steady_clock::now();
    {
      auto ini = Parse(text);
      const int32_t n = foundation::IniReadInteger(ini.Get(), u"Times", u"opt_slidescount", 0);
      foundation::TIniSection* times = foundation::TIniFile::FindSection(ini.Get(), u"Times");
      std::vector<showmodel::TSlideTimes> rows(size_t(n > 0 ? n : 0));
      double prev = 0;
      for (int32_t i = 0; i < n; ++i) {
        const double e = foundation::TIniItem::GetInteger(
            foundation::TIniList::FindKeyIndexed(times, u"opt_synchpos", i + 1), 0);
        rows[size_t(i)] = {prev, e, 1000, 1000};
        prev = e;
      }
      benchmark::DoNotOptimize(rows.data());
    }
    const auto t2 = std::chrono::steady_clock::now();
    ours += std::chrono::duration<double>(t1 - t0).count();
    theirs += std::chrono::duration<double>(t2 - t1).count();
  }
  const double perOpen = ours / double(state.iterations());
  state.counters["ms_per_open"] = perOpen * 1000;
  state.counters["budget_ratio"] = perOpen / 0.0167;
  state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
}
BENCHMARK(BM_OpenThousandSlideShow)->Unit(benchmark::kMillisecond);

void BM_PrepareNextSlide(benchmark::State& state) {
  showmodel::StartShowModel();
  const std::string text = ProjectText();
  auto* files = new container::TRealFileSource();
  auto accessor = foundation::TRef<container::TFileAccessor>::Adopt(new container::TFileAccessor(files));
  files->Free();
  auto ini = Parse(text);
  auto source = foundation::TRef<showmodel::TQelSource>::Adopt(
      new showmodel::TQelSource(accessor.Get(), ini.Get(), false, [](int32_t) { return 0; }));
  auto producer =
      foundation::TRef<showmodel::TSlideProducer>::Adopt(new showmodel::TSlideProducer(source.Get(), false, {}, nullptr));
  producer->SetTiming(foundation::TRef<showmodel::TTiming>::Adopt(new showmodel::TTiming(0)).Get());
  producer->SetRenderSize(1920, 1080, 100, 100, false);
  auto cache = foundation::TRef<showmodel::TSlideCache>::Adopt(new showmodel::TSlideCache(producer.Get(), false, 3));
  cache->Sleep = [](uint32_t) {};
  double t = 2500;
  while (cache->Update(t)) {
  }
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    t += 5000;
    const auto t0 = std::chrono::steady_clock::now();
    cache->Update(t);  // drops the slide left behind
    cache->Update(t);  // prepares the one coming into the window
    const auto t1 = std::chrono::steady_clock::now();
    {
      foundation::TIniSection* section =
          foundation::TIniFile::FindSection(ini.Get(), u"Slide1");
      auto props = foundation::MakeRef<showmodel::TQelObjectProps>();
      showmodel::LoadObjectProps(props.Get(), foundation::TIniList::FindObject(section, u"Container"),
                                 showmodel::TObjectTimes{6000, 1000, 1000});
      benchmark::DoNotOptimize(props.Get());
    }
    const auto t2 = std::chrono::steady_clock::now();
    ours += std::chrono::duration<double>(t1 - t0).count();
    theirs += std::chrono::duration<double>(t2 - t1).count();
  }
  const double perSlide = ours / double(state.iterations());
  state.counters["us_per_slide"] = perSlide * 1e6;
  state.counters["budget_ratio"] = perSlide / 0.010;
  state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
}
BENCHMARK(BM_PrepareNextSlide)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
