// The abstract sortable sequence and the sorts that work through two
// callbacks (compare two positions, exchange two positions).
#pragma once

#include <cstdint>
#include <functional>

#include "foundation/SysObj.h"

namespace foundation {

// A sequence sorted and searched through its own compare and exchange.
// Compare answers negative, zero or positive for item i below, equal to or
// above item j; CompareKey the same for a key against item j.
class TSorter : public TRefObject {
 public:
  virtual int32_t GetCount() = 0;
  virtual int32_t Compare(int32_t i, int32_t j) = 0;
  virtual int32_t CompareKey(void* key, int32_t j) = 0;
  virtual void Exchange(int32_t i, int32_t j) = 0;

  // Sorts 0..GetCount()-1 (at least 2 items) / lo..hi (when lo < hi).
  virtual void Sort();
  virtual void SortRange(int32_t lo, int32_t hi);
  // Binary search over the sorted sequence: True with the index of an equal
  // item, else False with the index where the key would be inserted.
  virtual bool Find(void* key, int32_t& index);
  virtual bool FindRange(void* key, int32_t lo, int32_t hi, int32_t& index);

  void QuickSort(int32_t lo, int32_t hi);
  bool BinarySearch(void* key, int32_t lo, int32_t hi, int32_t& index);
};

// The two callbacks of the callback sorts; positions are absolute.
struct TSortHandler {
  std::function<int32_t(int32_t i, int32_t j)> Compare;
  std::function<void(int32_t i, int32_t j)> Exchange;
};

TSortHandler MakeSortHandler(std::function<int32_t(int32_t, int32_t)> compare,
                             std::function<void(int32_t, int32_t)> exchange);

// Sorts of the inclusive range lo..hi.
void SelectionSort(const TSortHandler& handler, int32_t lo, int32_t hi);
void HeapSort(const TSortHandler& handler, int32_t lo, int32_t hi);
void IntroSort(const TSortHandler& handler, int32_t lo, int32_t hi);
void IntroSortRange(const TSortHandler& handler, int32_t lo, int32_t hi, int32_t depth);
// Returns the number of exchanges made.
int32_t CocktailSort(const TSortHandler& handler, int32_t lo, int32_t hi);

}  // namespace foundation
