// Device-independent bitmaps: TFastDIB owns the pixel memory of a DIB with
// its bitmap-info header and row table, and TDibBitmap shows it as a system
// bitmap, so all image processing works on it directly. On this platform a
// DIB is plain memory of our own; drawing into a device context goes
// through a surface DC of the window layer made over the DIB's bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "imaging/SysBitmap.h"
#include "platform/window/api.h"

namespace imaging {

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

#pragma pack(push, 1)
struct TBitmapInfoHeader {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // positive: rows stored bottom row first
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = BI_RGB;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};
#pragma pack(pop)
static_assert(sizeof(TBitmapInfoHeader) == 40);
static_assert(offsetof(TBitmapInfoHeader, biBitCount) == 14 && offsetof(TBitmapInfoHeader, biCompression) == 16);

// The header and a table of 256 colours; with BI_BITFIELDS the first three
// entries are the red, green and blue masks.
struct TBitmapInfo {
  TBitmapInfoHeader Header;
  uint32_t Colors[256] = {};
};
static_assert(sizeof(TBitmapInfo) == 40 + 1024);

// How run-length decoding ended.
enum class TRunLengthEnd {
  Complete,  // an end-of-bitmap code, or every row was reached
  CutShort,  // the data ended first (inside a code or before the end code)
  Overrun,   // a run reached past the picture's last pixel (its excess was dropped)
};

// The one decoder of BI_RLE8 (Four false) and BI_RLE4 codes, for DIBs and BMP
// files alike. Rows are in data order (row 0 is the first row the codes
// fill), Width pixels each, one index a byte or, with PackNibbles, two a byte
// (high nibble first). Pixels beyond a row's end are dropped; a delta may
// move anywhere. Decoding goes on after an overrun, so lenient callers get
// every pixel the codes name; the first fault is the answer.
TRunLengthEnd DecodeRunLength(std::span<const uint8_t> Data, bool Four, int32_t Width,
                              std::span<uint8_t* const> Rows, bool PackNibbles);

class TFastDIB : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFastDIB)
  TFastDIB();
  void Dispose() override;

  void SetSize(int32_t Width, int32_t Height, int32_t BitCount);
  void SetSizeFromInfo(const TBitmapInfo& Info);
  // ExternalBits (not owned) or none; channel widths 0 mean the defaults of the bit count.
  void Allocate(uint8_t* ExternalBits, int32_t Width, int32_t Height, int32_t BitCount, int32_t RedBits,
                int32_t GreenBits, int32_t BlueBits);
  // Run-length data into the rows, from the first row in memory at column 0
  // (DecodeRunLength; faults end quietly).
  void DecodeRLE8(std::span<const uint8_t> Data);
  void DecodeRLE4(std::span<const uint8_t> Data);

  // Copies the rectangle 1:1 from the bits to a surface DC of the window
  // layer (24- and 32-bit DIBs; false for others or an unknown DC).
  bool Draw(platform::window::HDC DC, int32_t X, int32_t Y, int32_t W, int32_t H, int32_t SX, int32_t SY);
  // A 32-bit DIB blended over the DC's pixels by its alpha (other DIBs are
  // drawn as they are).
  bool AlphaDraw(platform::window::HDC DC, int32_t X, int32_t Y, int32_t W, int32_t H, int32_t SX, int32_t SY);

  int32_t Width() const { return Info.Header.biWidth; }
  int32_t Height() const { return Info.Header.biHeight; }
  int32_t BitCount() const { return Info.Header.biBitCount; }
  uint8_t* Row(int32_t i) const { return Rows[static_cast<size_t>(i)]; }

  std::function<void(TFastDIB*)> OnAllocate;
  int32_t Pitch = 0;
  int32_t AbsHeight = 0;
  int32_t Gap = 0;
  uint8_t* Bits = nullptr;
  uint32_t* Palette = nullptr;  // the colour table inside Info
  TBitmapInfo Info;
  uint8_t BlueBits = 0, GreenBits = 0, RedBits = 0;
  uint8_t BlueLoss = 0, GreenLoss = 0, RedLoss = 0;
  uint8_t GreenShift = 0, RedShift = 0;
  std::vector<uint8_t*> Rows;  // memory order: entry 0 is the first row in memory
  bool UseDibSection = true;   // kept for callers; memory is always plain here
  // False when the caller writes every pixel itself (a decoder): the memory
  // is then not cleared first, only the padding at the end of each row.
  bool ZeroFill = true;
  bool OwnsDC = false, OwnsBits = false, OwnsSection = false;

 private:
  void ReleaseMemory();
};

class TDibBitmap : public TSysBitmap {
 public:
  QEL_BITMAP_CLASS(TDibBitmap, TSysBitmap)
  TDibBitmap(TFastDIB* DIB, bool OwnsDIB, TPixelFormat* PixelFormat);
  void Dispose() override;
  TFastDIB* DIB = nullptr;
  bool OwnsDIB = false;
};

// The masks of the channel widths: blue lowest, then green, then red.
void BuildBitfieldMasks(int32_t Red, int32_t Green, int32_t Blue, uint32_t& RedMask, uint32_t& GreenMask,
                        uint32_t& BlueMask);
TPixelFormat* PixelFormatForBitCount(int32_t BitCount);
// The format that matches a DIB's memory: a 16-bit DIB with a 6-bit green channel is
// "R5G6B5", any other 16-bit DIB "X1R5G5B5"; other bit counts as PixelFormatForBitCount.
TPixelFormat* PixelFormatForDIB(const TFastDIB* DIB);
// The screen's colour depth; this platform's displays are always 32 bits.
int32_t ScreenBitCount();

TDibBitmap* CreateDibBitmap(int32_t Width, int32_t Height, int32_t BitCount);
TDibBitmap* CreateDibBitmapOf(TFastDIB* DIB, bool Owns);
TBitmap* CreateDefDibBitmap(int32_t Width, int32_t Height, TPixelFormat* PixelFormat, TBitmapClass RequiredClass,
                            TBitmap* Source, const TProgressMethod& Progress);

// One row of the alpha draw: source pixels (B, G, R, a) over 3-byte destination
// pixels: a = 0 keeps, a = 255 copies, else d - ((a x (d - s)) shr 8) with an
// arithmetic shift.
void AlphaDrawRow(uint8_t* Dest24, const uint8_t* Source32, int32_t Count);

void InitFastDIB();
void DoneFastDIB();

}  // namespace imaging
