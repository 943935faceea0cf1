// The action an object of a show carries, written as a short command text
// ("nextslide", "gotoslide(3)", "runapp('notepad')"), parsed into the action
// code the player executes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace showmodel {

// Action codes shared by the key mapping, the navigation bars, object
// actions and the engine.
enum : int32_t {
  acNone = 0,
  acExit = 1,
  acPrevSlide = 2,
  acNextSlide = 3,
  acHelp = 4,
  acPause = 5,
  acPrint = 6,
  acGotoSlide = 7,
  acOpenWebSite = 8,
  acWriteEmail = 9,
  acRunApp = 10,
  acRunAppAndExit = 11,
  acRunPresentation = 12,
  acStop = 13,
  acRunPresentationAndReturn = 14,
  acOpenDialog = 15,
  acCloseDialog = 16,
  acSaveSlide = 17,
  acChangePrinter = 18,
};

struct TQelActionInfo {
  int32_t Action = acNone;
  int32_t Index = 0;   // the slide of a jump, -1 when its argument is not a number
  std::u16string Text;  // the argument as written
};

// The whole text is the action word (case ignored); arguments are cut from
// the text as written. Anything else is the empty record.
TQelActionInfo ParseAction(std::u16string_view text);

}  // namespace showmodel
