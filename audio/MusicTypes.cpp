#include "audio/MusicTypes.h"

#include <cstring>
#include <mutex>

#include "audio/MpegInfo.h"
#include "audio/RiffInfo.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvFileStream.h"

namespace audio {

using foundation::TStream;

TWaveFormatEx MusicOutputFormat = kDefaultMusicOutputFormat;
TStreamWrapperClass* StreamWrapper = nullptr;

TMediaInfoHook MediaInfoHook = nullptr;
TIsVirtualNameHook IsVirtualNameHook = nullptr;
TConverterByNameHook ConverterByNameHook = nullptr;
TDetectFormatHook DetectFormatHook = nullptr;
TCreateConverterHook CreateConverterHook = nullptr;

int32_t MpegVbrFlag(const TMediaInfo& info) {
  int32_t v;
  std::memcpy(&v, info.Extra + 2, 4);
  return v;
}

void SetMpegVbrFlag(TMediaInfo& info, int32_t value) { std::memcpy(info.Extra + 2, &value, 4); }

bool SameWaveFormat(const TWaveFormatEx& a, const TWaveFormatEx& b) {
  return std::memcmp(&a, &b, sizeof(TWaveFormatEx)) == 0;
}

// --- the callback table -----------------------------------------------------

namespace {

constexpr int64_t kMaxCallbackRead = 104857600;  // 100 MB

int64_t CbRead64(void* stream, void* buffer, int64_t count) {
  QEL_ASSERT(count <= kMaxCallbackRead, "Too many");
  return StreamWrapper->Read(static_cast<TStream*>(stream), buffer, count);
}
int64_t CbRead(void* stream, void* buffer, int32_t count) { return CbRead64(stream, buffer, count); }
int64_t CbPosition(void* stream) { return StreamWrapper->GetPosition(static_cast<TStream*>(stream)); }
int64_t CbSeek64(void* stream, int64_t offset, uint32_t origin) {
  return StreamWrapper->Seek(static_cast<TStream*>(stream), offset, origin);
}
int64_t CbSeek(void* stream, int32_t offset, uint32_t origin) { return CbSeek64(stream, offset, origin); }
int64_t CbSize(void* stream) { return StreamWrapper->GetSize(static_cast<TStream*>(stream)); }

}  // namespace

const TStreamCallbacks StreamCallbacks{CbRead, CbPosition, CbSeek, CbSize, CbRead64, CbPosition, CbSeek64, CbSize};

// --- the stream wrapper ------------------------------------------------------

TStreamWrapperClass::TStreamWrapperClass() { FLock = new foundation::TSafeCriticalSection(); }

void TStreamWrapperClass::Dispose() {
  foundation::FreeAndNil(FLock);
  TRefObject::Dispose();
}

TStream* TStreamWrapperClass::OpenStream(void* owner, const std::u16string& name, const TOpenStreamEvent& open) {
  std::lock_guard guard(*FLock);
  if (open) return open(owner, name);
  if (IsVirtualNameHook && IsVirtualNameHook(name)) return nullptr;
  return foundation::TFileStream::CreateFromFile(name, 0x80000000u, 1, 3);
}

TStream* TStreamWrapperClass::OpenShiftedStream(void* owner, const std::u16string& name,
                                                const TOpenStreamEvent& open, int32_t offset) {
  std::lock_guard guard(*FLock);
  TStream* inner = OpenStream(owner, name, open);
  if (!inner) return nullptr;
  return new TMp3ShiftStream(inner, offset);
}

void TStreamWrapperClass::CloseStream(void* owner, TStream* stream, const TCloseStreamEvent& close) {
  if (!stream) return;
  std::lock_guard guard(*FLock);
  auto handOver = [&](TStream* s) {
    if (close)
      close(owner, s);
    else
      s->Free();
  };
  if (auto* shifted = dynamic_cast<TMp3ShiftStream*>(stream)) {
    handOver(shifted->Inner());
    shifted->Free();
    return;
  }
  handOver(stream);
}

int64_t TStreamWrapperClass::GetPosition(TStream* stream) {
  std::lock_guard guard(*FLock);
  return stream->GetPosition();
}

int64_t TStreamWrapperClass::GetSize(TStream* stream) {
  std::lock_guard guard(*FLock);
  return stream->GetSize();
}

int64_t TStreamWrapperClass::Seek(TStream* stream, int64_t offset, uint32_t origin) {
  std::lock_guard guard(*FLock);
  switch (origin) {
    case 0:
      stream->SetPosition(offset);
      break;
    case 1:
      stream->SetPosition(stream->GetPosition() + offset);
      break;
    case 2:
      stream->SetPosition(stream->GetSize() - offset);
      break;
    default:
      foundation::QelAssertFail("Unknown seek origin");
  }
  return stream->GetPosition();
}

int64_t TStreamWrapperClass::Read(TStream* stream, void* buffer, int64_t count) {
  std::lock_guard guard(*FLock);
  int64_t done = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  while (done < count) {
    int32_t step = static_cast<int32_t>(std::min<int64_t>(count - done, 1 << 30));
    int32_t got = stream->ReadBuf(out + done, step);
    if (got <= 0) break;
    done += got;
    if (got < step) break;
  }
  return done;
}

// --- names --------------------------------------------------------------------

std::u16string StripNameSuffix(const std::u16string& name) {
  size_t q = name.rfind(u'?');
  return q == std::u16string::npos ? name : name.substr(0, q);
}

std::u16string MusicFileExt(const std::u16string& name) {
  size_t dot = name.rfind(u'.');
  if (dot == std::u16string::npos) return {};
  size_t slash = name.rfind(u'\\');
  if (slash != std::u16string::npos && slash > dot) return {};
  return name.substr(dot);
}

bool SameExt(const std::u16string& ext, const char* ascii) {
  size_t n = std::strlen(ascii);
  if (ext.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char16_t c = ext[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    char16_t a = static_cast<unsigned char>(ascii[i]);
    if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a + 32);
    if (c != a) return false;
  }
  return true;
}

// --- the probe ----------------------------------------------------------------

bool TMediaInfoExtractor::GetMediaInfo(TStream* stream, const std::u16string& name, TMediaInfo& info) {
  std::memset(&info, 0, sizeof(info));
  if (!stream) return false;
  int64_t saved = StreamWrapper->GetPosition(stream);
  std::u16string ext = MusicFileExt(name);
  auto byHook = [&]() { return DetectFormatHook ? DetectFormatHook(stream, ext, info) : false; };

  uint8_t head[8];
  StreamWrapper->Seek(stream, 0, 0);
  int64_t got = StreamWrapper->Read(stream, head, 8);
  if (got == 8 && std::memcmp(head, "RIFF", 4) == 0) {
    if (TRiffInfo::Read(stream, info)) return true;
    std::memset(&info, 0, sizeof(info));
    StreamWrapper->Seek(stream, saved, 0);
    return byHook();
  }
  StreamWrapper->Seek(stream, saved, 0);
  if (SameExt(ext, ".mp3") || SameExt(ext, ".mp2") || SameExt(ext, ".mp1")) return TMpegInfo::Read(stream, info, 0);
  return byHook();
}

void InitMusicTypes() {
  if (!StreamWrapper) StreamWrapper = new TStreamWrapperClass();
}

void DoneMusicTypes() { foundation::FreeAndNil(StreamWrapper); }

}  // namespace audio
