// Start-up and finalisation of the image loaders: every registration of this
// library in its fixed order, which is the order in which the registry tries
// the loaders of one extension. Called explicitly by the program and by
// tests, after the bitmap library's own start-up.
#pragma once

namespace decoders {

void InitDecoders();
// Forgets every registered image loader and releases the LittleCMS table.
void DoneDecoders();

}  // namespace decoders
