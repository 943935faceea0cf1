#include "foundation/kvSort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace foundation;

namespace {

// A sequence of ints sorted through the virtual operations.
struct IntSeq : TSorter {
  std::vector<int> v;
  int32_t GetCount() override { return static_cast<int32_t>(v.size()); }
  int32_t Compare(int32_t i, int32_t j) override { return v.at(i) < v.at(j) ? -1 : v.at(i) > v.at(j); }
  int32_t CompareKey(void* key, int32_t j) override {
    int k = *static_cast<int*>(key);
    return k < v.at(j) ? -1 : k > v.at(j);
  }
  void Exchange(int32_t i, int32_t j) override { std::swap(v.at(i), v.at(j)); }
};

std::vector<int> RandomInts(int n, int range, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<int> v(n);
  for (int& x : v) x = static_cast<int>(gen() % range);
  return v;
}

TEST(TSorter, BinarySearchInsertPositions) {
  TRef<IntSeq> s = MakeRef<IntSeq>();
  int32_t index = -1;
  int key = 10;
  EXPECT_FALSE(s->Find(&key, index));
  EXPECT_EQ(index, 0);
  s->v = {10, 20, 30};
  struct Case {
    int key;
    bool found;
    int index;
  } cases[] = {{25, false, 2}, {35, false, 3}, {5, false, 0}, {10, true, 0}, {20, true, 1}, {30, true, 2}};
  for (const Case& c : cases) {
    key = c.key;
    EXPECT_EQ(s->Find(&key, index), c.found) << c.key;
    EXPECT_EQ(index, c.index) << c.key;
  }
  // Larger sequences: the insert position keeps the order.
  s->v = RandomInts(101, 50, 7);
  s->Sort();
  for (int k = -1; k <= 51; ++k) {
    key = k;
    bool found = s->Find(&key, index);
    EXPECT_EQ(found, std::binary_search(s->v.begin(), s->v.end(), k)) << k;
    if (found) {
      EXPECT_EQ(s->v[index], k);
    } else {
      EXPECT_EQ(index, std::lower_bound(s->v.begin(), s->v.end(), k) - s->v.begin()) << k;
    }
  }
  key = 1000;
  EXPECT_FALSE(s->FindRange(&key, 10, 20, index));
  EXPECT_EQ(index, 21);
}

TEST(TSorter, QuickSortMatchesStdSort) {
  for (int n : {0, 1, 2, 3, 10, 100, 1000}) {
    for (int range : {3, 1000000}) {
      TRef<IntSeq> s = MakeRef<IntSeq>();
      s->v = RandomInts(n, range, n * 31 + range);
      std::vector<int> expected = s->v;
      std::sort(expected.begin(), expected.end());
      s->Sort();
      EXPECT_EQ(s->v, expected) << n << " " << range;
    }
  }
  TRef<IntSeq> s = MakeRef<IntSeq>();
  s->v = {5, 4, 3, 2, 1, 0};
  s->SortRange(1, 4);
  EXPECT_EQ(s->v, (std::vector<int>{5, 1, 2, 3, 4, 0}));
}

// A compare that answers at random must not drive the sort outside its range.
struct ChaoticSeq : IntSeq {
  std::mt19937 gen{3};
  int32_t Compare(int32_t i, int32_t j) override {
    (void)v.at(i);
    (void)v.at(j);
    return static_cast<int32_t>(gen() % 3) - 1;
  }
};

TEST(TSorter, InconsistentCompareStaysInRange) {
  TRef<ChaoticSeq> s = MakeRef<ChaoticSeq>();
  s->v = RandomInts(500, 100, 1);
  EXPECT_NO_THROW(s->Sort());
  EXPECT_EQ(s->v.size(), 500u);
}

// Fixes item values only as the sort compares them, so that every pivot turns
// out to be the largest item of its range (a mirror of McIlroy's adversary).
// The values it leaves behind form the input that nests a quicksort deepest.
struct PivotMaxAdversary : TSorter {
  static constexpr int kGas = -1;  // not fixed yet: below every fixed value
  std::vector<int> at;             // the item standing at each position
  std::vector<int> value;          // per item
  int candidate = -1;
  int next;
  explicit PivotMaxAdversary(int n) : at(n), value(n, kGas), next(n) {
    for (int k = 0; k < n; ++k) at[k] = k;
  }
  int32_t GetCount() override { return static_cast<int32_t>(at.size()); }
  int32_t Compare(int32_t i, int32_t j) override {
    const int x = at.at(i), y = at.at(j);
    if (value[x] == kGas && value[y] == kGas) value[x == candidate ? x : y] = next--;
    if (value[x] == kGas)
      candidate = x;
    else if (value[y] == kGas)
      candidate = y;
    return value[x] < value[y] ? -1 : value[x] > value[y];
  }
  int32_t CompareKey(void*, int32_t) override { return 0; }
  void Exchange(int32_t i, int32_t j) override { std::swap(at.at(i), at.at(j)); }
};

// Records the deepest machine stack frame its compares run in.
struct DepthSeq : IntSeq {
  uintptr_t deepest = UINTPTR_MAX;
  int32_t Compare(int32_t i, int32_t j) override {
    deepest = std::min(deepest, reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
    return IntSeq::Compare(i, j);
  }
};

TEST(TSorter, QuickSortStackStaysShallowOnHostileInput) {
  constexpr int n = 4000;
  TRef<PivotMaxAdversary> adversary = MakeRef<PivotMaxAdversary>(n);
  adversary->Sort();
  TRef<DepthSeq> s = MakeRef<DepthSeq>();
  s->v.resize(n);
  for (int k = 0; k < n; ++k) s->v[k] = adversary->value[k] == PivotMaxAdversary::kGas ? 0 : adversary->value[k];
  std::vector<int> expected = s->v;
  std::sort(expected.begin(), expected.end());
  const uintptr_t top = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
  s->Sort();
  EXPECT_EQ(s->v, expected);
  // Nesting along the larger part takes about n frames here (over 100 KB);
  // along the smaller part at most log2(n).
  EXPECT_LT(top - s->deepest, 32u * 1024u);
}

std::string Call(char op, int32_t i, int32_t j) {
  std::string s(1, op);
  s += std::to_string(i);
  s += ',';
  s += std::to_string(j);
  return s;
}

// Records the calls a callback sort makes over a vector.
struct Recorder {
  std::vector<int> v;
  std::vector<std::string> calls;
  int exchanges = 0;
  TSortHandler Handler() {
    return MakeSortHandler(
        [this](int32_t i, int32_t j) {
          calls.push_back(Call('c', i, j));
          return v.at(i) < v.at(j) ? -1 : v.at(i) > v.at(j);
        },
        [this](int32_t i, int32_t j) {
          calls.push_back(Call('x', i, j));
          ++exchanges;
          std::swap(v.at(i), v.at(j));
        });
  }
};

TEST(CallbackSorts, AllSortTheirRangeOnly) {
  using Sort = void (*)(const TSortHandler&, int32_t, int32_t);
  const Sort sorts[] = {&SelectionSort, &HeapSort, &IntroSort,
                        [](const TSortHandler& h, int32_t lo, int32_t hi) { CocktailSort(h, lo, hi); },
                        [](const TSortHandler& h, int32_t lo, int32_t hi) { IntroSortRange(h, lo, hi, 0); }};
  for (size_t k = 0; k < std::size(sorts); ++k) {
    for (int n : {1, 2, 5, 16, 17, 40, 300}) {
      Recorder r;
      r.v = RandomInts(n + 4, n < 20 ? 4 : 1000, static_cast<unsigned>(n + k));
      std::vector<int> expected = r.v;
      std::sort(expected.begin() + 2, expected.end() - 2);
      sorts[k](r.Handler(), 2, n + 1);
      EXPECT_EQ(r.v, expected) << "sort " << k << " n " << n;
    }
  }
}

TEST(CallbackSorts, SelectionSortMovesTheLargestToTheEnd) {
  Recorder r;
  r.v = {3, 1, 3, 2};
  SelectionSort(r.Handler(), 0, 3);
  EXPECT_EQ(r.v, (std::vector<int>{1, 2, 3, 3}));
  // First pass: m starts at 3 (value 2), moves to 0 (value 3), ties keep 0.
  EXPECT_EQ(r.calls[0], "c3,0");
  EXPECT_EQ(r.calls[3], "x0,3");
}

TEST(CallbackSorts, IntroSortOf16IsSelectionSortAndOf17Partitions) {
  Recorder a, b;
  a.v = b.v = RandomInts(16, 100, 5);
  IntroSort(a.Handler(), 0, 15);
  SelectionSort(b.Handler(), 0, 15);
  EXPECT_EQ(a.calls, b.calls);

  Recorder c;
  c.v = RandomInts(17, 100, 6);
  IntroSort(c.Handler(), 0, 16);
  ASSERT_FALSE(c.calls.empty());
  EXPECT_EQ(c.calls[0], "c0,8");  // partition around the middle first
}

TEST(CallbackSorts, CocktailSortCountsExchanges) {
  Recorder sorted;
  sorted.v = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(CocktailSort(sorted.Handler(), 0, 5), 0);
  // Exactly one backward pass: compares of (k-1, k) for k = 5 down to 1.
  EXPECT_EQ(sorted.calls, (std::vector<std::string>{"c4,5", "c3,4", "c2,3", "c1,2", "c0,1"}));

  Recorder random;
  random.v = RandomInts(60, 20, 9);
  int inversions = 0;
  for (size_t i = 0; i < random.v.size(); ++i)
    for (size_t j = i + 1; j < random.v.size(); ++j) inversions += random.v[i] > random.v[j];
  EXPECT_EQ(CocktailSort(random.Handler(), 0, 59), inversions);
  EXPECT_TRUE(std::is_sorted(random.v.begin(), random.v.end()));
}

}  // namespace
