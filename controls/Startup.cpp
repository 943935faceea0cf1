#include "controls/Startup.h"

#include "controls/kvControlStyles.h"
#include "controls/kvControlStylesUtils.h"
#include "controls/kvAppPostman.h"
#include "controls/kvDrawFrames.h"
#include "controls/kvFormHelpers.h"
#include "controls/kvFormServicesUtils.h"
#include "controls/kvMenuServices.h"
#include "controls/kvNativeMenus.h"
#include "foundation/Startup.h"
#include "imaging/Startup.h"
#include "render3d/Startup.h"
#include "text/Startup.h"
#include "windowing/Startup.h"

namespace controls {

namespace {

// The units make their globals on first use (the style sheet from
// "styles.txt" or its built-in text, the shared box rasterizer, the pending
// frame updates); the shut-down releases them, the frames' pending list
// first, since the frames still hold style states.
constexpr foundation::TStartupStep kSteps[] = {
    {"ControlStylesUtils", nullptr, DoneControlStylesUtils},
    {"ControlStyles", nullptr, DoneControlStyles},
    {"DrawFrames", nullptr, DoneDrawFrames},
    {"AppPostman", InitAppPostman, DoneAppPostman},
    {"NativeMenus", InitNativeMenus, DoneNativeMenus},
    {"MenuServices", InitMenuServices, DoneMenuServices},
    // The desktop hook registers with the application on first use; the
    // animation clock starts afresh.
    {"DesktopChangeHooks", nullptr, DoneDesktopChangeHooks},
    {"AnimationTicks", ResetAnimationTicks, nullptr},
};

constexpr foundation::TLibraryStartupRef kNeeds[] = {&foundation::FoundationStartup, &imaging::ImagingStartup,
                                                     &text::TextStartup, &windowing::WindowingStartup,
                                                     &render3d::Render3DStartup};

}  // namespace

foundation::TLibraryStartup& ControlsStartup() {
  static foundation::TLibraryStartup startup{"controls", kNeeds, kSteps};
  return startup;
}

void StartControls() { foundation::StartLibrary(ControlsStartup()); }
void StopControls() { foundation::StopLibrary(ControlsStartup()); }

}  // namespace controls
