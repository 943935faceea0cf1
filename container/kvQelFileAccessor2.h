// The show's file namespace. Every part of the player that needs a file of
// the show asks a TFileAccessor for a stream or an image by name; the
// accessor sits on a file source that knows how to open names (container
// entries, a loose project's files, plain files). Names may begin with a
// path alias ("%styles%", "%effects%", "%store%" or one of the show's own),
// expanded here. Decoded images exist once per file name and source and are
// shared by every user; a missing or undecodable file gives a drawn
// placeholder image instead of an error.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kpThreads2.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvHashLists.h"
#include "foundation/kvStream.h"
#include "imaging/kvImage.h"

namespace container {

// ---- Path aliases ----------------------------------------------------------------------------------

struct TPathModifier {
  std::u16string Name;    // "%name%", case-folded
  std::u16string Folder;  // absolute, macros expanded, no trailing backslash
  bool Default = false;
};

// A value type: the entries and their count. Storage grows from 8 entries by doubling.
struct TPathModifiersList {
  std::vector<TPathModifier> Items;
  int32_t Count = 0;
};

void ClearPathAliases(TPathModifiersList& Table);
// Appends; the index of the new entry, or -1.
int32_t AddPathAlias(TPathModifiersList& Table, const std::u16string& Name, const std::u16string& Folder,
                     bool Default);
// Accepts 0 <= Index <= Count and shifts later entries up; Index, or -1 when refused.
int32_t InsertPathAlias(TPathModifiersList& Table, int32_t Index, const std::u16string& Name,
                        const std::u16string& Folder, bool Default);
// Copies the table into the process-wide one.
void InstallPathAliases(const TPathModifiersList& Table);
// The name with its alias tokens expanded through the table; "%store%",
// "%styles%" and "%effects%" always go to the store roots.
std::u16string ExpandPathAliases(const TPathModifiersList& Table, const std::u16string& Name);
// ExpandPathAliases with the process-wide table.
std::u16string ResolvePathAlias(const std::u16string& Name);
bool AliasedFileExists(const std::u16string& Name);

// ---- File sources ----------------------------------------------------------------------------------

class TFileSource;

// Given a file name, a ready image (one reference for the caller) or none.
using TImageCallback = std::function<imaging::TImage*(const std::u16string& Name)>;

// One registered image callback; releasing it removes the callback.
class TCallbackHandle : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TCallbackHandle)
  TCallbackHandle(TFileSource* Source, TImageCallback Callback);
  void Dispose() override;

  TFileSource* Source = nullptr;  // not counted: the source outlives its handles
  TImageCallback Callback;
};

class TFileSource : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFileSource)
  TFileSource();
  void Dispose() override;

  // Opens a name of this source: a stream with one reference, or none.
  virtual foundation::TStream* DoOpen(const std::u16string& Name) = 0;

  // DoOpen under the source's lock; the result comes wrapped in a window
  // over its whole size that calls the load callback every 32 KB read.
  foundation::TStream* OpenStream(const std::u16string& Name);
  TCallbackHandle* AddImageCallback(TImageCallback Callback);
  // The callbacks in registration order; the first image wins. A callback
  // that raises counts as one without an image.
  imaging::TImage* QueryImageCallbacks(const std::u16string& Name);

  // Serialises DoOpen (one open at a time per source); taken inside an image
  // handle's decode lock; the alias, link and file-layer locks nest inside it.
  foundation::TSafeCriticalSection* Lock = nullptr;
  int32_t SourceId = 0;
  // Handed to the image registry with every decode.
  imaging::TLevelProvider LevelRoutineProvider;

 private:
  friend class TCallbackHandle;
  std::mutex FCallbackLock;                       // a leaf: callbacks run outside it
  std::vector<TCallbackHandle*> FImageCallbacks;  // guarded by FCallbackLock
};

// A file stream whose reads answer 0 when the file layer fails.
class TFileStreamEx : public foundation::TFileStream {
 public:
  QEL_CLASSNAME(TFileStreamEx)
  static TFileStreamEx* OpenRead(const std::u16string& FileName);
  int32_t Read(std::span<uint8_t> Buffer, int32_t Offset, int32_t Count) override;
};

