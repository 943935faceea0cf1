// A show of 1,000 pictures appended to a copy of this program, opened
// through the show locator:
//  - BM_OpenShowResolveAll: OpenShow, then every picture's project name
//    resolved through the file map and read whole through the accessor,
//    against a stdio read of the same entries at offsets known beforehand
//    (the floor: no directory, no names);
//  - BM_FirstDecode: every picture decoded for the first time through the
//    accessor's image handles (loader registry, JPEG loader, full-size
//    bitmap), against libjpeg decoding the same bytes read with one read
//    each from the show's file (aim: ratio at most 1.1).
// Each reports ratio = our time / reference time (below 1 is faster) and the
// process's peak resident size in KB.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "container/Startup.h"
#include "container/kvQelFileAccessor2.h"
#include "container/kvQelLoader2.h"
#include "decoders/Startup.h"
#include "foundation/kvFileAPI.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvFileUtils.h"
#include "imaging/Startup.h"
#include "platform/os/paths.h"
#include "tests/support/ContainerBuilder.h"
#include "tests/support/JpegMaker.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kEntries = 1000;

double PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss);
}

std::string ProjectName(int i) { return "C:\\Old\\img" + std::to_string(i) + ".jpg"; }
std::string EntryName(int i) { return "C:\\Shows\\Pictures\\img" + std::to_string(i) + ".jpg"; }

struct Show {
  std::string path;
  std::u16string internal;
  std::vector<std::string> jpegs;
  std::vector<int64_t> offsets;
  std::vector<std::u16string> names;
  Show() {
    decoders::StartDecoders();
    container::StartContainer();
    path = (std::filesystem::temp_directory_path() / ("qel_access_bench_" + std::to_string(std::random_device{}())))
               .string();
    std::filesystem::copy_file("/proc/self/exe", path);
    testsupport::ContainerBuilder b;
    std::string project = "\xEF\xBB\xBF[Main]\r\nQelVersion=10.00\r\n[FileMap]\r\n";
    for (int i = 0; i < kEntries; ++i) {
      testsupport::JpegSpec spec;
      spec.width = 160;
      spec.height = 120;
      const testsupport::Bytes jpeg = testsupport::MakeJpeg(spec, testsupport::PatternPixels(160, 120, 3, i + 1));
      jpegs.emplace_back(jpeg.begin(), jpeg.end());
      b.AddStored(EntryName(i), jpegs.back());
      project += ";\"" + ProjectName(i) + "\"=\"" + EntryName(i) + "\"\r\n";
      names.push_back(foundation::MessageFromUtf8(ProjectName(i)));
    }
    b.AddDeflated("Project.qel", project);
    testsupport::BuiltContainer c = b.AppendToFile(path);
    for (int i = 0; i < kEntries; ++i) offsets.push_back(c.positions[EntryName(i)]);
    internal = platform::os::fromPosixPath(path);
  }
  ~Show() { std::remove(path.c_str()); }
};

Show& TheShow() {
  static Show show;
  return show;
}

int64_t OursResolveAll(Show& s, std::vector<uint8_t>& buf) {
  std::u16string error;
  container::TQelShowLocator* locator = container::OpenShow(s.internal, error);
  if (!locator) return -1;
  int64_t total = 0;
  for (const std::u16string& name : s.names) {
    foundation::TStream* stream = locator->Accessor->OpenStream(name);
    if (!stream) continue;
    for (;;) {
      const int32_t n = stream->Read(buf, 0, static_cast<int32_t>(buf.size()));
      if (n <= 0) break;
      total += n;
    }
    stream->Free();
  }
  locator->Free();
  return total;
}

int64_t PlainReadAll(Show& s, std::vector<uint8_t>& buf) {
  std::FILE* f = std::fopen(s.path.c_str(), "rb");
  int64_t total = 0;
  for (int i = 0; i < kEntries; ++i) {
    std::fseek(f, static_cast<long>(s.offsets[i]), SEEK_SET);
    total += static_cast<int64_t>(std::fread(buf.data(), 1, s.jpegs[i].size(), f));
  }
  std::fclose(f);
  return total;
}

