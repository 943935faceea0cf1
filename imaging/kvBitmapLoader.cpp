#include "imaging/kvBitmapLoader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>
#include <vector>

#include "foundation/SysObj.h"
#include "imaging/kvFastDIB.h"

namespace imaging {

namespace {

using foundation::TStream;

constexpr int64_t kMaxRlePixelsPerByte = 1024;

void ReadExactly(TStream* s, void* buffer, int32_t count) {
  if (s->ReadBuf(buffer, count) != count) throw foundation::EStreamReadError();
}

uint32_t Get32(const uint8_t* p) { return LoadU32(p); }

TBmpInfoHeader ReadInfoHeader(TStream* s) {
  uint8_t b[40];
  ReadExactly(s, b, 40);
  TBmpInfoHeader h;
  h.Size = Get32(b);
  h.Width = static_cast<int32_t>(Get32(b + 4));
  h.Height = static_cast<int32_t>(Get32(b + 8));
  h.Planes = LoadU16(b + 12);
  h.BitCount = LoadU16(b + 14);
  h.Compression = Get32(b + 16);
  h.SizeImage = Get32(b + 20);
  h.XPelsPerMeter = static_cast<int32_t>(Get32(b + 24));
  h.YPelsPerMeter = static_cast<int32_t>(Get32(b + 28));
  h.ClrUsed = Get32(b + 32);
  h.ClrImportant = Get32(b + 36);
  return h;
}

bool HeaderAccepted(const TBmpInfoHeader& h) {
  if (h.Planes != 1 || h.Width <= 0 || h.Height == 0 || h.Compression >= 6) return false;
  if (h.BitCount == 0 && h.Compression != 4 && h.Compression != 5) return false;
  return true;
}

// The format the bit count and compression give (none: refused); reads the
// colour table or the masks from the stream position.
struct TBmpLayout {
  TPixelFormat* Format = nullptr;
  std::vector<uint32_t> Table;  // colour entries as stored: blue, green, red, reserved
};

std::vector<uint32_t> ReadColourTable(TStream* s, const TBmpInfoHeader& h) {
  const uint32_t full = 1u << h.BitCount;
  uint32_t count = (h.ClrUsed == 0 || h.ClrUsed > full) ? full : h.ClrUsed;
  std::vector<uint8_t> raw(static_cast<size_t>(count) * 4);
  ReadExactly(s, raw.data(), static_cast<int32_t>(raw.size()));
  std::vector<uint32_t> table(full, 0);
  for (uint32_t i = 0; i < count; ++i) table[i] = Get32(raw.data() + i * 4);
  return table;
}

// Masks: from inside a header of 52 bytes or more (their place in the newer
// header versions), else from the stream position.
TPixelFormat* FormatFromMasks(TStream* s, const uint8_t* headerMasks) {
  uint8_t m[12];
  if (headerMasks)
    std::memcpy(m, headerMasks, 12);
  else
    ReadExactly(s, m, 12);
  const uint32_t green = Get32(m + 4);
  if (green == 0x03E0) return pfX1R5G5B5;
  if (green == 0x07E0) return pfR5G6B5;
  return nullptr;
}

TBmpLayout ChooseLayout(TStream* s, const TBmpInfoHeader& h, bool icon, const uint8_t* headerMasks) {
  TBmpLayout l;
  switch (h.BitCount) {
    case 1:
    case 4:
    case 8:
      l.Table = ReadColourTable(s, h);
      l.Format = icon ? pfA8R8G8B8 : pfR8G8B8;
      break;
    case 16:
      if (h.Compression == BI_RGB)
        l.Format = pfX1R5G5B5;
      else if (h.Compression == BI_BITFIELDS)
        l.Format = FormatFromMasks(s, headerMasks);
      break;
    case 24:
      l.Format = pfR8G8B8;
      break;
    case 32:
      if (h.Compression == BI_RGB || h.Compression == BI_BITFIELDS) l.Format = pfA8R8G8B8;
      break;
    default:
      break;
  }
  return l;
}

int64_t RowStride(int64_t width, int32_t bits) { return (int64_t(bits) * width + 31) / 32 * 4; }

// Bytes the file holds per row for the decoder (without the padding).
int64_t RowDataBytes(int64_t width, int32_t bits) { return (width * bits + 7) / 8; }

// Maps one row of packed indexes (most significant first) through the table.
void MapIndexRow(uint8_t* dest, const uint8_t* packed, int32_t width, int32_t bits, const std::vector<uint32_t>& table,
                 bool fourBytes) {
  const uint32_t mask = (1u << bits) - 1;
  for (int32_t x = 0; x < width; ++x) {
    const int64_t bit = int64_t(x) * bits;
    const uint32_t index = (packed[bit >> 3] >> (8 - bits - (bit & 7))) & mask;
    const uint32_t e = table[index];
    if (fourBytes) {
      StoreU32(dest + x * 4, e);
    } else {
      dest[x * 3] = static_cast<uint8_t>(e);
      dest[x * 3 + 1] = static_cast<uint8_t>(e >> 8);
      dest[x * 3 + 2] = static_cast<uint8_t>(e >> 16);
    }
  }
}

// Reads the uncompressed rows from RowsStart into the bitmap; false when a
// palette row is short.
bool ReadRows(TStream* s, TDirectBitmap* bmp, int64_t rowsStart, int64_t stride, int32_t bits, bool bottomUp,
              const std::vector<uint32_t>& table) {
  const int32_t width = bmp->Width, rows = bmp->Height;
  const bool indexed = bits <= 8;
  const int64_t rowRead = indexed ? RowDataBytes(width, bits) : int64_t(width) * (bits / 8);
  std::vector<uint8_t> packed(indexed ? static_cast<size_t>(rowRead) : 0);
  const bool fourBytes = bmp->PixelFormat->BytesPerPixel == 4;
  for (int32_t r = 0; r < rows; ++r) {
    s->SetPosition(rowsStart + int64_t(r) * stride);
    uint8_t* dest = bmp->Row(bottomUp ? rows - 1 - r : r);
    if (indexed) {
      if (s->ReadBuf(packed.data(), static_cast<int32_t>(rowRead)) != rowRead) return false;
      MapIndexRow(dest, packed.data(), width, bits, table, fourBytes);
    } else {
      // A short read leaves the rest of the row as it was.
      s->ReadBuf(dest, static_cast<int32_t>(rowRead));
    }
  }
  return true;
}

bool AllAlphaZero(TDirectBitmap* bmp) {
  for (int32_t y = 0; y < bmp->Height; ++y) {
    const TFColorA* row = bmp->Row32(y);
    for (int32_t x = 0; x < bmp->Width; ++x)
      if (row[x].A != 0) return false;
  }
  return true;
}

void SetAllOpaque(TDirectBitmap* bmp) {
  for (int32_t y = 0; y < bmp->Height; ++y) {
    TFColorA* row = bmp->Row32(y);
    for (int32_t x = 0; x < bmp->Width; ++x) row[x].A = 255;
  }
}

// The channel masks of 32-bit bit-field pixels (little-endian pixel values).
struct TChannelMasks {
  uint32_t Red = 0x00FF0000, Green = 0x0000FF00, Blue = 0x000000FF, Alpha = 0;
  // The layout the bitmap already has: blue, green, red, and the fourth byte
  // kept as stored.
  bool Standard() const {
    return Red == 0x00FF0000 && Green == 0x0000FF00 && Blue == 0x000000FF && (Alpha == 0 || Alpha == 0xFF000000);
  }
};

// One channel of a pixel value scaled to 8 bits; a mask of no bits gives 0.
struct TChannel {
  uint32_t Mask = 0;
  int Shift = 0;
  int Bits = 0;
  explicit TChannel(uint32_t mask) : Mask(mask) {
    if (mask == 0) return;
    Shift = std::countr_zero(mask);
    Bits = std::popcount(mask);
  }
  uint8_t Of(uint32_t v) const {
    if (Bits == 0) return 0;
    const uint32_t x = (v & Mask) >> Shift;
    if (Bits >= 8) return static_cast<uint8_t>(x >> (Bits - 8));
    const uint32_t top = (1u << Bits) - 1;
    return static_cast<uint8_t>(std::min<uint32_t>(x, top) * 255 / top);
  }
};

// Rewrites 32-bit pixels read as stored into blue, green, red, alpha; without
// an alpha mask the pixels are opaque.
void ApplyMasks(TDirectBitmap* bmp, const TChannelMasks& m) {
  const TChannel r(m.Red), g(m.Green), b(m.Blue), a(m.Alpha);
  for (int32_t y = 0; y < bmp->Height; ++y) {
    uint8_t* row = bmp->Row(y);
    for (int32_t x = 0; x < bmp->Width; ++x) {
      const uint32_t v = LoadU32(row + x * 4);
      row[x * 4] = b.Of(v);
      row[x * 4 + 1] = g.Of(v);
      row[x * 4 + 2] = r.Of(v);
      row[x * 4 + 3] = m.Alpha ? a.Of(v) : 255;
    }
  }
}

// Run-length decoding into Rows x Width indexes (row 0 first as stored),
// through the DIB's decoder; only codes that end properly and stay inside
// the picture are a picture.
bool DecodeRle(const std::vector<uint8_t>& data, bool rle4, int32_t width, int32_t rows, std::vector<uint8_t>& out) {
  out.assign(static_cast<size_t>(int64_t(width) * rows), 0);
  std::vector<uint8_t*> rowStarts(static_cast<size_t>(rows));
  for (int32_t r = 0; r < rows; ++r) rowStarts[size_t(r)] = out.data() + int64_t(r) * width;
  return DecodeRunLength(data, rle4, width, rowStarts, false) == TRunLengthEnd::Complete;
}

}  // namespace

TDirectBitmap* LoadBmpStream(foundation::TStream* Stream, bool ForceOpaque) {
  const int64_t start = Stream->GetPosition();
  const int64_t size = Stream->GetSize();
  if (size - start < 14) return nullptr;
  uint8_t fh[14];
  ReadExactly(Stream, fh, 14);
  if (LoadU16(fh) != 0x4D42) return nullptr;
  const int64_t fileSize = Get32(fh + 2);
  const int64_t dataOffset = Get32(fh + 10);
  if (size - start < fileSize) return nullptr;
  if (size - Stream->GetPosition() < 40) return nullptr;
  const TBmpInfoHeader h = ReadInfoHeader(Stream);
  if (!HeaderAccepted(h)) return nullptr;

  const int64_t width = h.Width;
  const int64_t rows = h.Height < 0 ? -int64_t(h.Height) : int64_t(h.Height);
  if (!BitmapSizeAllowed(width, rows, 32)) return nullptr;

  // In headers of 52 bytes or more the masks are the header's own fields.
  uint8_t headerMasks[12];
  const uint8_t* masksInHeader = nullptr;
  if (h.BitCount == 16 && h.Compression == BI_BITFIELDS && h.Size >= 52) {
    ReadExactly(Stream, headerMasks, 12);
    masksInHeader = headerMasks;
  }
  // 32-bit pixels under bit-field masks: any order of the channels, the
  // alpha mask only in headers of 56 bytes or more.
  TChannelMasks masks32;
  if (h.BitCount == 32 && h.Compression == BI_BITFIELDS) {
    uint8_t m[16] = {};
    if (h.Size >= 52) {
      Stream->SetPosition(start + 14 + 40);
      ReadExactly(Stream, m, h.Size >= 56 ? 16 : 12);
    } else {
      Stream->SetPosition(start + 14 + int64_t(h.Size));
      ReadExactly(Stream, m, 12);
    }
    masks32 = TChannelMasks{Get32(m), Get32(m + 4), Get32(m + 8), Get32(m + 12)};
  }
  Stream->SetPosition(start + 14 + int64_t(h.Size));
  TBmpLayout layout = ChooseLayout(Stream, h, false, masksInHeader);
  if (!layout.Format) return nullptr;
  const int32_t bits = h.BitCount;
  const bool bottomUp = h.Height > 0;

  if (h.Compression == BI_RLE8 || h.Compression == BI_RLE4) {
    if ((h.Compression == BI_RLE8 && bits != 8) || (h.Compression == BI_RLE4 && bits != 4)) return nullptr;
    if (start + dataOffset > size) return nullptr;
    // Runs may leave parts of a picture blank, but encoders write a code for
    // every run of at most 255 pixels and a line end per row (about 128 pixels
    // a byte at best); a claim of more than 1,024 pixels a byte is refused
    // before anything is allocated.
    if (width * rows > kMaxRlePixelsPerByte * (size - (start + dataOffset)) + 65536) return nullptr;
    Stream->SetPosition(start + dataOffset);
    // Codes never need more than four bytes a pixel (a one-pixel delta) plus
    // a line end a row; more is not read.
    const int64_t most = 4 * width * rows + 4 * rows + 16;
    std::vector<uint8_t> data(static_cast<size_t>(std::min(size - (start + dataOffset), most)));
    if (!data.empty() && Stream->ReadBuf(data.data(), static_cast<int32_t>(data.size())) != int32_t(data.size()))
      return nullptr;
    std::vector<uint8_t> indexes;
    if (!DecodeRle(data, h.Compression == BI_RLE4, h.Width, static_cast<int32_t>(rows), indexes)) return nullptr;
    auto g = foundation::MakeRef<TDirectBitmap>(h.Width, static_cast<int32_t>(rows), pfR8G8B8);
    for (int32_t r = 0; r < rows; ++r) {
      uint8_t* dest = g->Row(bottomUp ? static_cast<int32_t>(rows) - 1 - r : r);
      const uint8_t* src = indexes.data() + int64_t(r) * width;
      for (int32_t x = 0; x < width; ++x) {
        const uint32_t e = layout.Table[src[x] & ((1u << bits) - 1)];
        dest[x * 3] = static_cast<uint8_t>(e);
        dest[x * 3 + 1] = static_cast<uint8_t>(e >> 8);
        dest[x * 3 + 2] = static_cast<uint8_t>(e >> 16);
      }
    }
    return g.Detach();
  }

  // Uncompressed rows: every row must lie within the stream before anything is allocated.
  const int64_t stride = RowStride(width, bits);
  if (start + dataOffset + (rows - 1) * stride + RowDataBytes(width, bits) > size) return nullptr;
  auto g = foundation::MakeRef<TDirectBitmap>(h.Width, static_cast<int32_t>(rows), layout.Format);
  if (!ReadRows(Stream, g.Get(), start + dataOffset, stride, bits, bottomUp, layout.Table)) return nullptr;
  if (!masks32.Standard()) ApplyMasks(g.Get(), masks32);
  if (ForceOpaque && layout.Format == pfA8R8G8B8 && AllAlphaZero(g.Get())) SetAllOpaque(g.Get());
  return g.Detach();
}

TDirectBitmap* LoadIconDIB(foundation::TStream* Stream) {
  const TBmpInfoHeader h = ReadInfoHeader(Stream);
  if (!HeaderAccepted(h)) return nullptr;
  const int32_t halfHeight = h.Height / 2;
  if (halfHeight == 0) return nullptr;
  const int64_t width = h.Width;
  const int64_t rows = halfHeight < 0 ? -int64_t(halfHeight) : int64_t(halfHeight);
  if (!BitmapSizeAllowed(width, rows, 32)) return nullptr;
  TBmpLayout layout = ChooseLayout(Stream, h, true, nullptr);
  if (!layout.Format) return nullptr;
  const int32_t bits = h.BitCount;
  const int64_t rowsStart = Stream->GetPosition();
  const int64_t stride = RowStride(width, bits);
  if (rowsStart + (rows - 1) * stride + RowDataBytes(width, bits) > Stream->GetSize()) return nullptr;

  auto g = foundation::MakeRef<TDirectBitmap>(h.Width, static_cast<int32_t>(rows), layout.Format);
  if (!ReadRows(Stream, g.Get(), rowsStart, stride, bits, halfHeight > 0, layout.Table)) return nullptr;
  if (layout.Format != pfA8R8G8B8) {
    auto converted = foundation::MakeRef<TDirectBitmap>(h.Width, static_cast<int32_t>(rows), pfA8R8G8B8);
    converted->CopyFrom(g.Get());
    std::swap(g, converted);
  }
  if (bits < 32 || AllAlphaZero(g.Get())) {
    const int64_t maskStride = (width + 31) / 32 * 4;
    std::vector<uint8_t> mask(static_cast<size_t>(maskStride));
    Stream->SetPosition(rowsStart + rows * stride);
    for (int32_t r = 0; r < rows; ++r) {
      std::fill(mask.begin(), mask.end(), 0);
      const int32_t got = Stream->ReadBuf(mask.data(), static_cast<int32_t>(maskStride));
      if (got <= 0) break;
      TFColorA* row = g->Row32(static_cast<int32_t>(rows) - 1 - r);
      const int64_t usable = std::min<int64_t>(width, int64_t(got) * 8);
      for (int64_t x = 0; x < usable; ++x)
        row[x].A = ((mask[static_cast<size_t>(x >> 3)] >> (7 - (x & 7))) & 1) ? 0 : 255;
      if (got < maskStride) break;
    }
  }
  return g.Detach();
}

}  // namespace imaging
