#include "audio/MusicGeneral.h"

namespace audio {

TCreateDeviceHook CreateDeviceHook = nullptr;
TCreatePlayerHook CreatePlayerHook = nullptr;

}  // namespace audio
