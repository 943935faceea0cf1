#include "decoders/SysPngUtils.h"

#include <cstring>

namespace decoders {

using imaging::TFColor;
using imaging::TFColorA;

int32_t PngTransparencyMode(const TPNGObject* Png) {
  auto* h = dynamic_cast<TChunkIHDR*>(Png->Chunks.Item(0));
  if (!h) return 0;
  if (h->ColorType == 4 || h->ColorType == 6) return 2;
  TChunktRNS* trns = Png->Chunks.ItemFromClass<TChunktRNS>();
  if (!trns) return 0;
  if (h->ColorType == 0 || h->ColorType == 2) return 1;
  if (h->ColorType == 3) return trns->BitTransparency ? 1 : 2;
  return 0;
}

imaging::TPixelFormat* GetPngPixelFormat(const TPNGObject* Png, bool ForceAlpha) {
  auto* h = dynamic_cast<TChunkIHDR*>(Png->Chunks.Item(0));
  if (!h) return nullptr;
  const int32_t mode = PngTransparencyMode(Png);
  if (h->ColorType == 3 || h->ColorType == 4 || mode == 2) return imaging::pfA8R8G8B8;
  // A greyscale or truecolour picture with a colour key carries its key as an alpha plane.
  if ((h->ColorType == 0 || h->ColorType == 2) && !h->ImageAlpha.empty()) return imaging::pfA8R8G8B8;
  return ForceAlpha ? imaging::pfA8R8G8B8 : imaging::pfR8G8B8;
}

bool PngToBitmap(TPNGObject* Png, imaging::TSysBitmap* Bitmap) {
  if (!Bitmap) return false;
  TChunkIHDR* h = Png->Header();
  if (Bitmap->Width != static_cast<int32_t>(h->Width) || Bitmap->Height != static_cast<int32_t>(h->Height))
    return false;
  const bool four = Bitmap->BytesPerPixel() == 4;
  if (Bitmap->PixelFormat != GetPngPixelFormat(Png, four)) return false;
  const int32_t width = Bitmap->Width, height = Bitmap->Height;
  const uint8_t depth = h->BitDepth;

  if (h->ColorType == 3) {
    QEL_ASSERT(depth <= 8, "Unsupported PNG Image format");
    TChunktRNS* trns = Png->Chunks.ItemFromClass<TChunktRNS>();
    TChunkPLTE* plte = Png->Chunks.ItemFromClass<TChunkPLTE>();
    const int32_t count = plte ? plte->Count : 0;
    int32_t transparent = -1;
    if (trns)
      for (int32_t i = 0; i < trns->DataSize; ++i)
        if (trns->PaletteValues[static_cast<size_t>(i)] == 0) transparent = i;
    // The palette as finished pixels, so each row is a table lookup.
    TFColorA table[256] = {};
    bool valid[256] = {};
    for (int32_t i = 0; i < 256; ++i) {
      if (i == transparent) {
        valid[i] = true;
        continue;
      }
      if (i >= count) continue;
      // The palette entries already went through the gamma table when PLTE
      // was read; a second lookup would darken or brighten them twice.
      // Every entry keeps its own alpha, a single partial one included.
      const auto& e = h->Palette[static_cast<size_t>(i)];
      table[i] = {e[0], e[1], e[2], static_cast<uint8_t>(trns ? trns->PaletteValues[static_cast<size_t>(i)] : 255)};
      valid[i] = true;
    }
    const unsigned mask = (1u << depth) - 1;
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* src = h->PictureRow(y);
      TFColorA* dst = Bitmap->Rows32(y);
      for (int32_t x = 0; x < width; ++x) {
        const int64_t bit = int64_t(x) * depth;
        const unsigned i = depth == 8 ? src[x] : (src[bit >> 3] >> (8 - depth - (bit & 7))) & mask;
        if (!valid[i]) TPNGObject::RaiseError<EPngError>(pnglang::EPngErrorPaletteText);
        dst[x] = table[i];
      }
    }
    return true;
  }

  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = h->PictureRow(y);
    const uint8_t* alpha = h->AlphaRow(y);
    uint8_t* dst = Bitmap->Row(y);
    switch (h->ColorType) {
      case 4:
        for (int32_t x = 0; x < width; ++x) reinterpret_cast<TFColorA*>(dst)[x] = {src[x], src[x], src[x], alpha[x]};
        break;
      case 2:
      case 6:
        if (four) {
          // Whole 32-bit pixels: blue, green, red, alpha from low to high byte.
          for (int32_t x = 0; x < width; ++x) {
            const uint8_t* s = src + x * 3;
            const uint32_t a = alpha ? alpha[x] : 255u;
            const uint32_t v = uint32_t(s[0]) | (uint32_t(s[1]) << 8) | (uint32_t(s[2]) << 16) | (a << 24);
            std::memcpy(dst + x * 4, &v, 4);
          }
        } else {
          std::memcpy(dst, src, static_cast<size_t>(width) * 3);
        }
        break;
      case 0: {
        const unsigned mask = depth < 8 ? (1u << depth) - 1 : 0xFF;
        for (int32_t x = 0; x < width; ++x) {
          uint8_t g;
          if (depth < 8) {
            const int64_t bit = int64_t(x) * depth;
            g = static_cast<uint8_t>(((src[bit >> 3] >> (8 - depth - (bit & 7))) & mask) * 255 / mask);
          } else {
            g = src[x];
          }
          if (four)
            reinterpret_cast<TFColorA*>(dst)[x] = {g, g, g, static_cast<uint8_t>(alpha ? alpha[x] : 255)};
          else
            reinterpret_cast<TFColor*>(dst)[x] = {g, g, g};
        }
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

}  // namespace decoders
