#include "foundation/kvHashLists.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/kpExceptions.h"
#include "tests/support/DisposalProbe.h"

using namespace foundation;

namespace {

// A value that records its disposal.
using TProbe = testsupport::TDisposalProbe<int>;

// Keys compared without regard to ASCII case, as subclasses do.
class TNoCaseHashList : public THashList {
 public:
  using THashList::THashList;
  uint32_t HashOf(const std::u16string& key) override { return THashList::HashOf(Lower(key)); }
  bool SameKey(const std::u16string& a, const std::u16string& b) override { return Lower(a) == Lower(b); }

 private:
  static std::u16string Lower(std::u16string s) {
    for (char16_t& c : s)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return s;
  }
};

// The bucket index an entry sits in.
int32_t BucketIndexOf(THashList* list, TKeyItem* entry) {
  for (int32_t i = 0; i < list->BucketCount(); ++i)
    if (list->BucketAt(i) == entry->Bucket()) return i;
  return -1;
}

}  // namespace

TEST(StringHashes, PjwOverLowBytes) {
  EXPECT_EQ(HashUnicodeString(u""), 0u);
  EXPECT_EQ(HashUnicodeString(u"A"), 0x41u);
  EXPECT_EQ(HashUnicodeString(u"AB"), 0x41u * 16 + 0x42);
  EXPECT_EQ(HashUnicodeString(u"\u0141"), HashUnicodeString(u"A"));
  EXPECT_EQ(HashAnsiString("AB"), HashUnicodeString(u"AB"));
  // Long keys keep the value within 28 bits after the top bits fold back.
  const std::string long_key(50, '\xFF');
  EXPECT_LT(HashAnsiString(long_key), 1u << 28);
  // Reference computation of the folding step.
  uint32_t h = 0;
  for (char c : std::string("abcdefghij")) {
    h = (h << 4) + static_cast<uint8_t>(c);
    const uint32_t g = h >> 28;
    if (g) h = (h ^ (g << 4)) & 0x0FFFFFFF;
  }
  EXPECT_EQ(HashAnsiString("abcdefghij"), h);
}

TEST(HashList, BucketsAndLookup) {
  THashList* zero = new THashList(0);
  EXPECT_EQ(zero->BucketCount(), 1);
  EXPECT_NE(zero->FindOrAdd(u"x"), nullptr);
  zero->Free();

  THashList* list = new THashList(251);
  const std::u16string k251(1, char16_t(251));         // hash 251
  const std::u16string k502 = {char16_t(31), char16_t(6)};  // hash 31 x 16 + 6 = 502
  ASSERT_EQ(list->HashOf(k251), 251u);
  ASSERT_EQ(list->HashOf(k502), 502u);
  TKeyItem* a = list->FindOrAdd(k251);
  TKeyItem* b = list->FindOrAdd(k502);
  EXPECT_EQ(BucketIndexOf(list, a), 0);
  EXPECT_EQ(BucketIndexOf(list, b), 0);
  EXPECT_EQ(a->Next(), b);  // appended at the end of the chain
  EXPECT_EQ(b->Prev(), a);

  // Keys that differ only in the high byte of a unit share a bucket and stay apart.
  TKeyItem* plainA = list->FindOrAdd(u"A");
  TKeyItem* polishL = list->FindOrAdd(u"\u0141");
  EXPECT_NE(plainA, polishL);
  EXPECT_EQ(plainA->Bucket(), polishL->Bucket());
  TKeyItem* found = nullptr;
  EXPECT_TRUE(list->TryFind(u"A", found));
  EXPECT_EQ(found, plainA);
  EXPECT_TRUE(list->TryFind(u"\u0141", found));
  EXPECT_EQ(found, polishL);
  EXPECT_FALSE(list->TryFind(u"B", found));
  EXPECT_EQ(found, nullptr);

  bool created = false;
  TKeyItem* c = list->FindOrAddEx(u"key", created);
  EXPECT_TRUE(created);
  EXPECT_EQ(list->FindOrAddEx(u"key", created), c);
  EXPECT_FALSE(created);
  list->Free();
}

TEST(HashList, RemoveEmptiesTheCache) {
  THashList* list = new THashList(7);
  list->FindOrAdd(u"one");
  list->FindOrAdd(u"two");
  list->FindOrAdd(u"three");
  EXPECT_TRUE(list->Contains(u"two"));  // cached now
  EXPECT_TRUE(list->Remove(u"two"));
  EXPECT_FALSE(list->Contains(u"two"));
  EXPECT_FALSE(list->Remove(u"two"));
  EXPECT_TRUE(list->Contains(u"one"));
  EXPECT_TRUE(list->Contains(u"three"));
  // Removing from the middle, the head and the tail of one chain.
  THashList* one = new THashList(1);
  TKeyItem* x = one->FindOrAdd(u"x");
  TKeyItem* y = one->FindOrAdd(u"y");
  TKeyItem* z = one->FindOrAdd(u"z");
  EXPECT_TRUE(one->Remove(u"y"));
  EXPECT_EQ(x->Next(), z);
  EXPECT_EQ(z->Prev(), x);
  EXPECT_TRUE(one->Remove(u"x"));
  EXPECT_EQ(one->BucketAt(0)->First, z);
  EXPECT_TRUE(one->Remove(u"z"));
  EXPECT_EQ(one->BucketAt(0)->First, nullptr);
  EXPECT_EQ(one->BucketAt(0)->Last, nullptr);
  (void)y;
  one->Free();
  list->Free();
}

