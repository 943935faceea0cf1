// The whole path of opening a show and showing its pictures, from bytes: the
// target builds a show from the input, opens it the way the player does, and
// then resolves names and decodes pictures at every mip level, in two pixel
// formats, with the orientation the project records.
//
// Input layout (text friendly, so seeds can be written by hand):
//   byte 0          flags (below)
//   project text    up to the first "\n==>"
//   entries         each "\n==>" <method byte> <name> "\n" <data>, up to the
//                   next "\n==>"; method '0' stored, '1' deflated, '2'
//                   enciphered, any other byte is that method number stored
//                   as it is. An entry named "$dir" adds its data as raw lines
//                   to the container directory instead.
// Flags: bit 0 a loose project on disk (preview) instead of a packed show;
// bit 1 the long trailer; bits 2-3 the project entry's method (0, 1, 2, 7);
// bit 4 "noicc"; bit 5 a command-line display profile; bit 6 the monitor
// profile ("?") names the entry "monitor.icc"; bit 7 no embedded-table check.
//
// A packed show is the container written after a few filler bytes to a
// temporary file and opened with OpenShow: the packed file source, deflated
// and enciphered entries re-wrapped in windows, the embedded colour table
// (asked for every built-in profile). A preview writes the entries as files
// of a private folder and opens the project with OpenPreviewProject: path
// modifiers, store paths, link files ("<name>.qellnk" entries), the file map.
// In both, "@ROOT@" in the project text stands for the private folder.
//
// What must hold for any input: no crash, no hang, no read outside a buffer,
// no object left alive, and names always give an image (a placeholder at
// worst), never an exception. Inputs whose project would reach the disk
// outside the private folder (a drive, a rooted or ".." path, a macro in the
// store paths) are skipped: link resolution creates and deletes files.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "container/kvQelFileAccessor2.h"
#include "container/kvQelLoader2.h"
#include "container/kvQelVirtualFiles.h"
#include "foundation/kpExceptions.h"
#include "foundation/kpStringUtils.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvFileAPI.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvUTF8.h"
#include "fuzz/FuzzSupport.h"
#include "tests/support/PinnedFonts.h"
#include "imaging/SysBitmap.h"
#include "imaging/kvColorProfile.h"
#include "imaging/kvImage.h"
#include "platform/os/paths.h"
#include "player/PlayerStartup.h"
#include "showmodel/Startup.h"
#include "showmodel/kvQelSource2.h"
#include "tests/support/ContainerBuilder.h"

using fuzzing::Check;

namespace {

constexpr std::string_view kEntryMark = "\n==>";
constexpr size_t kMaxEntries = 16;
constexpr size_t kMaxNames = 24;
constexpr size_t kMaxLevelNames = 6;

std::string gRoot;          // the private folder, POSIX form
std::u16string gRootName;   // the same in the program's form ("Z:\...")
std::string gRootUtf8;

void RemoveRoot() {
  std::error_code ec;
  if (!gRoot.empty()) std::filesystem::remove_all(gRoot, ec);
}

void ClearRoot() {
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(gRoot, ec)) std::filesystem::remove_all(e.path(), ec);
}

struct Entry {
  int method = 0;
  std::string name;
  std::string data;
};

struct Show {
  uint8_t flags = 0;
  std::string project;
  std::vector<Entry> entries;
  std::string directoryLines;
};

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

Show Split(const uint8_t* data, size_t size) {
  Show show;
  show.flags = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t at = rest.find(kEntryMark);
  show.project = ReplaceAll(std::string(rest.substr(0, at)), "@ROOT@", gRootUtf8);
  while (at != std::string_view::npos && show.entries.size() < kMaxEntries) {
    const size_t start = at + kEntryMark.size();
    at = rest.find(kEntryMark, start);
    std::string_view part = rest.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start);
    if (part.empty()) continue;
    Entry e;
    const char m = part[0];
    e.method = m == '0' ? 0 : m == '1' ? 1 : m == '2' ? 2 : static_cast<uint8_t>(m);
    part.remove_prefix(1);
    const size_t eol = part.find('\n');
    e.name = std::string(part.substr(0, std::min(eol, size_t(200))));
    if (eol != std::string_view::npos) e.data = std::string(part.substr(eol + 1));
    if (e.name == "$dir")
      show.directoryLines += e.data;
    else if (!e.name.empty())
      show.entries.push_back(std::move(e));
  }
  return show;
}

