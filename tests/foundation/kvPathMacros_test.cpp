// Path macros, relative paths and the special folders.
#include "foundation/kvPathMacros.h"

#include <stdlib.h>
#include <unistd.h>

#include <map>

#include <gtest/gtest.h>

#include "tests/support/TempTree.h"

using namespace foundation;
using qeltest::TempTree;
using qeltest::narrow;

namespace {

// Sets environment variables for one test and restores them afterwards.
class EnvScope {
 public:
  void set(const char* name, const char* value) {
    remember(name);
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvScope() {
    for (auto& [name, value] : saved_) {
      if (value.second) {
        setenv(name.c_str(), value.first.c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

 private:
  void remember(const char* name) {
    if (saved_.count(name)) return;
    const char* v = getenv(name);
    saved_[name] = {v ? v : "", v != nullptr};
  }
  std::map<std::string, std::pair<std::string, bool>> saved_;
};

class PathMacrosTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitFileApiClass();
    savedFile_ = ProgramFileName;
    savedFolder_ = ProgramFolder;
    ProgramFileName = u"Z:\\opt\\qel\\player.bin";
    ProgramFolder = u"Z:\\opt\\qel\\";
  }
  void TearDown() override {
    ProgramFileName = savedFile_;
    ProgramFolder = savedFolder_;
    DoneFileApiClass();
  }
  std::u16string savedFile_, savedFolder_;
};

}  // namespace

TEST(PathMacros, ResolveRelativePath) {
  struct Row {
    std::u16string base, path;
    char16_t sep;
    std::u16string out;
  } rows[] = {
      {u"D:\\a\\b\\", u"..\\c", u'\\', u"D:\\a\\c"},
      {u"D:\\a\\b\\", u"..\\..\\..\\c", u'\\', u"c"},
      {u"D:\\a\\b\\", u"\\c", u'\\', u"D:\\a\\b\\c"},
      {u"D:\\a\\b\\", u"E:\\c", u'\\', u"E:\\c"},
      {u"D:\\a\\b\\", u"../c", u'/', u"D:\\a\\c"},
      {u"D:\\a\\b\\", u"..\\", u'\\', u"D:\\a"},
      {u"D:\\a\\b", u"x\\y", u'\\', u"D:\\a\\b\\x\\y"},
      {u"D:\\a\\b\\", u"", u'\\', u"D:\\a\\b"},
      {u"D:\\a\\b\\", u"c", u'/', u"D:\\a\\b\\c"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(ResolveRelativePath(r.base, r.path, r.sep), r.out) << narrow(r.base) << " + " << narrow(r.path);
  std::u16string result = u"untouched";
  EXPECT_FALSE(ReplaceChar(u"abc", u'x', u'/', result));
  EXPECT_EQ(result, u"untouched");
  EXPECT_TRUE(ReplaceChar(u"a/b/c", u'\\', u'/', result));
  EXPECT_EQ(result, u"a\\b\\c");
}

TEST(PathMacros, RootsAndTrailingBackslash) {
  EXPECT_TRUE(IsRootPath(u"D:\\"));
  EXPECT_TRUE(IsRootPath(u"D:"));
  EXPECT_FALSE(IsRootPath(u"D:\\x"));
  EXPECT_TRUE(IsRootPath(u"\\\\srv\\share"));
  EXPECT_TRUE(IsRootPath(u"\\\\srv\\share\\"));
  EXPECT_FALSE(IsRootPath(u"\\x"));
  std::u16string p = u"a";
  SetTrailingBackslash(p, true);
  EXPECT_EQ(p, u"a\\");
  SetTrailingBackslash(p, false);
  EXPECT_EQ(p, u"a");
  p.clear();
  SetTrailingBackslash(p, true);
  EXPECT_EQ(p, u"");
}

TEST(PathMacros, NextPathMacro) {
  int pos = 1;
  std::u16string token;
  EXPECT_FALSE(NextPathMacro(u"x%TEMP%", pos, token, false, false));
  pos = 0;
  ASSERT_TRUE(NextPathMacro(u"x%Temp%\\y", pos, token, true, true));
  EXPECT_EQ(token, u"%temp%");
  EXPECT_EQ(pos, 8);
  pos = 1;
  EXPECT_FALSE(NextPathMacro(u"100% sure", pos, token, false, true));
  EXPECT_EQ(pos, 10);
  pos = 1;
  EXPECT_FALSE(NextPathMacro(u"abc%", pos, token, false, true));  // a final "%" opens nothing
  pos = 1;
  ASSERT_TRUE(NextPathMacro(u"%A%", pos, token, false, false));
  EXPECT_EQ(token, u"%A%");
  EXPECT_EQ(pos, 4);
}

TEST_F(PathMacrosTest, MacroValues) {
  EnvScope env;
  env.set("XDG_CONFIG_HOME", "/home/ann/.config");
  env.set("XDG_DATA_HOME", "/home/ann/.local/share");
  env.set("XDG_DATA_DIRS", "/usr/share:/usr/local/share");
  env.set("QEL_MACRO_VAR", "v");
  EXPECT_EQ(ExpandPathMacros(u"TARGETOS", true), u"Win64\\");
  EXPECT_EQ(ExpandPathMacros(u"%targetos%", false), u"Win64");
  EXPECT_EQ(ExpandPathMacros(u"%APPNAME%", false), u"player");
  EXPECT_EQ(ExpandPathMacros(u"%APPPATH%", true), u"Z:\\opt\\qel\\");
  EXPECT_EQ(ExpandPathMacros(u"%APPPATH%", false), u"Z:\\opt\\qel");
  EXPECT_EQ(ExpandPathMacros(u"%EXENAME%", true), u"Z:\\opt\\qel\\player.bin\\");
  EXPECT_EQ(ExpandPathMacros(u"%APPDATA%", false), u"Z:\\home\\ann\\.config");
  EXPECT_EQ(ExpandPathMacros(u"%LOCALAPPDATA%", true), u"Z:\\home\\ann\\.local\\share\\");
  EXPECT_EQ(ExpandPathMacros(u"%PROGRAMDATA%", false), u"Z:\\usr\\share");
  EXPECT_EQ(ExpandPathMacros(u"%SYSTEMROOT%", false), u"C:\\Windows");
  EXPECT_EQ(ExpandPathMacros(u"QEL_MACRO_VAR", false), u"v");
  EXPECT_EQ(ExpandPathMacros(u"%", false), u"");
  EXPECT_EQ(ExpandPathMacros(u"", true), u"");
  EXPECT_EQ(ExpandPathMacros(u"%NOSUCHVAR%", true), u"");

  std::u16string text = u"%APPDATA%\\Styles";
  EXPECT_TRUE(ExpandPathMacrosInText(text, false));
  EXPECT_EQ(text, u"Z:\\home\\ann\\.config\\Styles");
  text = u"%NOSUCHVAR%\\x";
  EXPECT_FALSE(ExpandPathMacrosInText(text, false));
  EXPECT_EQ(text, u"%NOSUCHVAR%\\x");
  text = u"100% sure";
  EXPECT_FALSE(ExpandPathMacrosInText(text, false));
  // Unknown tokens are skipped, values are not expanded again, and with
  // startOnly only a leading token counts.
  env.set("QEL_MACRO_VAR", "%TARGETOS%");
  text = u"a\\%NOSUCHVAR%\\%QEL_MACRO_VAR%\\%TARGETOS%";
  EXPECT_TRUE(ExpandPathMacrosInText(text, false));
  EXPECT_EQ(text, u"a\\%NOSUCHVAR%\\%TARGETOS%\\Win64");
  text = u"x\\%TARGETOS%";
  EXPECT_FALSE(ExpandPathMacrosInText(text, true));
  text = u"%TARGETOS%\\%TARGETOS%";
  EXPECT_TRUE(ExpandPathMacrosInText(text, true));
  EXPECT_EQ(text, u"Win64\\%TARGETOS%");

  EXPECT_EQ(GetExpandedPath(u"%TARGETOS%\\lib"), u"Z:\\opt\\qel\\Win64\\lib");
  EXPECT_EQ(GetExpandedPath(u"..\\shared"), u"Z:\\opt\\shared");
  EXPECT_EQ(ExpandRelativePath(u"../x", u'/'), u"Z:\\opt\\x");
}

TEST_F(PathMacrosTest, TempFolderCandidates) {
  TempTree t;
  EnvScope env;
  // TEMP wins when it is an existing folder.
  t.mkdir("temp1");
  env.set("TEMP", t.path("temp1").c_str());
  env.set("TMP", nullptr);
  EXPECT_EQ(GetTempFolder(true), t.internal("temp1") + u"\\");
  EXPECT_EQ(ExpandPathMacros(u"%TEMP%", false), t.internal("temp1"));
  // A missing TEMP folder falls through to TMP.
  t.mkdir("temp2");
  env.set("TEMP", t.path("nothing").c_str());
  env.set("TMP", t.path("temp2").c_str());
  EXPECT_EQ(GetTempFolder(false), t.internal("temp2"));
  // Both unset: the per-user folder under TMPDIR, owner-only.
  env.set("TEMP", nullptr);
  env.set("TMP", nullptr);
  env.set("TMPDIR", t.path().c_str());
  std::u16string perUser = GetTempFolder(false);
  EXPECT_EQ(perUser, t.internal("orvane-" + std::to_string(getuid())));
  EXPECT_TRUE(DirectoryExists(perUser));
  // When that cannot be used either (a file in its place), the program's TEMP
  // subfolder is created.
  t.mkdir("other");
  t.write("other/orvane-" + std::to_string(getuid()), "not a folder");
  env.set("TMPDIR", t.path("other").c_str());
  ProgramFolder = t.internal("prog") + u"\\";
  t.mkdir("prog");
  EXPECT_EQ(GetTempFolder(true), t.internal("prog\\TEMP\\"));
  EXPECT_TRUE(t.exists("prog/TEMP"));
}
