#include "player/PlayerDialogUtils.h"

#include <gtest/gtest.h>

#include <vector>

#include "foundation/kvFileUtils.h"
#include "foundation/kvStream.h"
#include "foundation/kvFileStream.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvBitmapLoader.h"
#include "imaging/kvPixelFormat.h"
#include "tests/imaging/ImagingTestEnv.h"
#include "tests/player/PlayerShellFakes.h"
#include "tests/player/PlayerTestIni.h"

using foundation::MakeRef;
using foundation::TRef;
using playertest::FakeOwner;
using playertest::IniOf;
using playertest::OpenCall;
using playertest::ShellFakes;
using Texts = std::vector<std::u16string>;

namespace {

std::string N(const std::u16string& s) { return std::string(s.begin(), s.end()); }

}  // namespace

TEST(PlayerDialogUtils, SplittingTextsIntoCommands) {
  struct Case {
    std::u16string text;
    Texts commands;
  };
  const Case cases[] = {
      {u"notepad readme.txt", {u"notepad readme.txt"}},
      {u" calc ", {u" calc "}},  // no comma: the text as it stands
      {u"a.exe, b.exe", {u"a.exe", u"b.exe"}},
      {u"  a.exe  ,b.exe x ", {u"a.exe", u"b.exe x"}},
      {u"\"my,prog.exe\" x", {u"\"my,prog.exe\" x"}},  // a quoted comma stays
      {u"\"c:\\a,b\\p.exe\" 1, q.exe", {u"\"c:\\a,b\\p.exe\" 1", u"q.exe"}},
      {u"a,,b", {u"a", u"", u"b"}},
      {u"a, \"b,c", {u"a", u"\"b,c"}},  // an unclosed quote keeps the rest together
  };
  for (const Case& c : cases) EXPECT_EQ(player::SplitCommands(c.text), c.commands) << N(c.text);
}

