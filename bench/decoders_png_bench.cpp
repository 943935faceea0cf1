// The PNG loader against libpng on the same files: a 1920 x 1080 truecolour
// picture and the same picture with alpha, both written by libpng with its
// default (adaptive) row filters. Each iteration decodes the file with
// libpng into B, G, R (A) bytes and with the loader into level 0 of its
// store, the two in alternating order; "ratio" is our time over libpng's
// (below 1 is faster; the aim is at most 1.05).
#include <benchmark/benchmark.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "decoders/SysPng.h"
#include "decoders/SysPngLoader.h"
#include "foundation/kvStream.h"
#include "decoders/Startup.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

// A photo-like picture: smooth gradients with some texture, so the filters
// and the compressor see what real pictures give them.
std::vector<uint8_t> Picture(int channels) {
  std::vector<uint8_t> p(size_t(kWidth) * kHeight * channels);
  uint32_t seed = 12345;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      seed = seed * 1103515245 + 12345;
      const int noise = int((seed >> 16) & 7) - 4;
      uint8_t* px = &p[(size_t(y) * kWidth + x) * channels];
      px[0] = uint8_t(std::clamp(int(128 + 100 * std::sin(x / 150.0) + noise), 0, 255));
      px[1] = uint8_t(std::clamp(int(y * 255 / kHeight + noise), 0, 255));
      px[2] = uint8_t(std::clamp(int((x + y) * 255 / (kWidth + kHeight) + noise), 0, 255));
      if (channels == 4) px[3] = uint8_t(std::clamp(int(200 + 50 * std::cos(y / 90.0)), 0, 255));
    }
  return p;
}

std::vector<uint8_t> Encode(int channels) {
  std::vector<uint8_t> pixels = Picture(channels);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = kWidth;
  image.height = kHeight;
  image.format = channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
  std::vector<uint8_t> out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr)) std::abort();
  out.resize(size);
  return out;
}

double LibPngSeconds(const std::vector<uint8_t>& file, int channels, std::vector<uint8_t>& buffer) {
  const auto t0 = std::chrono::steady_clock::now();
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) std::abort();
  image.format = channels == 4 ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
  buffer.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr)) std::abort();
  benchmark::DoNotOptimize(buffer.data());
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double LoaderSeconds(foundation::TMemoryStream* stream) {
  const auto t0 = std::chrono::steady_clock::now();
  stream->SetPosition(0);
  imaging::TLevelProvider none;
  imaging::TBitmapStore* store = decoders::LoadPngBitmapStore(stream, u"bench.png", false, none);
  if (!store) std::abort();
  imaging::TBitmap* level0 = store->GetBitmap(0, nullptr, nullptr);
  if (!level0 || level0->Width != kWidth) std::abort();
  benchmark::DoNotOptimize(level0);
  store->Free();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_PngDecode(benchmark::State& state) {
  const int channels = static_cast<int>(state.range(0));
  const std::vector<uint8_t> file = Encode(channels);
  auto* stream = new foundation::TMemoryStream();
  stream->WriteBuf(file.data(), static_cast<int32_t>(file.size()));
  std::vector<uint8_t> buffer;
  double ours = 0, theirs = 0;
  bool libpngFirst = true;
  for (auto _ : state) {
    if (libpngFirst) theirs += LibPngSeconds(file, channels, buffer);
    const double t = LoaderSeconds(stream);
    if (!libpngFirst) theirs += LibPngSeconds(file, channels, buffer);
    libpngFirst = !libpngFirst;
    ours += t;
    state.SetIterationTime(t);
  }
  stream->Free();
  state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
  state.counters["libpng_ms"] = theirs * 1000 / double(state.iterations());
  state.counters["ours_ms"] = ours * 1000 / double(state.iterations());
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * channels);
}

}  // namespace

BENCHMARK(BM_PngDecode)->Arg(3)->Arg(4)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  decoders::StartDecoders();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  decoders::StopDecoders();
  return 0;
}
