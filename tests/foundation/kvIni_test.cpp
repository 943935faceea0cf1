#include "foundation/kvIni.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "foundation/kvIniParser.h"
#include "foundation/kvStream.h"
#include "foundation/kvCaseFolding.h"

using namespace foundation;

namespace {

TByteString B(std::string_view s) { return s.empty() ? TByteString() : TByteString::FromBytes(s); }

TIniItem* Key(const char* name, const char* value) { return new TIniItem(B(name), B(value)); }
TIniItem* Raw(const char* text) { return new TIniItem(TByteString(), B(text)); }

// Children of a list as "name=value" (raw lines as their text).
std::vector<std::string> Lines(const TIniList* list) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < list->GetCount(); ++i) {
    const TIniItem* c = list->GetChild(i);
    std::string name(c->RawName().View()), value(c->RawValue().View());
    out.push_back(name.empty() ? value : name + "=" + value);
  }
  return out;
}

TRef<TIniFile> Parse(std::string_view text) {
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  TIniParserParams params(B(text));
  ParseIniLines(ini.Get(), params, ini.Get());
  return ini;
}

// Every invariant of a list: indices, parent links, named count (through
// lookups: each name finds its last holder), object list order.
void CheckInvariants(const TIniList* list) {
  std::map<std::string, int32_t> lastOf;
  for (int32_t i = 0; i < list->GetCount(); ++i) {
    const TIniItem* c = list->GetChild(i);
    ASSERT_EQ(c->Index(), i);
    ASSERT_EQ(c->Parent(), list);
    std::string lower(c->RawName().View());
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (!lower.empty() && c->IsKey()) lastOf[lower] = i;
  }
  for (const auto& [name, index] : lastOf) {
    std::u16string n(name.begin(), name.end());
    const TIniItem* found = TIniList::FindKey(list, n);
    ASSERT_NE(found, nullptr) << name;
    EXPECT_EQ(found->Index(), index) << name;
  }
  ASSERT_LE(list->KeyInsertPosition(), list->GetCount());
  int32_t prev = -1, k = 0;
  for (const TIniObject* o = TIniList::FirstObject(list); o; o = TIniList::NextObject(list, o), ++k) {
    EXPECT_GT(o->Index(), prev);
    prev = o->Index();
  }
  int32_t objects = 0;
  for (int32_t i = 0; i < list->GetCount(); ++i) objects += dynamic_cast<TIniObject*>(list->GetChild(i)) != nullptr;
  EXPECT_EQ(k, objects);
}

}  // namespace

TEST(IniItem, GettersAcceptAMissingItem) {
  EXPECT_EQ(TIniItem::GetInteger(nullptr, 7), 7);
  EXPECT_EQ(TIniItem::GetInt64(nullptr, -8), -8);
  EXPECT_EQ(TIniItem::GetFloat(nullptr, 1.25), 1.25);
  EXPECT_TRUE(TIniItem::GetBool(nullptr, true));
  EXPECT_EQ(TIniItem::GetValue(nullptr), u"");
  EXPECT_EQ(TIniItem::GetName(nullptr), u"");
  EXPECT_EQ(TIniList::FindKey(nullptr, u"x"), nullptr);
  EXPECT_EQ(TIniList::ForceKey(nullptr, u"x"), nullptr);
  EXPECT_EQ(TIniFile::FindSection(nullptr, u"main"), nullptr);
  TIniItem::SetValue(nullptr, u"v");  // does nothing
  TIniItem::SetInteger(nullptr, 1);
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  EXPECT_EQ(TIniItem::GetInteger(TIniList::FindKey(TIniFile::FindSection(ini.Get(), u"none"), u"k"), 3), 3);
}

