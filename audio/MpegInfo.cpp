#include "audio/MpegInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace audio {

using foundation::TStream;

namespace {

// kbit/s by [MPEG-1 ? 0 : 1][layer I, II, III][index].
constexpr uint16_t kBitRates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};

constexpr uint32_t kSampleRates[4][3] = {
    {11025, 12000, 8000},  // MPEG-2.5
    {0, 0, 0},             // reserved
    {22050, 24000, 16000}, // MPEG-2
    {44100, 48000, 32000}, // MPEG-1
};

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

int64_t ReadAt(TStream* stream, int64_t pos, void* buffer, int64_t count) {
  StreamWrapper->Seek(stream, pos, 0);
  return StreamWrapper->Read(stream, buffer, count);
}

}  // namespace

bool TMpegFrameHeader::Parse(const uint8_t* b) {
  Version = (b[1] >> 3) & 3;
  Layer = (b[1] >> 1) & 3;
  Protected = (b[1] & 1) == 0;
  BitRateIndex = b[2] >> 4;
  SampleRateIndex = (b[2] >> 2) & 3;
  Padding = (b[2] & 2) != 0;
  Private = (b[2] & 1) != 0;
  ChannelMode = b[3] >> 6;
  ModeExtension = (b[3] >> 4) & 3;
  Copyright = (b[3] & 8) != 0;
  Original = (b[3] & 4) != 0;
  Emphasis = b[3] & 3;
  return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0 && Version != 1 && Layer != 0 && BitRateIndex != 0 &&
         BitRateIndex != 15 && SampleRateIndex != 3 && Emphasis != 2;
}

uint32_t TMpegFrameHeader::BitRateKbps() const {
  if (Layer == 0 || Version == 1) return 0;
  return kBitRates[Version == 3 ? 0 : 1][3 - Layer][BitRateIndex];
}

uint32_t TMpegFrameHeader::SampleRate() const {
  if (SampleRateIndex == 3) return 0;
  return kSampleRates[Version][SampleRateIndex];
}

uint32_t TMpegFrameHeader::SamplesPerFrameDiv8() const {
  if (Layer == 3) return 48;
  if (Layer == 2) return 144;
  return Version == 3 ? 144 : 72;
}

double TMpegFrameHeader::FrameLength() const {
  uint32_t rate = SampleRate();
  if (rate == 0) return 0;
  // Layer I frames are counted in 4-byte slots: at 44,100 Hz the length in
  // bytes is not floor(48 x bit rate / rate) but four times the slot count.
  if (Layer == 3) return (std::floor(double(BitRateKbps()) * 12 * 1000.0 / rate) + (Padding ? 1 : 0)) * 4;
  double len = std::floor(double(BitRateKbps()) * SamplesPerFrameDiv8() * 1000.0 / rate);
  if (Padding) len += 1;
  return len;
}

uint32_t TMpegFrameHeader::SideInfoOffset() const {
  bool mono = ChannelMode == 3;
  if (Version == 3) return mono ? 21 : 36;
  return mono ? 13 : 21;
}

