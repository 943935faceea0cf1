// 1,000 lines of mixed text (Latin, Cyrillic, Greek, Hebrew and Arabic with
// numbers, Devanagari, CJK, emoji) laid out as text elements and painted,
// against HarfBuzz shaping the same lines with one face. "ratio" is our time
// over HarfBuzz's. Warm: fonts, coverage and fallback sizes already known;
// cold: a fresh font backend and font replacer for every pass. Times are
// thread CPU times.
#include <benchmark/benchmark.h>
#include <hb.h>

#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/PinnedFonts.h"
#include "text/Startup.h"
#include "text/GdiDynamicFunctions.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextElement.h"

using namespace text;

namespace {

// Thread CPU time: the build machine is shared, so wall time mostly measures the neighbours.
struct Clock {
  static double now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
  }
};
double Seconds(double a, double b) { return b - a; }

std::vector<std::u16string> Lines() {
  const std::u16string samples[] = {
      u"The quick brown fox jumps over the lazy dog",
      u"\u0421\u044A\u0435\u0448\u044C \u0436\u0435 \u0435\u0449\u0451 \u044D\u0442\u0438\u0445 \u0431\u0443\u043B\u043E\u043A",
      u"\u039E\u03B5\u03C3\u03BA\u03B5\u03C0\u03AC\u03B6\u03C9 \u03C4\u03B7\u03BD \u03C8\u03C5\u03C7\u03BF\u03C6\u03B8\u03CC\u03C1\u03B1",
      u"Price \u05DE\u05D7\u05D9\u05E8 120 \u05E9\u05E7\u05DC\u05D9\u05DD today",
      u"\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645 2024",
      u"\u0928\u092E\u0938\u094D\u0924\u0947 \u0926\u0941\u0928\u093F\u092F\u093E and hello",
      u"\u4F60\u597D\u4E16\u754C mixed with Latin",
      u"Smile \U0001F600 and sun \u2600 at 12:30",
  };
  std::vector<std::u16string> out;
  for (int i = 0; i < 1000; ++i) out.push_back(samples[i % 8] + u" #" + std::u16string(1, char16_t(u'0' + i % 10)));
  return out;
}

struct Env {
  std::unique_ptr<platform::fonts::FontBackend> backend;
  platform::fonts::FontBackend* previous = nullptr;
  void Start() {
    backend = platform::fonts::createFontBackendFromFiles(testsupport::PinnedFontFiles());
    previous = platform::fonts::setFontBackend(backend.get());
    StartText();
  }
  void Stop() {
    StopText();
    platform::fonts::setFontBackend(previous);
    backend.reset();
  }
};

void LayOutAndPaint(const std::vector<std::u16string>& lines, std::vector<uint8_t>& pixels) {
  TFontParams font;
  InitFontParams(font, u"Arial", 12, 0, MakeFColor(0, 0, 0), MakeFColor(255, 255, 255), true);
  platform::fonts::Surface s{pixels.data(), 600, 24, 600 * 4, 32};
  for (const auto& line : lines) {
    auto* e = new TWinTextElement(font, 0);
    e->InsertText(1, line, 1, int32_t(line.size()));
    e->Paint(s, 0, 0, {0, 0, 600, 24});
    e->Free();
  }
}

struct HbReference {
  hb_blob_t* blob = hb_blob_create_from_file(testsupport::kLiberationSans.c_str());
  hb_face_t* face = hb_face_create(blob, 0);
  hb_font_t* font = hb_font_create(face);
  hb_buffer_t* buf = hb_buffer_create();
  HbReference() { hb_font_set_scale(font, 16 * 64, 16 * 64); }
  ~HbReference() {
    hb_buffer_destroy(buf);
    hb_font_destroy(font);
    hb_face_destroy(face);
    hb_blob_destroy(blob);
  }
  unsigned Shape(const std::vector<std::u16string>& lines) {
    unsigned glyphs = 0;
    for (const auto& line : lines) {
      hb_buffer_clear_contents(buf);
      hb_buffer_add_utf16(buf, reinterpret_cast<const uint16_t*>(line.data()), int(line.size()), 0, int(line.size()));
      hb_buffer_guess_segment_properties(buf);
      hb_shape(font, buf, nullptr, 0);
      glyphs += hb_buffer_get_length(buf);
    }
    return glyphs;
  }
};

void BM_LayoutWarm(benchmark::State& state) {
  const auto lines = Lines();
  std::vector<uint8_t> pixels(600 * 24 * 4, 255);
  Env env;
  env.Start();
  LayOutAndPaint(lines, pixels);  // warm the caches
  HbReference hb;
  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    LayOutAndPaint(lines, pixels);
    auto t1 = Clock::now();
    benchmark::DoNotOptimize(hb.Shape(lines));
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  env.Stop();
  state.counters["ratio"] = base > 0 ? ours / base : 0;
}

void BM_LayoutCold(benchmark::State& state) {
  const auto lines = Lines();
  std::vector<uint8_t> pixels(600 * 24 * 4, 255);
  HbReference hb;
  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    Env env;
    env.Start();
    LayOutAndPaint(lines, pixels);
    env.Stop();
    auto t1 = Clock::now();
    benchmark::DoNotOptimize(hb.Shape(lines));
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
}

}  // namespace

BENCHMARK(BM_LayoutWarm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LayoutCold)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
