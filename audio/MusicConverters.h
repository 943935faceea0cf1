// Converters turn one source into PCM blocks in the format of the playback
// buffer. TWavConverter owns the buffering, seeking and silence filling and
// plays uncompressed WAVE data itself (through the resampler for float,
// 24- and 32-bit data); subclasses put a decoder in front of it.
#pragma once

#include <cstdint>

#include "audio/MusicTypes.h"
#include "audio/PcmResampler.h"
#include "platform/acm/api.h"

namespace audio {

// A growable byte buffer of PCM.
class TLocalBuffer : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TLocalBuffer)
  void Dispose() override;

  void Grow(uint32_t n);
  void EnsureFree(uint32_t n);
  uint32_t FreeSpace() const { return Capacity - Used; }
  // Reads min(limit - position, FreeSpace) bytes through StreamWrapper;
  // true when at least one byte came.
  bool ReadFrom(foundation::TStream* stream, int64_t limit);
  // Moves other's bytes to the end; fails the assertion "Buffer overrun"
  // when they do not fit.
  bool AppendFrom(TLocalBuffer* other);
  void Append(const void* data, uint32_t n);
  void Consume(uint32_t n);
  uint8_t* DataPtr() const { return Data; }
  uint8_t* EndPtr() const { return Data + Used; }

  uint8_t* Data = nullptr;
  uint32_t Capacity = 0;
  uint32_t Used = 0;
  TWaveFormatEx Format{};
};

class TWavConverter : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TWavConverter)
  TWavConverter();
  void Dispose() override;

  virtual bool Seek(double ms);
  virtual bool Convert(TLocalBuffer* buffer);
  virtual bool ReadInput();
  virtual bool Open(const TMediaInfo& mediaInfo);
  // Fills OutputBuffer with at least count bytes (padding with silence at
  // the end); true while they hold real data. The caller copies count bytes
  // from the front and consumes them.
  bool Read(uint32_t count);

  void SetOutputFormat(const TWaveFormatEx& format);

  TMediaInfo MediaInfo{};
  TPcmResampler* Resampler = nullptr;
  TWaveFormatEx OutputFormat{};
  double DecodedMs = 0;
  foundation::TStream* Stream = nullptr;  // the playback instance's
  TLocalBuffer* InputBuffer = nullptr;
  TLocalBuffer* OutputBuffer = nullptr;
  int32_t ChunkSize = 4096;
};

// MS ADPCM through the acm area: decodes InputBuffer into PcmBuffer.
class TAdpcmConverter : public TWavConverter {
 public:
  QEL_CLASSNAME(TAdpcmConverter)
  TAdpcmConverter();
  void Dispose() override;
  bool Open(const TMediaInfo& mediaInfo) override;
  bool ReadInput() override;
  bool Convert(TLocalBuffer* buffer) override;
  bool Seek(double ms) override;

  TLocalBuffer* PcmBuffer = nullptr;

 private:
  bool DecodeAcm(bool last);
  bool FFinalPending = false;
};

}  // namespace audio
