#pragma once

// Test-side GIF writer: GIF87a/89a files with global and local palettes (or
// none), graphic-control extensions (disposal, delay, transparency), the
// NETSCAPE2.0 loop extension, interlaced images and an LZW encoder that
// writes literal codes only (with clear codes before the code size would
// grow). Raw image data can replace the encoder's output for corrupt cases.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

struct GifFrame {
  uint16_t left = 0, top = 0, width = 1, height = 1;
  Bytes indexes;                      // width x height, top row first
  std::vector<uint32_t> localPalette; // 0xRRGGBB; empty: none
  bool interlaced = false;
  bool graphicControl = false;
  uint8_t disposal = 0;
  uint16_t delay = 0;                 // hundredths of a second
  bool transparent = false;
  uint8_t transparentIndex = 0;
  int minCodeSize = 0;                // 0: from the palette size (at least 2)
  std::optional<Bytes> rawImageData;  // minimum code size byte, sub-blocks and terminator, as stored
  Bytes extensionsBefore;             // extra bytes written before this frame's extensions
};

struct GifSpec {
  std::string version = "89a";
  uint16_t width = 1, height = 1;
  std::vector<uint32_t> globalPalette;  // empty: none
  uint8_t background = 0;
  std::optional<uint16_t> loops;        // NETSCAPE2.0 loop count
  std::vector<GifFrame> frames;
  bool trailer = true;
};

// The palette size field for a table of n entries (2^(field + 1) >= n).
int GifTableBits(size_t n);
// LZW codes (value, width in bits) packed least significant bit first.
Bytes GifPackCodes(const std::vector<std::pair<uint32_t, int>>& codes);
// Data split into sub-blocks of at most 255 bytes, with the terminating zero.
Bytes GifSubBlocks(const Bytes& data);
// The image data of a frame: minimum code size, encoded sub-blocks, terminator.
Bytes GifImageData(const Bytes& indexes, int minCodeSize);

Bytes WriteGif(const GifSpec& spec);

}  // namespace testsupport
