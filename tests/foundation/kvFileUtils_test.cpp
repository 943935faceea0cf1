// File and path utilities: path text rules, handle operations and their
// exceptions, folder creation and deletion, environment variables.
#include "foundation/kvFileUtils.h"

#include <stdlib.h>

#include <vector>

#include <gtest/gtest.h>

#include "platform/os/testing/FaultInjection.h"
#include "tests/support/TempTree.h"

using namespace foundation;
namespace os = platform::os;
using qeltest::TempTree;
using qeltest::narrow;

namespace {

class FileUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitFileApiClass();
    InitFileUtils();
  }
  void TearDown() override { DoneFileApiClass(); }
};

std::span<const uint8_t> bytes(const char* s) { return {reinterpret_cast<const uint8_t*>(s), strlen(s)}; }

}  // namespace

TEST(PathText, FolderNameAndExtension) {
  struct Row {
    std::u16string path;
    std::u16string folder, folderKeep, name, ext;
  } rows[] = {
      {u"D:\\a\\b\\", u"D:\\a", u"D:\\a\\", u"b", u""},
      {u"file.txt", u"", u"", u"file.txt", u".txt"},
      {u"D:\\a.b\\file", u"D:\\a.b", u"D:\\a.b\\", u"file", u""},
      {u"name.", u"", u"", u"name.", u""},
      {u".profile", u"", u"", u".profile", u".profile"},
      {u"D:\\x\\arc.tar.gz", u"D:\\x", u"D:\\x\\", u"arc.tar.gz", u".gz"},
      {u"\\", u"", u"", u"", u""},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ExtractFilePath(r.path, false), r.folder) << narrow(r.path);
    EXPECT_EQ(ExtractFilePath(r.path, true), r.folderKeep) << narrow(r.path);
    EXPECT_EQ(ExtractFileName(r.path), r.name) << narrow(r.path);
    EXPECT_EQ(ExtractFileExt(r.path), r.ext) << narrow(r.path);
  }
  EXPECT_EQ(FindExtensionPos(u"a.txt"), 2);
  EXPECT_EQ(FindExtensionPos(u"D:\\a.b\\c"), 9);
  EXPECT_EQ(ChangeFileExt(u"a.txt", u"bak"), u"a.bak");
  EXPECT_EQ(ChangeFileExt(u"a.txt", u".bak"), u"a.bak");
  EXPECT_EQ(ChangeFileExt(u"a.txt", u""), u"a");
  EXPECT_EQ(ChangeFileExt(u"D:\\a.b\\c", u"x"), u"D:\\a.b\\c.x");
  EXPECT_EQ(IncludeTrailingBackslash(u""), u"\\");
  EXPECT_EQ(IncludeTrailingBackslash(u"D:\\a\\"), u"D:\\a\\");
  EXPECT_EQ(ExcludeTrailingBackslash(u"\\"), u"");
  EXPECT_EQ(ExcludeTrailingBackslash(u"D:\\a"), u"D:\\a");
}

