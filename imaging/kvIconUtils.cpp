#include "imaging/kvIconUtils.h"

#include <algorithm>
#include <mutex>

#include "foundation/kvCaseFolding.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvPathMacros.h"
#include "foundation/kvStringUtils.h"

namespace imaging {

TScreenPpiFunc IconScreenPpiHook = nullptr;

namespace {

TIconUtils* g_utils = nullptr;

const char16_t kLibrary[] = u"%SystemRoot%\\system32\\imageres.dll";
const char16_t kSysnative[] = u"%SystemRoot%\\Sysnative\\imageres.dll";
const char16_t kFallback[] = u"%SystemRoot%\\system32\\shell32.dll";

// The icon library's cache: its stream and resource list, read once.
struct LibraryCache {
  std::mutex m;
  bool pathKnown = false;
  std::u16string path;
  foundation::TStream* stream = nullptr;
  TPEResourceList* list = nullptr;
  bool fallback = false;
};
LibraryCache& Cache() {
  static LibraryCache* c = new LibraryCache;
  return *c;
}

std::u16string Expanded(const std::u16string& p) {
  std::u16string s = p;
  foundation::ExpandPath(s);
  return s;
}

bool EndsWithNoCase(const std::u16string& s, const char16_t* tail) {
  const std::u16string t(tail);
  return s.size() >= t.size() && foundation::SameText(s.substr(s.size() - t.size()), t);
}

std::u16string Decimal(int64_t v) {
  std::u16string out;
  for (char c : std::to_string(v)) out += static_cast<char16_t>(c);
  return out;
}

// A whole stream copied into memory (the library is read once and kept).
foundation::TStream* InMemory(foundation::TStream* s) {
  auto* m = new foundation::TMemoryStream;
  s->SetPosition(0);
  m->CopyFrom(s, s->GetSize());
  m->SetPosition(0);
  return m;
}

}  // namespace

TIconUtils* GetIconUtils() {
  if (!g_utils) g_utils = new TIconUtils;
  return g_utils;
}

void SetIconUtils(TIconUtils* Utils) {
  TIconUtils* old = g_utils;
  g_utils = Utils;
  if (old) old->Free();
}

int32_t MapImageresToShell32(int32_t r) {
  switch (r) {
    case 2:
    case 15: return 1;
    case 23: return 116;
    case 28:
    case 29: return 6;
    case 30:
    case 37: return 12;
    case 31: return 11;
    case 32:
    case 36:
    case 75: return 9;
    case 33: return 10;
    case 34: return 13;
    case 35: return 8;
    case 143: return 172;
    case 174: return 4;
    default: return 5;
  }
}

TImage* LoadIconImage(const std::u16string& Location, int32_t Width, int32_t Height) {
  if (Location.empty()) return nullptr;
  if (Width <= 0) Width = 32 * (IconScreenPpiHook ? IconScreenPpiHook() : 96) / 96;
  if (Height <= 0) Height = Width;
  return GetIconUtils()->CreateIconImage(Location, Width, Height);
}

void GetIconImage(TIconImageRec& Rec, const std::u16string& Location, int32_t Width, int32_t Height) {
  Rec.Image = LoadIconImage(Location, Width, Height);
  if (!Rec.Image) {
    Rec.Width = Rec.Height = 0;
    return;
  }
  TBitmap* b = Rec.Image->GetBitmap();
  Rec.Width = Width > 0 ? Width : (b ? b->Width : 0);
  Rec.Height = Height > 0 ? Height : (b ? b->Height : 0);
}

bool BuildIconFileFromGroup(foundation::TStream* Res, foundation::TStream* Out, TPEResourceList* List,
                            TPEResourceItem* Group) {
  if (!Res || !Out || !Group || !List || Group->Type != u"14") return false;
  const int64_t saved = Res->GetPosition();
  const int64_t resSize = Res->GetSize();
  struct Restore {
    foundation::TStream* s;
    int64_t at;
    ~Restore() { s->SetPosition(at); }
  } restore{Res, saved};
  uint8_t header[6];
  if (Group->Position < 0 || Group->Position + 6 > resSize) return false;
  Res->SetPosition(Group->Position);
  if (Res->ReadBuf(header, 6) != 6) return false;
  const uint16_t count = static_cast<uint16_t>(header[4] | (header[5] << 8));
  // Every group entry must lie inside the group's own data.
  if (int64_t{6} + 14 * int64_t{count} > int64_t{Group->Size}) return false;
  Out->WriteBuf(header, 6);
  std::vector<TPEResourceItem*> images;
  uint32_t offset = 6 + 16u * count;
  for (uint16_t i = 0; i < count; ++i) {
    uint8_t e[14];
    Res->SetPosition(Group->Position + 6 + 14 * int64_t{i});
    if (Res->ReadBuf(e, 14) != 14) return false;
    const uint16_t id = static_cast<uint16_t>(e[12] | (e[13] << 8));
    TPEResourceItem* img = List->FindResource(u"3", Decimal(id));
    if (!img) return false;
    // An image must lie inside the file: its size is copied below.
    if (img->Position < 0 || img->Position + int64_t{img->Size} > resSize) return false;
    uint8_t d[16];
    std::copy(e, e + 8, d);
    d[8] = static_cast<uint8_t>(img->Size);
    d[9] = static_cast<uint8_t>(img->Size >> 8);
    d[10] = static_cast<uint8_t>(img->Size >> 16);
    d[11] = static_cast<uint8_t>(img->Size >> 24);
    d[12] = static_cast<uint8_t>(offset);
    d[13] = static_cast<uint8_t>(offset >> 8);
    d[14] = static_cast<uint8_t>(offset >> 16);
    d[15] = static_cast<uint8_t>(offset >> 24);
    Out->WriteBuf(d, 16);
    offset += img->Size;
    images.push_back(img);
  }
  for (TPEResourceItem* img : images) {
    Res->SetPosition(img->Position);
    if (Out->CopyFrom(Res, img->Size) != int64_t{img->Size}) return false;
  }
  return true;
}

TIcoFile* LoadIconByLocation(const std::u16string& L) {
  const size_t comma = L.rfind(u',');
  std::u16string file, wantedName;
  int32_t wantedIndex = -1;
  if (comma == std::u16string::npos) {
    if (EndsWithNoCase(L, u".ico") || EndsWithNoCase(L, u".cur")) {
      if (!foundation::ReadFile) return nullptr;
      foundation::TStream* s = foundation::ReadFile(Expanded(L));
      return s ? new TIcoFile(s, true, L) : nullptr;
    }
    file = Expanded(L);
    wantedName = u"MAINICON";
  } else {
    file = Expanded(L.substr(0, comma));
    const std::u16string rest = L.substr(comma + 1);
    if (!rest.empty() && rest[0] == u'-') {
      wantedName = rest.substr(1);
      if (wantedName.empty()) wantedIndex = 0;
    } else {
      wantedIndex = foundation::StrToIntDef(rest, 0);
      if (wantedIndex < 0) wantedIndex = 0;
    }
  }
  LibraryCache& c = Cache();
  foundation::TRef<foundation::TStream> stream;
  foundation::TRef<TPEResourceList> list;
  bool library = false;
  {
    std::lock_guard<std::mutex> lock(c.m);
    if (!c.pathKnown) {
      c.path = Expanded(kLibrary);
      c.pathKnown = true;
    }
    library = foundation::SameFileName(file, c.path);
    if (library) {
      if (!c.list) {
        c.list = new TPEResourceList;
        for (const std::u16string& candidate : {Expanded(kSysnative), file, Expanded(kFallback)}) {
          foundation::TStream* s = foundation::ReadFile ? foundation::ReadFile(candidate) : nullptr;
          if (!s) continue;
          c.fallback = candidate == Expanded(kFallback) && candidate != file;
          c.stream = InMemory(s);
          s->Free();
          c.list->Load(c.stream);
          break;
        }
      }
      if (!c.stream) return nullptr;
      stream = foundation::TRef<foundation::TStream>::AddRef(c.stream);
      list = foundation::TRef<TPEResourceList>::AddRef(c.list);
      if (c.fallback && wantedIndex < 0 && !wantedName.empty() &&
          std::all_of(wantedName.begin(), wantedName.end(), [](char16_t ch) { return ch >= u'0' && ch <= u'9'; }))
        wantedName = Decimal(MapImageresToShell32(foundation::StrToIntDef(wantedName, 0)));
    }
  }
  if (!library) {
    foundation::TStream* s = foundation::ReadFile ? foundation::ReadFile(file) : nullptr;
    if (!s) return nullptr;
    stream = foundation::TRef<foundation::TStream>::Adopt(s);
    list = foundation::MakeRef<TPEResourceList>();
    list->Load(stream.Get());
  }
  foundation::TMemoryStream* out = nullptr;
  int32_t counter = 0;
  for (int32_t i = 0; i < list->Count(); ++i) {
    TPEResourceItem* it = list->Items(i);
    if (it->Type != u"14") continue;
    const bool hit = wantedIndex >= 0 ? counter == wantedIndex : it->Name == wantedName;
    ++counter;
    if (!hit) continue;
    out = new foundation::TMemoryStream;
    bool built;
    if (library) {
      std::lock_guard<std::mutex> lock(c.m);
      built = BuildIconFileFromGroup(stream.Get(), out, list.Get(), it);
    } else {
      built = BuildIconFileFromGroup(stream.Get(), out, list.Get(), it);
    }
    if (!built) {
      out->Free();
      out = nullptr;
    }
    break;
  }
  if (!out) return nullptr;
  out->SetPosition(0);
  return new TIcoFile(out, true, L);
}

TImage* LoadIconImageByLocation(const std::u16string& Location, int32_t Width, int32_t Height, bool UseMipLevels) {
  TIcoFile* ico = LoadIconByLocation(Location);
  if (!ico) return nullptr;
  TImage* img = nullptr;
  try {
    img = ico->GetBestImage(Width, Height, UseMipLevels);
  } catch (...) {
    ico->Free();
    throw;
  }
  ico->Free();
  return img;
}

void DoneIconUtils() {
  LibraryCache& c = Cache();
  {
    std::lock_guard<std::mutex> lock(c.m);
    if (c.stream) c.stream->Free();
    if (c.list) c.list->Free();
    c.stream = nullptr;
    c.list = nullptr;
    c.fallback = false;
    c.pathKnown = false;
  }
  SetIconUtils(nullptr);
}

}  // namespace imaging
