// The JPEG entry of the image-loader registry: the loader keeps the whole
// file compressed in memory and its store decodes each of the mip levels
// 0 to 3 directly at 1, 1/2, 1/4 or 1/8 scale when it is first asked for;
// the store carries the ICC profile of the file's first APP2 segment.
#pragma once

#include <string>

#include "decoders/kvJpegPas.h"
#include "imaging/SysBitmapStore.h"

namespace decoders {

// The player always decodes with the fast settings.
extern bool JpegFastDecoding;

// A header may promise at most this many pixels per byte of the file (and
// any file up to JpegFreePixels): far more than any JPEG whose blocks carry
// data compresses to, so only files that cannot hold their picture are refused.
constexpr int64_t JpegMaxPixelsPerByte = 1024;
constexpr int64_t JpegFreePixels = int64_t(1) << 22;

class TJpegBitmapStore : public imaging::TSysBitmapStore {
 public:
  QEL_CLASSNAME(TJpegBitmapStore)
  // Takes over Loader.
  TJpegBitmapStore(const std::u16string& Name, TJpegLoader* Loader, const imaging::TLevelProvider& Provider);
  void Dispose() override;
  // Levels 0..3 are decoded directly; any other level is left to halving.
  void LoadMipLevel(imaging::TMipLevelResult& Result, int32_t Level) override;
  // A 24-bit bitmap of the image at 1 / 2^Scale; 8-bit output is widened.
  imaging::TSysBitmap* DecodeLevel(uint8_t Scale);

  TJpegLoader* Loader = nullptr;

 private:
  void OnDecodeProgress(uint8_t Percent);
  bool StoreProgress(float Fraction);
};

imaging::TBitmapStore* LoadJpegBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                           imaging::TLevelProvider& Provider);
imaging::TColorProfile* ReadJpegColorProfile(foundation::TStream* Stream, const std::u16string& Name);

// Registers the loader and the profile reader for ".jpg", ".jpeg", ".jpe" and ".jfif".
void InitSysJpegLoader();

}  // namespace decoders
