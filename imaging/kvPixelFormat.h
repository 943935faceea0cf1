// Named pixel formats and the converters between them: the abstract side.
// The registry that creates formats and converters lives in SysPixelFormat;
// this unit holds only the classes every bitmap knows, the two hooks through
// which formats and converters are found, and the standard formats.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "foundation/SysObj.h"

namespace imaging {

// The 24- and 32-bit pixel records of the whole system: bytes blue, green,
// red (and alpha), so a TFColorA read as a little-endian word is 0xAARRGGBB.
struct TFColor {
  uint8_t B, G, R;
};
struct TFColorA {
  uint8_t B, G, R, A;
};
static_assert(sizeof(TFColor) == 3 && sizeof(TFColorA) == 4);

// Unaligned little-endian loads and stores; pixel rows are byte memory.
inline uint16_t LoadU16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline void StoreU16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
inline uint32_t LoadU32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void StoreU32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

class TPixelFormat : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TPixelFormat)
  std::string Name;  // UTF-8 channel string, the format's identity
  bool HasColor = false;
  bool HasLuminance = false;
  bool HasAlpha = false;
  bool Premultiplied = false;
  bool NonByteAligned = false;
  int32_t BytesPerPixel = 0;
  int32_t BitsPerPixel = 0;
};

// Converts runs of pixels. The array forms add DestOffset to the destination
// in elements of 1, 2, 3 or 4 bytes and SourceOffset to the source in bytes.
// Converters belong to the chain of their source format; callers never free them.
class TPixelConverter : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TPixelConverter)
  virtual void Convert8(uint8_t* Dest, const uint8_t* Source, int32_t DestOffset, int32_t SourceOffset,
                        int32_t Count) = 0;
  virtual void Convert16(uint16_t* Dest, const uint8_t* Source, int32_t DestOffset, int32_t SourceOffset,
                         int32_t Count) = 0;
  virtual void Convert24(TFColor* Dest, const uint8_t* Source, int32_t DestOffset, int32_t SourceOffset,
                         int32_t Count) = 0;
  virtual void Convert32(TFColorA* Dest, const uint8_t* Source, int32_t DestOffset, int32_t SourceOffset,
                         int32_t Count) = 0;
  // Count pixels from Source to Dest, both given as addresses of their first pixel.
  virtual void Convert(void* Dest, const void* Source, int32_t Count) = 0;
};

// The factory hook: the format of a name, created on first request.
using TPixelFormatFactory = TPixelFormat* (*)(const std::u16string& Name);
// The converter hook: the converter from Source to Destination, or none.
using TPixelConverterFactory = TPixelConverter* (*)(TPixelFormat* Destination, TPixelFormat* Source);

// Start-up only: set before any thread runs, then read without a lock.
extern TPixelFormatFactory PixelFormatHook;
extern TPixelConverterFactory ConverterHook;

// The format of a name through the factory hook (none while it is empty).
TPixelFormat* PixelFormatByName(const std::u16string& Name);
// The converter through the converter hook (none while it is empty).
TPixelConverter* PixelConverter(TPixelFormat* Destination, TPixelFormat* Source);

// The standard formats, set when the registry starts.
extern TPixelFormat* pfY8;
extern TPixelFormat* pfA8;
extern TPixelFormat* pfR8G8B8;
extern TPixelFormat* pfA8R8G8B8;
extern TPixelFormat* pfA16R16G16B16;
extern TPixelFormat* pfB8G8R8;
extern TPixelFormat* pfA8B8G8R8;
extern TPixelFormat* pfR5G6B5;    // the standard 5-6-5 format
extern TPixelFormat* pfX1R5G5B5;  // the standard 5-5-5 format
extern TPixelFormat* pfX8B8G8R8;
extern TPixelFormat* pfA8r8g8b8;
extern TPixelFormat* pfA8b8g8r8;

}  // namespace imaging
