#include "decoders/SysMusIcoLoader.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/SysLock.h"
#include "foundation/kpStringUtils.h"
#include "imaging/kvImage.h"

namespace decoders {

using namespace imaging;

namespace {

// The shared state, guarded by one lock. The table keeps one reference of
// its own to every store it hands out: a store whose only reference left is
// the table's is released (and its slot emptied) under the lock, the next
// time the loader looks at that slot or at finalisation. So a store being
// released can never be handed out again, and no reference count is read
// while another thread may be taking the last reference away.
foundation::TLockHandle gLock = nullptr;
TImage* gIconPicture = nullptr;
std::unordered_map<std::u16string, int32_t> gExtensionIndex;
std::vector<TMusIcoStore*> gIconStores;

const char kNoPngLoader[] = "The music icon needs the PNG loader to be part of the program";

std::u16string UpperExtension(const std::u16string& Name) {
  return foundation::UpperCaseStr(ImageNameExtension(Name));
}

void ReleaseSlot(size_t slot) {
  TMusIcoStore* store = gIconStores[slot];
  gIconStores[slot] = nullptr;
  if (store) store->Free();
}

}  // namespace

void TMusIcoStore::Dispose() {
  if (gLock) {
    foundation::EnterLock(gLock);
    if (Index >= 0 && static_cast<size_t>(Index) < gIconStores.size() &&
        gIconStores[static_cast<size_t>(Index)] == this)
      gIconStores[static_cast<size_t>(Index)] = nullptr;
    foundation::LeaveLock(gLock);
  }
  FreeImageAndNil(BaseImage);
  foundation::FreeAndNil(Icon);
  TSysBitmapStore::Dispose();
}

void TMusIcoStore::LoadMipLevel(TMipLevelResult& Result, int32_t Level) {
  Result = TMipLevelResult{};
  if (Level >= 1) return;
  if (!Icon) {
    QEL_ASSERT(BaseImage, kNoPngLoader);
    TBitmap* base = BaseImage->GetBitmap();
    QEL_ASSERT(base, kNoPngLoader);
    auto* picture = new TDirectBitmap(base->Width, base->Height, pfA8R8G8B8);
    picture->CopyFrom(base);
    Icon = new TSysDirectWrapper(picture, true);
  }
  Result.Bitmap = Icon;
  Result.Owned = false;
  Result.Level = Level;
}

TBitmapStore* LoadMusicIconBitmapStore(foundation::TStream* Stream, const std::u16string& Name, bool OwnsStream,
                                       TLevelProvider& Provider) {
  foundation::EnterLock(gLock);
  TMusIcoStore* store = nullptr;
  try {
    if (!gIconPicture) {
      const std::string bytes(reinterpret_cast<const char*>(kMusicIconPng), kMusicIconPngSize);
      gIconPicture = LoadImageFromString(bytes, u".png");
      QEL_ASSERT(gIconPicture, kNoPngLoader);
    }
    const std::u16string key = UpperExtension(Name);
    auto found = gExtensionIndex.find(key);
    size_t slot;
    if (found == gExtensionIndex.end()) {
      slot = gIconStores.size();
      gIconStores.push_back(nullptr);
      gExtensionIndex.emplace(key, static_cast<int32_t>(slot));
    } else {
      slot = static_cast<size_t>(found->second);
    }
    // Only the table holds it: nobody else can take a reference, so it goes.
    if (gIconStores[slot] && gIconStores[slot]->RefCount() == 1) ReleaseSlot(slot);
    store = gIconStores[slot];
    if (!store) {
      store = new TMusIcoStore(Name, TSize{256, 256}, pfA8R8G8B8, Provider);
      store->Index = static_cast<int32_t>(slot);
      store->BaseImage = gIconPicture->Clone();
      gIconStores[slot] = store;  // the table's own reference
    }
    store->_AddRef();  // the caller's reference
  } catch (...) {
    foundation::LeaveLock(gLock);
    throw;
  }
  foundation::LeaveLock(gLock);
  if (OwnsStream) Stream->Free();
  return store;
}

void InitSysMusIcoLoader() {
  if (!gLock) foundation::CreateLock(gLock);
  RegisterImageLoader(&LoadMusicIconBitmapStore, {u"mp3", u"wma", u"ogg", u"wav", u"m4a", u"flac"});
}

void DoneSysMusIcoLoader() {
  if (!gLock) return;
  foundation::EnterLock(gLock);
  for (size_t i = 0; i < gIconStores.size(); ++i) ReleaseSlot(i);
  gIconStores.clear();
  gExtensionIndex.clear();
  FreeImageAndNil(gIconPicture);
  foundation::LeaveLock(gLock);
}

}  // namespace decoders
