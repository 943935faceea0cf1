// The loader of the FFmpeg libraries: per library its base name and major
// version, loaded from the library folder (or, when allowed, through the
// system's search by soname) and bound through the platform layer.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/SysObj.h"
#include "platform/ffmpeg/api.h"

namespace video {

enum class TLibrary : uint8_t {
  avUtil, swScale, swResample, avCodec, avFormat, avFilter, avDevice, myUtil, SDL2, libSoundTouch, libMFX
};
constexpr int kLibraryKinds = 11;
using TLibraryMask = uint16_t;  // bit n: the library with ordinal n
constexpr TLibraryMask LibraryBit(TLibrary l) { return static_cast<TLibraryMask>(1u << static_cast<unsigned>(l)); }

struct TFFLibraryRecord {
  platform::os::LibraryHandle Handle = 0;
  std::u16string Name;  // empty: never loaded
  int32_t Major = 0;
};

class TFFLoader : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFFLoader)
  TFFLoader();
  // "lib<name>.so.<major>", empty for a library without a name.
  std::u16string FileName(TLibrary library) const;
  // Loads and binds, in enumeration order, every library of the mask not
  // loaded yet. A load failure ends the call with false (libraries loaded
  // before stay loaded); a missing entry point raises the assertion
  // "Load function <name> error".
  bool LoadLibraries(TLibraryMask mask);

  TFFLibraryRecord Libraries[kLibraryKinds];
  std::u16string Folder;       // internal form; empty: only the system search
  bool SystemFallback = true;  // after the folder, try the bare soname
};

// Looks up the entry points of one bound library; a missing one raises the
// assertion "Load function <name> error".
void BindFFLibrary(TLibrary library, platform::os::LibraryHandle module);

double RationalAsDouble(int32_t num, int32_t den);

// Unit start and end: masks the floating-point exceptions for the life of
// the process (FFmpeg's code expects them masked) and creates the process
// loader; the end restores the saved floating-point environment.
void InitFFLoad();
void DoneFFLoad();
TFFLoader* FFLoader();

}  // namespace video
