// Writers of the two glyph streams a show may carry: the vector-text stream
// (laid-out lines of glyph references) and the glyph-cache stream (one
// font's glyphs with placements and outlines). The program only reads the
// second, so tests write both byte by byte here, independently of the reader.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testsupport {

class ByteWriter {
 public:
  void i32(int32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(uint32_t(v) >> (8 * i)));
  }
  void u16(uint16_t v) {
    bytes.push_back(uint8_t(v));
    bytes.push_back(uint8_t(v >> 8));
  }
  void f32(float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    i32(int32_t(u));
  }
  void str(const std::u16string& s) {
    i32(int32_t(s.size()));
    for (char16_t c : s) u16(uint16_t(c));
  }
  std::string text() const { return std::string(bytes.begin(), bytes.end()); }
  std::vector<uint8_t> bytes;
};

struct StreamPoint {
  float x, y;
  int32_t kind;
};

struct StreamGlyph {
  uint16_t index = 0;
  int32_t a = 0, b = 0, c = 0, ascent = 0, descent = 0;
  float fontSize = 0;
  std::vector<StreamPoint> points;
};

// Glyph count, key, then per glyph: index, A, B, C, ascent, descent, size, points.
inline std::string GlyphCacheStream(const std::u16string& key, const std::vector<StreamGlyph>& glyphs) {
  ByteWriter w;
  w.i32(int32_t(glyphs.size()));
  w.str(key);
  for (const auto& g : glyphs) {
    w.u16(g.index);
    w.i32(g.a);
    w.i32(g.b);
    w.i32(g.c);
    w.i32(g.ascent);
    w.i32(g.descent);
    w.f32(g.fontSize);
    w.i32(int32_t(g.points.size()));
    for (const auto& p : g.points) {
      w.f32(p.x);
      w.f32(p.y);
      w.i32(p.kind);
    }
  }
  return w.text();
}

struct StreamGlyphRef {
  int32_t penX = 0;
  float fontSize = 0;
  uint16_t index = 0;
  std::u16string key;
};

struct StreamMetrics {
  int32_t ascent = 0, descent = 0;
  float underlinePos = 0, underlineThick = 0, strikePos = 0, strikeThick = 0;
};

// Line count, metrics, then per line the glyph references.
inline std::string VectorTextStream(const StreamMetrics& m, const std::vector<std::vector<StreamGlyphRef>>& lines) {
  ByteWriter w;
  w.i32(int32_t(lines.size()));
  w.i32(m.ascent);
  w.i32(m.descent);
  w.f32(m.underlinePos);
  w.f32(m.underlineThick);
  w.f32(m.strikePos);
  w.f32(m.strikeThick);
  for (const auto& l : lines) {
    w.i32(int32_t(l.size()));
    for (const auto& g : l) {
      w.i32(g.penX);
      w.f32(g.fontSize);
      w.u16(g.index);
      w.str(g.key);
    }
  }
  return w.text();
}

// A square glyph outline of side s on the baseline from x = a.
inline std::vector<StreamPoint> SquarePoints(float a, float s) {
  return {{a, -s, 0}, {a + s, -s, 1}, {a + s, 0, 1}, {a, 0, 1}};
}

}  // namespace testsupport
