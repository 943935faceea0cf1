#include "container/kvPartialStream.h"

#include <algorithm>
#include <cstring>

#include "foundation/kpExceptions.h"

namespace container {

using foundation::EStreamError;
using foundation::EStreamWriteError;
using foundation::TStream;

namespace {

// Frees a wrapper's base stream when the wrapper owns it; the field is
// cleared first so that nothing reaches the base while it goes.
void ReleaseOwnedBase(TStream*& base, bool owns) {
  if (owns && base) {
    TStream* old = base;
    base = nullptr;
    old->Free();
  }
}

}  // namespace

// ---- TPartialStream -------------------------------------------------------

TPartialStream::TPartialStream(TStream* base, int64_t offset, int64_t size, bool ownsBase)
    : FBase(base), FOwnsBase(false), FOffset(offset), Size(size) {
  QEL_ASSERT(base != nullptr, u"window without a base stream");
  // A negative offset or size, or one whose sum overflows, cannot lie inside
  // the base either; they get the same answer as a window past its end.
  const int64_t baseSize = base->GetSize();
  if (offset < 0 || size < 0 || offset > baseSize || size > baseSize - offset)
    throw EStreamError(u"Insufficient Source Size");
  FChunk.resize(static_cast<size_t>(FChunkSize));
  SetPosition(0);
  // Ownership is taken only once the window exists, so a refused window
  // leaves the base to the caller.
  FOwnsBase = ownsBase;
}

void TPartialStream::Dispose() {
  ReleaseOwnedBase(FBase, FOwnsBase);
  TStream::Dispose();
}

void TPartialStream::SetReadCallback(TStreamCallback callback, int32_t chunkSize) {
  if (callback) {
    FReadCallback = std::move(callback);
    FChunkSize = std::clamp(chunkSize, kMinChunk, kMaxChunk);
  } else {
    FReadCallback = nullptr;
    FChunkSize = kDefaultChunk;
  }
  FChunk.resize(static_cast<size_t>(FChunkSize));
}

void TPartialStream::DoCallback() {
  if (FReadCallback) FReadCallback(this);
}

int64_t TPartialStream::GetPosition() { return FBase->GetPosition() - FOffset; }

void TPartialStream::SetPosition(int64_t position) {
  if (position < 0 || position > Size) throw EStreamError(u"Incorrect Position");
  FBase->SetPosition(FOffset + position);
}

void TPartialStream::SetSize(int64_t) { throw EStreamError(u"Stream Cannot be resized"); }

namespace {

// Moves up to count bytes of a buffer of bufferSize bytes in pieces of at
// most the window's chunk size, never past the window's end; step(offset, n)
// moves one piece and returns how much it moved.
template <class Step>
int32_t TransferInChunks(TPartialStream& window, size_t bufferSize, int32_t offset, int32_t count, Step step) {
  if (offset < 0 || count <= 0 || static_cast<size_t>(offset) >= bufferSize) return 0;
  count = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(count), bufferSize - offset));
  const int64_t size = window.GetSize();
  int64_t p = window.GetPosition();
  int32_t rest = count;
  while (rest > 0 && p < size) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>({rest, size - p, window.ChunkSize()}));
    n = step(offset, n);
    if (n <= 0) break;
    offset += n;
    p += n;
    rest -= n;
  }
  return count - rest;
}

}  // namespace

int32_t TPartialStream::Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) {
  return TransferInChunks(*this, buffer.size(), offset, count, [&](int32_t at, int32_t n) {
    n = FBase->Read(buffer, at, n);
    DoCallback();
    return n;
  });
}

int32_t TPartialStream::Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) {
  return TransferInChunks(*this, buffer.size(), offset, count, [&](int32_t at, int32_t n) {
    n = FBase->Write(buffer, at, n);
    DoCallback();
    return n;
  });
}

int64_t TPartialStream::CopyFrom(TStream* source, int64_t count) {
  // Limited to the room left in the window, as Write is: a copy must not
  // spill into the base beyond the window's end.
  const int64_t room = Size - GetPosition();
  count = std::min(count, std::max<int64_t>(room, 0));
  int64_t total = 0;
  const std::span<uint8_t> chunk(FChunk);
  while (count > 0) {
    const int32_t want = static_cast<int32_t>(std::min<int64_t>(count, FChunkSize));
    const int32_t got = source->Read(chunk, 0, want);
    if (got <= 0) break;
    DoCallback();
    const int32_t written = FBase->Write(chunk, 0, got);
    total += std::max(written, 0);
    if (written < got) throw EStreamWriteError();
    DoCallback();
    count -= got;
  }
  return total;
}

// ---- TCryptStream ---------------------------------------------------------

TCryptStream::TCryptStream(TStream* base, bool ownsBase, std::string key)
    : FBase(base), FOwnsBase(false), FKey(std::move(key)) {
  QEL_ASSERT(base != nullptr, u"cipher stream without a base stream");
  QEL_ASSERT(!FKey.empty(), u"cipher stream without a key");
  FOwnsBase = ownsBase;
}

