// The store roots of a previewed loose project: a chain of folders searched
// in order, where a file may be stood in for by a link file (an INI text
// named after it with ".qellnk" whose "item1" names the real file). Names
// beginning "%store%", "%styles%" or "%effects%" are resolved here. Without
// roots (every packed show) names pass through unchanged. Also two path
// routines the file accessor and the locator use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvStrings.h"

namespace container {

// The extension of link files.
inline constexpr char16_t kLinkExtension[] = u".qellnk";
// Link chains and file-map chains are followed at most this many steps: a
// show whose links loop must not hang the loader.
inline constexpr int32_t kMaxLinkSteps = 32;

// One root of the chain.
class TVirtFileSystem : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TVirtFileSystem)
  TVirtFileSystem(const std::u16string& root, bool readOnly);
  // Releases the rest of the chain.
  void Dispose() override;

  // A relative name, or one that begins with the root.
  bool Accepts(const std::u16string& name) const;
  // The file the name stands for, searching this root and the ones after it.
  std::u16string Resolve(const std::u16string& name);
  // The name exists here (as a file or as a link with items or an existing
  // target); with searchOn the later roots are asked as well.
  bool Exists(const std::u16string& name, bool searchOn);

  std::u16string Root;  // with a trailing backslash
  TVirtFileSystem* Next = nullptr;
  std::u16string Name = u"Mirror";
  bool ReadOnly = true;

 private:
  std::u16string FullNameOf(const std::u16string& name) const;
};

// The reader of one link file. Creating and releasing linkers is serialised
// process-wide (the link file is held open without sharing), so two loader
// threads resolving the same link never collide.
class TFileLinker : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFileLinker)
  // A name with a drive prefix must lie under the root (assertion); a
  // relative one is taken under it. The caller holds LinkerLock().
  TFileLinker(const std::u16string& root, const std::u16string& fileName, bool readOnly);
  // Closes the link file; deletes it when it lists no item.
  void Dispose() override;

  std::u16string GetTarget() const { return Target.empty() ? FullName : Target; }
  int32_t ItemCount() const;
  std::u16string Item(int32_t index) const;

  std::u16string FullName;
  std::u16string Target;
  std::u16string Root;
  foundation::TStringList* Items = nullptr;
  foundation::TFileStream* LinkFile = nullptr;
  bool ReadOnly = true;
  bool Loaded = false;

 private:
  void FollowChain();
  void LoadLink();
  void AddItem(const std::u16string& item);
};

// The lock every linker's life runs under (re-entrant).
void EnterLinkerLock();
void LeaveLinkerLock();

// Replaces the chain: one node per folder in list order, the one at
// writableIndex writable, the others read-only.
void SetStoreRoots(const std::vector<std::u16string>& folders, int32_t writableIndex);
// The first root of the chain with one reference for the caller, or nullptr.
TVirtFileSystem* AcquireStoreRoots();

// The name unchanged without a chain; else StripStoreMacro and the chain's resolution.
std::u16string VirtualResolve(const std::u16string& name);
// "%store%rest" -> rest; "%styles%rest" -> "Slide Styles\" rest;
// "%effects%rest" -> "Transitions\" rest (rest keeps its separator); any other
// name unchanged.
std::u16string StripStoreMacro(const std::u16string& name);

// The last backslash-separated item, one trailing backslash ignored.
std::u16string ExtractLastPathItem(const std::u16string& path);
// The part before the last backslash, with or without it.
std::u16string ExtractPathFolder(const std::u16string& path, bool keepBackslash);

// Finalisation: releases the chain.
void DoneVirtualFiles();

}  // namespace container
