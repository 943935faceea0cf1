// Start-up and shut-down of the drawn-controls library.
// The table of steps is in Startup.cpp; the mechanism in foundation/kvStartup.h.
#pragma once

#include "foundation/kvStartup.h"

namespace controls {

// Starts the libraries beneath that this one needs, then its units in order;
// a second call does nothing.
void StartControls();
// Runs the units' shut-down in reverse order, then stops what StartControls started.
void StopControls();
// The table, for the start-ups of the libraries above.
foundation::TLibraryStartup& ControlsStartup();

}  // namespace controls
