// Opening a show. A show is either the container appended to an executable
// (OpenShow, over a TPackedFileSource) or a loose project on disk that the
// authoring tool hands over for a preview (OpenPreviewProject, over a
// TMappedFileSource). Both end in a TQelShowLocator: the project INI, the
// file accessor every file of the show is read through, the version text
// and, on demand, the show description. This unit also sets up the show's
// colour management and the embedded colour transform a packed show may
// carry, and keeps the globals the player's start-up writes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "container/kvQelFileAccessor2.h"
#include "container/kvQelUnpack.h"
#include "foundation/SysObj.h"
#include "foundation/kvHashLists.h"
#include "foundation/kvIni.h"
#include "imaging/kvColorProfile.h"
#include "imaging/kvImage.h"

namespace showmodel {
class TQelSource;
}

namespace container {

// The name of the project entry of a packed show.
inline constexpr char16_t kProjectEntryName[] = u"Project.qel";
inline constexpr char16_t kShowOpenError[] = u"Executable SlideShow Open Error";
// At most this many path aliases are read from a project ("Count" is show data).
inline constexpr int32_t kMaxPathAliases = 4096;

// One name a file-map entry opens instead.
class TMappingStr : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMappingStr)
  explicit TMappingStr(std::u16string Text) : Text(std::move(Text)) {}
  std::u16string Text;
};

// Files of a loose project on disk, renamed through the project's file map,
// with the orientation recorded for each image.
class TMappedFileSource : public TFileSource {
 public:
  QEL_CLASSNAME(TMappedFileSource)
  TMappedFileSource();
  void Dispose() override;

  foundation::TStream* DoOpen(const std::u16string& Name) override;

  // Every line of "FileMap" and "RotationState".
  void LoadFileMap(const foundation::TIniFile* Ini);
  void LoadRotationMap(const foundation::TIniFile* Ini);
  // One file-map line / rotation line as text; true when it was taken.
  bool AddFileMapLine(const std::u16string& Line);
  bool AddRotationLine(const std::u16string& Line);
  // The first mapped name of a name.
  bool FindMapping(const std::u16string& Name, std::u16string& Target);
  // 1, 3, 6 or 8; 0 for an unknown name.
  int32_t GetOrientation(const std::u16string& Name);
  // The level routine of the image's orientation (width and height swapped
  // for the quarter turns), or none.
  imaging::TLevelRoutine QueryOrientation(imaging::TImageParams& Params);

  foundation::THashList* FileMap = nullptr;
  foundation::THashList* RotationMap = nullptr;

 protected:
  // Opens a name the file map has already been applied to.
  virtual foundation::TStream* OpenMapped(const std::u16string& Name, int32_t Depth);
  // The file map, followed at most kMaxLinkSteps mappings.
  foundation::TStream* OpenChained(const std::u16string& Name, int32_t Depth);

 private:
  // A hash list's lookup moves its cache: lookups from loader threads are serialised.
  std::mutex FMapLock;
};

// The entries of a show container.
class TPackedFileSource : public TMappedFileSource {
 public:
  QEL_CLASSNAME(TPackedFileSource)
  TPackedFileSource(TQelUnpack* Unpack, bool OwnsUnpack);
  void Dispose() override;

  TQelUnpack* Unpack = nullptr;
  bool OwnsUnpack = false;

 protected:
  foundation::TStream* OpenMapped(const std::u16string& Name, int32_t Depth) override;
};

// The colour lookup table a packed show carries for a source profile.
class TEmbededColorTransform : public imaging::TColorTransform {
 public:
  QEL_CLASSNAME(TEmbededColorTransform)
  // Copies the image (32 x 1024 differences) into an absolute 24-bit table.
  TEmbededColorTransform(imaging::TColorProfile* Source, imaging::TColorProfile* Destination, imaging::TImage* Image);
  void Dispose() override;
  // Copies the table over the identity table it is given.
  bool TransformBitmap(imaging::TSysBitmap* Bitmap) override;

  imaging::TSysBitmap* Table = nullptr;
};

