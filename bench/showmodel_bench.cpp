// The animated parameters of a slide of 50 objects, each with 8 key frames
// and two modifiers (a parameter shifted by a formula, the position group
// eased by a spline), evaluated once per frame as the show time advances by
// 16.7 ms. The aim is 2 % of a 16.7 ms frame on one core: "budget_ratio" is
// the measured time over 0.334 ms. "ratio" is our time over a reference that
// does the same arithmetic on plain arrays with the modifiers written in C++
// (no INI, no calculator), interleaved in the same run.
//
// The second benchmark compiles 10,000 formulas; its "ratio" is over a floor
// that only scans the same bytes and converts their numbers.
#include <benchmark/benchmark.h>

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvStream.h"
#include "showmodel/CurveLinearInterpolation.h"
#include "showmodel/kvCalc.h"
#include "showmodel/kvCalcSplines.h"
#include "showmodel/Startup.h"
#include "showmodel/kvQelKeyFrames.h"
#include "showmodel/kvQelObjectMod.h"

using namespace showmodel;
using foundation::MakeRef;
using foundation::TRef;

namespace {

constexpr int kObjects = 50, kFrames = 8;
constexpr double kSpan = 8000, kStep = 16.7;
constexpr double kBudgetSeconds = 0.0167 * 0.02;

double KeyValue(int o, int k, int p) { return (o * 7 + k * 13 + p * 3) % 100; }

std::string SlideText() {
  std::string t = "[S]\nobject Root: Frame\n  GUID={R}\n";
  for (int o = 0; o < kObjects; ++o) {
    t += "  object O" + std::to_string(o) + ": Image\n    GUID={O" + std::to_string(o) + "}\n";
    for (int k = 0; k < kFrames; ++k) {
      t += "    object K" + std::to_string(k) + ": KeyPoint\n      Time=" + std::to_string(k * 1000) + "\n";
      t += "      Opacity=" + std::to_string(KeyValue(o, k, 0)) + "\n";
      t += "      Position=" + std::to_string(KeyValue(o, k, 1)) + "," + std::to_string(KeyValue(o, k, 2)) + "\n";
      t += "      ScaleX=" + std::to_string(KeyValue(o, k, 4)) + "\n      ScaleY=" + std::to_string(KeyValue(o, k, 5)) +
           "\n";
      t += "      Angle=" + std::to_string(KeyValue(o, k, 6)) + "\n";
      t += "      Zoom=" + std::to_string(100 + KeyValue(o, k, 12)) +
           "\n      OffsX=" + std::to_string(KeyValue(o, k, 13)) + "\n";
      t += "      object M1: Mod\n        dst=Pos.X\n        fn=value+10\n      end\n";
      t += "      object M2: Mod\n        dst=Pos.T\n        fn=QSplineGraph(T, 0.42, 0, 0.58, 1)\n      end\n";
      t += "    end\n";
    }
    t += "  end\n";
  }
  return t + "end\n";
}

struct Slide {
  TRef<foundation::TIniFile> Ini = MakeRef<foundation::TIniFile>();
  TRef<TQelObjectProps> Props = MakeRef<TQelObjectProps>();
  Slide() {
    StartShowModel();
    const std::string text = SlideText();
    auto s = MakeRef<foundation::TMemoryStream>();
    s->WriteBuf(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
    s->SetPosition(0);
    foundation::LoadIniFromStream(Ini.Get(), s.Get());
    LoadObjectProps(Props.Get(), foundation::TIniList::FirstObject(foundation::TIniFile::FindSection(Ini.Get(), u"S")),
                    TObjectTimes{int32_t(kSpan), 1000, 1000});
  }
};

// The reference: the same key values in arrays, a segment search from the
// previous one, linear interpolation, and the two modifiers in C++.
struct Reference {
  std::array<double, kFrames> times{};
  std::vector<std::array<std::array<float, 15>, kFrames>> values;
  std::vector<std::array<float, 15>> out;
  TRef<TCubicBezier> curve = MakeRef<TCubicBezier>();
  int seg = 0;
  Reference() : values(kObjects), out(kObjects) {
    for (int k = 0; k < kFrames; ++k) times[size_t(k)] = k * 1000;
    for (int o = 0; o < kObjects; ++o)
      for (int k = 0; k < kFrames; ++k)
        for (int p = 0; p < 15; ++p) values[size_t(o)][size_t(k)][size_t(p)] = float(KeyValue(o, k, p));
    curve->Points.P1 = {0.42f, 0};
    curve->Points.P2 = {0.58f, 1};
    curve->Points.P3 = {1, 1};
    Flatten(curve.Get(), 0, 1, 1e-6);
  }
  void Frame(double t) {
    while (seg > 0 && times[size_t(seg)] > t) --seg;
    while (seg + 1 < kFrames - 1 && times[size_t(seg + 1)] <= t) ++seg;
    const double f = std::clamp((t - times[size_t(seg)]) / (times[size_t(seg + 1)] - times[size_t(seg)]), 0.0, 1.0);
    const double eased = LookupPiece(curve.Get(), f);
    for (int o = 0; o < kObjects; ++o) {
      const auto& a = values[size_t(o)][size_t(seg)];
      const auto& b = values[size_t(o)][size_t(seg + 1)];
      for (int p = 0; p < 15; ++p) {
        const double ff = (p >= 1 && p <= 3) ? eased : f;
        out[size_t(o)][size_t(p)] = float(a[size_t(p)] + (b[size_t(p)] - a[size_t(p)]) * ff);
      }
      out[size_t(o)][1] += 10;
    }
  }
};

void BM_SlideFrame(benchmark::State& state) {
  Slide slide;
  Reference ref;
  double t = 0, ours = 0, theirs = 0;
  for (auto _ : state) {
    t += kStep;
    if (t > kSpan) t -= kSpan;
    const auto t0 = std::chrono::steady_clock::now();
    EvaluateObjectProps(slide.Props.Get(), t, true);
    const auto t1 = std::chrono::steady_clock::now();
    ref.Frame(t);
    const auto t2 = std::chrono::steady_clock::now();
    ours += std::chrono::duration<double>(t1 - t0).count();
    theirs += std::chrono::duration<double>(t2 - t1).count();
    benchmark::DoNotOptimize(slide.Props->Children[0]->Values);
    benchmark::DoNotOptimize(ref.out.data());
  }
  const double perFrame = ours / double(state.iterations());
  state.counters["ms_per_frame"] = perFrame * 1000;
  state.counters["budget_ratio"] = perFrame / kBudgetSeconds;
  state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
}
BENCHMARK(BM_SlideFrame)->Unit(benchmark::kMicrosecond);

const char* const kFormulas[] = {
    "value+10",
    "QSplineGraph(T, 0.42, 0, 0.58, 1)",
    "Amp*Sin(T*Pi*2)+value",
    "Power(T, 2)*100-Lerp(1, 2, T)/(T+1)",
    "-(Pos.X*2)+Scale.Y/4",
    "Round(value/10)*10",
    "value*Rnd",
    "Ceil(T*8)/8*(Opacity-50)+50",
};

class TBenchVar : public TCalcFunc {
 public:
  explicit TBenchVar(std::string_view n) : TCalcFunc(n, 0, false) {}
  void Execute(TCalcStack& s) override { s.Push(0.5); }
};

TCalcFunc* Resolve(void*, std::string_view text, int32_t start, int32_t count) {
  const std::string_view n = text.substr(size_t(start), size_t(count));
  if (n == "T" || n == "value" || n == "Pos.X" || n == "Scale.Y" || n == "Opacity") return new TBenchVar(n);
  if (n == "Amp") return new TMathConst(n, 5);
  return nullptr;
}

void BM_Compile10000(benchmark::State& state) {
  RegisterSplineGraph();
  double ours = 0, floor = 0;
  size_t commands = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 10000; ++i) {
      TExpressionParser p;
      p.Text = kFormulas[i % std::size(kFormulas)];
      Compile(p, 0, int32_t(p.Text.size()), TCalcResolver{Resolve, nullptr});
      commands += size_t(p.Commands.Count);
    }
    const auto t1 = std::chrono::steady_clock::now();
    double sum = 0;
    for (int i = 0; i < 10000; ++i) {
      const std::string text = kFormulas[i % std::size(kFormulas)];
      for (size_t j = 0; j < text.size(); ++j)
        if (text[j] >= '0' && text[j] <= '9') {
          double v = 0;
          const auto r = std::from_chars(text.data() + j, text.data() + text.size(), v);
          sum += v;
          j = size_t(r.ptr - text.data());
        }
    }
    benchmark::DoNotOptimize(sum);
    const auto t2 = std::chrono::steady_clock::now();
    ours += std::chrono::duration<double>(t1 - t0).count();
    floor += std::chrono::duration<double>(t2 - t1).count();
  }
  benchmark::DoNotOptimize(commands);
  state.counters["ms_per_10000"] = ours / double(state.iterations()) * 1000;
  state.counters["ratio_vs_scan_floor"] = floor > 0 ? ours / floor : 0;
}
BENCHMARK(BM_Compile10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
