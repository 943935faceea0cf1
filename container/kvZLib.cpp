#include "container/kvZLib.h"

#include <cstdlib>
#include <cstring>
#include <exception>


namespace container {

using foundation::EStreamReadError;
using foundation::TStream;

namespace {

[[noreturn]] void RaiseInvalidOperation() {
  throw EZDecompressionError(u"Invalid ZStream operation!");
}

}  // namespace

int ZCheck(int code) {
  if (code < 0) {
    // zlib's own text for the code ("data error", "buffer error", ...), not
    // the detail in the stream state, so callers see a stable message.
    throw EZDecompressionError(std::string_view(zError(code)));
  }
  return code;
}

const char* GetZlibVersion() {
  // The text the image decoders hand to inflateInit_; zlib compares only its
  // first digit, so it fits every 1.x library.
  static const char* const version = "1.2.11";
  return version;
}

voidpf ZAllocMem(voidpf, uInt items, uInt size) {
  // calloc refuses an items x size product that overflows.
  return std::calloc(items, size);
}

void ZFreeMem(voidpf, voidpf block) { std::free(block); }

int ZInflateInit(z_stream& strm, const char* version, int recordSize) {
  if (!strm.zalloc) strm.zalloc = ZAllocMem;
  if (!strm.zfree) strm.zfree = ZFreeMem;
  return inflateInit_(&strm, version, recordSize);
}

int ZInflate(z_stream& strm, int flush) { return inflate(&strm, flush); }

int ZInflateEnd(z_stream& strm) { return inflateEnd(&strm); }

// ---- TCustomZStream -------------------------------------------------------

TCustomZStream::TCustomZStream(TStream* source)
    : Source(source), SourcePos(0), StartPos(0), ZStream{}, InBuffer(nullptr) {
  QEL_ASSERT(source != nullptr, u"zlib stream without a source");
  SourcePos = StartPos = source->GetPosition();
  ZStream.zalloc = ZAllocMem;
  ZStream.zfree = ZFreeMem;
  ZStream.opaque = nullptr;
  InBuffer = static_cast<uint8_t*>(std::malloc(kInputBufferSize));
  if (!InBuffer) throw EZDecompressionError(u"insufficient memory");
  ZStream.next_in = InBuffer;
  ZStream.avail_in = 0;
}

TCustomZStream::~TCustomZStream() {
  std::free(InBuffer);
  InBuffer = nullptr;
}

void TCustomZStream::DoProgress() {
  if (OnProgress) OnProgress(this);
}

// ---- TZDecompressionStream ------------------------------------------------

TZDecompressionStream::TZDecompressionStream(TStream* source) : TCustomZStream(source) {
  InitZStream();
}

TZDecompressionStream::TZDecompressionStream(TStream* source, NoInit) : TCustomZStream(source) {}

TZDecompressionStream::~TZDecompressionStream() {
  // The zlib state is ended here rather than in Dispose so that a
  // constructor that fails after initialising zlib leaks nothing.
  if (ZInitialised) inflateEnd(&ZStream);
  ZInitialised = false;
}

void TZDecompressionStream::InitZStream() {
  ZCheck(inflateInit_(&ZStream, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))));
  ZInitialised = true;
}

// ---- TInflateStream -------------------------------------------------------

TInflateStream::TInflateStream(TStream* source, int64_t declaredSize)
    : TZDecompressionStream(source, NoInit{}), DeclaredSize(declaredSize) {
  InitZStream();
}

void TInflateStream::InitZStream() {
  ZCheck(inflateInit2_(&ZStream, -15, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))));
  ZInitialised = true;
}

int32_t TInflateStream::Read(std::span<uint8_t> buffer, int32_t offset, int32_t count) {
  // The caller's view bounds the room: never write outside it.
  if (offset < 0 || count <= 0 || static_cast<size_t>(offset) >= buffer.size()) return 0;
  const size_t room = buffer.size() - static_cast<size_t>(offset);
  if (static_cast<size_t>(count) > room) count = static_cast<int32_t>(room);

  ZStream.next_out = buffer.data() + offset;
  ZStream.avail_out = static_cast<uInt>(count);

  if (Source->GetPosition() != SourcePos) Source->SetPosition(SourcePos);

  while (ZStream.avail_out > 0 && !StreamEnded) {
    if (ZStream.avail_in == 0) {
      const int32_t got = Source->Read(std::span<uint8_t>(InBuffer, kInputBufferSize), 0, kInputBufferSize);
      if (got <= 0) {  // source exhausted: what was produced so far
        FCutShort = true;
        break;
      }
      ZStream.next_in = InBuffer;
      ZStream.avail_in = static_cast<uInt>(got);
      SourcePos = Source->GetPosition();
      DoProgress();
    }
    const int rc = ZCheck(inflate(&ZStream, Z_NO_FLUSH));
    if (rc == Z_STREAM_END) StreamEnded = true;
  }
  if (StreamEnded && ZStream.avail_in > 0) {
    // Bytes after the deflate data belong to somebody else.
    ZStream.avail_in = 0;
    SourcePos = Source->GetPosition();
  }
  const int32_t produced = count - static_cast<int32_t>(ZStream.avail_out);
  Position += produced;
  return produced;
}

