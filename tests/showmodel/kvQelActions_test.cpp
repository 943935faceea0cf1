// Object action texts and their codes.
#include "showmodel/kvQelActions.h"

#include <gtest/gtest.h>

#include "foundation/kpExceptions.h"

namespace {

using showmodel::ParseAction;

TEST(QelActions, WordsArgumentsAndNonsense) {
  struct Row {
    std::u16string text;
    int32_t action, index;
    std::u16string arg;
  } rows[] = {
      {u"exit", 1, 0, u""},
      {u"PrevSlide", 2, 0, u""},
      {u"NextSlide", 3, 0, u""},
      {u" NextSlide", 0, 0, u""},
      {u"nextslide()", 0, 0, u""},
      {u"help", 4, 0, u""},
      {u"pause", 5, 0, u""},
      {u"print", 6, 0, u""},
      {u"gotofirstslide", 7, 0, u""},
      {u"gotoslide(12)", 7, 12, u"12"},
      {u"GotoSlide(x)", 7, -1, u"x"},
      {u"gotoslide()", 7, -1, u""},
      {u"gotoslide(", 7, -1, u""},
      {u"gotoslide(99999999999)", 7, -1, u"99999999999"},
      {u"openwebsite('http://Example.org/A')", 8, 0, u"http://Example.org/A"},
      {u"writeemail(\"a@b.c\")", 9, 0, u"a@b.c"},
      {u"runapp('Notepad.exe')", 10, 0, u"Notepad.exe"},
      {u"runappandexit('a')", 11, 0, u"a"},
      {u"runpresentation('b.exe')", 12, 0, u"b.exe"},
      {u"stop", 13, 0, u""},
      {u"runpresentationandreturn('c.exe')", 14, 0, u"c.exe"},
      {u"opendialog('Info')", 15, 0, u"Info"},
      {u"closedialog", 16, 0, u""},
      {u"saveslide", 17, 0, u""},
      {u"changeprinter", 18, 0, u""},
      {u"runapp(')", 10, 0, u""},
      {u"runapp(", 10, 0, u""},
      {u"runapp('')", 10, 0, u""},
      {u"", 0, 0, u""},
      {u"jump", 0, 0, u""},
  };
  for (const Row& r : rows) {
    const showmodel::TQelActionInfo info = ParseAction(r.text);
    const std::string label = foundation::MessageToUtf8(r.text);
    EXPECT_EQ(info.Action, r.action) << label;
    EXPECT_EQ(info.Index, r.index) << label;
    EXPECT_EQ(info.Text, r.arg) << label;
  }
}

}  // namespace
