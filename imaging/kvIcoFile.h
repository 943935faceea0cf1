// Icon and cursor files (ICO/CUR): the directory of images, the image that
// best fits a wanted size, decoded from PNG or DIB data. Malformed files
// give an icon file with no entries or nil images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kvStream.h"
#include "imaging/kvImage.h"

namespace imaging {

struct TIconDirEntry {
  uint8_t Width = 0, Height = 0, ColorCount = 0, Reserved = 0;
  uint16_t Planes = 0, BitCount = 0;  // hot spot x and y of cursors
  uint32_t BytesInRes = 0, ImageOffset = 0;
};
using TIconDynArray = std::vector<TIconDirEntry>;

class TIcoFile : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TIcoFile)
  TIcoFile(foundation::TStream* Stream, bool OwnsStream, const std::u16string& Name);
  void Dispose() override;

  // A new image (the caller's reference) or nil.
  TImage* GetImage(int32_t Index);
  TImage* GetBestImage(int32_t Width, int32_t Height, bool UseMipLevels);

  int32_t Count() const { return FCount; }
  bool IsCursor() const { return FCursor; }
  const TIconDynArray& Entries() const { return FEntries; }

 private:
  std::u16string FName;
  foundation::TStream* FStream = nullptr;
  bool FOwnsStream = false;
  int64_t FBase = 0;
  bool FCursor = false;
  int32_t FCount = 0;
  TIconDynArray FEntries;
};

}  // namespace imaging
