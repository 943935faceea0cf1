#include "decoders/SysPng.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace decoders {

namespace {

using foundation::TStream;

const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

void ReadExactly(TStream* s, void* buffer, int64_t count) {
  if (count < 0 || s->ReadBuf(buffer, static_cast<int32_t>(count)) != count) throw foundation::EStreamReadError();
}

uint32_t BE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint16_t BE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

std::vector<TChunkClassEntry>& Registry() {
  static std::vector<TChunkClassEntry> list;
  return list;
}

template <class T>
TChunk* MakeChunk(TPNGObject* Owner) {
  return new T(Owner);
}

template <class T>
void RegisterChunk() {
  Registry().push_back({T::ClassName(), &MakeChunk<T>});
}

// Bytes of one filtered row of Width pixels (without the filter byte).
int64_t FilteredRowBytes(uint8_t colorType, uint8_t depth, int64_t width) {
  switch (colorType) {
    case 2: return width * depth * 3 / 8;
    case 4: return width * depth * 2 / 8;
    case 6: return width * depth * 4 / 8;
    default: return (width * depth + 7) / 8;
  }
}

int32_t PixelOffset(uint8_t colorType, uint8_t depth) {
  int32_t v = 1;
  switch (colorType) {
    case 0: v = depth == 16 ? 2 : 1; break;
    case 2: v = depth * 3 / 8; break;
    case 3: v = 1; break;
    case 4: v = depth / 4; break;
    case 6: v = depth / 2; break;
    default: break;
  }
  return std::max(v, 1);
}

}  // namespace

bool InflateAll(const uint8_t* data, size_t size, std::vector<uint8_t>& out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = static_cast<uInt>(size);
  out.clear();
  uint8_t buffer[16384];
  int r;
  do {
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    r = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
  } while (r == Z_OK);
  inflateEnd(&z);
  return r == Z_STREAM_END;
}

// ---- Lists -------------------------------------------------------------------

void* TPNGPointerList::GetItem(int32_t Index) const {
  return Index >= 0 && Index < Count() ? Items[static_cast<size_t>(Index)] : nullptr;
}

void TPNGPointerList::SetItem(int32_t Index, void* Value) {
  if (Index >= 0 && Index < Count()) Items[static_cast<size_t>(Index)] = Value;
}

void TPNGPointerList::SetCount(int32_t Value) { Items.resize(static_cast<size_t>(std::max(Value, 0)), nullptr); }

void* TPNGPointerList::Remove(void* Item) {
  auto it = std::find(Items.begin(), Items.end(), Item);
  if (it == Items.end()) return nullptr;
  Items.erase(it);
  return Item;
}

// ---- Chunks ----------------------------------------------------------------

TChunk::TChunk(TPNGObject* AOwner) : Data(1, 0), Owner(AOwner) {}

bool TChunk::LoadFromStream(TStream* Stream, const std::string& AName, int32_t Size) {
  // A length the stream cannot hold is a short read; nothing is allocated for it.
  const int64_t size = Stream->GetSize();
  if (Size < 0 || (size >= 0 && Size > size - Stream->GetPosition())) throw foundation::EStreamReadError();
  DataSize = Size;
  Data.assign(static_cast<size_t>(Size) + 1, 0);
  if (Size > 0) ReadExactly(Stream, Data.data(), Size);
  uint8_t crc[4];
  ReadExactly(Stream, crc, 4);
  return true;
}

