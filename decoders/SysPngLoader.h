// The PNG image loader: the whole file is decoded inside the loader call, the
// store converts the picture into a bitmap the first time level 0 is asked
// for, and the iCCP chunk's profile is attached to the store.
#pragma once

#include <cstdint>
#include <vector>

#include "decoders/SysPng.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvColorProfile.h"

namespace decoders {

class TPngBitmapStore : public imaging::TSysBitmapStore {
 public:
  QEL_CLASSNAME(TPngBitmapStore)
  // Takes over Png (asserted present).
  TPngBitmapStore(const std::u16string& Name, TPNGObject* APng, const imaging::TLevelProvider& Provider);
  void Dispose() override;
  void LoadMipLevel(imaging::TMipLevelResult& Result, int32_t Level) override;

  TPNGObject* Png = nullptr;  // owned; none after the conversion
};

imaging::TBitmapStore* LoadPngBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                          imaging::TLevelProvider& Provider);
imaging::TColorProfile* ReadPngColorProfile(foundation::TStream* Stream, const std::u16string& Name);
// The inflated profile of the first readable iCCP chunk from the stream position; empty when none.
std::vector<uint8_t> ScanPngIccProfile(foundation::TStream* Stream);

// Registers the chunk classes, the loader and the profile reader for ".png".
void InitSysPngLoader();

}  // namespace decoders
