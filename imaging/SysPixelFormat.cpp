#include "imaging/SysPixelFormat.h"

#include <algorithm>
#include <cstring>

#include "foundation/kpExceptions.h"
#include "foundation/kvByteStringUtils.h"
#include "imaging/ImagingAssert.h"

namespace imaging {

TPixelFormatFactory PixelFormatHook = nullptr;
TPixelConverterFactory ConverterHook = nullptr;

TPixelFormat* pfY8 = nullptr;
TPixelFormat* pfA8 = nullptr;
TPixelFormat* pfR8G8B8 = nullptr;
TPixelFormat* pfA8R8G8B8 = nullptr;
TPixelFormat* pfA16R16G16B16 = nullptr;
TPixelFormat* pfB8G8R8 = nullptr;
TPixelFormat* pfA8B8G8R8 = nullptr;
TPixelFormat* pfR5G6B5 = nullptr;
TPixelFormat* pfX1R5G5B5 = nullptr;
TPixelFormat* pfX8B8G8R8 = nullptr;
TPixelFormat* pfA8r8g8b8 = nullptr;
TPixelFormat* pfA8b8g8r8 = nullptr;

TPixelFormat* PixelFormatByName(const std::u16string& Name) {
  return PixelFormatHook ? PixelFormatHook(Name) : nullptr;
}

TPixelConverter* PixelConverter(TPixelFormat* Destination, TPixelFormat* Source) {
  return ConverterHook ? ConverterHook(Destination, Source) : nullptr;
}

namespace {

constexpr int kBuckets = 16;
std::atomic<TCommonPixelFormat*> g_buckets[kBuckets];
std::mutex g_registryLock;
bool g_started = false;

uint32_t NameHash(const std::string& s) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
  return foundation::HashUtf8(bytes, s.size(), 0, static_cast<int>(s.size()));
}

uint8_t KindOfLetter(char c) {
  switch (c) {
    case 'R': return 1;
    case 'G': return 2;
    case 'B': return 3;
    case 'A': case 'Y': return 4;
    default: return 0;
  }
}

}  // namespace

bool ParsePixelFormatName(const std::string& Name, TPartList& Parts) {
  Parts.clear();
  TPartList named;
  bool pending = false;
  TPixelPart part;
  size_t i = 0;
  while (i < Name.size()) {
    char c = Name[i];
    if (c >= '0' && c <= '9') {
      if (!pending) return false;
      int64_t n = 0;
      while (i < Name.size() && Name[i] >= '0' && Name[i] <= '9') {
        n = n * 10 + (Name[i] - '0');
        if (n > 0x7FFFFFFF) return false;
        ++i;
      }
      if (n == 0) return false;
      part.Bits = static_cast<int32_t>(n);
      named.push_back(part);
      pending = false;
      continue;
    }
    char upper = c;
    bool premul = false;
    if (c == 'r' || c == 'g' || c == 'b' || c == 'y') {
      upper = static_cast<char>(c - 'a' + 'A');
      premul = true;
    } else if (c != 'R' && c != 'G' && c != 'B' && c != 'A' && c != 'Y' && c != 'X') {
      return false;
    }
    part = TPixelPart{};
    part.Letter = c;
    part.Premultiplied = premul;
    part.Kind = upper == 'X' ? 0 : KindOfLetter(upper);
    pending = true;
    ++i;
  }
  if (named.empty()) return false;
  Parts.assign(named.rbegin(), named.rend());
  return true;
}

TCommonPixelFormat::TCommonPixelFormat(const std::string& aName) {
  Name = aName;
  bool ok = ParsePixelFormatName(aName, Parts);
  IMG_ASSERT(ok, "");
  int64_t bits = 0;
  for (const TPixelPart& p : Parts) {
    bits += p.Bits;
    if (p.Kind >= 1 && p.Kind <= 3) HasColor = true;
    if (p.Kind == 4 && p.Letter == 'A') HasAlpha = true;
    if (p.Kind == 4 && (p.Letter == 'Y' || p.Letter == 'y')) HasLuminance = true;
    if (p.Premultiplied) Premultiplied = true;
    if (p.Bits % 8 != 0) NonByteAligned = true;
  }
  IMG_ASSERT(bits <= 0x7FFFFFFF, "");
  BitsPerPixel = static_cast<int32_t>(bits);
  BytesPerPixel = (BitsPerPixel - 1) / 8 + 1;
}

void TCommonPixelFormat::Dispose() {
  TConvertOperator* c = ConverterHead.exchange(nullptr);
  while (c) {
    TConvertOperator* next = c->Next;
    c->Free();
    c = next;
  }
  TPixelFormat::Dispose();
}

