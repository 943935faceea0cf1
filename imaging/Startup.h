// Start-up and shut-down of the bitmap library.
// The table of steps is in Startup.cpp; the mechanism in foundation/kvStartup.h.
#pragma once

#include "foundation/kvStartup.h"

namespace imaging {

// Starts the libraries beneath that this one needs, then its units in order;
// a second call does nothing.
void StartImaging();
// Runs the units' shut-down in reverse order, then stops what StartImaging started.
void StopImaging();
// The table, for the start-ups of the libraries above.
foundation::TLibraryStartup& ImagingStartup();

}  // namespace imaging
