#include "container/kvQelUnpack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <vector>

#include "container/ContainerKey.h"
#include "container/kvZLib.h"
#include "foundation/kpLog.h"
#include "tests/container/ContainerTestUtil.h"
#include "tests/support/ContainerBuilder.h"

namespace {

using container::EscapeEntryName;
using container::EZDecompressionError;
using container::OpenEntryStream;
using container::TQelUnpack;
using foundation::TRef;
using namespace containertest;
using testsupport::BuiltContainer;
using testsupport::ContainerBuilder;
using testsupport::ContainerEntry;
using testsupport::TrailerForm;

class QelUnpackTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { foundation::InitFileStreams(); }

  TRef<TQelUnpack> Open(const std::string& posix) {
    return TRef<TQelUnpack>::Adopt(new TQelUnpack(Internal(posix)));
  }

  // Opens an entry the way the show's file source does: look it up, a new
  // file handle, the entry stream owning that handle.
  static TRef<TStream> OpenEntry(TQelUnpack* unpack, std::u16string_view name) {
    int64_t position = 0, size = 0;
    int32_t method = 0;
    if (!unpack->GetEntryInfo(name, position, size, method)) return nullptr;
    return TRef<TStream>::Adopt(
        OpenEntryStream(unpack->OpenFileHandle(), position, size, method, true, unpack->Key()));
  }

  static std::string ReadEntry(TQelUnpack* unpack, std::u16string_view name) {
    TRef<TStream> s = OpenEntry(unpack, name);
    if (!s) return "<not found>";
    return ReadAll(s.Get());
  }

  TempDir dir_;
};

// ---- the test writer itself: the layout byte by byte -----------------------

TEST_F(QelUnpackTest, BuilderWritesTheTrailerForms) {
  ContainerBuilder b;
  b.AddStored("x", "abc");
  for (TrailerForm form : {TrailerForm::Short, TrailerForm::Long}) {
    BuiltContainer c = b.SetTrailer(form).Build(std::string(100, '\xCC'));
    const std::string& f = c.bytes;
    const size_t end = form == TrailerForm::Short ? f.size() : f.size() - 8;
    EXPECT_EQ(f.substr(end - 4, 4), ".dne");
    int64_t dirStart = 0;
    std::memcpy(&dirStart, f.data() + end - 12, 8);  // little-endian host
    EXPECT_EQ(dirStart, 103);
    EXPECT_EQ(c.positions["x"], 100);
    EXPECT_EQ(f.substr(100, 3), "abc");
    EXPECT_EQ(testsupport::RawInflate(f.substr(static_cast<size_t>(dirStart), end - 12 - dirStart)),
              c.directoryText);
    if (form == TrailerForm::Long) {
      int64_t x = 0;
      std::memcpy(&x, f.data() + f.size() - 8, 8);
      EXPECT_EQ(x, static_cast<int64_t>(f.size()) - 8);
    }
  }
  EXPECT_EQ(b.Build().directoryText.substr(0, 3), "\xEF\xBB\xBF");
}

// ---- a container appended to a real executable ----------------------------

struct Form {
  const char* name;
  TrailerForm trailer;
};

void PrintTo(const Form& f, std::ostream* os) { *os << f.name; }

class ExecutableContainer : public QelUnpackTest, public ::testing::WithParamInterface<Form> {};