TEST(PathText, DrivesJoinsAndRelativePaths) {
  struct Drive {
    std::u16string path;
    int length;
  } drives[] = {{u"\\\\srv\\share\\x", 11}, {u"\\\\srv\\\\x", 0}, {u"1:\\x", 0}, {u"d:\\x", 2},
                {u"\\\\srv\\share", 11},    {u"\\\\srv", 0},      {u"\\\\\\x\\y", 0}, {u"", 0}};
  for (const Drive& d : drives) EXPECT_EQ(GetDrivePrefixLength(d.path), d.length) << narrow(d.path);
  EXPECT_EQ(ExtractFileDrive(u"\\\\srv\\share\\x"), u"\\\\srv\\share");

  EXPECT_EQ(JoinPath(u"D:\\a\\", u"\\b"), u"D:\\a\\b");
  EXPECT_EQ(JoinPath(u"D:\\a", u"b"), u"D:\\a\\b");
  EXPECT_EQ(JoinPath(u"D:\\a\\", u"b"), u"D:\\a\\b");
  EXPECT_EQ(JoinPath(u"D:\\a", u""), u"D:\\a");
  EXPECT_EQ(JoinPath(u"", u"b"), u"b");

  EXPECT_EQ(ExtractRelativePath(u"D:\\a\\b", u"D:\\a\\c\\f.txt"), u"..\\c\\f.txt");
  EXPECT_EQ(ExtractRelativePath(u"D:\\a\\b", u"E:\\x"), u"E:\\x");
  EXPECT_EQ(ExtractRelativePath(u"d:\\A\\", u"D:\\a\\Sub\\f"), u"Sub\\f");
  EXPECT_EQ(ExtractRelativePath(u"a\\b", u"a\\c"), u"a\\c");  // no drive prefix
  EXPECT_EQ(ExtractRelativePath(u"D:\\a\\b\\c", u"D:\\x.txt"), u"..\\..\\..\\x.txt");
  EXPECT_TRUE(SameFileName(u"D:\\\u00c4.TXT", u"d:\\\u00e4.txt"));
  EXPECT_FALSE(SameFileName(u"a", u"b"));
}

TEST_F(FileUtilsTest, HandleOperationsAndTheirErrors) {
  TempTree t;
  std::u16string name = t.internal("f.bin");
  try {
    FileOpen(name, os::GENERIC_READ, 1, os::OPEN_EXISTING);
    FAIL() << "no exception";
  } catch (const EFileOpenError& e) {
    EXPECT_EQ(e.Message(), name);
    EXPECT_EQ(e.ErrorCode, 2);
  }
  THandle h = FileOpen(name, os::GENERIC_READ | os::GENERIC_WRITE, 0, os::CREATE_ALWAYS);
  EXPECT_EQ(FileWrite(h, bytes("0123456789"), 0, 10), 10);
  EXPECT_EQ(FileWrite(h, bytes("abcdef"), 2, 3), 3);  // "cde"
  EXPECT_EQ(FileGetSize(h), 13);
  // FileSetSize below the position leaves the position beyond the new end.
  FileSetSize(h, 5);
  EXPECT_EQ(FileGetSize(h), 5);
  EXPECT_EQ(FileSeek(h, 0, os::FILE_CURRENT), 13);
  uint8_t buf[8] = {};
  EXPECT_EQ(FileRead(h, buf, 0, 8), 0);
  FileTruncate(h, 3, 1);
  EXPECT_EQ(FileGetSize(h), 3);
  EXPECT_EQ(FileRead(h, buf, 2, 100), 2);  // cut to the buffer; "12" at offset 2
  EXPECT_EQ(buf[2], '1');
  EXPECT_EQ(buf[3], '2');
  EXPECT_THROW(FileSeek(h, -1, os::FILE_BEGIN), EFileSeekError);
  // A short write is an error, not a smaller count.
  os::testing::injectShortWrite(2);
  try {
    FileWrite(h, bytes("xyzw"), 0, 4);
    FAIL() << "no exception";
  } catch (const EFileWriteError& e) {
    EXPECT_EQ(e.ErrorCode, 112);
    EXPECT_FALSE(e.Message().empty());
  }
  FileClose(h);
  EXPECT_THROW(FileClose(h), EFileAccessError);
  EXPECT_THROW(FileGetSize(h), EFileError);
  // Reading a handle opened for writing only fails.
  h = FileOpen(name, os::GENERIC_WRITE, 1, os::OPEN_EXISTING);
  EXPECT_THROW(FileRead(h, buf, 0, 4), EFileReadError);
  FileClose(h);
}

