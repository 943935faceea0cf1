// Start-up and shut-down of the windowing library (the window backend is chosen before, by platform::startPlatform).
// The table of steps is in Startup.cpp; the mechanism in foundation/kvStartup.h.
#pragma once

#include "foundation/kvStartup.h"

namespace windowing {

// Starts the libraries beneath that this one needs, then its units in order;
// a second call does nothing.
void StartWindowing();
// Runs the units' shut-down in reverse order, then stops what StartWindowing started.
void StopWindowing();
// The table, for the start-ups of the libraries above.
foundation::TLibraryStartup& WindowingStartup();

}  // namespace windowing
