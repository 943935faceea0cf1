#include "foundation/kvStream.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace foundation {

// ---------------------------------------------------------------------------
// TStream

int64_t TStream::GetRemaining() { return GetSize() - GetPosition(); }

void TStream::Clear() {
  SetPosition(0);
  SetSize(0);
}

int64_t TStream::CopyFrom(TStream* source, int64_t count) {
  uint8_t buffer[kCopyChunk];
  int64_t total = 0;
  while (count > 0) {
    const int32_t want = static_cast<int32_t>(std::min<int64_t>(count, kCopyChunk));
    const int32_t got = source->Read(std::span<uint8_t>(buffer, kCopyChunk), 0, want);
    if (got <= 0) break;  // the source is exhausted
    count -= got;
    const int32_t written = Write(std::span<const uint8_t>(buffer, kCopyChunk), 0, got);
    if (written > 0) total += written;
    if (written < got) throw EStreamWriteError();
  }
  return total;
}

void TStream::LoadFromStream(TStream* source) {
  Clear();
  const int64_t remembered = source->GetPosition();
  try {
    source->SetPosition(0);
    const int64_t size = source->GetSize();
    if (size < 0) {
      CopyFrom(source, std::numeric_limits<int64_t>::max());
    } else {
      SetSize(size);
      if (CopyFrom(source, size) != size) throw EStreamError();
    }
  } catch (...) {
    source->SetPosition(remembered);
    SetPosition(0);
    throw;
  }
  source->SetPosition(remembered);
  SetPosition(0);
}

int32_t TStream::WriteBuf(const void* buffer, int32_t count) {
  if (count < 0) count = 0;
  return Write(std::span<const uint8_t>(static_cast<const uint8_t*>(buffer), static_cast<size_t>(count)), 0,
               count);
}

int32_t TStream::ReadBuf(void* buffer, int32_t count) {
  if (count < 0) count = 0;
  return Read(std::span<uint8_t>(static_cast<uint8_t*>(buffer), static_cast<size_t>(count)), 0, count);
}

void TStream::ReadExact(void* buffer, int32_t count) {
  if (ReadBuf(buffer, count) != count) throw EStreamReadError();
}

void TStream::WriteExact(const void* buffer, int32_t count) {
  if (WriteBuf(buffer, count) != count) throw EStreamWriteError();
}

