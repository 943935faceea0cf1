#include "foundation/kvFileStream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvIniWriter.h"
#include "platform/os/files.h"
#include "platform/os/resources.h"
#include "platform/os/testing/FaultInjection.h"
#include "tests/support/TempTree.h"

using namespace foundation;
namespace os = platform::os;

namespace {

class FileStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitFileApiClass();
    InitFileUtils();
    savedRead_ = ReadFile;
    savedWrite_ = WriteFile;
    InitFileStreams();
  }
  void TearDown() override {
    ReadFile = savedRead_;
    WriteFile = savedWrite_;
    os::testing::clearInjectedFaults();
    os::clearResources();
  }
  std::string ReadAll(TStream* s) {
    std::string out(static_cast<size_t>(s->GetSize()), '\0');
    s->SetPosition(0);
    if (!out.empty()) {
      EXPECT_EQ(s->ReadBuf(out.data(), static_cast<int32_t>(out.size())), static_cast<int32_t>(out.size()));
    }
    return out;
  }
  qeltest::TempTree tree_;
  TReadFileFunc savedRead_ = nullptr;
  TWriteFileFunc savedWrite_ = nullptr;
};

// A source of unknown size that hands out its bytes in small reads.
class TUnknownSize : public TMemoryStream {
 public:
  int64_t GetSize() override { return -1; }
};

}  // namespace

TEST_F(FileStreamTest, ReadsWritesSeeksAndClears) {
  TRef<TFileStream> f = TRef<TFileStream>::Adopt(TFileStream::CreateFromFile(
      tree_.internal("a.bin"), os::GENERIC_READ | os::GENERIC_WRITE, 1, os::CREATE_ALWAYS));
  EXPECT_EQ(f->FileName(), tree_.internal("a.bin"));
  EXPECT_EQ(f->Share(), 1);
  f->WriteDWord(0x04030201);
  f->WriteAnsiString("tail");
  EXPECT_EQ(f->GetSize(), 8);
  EXPECT_EQ(f->GetPosition(), 8);
  f->SetPosition(0);
  EXPECT_EQ(f->ReadDWordBE(), 0x01020304u);
  EXPECT_EQ(f->GetRemaining(), 4);
  f->SetSize(2);
  EXPECT_EQ(f->GetSize(), 2);
  f->SetPosition(1);
  f->Clear();
  EXPECT_EQ(f->GetSize(), 0);
  EXPECT_EQ(f->GetPosition(), 0);
  EXPECT_EQ(tree_.read("a.bin"), "");
}

TEST_F(FileStreamTest, PositionsCostNoSystemCall) {
  tree_.write("p.bin", "0123456789");
  TRef<TFileStream> f = TRef<TFileStream>::Adopt(TFileStream::CreateFromFile(
      tree_.internal("p.bin"), os::GENERIC_READ | os::GENERIC_WRITE, 1, os::OPEN_EXISTING));
  const os::FileCallCounts before = os::fileCallCounts();
  for (int i = 0; i < 100; ++i) {
    f->SetPosition(i % 10);
    EXPECT_EQ(f->GetPosition(), i % 10);
  }
  EXPECT_EQ(os::fileCallCounts().total(), before.total());
  // Reads and writes land at the stream's position and move it.
  f->SetPosition(7);
  char three[3] = {};
  EXPECT_EQ(f->ReadBuf(three, 3), 3);
  EXPECT_EQ(std::string(three, 3), "789");
  EXPECT_EQ(f->GetPosition(), 10);
  EXPECT_EQ(f->ReadBuf(three, 3), 0);
  f->SetPosition(2);
  f->WriteBuf("ab", 2);
  EXPECT_EQ(f->GetPosition(), 4);
  // A position past the end is allowed; a write there fills the gap with zeros.
  f->SetPosition(12);
  f->WriteBuf("z", 1);
  EXPECT_EQ(f->GetSize(), 13);
  EXPECT_EQ(tree_.read("p.bin"), std::string("01ab456789\0\0z", 13));
  EXPECT_THROW(f->SetPosition(-1), EStreamSeekError);
  EXPECT_EQ(f->GetPosition(), 13);
  // Two streams over one file keep their own positions.
  TRef<TFileStream> g = TRef<TFileStream>::Adopt(
      TFileStream::CreateFromFile(tree_.internal("p.bin"), os::GENERIC_READ, 1, os::OPEN_EXISTING));
  g->SetPosition(1);
  f->SetPosition(3);
  char one = 0;
  EXPECT_EQ(g->ReadBuf(&one, 1), 1);
  EXPECT_EQ(one, '1');
  EXPECT_EQ(f->ReadBuf(&one, 1), 1);
  EXPECT_EQ(one, 'b');
}

