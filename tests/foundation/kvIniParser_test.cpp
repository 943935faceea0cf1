#include "foundation/kvIniParser.h"
#include "foundation/kvCaseFolding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/kvIniWriter.h"
#include "tests/support/IniTextBuilder.h"

using namespace foundation;
using testsupport::BuildIniText;
using testsupport::IniEncoding;
using testsupport::IniLineEnd;

namespace {

TByteString B(std::string_view s) { return s.empty() ? TByteString() : TByteString::FromBytes(s); }

// A structural dump independent of the writer: one line per node with its
// class, depth, name and value.
std::string Dump(const TIniList* list, int depth = 0) {
  std::string out;
  for (int32_t i = 0; i < list->GetCount(); ++i) {
    const TIniItem* c = list->GetChild(i);
    out += std::string(static_cast<size_t>(depth), '.') + c->ClassName() + "|" + std::string(c->RawName().View()) +
           "|" + std::string(c->RawValue().View()) + "\n";
    if (auto* l = dynamic_cast<const TIniList*>(c)) out += Dump(l, depth + 1);
  }
  return out;
}

TRef<TMemoryStream> StreamOf(const std::vector<uint8_t>& bytes) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  if (!bytes.empty()) s->WriteBuf(bytes.data(), static_cast<int32_t>(bytes.size()));
  s->SetPosition(0);
  return s;
}

TRef<TIniFile> Load(const std::vector<uint8_t>& bytes, bool* ok = nullptr) {
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  TRef<TMemoryStream> s = StreamOf(bytes);
  const bool r = LoadIniFromStream(ini.Get(), s.Get());
  if (ok) *ok = r;
  return ini;
}

// UTF-8 with its mark (without it, the text would be read as ANSI).
TRef<TIniFile> LoadText(std::string_view text) {
  std::vector<uint8_t> bytes = {0xEF, 0xBB, 0xBF};
  bytes.insert(bytes.end(), text.begin(), text.end());
  return Load(bytes);
}

std::string SaveText(TIniFile* ini) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  EXPECT_TRUE(SaveIniToStream(ini, s.Get(), false));
  return std::string(reinterpret_cast<const char*>(s->Data()), static_cast<size_t>(s->GetSize()));
}

// A project-style text: keys before the first section, comments, blank
// lines, nested objects, a duplicate key, a top-level end.
const char* const kProject =
    "; project written by hand\n"
    "version=3\n"
    "\n"
    "[main]\n"
    "opt_title=Caf\xC3\xA9 show\n"
    "opt_loop=1\n"
    "; options end here\n"
    "\n"
    "[slide1]\n"
    "duration=5000\n"
    "object Img1:TQelImage\n"
    "  file=photos\\a.jpg\n"
    "  ; inner comment\n"
    "  object Frame:TQelKeyFrame\n"
    "    time=0\n"
    "    pos=10,20\n"
    "  end\n"
    "end\n"
    "object :TBox\n"
    "end\n"
    "object\n"
    "end\n"
    "duration=6000\n"
    "\n"
    "end\n";

}  // namespace

TEST(IniClassify, LineKinds) {
  struct Row {
    const char* line;
    TIniLineKind kind;
    const char* name;
    const char* value;
  } rows[] = {
      {"  key = a = b  ", TIniLineKind::Key, "key", "a = b"},
      {"  ; note  ", TIniLineKind::Raw, "", "; note"},
      {"=orphan", TIniLineKind::Raw, "", "=orphan"},
      {"[ Main ] tail", TIniLineKind::Section, "Main", ""},
      {"[]", TIniLineKind::Section, "", ""},
      {"[open", TIniLineKind::Raw, "", "[open"},
      {"object Btn1: TButton", TIniLineKind::Object, "Btn1", "TButton"},
      {"object A:B:T", TIniLineKind::Object, "A:B", "T"},
      {"object", TIniLineKind::Object, "", ""},
      {"object:T", TIniLineKind::Object, "", "T"},
      {"OBJECT x", TIniLineKind::Object, "x", ""},
      {"object=1", TIniLineKind::Key, "object", "1"},
      {"object =1", TIniLineKind::Key, "object", "1"},
      {"objects=1", TIniLineKind::Key, "objects", "1"},
      {"end=1", TIniLineKind::Key, "end", "1"},
      {"End ; done", TIniLineKind::End, "", ""},
      {"end", TIniLineKind::End, "", ""},
      {"ending", TIniLineKind::Raw, "", "ending"},
      {" \t ", TIniLineKind::Raw, "", ""},
      {"#x=1", TIniLineKind::Key, "#x", "1"},
      {"k=", TIniLineKind::Key, "k", ""},
      {"plain text", TIniLineKind::Raw, "", "plain text"},
  };
  for (const auto& r : rows) {
    TIniParserParams p(B(r.line));
    EXPECT_EQ(ClassifyIniLine(p), r.kind) << r.line;
    const std::string_view text = p.Text.View();
    EXPECT_EQ(text.substr(static_cast<size_t>(p.NameStart), static_cast<size_t>(p.NameLength)), r.name) << r.line;
    if (r.kind != TIniLineKind::Section && r.kind != TIniLineKind::End) {
      EXPECT_EQ(text.substr(static_cast<size_t>(p.ValueStart), static_cast<size_t>(p.ValueLength)), r.value)
          << r.line;
    }
    EXPECT_EQ(p.Position, p.End);
  }
}

