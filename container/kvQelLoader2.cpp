#include "container/kvQelLoader2.h"

#include <cstring>
#include <vector>

#include "container/kvPartialStream.h"
#include "container/kvQelVirtualFiles.h"
#include "foundation/kpExceptions.h"
#include "foundation/kpStringUtils.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvIniParser.h"
#include "imaging/SysBitmap.h"
#include "imaging/kvLoadCallBack.h"

namespace container {

namespace {

constexpr int32_t kMapBuckets = 251;
constexpr int32_t kLoadCallbackChunk = 32768;

// The player globals. The two references are read by loader threads (through
// the colour-transform hook) while the main thread replaces them.
foundation::TSharedRef<TQelShowLocator> gCurrentLocator;
foundation::TSharedRef<imaging::TColorProfile> gCommandLineProfile;
std::mutex gGlobalsLock;  // guards the four values below; a leaf lock
std::u16string gPreviewExeName;
std::u16string gPreviewProjectName;
std::u16string gMonitorProfilePath;
bool gNoColorManagement = false;

imaging::TCreateColorTransform gPreviousCreateTransform = nullptr;
bool gHookInstalled = false;

void CallLoadCallBack(foundation::TStream* sender) {
  const int64_t size = sender->GetSize();
  imaging::LoadCallBack(size > 0 ? static_cast<float>(sender->GetPosition()) / static_cast<float>(size) : 1.0f);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string TrimBlanks(const std::u16string& s) {
  size_t a = 0, b = s.size();
  while (a < b && IsBlank(s[a])) ++a;
  while (b > a && IsBlank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

std::u16string Unquote(const std::u16string& s) {
  if (s.size() >= 2 && s.front() == u'"' && s.back() == u'"') return s.substr(1, s.size() - 2);
  return s;
}

// A line of a section as text: raw lines as kept, keys as "name=value".
bool ItemLine(const foundation::TIniItem* item, std::u16string& line) {
  if (!item || !item->IsKey()) {
    if (!item || dynamic_cast<const foundation::TIniList*>(item)) return false;
    line = foundation::TIniItem::GetValue(item);
    return true;
  }
  line = foundation::TIniItem::GetName(item) + u"=" + foundation::TIniItem::GetValue(item);
  return true;
}

template <class F>
void ForEachLine(const foundation::TIniFile* ini, std::u16string_view section, F&& f) {
  foundation::TIniSection* s = foundation::TIniFile::FindSection(ini, section);
  if (!s) return;
  for (int32_t i = 0; i < s->GetCount(); ++i) {
    std::u16string line;
    if (ItemLine(s->GetChild(i), line)) f(line);
  }
}

std::vector<std::u16string> SplitAtBar(const std::u16string& text) {
  std::vector<std::u16string> parts;
  if (text.empty()) return parts;
  size_t start = 0;
  while (true) {
    size_t bar = text.find(u'|', start);
    parts.push_back(text.substr(start, bar == std::u16string::npos ? std::u16string::npos : bar - start));
    if (bar == std::u16string::npos) break;
    start = bar + 1;
  }
  return parts;
}

imaging::TColorTransform* EmbeddedCreateTransform(imaging::TColorProfile* Source,
                                                  imaging::TColorProfile* Destination) {
  if (!EmbeddedTransformsOff.load()) {
    foundation::TRef<TQelShowLocator> locator =
        foundation::TRef<TQelShowLocator>::Adopt(AcquireCurrentShowLocator());
    if (locator && locator->Packed) {
      if (!Source || !locator->Accessor) return nullptr;
      const std::u16string name = u"ColorSpaceExe_" + Source->Name + u"].KVGFX";
      // Whoever asks for a transform (a loader thread) must never receive a
      // decoding error: a table that fails anywhere is no table.
      try {
        auto stream = foundation::TRef<foundation::TStream>::Adopt(locator->Accessor->OpenStream(name));
        if (!stream) return nullptr;
        auto image = foundation::TRef<imaging::TImage>::Adopt(imaging::LoadImage(stream.Get(), name, false));
        if (!image) return nullptr;
        // Only a decoded table of the one shape the format has is trusted;
        // anything else would colour every picture wrongly.
        TImageDecodedCheck decoded = EmbeddedTableDecodedHook;
        if (image->Params.Width != 32 || image->Params.Height != 1024 || (decoded && !decoded(image.Get())))
          return nullptr;
        // The transform takes over the image's reference (and releases it if
        // its constructor fails).
        return new TEmbededColorTransform(Source, Destination, image.Detach());
      } catch (...) {
        return nullptr;
      }
    }
  }
  return gPreviousCreateTransform ? gPreviousCreateTransform(Source, Destination) : nullptr;
}

}  // namespace

std::atomic<bool> EmbeddedTransformsOff{false};
TCreateQelSource CreateQelSourceHook = nullptr;
TShowPlayCheck ShowPlayCheckHook = nullptr;
TImageDecodedCheck EmbeddedTableDecodedHook = nullptr;

// ---- TMappedFileSource ---------------------------------------------------------------------------

TMappedFileSource::TMappedFileSource()
    : FileMap(new foundation::THashList(kMapBuckets)), RotationMap(new foundation::THashList(kMapBuckets)) {}

void TMappedFileSource::Dispose() {
  if (FileMap) FileMap->Clear(true);
  foundation::FreeAndNil(FileMap);
  // Orientations are plain numbers, not objects.
  if (RotationMap) RotationMap->Clear(false);
  foundation::FreeAndNil(RotationMap);
  TFileSource::Dispose();
}

bool TMappedFileSource::AddFileMapLine(const std::u16string& Line) {
  std::u16string text = Line;
  if (!text.empty() && text.front() == u';') text.erase(0, 1);
  size_t eq = std::u16string::npos;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'"')
      quoted = !quoted;
    else if (text[i] == u'=' && !quoted) {
      eq = i;
      break;
    }
  }
  if (eq == std::u16string::npos || eq + 1 >= text.size()) return false;
  const std::u16string left = Unquote(TrimBlanks(text.substr(0, eq)));
  const std::u16string right = Unquote(TrimBlanks(text.substr(eq + 1)));
  if (left.empty() || right.empty()) return false;
  std::lock_guard<std::mutex> lock(FMapLock);
  FileMap->FindOrAdd(foundation::UpperCaseStr(left))->Add(new TMappingStr(right));
  return true;
}

bool TMappedFileSource::AddRotationLine(const std::u16string& Line) {
  if (Line.size() < 2 || Line[0] != u';' || Line[1] != u'"') return false;
  const std::u16string text = Line.substr(2);
  const size_t split = text.find(u"\"=");
  if (split == std::u16string::npos) return false;
  const std::u16string name = foundation::UpperCaseStr(text.substr(0, split));
  const std::u16string number = text.substr(split + 2);
  if (name.empty() || number.empty() || number.size() > 9) return false;
  int32_t code = 0;
  for (char16_t c : number) {
    if (c < u'0' || c > u'9') return false;
    code = code * 10 + (c - u'0');
  }
  if (code != 1 && code != 3 && code != 6 && code != 8) return false;
  std::lock_guard<std::mutex> lock(FMapLock);
  RotationMap->FindOrAdd(name)->SetObject(reinterpret_cast<void*>(static_cast<intptr_t>(code)));
  return true;
}

void TMappedFileSource::LoadFileMap(const foundation::TIniFile* Ini) {
  ForEachLine(Ini, u"FileMap", [this](const std::u16string& line) { AddFileMapLine(line); });
}

void TMappedFileSource::LoadRotationMap(const foundation::TIniFile* Ini) {
  bool any = false;
  ForEachLine(Ini, u"RotationState", [&](const std::u16string& line) { any = AddRotationLine(line) || any; });
  if (any) LevelRoutineProvider = [this](imaging::TImageParams& Params) { return QueryOrientation(Params); };
}

bool TMappedFileSource::FindMapping(const std::u16string& Name, std::u16string& Target) {
  std::lock_guard<std::mutex> lock(FMapLock);
  foundation::TKeyItem* entry = nullptr;
  if (!FileMap->TryFind(foundation::UpperCaseStr(Name), entry) || !entry || entry->Count() == 0) return false;
  Target = entry->Get<TMappingStr>(0)->Text;
  return true;
}

int32_t TMappedFileSource::GetOrientation(const std::u16string& Name) {
  std::lock_guard<std::mutex> lock(FMapLock);
  foundation::TKeyItem* entry = nullptr;
  if (!RotationMap->TryFind(foundation::UpperCaseStr(Name), entry) || !entry) return 0;
  return static_cast<int32_t>(reinterpret_cast<intptr_t>(entry->GetObject()));
}

imaging::TLevelRoutine TMappedFileSource::QueryOrientation(imaging::TImageParams& Params) {
  switch (GetOrientation(Params.Name)) {
    case 3:
      return imaging::TurnLevel180Hook;
    case 6:
      std::swap(Params.Width, Params.Height);
      return imaging::TurnLevel90Hook;
    case 8:
      std::swap(Params.Width, Params.Height);
      return imaging::TurnLevel270Hook;
    default:
      return {};
  }
}

foundation::TStream* TMappedFileSource::DoOpen(const std::u16string& Name) { return OpenChained(Name, 0); }

foundation::TStream* TMappedFileSource::OpenChained(const std::u16string& Name, int32_t Depth) {
  std::u16string target;
  // A map whose names form a cycle ends after kMaxLinkSteps mappings with
  // the name reached, which then opens as itself (or is missing).
  if (Depth < kMaxLinkSteps && FindMapping(Name, target)) return OpenChained(target, Depth + 1);
  return OpenMapped(Name, Depth);
}

foundation::TStream* TMappedFileSource::OpenMapped(const std::u16string& Name, int32_t Depth) {
  const size_t bar = Name.find(u'|');
  if (bar != std::u16string::npos) return OpenChained(Name.substr(0, bar), Depth + 1);
  const std::u16string file = ResolvePathAlias(Name);
  if (!foundation::FileExists(file)) return nullptr;
  return TFileStreamEx::OpenRead(file);
}

// ---- TPackedFileSource ---------------------------------------------------------------------------

TPackedFileSource::TPackedFileSource(TQelUnpack* Unpack, bool OwnsUnpack) : Unpack(Unpack), OwnsUnpack(OwnsUnpack) {}

void TPackedFileSource::Dispose() {
  if (OwnsUnpack) foundation::FreeObj(Unpack);
  Unpack = nullptr;
  TMappedFileSource::Dispose();
}

foundation::TStream* TPackedFileSource::OpenMapped(const std::u16string& Name, int32_t Depth) {
  if (!Unpack) return nullptr;
  int64_t position = 0, size = 0;
  int32_t method = 0;
  // A packed show never falls back to the disk. A name with a decoder
  // option ("anim.gif|framesatlas") is looked up whole first, since a show
  // may store a converted picture under it, then as the file before the "|",
  // as a loose project reads it.
  if (!Unpack->GetEntryInfo(Name, position, size, method)) {
    const size_t bar = Name.find(u'|');
    if (bar != std::u16string::npos) return OpenChained(Name.substr(0, bar), Depth + 1);
    return nullptr;
  }
  // Each stream below owns the one it wraps: a wrapper made takes over the
  // reference held here, so whatever raises, everything made is released once.
  auto handle = foundation::TRef<foundation::TFileStream>::Adopt(Unpack->OpenFileHandle());
  if (!handle) return nullptr;
  try {
    if (method == pmDeflated) {
      // OpenEntryStream takes the handle over whatever it answers.
      auto inflated = foundation::TRef<foundation::TStream>::Adopt(
          OpenEntryStream(handle.Detach(), position, size, method, true, Unpack->Key()));
      if (!inflated) return nullptr;
      auto window = foundation::MakeRef<TPartialStream>(inflated.Get(), 0, inflated->GetSize(), true);
      inflated.Detach();
      window->SetReadCallback(CallLoadCallBack, kLoadCallbackChunk);
      return window.Detach();
    }
    auto window = foundation::MakeRef<TPartialStream>(handle.Get(), position, size, true);
    handle.Detach();
    window->SetReadCallback(CallLoadCallBack, kLoadCallbackChunk);
    if (method != pmEnciphered) return window.Detach();
    auto crypt = foundation::MakeRef<TCryptStream>(window.Get(), true, Unpack->Key());
    window.Detach();
    return crypt.Detach();
  } catch (const foundation::Exception&) {
    // A damaged entry is a missing one: the caller shows its placeholder.
    return nullptr;
  }
}

// ---- TEmbededColorTransform ----------------------------------------------------------------------

void AddIdentityToTable(imaging::TSysBitmap* Table) {
  if (!Table || Table->Width != 32 || Table->Height != 1024) return;
  const int32_t bpp = Table->BytesPerPixel();
  if (bpp < 3) return;
  for (int32_t i = 0; i < 32; ++i)
    for (int32_t j = 0; j < 32; ++j) {
      uint8_t* row = Table->Row(32 * i + j);
      for (int32_t k = 0; k < 32; ++k) {
        uint8_t* p = row + k * bpp;
        p[0] = static_cast<uint8_t>(p[0] + imaging::ColorLUTLevel(i));
        p[1] = static_cast<uint8_t>(p[1] + imaging::ColorLUTLevel(j));
        p[2] = static_cast<uint8_t>(p[2] + imaging::ColorLUTLevel(k));
      }
    }
}

TEmbededColorTransform::TEmbededColorTransform(imaging::TColorProfile* Source, imaging::TColorProfile* Destination,
                                               imaging::TImage* Image)
    : imaging::TColorTransform(Source, Destination) {
  try {
    // The store converts the table to 24 bits whatever the loader decoded it as.
    auto* bitmap = dynamic_cast<imaging::TSysBitmap*>(
        Image && Image->Store && imaging::pfR8G8B8
            ? Image->Store->GetBitmap(0, imaging::pfR8G8B8, imaging::TSysBitmap::StaticClass())
            : nullptr);
    if (bitmap && bitmap->BytesPerPixel() == 3) {
      Table = imaging::CreateSysBitmap(bitmap->Width, bitmap->Height, imaging::pfR8G8B8);
      if (Table) {
        for (int32_t y = 0; y < bitmap->Height; ++y)
          std::memcpy(Table->Row(y), bitmap->Row(y), static_cast<size_t>(bitmap->Width) * 3);
        AddIdentityToTable(Table);
      }
    }
  } catch (...) {
    foundation::FreeObj(Image);
    Dispose();
    throw;
  }
  foundation::FreeObj(Image);
}

void TEmbededColorTransform::Dispose() {
  foundation::FreeAndNil(Table);
  imaging::TColorTransform::Dispose();
}

bool TEmbededColorTransform::TransformBitmap(imaging::TSysBitmap* Bitmap) {
  if (!Table || !Bitmap || Bitmap->Width != Table->Width || Bitmap->Height != Table->Height) return false;
  const int32_t bpp = Bitmap->BytesPerPixel();
  if (bpp < 3) return false;
  for (int32_t y = 0; y < Table->Height; ++y) {
    const imaging::TFColor* src = Table->Rows24(y);
    uint8_t* dst = Bitmap->Row(y);
    for (int32_t x = 0; x < Table->Width; ++x) {
      dst[x * bpp + 0] = src[x].B;
      dst[x * bpp + 1] = src[x].G;
      dst[x * bpp + 2] = src[x].R;
    }
  }
  return true;
}

// ---- TQelShowLocator -----------------------------------------------------------------------------

TQelShowLocator::TQelShowLocator(TFileAccessor* Accessor, bool OwnsAccessor, const std::u16string& ProjectName)
    : Accessor(Accessor), OwnsAccessor(OwnsAccessor), ProjectName(ProjectName) {
  QEL_ASSERT(Accessor, "TQelShowLocator.Create: no file accessor");
  if (auto stream = foundation::TRef<foundation::TStream>::Adopt(Accessor->OpenStream(ProjectName))) {
    auto ini = foundation::MakeRef<foundation::TIniFile>();
    bool loaded = false;
    try {
      loaded = foundation::LoadIniFromStream(ini.Get(), stream.Get());
    } catch (const foundation::Exception&) {
      loaded = false;
    }
    if (loaded) ProjectIni = ini.Detach();
  }
  Version = foundation::IniReadString(ProjectIni, u"Main", u"QelVersion", u"");
  if (ProjectIni) {
    if (auto* mapped = dynamic_cast<TMappedFileSource*>(Accessor->Source)) {
      mapped->LoadFileMap(ProjectIni);
      mapped->LoadRotationMap(ProjectIni);
    }
  }
}

void TQelShowLocator::Dispose() {
  // The source keeps the INI and the accessor without owning them: it goes first.
  foundation::FreeAndNil(FSource);
  foundation::FreeAndNil(ProjectIni);
  if (OwnsAccessor) foundation::FreeObj(Accessor);
  Accessor = nullptr;
  TRefObject::Dispose();
}

foundation::TRefObject* TQelShowLocator::GetSourceObject() {
  if (!FSource && CreateQelSourceHook) FSource = CreateQelSourceHook(Accessor, ProjectIni, false);
  return FSource;
}

// ---- Opening ---------------------------------------------------------------------------------------

TFileAccessor* OpenPackedShowAccessor(const std::u16string& FileName, std::u16string& ErrorText) {
  foundation::TRef<TQelUnpack> unpack;
  try {
    unpack = foundation::MakeRef<TQelUnpack>(FileName);
  } catch (const foundation::Exception& e) {
    // A directory that does not inflate is a refused container, reported with its reason.
    ErrorText = e.Message();
    return nullptr;
  }
  if (!unpack->IsOpen()) {
    ErrorText = unpack->ErrorText();
    return nullptr;
  }
  auto source = foundation::MakeRef<TPackedFileSource>(unpack.Get(), true);
  unpack.Detach();  // the source owns it now
  return new TFileAccessor(source.Get());  // with a reference of its own
}

TFileAccessor* CreateMappedFileAccessor() {
  auto source = foundation::MakeRef<TMappedFileSource>();
  return new TFileAccessor(source.Get());
}

namespace {
bool Playable(TQelShowLocator* Locator, std::u16string& ErrorText) {
  if (!ShowPlayCheckHook) return true;
  const std::u16string why = ShowPlayCheckHook(Locator);
  if (why.empty()) return true;
  ErrorText = why;
  return false;
}
}  // namespace

TQelShowLocator* OpenShow(const std::u16string& FileName, std::u16string& ErrorText) {
  const std::u16string previewProject = PreviewProjectName();
  if (!previewProject.empty() &&
      foundation::LowerCaseStr(FileName) == foundation::LowerCaseStr(PreviewExeName()))
    return OpenPreviewProject(previewProject, ErrorText);
  TFileAccessor* accessor = OpenPackedShowAccessor(FileName, ErrorText);
  if (!accessor) return nullptr;
  accessor->BaseFolder = foundation::ExtractFilePath(FileName, true);
  auto locator = foundation::MakeRef<TQelShowLocator>(accessor, true, kProjectEntryName);
  if (!locator->ProjectIni) {
    ErrorText = kShowOpenError;
    return nullptr;
  }
  locator->Packed = true;
  if (!Playable(locator.Get(), ErrorText)) return nullptr;
  ApplyColorSetup(locator.Get());
  return locator.Detach();
}

TQelShowLocator* OpenPreviewProject(const std::u16string& ProjectFileName) {
  std::u16string error;
  return OpenPreviewProject(ProjectFileName, error);
}

TQelShowLocator* OpenPreviewProject(const std::u16string& ProjectFileName, std::u16string& ErrorText) {
  auto locator = foundation::MakeRef<TQelShowLocator>(CreateMappedFileAccessor(), true, ProjectFileName);
  if (!locator->ProjectIni) return nullptr;
  if (!Playable(locator.Get(), ErrorText)) return nullptr;
  foundation::TIniFile* ini = locator->ProjectIni;
  const std::u16string exe = foundation::IniReadString(ini, u"Main", u"opt_exefn", u"");
  locator->Accessor->BaseFolder = exe.empty() ? std::u16string() : foundation::ExtractFilePath(exe, true);
  foundation::TIniSection* modifiers = foundation::TIniFile::FindSection(ini, u"PathModifiers");
  if (modifiers) {
    TPathModifiersList table;
    const int32_t count =
        std::min(foundation::TIniItem::GetInteger(foundation::TIniList::FindKey(modifiers, u"Count"), 0),
                 kMaxPathAliases);
    for (int32_t i = 0; i < count; ++i) {
      const std::u16string n = foundation::TIniItem::GetValue(foundation::TIniList::FindKeyIndexed(modifiers, u"Env", i));
      const std::u16string p =
          foundation::TIniItem::GetValue(foundation::TIniList::FindKeyIndexed(modifiers, u"Path", i));
      const std::u16string d = foundation::TIniItem::GetValue(foundation::TIniList::FindKeyIndexed(modifiers, u"Def", i));
      AddPathAlias(table, n, p, d == u"1");
    }
    InstallPathAliases(table);
  }
  const std::u16string stores =
      foundation::TIniList::ReadString(modifiers, u"storepaths", u"");
  SetStoreRoots(SplitAtBar(stores), 1);
  ApplyColorSetup(locator.Get());
  return locator.Detach();
}

void ApplyColorSetup(TQelShowLocator* Locator) {
  EmbeddedTransformsOff = false;
  imaging::ColorManagementOff = false;
  std::u16string cm = foundation::IniReadString(Locator ? Locator->ProjectIni : nullptr, u"Main",
                                                u"ColorManagement", u"");
  if (NoColorManagement() || cm.empty()) {
    imaging::ColorManagementOff = true;
    return;
  }
  foundation::TRef<imaging::TColorProfile> commandLine = CommandLineProfile();
  if (cm == u"*" && !commandLine) {
    imaging::SetDisplayColorProfile(imaging::RaderAZOColorProfile, false);
    return;
  }
  if (commandLine) {
    imaging::SetDisplayColorProfile(commandLine.Get(), false);
    EmbeddedTransformsOff = true;
    return;
  }
  if (cm == u"?") cm = MonitorProfilePath();
  imaging::TColorProfile* profile = nullptr;
  bool owned = false;
  if (foundation::SameText(cm, u"sRGB")) {
    profile = imaging::SRGBColorProfile;
  } else if (foundation::SameText(cm, u"AdobeRGB")) {
    profile = imaging::AdobeRGBColorProfile;
  } else if (foundation::SameText(cm, u"RaderAZO")) {
    profile = imaging::RaderAZOColorProfile;
  } else {
    std::vector<uint8_t> bytes;
    bool read = false;
    try {
      read = !cm.empty() && foundation::ReadFileBytes(cm, bytes);
    } catch (const foundation::Exception&) {
      read = false;
    }
    if (read) {
      profile = imaging::CreateColorProfile(bytes, foundation::ExtractFileName(cm));
      owned = profile != nullptr;
    }
    if (!profile) profile = imaging::SRGBColorProfile;
  }
  imaging::SetDisplayColorProfile(profile, owned);
  EmbeddedTransformsOff = profile != imaging::SRGBColorProfile;
}

// ---- Globals ------------------------------------------------------------------------------------------

void SetCurrentShowLocator(TQelShowLocator* Locator) { gCurrentLocator.SetAddRef(Locator); }

TQelShowLocator* AcquireCurrentShowLocator() { return gCurrentLocator.Acquire().Detach(); }

void SetPreviewNames(const std::u16string& ExeName, const std::u16string& ProjectName) {
  std::lock_guard<std::mutex> lock(gGlobalsLock);
  gPreviewExeName = ExeName;
  gPreviewProjectName = ProjectName;
}

std::u16string PreviewExeName() {
  std::lock_guard<std::mutex> lock(gGlobalsLock);
  return gPreviewExeName;
}

std::u16string PreviewProjectName() {
  std::lock_guard<std::mutex> lock(gGlobalsLock);
  return gPreviewProjectName;
}

void SetMonitorProfilePath(const std::u16string& Path) {
  std::lock_guard<std::mutex> lock(gGlobalsLock);
  gMonitorProfilePath = Path;
}

std::u16string MonitorProfilePath() {
  std::lock_guard<std::mutex> lock(gGlobalsLock);
  return gMonitorProfilePath;
}

void SetNoColorManagement(bool Value) {
  std::lock_guard<std::mutex> lock(gGlobalsLock);
  gNoColorManagement = Value;
}

bool NoColorManagement() {
  std::lock_guard<std::mutex> lock(gGlobalsLock);
  return gNoColorManagement;
}

void SetCommandLineProfile(imaging::TColorProfile* Profile, bool TakeOver) {
  if (TakeOver)
    gCommandLineProfile.Set(foundation::TRef<imaging::TColorProfile>::Adopt(Profile));
  else
    gCommandLineProfile.SetAddRef(Profile);
}

foundation::TRef<imaging::TColorProfile> CommandLineProfile() { return gCommandLineProfile.Acquire(); }

void InitQelLoader() {
  if (gHookInstalled) return;
  gPreviousCreateTransform = imaging::CreateColorTransformHook;
  imaging::CreateColorTransformHook = EmbeddedCreateTransform;
  gHookInstalled = true;
}

void DoneQelLoader() {
  if (gHookInstalled) {
    imaging::CreateColorTransformHook = gPreviousCreateTransform;
    gPreviousCreateTransform = nullptr;
    gHookInstalled = false;
  }
  SetCurrentShowLocator(nullptr);
  SetCommandLineProfile(nullptr, false);
  SetMonitorProfilePath(u"");
  SetPreviewNames(u"", u"");
  SetNoColorManagement(false);
}

}  // namespace container
