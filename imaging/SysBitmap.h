// The working bitmap of all image processing: pixels reached through a table
// of row addresses, so the same class describes pixels owned by a direct
// bitmap, a DIB, a rectangle of another bitmap or foreign memory.
#pragma once

#include <vector>

#include "imaging/kvBitmap.h"

namespace imaging {

using TScanLines = std::vector<uint8_t*>;

class TSysBitmap : public TBitmap {
 public:
  QEL_BITMAP_CLASS(TSysBitmap, TBitmap)
  TSysBitmap(const TSize& Size, TPixelFormat* PixelFormat, TScanLines ScanLines, int32_t Pitch);

  void SetScanLines(const TSize& Size, TPixelFormat* PixelFormat, TScanLines ScanLines, int32_t Pitch);

  int32_t GetPixels(std::span<uint8_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  void GetPixels8(std::span<uint8_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  void GetPixels16(std::span<uint16_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  void GetPixels24(std::span<TFColor> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  void GetPixels32(std::span<TFColorA> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  // Premultiply: 0 none, 255 exact (c x a div 255), 256 fast ((c x a) shr 8).
  virtual void CopyRect(const TRect& DestRect, TBitmap* Source, const TPoint& SourcePoint, int32_t Premultiply);
  void CopyFrom(TBitmap* Source);
  bool FillRect(const TRect& Rect, uint32_t Color);

  // The row table and its typed views (set only for the matching pixel size).
  const TScanLines& ScanLines() const { return scanLines_; }
  uint8_t* Row(int32_t y) const { return scanLines_[static_cast<size_t>(y)]; }
  uint8_t* Rows8(int32_t y) const { return BytesPerPixel() == 1 ? Row(y) : nullptr; }
  uint16_t* Rows16(int32_t y) const { return BytesPerPixel() == 2 ? reinterpret_cast<uint16_t*>(Row(y)) : nullptr; }
  TFColor* Rows24(int32_t y) const { return BytesPerPixel() == 3 ? reinterpret_cast<TFColor*>(Row(y)) : nullptr; }
  TFColorA* Rows32(int32_t y) const { return BytesPerPixel() == 4 ? reinterpret_cast<TFColorA*>(Row(y)) : nullptr; }
  int32_t Pitch = 0;

 protected:
  TSysBitmap() = default;

 private:
  void CopyRowUnchecked(uint8_t* Dest, int32_t X, int32_t Y, int32_t Count);
  TScanLines scanLines_;
};

class TRefBitmap : public TSysBitmap {
 public:
  QEL_BITMAP_CLASS(TRefBitmap, TSysBitmap)
  TRefBitmap(const TSize& Size, TPixelFormat* PixelFormat, TScanLines ScanLines, int32_t Pitch,
             foundation::TRefObject* Referenced, bool OwnsReferenced);
  void Dispose() override;
  foundation::TRefObject* Referenced = nullptr;
  bool OwnsReferenced = false;

 protected:
  TRefBitmap() = default;
};

class TCropBitmap : public TRefBitmap {
 public:
  QEL_BITMAP_CLASS(TCropBitmap, TRefBitmap)
  TCropBitmap(const TRect& Rect, TSysBitmap* Source, bool OwnsSource);
};

class TSysDirectWrapper : public TSysBitmap {
 public:
  QEL_BITMAP_CLASS(TSysDirectWrapper, TSysBitmap)
  TSysDirectWrapper(TDirectBitmap* Bitmap, bool OwnsBitmap);
  void Dispose() override;
  TDirectBitmap* Wrapped = nullptr;
  bool OwnsWrapped = false;
};

TSysDirectWrapper* CreateSysDirectWrapper(int32_t Width, int32_t Height, TPixelFormat* PixelFormat);
TSysBitmap* CreateSysBitmap(int32_t Width, int32_t Height, TPixelFormat* PixelFormat);
TSysBitmap* CreateSysBitmapOfSize(const TSize& Size, TPixelFormat* PixelFormat);
TBitmap* CreateDefSysBitmap(int32_t Width, int32_t Height, TPixelFormat* PixelFormat, TBitmapClass RequiredClass,
                            TBitmap* Source, const TProgressMethod& Progress);

// Premultiply Count 4-byte pixels in place; alpha 255 stays, alpha itself never changes.
void PremultiplyRow255(uint8_t* Row, int32_t Count);
void PremultiplyRow256(uint8_t* Row, int32_t Count);

void InitSysBitmap();
void DoneSysBitmap();

}  // namespace imaging