TEST(IniItem, TypedValuesParseStrictly) {
  struct Row {
    const char* value;
    int32_t asInt;
    int boolResult;  // -1 default
  } rows[] = {
      {"1", 1, 1},      {"0", 0, 0},    {"-7", -7, -1},  {"12abc", 99, -1}, {"0x10", 99, -1},
      {"yes", 99, -1},  {"01", 1, -1},  {"", 99, -1},    {" 1", 1, -1},     {"true", 99, -1},
      {"2147483648", 99, -1},
  };
  for (const auto& r : rows) {
    TRef<TIniItem> item = TRef<TIniItem>::Adopt(Key("k", r.value));
    EXPECT_EQ(TIniItem::GetInteger(item.Get(), 99), r.asInt) << r.value;
    const bool b = TIniItem::GetBool(item.Get(), true);
    const bool b2 = TIniItem::GetBool(item.Get(), false);
    if (r.boolResult < 0) {
      EXPECT_TRUE(b && !b2) << r.value;
    } else {
      EXPECT_EQ(b, r.boolResult == 1) << r.value;
      EXPECT_EQ(b2, r.boolResult == 1) << r.value;
    }
  }
  TRef<TIniItem> f = TRef<TIniItem>::Adopt(Key("f", "1.5E3"));
  EXPECT_EQ(TIniItem::GetFloat(f.Get(), 0), 1500.0);
  for (auto [v, text] : std::vector<std::pair<double, std::string>>{{0.5, "0.5"}, {2, "2"}, {-0.25, "-0.25"}}) {
    TIniItem::SetFloat(f.Get(), v);
    EXPECT_EQ(std::string(f->RawValue().View()), text);
  }
  TIniItem::SetBool(f.Get(), true);
  EXPECT_EQ(std::string(f->RawValue().View()), "1");
  TIniItem::SetInt64(f.Get(), -9000000000LL);
  EXPECT_EQ(TIniItem::GetInt64(f.Get(), 0), -9000000000LL);

  TIniItem::SetValue(f.Get(), u"10,x,2.5");
  const TCommaList parts = TIniItem::GetValueList(f.Get(), ',');
  EXPECT_EQ(parts.GetCount(), 3);
  EXPECT_EQ(parts.GetInt(0, -1), 10);
  EXPECT_EQ(parts.GetInt(1, -1), -1);
  EXPECT_EQ(parts.GetFloat(2, 0), 2.5);
  EXPECT_EQ(TIniItem::GetValueList(nullptr, ',').GetCount(), 0);

  const std::u16string_view names[] = {u"left", u"Center", u"right"};
  TIniItem::SetValue(f.Get(), u"center");
  EXPECT_EQ(TIniItem::GetValueIndex(f.Get(), names, true, -1), 1);
  EXPECT_EQ(TIniItem::GetValueIndex(f.Get(), names, false, -1), -1);
  EXPECT_EQ(TIniItem::GetValueIndex(nullptr, names, true, -5), -5);
}

TEST(IniList, LastDuplicateWinsAndBothLinesStay) {
  TRef<TIniFile> ini = Parse("[s]\nx=1\ny=0\nX=2\n");
  TIniSection* s = TIniFile::FindSection(ini.Get(), u"S");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(TIniItem::GetInteger(TIniList::FindKey(s, u"x"), 0), 2);
  EXPECT_EQ(Lines(s), (std::vector<std::string>{"x=1", "y=0", "X=2"}));
  // Removing the later one uncovers the earlier one.
  TIniItem* later = s->Extract(2);
  later->Free();
  EXPECT_EQ(TIniItem::GetInteger(TIniList::FindKey(s, u"x"), 0), 1);
}

