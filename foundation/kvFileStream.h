// The file layer of the stream family: a stream over an open file whose
// failures surface as stream errors, a memory stream filled from a data
// resource of the program, the routines that open and save files as
// streams, and the start-up step that fills the stream layer's file hooks
// (after which "RES:<name>" reads a resource instead of a file).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/kvFileUtils.h"
#include "foundation/kvStream.h"

namespace foundation {

class TFileStream : public TStream {
 public:
  QEL_CLASSNAME(TFileStream)
  // No file; the handle is INVALID_HANDLE_VALUE.
  TFileStream() = default;
  // Opens the file; an open failure raises EFileOpenError and nothing is created.
  static TFileStream* CreateFromFile(const std::u16string& fileName, uint32_t access, uint8_t share,
                                     uint8_t creation);
  void Dispose() override;

  // Closes any open file first; on failure the handle stays invalid and the
  // error propagates.
  void Open(const std::u16string& fileName, uint32_t access, uint8_t share, uint8_t creation);
  void Close();

  int64_t GetPosition() override;
  void SetPosition(int64_t position) override;
  int64_t GetSize() override;
  void SetSize(int64_t size) override;
  void Clear() override;
  int64_t CopyFrom(TStream* source, int64_t count) override;
  int32_t Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) override;
  int32_t Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) override;

  THandle Handle() const { return handle_; }
  const std::u16string& FileName() const { return fileName_; }
  uint32_t Access() const { return access_; }
  uint8_t Share() const { return share_; }

 private:
  // The position lives here, not in the handle: reads and writes go to an
  // offset, so asking for the position or moving it costs no system call.
  int64_t position_ = 0;
  // The size of a file nobody may write while it is open (opened for reading,
  // others allowed to read only), read once; -1 otherwise.
  int64_t fixedSize_ = -1;
  THandle handle_ = INVALID_HANDLE_VALUE;
  uint32_t access_ = 0;
  uint8_t share_ = 0;
  std::u16string fileName_;
};

// A memory stream holding a copy of a resource's bytes.
class TResourceStream : public TMemoryStream {
 public:
  QEL_CLASSNAME(TResourceStream)
};

// Each answers a stream holding one reference for the caller, or nullptr.
TStream* OpenFileStreamRead(const std::u16string& fileName);
TStream* OpenFileStreamWrite(const std::u16string& fileName, bool recreate);
TStream* CreateResourceStream(std::u16string_view resourceName, uint32_t resourceType);
// The hook implementations: "RES:<name>[.<ext>]" (prefix in any case) reads
// the data resource <name>; other names open files.
TStream* FileStreamReadFile(const std::u16string& fileName);
TStream* FileStreamWriteFile(const std::u16string& fileName, bool recreate);

// Writes the whole stream into a new file; false on any error.
bool SaveStreamToFile(const std::u16string& fileName, TStream* stream);

// Start-up: stores the two implementations in the stream layer's hooks.
void InitFileStreams();

}  // namespace foundation
