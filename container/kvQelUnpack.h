// The show container reader: finds the trailer at the end of a file (the
// player's own executable, or a separate show file of the same form),
// inflates the directory into an INI tree, checks that the container was not
// moved against its author's will, and opens any entry as a stream, stored,
// inflated or deciphered. The program only reads containers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/SysObj.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvIni.h"
#include "foundation/kvStream.h"

namespace container {

// Packing methods ("_pm"); any other value is read as stored.
enum : int32_t {
  pmStored = 0,
  pmDeflated = 1,
  pmEnciphered = 2,
};

// The directory of a container: one INI document with one section per entry
// and the "$protection$" section.
class TUnpackStruc : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TUnpackStruc)
  TUnpackStruc();
  void Dispose() override;

  foundation::TIniFile* Ini() const { return FIni; }
  // The section of an escaped entry name, case-insensitive; nullptr when missing.
  foundation::TIniSection* FindSection(std::u16string_view name) const;

 private:
  foundation::TIniFile* FIni = nullptr;
};

// The section name of an entry: "[" -> "<", "]" -> ">", every character below
// 32 -> "#" and its value in two uppercase hexadecimal digits.
std::u16string EscapeEntryName(std::u16string_view name);

// A window (position, size) over base, then by method: stored as is, method
// 1 inflated whole into a memory stream, method 2 deciphered with key.
// nullptr when base is nullptr. With ownsBase the base goes with the result
// (and is released at once for method 1, or when opening fails).
foundation::TStream* OpenEntryStream(foundation::TStream* base, int64_t position, int64_t size, int32_t method,
                                     bool ownsBase, std::string_view key);

class TQelUnpack : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQelUnpack)
  // Opens the file and its container. A file that cannot be opened leaves
  // the object closed with "Slideshow File not Found"; a file that is no
  // container, or a container refused, leaves it closed with its reason.
  // Errors inflating or parsing the directory propagate.
  explicit TQelUnpack(std::u16string fileName);
  void Dispose() override;

  bool IsOpen() const { return FStream != nullptr; }
  // Releases the directory and the file stream. Final.
  void Close();

  // False when the container is closed, the section is missing, "_ps" or
  // "_sz" is missing, or the entry does not lie inside the file.
  bool GetEntryInfo(std::u16string_view name, int64_t& position, int64_t& size, int32_t& method) const;
  // A new read-only file stream on the container file, or nullptr.
  foundation::TFileStream* OpenFileHandle() const;
  // An entry stream over the container's own stream (not owned).
  foundation::TStream* OpenBlockStream(int64_t position, int64_t size, int32_t method);

  const std::u16string& FileName() const { return FFileName; }
  const std::u16string& Version() const { return FVersion; }
  const std::u16string& ErrorText() const { return FErrorText; }
  const std::string& Key() const { return FKey; }
  int64_t End() const { return FEnd; }
  int64_t Delta() const { return FDelta; }
  int64_t Shift() const { return FShift; }
  // The directory; nullptr when closed.
  TUnpackStruc* Struc() const { return FStruc; }

 protected:
  bool FindTrailer();
  bool FindTrailerIn();
  bool OpenContainer();

 private:
  std::u16string FFileName;
  foundation::TFileStream* FStream = nullptr;
  int64_t FFileSize = 0;
  int64_t FEnd = 0;
  int64_t FShift = 0;
  int64_t FDelta = 0;
  TUnpackStruc* FStruc = nullptr;
  std::u16string FVersion;
  std::u16string FErrorText;
  std::string FKey;
};

// True with the version text when the file is a container that opens; false
// otherwise, every error swallowed.
bool ReadContainerVersion(const std::u16string& fileName, std::u16string& version);

}  // namespace container