TEST(IniList, ForceKeyInsertsAfterTheLastKey) {
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  TIniSection* s = TIniFile::ForceSection(ini.Get(), u"main");
  ASSERT_EQ(s->GetCount(), 1);  // the blank item
  TIniList::WriteString(s, u"k1", u"a");
  TIniList::WriteString(s, u"k2", u"b");
  EXPECT_EQ(Lines(s), (std::vector<std::string>{"k1=a", "k2=b", ""}));
  TIniItem::SetName(s->GetChild(0), u"renamed");
  TIniList::WriteString(s, u"k3", u"c");
  EXPECT_EQ(Lines(s), (std::vector<std::string>{"renamed=a", "k2=b", "k3=c", ""}));
  s->GetChild(0)->Free();  // freeing an attached node takes it out
  TIniList::WriteString(s, u"k4", u"d");
  EXPECT_EQ(Lines(s), (std::vector<std::string>{"k2=b", "k3=c", "k4=d", ""}));
  // An existing key is reused, a raw line or a list of that name is not.
  EXPECT_EQ(TIniList::ForceKey(s, u"K2"), s->GetChild(0));
  CheckInvariants(s);

  EXPECT_EQ(TIniFile::FindSection(ini.Get(), u""), ini.Get());
  const int32_t before = ini->GetCount();
  EXPECT_EQ(TIniFile::ForceSection(ini.Get(), u""), ini.Get());
  EXPECT_EQ(ini->GetCount(), before);
}

TEST(IniList, RenameInLetterCaseKeepsThePlace) {
  TRef<TIniFile> ini = Parse("a=1\nb=2\nc=3\n");
  TIniItem* b = ini->GetChild(1);
  TIniItem::SetName(b, u"B");
  EXPECT_EQ(b->Index(), 1);
  EXPECT_EQ(TIniList::FindKey(ini.Get(), u"b"), b);
  TIniItem::SetName(b, u"zz");
  EXPECT_EQ(b->Index(), 1);
  EXPECT_EQ(TIniList::FindKey(ini.Get(), u"b"), nullptr);
  EXPECT_EQ(TIniList::FindKey(ini.Get(), u"ZZ"), b);
  CheckInvariants(ini.Get());
}

TEST(IniList, InsertRefusesCyclesAndKeepsSameSlotMoves) {
  TRef<TIniFile> ini = Parse("[s]\nobject A:T\n  object B:T\n  k=1\n  end\nend\n");
  TIniSection* s = TIniFile::FindSection(ini.Get(), u"s");
  TIniObject* a = TIniList::FindObject(s, u"A");
  TIniObject* b = TIniList::FindObject(a, u"B");
  ASSERT_TRUE(a && b);
  EXPECT_FALSE(a->Insert(0, a));
  EXPECT_FALSE(b->Insert(0, a));
  TIniItem* loose = Raw("loose");
  EXPECT_FALSE(a->Insert(-1, loose));
  EXPECT_FALSE(a->Insert(a->GetCount() + 1, loose));
  loose->Free();
  TIniItem* k = TIniList::FindKey(b, u"k");
  EXPECT_TRUE(b->Insert(k->Index(), k));
  EXPECT_TRUE(b->Insert(k->Index() + 1, k));
  EXPECT_EQ(k->Parent(), b);
  // Moving a node to another list takes it out of the first.
  EXPECT_TRUE(s->Insert(0, k));
  EXPECT_EQ(TIniList::FindKey(b, u"k"), nullptr);
  EXPECT_EQ(TIniList::FindKey(s, u"k"), k);
  // A section may only be attached to a root; the tree stays whole.
  TIniSection* loneSection = new TIniSection();
  EXPECT_THROW(a->Add(loneSection), std::bad_cast);
  EXPECT_EQ(loneSection->Parent(), nullptr);
  loneSection->Free();
  CheckInvariants(s);
  CheckInvariants(a);
}

