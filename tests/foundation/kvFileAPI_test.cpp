// The file API: the long-path rule as text, and the class operations over
// the platform layer with long paths and 64-bit sizes.
#include "foundation/kvFileAPI.h"

#include <gtest/gtest.h>

#include "tests/support/TempTree.h"

using namespace foundation;
namespace os = platform::os;
using qeltest::TempTree;

namespace {

class FileApiTest : public ::testing::Test {
 protected:
  void SetUp() override { InitFileApiClass(); }
  void TearDown() override { DoneFileApiClass(); }
};

std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

}  // namespace

TEST(LongPathPrefix, AddedAbove247Characters) {
  std::u16string p247 = u"D:\\" + std::u16string(244, u'a');
  ASSERT_EQ(p247.size(), 247u);
  EXPECT_EQ(AddLongPathPrefix(p247), p247);
  std::u16string p248 = p247 + u"b";
  EXPECT_EQ(AddLongPathPrefix(p248), u"\\\\?\\" + p248);
  // A UNC path: "\\?\UNC" and the path from its second character.
  std::u16string unc = u"\\\\srv\\share\\" + std::u16string(288, u'x');
  ASSERT_EQ(unc.size(), 300u);
  EXPECT_EQ(AddLongPathPrefix(unc), u"\\\\?\\UNC\\srv\\share\\" + std::u16string(288, u'x'));
  // Already prefixed, and empty, pass unchanged.
  EXPECT_EQ(AddLongPathPrefix(u"\\\\?\\" + p248), u"\\\\?\\" + p248);
  EXPECT_EQ(AddLongPathPrefix(u""), u"");
}

TEST(LongPathPrefix, StripAndDetect) {
  struct Row {
    std::u16string in;
    int length;
    std::u16string out;
  } rows[] = {
      {u"\\\\?\\unc\\srv\\x", -2, u"\\\\srv\\x"},
      {u"\\\\?\\UNC\\srv\\share", -2, u"\\\\srv\\share"},
      {u"\\\\?\\D:\\x", -2, u"D:\\x"},
      {u"\\\\?\\", -2, u"\\\\?\\"},           // length 4: unchanged
      {u"\\\\?\\UNC\\", -2, u"UNC\\"},       // length 8: only the prefix goes
      {u"D:\\plain", -2, u"D:\\plain"},
      {u"D:\\plain", -1, u""},               // a negative length
      {u"\\\\?\\D:\\xyz", 7, u"D:\\"},        // only the given length counts
      {u"\\\\?\\U", 100, u"U"},                // a length beyond the text
  };
  for (const Row& r : rows) {
    int length = r.length == -2 ? static_cast<int>(r.in.size()) : r.length;
    EXPECT_EQ(StripLongPathPrefix(r.in, length), r.out) << narrow(r.in) << " " << length;
  }
  EXPECT_FALSE(HasLongPathPrefix(u"\\\\?\\", 4));
  EXPECT_TRUE(HasLongPathPrefix(u"\\\\?\\a", 5));
  EXPECT_FALSE(HasLongPathPrefix(u"\\\\.\\a", 5));
}