TEST(HashList, ValuesAreReleasedOnlyByClearWithTheFlag) {
  int disposed = 0;
  THashList* list = new THashList(13);
  list->FindOrAdd(u"a")->Add(new TProbe(&disposed));
  list->FindOrAdd(u"a")->Add(new TProbe(&disposed));
  list->FindOrAdd(u"b")->SetObject(new TProbe(&disposed));
  TProbe* kept = new TProbe(&disposed);
  list->FindOrAdd(u"c")->Add(kept);

  list->Clear(false);  // entries go, values stay
  EXPECT_EQ(disposed, 0);
  EXPECT_FALSE(list->Contains(u"a"));
  kept->Free();
  EXPECT_EQ(disposed, 1);

  disposed = 0;
  list->FindOrAdd(u"a")->Add(new TProbe(&disposed));
  list->FindOrAdd(u"b")->SetObject(new TProbe(&disposed));
  EXPECT_NE(list->FindOrAdd(u"b")->GetObject(), nullptr);
  list->Clear(true);
  EXPECT_EQ(disposed, 2);
  EXPECT_FALSE(list->Contains(u"b"));

  // Disposal frees the entries but not their values.
  TProbe* survivor = new TProbe(&disposed);
  list->FindOrAdd(u"z")->Add(survivor);
  list->Free();
  EXPECT_EQ(disposed, 2);
  survivor->Free();
  EXPECT_EQ(disposed, 3);
}

TEST(HashList, SubclassKeyRules) {
  TNoCaseHashList* list = new TNoCaseHashList(31);
  TKeyItem* e = list->FindOrAdd(u"Switch");
  EXPECT_EQ(list->FindOrAdd(u"SWITCH"), e);
  EXPECT_TRUE(list->Contains(u"switch"));
  EXPECT_TRUE(list->Remove(u"sWiTcH"));
  EXPECT_FALSE(list->Contains(u"Switch"));
  list->Free();
}

TEST(HashList, AnEntryWithAnExtraReferenceIsUnlinkedOnce) {
  THashList* list = new THashList(3);
  TKeyItem* e = list->FindOrAdd(u"held");
  list->FindOrAdd(u"other");
  e->_AddRef();
  EXPECT_TRUE(list->Remove(u"held"));  // unlinked; the extra reference keeps it alive
  EXPECT_FALSE(list->Contains(u"held"));
  EXPECT_EQ(e->Bucket(), nullptr);
  e->Free();  // the last release must not touch the chain again
  EXPECT_TRUE(list->Contains(u"other"));
  list->Free();
}

TEST(IntHashList, GrowsByDoublingAndFindsValues) {
  TIntHashList table;
  table.Init();
  EXPECT_EQ(table.IndexOf("x"), -1);
  EXPECT_EQ(table.GetValue("x", -5), -5);
  for (int i = 0; i < 17; ++i) table.SetValue("key" + std::to_string(i), i * 10);
  EXPECT_EQ(table.BucketCount, 32);
  EXPECT_EQ(table.Used, 17);
  for (int i = 0; i < 17; ++i) EXPECT_EQ(table.GetValue("key" + std::to_string(i), -1), i * 10);
  table.SetValue("key3", 333);
  EXPECT_EQ(table.Used, 17);
  EXPECT_EQ(table.GetValue("key3", -1), 333);
  EXPECT_EQ(table.GetValue("absent", -7), -7);
  table.Clear();
  EXPECT_EQ(table.BucketCount, 0);
  EXPECT_EQ(table.GetValue("key3", -1), -1);
}

TEST(IntHashList, ChainsPutTheNewestItemFirst) {
  TIntHashList table;
  // Same hash: one chain, newest first.
  table.AddItem("a", 5, 1);
  table.AddItem("b", 5, 2);
  table.AddItem("c", 21, 3);  // 21 and 15 = 5: the same bucket of 16
  EXPECT_EQ(table.Items[5].BucketHead, 3);
  EXPECT_EQ(table.FindInChain("a", table.Items[5].BucketHead - 1), 0);
  EXPECT_EQ(table.FindInChain("z", table.Items[5].BucketHead - 1), -1);
  EXPECT_THROW(table.Rehash(24), EAssertionFailed);
  EXPECT_THROW(table.Rehash(2), EAssertionFailed);  // would drop items
  table.Rehash(64);
  EXPECT_EQ(table.Items[5].BucketHead, 2);  // "b" (hash 5); "c" moved to bucket 21
  EXPECT_EQ(table.Items[21].BucketHead, 3);
  EXPECT_EQ(table.FindInChain("a", table.Items[5].BucketHead - 1), 0);
}