TEST_F(FileStreamTest, FailuresBecomeStreamErrors) {
  TRef<TFileStream> closed = MakeRef<TFileStream>();
  EXPECT_EQ(closed->Handle(), INVALID_HANDLE_VALUE);
  EXPECT_THROW(closed->SetPosition(3), EStreamSeekError);
  uint8_t b[4];
  EXPECT_THROW(closed->ReadBuf(b, 4), EStreamReadError);
  EXPECT_THROW(closed->WriteBuf(b, 4), EStreamWriteError);
  EXPECT_THROW(closed->GetSize(), EStreamError);
  EXPECT_NO_THROW(closed->Clear());
  TRef<TMemoryStream> src = MakeRef<TMemoryStream>();
  src->WriteAnsiString("abc");
  src->SetPosition(0);
  EXPECT_EQ(closed->CopyFrom(src.Get(), 3), 0);

  // Opening a missing file: the routine answers none, the constructor raises.
  EXPECT_EQ(OpenFileStreamRead(tree_.internal("missing.txt")), nullptr);
  EXPECT_THROW(TFileStream::CreateFromFile(tree_.internal("missing.txt"), os::GENERIC_READ, 1, os::OPEN_EXISTING),
               EFileOpenError);
  EXPECT_EQ(OpenFileStreamWrite(tree_.internal("no/such/folder/x"), true), nullptr);
}

TEST_F(FileStreamTest, CopyFromCopiesLargeAndUnknownSizedSourcesAndChecksWrites) {
  std::string payload(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 31 + 7);
  for (bool unknown : {false, true}) {
    TRef<TMemoryStream> src = unknown ? TRef<TMemoryStream>(MakeRef<TUnknownSize>()) : MakeRef<TMemoryStream>();
    src->WriteAnsiString(payload);
    src->SetPosition(0);
    TRef<TStream> out = TRef<TStream>::Adopt(OpenFileStreamWrite(tree_.internal("copy.bin"), true));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->CopyFrom(src.Get(), INT64_MAX), static_cast<int64_t>(payload.size()));
    out.Reset();
    EXPECT_EQ(tree_.read("copy.bin"), payload);
  }
  // A short write (a full disk) raises instead of reporting the bytes read.
  TRef<TMemoryStream> src = MakeRef<TMemoryStream>();
  src->WriteAnsiString(payload.substr(0, 100000));
  src->SetPosition(0);
  TRef<TStream> out = TRef<TStream>::Adopt(OpenFileStreamWrite(tree_.internal("full.bin"), true));
  os::testing::injectShortWrite(1000);
  EXPECT_THROW(out->CopyFrom(src.Get(), INT64_MAX), EStreamWriteError);
}

TEST_F(FileStreamTest, SaveStreamToFileReportsShortWrites) {
  TRef<TMemoryStream> src = MakeRef<TMemoryStream>();
  src->WriteAnsiString(std::string(70000, 'z'));
  src->SetPosition(123);
  EXPECT_TRUE(SaveStreamToFile(tree_.internal("s.bin"), src.Get()));
  EXPECT_EQ(tree_.read("s.bin"), std::string(70000, 'z'));
  EXPECT_EQ(src->GetPosition(), 123);

  os::testing::injectShortWrite(10);
  EXPECT_FALSE(SaveStreamToFile(tree_.internal("s2.bin"), src.Get()));
  EXPECT_FALSE(SaveStreamToFile(tree_.internal("s3.bin"), nullptr));
}