bool TMpegInfo::Read(TStream* stream, TMediaInfo& info, uint32_t bitRateHint) {
  if (!stream) return false;
  int64_t size = StreamWrapper->GetSize(stream);

  // 1. ID3v2 in front.
  uint8_t id3[10];
  uint32_t offset = 0;
  if (ReadAt(stream, 0, id3, 10) == 10 && std::memcmp(id3, "ID3", 3) == 0 && id3[3] != 0xFF && id3[4] != 0xFF) {
    uint32_t syncsafe = 0;
    if (((id3[6] | id3[7] | id3[8] | id3[9]) & 0x80) == 0)
      syncsafe = (uint32_t(id3[6]) << 21) | (uint32_t(id3[7]) << 14) | (uint32_t(id3[8]) << 7) | id3[9];
    offset = 10 + syncsafe;
  }

  // 2. The first header followed by a second one exactly one frame later.
  TMpegFrameHeader first;
  double frameLen = 0;
  int64_t pos = offset;
  // The search reads the stream in windows rather than 4 bytes per position:
  // a file of junk before its first frame costs one read per window.
  std::vector<uint8_t> window;
  int64_t windowAt = -1;
  auto at4 = [&](int64_t p, uint8_t* out) {
    if (windowAt < 0 || p < windowAt || p + 4 > windowAt + int64_t(window.size())) {
      window.resize(65536);
      int64_t got = ReadAt(stream, p, window.data(), int64_t(window.size()));
      window.resize(size_t(std::max<int64_t>(got, 0)));
      windowAt = p;
      if (got < 4) return false;
    }
    std::memcpy(out, window.data() + (p - windowAt), 4);
    return true;
  };
  for (;; ++pos) {
    uint8_t b[4];
    if (!at4(pos, b)) return false;
    if (!first.Parse(b)) continue;
    frameLen = first.FrameLength();
    uint8_t c[4];
    int64_t nextAt = pos + int64_t(std::llround(frameLen));
    bool inWindow = nextAt >= windowAt && nextAt + 4 <= windowAt + int64_t(window.size());
    if (inWindow)
      std::memcpy(c, window.data() + (nextAt - windowAt), 4);
    else if (ReadAt(stream, nextAt, c, 4) < 4)
      return false;
    TMpegFrameHeader next;
    if (next.Parse(c)) break;
  }
  uint32_t dataOffset = static_cast<uint32_t>(pos);
  uint32_t dataSize = static_cast<uint32_t>(size - pos);

  // 3. Xing or VBRI at the side-information offset.
  TMpegVbrHeader vbr;
  std::vector<uint8_t> frame(1729);
  int64_t got = ReadAt(stream, pos, frame.data(), int64_t(frame.size()));
  uint32_t at = first.SideInfoOffset();
  auto has = [&](uint32_t from, uint32_t n) { return int64_t(from) + n <= got; };
  auto be32 = [&](uint32_t from) { return has(from, 4) ? BigEndian32(&frame[from]) : 0u; };
  if (has(at, 4) && std::memcmp(&frame[at], "Xing", 4) == 0) {
    vbr.Present = true;
    std::memcpy(vbr.Tag, "Xing", 4);
    vbr.Frames = be32(at + 8);
    vbr.Bytes = be32(at + 12);
    if (has(at + 119, 1)) vbr.Quality = frame[at + 119];
    if (has(at + 120, 8)) std::memcpy(vbr.Encoder, &frame[at + 120], 8);
  } else if (has(at, 4) && std::memcmp(&frame[at], "VBRI", 4) == 0) {
    vbr.Present = true;
    std::memcpy(vbr.Tag, "VBRI", 4);
    if (has(at + 9, 1)) vbr.Quality = frame[at + 9];
    vbr.Bytes = be32(at + 10);
    vbr.Frames = be32(at + 14);
  }

  // 4. ID3v1 at the end. A "TAG" that lies before the first frame (a tiny
  // file) is not the audio's trailer; subtracting it would wrap the size.
  uint8_t tag[4];
  if (size >= 128 && size - 128 >= pos && ReadAt(stream, size - 128, tag, 4) == 4 &&
      std::memcmp(tag, "TAG", 3) == 0)
    dataSize -= 128;

  // 5. Duration. A hint below 1 kbit/s (a damaged WAVE header) counts as none.
  uint32_t rate = first.SampleRate();
  int32_t duration;
  uint32_t total;
  if (vbr.Present && vbr.Frames > 0) {
    duration = static_cast<int32_t>(std::llround(double(vbr.Frames) * first.SamplesPerFrameDiv8() * 8 / rate * 1000));
    total = static_cast<uint32_t>(duration);
  } else {
    uint32_t r = first.BitRateKbps();
    if (bitRateHint / 1000 > 0) r = bitRateHint / 1000;
    duration = static_cast<int32_t>(uint32_t(dataSize * 8u) / r);
    total = uint32_t(uint32_t(size) * 8u) / r;
  }

  // 6. The record.
  info.FormatCode = mfcMpeg;
  uint16_t channels = static_cast<uint16_t>(first.Channels());
  info.Format = TWaveFormatEx{WAVE_FORMAT_PCM, channels, rate, 2u * channels * rate, uint16_t(2 * channels), 16, 0};
  info.DataOffset = dataOffset;
  info.DataSize = dataSize;
  info.Duration = duration;
  info.TotalDuration = total;
  SetMpegVbrFlag(info, vbr.Present ? -1 : 0);
  info.MaxFrameSize = static_cast<uint32_t>(std::llround(frameLen));

  // 7. Milliseconds per frame.
  if (vbr.Present) {
    info.FrameDuration = vbr.Frames == 0 ? 26.0 : double(info.Duration) / vbr.Frames;
  } else if (info.DataSize == 0) {
    info.FrameDuration = 26.0;
  } else {
    int64_t walk = info.DataOffset;
    int valid = 0;
    while (valid < 3) {
      uint8_t b[4];
      if (ReadAt(stream, walk, b, 4) < 4) break;
      TMpegFrameHeader h;
      if (h.Parse(b)) {
        uint32_t len = static_cast<uint32_t>(std::llround(h.FrameLength()));
        if (len > info.MaxFrameSize) info.MaxFrameSize = len;
        walk += len > 0 ? len : 1;
        ++valid;
      } else {
        ++walk;
      }
    }
    info.FrameDuration = double(info.MaxFrameSize) * info.Duration / info.DataSize;
  }
  return true;
}

}  // namespace audio
