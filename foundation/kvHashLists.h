// THashList: the object hash table keyed by UTF-16 text. Each key owns an
// entry (a TKeyItem), which is itself a TList of the values stored under the
// key. A one-entry cache makes a test followed by a fetch of the same key cost
// one string comparison. Not locked: even lookups change the cache, so a
// shared list is used under its owner's lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvHashUtils.h"
#include "foundation/kvLists.h"

namespace foundation {

class THashList;
class TKeyItem;

// One bucket: a doubly linked chain of entries.
class THashItem : public TRefObject {
 public:
  QEL_CLASSNAME(THashItem)
  explicit THashItem(THashList* owner) : Owner(owner) {}
  void Dispose() override;

  // Frees every entry of the chain; with the flag, each entry's values are
  // released first.
  void Clear(bool clearValues);

  THashList* Owner;
  TKeyItem* First = nullptr;
  TKeyItem* Last = nullptr;
};

// The entry of one key: the list of the values stored under it. It links
// itself at the end of its bucket's chain when constructed and unlinks itself
// when freed.
class TKeyItem : public TList {
 public:
  QEL_CLASSNAME(TKeyItem)
  TKeyItem(THashItem* bucket, std::u16string key);
  void BeforeDestruction() override;

  const std::u16string& Key() const { return FKey; }
  THashItem* Bucket() const { return FBucket; }
  TKeyItem* Prev() const { return FPrev; }
  TKeyItem* Next() const { return FNext; }

  // The entry's object, for callers that store one object per key: item 0.
  void* GetObject() const { return GetItem(0); }
  void SetObject(void* obj);

 private:
  THashItem* FBucket;
  TKeyItem* FPrev = nullptr;
  TKeyItem* FNext = nullptr;
  std::u16string FKey;
};

class THashList : public TRefObject {
 public:
  QEL_CLASSNAME(THashList)
  // max(1, bucketCount) buckets, created on first use.
  explicit THashList(int32_t bucketCount);
  void Dispose() override;

  // PJW over the low byte of each unit.
  virtual uint32_t HashOf(const std::u16string& key);
  // The bucket at hash mod bucket count, created on first use.
  virtual THashItem* GetBucket(uint32_t hash);
  virtual TKeyItem* CreateKeyItem(THashItem* bucket, const std::u16string& key);
  // Empties the cache when it holds entry.
  virtual void ForgetItem(TKeyItem* entry);
  // Exact, case-sensitive equality.
  virtual bool SameKey(const std::u16string& a, const std::u16string& b);
  virtual bool Contains(const std::u16string& key);
  virtual TKeyItem* FindOrAdd(const std::u16string& key);
  virtual TKeyItem* FindOrAddEx(const std::u16string& key, bool& created);
  virtual bool TryFind(const std::u16string& key, TKeyItem*& entry);

  // Frees the entry of key; True when it existed.
  bool Remove(const std::u16string& key);
  // Frees every entry (the buckets stay); with the flag, the values stored
  // under each key are released first.
  void Clear(bool clearValues);

  int32_t BucketCount() const { return static_cast<int32_t>(FBuckets.size()); }
  // The bucket at index, nil when not yet used.
  THashItem* BucketAt(int32_t index) const { return FBuckets[static_cast<size_t>(index)]; }

 protected:
  // The shared lookup: the cached entry for the cached key, else a walk of
  // the key's bucket (which becomes the cache).
  TKeyItem* Lookup(const std::u16string& key);

 private:
  std::vector<THashItem*> FBuckets;
  std::u16string FCachedKey;
  THashItem* FCachedBucket = nullptr;
  TKeyItem* FCachedEntry = nullptr;
};

}  // namespace foundation
