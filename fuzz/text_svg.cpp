// Reads arbitrary bytes as SVG path data, chained and not, and fills and
// strokes what was read into a small bitmap through the raster helper with
// a scaling transform. Checks: the answer is 0 or a position inside the
// text; a path read from a text that parsed whole draws unless its
// coordinates overflowed (sums of huge relative steps).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "text/Startup.h"
#include "imaging/kvBitmap.h"
#include "text/kvRasterizerUtils.h"
#include "text/kvSvgUtils.h"

using namespace text;

namespace {

struct Setup {
  Setup() { text::StartText(); }
};

}  // namespace

QEL_FUZZ_TARGET(data, size) {
  static Setup setup;
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (bool chained : {true, false}) {
    TPath path;
    const int32_t r = ParseSvgPath(text, path, chained);
    fuzzing::Check(r >= 0 && size_t(r) <= size + 1);
    fuzzing::Check(path.Count <= int32_t(path.Items.size()));
    auto* bmp = new imaging::TDirectBitmap(20, 24, imaging::pfA8R8G8B8);
    for (int y = 0; y < 24; ++y) std::memset(bmp->Row(y), 0, 80);
    auto* h = new TRasterHelper();
    h->BeginPaint(20, 20, 0);
    h->Transform = [](TFloatPoint p) { return TFloatPoint{p.X * 0.5f + 3, p.Y * 0.5f + 3}; };
    const bool filled = h->DrawPath(path, chained);
    bool finite = true;
    for (int32_t i = 0; i < path.Count; ++i)
      finite = finite && std::isfinite(path.Items[size_t(i)].X * 0.5f + 3) && std::isfinite(path.Items[size_t(i)].Y * 0.5f + 3);
    if (r == 0 && finite) fuzzing::Check(filled);
    h->StrokePath(path, 1.5f, !chained);
    imaging::TBitmap* out = h->EndPaint();
    fuzzing::Check(out->Width == 20 && out->Height == 20);
    out->Free();
    h->BeginPaintOn(bmp);
    h->DrawPath(path, false);
    h->EndPaint();
    h->Free();
    bmp->Free();
  }
  return 0;
}
