#include "audio/DllDecoders.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>

namespace audio {

using foundation::TStream;
namespace os = platform::os;

// --- TDllDec ------------------------------------------------------------------

TDllDec::TDllDec(const std::u16string& path) {
  Handle = os::loadLibrary(path);
  if (!Handle) return;
  GetMediaInfoProc = reinterpret_cast<TDllGetMediaInfo>(os::getProcAddress(Handle, "GetMediaInfo"));
  CreateDecoderProc = reinterpret_cast<TDllCreateDecoder>(os::getProcAddress(Handle, "CreateDecoder"));
  DestroyDecoderProc = reinterpret_cast<TDllDestroyDecoder>(os::getProcAddress(Handle, "DestroyDecoder"));
  DecodeProc = reinterpret_cast<TDllDecode>(os::getProcAddress(Handle, "Decode"));
  SetPositionProc = reinterpret_cast<TDllSetPosition>(os::getProcAddress(Handle, "SetPosition"));
  Valid = GetMediaInfoProc && CreateDecoderProc && DestroyDecoderProc && DecodeProc && SetPositionProc;
  if (!Valid) {
    os::freeLibrary(Handle);
    Handle = 0;
  }
}

void TDllDec::Dispose() {
  if (Handle) {
    std::this_thread::yield();
    os::freeLibrary(Handle);
    Handle = 0;
  }
  TRefObject::Dispose();
}

bool TDllDec::GetMediaInfo(TStream* stream, TMediaInfo& info, const TStreamCallbacks* callbacks) {
  std::memset(&info, 0, sizeof(info));
  if (!Valid) return false;
  int32_t duration = 0, offset = 0;
  uint8_t r = GetMediaInfoProc(stream, callbacks, &duration, &offset, &info.Format);
  if (r != 0) {
    info.Duration = duration;
    info.DataOffset = uint32_t(offset);
  }
  return r != 0;
}

void* TDllDec::CreateDecoder(TStream* stream, const TStreamCallbacks* callbacks, uint32_t flags, void* user,
                             TDllWriteCallback write) {
  return Valid ? CreateDecoderProc(stream, callbacks, flags, user, write) : nullptr;
}

void TDllDec::DestroyDecoder(void* handle) {
  if (Valid) DestroyDecoderProc(handle);
}

void TDllDec::Decode(void* handle) {
  if (Valid) DecodeProc(handle);
}

void TDllDec::SetPosition(void* handle, uint32_t& ms) {
  if (Valid) SetPositionProc(handle, &ms);
}

void TDllDec::LoadOptionalExports() {
  if (Handle)
    IsFileProtectedProc = reinterpret_cast<TDllIsFileProtected>(os::getProcAddress(Handle, "isFileProtected"));
}

// --- slots ----------------------------------------------------------------------

namespace {

// Filled on the music loader thread and read by converters made on it, so
// a plain mutex around the slot array is enough.
std::mutex gSlotLock;
TDllDec* gSlots[4] = {};

TDllDec*& Slot(TDllSlot slot) { return gSlots[static_cast<int>(slot)]; }

void Unload(TDllSlot slot) {
  TDllDec* old;
  {
    std::lock_guard guard(gSlotLock);
    old = Slot(slot);
    Slot(slot) = nullptr;
  }
  foundation::FreeObj(old);
}

bool CanLoadAndFree(const char16_t* name) {
  os::LibraryHandle h = os::loadLibrary(name);
  if (!h) return false;
  os::freeLibrary(h);
  return true;
}

}  // namespace

TDllDec* DllInSlot(TDllSlot slot) {
  std::lock_guard guard(gSlotLock);
  return Slot(slot);
}

TDllSlot SlotOfFormatCode(uint8_t code) {
  switch (code) {
    case mfcWma:
      return TDllSlot::Wma;
    case mfcOgg:
      return TDllSlot::Ogg;
    case mfcApe:
      return TDllSlot::Ape;
    default:
      return TDllSlot::Aac;
  }
}

bool LoadDecoder(const std::u16string& path, TDllSlot slot) {
  {
    std::lock_guard guard(gSlotLock);
    if (Slot(slot)) return true;
  }
  auto* dll = new TDllDec(path);
  if (!dll->Valid) {
    dll->Free();
    return false;
  }
  std::lock_guard guard(gSlotLock);
  if (Slot(slot)) {
    dll->Free();
    return true;
  }
  Slot(slot) = dll;
  return true;
}

bool LoadOggDecoder(const std::u16string& path) { return LoadDecoder(path, TDllSlot::Ogg); }

bool LoadWmaDecoder(const std::u16string& path) {
  if (!CanLoadAndFree(u"Wmasf.dll") || !CanLoadAndFree(u"WmvCore.dll")) return false;
  if (!LoadDecoder(path, TDllSlot::Wma)) return false;
  if (TDllDec* dll = DllInSlot(TDllSlot::Wma)) dll->LoadOptionalExports();
  return true;
}

void UnloadOggDecoder() { Unload(TDllSlot::Ogg); }
void UnloadWmaDecoder() { Unload(TDllSlot::Wma); }

// --- FFmpeg -----------------------------------------------------------------------

namespace {

TFFMpegAudioBinding gBinding;
std::mutex gSettleLock;
int gState = -1;  // unknown until first asked; then 0 not available, 1 available

}  // namespace

void SetFFMpegAudioBinding(const TFFMpegAudioBinding& binding) {
  std::lock_guard guard(gSettleLock);
  gBinding = binding;
  gState = -1;
}

bool FFMpegAudioAvailable() {
  std::lock_guard guard(gSettleLock);
  if (gState < 0) {
    // A library lacking an entry point raises: that is "not available" too.
    bool ok = false;
    try {
      ok = gBinding.Load && gBinding.Create && gBinding.Load();
    } catch (const std::exception&) {
      ok = false;
    }
    gState = ok ? 1 : 0;
  }
  return gState == 1;
}

TFFMpegAudioBase* CreateFFMpegAudio() { return FFMpegAudioAvailable() ? gBinding.Create() : nullptr; }

// --- detection --------------------------------------------------------------------

bool DetectDllFormat(TStream* stream, const std::u16string& extension, TMediaInfo& info) {
  struct Route {
    const char* ext;
    TDllSlot slot;
    uint8_t code;
  };
  static constexpr Route kRoutes[] = {{".ape", TDllSlot::Ape, mfcApe}, {".mac", TDllSlot::Ape, mfcApe},
                                      {".ogg", TDllSlot::Ogg, mfcOgg}, {".wma", TDllSlot::Wma, mfcWma},
                                      {".aac", TDllSlot::Aac, mfcAac}};
  for (const Route& r : kRoutes) {
    if (!SameExt(extension, r.ext)) continue;
    TDllDec* dll = DllInSlot(r.slot);
    if (dll && dll->GetMediaInfo(stream, info, &StreamCallbacks)) {
      info.FormatCode = r.code;
      return true;
    }
    std::memset(&info, 0, sizeof(info));
    break;
  }
  TFFMpegAudioBase* audio = CreateFFMpegAudio();
  if (!audio) return false;
  bool found = false;
  try {
    if (audio->Open(stream, u"qwe" + StripNameSuffix(extension)) && audio->HasAudio > 0) {
      info.FormatCode = mfcFFMpeg;
      info.Duration = int32_t(std::llround(double(audio->DurationUs) / 1000.0));
      info.Format = MusicOutputFormat;
      found = true;
    }
  } catch (...) {
    audio->Free();
    throw;
  }
  audio->Free();
  return found;
}

void InitDllDecoders() { DetectFormatHook = DetectDllFormat; }

void DoneDllDecoders() {
  for (TDllSlot s : {TDllSlot::Ape, TDllSlot::Ogg, TDllSlot::Wma, TDllSlot::Aac}) Unload(s);
  if (DetectFormatHook == DetectDllFormat) DetectFormatHook = nullptr;
}

}  // namespace audio