bool TChunkIHDR::LoadFromStream(TStream* Stream, const std::string& AName, int32_t Size) {
  TChunk::LoadFromStream(Stream, AName, Size);
  if (DataSize < 13) TPNGObject::RaiseError<EPngInvalidIHDR>(pnglang::EPngInvalidIHDRText);
  const uint8_t* d = Data.data();
  Width = BE32(d);
  Height = BE32(d + 4);
  BitDepth = d[8];
  ColorType = d[9];
  CompressionMethod = d[10];
  FilterMethod = d[11];
  InterlaceMethod = d[12];
  if (Width > 65535 || Height > 65535) TPNGObject::RaiseError<EPNGSizeExceeds>(pnglang::EPngSizeExceedsText);
  if (CompressionMethod != 0) TPNGObject::RaiseError<EPNGUnknownCompression>(pnglang::EPngUnknownCompressionText);
  if (InterlaceMethod > 1) TPNGObject::RaiseError<EPNGUnknownInterlace>(pnglang::EPngUnknownInterlaceText);
  // Beyond the pixel cap, or more filtered data than the rest of the stream
  // could inflate to: refused before the picture is allocated.
  const int64_t pixels = int64_t(Width) * Height;
  const int64_t filtered = int64_t(Height) * (FilteredRowBytes(ColorType, BitDepth, Width) + 1);
  const int64_t streamSize = Stream->GetSize();
  if (pixels > (int64_t(1) << 28) ||
      (streamSize >= 0 && filtered > MaxInflateRatio * (streamSize - Stream->GetPosition()) + 65536))
    TPNGObject::RaiseError<EPNGSizeExceeds>(pnglang::EPngSizeExceedsText);
  Owner->InterlaceMethod = InterlaceMethod;
  // The planes wait for the image data: a header may promise far more than
  // a file without data (or with data that cannot be copied) ever fills.
  PngPrepareLayout(this);
  return true;
}

void PngPrepareImage(TChunkIHDR* h) {
  PngPrepareLayout(h);
  PngAllocatePlanes(h);
}

void PngPrepareLayout(TChunkIHDR* h) {
  h->Palette = {};
  h->ImageData.clear();
  h->ImageAlpha.clear();
  int32_t bits = 0;
  switch (h->ColorType) {
    case 0:
    case 3:
    case 4:
      if (h->BitDepth == 1 || h->BitDepth == 2 || h->BitDepth == 4 || h->BitDepth == 8)
        bits = h->BitDepth;
      else if (h->BitDepth == 16)
        bits = 8;
      h->HasPalette = true;
      break;
    case 2:
    case 6:
      bits = 24;
      h->HasPalette = false;
      break;
    default:
      break;
  }
  // No pixel layout: the picture cannot be made.
  if (bits == 0) TPNGObject::RaiseError<EPngInvalidIHDR>(pnglang::EPngInvalidIHDRText);
  h->BitsPerPixel = bits;
  h->BytesPerRow = ((int64_t(bits) * h->Width + 31) & ~int64_t(31)) / 8;
}

void PngAllocatePlanes(TChunkIHDR* h) {
  // An interlaced picture's passes, and packed pixels at depths below 8
  // copied pass by pass, fill the rows in pieces: they start cleared. The
  // rows of a plain picture are written whole, in order.
  const bool cleared = h->InterlaceMethod != 0;
  const size_t pictureBytes = static_cast<size_t>(h->BytesPerRow * h->Height);
  if (cleared)
    h->ImageData.assign(pictureBytes, 0);
  else
    h->ImageData.resize(pictureBytes);
  if (h->ColorType == 4 || h->ColorType == 6) {
    const size_t alphaBytes = static_cast<size_t>(int64_t(h->Width) * h->Height);
    if (cleared)
      h->ImageAlpha.assign(alphaBytes, 0);
    else
      h->ImageAlpha.resize(alphaBytes);
  }
}

bool TChunkgAMA::LoadFromStream(TStream* Stream, const std::string& AName, int32_t Size) {
  TChunk::LoadFromStream(Stream, AName, Size);
  // A gAMA chunk of the wrong size is ignored rather than read as the value 1,
  // which would turn every value below 255 black.
  if (DataSize != 4) return true;
  const uint32_t g = BE32(Data.data());
  if (g == 0) return true;
  const double x = 1.0 / (double(g) / 100000.0 * 2.2);
  for (int i = 0; i < 256; ++i) {
    const double a = i / 255.0;
    double p;
    if (x == 0)
      p = 1;
    else if (a == 0)
      p = 0;
    else
      p = std::exp(x * std::log(a));
    const double v = std::nearbyint(p * 255.0);
    const uint8_t b = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
    Owner->GammaTable[static_cast<size_t>(i)] = b;
    Owner->InverseGamma[b] = static_cast<uint8_t>(i);
  }
  return true;
}

