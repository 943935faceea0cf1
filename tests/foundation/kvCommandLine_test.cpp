// Splitting the command line into switches and their parameters, with the
// player's own switches.
#include <gtest/gtest.h>

#include <vector>

#include "foundation/kvCommandLine.h"
#include "platform/os/files.h"

using namespace foundation;

namespace {

struct Parsed {
  TRef<TStringList> tokens = MakeRef<TStringList>();
  TRef<TCommandsStorage> storage = MakeRef<TCommandsStorage>(251);
  explicit Parsed(const std::u16string& text) { ParseCommandLine(text, tokens.Get(), storage.Get()); }
  std::vector<std::u16string> Params(const std::u16string& name) {
    std::vector<std::u16string> out;
    TCommand* c = storage->FindCommand(name);
    if (!c) return {u"<none>"};
    for (int32_t i = 0; i < c->GetCount(); ++i) out.push_back(c->GetItem(i)->Text);
    return out;
  }
};

using V = std::vector<std::u16string>;

}  // namespace

TEST(CommandLine, SwitchesCollectTheWordsAfterThem) {
  Parsed p(u"\"Z:\\Program Files\\player\" -LOG -display 2 \"x y\"");
  EXPECT_EQ(p.Params(u""), V{u"Z:\\Program Files\\player"});
  EXPECT_EQ(p.Params(u"log"), V{});
  EXPECT_EQ(p.Params(u"display"), (V{u"2", u"x y"}));
  EXPECT_EQ(p.storage->FindCommand(u"LOG"), nullptr) << "names are looked up exactly";
  EXPECT_EQ(p.tokens->GetCount(), 5);
}

TEST(CommandLine, TokenRules) {
  struct Case {
    const char16_t* text;
    V tokens;
  } cases[] = {
      {u"", {}},
      {u"   \t\r\n ", {}},
      {u"player", {u"player"}},
      {u"a\"b c\"d", {u"ab cd"}},
      {u"a \"open quote runs on", {u"a", u"open quote runs on"}},
      {u"a\x01" u"b\x1F" u"c", {u"a", u"b", u"c"}},
      {u"\"\"", {u""}},
      {u"x \u00E9\u4E2D", {u"x", u"\u00E9\u4E2D"}},
  };
  for (const Case& c : cases) {
    auto tokens = MakeRef<TStringList>();
    SplitCommandLine(c.text, tokens.Get());
    V got;
    for (int32_t i = 0; i < tokens->GetCount(); ++i) got.push_back(tokens->GetString(i));
    EXPECT_EQ(got, c.tokens);
  }
  EXPECT_EQ(DequoteToken(u"xx\"a b\"yy", 2, 5), u"a b");
}

TEST(CommandLine, NamelessSwitchNegativeNumbersAndRepeats) {
  Parsed p(u"player a -slide 3 - b -5 -SLIDE 4 -time -1");
  EXPECT_EQ(p.Params(u""), (V{u"player", u"a", u"b"}));
  EXPECT_EQ(p.Params(u"5"), V{});
  EXPECT_EQ(p.Params(u"slide"), (V{u"3", u"4"}));
  EXPECT_EQ(p.Params(u"time"), V{});
  EXPECT_EQ(p.Params(u"1"), V{});
}

TEST(CommandLine, PlayerSwitches) {
  Parsed p(
      u"player -filelog -noicc -icc Z:\\p.icc -cover -filename show.qelshow -exename Z:\\x -slide 12 "
      u"-time 5000 -display 1 -desktopalign -startup -nomouse");
  for (const char16_t* name : {u"filelog", u"noicc", u"cover", u"desktopalign", u"startup", u"nomouse"})
    EXPECT_EQ(p.Params(name), V{}) << std::string(name, name + std::char_traits<char16_t>::length(name));
  EXPECT_EQ(p.Params(u"icc"), V{u"Z:\\p.icc"});
  EXPECT_EQ(p.Params(u"filename"), V{u"show.qelshow"});
  EXPECT_EQ(p.Params(u"exename"), V{u"Z:\\x"});
  EXPECT_EQ(p.storage->FindCommand(u"slide")->GetItem(0)->AsIntegerDef(1), 12);
  EXPECT_EQ(p.storage->FindCommand(u"time")->GetItem(0)->AsIntegerDef(0), 5000);
  EXPECT_EQ(p.storage->FindCommand(u"display")->GetItem(0)->AsIntegerDef(0), 1);
  EXPECT_EQ(p.storage->FindCommand(u"display")->GetItem(1), nullptr);
  EXPECT_EQ(p.storage->FindCommand(u"log"), nullptr);
}

TEST(CommandLine, IntegerParameters) {
  TCommandItem* abc = new TCommandItem(u"abc");
  TCommandItem* two = new TCommandItem(u"2");
  TCommandItem* neg = new TCommandItem(u"-17");
  TCommandItem* big = new TCommandItem(u"99999999999");
  EXPECT_EQ(abc->AsIntegerDef(-1), -1);
  EXPECT_EQ(two->AsIntegerDef(-1), 2);
  EXPECT_EQ(neg->AsIntegerDef(0), -17);
  EXPECT_EQ(big->AsIntegerDef(7), 7);
  for (TCommandItem* i : {abc, two, neg, big}) i->Free();
}

TEST(CommandLine, TheProgramsOwnCommandLine) {
  InitCommandLine();
  EXPECT_FALSE(CommandLineProgramPath.empty());
  ASSERT_NE(CommandLineCommands(), nullptr);
  TCommand* nameless = FindCommandLineSwitch(u"");
  ASSERT_NE(nameless, nullptr);
  EXPECT_GE(nameless->GetCount(), 1) << "the program path";
  FinalizeCommandLine();
  EXPECT_EQ(FindCommandLineSwitch(u""), nullptr);
}

// The command line the platform rebuilds from the arguments must split back
// into the same words; the splitter drops every double quote, so a word comes
// back without its quotes, and never split or joined with its neighbours.
TEST(CommandLine, RebuiltLineSplitsBackIntoTheSameWords) {
  const std::vector<std::vector<std::u16string>> cases = {
      {u"player", u"plain", u"/s"},
      {u"player", u"two words", u"", u"tab\there", u"line\nbreak"},
      {u"player", u"say \"hi\"", u"x\"y", u"z"},
      {u"player", u"\"", u"\"\"", u"\" \"", u"\"\"\"", u"a\"", u"\"b"},
      {u"player", u"-log\"", u"end\" -x", u"  lead", u"trail  "},
      {u"player", u"caf\u00e9 \u00fc", u"\"open", u"close\"", u"mid\"dle words\" more"},
  };
  for (const auto& words : cases) {
    std::u16string line;
    for (const std::u16string& w : words) platform::os::appendCommandWord(line, w);
    TRef<TStringList> tokens = MakeRef<TStringList>();
    SplitCommandLine(line, tokens.Get());
    ASSERT_EQ(tokens->GetCount(), static_cast<int32_t>(words.size())) << std::string(line.begin(), line.end());
    for (size_t i = 0; i < words.size(); ++i) {
      std::u16string expected;
      for (char16_t c : words[i])
        if (c != u'"') expected += c;
      EXPECT_EQ(tokens->GetString(static_cast<int32_t>(i)), expected) << "word " << i;
    }
  }
}