// A text that stays inside the private folder once it is taken as a path:
// "Z:" (the file system's top) only as the folder itself, no rooted piece,
// no ".." climbing out. Other drives never reach the disk here.
bool StaysInside(const std::u16string& text, bool macrosAllowed) {
  std::u16string rest = foundation::LowerCaseStr(text);
  const std::u16string root = foundation::LowerCaseStr(gRootName);
  for (size_t at; (at = rest.find(root)) != std::u16string::npos;) rest.erase(at, root.size());
  if (rest.find(u"z:") != std::u16string::npos || rest.find(u"..") != std::u16string::npos) return false;
  if (!macrosAllowed && rest.find(u'%') != std::u16string::npos) return false;
  // A separator at the start of a path piece roots it at the file system's top.
  char16_t before = u'=';
  for (char16_t c : rest) {
    if ((c == u'\\' || c == u'/') &&
        (before == u'=' || before == u'|' || before == u'"' || before == u' ' || before == u';' || before == u'\t'))
      return false;
    before = c;
  }
  return true;
}

bool StoreRootsInside(const std::u16string& value) {
  if (!StaysInside(value, false)) return false;
  const std::u16string root = foundation::LowerCaseStr(gRootName) + u"\\";
  size_t start = 0;
  while (true) {
    const size_t bar = value.find(u'|', start);
    const std::u16string item =
        foundation::LowerCaseStr(value.substr(start, bar == std::u16string::npos ? std::u16string::npos : bar - start));
    if (!item.empty() && item.compare(0, root.size(), root) != 0) return false;
    if (bar == std::u16string::npos) return true;
    start = bar + 1;
  }
}

bool ProjectStaysInside(const std::string& text, bool preview) {
  auto* ini = new foundation::TIniFile();
  foundation::LoadIniFromBytes(ini, std::vector<uint8_t>(text.begin(), text.end()));
  bool inside = true;
  const std::u16string cm = foundation::IniReadString(ini, u"Main", u"ColorManagement", u"");
  inside = StaysInside(cm, false);
  if (preview && inside) {
    // Every value and raw line may name a file of a loose project.
    std::vector<foundation::TIniList*> lists{ini};
    while (!lists.empty() && inside) {
      foundation::TIniList* list = lists.back();
      lists.pop_back();
      for (int32_t i = 0; i < list->GetCount() && inside; ++i) {
        foundation::TIniItem* item = list->GetChild(i);
        if (auto* sub = dynamic_cast<foundation::TIniList*>(item)) {
          lists.push_back(sub);
          continue;
        }
        const std::u16string name = foundation::TIniItem::GetName(item);
        const std::u16string value = foundation::TIniItem::GetValue(item);
        inside = StaysInside(name, true) && StaysInside(value, true);
        // Link files are made and removed under the store roots: only
        // roots inside the folder, none relative to the working folder.
        if (inside && foundation::LowerCaseStr(name) == u"storepaths")
          inside = StoreRootsInside(value);
      }
    }
  }
  ini->Free();
  return inside;
}

// Entry names as files of the private folder: plain components only.
std::string FileNameOf(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '\\' || c == '/') {
      if (!out.empty() && out.back() != '/') out += '/';
    } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == ' ' || (c == '.' && !out.empty() && out.back() != '.' && out.back() != '/')) {
      out += c;
    } else {
      out += '_';
    }
  }
  while (!out.empty() && (out.back() == '/' || out.back() == ' ')) out.pop_back();
  return out.size() > 120 ? out.substr(0, 120) : out;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

std::u16string Wide(const std::string& s) { return foundation::UTF8ToUnicode(s); }

void ReadWhole(foundation::TStream* s) {
  if (!s) return;
  std::vector<uint8_t> buf(8192);
  int64_t total = 0;
  for (int32_t n; total < (int64_t(1) << 22) && (n = s->Read(buf, 0, int32_t(buf.size()))) > 0;) total += n;
  if (s->GetSize() > 3) {
    s->SetPosition(s->GetSize() / 3);
    s->Read(buf, 0, 64);
  }
  s->Free();
}

