// The description of one audio source (TMediaInfo), the process-wide output
// format, the locked stream access every decoder shares (StreamWrapper and the
// plain callback table handed to plug-in libraries), the registration hooks
// through which other units extend detection and opening, and the probe that
// fills the record from a stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "foundation/SysObj.h"
#include "foundation/kpThreads2.h"
#include "foundation/kvStream.h"

namespace audio {

#pragma pack(push, 1)
// WAVEFORMATEX: 18 bytes, little endian, no padding.
struct TWaveFormatEx {
  uint16_t wFormatTag;
  uint16_t nChannels;
  uint32_t nSamplesPerSec;
  uint32_t nAvgBytesPerSec;
  uint16_t nBlockAlign;
  uint16_t wBitsPerSample;
  uint16_t cbSize;
};

// The record crosses the boundary to plug-in libraries: its layout is fixed.
struct TMediaInfo {
  uint32_t DataOffset;
  uint32_t DataSize;
  int32_t Duration;
  uint32_t TotalDuration;
  uint32_t MaxFrameSize;
  uint8_t Reserved1[4];
  double FrameDuration;
  int32_t Shifted;
  uint8_t FormatCode;
  uint8_t Reserved2[3];
  TWaveFormatEx Format;
  uint8_t Extra[38];
};
#pragma pack(pop)

static_assert(sizeof(TWaveFormatEx) == 18);
static_assert(sizeof(TMediaInfo) == 96);
static_assert(offsetof(TMediaInfo, FrameDuration) == 24);
static_assert(offsetof(TMediaInfo, Shifted) == 32);
static_assert(offsetof(TMediaInfo, FormatCode) == 36);
static_assert(offsetof(TMediaInfo, Format) == 40);
static_assert(offsetof(TMediaInfo, Extra) == 58);

// Format tags of the WAVE "fmt " chunk.
constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_ADPCM = 2;
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr uint16_t WAVE_FORMAT_IMA_ADPCM = 0x11;
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x55;

// Decoder families (TMediaInfo::FormatCode).
enum TMusicFormatCode : uint8_t {
  mfcUnknown = 0,
  mfcWavPcm = 1,
  mfcWavAdpcm = 2,
  mfcWavFloat = 3,
  mfcMpeg = 4,
  mfcWma = 5,
  mfcOgg = 6,
  mfcApe = 7,
  mfcAac = 8,
  mfcComposite = 9,
  mfcFFMpeg = 10,
};

// The int32 at record offset 60 (Extra[2..5]): all ones when an MPEG VBR header was found.
int32_t MpegVbrFlag(const TMediaInfo& info);
void SetMpegVbrFlag(TMediaInfo& info, int32_t value);

// PCM stereo 44,100 Hz 16-bit; nothing changes it while the program runs.
extern TWaveFormatEx MusicOutputFormat;
constexpr TWaveFormatEx kDefaultMusicOutputFormat{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};

bool SameWaveFormat(const TWaveFormatEx& a, const TWaveFormatEx& b);

// open(owner, name) answers a stream or nil; close(owner, stream) disposes of one.
using TOpenStreamEvent = std::function<foundation::TStream*(void* owner, const std::u16string& name)>;
using TCloseStreamEvent = std::function<void(void* owner, foundation::TStream* stream)>;

// The eight plain entries handed to plug-in libraries; the stream is the
// TStream passed to the plug-in as an opaque pointer.
struct TStreamCallbacks {
  int64_t (*Read)(void* stream, void* buffer, int32_t count);
  int64_t (*Position)(void* stream);
  int64_t (*Seek)(void* stream, int32_t offset, uint32_t origin);
  int64_t (*Size)(void* stream);
  int64_t (*Read64)(void* stream, void* buffer, int64_t count);
  int64_t (*Position64)(void* stream);
  int64_t (*Seek64)(void* stream, int64_t offset, uint32_t origin);
  int64_t (*Size64)(void* stream);
};
extern const TStreamCallbacks StreamCallbacks;

// Every stream access of every decoder runs under one lock, so decoders on
// different threads never interleave calls on streams that share a file.
class TStreamWrapperClass : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TStreamWrapperClass)
  TStreamWrapperClass();
  void Dispose() override;

  foundation::TStream* OpenStream(void* owner, const std::u16string& name, const TOpenStreamEvent& open);
  foundation::TStream* OpenShiftedStream(void* owner, const std::u16string& name, const TOpenStreamEvent& open,
                                         int32_t offset);
  void CloseStream(void* owner, foundation::TStream* stream, const TCloseStreamEvent& close);
  int64_t GetPosition(foundation::TStream* stream);
  int64_t GetSize(foundation::TStream* stream);
  // Origins: 0 from the start, 1 from the current position, 2 size minus
  // offset; any other fails an assertion. Answers the position read back.
  int64_t Seek(foundation::TStream* stream, int64_t offset, uint32_t origin);
  // Up to count bytes; a short read is no error.
  int64_t Read(foundation::TStream* stream, void* buffer, int64_t count);

  foundation::TSafeCriticalSection* Lock() const { return FLock; }

 private:
  // Owned; every call on every wrapped stream runs under it (opening and
  // closing included), so streams sharing a file never interleave.
  foundation::TSafeCriticalSection* FLock = nullptr;
};
// Exists between InitMusicTypes and DoneMusicTypes.
extern TStreamWrapperClass* StreamWrapper;

class TWavConverter;

// Registration hooks (start-up only): nil until a unit fills them.
using TMediaInfoHook = bool (*)(const std::u16string& name, TMediaInfo& info);
using TIsVirtualNameHook = bool (*)(const std::u16string& name);
using TConverterByNameHook = TWavConverter* (*)(void* player, const std::u16string& name);
using TDetectFormatHook = bool (*)(foundation::TStream* stream, const std::u16string& extension, TMediaInfo& info);
using TCreateConverterHook = TWavConverter* (*)(foundation::TStream* stream, const std::u16string& name,
                                                const TMediaInfo& info);
extern TMediaInfoHook MediaInfoHook;
extern TIsVirtualNameHook IsVirtualNameHook;
extern TConverterByNameHook ConverterByNameHook;
extern TDetectFormatHook DetectFormatHook;
extern TCreateConverterHook CreateConverterHook;

// The name up to, not including, its last "?".
std::u16string StripNameSuffix(const std::u16string& name);
// From the last "." after the last "\", dot included; empty when none.
std::u16string MusicFileExt(const std::u16string& name);
// Compares an extension with an ASCII one without regard to case.
bool SameExt(const std::u16string& ext, const char* ascii);

class TMediaInfoExtractor {
 public:
  // Zeroes the record and fills it; false for a nil stream or an
  // unrecognised source.
  static bool GetMediaInfo(foundation::TStream* stream, const std::u16string& name, TMediaInfo& info);
};

// Unit start and end: the stream wrapper.
void InitMusicTypes();
void DoneMusicTypes();

}  // namespace audio
