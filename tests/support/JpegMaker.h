#pragma once

// Test-side JPEG writer: images compressed at test time with libjpeg's
// compressor (baseline, progressive, greyscale, CMYK, restart markers), a
// segment splicer that puts marker segments (APP2 ICC profiles and others)
// where a case needs them, and a reference decoder that calls the library
// directly, so decoded pixels can be compared with what the library itself
// produces. Every JPEG the tests use is made here; none is committed.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

struct JpegSpec {
  int width = 64;
  int height = 48;
  int components = 3;         // 1 greyscale, 3 RGB (stored as YCbCr), 4 CMYK (Adobe, inverted),
                              // 2 or 5..10 components of no known colour space
  int quality = 90;
  bool progressive = false;
  int restartInterval = 0;    // MCUs between restart markers; 0 none
  bool subsample = true;      // 2x2 chroma subsampling for colour images
};

// A deterministic pattern of width x height pixels with spec.components bytes
// each (R, G, B for colour; C, M, Y, K for CMYK), gradients plus a few edges.
Bytes PatternPixels(int width, int height, int components, uint32_t seed = 1);

// A photo-like R, G, B scene with sensor-like noise: compressed at quality
// 90 it is about as large as a camera's file of the same size.
Bytes NoisyScenePixels(int width, int height, uint32_t seed = 1);

// Compresses pixels (row-major, spec.components bytes per pixel).
Bytes MakeJpeg(const JpegSpec& spec, const Bytes& pixels);
// MakeJpeg over PatternPixels as wide and high as the JpegSpec record says.
Bytes MakeJpeg(const JpegSpec& spec);

// Inserts a marker segment (0xFF, marker, big-endian length = payload + 2,
// payload) into jpeg. Where: before the first marker after SOI (AfterSoi), or
// immediately before / after the first start-of-scan segment (BeforeSos /
// AfterSosHeader, the latter inside the entropy-coded data's start).
enum class SplicePlace { AfterSoi, BeforeSos, AfterSosHeader };
Bytes SpliceSegment(const Bytes& jpeg, uint8_t marker, const Bytes& payload, SplicePlace where = SplicePlace::AfterSoi);
// Inserts the raw bytes at an offset (for segments with lying length fields).
Bytes InsertBytes(const Bytes& jpeg, size_t offset, const Bytes& bytes);
// The APP2 payload of one ICC chunk: "ICC_PROFILE\0", sequence, count, profile bytes.
Bytes IccApp2Payload(const Bytes& profile, uint8_t sequence = 1, uint8_t count = 1);
// Rewrites width and height in the first SOFn segment.
Bytes SetJpegFrameSize(const Bytes& jpeg, int width, int height);
// Offset of the first byte after the first SOS segment's header (the scan data).
size_t ScanDataOffset(const Bytes& jpeg);

struct DecodedJpeg {
  int width = 0;
  int height = 0;
  int components = 0;
  Bytes pixels;  // row-major, components bytes per pixel in the library's output order
};
// Decodes with the library directly at 1/2^scaleLog2, fast integer DCT.
// colorSpace: "rgb" (3 bytes R,G,B), "gray" (1 byte, no quantization),
// "gray236" (1 byte index, one-pass quantization to 236 colours with ordered
// dither; pixels become the colour map's values), "cmyk". Throws
// std::runtime_error on a library error.
DecodedJpeg DecodeJpegReference(const Bytes& jpeg, int scaleLog2 = 0, const std::string& colorSpace = "rgb");

}  // namespace testsupport
