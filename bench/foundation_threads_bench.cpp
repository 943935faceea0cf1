// Latency of posting and sending across threads, and log throughput, each
// with the bare standard-library equivalent measured in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/kvLog.h"
#include "foundation/kvThreadEventList.h"

using namespace foundation;
using Clock = std::chrono::steady_clock;

namespace {

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

// A stamped message: the handler measures how long it travelled.
class Stamp : public TRefObject {
 public:
  Clock::time_point At;
};

// The owner wakes on every queued message.
class WakingList : public TThreadEventList {
 public:
  platform::os::Event Queued{false, false};
  void MessageQueued(bool) override { Queued.set(); }
};

struct Owner {
  WakingList* list;
  std::vector<double> latencies;
  std::atomic<bool> stop{false};
  std::thread thread;
  void Handle(TRefObject*, uint32_t, TRefObject* p, bool& handled) {
    if (auto* s = dynamic_cast<Stamp*>(p))
      latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - s->At).count());
    handled = true;
  }
  explicit Owner(WakingList* l) : list(l) {
    list->Handler = MethodOf<&Owner::Handle>(this);
    thread = std::thread([this] {
      while (!stop) {
        list->Queued.wait(10);
        list->ProcessMessages();
      }
      list->ProcessMessages();
    });
  }
  void Stop() {
    stop = true;
    list->Queued.set();
    thread.join();
  }
};

// The floor: one pointer handed to a waiting thread through a mutex and a
// condition variable.
struct BareHandoff {
  std::mutex m;
  std::condition_variable cv;
  std::vector<Clock::time_point> queue;
  std::vector<double> latencies;
  bool stop = false;
  std::thread thread{[this] {
    std::unique_lock<std::mutex> lock(m);
    for (;;) {
      cv.wait(lock, [&] { return stop || !queue.empty(); });
      for (auto t : queue) latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t).count());
      queue.clear();
      if (stop) return;
    }
  }};
  void Post() {
    std::lock_guard<std::mutex> guard(m);
    queue.push_back(Clock::now());
    cv.notify_one();
  }
  void End() {
    {
      std::lock_guard<std::mutex> guard(m);
      stop = true;
      cv.notify_one();
    }
    thread.join();
  }
};

void SetLatencyCounters(benchmark::State& state, const std::vector<double>& ours, const std::vector<double>& bare) {
  const double median = Percentile(ours, 0.5), p99 = Percentile(ours, 0.99);
  const double bareMedian = Percentile(bare, 0.5), bareP99 = Percentile(bare, 0.99);
  state.counters["median_us"] = median;
  state.counters["p99_us"] = p99;
  state.counters["bare_median_us"] = bareMedian;
  state.counters["bare_p99_us"] = bareP99;
  state.counters["ratio_median"] = bareMedian > 0 ? median / bareMedian : 0;
  state.counters["ratio_p99"] = bareP99 > 0 ? p99 / bareP99 : 0;
}

void BM_PostLatency(benchmark::State& state) {
  auto* list = new WakingList;
  Owner owner(list);
  // The bare hand-off runs alongside, one post of each in turn, so that both
  // see the same machine load (a loaded machine's wake-up tail otherwise
  // decides the ratio by which phase it happens to hit).
  BareHandoff bare;
  for (auto _ : state) {
    auto* s = new Stamp;
    s->At = Clock::now();
    list->Post(1, s);
    // Spaced posts: each one measures a wake-up, not a queue already being drained.
    state.PauseTiming();
    std::this_thread::sleep_for(std::chrono::microseconds(20));
    bare.Post();
    std::this_thread::sleep_for(std::chrono::microseconds(20));
    state.ResumeTiming();
  }
  owner.Stop();
  bare.End();
  SetLatencyCounters(state, owner.latencies, bare.latencies);
  list->Free();
}
BENCHMARK(BM_PostLatency)->Iterations(20000)->UseRealTime();

// The floor of a round trip: hand a request over to a thread and wait for
// its answer.
class BareRoundTrip {
 public:
  BareRoundTrip()
      : server_([this] {
          std::unique_lock<std::mutex> lock(m_);
          for (;;) {
            cv_.wait(lock, [&] { return stop_ || request_ != answer_; });
            if (stop_) return;
            answer_ = request_;
            cv_.notify_all();
          }
        }) {}
  double Trip() {
    const auto t0 = Clock::now();
    std::unique_lock<std::mutex> lock(m_);
    ++request_;
    cv_.notify_all();
    cv_.wait(lock, [&] { return answer_ == request_; });
    lock.unlock();
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
  }
  ~BareRoundTrip() {
    {
      std::lock_guard<std::mutex> guard(m_);
      stop_ = true;
      cv_.notify_all();
    }
    server_.join();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  int request_ = 0, answer_ = 0;
  bool stop_ = false;
  std::thread server_;
};

void BM_SendLatency(benchmark::State& state) {
  auto* list = new WakingList;
  Owner owner(list);
  auto* param = new Stamp;
  std::vector<double> roundTrips, bare;
  {
    // One send and one bare round trip in turn, in alternating order.
    BareRoundTrip floor;
    bool oursFirst = true;
    for (auto _ : state) {
      if (!oursFirst) bare.push_back(floor.Trip());
      const auto t0 = Clock::now();
      list->Send(1, nullptr);
      roundTrips.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
      if (oursFirst) bare.push_back(floor.Trip());
      oursFirst = !oursFirst;
    }
  }
  owner.Stop();
  SetLatencyCounters(state, roundTrips, bare);
  param->Free();
  list->Free();
}
BENCHMARK(BM_SendLatency)->Iterations(20000)->UseRealTime();

// Lines in batches of 1,000, ours and the floor (the same UTF-8 line appended
// to a string under a mutex) in turn, in alternating order.
void BM_LogLines(benchmark::State& state) {
  constexpr int kBatch = 1000;
  auto* log = new TStreamLog;
  auto* stream = new TMemoryStream;
  log->SetStream(stream, true);
  const std::u16string text = u"Device state 3: rect 0, 0, 1920, 1080 (\u00E9)";
  std::mutex m;
  std::string out;
  const std::string utf8 = "Device state 3: rect 0, 0, 1920, 1080 (\xC3\xA9)";
  double oursSeconds = 0, bareSeconds = 0;
  int64_t lines = 0;
  bool oursFirst = true;
  auto runOurs = [&] {
    const auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) log->Add(text);
    oursSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
    if (stream->GetSize() > (1 << 22)) stream->SetSize(0);
  };
  auto runBare = [&] {
    const auto t0 = Clock::now();
    for (int i = 0; i < kBatch; ++i) {
      std::lock_guard<std::mutex> guard(m);
      out += utf8;
      out += "\r\n";
    }
    bareSeconds += std::chrono::duration<double>(Clock::now() - t0).count();
    if (out.size() > (1 << 22)) out.clear();
  };
  for (auto _ : state) {
    if (oursFirst) {
      runOurs();
      runBare();
    } else {
      runBare();
      runOurs();
    }
    oursFirst = !oursFirst;
    lines += kBatch;
  }
  log->Free();
  benchmark::DoNotOptimize(out);
  const double oursRate = oursSeconds > 0 ? static_cast<double>(lines) / oursSeconds : 0;
  const double bareRate = bareSeconds > 0 ? static_cast<double>(lines) / bareSeconds : 0;
  state.counters["lines_per_s"] = oursRate;
  state.counters["bare_lines_per_s"] = bareRate;
  state.counters["ratio"] = bareSeconds > 0 ? oursSeconds / bareSeconds : 0;
}
BENCHMARK(BM_LogLines)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
