// Decoding JPEGs through the loader's store, at levels 0 to 3 (scales 1, 1/2,
// 1/4, 1/8), against a plain decode with the library over the same bytes with
// the same settings (fast integer DCT, block smoothing, blue-green-red output
// into rows of one buffer). Two files: a 3000 x 2000 pattern, and a
// photo-like 6000 x 4000 scene with noise (about 8 MB, like a camera's file),
// both made at run time. "ratio" is the loader's time over the library's
// (below 1 is faster); the aim is at most 1.03.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include <jpeglib.h>

#include "decoders/Startup.h"
#include "decoders/SysJpegLoader.h"
#include "foundation/kvStream.h"
#include "imaging/Startup.h"
#include "tests/support/JpegMaker.h"

namespace {

const testsupport::Bytes& Pattern() {
  static const testsupport::Bytes jpeg =
      testsupport::MakeJpeg(testsupport::JpegSpec{3000, 2000, 3, 88, false, 0, true});
  return jpeg;
}

const testsupport::Bytes& Photo24() {
  static const testsupport::Bytes jpeg = testsupport::MakeJpeg(testsupport::JpegSpec{6000, 4000, 3, 90, false, 0, true},
                                                              testsupport::NoisyScenePixels(6000, 4000));
  return jpeg;
}

const testsupport::Bytes& File(int which) { return which == 0 ? Pattern() : Photo24(); }

// The library alone: memory source, same options as the loader.
// Like the loader, it makes a new output buffer for every decode (left
// uninitialised, which favours the library).
void LibraryDecode(const testsupport::Bytes& jpeg, int scale, std::unique_ptr<uint8_t[]>& pixels) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.scale_num = 1;
  cinfo.scale_denom = 1u << scale;
  cinfo.do_block_smoothing = TRUE;
  cinfo.out_color_space = JCS_EXT_BGR;
  cinfo.dct_method = JDCT_IFAST;
  cinfo.two_pass_quantize = FALSE;
  cinfo.dither_mode = JDITHER_ORDERED;
  jpeg_start_decompress(&cinfo);
  const size_t stride = size_t(cinfo.output_width) * 3;
  pixels.reset(new uint8_t[stride * cinfo.output_height]);
  std::vector<JSAMPROW> rows(cinfo.output_height);
  for (JDIMENSION y = 0; y < cinfo.output_height; ++y) rows[y] = pixels.get() + stride * y;
  while (cinfo.output_scanline < cinfo.output_height)
    jpeg_read_scanlines(&cinfo, rows.data() + cinfo.output_scanline,
                        std::min<JDIMENSION>(cinfo.rec_outbuf_height, cinfo.output_height - cinfo.output_scanline));
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
}

decoders::TJpegBitmapStore* MakeStore(const testsupport::Bytes& jpeg) {
  static bool started = false;
  if (!started) {
    decoders::StartDecoders();
    started = true;
  }
  auto* s = new foundation::TMemoryStream();
  s->WriteBuf(jpeg.data(), static_cast<int32_t>(jpeg.size()));
  s->SetPosition(0);
  imaging::TLevelProvider none;
  auto* store = static_cast<decoders::TJpegBitmapStore*>(decoders::LoadJpegBitmapStore(s, u"photo.jpg", true, none));
  if (!store) std::abort();
  return store;
}

double LoaderSeconds(decoders::TJpegBitmapStore* store, int level) {
  const auto t0 = std::chrono::steady_clock::now();
  imaging::TMipLevelResult r;
  store->LoadMipLevel(r, level);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  benchmark::DoNotOptimize(r.Bitmap->Width);
  r.Bitmap->Free();
  return s;
}

double LibrarySeconds(const testsupport::Bytes& jpeg, int level) {
  std::unique_ptr<uint8_t[]> pixels;
  const auto t0 = std::chrono::steady_clock::now();
  LibraryDecode(jpeg, level, pixels);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  benchmark::DoNotOptimize(pixels.get());
  return s;
}

// Runs both decodes in each iteration, in alternating order, so both see the same machine state.
void BM_JpegLoaderVsLibrary(benchmark::State& state) {
  const testsupport::Bytes& jpeg = File(static_cast<int>(state.range(0)));
  const int level = static_cast<int>(state.range(1));
  decoders::TJpegBitmapStore* store = MakeStore(jpeg);
  double ours = 0, library = 0;
  bool loaderFirst = true;
  for (auto _ : state) {
    if (loaderFirst) {
      ours += LoaderSeconds(store, level);
      library += LibrarySeconds(jpeg, level);
    } else {
      library += LibrarySeconds(jpeg, level);
      ours += LoaderSeconds(store, level);
    }
    loaderFirst = !loaderFirst;
  }
  state.counters["loader_ms"] = ours * 1000.0 / double(state.iterations());
  state.counters["library_ms"] = library * 1000.0 / double(state.iterations());
  state.counters["ratio"] = library > 0 ? ours / library : 0;
  store->Free();
}
BENCHMARK(BM_JpegLoaderVsLibrary)
    ->ArgNames({"file", "level"})
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

void BM_JpegHeader(benchmark::State& state) {
  for (auto _ : state) {
    decoders::TJpegBitmapStore* store = MakeStore(Pattern());
    benchmark::DoNotOptimize(store->Params.Width);
    store->Free();
  }
}
BENCHMARK(BM_JpegHeader)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
