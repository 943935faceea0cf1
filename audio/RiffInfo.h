// The RIFF/WAVE chunk walk that fills the media-info record for PCM, MS
// ADPCM and IEEE-float data (or hands MPEG data stored in a WAVE file to the
// MPEG probe), and the stream that shows such embedded MPEG data to the
// decoder as a stream of its own starting at an offset.
#pragma once

#include <cstdint>

#include "audio/MusicTypes.h"

namespace audio {

class TRiffInfo {
 public:
  // The caller found "RIFF" at offset 0. Works through StreamWrapper.
  static bool Read(foundation::TStream* stream, TMediaInfo& info);
};

// Whether the WAV converter can deliver a WAVE format: 8- and 16-bit PCM
// pass through; float, 24- and 32-bit PCM go through the resampler, which
// reads 1, 2 or 6 channels; MS ADPCM is decoded to 16-bit PCM.
bool WavFormatPlayable(const TWaveFormatEx& format);

class TMp3ShiftStream : public foundation::TStream {
 public:
  QEL_CLASSNAME(TMp3ShiftStream)
  // Sets the inner stream's position to offset. The inner stream stays
  // owned by whoever opened it.
  TMp3ShiftStream(foundation::TStream* inner, int32_t offset);

  foundation::TStream* Inner() const { return FInner; }
  int32_t Offset() const { return FOffset; }

  int64_t GetPosition() override;
  void SetPosition(int64_t position) override;
  int64_t GetSize() override;
  void SetSize(int64_t size) override;
  int32_t Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) override;
  int32_t Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) override;

 private:
  foundation::TStream* FInner;
  int32_t FOffset;
};

}  // namespace audio
