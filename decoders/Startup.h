// Start-up and shut-down of the image decoders.
// The table of steps is in Startup.cpp; the mechanism in foundation/kvStartup.h.
#pragma once

#include "foundation/kvStartup.h"

namespace decoders {

// Starts the libraries beneath that this one needs, then its units in order;
// a second call does nothing.
void StartDecoders();
// Runs the units' shut-down in reverse order, then stops what StartDecoders started.
void StopDecoders();
// The table, for the start-ups of the libraries above.
foundation::TLibraryStartup& DecodersStartup();

}  // namespace decoders
