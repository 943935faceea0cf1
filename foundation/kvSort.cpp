#include "foundation/kvSort.h"

#include <utility>

namespace foundation {

void TSorter::Sort() {
  int32_t n = GetCount();
  if (n >= 2) QuickSort(0, n - 1);
}

void TSorter::SortRange(int32_t lo, int32_t hi) {
  if (lo < hi) QuickSort(lo, hi);
}

bool TSorter::Find(void* key, int32_t& index) { return BinarySearch(key, 0, GetCount() - 1, index); }

bool TSorter::FindRange(void* key, int32_t lo, int32_t hi, int32_t& index) {
  return BinarySearch(key, lo, hi, index);
}

// The scans are bounded by the range: with a consistent compare they stop at
// the pivot anyway, and an inconsistent one cannot walk out of the sequence.
void TSorter::QuickSort(int32_t lo, int32_t hi) {
  do {
    int32_t i = lo, j = hi;
    int32_t p = lo + (hi - lo) / 2;
    do {
      while (i < hi && Compare(i, p) < 0) ++i;
      while (j > lo && Compare(j, p) > 0) --j;
      if (i <= j) {
        if (p == i)
          p = j;
        else if (p == j)
          p = i;
        Exchange(i, j);
        ++i;
        --j;
      }
    } while (i <= j);
    // The smaller part nests and the larger one loops, so a hostile order
    // cannot nest deeper than log2 of the count; the parts are sorted apart
    // from each other, so the result is the same in either order.
    if (j - lo < hi - i) {
      if (lo < j) QuickSort(lo, j);
      lo = i;
    } else {
      if (i < hi) QuickSort(i, hi);
      hi = j;
    }
  } while (lo < hi);
}

bool TSorter::BinarySearch(void* key, int32_t lo, int32_t hi, int32_t& index) {
  for (;;) {
    int32_t d = hi - lo;
    if (d < 0) {
      index = lo;
      return false;
    }
    if (d == 0) {
      int32_t c = CompareKey(key, lo);
      index = c > 0 ? lo + 1 : lo;
      return c == 0;
    }
    if (d == 1) {
      int32_t c = CompareKey(key, lo);
      if (c > 0) {
        c = CompareKey(key, hi);
        index = c > 0 ? hi + 1 : hi;
      } else {
        index = lo;
      }
      return c == 0;
    }
    int32_t m = lo + d / 2;
    index = m;
    int32_t c = CompareKey(key, m);
    if (c == 0) return true;
    if (c < 0)
      hi = m - 1;
    else
      lo = m + 1;
  }
}

TSortHandler MakeSortHandler(std::function<int32_t(int32_t, int32_t)> compare,
                             std::function<void(int32_t, int32_t)> exchange) {
  return TSortHandler{std::move(compare), std::move(exchange)};
}

void SelectionSort(const TSortHandler& h, int32_t lo, int32_t hi) {
  while (lo < hi) {
    int32_t m = hi;
    for (int32_t k = lo; k < hi; ++k)
      if (h.Compare(m, k) < 0) m = k;
    if (m != hi) h.Exchange(m, hi);
    --hi;
  }
}

namespace {
void SiftDown(const TSortHandler& h, int32_t lo, int32_t hi, int32_t node) {
  for (;;) {
    int32_t child = 2 * node - lo + 1;
    if (child > hi) return;
    if (child < hi && h.Compare(child, child + 1) < 0) ++child;
    if (h.Compare(node, child) >= 0) return;
    h.Exchange(node, child);
    node = child;
  }
}
}  // namespace

void HeapSort(const TSortHandler& h, int32_t lo, int32_t hi) {
  if (lo >= hi) return;
  for (int32_t node = lo + (hi - lo - 1) / 2; node >= lo; --node) SiftDown(h, lo, hi, node);
  while (lo < hi) {
    h.Exchange(lo, hi);
    --hi;
    SiftDown(h, lo, hi, lo);
  }
}

void IntroSort(const TSortHandler& h, int32_t lo, int32_t hi) {
  if (hi - lo <= 15)
    SelectionSort(h, lo, hi);
  else
    IntroSortRange(h, lo, hi, 32);
}

void IntroSortRange(const TSortHandler& h, int32_t lo, int32_t hi, int32_t depth) {
  while (lo < hi) {
    int32_t i = lo, j = hi;
    int32_t p = lo + (hi - lo) / 2;
    do {
      while (i < hi && h.Compare(i, p) < 0) ++i;
      while (j > lo && h.Compare(j, p) > 0) --j;
      if (i <= j) {
        if (p == i)
          p = j;
        else if (p == j)
          p = i;
        h.Exchange(i, j);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - lo <= 15)
      SelectionSort(h, lo, j);
    else if (depth == 0)
      HeapSort(h, lo, j);
    else
      IntroSortRange(h, lo, j, depth - 1);
    lo = i;
  }
}

int32_t CocktailSort(const TSortHandler& h, int32_t lo, int32_t hi) {
  int32_t exchanges = 0;
  int32_t left = lo + 1, right = hi, last = hi;
  while (left <= right) {
    for (int32_t k = right; k >= left; --k) {
      if (h.Compare(k - 1, k) > 0) {
        h.Exchange(k - 1, k);
        ++exchanges;
        last = k;
      }
    }
    left = last + 1;
    for (int32_t k = left; k <= right; ++k) {
      if (h.Compare(k - 1, k) > 0) {
        h.Exchange(k - 1, k);
        ++exchanges;
        last = k;
      }
    }
    right = last - 1;
  }
  return exchanges;
}

}  // namespace foundation
