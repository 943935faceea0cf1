// Start-up and shut-down of the player library: the top of the start-up, which the program entry calls first after platform::startPlatform.
// The table of steps is in Startup.cpp; the mechanism in foundation/kvStartup.h.
#pragma once

#include "foundation/kvStartup.h"

namespace player {

// Starts the libraries beneath that this one needs, then its units in order;
// a second call does nothing.
void StartPlayer();
// Runs the units' shut-down in reverse order, then stops what StartPlayer started.
void StopPlayer();
// The table, for the start-ups of the libraries above.
foundation::TLibraryStartup& PlayerStartup();

}  // namespace player
