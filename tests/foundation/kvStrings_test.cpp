#include "foundation/kvStrings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/DisposalProbe.h"

using namespace foundation;

namespace {

// A list that frees itself at the end of the test.
struct ListHolder {
  TStringList* List = new TStringList();
  ~ListHolder() { List->Free(); }
  TStringList* operator->() const { return List; }
};

std::vector<std::u16string> Texts(TStringList* list) {
  std::vector<std::u16string> out;
  for (int i = 0; i < list->GetCount(); ++i) out.push_back(list->GetString(i));
  return out;
}

using TProbe = testsupport::TDisposalProbe<int>;

// An IStrings of another implementation that records how it is held.
class FakeStrings : public IStrings {
 public:
  std::vector<std::u16string> Texts;
  int Refs = 0, MaxRefs = 0, ReadsWhileUnheld = 0;
  int32_t QueryInterface(const TGUID&, void** obj) override {
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  uint32_t AddRef() override {
    MaxRefs = std::max(MaxRefs, ++Refs);
    return static_cast<uint32_t>(Refs);
  }
  uint32_t Release() override { return static_cast<uint32_t>(--Refs); }
  int32_t GetCount() override {
    if (Refs == 0) ++ReadsWhileUnheld;
    return static_cast<int32_t>(Texts.size());
  }
  void SetCount(int32_t) override {}
  void Clear() override {}
  int32_t Add(const std::u16string&) override { return -1; }
  bool Insert(int32_t, const std::u16string&) override { return false; }
  void Delete(int32_t) override {}
  void AssignStrings(IStrings*) override {}
  std::u16string GetString(int32_t index) override {
    if (Refs == 0) ++ReadsWhileUnheld;
    return Texts[static_cast<size_t>(index)];
  }
  void SetString(int32_t, const std::u16string&) override {}
};

}  // namespace

TEST(StringList, SortedOrderByCaseRule) {
  ListHolder ci;
  ci->SetCaseInsensitive(true);
  ci->SetSorted(true);
  for (auto t : {u"b", u"A", u"c"}) ci->Add(t);
  EXPECT_EQ(Texts(ci.List), (std::vector<std::u16string>{u"A", u"b", u"c"}));

  ListHolder cs;
  cs->SetSorted(true);
  for (auto t : {u"b", u"A", u"c"}) cs->Add(t);
  EXPECT_EQ(Texts(cs.List), (std::vector<std::u16string>{u"A", u"b", u"c"}));
  ListHolder ab;
  ab->SetSorted(true);
  ab->Add(u"a");
  ab->Add(u"B");
  EXPECT_EQ(Texts(ab.List), (std::vector<std::u16string>{u"B", u"a"}));

  // Switching the case rule of a sorted list sorts it again.
  ab->SetCaseInsensitive(true);
  EXPECT_EQ(Texts(ab.List), (std::vector<std::u16string>{u"a", u"B"}));
  // Folded code points: a supplementary letter sorts after every BMP one.
  ab->Add(u"\U00010400");
  ab->Add(u"\uFF3A");
  EXPECT_EQ(ab->GetString(3), u"\U00010400");
  int32_t index = -1;
  EXPECT_TRUE(ab->Find(u"\U00010428", index));
  EXPECT_EQ(index, 3);
}

TEST(StringList, IndexOf) {
  ListHolder ci;
  ci->SetCaseInsensitive(true);
  ci->Add(u"x");
  ci->Add(u"ABC");
  EXPECT_EQ(ci->IndexOf(u"abc"), 1);
  EXPECT_EQ(ci->IndexOf(u"ab"), -1);
  ListHolder cs;
  cs->Add(u"ABC");
  EXPECT_EQ(cs->IndexOf(u"abc"), -1);
  EXPECT_EQ(cs->IndexOf(u"ABC"), 0);

  ListHolder slots;
  slots->SetCount(3);
  EXPECT_EQ(slots->GetCount(), 3);
  EXPECT_EQ(slots->GetString(1), u"");
  EXPECT_EQ(slots->GetObject(1), nullptr);
  EXPECT_EQ(slots->IndexOf(u""), 0);

  // An empty key sorts below every item, so a sorted list does not find an empty text.
  ListHolder sorted;
  sorted->Add(u"");
  sorted->Add(u"b");
  EXPECT_EQ(sorted->IndexOf(u""), 0);
  sorted->SetSorted(true);
  EXPECT_EQ(sorted->IndexOf(u""), -1);
  EXPECT_EQ(sorted->IndexOf(u"b"), 1);
}

TEST(StringList, AddObjectKeepsTheOrder) {
  ListHolder list;
  list->SetSorted(true);
  int disposed = 0;
  TProbe* first = new TProbe(&disposed);
  TProbe* second = new TProbe(&disposed);
  list->Add(u"a");
  list->AddObject(u"m", first);
  list->Add(u"z");
  EXPECT_EQ(list->AddObject(u"m", second), 1);  // at the position of the equal text
  EXPECT_EQ(Texts(list.List), (std::vector<std::u16string>{u"a", u"m", u"m", u"z"}));
  EXPECT_EQ(list->GetObject(1), second);
  EXPECT_EQ(list->GetObject(2), first);

  EXPECT_EQ(list->Extract(1), second);  // returned, not freed
  EXPECT_EQ(disposed, 0);
  list->Delete(10);
  list->Delete(-1);
  EXPECT_EQ(list->GetCount(), 3);
  EXPECT_EQ(list->Extract(7), nullptr);

  list->Clear();
  EXPECT_EQ(disposed, 0);  // Clear leaves the attached objects alive
  list->AddObject(u"q", first);
  list->AddObject(u"r", second);
  list->ClearWithObjects(true);
  EXPECT_EQ(disposed, 2);
  EXPECT_EQ(list->GetCount(), 0);
}

TEST(StringList, InsertSetStringAndNilSlots) {
  ListHolder list;
  for (auto t : {u"a", u"b", u"c"}) list->Add(t);
  EXPECT_FALSE(list->Insert(5, u"x"));
  EXPECT_FALSE(list->Insert(-1, u"x"));
  EXPECT_EQ(list->GetCount(), 3);
  EXPECT_TRUE(list->Insert(3, u"d"));
  EXPECT_TRUE(list->Insert(0, u"0"));
  EXPECT_EQ(Texts(list.List), (std::vector<std::u16string>{u"0", u"a", u"b", u"c", u"d"}));
  EXPECT_EQ(list->GetItem(5), nullptr);
  EXPECT_EQ(list->GetString(-3), u"");

  list->SetCount(7);
  EXPECT_EQ(list->Items()->GetItem(6), nullptr);
  list->SetString(6, u"late");  // creates the item
  EXPECT_EQ(list->GetString(6), u"late");
  list->SetString(9, u"nowhere");
  EXPECT_EQ(list->GetCount(), 7);

  // Nil slots sort before items.
  list->SetSorted(true);
  EXPECT_EQ(list->Items()->GetItem(0), nullptr);
  EXPECT_EQ(list->GetString(1), u"0");
  EXPECT_EQ(list->GetString(6), u"late");
  list->SetString(1, u"zz");  // sorted again
  EXPECT_EQ(list->GetString(6), u"zz");
  list->SetCount(2);
  EXPECT_EQ(list->GetCount(), 2);
}

TEST(StringList, AssignAndAdd) {
  ListHolder source;
  int disposed = 0;
  TProbe* obj = new TProbe(&disposed);
  source->AddObject(u"one", obj);
  source->Add(u"two");
  source->SetCount(3);

  ListHolder copy;
  copy->Add(u"old1");
  copy->Add(u"old2");
  copy->Add(u"old3");
  copy->Add(u"old4");
  copy->Assign(source.List);
  EXPECT_EQ(Texts(copy.List), (std::vector<std::u16string>{u"one", u"two", u""}));
  EXPECT_EQ(copy->GetObject(0), obj);
  EXPECT_EQ(copy->Items()->GetItem(2), nullptr);

  copy->AddList(source.List);
  EXPECT_EQ(copy->GetCount(), 6);
  EXPECT_EQ(copy->GetObject(3), obj);
  copy->AddList(copy.List);
  EXPECT_EQ(copy->GetCount(), 12);

  FakeStrings fake;
  fake.Texts = {u"y", u"x"};
  copy->SetSorted(true);
  copy->AssignStrings(&fake);
  EXPECT_EQ(Texts(copy.List), (std::vector<std::u16string>{u"x", u"y"}));
  EXPECT_EQ(copy->GetObject(0), nullptr);
  copy->AddStrings(&fake);
  EXPECT_EQ(Texts(copy.List), (std::vector<std::u16string>{u"x", u"x", u"y", u"y"}));
  EXPECT_EQ(fake.Refs, 0);
  EXPECT_EQ(fake.MaxRefs, 1);
  EXPECT_EQ(fake.ReadsWhileUnheld, 0);

  // A list is an IStrings for another list, and its interface count is its own.
  ListHolder target;
  const int before = source->RefCount();
  target->AssignStrings(source->AsIStrings());
  EXPECT_EQ(source->RefCount(), before);
  EXPECT_EQ(Texts(target.List), (std::vector<std::u16string>{u"one", u"two", u""}));
  obj->Free();
  EXPECT_EQ(disposed, 1);
}

TEST(StringList, RangesAndHolders) {
  ListHolder list;
  list->SetSorted(true);
  for (auto t : {u"d", u"b", u"a", u"c"}) list->Add(t);
  int32_t index = -1;
  EXPECT_TRUE(list->FindRange(u"c", -10, 100, index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(list->FindRange(u"bb", 0, 3, index));
  EXPECT_EQ(index, 2);
  list->Exchange(0, 9);  // a bad index does nothing
  list->Exchange(0, 3);
  list->SortRange(-5, 50);
  EXPECT_EQ(Texts(list.List), (std::vector<std::u16string>{u"a", u"b", u"c", u"d"}));

  struct Holder {
    TStringList* Strings;
    int Other;
  } holder{list.List, 7};
  ClearStringsTarget(&holder);
  EXPECT_EQ(list->GetCount(), 0);
  AddToStringsTarget(&holder, u"meta");
  EXPECT_EQ(list->GetString(0), u"meta");
  Holder empty{nullptr, 0};
  AddToStringsTarget(&empty, u"ignored");
  ClearStringsTarget(nullptr);
}