TPixelFormat* TCommonPixelFormat::FindOrCreate(const std::u16string& Name) {
  return LookupPixelFormat(foundation::MessageToUtf8(Name));
}

TCommonPixelFormat* LookupPixelFormat(const std::string& Name) {
  auto& bucket = g_buckets[NameHash(Name) & (kBuckets - 1)];
  TCommonPixelFormat* head = bucket.load(std::memory_order_acquire);
  for (TCommonPixelFormat* p = head; p; p = p->Next.load(std::memory_order_acquire))
    if (p->Name == Name) return p;
  std::lock_guard<std::mutex> guard(g_registryLock);
  TCommonPixelFormat* newHead = bucket.load(std::memory_order_acquire);
  for (TCommonPixelFormat* p = newHead; p != head; p = p->Next.load(std::memory_order_acquire))
    if (p->Name == Name) return p;
  auto* format = new TCommonPixelFormat(Name);
  format->Next.store(newHead, std::memory_order_relaxed);
  bucket.store(format, std::memory_order_release);
  return format;
}

TCommonPixelFormat* AsCommonPixelFormat(TPixelFormat* Format) {
  if (!Format) return nullptr;
  if (auto* common = dynamic_cast<TCommonPixelFormat*>(Format)) return common;
  return LookupPixelFormat(Format->Name);
}

TConvertOperator* CreatePixelConverter(TCommonPixelFormat* Destination, TCommonPixelFormat* Source,
                                       TConvertOperator* Next) {
  TConvertOperator* c;
  if (Destination == Source)
    c = new TDirectConvertor(Source->BytesPerPixel);
  else if (Destination->NonByteAligned || Source->NonByteAligned)
    c = new TBitConvertor(Destination, Source);
  else
    c = new TByteConvertor(Destination, Source);
  c->Destination = Destination;
  c->Next = Next;
  return c;
}

TPixelConverter* GetPixelConverter(TPixelFormat* Destination, TPixelFormat* Source) {
  TCommonPixelFormat* dest = AsCommonPixelFormat(Destination);
  TCommonPixelFormat* src = AsCommonPixelFormat(Source);
  if (!dest || !src) return nullptr;
  TConvertOperator* head = src->ConverterHead.load(std::memory_order_acquire);
  for (TConvertOperator* c = head; c; c = c->Next)
    if (c->Destination == dest) return c;
  std::lock_guard<std::mutex> guard(src->Lock);
  TConvertOperator* newHead = src->ConverterHead.load(std::memory_order_acquire);
  for (TConvertOperator* c = newHead; c != head; c = c->Next)
    if (c->Destination == dest) return c;
  TConvertOperator* c = CreatePixelConverter(dest, src, newHead);
  src->ConverterHead.store(c, std::memory_order_release);
  return c;
}

TPixelConverter* PixelConverterHook(TPixelFormat* Destination, TPixelFormat* Source) {
  return GetPixelConverter(Destination, Source);
}

void RegisterPixelConverter(TPixelFormat* Destination, TPixelFormat* Source, TConvertOperator* Converter) {
  IMG_ASSERT(Converter && !Converter->Destination, "");
  TCommonPixelFormat* dest = AsCommonPixelFormat(Destination);
  TCommonPixelFormat* src = AsCommonPixelFormat(Source);
  IMG_ASSERT(dest && src, "");
  std::lock_guard<std::mutex> guard(src->Lock);
  Converter->Destination = dest;
  Converter->Next = src->ConverterHead.load(std::memory_order_relaxed);
  src->ConverterHead.store(Converter, std::memory_order_release);
}

// ---- array forms -------------------------------------------------------------

void TConvertOperator::Convert8(uint8_t* Dest, const uint8_t* Source, int32_t DestOffset, int32_t SourceOffset,
                                int32_t Count) {
  Convert(Dest + DestOffset, Source + SourceOffset, Count);
}
void TConvertOperator::Convert16(uint16_t* Dest, const uint8_t* Source, int32_t DestOffset,
                                 int32_t SourceOffset, int32_t Count) {
  Convert(Dest + DestOffset, Source + SourceOffset, Count);
}
void TConvertOperator::Convert24(TFColor* Dest, const uint8_t* Source, int32_t DestOffset, int32_t SourceOffset,
                                 int32_t Count) {
  Convert(Dest + DestOffset, Source + SourceOffset, Count);
}
void TConvertOperator::Convert32(TFColorA* Dest, const uint8_t* Source, int32_t DestOffset,
                                 int32_t SourceOffset, int32_t Count) {
  Convert(Dest + DestOffset, Source + SourceOffset, Count);
}

