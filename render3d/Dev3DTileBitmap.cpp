#include "render3d/Dev3DTileBitmap.h"

#include <algorithm>
#include <cstring>

#include "foundation/kpExceptions.h"

namespace render3d {

namespace {
// The class of a virtual coordinate with cell size c: 2k for a leading
// border, 2k + 2 for a trailing one, 2k + 1 inside cell k.
int32_t ClassOf(int32_t v, int32_t c, bool& border) {
  int32_t stride = c + 2, k = v / stride, e = v % stride;
  border = e == 0 || e == c + 1;
  if (e == 0) return 2 * k;
  if (e == c + 1) return 2 * k + 2;
  return 2 * k + 1;
}
}  // namespace

TTileBitmap::TTileBitmap(imaging::TBitmap* source, int32_t columns, int32_t rows, bool ownsSource)
    : Source(source), OwnsSource(ownsSource) {
  QEL_ASSERT(source && columns > 0 && rows > 0, u"TTileBitmap: source and grid");
  CellWidth = source->Width / columns;
  CellHeight = source->Height / rows;
  QEL_ASSERT(CellWidth > 0 && CellHeight > 0, u"TTileBitmap: empty cells");
  Width = source->Width + 2 * columns;
  Height = source->Height + 2 * rows;
  PixelFormat = source->PixelFormat;
  BorderColumns.resize(size_t(Width));
  for (int32_t i = 0; i < Width; ++i) {
    int32_t e = i % (CellWidth + 2);
    BorderColumns[size_t(i)] = (e == 0 || e == CellWidth + 1) ? 1 : 0;
  }
}

void TTileBitmap::Dispose() {
  if (OwnsSource && Source) Source->Free();
  Source = nullptr;
  imaging::TBitmap::Dispose();
}

void TTileBitmap::MapPoint(int32_t x, int32_t y, int32_t& sx, int32_t& sy, bool& borderColumn, bool& borderRow) const {
  sx = std::clamp(x - ClassOf(x, CellWidth, borderColumn), 0, Source->Width - 1);
  sy = std::clamp(y - ClassOf(y, CellHeight, borderRow), 0, Source->Height - 1);
}

void TTileBitmap::Read(uint8_t* dest, int32_t x, int32_t y, int32_t count, int32_t bpp, bool clearBorderAlpha) {
  int32_t sx, sy;
  bool bc, br;
  MapPoint(x, y, sx, sy, bc, br);
  std::vector<uint8_t> row(size_t(Source->Width) * size_t(bpp));
  Source->GetPixels(row, 0, 0, sy, Source->Width);
  for (int32_t i = 0; i < count; ++i) {
    int32_t vx = x + i;
    MapPoint(vx, y, sx, sy, bc, br);
    std::memcpy(dest + size_t(i) * size_t(bpp), &row[size_t(sx) * size_t(bpp)], size_t(bpp));
    if (clearBorderAlpha && (bc || br)) dest[size_t(i) * 4 + 3] = 0;
  }
}

int32_t TTileBitmap::GetPixels(std::span<uint8_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) {
  const std::string cls = ClassName();
  QEL_ASSERT(X >= 0 && Y >= 0 && X < Width && Y < Height, cls + ".GetPixels (X,Y) out of Bitmap.Size");
  QEL_ASSERT(Offset >= 0, cls + ".GetPixels - Offset out of Bounds");
  Count = std::min(Count, Width - X);
  if (Count < 1) return 0;
  int32_t bpp = BytesPerPixel();
  QEL_ASSERT(int64_t(Buffer.size()) - Offset >= int64_t(Count) * bpp,
             cls + ".GetPixels - Not Enought Pixel Buffer Space");
  QEL_ASSERT(bpp >= 1 && bpp <= 4, cls + ".GetPixels - pixel size");
  Read(Buffer.data() + Offset, X, Y, Count, bpp, bpp == 4);
  return Count * bpp;
}

void TTileBitmap::GetPixels8(std::span<uint8_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) {
  QEL_ASSERT(Offset >= 0 && int64_t(Buffer.size()) - Offset >= Count, u"TTileBitmap.GetPixels8: buffer");
  Read(Buffer.data() + Offset, X, Y, Count, 1, false);
}

void TTileBitmap::GetPixels16(std::span<uint16_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) {
  QEL_ASSERT(Offset >= 0 && int64_t(Buffer.size()) - Offset >= Count, u"TTileBitmap.GetPixels16: buffer");
  Read(reinterpret_cast<uint8_t*>(Buffer.data() + Offset), X, Y, Count, 2, false);
}

void TTileBitmap::GetPixels24(std::span<imaging::TFColor> Buffer, int32_t Offset, int32_t X, int32_t Y,
                              int32_t Count) {
  QEL_ASSERT(Offset >= 0 && int64_t(Buffer.size()) - Offset >= Count, u"TTileBitmap.GetPixels24: buffer");
  Read(reinterpret_cast<uint8_t*>(Buffer.data() + Offset), X, Y, Count, 3, false);
}

void TTileBitmap::GetPixels32(std::span<imaging::TFColorA> Buffer, int32_t Offset, int32_t X, int32_t Y,
                              int32_t Count) {
  QEL_ASSERT(Offset >= 0 && int64_t(Buffer.size()) - Offset >= Count, u"TTileBitmap.GetPixels32: buffer");
  Read(reinterpret_cast<uint8_t*>(Buffer.data() + Offset), X, Y, Count, 4, true);
}

}  // namespace render3d