TEST_F(FileStreamTest, ResourceNamesReadTheResourceTable) {
  static const uint8_t icons[] = {0x89, 'P', 'N', 'G'};
  static const uint8_t about[] = {'A', 'b', 'o', 'u', 't'};
  os::registerResource(os::RT_RCDATA, u"ICONS", icons);
  os::registerResource(os::RT_RCDATA, u"ABOUT", about);
  os::registerResource(os::RT_RCDATA, u"EMPTY", std::span<const uint8_t>());
  os::registerResource(os::RT_ICON, u"OTHERTYPE", about);
  struct Row {
    const char16_t* name;
    const char* want;  // nullptr: no stream
  } rows[] = {
      {u"RES:ICONS.png", "\x89PNG"}, {u"RES:ABOUT", "About"},   {u"res:about", "About"},
      {u"Res:About.x.y", "About"},   {u"RES:EMPTY", nullptr},   {u"RES:OTHERTYPE", nullptr},
      {u"RES:MISSING", nullptr},     {u"RES:", nullptr},
  };
  for (const auto& r : rows) {
    TRef<TStream> s = TRef<TStream>::Adopt(ReadFile(r.name));
    if (!r.want) {
      EXPECT_FALSE(s) << std::string(r.name, r.name + std::char_traits<char16_t>::length(r.name));
      continue;
    }
    ASSERT_TRUE(s);
    EXPECT_NE(dynamic_cast<TResourceStream*>(s.Get()), nullptr);
    EXPECT_EQ(s->GetPosition(), 0);
    EXPECT_EQ(ReadAll(s.Get()), r.want);
  }
  // Other names open files.
  tree_.write("plain.txt", "data");
  TRef<TStream> file = TRef<TStream>::Adopt(ReadFile(tree_.internal("plain.txt")));
  ASSERT_TRUE(file);
  EXPECT_EQ(ReadAll(file.Get()), "data");
}

TEST_F(FileStreamTest, IniFilesThroughTheHooks) {
  tree_.write("show.ini", "\xEF\xBB\xBF[main]\r\nopt_loop=1\r\n" + std::string(300, ';') + "\r\n");
  TRef<TIniFile> ini = MakeRef<TIniFile>();
  ASSERT_TRUE(LoadIniFromFile(ini.Get(), tree_.internal("show.ini")));
  EXPECT_TRUE(IniReadBool(ini.Get(), u"main", u"opt_loop", false));
  // Saving over the longer file leaves none of its old bytes behind.
  TIniFile::FindSection(ini.Get(), u"main")->Clear();
  IniWriteString(ini.Get(), u"main", u"k", u"v");
  ASSERT_TRUE(SaveIniToFile(ini.Get(), tree_.internal("show.ini")));
  EXPECT_EQ(tree_.read("show.ini"), "\xEF\xBB\xBF[main]\r\nk=v\r\n");

  // A full disk: the save reports the failure.
  os::testing::injectShortWrite(4);
  EXPECT_THROW(SaveIniToFile(ini.Get(), tree_.internal("full.ini")), EStreamWriteError);

  TRef<TIniFile> missing = MakeRef<TIniFile>();
  EXPECT_FALSE(LoadIniFromFile(missing.Get(), tree_.internal("nothere.ini")));
  EXPECT_EQ(missing->GetCount(), 0);
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(ReadFileBytes(tree_.internal("nothere.ini"), bytes));
  EXPECT_TRUE(ReadFileBytes(tree_.internal("show.ini"), bytes));
  EXPECT_EQ(bytes.size(), 16u);
}
