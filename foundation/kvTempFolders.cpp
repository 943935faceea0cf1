#include "foundation/kvTempFolders.h"

#include <vector>

#include "foundation/kpExceptions.h"
#include "foundation/kpTypes.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvFileEnum.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvPathMacros.h"
#include "foundation/kvStrings.h"
#include "platform/os/sync.h"

namespace foundation {

namespace os = platform::os;

std::u16string TempRootName = u"ORVANE_TEMP_ROOT";

namespace {

// A root that cannot take folders must not make the caller loop for ever:
// after this many fresh names the result is empty.
constexpr int kMaxCreateAttempts = 16;

// The set-up and the registry are shared by every thread that asks for a
// folder, so they are guarded here rather than left to the callers.
os::CriticalSection& Lock() {
  static os::CriticalSection* lock = new os::CriticalSection();
  return *lock;
}

class TLockScope {
 public:
  TLockScope() { Lock().enter(); }
  ~TLockScope() { Lock().leave(); }
};

std::u16string gRoot;
TStringList* gRegistry = nullptr;

std::u16string LockFileOf(const std::u16string& folder) { return ExcludeTrailingBackslash(folder) + u".lock"; }

// An empty lock file again, so a later run retries the folder.
void RecreateLockFile(const std::u16string& lockFile) {
  TStream* s = OpenFileStreamWrite(lockFile, true);
  FreeObj(s);
}

bool StaleFolderCallback(void*, int, const TFileParams& params, bool&) {
  // ".lock" and "..lock" name no work folder: their stem is the root itself
  // (or its parent), which holds the folders of every running process.
  const std::u16string stem = ChangeFileExt(params.Name, u"");
  if (stem.empty() || stem == u"." || stem == u"..") return false;
  try {
    std::u16string lockFile = gRoot + params.Name;
    // While its owner runs this raises: the owner holds the file without sharing.
    ForceDeleteFile(lockFile);
    std::u16string folder = ChangeFileExt(lockFile, u"");
    if (!DirectoryExists(folder)) return false;
    if (DeleteDirectory(folder)) return true;
    RecreateLockFile(lockFile);
  } catch (const std::exception&) {
    // The folder is in use (or cannot be touched): left alone.
  }
  return false;
}

std::u16string NewFolderName(const std::u16string& root) {
  TGUID guid;
  CreateGUID(guid);
  std::u16string text = GUIDToString(guid);
  return root + u"[" + text.substr(1, text.size() - 2) + u"]";
}

}  // namespace

std::u16string GetTempRoot() {
  TLockScope scope;
  if (!gRoot.empty()) return gRoot;
  if (!gRegistry) {
    gRegistry = new TStringList();
    gRegistry->SetSorted(true);
  }
  std::u16string root = IncludeTrailingBackslash(GetTempFolder(true) + TempRootName);
  std::u16string folder = ExcludeTrailingBackslash(root);
  // The root holds libraries that are loaded from it later: it belongs to this
  // user alone, and one that someone else owns is never used.
  if (!ForceDirectories(ExtractFilePath(folder, false)) || !os::ensurePrivateDirectory(folder))
    QelAssertFail(u"VendorTemp Create Error: " + root);
  gRoot = root;
  try {
    EnumerateFiles(nullptr, root, u"*.lock", &StaleFolderCallback);
  } catch (const EFileError&) {
    // A root that vanished is reported just below.
  }
  if (!DirectoryExists(root)) {
    gRoot.clear();
    QelAssertFail("Temp Path not Found");
  }
  return gRoot;
}

std::u16string CreateTempFolder(bool trailingBackslash) {
  TLockScope scope;
  std::u16string root = GetTempRoot();
  for (int attempt = 0; attempt < kMaxCreateAttempts; ++attempt) {
    std::u16string path = NewFolderName(root);
    std::u16string lockFile = LockFileOf(path);
    if (DirectoryExists(path) || FileExists(path) || FileExists(lockFile)) continue;
    // The lock is taken before the folder exists, so another run's clean-up
    // never finds the folder without its held lock.
    TFileStream* lock = nullptr;
    try {
      lock = TFileStream::CreateFromFile(lockFile, os::GENERIC_READ | os::GENERIC_WRITE, 0, os::CREATE_ALWAYS);
    } catch (const EFileError&) {
      continue;
    }
    if (!ForceDirectories(path) || !DirectoryExists(path)) {
      FreeObj(lock);
      try {
        ForceDeleteFile(lockFile);
      } catch (const EFileError&) {
      }
      continue;
    }
    gRegistry->AddObject(FoldCase(path), lock);
    return trailingBackslash ? path + u"\\" : path;
  }
  return {};
}

bool ReleaseTempFolder(const std::u16string& path, TFileStream* lockStream) {
  TLockScope scope;
  std::u16string folder = ExcludeTrailingBackslash(path);
  std::u16string lockFile = LockFileOf(folder);
  if (lockStream) {
    // Forget the registration, so the unit end does not release it twice.
    for (int32_t i = gRegistry ? gRegistry->GetCount() - 1 : -1; i >= 0; --i)
      if (gRegistry->GetObject(i) == lockStream) gRegistry->Extract(i);
    FreeObj(lockStream);
    ForceDeleteFile(lockFile);
  }
  if (!DirectoryExists(folder)) return false;
  if (DeleteDirectory(folder)) return true;
  RecreateLockFile(lockFile);
  return false;
}

void DoneTempFolders() {
  TLockScope scope;
  std::vector<std::pair<std::u16string, TFileStream*>> entries;
  if (gRegistry) {
    while (gRegistry->GetCount() > 0) {
      std::u16string path = gRegistry->GetString(0);
      entries.emplace_back(path, static_cast<TFileStream*>(gRegistry->Extract(0)));
    }
  }
  for (auto& [path, lock] : entries) {
    try {
      // The registry keeps the folded path; the lock knows the path as made,
      // which needs no case-insensitive lookup on a case-sensitive disk.
      std::u16string made = lock && !lock->FileName().empty() ? ChangeFileExt(lock->FileName(), u"") : path;
      ReleaseTempFolder(made, lock);
    } catch (const std::exception&) {
      // One folder that cannot be released does not keep the others.
    }
  }
  FreeAndNil(gRegistry);
  gRoot.clear();
}

}  // namespace foundation
