#include "foundation/kvFileStream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/os/files.h"
#include "platform/os/resources.h"

namespace foundation {

namespace os = platform::os;

namespace {

constexpr uint8_t kShareRead = 1;

// Re-raises a file-layer failure as the stream error E, keeping its message.
template <class E, class F>
auto AsStreamError(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const EFileError& e) {
    if (e.Message().empty()) throw E();
    throw E(e.Message());
  }
}

}  // namespace

TFileStream* TFileStream::CreateFromFile(const std::u16string& fileName, uint32_t access, uint8_t share,
                                         uint8_t creation) {
  auto* stream = new TFileStream();
  try {
    stream->Open(fileName, access, share, creation);
  } catch (...) {
    stream->Free();
    throw;
  }
  return stream;
}

void TFileStream::Dispose() {
  Close();
  TStream::Dispose();
}

void TFileStream::Open(const std::u16string& fileName, uint32_t access, uint8_t share, uint8_t creation) {
  Close();
  handle_ = FileOpen(fileName, access, share, creation);
  fileName_ = fileName;
  access_ = access;
  share_ = share;
  position_ = 0;
  fixedSize_ = -1;
}

void TFileStream::Close() {
  if (handle_ != INVALID_HANDLE_VALUE) {
    const THandle h = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    FileClose(h);
  }
  fileName_.clear();
  position_ = 0;
  fixedSize_ = -1;
}

int64_t TFileStream::GetPosition() {
  // Without a file the handle layer gives the error.
  if (handle_ == INVALID_HANDLE_VALUE)
    return AsStreamError<EStreamError>([&] { return FileSeek(handle_, 0, os::FILE_CURRENT); });
  return position_;
}

void TFileStream::SetPosition(int64_t position) {
  // A position before the start, or no file: the handle layer refuses it
  // with its own error. Past the end is allowed, as for the handle.
  if (handle_ == INVALID_HANDLE_VALUE || position < 0) {
    AsStreamError<EStreamSeekError>([&] { FileSeek(handle_, position, os::FILE_BEGIN); });
    return;
  }
  position_ = position;
}

int64_t TFileStream::GetSize() {
  if (fixedSize_ >= 0) return fixedSize_;
  const int64_t size = AsStreamError<EStreamError>([&] { return FileGetSize(handle_); });
  if ((access_ & os::GENERIC_WRITE) == 0 && (share_ & os::FILE_SHARE_WRITE) == 0) fixedSize_ = size;
  return size;
}

void TFileStream::SetSize(int64_t size) {
  AsStreamError<EStreamError>([&] { FileSetSize(handle_, size); });
  fixedSize_ = -1;
}

void TFileStream::Clear() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  AsStreamError<EStreamError>([&] { FileTruncate(handle_, 0, 0); });
  position_ = 0;
  fixedSize_ = -1;
}

int32_t TFileStream::Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) {
  if (handle_ == INVALID_HANDLE_VALUE) throw EStreamReadError();
  const int32_t got =
      AsStreamError<EStreamReadError>([&] { return FileReadAt(handle_, position_, buffer, offset, count); });
  position_ += got;
  return got;
}

int32_t TFileStream::Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) {
  if (handle_ == INVALID_HANDLE_VALUE) throw EStreamWriteError();
  // Bytes that reached the file move the position even when the write as a
  // whole fails, as they would move the handle's.
  int32_t moved = 0;
  try {
    AsStreamError<EStreamWriteError>([&] { return FileWriteAt(handle_, position_, buffer, offset, count, &moved); });
  } catch (...) {
    position_ += moved;
    throw;
  }
  position_ += moved;
  return moved;
}

