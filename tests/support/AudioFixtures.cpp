#include "tests/support/AudioFixtures.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace audio_test {

void PutLe16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void PutLe32(Bytes& b, uint32_t v) {
  PutLe16(b, v & 0xFFFF);
  PutLe16(b, v >> 16);
}
void PutBe32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}
void PutTag(Bytes& b, const char* four) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(four[i]));
}

Bytes MakeRiff(const std::vector<WavChunk>& chunks) {
  Bytes body;
  PutTag(body, "WAVE");
  for (const WavChunk& c : chunks) {
    body.insert(body.end(), c.id.begin(), c.id.end());
    PutLe32(body, uint32_t(c.payload.size()));
    body.insert(body.end(), c.payload.begin(), c.payload.end());
  }
  Bytes out;
  PutTag(out, "RIFF");
  PutLe32(out, uint32_t(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes FmtPayload(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg, uint16_t align, uint16_t bits,
                 const Bytes* extra) {
  Bytes p;
  PutLe16(p, tag);
  PutLe16(p, channels);
  PutLe32(p, rate);
  PutLe32(p, avg);
  PutLe16(p, align);
  PutLe16(p, bits);
  if (extra) {
    PutLe16(p, uint32_t(extra->size()));
    p.insert(p.end(), extra->begin(), extra->end());
  }
  return p;
}

Bytes MakeWav(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data, bool listBefore,
              bool factBetween) {
  uint16_t align = uint16_t(channels * ((bits + 7) / 8));
  std::vector<WavChunk> chunks;
  if (listBefore) chunks.push_back({"LIST", Bytes{'I', 'N', 'F', 'O', 'I', 'S', 'F', 'T', 4, 0, 0, 0, 'q', 'e', 'l', 0}});
  chunks.push_back({"fmt ", FmtPayload(tag, channels, rate, rate * align, align, bits)});
  if (factBetween) {
    Bytes fact;
    PutLe32(fact, uint32_t(data.size() / align));
    chunks.push_back({"fact", fact});
  }
  chunks.push_back({"data", data});
  return MakeRiff(chunks);
}

void PutMpegHeader(Bytes& b, const MpegHeader& h) {
  b.push_back(0xFF);
  b.push_back(uint8_t(0xE0 | (h.version << 3) | (h.layer << 1) | 1));  // no CRC
  b.push_back(uint8_t((h.bitrateIndex << 4) | (h.rateIndex << 2) | (h.padding ? 2 : 0)));
  b.push_back(uint8_t(h.mono ? 0xC0 : 0x00));
}

namespace {
constexpr uint32_t kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
constexpr uint32_t kV1[3][16] = {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
                                 {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
                                 {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}};
constexpr uint32_t kV2[3][16] = {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
                                 {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
                                 {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};
}  // namespace

uint32_t MpegFrameLength(const MpegHeader& h) {
  uint32_t rate = kRates[h.version][h.rateIndex];
  int layerRow = 3 - h.layer;  // 0 = layer I
  uint32_t kbps = h.version == 3 ? kV1[layerRow][h.bitrateIndex] : kV2[layerRow][h.bitrateIndex];
  if (h.layer == 3) return (12 * kbps * 1000 / rate + (h.padding ? 1 : 0)) * 4;
  uint32_t coef = (h.layer == 1 && h.version != 3) ? 72 : 144;
  return coef * kbps * 1000 / rate + (h.padding ? 1 : 0);
}

Bytes MpegFrames(const MpegHeader& h, int count) {
  Bytes out;
  uint32_t len = MpegFrameLength(h);
  for (int i = 0; i < count; ++i) {
    size_t start = out.size();
    PutMpegHeader(out, h);
    out.resize(start + len, 0);
  }
  return out;
}

Bytes MpegXingFrame(const MpegHeader& h, uint32_t frames, uint32_t bytes, bool vbri) {
  Bytes out;
  PutMpegHeader(out, h);
  out.resize(MpegFrameLength(h), 0);
  uint32_t at = h.version == 3 ? (h.mono ? 21 : 36) : (h.mono ? 13 : 21);
  Bytes tag;
  if (!vbri) {
    PutTag(tag, "Xing");
    PutBe32(tag, 3);
    PutBe32(tag, frames);
    PutBe32(tag, bytes);
  } else {
    PutTag(tag, "VBRI");
    tag.push_back(0);
    tag.push_back(1);  // version
    tag.push_back(0);
    tag.push_back(0);  // delay
    tag.push_back(0);
    tag.push_back(75);  // quality
    PutBe32(tag, bytes);
    PutBe32(tag, frames);
  }
  std::memcpy(out.data() + at, tag.data(), tag.size());
  return out;
}

Bytes Id3v2(uint32_t size) {
  Bytes out{'I', 'D', '3', 3, 0, 0};
  out.push_back(uint8_t((size >> 21) & 0x7F));
  out.push_back(uint8_t((size >> 14) & 0x7F));
  out.push_back(uint8_t((size >> 7) & 0x7F));
  out.push_back(uint8_t(size & 0x7F));
  out.resize(10 + size, 0);
  return out;
}

Bytes Id3v1() {
  Bytes out{'T', 'A', 'G'};
  out.resize(128, ' ');
  return out;
}

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace audio_test
