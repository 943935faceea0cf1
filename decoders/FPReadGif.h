// The GIF reader shared by the GIF image loader and the GIF video source:
// decodes GIF87a and GIF89a frame by frame, each frame a 32-bit bitmap of
// its own rectangle (not composed onto the logical screen), and exposes the
// raw header, image descriptor and graphic-control data, the animation flag
// and the loop count. Composition is left to its users.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvByteString.h"
#include "foundation/kvStream.h"
#include "imaging/kvBitmap.h"
#include "imaging/kvImage.h"

namespace decoders {

// Errors of the reader; their users treat the file or frame as unreadable.
class EGifError : public foundation::Exception {
 public:
  QEL_CLASSNAME(EGifError)
  using foundation::Exception::Exception;
};

class TFPCustomImageReader;
// (reader, stage, percent, redraw, rectangle, message, continue)
using TFPImgProgressEvent = std::function<void(TFPCustomImageReader* Sender, uint8_t Stage, uint8_t PercentDone,
                                               bool RedrawNow, const imaging::TRect& R, const std::u16string& Msg,
                                               bool& Continue)>;

class TFPCustomImageReader : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFPCustomImageReader)
  TFPImgProgressEvent OnProgress;

  virtual void Progress(uint8_t Stage, uint8_t PercentDone, bool RedrawNow, const imaging::TRect& R,
                        const std::u16string& Msg, bool& Continue);
  virtual void InternalRead(foundation::TStream* Stream, imaging::TDirectBitmap*& Bitmap) = 0;
  virtual bool InternalCheck(foundation::TStream* Stream) = 0;
};

class TFPPalette : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFPPalette)
  virtual void Clear();
  virtual void Add(uint32_t Color);
  void SetCount(int32_t Value);

  std::vector<uint32_t> Colors;  // storage; its length is the capacity
  int32_t Count = 0;
};

#pragma pack(push, 1)
struct TGifHeader {
  char Signature[3];
  char Version[3];
  uint16_t ScreenWidth;
  uint16_t ScreenHeight;
  uint8_t Packedbit;
  uint8_t BackgroundColor;
  uint8_t AspectRatio;
};
struct TGifImageDescriptor {
  uint16_t Left, Top, Width, Height;
  uint8_t Packedbit;
};
struct TGifGraphicsControlExtension {
  uint8_t BlockSize;
  uint8_t Packedbit;
  uint16_t DelayTime;
  uint8_t ColorIndex;
  uint8_t Terminator;
};
#pragma pack(pop)
static_assert(sizeof(TGifHeader) == 13 && sizeof(TGifImageDescriptor) == 9 &&
              sizeof(TGifGraphicsControlExtension) == 6);

class TFPReaderGif : public TFPCustomImageReader {
 public:
  QEL_CLASSNAME(TFPReaderGif)
  TFPReaderGif();
  void Dispose() override;

  void InternalRead(foundation::TStream* Stream, imaging::TDirectBitmap*& Bitmap) override;
  bool InternalCheck(foundation::TStream* Stream) override;
  // Decodes the image after the stream position. True with no bitmap at the trailer.
  bool ReadNextFrame(foundation::TStream* Stream, imaging::TDirectBitmap*& Bitmap);
  // Moves past the next image without decoding it; false at the trailer or the end of the data.
  bool SkipFrame(foundation::TStream* Stream);
  virtual bool WriteScanLine(imaging::TDirectBitmap* Bitmap);

  uint8_t Animated = 0;
  int32_t LoopCount = 1;
  uint8_t HasLoopExtension = 0;
  TGifHeader Header{};
  TGifImageDescriptor Descriptor{};
  TGifGraphicsControlExtension GraphicControl{};
  uint8_t Transparent = 0;
  uint8_t HasGraphicControl = 0;
  std::vector<uint8_t> Indexes;
  int64_t IndexCount = 0;
  TFPPalette* LocalPalette = nullptr;
  TFPPalette* GlobalPalette = nullptr;
  TFPPalette* Palette = nullptr;  // not owned
  int32_t ImageWidth = 0, ImageHeight = 0;
  uint8_t Interlaced = 0;
  uint8_t BitsPerPixel = 0;
  uint8_t KeyIndex = 0;
  uint32_t SavedColor = 0;
  std::array<uint8_t, 4096> SkipBuffer{};
  int64_t SkipStart = 0;
  int32_t SkipLength = 0;

 private:
  uint8_t NextBlock(foundation::TStream* Stream);
  void ReadPalette(foundation::TStream* Stream, TFPPalette* Target, int32_t Entries);
  void ReadDescriptorAndPalette(foundation::TStream* Stream);
  void FrameSetup(foundation::TStream* Stream);
  bool DecodeImageData(foundation::TStream* Stream);
  TFPPalette* keyPalette_ = nullptr;  // the palette whose key entry was made transparent
  bool imageRead_ = false;
};

// Marks a bitmap store as a frames atlas; the GIF loader fills the fields.
// It has no behaviour of its own besides attaching itself.
class TTilesTag : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TTilesTag)
  // With a store, the tag is added to the store's attachments, and the
  // store's list holds the creation reference (released with the store).
  explicit TTilesTag(imaging::TBitmapStore* store);

  int32_t FrameWidth = 0;
  int32_t FrameHeight = 0;
  int32_t Columns = 0;
  int32_t FrameCount = 0;
  int32_t Rows = 0;
  int32_t TotalDuration = 0;  // ms
  int32_t MeanDuration = 0;   // ms
  foundation::TByteString Delays;  // UTF-8: milliseconds separated by ","
  int32_t LoopCount = 0;
};

}  // namespace decoders