// A reference model (names, and whether each child is a key) against the
// list under inserts, extracts and renames that cross the hash's growth
// points; lookups compare with the model's last holder of each name.
void RandomEdits(TIniList* list, uint32_t seed) {
  std::mt19937 rng(seed);
  struct Child {
    std::string lower;
    bool key;
  };
  std::vector<Child> model(static_cast<size_t>(list->GetCount()));
  auto lower = [](std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
  };
  auto fill = [&](int32_t i) {
    const TIniItem* c = list->GetChild(i);
    model[static_cast<size_t>(i)] = {lower(std::string(c->NameView())), c->IsKey()};
  };
  // The model of a loaded list is read from a clone, so the list itself
  // keeps its lines without nodes.
  {
    TRef<TIniItem> copy = TRef<TIniItem>::Adopt(list->Clone());
    auto* c = static_cast<TIniList*>(copy.Get());
    for (int32_t i = 0; i < c->GetCount(); ++i)
      model[static_cast<size_t>(i)] = {lower(std::string(c->GetChild(i)->NameView())), c->GetChild(i)->IsKey()};
  }
  auto expectLookup = [&](const std::string& name) {
    int32_t want = -1;
    for (size_t i = 0; i < model.size(); ++i)
      if (model[i].key && model[i].lower == lower(name)) want = static_cast<int32_t>(i);
    const TIniItem* found = TIniList::FindKey(list, std::u16string(name.begin(), name.end()));
    ASSERT_EQ(found ? found->Index() : -1, want) << name;
  };
  for (int step = 0; step < 3000; ++step) {
    const int op = static_cast<int>(rng() % 10);
    const int32_t n = list->GetCount();
    ASSERT_EQ(static_cast<size_t>(n), model.size());
    if (op < 5 || n == 0) {
      const std::string name = "k" + std::to_string(rng() % 97);
      const int32_t at = static_cast<int32_t>(rng() % (static_cast<uint32_t>(n) + 1));
      const bool raw = rng() % 7 == 0;
      ASSERT_TRUE(list->Insert(at, raw ? Raw("; c") : Key(name.c_str(), "v")));
      model.insert(model.begin() + at, Child{raw ? "" : name, !raw});
    } else if (op < 8) {
      const int32_t at = static_cast<int32_t>(rng() % static_cast<uint32_t>(n));
      list->Extract(at)->Free();
      model.erase(model.begin() + at);
    } else {
      const int32_t at = static_cast<int32_t>(rng() % static_cast<uint32_t>(n));
      const std::u16string name = u"K" + std::u16string(1, static_cast<char16_t>(u'a' + rng() % 26));
      TIniItem::SetName(list->GetChild(at), name);
      fill(at);
    }
    if (step % 10 == 0) {
      expectLookup("k" + std::to_string(rng() % 97));
      expectLookup("K" + std::string(1, static_cast<char>('A' + rng() % 26)));
    }
  }
  CheckInvariants(list);
}

TEST(IniList, HashStaysRightUnderRandomEdits) {
  TRef<TIniList> list = MakeRef<TIniList>();
  RandomEdits(list.Get(), 1234);
  // The same over a loaded section whose lines (keys with repeated names,
  // comments, object blocks) have no nodes until the edits hand them out.
  std::string text = "[s]\n";
  for (int i = 0; i < 400; ++i) {
    text += "k" + std::to_string(i % 60) + "=" + std::to_string(i) + "\n";
    if (i % 9 == 0) text += "; note\n";
    if (i % 13 == 0) text += "object k" + std::to_string(i % 60) + ":T\n  inner=1\nend\n";
  }
  TRef<TIniFile> ini = Parse(text);
  RandomEdits(TIniFile::FindSection(ini.Get(), u"s"), 99);
}

