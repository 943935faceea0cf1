#include "video/Startup.h"

#include "decoders/Startup.h"
#include "foundation/Startup.h"
#include "imaging/Startup.h"
#include "video/FFMpegVideoSource2.h"
#include "video/GifVideoSource.h"
#include "video/kpFFLoad.h"

namespace video {

namespace {

// The FFmpeg source is the floor of the video-source chain and refuses to go
// on top of another; the GIF source keeps it and passes every other name on.
constexpr foundation::TStartupStep kSteps[] = {
    // The FFmpeg binding (loaded on first use) and the floating-point state.
    {"FFLoad", InitFFLoad, DoneFFLoad},
    {"FFMpegVideoSource", InitFFMpegVideoSource, DoneFFMpegVideoSource},
    {"GifVideoSource", InitGifVideoSource, DoneGifVideoSource},
};

constexpr foundation::TLibraryStartupRef kNeeds[] = {&foundation::FoundationStartup, &imaging::ImagingStartup,
                                                     &decoders::DecodersStartup};

}  // namespace

foundation::TLibraryStartup& VideoStartup() {
  static foundation::TLibraryStartup startup{"video", kNeeds, kSteps};
  return startup;
}

void StartVideo() { foundation::StartLibrary(VideoStartup()); }
void StopVideo() { foundation::StopLibrary(VideoStartup()); }

}  // namespace video
