// Reading container entries against the libraries that set the limit:
//  - a large raw-deflated entry through TInflateStream against zlib's own
//    raw inflate of the same bytes;
//  - a large stored entry through the window stream over a file stream
//    against a plain stdio read of the same bytes.
// Each benchmark times both sides in the same run, in alternating order, and
// reports "ratio" = our time / the reference's (below 1 is faster).

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "container/kvPartialStream.h"
#include "container/kvZLib.h"
#include "container/Startup.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvStream.h"
#include "platform/os/paths.h"

namespace {

// Runs ours and the reference in alternating order from one iteration to the
// next, so both see the same machine state.
template <class A, class B>
void Interleaved(bool& oursFirst, A&& ours, B&& reference) {
  if (oursFirst) {
    ours();
    reference();
  } else {
    reference();
    ours();
  }
  oursFirst = !oursFirst;
}

double Since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}


using Clock = std::chrono::steady_clock;
constexpr int32_t kReadPiece = 65536;

// Photo-like data: mostly incompressible with compressible stretches, so
// inflate runs at a realistic rate.
std::string EntryBytes(size_t n) {
  std::string out(n, '\0');
  uint32_t x = 12345;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    out[i] = static_cast<char>(((i / 4096) % 3 == 0) ? 'a' + (x >> 29) : (x >> 24));
  }
  return out;
}

std::string RawDeflate(const std::string& data) {
  z_stream s{};
  deflateInit2(&s, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&s, data.size()), '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  if (deflate(&s, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

const std::string& Deflated() {
  static const std::string d = RawDeflate(EntryBytes(32 << 20));
  return d;
}

foundation::TMemoryStream* MemoryOf(const std::string& bytes) {
  auto* m = new foundation::TMemoryStream();
  m->WriteBuf(bytes.data(), static_cast<int32_t>(bytes.size()));
  m->SetPosition(0);
  return m;
}

// The reference: zlib's raw inflate from memory into a 64 KB buffer.
int64_t ZlibInflate(const std::string& deflated, std::vector<uint8_t>& out) {
  z_stream s{};
  inflateInit2(&s, -15);
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
  s.avail_in = static_cast<uInt>(deflated.size());
  int64_t total = 0;
  int rc = Z_OK;
  while (rc == Z_OK) {
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    rc = inflate(&s, Z_NO_FLUSH);
    total += static_cast<int64_t>(out.size() - s.avail_out);
  }
  inflateEnd(&s);
  return total;
}

int64_t StreamInflate(foundation::TMemoryStream* source, std::vector<uint8_t>& out) {
  source->SetPosition(0);
  auto* z = new container::TInflateStream(source, -1);
  int64_t total = 0;
  for (;;) {
    const int32_t n = z->Read(out, 0, static_cast<int32_t>(out.size()));
    if (n <= 0) break;
    total += n;
  }
  z->Free();
  return total;
}

void BM_InflateStreamVsZlib(benchmark::State& state) {
  const std::string& deflated = Deflated();
  foundation::TMemoryStream* source = MemoryOf(deflated);
  std::vector<uint8_t> out(kReadPiece);
  double ours = 0, ref = 0;
  int64_t bytes = 0;
  bool oursFirst = true;
  for (auto _ : state) {
    int64_t a = 0, b = 0;
    Interleaved(
        oursFirst,
        [&] {
          const auto t = Clock::now();
          a = StreamInflate(source, out);
          ours += Since(t);
        },
        [&] {
          const auto t = Clock::now();
          b = ZlibInflate(deflated, out);
          ref += Since(t);
        });
    if (a != b) state.SkipWithError("inflated sizes differ");
    bytes += a;
  }
  source->Free();
  state.counters["ours_MBps"] = bytes / ours / 1e6;
  state.counters["zlib_MBps"] = bytes / ref / 1e6;
  state.counters["ratio"] = ref > 0 ? ours / ref : 0;
}
BENCHMARK(BM_InflateStreamVsZlib)->Unit(benchmark::kMillisecond)->Iterations(8);

// ---- stored entry through the window ---------------------------------------

struct TempFile {
  std::string path;
  int64_t offset = 0;
  int64_t size = 0;
  TempFile() {
    path = (std::filesystem::temp_directory_path() /
            ("qel_container_bench_" + std::to_string(std::random_device{}())))
               .string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path);
    const std::string prefix(12345, '\xCC');
    const std::string entry = EntryBytes(64 << 20);
    std::fwrite(prefix.data(), 1, prefix.size(), f);
    std::fwrite(entry.data(), 1, entry.size(), f);
    std::fwrite(prefix.data(), 1, 100, f);
    std::fclose(f);
    offset = static_cast<int64_t>(prefix.size());
    size = static_cast<int64_t>(entry.size());
  }
  ~TempFile() { std::remove(path.c_str()); }
};

int64_t PlainRead(const TempFile& f, std::vector<uint8_t>& out) {
  std::FILE* file = std::fopen(f.path.c_str(), "rb");
  std::setvbuf(file, nullptr, _IONBF, 0);
  std::fseek(file, static_cast<long>(f.offset), SEEK_SET);
  int64_t total = 0;
  while (total < f.size) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(out.size()), f.size - total));
    const size_t n = std::fread(out.data(), 1, want, file);
    if (n == 0) break;
    total += static_cast<int64_t>(n);
  }
  std::fclose(file);
  return total;
}

int64_t WindowRead(const TempFile& f, std::vector<uint8_t>& out, int32_t chunk) {
  foundation::TStream* file = foundation::OpenFileStreamRead(platform::os::fromPosixPath(f.path));
  if (!file) return -1;
  auto* window = new container::TPartialStream(file, f.offset, f.size, true);
  // A progress callback after every chunk, as the file sources install one.
  int64_t calls = 0;
  window->SetReadCallback([&](foundation::TStream*) { ++calls; }, chunk);
  int64_t total = 0;
  for (;;) {
    const int32_t n = window->Read(out, 0, static_cast<int32_t>(out.size()));
    if (n <= 0) break;
    total += n;
  }
  window->Free();
  benchmark::DoNotOptimize(calls);
  return total;
}

// Both sides read in pieces of the window's chunk size (32 KB as the file
// sources set it, and the largest chunk), so the ratio is what the window
// and file-stream layers cost over the plain read of the same pieces.
void BM_WindowStreamVsPlainRead(benchmark::State& state) {
  container::StartContainer();
  static const TempFile f;
  const int32_t chunk = static_cast<int32_t>(state.range(0));
  std::vector<uint8_t> out(static_cast<size_t>(chunk));
  double ours = 0, ref = 0;
  int64_t bytes = 0;
  bool oursFirst = true;
  for (auto _ : state) {
    int64_t a = 0, b = 0;
    Interleaved(
        oursFirst,
        [&] {
          const auto t = Clock::now();
          a = WindowRead(f, out, chunk);
          ours += Since(t);
        },
        [&] {
          const auto t = Clock::now();
          b = PlainRead(f, out);
          ref += Since(t);
        });
    if (a != b || a != f.size) state.SkipWithError("read sizes differ");
    bytes += a;
  }
  state.counters["ours_MBps"] = bytes / ours / 1e6;
  state.counters["stdio_MBps"] = bytes / ref / 1e6;
  state.counters["ratio"] = ref > 0 ? ours / ref : 0;
}
BENCHMARK(BM_WindowStreamVsPlainRead)->Arg(32768)->Arg(1 << 20)->Unit(benchmark::kMillisecond)->Iterations(16);

}  // namespace

BENCHMARK_MAIN();