// Every level 0-3 of the picture: decoding, halving and the recorded
// quarter turns in "A8R8G8B8", conversion to "R8G8B8" at the first and the
// last. The decoders' own targets explore large pictures; here a picture is
// decoded only up to kMaxShowPixels, so each input stays quick.
constexpr int64_t kMaxShowPixels = int64_t(1) << 14;

void DecodeLevels(imaging::TImage* image) {
  if (!image || !image->Store) return;
  imaging::TBitmapStore* store = image->Store;
  if (int64_t(store->Params.Width) * store->Params.Height > kMaxShowPixels) return;
  for (int32_t level = 0; level < 4; ++level) {
    for (imaging::TPixelFormat* format : {imaging::pfA8R8G8B8, imaging::pfR8G8B8}) {
      if (format == imaging::pfR8G8B8 && level != 0 && level != 3) continue;
      try {
        imaging::TBitmap* b = store->GetBitmap(level, format, imaging::TSysBitmap::StaticClass());
        if (b) Check(b->Width > 0 && b->Height > 0);
      } catch (const foundation::Exception&) {
        // a picture that fails while decoding a level
      }
    }
  }
}

void ResolveAndDecode(container::TQelShowLocator* locator, const Show& show, bool preview) {
  container::TFileAccessor* accessor = locator->Accessor;
  std::vector<std::u16string> names;
  auto add = [&](const std::u16string& n) {
    if (!n.empty() && names.size() < kMaxNames) names.push_back(n);
  };
  for (const Entry& e : show.entries) {
    const std::u16string name = Wide(e.name);
    // A loose project reads names from the disk: only names inside the folder.
    if (!preview || StaysInside(name, true)) add(name);
  }
  // Names the project itself mentions: file-map sources and rotations.
  for (std::u16string_view section : {u"FileMap", u"RotationState"}) {
    foundation::TIniSection* s = foundation::TIniFile::FindSection(locator->ProjectIni, section);
    for (int32_t i = 0; s && i < s->GetCount() && names.size() < kMaxNames; ++i) {
      const foundation::TIniItem* item = s->GetChild(i);
      std::u16string line =
          item && item->IsKey() ? foundation::TIniItem::GetName(item) : foundation::TIniItem::GetValue(item);
      if (!line.empty() && line[0] == u';') line.erase(0, 1);
      const size_t eq = line.find(u"\"=");
      if (eq != std::u16string::npos) line = line.substr(0, eq);
      if (!line.empty() && line[0] == u'"') line.erase(0, 1);
      add(line);
    }
  }
  // The store aliases over the last item of the first entry.
  if (!show.entries.empty()) {
    const std::u16string last = container::ExtractLastPathItem(Wide(show.entries[0].name));
    for (const char16_t* alias : {u"%styles%\\", u"%effects%\\", u"%store%\\"}) add(alias + last);
  }
  for (size_t i = 0; i < names.size(); ++i) {
    const std::u16string& name = names[i];
    ReadWhole(accessor->OpenStream(name));
    // Looking up a missing name on disk lists folders case-insensitively: a
    // few names are enough to exercise it.
    if (preview && i < 6) {
      std::u16string resolved = name;
      accessor->ResolvePath(resolved);
      ReadWhole(accessor->OpenFile(name));
    }
    imaging::TImage* image = container::TFileAccessor::LoadImage(accessor, name);
    Check(image != nullptr);
    // Levels of the first pictures only: most later names are placeholders,
    // whose levels teach nothing new and cost as much.
    if (i < kMaxLevelNames) DecodeLevels(image);
    image->Free();
  }
}

