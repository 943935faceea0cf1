#include "windowing/kvScreenSaver.h"

#include "foundation/SingleInstance.h"
#include "platform/window/api.h"

namespace windowing {

namespace pw = platform::window;

namespace {
TScreenSaverUtils* g_utils = nullptr;
bool g_saverMode = false;
bool g_keepOn = false;
}  // namespace

bool InScreenSaverMode() { return g_saverMode; }
bool KeepingDisplayOn() { return g_keepOn; }

bool TWinScreenSaverUtils::EnterScreenSaverMode() {
  if (!g_saverMode) {
    pw::systemParametersInfo(pw::SPI_SETSCREENSAVEACTIVE, 1, nullptr, 0);
    pw::systemParametersInfo(pw::SPI_SETSCREENSAVERRUNNING, 1, nullptr, 0);
    g_keepOn = false;
    g_saverMode = true;
  }
  return true;
}

bool TWinScreenSaverUtils::KeepDisplayOn() {
  if (!g_saverMode && !g_keepOn) {
    pw::systemParametersInfo(pw::SPI_SETSCREENSAVEACTIVE, 0, nullptr, 0);
    pw::setThreadExecutionState(pw::ES_CONTINUOUS | pw::ES_DISPLAY_REQUIRED);
    g_keepOn = true;
  }
  return g_keepOn;
}

bool TWinScreenSaverUtils::RestoreDisplay() {
  if (g_saverMode || !g_keepOn) return false;
  pw::systemParametersInfo(pw::SPI_SETSCREENSAVEACTIVE, 1, nullptr, 0);
  pw::setThreadExecutionState(pw::ES_CONTINUOUS);
  g_keepOn = false;
  return true;
}

bool TWinScreenSaverUtils::IsSaverRunning() { return g_saverMode || foundation::IsAnotherInstanceRunning(); }

TScreenSaverUtils* GetScreenSaverUtils() {
  if (!g_utils) g_utils = new TScreenSaverUtils;
  return g_utils;
}

void SetScreenSaverUtils(TScreenSaverUtils* utils) {
  TScreenSaverUtils* old = g_utils;
  g_utils = utils;
  if (old) old->Free();
}

void InitScreenSaver() { SetScreenSaverUtils(new TWinScreenSaverUtils); }

void DoneScreenSaver() {
  try {
    if (g_saverMode) {
      pw::systemParametersInfo(pw::SPI_SETSCREENSAVERRUNNING, 0, nullptr, 0);
    } else if (g_keepOn) {
      pw::systemParametersInfo(pw::SPI_SETSCREENSAVEACTIVE, 1, nullptr, 0);
      // The display request goes too, so nothing is left held off.
      pw::setThreadExecutionState(pw::ES_CONTINUOUS);
    }
  } catch (...) {
  }
  g_saverMode = false;
  g_keepOn = false;
  SetScreenSaverUtils(nullptr);
}

}  // namespace windowing
