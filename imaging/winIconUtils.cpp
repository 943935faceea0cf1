#include "imaging/winIconUtils.h"

#include <mutex>
#include <vector>

#include "foundation/kpExceptions.h"
#include "foundation/kvByteString.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvFileEnum.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvPathMacros.h"
#include "foundation/kvRegistry.h"

namespace imaging {

namespace {

const std::u16string kLib = u"%SystemRoot%\\system32\\imageres.dll";
std::u16string Lib(const char16_t* suffix) { return kLib + suffix; }

struct TIdCahceItem {
  foundation::TByteString Key;
  std::u16string Location;
  int32_t Next = -1;
};

struct ExtensionCache {
  std::mutex m;
  std::vector<TIdCahceItem> items;
  std::vector<int32_t> heads = std::vector<int32_t>(4096, 0);
  int32_t lookups = 0;
};
ExtensionCache& Ext() {
  static ExtensionCache* c = new ExtensionCache;
  return *c;
}

std::u16string ReadDefault(platform::os::HKEY root, const std::u16string& path, bool& opened) {
  auto reg = foundation::MakeRef<foundation::TRegistry>();
  opened = reg->OpenKey(root, path, 0);
  if (!opened) return u"";
  std::u16string v = reg->ReadString(u"", u"");
  reg->CloseKey();
  return v;
}

std::u16string ClassIconLocation(platform::os::HKEY root, const std::u16string& prefix, const std::u16string& ext) {
  bool opened;
  std::u16string cls = ReadDefault(root, prefix + ext, opened);
  if (!opened) return u"";
  if (cls.empty()) cls = ext;
  return ReadDefault(root, prefix + cls + u"\\DefaultIcon", opened);
}

// The file part loses one pair of surrounding quotes; a bare file name is
// a file of the system folder.
std::u16string Normalise(const std::u16string& location) {
  const size_t comma = location.rfind(u',');
  std::u16string file = comma == std::u16string::npos ? location : location.substr(0, comma);
  const std::u16string rest = comma == std::u16string::npos ? u"" : location.substr(comma);
  if (file.size() >= 2 && file.front() == u'"' && file.back() == u'"') file = file.substr(1, file.size() - 2);
  if (file.find(u'\\') == std::u16string::npos) file = u"%SystemRoot%\\system32\\" + file;
  return file + rest;
}

std::u16string DriveLocation(const std::u16string& path) {
  if (foundation::GetDrivePrefixLength(path) >= 5) return Lib(u",-143");
  // The drive's kind cannot be asked here: of unknown kind.
  return Lib(u",-75");
}

bool ReadDesktopIni(const std::u16string& folder, std::u16string& location, std::u16string& name) {
  const std::u16string file = foundation::JoinPath(folder, u"desktop.ini");
  if (!foundation::FileExists(file)) return false;
  auto ini = foundation::MakeRef<foundation::TIniFile>();
  if (!foundation::LoadIniFromFile(ini.Get(), file)) return false;
  const std::u16string sec = u".ShellClassInfo";
  location = foundation::IniReadString(ini.Get(), sec, u"IconResource", u"");
  if (location.empty()) {
    location = foundation::IniReadString(ini.Get(), sec, u"IconFile", u"");
    const std::u16string index = foundation::IniReadString(ini.Get(), sec, u"IconIndex", u"");
    if (!location.empty() && !index.empty()) location += u"," + index;
  }
  if (location.empty()) {
    const std::u16string clsid = foundation::IniReadString(ini.Get(), sec, u"CLSID", u"");
    bool opened;
    if (!clsid.empty())
      location = ReadDefault(platform::os::HKEY_CLASSES_ROOT, u"\\CLSID\\" + clsid + u"\\DefaultIcon", opened);
  }
  name = foundation::IniReadString(ini.Get(), sec, u"LocalizedResourceName", u"");
  // "@module,-id" names a string resource of a module, which cannot be read
  // here.
  if (!name.empty() && name[0] == u'@') name.clear();
  return true;
}

}  // namespace

int32_t ExtensionRegistryLookups() {
  std::lock_guard<std::mutex> lock(Ext().m);
  return Ext().lookups;
}

std::u16string TWinIconUtils::GetDialogIconLocation(int32_t Kind) {
  switch (Kind) {
    case 0: return u"";
    case 1: return Lib(u",-98");
    case 2: return Lib(u",-84");
    case 3: return Lib(u",-99");
    case 4: return Lib(u",-81");
    default: foundation::QelAssertFail(std::string_view("Unknown TDlgIconType"));
  }
}

std::u16string TWinIconUtils::GetExtensionIconLocation(const std::u16string& Extension) {
  ExtensionCache& c = Ext();
  const foundation::TByteString key = foundation::TByteString::FromUnicode(Extension);
  const uint32_t bucket = key.HashTextRange() % 4096;
  {
    std::lock_guard<std::mutex> lock(c.m);
    for (int32_t i = c.heads[bucket] - 1; i >= 0; i = c.items[static_cast<size_t>(i)].Next)
      if (c.items[static_cast<size_t>(i)].Key.CompareTextSub(key) == 0) return c.items[static_cast<size_t>(i)].Location;
  }
  if (foundation::SameText(Extension, u".exe")) return Lib(u",-15");
  const std::u16string e = foundation::FoldCase(Extension);
  std::u16string location = ClassIconLocation(platform::os::HKEY_CLASSES_ROOT, u"\\", e);
  if (location.empty()) location = ClassIconLocation(platform::os::HKEY_LOCAL_MACHINE, u"\\SOFTWARE\\Classes\\", e);
  std::lock_guard<std::mutex> lock(c.m);
  ++c.lookups;
  if (location.size() > 1) {
    location = Normalise(location);
    if (c.items.capacity() < 64) c.items.reserve(64);
    c.items.push_back(TIdCahceItem{key, location, c.heads[bucket] - 1});
    c.heads[bucket] = static_cast<int32_t>(c.items.size());
  }
  return location;
}

std::u16string TWinIconUtils::GetFileIconLocation(const std::u16string& Path) {
  if (foundation::IsRootPath(Path)) return DriveLocation(Path);
  uint16_t attributes = 0;
  if (foundation::TryGetFileAttributes(Path, attributes) && (attributes & 0x10)) {
    if (attributes & 0x05) {
      std::u16string location, name;
      if (ReadDesktopIni(Path, location, name) && !location.empty()) return location;
    }
    return Lib(u",-4");
  }
  const std::u16string ext = foundation::ExtractFileExt(Path);
  for (const char16_t* own : {u".exe", u".scr", u".ico", u".cur"})
    if (foundation::SameText(ext, own)) return foundation::FileExists(Path) ? Path : Lib(u",-15");
  const std::u16string loc = GetExtensionIconLocation(ext);
  return loc.empty() ? Lib(u",-2") : loc;
}

bool TWinIconUtils::GetFolderInfo(const std::u16string& Path, std::u16string& Location, std::u16string& Name) {
  Name.clear();
  if (foundation::IsRootPath(Path)) {
    Location = DriveLocation(Path);
    return true;
  }
  if (ReadDesktopIni(Path, Location, Name)) {
    if (!Location.empty()) return true;
  }
  Location = Lib(u",-4");
  return false;
}

bool TWinIconUtils::GetFolderIconLocation(const std::u16string& Path, std::u16string& Location) {
  std::u16string name;
  GetFolderInfo(Path, Location, name);
  return Location != Lib(u",-4");
}

TImage* TWinIconUtils::CreateIconImage(const std::u16string& Location, int32_t Width, int32_t Height) {
  if (Width < 1 || Height < 1) return nullptr;
  // The platform's own icon extraction is not available: the files are
  // read directly or not at all.
  TImage* img = LoadIconImageByLocation(Location, Width, Height, true);
  if (!img && Location.find(u',') == std::u16string::npos) {
    const std::u16string ext = foundation::ExtractFileExt(Location);
    if (foundation::SameText(ext, u".exe") || foundation::SameText(ext, u".scr"))
      img = LoadIconImageByLocation(Lib(u",-15"), Width, Height, true);
    else if (foundation::SameText(ext, u".dll"))
      img = LoadIconImageByLocation(Location + u",0", Width, Height, true);
  }
  if (!img) img = LoadIconImageByLocation(Lib(u",-2"), Width, Height, true);
  return img;
}

void InitWinIconUtils() { SetIconUtils(new TWinIconUtils); }

void DoneWinIconUtils() {
  {
    std::lock_guard<std::mutex> lock(Ext().m);
    Ext().items.clear();
    std::fill(Ext().heads.begin(), Ext().heads.end(), 0);
    Ext().lookups = 0;
  }
  SetIconUtils(nullptr);
}

}  // namespace imaging
