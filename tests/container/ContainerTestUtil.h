// Small helpers shared by the container tests: memory streams from bytes,
// whole-stream reads, and a base stream that counts and can refuse.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvStream.h"

namespace containertest {

using foundation::TMemoryStream;
using foundation::TRef;
using foundation::TStream;

inline TRef<TMemoryStream> MemStream(std::string_view bytes) {
  auto s = TRef<TMemoryStream>::Adopt(new TMemoryStream());
  if (!bytes.empty()) s->WriteBuf(bytes.data(), static_cast<int32_t>(bytes.size()));
  s->SetPosition(0);
  return s;
}

inline std::string Contents(TMemoryStream* s) {
  return std::string(reinterpret_cast<const char*>(s->Data()), static_cast<size_t>(s->GetSize()));
}

// Reads until the stream gives 0, in pieces of the given size.
inline std::string ReadAll(TStream* s, int32_t piece = 65536) {
  std::string out;
  std::vector<uint8_t> buf(static_cast<size_t>(piece));
  for (;;) {
    const int32_t n = s->Read(buf, 0, piece);
    if (n <= 0) break;
    out.append(reinterpret_cast<const char*>(buf.data()), static_cast<size_t>(n));
  }
  return out;
}

inline std::string ReadN(TStream* s, int32_t count) {
  std::string out(static_cast<size_t>(count), '\0');
  const int32_t n = s->ReadBuf(out.data(), count);
  out.resize(static_cast<size_t>(n < 0 ? 0 : n));
  return out;
}

// Deterministic bytes that compress somewhat but not trivially.
inline std::string TestBytes(size_t n, uint32_t seed = 1) {
  std::string out(n, '\0');
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = static_cast<char>((i % 7 == 0) ? (x >> 16) : ('a' + (x >> 24) % 6));
  }
  return out;
}

// A memory-backed stream that counts the bytes read through it, can cap each
// read or write, and reports when it is disposed of.
class TProbeStream : public TStream {
 public:
  explicit TProbeStream(std::string bytes, bool* disposed = nullptr)
      : data_(std::move(bytes)), disposed_(disposed) {}
  void Dispose() override {
    if (disposed_) *disposed_ = true;
    TStream::Dispose();
  }
  int64_t GetPosition() override { return pos_; }
  void SetPosition(int64_t p) override { pos_ = p; }
  int64_t GetSize() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t n) override { data_.resize(static_cast<size_t>(n)); }
  int32_t Read(std::span<uint8_t> buf, int32_t off, int32_t count) override {
    ++reads;
    if (pos_ < 0 || pos_ >= GetSize() || count <= 0) return 0;
    int64_t n = std::min<int64_t>(count, GetSize() - pos_);
    if (maxRead > 0) n = std::min<int64_t>(n, maxRead);
    std::copy_n(data_.data() + pos_, n, reinterpret_cast<char*>(buf.data() + off));
    if (readCount.size() < data_.size()) readCount.resize(data_.size(), 0);
    for (int64_t i = 0; i < n; ++i) ++readCount[static_cast<size_t>(pos_ + i)];
    pos_ += n;
    bytesRead += n;
    return static_cast<int32_t>(n);
  }
  int32_t Write(std::span<const uint8_t> buf, int32_t off, int32_t count) override {
    if (count <= 0) return 0;
    int64_t n = count;
    if (maxWrite >= 0) n = std::min<int64_t>(n, maxWrite);
    if (pos_ + n > GetSize()) data_.resize(static_cast<size_t>(pos_ + n));
    std::copy_n(reinterpret_cast<const char*>(buf.data() + off), n, data_.data() + pos_);
    pos_ += n;
    return static_cast<int32_t>(n);
  }

  std::string data_;
  int64_t pos_ = 0;
  int32_t maxRead = 0;    // 0: no cap
  int32_t maxWrite = -1;  // -1: no cap
  int reads = 0;
  int64_t bytesRead = 0;
  std::vector<int> readCount;  // per byte of the data

 private:
  bool* disposed_;
};

}  // namespace containertest

#include <atomic>
#include <filesystem>
#include <random>

#include "foundation/kpExceptions.h"
#include "platform/os/paths.h"

namespace containertest {

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("qel_container_" + std::to_string(std::random_device{}()) + "_" +
             std::to_string(reinterpret_cast<uintptr_t>(this)) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  // The POSIX path of a file in the folder.
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The program's own form of a POSIX path.
inline std::u16string Internal(const std::string& posix) { return platform::os::fromPosixPath(posix); }

inline std::u16string U16(std::string_view utf8) { return foundation::MessageFromUtf8(utf8); }

}  // namespace containertest