TEST_F(FileApiTest, LongPathsWorkEndToEnd) {
  TempTree t;
  // A folder chain that makes the full paths longer than 247 characters.
  std::u16string dir = t.internal();
  for (int i = 0; i < 5; ++i) {
    dir += u"\\" + std::u16string(60, static_cast<char16_t>(u'a' + i));
    ASSERT_TRUE(FileApi().CreateDirectory(dir, nullptr));
  }
  ASSERT_GT(dir.size(), 300u);
  std::u16string file = dir + u"\\f.bin";
  THandle h = FileApi().CreateFile(file, os::GENERIC_WRITE, 1, nullptr, os::CREATE_NEW, 128, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint32_t n = 0;
  ASSERT_TRUE(FileApi().WriteFile(h, "abc", 3, n));
  ASSERT_TRUE(FileApi().CloseHandle(h));
  EXPECT_EQ(FileApi().GetFileAttributes(file), os::FILE_ATTRIBUTE_ARCHIVE);
  // MoveFileEx takes the long paths as they are.
  std::u16string moved = dir + u"\\g.bin";
  ASSERT_TRUE(FileApi().MoveFileEx(file, moved, 0));
  EXPECT_EQ(FileApi().GetFileAttributes(file), os::INVALID_FILE_ATTRIBUTES);
  TWin32FindData fd;
  THandle f = FileApi().FindFirstFile(dir + u"\\*.bin", fd);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(fd.name, u"g.bin");
  EXPECT_EQ(fd.size, 3u);
  FileApi().FindClose(f);
  EXPECT_TRUE(FileApi().DeleteFile(moved));
  // The current directory comes back without prefix.
  std::u16string saved = FileApi().GetCurrentDirectory();
  ASSERT_TRUE(FileApi().SetCurrentDirectory(dir));
  EXPECT_EQ(FileApi().GetCurrentDirectory(), dir);
  ASSERT_TRUE(FileApi().SetCurrentDirectory(saved));
}

TEST_F(FileApiTest, SizeOfFourGiBMinusOneIsNoError) {
  TempTree t;
  THandle h = FileApi().CreateFile(t.internal("big"), os::GENERIC_READ | os::GENERIC_WRITE, 0, nullptr,
                                   os::CREATE_ALWAYS, 128, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const int64_t size = 0xFFFFFFFFLL;
  ASSERT_EQ(FileApi().SeekFile(h, size, os::FILE_BEGIN), size);
  ASSERT_TRUE(FileApi().SetEndOfFile(h));
  EXPECT_EQ(FileApi().GetFileSize(h), size);
  EXPECT_EQ(FileApi().SeekFile(h, 1, os::FILE_END), size + 1);
  FileApi().CloseHandle(h);
  EXPECT_EQ(FileApi().GetFileSize(h), -1);
}

TEST_F(FileApiTest, ProgramNameShortPathAndVersion) {
  std::u16string exe = FileApi().GetModuleFileName(0);
  EXPECT_EQ(exe.substr(0, 3), u"Z:\\");
  EXPECT_TRUE(FileApi().GetModuleFileName(77).empty());
  EXPECT_EQ(FileApi().GetFileVersionMS(exe), -1);
  std::string bytes;
  EXPECT_TRUE(FileApi().GetShortPathAnsi(u"Z:\\opt\\qel\\caf\u00e9", bytes));
  EXPECT_EQ(bytes, "/opt/qel/caf\xc3\xa9");
  EXPECT_FALSE(FileApi().GetShortPathAnsi(u"C:\\Shows\\x", bytes));
  EXPECT_EQ(bytes, "C:\\Shows\\x");
  // The short form fits 260 characters or is not obtained: then the path
  // itself in the ANSI code page, and false.
  const std::u16string fits = u"Z:\\" + std::u16string(259, u'a');                   // "/" + 259: 260
  const std::u16string tooLong = u"Z:\\" + std::u16string(259, u'a') + u"\u00e9";  // 261
  EXPECT_TRUE(FileApi().GetShortPathAnsi(fits, bytes));
  EXPECT_EQ(bytes.size(), 260u);
  EXPECT_FALSE(FileApi().GetShortPathAnsi(tooLong, bytes));
  EXPECT_EQ(bytes, "Z:\\" + std::string(259, 'a') + "\xe9");
  EXPECT_FALSE(FileApi().GetCommandLine().empty());
}

TEST_F(FileApiTest, StartUpGivesTheLookupUnicodeCaseFolding) {
  TempTree t;
  t.write("\xc3\x84rger.txt", "x");  // "Ärger.txt"
  EXPECT_NE(FileApi().GetFileAttributes(t.internal() + u"\\\u00e4RGER.TXT"), os::INVALID_FILE_ATTRIBUTES);
}

namespace {
// A replacement class that answers every attribute query with "missing".
class TNoFilesAPI : public TFileAPI {
 public:
  uint32_t GetFileAttributes(const std::u16string&) override {
    os::setLastError(os::ERROR_FILE_NOT_FOUND);
    return os::INVALID_FILE_ATTRIBUTES;
  }
};
}  // namespace

TEST_F(FileApiTest, TheClassReferenceCanBeReplaced) {
  std::u16string exe = FileApi().GetModuleFileName(0);
  EXPECT_NE(FileApi().GetFileAttributes(exe), os::INVALID_FILE_ATTRIBUTES);
  TFileAPI* replacement = new TNoFilesAPI();
  TFileAPI* saved = FileApiClass;
  FileApiClass = replacement;
  EXPECT_EQ(FileApi().GetFileAttributes(exe), os::INVALID_FILE_ATTRIBUTES);
  FileApiClass = saved;
  replacement->Free();
  EXPECT_NE(FileApi().GetFileAttributes(exe), os::INVALID_FILE_ATTRIBUTES);
}
