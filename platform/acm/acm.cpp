#include "platform/acm/api.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>

namespace platform::acm {

namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagMsAdpcm = 2;
constexpr uint16_t kTagImaAdpcm = 0x11;

int16_t Le16s(const uint8_t* p) { return static_cast<int16_t>(uint16_t(p[0] | (p[1] << 8))); }
uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) { return uint32_t(Le16(p)) | (uint32_t(Le16(p + 2)) << 16); }

int16_t Clip16(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767)); }

constexpr int32_t kMsAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                       768, 614, 512, 409, 307, 230, 230, 230};

constexpr int16_t kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int8_t kImaIndex[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

struct Stream {
  WaveFormat source;
  uint32_t samplesPerBlock = 0;
  std::vector<int16_t> coefficients;  // MS ADPCM pairs
  std::vector<int16_t> scratch;       // one decoded block
};

std::mutex gTableLock;
std::map<AcmStream, Stream*>& Table() {
  static auto* table = new std::map<AcmStream, Stream*>();  // never destroyed: threads may run at exit
  return *table;
}
AcmStream gNextStream = 1;

Stream* Find(AcmStream id) {
  std::lock_guard guard(gTableLock);
  auto it = Table().find(id);
  return it == Table().end() ? nullptr : it->second;
}

// The most samples a block of this align can hold.
uint32_t MsMaxSamples(const WaveFormat& f) {
  uint32_t header = 7u * f.channels;
  if (f.blockAlign < header) return 0;
  return (f.blockAlign - header) * 2u / f.channels + 2u;
}
uint32_t ImaMaxSamples(const WaveFormat& f) {
  uint32_t header = 4u * f.channels;
  if (f.blockAlign < header) return 0;
  uint32_t groups = (f.blockAlign - header) / (4u * f.channels);
  return groups * 8u + 1u;
}

}  // namespace

bool parseWaveFormat(std::span<const uint8_t> bytes, WaveFormat& out) {
  if (bytes.size() < 18) return false;
  const uint8_t* p = bytes.data();
  out.tag = Le16(p);
  out.channels = Le16(p + 2);
  out.samplesPerSec = Le32(p + 4);
  out.avgBytesPerSec = Le32(p + 8);
  out.blockAlign = Le16(p + 12);
  out.bitsPerSample = Le16(p + 14);
  size_t extra = std::min<size_t>(Le16(p + 16), bytes.size() - 18);
  out.extra.assign(p + 18, p + 18 + extra);
  return true;
}

int32_t decodeMsAdpcmBlock(std::span<const uint8_t> block, uint32_t channels, uint32_t samplesPerBlock,
                           std::span<const int16_t> coefficients, int16_t* out) {
  if (channels == 0 || channels > 2 || samplesPerBlock < 2) return -1;
  uint32_t header = 7 * channels;
  if (block.size() < header) return 0;
  const uint8_t* b = block.data();
  size_t pairs = coefficients.size() / 2;
  int32_t coef1[2], coef2[2], delta[2];
  int64_t s1[2], s2[2];
  for (uint32_t c = 0; c < channels; ++c) {
    uint8_t predictor = b[c];
    if (predictor >= pairs) return -1;
    coef1[c] = coefficients[2 * predictor];
    coef2[c] = coefficients[2 * predictor + 1];
    delta[c] = Le16s(b + channels + 2 * c);
    s1[c] = Le16s(b + 3 * channels + 2 * c);
    s2[c] = Le16s(b + 5 * channels + 2 * c);
  }
  for (uint32_t c = 0; c < channels; ++c) {
    out[c] = static_cast<int16_t>(s2[c]);
    out[channels + c] = static_cast<int16_t>(s1[c]);
  }
  uint64_t nibbles = uint64_t(block.size() - header) * 2;
  uint32_t frames = static_cast<uint32_t>(std::min<uint64_t>(samplesPerBlock, 2 + nibbles / channels));
  uint64_t k = 0;
  for (uint32_t f = 2; f < frames; ++f) {
    for (uint32_t c = 0; c < channels; ++c, ++k) {
      uint8_t byte = b[header + k / 2];
      int32_t nibble = (k & 1) ? (byte & 0x0F) : (byte >> 4);
      int32_t signedNibble = nibble >= 8 ? nibble - 16 : nibble;
      int64_t predictor = (s1[c] * coef1[c] + s2[c] * coef2[c]) / 256;
      predictor += int64_t(signedNibble) * delta[c];
      int16_t sample = Clip16(predictor);
      s2[c] = s1[c];
      s1[c] = sample;
      out[f * channels + c] = sample;
      // A damaged stream may grow the step without bound; hold it where the
      // next multiplication cannot overflow.
      int64_t next = (int64_t(kMsAdaptation[nibble]) * delta[c]) >> 8;
      delta[c] = static_cast<int32_t>(std::clamp<int64_t>(next, 16, INT_MAX / 768));
    }
  }
  return static_cast<int32_t>(frames);
}

