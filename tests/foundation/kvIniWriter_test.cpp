#include "foundation/kvIniWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/kvIniParser.h"
#include "foundation/kvTextSaver.h"

using namespace foundation;

namespace {

TByteString B(std::string_view s) { return s.empty() ? TByteString() : TByteString::FromBytes(s); }

std::string Str(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

std::string Content(TMemoryStream* s) {
  return std::string(reinterpret_cast<const char*>(s->Data()), static_cast<size_t>(s->GetSize()));
}

TRef<TIniFile> Parse(std::string_view text) {
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  TIniParserParams params(B(text));
  ParseIniLines(ini.Get(), params, ini.Get());
  return ini;
}

std::string Written(TIniFile* ini) {
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  EXPECT_TRUE(SaveIniToStream(ini, s.Get(), false));
  return Content(s.Get());
}

// A stream that takes at most `limit` bytes in all, like a full disk.
class TFullDisk : public TMemoryStream {
 public:
  int64_t limit = 0;
  int32_t Write(std::span<const uint8_t> buffer, int32_t offset, int32_t count) override {
    const int64_t room = std::max<int64_t>(0, limit - GetSize());
    return TMemoryStream::Write(buffer, offset, static_cast<int32_t>(std::min<int64_t>(count, room)));
  }
};

}  // namespace

TEST(IniWriter, NodesWriteTheirTextForms) {
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  TIniSection* main = TIniFile::ForceSection(ini.Get(), u"Main");
  main->Clear();
  TIniList::WriteString(main, u"a", u"1");
  main->Add(new TIniItem(TByteString(), B("; comment")));
  TIniObject* o = TIniObject::Create(main, u"O", u"T");
  TIniList::WriteString(o, u"k", u"v");
  o->Add(new TIniItem(TByteString(), TByteString()));
  TIniObject::Create(o, u"", u"");
  TIniObject::Create(o, u"", u"OnlyType");
  TIniList::WriteString(main, u"empty", u"");
  // New objects go after the last object or, before the first, where new
  // keys go: ahead of the trailing comment and blank line.
  EXPECT_EQ(Written(ini.Get()),
            "[Main]\r\na=1\r\nempty=\r\nobject O:T\r\n  k=v\r\n  object\r\n  end\r\n"
            "  object :OnlyType\r\n  end\r\n\r\nend\r\n; comment\r\n");
}

TEST(IniWriter, ObjectNameWithAColonSurvivesTheRoundTrip) {
  TRef<TIniFile> ini = Parse("object A:B:\nend\nobject C:D:T\nend\n");
  EXPECT_NE(TIniList::FindObjectOfType(ini.Get(), u"A:B", u""), nullptr);
  const std::string text = Written(ini.Get());
  EXPECT_EQ(text, "object A:B:\r\nend\r\nobject C:D:T\r\nend\r\n");
  TRef<TIniFile> again = Parse(text);
  EXPECT_NE(TIniList::FindObjectOfType(again.Get(), u"A:B", u""), nullptr);
}

TEST(IniWriter, SaverEncodesAcrossBufferBoundaries) {
  // 3-byte characters and a surrogate pair straddling the 32 KB stream buffer.
  std::u16string text(20000, u'\u20AC');
  text += u"\U0001F600";
  TRef<TMemoryStream> s = MakeRef<TMemoryStream>();
  {
    TRef<TStreamTextSaver> saver = MakeRef<TStreamTextSaver>(s.Get(), false);
    saver->WriteIndent(200);
    saver->WriteLine(text);
  }  // freeing flushes
  std::string want(200, ' ');
  for (int i = 0; i < 20000; ++i) want += "\xE2\x82\xAC";
  want += "\xED\xA0\xBD\xED\xB8\x80\r\n";  // each surrogate encoded by itself
  EXPECT_EQ(Content(s.Get()), want);

  // An owned stream is freed by Finish.
  const int live = LiveObjectCount();
  auto* owned = new TMemoryStream();
  TStreamTextSaver* saver = new TStreamTextSaver(owned, true);
  saver->WriteLine(u"x");
  saver->Finish();
  EXPECT_EQ(LiveObjectCount(), live + 1);  // only the saver is left
  saver->Free();
  EXPECT_EQ(LiveObjectCount(), live);
}

TEST(IniWriter, EscapedSingleLineForm) {
  struct Row {
    std::u16string text;
    std::string escaped;
  } rows[] = {
      {u"a\\b\r\nc", "a\\\\b\\nc"},
      {u"tab\there", "tabhere"},
      {u"x\n\ry\r\rz\n", "x\\ny\\n\\nz\\n"},
      {u"caf\u00E9", "caf\xC3\xA9"},
      {u"", ""},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(Str(EscapeIniValue(r.text)), r.escaped);
  }
  EXPECT_EQ(UnescapeIniText(B("a\\\\b\\nc")), u"a\\b\r\nc");

  struct Bad {
    std::string in;
    int32_t want;
    std::string out;
  } cases[] = {
      {"end\\", -1, ""}, {"\\\\n", 2, "\\n"}, {"a\\tb", -1, ""}, {"\\n", 2, "\r\n"}, {"plain", 5, "plain"},
  };
  for (const auto& c : cases) {
    uint8_t out[16] = {};
    const int32_t n = UnescapeIniValue(reinterpret_cast<const uint8_t*>(c.in.data()), 0,
                                       static_cast<int32_t>(c.in.size()), out, sizeof out);
    EXPECT_EQ(n, c.want) << c.in;
    if (n >= 0) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(out), static_cast<size_t>(n)), c.out);
    }
  }
  // The capacity is never passed; the length is still reported.
  uint8_t small[3] = {0, 0, 0};
  EXPECT_EQ(UnescapeIniValue(reinterpret_cast<const uint8_t*>("abcdef"), 1, 5, small, 2), 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(small), 2), "bc");
  EXPECT_EQ(small[2], 0);
  EXPECT_EQ(Str(UnescapeIniBytes(std::string_view("xa\\nb"), -4, 100)), "xa\r\nb");
  EXPECT_TRUE(UnescapeIniBytes(std::string_view("a\\"), 0, 2).empty());
  EXPECT_EQ(UnescapeIniText(B("bad\\q")), u"");
}

