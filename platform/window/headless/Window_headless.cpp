#include "platform/window/headless/Window_headless.h"

#include <algorithm>

#include "platform/os/clock.h"

namespace platform::window {

namespace {
std::vector<MonitorDesc> defaultMonitors() {
  MonitorDesc m;
  m.bounds = Rect{0, 0, 1920, 1080};
  m.work = Rect{0, 0, 1920, 1040};
  return {m};
}
}  // namespace

HeadlessBackend::HeadlessBackend() : monitors_(defaultMonitors()) {}

void HeadlessBackend::windowCreated(HWND hwnd) {
  std::lock_guard<std::mutex> lock(m_);
  live_.push_back(hwnd);
}

void HeadlessBackend::windowChanged(HWND) {
  std::lock_guard<std::mutex> lock(m_);
  ++changes_;
}

void HeadlessBackend::windowDestroyed(HWND hwnd) {
  std::lock_guard<std::mutex> lock(m_);
  std::erase(live_, hwnd);
}

void HeadlessBackend::pumpEvents() {
  if (!hasEvents_.load(std::memory_order_acquire)) return;
  std::vector<std::function<void()>> events;
  {
    std::lock_guard<std::mutex> lock(m_);
    events.swap(events_);
    hasEvents_.store(false, std::memory_order_release);
  }
  for (auto& e : events) e();
}

// Injected events arrive through injectEvent, which wakes the main thread by
// posting nothing: the main thread pumps on every get and peek, and a wait
// needs no time limit because an injection posts a WM_NULL to wake it.
uint32_t HeadlessBackend::pumpIntervalMs() const { return platform::os::INFINITE; }

std::vector<MonitorDesc> HeadlessBackend::monitors() {
  std::lock_guard<std::mutex> lock(m_);
  return monitors_;
}

Point HeadlessBackend::cursorPos() {
  std::lock_guard<std::mutex> lock(m_);
  return cursor_;
}

void HeadlessBackend::inhibitScreenSaver(bool inhibit) {
  std::lock_guard<std::mutex> lock(m_);
  if (inhibit != inhibited_) ++inhibitChanges_;
  inhibited_ = inhibit;
}

void HeadlessBackend::shutdown() { inhibitScreenSaver(false); }

void HeadlessBackend::setMonitors(std::vector<MonitorDesc> list) {
  std::lock_guard<std::mutex> lock(m_);
  monitors_ = std::move(list);
}

void HeadlessBackend::setCursorPos(Point pt) {
  std::lock_guard<std::mutex> lock(m_);
  cursor_ = pt;
}

void HeadlessBackend::injectEvent(std::function<void()> event) {
  {
    std::lock_guard<std::mutex> lock(m_);
    events_.push_back(std::move(event));
    hasEvents_.store(true, std::memory_order_release);
  }
  postThreadMessage(platform::os::mainThreadId(), WM_NULL, 0, 0);
}

void HeadlessBackend::injectInput(const InputEvent& event) {
  injectEvent([this, event] {
    // A mouse event moves the cursor there, as a real mouse would.
    if (event.kind == InputKind::MouseMotion || event.kind == InputKind::MouseButtonDown ||
        event.kind == InputKind::MouseButtonUp) {
      Point screen{event.x, event.y};
      if (clientToScreen(event.window, screen)) setCursorPos(screen);
    }
    deliverInput(event);
  });
}

bool HeadlessBackend::inhibited() {
  std::lock_guard<std::mutex> lock(m_);
  return inhibited_;
}

int HeadlessBackend::inhibitChanges() {
  std::lock_guard<std::mutex> lock(m_);
  return inhibitChanges_;
}

std::vector<HWND> HeadlessBackend::liveWindows() {
  std::lock_guard<std::mutex> lock(m_);
  return live_;
}

int HeadlessBackend::changeNotifications() {
  std::lock_guard<std::mutex> lock(m_);
  return changes_;
}

void HeadlessBackend::reset() {
  std::lock_guard<std::mutex> lock(m_);
  monitors_ = defaultMonitors();
  cursor_ = Point{};
  events_.clear();
  hasEvents_ = false;
  inhibitChanges_ = 0;
  changes_ = 0;
  shownCursor_ = IDC_ARROW;
  fakeClipboard_ = false;
  clipboard_.clear();
  opacity_.clear();
}

void HeadlessBackend::showCursor(uint32_t idc) {
  std::lock_guard<std::mutex> lock(m_);
  shownCursor_ = idc;
}

uint32_t HeadlessBackend::shownCursor() {
  std::lock_guard<std::mutex> lock(m_);
  return shownCursor_;
}

bool HeadlessBackend::setClipboardText(const std::string& utf8) {
  std::lock_guard<std::mutex> lock(m_);
  if (!fakeClipboard_) return false;
  clipboard_ = utf8;
  return true;
}

bool HeadlessBackend::clipboardText(std::string& utf8) {
  std::lock_guard<std::mutex> lock(m_);
  if (!fakeClipboard_) return false;
  utf8 = clipboard_;
  return true;
}

void HeadlessBackend::useFakeClipboard(bool on) {
  std::lock_guard<std::mutex> lock(m_);
  fakeClipboard_ = on;
  clipboard_.clear();
}

void HeadlessBackend::setForeignClipboardText(const std::string& utf8) {
  {
    std::lock_guard<std::mutex> lock(m_);
    clipboard_ = utf8;
  }
  backendClipboardChanged();
}

void HeadlessBackend::setWindowOpacity(HWND hwnd, float opacity) {
  std::lock_guard<std::mutex> lock(m_);
  for (auto& [h, o] : opacity_)
    if (h == hwnd) {
      o = opacity;
      return;
    }
  opacity_.emplace_back(hwnd, opacity);
}

float HeadlessBackend::windowOpacity(HWND hwnd) {
  std::lock_guard<std::mutex> lock(m_);
  for (auto& [h, o] : opacity_)
    if (h == hwnd) return o;
  return 1.0f;
}

HeadlessBackend& headless() {
  static HeadlessBackend* b = new HeadlessBackend;
  return *b;
}

WindowBackend* headlessWindowBackend() { return &headless(); }

}  // namespace platform::window