bool TChunkPLTE::LoadFromStream(TStream* Stream, const std::string& AName, int32_t Size) {
  TChunk::LoadFromStream(Stream, AName, Size);
  if (DataSize % 3 != 0 || DataSize / 3 > 256) TPNGObject::RaiseError<EPNGInvalidPalette>(pnglang::EPngInvalidPaletteText);
  Count = DataSize / 3;
  TChunkIHDR* h = Owner->Header();
  const auto& g = Owner->GammaTable;
  for (int32_t i = 0; i < Count; ++i) {
    const uint8_t* t = Data.data() + i * 3;
    h->Palette[static_cast<size_t>(i)] = {g[t[2]], g[t[1]], g[t[0]], 0};
  }
  return true;
}

bool TChunktRNS::LoadFromStream(TStream* Stream, const std::string& AName, int32_t Size) {
  TChunk::LoadFromStream(Stream, AName, Size);
  if (DataSize > 256) TPNGObject::RaiseError<EPNGInvalidPalette>(pnglang::EPngInvalidPaletteText);
  PaletteValues.fill(255);
  std::memcpy(PaletteValues.data(), Data.data(), static_cast<size_t>(DataSize));
  BitTransparency = false;
  switch (Owner->Header()->ColorType) {
    case 0:
    case 2:
      BitTransparency = true;
      break;
    case 3: {
      int32_t below = 0;
      for (int32_t i = 0; i < DataSize; ++i) below += PaletteValues[static_cast<size_t>(i)] != 255;
      BitTransparency = below == 1;
      break;
    }
    default:
      break;
  }
  return true;
}

bool TChunktIME::LoadFromStream(TStream* Stream, const std::string& AName, int32_t Size) {
  TChunk::LoadFromStream(Stream, AName, Size);
  if (DataSize == 7) {
    Year = BE16(Data.data());
    Month = Data[2], Day = Data[3], Hour = Data[4], Minute = Data[5], Second = Data[6];
  }
  return true;
}

bool TChunktEXt::LoadFromStream(TStream* Stream, const std::string& AName, int32_t Size) {
  TChunk::LoadFromStream(Stream, AName, Size);
  if (DataSize > 2) {
    const char* d = reinterpret_cast<const char*>(Data.data());
    const size_t n = static_cast<size_t>(DataSize);
    const size_t zero = std::find(d, d + n, '\0') - d;
    Keyword.assign(d, zero);
    Text = zero < n ? std::string(d + zero + 1, n - zero - 1) : std::string();
  }
  return true;
}

bool TChunkzTXt::LoadFromStream(TStream* Stream, const std::string& AName, int32_t Size) {
  TChunktEXt::LoadFromStream(Stream, AName, Size);
  if (DataSize <= 3) return true;
  Text.clear();
  const size_t n = static_cast<size_t>(DataSize);
  const size_t method = Keyword.size() + 1;
  if (method >= n || Data[method] != 0) return true;
  std::vector<uint8_t> out;
  if (InflateAll(Data.data() + method + 1, n - method - 1, out)) Text.assign(out.begin(), out.end());
  return true;
}

// ---- Image data ---------------------------------------------------------------

namespace {

class TIdatDecoder {
 public:
  TIdatDecoder(TStream* s, TChunkIHDR* h, TPNGObject* owner, int32_t size)
      : s_(s), h_(h), owner_(owner), in_(65535) {
    endPos_ = s->GetPosition() + size;
  }
  ~TIdatDecoder() {
    if (init_) inflateEnd(&z_);
  }

  void Decode();
  int64_t EndPos() const { return endPos_; }

 private:
  int64_t ReadRow(uint8_t* dest, int64_t count);
  void Unfilter(uint8_t* row, const uint8_t* prev, int64_t n) const;
  void CopyRow(const uint8_t* src, int64_t y, int64_t x0, int64_t step, int64_t n);
  bool CanCopy() const;

