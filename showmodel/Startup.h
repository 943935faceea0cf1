// Start-up and shut-down of the show model.
// The table of steps is in Startup.cpp; the mechanism in foundation/kvStartup.h.
#pragma once

#include "foundation/kvStartup.h"

namespace showmodel {

// Starts the libraries beneath that this one needs, then its units in order;
// a second call does nothing.
void StartShowModel();
// Runs the units' shut-down in reverse order, then stops what StartShowModel started.
void StopShowModel();
// The table, for the start-ups of the libraries above.
foundation::TLibraryStartup& ShowModelStartup();

}  // namespace showmodel
