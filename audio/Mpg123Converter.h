// The MPEG audio converter: libmpg123 blocks into the WAV converter's move.
#pragma once

#include <string>

#include "audio/Mp3Decoder.h"
#include "audio/MusicConverters.h"

namespace audio {

class TMPG123Convertor2 : public TWavConverter {
 public:
  QEL_CLASSNAME(TMPG123Convertor2)
  explicit TMPG123Convertor2(const std::u16string& name);
  void Dispose() override;
  bool Open(const TMediaInfo& mediaInfo) override;
  bool ReadInput() override { return true; }
  bool Convert(TLocalBuffer* buffer) override;
  bool Seek(double ms) override;

  std::u16string Name;
  TMP3Decoder* Decoder = nullptr;
  TLocalBuffer* DecodedBuffer = nullptr;
};

}  // namespace audio