  TStream* s_;
  TChunkIHDR* h_;
  TPNGObject* owner_;
  std::vector<uint8_t> in_;
  z_stream z_{};
  bool init_ = false;
  int64_t endPos_;
  int32_t offset_ = 1;
  bool keyed_ = false;
  bool identity_ = false;  // the gamma table changes nothing
  uint16_t key_[3] = {0, 0, 0};  // red, green, blue
};

int64_t TIdatDecoder::ReadRow(uint8_t* dest, int64_t count) {
  z_.next_out = dest;
  z_.avail_out = static_cast<uInt>(count);
  while (z_.avail_out > 0) {
    if (init_ && z_.avail_in == 0) {
      // zlib may still hold output from input it already took: drain it
      // before looking for more data, or a row that needs no more input would
      // read past the last image-data chunk.
      const uInt room = z_.avail_out;
      const int r = inflate(&z_, Z_NO_FLUSH);
      if (r == Z_STREAM_END) return count - z_.avail_out;
      if (r < 0 && r != Z_BUF_ERROR)
        TPNGObject::RaiseError<EPNGZLIBError>(std::string(pnglang::EPngZLIBErrorText) + zError(r));
      if (z_.avail_out != room) continue;
    }
    if (s_->GetPosition() >= endPos_ && z_.avail_in == 0) {
      // The current chunk is used up: the data goes on in the next IDAT chunk.
      uint8_t next[12];
      ReadExactly(s_, next, 12);
      if (std::memcmp(next + 8, "IDAT", 4) != 0)
        TPNGObject::RaiseError<EPNGMissingMultipleIDAT>(pnglang::EPngMissingMultipleIDATText);
      endPos_ = s_->GetPosition() + BE32(next + 4);
    }
    if (z_.avail_in == 0) {
      const int64_t want = std::min<int64_t>(endPos_ - s_->GetPosition(), static_cast<int64_t>(in_.size()));
      const int32_t got = want > 0 ? s_->ReadBuf(in_.data(), static_cast<int32_t>(want)) : 0;
      if (got <= 0) return count - z_.avail_out;
      z_.next_in = in_.data();
      z_.avail_in = static_cast<uInt>(got);
    }
    if (!init_) {
      const int r = inflateInit(&z_);
      if (r < 0) TPNGObject::RaiseError<EPNGZLIBError>(std::string(pnglang::EPngZLIBErrorText) + zError(r));
      init_ = true;
    }
    const int r = inflate(&z_, Z_NO_FLUSH);
    if (r < 0) TPNGObject::RaiseError<EPNGZLIBError>(std::string(pnglang::EPngZLIBErrorText) + zError(r));
    // The end of the compressed data, or data that asks for a dictionary:
    // nothing more will come out, so answer what arrived.
    if (r == Z_STREAM_END) return count - z_.avail_out;
    if (r == Z_NEED_DICT) TPNGObject::RaiseError<EPNGZLIBError>(std::string(pnglang::EPngZLIBErrorText) + zError(r));
  }
  return count;
}

#if defined(__SSE2__)
// Four-byte pixels: the bytes of one pixel are independent of each other, so
// they are filtered side by side in 16-bit lanes; each pixel still follows
// the one before it. Same results as the byte loops below.
namespace {

template <int bpp>
inline __m128i LoadPixel(const uint8_t* p) {
  uint32_t v = 0;
  std::memcpy(&v, p, bpp);
  return _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(v)), _mm_setzero_si128());
}

template <int bpp>
inline void StorePixel(uint8_t* p, __m128i v) {
  const uint32_t w = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
  std::memcpy(p, &w, bpp);
}

inline __m128i Abs16(__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x)); }

inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// Filter f (1, 3 or 4) over a row of n bytes, a whole number of pixels.
template <int bpp>
void UnfilterPixels(uint8_t f, uint8_t* r, const uint8_t* p, int64_t n) {
  const __m128i low = _mm_set1_epi16(0xFF);
  __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();  // left, upper left
  for (int64_t i = 0; i < n; i += bpp) {
    __m128i x = LoadPixel<bpp>(r + i);
    if (f == 1) {
      x = _mm_and_si128(_mm_add_epi16(x, a), low);
    } else {
      const __m128i b = LoadPixel<bpp>(p + i);
      if (f == 3) {
        x = _mm_and_si128(_mm_add_epi16(x, _mm_srli_epi16(_mm_add_epi16(a, b), 1)), low);
      } else {
        const __m128i pa = Abs16(_mm_sub_epi16(b, c)), pb = Abs16(_mm_sub_epi16(a, c));
        const __m128i pc = Abs16(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, c)));
        const __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
        const __m128i nearest =
            Select(_mm_cmpeq_epi16(pa, smallest), a, Select(_mm_cmpeq_epi16(pb, smallest), b, c));
        x = _mm_and_si128(_mm_add_epi16(x, nearest), low);
        c = b;
      }
    }
    StorePixel<bpp>(r + i, x);
    a = x;
  }
}

// Four-byte pixels only: three-byte ones run faster through the byte loops
// (their partial loads and stores of the pixel before cost more than the
// lanes save).
bool UnfilterWide(uint8_t f, uint8_t* r, const uint8_t* p, int64_t n, int bpp) {
  if (bpp != 4 || n % 4 != 0 || (f != 1 && f != 3 && f != 4)) return false;
  UnfilterPixels<4>(f, r, p, n);
  return true;
}

}  // namespace
#endif

void TIdatDecoder::Unfilter(uint8_t* row, const uint8_t* prev, int64_t n) const {
  const uint8_t f = row[0];
  uint8_t* r = row + 1;
  const uint8_t* p = prev + 1;
  const int64_t bpp = offset_;
#if defined(__SSE2__)
  if (UnfilterWide(f, r, p, n, static_cast<int>(bpp))) return;
#endif
  switch (f) {
    case 1:
      for (int64_t i = bpp; i < n; ++i) r[i] = static_cast<uint8_t>(r[i] + r[i - bpp]);
      break;
    case 2:
      for (int64_t i = 0; i < n; ++i) r[i] = static_cast<uint8_t>(r[i] + p[i]);
      break;
    case 3:
      for (int64_t i = 0; i < std::min(bpp, n); ++i) r[i] = static_cast<uint8_t>(r[i] + (p[i] >> 1));
      for (int64_t i = bpp; i < n; ++i) r[i] = static_cast<uint8_t>(r[i] + ((r[i - bpp] + p[i]) >> 1));
      break;
    case 4:
      for (int64_t i = 0; i < std::min(bpp, n); ++i) r[i] = static_cast<uint8_t>(r[i] + p[i]);
      for (int64_t i = bpp; i < n; ++i) {
        const int a = r[i - bpp], b = p[i], c = p[i - bpp];
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        const int pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        r[i] = static_cast<uint8_t>(r[i] + pred);
      }
      break;
    default:
      break;  // 0, and unknown types, leave the row as it is
  }
}

bool TIdatDecoder::CanCopy() const {
  const uint8_t d = h_->BitDepth;
  switch (h_->ColorType) {
    case 0:
    case 3: return d == 1 || d == 2 || d == 4 || d == 8 || d == 16;
    case 2:
    case 4:
    case 6: return d == 8 || d == 16;
    default: return false;
  }
}

