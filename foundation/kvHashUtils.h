// The PJW-style string hashes and TIntHashList, a light table from 8-bit
// string keys to int32 values over one array.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace foundation {

// PJW (ELF) hash: h := h x 16 + b; the top four bits, when set, are folded
// back in and cleared. Over the bytes of an 8-bit string, or over the low
// byte of each UTF-16 unit.
uint32_t HashAnsiString(const std::string& s);
uint32_t HashUnicodeString(const std::u16string& s);

struct TIntHashItem {
  std::string Key;
  int32_t Hash = 0;
  int32_t Value = 0;
  int32_t Next = -1;       // next item of the same chain, -1 at the end
  int32_t BucketHead = 0;  // index + 1 of the first item of the bucket numbered like this item; 0 when empty
};
using TDynHashItemArray = std::vector<TIntHashItem>;

// The item array is the bucket array too; its length is the bucket count
// (0 or a power of two) and grows by doubling from 16. Items are never removed.
struct TIntHashList {
  TDynHashItemArray Items;
  int32_t BucketCount = 0;
  int32_t Used = 0;

  void Init() { Clear(); }
  void Clear();
  // n must be a power of two holding every used item (assertion otherwise).
  void Rehash(int32_t n);
  // Appends an item at the head of its bucket's chain; its index.
  int32_t AddItem(const std::string& key, int32_t hash, int32_t value);
  // From index along its chain, the index of the item with the key; -1 when none.
  int32_t FindInChain(const std::string& key, int32_t index) const;
  int32_t IndexOf(const std::string& key) const;
  int32_t GetValue(const std::string& key, int32_t def) const;
  void SetValue(const std::string& key, int32_t value);
};

}  // namespace foundation
