#include "tests/support/BmpWriter.h"

namespace testsupport {

namespace {

void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

}  // namespace

Bytes BmpPackRows(int32_t width, int32_t rows, int bits, const std::vector<uint32_t>& values) {
  const size_t stride = (static_cast<size_t>(bits) * width + 31) / 32 * 4;
  Bytes out(stride * rows, 0);
  for (int32_t r = 0; r < rows; ++r) {
    uint8_t* row = out.data() + stride * r;
    for (int32_t x = 0; x < width; ++x) {
      const size_t i = static_cast<size_t>(r) * width + x;
      const uint32_t v = i < values.size() ? values[i] : 0;
      if (bits < 8) {
        const size_t bit = static_cast<size_t>(x) * bits;
        row[bit / 8] |= static_cast<uint8_t>(v << (8 - bits - bit % 8));
      } else {
        for (int k = 0; k < bits / 8; ++k) row[static_cast<size_t>(x) * (bits / 8) + k] = static_cast<uint8_t>(v >> (8 * k));
      }
    }
  }
  return out;
}

Bytes WriteDib(const BmpSpec& s) {
  Bytes b;
  Put32(b, s.headerSize);
  Put32(b, static_cast<uint32_t>(s.width));
  Put32(b, static_cast<uint32_t>(s.height));
  Put16(b, s.planes);
  Put16(b, s.bits);
  Put32(b, s.compression);
  Put32(b, static_cast<uint32_t>(s.pixels.size()));
  Put32(b, 2835);
  Put32(b, 2835);
  Put32(b, s.clrUsed);
  Put32(b, 0);
  const bool masksInHeader = s.headerSize >= 52;
  if (masksInHeader)
    for (size_t i = 0; i < (s.headerSize >= 56 ? 4u : 3u); ++i) Put32(b, i < s.masks.size() ? s.masks[i] : 0);
  while (b.size() < s.headerSize) b.push_back(0);
  if (!masksInHeader)
    for (uint32_t m : s.masks) Put32(b, m);
  for (uint32_t e : s.palette) Put32(b, e);
  b.insert(b.end(), s.pixels.begin(), s.pixels.end());
  return b;
}

Bytes WriteBmp(const BmpSpec& s) {
  const Bytes dib = WriteDib(s);
  const uint32_t tables = static_cast<uint32_t>(dib.size() - s.pixels.size());
  Bytes b;
  Put16(b, 0x4D42);
  Put32(b, s.fileSize.value_or(static_cast<uint32_t>(14 + dib.size())));
  Put32(b, 0);
  Put32(b, s.dataOffset.value_or(14 + tables));
  b.insert(b.end(), dib.begin(), dib.end());
  return b;
}

}  // namespace testsupport
