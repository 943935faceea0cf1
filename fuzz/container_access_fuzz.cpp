// Fuzz target for the show data the file-access layer parses: the input is
// taken as a project file (its "FileMap", "RotationState" and
// "PathModifiers" sections drive a mapped file source, alias expansion and
// name lookups, mapping cycles included), and as a link file in a private
// store root that is then resolved.
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "container/Startup.h"
#include "container/kvQelFileAccessor2.h"
#include "container/kvQelLoader2.h"
#include "container/kvQelVirtualFiles.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvFileAPI.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "fuzz/FuzzSupport.h"
#include "platform/os/paths.h"

namespace {

std::string gRoot;

void RemoveRoot() {
  std::error_code ec;
  if (!gRoot.empty()) std::filesystem::remove_all(gRoot, ec);
}

void Start() {
  static bool started = false;
  if (started) return;
  started = true;
  container::StartContainer();
  char tmpl[] = "/tmp/qel-access-fuzz-XXXXXX";
  if (mkdtemp(tmpl)) gRoot = tmpl;
  atexit(RemoveRoot);
}

// The mapped source with its last step kept off the disk: the chain of
// mappings is what is exercised, and the names it reaches are counted.
class TOfflineSource : public container::TMappedFileSource {
 public:
  int32_t Reached = 0;

 protected:
  foundation::TStream* OpenMapped(const std::u16string& Name, int32_t Depth) override {
    ++Reached;
    if (Name.find(u'|') != std::u16string::npos) return OpenChained(Name.substr(0, Name.find(u'|')), Depth + 1);
    return nullptr;
  }
};

void ResetRoot() {
  std::error_code ec;
  std::filesystem::remove_all(gRoot, ec);
  std::filesystem::create_directories(gRoot, ec);
}

std::vector<std::u16string> SectionTexts(foundation::TIniFile* ini, std::u16string_view section) {
  std::vector<std::u16string> out;
  foundation::TIniSection* s = foundation::TIniFile::FindSection(ini, section);
  if (!s) return out;
  for (int32_t i = 0; i < s->GetCount() && out.size() < 16; ++i) {
    foundation::TIniItem* item = s->GetChild(i);
    out.push_back(foundation::TIniItem::GetName(item));
    out.push_back(foundation::TIniItem::GetValue(item));
  }
  return out;
}

}  // namespace

QEL_FUZZ_TARGET(data, size) {
  Start();
  const std::vector<uint8_t> bytes(data, data + size);
  auto* ini = new foundation::TIniFile();
  foundation::LoadIniFromBytes(ini, bytes);

  // The file map and rotations of a mapped source, then lookups of every
  // name they mention (chains and cycles of mappings end).
  auto* source = new TOfflineSource();
  source->LoadFileMap(ini);
  source->LoadRotationMap(ini);
  std::vector<std::u16string> names = SectionTexts(ini, u"FileMap");
  for (const std::u16string& n : SectionTexts(ini, u"RotationState")) names.push_back(n);
  for (const std::u16string& name : names) {
    std::u16string target;
    source->FindMapping(name, target);
    imaging::TImageParams params;
    params.Name = name;
    params.Width = 40;
    params.Height = 30;
    source->QueryOrientation(params);
    container::StripStoreMacro(name);
    container::ExtractLastPathItem(name);
    container::ExtractPathFolder(name, true);
  }
  for (const std::u16string& name : names) {
    const int32_t before = source->Reached;
    foundation::FreeObj(source->OpenStream(name));
    if (source->Reached == before) abort();  // every lookup ends somewhere
  }
  source->Free();

  // Path aliases from "PathModifiers", expanded over the names.
  container::TPathModifiersList table;
  foundation::TIniSection* modifiers = foundation::TIniFile::FindSection(ini, u"PathModifiers");
  for (int32_t i = 0; i < 4 && modifiers; ++i) {
    container::AddPathAlias(
        table, foundation::TIniItem::GetValue(foundation::TIniList::FindKeyIndexed(modifiers, u"Env", i)),
        platform::os::fromPosixPath(gRoot) + u"\\" +
            foundation::TIniItem::GetValue(foundation::TIniList::FindKeyIndexed(modifiers, u"Path", i)),
        foundation::TIniItem::GetValue(foundation::TIniList::FindKeyIndexed(modifiers, u"Def", i)) == u"1");
  }
  for (size_t i = 0; i < names.size() && i < 4; ++i) container::ExpandPathAliases(table, names[i]);
  ini->Free();

  // The input as a link file in a store root, resolved (its target's empty
  // link file is made and removed again).
  // Only inputs that can name an item are worth the disk work.
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (!gRoot.empty() && (text.find("tem") != std::string::npos || text.find("TEM") != std::string::npos)) {
    const std::u16string root = platform::os::fromPosixPath(gRoot);
    {
      FILE* f = fopen((gRoot + "/a.png.qellnk").c_str(), "wb");
      if (f) {
        fwrite(data, 1, size, f);
        fclose(f);
      }
    }
    container::SetStoreRoots({root}, 0);
    try {
      container::VirtualResolve(u"a.png");
      foundation::TRef<container::TVirtFileSystem> chain =
          foundation::TRef<container::TVirtFileSystem>::Adopt(container::AcquireStoreRoots());
      chain->Exists(u"a.png", true);
    } catch (const foundation::Exception&) {
      // An internal assertion would be a finding; file errors are not raised here.
      abort();
    }
    container::SetStoreRoots({}, -1);
    ResetRoot();  // folders made for link targets do not pile up between inputs
  }
  return 0;
}
