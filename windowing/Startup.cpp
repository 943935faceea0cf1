#include "windowing/Startup.h"

#include "foundation/Startup.h"
#include "imaging/Startup.h"
#include "windowing/kpScreen.h"
#include "windowing/kvApplication.h"
#include "windowing/kvClipbrd.h"
#include "windowing/kvHooks.h"
#include "windowing/kvInputTranslate.h"
#include "windowing/kvInputTypes.h"
#include "windowing/kvScreenSaver.h"
#include "windowing/kvSession.h"
#include "windowing/kvTimers.h"
#include "windowing/kvWinVersion.h"
#include "windowing/kvWndAPI.h"
#include "windowing/winClipbrd.h"
#include "windowing/winForms.h"

namespace windowing {

namespace {

// The application object itself is made later, by the program entry through
// ApplicationFactory.
constexpr foundation::TStartupStep kSteps[] = {
    // Records the main thread and installs the window-API class.
    {"WndAPI", InitWndAPI, nullptr},
    {"Hooks", InitHooks, DoneHooks},
    // The wake-up message, ApplicationFactory, TimerFactory and the
    // presentation mode of the engines to come.
    {"WinApplication", InitWinApplication, DoneWinApplication},
    {"Timers", nullptr, DoneTimers},
    {"WinVersion", InitWinVersion, nullptr},
    {"Session", InitSession, DoneSession},
    {"ScreenSaver", InitScreenSaver, DoneScreenSaver},
    {"Screen", nullptr, DoneScreen},
    {"InputTypes", nullptr, DoneInputTypes},
    {"InputTranslate", InitInputTranslate, nullptr},
    // The form-controller factory.
    {"WinForms", InitWinForms, DoneWinForms},
    {"Clipbrd", nullptr, DoneClipbrd},
    {"WinClipbrd", InitWinClipbrd, DoneWinClipbrd},
};

constexpr foundation::TLibraryStartupRef kNeeds[] = {&foundation::FoundationStartup, &imaging::ImagingStartup};

}  // namespace

foundation::TLibraryStartup& WindowingStartup() {
  static foundation::TLibraryStartup startup{"windowing", kNeeds, kSteps};
  return startup;
}

void StartWindowing() { foundation::StartLibrary(WindowingStartup()); }
void StopWindowing() { foundation::StopLibrary(WindowingStartup()); }

}  // namespace windowing
