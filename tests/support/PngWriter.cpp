#include "tests/support/PngWriter.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace testsupport {

int PngBitsPerPixel(uint8_t colorType, uint8_t depth) {
  switch (colorType) {
    case 2: return depth * 3;
    case 4: return depth * 2;
    case 6: return depth * 4;
    default: return depth;
  }
}

size_t PngRowBytes(uint32_t width, uint8_t colorType, uint8_t depth) {
  return (static_cast<size_t>(width) * PngBitsPerPixel(colorType, depth) + 7) / 8;
}

Bytes PngBigEndian32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
          static_cast<uint8_t>(v)};
}

Bytes PngIhdrData(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, uint8_t interlace,
                  uint8_t compression, uint8_t filter) {
  Bytes d = PngBigEndian32(width);
  Bytes h = PngBigEndian32(height);
  d.insert(d.end(), h.begin(), h.end());
  d.insert(d.end(), {depth, colorType, compression, filter, interlace});
  return d;
}

PngChunk PngIhdr(const PngImageSpec& s) {
  return {"IHDR", PngIhdrData(s.width, s.height, s.depth, s.colorType, s.interlace)};
}

Bytes ZlibCompress(const Bytes& data, int level) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK)
    throw std::runtime_error("compress2 failed");
  out.resize(size);
  return out;
}

namespace {

uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  if (pb <= pc) return static_cast<uint8_t>(b);
  return static_cast<uint8_t>(c);
}

// Appends the filtered rows (filter byte + row) of one picture or pass.
void FilterRows(Bytes& out, const std::vector<Bytes>& rows, int bpp, int filterMode) {
  Bytes prev;
  for (size_t r = 0; r < rows.size(); ++r) {
    const Bytes& row = rows[r];
    if (prev.size() != row.size()) prev.assign(row.size(), 0);
    const int f = filterMode == 5 ? static_cast<int>(r % 5) : filterMode;
    out.push_back(static_cast<uint8_t>(f));
    for (size_t i = 0; i < row.size(); ++i) {
      const int a = i >= static_cast<size_t>(bpp) ? row[i - bpp] : 0;
      const int b = prev[i];
      const int c = i >= static_cast<size_t>(bpp) ? prev[i - bpp] : 0;
      int pred = 0;
      switch (f) {
        case 1: pred = a; break;
        case 2: pred = b; break;
        case 3: pred = (a + b) / 2; break;
        case 4: pred = Paeth(a, b, c); break;
        default: break;
      }
      out.push_back(static_cast<uint8_t>(row[i] - pred));
    }
    prev = row;
  }
}

uint32_t GetSample(const Bytes& rows, size_t rowBytes, uint32_t y, uint32_t x, int bits) {
  const uint8_t* row = rows.data() + rowBytes * y;
  if (bits >= 8) return 0;  // whole bytes are copied by the caller
  const size_t bit = static_cast<size_t>(x) * bits;
  return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

}  // namespace

Bytes PngImageData(const PngImageSpec& s, const Bytes& rows) {
  const int bits = PngBitsPerPixel(s.colorType, s.depth);
  const int bpp = bits >= 8 ? bits / 8 : 1;
  const size_t rowBytes = PngRowBytes(s.width, s.colorType, s.depth);
  if (rows.size() < rowBytes * s.height) throw std::runtime_error("PngImageData: too few row bytes");
  Bytes raw;
  if (s.interlace == 0) {
    std::vector<Bytes> list;
    for (uint32_t y = 0; y < s.height; ++y)
      list.emplace_back(rows.begin() + rowBytes * y, rows.begin() + rowBytes * (y + 1));
    FilterRows(raw, list, bpp, s.filter);
  } else {
    static const int start[7][2] = {{0, 0}, {0, 4}, {4, 0}, {0, 2}, {2, 0}, {0, 1}, {1, 0}};  // row, column
    static const int step[7][2] = {{8, 8}, {8, 8}, {8, 4}, {4, 4}, {4, 2}, {2, 2}, {2, 1}};
    for (int p = 0; p < 7; ++p) {
      std::vector<Bytes> list;
      for (uint32_t y = start[p][0]; y < s.height; y += step[p][0]) {
        Bytes row;
        size_t bitPos = 0;
        for (uint32_t x = start[p][1]; x < s.width; x += step[p][1]) {
          if (bits >= 8) {
            const uint8_t* px = rows.data() + rowBytes * y + static_cast<size_t>(x) * (bits / 8);
            row.insert(row.end(), px, px + bits / 8);
          } else {
            if (bitPos % 8 == 0) row.push_back(0);
            row.back() |= static_cast<uint8_t>(GetSample(rows, rowBytes, y, x, bits) << (8 - bits - bitPos % 8));
            bitPos += bits;
          }
        }
        if (row.empty()) break;  // a pass with no columns has no rows
        list.push_back(std::move(row));
      }
      FilterRows(raw, list, bpp, s.filter);
    }
  }
  return ZlibCompress(raw, s.level);
}

std::vector<PngChunk> PngIdats(const Bytes& z, size_t maxChunk) {
  std::vector<PngChunk> out;
  for (size_t p = 0; p < z.size(); p += maxChunk)
    out.push_back({"IDAT", Bytes(z.begin() + p, z.begin() + std::min(z.size(), p + maxChunk))});
  if (out.empty()) out.push_back({"IDAT", {}});
  return out;
}

Bytes WritePng(const std::vector<PngChunk>& chunks) {
  Bytes out = {137, 80, 78, 71, 13, 10, 26, 10};
  for (const PngChunk& c : chunks) {
    Bytes len = PngBigEndian32(static_cast<uint32_t>(c.data.size()));
    out.insert(out.end(), len.begin(), len.end());
    Bytes typed(c.type.begin(), c.type.end());
    typed.insert(typed.end(), c.data.begin(), c.data.end());
    const uint32_t crc = static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size())));
    out.insert(out.end(), typed.begin(), typed.end());
    Bytes c4 = PngBigEndian32(crc);
    out.insert(out.end(), c4.begin(), c4.end());
  }
  return out;
}

Bytes MakePng(const PngImageSpec& spec, const Bytes& rows, const std::vector<PngChunk>& before) {
  std::vector<PngChunk> chunks = {PngIhdr(spec)};
  chunks.insert(chunks.end(), before.begin(), before.end());
  chunks.push_back({"IDAT", PngImageData(spec, rows)});
  chunks.push_back({"IEND", {}});
  return WritePng(chunks);
}

}  // namespace testsupport
