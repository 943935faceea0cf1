// The BMP image loader: subsystem 2's BMP decoder behind the loader contract.
#pragma once

#include "imaging/SysBitmapStore.h"

namespace decoders {

imaging::TBitmapStore* LoadBmpBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                          imaging::TLevelProvider& Provider);

// Registers the loader for ".bmp" and ".dib".
void InitSysBitmapLoader();

}  // namespace decoders
