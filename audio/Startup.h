// Start-up and shut-down of the audio library (the sound backend is chosen before, by platform::startPlatform).
// The table of steps is in Startup.cpp; the mechanism in foundation/kvStartup.h.
#pragma once

#include "foundation/kvStartup.h"

namespace audio {

// Starts the libraries beneath that this one needs, then its units in order;
// a second call does nothing.
void StartAudio();
// Runs the units' shut-down in reverse order, then stops what StartAudio started.
void StopAudio();
// The table, for the start-ups of the libraries above.
foundation::TLibraryStartup& AudioStartup();

}  // namespace audio
