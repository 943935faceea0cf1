// Each benchmark runs the TList workload and the same workload on
// std::vector<void*> in one iteration and reports ours / reference as the
// counter "ratio" (1.0 = as fast as the reference).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

#include "foundation/kvLists.h"

using namespace foundation;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void* P(uintptr_t v) { return reinterpret_cast<void*>(v); }

void BM_AppendAndRead(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  double ours = 0, ref = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    TList* l = new TList;
    for (int i = 0; i < n; ++i) l->Add(P(static_cast<uintptr_t>(i) + 1));
    uintptr_t sum = 0;
    for (int i = 0; i < n; ++i) sum += reinterpret_cast<uintptr_t>(l->GetItem(i));
    benchmark::DoNotOptimize(sum);
    l->Free();
    auto t1 = Clock::now();
    std::vector<void*> v;
    for (int i = 0; i < n; ++i) v.push_back(P(static_cast<uintptr_t>(i) + 1));
    uintptr_t sum2 = 0;
    for (int i = 0; i < n; ++i) sum2 += reinterpret_cast<uintptr_t>(v[static_cast<size_t>(i)]);
    benchmark::DoNotOptimize(sum2);
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    ref += Seconds(t1, t2);
  }
  state.counters["ratio"] = ref > 0 ? ours / ref : 0;
}
BENCHMARK(BM_AppendAndRead)->Arg(16)->Arg(1000)->Arg(100000);

int32_t CompareAddresses(void* a, void* b) {
  auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
  return x < y ? -1 : x > y;
}

void BM_Sort(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::mt19937 gen(1);
  std::vector<void*> data(static_cast<size_t>(n));
  for (auto& p : data) p = P(gen());
  double ours = 0, ref = 0;
  for (auto _ : state) {
    TList* l = new TList;
    for (void* p : data) l->Add(p);
    std::vector<void*> v = data;
    auto t0 = Clock::now();
    l->Sort(&CompareAddresses);
    auto t1 = Clock::now();
    std::sort(v.begin(), v.end(), [](void* a, void* b) { return CompareAddresses(a, b) < 0; });
    auto t2 = Clock::now();
    benchmark::DoNotOptimize(l->GetItem(0));
    benchmark::DoNotOptimize(v[0]);
    l->Free();
    ours += Seconds(t0, t1);
    ref += Seconds(t1, t2);
  }
  state.counters["ratio"] = ref > 0 ? ours / ref : 0;
}
BENCHMARK(BM_Sort)->Arg(1000)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