// The embedded colour table of a packed show, asked for every profile the
// show carries a table for (the others go to the ICC transform, which the
// ICC target explores).
void EmbeddedTables(container::TQelShowLocator* locator, const Show& show) {
  container::SetCurrentShowLocator(locator);
  for (imaging::TColorProfile* source : {imaging::AdobeRGBColorProfile, imaging::RaderAZOColorProfile,
                                         imaging::YUVsRGBColorProfile, imaging::SRGBColorProfile}) {
    const std::u16string table = foundation::LowerCaseStr(u"ColorSpaceExe_" + source->Name + u"].KVGFX");
    bool carried = false;
    for (const Entry& e : show.entries) carried = carried || foundation::LowerCaseStr(Wide(e.name)) == table;
    if (!carried) continue;
    imaging::TColorTransform* t = imaging::CreateColorTransformHook(source, imaging::SRGBColorProfile);
    if (!t) continue;
    if (auto* bitmap = imaging::CreateSysBitmap(32, 1024, imaging::pfR8G8B8)) {
      t->TransformBitmap(bitmap);
      bitmap->Free();
    }
    t->Free();
  }
  container::SetCurrentShowLocator(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Texts lay out on one pinned face: falling back through every face of
  // the system for each input would make the seed replay alone outlast
  // the run's time bound.
  static testsupport::ScopedFontBackend fonts({testsupport::kLiberationSans});
  showmodel::StartShowModel();
  char tmpl[] = "/tmp/qel-show-fuzz-XXXXXX";
  if (!mkdtemp(tmpl)) std::abort();
  gRoot = tmpl;
  gRootName = platform::os::fromPosixPath(gRoot);
  gRootUtf8 = foundation::UnicodeToUTF8(gRootName);
  std::atexit(RemoveRoot);
  return 0;
}

QEL_FUZZ_TARGET(data, size) {
  if (size < 2) return 0;
  const Show show = Split(data, size);
  const bool preview = show.flags & 1;
  if (!ProjectStaysInside(show.project, preview)) return 0;
  ClearRoot();

  container::EmbeddedTableDecodedHook = nullptr;
  if (!(show.flags & 0x80)) player::InstallEmbeddedTableCheck();
  container::SetNoColorManagement(show.flags & 0x10);
  container::SetCommandLineProfile((show.flags & 0x20) ? imaging::AdobeRGBColorProfile : nullptr, false);
  container::SetMonitorProfilePath((show.flags & 0x40) ? gRootName + u"\\monitor.icc" : u"");

  container::TQelShowLocator* locator = nullptr;
  std::u16string error;
  if (preview) {
    for (const Entry& e : show.entries) {
      const std::string file = FileNameOf(e.name);
      if (!file.empty()) WriteFile(gRoot + "/" + file, e.data);
    }
    WriteFile(gRoot + "/Project.qel", show.project);
    locator = container::OpenPreviewProject(gRootName + u"\\Project.qel");
  } else {
    testsupport::ContainerBuilder b;
    static const int kProjectMethods[4] = {0, 1, 2, 7};
    testsupport::ContainerEntry project;
    project.name = "Project.qel";
    project.data = show.project;
    project.method = kProjectMethods[(show.flags >> 2) & 3];
    b.Add(project);
    for (const Entry& e : show.entries) {
      testsupport::ContainerEntry entry;
      entry.name = e.name;
      entry.data = e.data;
      entry.method = e.method;
      b.Add(entry);
      if (e.name == "monitor.icc") WriteFile(gRoot + "/monitor.icc", e.data);
    }
    if (!show.directoryLines.empty()) b.AddDirectoryLines(show.directoryLines);
    b.SetTrailer((show.flags & 2) ? testsupport::TrailerForm::Long : testsupport::TrailerForm::Short);
    b.WriteFile(gRoot + "/show", std::string(16, '\xCC'));
    locator = container::OpenShow(gRootName + u"\\show", error);
    Check(locator || !error.empty());
  }

  if (locator) {
    Check(locator->Accessor != nullptr && locator->ProjectIni != nullptr);
    try {
      locator->GetSourceObject();
    } catch (const foundation::EAssertionFailed&) {
      // The show source refuses sync positions that go back ("Incorrect time").
    }
    ResolveAndDecode(locator, show, preview);
    if (locator->Packed) EmbeddedTables(locator, show);
    locator->Free();
  }

  // Globals a show sets are put back, so the next input starts alike and
  // nothing the show made stays alive.
  container::SetCurrentShowLocator(nullptr);
  container::SetCommandLineProfile(nullptr, false);
  container::SetMonitorProfilePath(u"");
  container::SetNoColorManagement(false);
  container::SetStoreRoots({}, -1);
  container::InstallPathAliases({});
  imaging::SetDisplayColorProfile(nullptr, false);
  return 0;
}
