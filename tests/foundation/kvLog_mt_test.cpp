// The log: line format, the UTF-8 stream and file logs with byte-order mark
// and CR LF, the fallback to memory, the global log, and lines written from
// several threads at once.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "foundation/kpLog.h"
#include "foundation/kvFileUtils.h"
#include "platform/os/manual/Clock_manual.h"
#include "platform/os/paths.h"
#include "platform/os/process.h"
#include "platform/os/testing/FaultInjection.h"

using namespace foundation;
namespace fs = std::filesystem;

namespace {

class LinesLog : public TLog {
 public:
  std::vector<std::u16string> Lines;
  void Output(const std::u16string& line) override { Lines.push_back(line); }
};

uint32_t FixedId() { return 0x1A2B; }
uint32_t BigId() { return 0x12345; }

std::string Bytes(TMemoryStream* s) {
  return std::string(reinterpret_cast<const char*>(s->Data()), static_cast<size_t>(s->GetSize()));
}

std::string ReadFileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct TempDir {
  fs::path path;
  TempDir() {
    path = fs::temp_directory_path() / ("qel-log-" + std::to_string(getpid()) + "-" +
                                        std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  std::u16string Internal(const std::string& name) const {
    return platform::os::fromPosixPath((path / name).string());
  }
};

}  // namespace

TEST(TLog, LineFormatWithAndWithoutOptions) {
  platform::os::ScopedManualClock clock(5000);
  InitTickClock();
  InitKvLog();
  LogThreadIdFunction.store(&FixedId);
  auto log = MakeRef<LinesLog>();
  log->Add(u"plain");
  log->LinePrefix = u"P: ";
  log->Add(u"text");
  log->LinePrefix.clear();
  log->ThreadIdOption = true;
  log->TimeOption = true;
  clock->advance(1234);
  log->Add(u"both");
  log->TimeOption = false;
  LogThreadIdFunction.store(&BigId);
  log->Add(u"big");
  log->ThreadIdOption = false;
  log->TimeOption = true;
  log->Add(u"time");
  LogThreadIdFunction.store(nullptr);
  log->ThreadIdOption = true;
  log->TimeOption = false;
  log->Add(u"no id function");
  EXPECT_EQ(log->Lines, (std::vector<std::u16string>{u"plain", u"P: text", u"#1A2B [1234] both", u"#12345 big",
                                                     u"[1234] time", u"no id function"}));
}

TEST(TLog, ValueWriters) {
  auto log = MakeRef<LinesLog>();
  const int32_t none[1] = {0};
  const int32_t one[1] = {7};
  const int32_t three[3] = {-1, 0, 2147483647};
  log->AddIntArray(u"a=", std::span<const int32_t>(none, 0), u";");
  log->AddIntArray(u"a=", one, u";");
  log->AddIntArray(u"a=", three, u";");
  log->AddInt(u"n ", -5, u" ms");
  log->AddFloat(u"f ", 1.5, u"");
  log->AddFloat(u"f ", 2.0, u"");
  const double fs2[2] = {0.25, -3};
  log->AddFloatArray(u"[", fs2, u"]");
  log->AddBool(u"b ", true, u".");
  log->AddBool(u"b ", false, u".");
  log->AddPoint(u"pt ", TPoint{3, -4}, u"");
  log->AddRect(u"rc ", TRect{1, 2, 3, 4}, u"");
  EXPECT_EQ(log->Lines, (std::vector<std::u16string>{u"a=;", u"a=7;", u"a=-1, 0, 2147483647;", u"n -5 ms", u"f 1.5",
                                                     u"f 2", u"[0.25, -3]", u"b True.", u"b False.", u"pt 3, -4",
                                                     u"rc 1, 2, 3, 4"}));
}

TEST(TLog, ElapsedFromATimer) {
  platform::os::ScopedManualClock clock(100);
  InitTickClock();
  auto log = MakeRef<LinesLog>();
  uint32_t start = 0;
  EXPECT_EQ(log->StartTimer(start), start);
  clock->advance(42);
  log->AddElapsed(u"took ", start, u" ms");
  EXPECT_EQ(log->Lines, (std::vector<std::u16string>{u"took 42 ms"}));
}

TEST(TLog, StartBannerHasNoPrefixesAndRestoresTheOptions) {
  LogThreadIdFunction.store(&FixedId);
  auto log = MakeRef<LinesLog>();
  log->ThreadIdOption = true;
  log->TimeOption = true;
  log->WriteStartBanner();
  ASSERT_EQ(log->Lines.size(), 5u);
  EXPECT_EQ(log->Lines[0], u"");
  EXPECT_EQ(log->Lines[1], std::u16string(64, u'='));
  EXPECT_EQ(log->Lines[2], u"Program : " + ProgramFileName);
  EXPECT_EQ(log->Lines[3], u"started : " + FormatLogDateTime(ProgramStartTime()));
  EXPECT_EQ(log->Lines[4], std::u16string(64, u'='));
  EXPECT_TRUE(log->ThreadIdOption);
  EXPECT_TRUE(log->TimeOption);
  TSystemTime t;
  t.year = 2026;
  t.month = 12;
  t.day = 9;
  t.hour = 1;
  t.minute = 43;
  t.second = 27;
  t.milliseconds = 123;
  EXPECT_EQ(FormatLogDateTime(t), u"09.12.2026 01:43:27.123");
}

TEST(TStreamLog, Utf8LinesWithByteOrderMarkAndCrLf) {
  auto log = MakeRef<TStreamLog>();
  auto* stream = new TMemoryStream;
  log->SetStream(stream, true);
  log->Add(u"caf\u00E9");
  log->Add(u"\U0001F600");
  // A surrogate pair is written one 16-bit unit at a time.
  EXPECT_EQ(Bytes(stream), "\xEF\xBB\xBF" "caf\xC3\xA9\r\n" "\xED\xA0\xBD\xED\xB8\x80\r\n");
  log->SetStream(stream, false);  // the same stream: only the flag changes
  EXPECT_EQ(log->Stream(), stream);
  auto* other = new TMemoryStream;
  log->SetStream(other, true);  // the held, not-owned stream is not freed
  EXPECT_EQ(Bytes(stream).size(), 3u + 7 + 8);
  stream->Free();
}

TEST(TFileLog, WritesTheFileAndAppendsWithoutASecondMark) {
  TempDir dir;
  const std::u16string name = dir.Internal("show.log");
  {
    auto log = TRef<TFileLog>::Adopt(new TFileLog(name, false));
    log->Add(u"one");
  }
  EXPECT_EQ(ReadFileBytes(dir.path / "show.log"), "\xEF\xBB\xBFone\r\n");
  {
    auto log = TRef<TFileLog>::Adopt(new TFileLog(name, true));
    log->Add(u"two");
  }
  EXPECT_EQ(ReadFileBytes(dir.path / "show.log"), "\xEF\xBB\xBFone\r\ntwo\r\n");
  {
    auto log = TRef<TFileLog>::Adopt(new TFileLog(name, false));  // recreated
    log->Add(u"three");
  }
  EXPECT_EQ(ReadFileBytes(dir.path / "show.log"), "\xEF\xBB\xBFthree\r\n");
}

TEST(TFileLog, AShortWriteOfALineRaisesAndTheLogStaysUsable) {
  TempDir dir;
  auto log = TRef<TFileLog>::Adopt(new TFileLog(dir.Internal("full.log"), false));
  log->Add(u"first");
  platform::os::testing::injectShortWrite(2);
  EXPECT_THROW(log->Add(u"second line"), EStreamWriteError);
  log->Add(u"third");  // the lock was left on the way out
  EXPECT_EQ(ReadFileBytes(dir.path / "full.log"), "\xEF\xBB\xBF" "first\r\n" "se" "third\r\n");
}

TEST(TFileLog, UnreachableFileLogsIntoMemory) {
  TempDir dir;
  auto log = TRef<TFileLog>::Adopt(new TFileLog(dir.Internal("missing/show.log"), false));
  log->Add(u"kept");
  auto* memory = dynamic_cast<TMemoryStream*>(log->Stream());
  ASSERT_NE(memory, nullptr);
  EXPECT_EQ(Bytes(memory), "\xEF\xBB\xBFkept\r\n");
  EXPECT_FALSE(fs::exists(dir.path / "missing"));
}

TEST(TFileLog, ReadOnlyFileLogsIntoMemoryAndStaysUnchanged) {
  TempDir dir;
  std::ofstream(dir.path / "ro.log") << "old";
  fs::permissions(dir.path / "ro.log", fs::perms::owner_read);
  auto ro = TRef<TFileLog>::Adopt(new TFileLog(dir.Internal("ro.log"), true));
  EXPECT_NE(dynamic_cast<TMemoryStream*>(ro->Stream()), nullptr);
  EXPECT_EQ(ReadFileBytes(dir.path / "ro.log"), "old");
}

TEST(TFileLog, DefaultNameIsTheExecutableWithLogExtension) {
  InitFileUtils();
  EXPECT_EQ(GetDefaultLogFileName(), ChangeFileExt(ProgramFileName, u".log"));
  std::string posix;
  platform::os::toPosixPath(GetDefaultLogFileName(), posix);
  std::string exe = fs::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(posix, exe.substr(0, exe.rfind('.') == std::string::npos || exe.rfind('.') < exe.rfind('/')
                                     ? exe.size()
                                     : exe.rfind('.')) +
                       ".log");
  {
    auto log = TRef<TFileLog>::Adopt(new TFileLog(u"", false));
    log->Add(u"next to the program");
  }
  EXPECT_EQ(ReadFileBytes(posix), "\xEF\xBB\xBFnext to the program\r\n");
  fs::remove(posix);
}

TEST(GlobalLog, SetLogReplacesAndNilInstallsADiscardingLog) {
  InitKpLog();
  EXPECT_NE(dynamic_cast<TDumpLog*>(GetLog()), nullptr);
  auto* mine = new LinesLog;
  SetLog(mine);
  EXPECT_EQ(GetLog(), mine);
  SetLog(mine);  // the same log: nothing freed
  GetLog()->Add(u"still alive");
  EXPECT_EQ(mine->Lines.size(), 1u);
  SetLog(nullptr);
  EXPECT_NE(dynamic_cast<TDumpLog*>(GetLog()), nullptr);
  FinalizeKpLog();
}

TEST(GlobalLog, DebugOutputAndTheDebuggerLog) {
  std::vector<std::string> lines;
  platform::os::setDebugOutputSink([&](const std::string& s) { lines.push_back(s); });
  DebugOutput(u"alone", INT32_MIN);
  DebugOutput(u"n=", -7);
  DebugOutput(u"default");
  auto log = MakeRef<TStdLog>();
  log->Add(u"std \u00E9");
  platform::os::setDebugOutputSink(nullptr);
  EXPECT_EQ(lines, (std::vector<std::string>{"alone", "n=-7", "default", "std \xC3\xA9"}));
}

TEST(TStreamLog, LinesFromManyThreadsNeverInterleave) {
  LogThreadIdFunction.store([] { return platform::os::currentThreadId(); });
  auto log = MakeRef<TStreamLog>();
  auto* stream = new TMemoryStream;
  log->SetStream(stream, true);
  log->ThreadIdOption = true;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) log->Add(u"thread " + std::u16string(1, u'A' + t) + u" line with some text");
    });
  for (auto& th : threads) th.join();
  std::string all = Bytes(stream).substr(3);
  int lines = 0;
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = all.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    std::string line = all.substr(pos, end - pos);
    EXPECT_EQ(line[0], '#');
    EXPECT_NE(line.find(" line with some text"), std::string::npos) << line;
    EXPECT_EQ(line.size(), line.find(" line with some text") + 20) << line;
    ++lines;
    pos = end + 2;
  }
  EXPECT_EQ(lines, 800);
  LogThreadIdFunction.store(nullptr);
}