TEST_F(FileUtilsTest, ForceDeleteFile) {
  TempTree t;
  t.write("ro.txt", "x");
  ASSERT_TRUE(FileApi().SetFileAttributes(t.internal("ro.txt"), os::FILE_ATTRIBUTE_READONLY));
  ForceDeleteFile(t.internal("ro.txt"));
  EXPECT_FALSE(t.exists("ro.txt"));
  ForceDeleteFile(t.internal("missing.txt"));  // nothing happens
  // A file held without sharing cannot be deleted: "<code> <name>".
  t.write("held.lock", "");
  THandle h = FileOpen(t.internal("held.lock"), os::GENERIC_READ | os::GENERIC_WRITE, 0, os::OPEN_EXISTING);
  try {
    ForceDeleteFile(t.internal("held.lock"));
    FAIL() << "no exception";
  } catch (const EFileAccessError& e) {
    EXPECT_EQ(e.ErrorCode, 32);
    EXPECT_EQ(e.Message(), u"32 " + t.internal("held.lock"));
  }
  EXPECT_TRUE(t.exists("held.lock"));
  EXPECT_EQ(FileApi().GetFileAttributes(t.internal("held.lock")), os::FILE_ATTRIBUTE_ARCHIVE);
  FileClose(h);
  ForceDeleteFile(t.internal("held.lock"));
  EXPECT_FALSE(t.exists("held.lock"));
}

TEST_F(FileUtilsTest, ExistenceAndForceDirectories) {
  TempTree t;
  t.write("file", "");
  EXPECT_TRUE(DirectoryExists(t.internal()));
  EXPECT_FALSE(FileExists(t.internal()));
  EXPECT_TRUE(FileExists(t.internal("file")));
  EXPECT_FALSE(DirectoryExists(t.internal("file")));
  EXPECT_FALSE(FileExists(t.internal("none")));
  EXPECT_FALSE(FileExists(u"C:\\Windows\\notepad.exe"));

  EXPECT_FALSE(ForceDirectories(u""));
  EXPECT_TRUE(ForceDirectories(t.internal("a\\b\\c\\")));
  EXPECT_TRUE(DirectoryExists(t.internal("a\\b\\c")));
  EXPECT_TRUE(ForceDirectories(t.internal("a\\b")));
  // A file in the way fails the creation.
  EXPECT_FALSE(ForceDirectories(t.internal("file\\sub")));
  EXPECT_FALSE(CreateDirectoryTree(u"relative"));
}

TEST_F(FileUtilsTest, DeepAndOverlongFolderNamesNeitherRecurseNorHang) {
  TempTree t;
  // 120 levels are made from the outermost down.
  std::u16string deep = t.internal("d");
  for (int i = 0; i < 120; ++i) deep += u"\\n";
  EXPECT_TRUE(ForceDirectories(deep));
  EXPECT_TRUE(DirectoryExists(deep));
  // A name from a show with 400,000 levels is refused at once.
  std::u16string hostile = t.internal("h");
  hostile.reserve(hostile.size() + 800000);
  for (int i = 0; i < 400000; ++i) hostile += u"\\x";
  EXPECT_FALSE(ForceDirectories(hostile));
  EXPECT_FALSE(t.exists("h"));
}

