#include "decoders/SysMusIcoLoader.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/SysLock.h"
#include "foundation/kpStringUtils.h"
#include "imaging/kvImage.h"
#include "text/GraphicsParams.h"
#include "text/kvTextProducer2.h"

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
    try {
      picture->CopyFrom(base);
      std::u16string ext = UpperExtension(Params.Name);
      if (!ext.empty() && ext[0] == u'.') ext.erase(0, 1);
      if (TImage* label = RenderIconText(ext)) {
        TBitmap* b = label->Store ? label->Store->GetBitmap(0, pfA8R8G8B8, TDirectBitmap::StaticClass()) : nullptr;
        if (auto* text = dynamic_cast<TDirectBitmap*>(b))
          BlendBitmapAt(picture, text, (picture->Width - text->Width) / 2, picture->Height - text->Height - 21);
        label->Free();
      }
    } catch (...) {
      picture->Free();
      throw;
    }
    Icon = new TSysDirectWrapper(picture, true);
  }
  Result.Bitmap = Icon;
  Result.Owned = false;
  Result.Level = Level;
}

TImage* RenderIconText(const std::u16string& Text) {
  // Without a vectorizer the icon stays the bare artwork.
  text::TVectorizer* probe = text::CreateVectorizer();
  if (!probe) return nullptr;
  probe->Free();
  auto* lines = new foundation::TStringList();
  lines->Add(Text);
  text::TFontParams font = text::DefaultFontParams();
  font.Name = u"Arial";
  font.Size = 72;
  font.Style = text::fpBold;
  text::TVectorText* vt = nullptr;
  try {
    vt = text::CreateVectorText(font, lines);
  } catch (...) {
    lines->Free();
    throw;
  }
  lines->Free();
  auto* producer = new text::TTextProducer();
  producer->SetVectorText(vt, true);
  TImage* image = nullptr;
  try {
    const float height = text::GetVectorTextSize(vt, 1, 0).Y;
    if (height > 0) {
      const uint32_t grey = text::MakeARGB(98, 98, 98, 255);
      image = producer->RenderEx(grey, grey & 0x00FFFFFFu, 50.0 / height, false, false, {0, 0}, u"");
    }
  } catch (...) {
    producer->Free();
    throw;
  }
  producer->Free();
  return image;
}

void BlendBitmapAt(TDirectBitmap* Destination, TDirectBitmap* Source, int32_t X, int32_t Y) {
  if (!Destination || !Source) return;
  X = std::max(X, 0);
  Y = std::max(Y, 0);
  const int32_t rows = std::min(Source->Height, Destination->Height - Y);
  const int32_t cols = std::min(Source->Width, Destination->Width - X);
  for (int32_t j = 0; j < rows; ++j) {
    const uint32_t* src = reinterpret_cast<const uint32_t*>(Source->Row(j));
    uint32_t* dst = reinterpret_cast<uint32_t*>(Destination->Row(Y + j)) + X;
    for (int32_t i = 0; i < cols; ++i) {
      text::TARGB px = dst[i];
      text::BlendPixelOver(px, src[i]);
      dst[i] = px;
    }
  }
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
