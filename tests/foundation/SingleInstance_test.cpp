// The single-instance check, across real processes: the test binary is
// copied to a folder of its own and re-executed in a child role.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "foundation/SingleInstance.h"
#include "foundation/kvHashUtils.h"
#include "platform/os/paths.h"
#include "platform/os/process.h"

extern char** environ;

using namespace foundation;
namespace fs = std::filesystem;

namespace {

// A child process of the copied binary with pipes on its stdin and stdout.
struct Child {
  pid_t pid = -1;
  int in = -1;   // we write
  FILE* out = nullptr;  // we read

  Child(const fs::path& exe, const std::string& role) {
    int toChild[2], fromChild[2];
    EXPECT_EQ(pipe2(toChild, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(fromChild, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    posix_spawn_file_actions_addclose(&actions, toChild[1]);
    posix_spawn_file_actions_addclose(&actions, fromChild[0]);
    std::string exeText = exe.string();
    std::string filter = "--gtest_filter=SingleInstanceChild.DISABLED_Role";
    std::string disabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {exeText.data(), filter.data(), disabled.data(), nullptr};
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) envText.emplace_back(*e);
    envText.push_back("QEL_INSTANCE_ROLE=" + role);
    std::vector<char*> env;
    for (auto& s : envText) env.push_back(s.data());
    env.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid, exeText.c_str(), &actions, nullptr, argv, env.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    in = toChild[1];
    out = fdopen(fromChild[0], "r");
  }
  // The next protocol line ("@@..."), skipping the test framework's output.
  std::string Next() {
    char buf[512];
    while (fgets(buf, sizeof buf, out)) {
      std::string line(buf);
      if (line.rfind("@@", 0) == 0) return line.substr(2, line.find_last_not_of("\r\n") - 1);
    }
    return "<eof>";
  }
  void Say(const std::string& s) { EXPECT_EQ(write(in, s.data(), s.size()), static_cast<ssize_t>(s.size())); }
  int End() {
    if (in >= 0) close(in);
    in = -1;
    int status = 0;
    waitpid(pid, &status, 0);
    fclose(out);
    out = nullptr;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ~Child() {
    if (out) End();
  }
};

void Report(const char* what, bool another) {
  std::cout << "@@" << what << " " << (another ? 1 : 0) << std::endl;
}

}  // namespace

// The child side: "hold" owns the mutex until its stdin closes; "probe"
// checks, waits for a line, and checks again.
TEST(SingleInstanceChild, DISABLED_Role) {
  const char* role = std::getenv("QEL_INSTANCE_ROLE");
  if (!role) GTEST_SKIP() << "runs only as a child of the cross-process test";
  CreateInstanceMutex();
  const std::string r = role;
  if (r == "hold") {
    Report("held", IsAnotherInstanceRunning());
    char c;
    while (read(0, &c, 1) > 0) {
    }
  } else if (r == "probe") {
    Report("probe", IsAnotherInstanceRunning());
    char c;
    while (read(0, &c, 1) > 0 && c != '\n') {
    }
    Report("probe", IsAnotherInstanceRunning());
  }
}

TEST(SingleInstance, ASecondProcessOfTheSameFileSeesTheFirstUntilItEnds) {
  // A copy in a folder of its own, so that parallel test runs do not meet.
  const fs::path dir = fs::temp_directory_path() / ("qel-instance-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path exe = dir / "player";
  fs::copy_file("/proc/self/exe", exe, fs::copy_options::overwrite_existing);
  {
    Child first(exe, "hold");
    EXPECT_EQ(first.Next(), "held 0");
    Child second(exe, "probe");
    EXPECT_EQ(second.Next(), "probe 1");
    EXPECT_EQ(first.End(), 0);
    second.Say("go\n");
    EXPECT_EQ(second.Next(), "probe 0") << "the first one ended: its mutex was abandoned and taken over";
    EXPECT_EQ(second.End(), 0);
  }
  // The copy's lock file goes with the copy.
  const std::string lockFile =
      platform::os::namedMutexPath(InstanceMutexName(platform::os::fromPosixPath(exe.string())));
  EXPECT_TRUE(fs::exists(lockFile));
  fs::remove(lockFile);
  fs::remove_all(dir);
}

TEST(SingleInstance, NamesDifferByFolderAndFileName) {
  const std::string a = InstanceMutexName(u"Z:\\opt\\qel\\player");
  EXPECT_EQ(a, "Instance_ID" + std::to_string(HashUnicodeString(u"Z:\\opt\\qel\\player")) +
                   std::to_string(HashUnicodeString(u"Z:\\opt\\qel")) + std::to_string(HashUnicodeString(u"player")) +
                   "player");
  EXPECT_NE(a, InstanceMutexName(u"Z:\\opt\\other\\player"));
  EXPECT_NE(a, InstanceMutexName(u"Z:\\opt\\qel\\player2"));
  // Outside Latin-1 only the low byte counts for the hashes, but the name keeps the character (8-bit converted).
  const std::string b = InstanceMutexName(u"Z:\\s\\\u0141x");
  EXPECT_EQ(b.rfind("Instance_ID", 0), 0u);
  EXPECT_EQ(HashUnicodeString(u"\u0141x"), HashUnicodeString(u"\u0041x"));
}

TEST(SingleInstance, ASingleInstanceIsAlone) {
  CreateInstanceMutex();
  EXPECT_FALSE(InstanceMutexNameOfProcess().empty());
  EXPECT_FALSE(IsAnotherInstanceRunning());
  EXPECT_FALSE(IsAnotherInstanceRunning()) << "its own mutex again";
}
