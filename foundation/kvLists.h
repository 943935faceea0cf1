// The ordered list of pointers and objects, and its two sorter adaptors.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvSort.h"

namespace foundation {

// Compare two items: negative, zero or positive.
using TListSortCompare = int32_t (*)(void* item1, void* item2);
// The same bound to an object.
using TListSortCompareMethod = std::function<int32_t(void* item1, void* item2)>;

// The largest count a list can reach is one below this.
constexpr int32_t kMaxListCount = 134217727;  // 0x7FFFFFF

// An ordered list of pointers, 0-based. By convention it owns the objects it
// holds: Clear releases them (every non-nil entry of a list that is cleared
// must be a TRefObject, stored as a pointer to its class). Disposing of the
// list does not release them.
class TList : public TRefObject {
 public:
  TList() = default;
  void Dispose() override;

  int32_t Count() const { return FCount; }
  int32_t Capacity() const { return static_cast<int32_t>(FItems.size()); }
  // The slots (Capacity() of them; those at Count() and above are nil).
  void** Items() { return FItems.data(); }

  // The entry; nil for an index outside 0..Count-1.
  void* GetItem(int32_t index) const {
    return static_cast<uint32_t>(index) < static_cast<uint32_t>(FCount) ? FItems[static_cast<size_t>(index)]
                                                                         : nullptr;
  }
  // The entry as a T* (T a TRefObject class, or any type stored as T*).
  template <class T>
  T* Get(int32_t index) const {
    return static_cast<T*>(GetItem(index));
  }
  // Replaces an entry (the old one is not released); an index outside
  // 0..Count-1 raises an assertion.
  void SetItem(int32_t index, void* item);
  // As SetItem; an index at or above Count first grows the list (new slots
  // nil); a negative index raises an assertion.
  virtual void SetItemGrow(int32_t index, void* item);

  // The new entry's index, or -1 when the list cannot grow.
  int32_t Add(void* item) {
    if (FCount < static_cast<int32_t>(FItems.size())) {  // a free slot: no growth step needed
      FItems[static_cast<size_t>(FCount)] = item;
      return FCount++;
    }
    return AddGrow(item);
  }
  // index 0..Count; False for a bad index or when the list cannot grow.
  bool Insert(int32_t index, void* item);
  // Deletes without releasing; an index out of range does nothing.
  void Delete(int32_t index);
  // Returns the entry (nil when out of range) and deletes it.
  void* ExtractAt(int32_t index);
  int32_t IndexOf(const void* item) const;
  // Deletes the first equal entry; its former index or -1.
  int32_t Remove(const void* item);
  void* First() const { return GetItem(0); }
  void* Last() const { return GetItem(FCount - 1); }
  // Swaps two entries; an index out of range raises the assertion.
  void Exchange(int32_t i, int32_t j);

  // The first entry that is a T (or a descendant), from index 0: True with its
  // index, else False with index = Count.
  template <class T>
  bool FindByClass(int32_t& index) const {
    for (int32_t i = 0; i < FCount; ++i) {
      void* p = FItems[static_cast<size_t>(i)];
      if (p && dynamic_cast<T*>(static_cast<TRefObject*>(p))) {
        index = i;
        return true;
      }
    }
    index = FCount;
    return false;
  }

  void Sort(TListSortCompare compare);
  void SortByMethod(const TListSortCompareMethod& compare);

  // See the growth rules in kvLists.cpp.
  void SetCount(int32_t n);
  bool Grow(int32_t delta);

  // Releases every non-nil entry, then empties the list.
  void Clear();
  // Empties the list first, then releases the old entries; entries added
  // meanwhile stay.
  void ClearReentrant();
  // Empties the list without touching the entries.
  void RemoveAll();

 private:
  int32_t AddGrow(void* item);
  std::vector<void*> FItems;  // its size is the capacity
  int32_t FCount = 0;
};

// Sets the variable to nil while the list is cleared (also when an exception
// passes), then restores it; returns the list.
TList* ClearListReentrant(TList*& list);

// Sorts a list with a compare function or method.
template <class CompareFn>
class TListSorterWith : public TSorter {
 public:
  TListSorterWith(TList* list, CompareFn compare) : FList(list), FCompare(std::move(compare)) {}
  int32_t GetCount() override { return FList->Count(); }
  int32_t Compare(int32_t i, int32_t j) override { return FCompare(FList->GetItem(i), FList->GetItem(j)); }
  int32_t CompareKey(void* key, int32_t j) override { return FCompare(key, FList->GetItem(j)); }
  void Exchange(int32_t i, int32_t j) override {
    void** a = FList->Items();
    std::swap(a[i], a[j]);
  }

 private:
  TList* FList;
  CompareFn FCompare;
};

// Sorts a list with a plain compare function.
using TListSorter = TListSorterWith<TListSortCompare>;
// Sorts a list with a compare method.
using TListSorter2 = TListSorterWith<TListSortCompareMethod>;

}  // namespace foundation