void TIdatDecoder::CopyRow(const uint8_t* src, int64_t y, int64_t x0, int64_t step, int64_t n) {
  if (n <= 0) return;  // an empty picture has no rows to write
  uint8_t* pic = h_->PictureRow(y);
  uint8_t* alpha = h_->AlphaRow(y);
  const uint8_t* g = owner_->GammaTable.data();
  const uint8_t d = h_->BitDepth;
  switch (h_->ColorType) {
    case 0:
    case 3:
      if (d == 16) {
        for (int64_t i = 0, x = x0; i < n; ++i, x += step) pic[x] = src[i * 2];
      } else if (d == 8) {
        if (step == 1)
          std::memcpy(pic + x0, src, static_cast<size_t>(n));
        else
          for (int64_t i = 0, x = x0; i < n; ++i, x += step) pic[x] = src[i];
      } else if (step == 1 && x0 == 0) {
        std::memcpy(pic, src, static_cast<size_t>((n * d + 7) / 8));
      } else {
        const unsigned mask = (1u << d) - 1;
        for (int64_t i = 0, x = x0; i < n; ++i, x += step) {
          const int64_t sb = i * d, db = x * d;
          const unsigned v = (src[sb >> 3] >> (8 - d - (sb & 7))) & mask;
          pic[db >> 3] |= static_cast<uint8_t>(v << (8 - d - (db & 7)));
        }
      }
      if (keyed_ && alpha) {
        // The grey key is compared at the file's own depth, before any scaling.
        for (int64_t i = 0, x = x0; i < n; ++i, x += step) {
          unsigned v;
          if (d == 16)
            v = BE16(src + i * 2);
          else if (d == 8)
            v = src[i];
          else
            v = (src[(i * d) >> 3] >> (8 - d - ((i * d) & 7))) & ((1u << d) - 1);
          alpha[x] = v == key_[0] ? 0 : 255;
        }
      }
      break;
    case 2:
    case 6: {
      const int64_t sample = d / 8, px = sample * (h_->ColorType == 6 ? 4 : 3);
      if (sample == 1 && step == 1 && identity_ && !keyed_) {
        // Eight-bit samples without a gamma change: a plain reorder.
        uint8_t* o = pic + x0 * 3;
        if (h_->ColorType == 6) {
          uint8_t* a = alpha + x0;
          for (int64_t i = 0; i < n; ++i, src += 4, o += 3) {
            o[0] = src[2];
            o[1] = src[1];
            o[2] = src[0];
            a[i] = src[3];
          }
        } else {
          for (int64_t i = 0; i < n; ++i, src += 3, o += 3) {
            o[0] = src[2];
            o[1] = src[1];
            o[2] = src[0];
          }
        }
        break;
      }
      for (int64_t i = 0, x = x0; i < n; ++i, x += step) {
        const uint8_t* s = src + i * px;
        uint8_t* o = pic + x * 3;
        o[0] = g[s[2 * sample]];
        o[1] = g[s[sample]];
        o[2] = g[s[0]];
        if (h_->ColorType == 6) {
          alpha[x] = s[3 * sample];
        } else if (keyed_) {
          const uint16_t r = sample == 2 ? BE16(s) : s[0];
          const uint16_t gr = sample == 2 ? BE16(s + 2) : s[1];
          const uint16_t b = sample == 2 ? BE16(s + 4) : s[2];
          alpha[x] = (r == key_[0] && gr == key_[1] && b == key_[2]) ? 0 : 255;
        }
      }
      break;
    }
    case 4: {
      const int64_t sample = d / 8;
      for (int64_t i = 0, x = x0; i < n; ++i, x += step) {
        pic[x] = src[i * 2 * sample];
        alpha[x] = src[i * 2 * sample + sample];
      }
      break;
    }
    default:
      break;
  }
}