int32_t decodeImaAdpcmBlock(std::span<const uint8_t> block, uint32_t channels, uint32_t samplesPerBlock,
                            int16_t* out) {
  if (channels == 0 || channels > 2 || samplesPerBlock < 1) return -1;
  uint32_t header = 4 * channels;
  if (block.size() < header) return 0;
  const uint8_t* b = block.data();
  int32_t predictor[2], index[2];
  for (uint32_t c = 0; c < channels; ++c) {
    predictor[c] = Le16s(b + 4 * c);
    index[c] = b[4 * c + 2];
    if (index[c] > 88) return -1;
    out[c] = static_cast<int16_t>(predictor[c]);
  }
  uint32_t f = 1;
  for (; f < samplesPerBlock; ++f) {
    uint32_t group = (f - 1) / 8, j = (f - 1) % 8;
    size_t last = header + size_t(group * channels + channels - 1) * 4 + j / 2;
    if (last >= block.size()) break;
    for (uint32_t c = 0; c < channels; ++c) {
      uint8_t byte = b[header + size_t(group * channels + c) * 4 + j / 2];
      int32_t nibble = (j & 1) ? (byte >> 4) : (byte & 0x0F);
      int32_t step = kImaSteps[index[c]];
      int32_t diff = ((2 * (nibble & 7) + 1) * step) >> 3;
      predictor[c] = Clip16(nibble & 8 ? int64_t(predictor[c]) - diff : int64_t(predictor[c]) + diff);
      index[c] = std::clamp(index[c] + kImaIndex[nibble], 0, 88);
      out[f * channels + c] = static_cast<int16_t>(predictor[c]);
    }
  }
  return static_cast<int32_t>(f);
}

AcmStream openStream(const WaveFormat& source, const WaveFormat& destination) {
  if (source.tag != kTagMsAdpcm && source.tag != kTagImaAdpcm) return 0;
  if (source.channels < 1 || source.channels > 2 || source.samplesPerSec == 0 || source.blockAlign == 0) return 0;
  if (destination.tag != kTagPcm || destination.bitsPerSample != 16 || destination.channels != source.channels ||
      destination.samplesPerSec != source.samplesPerSec)
    return 0;
  auto* s = new Stream();
  s->source = source;
  const std::vector<uint8_t>& x = source.extra;
  if (source.tag == kTagMsAdpcm) {
    uint32_t most = MsMaxSamples(source);
    if (x.size() < 4) {
      delete s;
      return 0;
    }
    uint32_t spb = Le16(x.data());
    uint32_t count = Le16(x.data() + 2);
    if (spb < 2 || spb > most || count == 0 || x.size() < 4 + size_t(count) * 4) {
      delete s;
      return 0;
    }
    s->samplesPerBlock = spb;
    for (uint32_t i = 0; i < count * 2; ++i) s->coefficients.push_back(Le16s(x.data() + 4 + 2 * i));
  } else {
    uint32_t most = ImaMaxSamples(source);
    uint32_t spb = x.size() >= 2 ? Le16(x.data()) : most;
    if (spb < 1 || spb > most) {
      delete s;
      return 0;
    }
    s->samplesPerBlock = spb;
  }
  s->scratch.resize(size_t(s->samplesPerBlock) * source.channels);
  std::lock_guard guard(gTableLock);
  AcmStream id = gNextStream++;
  Table()[id] = s;
  return id;
}

bool streamSize(AcmStream stream, uint32_t sourceBytes, uint32_t& destinationBytes) {
  Stream* s = Find(stream);
  if (!s) return false;
  uint64_t blocks = sourceBytes / s->source.blockAlign;
  destinationBytes = static_cast<uint32_t>(
      std::min<uint64_t>(blocks * s->samplesPerBlock * s->source.channels * 2, UINT32_MAX));
  return true;
}

bool prepareHeader(AcmStream stream, StreamHeader& header) {
  if (!Find(stream)) return false;
  header.prepared = true;
  return true;
}

bool unprepareHeader(AcmStream stream, StreamHeader& header) {
  if (!Find(stream)) return false;
  header.prepared = false;
  return true;
}

int32_t convert(AcmStream stream, StreamHeader& header, uint32_t flags) {
  Stream* s = Find(stream);
  if (!s) return kErrorInvalidHandle;
  if (!header.prepared) return kErrorUnprepared;
  header.sourceUsed = 0;
  header.destinationUsed = 0;
  const uint32_t align = s->source.blockAlign;
  const uint32_t channels = s->source.channels;
  const uint32_t blockBytes = s->samplesPerBlock * channels * 2;
  while (header.sourceUsed < header.sourceLength) {
    uint32_t left = header.sourceLength - header.sourceUsed;
    if (left < align && !(flags & kConvertEnd)) break;
    if (header.destinationLength - header.destinationUsed < blockBytes) break;
    uint32_t take = std::min(left, align);
    std::span<const uint8_t> block(header.source + header.sourceUsed, take);
    int32_t frames = s->source.tag == kTagMsAdpcm
                         ? decodeMsAdpcmBlock(block, channels, s->samplesPerBlock, s->coefficients, s->scratch.data())
                         : decodeImaAdpcmBlock(block, channels, s->samplesPerBlock, s->scratch.data());
    if (frames < 0) return kErrorMalformed;
    uint8_t* out = header.destination + header.destinationUsed;
    for (size_t i = 0; i < size_t(frames) * channels; ++i) {
      uint16_t u = static_cast<uint16_t>(s->scratch[i]);
      out[2 * i] = static_cast<uint8_t>(u & 0xFF);
      out[2 * i + 1] = static_cast<uint8_t>(u >> 8);
    }
    header.destinationUsed += uint32_t(frames) * channels * 2;
    header.sourceUsed += take;
  }
  return kOk;
}

bool closeStream(AcmStream stream) {
  Stream* s = nullptr;
  {
    std::lock_guard guard(gTableLock);
    auto it = Table().find(stream);
    if (it == Table().end()) return false;
    s = it->second;
    Table().erase(it);
  }
  delete s;
  return true;
}

}  // namespace platform::acm