TEST_P(ExecutableContainer, OpensListsAndReadsEveryPackingMethod) {
  const std::string exe = dir_.File("player");
  std::filesystem::copy_file("/proc/self/exe", exe);
  const std::string photo = TestBytes(300000, 5);
  const std::string project = "\xEF\xBB\xBF[Main]\r\nQelVersion=10.00\r\n";
  ContainerBuilder b;
  b.AddDeflated("Project.qel", project)
      .AddStored("C:\\Shows\\img1.jpg", photo)
      .AddDeflated("C:\\Shows\\img2.jpg", photo)
      .AddEnciphered("C:\\Shows\\img3.jpg", photo)
      .Add([&] {
        ContainerEntry e;
        e.name = "C:\\Shows\\odd.bin";
        e.data = "method seven is read as stored";
        e.method = 7;
        return e;
      }())
      .Add([&] {
        ContainerEntry e;
        e.name = "C:\\Shows\\nopm.bin";
        e.data = "no packing method line";
        e.writeMethod = false;
        return e;
      }())
      .AddStored("empty-stored", "")
      .AddDeflated("empty-deflated", "")
      .AddEnciphered("empty-enciphered", "")
      .SetTrailer(GetParam().trailer);
  const BuiltContainer c = b.AppendToFile(exe);

  auto u = Open(exe);
  ASSERT_TRUE(u->IsOpen()) << foundation::MessageToUtf8(u->ErrorText());
  EXPECT_EQ(u->ErrorText(), u"");
  EXPECT_EQ(u->Version(), u"10.00");
  EXPECT_EQ(u->Delta(), 0);
  EXPECT_EQ(u->Shift(), 0);
  EXPECT_EQ(u->Key(), container::ContainerKey);

  const struct {
    const char* name;
    int32_t method;
    std::string content;
  } rows[] = {{"Project.qel", 1, project},
              {"C:\\Shows\\img1.jpg", 0, photo},
              {"C:\\Shows\\img2.jpg", 1, photo},
              {"C:\\Shows\\img3.jpg", 2, photo},
              {"C:\\Shows\\odd.bin", 7, "method seven is read as stored"},
              {"C:\\Shows\\nopm.bin", 0, "no packing method line"},
              {"empty-stored", 0, ""},
              {"empty-deflated", 1, ""},
              {"empty-enciphered", 2, ""}};
  // The directory lists every entry, and the protection section.
  std::set<std::u16string> listed;
  const foundation::TSectionList* sections = u->Struc()->Ini()->GetSectionList();
  ASSERT_NE(sections, nullptr);
  for (int32_t i = 0; i < sections->GetCount(); ++i)
    listed.insert(foundation::TIniItem::GetName(sections->GetSection(i)));
  std::set<std::u16string> expected{u"$protection$"};
  for (const auto& r : rows) expected.insert(EscapeEntryName(U16(r.name)));
  EXPECT_EQ(listed, expected);

  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    int64_t position = 0, size = 0;
    int32_t method = -1;
    ASSERT_TRUE(u->GetEntryInfo(U16(r.name), position, size, method));
    EXPECT_EQ(position, c.positions.at(r.name));
    EXPECT_EQ(size, c.storedSizes.at(r.name));
    EXPECT_EQ(method, r.method);

    TRef<TStream> s = OpenEntry(u.Get(), U16(r.name));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->GetSize(), static_cast<int64_t>(r.content.size()));
    EXPECT_EQ(ReadAll(s.Get(), 4093), r.content);
    if (r.content.size() > 1000) {
      // Odd pieces after seeks give the same bytes.
      s->SetPosition(777);
      EXPECT_EQ(ReadN(s.Get(), 311), r.content.substr(777, 311));
      s->SetPosition(5);
      EXPECT_EQ(ReadN(s.Get(), 3), r.content.substr(5, 3));
    }
  }
}

