#include "imaging/kvFastDIB.h"

#include <bit>
#include <cstdlib>
#include <cstring>

#include "imaging/ImagingAssert.h"

namespace imaging {

namespace {
TBitmapFactory g_savedFactory = nullptr;
bool g_started = false;

uint8_t Loss(int32_t bits) { return static_cast<uint8_t>(bits >= 8 ? 0 : 8 - bits); }
}  // namespace

int32_t ScreenBitCount() { return 32; }

void BuildBitfieldMasks(int32_t Red, int32_t Green, int32_t Blue, uint32_t& RedMask, uint32_t& GreenMask,
                        uint32_t& BlueMask) {
  auto ones = [](int32_t n) { return n >= 32 ? 0xFFFFFFFFu : n <= 0 ? 0u : ((1u << n) - 1); };
  BlueMask = ones(Blue);
  GreenMask = Blue >= 32 ? 0 : ones(Green) << Blue;
  const int32_t redShift = Blue + Green;
  if (Red + Green + Blue == 32)
    RedMask = redShift >= 32 ? 0 : ~0u << redShift;  // everything above green
  else
    RedMask = redShift >= 32 ? 0 : ones(Red) << redShift;
}

TFastDIB::TFastDIB() {
  Info = TBitmapInfo{};
  Info.Header.biSize = 40;
  Info.Header.biPlanes = 1;
  Palette = Info.Colors;
  UseDibSection = true;
}

void TFastDIB::ReleaseMemory() {
  if (OwnsBits) std::free(Bits);
  Bits = nullptr;
  OwnsBits = false;
  Rows.clear();
}

void TFastDIB::Dispose() {
  ReleaseMemory();
  foundation::TRefObject::Dispose();
}

void TFastDIB::SetSize(int32_t aWidth, int32_t aHeight, int32_t aBitCount) {
  Allocate(nullptr, aWidth, aHeight, aBitCount, 0, 0, 0);
}

void TFastDIB::SetSizeFromInfo(const TBitmapInfo& aInfo) {
  Info = aInfo;
  Palette = Info.Colors;
  TBitmapInfoHeader& h = Info.Header;
  if (h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4)
    h.biCompression = (Info.Colors[0] || Info.Colors[1] || Info.Colors[2]) ? BI_BITFIELDS : BI_RGB;
  int32_t r = 0, g = 0, b = 0;
  if ((h.biBitCount == 16 || h.biBitCount == 32) && h.biCompression == BI_BITFIELDS) {
    r = std::popcount(Info.Colors[0]);
    g = std::popcount(Info.Colors[1]);
    b = std::popcount(Info.Colors[2]);
  }
  const int32_t width = h.biWidth, height = h.biHeight, bits = h.biBitCount;
  // Force a fresh allocation: the header now describes the new size already.
  h.biWidth = 0;
  Allocate(nullptr, width, height, bits, r, g, b);
}

void TFastDIB::Allocate(uint8_t* ExternalBits, int32_t aWidth, int32_t aHeight, int32_t aBitCount, int32_t R,
                        int32_t G, int32_t B) {
  if (aBitCount == 0) {
    aBitCount = ScreenBitCount();
    R = G = B = 8;
  }
  if (aBitCount == 15) {  // 16-bit memory with 5-5-5 channels
    aBitCount = 16;
    R = G = B = 5;
  }
  IMG_ASSERT(aBitCount == 1 || aBitCount == 4 || aBitCount == 8 || aBitCount == 16 || aBitCount == 24 ||
                 aBitCount == 32,
             "Invalid DIB bit count");
  if (R || G || B) {
    Info.Header.biCompression = BI_BITFIELDS;
  } else {
    Info.Header.biCompression = BI_RGB;
    if (aBitCount == 16) R = G = B = 5;
    if (aBitCount == 32) R = G = B = 8;
  }
  if (aBitCount == 16 || aBitCount == 32) BuildBitfieldMasks(R, G, B, Info.Colors[0], Info.Colors[1], Info.Colors[2]);
  if (!ExternalBits && Bits && aWidth == Info.Header.biWidth && aHeight == Info.Header.biHeight &&
      aBitCount == Info.Header.biBitCount && R == RedBits && G == GreenBits && B == BlueBits)
    return;

  // Sizes in 64 bits, bounded before anything is allocated.
  const int64_t absHeight = aHeight < 0 ? -int64_t(aHeight) : int64_t(aHeight);
  IMG_ASSERT(BitmapSizeAllowed(aWidth, absHeight, aBitCount), "Invalid DIB size");
  const int64_t w = aWidth;
  int64_t pitch;
  switch (aBitCount) {
    case 1: pitch = ((w + 7) / 8 + 3) & ~int64_t(3); break;
    case 4: pitch = ((w * 4 + 7) / 8 + 3) & ~int64_t(3); break;
    case 8: pitch = ((w * 8 + 31) & ~int64_t(31)) / 8; break;
    case 16: pitch = ((w * 16 + 31) & ~int64_t(31)) / 8; break;
    case 24: pitch = (w * 3 + 3) & ~int64_t(3); break;
    default: pitch = w * 4; break;
  }
  const int64_t used = (w * aBitCount + 7) / 8;
  const int64_t imageSize = absHeight * pitch;
  IMG_ASSERT(imageSize <= 0xFFFFFFFFll, "Invalid DIB size");

  Info.Header.biWidth = aWidth;
  Info.Header.biHeight = aHeight;
  Info.Header.biBitCount = static_cast<uint16_t>(aBitCount);
  Info.Header.biSizeImage = static_cast<uint32_t>(imageSize);
  AbsHeight = static_cast<int32_t>(absHeight);
  Pitch = static_cast<int32_t>(pitch);
  Gap = static_cast<int32_t>(pitch - used);
  RedBits = static_cast<uint8_t>(R);
  GreenBits = static_cast<uint8_t>(G);
  BlueBits = static_cast<uint8_t>(B);
  RedLoss = Loss(R);
  GreenLoss = Loss(G);
  BlueLoss = Loss(B);
  GreenShift = static_cast<uint8_t>(B);
  RedShift = static_cast<uint8_t>(B + G);

  ReleaseMemory();
  if (ExternalBits) {
    Bits = ExternalBits;
  } else {
    // malloc of at least one byte, so an empty picture still has memory.
    Bits = static_cast<uint8_t*>(ZeroFill ? std::calloc(static_cast<size_t>(imageSize), 1)
                                          : std::malloc(static_cast<size_t>(std::max<int64_t>(imageSize, 1))));
    if (!Bits) throw std::bad_alloc();
    OwnsBits = true;
    if (!ZeroFill && Gap > 0)
      for (int64_t i = 0; i < absHeight; ++i) std::memset(Bits + i * pitch + used, 0, static_cast<size_t>(Gap));
  }
  Rows.resize(static_cast<size_t>(AbsHeight));
  for (int32_t i = 0; i < AbsHeight; ++i) Rows[size_t(i)] = Bits + size_t(i) * size_t(Pitch);
  if (OnAllocate) OnAllocate(this);
}

namespace {

// The writer of decoded run-length pixels, dropping what falls outside.
class RleWriter {
 public:
  RleWriter(std::span<uint8_t* const> rows, int32_t width, bool nibbles)
      : rows_(rows), width_(width), nibbles_(nibbles), total_(int64_t(width) * int64_t(rows.size())) {}
  bool Done() const { return row_ >= int64_t(rows_.size()); }
  // Whether n more pixels from here stay inside the picture (read in order).
  bool Fits(int64_t n) const { return row_ * width_ + x_ + n <= total_; }
  void Put(uint8_t v) {
    if (!Done() && x_ < width_) {
      uint8_t* r = rows_[static_cast<size_t>(row_)];
      if (nibbles_) {
        uint8_t& b = r[x_ / 2];
        b = (x_ & 1) ? static_cast<uint8_t>((b & 0xF0) | (v & 0x0F)) : static_cast<uint8_t>((b & 0x0F) | (v << 4));
      } else {
        r[x_] = v;
      }
    }
    ++x_;
  }
  void EndLine() {
    ++row_;
    x_ = 0;
  }
  void Move(uint8_t dx, uint8_t dy) {
    x_ += dx;
    row_ += dy;
  }

