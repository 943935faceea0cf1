#include "player/Startup.h"

#include "audio/Startup.h"
#include "container/Startup.h"
#include "decoders/Startup.h"
#include "foundation/Startup.h"
#include "imaging/Startup.h"
#include "player/NavBar.h"
#include "player/PlayerStartup.h"
#include "player/VideoNavBar.h"
#include "render3d/Startup.h"
#include "showmodel/Startup.h"
#include "text/Startup.h"
#include "transitions/Startup.h"
#include "video/Startup.h"
#include "windowing/Startup.h"

namespace player {

namespace {

// The entry then sets up the colour profile from the command line
// (SetupColorProfile) before the first show opens.
constexpr foundation::TStartupStep kSteps[] = {
    {"EmbeddedTableCheck", InstallEmbeddedTableCheck, RemoveEmbeddedTableCheck},
    {"ShowPlayCheck", InstallShowPlayCheck, RemoveShowPlayCheck},
    // The video bar takes its own name and hands every other name on to the
    // button bar's factory, so the button bar registers first.
    {"NavBar", InitNavBar, nullptr},
    {"VideoNavBar", InitVideoNavBar, nullptr},
};

constexpr foundation::TLibraryStartupRef kNeeds[] = {
    &foundation::FoundationStartup, &imaging::ImagingStartup,         &text::TextStartup,
    &container::ContainerStartup,   &decoders::DecodersStartup,       &windowing::WindowingStartup,
    &transitions::TransitionsStartup, &render3d::Render3DStartup,     &video::VideoStartup,
    &showmodel::ShowModelStartup,   &audio::AudioStartup};

}  // namespace

foundation::TLibraryStartup& PlayerStartup() {
  static foundation::TLibraryStartup startup{"player", kNeeds, kSteps};
  return startup;
}

void StartPlayer() { foundation::StartLibrary(PlayerStartup()); }
void StopPlayer() { foundation::StopLibrary(PlayerStartup()); }

}  // namespace player
