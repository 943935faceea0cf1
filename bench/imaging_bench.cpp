// Each benchmark times our operation and its reference in one iteration and
// reports ours / reference as the counter "ratio" (1.0 = as fast as the
// reference): memcpy of the same bytes for conversions, premultiplication and
// the mip chain; LittleCMS's own transform of the same buffer for the ICC
// transform.
#include <benchmark/benchmark.h>
#include <lcms2.h>

#include <chrono>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/Startup.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvICCColorProfile.h"

using namespace imaging;

namespace {

constexpr int kWidth = 6000, kHeight = 4000;  // 24 megapixels
using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

struct Started {
  Started() { StartImaging(); }
};
void Start() { static Started s; }

TSysBitmap* Filled(TPixelFormat* f, unsigned seed) {
  TSysBitmap* b = CreateSysBitmap(kWidth, kHeight, f);
  std::mt19937 rng(seed);
  const int n = kWidth * f->BytesPerPixel;
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* r = b->Row(y);
    for (int i = 0; i < n; ++i) r[i] = static_cast<uint8_t>(rng());
  }
  return b;
}

// memcpy of every row of a bitmap into another of the same size and format.
void CopyRows(TSysBitmap* dst, TSysBitmap* src) {
  const size_t n = size_t(src->Width) * size_t(src->BytesPerPixel());
  for (int y = 0; y < src->Height; ++y) std::memcpy(dst->Row(y), src->Row(y), n);
}

void Convert(benchmark::State& state, const char16_t* from, const char16_t* to) {
  Start();
  TPixelFormat* sf = PixelFormatByName(from);
  TPixelFormat* df = PixelFormatByName(to);
  TSysBitmap* src = Filled(sf, 1);
  TSysBitmap* dst = CreateSysBitmap(kWidth, kHeight, df);
  TSysBitmap* ref = CreateSysBitmap(kWidth, kHeight, sf);
  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    dst->CopyFrom(src);
    auto t1 = Clock::now();
    CopyRows(ref, src);
    auto t2 = Clock::now();
    benchmark::ClobberMemory();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * sf->BytesPerPixel);
  src->Free();
  dst->Free();
  ref->Free();
}

void BM_RGBToARGB(benchmark::State& s) { Convert(s, u"R8G8B8", u"A8R8G8B8"); }
void BM_ARGBToRGB(benchmark::State& s) { Convert(s, u"A8R8G8B8", u"R8G8B8"); }
void BM_Premultiply(benchmark::State& s) { Convert(s, u"A8R8G8B8", u"A8r8g8b8"); }
void BM_Unpremultiply(benchmark::State& s) { Convert(s, u"A8r8g8b8", u"A8R8G8B8"); }
void BM_R5G6B5ToRGB(benchmark::State& s) { Convert(s, u"R5G6B5", u"R8G8B8"); }
void BM_ByteMapping(benchmark::State& s) { Convert(s, u"A8R8G8B8", u"X8B8G8R8"); }
void BM_BitMapping(benchmark::State& s) { Convert(s, u"X1R5G5B5", u"R5G6B5"); }
BENCHMARK(BM_RGBToARGB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ARGBToRGB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Premultiply)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Unpremultiply)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_R5G6B5ToRGB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ByteMapping)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BitMapping)->Unit(benchmark::kMillisecond);

// The premultiplying copy modes of system bitmaps (255 exact, 256 shift).
void CopyPremultiplied(benchmark::State& state) {
  Start();
  const int mode = static_cast<int>(state.range(0));
  TSysBitmap* src = Filled(pfA8R8G8B8, 2);
  TSysBitmap* dst = CreateSysBitmap(kWidth, kHeight, pfA8R8G8B8);
  TSysBitmap* ref = CreateSysBitmap(kWidth, kHeight, pfA8R8G8B8);
  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    dst->CopyRect(TRect{0, 0, kWidth, kHeight}, src, TPoint{0, 0}, mode);
    auto t1 = Clock::now();
    CopyRows(ref, src);
    auto t2 = Clock::now();
    benchmark::ClobberMemory();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  src->Free();
  dst->Free();
  ref->Free();
}
BENCHMARK(CopyPremultiplied)->Arg(255)->Arg(256)->Unit(benchmark::kMillisecond);

// Every level of a fresh store down to 1 x 1, beside a memcpy of level 0.
void MipChain(benchmark::State& state) {
  Start();
  TPixelFormat* f = state.range(0) ? pfA8R8G8B8 : pfR8G8B8;
  TSysBitmap* src = Filled(f, 3);
  TSysBitmap* ref = CreateSysBitmap(kWidth, kHeight, f);
  double ours = 0, base = 0;
  for (auto _ : state) {
    src->_AddRef();
    auto* store = new TWrapperBitmapStore(u"bench", src, true, {});
    auto t0 = Clock::now();
    int level = 0;
    for (TBitmap* b = store->GetBitmap(0, nullptr, nullptr); b->Width > 1 || b->Height > 1;)
      b = store->GetBitmap(++level, nullptr, nullptr);
    auto t1 = Clock::now();
    CopyRows(ref, src);
    auto t2 = Clock::now();
    store->Free();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  src->Free();
  ref->Free();
}
BENCHMARK(MipChain)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The ICC transform of the whole bitmap in place, beside one LittleCMS
// transform of the same bytes as a single buffer.
void IccTransform(benchmark::State& state) {
  Start();
  TPixelFormat* f = state.range(0) ? pfA8R8G8B8 : pfR8G8B8;
  TSysBitmap* bmp = Filled(f, 4);
  std::vector<uint8_t> buffer(size_t(kWidth) * kHeight * size_t(f->BytesPerPixel));
  for (int y = 0; y < kHeight; ++y)
    std::memcpy(buffer.data() + size_t(y) * kWidth * f->BytesPerPixel, bmp->Row(y), size_t(kWidth) * f->BytesPerPixel);
  TColorTransform* t = CreateICCColorTransform(SRGBColorProfile, AdobeRGBColorProfile);
  const cmsUInt32Number layout = f->BitsPerPixel == 24 ? TYPE_BGR_8 : TYPE_BGRA_8;
  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    t->TransformBitmap(bmp);
    auto t1 = Clock::now();
    cmsHPROFILE a = cmsOpenProfileFromMem(SRGBColorProfile->Data.data(), cmsUInt32Number(SRGBColorProfile->Data.size()));
    cmsHPROFILE b = cmsOpenProfileFromMem(AdobeRGBColorProfile->Data.data(),
                                          cmsUInt32Number(AdobeRGBColorProfile->Data.size()));
    cmsHTRANSFORM x = cmsCreateTransform(a, layout, b, layout, INTENT_PERCEPTUAL, 0);
    cmsDoTransform(x, buffer.data(), buffer.data(), cmsUInt32Number(size_t(kWidth) * kHeight));
    cmsDeleteTransform(x);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    auto t2 = Clock::now();
    benchmark::ClobberMemory();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  t->Free();
  bmp->Free();
}
BENCHMARK(IccTransform)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