namespace {
template <class T>
T LoadLE(const uint8_t* p) {
  T v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<T>(static_cast<T>(p[i]) << (8 * i));
  return v;
}
template <class T>
void StoreLE(uint8_t* p, T v) {
  for (size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
}  // namespace

uint8_t TStream::ReadByte() {
  uint8_t b;
  ReadExact(&b, 1);
  return b;
}
uint16_t TStream::ReadWord() {
  uint8_t b[2];
  ReadExact(b, 2);
  return LoadLE<uint16_t>(b);
}
uint16_t TStream::ReadWordBE() {
  uint8_t b[2];
  ReadExact(b, 2);
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}
int16_t TStream::ReadSmallIntBE() { return static_cast<int16_t>(ReadWordBE()); }
uint32_t TStream::ReadDWord() {
  uint8_t b[4];
  ReadExact(b, 4);
  return LoadLE<uint32_t>(b);
}
uint32_t TStream::ReadDWordBE() {
  uint8_t b[4];
  ReadExact(b, 4);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | uint32_t{b[3]};
}
int32_t TStream::ReadInteger() { return static_cast<int32_t>(ReadDWord()); }
int64_t TStream::ReadInt64() {
  uint8_t b[8];
  ReadExact(b, 8);
  return static_cast<int64_t>(LoadLE<uint64_t>(b));
}
float TStream::ReadSingle() { return std::bit_cast<float>(ReadDWord()); }

void TStream::WriteByte(uint8_t value) { WriteExact(&value, 1); }
void TStream::WriteWord(uint16_t value) {
  uint8_t b[2];
  StoreLE(b, value);
  WriteExact(b, 2);
}
void TStream::WriteDWord(uint32_t value) {
  uint8_t b[4];
  StoreLE(b, value);
  WriteExact(b, 4);
}
void TStream::WriteInteger(int32_t value) { WriteDWord(static_cast<uint32_t>(value)); }
void TStream::WriteSingle(float value) { WriteDWord(std::bit_cast<uint32_t>(value)); }

namespace {
// Clamps a 1-based (start, count) range to a text of the given length and
// answers the 0-based first index and the count.
void ClipRange(size_t length, int32_t start, int32_t count, size_t& first, size_t& n) {
  if (start < 1) start = 1;
  first = static_cast<size_t>(start) - 1;
  if (count <= 0 || first >= length) {
    n = 0;
    return;
  }
  n = std::min<size_t>(static_cast<size_t>(count), length - first);
}
}  // namespace

void TStream::WriteAnsiString(std::string_view s) { WriteAnsiRange(s, 1, std::numeric_limits<int32_t>::max()); }

void TStream::WriteAnsiRange(std::string_view s, int32_t start, int32_t count) {
  size_t first, n;
  ClipRange(s.size(), start, count, first, n);
  uint8_t chunk[kStringChunk];
  while (n > 0) {
    const size_t k = std::min<size_t>(n, kStringChunk);
    std::memcpy(chunk, s.data() + first, k);
    WriteExact(chunk, static_cast<int32_t>(k));
    first += k;
    n -= k;
  }
}

void TStream::WriteUnicodeString(std::u16string_view s) {
  WriteUnicodeRange(s, 1, std::numeric_limits<int32_t>::max());
}

void TStream::WriteUnicodeRange(std::u16string_view s, int32_t start, int32_t count) {
  size_t first, n;
  ClipRange(s.size(), start, count, first, n);
  uint8_t chunk[kStringChunk];
  while (n > 0) {
    const size_t k = std::min<size_t>(n, kStringChunk / 2);
    for (size_t i = 0; i < k; ++i) StoreLE<uint16_t>(chunk + 2 * i, s[first + i]);
    WriteExact(chunk, static_cast<int32_t>(2 * k));
    first += k;
    n -= k;
  }
}

int32_t TStream::ReadAnsiString(std::string& s, int32_t start, int32_t count) {
  size_t first, n;
  ClipRange(s.size(), start, count, first, n);
  uint8_t chunk[kStringChunk];
  int32_t stored = 0;
  while (n > 0) {
    const int32_t want = static_cast<int32_t>(std::min<size_t>(n, kStringChunk));
    const int32_t got = ReadBuf(chunk, want);
    if (got > 0) {
      std::memcpy(s.data() + first, chunk, static_cast<size_t>(got));
      first += static_cast<size_t>(got);
      n -= static_cast<size_t>(got);
      stored += got;
    }
    if (got < want) break;
  }
  return stored;
}

int32_t TStream::ReadUnicodeString(std::u16string& s, int32_t start, int32_t count) {
  size_t first, n;
  ClipRange(s.size(), start, count, first, n);
  // Chunks of at most 1,024 bytes, i.e. 512 code units.
  constexpr size_t kUnitChunk = 512;
  uint8_t chunk[2 * kUnitChunk];
  int32_t stored = 0;
  while (n > 0) {
    const size_t units = std::min<size_t>(n, kUnitChunk);
    const int32_t want = static_cast<int32_t>(2 * units);
    const int32_t got = ReadBuf(chunk, want);
    const size_t whole = got > 0 ? static_cast<size_t>(got) / 2 : 0;
    for (size_t i = 0; i < whole; ++i) s[first + i] = static_cast<char16_t>(LoadLE<uint16_t>(chunk + 2 * i));
    first += whole;
    n -= whole;
    stored += static_cast<int32_t>(whole);
    if (got < want) break;
  }
  return stored;
}

// ---------------------------------------------------------------------------
// The store rules shared by TMemoryStream and TStringStream.

namespace {

// Capacity steps: +16 up to 32, +64 up to 256, doubling above.
int64_t NextCapacity(int64_t capacity) {
  if (capacity <= 32) return capacity + 16;
  if (capacity <= 256) return capacity + 64;
  return capacity * 2;
}

int32_t ClampPosition(int64_t p, int32_t size) {
  if (p <= 0) return 0;
  if (p > size) return size;
  return static_cast<int32_t>(p);
}

}  // namespace

struct StoreOps {
  template <class S>
  static bool Reserve(S& s, int64_t n) {
    if (n >= S::kMaxReserve) return false;
    int64_t capacity = s.StoreCapacity();
    if (capacity < n) {
      while (capacity < n) capacity = NextCapacity(capacity);
      if (!s.GrowStore(capacity)) return false;
    }
    if (n > s.size_) s.size_ = static_cast<int32_t>(n);
    return true;
  }

  template <class S>
  static void SetSize(S& s, int64_t size) {
    if (size <= 0) {
      s.Clear();
      return;
    }
    if (size >= S::kMaxReserve || !s.GrowStore(size)) return;
    s.size_ = static_cast<int32_t>(size);
    s.position_ = std::min(s.position_, s.size_);
  }

  template <class S>
  static int32_t Read(S& s, std::span<uint8_t> buffer, int32_t offset, int32_t count) {
    if (offset < 0) offset = 0;
    if (static_cast<size_t>(offset) >= buffer.size()) return 0;
    const int64_t n = std::min<int64_t>(
        {static_cast<int64_t>(buffer.size()) - offset, count, int64_t{s.size_} - s.position_});
    if (n <= 0) return 0;
    std::memcpy(buffer.data() + offset, s.StoreData() + s.position_, static_cast<size_t>(n));
    s.position_ += static_cast<int32_t>(n);
    return static_cast<int32_t>(n);
  }

  // Memory streams never raise on their own: a failed reservation writes nothing.
  template <class S>
  static int32_t Write(S& s, std::span<const uint8_t> buffer, int32_t offset, int32_t count) {
    if (offset < 0) offset = 0;
    if (static_cast<size_t>(offset) >= buffer.size()) return 0;
    // The caller's count is never trusted beyond its buffer.
    const int64_t n = std::min<int64_t>(count, static_cast<int64_t>(buffer.size()) - offset);
    if (n <= 0) return 0;
    const int64_t end = int64_t{s.position_} + n;
    if (end > s.size_ && !Reserve(s, end)) return 0;
    std::memcpy(s.StoreData() + s.position_, buffer.data() + offset, static_cast<size_t>(n));
    s.position_ = static_cast<int32_t>(end);
    if (s.position_ > s.size_) s.size_ = s.position_;
    return static_cast<int32_t>(n);
  }

  template <class S>
  static int64_t CopyFrom(S& s, TStream* source, int64_t count) {
    const int64_t sourceSize = source->GetSize();
    if (sourceSize < 0) return s.TStream::CopyFrom(source, count);
    count = std::min(count, sourceSize - source->GetPosition());
    if (count <= 0) return 0;
    // A copy that cannot be held is refused before anything is read: reading
    // into a store that failed to grow would write past its end.
    if (!Reserve(s, int64_t{s.position_} + count)) throw EStreamWriteError();
    const int32_t n = static_cast<int32_t>(count);
    const int32_t got =
        source->Read(std::span<uint8_t>(s.StoreData() + s.position_, static_cast<size_t>(n)), 0, n);
    if (got > 0) s.position_ += got;
    if (got != n) throw EStreamReadError();
    return got;
  }
};

// ---------------------------------------------------------------------------
// TMemoryStream

TMemoryStream::~TMemoryStream() { std::free(data_); }

void TMemoryStream::Dispose() {
  Clear();
  TStream::Dispose();
}

bool TMemoryStream::GrowStore(int64_t capacity) {
  if (capacity <= capacity_) return true;
  if (capacity > std::numeric_limits<int32_t>::max()) return false;
  void* grown = std::realloc(data_, static_cast<size_t>(capacity));
  if (!grown) return false;
  data_ = static_cast<uint8_t*>(grown);
  std::memset(data_ + capacity_, 0, static_cast<size_t>(capacity - capacity_));
  capacity_ = static_cast<int32_t>(capacity);
  return true;
}

void TMemoryStream::SetPosition(int64_t position) { position_ = ClampPosition(position, size_); }
void TMemoryStream::SetSize(int64_t size) { StoreOps::SetSize(*this, size); }

void TMemoryStream::Clear() {
  std::free(data_);
  data_ = nullptr;
  capacity_ = 0;
  size_ = 0;
  position_ = 0;
}

bool TMemoryStream::Reserve(int64_t n) { return StoreOps::Reserve(*this, n); }
int64_t TMemoryStream::CopyFrom(TStream* source, int64_t count) { return StoreOps::CopyFrom(*this, source, count); }
int32_t TMemoryStream::Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) {
  return StoreOps::Read(*this, buffer, offset, count);
}
int32_t TMemoryStream::Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) {
  return StoreOps::Write(*this, buffer, offset, count);
}