 private:
  std::span<uint8_t* const> rows_;
  int64_t width_;
  bool nibbles_;
  int64_t total_;
  int64_t x_ = 0;
  int64_t row_ = 0;
};

}  // namespace

TRunLengthEnd DecodeRunLength(std::span<const uint8_t> Data, bool Four, int32_t Width,
                              std::span<uint8_t* const> Rows, bool PackNibbles) {
  if (Rows.empty() || Width <= 0) return TRunLengthEnd::Complete;
  RleWriter out(Rows, Width, PackNibbles);
  TRunLengthEnd fault = TRunLengthEnd::Complete;
  auto overrun = [&] {
    if (fault == TRunLengthEnd::Complete) fault = TRunLengthEnd::Overrun;
  };
  size_t i = 0;
  const size_t n = Data.size();
  while (!out.Done()) {
    if (i + 1 >= n) return fault == TRunLengthEnd::Complete ? TRunLengthEnd::CutShort : fault;
    const uint8_t count = Data[i], value = Data[i + 1];
    i += 2;
    if (count > 0) {
      if (!out.Fits(count)) overrun();
      for (int k = 0; k < count; ++k) out.Put(Four ? ((k & 1) ? (value & 0x0F) : (value >> 4)) : value);
      continue;
    }
    switch (value) {
      case 0: out.EndLine(); break;
      case 1: return fault;
      case 2:
        if (i + 1 >= n) return fault == TRunLengthEnd::Complete ? TRunLengthEnd::CutShort : fault;
        out.Move(Data[i], Data[i + 1]);
        i += 2;
        break;
      default: {
        if (!out.Fits(value)) overrun();
        const size_t bytes = Four ? (size_t(value) + 1) / 2 : value;
        for (int k = 0; k < value; ++k) {
          const size_t at = i + (Four ? size_t(k) / 2 : size_t(k));
          // The data ends inside the literal run.
          if (at >= n) return fault == TRunLengthEnd::Complete ? TRunLengthEnd::CutShort : fault;
          out.Put(Four ? ((k & 1) ? (Data[at] & 0x0F) : (Data[at] >> 4)) : Data[at]);
        }
        i += bytes + (bytes & 1);  // literal runs are padded to 16 bits
        break;
      }
    }
  }
  return fault;
}

void TFastDIB::DecodeRLE8(std::span<const uint8_t> Data) { DecodeRunLength(Data, false, Width(), Rows, false); }
void TFastDIB::DecodeRLE4(std::span<const uint8_t> Data) { DecodeRunLength(Data, true, Width(), Rows, true); }

void AlphaDrawRow(uint8_t* d, const uint8_t* s, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i, d += 3, s += 4) {
    const int32_t a = s[3];
    if (a == 0) continue;
    if (a == 255) {
      std::memcpy(d, s, 3);
      continue;
    }
    // The shift rounds toward minus infinity, also for negative differences.
    for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>(d[c] - ((a * (int32_t(d[c]) - s[c])) >> 8));
  }
}