void TIdatDecoder::Decode() {
  const uint8_t type = h_->ColorType, depth = h_->BitDepth;
  // No copy routine for this colour type and depth: the file cannot load.
  if (!CanCopy()) TPNGObject::RaiseError<EPngInvalidIHDR>(pnglang::EPngInvalidIHDRText);
  offset_ = PixelOffset(type, depth);
  identity_ = true;
  for (int i = 0; i < 256 && identity_; ++i) identity_ = owner_->GammaTable[static_cast<size_t>(i)] == i;
  // A truecolour colour key becomes an alpha plane, so the key colour shows
  // as transparent instead of the picture being refused at conversion.
  // A greyscale key the same way.
  const int64_t width = h_->Width, height = h_->Height;
  const int64_t fullRow = FilteredRowBytes(type, depth, width);
  std::vector<uint8_t> a(static_cast<size_t>(fullRow + 1), 0), b(static_cast<size_t>(fullRow + 1), 0);
  uint8_t* cur = b.data();
  uint8_t* prev = a.data();
  // The planes are made once the data has given its first byte (the first
  // row's filter type, kept in the current row): image data that inflates
  // to nothing is no picture, and a header alone must not cost the memory
  // of the picture it promises.
  bool primed = false;
  if (width > 0 && height > 0) {
    if (ReadRow(cur, 1) <= 0) TPNGObject::RaiseError<EPNGNoImageData>(pnglang::EPngNoImageDataText);
    primed = true;
  }
  PngAllocatePlanes(h_);
  if (type == 0 || type == 2) {
    TChunktRNS* trns = owner_->Chunks.ItemFromClass<TChunktRNS>();
    const int32_t keyBytes = type == 0 ? 2 : 6;
    if (trns && trns->DataSize >= keyBytes) {
      keyed_ = true;
      for (int c = 0; c < keyBytes / 2; ++c) key_[c] = BE16(trns->Data.data() + 2 * c);
      h_->ImageAlpha.assign(static_cast<size_t>(int64_t(h_->Width) * h_->Height), 0);
    }
  }

  // Reads and unfilters one row; false when the data ended before it was
  // complete (a partial row is still kept, the rows after it stay zero).
  bool ended = false;
  auto readRow = [&](int64_t rowBytes) {
    const int64_t have = primed ? 1 : 0;
    primed = false;
    const int64_t got = have + ReadRow(cur + have, rowBytes + 1 - have);
    if (got <= 0) return false;
    if (got < rowBytes + 1) {
      std::memset(cur + got, 0, static_cast<size_t>(rowBytes + 1 - got));
      ended = true;
    }
    Unfilter(cur, prev, rowBytes);
    return true;
  };

  if (owner_->InterlaceMethod == 0) {
    int64_t y = 0;
    for (; y < height; ++y) {
      if (!readRow(fullRow)) break;
      CopyRow(cur + 1, y, 0, 1, width);
      if (ended) {
        ++y;
        break;
      }
      std::swap(cur, prev);
    }
    // Rows the data never reached are blank (their planes were not cleared).
    // A zero-width picture has no planes at all.
    if (y < height && width > 0) {
      std::memset(h_->PictureRow(y), 0, static_cast<size_t>(h_->BytesPerRow * (height - y)));
      if (uint8_t* alpha = h_->AlphaRow(y)) std::memset(alpha, 0, static_cast<size_t>(width * (height - y)));
    }
    return;
  }
  static const int kStart[7][2] = {{0, 0}, {0, 4}, {4, 0}, {0, 2}, {2, 0}, {0, 1}, {1, 0}};  // row, column
  static const int kStep[7][2] = {{8, 8}, {8, 8}, {8, 4}, {4, 4}, {4, 2}, {2, 2}, {2, 1}};
  for (int pass = 0; pass < 7; ++pass) {
    const int64_t colStart = kStart[pass][1], colStep = kStep[pass][1];
    const int64_t passWidth = std::max<int64_t>(0, (width + colStep - colStart - 1) / colStep);
    const int64_t rowBytes = FilteredRowBytes(type, depth, passWidth);
    std::memset(prev, 0, static_cast<size_t>(fullRow + 1));
    if (rowBytes == 0) continue;
    for (int64_t y = kStart[pass][0]; y < height; y += kStep[pass][0]) {
      if (!readRow(rowBytes)) return;
      CopyRow(cur + 1, y, colStart, colStep, passWidth);
      if (ended) return;
      std::swap(cur, prev);
    }
  }
}

}  // namespace

bool TChunkIDAT::LoadFromStream(TStream* Stream, const std::string& AName, int32_t Size) {
  if (Size < 0) throw foundation::EStreamReadError();
  TChunkIHDR* h = Owner->Header();
  TIdatDecoder decoder(Stream, h, Owner, Size);
  decoder.Decode();
  // The CRC after the last image-data chunk consumed.
  Stream->SetPosition(decoder.EndPos());
  uint8_t crc[4];
  ReadExactly(Stream, crc, 4);
  return true;
}

