#include "imaging/kvImage.h"

#include <algorithm>
#include <mutex>

#include "foundation/kvCaseFolding.h"
#include "imaging/ImagingAssert.h"

namespace imaging {

TBitmapToImage BitmapToImageHook = nullptr;
TLevelRoutine TurnLevel90Hook;
TLevelRoutine TurnLevel270Hook;
TLevelRoutine TurnLevel180Hook;

namespace {
std::vector<TImageLoader> g_loaders;
}  // namespace

// ---- registry ----------------------------------------------------------------------

std::u16string NormaliseImageExtension(const std::u16string& Text) {
  size_t i = 0;
  while (i < Text.size() && Text[i] < 33) ++i;
  if (i < Text.size() && Text[i] == u'*') ++i;
  std::u16string rest = Text.substr(i);
  if (rest.empty() || rest[0] == u'.') return rest;
  return u"." + rest;
}

void RegisterImageLoader(TImageLoaderFunc Loader, const std::vector<std::u16string>& Extensions) {
  TImageLoader entry;
  entry.Loader = Loader;
  for (const auto& e : Extensions) entry.Extensions.push_back(NormaliseImageExtension(e));
  if (g_loaders.capacity() == 0) g_loaders.reserve(8);
  g_loaders.push_back(std::move(entry));
}

const std::vector<TImageLoader>& ImageLoaders() { return g_loaders; }

void DoneImageLoaders() {
  g_loaders.clear();
  g_loaders.shrink_to_fit();
}

bool LoaderHandlesExtension(const TImageLoader& Entry, const std::u16string& Extension) {
  for (const auto& e : Entry.Extensions)
    if (foundation::SameText(e, Extension)) return true;
  return false;
}

bool StreamHasPngSignature(foundation::TStream* Stream) {
  static const uint8_t kSig[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  uint8_t buf[8] = {};
  const int32_t n = Stream->ReadBuf(buf, 8);
  if (n > 0) Stream->SetPosition(Stream->GetPosition() - n);
  return n == 8 && std::equal(buf, buf + 8, kSig);
}

std::u16string ImageNameExtension(const std::u16string& Name) {
  for (size_t i = Name.size(); i > 0; --i) {
    const char16_t c = Name[i - 1];
    if (c == u'.') return Name.substr(i - 1);
    if (c == u'\\' || c == u'/' || c == u':') break;
  }
  return {};
}

TBitmapStore* LoadBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                              TLevelProvider& Provider) {
  std::u16string ext = ImageNameExtension(Name);
  if (ext == u".bmp" && StreamHasPngSignature(Stream)) ext = u".png";
  TBitmapStore* store = nullptr;
  {
    auto hold = foundation::TRef<foundation::TStream>::AddRef(Stream);
    // Every loader starts where the first one did: a loader that read its
    // header and declined must not leave the next one mid-stream.
    const int64_t start = Stream->GetPosition();
    for (const TImageLoader& entry : g_loaders) {
      if (!ext.empty() && !LoaderHandlesExtension(entry, ext)) continue;
      Stream->SetPosition(start);
      store = entry.Loader(Stream, Name, OwnsStream, Provider);
      if (store) break;
    }
  }
  if (!store && OwnsStream) Stream->Free();
  return store;
}

TImage* LoadImage(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream) {
  TLevelProvider none;
  TBitmapStore* store = LoadBitmapStore(Stream, Name, OwnsStream, none);
  if (!store) return nullptr;
  TImage* image = new TImage(store);
  store->Free();
  return image;
}

TImage* LoadImageFromStreamNamed(foundation::TStream* Stream, const std::u16string& Name) {
  return LoadImage(Stream, Name, false);
}

TImage* LoadImageFromFile(const std::u16string& Name) {
  if (!foundation::ReadFile) return nullptr;
  foundation::TStream* s = foundation::ReadFile(Name);
  if (!s) return nullptr;
  return LoadImage(s, Name, true);
}

TImage* LoadImageFromString(const std::string& Bytes, const std::u16string& Name) {
  return LoadImage(new foundation::TStringStream(Bytes), Name, true);
}

bool FreeImageAndNil(TImage*& Image) {
  if (!Image) return false;
  foundation::FreeAndNil(Image);
  return true;
}

int32_t FreeImagesAndNil(TImage** Images, int32_t Length, int32_t Count) {
  const int32_t n = std::clamp(Count, 0, std::max(Length, 0));
  for (int32_t i = 0; i < n; ++i) FreeImageAndNil(Images[i]);
  return n;
}

int32_t SelectMipLevel(const TSize& Size, int32_t WantedWidth, int32_t WantedHeight) {
  IMG_ASSERT(WantedWidth >= 1 && WantedHeight >= 1, "");
  int64_t w = Size.cx, h = Size.cy;
  int32_t count = 0;
  while (w > WantedWidth && h > WantedHeight) {
    w = (w + 1) / 2;
    h = (h + 1) / 2;
    ++count;
  }
  return std::max(count - 1, 0);
}

// ---- stores ----------------------------------------------------------------------

TBitmapStore::TBitmapStore() {
  AttachmentLock = new foundation::TCriticalSection;
  LevelLock = new foundation::TCriticalSection;
}

void TBitmapStore::Dispose() {
  for (TLevel& level : Levels) {
    for (size_t i = static_cast<size_t>(std::max(level.FirstOwned, 0)); i < level.Bitmaps.size(); ++i)
      foundation::FreeObj(level.Bitmaps[i]);
    level.Bitmaps.clear();
  }
  Levels.clear();
  if (Attachments) {
    Attachments->Clear();
    foundation::FreeAndNil(Attachments);
  }
  foundation::FreeAndNil(ColorProfile);
  foundation::FreeAndNil(AttachmentLock);
  foundation::FreeAndNil(LevelLock);
  foundation::TRefObject::Dispose();
}

TBitmap* TBitmapStore::MatchBitmap(TBitmap* Bitmap, TBitmapClass RequiredClass, TPixelFormat* PixelFormat) {
  return Bitmap && Bitmap->IsCompatible(PixelFormat, RequiredClass) ? Bitmap : nullptr;
}

TBitmap* TBitmapStore::GetBitmap(int32_t Level, TPixelFormat* PixelFormat, TBitmapClass RequiredClass) {
  std::lock_guard<foundation::TCriticalSection> guard(*LevelLock);
  IMG_ASSERT(Level >= 0, std::string(ClassName()) + ".GetBitmap - Index<0");
  if (Levels.size() <= static_cast<size_t>(Level)) {
    size_t cap = std::max<size_t>(Levels.capacity(), 4);
    while (cap <= static_cast<size_t>(Level)) cap *= 2;
    Levels.reserve(cap);
    Levels.resize(static_cast<size_t>(Level) + 1);
  }
  for (TBitmap* b : Levels[size_t(Level)].Bitmaps)
    if (TBitmap* m = MatchBitmap(b, RequiredClass, PixelFormat)) return m;
  if (Levels[size_t(Level)].Bitmaps.empty()) {
    TMipLevelResult r;
    r.Level = Level;
    GetMipLevel(r, Level, PixelFormat, RequiredClass);
    IMG_ASSERT(r.Bitmap,
               "\"" + std::string(ClassName()) + ".GetMipLevel(" + std::to_string(Level) + ")\" Not Assigned");
    if (r.Level != Level) {
      if (r.Owned) r.Bitmap->Free();
      ImagingAssertFail("Incorrect MipLevelIndex", __FILE__, __LINE__);
    }
    // The recursive production of other levels may have moved the level table.
    TLevel& level = Levels[size_t(Level)];
    level.Bitmaps.push_back(r.Bitmap);
    level.FirstOwned = r.Owned ? 0 : 1;
    if (TBitmap* m = MatchBitmap(r.Bitmap, RequiredClass, PixelFormat)) return m;
  }
  TBitmap* source = Levels[size_t(Level)].Bitmaps.front();
  TPixelFormat* format = PixelFormat ? PixelFormat : source->PixelFormat;
  TBitmap* made = source->CloneAs(format, RequiredClass, Progress);
  IMG_ASSERT(made, "Invalid Combination Of Bitmap Parameters");
  Levels[size_t(Level)].Bitmaps.push_back(made);
  return made;
}

foundation::TList* TBitmapStore::LockAttachments(bool Create) {
  AttachmentLock->Enter();
  if (!Attachments && Create) Attachments = new foundation::TList;
  return Attachments;
}

void TBitmapStore::UnlockAttachments() { AttachmentLock->Leave(); }

void TBitmapStore::AddAttachment(foundation::TRefObject* Object) {
  foundation::TList* list = LockAttachments(true);
  list->Add(Object);
  UnlockAttachments();
}

// ---- images ----------------------------------------------------------------------

TImage::TImage(TBitmapStore* aStore) {
  IMG_ASSERT(aStore, "");
  Store = aStore;
  Store->_AddRef();
  Params = Store->Params;
}

void TImage::Dispose() {
  if (Attachments) {
    Attachments->Clear();
    foundation::FreeAndNil(Attachments);
  }
  foundation::FreeAndNil(Store);
  foundation::TRefObject::Dispose();
}

TImage* TImage::Clone() { return new TImage(Store); }

TBitmap* TImage::GetBitmap() { return Store->GetBitmap(0, nullptr, nullptr); }

foundation::TList* TImage::GetAttachments() {
  if (!Attachments) Attachments = new foundation::TList;
  return Attachments;
}

}  // namespace imaging
