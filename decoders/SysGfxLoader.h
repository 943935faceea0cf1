// Converted images: a bitmap the authoring tool already brought to the
// show's size and colours, stored as "KVGF", a list of named text fields and
// the raw deflate of a BMP file. The loader claims the extensions of the
// pictures such an image may replace, declines everything without the magic,
// and its store decodes the payload once, at the first request for level 0.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/kvHashLists.h"
#include "foundation/kvStream.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvColorProfile.h"

namespace decoders {

// The colour of level 0 when the payload does not decode: opaque green.
constexpr uint32_t GfxLoadFailColor = 0xFF00FF00;

// A declared size must fit a BMP the payload can inflate to: raw deflate
// expands at most 1032 times, and the smallest BMP pixel takes one bit.
// Sizes up to GfxFreePixels are always accepted (the green substitute of a
// small image costs little).
constexpr int64_t GfxMaxPixelsPerPayloadByte = 1032 * 8;
constexpr int64_t GfxFreePixels = int64_t(1) << 22;

// One field value. Reference counted here so that the field list can
// release its values like every other list of the system.
class TFieldValue : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFieldValue)
  explicit TFieldValue(std::u16string Value) : Value(std::move(Value)) {}
  std::u16string Value;
};

class TGfxImage : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TGfxImage)
  TGfxImage();
  void Dispose() override;

  // The first value stored under the name, or none.
  TFieldValue* FindField(const std::u16string& Name);
  bool GetFieldText(const std::u16string& Name, std::u16string& Text);
  // False when the field is missing or its whole text is not a 32-bit integer.
  bool GetFieldInt(const std::u16string& Name, int32_t& Value);
  // The decoded bitmap; decodes on the first call, the green bitmap when that fails.
  imaging::TBitmap* GetBitmap();

  foundation::THashList* Fields = nullptr;  // owned
  int32_t Width = 0;
  int32_t Height = 0;
  std::u16string FileName;
  int32_t OriginalSize = 0;
  foundation::TStream* Payload = nullptr;  // owned; none once decoded
  imaging::TBitmap* Bitmap = nullptr;      // owned
  imaging::TPixelFormat* PixelFormat = nullptr;
  std::u16string Name;
  // Whether level 0 came from the payload (false: the green substitute or not decoded yet).
  bool Decoded = false;
};

class TGfxBitmapStore : public imaging::TSysBitmapStore {
 public:
  QEL_CLASSNAME(TGfxBitmapStore)
  // Takes over Image.
  TGfxBitmapStore(const std::u16string& Name, TGfxImage* Image, const imaging::TLevelProvider& Provider);
  void Dispose() override;
  // Level 0 is the image's bitmap (owned by the image); other levels are halved.
  void LoadMipLevel(imaging::TMipLevelResult& Result, int32_t Level) override;

  TGfxImage* Image = nullptr;
};

// A profile without ICC data: colour transforms leave converted images alone.
class TDumpColorProfile : public imaging::TColorProfile {
 public:
  QEL_CLASSNAME(TDumpColorProfile)
  explicit TDumpColorProfile(const std::u16string& Name) : TColorProfile({}, Name) {}
};

// Reads up to 4 bytes (advancing the position): true when they are "KVGF".
bool IsGfxPayload(foundation::TStream* Stream);
// A 16-bit byte count and that much UTF-8; false only when the count cannot be read.
bool ReadGfxString(foundation::TStream* Stream, std::u16string& Text);
// Fills Image from the stream; any failure restores the position. A field
// count cut short raises the stream's read error.
bool ReadGfxImage(TGfxImage* Image, foundation::TStream* Stream, const std::u16string& Name, bool HeaderOnly);

imaging::TBitmapStore* LoadGfxBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                          imaging::TLevelProvider& Provider);

// Registers the loader for ".kvgfx", ".bmp", ".dib", ".png" and ".gif|framesatlas".
void InitSysGfxLoader();

}  // namespace decoders
