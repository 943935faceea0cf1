// The first byte chooses the font, style and reading-order flags; the rest is
// UTF-16LE text. Every layout must answer consistent structure: runs that
// tile the text, glyph indices inside the glyph list, widths that add up.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "tests/support/PinnedFonts.h"
#include "text/Startup.h"
#include "text/winTextElement.h"

using namespace text;

namespace {

struct Started {
  std::unique_ptr<platform::fonts::FontBackend> backend;
  Started() : backend(platform::fonts::createFontBackendFromFiles(testsupport::PinnedFontFiles())) {
    platform::fonts::setFontBackend(backend.get());
    StartText();
  }
};

}  // namespace

QEL_FUZZ_TARGET(data, size) {
  static Started started;
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  std::u16string s;
  for (size_t i = 1; i + 1 < size && s.size() < 64; i += 2) s += char16_t(data[i] | (data[i + 1] << 8));
  static const char16_t* const families[] = {u"Arial", u"DejaVu Sans", u"WenQuanYi Micro Hei", u"No Such Font"};
  TFontParams font;
  InitFontParams(font, families[mode & 3], float(4 + (mode >> 4)), uint8_t((mode >> 2) & 3), {}, {}, (mode & 64) != 0);
  auto* e = new TWinTextElement(font, (mode >> 5) % 5);
  e->InsertText(1, s, 1, int32_t(s.size()));
  fuzzing::Check(e->Count == int32_t(s.size()));
  std::vector<int> hits(s.size(), 0);
  int32_t width = 0, glyphs = 0;
  for (const auto& r : e->Runs) {
    fuzzing::Check(r.Count >= 1 && r.Start >= 0 && r.Start + r.Count <= e->Count);
    for (int32_t k = r.Start; k < r.Start + r.Count; ++k) hits[size_t(k)]++;
    width += r.Width;
    glyphs += r.GlyphCount;
  }
  for (int h : hits) fuzzing::Check(h == 1);
  fuzzing::Check(width == e->Extent.Width && glyphs == e->GlyphCount);
  for (int32_t i = 0; i < e->Count; ++i)
    fuzzing::Check(e->CharToGlyph[size_t(i)] >= 0 && e->CharToGlyph[size_t(i)] < std::max(e->GlyphCount, 1));
  // Glyph information shapes its run again: a few glyphs from each end.
  for (int32_t g = 0; g < e->GlyphCount; g = (g == 3 && e->GlyphCount > 8) ? e->GlyphCount - 4 : g + 1) {
    TGlyphInfo info;
    e->GetGlyphInfo(g, info);
    fuzzing::Check(info.Height == info.Ascent + info.Descent);
  }
  const int32_t fit = e->GetFitCount(1, e->Extent.Width / 2, [](int32_t n) { return n; });
  fuzzing::Check(fit >= 0 && fit <= e->Count);
  if (e->Count > 0) {
    const int32_t start = 1 + int32_t(mode) % e->Count;
    fuzzing::Check(e->GetRangeWidthCached(start, e->Count) >= 0);
  }
  std::vector<uint8_t> px(64 * 16 * 4, 255);
  e->Paint({px.data(), 64, 16, 64 * 4, 32}, -3, 0, {0, 0, 64, 16});
  TTextElement* c = e->CloneRange(2, 3);
  c->Free();
  e->Free();
  return 0;
}
