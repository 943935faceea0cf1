#include "audio/PcmResampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace audio {

namespace {

int16_t Le16s(const uint8_t* p) { return static_cast<int16_t>(uint16_t(p[0] | (p[1] << 8))); }

int32_t Limit16(double v) { return static_cast<int32_t>(std::clamp(v, -32768.0, 32767.0)); }

}  // namespace

bool TPcmResampler::CanRead(const TWaveFormatEx& f) {
  if (f.nChannels != 1 && f.nChannels != 2 && f.nChannels != 6) return false;
  if (f.wFormatTag == WAVE_FORMAT_PCM)
    return f.wBitsPerSample == 8 || f.wBitsPerSample == 16 || f.wBitsPerSample == 24 || f.wBitsPerSample == 32;
  if (f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return f.wBitsPerSample == 32;
  return false;
}

bool TPcmResampler::CanWrite(const TWaveFormatEx& f) {
  return f.wFormatTag == WAVE_FORMAT_PCM && (f.nChannels == 1 || f.nChannels == 2) &&
         (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec > 0;
}

void TPcmResampler::SyncStep() {
  // A new output rate (or a Position set from outside) restarts the exact
  // count from the double.
  if (FStepRate != OutRate || double(FPositionNum) / double(OutRate) != Position) {
    FPositionNum = std::llround(Position * double(OutRate));
    FStepRate = OutRate;
  }
}

void TPcmResampler::ReadFrame(const uint8_t* frame, double& l, double& r) const {
  uint32_t bytes = InBits / 8;
  auto sample = [&](uint32_t ch) -> double {
    const uint8_t* p = frame + ch * bytes;
    switch (InBits) {
      case 8:
        return (double(p[0]) - 128.0) * 256.0;
      case 16:
        return Le16s(p);
      case 24:
        return Le16s(p + 1);
      default:
        if (InTag == WAVE_FORMAT_IEEE_FLOAT) {
          float f;
          std::memcpy(&f, p, 4);
          // NaN is silence and anything beyond full scale is full scale, so
          // a damaged sample cannot reach an undefined conversion.
          if (std::isnan(f)) return 0.0;
          return std::nearbyint(std::clamp(double(f), -1.0, 1.0) * 32767.0);
        }
        return Le16s(p + 2);
    }
  };
  if (InChannels == 6) {
    double s[6];
    for (uint32_t c = 0; c < 6; ++c) s[c] = sample(c);
    l = s[0] + s[1] + s[3] + s[5];
    r = s[1] + s[2] + s[4] + s[5];
  } else {
    l = sample(0);
    r = InChannels == 2 ? sample(1) : l;
  }
}

uint32_t TPcmResampler::OutputSize(const TWaveFormatEx& inFormat, const TWaveFormatEx& outFormat, uint32_t inBytes) {
  InRate = inFormat.nSamplesPerSec;
  InChannels = inFormat.nChannels;
  InBits = inFormat.wBitsPerSample;
  InTag = inFormat.wFormatTag;
  OutRate = outFormat.nSamplesPerSec;
  OutChannels = outFormat.nChannels;
  OutBits = outFormat.wBitsPerSample;
  InBytes = inBytes;
  uint32_t frameBytes = FrameBytes();
  if (frameBytes == 0 || OutRate == 0 || FPending >= frameBytes) {
    OutBytes = 0;
    return 0;
  }
  uint64_t frames = (uint64_t(FPending) + inBytes) / frameBytes;
  SyncStep();
  int64_t position = FPositionNum;
  const int64_t out = OutRate;
  uint64_t outFrames = 0;
  for (uint64_t n = 1; n <= frames; ++n) {
    while (position < int64_t(n) * out) {
      ++outFrames;
      position += InRate;
    }
  }
  OutBytes = static_cast<uint32_t>(outFrames * OutChannels * (OutBits == 8 ? 1 : 2));
  return OutBytes;
}

void TPcmResampler::Convert(const uint8_t* input, uint8_t* output) {
  uint32_t frameBytes = FrameBytes();
  if (frameBytes == 0 || OutRate == 0 || FPending >= frameBytes) return;
  uint64_t total = uint64_t(FPending) + InBytes;
  uint64_t frames = total / frameBytes;
  SyncStep();
  const int64_t out64 = OutRate;
  uint8_t joined[32];
  uint8_t* out = output;
  for (uint64_t n = 1; n <= frames; ++n) {
    const uint8_t* frame;
    if (n == 1 && FPending > 0) {
      std::memcpy(joined, FPendingData, FPending);
      std::memcpy(joined + FPending, input, frameBytes - FPending);
      frame = joined;
    } else {
      frame = input + (n - 1) * frameBytes - FPending;
    }
    double l, r;
    ReadFrame(frame, l, r);
    const int64_t nEnd = int64_t(n) * out64;
    while (FPositionNum < nEnd) {
      double t = double(FPositionNum - nEnd + 2 * out64) / double(out64);
      auto interpolate = [t](double y2, double y1, double y0) {
        double v = std::nearbyint(y2 * t * (t - 1) + 2 * (2 - t) * y1 * t + (t - 2) * y0 * (t - 1));
        return Limit16(std::trunc(v / 2));
      };
      int32_t vl = interpolate(l, LastL, PrevL);
      int32_t vr = interpolate(r, LastR, PrevR);
      auto put = [&](int32_t v) {
        if (OutBits == 8) {
          *out++ = static_cast<uint8_t>((v / 256 + 128) & 0xFF);
        } else {
          uint16_t u = static_cast<uint16_t>(static_cast<int16_t>(v));
          *out++ = static_cast<uint8_t>(u & 0xFF);
          *out++ = static_cast<uint8_t>(u >> 8);
        }
      };
      if (OutChannels == 2) {
        put(vl);
        put(vr);
      } else {
        put((vl + vr) / 2);
      }
      FPositionNum += InRate;
    }
    PrevL = LastL;
    LastL = l;
    PrevR = LastR;
    LastR = r;
  }
  FPositionNum -= int64_t(frames) * out64;
  Position = double(FPositionNum) / double(out64);
  // Keep the bytes of a frame the block cut in two for the next block.
  uint64_t consumed = frames * frameBytes;
  uint32_t rest = static_cast<uint32_t>(total - consumed);
  if (rest > 0) {
    uint8_t tail[32];
    uint64_t start = consumed;  // in the joined (pending + input) numbering
    for (uint32_t i = 0; i < rest; ++i) {
      uint64_t at = start + i;
      tail[i] = at < FPending ? FPendingData[at] : input[at - FPending];
    }
    std::memcpy(FPendingData, tail, rest);
  }
  FPending = rest;
}

}  // namespace audio
