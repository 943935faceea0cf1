#include "audio/MusicConverters.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/RiffInfo.h"
#include "foundation/kpExceptions.h"

namespace audio {

using foundation::TStream;

// --- TLocalBuffer -------------------------------------------------------------

void TLocalBuffer::Dispose() {
  std::free(Data);
  Data = nullptr;
  Capacity = Used = 0;
  TRefObject::Dispose();
}

void TLocalBuffer::Grow(uint32_t n) {
  if (n == 0) return;
  auto* grown = static_cast<uint8_t*>(std::realloc(Data, size_t(Capacity) + n));
  if (!grown) throw std::bad_alloc();
  Data = grown;
  Capacity += n;
}

void TLocalBuffer::EnsureFree(uint32_t n) {
  if (FreeSpace() < n) Grow(n - FreeSpace());
}

bool TLocalBuffer::ReadFrom(TStream* stream, int64_t limit) {
  if (!stream) return false;
  int64_t pos = StreamWrapper->GetPosition(stream);
  if (pos >= limit) return false;
  int64_t want = std::min<int64_t>(limit - pos, FreeSpace());
  if (want <= 0) return false;
  int64_t got = StreamWrapper->Read(stream, EndPtr(), want);
  if (got <= 0) return false;
  Used += uint32_t(got);
  return true;
}

bool TLocalBuffer::AppendFrom(TLocalBuffer* other) {
  QEL_ASSERT(FreeSpace() >= other->Used, "Buffer overrun");
  uint32_t n = other->Used;
  if (n == 0) return false;
  std::memcpy(EndPtr(), other->Data, n);
  Used += n;
  other->Consume(n);
  return true;
}

void TLocalBuffer::Append(const void* data, uint32_t n) {
  EnsureFree(n);
  if (n) std::memcpy(EndPtr(), data, n);
  Used += n;
}

void TLocalBuffer::Consume(uint32_t n) {
  n = std::min(n, Used);
  if (n == 0) return;
  std::memmove(Data, Data + n, Used - n);
  Used -= n;
}

// --- TWavConverter ------------------------------------------------------------

TWavConverter::TWavConverter() {
  InputBuffer = new TLocalBuffer();
  OutputBuffer = new TLocalBuffer();
}

void TWavConverter::Dispose() {
  foundation::FreeAndNil(Resampler);
  foundation::FreeAndNil(InputBuffer);
  foundation::FreeAndNil(OutputBuffer);
  TRefObject::Dispose();
}

void TWavConverter::SetOutputFormat(const TWaveFormatEx& format) {
  if (!Resampler) Resampler = new TPcmResampler();
  OutputFormat = format;
  OutputBuffer->Format = format;
}

bool TWavConverter::Open(const TMediaInfo& mediaInfo) {
  const TWaveFormatEx& f = mediaInfo.Format;
  if (f.wBitsPerSample == 24) ChunkSize = 12288;
  InputBuffer->Format = f;
  OutputBuffer->Format = f;
  OutputFormat = f;
  InputBuffer->Grow(uint32_t(ChunkSize));
  OutputBuffer->Grow(uint32_t(ChunkSize));
  MediaInfo = mediaInfo;
  Seek(0);
  if (mediaInfo.FormatCode == mfcWavFloat || f.wBitsPerSample == 24 || f.wBitsPerSample == 32) {
    // Sources the resampler cannot read (64-bit float, float, 24- or 32-bit
    // data with 3-5 or 7 and more channels) are refused rather than played
    // as noise.
    if (!TPcmResampler::CanRead(f)) return false;
    SetOutputFormat(MusicOutputFormat);
  }
  return true;
}

bool TWavConverter::ReadInput() {
  return InputBuffer->ReadFrom(Stream, int64_t(MediaInfo.DataOffset) + MediaInfo.DataSize);
}

bool TWavConverter::Convert(TLocalBuffer* buffer) {
  uint32_t added;
  if (!Resampler || SameWaveFormat(buffer->Format, OutputFormat)) {
    added = buffer->Used;
    OutputBuffer->EnsureFree(added);
    OutputBuffer->AppendFrom(buffer);
  } else {
    uint32_t n = Resampler->OutputSize(buffer->Format, OutputFormat, buffer->Used);
    OutputBuffer->EnsureFree(n);
    Resampler->Convert(buffer->Data, OutputBuffer->EndPtr());
    OutputBuffer->Used += n;
    buffer->Used = 0;
    added = n;
  }
  if (OutputBuffer->Format.nAvgBytesPerSec)
    DecodedMs += double(added) * 1000.0 / OutputBuffer->Format.nAvgBytesPerSec;
  return true;
}

bool TWavConverter::Seek(double ms) {
  InputBuffer->Used = 0;
  OutputBuffer->Used = 0;
  const TWaveFormatEx& f = MediaInfo.Format;
  if (f.nAvgBytesPerSec != 0 && f.nBlockAlign != 0) {
    int64_t bytes = std::llround(double(f.nAvgBytesPerSec) * ms / 1000.0);
    int64_t pos = int64_t(MediaInfo.DataOffset) + int64_t(f.nBlockAlign) * (bytes / f.nBlockAlign);
    if (Stream) StreamWrapper->Seek(Stream, pos, 0);
    DecodedMs = ms;
  }
  // A new position starts a new piece: nothing of the old one may be joined to it.
  if (Resampler) {
    foundation::FreeAndNil(Resampler);
    Resampler = new TPcmResampler();
  }
  return true;
}

bool TWavConverter::Read(uint32_t count) {
  bool ok = count <= OutputBuffer->Used;
  while (OutputBuffer->Used < count) {
    if (ReadInput()) {
      ok = true;
      if (!Convert(InputBuffer)) {
        ok = false;
        uint32_t missing = count - OutputBuffer->Used;
        OutputBuffer->EnsureFree(missing);
        std::memset(OutputBuffer->EndPtr(), 0, missing);
        OutputBuffer->Used += missing;
        break;
      }
    } else {
      ok = OutputBuffer->Used != 0;
      uint32_t missing = count - OutputBuffer->Used;
      OutputBuffer->EnsureFree(missing);
      std::memset(OutputBuffer->EndPtr(), OutputFormat.wBitsPerSample == 8 ? 0x80 : 0, missing);
      OutputBuffer->Used += missing;
      break;
    }
  }
  return ok;
}

// --- TAdpcmConverter ------------------------------------------------------------

TAdpcmConverter::TAdpcmConverter() {
  ChunkSize = 2048;
  PcmBuffer = new TLocalBuffer();
}

void TAdpcmConverter::Dispose() {
  foundation::FreeAndNil(PcmBuffer);
  TWavConverter::Dispose();
}

bool TAdpcmConverter::Open(const TMediaInfo& mediaInfo) {
  // The input chunk holds whole blocks, at least one: a 2048-byte chunk
  // never holds a 4096-byte block, which would play as silence.
  uint32_t align = mediaInfo.Format.nBlockAlign;
  if (align == 0) return false;
  uint32_t chunk = std::max<uint32_t>(2048, align);
  ChunkSize = int32_t((chunk + align - 1) / align * align);
  if (!TWavConverter::Open(mediaInfo)) return false;
  const TWaveFormatEx& f = mediaInfo.Format;
  uint16_t align16 = uint16_t(f.nChannels * 2);
  PcmBuffer->Format = TWaveFormatEx{WAVE_FORMAT_PCM, f.nChannels, f.nSamplesPerSec, f.nSamplesPerSec * align16,
                                    align16, 16, 0};
  // The output is the decoded PCM, so the inherited move passes it through.
  OutputFormat = PcmBuffer->Format;
  OutputBuffer->Format = PcmBuffer->Format;
  PcmBuffer->Grow(uint32_t(ChunkSize));
  return true;
}

bool TAdpcmConverter::Seek(double ms) {
  FFinalPending = false;
  if (PcmBuffer) PcmBuffer->Used = 0;
  return TWavConverter::Seek(ms);
}

bool TAdpcmConverter::ReadInput() {
  if (TWavConverter::ReadInput()) return true;
  // The data ends inside a block: decode that block as far as it goes.
  if (InputBuffer->Used > 0 && !FFinalPending) {
    FFinalPending = true;
    return true;
  }
  return false;
}

bool TAdpcmConverter::Convert(TLocalBuffer* buffer) {
  if (!DecodeAcm(FFinalPending)) return false;
  if (PcmBuffer->Used == 0) return true;  // only part of a block so far
  return TWavConverter::Convert(PcmBuffer);
}

bool TAdpcmConverter::DecodeAcm(bool last) {
  namespace acm = platform::acm;
  uint8_t formatBytes[18 + 32];
  std::memcpy(formatBytes, &MediaInfo.Format, 18);
  std::memcpy(formatBytes + 18, MediaInfo.Extra, 32);
  acm::WaveFormat source, destination;
  acm::parseWaveFormat(formatBytes, source);
  acm::parseWaveFormat({reinterpret_cast<const uint8_t*>(&PcmBuffer->Format), 18}, destination);
  acm::AcmStream handle = acm::openStream(source, destination);
  if (!handle) return false;
  uint32_t size = 0;
  uint32_t align = MediaInfo.Format.nBlockAlign;
  // Room for the whole blocks and, at the end, one more partial block.
  uint32_t sourceBytes = InputBuffer->Used + (last ? align - 1 : 0);
  if (!acm::streamSize(handle, sourceBytes, size)) {
    acm::closeStream(handle);
    return false;
  }
  if (size == 0) {
    acm::closeStream(handle);
    return !last || InputBuffer->Used == 0;
  }
  PcmBuffer->EnsureFree(size);
  acm::StreamHeader header;
  header.source = InputBuffer->Data;
  header.sourceLength = InputBuffer->Used;
  header.destination = PcmBuffer->EndPtr();
  header.destinationLength = PcmBuffer->FreeSpace();
  acm::prepareHeader(handle, header);
  int32_t result = acm::convert(handle, header, acm::kConvertBlockAlign | (last ? acm::kConvertEnd : 0));
  acm::unprepareHeader(handle, header);
  acm::closeStream(handle);
  if (result != acm::kOk) return false;
  // Advance by what was produced; keep input of an unfinished block.
  PcmBuffer->Used += header.destinationUsed;
  InputBuffer->Consume(header.sourceUsed);
  if (last) InputBuffer->Used = 0;
  return true;
}

}  // namespace audio
