#include "tests/support/GifWriter.h"

#include <algorithm>

namespace testsupport {

namespace {

void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

void PutPalette(Bytes& b, const std::vector<uint32_t>& p) {
  const size_t n = size_t(2) << GifTableBits(p.size());
  for (size_t i = 0; i < n; ++i) {
    const uint32_t c = i < p.size() ? p[i] : 0;
    b.push_back(static_cast<uint8_t>(c >> 16));
    b.push_back(static_cast<uint8_t>(c >> 8));
    b.push_back(static_cast<uint8_t>(c));
  }
}

}  // namespace

int GifTableBits(size_t n) {
  int bits = 0;
  while ((size_t(2) << bits) < n && bits < 7) ++bits;
  return bits;
}

Bytes GifPackCodes(const std::vector<std::pair<uint32_t, int>>& codes) {
  Bytes out;
  uint64_t acc = 0;
  int n = 0;
  for (auto [value, width] : codes) {
    acc |= uint64_t(value) << n;
    n += width;
    while (n >= 8) {
      out.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      n -= 8;
    }
  }
  if (n > 0) out.push_back(static_cast<uint8_t>(acc));
  return out;
}

Bytes GifSubBlocks(const Bytes& data) {
  Bytes out;
  for (size_t p = 0; p < data.size(); p += 255) {
    const size_t n = std::min<size_t>(255, data.size() - p);
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), data.begin() + p, data.begin() + p + n);
  }
  out.push_back(0);
  return out;
}

Bytes GifImageData(const Bytes& indexes, int m) {
  const uint32_t clear = 1u << m;
  const int width = m + 1;
  // Literals only; a clear code comes before the decoder's table would make
  // the codes one bit wider.
  const size_t perBlock = clear - 2;
  std::vector<std::pair<uint32_t, int>> codes;
  for (size_t i = 0; i < indexes.size(); ++i) {
    if (i % perBlock == 0) codes.push_back({clear, width});
    codes.push_back({indexes[i], width});
  }
  codes.push_back({clear + 1, width});
  Bytes out = {static_cast<uint8_t>(m)};
  Bytes blocks = GifSubBlocks(GifPackCodes(codes));
  out.insert(out.end(), blocks.begin(), blocks.end());
  return out;
}

Bytes WriteGif(const GifSpec& s) {
  // Built by appending: gcc 12 misreads an insert after a braced
  // initialiser as an out-of-bounds copy at -O2.
  Bytes b;
  b.reserve(64);
  for (char c : std::string("GIF") + s.version) b.push_back(static_cast<uint8_t>(c));
  Put16(b, s.width);
  Put16(b, s.height);
  uint8_t flags = 0;
  if (!s.globalPalette.empty()) flags = static_cast<uint8_t>(0x80 | 0x70 | GifTableBits(s.globalPalette.size()));
  b.push_back(flags);
  b.push_back(s.background);
  b.push_back(0);
  if (!s.globalPalette.empty()) PutPalette(b, s.globalPalette);
  if (s.loops) {
    const char id[] = "NETSCAPE2.0";
    b.insert(b.end(), {0x21, 0xFF, 11});
    b.insert(b.end(), id, id + 11);
    b.insert(b.end(), {3, 1});
    Put16(b, *s.loops);
    b.push_back(0);
  }
  for (const GifFrame& f : s.frames) {
    b.insert(b.end(), f.extensionsBefore.begin(), f.extensionsBefore.end());
    if (f.graphicControl) {
      b.insert(b.end(), {0x21, 0xF9, 4});
      b.push_back(static_cast<uint8_t>((f.disposal << 2) | (f.transparent ? 1 : 0)));
      Put16(b, f.delay);
      b.push_back(f.transparentIndex);
      b.push_back(0);
    }
    b.push_back(',');
    Put16(b, f.left);
    Put16(b, f.top);
    Put16(b, f.width);
    Put16(b, f.height);
    uint8_t df = 0;
    if (!f.localPalette.empty()) df = static_cast<uint8_t>(0x80 | GifTableBits(f.localPalette.size()));
    if (f.interlaced) df |= 0x40;
    b.push_back(df);
    if (!f.localPalette.empty()) PutPalette(b, f.localPalette);
    if (f.rawImageData) {
      b.insert(b.end(), f.rawImageData->begin(), f.rawImageData->end());
      continue;
    }
    Bytes stored = f.indexes;
    if (f.interlaced) {
      stored.clear();
      static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int p = 0; p < 4; ++p)
        for (int y = start[p]; y < f.height; y += step[p])
          stored.insert(stored.end(), f.indexes.begin() + size_t(y) * f.width,
                        f.indexes.begin() + size_t(y + 1) * f.width);
    }
    int m = f.minCodeSize;
    if (m == 0) {
      size_t colours = f.localPalette.empty() ? s.globalPalette.size() : f.localPalette.size();
      m = std::max(2, GifTableBits(colours) + 1);
    }
    Bytes data = GifImageData(stored, m);
    b.insert(b.end(), data.begin(), data.end());
  }
  if (s.trailer) b.push_back(';');
  return b;
}

}  // namespace testsupport
