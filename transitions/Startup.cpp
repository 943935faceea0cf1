#include "transitions/Startup.h"

#include "foundation/Startup.h"
#include "transitions/kvRandom.h"

namespace transitions {

namespace {

constexpr foundation::TStartupStep kSteps[] = {
    // RandomGeneratorFactory.
    {"Random", InitRandom, nullptr},
};

constexpr foundation::TLibraryStartupRef kNeeds[] = {&foundation::FoundationStartup};

}  // namespace

foundation::TLibraryStartup& TransitionsStartup() {
  static foundation::TLibraryStartup startup{"transitions", kNeeds, kSteps};
  return startup;
}

void StartTransitions() { foundation::StartLibrary(TransitionsStartup()); }
void StopTransitions() { foundation::StopLibrary(TransitionsStartup()); }

}  // namespace transitions