TPixelFormat* PixelFormatForBitCount(int32_t BitCount) {
  switch (BitCount) {
    case 8: return pfY8;
    case 15: return pfX1R5G5B5;
    case 16: return pfR5G6B5;
    case 24: return pfR8G8B8;
    case 32: return pfA8R8G8B8;
    default: ImagingAssertFail("Invalid bit count for a standard pixel format", __FILE__, __LINE__);
  }
}

TPixelFormat* PixelFormatForDIB(const TFastDIB* DIB) {
  if (DIB->BitCount() == 16) return DIB->GreenBits == 6 ? pfR5G6B5 : pfX1R5G5B5;
  return PixelFormatForBitCount(DIB->BitCount());
}

TDibBitmap::TDibBitmap(TFastDIB* aDIB, bool aOwns, TPixelFormat* aFormat) {
  IMG_ASSERT(aDIB && aFormat && aFormat->BitsPerPixel == aDIB->BitCount(), "Pixel Formats Not Compatible");
  const int32_t h = aDIB->AbsHeight;
  const bool topDown = aDIB->Height() < 0;
  TScanLines rows(static_cast<size_t>(h));
  // Row 0 is the top image row: the last row in memory of a bottom-up DIB.
  for (int32_t i = 0; i < h; ++i) rows[size_t(i)] = aDIB->Row(topDown ? i : h - 1 - i);
  if (h >= 2) {
    const ptrdiff_t step = rows[1] - rows[0];
    IMG_ASSERT(step == (topDown ? aDIB->Pitch : -aDIB->Pitch), "invalid pitch");
  }
  SetScanLines(TSize{aDIB->Width(), h}, aFormat, std::move(rows), topDown ? aDIB->Pitch : -aDIB->Pitch);
  DIB = aDIB;
  OwnsDIB = aOwns;
}

void TDibBitmap::Dispose() {
  if (OwnsDIB) foundation::FreeObj(DIB);
  DIB = nullptr;
  TSysBitmap::Dispose();
}

