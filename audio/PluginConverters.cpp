#include "audio/PluginConverters.h"

#include <cmath>

#include "foundation/kpExceptions.h"

namespace audio {

// --- TDllConverter --------------------------------------------------------------

TDllConverter::TDllConverter(TDllDec* dll) : Dll(dll) {
  if (Dll) Dll->_AddRef();
  DecodedBuffer = new TLocalBuffer();
}

void TDllConverter::Dispose() {
  if (DecoderHandle && Dll) Dll->DestroyDecoder(DecoderHandle);
  DecoderHandle = nullptr;
  foundation::FreeAndNil(DecodedBuffer);
  foundation::FreeAndNil(Dll);
  TWavConverter::Dispose();
}

int32_t TDllConverter::AppendCallback(void* buffer, const void* data, uint32_t length) {
  auto* b = static_cast<TLocalBuffer*>(buffer);
  b->Append(data, length);
  return int32_t(b->Used);
}

bool TDllConverter::Open(const TMediaInfo& mediaInfo) {
  bool result = TWavConverter::Open(mediaInfo);
  TWaveFormatEx f = mediaInfo.Format;
  f.wBitsPerSample = 16;
  f.nBlockAlign = uint16_t(f.nChannels * 2);
  f.nAvgBytesPerSec = f.nSamplesPerSec * f.nChannels * 2;
  DecodedBuffer->Format = f;
  DecodedBuffer->Grow(uint32_t(ChunkSize));
  if (Dll) DecoderHandle = Dll->CreateDecoder(Stream, &StreamCallbacks, 0, DecodedBuffer, AppendCallback);
  return result;
}

bool TDllConverter::Convert(TLocalBuffer*) {
  if (DecoderHandle) Dll->Decode(DecoderHandle);
  if (DecodedBuffer->Used > 0) return TWavConverter::Convert(DecodedBuffer);
  return false;
}

bool TDllConverter::Seek(double ms) {
  if (DecoderHandle) {
    InputBuffer->Used = 0;
    OutputBuffer->Used = 0;
    DecodedBuffer->Used = 0;
    uint32_t position = ms <= 0 ? 0 : uint32_t(std::llround(ms));
    Dll->SetPosition(DecoderHandle, position);
    DecodedMs = position;
  }
  return true;
}

// --- TFFMpegConverter2 ------------------------------------------------------------

TFFMpegConverter2::TFFMpegConverter2(const std::u16string& name) : Name(name) {
  DecodedBuffer = new TLocalBuffer();
}

void TFFMpegConverter2::Dispose() {
  foundation::FreeAndNil(Audio);
  foundation::FreeAndNil(DecodedBuffer);
  TWavConverter::Dispose();
}

bool TFFMpegConverter2::Open(const TMediaInfo& mediaInfo) {
  if (!TWavConverter::Open(mediaInfo)) return false;
  if (!Audio) Audio = CreateFFMpegAudio();
  if (!Audio || !Audio->Open(Stream, Name) || Audio->HasAudio <= 0) return false;
  uint16_t align = uint16_t(Audio->BytesPerSample * Audio->Channels);
  DecodedBuffer->Format = TWaveFormatEx{MusicOutputFormat.wFormatTag,
                                        uint16_t(Audio->Channels),
                                        uint32_t(Audio->Rate),
                                        uint32_t(Audio->Rate) * align,
                                        align,
                                        uint16_t(Audio->BytesPerSample * 8),
                                        0};
  OutputFormat = DecodedBuffer->Format;
  OutputBuffer->Format = DecodedBuffer->Format;
  DecodedBuffer->Grow(uint32_t(ChunkSize));
  return true;
}

bool TFFMpegConverter2::Convert(TLocalBuffer*) {
  QEL_ASSERT(Audio != nullptr, "FFMpegConverter2: no decoder");
  if (Audio->DecodeNext() && Audio->Size > 0) DecodedBuffer->Append(Audio->Data, Audio->Size);
  if (DecodedBuffer->Used > 0) return TWavConverter::Convert(DecodedBuffer);
  return false;
}

bool TFFMpegConverter2::Seek(double ms) {
  if (Audio && Audio->HasAudio > 0) {
    InputBuffer->Used = 0;
    OutputBuffer->Used = 0;
    DecodedBuffer->Used = 0;
    Audio->Seek(std::llround(ms * 1000));
    DecodedMs = ms;
  }
  return true;
}

TWavConverter* CreateFFMpegConverter(const std::u16string& name) {
  if (!FFMpegAudioAvailable()) return nullptr;
  return new TFFMpegConverter2(name);
}

}  // namespace audio
