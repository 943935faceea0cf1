#include "foundation/kvHashUtils.h"

#include "foundation/kpExceptions.h"

namespace foundation {

namespace {

inline uint32_t PjwStep(uint32_t h, uint32_t b) {
  h = (h << 4) + b;
  const uint32_t g = h >> 28;
  if (g != 0) h = (h ^ (g << 4)) & 0x0FFFFFFFu;
  return h;
}

}  // namespace

uint32_t HashAnsiString(const std::string& s) {
  uint32_t h = 0;
  for (char c : s) h = PjwStep(h, static_cast<uint8_t>(c));
  return h;
}

uint32_t HashUnicodeString(const std::u16string& s) {
  uint32_t h = 0;
  for (char16_t u : s) h = PjwStep(h, u & 0xFFu);
  return h;
}

void TIntHashList::Clear() {
  Items = TDynHashItemArray();
  BucketCount = 0;
  Used = 0;
}

void TIntHashList::Rehash(int32_t n) {
  QEL_ASSERT(n > 0 && (n & (n - 1)) == 0 && n >= Used, "");
  for (TIntHashItem& item : Items) item.BucketHead = 0;
  BucketCount = n;
  Items.resize(static_cast<size_t>(n));
  for (int32_t i = 0; i < Used; ++i) {
    TIntHashItem& item = Items[static_cast<size_t>(i)];
    TIntHashItem& bucket = Items[static_cast<size_t>(static_cast<uint32_t>(item.Hash) & (n - 1))];
    item.Next = bucket.BucketHead - 1;
    bucket.BucketHead = i + 1;
  }
}

int32_t TIntHashList::AddItem(const std::string& key, int32_t hash, int32_t value) {
  if (Used >= BucketCount) Rehash(BucketCount == 0 ? 16 : BucketCount * 2);
  QEL_ASSERT(Used < BucketCount, "");
  const int32_t i = Used++;
  TIntHashItem& item = Items[static_cast<size_t>(i)];
  item.Key = key;
  item.Hash = hash;
  item.Value = value;
  TIntHashItem& bucket = Items[static_cast<size_t>(static_cast<uint32_t>(hash) & (BucketCount - 1))];
  item.Next = bucket.BucketHead - 1;
  bucket.BucketHead = i + 1;
  return i;
}

int32_t TIntHashList::FindInChain(const std::string& key, int32_t index) const {
  int32_t steps = 0;
  while (index >= 0 && index < Used) {
    const TIntHashItem& item = Items[static_cast<size_t>(index)];
    if (item.Key == key) return index;
    index = item.Next;
    QEL_ASSERT(++steps <= Used, "");
  }
  return -1;
}

int32_t TIntHashList::IndexOf(const std::string& key) const {
  if (BucketCount == 0) return -1;
  const uint32_t h = HashAnsiString(key);
  const TIntHashItem& bucket = Items[static_cast<size_t>(h & static_cast<uint32_t>(BucketCount - 1))];
  return FindInChain(key, bucket.BucketHead - 1);
}

int32_t TIntHashList::GetValue(const std::string& key, int32_t def) const {
  const int32_t i = IndexOf(key);
  return i < 0 ? def : Items[static_cast<size_t>(i)].Value;
}

void TIntHashList::SetValue(const std::string& key, int32_t value) {
  const int32_t i = IndexOf(key);
  if (i >= 0)
    Items[static_cast<size_t>(i)].Value = value;
  else
    AddItem(key, static_cast<int32_t>(HashAnsiString(key)), value);
}

}  // namespace foundation
