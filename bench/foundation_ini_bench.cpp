// Each benchmark runs our workload and the reference workload on the same
// text in one iteration and reports ours / reference as the counter "ratio"
// (1.0 = as fast as the reference).
#include <benchmark/benchmark.h>

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
  for (auto _ : state) {
    auto t0 = Clock::now();
    TRef<TIniFile> ini = MakeRef<TIniFile>();
    stream->SetPosition(0);
    LoadIniFromStream(ini.Get(), stream.Get());
    benchmark::DoNotOptimize(TIniList::FindKey(TIniFile::FindSection(ini.Get(), u"slide1"), u"duration"));
    ini.Reset();
    auto t1 = Clock::now();
    benchmark::DoNotOptimize(ReferenceLoad(text));
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    ref += Seconds(t1, t2);
  }
  state.counters["ratio"] = ref > 0 ? ours / ref : 0;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_LoadProject)->Arg(10)->Arg(300);

}  // namespace

BENCHMARK_MAIN();
