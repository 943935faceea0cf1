// Start-up and shut-down of the video sources.
// The table of steps is in Startup.cpp; the mechanism in foundation/kvStartup.h.
#pragma once

#include "foundation/kvStartup.h"

namespace video {

// Starts the libraries beneath that this one needs, then its units in order;
// a second call does nothing.
void StartVideo();
// Runs the units' shut-down in reverse order, then stops what StartVideo started.
void StopVideo();
// The table, for the start-ups of the libraries above.
foundation::TLibraryStartup& VideoStartup();

}  // namespace video