TEST(PlayerDialogUtils, CommandWordsAndTheirTest) {
  struct Case {
    std::u16string command, word;
    bool allowed;
  };
  const Case cases[] = {
      {u"notepad readme.txt", u"notepad", true},
      {u"del readme.txt", u"del", false},
      {u"DEL.EXE readme.txt", u"del", false},
      {u"C:\\WINDOWS\\system32\\CMD.EXE /c dir", u"cmd", false},
      {u"/usr/bin/start x", u"start", false},
      {u"notepad > out.txt", u">", false},  // redirection anywhere
      {u"calc>x", u">", false},
      {u"@format c:", u"format", false},
      {u" \tFoRmAt", u"format", false},
      {u"r|e\"n\" a b", u"ren", false},  // "@", '"' and "|" are removed before the word is taken
      {u"\"C:\\Program Files\\tool.exe\" /s", u"tool", true},  // quoted blanks do not end the word
      {u"\"C:\\del files\\x.exe\"", u"x", true},
      {u"startup.exe", u"startup", true},
      {u"typewriter", u"typewriter", true},
      {u"", u"", true},
      {u"x.y.z", u"x", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(player::NormaliseCommandWord(c.command), c.word) << N(c.command);
    EXPECT_EQ(player::IsAllowedCommand(c.command), c.allowed) << N(c.command);
  }
}

TEST(PlayerDialogUtils, SplittingACommandIntoFileAndParameters) {
  struct Case {
    std::u16string command, file, parameters;
  };
  const Case cases[] = {
      {u"notepad readme.txt", u"notepad", u"readme.txt"},
      {u"\"C:\\Program Files\\app.exe\" /switch", u"\"C:\\Program Files\\app.exe\"", u"/switch"},
      {u"prog \"my file.txt\"", u"prog", u"\"my file.txt\""},
      {u"calc", u"calc", u""},
      {u"\"C:\\x y\\p.exe\"", u"\"C:\\x y\\p.exe\"", u""},
      {u"prog  a  b ", u"prog", u"a  b"},
      {u"prog\"x\"", u"prog", u"\"x\""},  // a quote after the first character splits
  };
  for (const Case& c : cases) {
    std::u16string file, parameters;
    player::SplitFileAndParams(c.command, file, parameters);
    EXPECT_EQ(file, c.file) << N(c.command);
    EXPECT_EQ(parameters, c.parameters) << N(c.command);
  }
}

TEST(PlayerDialogUtils, RunningCommandsGivesTheOpenerExactArguments) {
  struct Case {
    std::u16string text;
    std::vector<OpenCall> calls;
  };
  const Case cases[] = {
      {u"notepad readme.txt", {{u"", u"notepad", u"readme.txt", u"", 5}}},
      {u"\"C:\\Program Files\\app.exe\" /switch", {{u"", u"\"C:\\Program Files\\app.exe\"", u"/switch", u"", 5}}},
      {u"a.exe, b.exe 1", {{u"", u"a.exe", u"", u"", 5}, {u"", u"b.exe", u"1", u"", 5}}},
      {u"\"x,y.exe\"", {{u"", u"\"x,y.exe\"", u"", u"", 5}}},
      {u"a.exe, , b.exe", {{u"", u"a.exe", u"", u"", 5}, {u"", u"b.exe", u"", u"", 5}}},  // empty commands skipped
  };
  for (const Case& c : cases) {
    ShellFakes fakes;
    auto owner = MakeRef<FakeOwner>();
    player::RunCommandLine(owner.Get(), c.text, u"Z:\\show\\");
    EXPECT_EQ(fakes.opens, c.calls) << N(c.text);
    EXPECT_TRUE(fakes.boxes.empty());
    EXPECT_EQ(owner->log, (std::vector<std::string>{"inactive"}));
  }
}

TEST(PlayerDialogUtils, ProhibitedCommandsRunNothingAndSayWhy) {
  for (const std::u16string text : {u"del readme.txt", u"DEL.EXE readme.txt", u"notepad a.txt, del b.txt",
                                    u"notepad > out.txt", u"calc, \"C:\\WINDOWS\\system32\\CMD.EXE\" /c x"}) {
    ShellFakes fakes;
    auto owner = MakeRef<FakeOwner>();
    player::RunCommandLine(owner.Get(), text, u"Z:\\show");
    EXPECT_TRUE(fakes.opens.empty()) << N(text);
    ASSERT_EQ(fakes.boxes.size(), 1u) << N(text);
    EXPECT_EQ(fakes.boxes[0].owner, owner.Get());
    EXPECT_EQ(fakes.boxes[0].text, u"Command line contains prohibited command and will not be performed.");
    EXPECT_EQ(fakes.boxes[0].caption, u"");
    EXPECT_EQ(fakes.boxes[0].type, player::mbOk);
    EXPECT_TRUE(owner->log.empty());  // nothing ran, so the caption stays active
  }
}

TEST(PlayerDialogUtils, NotFoundRetries) {
  struct Case {
    std::u16string text, folder;
    std::vector<int32_t> results;
    std::vector<OpenCall> calls;
  };
  const Case cases[] = {
      // With parameters: once more without the enclosing quotes.
      {u"\"C:\\Apps\\tool.exe\" \"in file.txt\"",
       u"Z:\\show\\",
       {2},
       {{u"", u"\"C:\\Apps\\tool.exe\"", u"\"in file.txt\"", u"", 5}, {u"", u"C:\\Apps\\tool.exe", u"in file.txt", u"", 5}}},
      // Other failures end the command.
      {u"tool.exe x", u"Z:\\show\\", {5}, {{u"", u"tool.exe", u"x", u"", 5}}},
      {u"tool.exe x", u"Z:\\show\\", {3, 2}, {{u"", u"tool.exe", u"x", u"", 5}, {u"", u"tool.exe", u"x", u"", 5}}},
      // Without parameters: the file name in the show's folder, then the folder joined with the file.
      {u"\"docs\\a b.pdf\"",
       u"Z:\\show\\",
       {2, 3, 33},
       {{u"", u"\"docs\\a b.pdf\"", u"", u"", 5}, {u"", u"a b.pdf", u"", u"Z:\\show\\", 5},
        {u"", u"Z:\\show\\docs\\a b.pdf", u"", u"", 5}}},
      {u"report.pdf", u"Z:\\show", {3, 2}, {{u"", u"report.pdf", u"", u"", 5}, {u"", u"report.pdf", u"", u"Z:\\show", 5},
                                            {u"", u"Z:\\show\\report.pdf", u"", u"", 5}}},
      {u"report.pdf", u"Z:\\show", {2, 33}, {{u"", u"report.pdf", u"", u"", 5}, {u"", u"report.pdf", u"", u"Z:\\show", 5}}},
  };
  for (const Case& c : cases) {
    ShellFakes fakes;
    fakes.results.assign(c.results.begin(), c.results.end());
    player::RunCommandLine(nullptr, c.text, c.folder);
    EXPECT_EQ(fakes.opens, c.calls) << N(c.text);
  }
}

TEST(PlayerDialogUtils, AddressesOpenWholeAsOneDocument) {
  for (const std::u16string address : {u"https://example.com/start", u"https://maps.example.com/@48.8,2.3,15z",
                                       u"https://example.com/format.html", u"mailto:a@example.com,b@example.com"}) {
    ShellFakes fakes;
    auto owner = MakeRef<FakeOwner>();
    EXPECT_EQ(player::OpenAddress(owner.Get(), address), 33);
    EXPECT_EQ(fakes.opens, (std::vector<OpenCall>{{u"", address, u"", u"", 5}})) << N(address);
    EXPECT_TRUE(fakes.boxes.empty());
  }
}

TEST(PlayerDialogUtils, TopmostWindowStepsBackWhileAProgramStarts) {
  ShellFakes fakes;
  auto owner = MakeRef<FakeOwner>();
  owner->topmost = true;
  fakes.results = {42, 2};
  EXPECT_EQ(player::ShellRun(owner.Get(), u"", u"a.exe", u"", u"", 5), 42);
  EXPECT_EQ(owner->log, (std::vector<std::string>{"not topmost"}));
  owner->topmost = true;
  owner->log.clear();
  EXPECT_EQ(player::ShellRun(owner.Get(), u"", u"b.exe", u"", u"", 5), 2);
  EXPECT_EQ(owner->log, (std::vector<std::string>{"not topmost", "topmost"}));
  // A window that is not topmost is left alone.
  owner->topmost = false;
  owner->log.clear();
  player::ShellRun(owner.Get(), u"", u"c.exe", u"", u"", 5);
  EXPECT_TRUE(owner->log.empty());
}

TEST(PlayerDialogUtils, PrintingWritesABmpAndPrintsIt) {
  ShellFakes fakes;
  EXPECT_EQ(player::PrintFile(u"Z:\\x.bmp"), 33);
  EXPECT_EQ(fakes.opens, (std::vector<OpenCall>{{u"print", u"Z:\\x.bmp", u"", u"", 1}}));
  fakes.opens.clear();

  EXPECT_FALSE(player::PrintSlide(nullptr, nullptr, 0));
  EXPECT_TRUE(fakes.opens.empty());

  auto* bitmap = new imaging::TDirectBitmap(3, 2, imaging::pfR8G8B8);
  bitmap->Row24(0)[2] = imaging::TFColor{1, 2, 3};
  auto image = TRef<imaging::TImage>::Adopt(imaging::WrapBitmapAsImage(bitmap, true, u"snapshot"));
  ASSERT_TRUE(image);
  ASSERT_TRUE(player::PrintSlide(nullptr, image.Get(), 5));
  ASSERT_TRUE(player::PrintSlide(nullptr, image.Get(), 6));
  ASSERT_EQ(fakes.opens.size(), 2u);
  for (const OpenCall& c : fakes.opens) {
    EXPECT_EQ(c.verb, u"print");
    EXPECT_EQ(c.show, 1);
    // <folder>\{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.bmp
    const std::u16string name = foundation::ExtractFileName(c.file);
    ASSERT_EQ(name.size(), 42u) << N(c.file);
    EXPECT_EQ(name.front(), u'{');
    EXPECT_EQ(name.substr(37), u"}.bmp");
    auto s = TRef<foundation::TStream>::Adopt(foundation::OpenFileStreamRead(c.file));
    ASSERT_TRUE(s) << N(c.file);
    auto back = TRef<imaging::TDirectBitmap>::Adopt(imaging::LoadBmpStream(s.Get(), true));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Width, 3);
    EXPECT_EQ(back->Row24(0)[2].R, 3);
  }
  // One print folder for the process, a new name per print.
  EXPECT_EQ(fakes.opens[0].file.substr(0, fakes.opens[0].file.size() - 42),
            fakes.opens[1].file.substr(0, fakes.opens[1].file.size() - 42));
  EXPECT_NE(fakes.opens[0].file, fakes.opens[1].file);
}

