#include "audio/RiffInfo.h"

#include <cmath>
#include <cstring>

#include "audio/MpegInfo.h"
#include "audio/PcmResampler.h"
#include "foundation/kpExceptions.h"

namespace audio {

using foundation::TStream;

namespace {

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

// A damaged "fmt " chunk (zero channels, rate, block align or byte rate, or a
// byte rate that disagrees with the samples) would divide by zero in the
// playing time and leave a zero-size playback buffer: such a file is refused
// like any unrecognised one.
bool FormatConsistent(const TWaveFormatEx& f) {
  if (f.nChannels == 0 || f.nSamplesPerSec == 0 || f.nBlockAlign == 0 || f.nAvgBytesPerSec == 0) return false;
  if (f.wFormatTag == WAVE_FORMAT_ADPCM) return true;
  if (f.wBitsPerSample == 0) return false;
  uint32_t align = uint32_t(f.nChannels) * ((f.wBitsPerSample + 7u) / 8u);
  return f.nBlockAlign == align && uint64_t(f.nAvgBytesPerSec) == uint64_t(align) * f.nSamplesPerSec;
}

}  // namespace

bool WavFormatPlayable(const TWaveFormatEx& f) {
  switch (f.wFormatTag) {
    case WAVE_FORMAT_PCM:
      if (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) return true;
      if (f.wBitsPerSample == 24 || f.wBitsPerSample == 32) return TPcmResampler::CanRead(f);
      return false;
    case WAVE_FORMAT_IEEE_FLOAT:
      return TPcmResampler::CanRead(f);
    case WAVE_FORMAT_ADPCM:
      return f.wBitsPerSample == 4 && (f.nChannels == 1 || f.nChannels == 2);
    default:
      return false;
  }
}

bool TRiffInfo::Read(TStream* stream, TMediaInfo& info) {
  if (!stream) return false;
  int64_t size = StreamWrapper->GetSize(stream);
  uint8_t block[28];
  StreamWrapper->Seek(stream, 8, 0);
  if (StreamWrapper->Read(stream, block, 28) < 28) return false;
  if (std::memcmp(block, "WAVE", 4) != 0) return false;

  // Each 28-byte read starts 4 bytes before a chunk header, so a "fmt "
  // chunk's 16 format bytes come with it.
  while (std::memcmp(block + 4, "fmt ", 4) != 0) {
    uint32_t chunk = Le32(block + 8);
    int64_t next = StreamWrapper->GetPosition(stream) + int64_t(chunk) - 20;
    if (next >= size) return false;
    StreamWrapper->Seek(stream, next, 0);
    if (StreamWrapper->Read(stream, block, 28) < 28) return false;
  }
  int64_t fmtPayload = StreamWrapper->GetPosition(stream) - 16;
  uint32_t fmtSize = Le32(block + 8);
  const uint8_t* f = block + 12;
  TWaveFormatEx format{Le16(f), Le16(f + 2), Le32(f + 4), Le32(f + 8), Le16(f + 12), Le16(f + 14), 0};

  switch (format.wFormatTag) {
    case WAVE_FORMAT_PCM:
    case WAVE_FORMAT_IEEE_FLOAT:
      info.FormatCode = format.wFormatTag == WAVE_FORMAT_PCM ? mfcWavPcm : mfcWavFloat;
      info.Format = format;
      break;
    case WAVE_FORMAT_ADPCM: {
      info.FormatCode = mfcWavAdpcm;
      format.cbSize = 32;
      info.Format = format;
      StreamWrapper->Seek(stream, fmtPayload + 18, 0);
      if (StreamWrapper->Read(stream, info.Extra, 32) < 32) return false;
      break;
    }
    case WAVE_FORMAT_MPEGLAYER3: {
      bool ok = TMpegInfo::Read(stream, info, uint32_t(uint64_t(format.nAvgBytesPerSec) * 8u));
      info.Shifted = 1;
      return ok;
    }
    default:
      return false;
  }
  if (!FormatConsistent(format) || !WavFormatPlayable(format)) return false;

  int64_t pos = fmtPayload + fmtSize;
  for (;;) {
    uint8_t header[8];
    StreamWrapper->Seek(stream, pos, 0);
    if (StreamWrapper->Read(stream, header, 8) < 8) return false;
    uint32_t chunk = Le32(header + 4);
    pos += 8;
    if (std::memcmp(header, "data", 4) == 0) {
      // A data chunk that claims more than the file holds (a recording cut
      // short) plays what is there.
      int64_t present = size - pos;
      uint32_t dataSize = int64_t(chunk) > present ? uint32_t(present) : chunk;
      info.DataOffset = uint32_t(pos);
      info.DataSize = dataSize;
      info.Duration = int32_t(std::llround(double(dataSize) / format.nAvgBytesPerSec * 1000.0));
      return true;
    }
    pos += chunk;
  }
}

// --- the shifted stream ---------------------------------------------------------

TMp3ShiftStream::TMp3ShiftStream(TStream* inner, int32_t offset) : FInner(inner), FOffset(offset) {
  FInner->SetPosition(offset);
}

int64_t TMp3ShiftStream::GetPosition() { return FInner->GetPosition() - FOffset; }
void TMp3ShiftStream::SetPosition(int64_t position) { FInner->SetPosition(FOffset + position); }
int64_t TMp3ShiftStream::GetSize() { return FInner->GetSize() - FOffset; }
void TMp3ShiftStream::SetSize(int64_t) { foundation::QelAssertFail("TMp3ShiftStream.SetSize is not supported"); }
int32_t TMp3ShiftStream::Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) {
  return FInner->Read(buffer, offset, count);
}
int32_t TMp3ShiftStream::Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) {
  return FInner->Write(buffer, offset, count);
}

}  // namespace audio
