#include "imaging/SysBitmapAlphaUtils.h"

#include <algorithm>
#include <cstring>

#include "imaging/ImagingAssert.h"

namespace imaging {

TBlendRowsProc BlendRows = nullptr;

namespace {

// Bytes 0 and 2 (or 1 and 3 after the shift) travel in one word at bits 0-7
// and 16-23. The difference is multiplied and divided as one signed 32-bit
// number, wrapping as the packed arithmetic always did: the upper byte comes
// out floored, the lower one truncated toward zero of the whole word. The rows
// this blend made must stay byte-identical, so the quirk is kept.
inline uint32_t BlendPair(uint32_t a, uint32_t b, int32_t w) {
  const uint32_t diff = (b & 0x00FF00FFu) - (a & 0x00FF00FFu);
  const int32_t product = static_cast<int32_t>(diff * static_cast<uint32_t>(w));
  const int32_t q = product / 256;
  return (static_cast<uint32_t>(q) + (a & 0x00FF00FFu)) & 0x00FF00FFu;
}

}  // namespace

void BlendRowsPacked(uint8_t* Dest, const uint8_t* Next, const uint8_t* Row, int32_t Count, int32_t Weight) {
  if (Count <= 0) return;
  const int32_t groups = Count / 4;
  for (int32_t g = 0; g < groups; ++g) {
    uint32_t a, b;
    std::memcpy(&a, Row + 4 * g, 4);
    std::memcpy(&b, Next + 4 * g, 4);
    const uint32_t r = BlendPair(a, b, Weight) | (BlendPair(a >> 8, b >> 8, Weight) << 8);
    std::memcpy(Dest + 4 * g, &r, 4);
  }
  for (int32_t i = groups * 4; i < Count; ++i) {
    const int32_t a = Row[i], b = Next[i];
    Dest[i] = static_cast<uint8_t>(a + (b - a) * Weight / 256);
  }
}

void RecoverAlpha(TSysBitmap* OverBlack, TSysBitmap* OverWhite) {
  IMG_ASSERT(OverBlack, "");
  RecoverAlpha(OverBlack, OverWhite, OverBlack->Width, OverBlack->Height);
}

void RecoverAlpha(TSysBitmap* OverBlack, TSysBitmap* OverWhite, int32_t Width, int32_t Height) {
  IMG_ASSERT(OverBlack && (OverBlack->PixelFormat == pfA8R8G8B8 || OverBlack->PixelFormat == pfA8r8g8b8), "");
  IMG_ASSERT(OverWhite && OverWhite->PixelFormat == pfR8G8B8, "");
  // A size beyond either bitmap would walk off its rows.
  Width = std::min({Width, OverBlack->Width, OverWhite->Width});
  Height = std::min({Height, OverBlack->Height, OverWhite->Height});
  for (int32_t y = 0; y < Height; ++y) {
    uint8_t* k = OverBlack->Row(y);
    const uint8_t* w = OverWhite->Row(y);
    for (int32_t x = 0; x < Width; ++x, k += 4, w += 3) {
      const int32_t d = std::max({k[2] - w[2] + 255, k[1] - w[1] + 255, k[0] - w[0] + 255});
      if (d >= 255) {
        k[3] = 255;
      } else if (d <= 0) {
        std::memset(k, 0, 4);
      } else {
        k[3] = static_cast<uint8_t>(d);
      }
    }
  }
}

bool HasAlphaChannel(TSysBitmap* Bitmap, bool& AllZero) {
  IMG_ASSERT(Bitmap && (Bitmap->PixelFormat == pfA8R8G8B8 || Bitmap->PixelFormat == pfA8r8g8b8), "");
  AllZero = true;
  for (int32_t y = 0; y < Bitmap->Height; ++y) {
    const uint8_t* p = Bitmap->Row(y);
    for (int32_t x = 0; x < Bitmap->Width; ++x, p += 4) {
      if (p[0] | p[1] | p[2] | p[3]) {
        AllZero = false;
        if (p[3]) return true;
      }
    }
  }
  return false;
}

void InitSysBitmapAlphaUtils() { BlendRows = BlendRowsPacked; }
void DoneSysBitmapAlphaUtils() { BlendRows = nullptr; }

}  // namespace imaging
