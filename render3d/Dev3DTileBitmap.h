// A read-only virtual bitmap over an atlas (a grid of equal cells) in which
// every cell is surrounded by a one-pixel border repeating the cell's own
// edge pixels, so that filtering at a cell's edge never picks up its
// neighbour. Border pixels read through the 32-bit routine get alpha 0.
#pragma once

#include <vector>

#include "imaging/kvBitmap.h"

namespace render3d {

class TTileBitmap : public imaging::TBitmap {
 public:
  QEL_CLASSNAME(TTileBitmap)
  TTileBitmap(imaging::TBitmap* source, int32_t columns, int32_t rows, bool ownsSource);
  void Dispose() override;

  // The source pixel of a virtual one, and whether it is on a border.
  void MapPoint(int32_t x, int32_t y, int32_t& sx, int32_t& sy, bool& borderColumn, bool& borderRow) const;

  int32_t GetPixels(std::span<uint8_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  void GetPixels8(std::span<uint8_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  void GetPixels16(std::span<uint16_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  void GetPixels24(std::span<imaging::TFColor> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  void GetPixels32(std::span<imaging::TFColorA> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;

  imaging::TBitmap* Source = nullptr;
  int32_t CellWidth = 0, CellHeight = 0;
  bool OwnsSource = false;
  std::vector<uint8_t> BorderColumns;

 private:
  // Count pixels of bpp bytes of virtual row y from column x into dest.
  void Read(uint8_t* dest, int32_t x, int32_t y, int32_t count, int32_t bpp, bool clearBorderAlpha);
};

}  // namespace render3d
