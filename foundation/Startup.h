// Start-up and shut-down of the foundation library.
// The table of steps is in Startup.cpp; the mechanism in foundation/kvStartup.h.
#pragma once

#include "foundation/kvStartup.h"

namespace foundation {

// Starts the libraries beneath that this one needs, then its units in order;
// a second call does nothing.
void StartFoundation();
// Runs the units' shut-down in reverse order, then stops what StartFoundation started.
void StopFoundation();
// The table, for the start-ups of the libraries above.
foundation::TLibraryStartup& FoundationStartup();

}  // namespace foundation
