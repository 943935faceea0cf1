#include "foundation/kvLists.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "foundation/kpExceptions.h"
#include "tests/support/AssertionText.h"

using namespace foundation;

namespace {

void* P(intptr_t v) { return reinterpret_cast<void*>(v); }

struct Item : TRefObject {
  int value;
  int* disposed;
  explicit Item(int v, int* d = nullptr) : value(v), disposed(d) {}
  void Dispose() override {
    if (disposed) ++*disposed;
    TRefObject::Dispose();
  }
};
struct SpecialItem : Item {
  using Item::Item;
};

TEST(TList, CapacityGrowsBy4Then16ThenDoubles) {
  TRef<TList> l = MakeRef<TList>();
  std::vector<int> caps;
  for (int i = 0; i < 153; ++i) {
    ASSERT_EQ(l->Add(P(i + 1)), i);
    if (caps.empty() || caps.back() != l->Capacity()) caps.push_back(l->Capacity());
    if (i == 12) {
      EXPECT_EQ(l->Capacity(), 28);  // 13 items
    }
  }
  EXPECT_EQ(caps, (std::vector<int>{4, 8, 12, 28, 44, 60, 76, 152, 304}));
  for (int i = 0; i < 153; ++i) ASSERT_EQ(l->GetItem(i), P(i + 1));
}

TEST(TList, GrowRefusals) {
  TRef<TList> l = MakeRef<TList>();
  l->Add(P(1));
  EXPECT_FALSE(l->Grow(0));
  EXPECT_FALSE(l->Grow(-3));
  EXPECT_FALSE(l->Grow(kMaxListCount - 1));  // would reach 134,217,727
  EXPECT_FALSE(l->Grow(INT_MAX));
  EXPECT_EQ(l->Count(), 1);
  EXPECT_EQ(l->Capacity(), 4);
  EXPECT_TRUE(l->Grow(2));
  EXPECT_EQ(l->Count(), 3);
  EXPECT_EQ(l->GetItem(2), nullptr);
}

TEST(TList, InsertDeleteAndNilSlots) {
  TRef<TList> l = MakeRef<TList>();
  EXPECT_FALSE(l->Insert(1, P(9)));
  EXPECT_FALSE(l->Insert(-1, P(9)));
  EXPECT_TRUE(l->Insert(0, P(2)));
  EXPECT_TRUE(l->Insert(1, P(4)));  // at Count: appends
  EXPECT_TRUE(l->Insert(0, P(1)));
  EXPECT_TRUE(l->Insert(2, P(3)));
  EXPECT_FALSE(l->Insert(5, P(9)));  // Count + 1
  ASSERT_EQ(l->Count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(l->GetItem(i), P(i + 1));
  l->Delete(4);
  l->Delete(-1);
  EXPECT_EQ(l->Count(), 4);
  l->Delete(3);  // the last: its slot is cleared
  EXPECT_EQ(l->Count(), 3);
  EXPECT_EQ(l->Items()[3], nullptr);
  l->Delete(0);
  EXPECT_EQ(l->Items()[2], nullptr);
  EXPECT_EQ(l->GetItem(0), P(2));
  EXPECT_EQ(l->GetItem(1), P(3));
  EXPECT_EQ(l->GetItem(-1), nullptr);
  EXPECT_EQ(l->GetItem(2), nullptr);
}

TEST(TList, SearchingAndExtracting) {
  TRef<TList> l = MakeRef<TList>();
  EXPECT_EQ(l->First(), nullptr);
  EXPECT_EQ(l->Last(), nullptr);
  for (int v : {5, 6, 5, 7}) l->Add(P(v));
  EXPECT_EQ(l->IndexOf(P(5)), 0);
  EXPECT_EQ(l->IndexOf(P(8)), -1);
  EXPECT_EQ(l->Remove(P(5)), 0);
  EXPECT_EQ(l->IndexOf(P(5)), 1);
  EXPECT_EQ(l->Remove(P(8)), -1);
  EXPECT_EQ(l->First(), P(6));
  EXPECT_EQ(l->Last(), P(7));
  EXPECT_EQ(l->ExtractAt(1), P(5));
  EXPECT_EQ(l->ExtractAt(7), nullptr);
  EXPECT_EQ(l->Count(), 2);
  l->Exchange(0, 1);
  EXPECT_EQ(l->First(), P(7));
}

TEST(TList, OutOfRangeWritesRaiseEmptyAssertions) {
  TRef<TList> l = MakeRef<TList>();
  l->Add(P(1));
  EXPECT_EQ(testsupport::AssertionMessageOf([&] { l->SetItem(1, P(2)); }), u"");
  EXPECT_EQ(testsupport::AssertionMessageOf([&] { l->SetItem(-1, P(2)); }), u"");
  EXPECT_EQ(testsupport::AssertionMessageOf([&] { l->SetItemGrow(-1, P(2)); }), u"");
  EXPECT_EQ(testsupport::AssertionMessageOf([&] { l->Exchange(0, 1); }), u"");
  try {
    l->SetItem(5, nullptr);
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(e.File().find("kvLists"), std::string::npos);
  }
  l->SetItem(0, P(3));
  EXPECT_EQ(l->GetItem(0), P(3));
}

TEST(TList, SetItemGrowFillsWithNil) {
  TRef<TList> l = MakeRef<TList>();
  l->SetItemGrow(5, P(6));
  EXPECT_EQ(l->Count(), 6);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(l->GetItem(i), nullptr);
  EXPECT_EQ(l->GetItem(5), P(6));
  l->SetItemGrow(2, P(3));
  EXPECT_EQ(l->Count(), 6);
  EXPECT_EQ(l->GetItem(2), P(3));
}

TEST(TList, SetCountExactCapacityAndNilledSlots) {
  TRef<TList> l = MakeRef<TList>();
  l->SetCount(10);
  EXPECT_EQ(l->Count(), 10);
  EXPECT_EQ(l->Capacity(), 10);
  for (int i = 0; i < 10; ++i) l->SetItem(i, P(i + 1));
  l->SetCount(3);
  EXPECT_EQ(l->Count(), 3);
  EXPECT_EQ(l->Capacity(), 10);
  for (int i = 3; i < 10; ++i) EXPECT_EQ(l->Items()[i], nullptr);
  l->SetCount(-1);
  l->SetCount(kMaxListCount);
  EXPECT_EQ(l->Count(), 3);
  l->SetCount(5);
  EXPECT_EQ(l->GetItem(4), nullptr);
}

TEST(TList, ClearReleasesButFreeDoesNot) {
  int disposed = 0;
  auto* shared = new Item(1, &disposed);
  shared->_AddRef();  // a second owner
  auto* owned = new Item(2, &disposed);
  TList* l = new TList;
  l->Add(shared);
  l->Add(nullptr);
  l->Add(owned);
  l->Clear();
  EXPECT_EQ(l->Count(), 0);
  EXPECT_EQ(l->Capacity(), 0);
  EXPECT_EQ(disposed, 1);  // the owned one
  EXPECT_EQ(shared->RefCount(), 1);

  l->Add(shared);
  l->Free();  // disposing of the list leaves the entry alive
  EXPECT_EQ(disposed, 1);
  EXPECT_EQ(shared->RefCount(), 1);
  shared->Free();
  EXPECT_EQ(disposed, 2);
}

// An entry whose disposal looks at the list being cleared.
struct Watcher : TRefObject {
  TList** list;
  int seenCount = -1;
  bool sawNil = false;
  int* seen;
  Watcher(TList** l, int* s) : list(l), seen(s) {}
  void Dispose() override {
    if (*list) {
      *seen = (*list)->Count();
      (*list)->Add(new Item(99));  // added while the list is being cleared
    } else {
      *seen = -2;
    }
    TRefObject::Dispose();
  }
};

TEST(TList, ClearReentrantEmptiesFirstAndKeepsLateEntries) {
  TList* l = new TList;
  int seen = 0;
  l->Add(new Item(1));
  l->Add(new Watcher(&l, &seen));
  l->ClearReentrant();
  EXPECT_EQ(seen, 0);  // the list was already empty
  ASSERT_EQ(l->Count(), 1);
  EXPECT_EQ(l->Get<Item>(0)->value, 99);
  l->Clear();
  l->Free();
}

struct ThrowingItem : TRefObject {
  void Dispose() override {
    TRefObject::Dispose();
    throw TCommonException(u"fail");
  }
};

TEST(TList, ClearListReentrantHidesAndRestoresTheVariable) {
  TList* l = new TList;
  int seen = 0;
  l->Add(new Watcher(&l, &seen));
  EXPECT_EQ(ClearListReentrant(l), l);
  EXPECT_EQ(seen, -2);  // the variable was nil meanwhile
  ASSERT_NE(l, nullptr);
  l->Add(new ThrowingItem);
  EXPECT_THROW(ClearListReentrant(l), EAssertionFailed);
  EXPECT_NE(l, nullptr);  // restored when the exception passed
  l->RemoveAll();
  l->Free();
}

TEST(TList, FindByClassIncludesDescendants) {
  TRef<TList> l = MakeRef<TList>();
  l->Add(nullptr);
  l->Add(new Item(1));
  l->Add(new SpecialItem(2));
  int32_t index = -1;
  EXPECT_TRUE(l->FindByClass<SpecialItem>(index));
  EXPECT_EQ(index, 2);
  EXPECT_TRUE(l->FindByClass<Item>(index));
  EXPECT_EQ(index, 1);
  EXPECT_FALSE(l->FindByClass<TList>(index));
  EXPECT_EQ(index, 3);
  l->Clear();
}

int32_t CompareValues(void* a, void* b) {
  return static_cast<Item*>(a)->value - static_cast<Item*>(b)->value;
}

TEST(TList, SortWithFunctionAndMethod) {
  TRef<TList> l = MakeRef<TList>();
  for (int v : {5, 3, 9, 1, 3, 7, 2}) l->Add(new Item(v));
  const int live = LiveObjectCount();
  l->Sort(&CompareValues);
  EXPECT_EQ(LiveObjectCount(), live);  // the temporary sorter is gone
  std::vector<int> got;
  for (int i = 0; i < l->Count(); ++i) got.push_back(l->Get<Item>(i)->value);
  EXPECT_EQ(got, (std::vector<int>{1, 2, 3, 3, 5, 7, 9}));
  bool descending = true;
  l->SortByMethod([&](void* a, void* b) { return descending ? CompareValues(b, a) : CompareValues(a, b); });
  got.clear();
  for (int i = 0; i < l->Count(); ++i) got.push_back(l->Get<Item>(i)->value);
  EXPECT_EQ(got, (std::vector<int>{9, 7, 5, 3, 3, 2, 1}));
  l->Clear();
}

TEST(TList, SorterFindOnSortedList) {
  TRef<TList> l = MakeRef<TList>();
  for (int v : {10, 20, 30}) l->Add(new Item(v));
  TRef<TListSorter> s = MakeRef<TListSorter>(l.Get(), &CompareValues);
  int32_t index = -1;
  Item* key = new Item(20);
  EXPECT_TRUE(s->Find(key, index));
  EXPECT_EQ(index, 1);
  key->value = 25;
  EXPECT_FALSE(s->Find(key, index));
  EXPECT_EQ(index, 2);
  key->Free();
  l->Clear();
}

}  // namespace
