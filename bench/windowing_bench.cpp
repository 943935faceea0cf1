// The window queues against the floor of waking another thread: a bare
// mutex + condition-variable hand-off, measured interleaved in the same run.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/os/sync.h"
#include "platform/window/api.h"

namespace pw = platform::window;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<uint64_t> g_sum{0};

pw::LRESULT SinkProc(pw::HWND hwnd, uint32_t msg, pw::WPARAM wParam, pw::LPARAM lParam) {
  if (msg == pw::WM_USER) {
    g_sum.fetch_add(wParam, std::memory_order_relaxed);
    return static_cast<pw::LRESULT>(wParam + 1);
  }
  return pw::defWindowProc(hwnd, msg, wParam, lParam);
}

void RegisterSink() {
  static bool done = false;
  if (done) return;
  done = true;
  pw::WndClass cls;
  cls.lpfnWndProc = &SinkProc;
  cls.className = u"BenchSink";
  pw::registerClass(cls);
}

// The floor: a queue of values under a mutex, a consumer woken by a
// condition variable, each value handed to the same function.
struct BareQueue {
  std::mutex m;
  std::condition_variable cv;
  std::deque<uint64_t> q;
  bool stop = false;
  void Push(uint64_t v) {
    {
      std::lock_guard<std::mutex> lock(m);
      q.push_back(v);
    }
    cv.notify_one();
  }
  bool Pop(uint64_t& v) {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return stop || !q.empty(); });
    if (q.empty()) return false;
    v = q.front();
    q.pop_front();
    return true;
  }
};

constexpr int kBatch = 2000;

void BM_PostAndDispatch(benchmark::State& state) {
  RegisterSink();
  const pw::HWND sink = pw::createWindowEx(0, u"BenchSink", u"", 0, 0, 0, 1, 1, 0, 0, 0, nullptr);
  double ours = 0, bare = 0;
  for (auto _ : state) {
    // Ours: another thread posts, this thread gets and dispatches.
    auto t0 = Clock::now();
    std::thread poster([&] {
      for (int i = 0; i < kBatch; ++i)
        while (!pw::postMessage(sink, pw::WM_USER, 1, 0)) std::this_thread::yield();
    });
    pw::Msg m;
    for (int i = 0; i < kBatch; ++i) {
      pw::getMessage(m, 0, 0, 0);
      pw::dispatchMessage(m);
    }
    poster.join();
    ours += std::chrono::duration<double>(Clock::now() - t0).count();
    // The floor, same shape.
    BareQueue b;
    t0 = Clock::now();
    std::thread pusher([&] {
      for (int i = 0; i < kBatch; ++i) b.Push(1);
    });
    uint64_t v = 0;
    for (int i = 0; i < kBatch; ++i) {
      b.Pop(v);
      SinkProc(sink, pw::WM_USER, v, 0);
    }
    pusher.join();
    bare += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  pw::destroyWindow(sink);
  const double n = static_cast<double>(state.iterations()) * kBatch;
  state.counters["msgs_per_s"] = n / ours;
  state.counters["bare_msgs_per_s"] = n / bare;
  state.counters["ratio"] = ours / bare;
}
BENCHMARK(BM_PostAndDispatch)->Iterations(200)->UseRealTime();

void BM_SendRoundTrip(benchmark::State& state) {
  RegisterSink();
  std::atomic<pw::HWND> sink{0};
  std::atomic<platform::os::ThreadId> tid{0};
  platform::os::Event ready;
  std::thread owner([&] {
    sink = pw::createWindowEx(0, u"BenchSink", u"", 0, 0, 0, 1, 1, 0, 0, 0, nullptr);
    tid = platform::os::currentThreadId();
    ready.set();
    pw::Msg m;
    while (pw::getMessage(m, 0, 0, 0) > 0) pw::dispatchMessage(m);
    pw::destroyWindow(sink);
  });
  ready.wait(platform::os::INFINITE);
  // The floor: a request and its answer through one mutex and two
  // condition variables, served by a waiting thread.
  std::mutex m;
  std::condition_variable request, answer;
  bool has = false, done = false, stop = false;
  uint64_t value = 0, result = 0;
  std::thread server([&] {
    std::unique_lock<std::mutex> lock(m);
    for (;;) {
      request.wait(lock, [&] { return stop || has; });
      if (stop) return;
      has = false;
      result = static_cast<uint64_t>(SinkProc(0, pw::WM_USER, value, 0));
      done = true;
      answer.notify_one();
    }
  });
  double ours = 0, bare = 0;
  constexpr int kRounds = 200;
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (int i = 0; i < kRounds; ++i) benchmark::DoNotOptimize(pw::sendMessage(sink, pw::WM_USER, i, 0));
    ours += std::chrono::duration<double>(Clock::now() - t0).count();
    t0 = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
      std::unique_lock<std::mutex> lock(m);
      value = static_cast<uint64_t>(i);
      has = true;
      done = false;
      request.notify_one();
      answer.wait(lock, [&] { return done; });
      benchmark::DoNotOptimize(result);
    }
    bare += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  {
    std::lock_guard<std::mutex> lock(m);
    stop = true;
  }
  request.notify_one();
  server.join();
  pw::postThreadMessage(tid, pw::WM_QUIT, 0, 0);
  owner.join();
  const double n = static_cast<double>(state.iterations()) * kRounds;
  state.counters["round_trip_us"] = ours / n * 1e6;
  state.counters["bare_round_trip_us"] = bare / n * 1e6;
  state.counters["ratio"] = ours / bare;
}
BENCHMARK(BM_SendRoundTrip)->Iterations(50)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
