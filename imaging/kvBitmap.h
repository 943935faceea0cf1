// The bitmap base classes: the abstract TBitmap, the self-contained
// TDirectBitmap that owns one array per row, the clipping every copy shares
// and the DefBitmapClass factory chain through which bitmaps are made
// without knowing which bitmap classes are linked.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "foundation/kpExceptions.h"
#include "imaging/kvPixelFormat.h"

namespace imaging {

using TRect = foundation::TRect;
using TPoint = foundation::TPoint;
struct TSize {
  int32_t cx = 0, cy = 0;
};

// Takes a fraction 0..1 and answers false to ask the operation to stop; empty when none.
using TProgressMethod = std::function<bool(float)>;

// A class reference for bitmap classes: "this class or one derived from it".
struct TBitmapClassInfo {
  const char* Name;
  const TBitmapClassInfo* Parent;
};
using TBitmapClass = const TBitmapClassInfo*;
bool ClassInheritsFrom(TBitmapClass Cls, TBitmapClass Ancestor);

#define QEL_BITMAP_CLASS(cls, parent)                                   \
  QEL_CLASSNAME(cls)                                                    \
  static TBitmapClass StaticClass() {                                   \
    static const TBitmapClassInfo info{#cls, parent::StaticClass()};   \
    return &info;                                                       \
  }                                                                     \
  TBitmapClass GetClass() const override { return StaticClass(); }

// Raised by the typed reads a bitmap class does not implement.
class EAbstractError : public foundation::TCommonException {
 public:
  using TCommonException::TCommonException;
};

// Largest pixel count of any bitmap; sizes from files are checked against it
// before anything is allocated.
constexpr int64_t MaxBitmapPixels = int64_t(1) << 28;
// True when Width x Height is positive and within MaxBitmapPixels, and the
// bytes of the whole bitmap at BitsPerPixel fit comfortably in memory sizes.
bool BitmapSizeAllowed(int64_t Width, int64_t Height, int32_t BitsPerPixel);

class TBitmap : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TBitmap)
  static TBitmapClass StaticClass();
  virtual TBitmapClass GetClass() const { return StaticClass(); }

  int32_t Width = 0;
  int32_t Height = 0;
  TPixelFormat* PixelFormat = nullptr;  // shared registry object, never owned
  TProgressMethod Progress;

  virtual TBitmap* Clone();
  // Copies Count pixels of row Y from column X into Buffer at Offset; answers the bytes copied.
  virtual int32_t GetPixels(std::span<uint8_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count);
  virtual void GetPixels8(std::span<uint8_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count);
  virtual void GetPixels16(std::span<uint16_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count);
  virtual void GetPixels24(std::span<TFColor> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count);
  virtual void GetPixels32(std::span<TFColorA> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count);

  // A new bitmap of this size in Format (none: own) and of RequiredClass,
  // the pixels converted while copying; none when no factory makes one.
  TBitmap* CloneAs(TPixelFormat* Format, TBitmapClass RequiredClass, const TProgressMethod& Progress = {});
  bool IsCompatible(TPixelFormat* Format, TBitmapClass RequiredClass) const;
  bool DoProgress(float Fraction);
  int32_t BytesPerPixel() const { return PixelFormat ? PixelFormat->BytesPerPixel : 0; }
};

class TDirectBitmap : public TBitmap {
 public:
  QEL_BITMAP_CLASS(TDirectBitmap, TBitmap)
  TDirectBitmap(int32_t Width, int32_t Height, TPixelFormat* PixelFormat);
  void Dispose() override;

  int32_t GetPixels(std::span<uint8_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  void GetPixels8(std::span<uint8_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  void GetPixels16(std::span<uint16_t> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  void GetPixels24(std::span<TFColor> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  void GetPixels32(std::span<TFColorA> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count) override;
  virtual void CopyRect(const TRect& DestRect, TBitmap* Source, const TPoint& SourcePoint);
  void CopyFrom(TBitmap* Source);
  void FillRect(const TRect& Rect, uint32_t Color);

  // Row y's bytes; the typed views of the row for 1, 2, 3 and 4 bytes per pixel.
  uint8_t* Row(int32_t y) const { return rows_[static_cast<size_t>(y)]; }
  uint16_t* Row16(int32_t y) const { return reinterpret_cast<uint16_t*>(Row(y)); }
  TFColor* Row24(int32_t y) const { return reinterpret_cast<TFColor*>(Row(y)); }
  TFColorA* Row32(int32_t y) const { return reinterpret_cast<TFColorA*>(Row(y)); }
  int32_t RowBytes() const { return rowBytes_; }

 private:
  template <class T>
  void TypedRead(const char* Name, std::span<T> Buffer, int32_t Offset, int32_t X, int32_t Y, int32_t Count);
  std::vector<uint8_t*> rows_;
  int32_t rowBytes_ = 0;
};

using TBitmapFactory = TBitmap* (*)(int32_t Width, int32_t Height, TPixelFormat* PixelFormat,
                                    TBitmapClass RequiredClass, TBitmap* Source, const TProgressMethod& Progress);
// The head of the factory chain; each bitmap unit saves the previous value and falls back to it.
// Start-up only: set before any thread runs, then read without a lock.
extern TBitmapFactory DefBitmapClass;

TBitmap* CreateDefDirectBitmap(int32_t Width, int32_t Height, TPixelFormat* PixelFormat, TBitmapClass RequiredClass,
                               TBitmap* Source, const TProgressMethod& Progress);

// Clips a copy of W x H from the source point (SX, SY) to the destination
// position (X, Y); true when something is left.
bool ClipBitmapRects(int32_t& X, int32_t& Y, int32_t& W, int32_t& H, int32_t& SX, int32_t& SY,
                     int32_t DestWidth, int32_t DestHeight, int32_t SourceWidth, int32_t SourceHeight);

// The pixel of FillRect for a format, in its stored bytes.
// Answers the number of bytes written to Pixel (0 for sizes other than 1..4).
int32_t FillPixelFor(TPixelFormat* Format, uint32_t Color, uint8_t Pixel[4]);

void InitKvBitmap();
void DoneKvBitmap();

}  // namespace imaging
