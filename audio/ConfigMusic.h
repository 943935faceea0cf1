// The converter choice by format code.
#pragma once

#include <string>

#include "audio/MusicConverters.h"

namespace audio {

// The value of CreateConverterHook. Codes 0, 9 and above 10 fail an assertion.
TWavConverter* CreateMusicConverter(foundation::TStream* stream, const std::u16string& name, const TMediaInfo& info);

// FFmpeg audio through the video library and the converter hook.
void InitConfigMusic();
void DoneConfigMusic();

}  // namespace audio