TEST(IniWriter, SaveToFileCutsOldContentAndWritesTheMark) {
  static TMemoryStream* file = nullptr;
  const TWriteFileFunc saved = WriteFile;
  TRef<TMemoryStream> disk = MakeRef<TMemoryStream>();
  disk->WriteAnsiString(std::string(500, 'X'));
  file = disk.Get();
  WriteFile = [](const std::u16string&, bool recreate) -> TStream* {
    EXPECT_FALSE(recreate);
    file->_AddRef();
    file->SetPosition(0);
    return file;
  };
  TRef<TIniFile> ini = Parse("[s]\nk=v\n");
  EXPECT_TRUE(SaveIniToFile(ini.Get(), u"project.qel"));
  EXPECT_EQ(Content(disk.Get()), "\xEF\xBB\xBF[s]\r\nk=v\r\n");
  EXPECT_EQ(disk->RefCount(), 1);  // the saver released the stream

  WriteFile = [](const std::u16string&, bool) -> TStream* { return nullptr; };
  EXPECT_FALSE(SaveIniToFile(ini.Get(), u"nowhere"));
  WriteFile = saved;
}

TEST(IniWriter, ShortWritesAreNeverReportedAsSuccess) {
  // A small document reaches the stream only in the final flush: the error
  // reaches the caller.
  TRef<TIniFile> small = Parse("[s]\nk=v\n");
  TRef<TFullDisk> disk = MakeRef<TFullDisk>();
  disk->limit = 5;
  EXPECT_THROW(SaveIniToStream(small.Get(), disk.Get(), true), EStreamWriteError);

  // A large one overflows the buffer while it is written: false.
  std::string text = "[s]\n";
  for (int i = 0; i < 5000; ++i) text += "key" + std::to_string(i) + "=some value\n";
  TRef<TIniFile> large = Parse(text);
  TRef<TFullDisk> disk2 = MakeRef<TFullDisk>();
  disk2->limit = 40000;
  bool result = true;
  try {
    result = SaveIniToStream(large.Get(), disk2.Get(), true);
  } catch (const EStreamWriteError&) {
    result = false;  // the final flush fails as well
  }
  EXPECT_FALSE(result);
  TRef<TFullDisk> roomy = MakeRef<TFullDisk>();
  roomy->limit = 1 << 20;
  EXPECT_TRUE(SaveIniToStream(large.Get(), roomy.Get(), true));
}
