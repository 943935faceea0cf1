// Start-up and finalisation of the bitmap library: every registration of its
// units, in their fixed order (pixel formats, bitmap classes, colour
// profiles, stores and hooks). Called explicitly by the program and by tests.
#pragma once

namespace imaging {

void InitImaging();
void DoneImaging();

}  // namespace imaging
