// Start-up and shut-down of the text library (the font backend is chosen before, by platform::startPlatform).
// The table of steps is in Startup.cpp; the mechanism in foundation/kvStartup.h.
#pragma once

#include "foundation/kvStartup.h"

namespace text {

// Starts the libraries beneath that this one needs, then its units in order;
// a second call does nothing.
void StartText();
// Runs the units' shut-down in reverse order, then stops what StartText started.
void StopText();
// The table, for the start-ups of the libraries above.
foundation::TLibraryStartup& TextStartup();

}  // namespace text
