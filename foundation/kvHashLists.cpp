#include "foundation/kvHashLists.h"

#include <algorithm>

#include "foundation/kpExceptions.h"

namespace foundation {

// ---- THashItem -----------------------------------------------------------

void THashItem::Clear(bool clearValues) {
  while (First != nullptr) {
    TKeyItem* entry = First;
    if (clearValues) entry->Clear();
    entry->Free();  // unlinking moves the chain on
    QEL_ASSERT(First != entry, "");
  }
}

void THashItem::Dispose() {
  Clear(false);
  TRefObject::Dispose();
}

// ---- TKeyItem -----------------------------------------------------------

TKeyItem::TKeyItem(THashItem* bucket, std::u16string key) : FBucket(bucket), FKey(std::move(key)) {
  QEL_ASSERT(bucket != nullptr, "");
  FPrev = bucket->Last;
  if (FPrev != nullptr)
    FPrev->FNext = this;
  else
    bucket->First = this;
  bucket->Last = this;
}

void TKeyItem::BeforeDestruction() {
  TList::BeforeDestruction();
  // Unlinked on the first Free; later releases of extra references find it
  // already out of the chain.
  if (FBucket == nullptr) return;
  THashItem* bucket = FBucket;
  if (FNext != nullptr) {
    FNext->FPrev = FPrev;
  } else {
    QEL_ASSERT(bucket->Last == this, "");
    bucket->Last = FPrev;
  }
  if (FPrev != nullptr) {
    FPrev->FNext = FNext;
  } else {
    QEL_ASSERT(bucket->First == this, "");
    bucket->First = FNext;
  }
  FPrev = nullptr;
  FNext = nullptr;
  FBucket = nullptr;
  if (bucket->Owner != nullptr) bucket->Owner->ForgetItem(this);
}

void TKeyItem::SetObject(void* obj) {
  if (Count() == 0)
    Add(obj);
  else
    SetItem(0, obj);
}

// ---- THashList -----------------------------------------------------------

THashList::THashList(int32_t bucketCount) : FBuckets(static_cast<size_t>(std::max(bucketCount, 1)), nullptr) {}

void THashList::Dispose() {
  for (size_t i = FBuckets.size(); i-- > 0;) {
    THashItem* bucket = FBuckets[i];
    FBuckets[i] = nullptr;
    if (bucket != nullptr) bucket->Free();
  }
  FCachedBucket = nullptr;
  FCachedEntry = nullptr;
  FCachedKey.clear();
  TRefObject::Dispose();
}

uint32_t THashList::HashOf(const std::u16string& key) { return HashUnicodeString(key); }

THashItem* THashList::GetBucket(uint32_t hash) {
  const size_t index = hash % FBuckets.size();
  THashItem*& bucket = FBuckets[index];
  if (bucket == nullptr) bucket = new THashItem(this);
  return bucket;
}

TKeyItem* THashList::CreateKeyItem(THashItem* bucket, const std::u16string& key) {
  return new TKeyItem(bucket, key);
}

void THashList::ForgetItem(TKeyItem* entry) {
  if (FCachedEntry == entry && entry != nullptr) {
    FCachedEntry = nullptr;
    FCachedBucket = nullptr;
    FCachedKey.clear();
  }
}

bool THashList::SameKey(const std::u16string& a, const std::u16string& b) { return a == b; }

TKeyItem* THashList::Lookup(const std::u16string& key) {
  if (FCachedBucket != nullptr && key == FCachedKey) return FCachedEntry;
  FCachedKey = key;
  FCachedEntry = nullptr;
  FCachedBucket = GetBucket(HashOf(key));
  for (TKeyItem* e = FCachedBucket->First; e != nullptr; e = e->Next()) {
    if (SameKey(e->Key(), key)) {
      FCachedEntry = e;
      break;
    }
  }
  return FCachedEntry;
}

bool THashList::Contains(const std::u16string& key) { return Lookup(key) != nullptr; }

TKeyItem* THashList::FindOrAdd(const std::u16string& key) {
  bool created;
  return FindOrAddEx(key, created);
}

TKeyItem* THashList::FindOrAddEx(const std::u16string& key, bool& created) {
  TKeyItem* entry = Lookup(key);
  created = entry == nullptr;
  if (created) {
    entry = CreateKeyItem(FCachedBucket, key);
    FCachedEntry = entry;
  }
  return entry;
}

bool THashList::TryFind(const std::u16string& key, TKeyItem*& entry) {
  entry = Lookup(key);
  return entry != nullptr;
}

bool THashList::Remove(const std::u16string& key) {
  TKeyItem* entry = Lookup(key);
  if (entry == nullptr) return false;
  entry->Free();
  return true;
}

void THashList::Clear(bool clearValues) {
  for (size_t i = FBuckets.size(); i-- > 0;)
    if (FBuckets[i] != nullptr) FBuckets[i]->Clear(clearValues);
}

}  // namespace foundation
