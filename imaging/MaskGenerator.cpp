#include "imaging/MaskGenerator.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "imaging/ImagingAssert.h"
#include "imaging/SysBitmapStore.h"

namespace imaging {

namespace {

std::string Fixed16(float v) {
  char buf[80];
  std::snprintf(buf, sizeof buf, "%.16f", double(v));
  std::string s = buf;
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s;
}

std::string Field(const std::u16string& f) {
  std::string s;
  size_t i = 0;
  while (i < f.size() && (f[i] == u' ' || f[i] == u'\t')) ++i;
  for (; i < f.size(); ++i) {
    if (f[i] > 0x7F) return {};
    s.push_back(static_cast<char>(f[i]));
  }
  return s;
}

bool ToInt(const std::u16string& f, int64_t& v) {
  const std::string s = Field(f);
  if (s.empty()) return false;
  const char* b = s.data() + (s[0] == '+' ? 1 : 0);
  auto r = std::from_chars(b, s.data() + s.size(), v);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

float ToFloat(const std::u16string& f) {
  const std::string s = Field(f);
  if (s.empty()) return 0;
  const char* b = s.data() + (s[0] == '+' ? 1 : 0);
  double d;
  auto r = std::from_chars(b, s.data() + s.size(), d);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !(std::fabs(d) <= 3.4028234663852886e38)) return 0;
  return static_cast<float>(d);
}

inline void Put(uint8_t* row, int32_t x, uint8_t v) { std::memset(row + 3 * x, v, 3); }

float Dist(float x, float y, float px, float py) { return std::sqrt((x - px) * (x - px) + (y - py) * (y - py)); }

}  // namespace

std::u16string BuildPresetMaskKey(const TMaskParams& p) {
  const std::string s = "PresetedMask:" + std::to_string(p.Width) + ":" + std::to_string(p.Height) + ":" +
                        std::to_string(p.Kind) + ":" + Fixed16(p.Softness) + ":" + Fixed16(p.CornerRadius);
  return {s.begin(), s.end()};
}

void ParseMaskKey(const std::u16string& Text, TMaskParams& p) {
  const std::u16string text = Text + u":";
  size_t pos = std::min<size_t>(13, text.size());
  for (int field = 0; pos < text.size() && field < 5; ++field) {
    const size_t end = text.find(u':', pos);
    const std::u16string f = text.substr(pos, end - pos);
    int64_t v;
    switch (field) {
      case 0: p.Width = ToInt(f, v) && v >= INT32_MIN && v <= INT32_MAX ? int32_t(v) : 512; break;
      case 1: p.Height = ToInt(f, v) && v >= INT32_MIN && v <= INT32_MAX ? int32_t(v) : 512; break;
      case 2: p.Kind = ToInt(f, v) && (v == 0 || v == 1) ? uint8_t(v) : 0; break;
      case 3: p.Softness = ToFloat(f); break;
      case 4: p.CornerRadius = ToFloat(f); break;
      default: break;
    }
    pos = end + 1;
  }
}

uint8_t ShapeValue(float D, float B, float C) {
  if (D < B - C) return 255;
  if (D > B) return 0;
  // No soft width: the edge itself is outside (as at s = 1 with any width).
  if (!(C > 0)) return 0;
  // An endless soft width (a huge softness in the key) gives no fraction: the
  // position counts as the inner edge.
  float s = (D - B + C) / C;
  if (!(s >= 0)) s = 0;
  if (s > 1) s = 1;
  const float e = s < 0.5f ? 2 * s * s : 1 - 2 * (1 - s) * (1 - s);
  return static_cast<uint8_t>(255 - static_cast<int32_t>(std::nearbyint(255.0f * e)));
}

TImage* GenerateMaskImage(TMaskGenerator* Generator, const TMaskParams& p) {
  IMG_ASSERT(p.Kind == 0 || p.Kind == 1, "");
  if (p.Width < 1 || p.Height < 1 || !BitmapSizeAllowed(p.Width, p.Height, 24)) return nullptr;
  const int32_t W = p.Width, H = p.Height;
  TSysBitmap* b = CreateSysBitmap(W, H, pfR8G8B8);
  const float cx = (W - 1) / 2.0f, cy = (H - 1) / 2.0f;
  const int32_t m = std::min(W / 2, H / 2);
  bool abort = false;
  auto step = [&] {
    if (Generator && Generator->Progress) Generator->Progress(Generator, abort);
    return !abort;
  };
  for (int32_t y = 0; y < H; ++y) std::memset(b->Row(y), 0, size_t(W) * 3);
  if (p.Kind == 1) {
    const float soft = float(m) * p.Softness / 100.0f;
    const float k = float(W) / float(H);
    for (int32_t y = 0; y < H; ++y) {
      uint8_t* row = b->Row(y);
      const float dy = (float(y) - cy) * k;
      for (int32_t x = 0; x < W; ++x) {
        const float dx = float(x) - cx;
        Put(row, x, ShapeValue(std::sqrt(dx * dx + dy * dy), cx, soft));
      }
      if (!step()) break;
    }
  } else {
    // A corner radius beyond half the smaller side would make the bands overlap.
    // Clamped before the conversion: radii from a key can be any single, infinite or not a number.
    const float radius = std::trunc(float(m) * p.CornerRadius / 100.0f);
    const int32_t u = !(radius > 0) ? 0 : radius >= float(m) ? m : static_cast<int32_t>(radius);
    const float t = float(u) * p.Softness / 100.0f + 1.0f;
    const float fu = float(u), right = float(W - u - 1), bottom = float(H - u - 1);
    auto cornerRow = [&](int32_t y, float py) {
      uint8_t* row = b->Row(y);
      for (int32_t x = 0; x < u; ++x) Put(row, x, ShapeValue(Dist(float(x), float(y), fu, py), fu, t));
      const uint8_t mid = ShapeValue(std::fabs(float(y) - cy), cy, t);
      for (int32_t x = u; x < W - u; ++x) Put(row, x, mid);
      for (int32_t x = std::max(W - u, u); x < W; ++x) Put(row, x, ShapeValue(Dist(float(x), float(y), right, py), fu, t));
    };
    for (int32_t y = 0; y < u; ++y) {
      cornerRow(y, fu);
      if (!step()) break;
    }
    for (int32_t y = std::max(H - u, u); y < H; ++y) {
      cornerRow(y, bottom);
      if (!step()) break;
    }
    for (int32_t y = u; y < H - u; ++y) {
      uint8_t* row = b->Row(y);
      for (int32_t x = 0; x < u; ++x) Put(row, x, ShapeValue(std::fabs(float(x) - cx), cx, t));
      for (int32_t x = u; x < W - u; ++x) Put(row, x, 255);
      for (int32_t x = std::max(W - u, u); x < W; ++x) Put(row, x, ShapeValue(std::fabs(float(x) - cx), cx, t));
      if (!step()) break;
    }
  }
  return WrapBitmapAsImage(b, true, BuildPresetMaskKey(p));
}

}  // namespace imaging
