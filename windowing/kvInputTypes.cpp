#include "windowing/kvInputTypes.h"

#include <array>

#include "foundation/kpExceptions.h"
#include "foundation/kvCaseFolding.h"

namespace windowing {

namespace {

struct TKeyName {
  std::u16string Name, Alias;
};
std::array<TKeyName, 256>* g_table = nullptr;

std::u16string Lower(const std::u16string& s) { return s.empty() ? s : foundation::FoldCase(s); }

std::u16string DisplayForm(const std::u16string& name) {
  const size_t u = name.find(u'_');
  if (u == std::u16string::npos) return name.substr(0, 1) + Lower(name.substr(1));
  std::u16string out = name.substr(0, 1) + Lower(name.substr(1, u - 1));
  if (u + 1 < name.size()) out += name.substr(u + 1, 1) + Lower(name.substr(u + 2));
  return out;
}

void Reg(int32_t code, const char16_t* name, const char16_t* alias = u"") { RegisterKeyName(code, name, alias); }

void BuildTable() {
  g_table = new std::array<TKeyName, 256>;
  Reg(3, u"BREAK");
  Reg(8, u"BACK_SPACE", u"BkSpc");
  Reg(9, u"TAB");
  Reg(12, u"CLEAR");
  Reg(13, u"ENTER");
  Reg(16, u"SHIFT");
  Reg(17, u"CONTROL", u"Ctrl");
  Reg(18, u"MENU", u"Alt");
  Reg(19, u"PAUSE");
  Reg(20, u"CAPS_LOCK", u"Caps");
  Reg(21, u"KANA");
  Reg(21, u"HANGUL");
  Reg(23, u"JUNJA");
  Reg(24, u"FINAL");
  Reg(25, u"HANJA");
  Reg(25, u"KANJI");
  Reg(28, u"CONVERT");
  Reg(29, u"NONCONVERT");
  Reg(30, u"ACCEPT");
  Reg(31, u"MODECHANGE");
  Reg(27, u"ESCAPE", u"Esc");
  Reg(32, u"SPACE");
  Reg(33, u"PAGE_UP", u"PgUp");
  Reg(34, u"PAGE_DOWN", u"PgDn");
  Reg(35, u"END");
  Reg(36, u"HOME");
  Reg(37, u"LEFT");
  Reg(38, u"UP");
  Reg(39, u"RIGHT");
  Reg(40, u"DOWN");
  Reg(41, u"SELECT");
  Reg(42, u"PRINT");
  Reg(43, u"EXECUTE");
  Reg(44, u"SNAPSHOT", u"PrnScr");
  Reg(45, u"INSERT", u"Ins");
  Reg(46, u"DELETE", u"Del");
  Reg(47, u"HELP");
  for (int i = 0; i <= 9; ++i) {
    const std::u16string d(1, static_cast<char16_t>(u'0' + i));
    RegisterKeyName(96 + i, u"NUMPAD" + d, u"Num" + d);
  }
  Reg(106, u"MULTIPLY", u"Mul");
  Reg(107, u"ADD");
  Reg(108, u"SEPARATOR");
  Reg(109, u"SUBTRACT", u"Sub");
  Reg(110, u"DECIMAL");
  Reg(111, u"DIVIDE", u"Div");
  Reg(144, u"NUM_LOCK", u"Num");
  Reg(145, u"SCROLL_LOCK", u"Scroll");
  Reg(91, u"L_WIN");
  Reg(92, u"R_WIN");
  Reg(93, u"APPS", u"Mnu");
  Reg(186, u"SEMICOLON");
  Reg(187, u"PLUS");
  Reg(188, u"COMMA");
  Reg(189, u"MINUS");
  Reg(190, u"PERIOD");
  Reg(191, u"QUESTION_MARK", u"Question");
  Reg(192, u"TILDE");
  Reg(219, u"LEFT_BRACKET");
  Reg(220, u"BACK_SLASH");
  Reg(221, u"RIGHT_BRACKET");
  Reg(222, u"QUOTES");
  for (int i = 0; i <= 9; ++i) RegisterKeyName(48 + i, std::u16string(1, static_cast<char16_t>(u'0' + i)), u"");
  for (int i = 0; i < 26; ++i) RegisterKeyName(65 + i, std::u16string(1, static_cast<char16_t>(u'A' + i)), u"");
  for (int i = 1; i <= 24; ++i) {
    std::u16string n = u"F";
    for (char ch : std::to_string(i)) n += static_cast<char16_t>(ch);
    RegisterKeyName(111 + i, n, u"");
  }
}

}  // namespace

void RegisterKeyName(int32_t code, const std::u16string& name, const std::u16string& alias) {
  if (code < 1 || code > 255 || name.empty()) foundation::QelAssertFail(std::string_view("kvInputTypes: bad key name"));
  if (!g_table) BuildTable();
  (*g_table)[static_cast<size_t>(code)] = TKeyName{DisplayForm(name), alias};
}

std::u16string KeyCodeToName(int32_t code, bool preferAlias) {
  if (!g_table) BuildTable();
  if (code >= 0 && code < 256) {
    const TKeyName& k = (*g_table)[static_cast<size_t>(code)];
    if (preferAlias && !k.Alias.empty()) return k.Alias;
    if (!k.Name.empty()) return k.Name;
  }
  static const char16_t kHex[] = u"0123456789ABCDEF";
  const uint32_t v = static_cast<uint32_t>(code) & 0xFF;
  return std::u16string{u'#', kHex[v >> 4], kHex[v & 15]};
}

std::u16string ShortcutToText(const TShortcut& s) {
  if (s.Key == 0) return u"";
  std::u16string out;
  static const char16_t* const kMods[4] = {u"Cmd", u"Shift", u"Alt", u"Ctrl"};
  for (int i = 0; i < 4; ++i)
    if (s.Modifiers & (1u << i)) out += std::u16string(kMods[i]) + u"+";
  return out + KeyCodeToName(s.Key, true);
}

void DoneInputTypes() {
  delete g_table;
  g_table = nullptr;
}

}  // namespace windowing
