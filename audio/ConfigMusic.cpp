#include "audio/ConfigMusic.h"

#include "audio/DllDecoders.h"
#include "audio/FFMpegAudioBinding.h"
#include "audio/Mpg123Converter.h"
#include "audio/PluginConverters.h"
#include "foundation/kpExceptions.h"

namespace audio {

TWavConverter* CreateMusicConverter(foundation::TStream* stream, const std::u16string& name, const TMediaInfo& info) {
  switch (info.FormatCode) {
    case mfcWavPcm:
    case mfcWavFloat:
      return new TWavConverter();
    case mfcWavAdpcm:
      return new TAdpcmConverter();
    case mfcMpeg:
      return new TMPG123Convertor2(name);
    case mfcWma:
    case mfcOgg:
    case mfcApe:
    case mfcAac: {
      if (TDllDec* dll = DllInSlot(SlotOfFormatCode(info.FormatCode))) return new TDllConverter(dll);
      return CreateFFMpegConverter(name);
    }
    case mfcFFMpeg:
      return CreateFFMpegConverter(name);
    default:
      foundation::QelAssertFail("Unknown music format code");
  }
}

void InitConfigMusic() {
  RegisterVideoFFMpegAudio();
  CreateConverterHook = CreateMusicConverter;
}

void DoneConfigMusic() {
  if (CreateConverterHook == CreateMusicConverter) CreateConverterHook = nullptr;
}

}  // namespace audio
