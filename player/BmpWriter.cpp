#include "player/BmpWriter.h"

#include <cstdint>
#include <cstring>
#include <exception>
#include <vector>

#include "foundation/kvFileStream.h"
#include "imaging/SysBitmap.h"
#include "imaging/kvPixelFormat.h"

namespace player {

namespace {

constexpr int32_t kHeadersSize = 54;

// The format whose stored bytes a BMP of that depth declares with BI_RGB.
imaging::TPixelFormat* DeclaredFormat(int32_t bits) {
  switch (bits) {
    case 16: return imaging::pfX1R5G5B5;
    case 24: return imaging::pfR8G8B8;
    case 32: return imaging::pfA8R8G8B8;
    default: return nullptr;
  }
}

// True when the bitmap's bytes already are what the header declares. The
// fourth byte of a 32-bit pixel is unused by BI_RGB, so plain alpha and an
// unused byte both pass unchanged; premultiplied pixels do not.
bool StoresDeclaredLayout(imaging::TPixelFormat* format, imaging::TPixelFormat* declared) {
  if (format == declared) return true;
  return declared == imaging::pfA8R8G8B8 && format->Name == "X8R8G8B8";
}

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Row y's bytes in the bitmap's own format: directly for bitmaps that keep
// their rows, else read into Buffer.
const uint8_t* SourceRow(imaging::TBitmap* bitmap, int32_t y, std::vector<uint8_t>& buffer) {
  if (auto* direct = dynamic_cast<imaging::TDirectBitmap*>(bitmap)) return direct->Row(y);
  if (auto* sys = dynamic_cast<imaging::TSysBitmap*>(bitmap)) return sys->Row(y);
  bitmap->GetPixels(buffer, 0, 0, y, bitmap->Width);
  return buffer.data();
}

}  // namespace

bool WriteBitmapAsBMP(imaging::TBitmap* Bitmap, foundation::TStream* Stream) {
  if (!Bitmap || !Stream || !Bitmap->PixelFormat) return false;
  const int32_t bits = Bitmap->PixelFormat->BitsPerPixel;
  imaging::TPixelFormat* declared = DeclaredFormat(bits);
  if (!declared || Bitmap->PixelFormat->BytesPerPixel * 8 != bits) return false;
  const int32_t width = Bitmap->Width;
  const int32_t height = Bitmap->Height;
  if (!imaging::BitmapSizeAllowed(width, height, bits)) return false;
  imaging::TPixelConverter* converter = nullptr;
  if (!StoresDeclaredLayout(Bitmap->PixelFormat, declared)) {
    converter = imaging::PixelConverter(declared, Bitmap->PixelFormat);
    if (!converter) return false;
  }
  const int64_t rowBytes = int64_t(width) * (bits / 8);
  const int64_t stride = (rowBytes + 3) & ~int64_t(3);
  const int64_t imageSize = stride * height;
  // The header's size fields are 32 bits and our streams count in int32.
  if (imageSize + kHeadersSize > INT32_MAX) return false;

  uint8_t header[kHeadersSize] = {};
  header[0] = 'B';
  header[1] = 'M';
  PutU32(header + 2, uint32_t(kHeadersSize + imageSize));
  PutU32(header + 10, kHeadersSize);
  PutU32(header + 14, 40);
  PutU32(header + 18, uint32_t(width));
  PutU32(header + 22, uint32_t(height));
  PutU16(header + 26, 1);
  PutU16(header + 28, uint16_t(bits));
  PutU32(header + 34, uint32_t(imageSize));
  if (Stream->WriteBuf(header, kHeadersSize) != kHeadersSize) return false;

  std::vector<uint8_t> readBuffer(static_cast<size_t>(rowBytes));
  std::vector<uint8_t> row(static_cast<size_t>(stride), 0);
  for (int32_t y = height - 1; y >= 0; --y) {
    const uint8_t* source = SourceRow(Bitmap, y, readBuffer);
    if (converter)
      converter->Convert(row.data(), source, width);
    else
      std::memcpy(row.data(), source, static_cast<size_t>(rowBytes));
    if (Stream->WriteBuf(row.data(), int32_t(stride)) != int32_t(stride)) return false;
  }
  return true;
}

bool SaveBitmapToBMPFile(imaging::TBitmap* Bitmap, const std::u16string& FileName) {
  if (!Bitmap || !Bitmap->PixelFormat || !DeclaredFormat(Bitmap->PixelFormat->BitsPerPixel)) return false;
  try {
    auto stream = foundation::TRef<foundation::TStream>::Adopt(foundation::OpenFileStreamWrite(FileName, true));
    if (!stream) return false;
    return WriteBitmapAsBMP(Bitmap, stream.Get());
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace player
