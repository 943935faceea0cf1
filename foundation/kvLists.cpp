#include "foundation/kvLists.h"

#include <cstring>
#include <utility>

#include "foundation/kpExceptions.h"

namespace foundation {

void TList::Dispose() {
  TRefObject::Dispose();
  RemoveAll();
}

void TList::SetItem(int32_t index, void* item) {
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(FCount)) QelAssertFail("");
  FItems[static_cast<size_t>(index)] = item;
}

void TList::SetItemGrow(int32_t index, void* item) {
  if (index < 0) QelAssertFail("");
  if (index >= FCount && !Grow(index - FCount + 1)) QelAssertFail("");
  FItems[static_cast<size_t>(index)] = item;
}

// Growth: the capacity rises in steps of 4 up to 8, of 16 up to 64, then
// doubles, so the many small lists stay small and appends stay amortised
// constant.
bool TList::Grow(int32_t delta) {
  if (delta <= 0) return false;
  int64_t n = static_cast<int64_t>(FCount) + delta;
  if (n >= kMaxListCount) return false;
  FCount = static_cast<int32_t>(n);
  int64_t cap = static_cast<int64_t>(FItems.size());
  if (cap < n) {
    while (cap < n) {
      if (cap <= 8)
        cap += 4;
      else if (cap <= 64)
        cap += 16;
      else
        cap *= 2;
    }
    FItems.resize(static_cast<size_t>(cap), nullptr);
  }
  return true;
}

void TList::SetCount(int32_t n) {
  if (n == FCount || n < 0 || n >= kMaxListCount) return;
  if (static_cast<int32_t>(FItems.size()) < n) FItems.resize(static_cast<size_t>(n), nullptr);
  for (int32_t i = FCount - 1; i >= n; --i) FItems[static_cast<size_t>(i)] = nullptr;
  FCount = n;
}

int32_t TList::AddGrow(void* item) {
  if (!Grow(1)) return -1;
  FItems[static_cast<size_t>(FCount - 1)] = item;
  return FCount - 1;
}

bool TList::Insert(int32_t index, void* item) {
  if (index < 0 || index > FCount) return false;
  if (!Grow(1)) return false;
  void** a = FItems.data();
  std::memmove(a + index + 1, a + index, sizeof(void*) * static_cast<size_t>(FCount - 1 - index));
  a[index] = item;
  return true;
}

void TList::Delete(int32_t index) {
  if (static_cast<uint32_t>(index) >= static_cast<uint32_t>(FCount)) return;
  void** a = FItems.data();
  std::memmove(a + index, a + index + 1, sizeof(void*) * static_cast<size_t>(FCount - 1 - index));
  a[FCount - 1] = nullptr;
  --FCount;
}

void* TList::ExtractAt(int32_t index) {
  void* p = GetItem(index);
  Delete(index);
  return p;
}

int32_t TList::IndexOf(const void* item) const {
  for (int32_t i = 0; i < FCount; ++i)
    if (FItems[static_cast<size_t>(i)] == item) return i;
  return -1;
}

int32_t TList::Remove(const void* item) {
  int32_t i = IndexOf(item);
  if (i >= 0) Delete(i);
  return i;
}

void TList::Exchange(int32_t i, int32_t j) {
  void* a = GetItem(i);
  void* b = GetItem(j);
  SetItem(i, b);
  SetItem(j, a);
}

namespace {

// Sorts 0..last with a sorter of one use, released also when a compare raises.
void SortAndFree(TSorter* sorter, int32_t last) {
  try {
    sorter->SortRange(0, last);
  } catch (...) {
    sorter->Free();
    throw;
  }
  sorter->Free();
}

}  // namespace

void TList::Sort(TListSortCompare compare) { SortAndFree(new TListSorter(this, compare), FCount - 1); }

void TList::SortByMethod(const TListSortCompareMethod& compare) {
  SortAndFree(new TListSorter2(this, compare), FCount - 1);
}

// Count is read again on every step: releasing an entry may change the list.
void TList::Clear() {
  for (int32_t i = 0; i < FCount; ++i) {
    void* p = FItems[static_cast<size_t>(i)];
    if (p) static_cast<TRefObject*>(p)->_Release();
  }
  RemoveAll();
}

void TList::ClearReentrant() {
  std::vector<void*> old;
  old.swap(FItems);
  int32_t oldCount = FCount;
  FCount = 0;
  for (int32_t i = 0; i < oldCount; ++i) {
    void* p = old[static_cast<size_t>(i)];
    if (p) static_cast<TRefObject*>(p)->_Release();
  }
}

void TList::RemoveAll() {
  std::vector<void*>().swap(FItems);
  FCount = 0;
}

TList* ClearListReentrant(TList*& list) {
  TList* saved = list;
  list = nullptr;
  try {
    if (saved) saved->Clear();
  } catch (...) {
    list = saved;
    throw;
  }
  list = saved;
  return saved;
}

}  // namespace foundation
