#pragma once

// Test-side BMP writer: a 14-byte file header and a 40-, 108- or 124-byte
// information header, colour tables, bit-field masks, packed rows of 1 to 32
// bits per pixel and hand-written run-length streams. Every field can be set
// to a hostile value, so refused headers are rows of the same tables.

#include <cstdint>
#include <optional>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

struct BmpSpec {
  int32_t width = 1;
  int32_t height = 1;         // negative: top row first
  uint16_t planes = 1;
  uint16_t bits = 24;
  uint32_t compression = 0;   // 0 RGB, 1 RLE8, 2 RLE4, 3 bit fields
  uint32_t headerSize = 40;   // 40, 108 or 124 (masks inside the header from 52 on)
  uint32_t clrUsed = 0;
  std::vector<uint32_t> palette;  // entries as stored: 0xXXRRGGBB
  std::vector<uint32_t> masks;    // red, green, blue[, alpha from a 56-byte header on] (bit-field files)
  Bytes pixels;                   // the pixel data as stored (rows or run-length codes)
  std::optional<uint32_t> fileSize;    // the file header's size field (default: the real size)
  std::optional<uint32_t> dataOffset;  // the pixel data offset (default: right after the tables)
};

// Rows of a file in stored order, each padded to 4 bytes. Values are
// palette indexes (1, 4, 8 bits, packed most significant first) or pixel
// values of 2, 3 or 4 little-endian bytes.
Bytes BmpPackRows(int32_t width, int32_t rows, int bits, const std::vector<uint32_t>& values);

// The information header, the masks and colour table, and spec.pixels: the
// DIB as an icon stores it (append the AND mask to spec.pixels).
Bytes WriteDib(const BmpSpec& spec);
// A whole ".bmp" file.
Bytes WriteBmp(const BmpSpec& spec);

}  // namespace testsupport
