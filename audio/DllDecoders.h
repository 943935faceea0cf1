// Decoder plug-in libraries, their process-wide slots, the FFmpeg audio
// binding the fallback goes through, and the format detection hook: the
// plug-in matching a file's extension is asked first, then FFmpeg.
#pragma once

#include <cstdint>
#include <string>

#include "audio/DllDecoderApi.h"
#include "audio/MusicTypes.h"
#include "platform/os/api.h"

namespace audio {

class TDllDec : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TDllDec)
  // Loads the library (internal path) and looks up the five required
  // entries; a library lacking any of them is freed at once.
  explicit TDllDec(const std::u16string& path);
  void Dispose() override;

  bool GetMediaInfo(foundation::TStream* stream, TMediaInfo& info, const TStreamCallbacks* callbacks);
  void* CreateDecoder(foundation::TStream* stream, const TStreamCallbacks* callbacks, uint32_t flags, void* user,
                      TDllWriteCallback write);
  void DestroyDecoder(void* handle);
  void Decode(void* handle);
  void SetPosition(void* handle, uint32_t& ms);
  void LoadOptionalExports();

  platform::os::LibraryHandle Handle = 0;
  bool Valid = false;
  TDllGetMediaInfo GetMediaInfoProc = nullptr;
  TDllCreateDecoder CreateDecoderProc = nullptr;
  TDllDestroyDecoder DestroyDecoderProc = nullptr;
  TDllDecode DecodeProc = nullptr;
  TDllSetPosition SetPositionProc = nullptr;
  TDllIsFileProtected IsFileProtectedProc = nullptr;
};

enum class TDllSlot { Ape, Ogg, Wma, Aac };
// The plug-in of a slot (no reference handed out), nil when empty.
TDllDec* DllInSlot(TDllSlot slot);
// The slot a plug-in format code (5-8) plays through.
TDllSlot SlotOfFormatCode(uint8_t code);

bool LoadDecoder(const std::u16string& path, TDllSlot slot);
bool LoadOggDecoder(const std::u16string& path);
// Only with the Windows Media runtime ("Wmasf.dll", "WmvCore.dll").
bool LoadWmaDecoder(const std::u16string& path);
void UnloadOggDecoder();
void UnloadWmaDecoder();

// FFmpeg audio as the video library binds it. Until a binding is
// registered, FFmpeg counts as not available.
class TFFMpegAudioBase : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFFMpegAudioBase)
  // The name serves as the format hint.
  virtual bool Open(foundation::TStream* stream, const std::u16string& name) = 0;
  // The next frames into Data/Size; false at the end or on error.
  virtual bool DecodeNext() = 0;
  virtual bool Seek(int64_t microseconds) = 0;

  int64_t DurationUs = 0;
  int32_t HasAudio = 0;  // positive when the stream has audio
  int32_t Channels = 0;
  int32_t Rate = 0;
  int32_t BytesPerSample = 0;
  const uint8_t* Data = nullptr;
  uint32_t Size = 0;
};
struct TFFMpegAudioBinding {
  bool (*Load)() = nullptr;              // loads the libraries; true when available
  TFFMpegAudioBase* (*Create)() = nullptr;  // a decoder with MusicOutputFormat as its output
};
// Start-up only.
void SetFFMpegAudioBinding(const TFFMpegAudioBinding& binding);
// Whether FFmpeg is available: settled once, on first use, by loading it.
bool FFMpegAudioAvailable();
// A new FFmpeg audio decoder, nil when FFmpeg is not available.
TFFMpegAudioBase* CreateFFMpegAudio();

// The value of DetectFormatHook.
bool DetectDllFormat(foundation::TStream* stream, const std::u16string& extension, TMediaInfo& info);

// Unit start (fills DetectFormatHook) and end (releases every slot).
void InitDllDecoders();
void DoneDllDecoders();

}  // namespace audio
