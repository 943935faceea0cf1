// Key names and shortcut texts for the keys a show's input mapping uses.
#include <gtest/gtest.h>

#include "foundation/kpExceptions.h"
#include "windowing/kvInputTypes.h"

using namespace windowing;

namespace {

std::string U8(const std::u16string& s) { return std::string(s.begin(), s.end()); }

TEST(KeyNames, NamesAliasesAndUnnamedCodes) {
  const struct {
    int32_t code;
    bool alias;
    const char* text;
  } table[] = {
      {27, false, "Escape"},   {27, true, "Esc"},      {33, false, "PageUp"},    {34, true, "PgDn"},
      {21, false, "Hangul"},   {25, false, "Kanji"},   {8, false, "BackSpace"},  {91, false, "LWin"},
      {20, false, "CapsLock"}, {145, true, "Scroll"},  {65, true, "A"},          {57, false, "9"},
      {112, false, "F1"},      {135, false, "F24"},    {96, true, "Num0"},       {105, false, "Numpad9"},
      {191, false, "QuestionMark"}, {220, false, "BackSlash"}, {32, true, "Space"}, {13, false, "Enter"},
      {255, false, "#FF"},     {0, false, "#00"},      {7, true, "#07"},         {136, false, "#88"},
  };
  for (const auto& row : table) EXPECT_EQ(U8(KeyCodeToName(row.code, row.alias)), row.text) << row.code;
}

TEST(KeyNames, ShortcutTexts) {
  EXPECT_EQ(U8(ShortcutToText(TShortcut{27, 2 | 8})), "Shift+Ctrl+Esc");
  EXPECT_EQ(U8(ShortcutToText(TShortcut{27, 1})), "Cmd+Esc");
  EXPECT_EQ(U8(ShortcutToText(TShortcut{65, 4})), "Alt+A");
  EXPECT_EQ(U8(ShortcutToText(TShortcut{112, 0})), "F1");
  EXPECT_EQ(U8(ShortcutToText(TShortcut{39, 15})), "Cmd+Shift+Alt+Ctrl+Right");
  EXPECT_EQ(U8(ShortcutToText(TShortcut{0, 15})), "");
  EXPECT_EQ(ShiftModifiers(0x7F), 15u);
}

TEST(KeyNames, RegistrationRules) {
  RegisterKeyName(200, u"MEDIA_NEXT", u"Next");
  EXPECT_EQ(U8(KeyCodeToName(200, false)), "MediaNext");
  EXPECT_EQ(U8(KeyCodeToName(200, true)), "Next");
  EXPECT_THROW(RegisterKeyName(0, u"X", u""), foundation::EAssertionFailed);
  EXPECT_THROW(RegisterKeyName(256, u"X", u""), foundation::EAssertionFailed);
  EXPECT_THROW(RegisterKeyName(5, u"", u""), foundation::EAssertionFailed);
  DoneInputTypes();
  EXPECT_EQ(U8(KeyCodeToName(200, false)), "#C8") << "the rebuilt table has only the standard names";
  DoneInputTypes();
}

}  // namespace