TEST_P(ExecutableContainer, EntryStreamsAreIndependentAndOutliveTheContainer) {
  const std::string file = dir_.File("show");
  const std::string a = TestBytes(100000, 1), bb = TestBytes(100000, 2);
  ContainerBuilder().AddStored("a", a).AddEnciphered("b", bb).AddDeflated("c", a).SetTrailer(GetParam().trailer).WriteFile(file);
  auto u = Open(file);
  ASSERT_TRUE(u->IsOpen());
  TRef<TStream> sa = OpenEntry(u.Get(), u"a");
  TRef<TStream> sb = OpenEntry(u.Get(), u"b");
  TRef<TStream> sc = OpenEntry(u.Get(), u"c");
  ASSERT_TRUE(sa && sb && sc);
  std::string ra, rb;
  for (int i = 0; i < 10; ++i) {  // interleaved reads
    ra += ReadN(sa.Get(), 10000);
    rb += ReadN(sb.Get(), 10000);
    if (i == 4) u->Close();  // entry streams hold their own handles or data
  }
  EXPECT_EQ(ra, a);
  EXPECT_EQ(rb, bb);
  EXPECT_EQ(ReadAll(sc.Get()), a);
  EXPECT_FALSE(u->IsOpen());
  int64_t p, s;
  int32_t m;
  EXPECT_FALSE(u->GetEntryInfo(u"a", p, s, m));
  EXPECT_EQ(u->OpenFileHandle(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Trailers, ExecutableContainer,
                         ::testing::Values(Form{"short", TrailerForm::Short}, Form{"long", TrailerForm::Long}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- moved containers and the protection section -------------------------

TEST_F(QelUnpackTest, MovedAndProtectionVariants) {
  const std::string payload = TestBytes(5000, 3);
  const struct {
    const char* name;
    std::function<void(ContainerBuilder&)> setup;
    int64_t moveBy;  // bytes put in front of the finished file
    bool opens;
    const char16_t* error;
    int64_t delta;
  } rows[] = {
      {"long form in place", [](ContainerBuilder& b) { b.SetTrailer(TrailerForm::Long); }, 0, true, u"", 0},
      {"moved, allowmodify", [](ContainerBuilder& b) { b.SetTrailer(TrailerForm::Long).SetAllowModify("1"); },
       1000, true, u"", 1000},
      {"moved, no allowmodify", [](ContainerBuilder& b) { b.SetTrailer(TrailerForm::Long); }, 1000, false,
       u"Slide-show File Modified", 0},
      {"moved, allowmodify not 1", [](ContainerBuilder& b) { b.SetTrailer(TrailerForm::Long).SetAllowModify("true"); },
       1000, false, u"Slide-show File Modified", 0},
      {"moved, no strucpos", [](ContainerBuilder& b) { b.SetTrailer(TrailerForm::Long).OmitStrucPos(); }, 1000,
       true, u"", 0},
      {"no protection section", [](ContainerBuilder& b) { b.OmitProtection(); }, 0, true, u"", 0},
      {"strucpos 12x", [](ContainerBuilder& b) { b.SetStrucPosText("12x").SetAllowModify("1"); }, 0, false,
       u"Slide-show File Damaged", 0},
      {"strucpos beyond", [](ContainerBuilder& b) { b.SetStrucPosText("999999").SetAllowModify("1"); }, 0, false,
       u"Slide-show File Damaged", 0},
      {"strucpos negative", [](ContainerBuilder& b) { b.SetStrucPosText("-5").SetAllowModify("1"); }, 0, false,
       u"Slide-show File Damaged", 0},
      {"strucpos differs, no allowmodify", [](ContainerBuilder& b) { b.SetStrucPosText("50"); }, 0, false,
       u"Slide-show File Modified", 0},
      {"strucpos smaller, allowmodify", [](ContainerBuilder& b) { b.SetStrucPosText("50").SetAllowModify("1"); },
       0, true, u"", -1 /* DirStart - 50 */},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    ContainerBuilder b;
    b.AddStored("entry", payload).SetVersion("10.00");
    r.setup(b);
    BuiltContainer c = b.Build();
    const std::string file = dir_.File("moved");
    testsupport::WriteWholeFile(file, std::string(static_cast<size_t>(r.moveBy), 'M') + c.bytes);
    auto u = Open(file);
    EXPECT_EQ(u->IsOpen(), r.opens);
    EXPECT_EQ(u->ErrorText(), r.error);
    if (!r.opens) continue;
    const int64_t delta = r.delta == -1 ? c.dirStart - 50 : r.delta;
    EXPECT_EQ(u->Delta(), delta);
    int64_t position, size;
    int32_t method;
    if (r.moveBy == 0 && delta > 0) {
      // The entry moves by a Delta that no bytes moved by: its window now
      // leaves the file, so it is not found.
      EXPECT_FALSE(u->GetEntryInfo(u"entry", position, size, method));
      continue;
    }
    if (r.moveBy > 0 && delta == 0) {
      // Without strucpos nothing is checked or corrected: the entry is
      // looked for where it was written.
      ASSERT_TRUE(u->GetEntryInfo(u"entry", position, size, method));
      EXPECT_EQ(position, c.positions["entry"]);
      continue;
    }
    ASSERT_TRUE(u->GetEntryInfo(u"entry", position, size, method));
    EXPECT_EQ(position, c.positions["entry"] + r.moveBy);
    EXPECT_EQ(ReadEntry(u.Get(), u"entry"), payload);
  }
}

// ---- files that are no container, or a damaged one -----------------------

TEST_F(QelUnpackTest, RefusedFiles) {
  ContainerBuilder b;
  b.AddStored("entry", "data");
  const BuiltContainer good = b.Build();
  auto withDirStart = [&](int64_t v) {
    std::string f = good.bytes;
    std::memcpy(f.data() + good.trailerStart, &v, 8);
    return f;
  };
  const struct {
    const char* name;
    std::string bytes;
    const char16_t* error;
  } rows[] = {
      {"empty file", "", u""},
      {"just the mark", ".dne", u""},
      {"12 bytes, DirStart garbage", "12345678.dne", u"Slide-show File Damaged"},
      {"no trailer", b.SetTrailer(TrailerForm::None).Build().bytes, u""},
      {"negative DirStart", withDirStart(-1), u"Slide-show File Damaged"},
      {"DirStart past End-12", withDirStart(static_cast<int64_t>(good.bytes.size()) - 11),
       u"Slide-show File Damaged"},
      {"DirStart huge", withDirStart(INT64_MAX), u"Slide-show File Damaged"},
      {"long form, X overflows", std::string(30, 'x') + std::string(8, '\0') + ".dne" +
                                     std::string("\x00\x00\x00\x00\x00\x00\x00\x80", 8),
       u"Slide-show File Damaged"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string file = dir_.File("refused");
    testsupport::WriteWholeFile(file, r.bytes);
    auto u = Open(file);
    EXPECT_FALSE(u->IsOpen());
    EXPECT_EQ(u->ErrorText(), r.error);
    int64_t p, s;
    int32_t m;
    EXPECT_FALSE(u->GetEntryInfo(u"entry", p, s, m));
  }

  auto missing = Open(dir_.File("no such file"));
  EXPECT_FALSE(missing->IsOpen());
  EXPECT_EQ(missing->ErrorText(), u"Slideshow File not Found");

  auto folder = Open(dir_.File(""));  // a folder opens as a file on this system, but reads nothing
  EXPECT_FALSE(folder->IsOpen());
}

TEST_F(QelUnpackTest, CorruptDirectoryRaisesFromTheConstructor) {
  ContainerBuilder b;
  b.AddStored("entry", "data");
  const BuiltContainer c = b.Build();
  std::string f = c.bytes;
  std::memset(f.data() + c.dirStart, 0xFF, static_cast<size_t>(c.dirSize));
  const std::string file = dir_.File("corrupt");
  testsupport::WriteWholeFile(file, f);
  try {
    Open(file);
    FAIL() << "a corrupt directory must raise";
  } catch (const EZDecompressionError& e) {
    EXPECT_STREQ(e.what(), "data error");
  }
  std::u16string version = u"unchanged";
  EXPECT_FALSE(container::ReadContainerVersion(Internal(file), version));
  EXPECT_EQ(version, u"unchanged");
}

namespace {
// Keeps the lines of the global log while installed.
class TCaptureLog : public foundation::TLog {
 public:
  std::vector<std::u16string>* Lines = nullptr;
  void Add(const std::u16string& text) override { Lines->push_back(text); }
};
struct CaptureLogScope {
  std::vector<std::u16string> lines;
  CaptureLogScope() {
    auto* log = new TCaptureLog();
    log->Lines = &lines;
    foundation::SetLog(log);
  }
  ~CaptureLogScope() { foundation::SetLog(nullptr); }
};
}  // namespace

TEST_F(QelUnpackTest, CutShortDirectoryOpensWithTheSectionsInflatedSoFar) {
  CaptureLogScope log;
  ContainerBuilder b;
  for (int i = 0; i < 400; ++i) b.AddStored("C:\\Shows\\" + TestBytes(12, static_cast<uint32_t>(i)) + ".jpg", "x");
  b.AddStored("last", "y");
  const BuiltContainer c = b.Build();
  // Half of the directory block, the trailer straight after it.
  const int64_t half = c.dirSize / 2;
  std::string f = c.bytes.substr(0, static_cast<size_t>(c.dirStart + half)) +
                  c.bytes.substr(static_cast<size_t>(c.trailerStart));
  const std::string file = dir_.File("cut");
  testsupport::WriteWholeFile(file, f);
  auto u = Open(file);
  ASSERT_TRUE(u->IsOpen());
  EXPECT_EQ(ReadEntry(u.Get(), U16("C:\\Shows\\" + TestBytes(12, 0) + ".jpg")), "x");
  EXPECT_EQ(ReadEntry(u.Get(), u"last"), "<not found>");
  EXPECT_EQ(u->Version(), u"");  // the protection section was cut off
  // Accepted, but noted in the log; the whole container is not.
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].rfind(u"Container: deflate data at " + U16(std::to_string(c.dirStart)) + u" cut short", 0),
            0u);
  testsupport::WriteWholeFile(file, c.bytes);
  EXPECT_TRUE(Open(file)->IsOpen());
  EXPECT_EQ(log.lines.size(), 1u);
}

// ---- names and lookups ----------------------------------------------------

TEST(EscapeEntryName, Table) {
  const struct {
    std::u16string in, out;
  } rows[] = {{u"a[1]", u"a<1>"},
              {u"a\nb", u"a#0Ab"},
              {std::u16string(u"\x01\x1F ", 3), u"#01#1F "},
              {u"ColorSpaceExe_sRGB].KVGFX", u"ColorSpaceExe_sRGB>.KVGFX"},
              {u"C:\\Bilder\\\u00C4rger \u6F22.jpg", u"C:\\Bilder\\\u00C4rger \u6F22.jpg"},
              {u"", u""}};
  for (const auto& r : rows) EXPECT_EQ(EscapeEntryName(r.in), r.out);
}

TEST_F(QelUnpackTest, LookupsEscapeAndIgnoreCase) {
  ContainerBuilder b;
  b.AddStored("a[1]", "bracketed")
      .AddStored("a\nb", "line feed")
      .AddStored("Project.qel", "project")
      .AddStored("C:\\Bilder\\\xC3\x84rger.jpg", "umlaut")
      .AddStored("ColorSpaceExe_sRGB].KVGFX", "colour");
  const std::string file = dir_.File("names");
  b.WriteFile(file);
  auto u = Open(file);
  ASSERT_TRUE(u->IsOpen());
  const struct {
    std::u16string name;
    const char* content;
  } rows[] = {{u"a[1]", "bracketed"},
              {u"A[1]", "bracketed"},
              {u"a\nb", "line feed"},
              {u"project.qel", "project"},
              {u"PROJECT.QEL", "project"},
              {u"c:\\bilder\\\u00E4rger.JPG", "umlaut"},
              {u"ColorSpaceExe_sRGB].KVGFX", "colour"},
              {u"a<1>x", "<not found>"},
              {u"a\rb", "<not found>"},
              {u"missing", "<not found>"}};
  for (const auto& r : rows) EXPECT_EQ(ReadEntry(u.Get(), r.name), r.content) << foundation::MessageToUtf8(r.name);
}

// ---- damaged entries ------------------------------------------------------

TEST_F(QelUnpackTest, DamagedEntriesAreNotFound) {
  auto entry = [](const char* name, std::optional<std::string> ps, std::optional<std::string> sz, bool omitPs,
                  bool omitSz) {
    ContainerEntry e;
    e.name = name;
    e.data = "0123456789";
    e.psText = std::move(ps);
    e.szText = std::move(sz);
    e.omitPs = omitPs;
    e.omitSz = omitSz;
    return e;
  };
  ContainerBuilder b;
  b.Add(entry("no size", std::nullopt, std::nullopt, false, true))
      .Add(entry("no position", std::nullopt, std::nullopt, true, false))
      .Add(entry("size past the file", std::nullopt, "99999999", false, false))
      .Add(entry("position past the file", "99999999", std::nullopt, false, false))
      .Add(entry("negative size", std::nullopt, "-5", false, false))
      .Add(entry("negative position", "-5", std::nullopt, false, false))
      .Add(entry("overflowing", "9223372036854775807", "9223372036854775807", false, false))
      .Add(entry("position not a number", "12abc", std::nullopt, false, false))
      .Add(entry("whole", std::nullopt, std::nullopt, false, false));
  const std::string file = dir_.File("damaged");
  b.WriteFile(file);
  auto u = Open(file);
  ASSERT_TRUE(u->IsOpen());
  for (const char* name : {"no size", "no position", "size past the file", "position past the file", "negative size",
                           "negative position", "overflowing", "position not a number"}) {
    int64_t p, s;
    int32_t m;
    EXPECT_FALSE(u->GetEntryInfo(U16(name), p, s, m)) << name;
  }
  EXPECT_EQ(ReadEntry(u.Get(), u"whole"), "0123456789");
}

TEST_F(QelUnpackTest, CorruptDeflatedEntryRaisesAndLeaksNothing) {
  ContainerEntry e;
  e.name = "broken";
  e.data = TestBytes(1000);
  e.method = 0;  // stored bytes, but declared deflated below
  ContainerBuilder b;
  // The prefix bytes 0xFF read as a final block of the reserved type.
  b.Add(e).AddDirectoryLines("[broken2]\r\n_ps=0\r\n_sz=100\r\n_pm=1\r\n");
  const std::string file = dir_.File("entry");
  b.WriteFile(file, std::string(100, '\xFF'));
  auto u = Open(file);
  ASSERT_TRUE(u->IsOpen());
  // The first attempt gives the directory's lines of the entry their nodes
  // (made when first looked up, then kept by the directory); a second
  // attempt must leave nothing behind.
  EXPECT_THROW(OpenEntry(u.Get(), u"broken2"), EZDecompressionError);
  const int before = foundation::LiveObjectCount();
  EXPECT_THROW(OpenEntry(u.Get(), u"broken2"), EZDecompressionError);
  EXPECT_EQ(foundation::LiveObjectCount(), before);
  // The container stays usable.
  EXPECT_EQ(ReadEntry(u.Get(), u"broken"), e.data);
}

TEST_F(QelUnpackTest, OpenEntryStreamWithoutBaseGivesNone) {
  EXPECT_EQ(OpenEntryStream(nullptr, 0, 0, 0, true, container::ContainerKey), nullptr);
}

TEST_F(QelUnpackTest, ReadContainerVersion) {
  const std::string file = dir_.File("versioned");
  ContainerBuilder().AddStored("x", "y").SetVersion("12.34").WriteFile(file);
  std::u16string version;
  EXPECT_TRUE(container::ReadContainerVersion(Internal(file), version));
  EXPECT_EQ(version, u"12.34");
  EXPECT_FALSE(container::ReadContainerVersion(Internal("/proc/self/exe"), version));
  EXPECT_FALSE(container::ReadContainerVersion(Internal(dir_.File("missing")), version));
}

TEST_F(QelUnpackTest, OffsetsAboveFourGiB) {
  // A sparse file: the entries and the directory lie beyond 5 GiB.
  const std::string file = dir_.File("large");
  { std::ofstream(file, std::ios::binary).put('P'); }
  std::error_code ec;
  std::filesystem::resize_file(file, (int64_t{5} << 30), ec);
  if (ec) GTEST_SKIP() << "no sparse files here: " << ec.message();
  const std::string payload = TestBytes(70000, 11);
  const BuiltContainer c = ContainerBuilder()
                               .AddStored("s", payload)
                               .AddDeflated("d", payload)
                               .AddEnciphered("e", payload)
                               .SetTrailer(TrailerForm::Long)
                               .AppendToFile(file);
  ASSERT_GT(c.positions.at("s"), int64_t{1} << 32);
  auto u = Open(file);
  ASSERT_TRUE(u->IsOpen());
  for (const char16_t* name : {u"s", u"d", u"e"}) EXPECT_EQ(ReadEntry(u.Get(), name), payload);
}

}  // namespace