TEST(IniList, IndexedKeysAndPaths) {
  TRef<TIniFile> ini = Parse("[A]\nvol12=x\nVol012=y\nVol-3=z\nobject B:T\n  K=deep\n  object C:U\n  end\nend\n");
  TIniSection* a = TIniFile::FindSection(ini.Get(), u"a");
  EXPECT_EQ(TIniItem::GetValue(TIniList::FindKeyIndexed(a, u"Vol", 12)), u"x");
  EXPECT_EQ(TIniItem::GetValue(TIniList::FindKeyIndexed(a, u"VOL", -3)), u"z");
  EXPECT_EQ(TIniList::FindKeyIndexed(a, u"Vol", 120), nullptr);
  TIniItem* made = TIniList::ForceKeyIndexed(a, u"Vol", 7);
  EXPECT_EQ(TIniItem::GetName(made), u"Vol7");

  EXPECT_EQ(TIniItem::GetValue(TIniList::FindPath(ini.Get(), u"A:B:K", u':', false)), u"deep");
  EXPECT_EQ(TIniItem::GetValue(TIniList::FindPath(ini.Get(), u"A.B.K", u'.', false)), u"deep");
  EXPECT_EQ(TIniList::FindPath(ini.Get(), u"A:X:K", u':', false), nullptr);
  EXPECT_EQ(TIniList::FindPath(ini.Get(), u"A:B:", u':', false), TIniList::FindObject(a, u"B"));
  EXPECT_EQ(TIniList::FindPath(ini.Get(), u"A:B:C", u':', false), TIniList::FindObjectOfType(TIniList::FindObject(a, u"B"), u"c", u"u"));
  EXPECT_EQ(TIniList::FindPath(ini.Get(), u":K", u':', false), nullptr);

  TRef<TIniFile> fresh = MakeRef<TIniFile>();
  TIniItem* k = TIniList::ForcePath(fresh.Get(), u"A:B:K");
  ASSERT_NE(k, nullptr);
  EXPECT_TRUE(k->IsKey());
  TIniObject* b = dynamic_cast<TIniObject*>(k->Parent());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(TIniItem::GetName(b), u"B");
  EXPECT_EQ(b->Parent(), TIniFile::FindSection(fresh.Get(), u"A"));
  EXPECT_EQ(TIniList::ForcePath(fresh.Get(), u"A:B:K"), k);
  TIniItem* rootKey = TIniList::ForcePath(fresh.Get(), u":top");
  EXPECT_EQ(rootKey->Parent(), fresh.Get());
}

TEST(IniList, ObjectsEnumerateInFileOrderAndCreateAfterTheLastObject) {
  TRef<TIniFile> ini = Parse("[s]\nk=1\nobject O1:T\nend\n; note\nobject O2:T\nend\n");
  TIniSection* s = TIniFile::FindSection(ini.Get(), u"s");
  TIniObject* o3 = TIniObject::Create(s, u"O3", u"T");
  TIniObject* first = TIniObject::Create(nullptr, u"free", u"X");
  ASSERT_TRUE(s->Insert(1, first));  // before O1
  std::vector<std::u16string> names;
  for (TIniObject* o = TIniList::FirstObject(s); o; o = TIniList::NextObject(s, o)) names.push_back(TIniItem::GetName(o));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"free", u"O1", u"O2", u"O3"}));
  EXPECT_EQ(o3->Index(), s->GetCount() - 1);
  EXPECT_EQ(s->GetObjectList()->GetCount(), 4);
  EXPECT_EQ(s->GetObjectList()->GetObject(4), nullptr);
  // NextObject with an object of another list is an internal error.
  TRef<TIniFile> other = Parse("[t]\nobject Z\nend\n");
  EXPECT_THROW(TIniList::NextObject(s, TIniList::FirstObject(TIniFile::FindSection(other.Get(), u"t"))),
               EAssertionFailed);
  CheckInvariants(s);
}

