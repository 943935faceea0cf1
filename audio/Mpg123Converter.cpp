#include "audio/Mpg123Converter.h"

#include "foundation/kpExceptions.h"

namespace audio {

TMPG123Convertor2::TMPG123Convertor2(const std::u16string& name) : Name(name) {
  DecodedBuffer = new TLocalBuffer();
}

void TMPG123Convertor2::Dispose() {
  foundation::FreeAndNil(Decoder);
  foundation::FreeAndNil(DecodedBuffer);
  TWavConverter::Dispose();
}

bool TMPG123Convertor2::Open(const TMediaInfo& mediaInfo) {
  if (!TWavConverter::Open(mediaInfo)) return false;
  if (!Decoder) Decoder = new TMP3Decoder();
  if (!Decoder->Open(Stream, Name) || Decoder->DurationMs <= 0) return false;
  uint16_t align = uint16_t(Decoder->BytesPerSample * Decoder->Channels);
  DecodedBuffer->Format = TWaveFormatEx{MusicOutputFormat.wFormatTag,
                                        uint16_t(Decoder->Channels),
                                        uint32_t(Decoder->Rate),
                                        uint32_t(Decoder->Rate) * align,
                                        align,
                                        uint16_t(Decoder->BytesPerSample * 8),
                                        0};
  // The decoder's own format is what comes out, whatever the probe guessed.
  OutputFormat = DecodedBuffer->Format;
  OutputBuffer->Format = DecodedBuffer->Format;
  DecodedBuffer->Grow(uint32_t(ChunkSize));
  return true;
}

bool TMPG123Convertor2::Convert(TLocalBuffer*) {
  QEL_ASSERT(Decoder != nullptr, "mpg123convertor: no decoder");
  if (Decoder->Read() && Decoder->BytesDone > 0)
    DecodedBuffer->Append(Decoder->BlockData(), uint32_t(Decoder->BytesDone));
  if (DecodedBuffer->Used > 0) return TWavConverter::Convert(DecodedBuffer);
  return false;
}

bool TMPG123Convertor2::Seek(double ms) {
  if (Decoder && Decoder->DurationMs > 0) {
    InputBuffer->Used = 0;
    OutputBuffer->Used = 0;
    DecodedBuffer->Used = 0;
    Decoder->SeekMs(ms);
    DecodedMs = ms;
  }
  return true;
}

}  // namespace audio
