// Each benchmark times our operation and a plain reference doing the same
// work in one iteration and reports ours / reference as "ratio".
//
// - Bilinear: the row-map resampler against the textbook separable form
//   (every source row scaled horizontally into an intermediate image, then
//   columns interpolated), both with the same 8-bit weights.
// - Filtered: the B-spline resampler against a plain separable filter that
//   evaluates the kernel for every destination pixel and tap.
// - Shadow: the blur of a 1920 x 1080 shape at radius 20 against two plain
//   box-blur passes of that radius at full size.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/DropShadow2.h"
#include "imaging/Startup.h"
#include "imaging/Resample.h"
#include "imaging/SysBilinearUtils.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kpShadowProducer2.h"

using namespace imaging;

namespace {

constexpr int kSrcW = 6000, kSrcH = 4000, kDstW = 1920, kDstH = 1080;
using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

struct Started {
  Started() { StartImaging(); }
};
void Start() { static Started s; }

TSysBitmap* Filled(int w, int h, TPixelFormat* f, unsigned seed) {
  TSysBitmap* b = CreateSysBitmap(w, h, f);
  std::mt19937 rng(seed);
  const int n = w * f->BytesPerPixel;
  for (int y = 0; y < h; ++y) {
    uint8_t* r = b->Row(y);
    for (int i = 0; i < n; ++i) r[i] = static_cast<uint8_t>(rng() >> 3);
  }
  return b;
}

// Separable bilinear: horizontal pass over every source row, then vertical.
void PlainBilinear(TSysBitmap* src, TSysBitmap* dst, std::vector<uint8_t>& mid) {
  const int sw = src->Width, sh = src->Height, dw = dst->Width, dh = dst->Height, n = 4;
  mid.resize(size_t(dw) * sh * n);
  std::vector<int> xi(dw), xw(dw);
  for (int x = 0; x < dw; ++x) {
    const double p = x * double(sw - 1) / (dw - 1);
    xi[x] = std::min(int(p), sw - 2);
    xw[x] = int(std::lround((p - xi[x]) * 256));
  }
  for (int y = 0; y < sh; ++y) {
    const uint8_t* r = src->Row(y);
    uint8_t* m = mid.data() + size_t(y) * dw * n;
    for (int x = 0; x < dw; ++x)
      for (int c = 0; c < n; ++c) {
        const int a = r[xi[x] * n + c], b = r[(xi[x] + 1) * n + c];
        m[x * n + c] = uint8_t(a + ((xw[x] * (b - a)) >> 8));
      }
  }
  for (int y = 0; y < dh; ++y) {
    const double p = y * double(sh - 1) / (dh - 1);
    const int k = std::min(int(p), sh - 2), w = int(std::lround((p - k) * 256));
    const uint8_t* a = mid.data() + size_t(k) * dw * n;
    const uint8_t* b = a + size_t(dw) * n;
    uint8_t* o = dst->Row(y);
    for (int i = 0; i < dw * n; ++i) o[i] = uint8_t(a[i] + ((w * (b[i] - a[i])) >> 8));
  }
}

void BM_BilinearDownscale(benchmark::State& state) {
  Start();
  TSysBitmap* src = Filled(kSrcW, kSrcH, pfA8R8G8B8, 1);
  TSysBitmap* dst = CreateSysBitmap(kDstW, kDstH, pfA8R8G8B8);
  TSysBitmap* ref = CreateSysBitmap(kDstW, kDstH, pfA8R8G8B8);
  std::vector<uint8_t> mid;
  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    ResampleBitmapBilinear(dst, src);
    auto t1 = Clock::now();
    PlainBilinear(src, ref, mid);
    auto t2 = Clock::now();
    benchmark::ClobberMemory();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  state.counters["ours_ms"] = 1000 * ours / double(state.iterations());
  src->Free();
  dst->Free();
  ref->Free();
}
BENCHMARK(BM_BilinearDownscale)->Unit(benchmark::kMillisecond)->Iterations(5);

float Spline(float x) { return SplineFilter(x); }

// Separable filter with the kernel evaluated for every tap of every pixel.
void PlainFiltered(TSysBitmap* src, TSysBitmap* dst, std::vector<float>& mid) {
  const int sw = src->Width, sh = src->Height, dw = dst->Width, dh = dst->Height;
  const float sx = float(dw) / sw, sy = float(dh) / sh;
  mid.resize(size_t(dw) * sh);
  const float wx = 2.0f / sx, wy = 2.0f / sy;
  for (int y = 0; y < sh; ++y) {
    const uint8_t* r = src->Row(y);
    for (int x = 0; x < dw; ++x) {
      const float c = x / sx;
      float sum = 0;
      for (int j = int(std::floor(c - wx)); j <= int(std::ceil(c + wx)); ++j) {
        const int k = std::clamp(j < 0 ? -j : (j < sw ? j : 2 * sw - j - 1), 0, sw - 1);
        sum += r[k] * Spline((c - j) * sx) * sx;
      }
      mid[size_t(x) * sh + y] = sum;
    }
  }
  for (int x = 0; x < dw; ++x) {
    const float* col = mid.data() + size_t(x) * sh;
    for (int y = 0; y < dh; ++y) {
      const float c = y / sy;
      float sum = 0;
      for (int j = int(std::floor(c - wy)); j <= int(std::ceil(c + wy)); ++j) {
        const int k = std::clamp(j < 0 ? -j : (j < sh ? j : 2 * sh - j - 1), 0, sh - 1);
        sum += col[k] * Spline((c - j) * sy) * sy;
      }
      dst->Row(y)[x] = uint8_t(std::clamp(sum, 0.0f, 255.0f));
    }
  }
}

void BM_FilteredDownscale(benchmark::State& state) {
  Start();
  TSysBitmap* src = Filled(kSrcW, kSrcH, pfA8, 2);
  TSysBitmap* dst = CreateSysBitmap(kDstW, kDstH, pfA8);
  TSysBitmap* ref = CreateSysBitmap(kDstW, kDstH, pfA8);
  std::vector<float> mid;
  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    ResampleFiltered(src, dst, SplineFilter, 2.0f, float(kDstW) / kSrcW, nullptr, nullptr, -1, {});
    auto t1 = Clock::now();
    PlainFiltered(src, ref, mid);
    auto t2 = Clock::now();
    benchmark::ClobberMemory();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  state.counters["ours_ms"] = 1000 * ours / double(state.iterations());
  src->Free();
  dst->Free();
  ref->Free();
}
BENCHMARK(BM_FilteredDownscale)->Unit(benchmark::kMillisecond)->Iterations(3);

// Two box-blur passes (rows, then columns) of radius r over a padded alpha plane.
void PlainBoxBlur(const TSysBitmap* src, int r, std::vector<uint8_t>& a, std::vector<uint8_t>& b) {
  const int pad = int(std::ceil(2.5 * r)), w = src->Width + 2 * pad, h = src->Height + 2 * pad;
  a.assign(size_t(w) * h, 0);
  b.assign(size_t(w) * h, 0);
  for (int y = 0; y < src->Height; ++y)
    for (int x = 0; x < src->Width; ++x) a[size_t(y + pad) * w + x + pad] = src->Row(y)[4 * x + 3];
  const int n = 2 * r + 1;
  for (int y = 0; y < h; ++y) {
    const uint8_t* in = a.data() + size_t(y) * w;
    uint8_t* out = b.data() + size_t(y) * w;
    int sum = 0;
    for (int x = -r; x < w + r; ++x) {
      if (x + r < w && x + r >= 0) sum += in[x + r];
      if (x - r - 1 >= 0 && x - r - 1 < w) sum -= in[x - r - 1];
      if (x >= 0 && x < w) out[x] = uint8_t(sum / n);
    }
  }
  for (int x = 0; x < w; ++x) {
    int sum = 0;
    for (int y = -r; y < h + r; ++y) {
      if (y + r < h && y + r >= 0) sum += b[size_t(y + r) * w + x];
      if (y - r - 1 >= 0 && y - r - 1 < h) sum -= b[size_t(y - r - 1) * w + x];
      if (y >= 0 && y < h) a[size_t(y) * w + x] = uint8_t(sum / n);
    }
  }
}

void BM_Shadow1080pRadius20(benchmark::State& state) {
  Start();
  TSysBitmap* pic = CreateSysBitmap(kDstW, kDstH, pfA8R8G8B8);
  for (int y = 0; y < kDstH; ++y)
    for (int x = 0; x < kDstW; ++x) {
      const uint8_t a = (x > 100 && x < kDstW - 100 && y > 80 && y < kDstH - 80) ? 255 : 0;
      uint8_t* p = pic->Row(y) + 4 * x;
      p[0] = p[1] = p[2] = 0;
      p[3] = a;
    }
  TImage* img = WrapBitmapAsImage(pic, true, u"pic");
  auto* producer = new TShadowProducer({});
  producer->Radius = 20;
  producer->Color = 0xFFFFFFFFu;
  std::vector<uint8_t> a, b;
  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    TImage* shadow = producer->Produce(img);
    auto t1 = Clock::now();
    PlainBoxBlur(pic, 21, a, b);
    auto t2 = Clock::now();
    benchmark::DoNotOptimize(shadow);
    shadow->Free();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  state.counters["ours_ms"] = 1000 * ours / double(state.iterations());
  producer->Free();
  img->Free();
}
BENCHMARK(BM_Shadow1080pRadius20)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
