// Start-up and shut-down of the show-container and file-access library.
// The table of steps is in Startup.cpp; the mechanism in foundation/kvStartup.h.
#pragma once

#include "foundation/kvStartup.h"

namespace container {

// Starts the libraries beneath that this one needs, then its units in order;
// a second call does nothing.
void StartContainer();
// Runs the units' shut-down in reverse order, then stops what StartContainer started.
void StopContainer();
// The table, for the start-ups of the libraries above.
foundation::TLibraryStartup& ContainerStartup();

}  // namespace container
