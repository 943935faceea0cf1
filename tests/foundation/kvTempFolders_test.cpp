// Temporary work folders: stale clean-up, locks held across processes,
// bounded creation and the owner-only root.
#include "foundation/kvTempFolders.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/kpExceptions.h"
#include "foundation/kvFileUtils.h"
#include "platform/os/testing/FaultInjection.h"
#include "tests/support/TempTree.h"

using namespace foundation;
namespace os = platform::os;
using qeltest::TempTree;

namespace {

class TempFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* temp = getenv("TEMP");
    hadTemp_ = temp != nullptr;
    if (temp) savedTemp_ = temp;
    setenv("TEMP", tree_.path().c_str(), 1);
    InitFileApiClass();
    InitFileUtils();
    DoneTempFolders();
  }
  void TearDown() override {
    DoneTempFolders();
    if (hadTemp_) {
      setenv("TEMP", savedTemp_.c_str(), 1);
    } else {
      unsetenv("TEMP");
    }
    DoneFileApiClass();
  }
  std::string root(const std::string& rel = "") const {
    return "ORVANE_TEMP_ROOT" + (rel.empty() ? "" : "/" + rel);
  }
  // The last component of a work-folder path, as a POSIX name.
  static std::string leaf(const std::u16string& path) {
    std::u16string name = ExtractFileName(path);
    return std::string(name.begin(), name.end());
  }
  TempTree tree_;
  bool hadTemp_ = false;
  std::string savedTemp_;
};

// A pipe to pass one line between a parent and its child.
struct Pipe {
  int fd[2];
  Pipe() { EXPECT_EQ(pipe(fd), 0); }
  ~Pipe() {
    close(fd[0]);
    close(fd[1]);
  }
  void send(const std::string& s) { ASSERT_EQ(write(fd[1], (s + "\n").data(), s.size() + 1), ssize_t(s.size() + 1)); }
  std::string receive() {
    std::string s;
    char c;
    while (read(fd[0], &c, 1) == 1 && c != '\n') s.push_back(c);
    return s;
  }
};

}  // namespace

