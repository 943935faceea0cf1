#include "container/kvQelVirtualFiles.h"

#include <mutex>
#include <set>

#include "foundation/kpExceptions.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvFileAPI.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "platform/os/files.h"

namespace container {

using foundation::FileExists;

namespace {

std::mutex gChainLock;
TVirtFileSystem* gChain = nullptr;

// Re-entrant: a linker is only ever made while resolving, but Exists and
// Resolve of the same thread may nest through the chain.
std::recursive_mutex gLinkerLock;

bool HasDrive(const std::u16string& name) { return foundation::GetDrivePrefixLength(name) > 0; }

bool StartsWithRoot(const std::u16string& name, const std::u16string& root) {
  return name.size() >= root.size() && foundation::SameFileName(name.substr(0, root.size()), root);
}

// A link's "item1" is a name relative to the root. A drive prefix or a ".."
// component would lead the chain (and the empty link file made for its end)
// outside the root, so such a value ends the chain.
bool SafeRelativeItem(const std::u16string& item) {
  if (HasDrive(item)) return false;
  size_t start = 0;
  while (start <= item.size()) {
    size_t end = item.find_first_of(u"\\/", start);
    if (end == std::u16string::npos) end = item.size();
    if (item.compare(start, end - start, u"..") == 0) return false;
    start = end + 1;
  }
  return true;
}

// "item<n>" of the root section of a link file read as INI text; empty when
// the file or the key is missing or unreadable.
std::u16string ReadFirstItem(const std::u16string& linkFile) {
  foundation::TRef<foundation::TIniFile> ini = foundation::MakeRef<foundation::TIniFile>();
  try {
    if (!foundation::LoadIniFromFile(ini.Get(), linkFile)) return {};
  } catch (const foundation::Exception&) {
    return {};
  }
  return foundation::TIniItem::GetValue(foundation::TIniList::FindKey(ini.Get(), u"item1"));
}

}  // namespace

void EnterLinkerLock() { gLinkerLock.lock(); }
void LeaveLinkerLock() { gLinkerLock.unlock(); }

// ---- TVirtFileSystem ------------------------------------------------------------------------------

TVirtFileSystem::TVirtFileSystem(const std::u16string& root, bool readOnly)
    : Root(foundation::IncludeTrailingBackslash(root)), ReadOnly(readOnly) {}

void TVirtFileSystem::Dispose() {
  // Released one node at a time so a long chain cannot exhaust the stack.
  TVirtFileSystem* next = Next;
  Next = nullptr;
  while (next) {
    TVirtFileSystem* after = nullptr;
    if (next->RefCount() == 1) {
      after = next->Next;
      next->Next = nullptr;
    }
    next->Free();
    next = after;
  }
  TRefObject::Dispose();
}

bool TVirtFileSystem::Accepts(const std::u16string& name) const {
  return !HasDrive(name) || StartsWithRoot(name, Root);
}

std::u16string TVirtFileSystem::FullNameOf(const std::u16string& name) const {
  return HasDrive(name) ? name : Root + name;
}

std::u16string TVirtFileSystem::Resolve(const std::u16string& name) {
  if (!Accepts(name)) return Next ? Next->Resolve(name) : name;
  const std::u16string full = FullNameOf(name);
  if (FileExists(full)) return full;
  if (FileExists(full + kLinkExtension)) {
    std::lock_guard<std::recursive_mutex> guard(gLinkerLock);
    foundation::TRef<TFileLinker> linker =
        foundation::TRef<TFileLinker>::Adopt(new TFileLinker(Root, full, ReadOnly));
    return linker->GetTarget();
  }
  if (HasDrive(name)) return name;
  if (Next) {
    if (ReadOnly) return Next->Resolve(name);
    // The writable root is where a missing file belongs, unless a later
    // root already has it.
    return Next->Exists(name, true) ? Next->Resolve(name) : full;
  }
  return full;
}

bool TVirtFileSystem::Exists(const std::u16string& name, bool searchOn) {
  if (!Accepts(name)) return searchOn && Next && Next->Exists(name, true);
  const std::u16string full = FullNameOf(name);
  if (FileExists(full)) return true;
  if (FileExists(full + kLinkExtension)) {
    std::lock_guard<std::recursive_mutex> guard(gLinkerLock);
    foundation::TRef<TFileLinker> linker =
        foundation::TRef<TFileLinker>::Adopt(new TFileLinker(Root, full, ReadOnly));
    if (linker->ItemCount() > 0 || FileExists(linker->GetTarget())) return true;
  }
  return searchOn && !HasDrive(name) && Next && Next->Exists(name, true);
}

// ---- TFileLinker -----------------------------------------------------------------------------------

TFileLinker::TFileLinker(const std::u16string& root, const std::u16string& fileName, bool readOnly)
    : Root(foundation::IncludeTrailingBackslash(root)), ReadOnly(readOnly) {
  if (HasDrive(fileName)) {
    QEL_ASSERT(StartsWithRoot(fileName, Root), "TFileLinker.Create: AFileName Error");
    FullName = fileName;
  } else {
    FullName = Root + fileName;
  }
  Items = new foundation::TStringList();
  if (FileExists(FullName)) Target = FullName;
  if (Target.empty()) FollowChain();
  LoadLink();
}

void TFileLinker::FollowChain() {
  std::set<std::u16string> visited;
  std::u16string name = FullName;
  visited.insert(foundation::FoldCase(name));
  int32_t hops = 0;
  while (!FileExists(name) && hops < kMaxLinkSteps) {
    const std::u16string item = ReadFirstItem(name + kLinkExtension);
    if (item.empty() || !SafeRelativeItem(item)) break;
    const std::u16string next = Root + item;
    if (!visited.insert(foundation::FoldCase(next)).second) break;  // a loop: the chain ends here
    name = next;
    ++hops;
  }
  Target = name;
  // A name reached through a chain of links is recorded in the final link.
  if (hops > 1) AddItem(FullName.substr(Root.size()));
}

void TFileLinker::LoadLink() {
  using namespace platform::os;
  const std::u16string linkName = Target + kLinkExtension;
  const uint32_t access = ReadOnly ? GENERIC_READ : (GENERIC_READ | GENERIC_WRITE);
  // A link file that cannot be opened or made is a link without items: the
  // loader then sees the name itself and reports a missing file, never an
  // exception.
  try {
    if (FileExists(linkName)) {
      LinkFile = foundation::TFileStream::CreateFromFile(linkName, access, 0, OPEN_EXISTING);
      foundation::TRef<foundation::TIniFile> ini = foundation::MakeRef<foundation::TIniFile>();
      if (foundation::LoadIniFromStream(ini.Get(), LinkFile)) {
        for (int32_t i = 1;; ++i) {
          foundation::TIniItem* key = foundation::TIniList::FindKeyIndexed(ini.Get(), u"item", i);
          if (!key) break;
          AddItem(foundation::TIniItem::GetValue(key));
        }
        Loaded = true;
      }
    } else {
      foundation::ForceDirectories(foundation::ExtractFilePath(linkName, false));
      LinkFile = foundation::TFileStream::CreateFromFile(linkName, access, 0, CREATE_NEW);
      Loaded = true;
    }
  } catch (const foundation::Exception&) {
    // Leave LinkFile as it is (nil when the open failed).
  }
}

void TFileLinker::AddItem(const std::u16string& item) {
  if (item.empty() || Items->IndexOf(item) >= 0) return;
  Items->Add(item);
}

int32_t TFileLinker::ItemCount() const { return Items ? Items->GetCount() : 0; }

std::u16string TFileLinker::Item(int32_t index) const { return Items ? Items->GetString(index) : std::u16string(); }

void TFileLinker::Dispose() {
  if (LinkFile) {
    const std::u16string linkName = LinkFile->FileName();
    foundation::FreeAndNil(LinkFile);
    // Only a link file that was read (or made) and lists nothing goes; one
    // that could not be parsed is left as it is.
    if (Loaded && ItemCount() == 0) foundation::FileApi().DeleteFile(linkName);
  }
  foundation::FreeAndNil(Items);
  TRefObject::Dispose();
}

// ---- Chain -------------------------------------------------------------------------------------------

void SetStoreRoots(const std::vector<std::u16string>& folders, int32_t writableIndex) {
  TVirtFileSystem* first = nullptr;
  TVirtFileSystem* last = nullptr;
  for (size_t i = 0; i < folders.size(); ++i) {
    if (folders[i].empty()) continue;
    auto* node = new TVirtFileSystem(folders[i], static_cast<int32_t>(i) != writableIndex);
    if (last)
      last->Next = node;
    else
      first = node;
    last = node;
  }
  TVirtFileSystem* old;
  {
    std::lock_guard<std::mutex> lock(gChainLock);
    old = gChain;
    gChain = first;
  }
  foundation::FreeObj(old);
}

TVirtFileSystem* AcquireStoreRoots() {
  std::lock_guard<std::mutex> lock(gChainLock);
  if (gChain) gChain->_AddRef();
  return gChain;
}

std::u16string VirtualResolve(const std::u16string& name) {
  foundation::TRef<TVirtFileSystem> chain = foundation::TRef<TVirtFileSystem>::Adopt(AcquireStoreRoots());
  if (!chain) return name;
  return chain->Resolve(StripStoreMacro(name));
}

std::u16string StripStoreMacro(const std::u16string& name) {
  const size_t first = name.find(u'%');
  if (first == std::u16string::npos) return name;
  const size_t second = name.find(u'%', first + 1);
  if (second == std::u16string::npos) return name;
  const std::u16string token = name.substr(first, second - first + 1);
  const std::u16string rest = name.substr(second + 1);
  if (foundation::SameText(token, u"%store%")) return rest;
  if (foundation::SameText(token, u"%styles%")) return u"Slide Styles\\" + rest;
  if (foundation::SameText(token, u"%effects%")) return u"Transitions\\" + rest;
  return name;
}

std::u16string ExtractLastPathItem(const std::u16string& path) {
  std::u16string p = path;
  if (!p.empty() && p.back() == u'\\') p.pop_back();
  const size_t pos = p.rfind(u'\\');
  return pos == std::u16string::npos ? p : p.substr(pos + 1);
}

std::u16string ExtractPathFolder(const std::u16string& path, bool keepBackslash) {
  const size_t pos = path.rfind(u'\\');
  if (pos == std::u16string::npos) return {};
  return path.substr(0, pos + (keepBackslash ? 1 : 0));
}

void DoneVirtualFiles() { SetStoreRoots({}, -1); }

}  // namespace container
