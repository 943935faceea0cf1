#pragma once

// Test-side PNG writer: arbitrary chunk sequences (with correct CRCs unless a
// case breaks them), zlib-compressed image data filtered with any of the five
// row filters, and an Adam7 interlacer. Every PNG the tests use is made here.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

struct PngChunk {
  std::string type;  // 4 characters
  Bytes data;
};

struct PngImageSpec {
  uint32_t width = 1;
  uint32_t height = 1;
  uint8_t depth = 8;
  uint8_t colorType = 2;
  uint8_t interlace = 0;
  // Filter type of every row, 0..4; 5 cycles through all five row by row.
  int filter = 5;
  int level = 6;  // zlib compression level
};

// Bits of one pixel for a colour type and depth.
int PngBitsPerPixel(uint8_t colorType, uint8_t depth);
// Bytes of one packed row of Width pixels.
size_t PngRowBytes(uint32_t width, uint8_t colorType, uint8_t depth);

// The 13 bytes of an IHDR chunk.
Bytes PngIhdrData(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, uint8_t interlace = 0,
                  uint8_t compression = 0, uint8_t filter = 0);
PngChunk PngIhdr(const PngImageSpec& spec);

// The zlib stream of the image: Rows holds the picture's packed rows top
// first (PngRowBytes each, samples as the file stores them, big-endian at 16
// bits); they are filtered (and interlaced when the description asks for it) and
// compressed.
Bytes PngImageData(const PngImageSpec& spec, const Bytes& rows);
// The same data split into IDAT chunks of at most MaxChunk bytes.
std::vector<PngChunk> PngIdats(const Bytes& zlibData, size_t maxChunk = 1 << 30);

Bytes ZlibCompress(const Bytes& data, int level = 6);
Bytes PngBigEndian32(uint32_t value);

// Signature and chunks, each with its length, type, data and CRC.
Bytes WritePng(const std::vector<PngChunk>& chunks);
// A whole file: IHDR, Before (PLTE, tRNS, gAMA ...), the image data in one IDAT, IEND.
Bytes MakePng(const PngImageSpec& spec, const Bytes& rows, const std::vector<PngChunk>& before = {});

}  // namespace testsupport