void TCryptStream::Dispose() {
  ReleaseOwnedBase(FBase, FOwnsBase);
  TStream::Dispose();
}

namespace {

int64_t KeyIndex(int64_t position, int64_t keyLength) {
  const int64_t k = position % keyLength;
  return k < 0 ? k + keyLength : k;
}

void ApplyKey(uint8_t* data, int32_t n, const std::string& key, int64_t position) {
  const int64_t len = static_cast<int64_t>(key.size());
  int64_t k = KeyIndex(position, len);
  for (int32_t i = 0; i < n; ++i) {
    data[i] ^= static_cast<uint8_t>(key[static_cast<size_t>(k)]);
    if (++k == len) k = 0;
  }
}

}  // namespace

int32_t TCryptStream::Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) {
  QEL_ASSERT(offset >= 0 && (static_cast<size_t>(offset) < buffer.size() || count <= 0),
             u"cipher read outside the buffer");
  if (count <= 0) return 0;
  count = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(count), buffer.size() - offset));
  const int64_t position = FBase->GetPosition();
  const int32_t n = FBase->Read(buffer, offset, count);
  if (n > 0) ApplyKey(buffer.data() + offset, n, FKey, position);
  return n;
}

int32_t TCryptStream::Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) {
  QEL_ASSERT(offset >= 0 && (static_cast<size_t>(offset) < buffer.size() || count <= 0),
             u"cipher write outside the buffer");
  if (count <= 0) return 0;
  count = static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(count), buffer.size() - offset));
  std::vector<uint8_t> block(buffer.begin() + offset, buffer.begin() + offset + count);
  ApplyKey(block.data(), count, FKey, FBase->GetPosition());
  return FBase->Write(block, 0, count);
}

// ---- TCachedReadStream ----------------------------------------------------

TCachedReadStream::TCachedReadStream(TStream* base, bool ownsBase, int32_t blockSize)
    : FBase(base), FOwnsBase(false), FBlockSize(std::max(blockSize, kMinBlockSize)) {
  QEL_ASSERT(base != nullptr, u"cache without a base stream");
  QEL_ASSERT(blockSize >= 1, u"cache block size below 1");
  FOwnsBase = ownsBase;
}

void TCachedReadStream::Dispose() {
  ReleaseOwnedBase(FBase, FOwnsBase);
  FBlockFill.clear();
  FCapacity = 0;
  TMemoryStream::Dispose();
}

void TCachedReadStream::Clear() {
  // The loaded counts describe the store: both go together.
  TMemoryStream::Clear();
  FBlockFill.clear();
  FCapacity = 0;
}

bool TCachedReadStream::Grow(int64_t end) {
  if (FCapacity > 0 && end <= FCapacity) return true;
  int64_t capacity = FCapacity > 0 ? FCapacity : FBlockSize;
  while (capacity < end) capacity *= 2;
  if (capacity >= kMaxReserve) return false;
  TMemoryStream::SetSize(capacity);
  if (TMemoryStream::GetSize() != capacity) return false;
  FCapacity = static_cast<int32_t>(capacity);
  FBlockFill.resize(static_cast<size_t>((FCapacity - 1) / FBlockSize + 1), 0);
  return true;
}

void TCachedReadStream::SetPosition(int64_t position) {
  const int64_t baseSize = FBase->GetSize();
  if (position > baseSize) position = baseSize;
  if (position < 0) position = 0;
  if (!Grow(position)) throw foundation::EStreamSeekError();
  TMemoryStream::SetPosition(position);
}

int32_t TCachedReadStream::Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) {
  if (count <= 0) return 0;
  const int64_t p = TMemoryStream::GetPosition();
  const int64_t baseSize = FBase->GetSize();
  if (p + count > baseSize) {
    if (baseSize - p <= 0) return 0;
    count = static_cast<int32_t>(baseSize - p);
  }
  if (!Grow(p + count)) return 0;

  uint8_t* store = Data();
  const int64_t last = p + count - 1;
  for (int64_t b = p / FBlockSize; b <= last / FBlockSize; ++b) {
    const int64_t blockStart = b * FBlockSize;
    const int64_t neededEnd = std::min<int64_t>(last + 1, blockStart + FBlockSize) - blockStart;
    int32_t& fill = FBlockFill[static_cast<size_t>(b)];
    if (fill >= neededEnd) continue;
    FBase->SetPosition(blockStart + fill);
    while (fill < FBlockSize) {
      const int32_t want = FBlockSize - fill;
      const int32_t got =
          FBase->Read(std::span<uint8_t>(store + blockStart + fill, static_cast<size_t>(want)), 0, want);
      if (got <= 0) break;
      fill += got;
    }
    QEL_ASSERT(fill >= neededEnd || FBase->GetPosition() >= baseSize, u"cache block short of its base");
  }
  return TMemoryStream::Read(buffer, offset, count);
}

}  // namespace container