// ---- generic converters --------------------------------------------------------

void TDirectConvertor::Convert(void* Dest, const void* Source, int32_t Count) {
  if (Count > 0) std::memmove(Dest, Source, static_cast<size_t>(Count) * static_cast<size_t>(bpp_));
}

namespace {

// The channel of each kind that a format names first (the last in stored order).
void ChannelOfKind(const TPartList& parts, int kind, int32_t& index) {
  index = -1;
  for (size_t i = 0; i < parts.size(); ++i)
    if (parts[i].Kind == kind) index = static_cast<int32_t>(i);
}

// A source channel value of s bits at d bits: 0 stays 0; widening fills the
// new low bits with ones, narrowing drops the low bits.
uint32_t MapChannelValue(uint32_t v, int32_t s, int32_t d) {
  if (v == 0 || d == s) return v;
  if (d < s) return v >> (s - d);
  return static_cast<uint32_t>((uint64_t(v) << (d - s)) | ((uint64_t(1) << (d - s)) - 1));
}

// Channels wider than this are mapped per pixel instead of through a table.
constexpr int32_t kMaxSegmentBits = 16;

}  // namespace

TByteConvertor::TByteConvertor(TCommonPixelFormat* Destination, TCommonPixelFormat* Source) {
  std::vector<int32_t> srcPos(Source->Parts.size());
  int32_t pos = 0;
  for (size_t i = 0; i < Source->Parts.size(); ++i) {
    srcPos[i] = pos;
    pos += Source->Parts[i].Bits / 8;
  }
  sourceStep_ = Source->BytesPerPixel;
  int32_t srcIndex[5];
  for (int k = 1; k <= 4; ++k) ChannelOfKind(Source->Parts, k, srcIndex[k]);
  pos = 0;
  for (const TPixelPart& p : Destination->Parts) {
    Slot s{};
    s.DestPos = pos;
    s.DestBytes = p.Bits / 8;
    pos += s.DestBytes;
    s.SourcePos = -1;
    s.SourceBytes = 0;
    s.Default = p.Kind == 4 ? 0xFF : 0;
    if (p.Kind != 0 && srcIndex[p.Kind] >= 0) {
      s.SourcePos = srcPos[srcIndex[p.Kind]];
      s.SourceBytes = Source->Parts[srcIndex[p.Kind]].Bits / 8;
    }
    if (s.DestBytes != 1 || (s.SourcePos >= 0 && s.SourceBytes != 1)) allBytes_ = false;
    slots_.push_back(s);
  }
  destStep_ = Destination->BytesPerPixel;
}

namespace {

// The byte mapping with the pixel sizes known at compile time, so the loop unrolls.
template <int DS, int SS>
void MapBytes(uint8_t* d, const uint8_t* s, int32_t count, const int32_t* from, const uint8_t* def) {
  for (int32_t i = 0; i < count; ++i, d += DS, s += SS)
    for (int k = 0; k < DS; ++k) d[k] = from[k] >= 0 ? s[from[k]] : def[k];
}

// Four bytes to four bytes as one 32-bit word per pixel: every output byte is
// a shifted, masked source byte or a constant, so the loop has no branches and
// no per-pixel table reads (the compiler turns it into vector shifts).
void MapWords(uint8_t* d, const uint8_t* s, int32_t count, const int32_t* from, const uint8_t* def) {
  uint32_t shift[4], mask[4], constant = 0;
  for (int k = 0; k < 4; ++k) {
    shift[k] = from[k] >= 0 ? uint32_t(8 * from[k]) : 0;
    mask[k] = from[k] >= 0 ? 0xFFu : 0u;
    if (from[k] < 0) constant |= uint32_t(def[k]) << (8 * k);
  }
  for (int32_t i = 0; i < count; ++i) {
    const uint32_t v = LoadU32(s + 4 * size_t(i));
    const uint32_t w = constant | ((v >> shift[0]) & mask[0]) | (((v >> shift[1]) & mask[1]) << 8) |
                       (((v >> shift[2]) & mask[2]) << 16) | (((v >> shift[3]) & mask[3]) << 24);
    StoreU32(d + 4 * size_t(i), w);
  }
}

}  // namespace