TEST(IniList, CloneAndFreeKeepTheLiveObjectCount) {
  InitCaseFolding();  // its lazily made pages are live objects
  const int live = LiveObjectCount();
  {
    TRef<TIniFile> ini = Parse("top=1\n[a]\nx=1\nobject O:T\n  y=2\nend\n[b]\nz=3\n");
    TRef<TIniItem> copy = TRef<TIniItem>::Adopt(ini->Clone());
    auto* root = dynamic_cast<TIniFile*>(copy.Get());
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->GetSectionList()->GetCount(), 2);
    EXPECT_EQ(TIniItem::GetName(root->GetSectionList()->GetSection(1)), u"b");
    EXPECT_EQ(IniReadInteger(root, u"a", u"x", 0), 1);
    EXPECT_EQ(TIniItem::GetInteger(TIniList::FindPath(root, u"a:O:y", u':', false), 0), 2);
    EXPECT_EQ(IniReadString(root, u"", u"top", u""), u"1");

    // A node held elsewhere survives Clear, detached.
    TIniSection* a = TIniFile::FindSection(ini.Get(), u"a");
    TRef<TIniItem> held = TRef<TIniItem>::AddRef(TIniList::FindKey(a, u"x"));
    ini->Clear();
    EXPECT_EQ(held->Parent(), nullptr);
    EXPECT_EQ(ini->GetSectionList()->GetCount(), 0);
  }
  EXPECT_EQ(LiveObjectCount(), live);
  {
    // A document copied into a plain list: its sections cannot be children
    // there. The copy raises, and the refused clone does not leak.
    TRef<TIniFile> ini = Parse("top=1\n[a]\nx=1\n");
    TRef<TIniList> list = MakeRef<TIniList>();
    EXPECT_THROW(list->Assign(ini.Get()), std::bad_cast);
    EXPECT_EQ(list->GetCount(), 1);  // the key before the section
  }
  EXPECT_EQ(LiveObjectCount(), live);
}

TEST(IniFile, DocumentLevelReadsAndWrites) {
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  IniWriteString(ini.Get(), u"Main", u"name", u"Show");
  IniWriteInteger(ini.Get(), u"main", u"count", 12);
  EXPECT_EQ(IniReadString(ini.Get(), u"MAIN", u"NAME", u"?"), u"Show");
  EXPECT_EQ(IniReadInteger(ini.Get(), u"main", u"count", 0), 12);
  EXPECT_EQ(IniReadFloat(ini.Get(), u"main", u"count", 0), 12.0);
  EXPECT_EQ(IniReadBool(ini.Get(), u"main", u"missing", true), true);
  EXPECT_EQ(IniReadString(ini.Get(), u"nosection", u"name", u"dflt"), u"dflt");
  EXPECT_EQ(ini->GetSectionList()->GetCount(), 1);
}

namespace {

TEST(IniText, ALoadedTreeKeepsTheTextOnceAndSlicesIt) {
  const std::string text = "[main]\r\nalpha=one\r\n; note\r\nobject O:TThing\r\n  beta = two \r\nend\r\n";
  TRef<TStringStream> stream = MakeRef<TStringStream>(text);
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  ASSERT_TRUE(LoadIniFromStream(ini.Get(), stream.Get()));
  TIniSection* main = TIniFile::FindSection(ini.Get(), u"main");
  TIniItem* alpha = TIniList::FindKey(main, u"alpha");
  TIniItem* note = main->GetChild(1);
  TIniObject* obj = TIniList::FindObject(main, u"O");
  TIniItem* beta = TIniList::FindKey(obj, u"beta");
  ASSERT_TRUE(alpha && note && obj && beta);
  // Every name and value lies in one array, in the order of the text, at the
  // distance the text puts between them: the text, kept once.
  const char* base = alpha->NameView().data();
  struct Piece {
    std::string_view view;
    const char* expect;
  } pieces[] = {{alpha->NameView(), "alpha"}, {alpha->ValueView(), "one"}, {note->ValueView(), "; note"},
                {obj->NameView(), "O"},       {obj->ValueView(), "TThing"}, {beta->NameView(), "beta"},
                {beta->ValueView(), "two"}};
  for (const Piece& p : pieces) {
    EXPECT_EQ(p.view, p.expect);
    EXPECT_EQ(p.view.data() - base, static_cast<std::ptrdiff_t>(text.find(p.expect) - text.find("alpha")))
        << p.expect;
  }
  // A clone shares the bytes; a change gives the node its own copy and
  // leaves the text, and every other node, as they were.
  TRef<TIniItem> clone = TRef<TIniItem>::Adopt(beta->Clone());
  EXPECT_EQ(clone->ValueView().data(), beta->ValueView().data());
  TIniItem::SetValue(beta, u"changed");
  EXPECT_EQ(TIniItem::GetValue(beta), u"changed");
  EXPECT_EQ(beta->NameView(), "beta");
  EXPECT_EQ(clone->ValueView(), "two");
  EXPECT_EQ(alpha->ValueView(), "one");
  TIniItem::SetName(alpha, u"gamma");
  EXPECT_EQ(alpha->NameView(), "gamma");
  EXPECT_EQ(alpha->ValueView(), "one");
  EXPECT_EQ(TIniList::FindKey(main, u"gamma"), alpha);
  EXPECT_EQ(TIniList::FindKey(main, u"alpha"), nullptr);
  // The raw copies are independent of the node.
  TByteString raw = alpha->RawValue();
  TIniItem::SetValue(alpha, u"other");
  EXPECT_EQ(raw.View(), "one");
}

}  // namespace

