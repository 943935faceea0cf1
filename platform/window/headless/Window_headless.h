// The headless window backend: no display, X server or GL. Windows are the
// core's records; tests inject the monitor list and the cursor position and
// read what the backend was told (windows made and released, screen-saver
// inhibition).
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <mutex>
#include <vector>

#include "platform/window/api.h"

namespace platform::window {

class HeadlessBackend : public WindowBackend {
 public:
  HeadlessBackend();
  const char* name() const override { return "headless"; }
  void windowCreated(HWND hwnd) override;
  void windowChanged(HWND hwnd) override;
  void windowDestroyed(HWND hwnd) override;
  void pumpEvents() override;
  uint32_t pumpIntervalMs() const override;
  std::vector<MonitorDesc> monitors() override;
  Point cursorPos() override;
  void inhibitScreenSaver(bool inhibit) override;
  bool screenSaverHeldOff() override { return inhibited(); }
  void* nativeWindow(HWND) override { return nullptr; }
  void shutdown() override;
  void showCursor(uint32_t idc) override;
  bool setClipboardText(const std::string& utf8) override;
  bool clipboardText(std::string& utf8) override;
  void setWindowOpacity(HWND hwnd, float opacity) override;

  // ---- test hooks ----
  // The default list: one 1920 x 1080 display at 60 Hz, 32 bits, 96 dpi,
  // with a 40-pixel bar at the bottom.
  void setMonitors(std::vector<MonitorDesc> list);
  void setCursorPos(Point pt);
  // An event the main thread turns into messages on its next pump (the
  // scripted input of a test: it runs inside getMessage/peekMessage).
  void injectEvent(std::function<void()> event);
  // SDL-shaped input, translated on the main thread's next pump.
  void injectInput(const InputEvent& event);
  bool inhibited();
  int inhibitChanges();
  // Top-level windows the backend holds (created, not yet destroyed).
  std::vector<HWND> liveWindows();
  int changeNotifications();
  // The cursor last shown (an IDC_ number, 0 hidden).
  uint32_t shownCursor();
  // A fake desktop clipboard: while on, text goes to it (as SDL's would)
  // and another program may change it (setForeignClipboardText).
  void useFakeClipboard(bool on);
  void setForeignClipboardText(const std::string& utf8);
  float windowOpacity(HWND hwnd);
  // Restores the defaults (monitors, cursor, counters).
  void reset();

 private:
  // Guards the members below (monitors, cursor, queued events, windows,
  // counters); hasEvents_ is atomic so the pump can look without it.
  std::mutex m_;
  std::vector<MonitorDesc> monitors_;
  Point cursor_;
  std::vector<std::function<void()>> events_;
  std::atomic<bool> hasEvents_{false};
  std::vector<HWND> live_;
  bool inhibited_ = false;
  int inhibitChanges_ = 0;
  int changes_ = 0;
  uint32_t shownCursor_ = IDC_ARROW;
  bool fakeClipboard_ = false;
  std::string clipboard_;
  std::vector<std::pair<HWND, float>> opacity_;
};

// The process's headless backend as its own class.
HeadlessBackend& headless();

}  // namespace platform::window
