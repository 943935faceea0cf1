#include "text/winTextVectorizer.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/kpExceptions.h"
#include "text/GdiDynamicFunctions.h"
#include "text/winFontUtils.h"
#include "text/winTextElement.h"

namespace text {

namespace fonts = platform::fonts;

namespace {

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
// A 16.16 fixed value: uint16 fraction, then int16 integer part.
float Fixed(const uint8_t* p) { return foundation::FixedToSingle(int32_t(Le32(p))); }

TVectorizer* MakeWinVectorizer() { return new TWinVectorizer(); }

TFontParams GlyphFont(const TGlyphInfo& Glyph) {
  TFontParams f;
  uint8_t style = 0;
  SplitGlyphKey(Glyph.ID.GlyphKey, f.Name, style);
  f.Style = style;
  f.Size = Glyph.ID.FontSize;
  return f;
}

}  // namespace

void ReadGlyphOutline(std::span<const uint8_t> Buffer, TPath& Path) {
  const size_t size = Buffer.size();
  const uint8_t* b = Buffer.data();
  size_t pos = 0;
  while (size >= 16 && pos <= size - 16) {
    const uint32_t recSize = Le32(b + pos);
    const uint32_t type = Le32(b + pos + 4);
    QEL_ASSERT(type == 24, "GetGlyphOutline: don't exist HeaderType");
    AddPathPoint(Path, Fixed(b + pos + 8), Fixed(b + pos + 12), pkMove);
    // A record never reaches past the buffer, whatever its size field says.
    const size_t end = std::min<size_t>(size, pos + std::max<uint32_t>(recSize, 16));
    size_t c = pos + 16;
    while (end >= 12 && c <= end - 12) {
      const uint16_t kind = Le16(b + c);
      const size_t n = Le16(b + c + 2);
      const uint8_t* pts = b + c + 4;
      // Points that the record promises beyond its end are not read.
      const size_t avail = std::min(n, (end - c - 4) / 8);
      auto px = [&](size_t i) { return Fixed(pts + 8 * i); };
      auto py = [&](size_t i) { return Fixed(pts + 8 * i + 4); };
      switch (kind) {
        case 1:
          for (size_t i = 0; i < avail; ++i) AddPathPoint(Path, px(i), py(i), pkLine);
          break;
        case 2:
          if (avail >= 2)
            for (size_t i = 0; i + 1 < avail; ++i) {
              AddPathPoint(Path, px(i), py(i), pkQuadratic);
              if (i == avail - 2) AddPathPoint(Path, px(i + 1), py(i + 1), pkQuadratic);
              else AddPathPoint(Path, (px(i) + px(i + 1)) / 2, (py(i) + py(i + 1)) / 2, pkQuadratic);
            }
          break;
        case 3:
          for (size_t i = 0; i + 2 < avail; i += 3) {
            AddPathPoint(Path, px(i), py(i), pkCubic);
            AddPathPoint(Path, px(i + 1), py(i + 1), pkCubic);
            AddPathPoint(Path, px(i + 2), py(i + 2), pkCubic);
          }
          break;
        default:
          break;
      }
      c += 4 + 8 * n;
    }
    if (recSize < 16) break;  // a record that does not advance ends the outline
    pos += recSize;
  }
}

void FitGlyphToBlackBox(TPath& Path, int32_t A, int32_t B) {
  if (Path.Count <= 0) return;
  float minX = Path.Items[0].X, maxX = minX;
  for (int32_t i = 1; i < Path.Count; ++i) {
    minX = std::min(minX, Path.Items[size_t(i)].X);
    maxX = std::max(maxX, Path.Items[size_t(i)].X);
  }
  if (float(A) - minX > 0 && minX < maxX) {
    const float d = float(A) - minX;
    for (int32_t i = 0; i < Path.Count; ++i) Path.Items[size_t(i)].X += d;
    minX += d;
    maxX += d;
  }
  if (maxX - float(A) - float(B) > 0 && maxX > minX) {
    const float k = (float(A + B) - minX) / (maxX - minX);
    for (int32_t i = 0; i < Path.Count; ++i) {
      float& x = Path.Items[size_t(i)].X;
      x = minX + (x - minX) * k;
    }
  }
}

TTextElementEx* TWinVectorizer::CreateTextElement(const TFontParams& Font, const std::u16string& Text) {
  auto* e = new TWinTextElement(Font, 0);
  e->OnGetDC = [] { return uintptr_t(0); };
  e->OnReleaseDC = [](uintptr_t) {};
  TAcceptFontEvent previous = e->OnAcceptFont;
  // While shaping, fallback picks only fonts whose outlines can be read.
  e->OnAcceptFont = [this](const TFontParams& F, bool Check, bool& Accepted) {
    Accepted = Check ? IsOutlineFont(F) : true;
  };
  try {
    e->InsertText(1, Text, 1, int32_t(Text.size()));
  } catch (...) {
    e->OnAcceptFont = previous;
    e->Free();
    throw;
  }
  e->OnAcceptFont = previous;
  return e;
}

bool TWinVectorizer::GetGlyphPath(const TGlyphInfo& Glyph, TPath& Path) {
  const TFontParams f = GlyphFont(Glyph);
  fonts::FontHandle font = CreateFontHandle(f);
  TPath p;
  int32_t size = font->glyphOutline(Glyph.ID.GlyphIndex, {});
  if (size > 0) {
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    size = font->glyphOutline(Glyph.ID.GlyphIndex, buffer);
    if (size > 0) ReadGlyphOutline(std::span<const uint8_t>(buffer.data(), std::min(buffer.size(), size_t(size))), p);
  }
  if (p.Count > 0 && GlyphABCWidthsHook) {
    const uint16_t g = Glyph.ID.GlyphIndex;
    std::vector<fonts::AbcWidth> w;
    if (GlyphABCWidthsHook(font.get(), std::span<const uint16_t>(&g, 1), 0, 1, w) && !w.empty())
      FitGlyphToBlackBox(p, w[0].a, w[0].b);
  }
  Path = p;
  return true;
}

void TWinVectorizer::GetLineMetrics(TLineMetrics& Metrics, const TFontParams& Font) {
  fonts::FontHandle font = CreateFontHandle(Font);
  const fonts::TextMetrics tm = font->textMetrics();
  fonts::OutlineMetrics om;
  Metrics = {};
  Metrics.Ascent = tm.ascent;
  Metrics.Descent = tm.descent;
  if (font->outlineMetrics(om)) {
    Metrics.UnderlinePosition = float(om.underscorePosition);
    Metrics.UnderlineThickness = float(om.underscoreSize);
    Metrics.StrikeOutPosition = float(om.strikeoutPosition);
    Metrics.StrikeOutThickness = float(om.strikeoutSize);
  } else {
    Metrics.UnderlinePosition = -float(Metrics.Descent) * 0.5f;
    Metrics.UnderlineThickness = float(Metrics.Descent) * 0.25f;
    Metrics.StrikeOutPosition = float(Metrics.Ascent - Metrics.Descent) * 0.5f;
    Metrics.StrikeOutThickness = float(Metrics.Descent) * 0.25f;
  }
}

bool TWinVectorizer::IsOutlineFont(const TFontParams& Font) {
  const uint8_t p = CreateFontHandle(Font)->textMetrics().pitchAndFamily;
  return (p & fonts::TMPF_TRUETYPE) != 0 || ((p & fonts::TMPF_DEVICE) != 0 && (p & fonts::TMPF_VECTOR) != 0);
}

void InitWinTextVectorizer() { CreateVectorizer = MakeWinVectorizer; }
void DoneWinTextVectorizer() { CreateVectorizer = [] { return static_cast<TVectorizer*>(nullptr); }; }

}  // namespace text
