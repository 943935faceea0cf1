// The GIF image loader: the first frame as a still picture, or, for names
// ending in "|framesatlas", every frame side by side in one bitmap with the
// disposal rules applied and a tiles tag describing the frames.
#pragma once

#include <cstdint>

#include "decoders/FPReadGif.h"
#include "imaging/SysBitmapStore.h"

namespace decoders {

// One frame while an atlas is built.
class TImgStore : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TImgStore)
  void Dispose() override;
  uint16_t Left = 0, Top = 0, FrameWidth = 0, FrameHeight = 0;
  uint8_t DescriptorFlags = 0;
  TGifGraphicsControlExtension GraphicControl{};
  imaging::TDirectBitmap* Bitmap = nullptr;  // owned
};

// The atlas stays below this many pixels (100 MiB at 4 bytes a pixel);
// tests may lower it.
extern int64_t GifAtlasPixelLimit;

imaging::TBitmapStore* LoadGifImage(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                    imaging::TLevelProvider& Provider, bool Atlas);
imaging::TBitmapStore* LoadGifBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                          imaging::TLevelProvider& Provider);
imaging::TBitmapStore* LoadGifFirstFrameBitmapStore(foundation::TStream* Stream, const std::u16string& Name,
                                                    bool OwnsStream, imaging::TLevelProvider& Provider);
imaging::TBitmapStore* LoadGifAtlasBitmapStore(foundation::TStream* Stream, const std::u16string& Name,
                                               bool OwnsStream, imaging::TLevelProvider& Provider);

// Registers ".gif", ".gif_first_frame" and ".gif|framesatlas", in that order.
void InitSysGifLoader();

}  // namespace decoders
