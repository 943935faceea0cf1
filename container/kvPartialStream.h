// Stream adapters over another stream: a window of given offset and size that
// reports progress after every chunk, the container's repeating-key cipher,
// and a block cache that keeps everything read from a slow base in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/kvStream.h"

namespace container {

// A method called with the stream that moved a chunk.
using TStreamCallback = std::function<void(foundation::TStream* sender)>;

// A window (Offset, Size) on a base stream. The window's position is the
// base's position minus Offset: it keeps none of its own, so two windows on
// one base must not be used at the same time.
class TPartialStream : public foundation::TStream {
 public:
  QEL_CLASSNAME(TPartialStream)
  static constexpr int32_t kDefaultChunk = 32768;
  static constexpr int32_t kMinChunk = 256;
  static constexpr int32_t kMaxChunk = 1048576;

  // Raises EStreamError "Insufficient Source Size" when the window does not
  // lie inside the base (nothing is created then). Seeks the base to offset.
  TPartialStream(foundation::TStream* base, int64_t offset, int64_t size, bool ownsBase);
  void Dispose() override;

  // With a method: keeps it, chunk size clamped to 256 .. 1,048,576.
  // Without one: no callback, 32 KB chunks.
  void SetReadCallback(TStreamCallback callback, int32_t chunkSize);

  int64_t GetPosition() override;
  void SetPosition(int64_t position) override;
  int64_t GetSize() override { return Size; }
  void SetSize(int64_t size) override;
  int64_t CopyFrom(foundation::TStream* source, int64_t count) override;
  int32_t Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) override;
  int32_t Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) override;

  foundation::TStream* Base() const { return FBase; }
  int64_t Offset() const { return FOffset; }
  // The callback (empty when none) and chunk size, read to give a copy the same.
  const TStreamCallback& ReadCallback() const { return FReadCallback; }
  int32_t ChunkSize() const { return FChunkSize; }

 private:
  void DoCallback();

  foundation::TStream* FBase;
  bool FOwnsBase;
  int64_t FOffset;
  int64_t Size;
  TStreamCallback FReadCallback;
  int32_t FChunkSize = kDefaultChunk;
  std::vector<uint8_t> FChunk;
};

// Applies the repeating-key cipher on read and write. The key byte for a data
// byte depends only on its position in the base, so any position can be read
// after a seek; the transformation is its own inverse.
class TCryptStream : public foundation::TStream {
 public:
  QEL_CLASSNAME(TCryptStream)

  // The key's characters are used as their byte values; it must not be empty.
  TCryptStream(foundation::TStream* base, bool ownsBase, std::string key);
  void Dispose() override;

  int64_t GetPosition() override { return FBase->GetPosition(); }
  void SetPosition(int64_t position) override { FBase->SetPosition(position); }
  int64_t GetSize() override { return FBase->GetSize(); }
  void SetSize(int64_t size) override { FBase->SetSize(size); }
  int32_t Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) override;
  int32_t Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) override;

 private:
  foundation::TStream* FBase;
  bool FOwnsBase;
  std::string FKey;
};

// A read cache over a slower base: the inherited memory store holds every
// byte read so far, block by block, and its position is the stream's.
class TCachedReadStream : public foundation::TMemoryStream {
 public:
  QEL_CLASSNAME(TCachedReadStream)
  static constexpr int32_t kMinBlockSize = 64;

  // A block size of 64 or less becomes 64.
  TCachedReadStream(foundation::TStream* base, bool ownsBase, int32_t blockSize);
  void Dispose() override;

  int64_t GetSize() override { return FBase->GetSize(); }
  void SetSize(int64_t size) override { FBase->SetSize(size); }
  void SetPosition(int64_t position) override;
  // Releases the cache and forgets what was loaded.
  void Clear() override;
  int32_t Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) override;

  int32_t BlockSize() const { return FBlockSize; }
  int32_t CacheCapacity() const { return FCapacity; }
  // Bytes loaded of each block, counted from the block's start.
  const std::vector<int32_t>& BlockFill() const { return FBlockFill; }

 private:
  // Grows the cache to cover end; false when the store cannot grow that far.
  bool Grow(int64_t end);

  foundation::TStream* FBase;
  bool FOwnsBase;
  int32_t FBlockSize;
  int32_t FCapacity = 0;
  std::vector<int32_t> FBlockFill;
};

}  // namespace container
