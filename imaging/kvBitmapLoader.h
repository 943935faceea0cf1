// Decoding of Windows bitmaps (BMP files and the DIB images inside icons and
// cursors) from a stream into a new TDirectBitmap. All fields are
// little-endian; nothing is read through the platform.
#pragma once

#include <cstdint>

#include "foundation/kvStream.h"
#include "imaging/kvBitmap.h"

namespace imaging {

// The 40 bytes of the information header that the decoder reads.
struct TBmpInfoHeader {
  uint32_t Size = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  uint16_t Planes = 0;
  uint16_t BitCount = 0;
  uint32_t Compression = 0;
  uint32_t SizeImage = 0;
  int32_t XPelsPerMeter = 0;
  int32_t YPelsPerMeter = 0;
  uint32_t ClrUsed = 0;
  uint32_t ClrImportant = 0;
};

// A whole ".bmp" file from the stream position (the file header). Answers a
// new bitmap, or none for data it refuses; a stream too short for a header
// word, the colour table or the masks raises the stream's read error. With
// ForceOpaque, a 32-bit picture whose alpha bytes are all 0 becomes opaque.
TDirectBitmap* LoadBmpStream(foundation::TStream* Stream, bool ForceOpaque);

// The DIB image of an icon or cursor, from the stream position (its
// information header): colour rows, then the AND mask. Answers a new
// "A8R8G8B8" bitmap or none.
TDirectBitmap* LoadIconDIB(foundation::TStream* Stream);

}  // namespace imaging