// ---- The PNG object -------------------------------------------------------------

TPNGObject::TPNGObject() : Chunks(this) { SetIdentityGamma(); }

TPNGObject::~TPNGObject() { ClearChunks(); }

void TPNGObject::SetIdentityGamma() {
  for (int i = 0; i < 256; ++i) GammaTable[static_cast<size_t>(i)] = InverseGamma[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
}

void TPNGObject::ClearChunks() {
  SetIdentityGamma();
  for (int32_t i = 0; i < Chunks.Count(); ++i) delete Chunks.Item(i);
  Chunks.SetCount(0);
}

TChunkIHDR* TPNGObject::Header() const {
  auto* h = dynamic_cast<TChunkIHDR*>(Chunks.Item(0));
  if (!h) RaiseError<EPNGHeaderNotPresent>(pnglang::EPngHeaderNotPresentText);
  return h;
}

int32_t TPNGObject::Width() const {
  auto* h = dynamic_cast<TChunkIHDR*>(Chunks.Item(0));
  return h ? static_cast<int32_t>(h->Width) : 0;
}

int32_t TPNGObject::Height() const {
  auto* h = dynamic_cast<TChunkIHDR*>(Chunks.Item(0));
  return h ? static_cast<int32_t>(h->Height) : 0;
}

void TPNGObject::LoadFromStream(TStream* Stream) {
  ClearChunks();
  uint8_t sig[8] = {};
  if (Stream->ReadBuf(sig, 8) != 8 || std::memcmp(sig, kSignature, 8) != 0)
    RaiseError<EPNGInvalidFileHeader>(pnglang::EPngInvalidFileHeaderText);
  bool hasImageData = false;
  for (bool first = true;; first = false) {
    uint8_t head[8];
    ReadExactly(Stream, head, 8);
    const uint32_t length = BE32(head);
    const std::string type(reinterpret_cast<const char*>(head + 4), 4);
    if (first && type != "IHDR") RaiseError<EPNGIHDRNotFirst>(pnglang::EPngIHDRNotFirstText);
    if (type == "cHRM" || (type == "IDAT" && hasImageData)) {
      Stream->SetPosition(Stream->GetPosition() + int64_t(length) + 4);
      continue;
    }
    if (type == "IDAT") hasImageData = true;
    TChunk* chunk = CreateChunkOfName(this, type);
    Chunks.Add(chunk);
    if (chunk->GetName().empty() && (head[4] & 0x20) == 0)
      RaiseError<EPNGUnknownCriticalChunk>(pnglang::EPngUnknownCriticalChunkText);
    if (length > 0x7FFFFFFF) throw foundation::EStreamReadError();
    if (!chunk->LoadFromStream(Stream, type, static_cast<int32_t>(length))) break;
    if (type == "IEND") break;
  }
  if (!hasImageData) RaiseError<EPNGNoImageData>(pnglang::EPngNoImageDataText);
}

// ---- Registry ----------------------------------------------------------------

const std::vector<TChunkClassEntry>& ChunkClasses() { return Registry(); }

TChunk* CreateChunkOfName(TPNGObject* Owner, const std::string& Name) {
  TChunk* c = nullptr;
  for (const TChunkClassEntry& e : Registry())
    if (e.Name == Name) {
      c = e.Create(Owner);
      break;
    }
  if (!c) c = new TChunk(Owner);
  c->Name = Name;
  return c;
}

void InitSysPng() {
  if (!Registry().empty()) return;
  RegisterChunk<TChunkIEND>();
  RegisterChunk<TChunkIHDR>();
  RegisterChunk<TChunkIDAT>();
  RegisterChunk<TChunkPLTE>();
  RegisterChunk<TChunkgAMA>();
  RegisterChunk<TChunktRNS>();
  RegisterChunk<TChunktIME>();
  RegisterChunk<TChunktEXt>();
  RegisterChunk<TChunkzTXt>();
}

void DoneSysPng() { Registry().clear(); }

}  // namespace decoders
