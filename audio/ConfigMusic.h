// The converter choice by format code, and the start and end of the audio
// decoding units in their order.
#pragma once

#include <string>

#include "audio/MusicConverters.h"

namespace audio {

// The value of CreateConverterHook. Codes 0, 9 and above 10 fail an assertion.
TWavConverter* CreateMusicConverter(foundation::TStream* stream, const std::u16string& name, const TMediaInfo& info);

// Media types, libmpg123, the plug-in registry and detection, FFmpeg audio
// through the video library, the converter hook; DoneAudioDecoding undoes them in reverse order.
void InitAudioDecoding();
void DoneAudioDecoding();

}  // namespace audio