TEST_F(FileUtilsTest, DeleteDirectoryRemovesLinksWithoutFollowingThem) {
  TempTree t;
  t.write("work/a.txt", "a");
  t.write("work/sub/deep/b.txt", "b");
  t.write("work/ro.txt", "r");
  t.write("outside/keep.txt", "keep");
  t.write("outside-file.txt", "keep too");
  t.symlink(t.path("outside"), "work/dirlink");
  t.symlink(t.path("outside-file.txt"), "work/filelink");
  t.symlink(t.path("outside"), "work/sub/deep/nested");
  ASSERT_TRUE(FileApi().SetFileAttributes(t.internal("work\\ro.txt"), os::FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(DeleteDirectory(t.internal("work\\")));
  EXPECT_FALSE(t.exists("work"));
  EXPECT_EQ(t.read("outside/keep.txt"), "keep");
  EXPECT_EQ(t.read("outside-file.txt"), "keep too");
  // A link given as the folder itself is removed, its target kept.
  t.symlink(t.path("outside"), "toplink");
  EXPECT_TRUE(DeleteDirectory(t.internal("toplink")));
  EXPECT_FALSE(t.exists("toplink"));
  EXPECT_EQ(t.read("outside/keep.txt"), "keep");
  // Missing folder: false.
  EXPECT_FALSE(DeleteDirectory(t.internal("none")));
}

namespace {
// A file system that records every path it is asked about and touches
// nothing, so a walk that would reach the drive's root shows in the record.
class TRecordingAPI : public TFileAPI {
 public:
  std::vector<std::u16string> Paths;
  THandle FindFirstFile(const std::u16string& path, TWin32FindData&) override {
    Paths.push_back(path);
    os::setLastError(os::ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  bool RemoveDirectory(const std::u16string& path) override {
    Paths.push_back(path);
    os::setLastError(os::ERROR_ACCESS_DENIED);
    return false;
  }
  bool DeleteFile(const std::u16string& path) override {
    Paths.push_back(path);
    os::setLastError(os::ERROR_ACCESS_DENIED);
    return false;
  }
};
}  // namespace

TEST_F(FileUtilsTest, DeleteDirectoryOfAnEmptyNameNeverSearchesTheRoot) {
  auto* api = new TRecordingAPI();
  TFileAPI* saved = FileApiClass;
  FileApiClass = api;
  const bool empty = DeleteDirectory(u"");
  const bool backslash = DeleteDirectory(u"\\");
  FileApiClass = saved;
  EXPECT_FALSE(empty);
  EXPECT_FALSE(backslash);
  for (const auto& p : api->Paths) ADD_FAILURE() << "asked about " << narrow(p);
  api->Free();
}

TEST_F(FileUtilsTest, DeleteDirectoryStopsAtAnEntryInUse) {
  TempTree t;
  t.write("work/held.lock", "");
  THandle h = FileOpen(t.internal("work\\held.lock"), os::GENERIC_READ, 0, os::OPEN_EXISTING);
  EXPECT_FALSE(DeleteDirectory(t.internal("work")));
  EXPECT_TRUE(t.exists("work/held.lock"));
  FileClose(h);
  EXPECT_TRUE(DeleteDirectory(t.internal("work")));
}

TEST_F(FileUtilsTest, EnvironmentAndProgramGlobals) {
  setenv("QEL_FILES_TEST_VAR", "abc", 1);
  EXPECT_EQ(GetEnvVar(u"QEL_FILES_TEST_VAR"), u"abc");
  EXPECT_EQ(GetEnvVar(u"%QEL_FILES_TEST_VAR%"), u"abc");
  EXPECT_EQ(GetEnvVar(u"%QEL_FILES_TEST_VAR"), u"");
  EXPECT_EQ(GetEnvVar(u"%"), u"");
  EXPECT_EQ(GetEnvVar(u""), u"");
  EXPECT_EQ(GetEnvVar(u"%NOSUCHVAR%"), u"");
  EXPECT_EQ(ExpandEnvStrings(u"%QEL_FILES_TEST_VAR%\\x %NOSUCHVAR% 100%"), u"abc\\x %NOSUCHVAR% 100%");
  unsetenv("QEL_FILES_TEST_VAR");
  // The Windows folder does not exist here.
  EXPECT_EQ(GetEnvVar(u"SYSTEMROOT"), u"");
  // TEMP given as a POSIX path is handed over in the internal form.
  setenv("TEMP", "/var/tmp", 1);
  EXPECT_EQ(GetEnvVar(u"TEMP"), u"Z:\\var\\tmp");
  unsetenv("TEMP");

  ASSERT_FALSE(ProgramFileName.empty());
  EXPECT_EQ(ProgramFileName.substr(0, 3), u"Z:\\");
  EXPECT_EQ(ProgramFolder.back(), u'\\');
  EXPECT_EQ(ProgramFileName.substr(0, ProgramFolder.size()), ProgramFolder);
  EXPECT_TRUE(FileExists(ProgramFileName));

  TempTree t;
  std::u16string saved = GetCurrentDir(false);
  ASSERT_TRUE(SetCurrentDir(t.internal()));
  EXPECT_EQ(GetCurrentDir(true), t.internal() + u"\\");
  EXPECT_EQ(GetCurrentDir(false), t.internal());
  ASSERT_TRUE(SetCurrentDir(saved));
}