namespace {

// A new DIB whose memory matches the format: 16 bits carry 5-6-5 or 5-5-5 masks.
TFastDIB* NewDibFor(int32_t Width, int32_t Height, TPixelFormat* Format) {
  auto* dib = new TFastDIB;
  try {
    if (Format == pfR5G6B5)
      dib->Allocate(nullptr, Width, Height, 16, 5, 6, 5);
    else if (Format == pfX1R5G5B5)
      dib->Allocate(nullptr, Width, Height, 16, 5, 5, 5);
    else
      dib->SetSize(Width, Height, Format->BitsPerPixel);
  } catch (...) {
    dib->Free();
    throw;
  }
  return dib;
}

}  // namespace

TDibBitmap* CreateDibBitmap(int32_t Width, int32_t Height, int32_t BitCount) {
  TPixelFormat* f = PixelFormatForBitCount(BitCount);
  return new TDibBitmap(NewDibFor(Width, Height, f), true, f);
}

TDibBitmap* CreateDibBitmapOf(TFastDIB* DIB, bool Owns) { return new TDibBitmap(DIB, Owns, PixelFormatForDIB(DIB)); }

TBitmap* CreateDefDibBitmap(int32_t Width, int32_t Height, TPixelFormat* PixelFormat, TBitmapClass RequiredClass,
                            TBitmap* Source, const TProgressMethod& Progress) {
  const int32_t bits = PixelFormat ? PixelFormat->BitsPerPixel : 0;
  const bool standard = bits == 8 || bits == 16 || bits == 24 || bits == 32;
  if (RequiredClass == TDibBitmap::StaticClass() && standard && PixelFormatForBitCount(bits) == PixelFormat) {
    auto* b = new TDibBitmap(NewDibFor(Width, Height, PixelFormat), true, PixelFormat);
    b->Progress = Progress;
    if (Source) {
      try {
        b->CopyFrom(Source);
      } catch (...) {
        b->Free();
        throw;
      }
    }
    return b;
  }
  return g_savedFactory ? g_savedFactory(Width, Height, PixelFormat, RequiredClass, Source, Progress) : nullptr;
}

void InitFastDIB() {
  if (g_started) return;
  g_started = true;
  g_savedFactory = DefBitmapClass;
  DefBitmapClass = CreateDefDibBitmap;
}

void DoneFastDIB() {
  if (!g_started) return;
  g_started = false;
  DefBitmapClass = g_savedFactory;
}

}  // namespace imaging

namespace imaging {

namespace {

// A surface DC over a DIB's own bits for the time of one transfer.
struct DibDC {
  platform::window::HDC dc = 0;
  explicit DibDC(TFastDIB* d) {
    if (d->Bits && (d->BitCount() == 24 || d->BitCount() == 32))
      dc = platform::window::createSurfaceDC(d->Bits, d->Width(), d->AbsHeight, d->BitCount(), d->Pitch,
                                             d->Height() > 0);
  }
  ~DibDC() {
    if (dc) platform::window::deleteDC(dc);
  }
};

}  // namespace

bool TFastDIB::Draw(platform::window::HDC DC, int32_t X, int32_t Y, int32_t W, int32_t H, int32_t SX, int32_t SY) {
  DibDC src(this);
  return src.dc && platform::window::bitBlt(DC, X, Y, W, H, src.dc, SX, SY, platform::window::SRCCOPY);
}

bool TFastDIB::AlphaDraw(platform::window::HDC DC, int32_t X, int32_t Y, int32_t W, int32_t H, int32_t SX,
                         int32_t SY) {
  if (BitCount() != 32) return Draw(DC, X, Y, W, H, SX, SY);
  if (!ClipBitmapRects(X, Y, W, H, SX, SY, X + W, Y + H, Width(), AbsHeight)) return true;
  foundation::TRef<TFastDIB> tmp = foundation::MakeRef<TFastDIB>();
  tmp->SetSize(W, -H, 24);  // top-down, so row i is image row i
  DibDC t(tmp.Get());
  if (!t.dc || !platform::window::bitBlt(t.dc, 0, 0, W, H, DC, X, Y, platform::window::SRCCOPY)) return false;
  for (int32_t i = 0; i < H; ++i) {
    // Image rows from the top: a bottom-up DIB keeps row 0 last in memory.
    const int32_t srcRow = Height() > 0 ? AbsHeight - 1 - (SY + i) : SY + i;
    AlphaDrawRow(tmp->Row(i), Row(srcRow) + SX * 4, W);
  }
  return platform::window::bitBlt(DC, X, Y, W, H, t.dc, 0, 0, platform::window::SRCCOPY);
}

}  // namespace imaging
