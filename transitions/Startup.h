// Start-up and shut-down of the transition-effects library.
// The table of steps is in Startup.cpp; the mechanism in foundation/kvStartup.h.
#pragma once

#include "foundation/kvStartup.h"

namespace transitions {

// Starts the libraries beneath that this one needs, then its units in order;
// a second call does nothing.
void StartTransitions();
// Runs the units' shut-down in reverse order, then stops what StartTransitions started.
void StopTransitions();
// The table, for the start-ups of the libraries above.
foundation::TLibraryStartup& TransitionsStartup();

}  // namespace transitions
