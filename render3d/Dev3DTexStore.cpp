#include "render3d/Dev3DTexStore.h"

#include <mutex>

#include "imaging/SysBitmap.h"
#include "imaging/kvPixelFormat.h"

namespace render3d {

void TTexItem::Dispose() {
  if (Texture) Texture->Free();
  Texture = nullptr;
  TRefObject::Dispose();
}

bool TTexItem::Matches(TTextureManager6* manager, const TTextureOptions& o) const {
  if (Manager != manager || Options.Level != o.Level || Options.Atlas != o.Atlas ||
      Options.Premultiplied != o.Premultiplied)
    return false;
  return !o.Atlas || (Options.AtlasColumns == o.AtlasColumns && Options.AtlasRows == o.AtlasRows);
}

void TTexStore::Dispose() {
  for (TTexItem*& head : Buckets) {
    while (head) {
      TTexItem* next = head->Next;
      head->Free();
      head = next;
    }
  }
  TRefObject::Dispose();
}

TTexItem* TTexStore::Find(TTextureManager6* manager, const TTextureOptions& options) const {
  for (TTexItem* i = Buckets[options.Level % 8]; i; i = i->Next)
    if (i->Matches(manager, options)) return i;
  return nullptr;
}

int32_t TTexStore::ItemCount() const {
  int32_t n = 0;
  for (TTexItem* head : Buckets)
    for (TTexItem* i = head; i; i = i->Next) ++n;
  return n;
}

TTexStore* GetTexStore(imaging::TImage* image, bool create) {
  if (!image || !image->Store) return nullptr;
  foundation::TList* list = image->Store->LockAttachments(create);
  TTexStore* found = nullptr;
  if (list) {
    for (int32_t i = 0; i < list->Count() && !found; ++i)
      found = dynamic_cast<TTexStore*>(static_cast<TRefObject*>(list->GetItem(i)));
    if (!found && create) {
      found = new TTexStore();
      list->Add(found);
    }
  }
  image->Store->UnlockAttachments();
  return found;
}

TTextureSource::TTextureSource(T3DScreen* screen) : Screen(screen) { Manager = new TTextureManager6(screen); }

void TTextureSource::Dispose() {
  if (Manager) Manager->Free();
  Manager = nullptr;
  TRefObject::Dispose();
}

TMultiTexture6* TTextureSource::GetTexture(imaging::TImage* image, const TTextureOptions& options) {
  TTexStore* store = GetTexStore(image, true);
  if (!store) return nullptr;
  {
    std::lock_guard<std::mutex> g(store->Lock);
    if (TTexItem* i = store->Find(Manager, options)) return i->Texture;
  }
  // Built outside the lock: producing the bitmap and the tiles can take long.
  imaging::TPixelFormat* f = image->Params.PixelFormat;
  imaging::TPixelFormat* want = nullptr;
  if (options.Level >= 1 && options.Premultiplied && f && f->HasAlpha) want = imaging::PixelFormatByName(u"A8r8g8b8");
  auto* bitmap = dynamic_cast<imaging::TSysBitmap*>(
      image->Store->GetBitmap(options.Level, want, imaging::TSysBitmap::StaticClass()));
  if (!bitmap || bitmap->Width <= 0 || bitmap->Height <= 0) return nullptr;
  auto* texture = new TMultiTexture6(Manager);
  texture->SetBitmap(bitmap, false, {0, 0, bitmap->Width, bitmap->Height}, options.AtlasColumns, options.AtlasRows,
                     options.Premultiplied, options.Atlas);
  auto* item = new TTexItem();
  item->Manager = Manager;
  item->Texture = texture;
  item->Options = options;
  std::lock_guard<std::mutex> g(store->Lock);
  if (TTexItem* found = store->Find(Manager, options)) {
    item->Free();  // another thread was faster
    return found->Texture;
  }
  TTexItem*& head = store->Buckets[options.Level % 8];
  item->Next = head;
  head = item;
  return texture;
}

}  // namespace render3d
