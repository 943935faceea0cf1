// Compressed-audio streams of the acm area: one stream converts ADPCM blocks
// to 16-bit PCM with the same channels and rate. MS ADPCM (tag 2) and IMA
// ADPCM (tag 0x11) are decoded by our own decoders; nothing else opens.
// Formats are WAVEFORMATEX bytes (18 bytes, then cbSize extra bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace platform::acm {

// 0 is no stream.
using AcmStream = uintptr_t;

// The parsed form of a WAVEFORMATEX with its extra bytes.
struct WaveFormat {
  uint16_t tag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  std::vector<uint8_t> extra;  // cbSize bytes
};
// Reads 18 bytes and then cbSize extra bytes (as many as the span holds).
bool parseWaveFormat(std::span<const uint8_t> bytes, WaveFormat& out);

// Answers a stream when the source is MS or IMA ADPCM that the decoders can
// read and the destination is 16-bit PCM with the same channels and rate;
// otherwise 0.
AcmStream openStream(const WaveFormat& source, const WaveFormat& destination);
// Destination bytes for sourceBytes: whole blocks x samples per block x
// channels x 2. False for an unknown stream.
bool streamSize(AcmStream stream, uint32_t sourceBytes, uint32_t& destinationBytes);

struct StreamHeader {
  const uint8_t* source = nullptr;
  uint32_t sourceLength = 0;
  uint32_t sourceUsed = 0;  // set by convert: source bytes consumed
  uint8_t* destination = nullptr;
  uint32_t destinationLength = 0;
  uint32_t destinationUsed = 0;  // set by convert: PCM bytes written
  bool prepared = false;
};
bool prepareHeader(AcmStream stream, StreamHeader& header);
bool unprepareHeader(AcmStream stream, StreamHeader& header);

// Convert flags.
constexpr uint32_t kConvertBlockAlign = 0x4;
// The source ends with this call: a final partial block is decoded as far
// as its samples go.
constexpr uint32_t kConvertEnd = 0x20;

// Result codes of convert.
constexpr int32_t kOk = 0;
constexpr int32_t kErrorInvalidHandle = 5;
constexpr int32_t kErrorUnprepared = 513;
constexpr int32_t kErrorMalformed = 11;  // a block header the decoder cannot read

// Decodes every whole block of the source (and with kConvertEnd a trailing
// partial one) into the destination, as far as it has room for whole
// blocks; reports both counts in the header.
int32_t convert(AcmStream stream, StreamHeader& header, uint32_t flags);
bool closeStream(AcmStream stream);

// The block decoders on their own. Each answers the number of sample frames
// written to out (which holds samplesPerBlock x channels values), or -1 for a
// malformed block header. A block shorter than the block align (the end of
// the data) is decoded as far as its samples go.
// MS ADPCM: coefficients are the (coef1, coef2) pairs of the format.
int32_t decodeMsAdpcmBlock(std::span<const uint8_t> block, uint32_t channels, uint32_t samplesPerBlock,
                           std::span<const int16_t> coefficients, int16_t* out);
int32_t decodeImaAdpcmBlock(std::span<const uint8_t> block, uint32_t channels, uint32_t samplesPerBlock,
                            int16_t* out);

}  // namespace platform::acm