void TInflateStream::SetPosition(int64_t position) {
  if (position == Position) return;
  if (position == 0) {
    ZCheck(inflateReset(&ZStream));
    ZStream.next_in = InBuffer;
    ZStream.avail_in = 0;
    SourcePos = StartPos;  // the next read re-seeks the source
    StreamEnded = false;
    Position = 0;
    return;
  }
  if (position < Position) RaiseInvalidOperation();
  uint8_t scratch[kSkipChunk];
  while (Position < position) {
    const int64_t left = position - Position;
    const int32_t piece = static_cast<int32_t>(left < kSkipChunk ? left : kSkipChunk);
    if (Read(std::span<uint8_t>(scratch, sizeof scratch), 0, piece) != piece) throw EStreamReadError();
  }
}

void TInflateStream::SetSize(int64_t) { RaiseInvalidOperation(); }

int32_t TInflateStream::Write(std::span<const uint8_t>, int32_t, int32_t) { RaiseInvalidOperation(); }

// ---- TInflator ------------------------------------------------------------

namespace {

// Exceptions raised by the streams must not unwind through zlib's C frames:
// the callbacks park them here and report failure to zlib.
struct InflateContext {
  TInflator* self;
  std::exception_ptr error;
};

}  // namespace

void TInflator::Inflate(TStream* source, TStream* dest) {
  QEL_ASSERT(source != nullptr && dest != nullptr, u"inflater without source or destination");
  Source = source;
  Dest = dest;
  InBuffer = static_cast<uint8_t*>(std::malloc(kBufferSize));
  Window = static_cast<uint8_t*>(std::malloc(kBufferSize));
  struct Cleanup {
    TInflator* t;
    bool initialised = false;
    ~Cleanup() {
      if (initialised) inflateBackEnd(&t->ZStream);
      std::free(t->InBuffer);
      std::free(t->Window);
      t->InBuffer = nullptr;
      t->Window = nullptr;
      t->Source = nullptr;
      t->Dest = nullptr;
    }
  } cleanup{this};
  if (!InBuffer || !Window) throw EZDecompressionError(u"insufficient memory");

  ZStream = z_stream{};
  ZStream.zalloc = ZAllocMem;
  ZStream.zfree = ZFreeMem;
  ZCheck(inflateBackInit_(&ZStream, 15, Window, ZLIB_VERSION, static_cast<int>(sizeof(z_stream))));
  cleanup.initialised = true;

  InflateContext ctx{this, nullptr};
  const int rc = inflateBack(&ZStream, InFunc, &ctx, OutFunc, &ctx);
  if (ctx.error) std::rethrow_exception(ctx.error);
  if (rc != Z_STREAM_END && rc != Z_OK) ZCheck(rc);
}

unsigned TInflator::InFunc(void* desc, z_const unsigned char** buf) {
  auto* ctx = static_cast<InflateContext*>(desc);
  TInflator* t = ctx->self;
  *buf = t->InBuffer;
  try {
    const int32_t got = t->Source->Read(std::span<uint8_t>(t->InBuffer, kBufferSize), 0, kBufferSize);
    if (got <= 0) return 0;
    if (t->OnProgress) t->OnProgress(t->Source);
    return static_cast<unsigned>(got);
  } catch (...) {
    ctx->error = std::current_exception();
    return 0;
  }
}

int TInflator::OutFunc(void* desc, unsigned char* buf, unsigned len) {
  auto* ctx = static_cast<InflateContext*>(desc);
  TInflator* t = ctx->self;
  try {
    const int32_t written = t->Dest->WriteBuf(buf, static_cast<int32_t>(len));
    if (written != static_cast<int32_t>(len)) return 1;  // stops zlib
    if (t->OnProgress) t->OnProgress(t->Source);
    return 0;
  } catch (...) {
    ctx->error = std::current_exception();
    return 1;
  }
}

}  // namespace container
