// Audio fixture writers: RIFF/WAVE files of any layout (PCM, float, MS
// ADPCM, MPEG inside RIFF, extra chunks, damaged headers) and hand-built
// MPEG audio frame sequences (zero payload, ID3v2/ID3v1, Xing and VBRI).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace audio_test {

using Bytes = std::vector<uint8_t>;

void PutLe16(Bytes& b, uint32_t v);
void PutLe32(Bytes& b, uint32_t v);
void PutBe32(Bytes& b, uint32_t v);
void PutTag(Bytes& b, const char* four);

struct WavChunk {
  std::string id;
  Bytes payload;
};

// A WAVE file: "RIFF", size, "WAVE", then the chunks in order.
Bytes MakeRiff(const std::vector<WavChunk>& chunks);
// A "fmt " payload of 16 bytes (18 with cbSize, plus extra when given).
Bytes FmtPayload(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg, uint16_t align, uint16_t bits,
                 const Bytes* extra = nullptr);
// A plain PCM or float WAVE: "fmt " then "data" (optionally "LIST" before
// "fmt " and "fact" between "fmt " and "data").
Bytes MakeWav(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data,
              bool listBefore = false, bool factBetween = false);

// MPEG frame header bytes: version bits (0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1),
// layer bits (1 III, 2 II, 3 I), bit-rate index, sample-rate index.
struct MpegHeader {
  uint8_t version = 3;
  uint8_t layer = 1;
  uint8_t bitrateIndex = 9;  // 128 kbit/s for MPEG-1 layer III
  uint8_t rateIndex = 0;     // 44,100 Hz for MPEG-1
  bool padding = false;
  bool mono = false;
};
void PutMpegHeader(Bytes& b, const MpegHeader& h);
// Frame length in bytes by the standard formula.
uint32_t MpegFrameLength(const MpegHeader& h);
// count frames with zero payload.
Bytes MpegFrames(const MpegHeader& h, int count);
// A first frame carrying a Xing (or VBRI) header at the side-information offset.
Bytes MpegXingFrame(const MpegHeader& h, uint32_t frames, uint32_t bytes, bool vbri = false);
// An ID3v2 tag of total length 10 + size.
Bytes Id3v2(uint32_t size);
Bytes Id3v1();

// Reads a whole file.
Bytes ReadAll(const std::string& path);

}  // namespace audio_test