TEST(IniClassify, LineEndsCountPairsAsOne) {
  TIniParserParams p(B("a\r\nb\n\rc\r\rd\ne"));
  std::vector<std::pair<std::string, TIniLineEnd>> seen;
  while (p.Position < p.End) {
    ClassifyIniLine(p);
    seen.emplace_back(std::string(p.Text.View().substr(static_cast<size_t>(p.ValueStart),
                                                       static_cast<size_t>(p.ValueLength))),
                      p.LineEnd);
  }
  const std::vector<std::pair<std::string, TIniLineEnd>> want = {
      {"a", TIniLineEnd::CrLf}, {"b", TIniLineEnd::LfCr}, {"c", TIniLineEnd::Cr},
      {"", TIniLineEnd::Cr},    {"d", TIniLineEnd::Lf},   {"e", TIniLineEnd::None}};
  EXPECT_EQ(seen, want);
}

TEST(IniLoad, ProjectTextBuildsTheTree) {
  TRef<TIniFile> ini = LoadText(kProject);
  EXPECT_EQ(IniReadInteger(ini.Get(), u"", u"version", 0), 3);
  TIniSection* main = TIniFile::FindSection(ini.Get(), u"MAIN");
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(ini->GetSectionList()->GetCount(), 2);
  EXPECT_EQ(TIniItem::GetValue(TIniList::FindKey(main, u"opt_title")), u"Caf\u00E9 show");
  TIniSection* slide = TIniFile::FindSection(ini.Get(), u"slide1");
  EXPECT_EQ(TIniItem::GetValue(slide->GetChild(slide->GetCount() - 1)), u"end");  // a top-level end is kept
  EXPECT_EQ(TIniItem::GetInteger(TIniList::FindKey(slide, u"duration"), 0), 6000);
  TIniObject* img = TIniList::FindObjectOfType(slide, u"img1", u"tqelimage");
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(TIniItem::GetValue(TIniList::FindKey(img, u"file")), u"photos\\a.jpg");
  EXPECT_EQ(TIniItem::GetValue(TIniList::FindPath(slide, u"Img1:Frame:pos", u':', false)), u"10,20");
  EXPECT_EQ(slide->GetObjectList()->GetCount(), 3);
  // Typed getters on missing items give their defaults.
  EXPECT_EQ(TIniItem::GetInteger(TIniList::FindKey(main, u"missing"), -1), -1);
  EXPECT_EQ(TIniItem::GetFloat(TIniList::FindKey(TIniFile::FindSection(ini.Get(), u"none"), u"x"), 2.5), 2.5);
}

