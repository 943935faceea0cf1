// Player actions: the codes shared by the key and mouse mapping, the
// navigation panel, the show's object actions, the engine and the main
// form, and the record they are passed in.
#pragma once

#include <cstdint>
#include <string>

namespace player {

enum : int32_t {
  acNone = 0,
  acExit = 1,
  acPrevSlide = 2,
  acNextSlide = 3,
  acHelp = 4,
  acPause = 5,
  acPrint = 6,
  acGotoSlide = 7,  // argument: 1-based slide number (0 the first), or -1 with the slide's name as text
  acOpenWebsite = 8,
  acWriteEmail = 9,
  acRunApp = 10,
  acRunAppAndExit = 11,
  acRunPresentation = 12,
  acStop = 13,
  acRunPresentationAndReturn = 14,
  acOpenDialog = 15,
  acCloseDialog = 16,
  acSaveSlide = 17,      // refused: nothing executes it
  acChangePrinter = 18,  // refused: nothing executes it
  acSeek = 19,           // argument: the position in milliseconds
  acOverNavPanel = 20,   // refused; it only consumes the mouse event
};

struct TPlayerAction {
  int32_t Code = acNone;
  int32_t Argument = 0;
  std::u16string Text;

  bool operator==(const TPlayerAction&) const = default;
};

}  // namespace player
