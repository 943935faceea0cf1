#include "container/Startup.h"

#include "container/kvQelFileAccessor2.h"
#include "container/kvQelLoader2.h"
#include "container/kvQelVirtualFiles.h"
#include "foundation/Startup.h"
#include "imaging/Startup.h"
#include "text/Startup.h"

namespace container {

namespace {

constexpr foundation::TStartupStep kSteps[] = {
    {"FileAccessor", InitFileAccessor, DoneFileAccessor},
    {"VirtualFiles", nullptr, DoneVirtualFiles},
    // Wraps the ICC transform hook of the bitmap library and falls back to it.
    {"QelLoader", InitQelLoader, DoneQelLoader},
};

constexpr foundation::TLibraryStartupRef kNeeds[] = {&foundation::FoundationStartup, &imaging::ImagingStartup,
                                                     &text::TextStartup};

}  // namespace

foundation::TLibraryStartup& ContainerStartup() {
  static foundation::TLibraryStartup startup{"container", kNeeds, kSteps};
  return startup;
}

void StartContainer() { foundation::StartLibrary(ContainerStartup()); }
void StopContainer() { foundation::StopLibrary(ContainerStartup()); }

}  // namespace container
