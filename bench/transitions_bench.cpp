// One frame of every transition at 1920 x 1080 over the finest tile grid
// (64 x 64 tiles, 30 x 17 cells). The budget is 0.5 ms per frame on one
// core; "budget_ratio" is the measured time over that budget, and "ratio"
// the time over copying the frame's vertices once with memcpy (the floor any
// geometry producer pays to hand its triangles over), the copy timed in the
// same iterations, in alternating order with the frame.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "transitions/kvDrawEffects.h"

using namespace transitions;

namespace {

constexpr TRect kPicture{0, 0, 1920, 1080};
constexpr double kBudgetSeconds = 0.0005;

// Counts what the filters hand over, the way a vertex buffer would take it.
class CountingController;
class CountingTile : public TEffTile {
 public:
  CountingTile(CountingController* c, const TRect& r, TPoint cell);
  void BeginDraw(bool, bool) override {}
  void DrawTriangle(const TTriangle& v) override { Take(v.data(), 3); }
  void DrawColoredTriangle(const TTriangle& v, const TColors3&) override { Take(v.data(), 3); }
  void DrawMappedTriangle(const TTriangle& s, const TTriangle& t) override {
    Take(s.data(), 3);
    Take(t.data(), 3);
  }
  void DrawColoredTriangle3D(const TTriangle3D&, const TColors3&) override { Count(3); }
  void DrawMappedTriangle3D(const TTriangle& s, const TTriangle3D&) override { Take(s.data(), 3); }
  void EndDraw() override {}

 private:
  void Take(const TTriVertex* v, int n);
  void Count(int n);
  CountingController* owner_;
};

class CountingController : public TEffController {
 public:
  CountingController() {
    std::vector<float> cols, rows;
    for (int x = 0; x <= 1920; x += 64) cols.push_back(float(x));
    for (int y = 0; y < 1080; y += 64) rows.push_back(float(y));
    rows.push_back(1080);
    SetGrid(cols.data(), int32_t(cols.size()) - 1, rows.data(), int32_t(rows.size()) - 1);
  }
  TEffTile* CreateTile(const TRect& r, TPoint cell) override { return new CountingTile(this, r, cell); }
  void GetViewRect(TRect& r) override { r = kPicture; }
  std::vector<TTriVertex> Vertices;
};

CountingTile::CountingTile(CountingController* c, const TRect& r, TPoint cell) : TEffTile(c, r, cell), owner_(c) {}
void CountingTile::Take(const TTriVertex* v, int n) { owner_->Vertices.insert(owner_->Vertices.end(), v, v + n); }
void CountingTile::Count(int n) { owner_->Vertices.resize(owner_->Vertices.size() + size_t(n)); }

struct Effect {
  const char* name;
  std::function<TDrawFilter*()> make;
};

const std::vector<Effect>& Effects() {
  static const std::vector<Effect> effects = {
      {"crossfade", [] { return new TAlphaFilter; }},
      {"circle", [] { return new TCircleFilter(0.5f, 0.5f, false); }},
      {"circle_outside", [] { return new TCircleFilter(-0.2f, 0.5f, false); }},
      {"hlines", [] { return new THLines(0.5f, 0.5f); }},
      {"vlines", [] { return new TVLines(0.5f, 0.5f); }},
      {"diag", [] { return new TDiagLines(8, 2); }},
      {"rhomb", [] { return new TRhombFilter(0.5f, 0.5f); }},
      {"square", [] { return new TSquareFilter(0.5f, 0.5f); }},
      {"random", [] {
         auto* f = new TRandomFilter(32, 18, 7);
         f->Spread = 5;
         return f;
       }},
      {"slide", [] { return new TSlideFilter(1); }},
      {"push", [] { return new TPushFilter(3); }},
      {"clock", [] { return new TClockEffect(0.5f, 0.5f, false); }},
      {"broom", [] { return new TBroomEffect(6, 100); }},
      {"roll_axis", [] {
         auto* f = new TRollEffect2(14, 1);
         f->RollRadius = 150;
         return f;
       }},
      {"roll_diag_lift", [] {
         auto* f = new TRollEffect2(15, 2);
         f->RollRadius = 150;
         f->Lift = true;
         f->FullTurn = true;
         return f;
       }},
      {"overturn", [] { return new TOverturnEffect(1, 1, false, true); }},
      {"twoslides", [] { return new TTwoSlidesEffect(1, 0.5f, 0.3f, 15); }},
  };
  return effects;
}

void BM_Frame(benchmark::State& state, const Effect* e) {
  auto* ctl = new CountingController;
  TDrawFilter* f = e->make();
  f->Init(kPicture, 1, 40);
  f->DrawRect = kPicture;
  f->SetPosition(0.37f);
  f->Draw(ctl);  // the first frame builds generators and tiles
  size_t vertices = ctl->Vertices.size();
  std::vector<TTriVertex> previous(ctl->Vertices.begin(), ctl->Vertices.end());
  std::vector<TTriVertex> copy(vertices);
  double seconds = 0, copySeconds = 0;
  bool frameFirst = true;
  auto frame = [&] {
    ctl->Vertices.clear();
    const auto t0 = std::chrono::steady_clock::now();
    f->Draw(ctl);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    vertices = ctl->Vertices.size();
    benchmark::DoNotOptimize(ctl->Vertices.data());
  };
  auto floor = [&] {
    const auto c0 = std::chrono::steady_clock::now();
    std::memcpy(copy.data(), previous.data(), previous.size() * sizeof(TTriVertex));
    benchmark::ClobberMemory();
    copySeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - c0).count();
  };
  for (auto _ : state) {
    if (frameFirst) {
      frame();
      floor();
    } else {
      floor();
      frame();
    }
    frameFirst = !frameFirst;
  }
  const double perFrame = seconds / double(state.iterations());
  state.counters["triangles"] = double(vertices / 3);
  state.counters["frame_ms"] = perFrame * 1000.0;
  state.counters["budget_ratio"] = perFrame / kBudgetSeconds;
  state.counters["ratio"] = copySeconds > 0 ? seconds / copySeconds : 0;
  f->Free();
  ctl->Free();
}

int Register() {
  for (const Effect& e : Effects())
    benchmark::RegisterBenchmark((std::string("transition_frame/") + e.name).c_str(), BM_Frame, &e)
        ->Unit(benchmark::kMicrosecond);
  return 0;
}
const int registered = Register();

}  // namespace

BENCHMARK_MAIN();