TEST(PlayerDialogUtils, PasswordGate) {
  struct Case {
    std::string project;
    bool answer;
    std::u16string typed;
    bool refused;
    bool asked;
  };
  const Case cases[] = {
      {"[Main]\nopt_usepass=0\nopt_pass=x\n", true, u"", false, false},
      {"[Main]\nopt_scr_width=5\n", true, u"", false, false},
      {"[Main]\nopt_usepass=1\nopt_pass=Secret\n", false, u"Secret", true, true},  // Cancel
      {"[Main]\nopt_usepass=1\nopt_pass=Secret\n", true, u"Secret", false, true},
      {"[Main]\nopt_usepass=1\nopt_pass=Secret\n", true, u"secret", true, true},
      {"[Main]\nopt_usepass=1\nopt_pass=Secret\n", true, u"Secret ", true, true},
      {"[Main]\nopt_usepass=1\nopt_pass=\n", true, u"", false, true},
      // No password given: nothing typed opens the show.
      {"[Main]\nopt_usepass=1\n", true, u"", true, true},
      {"[Main]\nopt_usepass=1\n", true, u"anything", true, true},
  };
  for (const Case& c : cases) {
    ShellFakes fakes;
    fakes.inputAnswer = c.answer;
    fakes.typed = c.typed;
    auto ini = IniOf(c.project);
    ASSERT_TRUE(ini);
    EXPECT_EQ(player::PasswordPrompt(nullptr, ini.Get()), c.refused) << c.project << N(c.typed);
    EXPECT_EQ(player::AccessGateForProject(nullptr, ini.Get()), !c.refused) << c.project;
    EXPECT_EQ(!fakes.requests.empty(), c.asked) << c.project;
  }
  ShellFakes fakes;
  EXPECT_TRUE(player::PasswordPrompt(nullptr, nullptr));
  EXPECT_FALSE(player::AccessGateForProject(nullptr, nullptr));
  EXPECT_FALSE(player::AccessGate(nullptr, nullptr));
  EXPECT_TRUE(fakes.requests.empty());
}

