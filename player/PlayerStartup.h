// The start-up services the show locator relies on: the colour-management
// settings taken from the command line, and the choice of the file a show
// is looked for in.
#pragma once

#include <string>

#include "foundation/kvCommandLine.h"

namespace player {

// Stores the monitor's profile path in the locator's global, then reads the
// switches "noicc" and "icc" (from commands, or the program's command line
// when none is given) into the locator's colour settings.
void SetupColorProfile(foundation::TCommandsStorage* Commands = nullptr);

// The file OpenShow is handed for a name: the previewed project's
// executable name and names ending ".exe" stand for themselves (the show is
// appended to the executable); a ".app" bundle gives its
// "Contents\Resources\slideshow.dat", or the name with ".qlshow"; any other
// name is returned as it is, which on Linux, where the player has no
// extension, means the container appended to the player.
std::u16string LocateShowFile(const std::u16string& ExeName);

// Lets the show locator refuse an embedded colour table whose converted
// image did not decode (its substitute has the right size but no data).
void InstallEmbeddedTableCheck();
void RemoveEmbeddedTableCheck();

// Lets the openers refuse a show the player cannot start (no slides, a
// length of 0, a time table the show source refuses), with the reason as
// the open error.
void InstallShowPlayCheck();
void RemoveShowPlayCheck();

}  // namespace player
