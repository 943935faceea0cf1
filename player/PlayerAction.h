// Player actions: the codes shared by the key and mouse mapping, the
// navigation panel, the show's object actions, the engine and the main
// form, and the record they are passed in.
#pragma once

#include <cstdint>
#include <string>

#include "showmodel/kvQelActions.h"

namespace player {

// Codes 0-18 are the show's own action words, defined with their parser in
// the show model; the player adds those only its input and bars give.
// acGotoSlide's argument is the 1-based slide number (0 the first), or -1
// with the slide's name as text; acSaveSlide and acChangePrinter are refused:
// nothing executes them.
using showmodel::acNone;
using showmodel::acExit;
using showmodel::acPrevSlide;
using showmodel::acNextSlide;
using showmodel::acHelp;
using showmodel::acPause;
using showmodel::acPrint;
using showmodel::acGotoSlide;
using showmodel::acOpenWebSite;
using showmodel::acWriteEmail;
using showmodel::acRunApp;
using showmodel::acRunAppAndExit;
using showmodel::acRunPresentation;
using showmodel::acStop;
using showmodel::acRunPresentationAndReturn;
using showmodel::acOpenDialog;
using showmodel::acCloseDialog;
using showmodel::acSaveSlide;
using showmodel::acChangePrinter;

enum : int32_t {
  acSeek = 19,          // argument: the position in milliseconds
  acOverNavPanel = 20,  // refused; it only consumes the mouse event
};

struct TPlayerAction {
  int32_t Code = acNone;
  int32_t Argument = 0;
  std::u16string Text;

  bool operator==(const TPlayerAction&) const = default;
};

}  // namespace player
