// The os file services: path translation, share modes, errors, 64-bit sizes,
// finding, attributes, links and the case-insensitive fallback.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "platform/os/environment.h"
#include "platform/os/errors.h"
#include "platform/os/files.h"
#include "platform/os/paths.h"
#include "platform/os/resources.h"
#include "platform/os/testing/FaultInjection.h"
#include "tests/support/TempTree.h"

namespace os = platform::os;
using qeltest::TempTree;
using qeltest::narrow;

namespace {

// Runs fn in a child process and answers its exit code.
template <class F>
int inChild(F fn) {
  pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(OsPaths, ToPosixTable) {
  struct Row {
    std::u16string in;
    uint32_t err;
    std::string out;
  } rows[] = {
      {u"Z:\\opt\\qel\\player", 0, "/opt/qel/player"},
      {u"z:/a//b\\\\c\\", 0, "/a/b/c/"},
      {u"Z:\\", 0, "/"},
      {u"\\\\?\\Z:\\long\\x", 0, "/long/x"},
      {u"\\x\\y", 0, "/x/y"},
      {u"a\\.\\..\\b", 0, "a/./../b"},
      {u"Z:rel", 0, "rel"},
      {u"C:\\Shows\\img1.jpg", 3, ""},
      {u"\\\\server\\share\\f", 3, ""},
      {u"\\\\?\\UNC\\server\\share", 3, ""},
      {u"", 3, ""},
      {std::u16string(u"a\0b", 3), 123, ""},
  };
  for (const Row& r : rows) {
    std::string out;
    EXPECT_EQ(os::toPosixPath(r.in, out), r.err) << narrow(r.in);
    if (r.err == 0) {
      EXPECT_EQ(out, r.out) << narrow(r.in);
    }
  }
  EXPECT_EQ(os::fromPosixPath("/"), u"Z:\\");
  EXPECT_EQ(os::fromPosixPath("/opt//qel/player"), u"Z:\\opt\\qel\\player");
  EXPECT_EQ(os::fromPosixPath("a/b"), u"a\\b");
}

TEST(OsPaths, FileNameBytesRoundTrip) {
  // Invalid UTF-8 (a stray byte, a cut sequence, an overlong form, an encoded
  // surrogate) round-trips byte for byte through the U+DC00+b escapes.
  const std::string names[] = {"plain", "caf\xc3\xa9", "\xf0\x9f\x98\x80", "a\xff" "b", "cut\xc3",
                               "over\xc0\xaf", "sur\xed\xa0\x80", "\x80\x81"};
  for (const std::string& n : names) EXPECT_EQ(os::fileNameToBytes(os::fileNameFromBytes(n)), n) << n;
  EXPECT_EQ(os::fileNameFromBytes("a\xff"), std::u16string(u"a\xDCFF"));
  EXPECT_EQ(os::fileNameFromBytes("caf\xc3\xa9"), u"caf\u00e9");
  EXPECT_EQ(os::fileNameFromBytes("\xf0\x9f\x98\x80"), u"\U0001F600");
  // A lone surrogate that is no escape is written as its three-byte form.
  EXPECT_EQ(os::fileNameToBytes(std::u16string(1, char16_t(0xD800))), "\xed\xa0\x80");
}

TEST(OsFiles, InvalidUtf8NameIsFoundAndOpened) {
  TempTree t;
  t.write("n\xff.bin", "x");
  os::FindData fd;
  os::Handle h = os::findFirstFile(t.internal() + u"\\n*", fd);
  ASSERT_NE(h, os::INVALID_HANDLE_VALUE);
  EXPECT_EQ(fd.name, std::u16string(u"n\xDCFF.bin"));
  os::findClose(h);
  os::Handle f = os::createFile(t.internal() + u"\\" + fd.name, os::GENERIC_READ, 1, os::OPEN_EXISTING, 0);
  ASSERT_NE(f, os::INVALID_HANDLE_VALUE);
  EXPECT_EQ(os::getFileSize(f), 1);
  os::closeHandle(f);
}

TEST(OsFiles, ShareModeZeroIsExclusiveInProcessAndAcrossProcesses) {
  TempTree t;
  t.write("f.lock", "data");
  std::u16string name = t.internal("f.lock");
  os::Handle a = os::createFile(name, os::GENERIC_READ | os::GENERIC_WRITE, 0, os::OPEN_EXISTING, 0);
  ASSERT_NE(a, os::INVALID_HANDLE_VALUE);
  // Any second open fails with a sharing violation, also a re-creating one,
  // which must not cut the holder's data.
  for (uint32_t share : {0u, 1u, 7u}) {
    EXPECT_EQ(os::createFile(name, os::GENERIC_READ, share, os::OPEN_EXISTING, 0), os::INVALID_HANDLE_VALUE);
    EXPECT_EQ(os::getLastError(), os::ERROR_SHARING_VIOLATION);
  }
  EXPECT_EQ(os::createFile(name, os::GENERIC_WRITE, 1, os::CREATE_ALWAYS, 0), os::INVALID_HANDLE_VALUE);
  EXPECT_EQ(t.read("f.lock"), "data");
  EXPECT_FALSE(os::deleteFile(name));
  EXPECT_EQ(os::getLastError(), os::ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(os::moveFileEx(name, t.internal("g"), 0));
  EXPECT_EQ(os::getLastError(), os::ERROR_SHARING_VIOLATION);
  std::string posix = t.path("f.lock");
  EXPECT_EQ(inChild([&] {
              std::u16string n = t.internal("f.lock");
              os::Handle h = os::createFile(n, os::GENERIC_READ, 7, os::OPEN_EXISTING, 0);
              return h == os::INVALID_HANDLE_VALUE && os::getLastError() == os::ERROR_SHARING_VIOLATION ? 0 : 1;
            }),
            0);
  ASSERT_TRUE(os::closeHandle(a));
  // Released with the handle.
  EXPECT_EQ(inChild([&] {
              os::Handle h = os::createFile(t.internal("f.lock"), os::GENERIC_READ, 0, os::OPEN_EXISTING, 0);
              return h != os::INVALID_HANDLE_VALUE ? 0 : 1;
            }),
            0);
  EXPECT_TRUE(os::deleteFile(name));
  EXPECT_FALSE(t.exists("f.lock"));
}

// A delete and an exclusive open racing for one name (the lock files of the
// temporary folders): whichever order the two take, nobody ends up holding a
// lock on a file that is no longer there.
TEST(OsFiles, DeleteAndExclusiveOpenRacingNeverLeaveALockOnAGoneFile) {
  TempTree t;
  const std::u16string name = t.internal("r.lock");
  const uint32_t rw = os::GENERIC_READ | os::GENERIC_WRITE;

  // The file is deleted between the open and its lock: the open fails.
  t.write("r.lock", "");
  bool deleted = false;
  os::testing::injectBeforeShareLock([&] { deleted = os::deleteFile(name); });
  EXPECT_EQ(os::createFile(name, rw, 0, os::CREATE_ALWAYS, 0), os::INVALID_HANDLE_VALUE);
  EXPECT_EQ(os::getLastError(), os::ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(deleted);
  EXPECT_FALSE(t.exists("r.lock"));

  // An exclusive open between the delete's probe and its unlink is refused
  // while the probe is held; the delete goes through.
  t.write("r.lock", "");
  os::Handle late = 0;
  uint32_t lateError = 0;
  os::testing::injectBeforeUnlink([&] {
    late = os::createFile(name, rw, 0, os::OPEN_EXISTING, 0);
    lateError = os::getLastError();
  });
  EXPECT_TRUE(os::deleteFile(name));
  EXPECT_EQ(late, os::INVALID_HANDLE_VALUE);
  EXPECT_EQ(lateError, os::ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(t.exists("r.lock"));
  if (late != os::INVALID_HANDLE_VALUE) os::closeHandle(late);

  // Undisturbed, both work as before.
  os::testing::clearInjectedFaults();
  os::Handle h = os::createFile(name, rw, 0, os::CREATE_ALWAYS, 0);
  ASSERT_NE(h, os::INVALID_HANDLE_VALUE);
  EXPECT_TRUE(os::closeHandle(h));
  EXPECT_TRUE(os::deleteFile(name));
}

TEST(OsFiles, SharedOpensCoexistButRefuseAnExclusiveOne) {
  TempTree t;
  t.write("s.txt", "abc");
  std::u16string name = t.internal("s.txt");
  os::Handle a = os::createFile(name, os::GENERIC_READ, 1, os::OPEN_EXISTING, 0);
  os::Handle b = os::createFile(name, os::GENERIC_READ, 7, os::OPEN_EXISTING, 0);
  ASSERT_NE(a, os::INVALID_HANDLE_VALUE);
  ASSERT_NE(b, os::INVALID_HANDLE_VALUE);
  EXPECT_NE(a, b);
  EXPECT_EQ(os::createFile(name, os::GENERIC_READ, 0, os::OPEN_EXISTING, 0), os::INVALID_HANDLE_VALUE);
  EXPECT_EQ(os::getLastError(), os::ERROR_SHARING_VIOLATION);
  os::closeHandle(a);
  os::closeHandle(b);
  // Handles are not reused: a closed one stays invalid.
  EXPECT_FALSE(os::closeHandle(a));
  EXPECT_EQ(os::getLastError(), os::ERROR_INVALID_HANDLE);
}

TEST(OsFiles, ErrorCodes) {
  TempTree t;
  t.write("file", "x");
  t.mkdir("full/sub");
  auto check = [](const char* what, bool ok, uint32_t want) {
    EXPECT_FALSE(ok) << what;
    EXPECT_EQ(os::getLastError(), want) << what;
  };
  check("missing file", os::createFile(t.internal("nope"), os::GENERIC_READ, 1, os::OPEN_EXISTING, 0) !=
                            os::INVALID_HANDLE_VALUE, os::ERROR_FILE_NOT_FOUND);
  check("missing folder", os::createFile(t.internal("nodir\\f"), os::GENERIC_READ, 1, os::OPEN_EXISTING, 0) !=
                              os::INVALID_HANDLE_VALUE, os::ERROR_PATH_NOT_FOUND);
  check("other drive", os::createFile(u"C:\\Shows\\img1.jpg", os::GENERIC_READ, 1, os::OPEN_EXISTING, 0) !=
                           os::INVALID_HANDLE_VALUE, os::ERROR_PATH_NOT_FOUND);
  check("create new on existing", os::createFile(t.internal("file"), os::GENERIC_WRITE, 1, os::CREATE_NEW, 0) !=
                                      os::INVALID_HANDLE_VALUE, os::ERROR_FILE_EXISTS);
  check("create in missing folder", os::createFile(t.internal("nodir\\f"), os::GENERIC_WRITE, 1, os::CREATE_ALWAYS,
                                                   0) != os::INVALID_HANDLE_VALUE, os::ERROR_PATH_NOT_FOUND);
  check("open a folder as a file", os::createFile(t.internal("full"), os::GENERIC_READ, 1, os::OPEN_EXISTING, 0) !=
                                       os::INVALID_HANDLE_VALUE, os::ERROR_ACCESS_DENIED);
  check("mkdir existing", os::createDirectory(t.internal("full")), os::ERROR_ALREADY_EXISTS);
  check("mkdir in missing folder", os::createDirectory(t.internal("a\\b")), os::ERROR_PATH_NOT_FOUND);
  check("rmdir not empty", os::removeDirectory(t.internal("full")), os::ERROR_DIR_NOT_EMPTY);
  check("delete a folder as a file", os::deleteFile(t.internal("full")), os::ERROR_ACCESS_DENIED);
  check("delete missing", os::deleteFile(t.internal("nope")), os::ERROR_FILE_NOT_FOUND);
  check("attributes missing", os::getFileAttributes(t.internal("nope")) != os::INVALID_FILE_ATTRIBUTES,
        os::ERROR_FILE_NOT_FOUND);
  check("close unknown handle", os::closeHandle(12345), os::ERROR_INVALID_HANDLE);
}

TEST(OsFiles, SizesAndOffsetsAre64Bit) {
  TempTree t;
  os::Handle h = os::createFile(t.internal("big"), os::GENERIC_READ | os::GENERIC_WRITE, 0, os::CREATE_ALWAYS, 0);
  ASSERT_NE(h, os::INVALID_HANDLE_VALUE);
  const int64_t fourGiBMinus1 = (int64_t(1) << 32) - 1;
  const int64_t fiveGiB = int64_t(5) << 30;
  for (int64_t size : {fourGiBMinus1, fiveGiB, int64_t(10)}) {
    ASSERT_EQ(os::setFilePointer(h, size, os::FILE_BEGIN), size);
    ASSERT_TRUE(os::setEndOfFile(h));
    EXPECT_EQ(os::getFileSize(h), size);
    EXPECT_EQ(os::setFilePointer(h, 0, os::FILE_END), size);
  }
  ASSERT_EQ(os::setFilePointer(h, 0, os::FILE_BEGIN), 0);
  uint32_t n = 0;
  ASSERT_TRUE(os::writeFile(h, "hello", 5, &n));
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(os::setFilePointer(h, -2, os::FILE_CURRENT), 3);
  char buf[16] = {};
  ASSERT_TRUE(os::readFile(h, buf, sizeof buf, &n));
  EXPECT_EQ(n, 7u);  // "lo" and five zero bytes up to the size of 10
  EXPECT_EQ(std::string(buf, 2), "lo");
  ASSERT_TRUE(os::readFile(h, buf, sizeof buf, &n));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(os::setFilePointer(h, -100, os::FILE_BEGIN), -1);
  EXPECT_EQ(os::getLastError(), os::ERROR_INVALID_PARAMETER);
  os::closeHandle(h);
}

TEST(OsFiles, ShortWriteIsReportedAsFailure) {
  TempTree t;
  os::Handle h = os::createFile(t.internal("w"), os::GENERIC_WRITE, 1, os::CREATE_ALWAYS, 0);
  ASSERT_NE(h, os::INVALID_HANDLE_VALUE);
  os::testing::injectShortWrite(3);
  uint32_t n = 99;
  EXPECT_FALSE(os::writeFile(h, "abcdefgh", 8, &n));
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(os::getLastError(), os::ERROR_DISK_FULL);
  // One shot: the next write is whole.
  EXPECT_TRUE(os::writeFile(h, "XY", 2, &n));
  EXPECT_EQ(n, 2u);
  os::closeHandle(h);
  EXPECT_EQ(t.read("w"), "abcXY");
}

TEST(OsFiles, CaseInsensitiveFallback) {
  TempTree t;
  t.write("Data/Img.JPG", "jpg");
  t.write("Dup/ab", "lower");
  t.write("Dup/AB", "upper");
  // An exact miss is resolved component by component without regard to case.
  os::Handle h = os::createFile(t.internal("data\\IMG.jpg"), os::GENERIC_READ, 1, os::OPEN_EXISTING, 0);
  ASSERT_NE(h, os::INVALID_HANDLE_VALUE);
  EXPECT_EQ(os::getFileSize(h), 3);
  os::closeHandle(h);
  EXPECT_NE(os::getFileAttributes(t.internal("DATA\\img.jpg")), os::INVALID_FILE_ATTRIBUTES);
  // Several matches: the exact one wins, else the first in byte order.
  auto readAll = [&](const std::u16string& n) {
    os::Handle f = os::createFile(n, os::GENERIC_READ, 1, os::OPEN_EXISTING, 0);
    char b[16] = {};
    uint32_t got = 0;
    os::readFile(f, b, sizeof b, &got);
    os::closeHandle(f);
    return std::string(b, got);
  };
  EXPECT_EQ(readAll(t.internal("Dup\\ab")), "lower");
  EXPECT_EQ(readAll(t.internal("Dup\\Ab")), "upper");
  // A create keeps its name but finds its folder without regard to case.
  h = os::createFile(t.internal("DATA\\New.txt"), os::GENERIC_WRITE, 1, os::CREATE_NEW, 0);
  ASSERT_NE(h, os::INVALID_HANDLE_VALUE);
  os::closeHandle(h);
  EXPECT_TRUE(t.exists("Data/New.txt"));
  // No match at all: the original error stands.
  EXPECT_EQ(os::getFileAttributes(t.internal("data\\none.jpg")), os::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(os::getLastError(), os::ERROR_FILE_NOT_FOUND);
}

TEST(OsFiles, WildcardMatching) {
  struct Row {
    const char16_t* pattern;
    const char16_t* name;
    bool match;
  } rows[] = {
      {u"*.*", u"noext", true},  {u"*.lock", u"[X].LOCK", true}, {u"*.lock", u"x.locks", false},
      {u"a?c", u"ABC", true},    {u"a?c", u"ac", false},         {u"*", u".hidden", true},
      {u"*b*", u"aXbY", true},   {u"img*.jpg", u"img.jpg", true}, {u"x", u"y", false},
  };
  for (const Row& r : rows)
    EXPECT_EQ(os::matchWildcard(r.pattern, r.name), r.match) << narrow(r.pattern) << " " << narrow(r.name);
}

TEST(OsFiles, FindListsEntriesWithAttributes) {
  TempTree t;
  t.write("dir/a.txt", "12345");
  t.write("dir/.hidden", "");
  t.write("dir/noext", "");
  t.mkdir("dir/sub");
  t.mkdir("target");
  t.write("target/inside", "keep");
  t.symlink(t.path("target"), "dir/link");
  std::vector<os::FindData> all;
  os::FindData fd;
  os::Handle h = os::findFirstFile(t.internal("dir\\*.*"), fd);
  ASSERT_NE(h, os::INVALID_HANDLE_VALUE);
  do all.push_back(fd);
  while (os::findNextFile(h, fd));
  EXPECT_EQ(os::getLastError(), os::ERROR_NO_MORE_FILES);
  EXPECT_TRUE(os::findClose(h));
  std::vector<std::u16string> names;
  for (auto& e : all) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u".", u"..", u".hidden", u"a.txt", u"link", u"noext", u"sub"}));
  auto get = [&](const char16_t* n) {
    for (auto& e : all)
      if (e.name == n) return e;
    return os::FindData{};
  };
  EXPECT_EQ(get(u"a.txt").attributes, os::FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(get(u"a.txt").size, 5u);
  EXPECT_NE(get(u"a.txt").lastWriteTime, 0u);
  EXPECT_EQ(get(u".hidden").attributes, os::FILE_ATTRIBUTE_ARCHIVE | os::FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(get(u"sub").attributes, os::FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(get(u"sub").size, 0u);
  EXPECT_EQ(get(u"link").attributes, os::FILE_ATTRIBUTE_DIRECTORY | os::FILE_ATTRIBUTE_REPARSE_POINT);
  // No match, missing folder, and a folder path ending with "\".
  EXPECT_EQ(os::findFirstFile(t.internal("dir\\*.lock"), fd), os::INVALID_HANDLE_VALUE);
  EXPECT_EQ(os::getLastError(), os::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(os::findFirstFile(t.internal("nodir\\*.*"), fd), os::INVALID_HANDLE_VALUE);
  EXPECT_EQ(os::getLastError(), os::ERROR_PATH_NOT_FOUND);
  // A path without wildcards finds the entry itself.
  h = os::findFirstFile(t.internal("dir\\A.TXT"), fd);
  ASSERT_NE(h, os::INVALID_HANDLE_VALUE);
  EXPECT_EQ(fd.name, u"a.txt");
  EXPECT_FALSE(os::findNextFile(h, fd));
  os::findClose(h);
}

TEST(OsFiles, LinksAreRemovedNotFollowed) {
  TempTree t;
  t.mkdir("target");
  t.write("target/inside", "keep");
  t.symlink(t.path("target"), "link");
  t.symlink("target/inside", "rel");
  EXPECT_NE(os::getFileAttributes(t.internal("link")) & os::FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  // The reparse data of a link: the symbolic-link layout with its target.
  for (auto [name, relative, expect] : {std::tuple{"link", false, t.internal("target")},
                                        std::tuple{"rel", true, std::u16string(u"target\\inside")}}) {
    os::Handle h = os::createFile(t.internal(name), 0, 3, os::OPEN_EXISTING,
                                  os::FILE_FLAG_OPEN_REPARSE_POINT | os::FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(h, os::INVALID_HANDLE_VALUE);
    std::vector<uint8_t> buf(os::MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    uint32_t got = 0;
    ASSERT_TRUE(os::deviceIoControl(h, os::FSCTL_GET_REPARSE_POINT, buf.data(), uint32_t(buf.size()), &got));
    uint32_t tag, flags;
    uint16_t printOff, printLen;
    std::memcpy(&tag, &buf[0], 4);
    std::memcpy(&printOff, &buf[12], 2);
    std::memcpy(&printLen, &buf[14], 2);
    std::memcpy(&flags, &buf[16], 4);
    EXPECT_EQ(tag, os::IO_REPARSE_TAG_SYMLINK);
    EXPECT_EQ(flags, relative ? 1u : 0u);
    std::u16string print(printLen / 2, u'\0');
    std::memcpy(print.data(), &buf[20 + printOff], printLen);
    EXPECT_EQ(print, expect);
    os::closeHandle(h);
  }
  // A plain file has no reparse data.
  os::Handle h = os::createFile(t.internal("target\\inside"), 0, 3, os::OPEN_EXISTING,
                                os::FILE_FLAG_OPEN_REPARSE_POINT | os::FILE_FLAG_BACKUP_SEMANTICS);
  uint8_t small[64];
  uint32_t got;
  EXPECT_FALSE(os::deviceIoControl(h, os::FSCTL_GET_REPARSE_POINT, small, sizeof small, &got));
  os::closeHandle(h);
  // Removing the folder link removes the link only.
  EXPECT_TRUE(os::removeDirectory(t.internal("link")));
  EXPECT_FALSE(t.exists("link"));
  EXPECT_EQ(t.read("target/inside"), "keep");
}

TEST(OsFiles, MoveAndAttributes) {
  TempTree t;
  t.write("a", "A");
  t.write("b", "B");
  EXPECT_FALSE(os::moveFileEx(t.internal("a"), t.internal("b"), 0));
  EXPECT_EQ(os::getLastError(), os::ERROR_FILE_EXISTS);
  EXPECT_TRUE(os::moveFileEx(t.internal("a"), t.internal("b"), os::MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(t.read("b"), "A");
  EXPECT_TRUE(os::moveFileEx(t.internal("b"), t.internal("c"), 0));
  EXPECT_EQ(t.read("c"), "A");
  // READONLY maps onto the owner's write bit.
  ASSERT_TRUE(os::setFileAttributes(t.internal("c"), os::FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(os::getFileAttributes(t.internal("c")), os::FILE_ATTRIBUTE_READONLY | os::FILE_ATTRIBUTE_ARCHIVE);
  // A READONLY file refuses every writer, root included, and stays as it was.
  for (uint32_t disposition : {os::OPEN_EXISTING, os::OPEN_ALWAYS, os::CREATE_ALWAYS, os::TRUNCATE_EXISTING}) {
    os::setLastError(0);
    EXPECT_EQ(os::createFile(t.internal("c"), os::GENERIC_WRITE, 1, disposition, 0), os::INVALID_HANDLE_VALUE)
        << disposition;
    EXPECT_EQ(os::getLastError(), os::ERROR_ACCESS_DENIED) << disposition;
  }
  EXPECT_EQ(t.read("c"), "A");
  os::Handle reader = os::createFile(t.internal("c"), os::GENERIC_READ, 1, os::OPEN_EXISTING, 0);
  EXPECT_NE(reader, os::INVALID_HANDLE_VALUE);
  os::closeHandle(reader);
  ASSERT_TRUE(os::setFileAttributes(t.internal("c"), os::FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(os::getFileAttributes(t.internal("c")), os::FILE_ATTRIBUTE_ARCHIVE);
}

TEST(OsFiles, ProgramNameCurrentFolderAndTimes) {
  std::u16string exe = os::getModuleFileName();
  ASSERT_GE(exe.size(), 4u);
  EXPECT_EQ(exe.substr(0, 3), u"Z:\\");
  EXPECT_EQ(exe.find(u'/'), std::u16string::npos);
  EXPECT_NE(os::getFileAttributes(exe), os::INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(os::getCommandLine().substr(0, 1).empty(), false);

  TempTree t;
  std::u16string saved = os::getCurrentDirectory();
  ASSERT_TRUE(os::setCurrentDirectory(t.internal()));
  EXPECT_EQ(os::getCurrentDirectory(), t.internal());
  os::Handle h = os::createFile(u"relative.txt", os::GENERIC_WRITE, 1, os::CREATE_NEW, 0);
  EXPECT_NE(h, os::INVALID_HANDLE_VALUE);
  os::closeHandle(h);
  EXPECT_TRUE(t.exists("relative.txt"));
  ASSERT_TRUE(os::setCurrentDirectory(saved));

  // 2000-01-01 00:00:00.123 UTC as a file time.
  os::FileTime ft = (946684800ULL + 11644473600ULL) * 10000000ULL + 1230000ULL;
  os::SystemTime st;
  ASSERT_TRUE(os::fileTimeToSystemTime(ft, st));
  EXPECT_EQ(st.year, 2000);
  EXPECT_EQ(st.month, 1);
  EXPECT_EQ(st.day, 1);
  EXPECT_EQ(st.dayOfWeek, 6);  // a Saturday
  EXPECT_EQ(st.milliseconds, 123);
}

TEST(OsResources, TableByTypeAndNameWithoutCase) {
  static const uint8_t icons[] = {1, 2, 3};
  os::registerResource(os::RT_RCDATA, u"ICONS", icons);
  auto r = os::findResource(os::RT_RCDATA, u"icons");
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->size(), 3u);
  EXPECT_EQ((*r)[2], 3);
  EXPECT_FALSE(os::findResource(os::RT_GROUP_ICON, u"ICONS").has_value());
  EXPECT_FALSE(os::findResource(os::RT_RCDATA, u"ABOUT").has_value());
  os::clearResources();
  EXPECT_FALSE(os::findResource(os::RT_RCDATA, u"ICONS").has_value());
}

TEST(OsEnvironment, PerUserTempFolderIsOwnerOnly) {
  TempTree t;
  std::string saved = getenv("TMPDIR") ? getenv("TMPDIR") : "";
  bool had = getenv("TMPDIR") != nullptr;
  setenv("TMPDIR", t.path().c_str(), 1);
  std::string name = "orvane-" + std::to_string(getuid());
  std::u16string folder = os::perUserTempFolder();
  EXPECT_EQ(folder, t.internal(name));
  struct stat st;
  ASSERT_EQ(lstat(t.path(name).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A link planted in its place is refused, never followed.
  rmdir(t.path(name).c_str());
  t.mkdir("elsewhere");
  t.symlink(t.path("elsewhere"), name);
  EXPECT_EQ(os::perUserTempFolder(), u"");
  unlink(t.path(name).c_str());
  // A folder that belongs to another user is refused (only root can make one).
  if (qeltest::runningAsRoot()) {
    t.mkdir(name);
    ASSERT_EQ(chown(t.path(name).c_str(), 65534, 65534), 0);
    EXPECT_EQ(os::perUserTempFolder(), u"");
  }
  if (had) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

TEST(OsEnvironment, ViewAndExpansion) {
  setenv("QEL_OS_ENV_TEST", "v1", 1);
  EXPECT_EQ(os::expandEnvironmentStrings(u"a%QEL_OS_ENV_TEST%b%UNSET_QEL_X%c%"), u"av1b%UNSET_QEL_X%c%");
  EXPECT_EQ(os::expandEnvironmentStrings(u"%%QEL_OS_ENV_TEST%"), u"%v1");
  unsetenv("QEL_OS_ENV_TEST");
  EXPECT_FALSE(os::getEnvironmentVariable(u"WINDIR").has_value());
  EXPECT_FALSE(os::getEnvironmentVariable(u"SystemRoot").has_value());
  setenv("XDG_CONFIG_HOME", "/cfg/", 1);
  EXPECT_EQ(os::getEnvironmentVariable(u"appdata").value_or(u""), u"Z:\\cfg");
  EXPECT_EQ(os::getSpecialFolderPath(os::CSIDL_APPDATA), u"Z:\\cfg");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(os::getSpecialFolderPath(os::CSIDL_WINDOWS), u"");
  EXPECT_EQ(os::getSpecialFolderPath(99), u"");
}

TEST(OsFiles, PrivateDirectories) {
  TempTree t;
  struct stat st;
  ASSERT_TRUE(os::ensurePrivateDirectory(t.internal("mine")));
  ASSERT_EQ(lstat(t.path("mine").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // An existing folder of ours loses group and other permissions.
  t.mkdir("open");
  chmod(t.path("open").c_str(), 0777);
  ASSERT_TRUE(os::ensurePrivateDirectory(t.internal("open\\")));
  ASSERT_EQ(lstat(t.path("open").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A link or a file in its place is refused.
  t.symlink(t.path("mine"), "link");
  EXPECT_FALSE(os::ensurePrivateDirectory(t.internal("link")));
  EXPECT_EQ(os::getLastError(), os::ERROR_ACCESS_DENIED);
  t.write("file", "");
  EXPECT_FALSE(os::ensurePrivateDirectory(t.internal("file")));
  EXPECT_FALSE(os::ensurePrivateDirectory(t.internal("none\\sub")));
  EXPECT_EQ(os::getLastError(), os::ERROR_PATH_NOT_FOUND);
  if (qeltest::runningAsRoot()) {
    t.mkdir("theirs");
    ASSERT_EQ(chown(t.path("theirs").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(os::ensurePrivateDirectory(t.internal("theirs")));
  }
}

// Run by CommandLineRebuiltFromArguments in a child process started with
// chosen arguments: writes the rebuilt command line to the file it is told.
TEST(OsCommandLine, Child) {
  const char* out = getenv("QEL_CMDLINE_OUT");
  if (!out) GTEST_SKIP() << "runs only as the child of CommandLineRebuiltFromArguments";
  std::u16string line = os::getCommandLine();
  FILE* f = fopen(out, "wb");
  ASSERT_NE(f, nullptr);
  std::string bytes = os::fileNameToBytes(line);
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

TEST(OsCommandLine, CommandLineRebuiltFromArguments) {
  TempTree t;
  std::string exe(4096, '\0');
  exe.resize(size_t(readlink("/proc/self/exe", exe.data(), exe.size())));
  std::string outFile = t.path("cmdline.txt");
  pid_t pid = fork();
  if (pid == 0) {
    setenv("QEL_CMDLINE_OUT", outFile.c_str(), 1);
    std::string folder = t.path();
    const char* argv[] = {exe.c_str(), "--gtest_filter=OsCommandLine.Child", "two words", "", folder.c_str(),
                          "/nonexistent/x", "/s", "caf\xc3\xa9", "say \"hi\"", "x\"y", nullptr};
    execv(exe.c_str(), const_cast<char* const*>(argv));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::u16string line = os::fileNameFromBytes(t.read("cmdline.txt"));
  std::u16string expected = os::fromPosixPath(exe) + u" --gtest_filter=OsCommandLine.Child \"two words\" \"\" " +
                            t.internal() + u" /nonexistent/x /s caf\u00e9 \"say \"\"hi\"\"\" \"x\"\"y\"";
  EXPECT_EQ(line, expected);
}
