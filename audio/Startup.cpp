#include "audio/Startup.h"

#include "audio/ChannelKiller.h"
#include "audio/CompositeDecoder.h"
#include "audio/ConfigMusic.h"
#include "audio/DllDecoders.h"
#include "audio/Mp3Decoder.h"
#include "audio/MusicClasses.h"
#include "audio/MusicTrace.h"
#include "audio/MusicTypes.h"
#include "container/Startup.h"
#include "foundation/Startup.h"
#include "showmodel/Startup.h"
#include "video/Startup.h"

namespace audio {

namespace {

constexpr foundation::TStartupStep kSteps[] = {
    {"MusicTrace", InitMusicTrace, nullptr},
    // The stream wrapper.
    {"MusicTypes", InitMusicTypes, DoneMusicTypes},
    // libmpg123.
    {"Mp3Decoder", InitMp3Decoder, nullptr},
    // The plug-in registry and the format detection hook.
    {"DllDecoders", InitDllDecoders, DoneDllDecoders},
    // FFmpeg audio through the video library, the converter hook.
    {"ConfigMusic", InitConfigMusic, DoneConfigMusic},
    {"CompositeDecoder", InitCompositeDecoder, DoneCompositeDecoder},
    // The output-device and player factories.
    {"MusicClasses", InitMusicClasses, nullptr},
    {"ChannelKiller", nullptr, DoneChannelKiller},
};

constexpr foundation::TLibraryStartupRef kNeeds[] = {&foundation::FoundationStartup, &container::ContainerStartup,
                                                     &video::VideoStartup, &showmodel::ShowModelStartup};

}  // namespace

foundation::TLibraryStartup& AudioStartup() {
  static foundation::TLibraryStartup startup{"audio", kNeeds, kSteps};
  return startup;
}

void StartAudio() { foundation::StartLibrary(AudioStartup()); }
void StopAudio() { foundation::StopLibrary(AudioStartup()); }

}  // namespace audio
