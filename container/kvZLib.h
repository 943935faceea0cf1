// The adapters between the stream layer and zlib: the read-only raw-inflate
// stream (container entries of method 1 and the container directory), the
// one-shot callback inflater (converted-image payloads), the mapping of zlib
// result codes to exceptions, and the allocator and version routines that
// code calling zlib directly shares.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <functional>

#include "foundation/kpExceptions.h"
#include "foundation/kvByteString.h"
#include "foundation/kvStream.h"

namespace container {

// zlib failures; not system exceptions of the common kind, so a message is
// always given.
class EZLibError : public foundation::Exception {
 public:
  QEL_CLASSNAME(EZLibError)
  using foundation::Exception::Exception;
};

class EZDecompressionError : public EZLibError {
 public:
  QEL_CLASSNAME(EZDecompressionError)
  using EZLibError::EZLibError;
};

// A progress method: called with the stream (or inflater's source) as it works.
using TZProgressEvent = std::function<void(foundation::TStream* sender)>;

// The result check of every zlib call: a negative code raises
// EZDecompressionError with zlib's own text for that code; zero and positive
// codes pass and are returned.
int ZCheck(int code);

// The zlib version text "1.2.11", kept in a global; the image decoders hand it
// to inflateInit_ (zlib checks only its first digit). The streams here pass
// the installed library's own version.
const char* GetZlibVersion();

// zlib's allocator callbacks: items x size bytes from the program's heap.
voidpf ZAllocMem(voidpf opaque, uInt items, uInt size);
void ZFreeMem(voidpf opaque, voidpf block);

// Thin wrappers over zlib's zlib-format inflate for the image decoders, which
// check the codes themselves.
int ZInflateInit(z_stream& strm, const char* version, int recordSize);
int ZInflate(z_stream& strm, int flush);
int ZInflateEnd(z_stream& strm);

class TCustomZStream : public foundation::TStream {
 public:
  QEL_CLASSNAME(TCustomZStream)
  static constexpr int32_t kInputBufferSize = 65536;

  TZProgressEvent OnProgress;

 protected:
  explicit TCustomZStream(foundation::TStream* source);
  ~TCustomZStream() override;

  // Called each time a new input chunk has been read.
  virtual void DoProgress();

  foundation::TStream* Source;  // not owned
  int64_t SourcePos;            // source position after the last input chunk
  int64_t StartPos;             // source position at construction
  z_stream ZStream;
  uint8_t* InBuffer;
};

class TZDecompressionStream : public TCustomZStream {
 public:
  QEL_CLASSNAME(TZDecompressionStream)
  // zlib-wrapped data.
  explicit TZDecompressionStream(foundation::TStream* source);

 protected:
  struct NoInit {};
  // For descendants that initialise zlib themselves.
  TZDecompressionStream(foundation::TStream* source, NoInit);
  ~TZDecompressionStream() override;

  virtual void InitZStream();
  bool ZInitialised = false;
};

// Inflates raw deflate data (no zlib header) from a source stream on demand.
// The source is not owned; the caller keeps it alive. Read-only and forward
// only, except that position 0 restarts from the beginning.
class TInflateStream : public TZDecompressionStream {
 public:
  QEL_CLASSNAME(TInflateStream)
  static constexpr int32_t kSkipChunk = 8192;

  // declaredSize: the inflated size when the creator knows it, else -1.
  TInflateStream(foundation::TStream* source, int64_t declaredSize);

  int64_t GetPosition() override { return Position; }
  void SetPosition(int64_t position) override;
  int64_t GetSize() override { return DeclaredSize; }
  void SetSize(int64_t size) override;
  int32_t Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) override;
  int32_t Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) override;
  // True once the source ran out before the end of the deflate data (the
  // reads then came back short without an error); kept across a restart.
  bool CutShort() const { return FCutShort; }

 protected:
  void InitZStream() override;

 private:
  int64_t DeclaredSize;
  int64_t Position = 0;
  bool StreamEnded = false;
  bool FCutShort = false;
};

// Copies raw deflate data from one stream to another in one go through
// zlib's callback interface.
class TInflator : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TInflator)
  static constexpr int32_t kBufferSize = 32768;

  TInflator() = default;

  TZProgressEvent OnProgress;

  // Inflates all of source into dest; corrupt data, and a dest that accepts
  // fewer bytes than given, raise EZDecompressionError.
  void Inflate(foundation::TStream* source, foundation::TStream* dest);

 private:
  static unsigned InFunc(void* desc, z_const unsigned char** buf);
  static int OutFunc(void* desc, unsigned char* buf, unsigned len);

  z_stream ZStream{};
  foundation::TStream* Source = nullptr;
  foundation::TStream* Dest = nullptr;
  uint8_t* InBuffer = nullptr;
  uint8_t* Window = nullptr;
};

}  // namespace container