// ---------------------------------------------------------------------------
// TStringStream

TStringStream::TStringStream(std::string buffer) : buffer_(std::move(buffer)) {
  // A string beyond the reservable size is cut to it, so Size always fits.
  if (static_cast<int64_t>(buffer_.size()) >= kMaxReserve) buffer_.resize(static_cast<size_t>(kMaxReserve - 1));
  size_ = static_cast<int32_t>(buffer_.size());
}

void TStringStream::Dispose() {
  Clear();
  TStream::Dispose();
}

bool TStringStream::GrowStore(int64_t capacity) {
  if (capacity <= static_cast<int64_t>(buffer_.size())) return true;
  try {
    buffer_.resize(static_cast<size_t>(capacity));
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

void TStringStream::SetPosition(int64_t position) { position_ = ClampPosition(position, size_); }
void TStringStream::SetSize(int64_t size) { StoreOps::SetSize(*this, size); }

void TStringStream::Clear() {
  std::string().swap(buffer_);
  size_ = 0;
  position_ = 0;
}

bool TStringStream::Reserve(int64_t n) { return StoreOps::Reserve(*this, n); }
int64_t TStringStream::CopyFrom(TStream* source, int64_t count) { return StoreOps::CopyFrom(*this, source, count); }
int32_t TStringStream::Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) {
  return StoreOps::Read(*this, buffer, offset, count);
}
int32_t TStringStream::Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) {
  return StoreOps::Write(*this, buffer, offset, count);
}

// ---------------------------------------------------------------------------
// File hooks

namespace {
TStream* NoReadFile(const std::u16string&) {
  QelAssertFail("kvStream.ReadFile: no file layer is linked (the file-stream unit must be initialised)");
  return nullptr;
}
TStream* NoWriteFile(const std::u16string&, bool) {
  QelAssertFail("kvStream.WriteFile: no file layer is linked (the file-stream unit must be initialised)");
  return nullptr;
}
}  // namespace

TReadFileFunc ReadFile = NoReadFile;
TWriteFileFunc WriteFile = NoWriteFile;

bool ReadFileBytes(const std::u16string& fileName, std::vector<uint8_t>& bytes) {
  TStream* stream = ReadFile(fileName);
  if (!stream) return false;
  bool ok = false;
  try {
    const int64_t size = stream->GetSize();
    if (size >= 0 && size <= std::numeric_limits<int32_t>::max()) {
      bytes.assign(static_cast<size_t>(size), 0);
      ok = stream->ReadBuf(bytes.data(), static_cast<int32_t>(size)) == size;
    }
  } catch (...) {
    stream->Free();
    throw;
  }
  stream->Free();
  return ok;
}

}  // namespace foundation