void BM_OpenShowResolveAll(benchmark::State& state) {
  Show& s = TheShow();
  std::vector<uint8_t> buf(65536);
  double ours = 0, ref = 0;
  bool oursFirst = true;
  for (auto _ : state) {
    int64_t a = 0, b = 0;
    auto runOurs = [&] {
      const auto t = Clock::now();
      a = OursResolveAll(s, buf);
      ours += std::chrono::duration<double>(Clock::now() - t).count();
    };
    auto runPlain = [&] {
      const auto t = Clock::now();
      b = PlainReadAll(s, buf);
      ref += std::chrono::duration<double>(Clock::now() - t).count();
    };
    if (oursFirst) {
      runOurs();
      runPlain();
    } else {
      runPlain();
      runOurs();
    }
    oursFirst = !oursFirst;
    if (a != b) state.SkipWithError("read sizes differ");
  }
  state.counters["ours_ms"] = ours * 1e3 / static_cast<double>(state.iterations());
  state.counters["stdio_ms"] = ref * 1e3 / static_cast<double>(state.iterations());
  state.counters["ratio"] = ref > 0 ? ours / ref : 0;
  state.counters["peak_rss_kb"] = PeakRssKb();
}
BENCHMARK(BM_OpenShowResolveAll)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FirstDecode(benchmark::State& state) {
  Show& s = TheShow();
  double ours = 0, ref = 0;
  for (auto _ : state) {
    std::u16string error;
    container::TQelShowLocator* locator = container::OpenShow(s.internal, error);
    if (!locator) {
      state.SkipWithError("show does not open");
      break;
    }
    std::vector<imaging::TImage*> images;
    images.reserve(kEntries);
    // Picture by picture, ours and the reference in alternating order: the
    // reference reads each file with one read from the show's file at its
    // known offset and decodes it with the library.
    std::FILE* file = std::fopen(s.path.c_str(), "rb");
    std::vector<uint8_t> bytes;
    for (int i = 0; i < kEntries; ++i) {
      auto runOurs = [&] {
        const auto t = Clock::now();
        imaging::TImage* image = container::TFileAccessor::LoadImage(locator->Accessor, s.names[size_t(i)]);
        benchmark::DoNotOptimize(image->GetBitmap());
        images.push_back(image);
        ours += std::chrono::duration<double>(Clock::now() - t).count();
      };
      auto runReference = [&] {
        const auto t = Clock::now();
        bytes.resize(s.jpegs[size_t(i)].size());
        if (pread(fileno(file), bytes.data(), bytes.size(), s.offsets[size_t(i)]) != ssize_t(bytes.size()))
          state.SkipWithError("short read");
        testsupport::DecodedJpeg d = testsupport::DecodeJpegReference(bytes);
        benchmark::DoNotOptimize(d.pixels.data());
        ref += std::chrono::duration<double>(Clock::now() - t).count();
      };
      if (i % 2 == 0) {
        runOurs();
        runReference();
      } else {
        runReference();
        runOurs();
      }
    }
    std::fclose(file);
    if (images.size() != static_cast<size_t>(kEntries) || images[0]->Params.Width != 160)
      state.SkipWithError("pictures did not decode");
    state.counters["peak_rss_kb"] = PeakRssKb();
    for (imaging::TImage* image : images) image->Free();
    locator->Free();
  }
  state.counters["ours_ms"] = ours * 1e3 / static_cast<double>(state.iterations());
  state.counters["libjpeg_ms"] = ref * 1e3 / static_cast<double>(state.iterations());
  state.counters["ratio"] = ref > 0 ? ours / ref : 0;
}
BENCHMARK(BM_FirstDecode)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
