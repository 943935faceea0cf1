// Each benchmark runs our workload and the reference workload on the same
// text in one iteration, in alternating order, and reports our time over the
// reference's as the counter "ratio" (below 1 is faster).
//  - BM_LoadProject: load and free together, small and mid-sized texts;
//  - BM_Load20MB / BM_Free20MB: a 20 MB project-like text loaded, and its
//    tree freed, timed apart (aims: load at least 100 MB/s; freeing faster
//    than loading: the free's "ratio" is its time over the load's);
//  - BM_HeapPerByte: the heap the tree holds over the text's size (aim at
//    most 4).
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <chrono>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvStream.h"

using namespace foundation;

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// A project-like text: slides with keys and nested object blocks.
std::string ProjectText(int slides) {
  std::string t = "\xEF\xBB\xBF[main]\r\nopt_title=Bench\r\n";
  for (int s = 0; s < slides; ++s) {
    t += "[slide" + std::to_string(s) + "]\r\nduration=5000\r\neffect=12\r\n";
    for (int o = 0; o < 8; ++o) {
      t += "object Img" + std::to_string(o) + ":TQelImage\r\n  file=photos\\img" + std::to_string(o) +
           ".jpg\r\n  rect=0,0,1920,1080\r\n  object K:TKeyFrame\r\n    time=0\r\n    opacity=100\r\n  end\r\nend\r\n";
    }
  }
  return t;
}

// The reference: one pass, sections as maps of key views; blocks are only
// counted (no tree).
size_t ReferenceLoad(std::string_view text) {
  std::vector<std::unordered_map<std::string_view, std::string_view>> sections(1);
  size_t pos = 0, blocks = 0;
  while (pos < text.size()) {
    const char* nl = static_cast<const char*>(std::memchr(text.data() + pos, '\n', text.size() - pos));
    const size_t end = nl ? static_cast<size_t>(nl - text.data()) : text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    while (!line.empty() && static_cast<unsigned char>(line.back()) <= 32) line.remove_suffix(1);
    while (!line.empty() && static_cast<unsigned char>(line.front()) <= 32) line.remove_prefix(1);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      sections.emplace_back();
      continue;
    }
    if (line.starts_with("object") || line == "end") {
      ++blocks;
      continue;
    }
    const size_t eq = line.find('=');
    if (eq != std::string_view::npos) sections.back()[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return sections.size() + blocks;
}

void BM_LoadProject(benchmark::State& state) {
  const std::string text = ProjectText(static_cast<int>(state.range(0)));
  TRef<TStringStream> stream = MakeRef<TStringStream>(text);
  double ours = 0, ref = 0;
  bool oursFirst = true;
  for (auto _ : state) {
    auto runOurs = [&] {
      auto t0 = Clock::now();
      TRef<TIniFile> ini = MakeRef<TIniFile>();
      stream->SetPosition(0);
      LoadIniFromStream(ini.Get(), stream.Get());
      benchmark::DoNotOptimize(TIniList::FindKey(TIniFile::FindSection(ini.Get(), u"slide1"), u"duration"));
      ini.Reset();
      ours += Seconds(t0, Clock::now());
    };
    auto runReference = [&] {
      auto t0 = Clock::now();
      benchmark::DoNotOptimize(ReferenceLoad(text));
      ref += Seconds(t0, Clock::now());
    };
    if (oursFirst) {
      runOurs();
      runReference();
    } else {
      runReference();
      runOurs();
    }
    oursFirst = !oursFirst;
  }
  state.counters["ratio"] = ref > 0 ? ours / ref : 0;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_LoadProject)->Arg(10)->Arg(300);

// About 20 MB of project text.
const std::string& Text20MB() {
  static const std::string text = ProjectText(18000);
  return text;
}

TIniFile* LoadOurs(TStringStream* stream) {
  auto* ini = new TIniFile();
  stream->SetPosition(0);
  LoadIniFromStream(ini, stream);
  return ini;
}

void BM_Load20MB(benchmark::State& state) {
  const std::string& text = Text20MB();
  TRef<TStringStream> stream = MakeRef<TStringStream>(text);
  double ours = 0, ref = 0;
  bool oursFirst = true;
  for (auto _ : state) {
    TIniFile* ini = nullptr;
    auto runOurs = [&] {
      auto t0 = Clock::now();
      ini = LoadOurs(stream.Get());
      ours += Seconds(t0, Clock::now());
    };
    auto runReference = [&] {
      auto t0 = Clock::now();
      benchmark::DoNotOptimize(ReferenceLoad(text));
      ref += Seconds(t0, Clock::now());
    };
    if (oursFirst) {
      runOurs();
      runReference();
    } else {
      runReference();
      runOurs();
    }
    oursFirst = !oursFirst;
    state.PauseTiming();
    ini->Free();
    state.ResumeTiming();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["MBps"] = static_cast<double>(text.size()) * n / ours / 1e6;
  state.counters["ours_ms"] = ours * 1e3 / n;
  state.counters["reference_ms"] = ref * 1e3 / n;
  state.counters["ratio"] = ref > 0 ? ours / ref : 0;
}
BENCHMARK(BM_Load20MB)->Unit(benchmark::kMillisecond)->Iterations(6);

// The reference of freeing is our own load of the same text: the free must
// take less time than the load did.
void BM_Free20MB(benchmark::State& state) {
  const std::string& text = Text20MB();
  TRef<TStringStream> stream = MakeRef<TStringStream>(text);
  double freeing = 0, loading = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    TIniFile* ini = LoadOurs(stream.Get());
    auto t1 = Clock::now();
    ini->Free();
    auto t2 = Clock::now();
    loading += Seconds(t0, t1);
    freeing += Seconds(t1, t2);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["free_ms"] = freeing * 1e3 / n;
  state.counters["load_ms"] = loading * 1e3 / n;
  state.counters["ratio"] = loading > 0 ? freeing / loading : 0;
}
BENCHMARK(BM_Free20MB)->Unit(benchmark::kMillisecond)->Iterations(6);

void BM_HeapPerByte(benchmark::State& state) {
  const std::string& text = Text20MB();
  TRef<TStringStream> stream = MakeRef<TStringStream>(text);
  double perByte = 0;
  for (auto _ : state) {
    malloc_trim(0);
    const size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
    TIniFile* ini = LoadOurs(stream.Get());
    const size_t after = mallinfo2().uordblks + mallinfo2().hblkhd;
    perByte = static_cast<double>(after - before) / static_cast<double>(text.size());
    ini->Free();
  }
  state.counters["heap_per_text_byte"] = perByte;
  state.counters["text_MB"] = static_cast<double>(text.size()) / 1e6;
}
BENCHMARK(BM_HeapPerByte)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
