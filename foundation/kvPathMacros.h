// Path macros ("%APPDATA%\Styles"), relative paths against the program's
// folder, and the special folders the macros and the temporary work folders
// rest on.
#pragma once

#include <string>

#include "foundation/kvFileUtils.h"

namespace foundation {

// Shell folder numbers.
inline constexpr int CSIDL_WINDOWS = 0x24;
inline constexpr int CSIDL_COMMON_APPDATA = 0x23;
inline constexpr int CSIDL_LOCAL_APPDATA = 0x1C;
inline constexpr int CSIDL_APPDATA = 0x1A;

// The value of one macro token ("%TEMP%" or "TEMP"); empty for "%", an empty
// token, or a name neither in the table nor set in the environment. The
// value gets (trailing set) or loses a final "\".
std::u16string ExpandPathMacros(const std::u16string& token, bool trailingBackslash);

// Finds the next "%NAME%" token from position (1-based, below 1 counts as 1).
// With anywhere the scan moves to the next "%" that is not the text's last
// character; without it only a token at position 1 is accepted. True with
// the token (both "%" kept, case-folded when fold is set) and position just
// after it; without a closing "%" the position goes past the end and the
// result is false.
bool NextPathMacro(const std::u16string& text, int& position, std::u16string& token, bool fold, bool anywhere);

// Replaces every token (only one at the start when startOnly) by its value;
// tokens without value stay. True when at least one was replaced.
bool ExpandPathMacrosInText(std::u16string& text, bool startOnly);

// Macros expanded, then resolved against ProgramFolder.
void ExpandPath(std::u16string& path);
std::u16string GetExpandedPath(const std::u16string& path);

// The path resolved against base: leading "..\" groups cut folders off the
// base, a single leading "\" is relative to the base too, a path with a
// drive prefix stays. A separator other than "\" is turned into "\" first.
std::u16string ResolveRelativePath(const std::u16string& base, const std::u16string& path, char16_t separator);
std::u16string ExpandRelativePath(const std::u16string& path, char16_t separator);

// A copy with every oldChar replaced; false (result untouched) when oldChar
// does not occur.
bool ReplaceChar(const std::u16string& text, char16_t newChar, char16_t oldChar, std::u16string& result);

// Only a drive or UNC prefix, optionally followed by one "\".
bool IsRootPath(const std::u16string& path);

// Adds a final "\" (flag set) or removes it (flag clear); empty stays empty.
void SetTrailingBackslash(std::u16string& path, bool flag);

std::u16string GetTempFolder(bool trailingBackslash);
std::u16string GetWindowsFolder(bool trailingBackslash);
// kind 0 common, 1 local, 2 roaming application data.
std::u16string GetAppDataFolder(int kind, bool trailingBackslash);
std::u16string GetSpecialFolder(int folderNumber);

}  // namespace foundation