void TByteConvertor::Convert(void* Dest, const void* Source, int32_t Count) {
  auto* d = static_cast<uint8_t*>(Dest);
  auto* s = static_cast<const uint8_t*>(Source);
  const size_t n = slots_.size();
  if (allBytes_ && static_cast<int32_t>(n) == destStep_ && (destStep_ == 3 || destStep_ == 4) &&
      (sourceStep_ == 3 || sourceStep_ == 4)) {
    int32_t from[4] = {-1, -1, -1, -1};
    uint8_t def[4] = {0, 0, 0, 0};
    for (size_t k = 0; k < n; ++k) {
      from[slots_[k].DestPos] = slots_[k].SourcePos;
      def[slots_[k].DestPos] = static_cast<uint8_t>(slots_[k].Default);
    }
    if (destStep_ == 4 && sourceStep_ == 4)
      MapWords(d, s, Count, from, def);
    else if (destStep_ == 4)
      MapBytes<4, 3>(d, s, Count, from, def);
    else if (sourceStep_ == 4)
      MapBytes<3, 4>(d, s, Count, from, def);
    else
      MapBytes<3, 3>(d, s, Count, from, def);
    return;
  }
  if (allBytes_) {
    for (int32_t i = 0; i < Count; ++i) {
      for (size_t k = 0; k < n; ++k) {
        const Slot& sl = slots_[k];
        d[sl.DestPos] = sl.SourcePos >= 0 ? s[sl.SourcePos] : static_cast<uint8_t>(sl.Default);
      }
      d += destStep_;
      s += sourceStep_;
    }
    return;
  }
  // Wider channels: destination byte k counted from the most significant
  // takes source byte (k mod source width) from the most significant, which
  // scales 16 to 8 bits by v shr 8 and 8 to 16 bits by v x 257.
  for (int32_t i = 0; i < Count; ++i) {
    for (size_t k = 0; k < n; ++k) {
      const Slot& sl = slots_[k];
      for (int32_t b = 0; b < sl.DestBytes; ++b) {
        uint8_t v = sl.SourcePos >= 0 ? s[sl.SourcePos + sl.SourceBytes - 1 - (b % sl.SourceBytes)]
                                      : static_cast<uint8_t>(sl.Default);
        d[sl.DestPos + sl.DestBytes - 1 - b] = v;
      }
    }
    d += destStep_;
    s += sourceStep_;
  }
}

TBitConvertor::TBitConvertor(TCommonPixelFormat* Destination, TCommonPixelFormat* Source) {
  IMG_ASSERT(Destination->BitsPerPixel <= 32 && Source->BitsPerPixel <= 32, "");
  sourceBytes_ = Source->BytesPerPixel;
  destBytes_ = Destination->BytesPerPixel;
  int32_t srcShift[5] = {-1, -1, -1, -1, -1};
  int32_t srcBits[5] = {0, 0, 0, 0, 0};
  int32_t shift = 0;
  for (const TPixelPart& p : Source->Parts) {
    if (p.Kind != 0) {  // a later (more significant, named earlier) channel wins
      srcShift[p.Kind] = shift;
      srcBits[p.Kind] = p.Bits;
    }
    shift += p.Bits;
  }
  struct Seg {
    int32_t s, d, start;
  };
  std::vector<Seg> segs;
  table_.reserve(256);
  shift = 0;
  for (const TPixelPart& p : Destination->Parts) {
    Channel ch;
    ch.DestShift = shift;
    const int32_t d = p.Bits;
    shift += d;
    if (p.Kind == 0) {
      ch.Constant = 0;
    } else if (srcShift[p.Kind] >= 0) {
      const int32_t s = srcBits[p.Kind];
      ch.SourceShift = srcShift[p.Kind];
      ch.SourceMask = s >= 32 ? 0xFFFFFFFFu : ((1u << s) - 1);
      ch.SourceBits = s;
      ch.DestBits = d;
      if (s > kMaxSegmentBits) {  // too wide for a table: mapped per pixel
        channels_.push_back(ch);
        continue;
      }
      int32_t start = -1;
      for (const Seg& g : segs)
        if (g.s == s && g.d == d) start = g.start;
      if (start < 0) {
        start = static_cast<int32_t>(table_.size());
        const uint64_t entries = uint64_t(1) << s;
        if (table_.capacity() < table_.size() + entries) {
          size_t cap = std::max<size_t>(table_.capacity(), 256);
          while (cap < table_.size() + entries) cap *= 2;
          table_.reserve(cap);
        }
        table_.push_back(0);
        for (uint64_t v = 1; v < entries; ++v) table_.push_back(MapChannelValue(static_cast<uint32_t>(v), s, d));
        segs.push_back({s, d, start});
      }
      ch.Segment = start;
    } else {
      ch.Constant = p.Kind == 4 ? (d >= 8 ? static_cast<uint32_t>((uint64_t(1) << d) - 1) : (255u >> (8 - d))) : 0;
    }
    channels_.push_back(ch);
  }
  uint64_t constant = 0;
  for (const Channel& ch : channels_)
    if (ch.SourceShift < 0) constant |= uint64_t(ch.Constant) << ch.DestShift;
  constantBits_ = static_cast<uint32_t>(constant);
  if (sourceBytes_ == 1) {
    pixelTable_.resize(256);
    for (size_t v = 0; v < pixelTable_.size(); ++v) pixelTable_[v] = MapPixel(static_cast<uint32_t>(v));
  }
}

