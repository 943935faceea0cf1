// Each benchmark runs n small writes (or reads) through platform::os and the
// same on a plain descriptor with write/read in one iteration, and reports
// ours / reference as the counter "ratio" (1.0 = as fast as the system calls).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "platform/os/files.h"
#include "platform/os/paths.h"

namespace os = platform::os;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

struct Files {
  std::string dir;
  os::Handle ours = os::INVALID_HANDLE_VALUE;
  int ref = -1;
  Files() {
    char pattern[] = "/tmp/qelbench-XXXXXX";
    dir = ::mkdtemp(pattern);
    ours = os::createFile(os::fromPosixPath(dir + "/ours"), os::GENERIC_READ | os::GENERIC_WRITE, 1,
                          os::CREATE_ALWAYS, 0);
    ref = ::open((dir + "/ref").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (ours == os::INVALID_HANDLE_VALUE || ref < 0) std::abort();
  }
  ~Files() {
    os::closeHandle(ours);
    ::close(ref);
    ::unlink((dir + "/ours").c_str());
    ::unlink((dir + "/ref").c_str());
    ::rmdir(dir.c_str());
  }
  void Rewind() {
    os::setFilePointer(ours, 0, os::FILE_BEGIN);
    ::lseek(ref, 0, SEEK_SET);
  }
};

void BM_SmallWrites(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Files f;
  char block[64] = {};
  double ours = 0, ref = 0;
  for (auto _ : state) {
    f.Rewind();
    auto t0 = Clock::now();
    for (int i = 0; i < n; ++i) {
      uint32_t done = 0;
      if (!os::writeFile(f.ours, block, sizeof block, &done)) std::abort();
    }
    auto t1 = Clock::now();
    for (int i = 0; i < n; ++i)
      if (::write(f.ref, block, sizeof block) != sizeof block) std::abort();
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    ref += Seconds(t1, t2);
  }
  state.counters["ratio"] = ref > 0 ? ours / ref : 0;
}
BENCHMARK(BM_SmallWrites)->Arg(1000);

void BM_SmallReads(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Files f;
  char block[64] = {};
  for (int i = 0; i < n; ++i) {
    uint32_t done = 0;
    os::writeFile(f.ours, block, sizeof block, &done);
    if (::write(f.ref, block, sizeof block) != sizeof block) std::abort();
  }
  double ours = 0, ref = 0;
  for (auto _ : state) {
    f.Rewind();
    auto t0 = Clock::now();
    for (int i = 0; i < n; ++i) {
      uint32_t done = 0;
      if (!os::readFile(f.ours, block, sizeof block, &done)) std::abort();
    }
    auto t1 = Clock::now();
    for (int i = 0; i < n; ++i)
      if (::read(f.ref, block, sizeof block) != sizeof block) std::abort();
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    ref += Seconds(t1, t2);
  }
  state.counters["ratio"] = ref > 0 ? ours / ref : 0;
}
BENCHMARK(BM_SmallReads)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
