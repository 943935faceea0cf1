#include "foundation/kvStartup.h"

#include <mutex>
#include <string>

#include "foundation/kpExceptions.h"

namespace foundation {

namespace {

// Guards the Started state of every library while a start or a stop runs;
// recursive because a start-up starts the libraries beneath it.
std::recursive_mutex& StartupLock() {
  static std::recursive_mutex lock;
  return lock;
}

void UndoSteps(TLibraryStartup& library) {
  while (library.StepsRun > 0) {
    const TStartupStep& step = library.Steps[size_t(--library.StepsRun)];
    if (step.Done) step.Done();
  }
}

void StopStartedNeeds(TLibraryStartup& library) {
  while (library.StartedNeedCount > 0) {
    TLibraryStartup* need = library.StartedNeeds[--library.StartedNeedCount];
    library.StartedNeeds[library.StartedNeedCount] = nullptr;
    StopLibrary(*need);
  }
}

}  // namespace

void StartLibrary(TLibraryStartup& library) {
  std::lock_guard<std::recursive_mutex> guard(StartupLock());
  if (library.Started) return;
  if (library.Needs.size() > std::size(library.StartedNeeds))
    QelAssertFail(std::string("Too many libraries needed by ") + library.Name);
  try {
    for (TLibraryStartupRef ref : library.Needs) {
      TLibraryStartup& need = ref();
      if (need.Started) continue;
      StartLibrary(need);
      library.StartedNeeds[library.StartedNeedCount++] = &need;
    }
    for (const TStartupStep& step : library.Steps) {
      if (step.Init) step.Init();
      ++library.StepsRun;
    }
  } catch (...) {
    UndoSteps(library);
    StopStartedNeeds(library);
    throw;
  }
  library.Started = true;
}

void StopLibrary(TLibraryStartup& library) {
  std::lock_guard<std::recursive_mutex> guard(StartupLock());
  if (!library.Started) return;
  library.Started = false;
  UndoSteps(library);
  StopStartedNeeds(library);
}

bool LibraryStarted(const TLibraryStartup& library) {
  std::lock_guard<std::recursive_mutex> guard(StartupLock());
  return library.Started;
}

}  // namespace foundation