uint32_t TBitConvertor::MapPixel(uint32_t in) const {
  uint64_t out = 0;
  for (const Channel& ch : channels_) {
    uint32_t v;
    if (ch.SourceShift >= 0 && ch.Segment >= 0)
      v = table_[static_cast<size_t>(ch.Segment) + ((in >> ch.SourceShift) & ch.SourceMask)];
    else if (ch.SourceShift >= 0)
      v = MapChannelValue((in >> ch.SourceShift) & ch.SourceMask, ch.SourceBits, ch.DestBits);
    else
      v = ch.Constant;
    out |= uint64_t(v) << ch.DestShift;
  }
  return static_cast<uint32_t>(out);
}

namespace {

// Loads and stores of little-endian pixels of 1 to 4 bytes, a block at a time.
void LoadPixels(uint32_t* in, const uint8_t* s, int32_t n, int32_t bytes) {
  switch (bytes) {
    case 1:
      for (int32_t i = 0; i < n; ++i) in[i] = s[i];
      break;
    case 2:
      for (int32_t i = 0; i < n; ++i) in[i] = LoadU16(s + 2 * size_t(i));
      break;
    case 3:
      for (int32_t i = 0; i < n; ++i) {
        const uint8_t* p = s + 3 * size_t(i);
        in[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
      }
      break;
    default:
      for (int32_t i = 0; i < n; ++i) in[i] = LoadU32(s + 4 * size_t(i));
  }
}

void StorePixels(uint8_t* d, const uint32_t* out, int32_t n, int32_t bytes) {
  switch (bytes) {
    case 1:
      for (int32_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(out[i]);
      break;
    case 2:
      for (int32_t i = 0; i < n; ++i) StoreU16(d + 2 * size_t(i), static_cast<uint16_t>(out[i]));
      break;
    case 3:
      for (int32_t i = 0; i < n; ++i) {
        uint8_t* p = d + 3 * size_t(i);
        p[0] = static_cast<uint8_t>(out[i]);
        p[1] = static_cast<uint8_t>(out[i] >> 8);
        p[2] = static_cast<uint8_t>(out[i] >> 16);
      }
      break;
    default:
      for (int32_t i = 0; i < n; ++i) StoreU32(d + 4 * size_t(i), out[i]);
  }
}

}  // namespace

void TBitConvertor::Convert(void* Dest, const void* Source, int32_t Count) {
  auto* d = static_cast<uint8_t*>(Dest);
  auto* s = static_cast<const uint8_t*>(Source);
  if (sourceBytes_ == 1) {
    // One byte per source pixel: the whole-pixel table is small enough to stay in cache.
    uint32_t out[256];
    for (int32_t done = 0; done < Count;) {
      const int32_t n = std::min<int32_t>(256, Count - done);
      for (int32_t i = 0; i < n; ++i) out[i] = pixelTable_[s[i]];
      StorePixels(d, out, n, destBytes_);
      d += size_t(n) * size_t(destBytes_);
      s += n;
      done += n;
    }
    return;
  }
  if (sourceBytes_ <= 2 && destBytes_ <= 2)
    ConvertBlocks<uint16_t>(d, s, Count);  // 16-bit lanes: twice the pixels per vector step
  else
    ConvertBlocks<uint32_t>(d, s, Count);
}

// A block of pixels at a time, one channel at a time: the channel's mapping
// (the same values as its lookup segment) is a few shifts that run over the
// whole block without branches. T holds a whole source and destination pixel.
template <typename T>
void TBitConvertor::ConvertBlocks(uint8_t* d, const uint8_t* s, int32_t Count) const {
  constexpr int32_t kBlock = 256;
  uint32_t in32[kBlock];
  T in[kBlock], out[kBlock];
  for (int32_t done = 0; done < Count;) {
    const int32_t n = std::min(kBlock, Count - done);
    if constexpr (sizeof(T) == 2) {
      if (sourceBytes_ == 2)
        for (int32_t i = 0; i < n; ++i) in[i] = LoadU16(s + 2 * size_t(i));
      else
        for (int32_t i = 0; i < n; ++i) in[i] = s[i];
    } else {
      LoadPixels(in32, s, n, sourceBytes_);
      for (int32_t i = 0; i < n; ++i) in[i] = in32[i];
    }
    for (int32_t i = 0; i < n; ++i) out[i] = static_cast<T>(constantBits_);
    for (const Channel& ch : channels_) {
      if (ch.SourceShift < 0) continue;
      const T sh = static_cast<T>(ch.SourceShift), mask = static_cast<T>(ch.SourceMask),
              ds = static_cast<T>(ch.DestShift);
      if (ch.DestBits == ch.SourceBits) {
        for (int32_t i = 0; i < n; ++i) out[i] = static_cast<T>(out[i] | (((in[i] >> sh) & mask) << ds));
      } else if (ch.DestBits < ch.SourceBits) {
        const T down = static_cast<T>(ch.SourceBits - ch.DestBits);
        for (int32_t i = 0; i < n; ++i) out[i] = static_cast<T>(out[i] | ((((in[i] >> sh) & mask) >> down) << ds));
      } else {
        const T up = static_cast<T>(ch.DestBits - ch.SourceBits);
        const T fill = static_cast<T>((uint32_t(1) << up) - 1);  // up <= 31: a source channel has at least 1 bit
        for (int32_t i = 0; i < n; ++i) {
          const T v = static_cast<T>((in[i] >> sh) & mask);
          out[i] = static_cast<T>(out[i] | (static_cast<T>(v ? static_cast<T>((v << up) | fill) : T(0)) << ds));
        }
      }
    }
    if constexpr (sizeof(T) == 2) {
      if (destBytes_ == 2)
        for (int32_t i = 0; i < n; ++i) StoreU16(d + 2 * size_t(i), out[i]);
      else
        for (int32_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(out[i]);
    } else {
      StorePixels(d, out, n, destBytes_);
    }
    d += size_t(n) * size_t(destBytes_);
    s += size_t(n) * size_t(sourceBytes_);
    done += n;
  }
}

// ---- registered converters -----------------------------------------------------

void TAYtoRGBConvertor::Convert(void* Dest, const void* Source, int32_t Count) {
  auto* d = static_cast<uint8_t*>(Dest);
  auto* s = static_cast<const uint8_t*>(Source);
  for (int32_t i = 0; i < Count; ++i) {
    d[0] = d[1] = d[2] = s[i];
    d += 3;
  }
}

void TAYto16Convertor::Convert(void* Dest, const void* Source, int32_t Count) {
  auto* d = static_cast<uint8_t*>(Dest);
  auto* s = static_cast<const uint8_t*>(Source);
  for (int32_t i = 0; i < Count; ++i) {
    const uint32_t g5 = s[i] >> 3;
    const uint16_t w = green6_ ? static_cast<uint16_t>((g5 << 11) | ((s[i] >> 2) << 5) | g5)
                               : static_cast<uint16_t>((g5 << 10) | (g5 << 5) | g5);
    StoreU16(d + 2 * i, w);
  }
}

namespace {

// Four 3-byte pixels are exactly three 32-bit words. These pack and unpack
// them, so the 24-bit converters move words instead of single bytes.
inline void Pack4x24(uint8_t* d, uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3) {
  StoreU32(d, (p0 & 0xFFFFFFu) | (p1 << 24));
  StoreU32(d + 4, ((p1 >> 8) & 0xFFFFu) | (p2 << 16));
  StoreU32(d + 8, ((p2 >> 16) & 0xFFu) | (p3 << 8));
}

inline void Unpack4x24(const uint8_t* s, uint32_t& p0, uint32_t& p1, uint32_t& p2, uint32_t& p3) {
  const uint32_t w0 = LoadU32(s), w1 = LoadU32(s + 4), w2 = LoadU32(s + 8);
  p0 = w0 & 0xFFFFFFu;
  p1 = ((w0 >> 24) | (w1 << 8)) & 0xFFFFFFu;
  p2 = ((w1 >> 16) | (w2 << 16)) & 0xFFFFFFu;
  p3 = w2 >> 8;
}

// A 16-bit 5-6-5 or 5-5-5 word as blue, green, red bytes in the low 24 bits.
template <bool Green6>
constexpr uint32_t Expand16(uint32_t w) {
  const uint32_t b = (w & 31) << 3;
  const uint32_t g = Green6 ? ((w >> 5) & 63) << 2 : ((w >> 5) & 31) << 3;
  const uint32_t r = Green6 ? ((w >> 11) & 31) << 3 : ((w >> 10) & 31) << 3;
  return b | (g << 8) | (r << 16);
}

// The expansion only shifts bits (the new low bits are 0), so a word's result
// is the OR of what its low byte and its high byte give on their own: two
// 256-entry tables instead of the masks and shifts per pixel.
template <bool Green6>
struct TExpand16Tables {
  uint32_t Low[256], High[256];
  constexpr TExpand16Tables() : Low(), High() {
    for (uint32_t v = 0; v < 256; ++v) {
      Low[v] = Expand16<Green6>(v);
      High[v] = Expand16<Green6>(v << 8);
    }
  }
};
template <bool Green6>
constexpr TExpand16Tables<Green6> kExpand16{};

template <bool Green6>
inline uint32_t Expand16At(const uint8_t* s) {
  return kExpand16<Green6>.Low[s[0]] | kExpand16<Green6>.High[s[1]];
}

template <bool Green6>
void Expand16Row(uint8_t* d, const uint8_t* s, int32_t Count) {
  int32_t i = 0;
  for (; i + 4 <= Count; i += 4, d += 12, s += 8)
    Pack4x24(d, Expand16At<Green6>(s), Expand16At<Green6>(s + 2), Expand16At<Green6>(s + 4), Expand16At<Green6>(s + 6));
  for (; i < Count; ++i, d += 3, s += 2) {
    const uint32_t p = Expand16<Green6>(LoadU16(s));
    d[0] = static_cast<uint8_t>(p);
    d[1] = static_cast<uint8_t>(p >> 8);
    d[2] = static_cast<uint8_t>(p >> 16);
  }
}

}  // namespace

void TRGBToRGBA::Convert(void* Dest, const void* Source, int32_t Count) {
  auto* d = static_cast<uint8_t*>(Dest);
  auto* s = static_cast<const uint8_t*>(Source);
  int32_t i = 0;
  for (; i + 4 <= Count; i += 4, d += 16, s += 12) {
    uint32_t p0, p1, p2, p3;
    Unpack4x24(s, p0, p1, p2, p3);
    StoreU32(d, p0 | 0xFF000000u);
    StoreU32(d + 4, p1 | 0xFF000000u);
    StoreU32(d + 8, p2 | 0xFF000000u);
    StoreU32(d + 12, p3 | 0xFF000000u);
  }
  for (; i < Count; ++i, d += 4, s += 3) {
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
    d[3] = 255;
  }
}

void TRGBAToRGB::Convert(void* Dest, const void* Source, int32_t Count) {
  auto* d = static_cast<uint8_t*>(Dest);
  auto* s = static_cast<const uint8_t*>(Source);
  int32_t i = 0;
  for (; i + 4 <= Count; i += 4, d += 12, s += 16)
    Pack4x24(d, LoadU32(s), LoadU32(s + 4), LoadU32(s + 8), LoadU32(s + 12));
  for (; i < Count; ++i, d += 3, s += 4) {
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
  }
}

void TR5G6B5ToBGR8::Convert(void* Dest, const void* Source, int32_t Count) {
  Expand16Row<true>(static_cast<uint8_t*>(Dest), static_cast<const uint8_t*>(Source), Count);
}

void TX1R5G5B5ToBGR8::Convert(void* Dest, const void* Source, int32_t Count) {
  Expand16Row<false>(static_cast<uint8_t*>(Dest), static_cast<const uint8_t*>(Source), Count);
}

// Both directions work on whole 32-bit pixels without branches. Premultiplying:
// alpha 0 gives four zero bytes through the formula itself, alpha 255 keeps
// the colour by a select.
void TBGRAToPremulBGRA::Convert(void* Dest, const void* Source, int32_t Count) {
  auto* d = static_cast<uint8_t*>(Dest);
  auto* s = static_cast<const uint8_t*>(Source);
  for (int32_t i = 0; i < Count; ++i) {
    const uint32_t v = LoadU32(s + 4 * size_t(i));
    const uint32_t a = v >> 24;
    const uint32_t c0 = ((v & 0xFF) * a) >> 8, c1 = (((v >> 8) & 0xFF) * a) >> 8, c2 = (((v >> 16) & 0xFF) * a) >> 8;
    const uint32_t p = c0 | (c1 << 8) | (c2 << 16) | (v & 0xFF000000u);
    StoreU32(d + 4 * size_t(i), a == 255 ? v : p);
  }
}

namespace {

// 65280 div alpha; alpha 0 and 255 get 256, which leaves every colour byte as
// it is ((c x 256) shr 8 = c), as those two alphas require.
struct TUnpremulFactors {
  uint32_t f[256];
  constexpr TUnpremulFactors() : f() {
    for (uint32_t a = 0; a < 256; ++a) f[a] = (a == 0 || a == 255) ? 256u : 65280u / a;
  }
};
constexpr TUnpremulFactors kUnpremul;

}  // namespace

void TPremulBGRAToBGRA::Convert(void* Dest, const void* Source, int32_t Count) {
  auto* d = static_cast<uint8_t*>(Dest);
  auto* s = static_cast<const uint8_t*>(Source);
  for (int32_t i = 0; i < Count; ++i) {
    const uint32_t v = LoadU32(s + 4 * size_t(i));
    const uint32_t f = kUnpremul.f[v >> 24];
    // The low byte keeps invalid data (colour above alpha) from spilling.
    const uint32_t c0 = (((v & 0xFF) * f) >> 8) & 0xFF, c1 = ((((v >> 8) & 0xFF) * f) >> 8) & 0xFF,
                   c2 = ((((v >> 16) & 0xFF) * f) >> 8) & 0xFF;
    StoreU32(d + 4 * size_t(i), c0 | (c1 << 8) | (c2 << 16) | (v & 0xFF000000u));
  }
}

// ---- start-up ------------------------------------------------------------------

void InitSysPixelFormat() {
  if (g_started) return;
  g_started = true;
  ConverterHook = PixelConverterHook;
  PixelFormatHook = TCommonPixelFormat::FindOrCreate;
  pfY8 = PixelFormatByName(u"Y8");
  pfA8 = PixelFormatByName(u"A8");
  pfR8G8B8 = PixelFormatByName(u"R8G8B8");
  pfA8R8G8B8 = PixelFormatByName(u"A8R8G8B8");
  pfA16R16G16B16 = PixelFormatByName(u"A16R16G16B16");
  pfB8G8R8 = PixelFormatByName(u"B8G8R8");
  pfA8B8G8R8 = PixelFormatByName(u"A8B8G8R8");
  pfR5G6B5 = PixelFormatByName(u"R5G6B5");
  pfX1R5G5B5 = PixelFormatByName(u"X1R5G5B5");
  pfX8B8G8R8 = PixelFormatByName(u"X8B8G8R8");
  pfA8r8g8b8 = PixelFormatByName(u"A8r8g8b8");
  pfA8b8g8r8 = PixelFormatByName(u"A8b8g8r8");

  for (TPixelFormat* grey : {pfA8, pfY8}) {
    RegisterPixelConverter(pfB8G8R8, grey, new TAYtoRGBConvertor);
    RegisterPixelConverter(pfR8G8B8, grey, new TAYtoRGBConvertor);
    RegisterPixelConverter(pfR5G6B5, grey, new TAYto16Convertor(true));
    RegisterPixelConverter(pfX1R5G5B5, grey, new TAYto16Convertor(false));
  }
  RegisterPixelConverter(pfA8B8G8R8, pfB8G8R8, new TRGBToRGBA);
  RegisterPixelConverter(pfA8R8G8B8, pfR8G8B8, new TRGBToRGBA);
  RegisterPixelConverter(pfA8r8g8b8, pfR8G8B8, new TRGBToRGBA);
  RegisterPixelConverter(pfA8b8g8r8, pfB8G8R8, new TRGBToRGBA);
  RegisterPixelConverter(pfB8G8R8, pfA8B8G8R8, new TRGBAToRGB);
  RegisterPixelConverter(pfR8G8B8, pfA8R8G8B8, new TRGBAToRGB);
  RegisterPixelConverter(pfR8G8B8, pfR5G6B5, new TR5G6B5ToBGR8);
  RegisterPixelConverter(pfR8G8B8, pfX1R5G5B5, new TX1R5G5B5ToBGR8);
  RegisterPixelConverter(pfA8r8g8b8, pfA8R8G8B8, new TBGRAToPremulBGRA);
  RegisterPixelConverter(pfA8b8g8r8, pfA8B8G8R8, new TBGRAToPremulBGRA);
  RegisterPixelConverter(pfA8R8G8B8, pfA8r8g8b8, new TPremulBGRAToBGRA);
  RegisterPixelConverter(pfA8B8G8R8, pfA8b8g8r8, new TPremulBGRAToBGRA);
}

void DoneSysPixelFormat() {
  if (!g_started) return;
  g_started = false;
  PixelFormatHook = nullptr;
  ConverterHook = nullptr;
  for (auto& bucket : g_buckets) {
    TCommonPixelFormat* p = bucket.exchange(nullptr);
    while (p) {
      TCommonPixelFormat* next = p->Next.load();
      p->Free();
      p = next;
    }
  }
  pfY8 = pfA8 = pfR8G8B8 = pfA8R8G8B8 = pfA16R16G16B16 = pfB8G8R8 = pfA8B8G8R8 = pfR5G6B5 = pfX1R5G5B5 =
      pfX8B8G8R8 = pfA8r8g8b8 = pfA8b8g8r8 = nullptr;
}

}  // namespace imaging
