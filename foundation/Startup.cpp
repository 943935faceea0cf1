#include "foundation/Startup.h"

#include "foundation/LocaleSetup.h"
#include "foundation/SysLock.h"
#include "foundation/SysObj.h"
#include "foundation/TickClock.h"
#include "foundation/kpLog.h"
#include "foundation/kpThreads2.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvCommandLine.h"
#include "foundation/kvFileAPI.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvLog.h"
#include "foundation/kvRegistry.h"
#include "foundation/kvTempFolders.h"

namespace foundation {

namespace {

// FinalizeSysLock (which closes every lock handle) and FinalizeSysObj (the
// live-object report) belong to the end of the process, not to a stop: a
// unit started again after a stop would find its lock handle closed. The
// player ends its process without them.
constexpr TStartupStep kSteps[] = {
    {"SysObj", InitSysObj, nullptr},
    {"CaseFolding", InitCaseFolding, DoneCaseFolding},
    {"SysLock", InitSysLock, nullptr},
    // Records the main thread: the start-up runs on it.
    {"Threads2", InitThreads2, nullptr},
    {"TickClock", InitTickClock, nullptr},
    {"LocaleSetup", InitLocaleSetup, nullptr},
    // Installs case folding into the platform's case-insensitive lookup.
    {"FileApi", InitFileApiClass, DoneFileApiClass},
    {"FileUtils", InitFileUtils, nullptr},
    {"Registry", InitRegistry, nullptr},
    // Fills the ReadFile/WriteFile hooks, which fail an assertion until then.
    {"FileStreams", InitFileStreams, nullptr},
    {"TempFolders", nullptr, DoneTempFolders},
    {"KvLog", InitKvLog, nullptr},
    {"KpLog", InitKpLog, FinalizeKpLog},
    {"CommandLine", InitCommandLine, FinalizeCommandLine},
};

constexpr std::span<const TLibraryStartupRef> kNeeds{};

}  // namespace

TLibraryStartup& FoundationStartup() {
  static TLibraryStartup startup{"foundation", kNeeds, kSteps};
  return startup;
}

void StartFoundation() { StartLibrary(FoundationStartup()); }
void StopFoundation() { StopLibrary(FoundationStartup()); }

}  // namespace foundation