int64_t TFileStream::CopyFrom(TStream* source, int64_t count) {
  if (handle_ == INVALID_HANDLE_VALUE) return 0;
  constexpr int64_t kSmall = 1048576;
  constexpr int64_t kLarge = 8388608;
  const int64_t sourceSize = source->GetSize();
  const int64_t planned = sourceSize < 0 ? kSmall + 1 : std::min(count, sourceSize - source->GetPosition());
  // Large copies go through one heap buffer of up to 8 MB.
  uint8_t stackBuffer[kCopyChunk];
  std::unique_ptr<uint8_t[]> heap;
  uint8_t* buffer = stackBuffer;
  int32_t chunk = kCopyChunk;
  if (planned > kSmall) {
    chunk = static_cast<int32_t>(std::min(planned, kLarge));
    heap = std::make_unique<uint8_t[]>(static_cast<size_t>(chunk));
    buffer = heap.get();
  }
  int64_t total = 0;
  while (count > 0) {
    const int32_t want = static_cast<int32_t>(std::min<int64_t>(chunk, count));
    const int32_t got = source->Read(std::span<uint8_t>(buffer, static_cast<size_t>(chunk)), 0, want);
    if (got <= 0) break;
    // A short write (a full disk) is an error: the copy's result must not
    // count bytes that never reached the file.
    const int32_t written = Write(std::span<const uint8_t>(buffer, static_cast<size_t>(chunk)), 0, got);
    if (written != got) throw EStreamWriteError();
    total += got;
    count -= got;
  }
  return total;
}

// ---------------------------------------------------------------------------

TStream* OpenFileStreamRead(const std::u16string& fileName) {
  if (!FileExists(fileName)) return nullptr;
  try {
    return TFileStream::CreateFromFile(fileName, os::GENERIC_READ, kShareRead, os::OPEN_EXISTING);
  } catch (const Exception&) {
    return nullptr;
  }
}

TStream* OpenFileStreamWrite(const std::u16string& fileName, bool recreate) {
  try {
    return TFileStream::CreateFromFile(fileName, os::GENERIC_READ | os::GENERIC_WRITE, kShareRead,
                                       recreate ? os::CREATE_ALWAYS : os::OPEN_ALWAYS);
  } catch (const Exception&) {
    return nullptr;
  }
}

bool SaveStreamToFile(const std::u16string& fileName, TStream* stream) {
  if (!stream) return false;
  TFileStream* file = nullptr;
  bool ok = false;
  try {
    file = TFileStream::CreateFromFile(fileName, os::GENERIC_WRITE, kShareRead, os::CREATE_ALWAYS);
    file->LoadFromStream(stream);
    ok = true;
  } catch (const Exception&) {
    ok = false;
  }
  FreeObj(file);
  return ok;
}

TStream* CreateResourceStream(std::u16string_view resourceName, uint32_t resourceType) {
  const auto bytes = os::findResource(resourceType, resourceName);
  if (!bytes || bytes->empty()) return nullptr;
  auto* stream = new TResourceStream();
  stream->SetSize(static_cast<int64_t>(bytes->size()));
  if (stream->GetSize() != static_cast<int64_t>(bytes->size())) {
    stream->Free();
    return nullptr;
  }
  std::memcpy(stream->Data(), bytes->data(), bytes->size());
  stream->SetPosition(0);
  return stream;
}

TStream* FileStreamReadFile(const std::u16string& fileName) {
  auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
  if (fileName.size() >= 4 && lower(fileName[0]) == u'r' && lower(fileName[1]) == u'e' &&
      lower(fileName[2]) == u's' && fileName[3] == u':') {
    std::u16string_view name = std::u16string_view(fileName).substr(4);
    const size_t dot = name.find(u'.');
    if (dot != std::u16string_view::npos) name = name.substr(0, dot);
    return CreateResourceStream(name, os::RT_RCDATA);
  }
  return OpenFileStreamRead(fileName);
}

TStream* FileStreamWriteFile(const std::u16string& fileName, bool recreate) {
  return OpenFileStreamWrite(fileName, recreate);
}

void InitFileStreams() {
  ReadFile = FileStreamReadFile;
  WriteFile = FileStreamWriteFile;
}

}  // namespace foundation
