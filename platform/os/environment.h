// The environment view and the special folders of the os area. The program
// reads Windows variables (TEMP, APPDATA, ...) and shell folder numbers; this
// view answers them from the Linux environment and the XDG folders, in the
// internal path form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::os {

// Shell folder numbers the program asks for.
inline constexpr int CSIDL_DESKTOP = 0;
inline constexpr int CSIDL_APPDATA = 26;
inline constexpr int CSIDL_LOCAL_APPDATA = 28;
inline constexpr int CSIDL_COMMON_APPDATA = 35;
inline constexpr int CSIDL_WINDOWS = 36;

// A variable of the environment view:
//  - TEMP, TMP: the real variable when set (a POSIX path given in internal
//    form), else the per-user temporary folder;
//  - APPDATA, LOCALAPPDATA, PROGRAMDATA: special folders 26, 28, 35;
//  - SYSTEMROOT, WINDIR: never set;
//  - any other: the real variable, unchanged.
// Nothing when the variable is not set. Names of the view compare without
// regard to ASCII case.
std::optional<std::u16string> getEnvironmentVariable(std::u16string_view name);

// "%NAME%" references replaced by their values from the view; references to
// unset variables (and a lone "%") stay as they are.
std::u16string expandEnvironmentStrings(std::u16string_view text);

// The per-user temporary folder: $TMPDIR (else "/tmp") + "/orvane-<uid>",
// created owner-only (0700). Empty when it cannot be made, or exists but is
// not a folder owned by this user, so nobody else can plant files in it.
std::u16string perUserTempFolder();

// The path of a shell special folder (internal form, no trailing "\"):
// 26 $XDG_CONFIG_HOME else ~/.config; 28 $XDG_DATA_HOME else ~/.local/share;
// 35 the first entry of $XDG_DATA_DIRS else /usr/local/share; 0 the desktop
// named by the user-dirs file, else the home folder; any other: empty.
std::u16string getSpecialFolderPath(int csidl);

}  // namespace platform::os