TEST(IniLoad, EveryEncodingAndLineEndGivesTheSameTreeAndWritesBack) {
  const std::string reference = Dump(LoadText(kProject).Get());
  // Written back, the document is the text with CR LF line ends.
  std::string crlf;
  for (const char* p = kProject; *p; ++p) {
    if (*p == '\n') crlf += '\r';
    crlf += *p;
  }
  for (IniEncoding enc : {IniEncoding::Utf8Bom, IniEncoding::Utf16LeBom, IniEncoding::Cp1252}) {
    for (IniLineEnd end : {IniLineEnd::CrLf, IniLineEnd::Lf, IniLineEnd::Cr, IniLineEnd::LfCr}) {
      for (bool finalEnd : {true, false}) {
        SCOPED_TRACE(std::string(testsupport::IniEncodingName(enc)) + ", " + testsupport::IniLineEndName(end));
        // The text ends with a line end; the variant without it drops it.
        std::string text(kProject);
        if (!finalEnd) text.pop_back();
        bool ok = false;
        TRef<TIniFile> ini = Load(BuildIniText(text, enc, end, false), &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(Dump(ini.Get()), reference);
        std::string want = crlf;
        EXPECT_EQ(SaveText(ini.Get()), want);
      }
    }
  }
}

TEST(IniLoad, AnsiTextWithoutMark) {
  // 0xE9 in code page 1252 is U+00E9; UTF-8 without a mark is read as ANSI.
  TRef<TIniFile> ini = Load({'k', '=', 0xE9});
  EXPECT_EQ(IniReadString(ini.Get(), u"", u"k", u""), u"\u00E9");
  TRef<TIniFile> utf8 = Load({'k', '=', 0xC3, 0xA9});
  EXPECT_EQ(IniReadString(utf8.Get(), u"", u"k", u""), u"\u00C3\u00A9");
}

TEST(IniLoad, StreamStatesAndFailures) {
  bool ok = false;
  TRef<TIniFile> empty = Load({}, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(empty->GetCount(), 0);

  // A stream positioned in its middle is read short: failure, empty document.
  TRef<TIniFile> ini = LoadText("a=1\nb=2\n");
  TRef<TMemoryStream> s = StreamOf({'x', '=', '1', '\n', 'y', '=', '2'});
  s->SetPosition(3);
  EXPECT_FALSE(LoadIniFromStream(ini.Get(), s.Get()));
  EXPECT_EQ(ini->GetCount(), 0);
  EXPECT_FALSE(LoadIniFromStream(ini.Get(), nullptr));

  // Short marks and truncated texts load what they hold.
  struct Row {
    std::vector<uint8_t> bytes;
    const char16_t* key;
    const char16_t* value;
  } rows[] = {
      {{0xEF, 0xBB}, nullptr, nullptr},                                // two bytes of a mark: ANSI
      {{0xFF, 0xFE, 'k', 0, '=', 0, 'v', 0, 'w'}, u"k", u"v"},         // odd UTF-16 tail
      {{0xEF, 0xBB, 0xBF, 'k', '=', 'v', 0xC3}, u"k", nullptr},        // cut UTF-8 sequence
      {{0xFE, 0xFF, 0, 'k', 0, '=', 0, 'v'}, nullptr, nullptr},        // big-endian mark: ANSI bytes
      {{'k', '=', 'v', 0, 'w', '=', '1', 0}, u"k", u"v"},              // NUL is a blank, not a line end
  };
  for (const auto& r : rows) {
    TRef<TIniFile> doc = Load(r.bytes, &ok);
    EXPECT_TRUE(ok);
    if (r.key && r.value) {
      EXPECT_EQ(IniReadString(doc.Get(), u"", r.key, u"?").substr(0, 1), r.value);
    }
    if (r.key && !r.value) {
      EXPECT_NE(TIniList::FindKey(doc.Get(), r.key), nullptr);
    }
  }
}

TEST(IniLoad, RepeatedSectionContinuesTheFirst) {
  TRef<TIniFile> ini = LoadText("[a]\nx=1\n[b]\ny=2\n[A]\nz=3\n");
  ASSERT_EQ(ini->GetSectionList()->GetCount(), 2);
  TIniSection* a = TIniFile::FindSection(ini.Get(), u"a");
  EXPECT_EQ(a->GetCount(), 2);
  EXPECT_EQ(IniReadInteger(ini.Get(), u"a", u"z", 0), 3);
  EXPECT_EQ(SaveText(ini.Get()), "[a]\r\nx=1\r\nz=3\r\n[b]\r\ny=2\r\n");
}

TEST(IniLoad, CrCrGivesAnEmptyLineBetween) {
  TRef<TIniFile> ini = LoadText("a=1\r\rb=2");
  ASSERT_EQ(ini->GetCount(), 3);
  EXPECT_EQ(TIniItem::GetValue(ini->GetChild(1)), u"");
}

TEST(IniLoad, SectionHeaderInsideAnObjectClosesTheBlock) {
  TRef<TIniFile> ini = LoadText("[a]\nobject O\nk=1\n[b]\nafter=1\n");
  TIniSection* a = TIniFile::FindSection(ini.Get(), u"a");
  EXPECT_EQ(TIniFile::FindSection(ini.Get(), u"b"), nullptr);
  EXPECT_NE(TIniList::FindKey(a, u"after"), nullptr);
  EXPECT_NE(TIniList::FindKey(TIniList::FindObject(a, u"O"), u"k"), nullptr);
}

TEST(IniLoad, DeepAndEndlessObjectChainsStayOffTheStack) {
  // 100,000 unclosed "object" lines, and the same depth closed again: load,
  // query, copy and free without recursion. Written text indents by depth,
  // so the save round trip runs at a depth whose text stays small.
  for (int depth : {100000, 3000}) {
    for (bool closed : {false, true}) {
      std::string text = "[s]\n";
      for (int i = 0; i < depth; ++i) text += "object o:T\n";
      text += "leaf=1\n";
      if (closed)
        for (int i = 0; i < depth; ++i) text += "end\n";
      text += "tail=2\n";
      InitCaseFolding();  // its lazily made pages are live objects
      const int live = LiveObjectCount();
      {
        TRef<TIniFile> ini = LoadText(text);
        TIniList* node = TIniFile::FindSection(ini.Get(), u"s");
        int levels = 0;
        while (TIniObject* o = TIniList::FirstObject(node)) {
          node = o;
          ++levels;
        }
        EXPECT_EQ(levels, depth);
        EXPECT_EQ(IniReadInteger(ini.Get(), u"s", u"tail", 0), closed ? 2 : 0);
        TRef<TIniItem> copy = TRef<TIniItem>::Adopt(ini->Clone());
        if (depth <= 3000) {
          const std::string saved = SaveText(ini.Get());
          const std::vector<uint8_t> bytes = SaveIniToBytes(ini.Get());
          TRef<TIniFile> again = MakeRef<TIniFile>();
          EXPECT_TRUE(LoadIniFromBytes(again.Get(), bytes));
          EXPECT_EQ(SaveText(again.Get()), saved);
          EXPECT_EQ(SaveText(static_cast<TIniFile*>(copy.Get())), saved);
        }
      }
      EXPECT_EQ(LiveObjectCount(), live);
    }
  }
}

TEST(IniLoad, LinesBecomeNodesOnlyWhenHandedOutAndStayThem) {
  const std::string text =
      "top=0\r\n[a]\r\nx=1\r\n; c\r\nobject O:T\r\n  y=2\r\n  object P:U\r\n    q=5\r\n  end\r\nend\r\n"
      "x=3\r\n[b]\r\nz=4\r\nend\r\n";
  InitCaseFolding();  // its lazily made pages are live objects
  const int live = LiveObjectCount();
  {
    TRef<TIniFile> ini = LoadText(text);
    // The root, its section list, the two sections and the "end" line of
    // the top level are the only objects a load makes.
    EXPECT_EQ(LiveObjectCount(), live + 5);
    // Written back while no other line has a node: the text as it was.
    EXPECT_EQ(SaveText(ini.Get()), text);
    TIniSection* a = TIniFile::FindSection(ini.Get(), u"a");
    TIniItem* x = TIniList::FindKey(a, u"X");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(TIniItem::GetValue(x), u"3");
    EXPECT_EQ(x->Index(), 3);
    EXPECT_EQ(x->Parent(), a);
    EXPECT_EQ(LiveObjectCount(), live + 6);
    EXPECT_EQ(TIniList::FindKey(a, u"x"), x);  // the same node again
    EXPECT_EQ(a->GetChild(3), x);
    EXPECT_EQ(LiveObjectCount(), live + 6);
    // A block's node comes with its lines, still without nodes of their own.
    TIniItem* q = TIniList::FindPath(a, u"O:P:q", u':', false);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(TIniItem::GetInteger(q, 0), 5);
    EXPECT_EQ(LiveObjectCount(), live + 9);  // O, P and q
    EXPECT_EQ(TIniList::FindKey(a, u"O"), nullptr);  // an object is no key
    // Mixed nodes and lines write back the same text; an edit shows.
    EXPECT_EQ(SaveText(ini.Get()), text);
    TIniItem::SetInteger(q, 6);
    std::string edited = text;
    edited.replace(edited.find("q=5"), 3, "q=6");
    EXPECT_EQ(SaveText(ini.Get()), edited);
  }
  EXPECT_EQ(LiveObjectCount(), live);
}

TEST(IniLoad, BytesFormRoundTripsAndRejectsBadEscapes) {
  TRef<TIniFile> ini = LoadText(kProject);
  TIniItem::SetValue(TIniList::ForceKey(TIniFile::FindSection(ini.Get(), u"main"), u"path"), u"c:\\new\\n");
  const std::vector<uint8_t> bytes = SaveIniToBytes(ini.Get());
  EXPECT_EQ(std::find(bytes.begin(), bytes.end(), '\n'), bytes.end());
  EXPECT_EQ(std::find(bytes.begin(), bytes.end(), '\r'), bytes.end());
  TRef<TIniFile> back = MakeRef<TIniFile>();
  ASSERT_TRUE(LoadIniFromBytes(back.Get(), bytes));
  EXPECT_EQ(Dump(back.Get()), Dump(ini.Get()));
  EXPECT_EQ(IniReadString(back.Get(), u"main", u"path", u""), u"c:\\new\\n");

  for (std::string bad : {"a=1\\tb", "a=1\\"}) {
    EXPECT_FALSE(LoadIniFromBytes(back.Get(), std::vector<uint8_t>(bad.begin(), bad.end()))) << bad;
    EXPECT_EQ(back->GetCount(), 0);
  }
}

TEST(IniAssign, ListsCopyAndWritersParse) {
  TRef<TIniFile> source = LoadText(kProject);
  TRef<TIniFile> copy = MakeRef<TIniFile>();
  copy->Assign(source.Get());
  EXPECT_EQ(Dump(copy.Get()), Dump(source.Get()));
  EXPECT_EQ(copy->GetSectionList()->GetCount(), 2);

  // A section assigned to a plain list: its content becomes the children.
  TRef<TIniList> list = MakeRef<TIniList>();
  TIniSection* slide = TIniFile::FindSection(source.Get(), u"slide1");
  list->Assign(slide);  // a list source is copied
  EXPECT_EQ(list->GetCount(), slide->GetCount());

  // A writer that is not a list: rendered and parsed from its first key or header.
  class TPlain : public TTextWriter {
   public:
    void WriteTo(TTextSaver* saver) override {
      saver->WriteLine(u"; leading comment");
      saver->WriteLine(u"[ignored header]");
      saver->WriteLine(u"a=1");
      saver->WriteLine(u"object O:T");
      saver->WriteLine(u"  b=2");
      saver->WriteLine(u"end");
      saver->WriteLine(u"[next]");
      saver->WriteLine(u"c=3");
    }
  };
  TRef<TPlain> plain = MakeRef<TPlain>();
  list->Assign(plain.Get());
  EXPECT_EQ(TIniItem::GetInteger(TIniList::FindKey(list.Get(), u"a"), 0), 1);
  EXPECT_EQ(TIniItem::GetInteger(TIniList::FindPath(list.Get(), u"O:b", u':', false), 0), 2);
  EXPECT_EQ(TIniList::FindKey(list.Get(), u"c"), nullptr);  // the next header ends the level
  TRef<TIniFile> doc = MakeRef<TIniFile>();
  doc->Assign(plain.Get());
  EXPECT_EQ(IniReadInteger(doc.Get(), u"next", u"c", 0), 3);
}

namespace {

// A list assigned from one of its own descendants: clearing the list drops the
// tree's reference to the source, which must survive until it is copied.
TEST(IniAssign, SourceInsideTheTargetSurvivesTheClear) {
  TRef<TIniFile> doc = LoadText("[a]\nx=1\nobject O:T\n  y=2\nend\n[b]\nz=3\n");
  doc->Assign(TIniFile::FindSection(doc.Get(), u"a"));
  EXPECT_EQ(Dump(doc.Get()), "TIniItem|x|1\nTIniObject|O|T\n.TIniItem|y|2\n");

  TRef<TIniFile> doc2 = LoadText("[a]\nobject O:T\n  y=2\nend\n");
  TIniSection* a = TIniFile::FindSection(doc2.Get(), u"a");
  TIniObject* o = TIniList::FindObject(a, u"O");
  a->Assign(o);
  EXPECT_EQ(Dump(a), "TIniItem|y|2\n");
}

}  // namespace
