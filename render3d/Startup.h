// Start-up and shut-down of the 3D rendering library (the GPU backend is chosen before, by platform::startPlatform).
// The table of steps is in Startup.cpp; the mechanism in foundation/kvStartup.h.
#pragma once

#include "foundation/kvStartup.h"

namespace render3d {

// Starts the libraries beneath that this one needs, then its units in order;
// a second call does nothing.
void StartRender3D();
// Runs the units' shut-down in reverse order, then stops what StartRender3D started.
void StopRender3D();
// The table, for the start-ups of the libraries above.
foundation::TLibraryStartup& Render3DStartup();

}  // namespace render3d