TEST_F(TempFoldersTest, FirstUseRemovesStaleFoldersOnly) {
  tree_.write(root("[X]/file.bin"), "x");
  tree_.write(root("[X].lock"), "");
  tree_.write(root("[Y].lock"), "");  // its folder is gone already
  tree_.mkdir(root("[Z]"));             // no lock file: not the manager's to judge
  std::u16string r = GetTempRoot();
  EXPECT_EQ(r, tree_.internal(root()) + u"\\");
  EXPECT_FALSE(tree_.exists(root("[X]")));
  EXPECT_FALSE(tree_.exists(root("[X].lock")));
  EXPECT_FALSE(tree_.exists(root("[Y].lock")));
  EXPECT_TRUE(tree_.exists(root("[Z]")));
  struct stat st;
  ASSERT_EQ(lstat(tree_.path(root()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // Later calls answer at once.
  tree_.write(root("[W].lock"), "");
  EXPECT_EQ(GetTempRoot(), r);
  EXPECT_TRUE(tree_.exists(root("[W].lock")));
}

TEST_F(TempFoldersTest, LockNamesWithoutAFolderNameLeaveTheRootAlone) {
  // ".lock" and "..lock" would name the root itself (or its parent) as the
  // stale folder: the folders of other runs live there.
  tree_.write(root(".lock"), "");
  tree_.write(root("..lock"), "");
  tree_.write(root("[Y]/lib.so"), "x");  // another run's folder, its lock elsewhere
  tree_.write("beside.txt", "keep");     // beside the root
  std::u16string r = GetTempRoot();
  EXPECT_EQ(r, tree_.internal(root()) + u"\\");
  EXPECT_TRUE(tree_.exists(root("[Y]/lib.so")));
  EXPECT_TRUE(tree_.exists("beside.txt"));
}

TEST_F(TempFoldersTest, ALockFileDeletedBeforeItIsHeldIsNotUsed) {
  GetTempRoot();
  // Another run's clean-up deletes the new lock file between its creation
  // and its lock: the folder of that name must not be made, as that run
  // goes on to delete it.
  std::vector<std::string> takenAway;
  os::testing::injectBeforeShareLock([&] {
    for (auto& e : std::filesystem::directory_iterator(tree_.path(root()))) {
      const std::string name = e.path().filename().string();
      if (name.size() > 5 && name.substr(name.size() - 5) == ".lock" &&
          os::deleteFile(tree_.internal(root(name))))
        takenAway.push_back(name.substr(0, name.size() - 5));
    }
  });
  std::u16string folder = CreateTempFolder(false);
  os::testing::clearInjectedFaults();
  ASSERT_FALSE(folder.empty());
  ASSERT_EQ(takenAway.size(), 1u);
  const std::string n = leaf(folder);
  EXPECT_NE(n, takenAway[0]);
  EXPECT_FALSE(tree_.exists(root(takenAway[0])));
  ASSERT_TRUE(tree_.exists(root(n + ".lock")));
  // The lock of the folder made is held.
  EXPECT_EQ(os::createFile(tree_.internal(root(n + ".lock")), os::GENERIC_READ, 7, os::OPEN_EXISTING, 0),
            os::INVALID_HANDLE_VALUE);
  EXPECT_EQ(os::getLastError(), os::ERROR_SHARING_VIOLATION);
}

TEST_F(TempFoldersTest, AFolderThatCannotBeDeletedGetsItsLockBack) {
  tree_.write(root("[X]/inner.bin"), "x");
  tree_.write(root("[X].lock"), "old");
  THandle inner = FileOpen(tree_.internal(root("[X]/inner.bin")), os::GENERIC_READ, 0, os::OPEN_EXISTING);
  GetTempRoot();
  EXPECT_TRUE(tree_.exists(root("[X]/inner.bin")));
  ASSERT_TRUE(tree_.exists(root("[X].lock")));
  EXPECT_EQ(tree_.read(root("[X].lock")), "");  // a fresh, empty lock file
  FileClose(inner);
  DoneTempFolders();
  GetTempRoot();
  EXPECT_FALSE(tree_.exists(root("[X]")));
  EXPECT_FALSE(tree_.exists(root("[X].lock")));
}

TEST_F(TempFoldersTest, FoldersInUseByAnotherProcessAreKept) {
  Pipe up, down;
  pid_t child = fork();
  if (child == 0) {
    std::u16string path = CreateTempFolder(false);
    up.send(std::string(path.begin(), path.end()));
    down.receive();  // hold the folder until told to end
    _exit(0);
  }
  std::string path = up.receive();
  ASSERT_FALSE(path.empty());
  std::string name = path.substr(path.rfind('\\') + 1);
  ASSERT_TRUE(tree_.exists(root(name)));
  ASSERT_TRUE(tree_.exists(root(name + ".lock")));
  // This process's first use cleans up, and keeps the other's folder.
  EXPECT_NO_THROW(GetTempRoot());
  EXPECT_TRUE(tree_.exists(root(name)));
  EXPECT_TRUE(tree_.exists(root(name + ".lock")));
  EXPECT_THROW(FileOpen(tree_.internal(root(name + ".lock")), os::GENERIC_READ, 1, os::OPEN_EXISTING),
               EFileOpenError);
  down.send("end");
  int status = 0;
  waitpid(child, &status, 0);
  // The other run ended without clean-up: the next first use removes it.
  DoneTempFolders();
  GetTempRoot();
  EXPECT_FALSE(tree_.exists(root(name)));
  EXPECT_FALSE(tree_.exists(root(name + ".lock")));
}

TEST_F(TempFoldersTest, EachFolderHasItsOwnHeldLock) {
  std::u16string a = CreateTempFolder(false);
  std::u16string b = CreateTempFolder(true);
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  EXPECT_NE(ExcludeTrailingBackslash(b), a);
  EXPECT_EQ(b.back(), u'\\');
  EXPECT_TRUE(DirectoryExists(b));
  std::string na = leaf(a), nb = leaf(b);
  EXPECT_EQ(na.size(), 38u);  // "[" + 36 + "]"
  EXPECT_EQ(na.front(), '[');
  EXPECT_EQ(na.back(), ']');
  EXPECT_EQ(na.find_first_of("abcdef"), std::string::npos);  // upper-case digits
  // Another process cannot open the locks.
  for (const std::string& n : {na, nb}) {
    std::u16string lock = tree_.internal(root(n + ".lock"));
    pid_t child = fork();
    if (child == 0) {
      os::Handle h = os::createFile(lock, os::GENERIC_READ, 7, os::OPEN_EXISTING, 0);
      _exit(h == os::INVALID_HANDLE_VALUE && os::getLastError() == os::ERROR_SHARING_VIOLATION ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << n;
  }
  // The unit end releases both.
  DoneTempFolders();
  EXPECT_FALSE(tree_.exists(root(na)));
  EXPECT_FALSE(tree_.exists(root(na + ".lock")));
  EXPECT_FALSE(tree_.exists(root(nb)));
}

TEST_F(TempFoldersTest, ReleaseWithoutLock) {
  GetTempRoot();
  tree_.write(root("[R]/f"), "x");
  EXPECT_TRUE(ReleaseTempFolder(tree_.internal(root("[R]")) + u"\\", nullptr));
  EXPECT_FALSE(tree_.exists(root("[R]")));
  EXPECT_FALSE(ReleaseTempFolder(tree_.internal(root("[R]")), nullptr));
}

namespace {
// A file system on which no work folder can be created.
class TNoFoldersAPI : public TFileAPI {
 public:
  int Calls = 0;
  bool CreateDirectory(const std::u16string& path, const void* sa) override {
    if (path.find(u'[') != std::u16string::npos) {
      ++Calls;
      os::setLastError(os::ERROR_ACCESS_DENIED);
      return false;
    }
    return TFileAPI::CreateDirectory(path, sa);
  }
};
}  // namespace

TEST_F(TempFoldersTest, CreationGivesUpWithAnEmptyResult) {
  auto* api = new TNoFoldersAPI();
  TFileAPI* saved = FileApiClass;
  FileApiClass = api;
  EXPECT_EQ(CreateTempFolder(true), u"");
  EXPECT_EQ(api->Calls, 16);
  FileApiClass = saved;
  api->Free();
  // Nothing was left behind: no folder, no lock file.
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(tree_.path(root()))) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 0);
}

TEST_F(TempFoldersTest, ARootOfAnotherUserIsNotUsed) {
  if (!qeltest::runningAsRoot()) GTEST_SKIP() << "making a folder of another user needs root";
  tree_.mkdir(root());
  ASSERT_EQ(chown(tree_.path(root()).c_str(), 65534, 65534), 0);
  try {
    GetTempRoot();
    FAIL() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message().substr(0, 25), u"VendorTemp Create Error: ");
  }
}

TEST_F(TempFoldersTest, AReadOnlyRootGivesAnEmptyResult) {
  if (qeltest::runningAsRoot()) GTEST_SKIP() << "root writes into read-only folders";
  GetTempRoot();
  ASSERT_EQ(chmod(tree_.path(root()).c_str(), 0500), 0);
  EXPECT_EQ(CreateTempFolder(false), u"");
  chmod(tree_.path(root()).c_str(), 0700);
}