TEST(PlayerDialogUtils, PasswordPromptTexts) {
  ShellFakes fakes;
  fakes.inputAnswer = false;
  auto plain = IniOf("[Main]\nopt_usepass=1\nopt_pass=a\n");
  player::PasswordPrompt(nullptr, plain.Get());
  auto custom = IniOf(
      "[Main]\nopt_usepass=1\nopt_pass=a\nopt_lng_password_caption=Kennwort\nopt_lng_password_label=Bitte:\n"
      "opt_lng_button_ok=Ja\nopt_lng_button_cancel=Nein\n");
  player::PasswordPrompt(nullptr, custom.Get());
  ASSERT_EQ(fakes.requests.size(), 2u);
  const player::TInputBoxRequest& d = fakes.requests[0];
  EXPECT_TRUE(d.Password);
  EXPECT_EQ(d.Caption, u"Password required");
  EXPECT_EQ(d.Label, u"Enter password:");
  EXPECT_EQ(d.OkCaption, u"OK");
  EXPECT_EQ(d.CancelCaption, u"Cancel");
  EXPECT_EQ(d.Text, u"");
  const player::TInputBoxRequest& k = fakes.requests[1];
  EXPECT_EQ(k.Caption, u"Kennwort");
  EXPECT_EQ(k.Label, u"Bitte:");
  EXPECT_EQ(k.OkCaption, u"Ja");
  EXPECT_EQ(k.CancelCaption, u"Nein");
}

TEST(PlayerDialogUtils, WithoutHooksNothingOpensAndTheGateStaysShut) {
  // The defaults: no opener (no association), the message on stderr, no input box.
  auto prevOpener = player::SetShellOpener(nullptr);
  auto prevBox = player::SetSystemMessageBox(nullptr);
  auto prevInput = player::SetInputBoxHook(nullptr);
  EXPECT_EQ(player::ShellRun(nullptr, u"", u"a.exe", u"", u"", 5), player::seNoAssociation);
  EXPECT_EQ(player::OpenAddress(nullptr, u"https://example.com"), player::seNoAssociation);
  testing::internal::CaptureStderr();
  player::RunCommandLine(nullptr, u"del x", u"");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Command line contains prohibited command and will not be performed.\n");
  auto ini = IniOf("[Main]\nopt_usepass=1\nopt_pass=\n");
  EXPECT_TRUE(player::PasswordPrompt(nullptr, ini.Get()));
  player::SetShellOpener(prevOpener);
  player::SetSystemMessageBox(prevBox);
  player::SetInputBoxHook(prevInput);
}