// Whether a colour-table image really came from its data (a converted image
// that fails to decode is a plain substitute of the right size). Filled at
// start-up with the converted-image loader's own answer; none trusts the image.
using TImageDecodedCheck = bool (*)(imaging::TImage* Image);
// Start-up only: set before any thread runs, then read without a lock.
extern TImageDecodedCheck EmbeddedTableDecodedHook;

// Adds the identity levels to a 32 x 1024 table of stored differences.
void AddIdentityToTable(imaging::TSysBitmap* Table);

// Makes the show description from the accessor and the project INI (neither
// owned by it). Filled by the show model's start-up.
using TCreateQelSource = foundation::TRefObject* (*)(TFileAccessor* Accessor, foundation::TIniFile* Ini,
                                                      bool OwnsIni);
// Start-up only: set before any thread runs, then read without a lock.
extern TCreateQelSource CreateQelSourceHook;

class TQelShowLocator : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQelShowLocator)
  // Reads the project through the accessor (which must be given); with
  // ownsAccessor the locator takes over the caller's reference.
  TQelShowLocator(TFileAccessor* Accessor, bool OwnsAccessor, const std::u16string& ProjectName);
  void Dispose() override;

  // The show description, made on first request; owned by the locator.
  template <class TSource = showmodel::TQelSource>
  TSource* GetSource() {
    return static_cast<TSource*>(GetSourceObject());
  }
  foundation::TRefObject* GetSourceObject();

  TFileAccessor* Accessor = nullptr;
  bool OwnsAccessor = false;
  foundation::TIniFile* ProjectIni = nullptr;
  std::u16string ProjectName;
  std::u16string Version;
  bool Packed = false;

 private:
  foundation::TRefObject* FSource = nullptr;
};

// Why an opened show cannot play, else empty; asked by the openers before
// they hand a locator out, so a show the player could not start is refused
// with a reason instead of failing later. Filled by the player's start-up;
// none accepts every show that opens.
using TShowPlayCheck = std::u16string (*)(TQelShowLocator* Locator);
// Start-up only: set before any thread runs, then read without a lock.
extern TShowPlayCheck ShowPlayCheckHook;

TQelShowLocator* OpenShow(const std::u16string& FileName, std::u16string& ErrorText);
TQelShowLocator* OpenPreviewProject(const std::u16string& ProjectFileName);
TQelShowLocator* OpenPreviewProject(const std::u16string& ProjectFileName, std::u16string& ErrorText);
TFileAccessor* OpenPackedShowAccessor(const std::u16string& FileName, std::u16string& ErrorText);
TFileAccessor* CreateMappedFileAccessor();
// The colour set-up every opened locator gets.
void ApplyColorSetup(TQelShowLocator* Locator);

// ---- Globals the player writes ------------------------------------------------------------------

// The current show locator (a reference is kept); Acquire gives one more reference, or none.
void SetCurrentShowLocator(TQelShowLocator* Locator);
TQelShowLocator* AcquireCurrentShowLocator();

// The executable a previewed project stands for, and that project's file.
void SetPreviewNames(const std::u16string& ExeName, const std::u16string& ProjectName);
std::u16string PreviewExeName();
std::u16string PreviewProjectName();

// Set by the start-up from the command line.
void SetMonitorProfilePath(const std::u16string& Path);
std::u16string MonitorProfilePath();
void SetNoColorManagement(bool Value);
bool NoColorManagement();
// The command-line display profile (a reference is kept), or none. Handed
// out with a reference of the caller's own: the start-up may replace it
// while a show opens on another thread.
void SetCommandLineProfile(imaging::TColorProfile* Profile, bool TakeOver);
foundation::TRef<imaging::TColorProfile> CommandLineProfile();

// Computed by the colour set-up (which also sets imaging::ColorManagementOff).
extern std::atomic<bool> EmbeddedTransformsOff;

// Start-up: wraps the colour-transform creation hook (keeping the previous
// one); call after the ICC layer installed its hook. Finalisation undoes it
// and releases the globals.
void InitQelLoader();
void DoneQelLoader();

}  // namespace container
