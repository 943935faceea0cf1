// A 1920 x 1080 frame of 60-pixel text (Liberation Sans, 15 lines of 45
// glyphs) filled glyph by glyph from outline paths by the raster helper into
// an A8R8G8B8 frame, against FreeType's anti-aliasing rasterizer filling the
// same outlines (converted point for point from the paths) through a span
// callback that composites into the same kind of frame with the same blend.
// "ratio" is our time over FreeType's (thread CPU time, interleaved).
#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include "text/Startup.h"
#include "imaging/kvBitmap.h"
#include "tests/support/PinnedFonts.h"
#include "text/GdiDynamicFunctions.h"
#include "text/GraphicsParams.h"
#include "text/kvRasterizerUtils.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextVectorizer.h"

using namespace text;

namespace {

double Now() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

constexpr int kW = 1920, kH = 1080;
constexpr uint32_t kColor = 0xFF202020u;

struct Placed {
  size_t glyph;  // index into the glyph outlines
  float x, baseline;
};

// Our paths and FreeType outlines of the same glyphs.
struct Glyphs {
  std::vector<TPath> paths;
  std::vector<FT_Outline> outlines;
  std::vector<Placed> placed;
  FT_Library lib = nullptr;
  ~Glyphs() {
    for (auto& o : outlines) FT_Outline_Done(lib, &o);
    if (lib) FT_Done_FreeType(lib);
  }
};

// A path as an FT outline in 26.6, y up from the frame's bottom edge later by translation.
void ToOutline(FT_Library lib, const TPath& p, FT_Outline& o) {
  int contours = 0;
  for (int32_t i = 0; i < p.Count; ++i) contours += p.Items[size_t(i)].Kind == pkMove;
  FT_Outline_New(lib, FT_UInt(p.Count), FT_Int(contours), &o);
  o.n_points = 0;
  o.n_contours = 0;
  int pending = 0;  // points a curve still consumes and their tag
  char tag = FT_CURVE_TAG_ON;
  for (int32_t i = 0; i < p.Count; ++i) {
    const TPathItem& it = p.Items[size_t(i)];
    if (pending == 0) {
      if (it.Kind == pkMove && o.n_points > 0) o.contours[o.n_contours++] = short(o.n_points - 1);
      if (it.Kind == pkQuadratic) {
        pending = 1;
        tag = FT_CURVE_TAG_CONIC;
      } else if (it.Kind == pkCubic) {
        pending = 2;
        tag = FT_CURVE_TAG_CUBIC;
      } else {
        tag = FT_CURVE_TAG_ON;
      }
    } else {
      tag = --pending == 0 ? FT_CURVE_TAG_ON : tag;
    }
    o.points[o.n_points] = FT_Vector{FT_Pos(it.X * 64), FT_Pos(-it.Y * 64)};
    o.tags[o.n_points] = tag;
    ++o.n_points;
  }
  if (o.n_points > 0) o.contours[o.n_contours++] = short(o.n_points - 1);
  o.flags = FT_OUTLINE_NONE;
}

struct FtTarget {
  imaging::TDirectBitmap* frame;
};

void Spans(int y, int count, const FT_Span* spans, void* user) {
  auto* t = static_cast<FtTarget*>(user);
  const int row = kH - 1 - y;
  if (row < 0 || row >= kH) return;
  uint32_t* px = reinterpret_cast<uint32_t*>(t->frame->Row(row));
  for (int i = 0; i < count; ++i) {
    const uint32_t a = (255u * spans[i].coverage) / 255u;
    const uint32_t c = (kColor & 0x00FFFFFFu) | (((kColor >> 24) * a / 255u) << 24);
    for (int x = spans[i].x; x < spans[i].x + spans[i].len; ++x) {
      TARGB v = px[x];
      BlendPixelOver(v, c);
      px[x] = v;
    }
  }
}

void Clear(imaging::TDirectBitmap* f) {
  for (int y = 0; y < kH; ++y) {
    uint32_t* r = reinterpret_cast<uint32_t*>(f->Row(y));
    for (int x = 0; x < kW; ++x) r[x] = 0xFFFFFFFFu;
  }
}

void RenderOurs(TRasterHelper* h, imaging::TDirectBitmap* frame, const Glyphs& g) {
  h->BeginPaintOn(frame);
  h->Color = kColor;
  for (const Placed& p : g.placed) {
    const float dx = p.x, dy = p.baseline;
    h->Transform = [dx, dy](TFloatPoint q) { return TFloatPoint{q.X + dx, q.Y + dy}; };
    h->DrawPath(g.paths[p.glyph], false);
  }
  h->EndPaint();
}

void RenderFreeType(Glyphs& g, imaging::TDirectBitmap* frame) {
  FtTarget t{frame};
  FT_Raster_Params params{};
  params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
  params.gray_spans = Spans;
  params.user = &t;
  params.clip_box = FT_BBox{0, 0, kW, kH};
  for (const Placed& p : g.placed) {
    FT_Outline& o = g.outlines[p.glyph];
    const FT_Pos dx = FT_Pos(p.x * 64), dy = FT_Pos((kH - p.baseline) * 64);
    FT_Outline_Translate(&o, dx, dy);
    FT_Outline_Render(g.lib, &o, &params);
    FT_Outline_Translate(&o, -dx, -dy);
  }
}

void BM_FrameOfText(benchmark::State& state) {
  auto backend = platform::fonts::createFontBackendFromFiles(testsupport::PinnedFontFiles());
  auto* previous = platform::fonts::setFontBackend(backend.get());
  StartText();
  Glyphs g;
  FT_Init_FreeType(&g.lib);
  {
    // 60-pixel text: 45 points at 96 dpi.
    TFontParams font;
    InitFontParams(font, u"Arial", 45, 0, MakeFColor(0, 0, 0), MakeFColor(255, 255, 255), true);
    TVectorizer* v = CreateVectorizer();
    const std::u16string line = u"Sphinx of black quartz, judge my vow! 0123456789";
    TTextElementEx* e = v->CreateTextElement(font, line);
    std::vector<float> pen;
    for (int32_t j = 0; j < e->GetGlyphCount(); ++j) {
      TGlyphInfo info;
      e->GetGlyphInfo(j, info);
      TPath p;
      v->GetGlyphPath(info, p);
      g.paths.push_back(p);
      g.outlines.emplace_back();
      ToOutline(g.lib, p, g.outlines.back());
      pen.push_back(float(info.PenX));
    }
    e->Free();
    v->Free();
    for (int l = 0; l < 15; ++l)
      for (size_t j = 0; j < g.paths.size(); ++j)
        if (pen[j] + 10 < kW) g.placed.push_back({j, 10 + pen[j], 60.0f + 70.0f * float(l)});
  }
  auto* ours = new imaging::TDirectBitmap(kW, kH, imaging::pfA8R8G8B8);
  auto* ref = new imaging::TDirectBitmap(kW, kH, imaging::pfA8R8G8B8);
  auto* h = new TRasterHelper();
  double a = 0, b = 0;
  for (auto _ : state) {
    Clear(ours);
    Clear(ref);
    const double t0 = Now();
    RenderOurs(h, ours, g);
    const double t1 = Now();
    RenderFreeType(g, ref);
    const double t2 = Now();
    a += t1 - t0;
    b += t2 - t1;
  }
  // The two frames agree closely: the same ink, sampled differently.
  double diff = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const int p = reinterpret_cast<uint32_t*>(ours->Row(y))[x] & 0xFF, q = reinterpret_cast<uint32_t*>(ref->Row(y))[x] & 0xFF;
      diff += std::abs(p - q);
    }
  state.counters["ratio"] = b > 0 ? a / b : 0;
  state.counters["ours_ms"] = a / double(state.iterations()) * 1e3;
  state.counters["freetype_ms"] = b / double(state.iterations()) * 1e3;
  state.counters["mean_abs_diff"] = diff / (double(kW) * kH);
  state.counters["glyphs"] = double(g.placed.size());
  h->Free();
  ours->Free();
  ref->Free();
  StopText();
  platform::fonts::setFontBackend(previous);
}

}  // namespace

BENCHMARK(BM_FrameOfText)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK_MAIN();
