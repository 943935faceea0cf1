#include "render3d/Startup.h"

#include "foundation/Startup.h"
#include "imaging/Startup.h"
#include "render3d/DXDev3D.h"
#include "text/Startup.h"
#include "transitions/Startup.h"
#include "windowing/Startup.h"

namespace render3d {

namespace {

// The application's posting list (SetRequestEventList) and the window
// layer's hooks are the program's to install before the first engine, which
// must be made on the main thread.
constexpr foundation::TStartupStep kSteps[] = {
    // The engine factory and the hardware-acceleration answer.
    {"DXDev3D", InitDXDev3D, DoneDXDev3D},
};

constexpr foundation::TLibraryStartupRef kNeeds[] = {&foundation::FoundationStartup, &imaging::ImagingStartup,
                                                     &text::TextStartup, &windowing::WindowingStartup,
                                                     &transitions::TransitionsStartup};

}  // namespace

foundation::TLibraryStartup& Render3DStartup() {
  static foundation::TLibraryStartup startup{"render3d", kNeeds, kSteps};
  return startup;
}

void StartRender3D() { foundation::StartLibrary(Render3DStartup()); }
void StopRender3D() { foundation::StopLibrary(Render3DStartup()); }

}  // namespace render3d
