// Names of keys for display: one entry per virtual-key code with a long
// name and an optional short alias, and the text of a keyboard shortcut
// ("Shift+Ctrl+S"). Main thread only; the table is built on first use.
#pragma once

#include <cstdint>
#include <string>

namespace windowing {

struct TShortcut {
  uint16_t Key = 0;
  uint32_t Modifiers = 0;  // 1 Cmd (the Windows key), 2 Shift, 4 Alt, 8 Ctrl
};

// Stores the display form of an upper-case name (ESCAPE -> Escape, PAGE_UP
// -> PageUp) and the alias as given. A code outside 1..255 or an empty name
// is an assertion failure.
void RegisterKeyName(int32_t code, const std::u16string& name, const std::u16string& alias);
std::u16string KeyCodeToName(int32_t code, bool preferAlias);
std::u16string ShortcutToText(const TShortcut& shortcut);
inline uint32_t ShiftModifiers(uint32_t shift) { return shift & 15; }
// Unit end: frees the table.
void DoneInputTypes();

}  // namespace windowing
