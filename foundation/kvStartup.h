// Start-up and shut-down of a library as a table in one place.
//
// A library's start-up is a list of steps, each a unit's Init and Done, run
// in the list's order, after the libraries below it that it needs. Nothing
// runs in static constructors: a program (or a test, a fuzz or a bench main)
// chooses its platform configuration with platform::startPlatform and then
// calls the start-up of the one library it uses, which starts what lies
// beneath. Starting a library twice does nothing. Stopping it runs the Done
// steps in reverse order and then stops, in reverse order, the libraries that
// its start-up started and no one had started before.
//
// Every library folder holds its table in <folder>/Startup.cpp and offers
// Start<Library>() / Stop<Library>() in <folder>/Startup.h.
#pragma once

#include <span>

namespace foundation {

struct TStartupStep {
  const char* Name;
  void (*Init)();  // may be null: a unit with only a shut-down step
  void (*Done)();  // may be null: a unit that leaves nothing to release
};

struct TLibraryStartup;

// The library's start-up as its Start function answers it: the table is
// local to the library's Startup.cpp, the descriptor lives as long as the
// process.
using TLibraryStartupRef = TLibraryStartup& (*)();

struct TLibraryStartup {
  const char* Name;
  std::span<const TLibraryStartupRef> Needs;  // started first, in this order
  std::span<const TStartupStep> Steps;
  // Set while started; the libraries of Needs this start-up started itself,
  // in start order (at most as many as Needs).
  bool Started = false;
  TLibraryStartup* StartedNeeds[16] = {};
  int StartedNeedCount = 0;
  // The number of steps whose Init ran; a failed start-up rolls back these.
  int StepsRun = 0;
};

// Starts the library's needs, then runs its steps. When a step raises, the
// steps already run are undone in reverse, the needs this call started are
// stopped and the exception goes on: a failed start leaves nothing started.
void StartLibrary(TLibraryStartup& library);
// Runs the Done steps in reverse, then stops the needs this library started.
void StopLibrary(TLibraryStartup& library);
bool LibraryStarted(const TLibraryStartup& library);

}  // namespace foundation