// Plain files on disk, after alias expansion.
class TRealFileSource : public TFileSource {
 public:
  QEL_CLASSNAME(TRealFileSource)
  foundation::TStream* DoOpen(const std::u16string& Name) override;
};

// ---- Accessor --------------------------------------------------------------------------------------

using TFallbackOpen = std::function<foundation::TStream*(const std::u16string& Name)>;
using TOpenHook = void (*)(const std::u16string& Name, foundation::TStream*& Stream);

class TFileAccessor : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFileAccessor)
  // Takes a reference to the source, which must be given.
  explicit TFileAccessor(TFileSource* Source);
  void Dispose() override;

  // A new accessor on the same source with the same base folder.
  virtual TFileAccessor* Clone();

  foundation::TStream* OpenStream(const std::u16string& Name);
  // The existing form of a name: itself, its alias expansion, or its last
  // component in BaseFolder. False (name unchanged) when none exists.
  bool ResolvePath(std::u16string& Name);
  // ResolvePath, then the file opened read-only; none on failure.
  foundation::TStream* OpenFile(const std::u16string& Name);
  // The shared image of the name, or a placeholder; never none and never an
  // exception for a missing or damaged file. Without an accessor: assertion.
  static imaging::TImage* LoadImage(TFileAccessor* Accessor, const std::u16string& Name);

  TFileSource* Source = nullptr;
  int32_t MipLevel = 0;
  TFallbackOpen FallbackOpen;
  TOpenHook OpenHook = nullptr;
  std::u16string BaseFolder;
};

// ---- Image handles -----------------------------------------------------------------------------------

// One decoded file of one source, shared by every image made on it.
class TImageHandle : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TImageHandle)
  TImageHandle(foundation::TKeyItem* Entry, int32_t SourceId);
  // Runs under the process-wide handle lock: leaves the hash list.
  void Dispose() override;

  // Decoding runs under it (it is taken before the source's Lock); Store and
  // Decoded are written under it once and only read afterwards.
  std::mutex Lock;
  foundation::TKeyItem* Entry = nullptr;  // guarded by the process-wide handle lock
  imaging::TBitmapStore* Store = nullptr;
  bool Decoded = false;
  int32_t SourceId = 0;
};

// The accessor's image: one reference to its handle.
class TQelImage : public imaging::TImage {
 public:
  QEL_CLASSNAME(TQelImage)
  explicit TQelImage(TImageHandle* Handle);
  void Dispose() override;
  imaging::TImage* Clone() override;

  TImageHandle* Handle = nullptr;
};

imaging::TImage* GetImageHandle(TFileSource* Source, const std::u16string& Name);
// Number of image handles alive.
int32_t LiveImageHandleCount();

// The placeholder of a file that is missing (opened false) or does not
// decode (opened true): two lines, each with one blank on both sides, the
// first "Image not found", "Video not found", "Image load error:" or
// "Video load error:", the second the name's last path item. When the
// installed producer raises or gives none, the default one draws it.
imaging::TImage* CreatePlaceholderImage(const std::u16string& Name, bool Opened, bool Video);

// Draws the two lines of a placeholder into an image (one reference for the
// caller). InitFileAccessor installs VectorTextPlaceholderProducer; the
// default, a plain grey picture (100, 100, 100) of a fixed size, stands in
// when it fails.
using TPlaceholderProducer = imaging::TImage* (*)(const std::u16string& Line1, const std::u16string& Line2);
// Start-up only: set before any thread runs, then read without a lock.
extern TPlaceholderProducer PlaceholderProducerHook;
imaging::TImage* DefaultPlaceholderProducer(const std::u16string& Line1, const std::u16string& Line2);
// The lines as a vector text in the default font parameters, rendered at
// scale 0.5 in light grey (230, 230, 230) on grey (100, 100, 100), both
// opaque; none when no vectorizer is installed.
imaging::TImage* VectorTextPlaceholderProducer(const std::u16string& Line1, const std::u16string& Line2);
inline constexpr int32_t kPlaceholderWidth = 256;
inline constexpr int32_t kPlaceholderHeight = 64;

// The process-wide real-file accessor (made at start-up), and new ones that
// copy its BaseFolder.
TFileAccessor* RealFileAccessor();
TFileAccessor* CreateRealFileAccessor();

// Start-up and finalisation of the unit.
void InitFileAccessor();
void DoneFileAccessor();

}  // namespace container
