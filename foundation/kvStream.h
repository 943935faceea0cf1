// The byte-stream abstraction: the stream base with its typed readers and
// writers, the stream errors, the in-memory streams and the two file hooks
// through which platform-neutral code opens files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kpExceptions.h"

namespace foundation {

// Created without a message they read "Orvane Exception: " and the class name.
class EStreamError : public TCommonException {
 public:
  using TCommonException::TCommonException;
  QEL_CLASSNAME(EStreamError)
};
class EStreamReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  QEL_CLASSNAME(EStreamReadError)
};
class EStreamWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  QEL_CLASSNAME(EStreamWriteError)
};
class EStreamSeekError : public EStreamError {
 public:
  using EStreamError::EStreamError;
  QEL_CLASSNAME(EStreamSeekError)
};

class TStream : public TRefObject {
 public:
  QEL_CLASSNAME(TStream)
  static constexpr int32_t kCopyChunk = 32768;
  static constexpr int32_t kStringChunk = 2048;

  virtual int64_t GetPosition() = 0;
  virtual void SetPosition(int64_t position) = 0;
  // A negative size (-1) means the size is not known in advance.
  virtual int64_t GetSize() = 0;
  virtual void SetSize(int64_t size) = 0;
  virtual int64_t GetRemaining();
  virtual void LoadFromStream(TStream* source);
  virtual void Clear();
  virtual int64_t CopyFrom(TStream* source, int64_t count);
  // Transfers up to count bytes at buffer[offset]; a short count is not an error.
  virtual int32_t Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) = 0;
  virtual int32_t Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) = 0;
  virtual int32_t WriteBuf(const void* buffer, int32_t count);

  int32_t ReadBuf(void* buffer, int32_t count);

  uint8_t ReadByte();
  uint16_t ReadWord();
  uint16_t ReadWordBE();
  int16_t ReadSmallIntBE();
  uint32_t ReadDWord();
  uint32_t ReadDWordBE();
  int32_t ReadInteger();
  int64_t ReadInt64();
  float ReadSingle();

  void WriteByte(uint8_t value);
  void WriteWord(uint16_t value);
  void WriteDWord(uint32_t value);
  void WriteInteger(int32_t value);
  void WriteSingle(float value);

  // 1-based ranges of 8-bit and UTF-16 strings; chunks of 2,048 bytes.
  void WriteAnsiString(std::string_view s);
  void WriteAnsiRange(std::string_view s, int32_t start, int32_t count);
  void WriteUnicodeString(std::u16string_view s);
  void WriteUnicodeRange(std::u16string_view s, int32_t start, int32_t count);
  // Fill an existing string in place from Start; never raise.
  int32_t ReadAnsiString(std::string& s, int32_t start, int32_t count);
  int32_t ReadUnicodeString(std::u16string& s, int32_t start, int32_t count);

 private:
  void ReadExact(void* buffer, int32_t count);
  void WriteExact(const void* buffer, int32_t count);
};

// A stream held in an owned, growable byte store.
struct StoreOps;

class TMemoryStream : public TStream {
 public:
  QEL_CLASSNAME(TMemoryStream)
  // The largest reservable size is kMaxReserve - 1.
  static constexpr int64_t kMaxReserve = 0x1FFFFFFF;

  TMemoryStream() = default;
  void Dispose() override;

  int64_t GetPosition() override { return position_; }
  void SetPosition(int64_t position) override;
  int64_t GetSize() override { return size_; }
  // Lengthens the store to exactly size when shorter; a store that cannot be
  // lengthened leaves the stream unchanged (callers check GetSize).
  void SetSize(int64_t size) override;
  void Clear() override;
  int64_t CopyFrom(TStream* source, int64_t count) override;
  int32_t Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) override;
  int32_t Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) override;

  bool Reserve(int64_t n);
  // The store; its length is the capacity.
  uint8_t* Data() { return data_; }
  const uint8_t* Data() const { return data_; }
  int32_t Capacity() const { return capacity_; }

 protected:
  ~TMemoryStream() override;

 private:
  friend struct StoreOps;
  bool GrowStore(int64_t capacity);
  int64_t StoreCapacity() const { return capacity_; }
  uint8_t* StoreData() { return data_; }

  uint8_t* data_ = nullptr;
  int32_t capacity_ = 0;
  int32_t size_ = 0;
  int32_t position_ = 0;
};

// A stream over an 8-bit string used as the byte store, so that a text held as
// a string reads as a stream without a copy and written bytes end up in it.
class TStringStream : public TStream {
 public:
  QEL_CLASSNAME(TStringStream)
  static constexpr int64_t kMaxReserve = TMemoryStream::kMaxReserve;

  TStringStream() = default;
  explicit TStringStream(std::string buffer);
  void Dispose() override;

  int64_t GetPosition() override { return position_; }
  void SetPosition(int64_t position) override;
  int64_t GetSize() override { return size_; }
  void SetSize(int64_t size) override;
  void Clear() override;
  int64_t CopyFrom(TStream* source, int64_t count) override;
  int32_t Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) override;
  int32_t Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) override;

  bool Reserve(int64_t n);
  // The store (its length is the capacity) and the content (the first Size bytes).
  std::string& Buffer() { return buffer_; }
  std::string DataString() const { return buffer_.substr(0, static_cast<size_t>(size_)); }

 private:
  friend struct StoreOps;
  bool GrowStore(int64_t capacity);
  int64_t StoreCapacity() const { return static_cast<int64_t>(buffer_.size()); }
  uint8_t* StoreData() { return reinterpret_cast<uint8_t*>(buffer_.data()); }

  std::string buffer_;
  int32_t size_ = 0;
  int32_t position_ = 0;
};

// The file hooks, filled at start-up by the file-stream unit. Each answers a
// stream holding one reference for the caller, or nullptr.
using TReadFileFunc = TStream* (*)(const std::u16string& fileName);
using TWriteFileFunc = TStream* (*)(const std::u16string& fileName, bool recreate);
// Start-up only: set before any thread runs, then read without a lock.
extern TReadFileFunc ReadFile;
extern TWriteFileFunc WriteFile;

// Reads a whole file through the ReadFile hook; true only when every byte was read.
bool ReadFileBytes(const std::u16string& fileName, std::vector<uint8_t>& bytes);

}  // namespace foundation
