// Reading the metadata of a 24-megapixel photograph (Exif and IPTC, segments
// only, no decode) from its file, against reading the file's first 64 KB
// with plain stdio: the floor of any reader that opens the file and looks at
// its head. Both run in each iteration, in alternating order.
// "ratio" = our time / the floor's time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "decoders/MdxExif.h"
#include "decoders/MdxExifIPTC.h"
#include "decoders/Startup.h"
#include "foundation/kvFileAPI.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvFileUtils.h"
#include "platform/os/api.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/MetadataMaker.h"

namespace {

using testsupport::Bytes;

const std::string& PhotoPath() {
  static const std::string path = [] {
    testsupport::JpegSpec spec{6000, 4000, 3, 90, false, 0, true};
    Bytes jpeg = testsupport::MakeJpeg(spec);
    testsupport::TiffBuilder t(false);
    t.ifd0 = {t.Ascii(0x010F, "MakerCo"), t.Ascii(0x0110, "Model 24"), t.Short(0x0112, 1),
              t.Ascii(0x0132, "2021:07:14 09:30:00")};
    t.exif = {t.Rational(0x829A, 1, 125), t.Rational(0x829D, 80, 10), t.Short(0x8827, 100),
              t.Ascii(0x9003, "2021:07:14 09:29:58"), t.Undefined(0x927C, Bytes(30000, 0x11)),
              t.Long(0xA002, 6000), t.Long(0xA003, 4000)};
    t.ifd1 = {t.Short(0x0103, 6)};
    testsupport::JpegSpec thumbSpec{160, 120, 3, 80, false, 0, true};
    t.thumbnail = testsupport::MakeJpeg(thumbSpec);
    Bytes iptc = testsupport::IptcText(2, 105, "Headline");
    Bytes more = testsupport::IptcText(2, 120, std::string(2000, 'c'));
    iptc.insert(iptc.end(), more.begin(), more.end());
    jpeg = testsupport::SpliceSegment(
        jpeg, 0xED, testsupport::App13Payload({testsupport::AdobeResourceBlock(0x0404, iptc)}),
        testsupport::SplicePlace::BeforeSos);
    jpeg = testsupport::SpliceSegment(jpeg, 0xE1, t.App1Payload());
    std::string p = "/tmp/qel_metadata_bench_" + std::to_string(::getpid()) + ".jpg";
    FILE* f = std::fopen(p.c_str(), "wb");
    std::fwrite(jpeg.data(), 1, jpeg.size(), f);
    std::fclose(f);
    return p;
  }();
  return path;
}

double Ours(const std::u16string& name) {
  const auto t0 = std::chrono::steady_clock::now();
  auto* f = foundation::TFileStream::CreateFromFile(name, platform::os::GENERIC_READ, 1, platform::os::OPEN_EXISTING);
  decoders::TExif exif;
  exif.LoadFromJPEG(f);
  auto* iptc = new decoders::TIPTCData();
  f->SetPosition(0);
  iptc->LoadFromJPEG(f);
  benchmark::DoNotOptimize(exif.Model.size() + iptc->GetAppString(105).size());
  iptc->Free();
  f->Free();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double Floor(const std::string& path) {
  static std::vector<char> buf(65536);
  const auto t0 = std::chrono::steady_clock::now();
  FILE* f = std::fopen(path.c_str(), "rb");
  size_t n = std::fread(buf.data(), 1, buf.size(), f);
  std::fclose(f);
  benchmark::DoNotOptimize(n);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_PhotoMetadataVsFirst64KB(benchmark::State& state) {
  static bool started = false;
  if (!started) {
    decoders::StartDecoders();
    started = true;
  }
  const std::string& path = PhotoPath();
  const std::u16string name = u"Z:" + std::u16string(path.begin(), path.end());
  double ours = 0, floor = 0;
  bool oursFirst = true;
  for (auto _ : state) {
    if (oursFirst) {
      ours += Ours(name);
      floor += Floor(path);
    } else {
      floor += Floor(path);
      ours += Ours(name);
    }
    oursFirst = !oursFirst;
  }
  state.counters["ours_us"] = ours * 1e6 / double(state.iterations());
  state.counters["first64KB_us"] = floor * 1e6 / double(state.iterations());
  state.counters["ratio"] = floor > 0 ? ours / floor : 0;
}
BENCHMARK(BM_PhotoMetadataVsFirst64KB)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::remove(PhotoPath().c_str());
  return 0;
}
