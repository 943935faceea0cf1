// Converters over decoder plug-ins and over FFmpeg: each decodes into its
// own buffer and hands that to the WAV converter's move.
#pragma once

#include <string>

#include "audio/DllDecoders.h"
#include "audio/MusicConverters.h"

namespace audio {

class TDllConverter : public TWavConverter {
 public:
  QEL_CLASSNAME(TDllConverter)
  // Holds a reference to the plug-in.
  explicit TDllConverter(TDllDec* dll);
  void Dispose() override;
  bool Open(const TMediaInfo& mediaInfo) override;
  bool ReadInput() override { return true; }
  bool Convert(TLocalBuffer* buffer) override;
  bool Seek(double ms) override;

  static int32_t AppendCallback(void* buffer, const void* data, uint32_t length);

  TLocalBuffer* DecodedBuffer = nullptr;
  TDllDec* Dll = nullptr;
  void* DecoderHandle = nullptr;
};

class TFFMpegConverter2 : public TWavConverter {
 public:
  QEL_CLASSNAME(TFFMpegConverter2)
  explicit TFFMpegConverter2(const std::u16string& name);
  void Dispose() override;
  bool Open(const TMediaInfo& mediaInfo) override;
  bool ReadInput() override { return true; }
  bool Convert(TLocalBuffer* buffer) override;
  bool Seek(double ms) override;

  std::u16string Name;
  TFFMpegAudioBase* Audio = nullptr;
  TLocalBuffer* DecodedBuffer = nullptr;
};

// A TFFMpegConverter2 for the name when FFmpeg is available, else nil.
TWavConverter* CreateFFMpegConverter(const std::u16string& name);

}  // namespace audio