namespace {

std::vector<std::string> ObjectNames(const TIniList* list) {
  std::vector<std::string> names;
  for (TIniObject* o = TIniList::FirstObject(list); o; o = TIniList::NextObject(list, o))
    names.emplace_back(o->NameView());
  return names;
}

TIniObject* NewObject(const char* name) {
  auto* o = new TIniObject();
  TIniItem::SetName(o, std::u16string(name, name + std::strlen(name)));
  return o;
}

TEST(IniText, ObjectListsFollowTheChildrenWhenFirstWalkedAndAfter) {
  const std::string text = "object A:T\r\nend\r\nk=1\r\nobject B:T\r\n  object Inner:T\r\n  end\r\nend\r\n";
  for (bool walkFirst : {true, false}) {
    SCOPED_TRACE(walkFirst);
    TRef<TStringStream> stream = MakeRef<TStringStream>(text);
    TRef<TIniFile> ini = MakeRef<TIniFile>();
    ASSERT_TRUE(LoadIniFromStream(ini.Get(), stream.Get()));
    if (walkFirst) {
      EXPECT_EQ(ObjectNames(ini.Get()), (std::vector<std::string>{"A", "B"}));
    }
    // An object put between the two, and one before both.
    ASSERT_TRUE(ini->Insert(1, NewObject("C")));
    ASSERT_TRUE(ini->Insert(0, NewObject("D")));
    EXPECT_EQ(ObjectNames(ini.Get()), (std::vector<std::string>{"D", "A", "C", "B"}));
    ASSERT_NE(ini->GetObjectList(), nullptr);
    EXPECT_EQ(ini->GetObjectList()->GetCount(), 4);
    // A new object goes after the last one; a removed one leaves the walk.
    TIniObject* made = TIniObject::Create(ini.Get(), u"E", u"T");
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->Index(), ini->GetCount() - 1);
    TRef<TIniItem> gone = TRef<TIniItem>::Adopt(ini->Extract(1));  // A
    EXPECT_EQ(ObjectNames(ini.Get()), (std::vector<std::string>{"D", "C", "B", "E"}));
    TIniObject* b = TIniList::FindObject(ini.Get(), u"B");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(ObjectNames(b), (std::vector<std::string>{"Inner"}));
  }
  // A list without object children has no object list.
  TRef<TIniFile> plain = MakeRef<TIniFile>();
  plain->Add(new TIniItem(B("k"), B("v")));
  EXPECT_EQ(plain->GetObjectList(), nullptr);
  EXPECT_EQ(TIniList::FirstObject(plain.Get()), nullptr);
}

}  // namespace
