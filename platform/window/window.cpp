// The display-free core of the window area: classes, window records,
// per-thread queues with posted and sent messages, queue timers, geometry
// kept in the records, and the services answered from the backend.
//
// Locking: one core mutex guards classes, window records and the queue
// registry; each queue has its own mutex and condition variable. The two are
// never held together, and no lock is held while a window procedure runs.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/os/clock.h"
#include "platform/os/errors.h"
#include "platform/window/api.h"

namespace platform::window {

// Surface DCs live with the other services (services.cpp).
HDC windowSurfaceDC(HWND hwnd);
bool releaseSurfaceDC(HDC hdc);
bool deleteSurfaceDC(HDC hdc);
int32_t surfaceBitsPerPixel(HDC hdc);
void dropWindowSurface(HWND hwnd);

namespace {

using platform::os::ThreadId;

struct Queue;

// A message sent from another thread; the sender waits on its own queue.
struct SentMsg {
  HWND hwnd = 0;
  uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  LRESULT result = 0;
  bool done = false;
  bool delivered = false;
  std::shared_ptr<Queue> reply;  // none for a notify-send
};

struct Timer {
  HWND hwnd = 0;
  uintptr_t id = 0;
  uint32_t elapse = 0;
  TIMERPROC proc = nullptr;
  uint64_t due = 0;
};

// Posted messages beyond this count are refused, as a full queue is.
constexpr size_t kQueueLimit = 10000;

struct Queue {
  ThreadId tid = 0;
  std::mutex m;
  std::condition_variable cv;
  std::deque<Msg> posted;
  std::deque<std::shared_ptr<SentMsg>> sent;
  std::vector<Timer> timers;
  uint64_t changes = 0;  // bumped on every arrival, so a waiter notices
  int32_t paintPending = 0;  // windows of this queue with an update region
  bool quit = false;
  int32_t quitCode = 0;
  bool closed = false;

  void bumpLocked() {
    ++changes;
    cv.notify_all();
  }
};

struct ClassRec {
  WndClass cls;
  ATOM atom = 0;
  int windows = 0;
};

struct WindowRec {
  HWND hwnd = 0;
  ThreadId thread = 0;
  std::shared_ptr<Queue> queue;
  std::u16string className;
  WNDPROC proc = nullptr;
  uintptr_t background = 0;
  uint32_t style = 0, exStyle = 0;
  HWND parent = 0;  // parent of a child, owner of a top-level window
  std::vector<HWND> children;
  std::u16string text;
  Rect rect;    // client rectangle: screen for top-level, parent client for a child
  Rect normal;  // the restored rectangle, same coordinates
  bool restoreToMax = false;
  bool destroying = false;
  bool hasUpdate = false;
  Rect updateRect;  // client coordinates, valid while hasUpdate
  intptr_t userData = 0;
};

struct Core {
  std::mutex m;
  std::unordered_map<HWND, std::shared_ptr<WindowRec>> windows;
  std::vector<HWND> topOrder;  // creation order; the last is the topmost
  std::vector<ClassRec> classes;
  ATOM nextAtom = 0xC000;
  HWND nextHandle = 0x10010;
  std::vector<std::pair<std::u16string, uint32_t>> registered;
  uint32_t nextRegistered = 0xC000;
  std::unordered_map<ThreadId, std::shared_ptr<Queue>> queues;
  // The active window per thread (activation never crosses threads), and
  // the one activated last of all.
  std::unordered_map<ThreadId, HWND> active;
  HWND foreground = 0;
  HWND capture = 0;
  uint8_t keys[256] = {};  // bit 0x80 down, bit 1 toggled
  bool saverActiveSetting = true;
  bool displayRequired = false;
  bool saverRunning = false;
  uint32_t executionState = 0;
  bool inhibited = false;
};

// Never destroyed: threads may still post while the process exits.
Core& core() {
  static Core* c = new Core;
  return *c;
}

std::u16string foldAscii(std::u16string_view s) {
  std::u16string r(s);
  for (char16_t& c : r)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return r;
}

void failSend(const std::shared_ptr<SentMsg>& sm) {
  if (!sm->reply) return;
  std::lock_guard<std::mutex> lock(sm->reply->m);
  sm->done = true;
  sm->delivered = false;
  sm->result = 0;
  sm->reply->bumpLocked();
}

// Closes the thread's queue when the thread ends: later posts are refused and
// senders still waiting for it are released.
struct QueueHolder {
  std::shared_ptr<Queue> queue;
  ~QueueHolder() {
    if (!queue) return;
    std::deque<std::shared_ptr<SentMsg>> pending;
    {
      std::lock_guard<std::mutex> lock(queue->m);
      queue->closed = true;
      pending.swap(queue->sent);
      queue->posted.clear();
      queue->timers.clear();
    }
    for (auto& sm : pending) failSend(sm);
    // The windows of an ended thread go with it (no messages: there is no
    // thread left to run them).
    std::vector<HWND> tops;
    {
      Core& c = core();
      std::lock_guard<std::mutex> lock(c.m);
      auto it = c.queues.find(queue->tid);
      if (it != c.queues.end() && it->second == queue) c.queues.erase(it);
      std::vector<HWND> mine;
      for (auto& [h, rec] : c.windows)
        if (rec->queue == queue) mine.push_back(h);
      for (HWND h : mine) {
        auto rec = c.windows[h];
        c.windows.erase(h);
        if ((rec->style & WS_CHILD) == 0) {
          std::erase(c.topOrder, h);
          tops.push_back(h);
        } else if (auto p = c.windows.find(rec->parent); p != c.windows.end()) {
          std::erase(p->second->children, h);
        }
        for (ClassRec& cls : c.classes)
          if (cls.cls.className == rec->className) cls.windows--;
        if (c.capture == h) c.capture = 0;
        if (c.foreground == h) c.foreground = 0;
      }
      c.active.erase(queue->tid);
    }
    for (HWND h : tops) windowBackend().windowDestroyed(h);
  }
};

thread_local QueueHolder t_queue;
thread_local bool t_lastSendDelivered = true;

std::shared_ptr<Queue> myQueue() {
  if (!t_queue.queue) {
    auto q = std::make_shared<Queue>();
    q->tid = platform::os::currentThreadId();
    Core& c = core();
    {
      std::lock_guard<std::mutex> lock(c.m);
      c.queues[q->tid] = q;
    }
    t_queue.queue = q;
  }
  return t_queue.queue;
}

// The calling thread's id without a system call once its queue exists.
platform::os::ThreadId myTid() { return myQueue()->tid; }

std::shared_ptr<WindowRec> findLocked(HWND hwnd) {
  auto& w = core().windows;
  auto it = w.find(hwnd);
  return it == w.end() ? nullptr : it->second;
}

std::shared_ptr<WindowRec> find(HWND hwnd) {
  std::lock_guard<std::mutex> lock(core().m);
  return findLocked(hwnd);
}

std::atomic<WindowBackend*> g_backend{nullptr};

bool isTopLevel(const WindowRec& r) { return (r.style & WS_CHILD) == 0; }

int32_t width(const Rect& r) { return r.right - r.left; }
int32_t height(const Rect& r) { return r.bottom - r.top; }

// The screen position of a window's client origin (core lock held).
Point originLocked(const WindowRec& r) {
  Point p{r.rect.left, r.rect.top};
  if (!isTopLevel(r)) {
    if (auto parent = findLocked(r.parent)) {
      const Point po = originLocked(*parent);
      p.x += po.x;
      p.y += po.y;
    }
  }
  return p;
}

void notifyBackend(HWND hwnd, bool created = false) {
  auto rec = find(hwnd);
  if (!rec || !isTopLevel(*rec)) return;
  if (created)
    windowBackend().windowCreated(hwnd);
  else
    windowBackend().windowChanged(hwnd);
}

LRESULT callProc(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc;
  {
    std::lock_guard<std::mutex> lock(core().m);
    auto rec = findLocked(hwnd);
    if (!rec) {
      platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    proc = rec->proc;
  }
  return proc ? proc(hwnd, message, wParam, lParam) : 0;
}

void runSent(const std::shared_ptr<SentMsg>& sm);

// Runs every send queued for this thread; answers whether one ran.
bool processIncomingSends(Queue& q) {
  bool any = false;
  for (;;) {
    std::shared_ptr<SentMsg> sm;
    {
      std::lock_guard<std::mutex> lock(q.m);
      if (q.sent.empty()) return any;
      sm = q.sent.front();
      q.sent.pop_front();
    }
    any = true;
    runSent(sm);
  }
}

bool matches(const Msg& m, HWND filter, uint32_t lo, uint32_t hi) {
  if (filter == HWND_THREAD_ONLY) {
    if (m.hwnd != 0) return false;
  } else if (filter != 0 && m.hwnd != filter) {
    return false;
  }
  if (lo == 0 && hi == 0) return true;
  return m.message >= lo && m.message <= hi;
}

bool inRange(uint32_t message, uint32_t lo, uint32_t hi) {
  return (lo == 0 && hi == 0) || (message >= lo && message <= hi);
}

Point cursorOrZero() { return windowBackend().cursorPos(); }

// Runs one send from another thread (taken from the queue by the caller).
void runSent(const std::shared_ptr<SentMsg>& sm) {
  const bool alive = isWindow(sm->hwnd);
  const LRESULT result = alive ? callProc(sm->hwnd, sm->message, sm->wParam, sm->lParam) : 0;
  if (sm->reply) {
    {
      std::lock_guard<std::mutex> lock(sm->reply->m);
      sm->result = result;
      sm->delivered = alive;
      sm->done = true;
      ++sm->reply->changes;
    }
    sm->reply->cv.notify_all();
  }
}

// One pass over the sources of the queue in their order: posted messages,
// WM_QUIT, due timers, WM_PAINT. A send waiting in the queue comes out first
// (in sent, to be run by the caller); seen gets the arrival count the pass
// looked at.
bool takeMessage(Queue& q, Msg& out, HWND filter, uint32_t lo, uint32_t hi, bool remove,
                 std::shared_ptr<SentMsg>* sent = nullptr, uint64_t* seen = nullptr) {
  bool paint;
  {
    std::lock_guard<std::mutex> lock(q.m);
    if (seen) *seen = q.changes;
    if (sent && !q.sent.empty()) {
      *sent = q.sent.front();
      q.sent.pop_front();
      return false;
    }
    for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
      if (!matches(*it, filter, lo, hi)) continue;
      out = *it;
      if (remove) q.posted.erase(it);
      return true;
    }
    if (q.quit) {
      out = Msg{};
      out.message = WM_QUIT;
      out.wParam = static_cast<WPARAM>(static_cast<intptr_t>(q.quitCode));
      out.time = platform::os::timeGetTime();
      if (remove) q.quit = false;
      return true;
    }
    const uint64_t now = q.timers.empty() ? 0 : platform::os::nowMs();
    for (Timer& t : q.timers) {
      if (t.due > now) continue;
      Msg m;
      m.hwnd = t.hwnd;
      m.message = WM_TIMER;
      m.wParam = t.id;
      m.lParam = reinterpret_cast<LPARAM>(t.proc);
      m.time = static_cast<uint32_t>(now);
      if (!matches(m, filter, lo, hi)) continue;
      out = m;
      if (remove) t.due = now + std::max<uint32_t>(t.elapse, 1);
      return true;
    }
    paint = q.paintPending > 0;
  }
  if (!paint || !inRange(WM_PAINT, lo, hi) || filter == HWND_THREAD_ONLY) return false;
  std::lock_guard<std::mutex> lock(core().m);
  for (auto& [h, rec] : core().windows) {
    if (rec->queue.get() != &q || !rec->hasUpdate || rec->destroying) continue;
    if (filter != 0 && filter != h) continue;
    out = Msg{};
    out.hwnd = h;
    out.message = WM_PAINT;
    out.time = platform::os::timeGetTime();
    return true;
  }
  return false;
}

// Waits until something arrives, a timer falls due or the backend wants
// pumping.
void waitForWork(Queue& q, uint64_t seen, bool mainThread) {
  std::unique_lock<std::mutex> lock(q.m);
  if (q.changes != seen) return;
  uint64_t deadline = UINT64_MAX;
  for (const Timer& t : q.timers) deadline = std::min(deadline, t.due);
  uint32_t timeout = platform::os::INFINITE;
  if (deadline != UINT64_MAX) {
    const uint64_t now = platform::os::nowMs();
    timeout = deadline <= now ? 0 : static_cast<uint32_t>(std::min<uint64_t>(deadline - now, 0x7FFFFFFF));
  }
  if (mainThread) timeout = std::min(timeout, windowBackend().pumpIntervalMs());
  if (timeout == 0) return;
  platform::os::waitFor(lock, q.cv, timeout, [&] { return q.changes != seen; });
}


void sendSizeMove(HWND hwnd, const WindowPos& wp) {
  WindowState s;
  if (!windowState(hwnd, s)) return;
  if (!(wp.flags & SWP_NOSIZE)) {
    const WPARAM kind = s.minimized ? 1 : s.maximized ? 2 : 0;
    const uint32_t w = static_cast<uint16_t>(width(s.rect)), h = static_cast<uint16_t>(height(s.rect));
    sendMessage(hwnd, WM_SIZE, kind, static_cast<LPARAM>(w | (h << 16)));
  }
  if (!(wp.flags & SWP_NOMOVE)) {
    const uint32_t x = static_cast<uint16_t>(s.rect.left), y = static_cast<uint16_t>(s.rect.top);
    sendMessage(hwnd, WM_MOVE, 0, static_cast<LPARAM>(x | (y << 16)));
  }
}

void sendPosChanged(HWND hwnd, uint32_t flags) {
  WindowState s;
  if (!windowState(hwnd, s)) return;
  WindowPos wp{hwnd, 0, s.rect.left, s.rect.top, width(s.rect), height(s.rect), flags};
  sendMessage(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&wp));
}

void destroyInner(HWND hwnd);

void updateInhibitLocked(Core& c, bool& changed, bool& now) {
  const bool want = !c.saverActiveSetting || c.displayRequired;
  changed = want != c.inhibited;
  c.inhibited = want;
  now = want;
}

void applyInhibit() {
  Core& c = core();
  bool changed, now;
  {
    std::lock_guard<std::mutex> lock(c.m);
    updateInhibitLocked(c, changed, now);
  }
  if (changed) windowBackend().inhibitScreenSaver(now);
}

}  // namespace

// ---- backends ----

WindowBackend* setWindowBackend(WindowBackend* backend) { return g_backend.exchange(backend); }

WindowBackend& windowBackend() {
  WindowBackend* b = g_backend.load(std::memory_order_acquire);
  return b ? *b : *headlessWindowBackend();
}

void* nativeWindowOf(HWND hwnd) {
  const HWND top = topLevelOf(hwnd);
  return top ? windowBackend().nativeWindow(top) : nullptr;
}

HWND topLevelOf(HWND hwnd) {
  std::lock_guard<std::mutex> lock(core().m);
  auto rec = findLocked(hwnd);
  while (rec && !isTopLevel(*rec)) rec = findLocked(rec->parent);
  return rec ? rec->hwnd : 0;
}

bool windowState(HWND hwnd, WindowState& s) {
  std::lock_guard<std::mutex> lock(core().m);
  auto rec = findLocked(hwnd);
  if (!rec) return false;
  s.hwnd = hwnd;
  s.parent = rec->parent;
  s.style = rec->style;
  s.exStyle = rec->exStyle;
  s.rect = rec->rect;
  s.visible = rec->style & WS_VISIBLE;
  s.minimized = rec->style & WS_MINIMIZE;
  s.maximized = rec->style & WS_MAXIMIZE;
  s.enabled = !(rec->style & WS_DISABLED);
  s.topmost = rec->exStyle & WS_EX_TOPMOST;
  s.text = rec->text;
  s.className = rec->className;
  s.thread = rec->thread;
  return true;
}

std::vector<HWND> topLevelWindows() {
  std::lock_guard<std::mutex> lock(core().m);
  return core().topOrder;
}

void backendWindowMoved(HWND hwnd, const Rect& client) {
  {
    std::lock_guard<std::mutex> lock(core().m);
    auto rec = findLocked(hwnd);
    if (!rec) return;
    if (rec->rect == client) return;
    rec->rect = client;
    if (!(rec->style & (WS_MINIMIZE | WS_MAXIMIZE))) rec->normal = client;
  }
  sendPosChanged(hwnd, SWP_NOZORDER | SWP_NOACTIVATE);
}

void backendWindowStateChanged(HWND hwnd, bool minimized, bool maximized) {
  {
    std::lock_guard<std::mutex> lock(core().m);
    auto rec = findLocked(hwnd);
    if (!rec) return;
    const uint32_t state = (minimized ? WS_MINIMIZE : 0) | (maximized && !minimized ? WS_MAXIMIZE : 0);
    if ((rec->style & (WS_MINIMIZE | WS_MAXIMIZE)) == state) return;
    // Minimised from maximised restores to maximised.
    if (minimized) rec->restoreToMax = (rec->style & WS_MAXIMIZE) != 0;
    rec->style = (rec->style & ~(WS_MINIMIZE | WS_MAXIMIZE)) | state;
  }
  sendPosChanged(hwnd, SWP_NOZORDER | SWP_NOACTIVATE);
}

Rect backendWindowSizing(HWND hwnd, const Rect& proposed) {
  Rect r = proposed;
  if (!isWindow(hwnd)) return r;
  sendMessage(hwnd, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&r));
  return r;
}

void backendWindowClosing(HWND hwnd) { postMessage(hwnd, WM_CLOSE, 0, 0); }

void backendSetKeyState(int vk, bool down, bool toggled) {
  std::lock_guard<std::mutex> lock(core().m);
  core().keys[vk & 0xFF] = static_cast<uint8_t>((down ? 0x80 : 0) | (toggled ? 1 : 0));
}

// ---- classes ----

ATOM registerClass(const WndClass& cls) {
  Core& c = core();
  const std::u16string key = foldAscii(cls.className);
  std::lock_guard<std::mutex> lock(c.m);
  if (key.empty() || !cls.lpfnWndProc) {
    platform::os::setLastError(87);
    return 0;
  }
  for (const ClassRec& r : c.classes) {
    if (foldAscii(r.cls.className) == key) {
      platform::os::setLastError(ERROR_CLASS_ALREADY_EXISTS);
      return 0;
    }
  }
  ClassRec r;
  r.cls = cls;
  r.atom = c.nextAtom++;
  c.classes.push_back(r);
  return r.atom;
}

bool unregisterClass(std::u16string_view className, uintptr_t) {
  Core& c = core();
  const std::u16string key = foldAscii(className);
  std::lock_guard<std::mutex> lock(c.m);
  for (auto it = c.classes.begin(); it != c.classes.end(); ++it) {
    if (foldAscii(it->cls.className) != key) continue;
    if (it->windows > 0) {
      platform::os::setLastError(ERROR_CLASS_HAS_WINDOWS);
      return false;
    }
    c.classes.erase(it);
    return true;
  }
  platform::os::setLastError(ERROR_CLASS_DOES_NOT_EXIST);
  return false;
}

bool getClassInfo(uintptr_t, std::u16string_view className, WndClass& out) {
  Core& c = core();
  const std::u16string key = foldAscii(className);
  std::lock_guard<std::mutex> lock(c.m);
  for (const ClassRec& r : c.classes) {
    if (foldAscii(r.cls.className) == key) {
      out = r.cls;
      return true;
    }
  }
  platform::os::setLastError(ERROR_CLASS_DOES_NOT_EXIST);
  return false;
}

// ---- windows ----

HWND createWindowEx(uint32_t exStyle, std::u16string_view className, std::u16string_view windowName, uint32_t style,
                    int32_t x, int32_t y, int32_t w, int32_t h, HWND parent, uintptr_t menu, uintptr_t hInstance,
                    void* param) {
  Core& c = core();
  auto q = myQueue();
  const std::u16string key = foldAscii(className);
  HWND hwnd = 0;
  std::u16string storedClass;
  {
    std::lock_guard<std::mutex> lock(c.m);
    ClassRec* cls = nullptr;
    for (ClassRec& r : c.classes)
      if (foldAscii(r.cls.className) == key) cls = &r;
    if (!cls) {
      platform::os::setLastError(1407);  // cannot find the window class
      return 0;
    }
    std::shared_ptr<WindowRec> parentRec = parent ? findLocked(parent) : nullptr;
    if (parent && !parentRec) {
      platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if ((style & WS_CHILD) && !parentRec) {
      platform::os::setLastError(1406);  // a child window needs a parent
      return 0;
    }
    auto rec = std::make_shared<WindowRec>();
    hwnd = c.nextHandle;
    c.nextHandle += 4;
    rec->hwnd = hwnd;
    rec->thread = q->tid;
    rec->queue = q;
    rec->className = cls->cls.className;
    rec->proc = cls->cls.lpfnWndProc;
    rec->background = cls->cls.hbrBackground;
    rec->style = style & ~WS_VISIBLE;
    // Minimised and maximised at once: minimised, restoring to maximised.
    if ((style & (WS_MINIMIZE | WS_MAXIMIZE)) == (WS_MINIMIZE | WS_MAXIMIZE)) {
      rec->style &= ~WS_MAXIMIZE;
      rec->restoreToMax = true;
    }
    rec->exStyle = exStyle;
    rec->parent = parent;
    rec->text = std::u16string(windowName);
    rec->rect = Rect{x, y, x + std::max(w, 0), y + std::max(h, 0)};
    rec->normal = rec->rect;
    cls->windows++;
    storedClass = cls->cls.className;
    c.windows[hwnd] = rec;
    if (style & WS_CHILD)
      parentRec->children.push_back(hwnd);
    else
      c.topOrder.push_back(hwnd);
  }
  const std::u16string name(windowName);
  CreateStruct cs;
  cs.lpCreateParams = param;
  cs.hInstance = hInstance;
  cs.hMenu = menu;
  cs.hwndParent = parent;
  cs.x = x;
  cs.y = y;
  cs.cx = w;
  cs.cy = h;
  cs.style = style;
  cs.lpszName = name.c_str();
  cs.lpszClass = storedClass.c_str();
  cs.dwExStyle = exStyle;
  if (sendMessage(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) == 0) {
    if (isWindow(hwnd)) destroyInner(hwnd);
    platform::os::setLastError(1400);
    return 0;
  }
  if (!isWindow(hwnd) || sendMessage(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    if (isWindow(hwnd)) destroyInner(hwnd);
    platform::os::setLastError(1400);
    return 0;
  }
  if (!isWindow(hwnd)) return 0;
  notifyBackend(hwnd, true);
  if (style & WS_VISIBLE) {
    const int cmd = (style & WS_MINIMIZE) ? SW_SHOWMINIMIZED : (style & WS_MAXIMIZE) ? SW_SHOWMAXIMIZED : SW_SHOW;
    showWindow(hwnd, cmd);
  }
  return hwnd;
}

namespace {

void destroyInner(HWND hwnd) {
  Core& c = core();
  std::shared_ptr<WindowRec> rec;
  {
    std::lock_guard<std::mutex> lock(c.m);
    rec = findLocked(hwnd);
    if (!rec || rec->destroying) return;
    rec->destroying = true;
    if (c.capture == hwnd) c.capture = 0;
  }
  const bool top = isTopLevel(*rec);
  sendMessage(hwnd, WM_DESTROY, 0, 0);
  // Children, then owned windows, depth first.
  std::vector<HWND> children, owned;
  {
    std::lock_guard<std::mutex> lock(c.m);
    children = rec->children;
    for (HWND other : c.topOrder) {
      auto o = findLocked(other);
      if (o && o->parent == hwnd) owned.push_back(other);
    }
  }
  for (HWND child : children) destroyInner(child);
  for (HWND o : owned) destroyInner(o);
  sendMessage(hwnd, WM_NCDESTROY, 0, 0);
  {
    std::lock_guard<std::mutex> lock(c.m);
    c.windows.erase(hwnd);
    if (top) {
      std::erase(c.topOrder, hwnd);
    } else if (auto parent = findLocked(rec->parent)) {
      std::erase(parent->children, hwnd);
    }
    for (ClassRec& r : c.classes)
      if (foldAscii(r.cls.className) == foldAscii(rec->className)) r.windows--;
    if (c.active[rec->thread] == hwnd) c.active.erase(rec->thread);
    if (c.foreground == hwnd) c.foreground = 0;
  }
  std::deque<std::shared_ptr<SentMsg>> failed;
  bool hadUpdate;
  {
    std::lock_guard<std::mutex> lock(c.m);
    hadUpdate = rec->hasUpdate;
    rec->hasUpdate = false;
  }
  {
    Queue& q = *rec->queue;
    std::lock_guard<std::mutex> lock(q.m);
    if (hadUpdate) q.paintPending--;
    std::erase_if(q.posted, [&](const Msg& m) { return m.hwnd == hwnd; });
    std::erase_if(q.timers, [&](const Timer& t) { return t.hwnd == hwnd; });
    for (auto it = q.sent.begin(); it != q.sent.end();) {
      if ((*it)->hwnd == hwnd) {
        failed.push_back(*it);
        it = q.sent.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& sm : failed) failSend(sm);
  if (top) windowBackend().windowDestroyed(hwnd);
  // Handles are never reused, so the back surface would only take memory.
  dropWindowSurface(hwnd);
}

}  // namespace

bool destroyWindow(HWND hwnd) {
  auto rec = find(hwnd);
  if (!rec) {
    platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (rec->thread != myTid()) {
    platform::os::setLastError(ERROR_ACCESS_DENIED_WINDOW);
    return false;
  }
  destroyInner(hwnd);
  return true;
}

bool isWindow(HWND hwnd) { return hwnd != 0 && find(hwnd) != nullptr; }

HWND getParent(HWND hwnd) {
  auto rec = find(hwnd);
  return rec ? rec->parent : 0;
}

HWND setParent(HWND child, HWND parent) {
  Core& c = core();
  std::lock_guard<std::mutex> lock(c.m);
  auto rec = findLocked(child);
  if (!rec || (parent && !findLocked(parent)) || parent == child) {
    platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  const HWND old = rec->parent;
  if (!isTopLevel(*rec)) {
    if (auto p = findLocked(old)) std::erase(p->children, child);
    if (!parent) {
      rec->style &= ~WS_CHILD;
      c.topOrder.push_back(child);
    }
  }
  rec->parent = parent;
  if (parent && !isTopLevel(*rec)) findLocked(parent)->children.push_back(child);
  return old;
}

intptr_t getWindowLongPtr(HWND hwnd, int index) {
  std::lock_guard<std::mutex> lock(core().m);
  auto rec = findLocked(hwnd);
  if (!rec) {
    platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  switch (index) {
    case GWLP_WNDPROC: return reinterpret_cast<intptr_t>(rec->proc);
    case GWLP_HWNDPARENT: return static_cast<intptr_t>(rec->parent);
    case GWL_STYLE: return static_cast<intptr_t>(static_cast<int32_t>(rec->style));
    case GWL_EXSTYLE: return static_cast<intptr_t>(static_cast<int32_t>(rec->exStyle));
    case GWLP_USERDATA: return rec->userData;
    default: platform::os::setLastError(87); return 0;
  }
}

intptr_t setWindowLongPtr(HWND hwnd, int index, intptr_t value) {
  auto rec = find(hwnd);
  if (!rec) {
    platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (index == GWL_STYLE || index == GWL_EXSTYLE) {
    StyleStruct ss;
    ss.styleOld = static_cast<uint32_t>(getWindowLongPtr(hwnd, index));
    ss.styleNew = static_cast<uint32_t>(value);
    sendMessage(hwnd, WM_STYLECHANGING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&ss));
    {
      std::lock_guard<std::mutex> lock(core().m);
      if (index == GWL_STYLE) {
        rec->style = ss.styleNew;
      } else {
        // Only setWindowPos moves a window in or out of the topmost band; a
        // topmost window made layered stays on top.
        rec->exStyle = (ss.styleNew & ~WS_EX_TOPMOST) | (rec->exStyle & WS_EX_TOPMOST);
      }
    }
    sendMessage(hwnd, WM_STYLECHANGED, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&ss));
    notifyBackend(hwnd);
    return static_cast<intptr_t>(static_cast<int32_t>(ss.styleOld));
  }
  std::lock_guard<std::mutex> lock(core().m);
  intptr_t old = 0;
  switch (index) {
    case GWLP_WNDPROC:
      old = reinterpret_cast<intptr_t>(rec->proc);
      rec->proc = reinterpret_cast<WNDPROC>(value);
      break;
    case GWLP_HWNDPARENT:
      old = static_cast<intptr_t>(rec->parent);
      if (isTopLevel(*rec)) rec->parent = static_cast<HWND>(value);
      break;
    case GWLP_USERDATA:
      old = rec->userData;
      rec->userData = value;
      break;
    default: platform::os::setLastError(87); break;
  }
  return old;
}

LRESULT callWindowProc(WNDPROC proc, HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  return proc ? proc(hwnd, message, wParam, lParam) : 0;
}

LRESULT defWindowProc(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE: return 1;
    case WM_CLOSE: destroyWindow(hwnd); return 0;
    case WM_SETTEXT: {
      auto rec = find(hwnd);
      if (!rec) return 0;
      const auto* text = reinterpret_cast<const char16_t*>(lParam);
      std::lock_guard<std::mutex> lock(core().m);
      rec->text = text ? std::u16string(text) : std::u16string();
      return 1;
    }
    case WM_GETTEXT: {
      auto* buffer = reinterpret_cast<char16_t*>(lParam);
      if (!buffer || wParam == 0) return 0;
      const std::u16string text = getWindowText(hwnd);
      const size_t n = std::min<size_t>(text.size(), wParam - 1);
      std::copy_n(text.data(), n, buffer);
      buffer[n] = 0;
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH: return getWindowTextLength(hwnd);
    case WM_NCHITTEST: {
      Point p{static_cast<int16_t>(lParam & 0xFFFF), static_cast<int16_t>((lParam >> 16) & 0xFFFF)};
      Rect r;
      if (!screenToClient(hwnd, p) || !getClientRect(hwnd, r)) return HTNOWHERE;
      return (p.x >= 0 && p.y >= 0 && p.x < r.right && p.y < r.bottom) ? HTCLIENT : HTNOWHERE;
    }
    case WM_PAINT: validateRect(hwnd, nullptr); return 0;
    case WM_ERASEBKGND: {
      auto rec = find(hwnd);
      return rec && rec->background ? 1 : 0;
    }
    case WM_MOUSEACTIVATE: return MA_ACTIVATE;
    case WM_WINDOWPOSCHANGED: {
      const auto* wp = reinterpret_cast<const WindowPos*>(lParam);
      if (wp) sendSizeMove(hwnd, *wp);
      return 0;
    }
    case WM_SYSKEYDOWN:
      if (wParam == 0x73 && (lParam & (1 << 29))) postMessage(hwnd, WM_CLOSE, 0, 0);  // Alt+F4
      return 0;
    case WM_CANCELMODE:
      if (getCapture() == hwnd) releaseCapture();
      return 0;
    default: return 0;
  }
}

bool setWindowText(HWND hwnd, std::u16string_view text) {
  if (!isWindow(hwnd)) {
    platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  const std::u16string z(text);
  const bool ok = sendMessage(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(z.c_str())) != 0;
  notifyBackend(hwnd);
  return ok;
}

std::u16string getWindowText(HWND hwnd) {
  std::lock_guard<std::mutex> lock(core().m);
  auto rec = findLocked(hwnd);
  return rec ? rec->text : std::u16string();
}

int32_t getWindowTextLength(HWND hwnd) { return static_cast<int32_t>(getWindowText(hwnd).size()); }

platform::os::ThreadId getWindowThreadProcessId(HWND hwnd, uint32_t* processId) {
  auto rec = find(hwnd);
  if (processId) *processId = rec ? 1 : 0;
  return rec ? rec->thread : 0;
}

// ---- queues ----

namespace {
bool postTo(const std::shared_ptr<Queue>& q, const Msg& m) {
  {
    std::lock_guard<std::mutex> lock(q->m);
    if (q->closed) {
      platform::os::setLastError(ERROR_INVALID_THREAD_ID);
      return false;
    }
    if (q->posted.size() >= kQueueLimit) {
      platform::os::setLastError(ERROR_NOT_ENOUGH_QUOTA);
      return false;
    }
    q->posted.push_back(m);
    ++q->changes;
  }
  // Woken after the lock is released, so the owner does not wake only to
  // wait for it.
  q->cv.notify_all();
  return true;
}
}  // namespace

bool postMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Queue> q;
  if (hwnd == 0) {
    q = myQueue();
  } else {
    auto rec = find(hwnd);
    if (!rec) {
      platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    q = rec->queue;
  }
  Msg m;
  m.hwnd = hwnd;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = platform::os::timeGetTime();
  return postTo(q, m);
}

bool postThreadMessage(platform::os::ThreadId thread, uint32_t message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Queue> q;
  {
    std::lock_guard<std::mutex> lock(core().m);
    auto it = core().queues.find(thread);
    if (it != core().queues.end()) q = it->second;
  }
  if (!q) {
    platform::os::setLastError(ERROR_INVALID_THREAD_ID);
    return false;
  }
  if (message == WM_QUIT) {
    // A quit posted from outside is an ordinary posted message.
  }
  Msg m;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = platform::os::timeGetTime();
  return postTo(q, m);
}

void postQuitMessage(int32_t exitCode) {
  auto q = myQueue();
  std::lock_guard<std::mutex> lock(q->m);
  q->quit = true;
  q->quitCode = exitCode;
  q->bumpLocked();
}

LRESULT sendMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  auto rec = find(hwnd);
  if (!rec) {
    platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
    t_lastSendDelivered = false;
    return 0;
  }
  if (rec->thread == myTid()) {
    t_lastSendDelivered = true;
    return callProc(hwnd, message, wParam, lParam);
  }
  auto mine = myQueue();
  auto sm = std::make_shared<SentMsg>();
  sm->hwnd = hwnd;
  sm->message = message;
  sm->wParam = wParam;
  sm->lParam = lParam;
  sm->reply = mine;
  {
    Queue& target = *rec->queue;
    {
      std::lock_guard<std::mutex> lock(target.m);
      if (target.closed) {
        platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
        t_lastSendDelivered = false;
        return 0;
      }
      target.sent.push_back(sm);
      ++target.changes;
    }
    target.cv.notify_all();
  }
  // Wait for the answer, answering sends made to this thread meanwhile so
  // two threads sending to each other do not deadlock.
  for (;;) {
    processIncomingSends(*mine);
    std::unique_lock<std::mutex> lock(mine->m);
    if (sm->done) break;
    if (!mine->sent.empty()) continue;
    mine->cv.wait(lock, [&] { return sm->done || !mine->sent.empty(); });
    if (sm->done) break;
  }
  t_lastSendDelivered = sm->delivered;
  if (!sm->delivered) platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
  return sm->result;
}

bool lastSendDelivered() { return t_lastSendDelivered; }

bool sendNotifyMessage(HWND hwnd, uint32_t message, WPARAM wParam, LPARAM lParam) {
  auto rec = find(hwnd);
  if (!rec) {
    platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  if (rec->thread == myTid()) {
    callProc(hwnd, message, wParam, lParam);
    return true;
  }
  auto sm = std::make_shared<SentMsg>();
  sm->hwnd = hwnd;
  sm->message = message;
  sm->wParam = wParam;
  sm->lParam = lParam;
  Queue& target = *rec->queue;
  std::lock_guard<std::mutex> lock(target.m);
  if (target.closed) return false;
  target.sent.push_back(sm);
  target.bumpLocked();
  return true;
}

int32_t getMessage(Msg& msg, HWND hwnd, uint32_t filterMin, uint32_t filterMax) {
  if (hwnd != 0 && hwnd != HWND_THREAD_ONLY && !isWindow(hwnd)) {
    platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  auto q = myQueue();
  const bool mainThread = q->tid == platform::os::mainThreadId();
  for (;;) {
    if (mainThread) windowBackend().pumpEvents();
    std::shared_ptr<SentMsg> sent;
    uint64_t seen = 0;
    if (takeMessage(*q, msg, hwnd, filterMin, filterMax, true, &sent, &seen)) return msg.message == WM_QUIT ? 0 : 1;
    if (sent) {
      runSent(sent);
      continue;
    }
    waitForWork(*q, seen, mainThread);
  }
}

bool peekMessage(Msg& msg, HWND hwnd, uint32_t filterMin, uint32_t filterMax, uint32_t removeFlags) {
  auto q = myQueue();
  processIncomingSends(*q);
  if (q->tid == platform::os::mainThreadId()) windowBackend().pumpEvents();
  return takeMessage(*q, msg, hwnd, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0);
}

bool translateMessage(const Msg& msg) {
  return msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
}

LRESULT dispatchMessage(const Msg& msg) {
  if (msg.message == WM_TIMER && msg.lParam != 0) {
    reinterpret_cast<TIMERPROC>(msg.lParam)(msg.hwnd, WM_TIMER, msg.wParam, msg.time);
    return 0;
  }
  if (msg.hwnd == 0) return 0;
  WNDPROC proc;
  {
    std::lock_guard<std::mutex> lock(core().m);
    auto rec = findLocked(msg.hwnd);
    if (!rec) {
      platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (rec->thread != myTid()) {
      platform::os::setLastError(ERROR_ACCESS_DENIED_WINDOW);
      return 0;
    }
    proc = rec->proc;
  }
  return proc ? proc(msg.hwnd, msg.message, msg.wParam, msg.lParam) : 0;
}

uint32_t registerWindowMessage(std::u16string_view name) {
  if (name.empty()) {
    platform::os::setLastError(87);
    return 0;
  }
  Core& c = core();
  const std::u16string key = foldAscii(name);
  std::lock_guard<std::mutex> lock(c.m);
  for (auto& [n, v] : c.registered)
    if (n == key) return v;
  if (c.nextRegistered > 0xFFFF) {
    platform::os::setLastError(ERROR_NOT_ENOUGH_QUOTA);
    return 0;
  }
  c.registered.emplace_back(key, c.nextRegistered);
  return c.nextRegistered++;
}

int32_t queuedMessageCount() {
  auto q = myQueue();
  std::lock_guard<std::mutex> lock(q->m);
  return static_cast<int32_t>(q->posted.size());
}

int32_t queuedSendCount() {
  auto q = myQueue();
  std::lock_guard<std::mutex> lock(q->m);
  return static_cast<int32_t>(q->sent.size());
}

uintptr_t setTimer(HWND hwnd, uintptr_t id, uint32_t elapseMs, TIMERPROC proc) {
  std::shared_ptr<Queue> q;
  if (hwnd) {
    auto rec = find(hwnd);
    if (!rec || rec->thread != myTid()) {
      platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    q = rec->queue;
  } else {
    q = myQueue();
  }
  std::lock_guard<std::mutex> lock(q->m);
  if (!hwnd && id == 0) {
    // A thread timer gets a fresh id.
    uintptr_t next = 1;
    for (const Timer& t : q->timers)
      if (t.hwnd == 0) next = std::max(next, t.id + 1);
    id = next;
  }
  const uint64_t due = platform::os::nowMs() + std::max<uint32_t>(elapseMs, 1);
  for (Timer& t : q->timers) {
    if (t.hwnd == hwnd && t.id == id) {
      t.elapse = elapseMs;
      t.proc = proc;
      t.due = due;
      q->bumpLocked();
      return hwnd ? 1 : id;
    }
  }
  q->timers.push_back(Timer{hwnd, id, elapseMs, proc, due});
  q->bumpLocked();
  return hwnd ? 1 : id;
}

bool killTimer(HWND hwnd, uintptr_t id) {
  std::shared_ptr<Queue> q;
  if (hwnd) {
    auto rec = find(hwnd);
    if (!rec) return false;
    q = rec->queue;
  } else {
    q = myQueue();
  }
  std::lock_guard<std::mutex> lock(q->m);
  const size_t n = std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  return n > 0;
}

// ---- geometry and state ----

bool getClientRect(HWND hwnd, Rect& rect) {
  WindowState s;
  if (!windowState(hwnd, s)) {
    platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  rect = Rect{0, 0, width(s.rect), height(s.rect)};
  return true;
}

bool getWindowRect(HWND hwnd, Rect& rect) {
  if (hwnd == getDesktopWindow()) {
    Rect u{0, 0, 0, 0};
    bool first = true;
    for (const MonitorDesc& m : windowBackend().monitors()) {
      if (first) {
        u = m.bounds;
        first = false;
      } else {
        u.left = std::min(u.left, m.bounds.left);
        u.top = std::min(u.top, m.bounds.top);
        u.right = std::max(u.right, m.bounds.right);
        u.bottom = std::max(u.bottom, m.bounds.bottom);
      }
    }
    rect = u;
    return !first;
  }
  std::lock_guard<std::mutex> lock(core().m);
  auto rec = findLocked(hwnd);
  if (!rec) {
    platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  const Point o = originLocked(*rec);
  rect = Rect{o.x, o.y, o.x + width(rec->rect), o.y + height(rec->rect)};
  return true;
}

bool clientToScreen(HWND hwnd, Point& pt) {
  std::lock_guard<std::mutex> lock(core().m);
  auto rec = findLocked(hwnd);
  if (!rec) return false;
  const Point o = originLocked(*rec);
  pt.x += o.x;
  pt.y += o.y;
  return true;
}

bool screenToClient(HWND hwnd, Point& pt) {
  std::lock_guard<std::mutex> lock(core().m);
  auto rec = findLocked(hwnd);
  if (!rec) return false;
  const Point o = originLocked(*rec);
  pt.x -= o.x;
  pt.y -= o.y;
  return true;
}

bool setWindowPos(HWND hwnd, HWND insertAfter, int32_t x, int32_t y, int32_t cx, int32_t cy, uint32_t flags) {
  {
    std::lock_guard<std::mutex> lock(core().m);
    auto rec = findLocked(hwnd);
    if (!rec) {
      platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    Rect r = rec->rect;
    if (!(flags & SWP_NOMOVE)) {
      r.right = x + width(r);
      r.bottom = y + height(r);
      r.left = x;
      r.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
      r.right = r.left + std::max(cx, 0);
      r.bottom = r.top + std::max(cy, 0);
    }
    rec->rect = r;
    if (!(rec->style & (WS_MINIMIZE | WS_MAXIMIZE))) rec->normal = r;
    if (!(flags & SWP_NOZORDER)) {
      if (insertAfter == HWND_TOPMOST) rec->exStyle |= WS_EX_TOPMOST;
      if (insertAfter == HWND_NOTOPMOST) rec->exStyle &= ~WS_EX_TOPMOST;
    }
    if (flags & SWP_SHOWWINDOW) rec->style |= WS_VISIBLE;
    if (flags & SWP_HIDEWINDOW) rec->style &= ~WS_VISIBLE;
  }
  sendPosChanged(hwnd, flags);
  notifyBackend(hwnd);
  return true;
}

bool showWindow(HWND hwnd, int cmd) {
  Core& c = core();
  bool wasVisible, visible, activate = false;
  uint32_t style;
  {
    std::lock_guard<std::mutex> lock(c.m);
    auto rec = findLocked(hwnd);
    if (!rec) {
      platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    wasVisible = rec->style & WS_VISIBLE;
    style = rec->style;
  }
  uint32_t state = style & (WS_MINIMIZE | WS_MAXIMIZE);
  switch (cmd) {
    case SW_HIDE: visible = false; break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
    case SW_SHOWDEFAULT: visible = true; state = 0; activate = true; break;
    case SW_SHOWMINIMIZED: visible = true; state = WS_MINIMIZE; activate = true; break;
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE: visible = true; state = WS_MINIMIZE; break;
    case SW_SHOWMAXIMIZED: visible = true; state = WS_MAXIMIZE; activate = true; break;
    case SW_SHOWNOACTIVATE: visible = true; state = 0; break;
    case SW_SHOW: visible = true; activate = true; break;
    case SW_SHOWNA: visible = true; break;
    default: platform::os::setLastError(87); return wasVisible;
  }
  if (visible != wasVisible) sendMessage(hwnd, WM_SHOWWINDOW, visible ? 1 : 0, 0);
  std::vector<MonitorDesc> monitors;
  if (state == WS_MAXIMIZE) monitors = windowBackend().monitors();
  HWND previousActive = 0;
  bool top = false;
  {
    std::lock_guard<std::mutex> lock(c.m);
    auto rec = findLocked(hwnd);
    if (!rec) return wasVisible;
    top = isTopLevel(*rec);
    rec->style = (rec->style & ~(WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE)) | state | (visible ? WS_VISIBLE : 0);
    if (state == WS_MAXIMIZE && top && !monitors.empty()) rec->rect = monitors.front().work;
    if (state == 0 && (style & (WS_MINIMIZE | WS_MAXIMIZE))) rec->rect = rec->normal;
    HWND& active = c.active[rec->thread];
    if (!visible && active == hwnd) active = 0;
    if (!visible && c.foreground == hwnd) c.foreground = 0;
    if (activate && top && active != hwnd) {
      previousActive = active;
      active = hwnd;
      c.foreground = hwnd;
      // The activated window moves to the top of the z-order.
      std::erase(c.topOrder, hwnd);
      c.topOrder.push_back(hwnd);
    } else {
      activate = false;
    }
  }
  sendPosChanged(hwnd, SWP_NOZORDER | (activate ? 0 : SWP_NOACTIVATE));
  if (activate) {
    if (previousActive) sendMessage(previousActive, WM_ACTIVATE, WA_INACTIVE, static_cast<LPARAM>(hwnd));
    sendMessage(hwnd, WM_ACTIVATE, WA_ACTIVE, static_cast<LPARAM>(previousActive));
  }
  notifyBackend(hwnd);
  return wasVisible;
}

bool isWindowVisible(HWND hwnd) {
  WindowState s;
  return windowState(hwnd, s) && s.visible;
}

bool isIconic(HWND hwnd) {
  WindowState s;
  return windowState(hwnd, s) && s.minimized;
}

bool isZoomed(HWND hwnd) {
  WindowState s;
  return windowState(hwnd, s) && s.maximized;
}

bool getWindowPlacement(HWND hwnd, WindowPlacement& p) {
  std::lock_guard<std::mutex> lock(core().m);
  auto rec = findLocked(hwnd);
  if (!rec) {
    platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
  }
  p.length = sizeof(WindowPlacement);
  p.flags = rec->restoreToMax ? WPF_RESTORETOMAXIMIZED : 0;
  if (!(rec->style & WS_VISIBLE))
    p.showCmd = (rec->style & WS_MINIMIZE) ? SW_SHOWMINIMIZED : (rec->style & WS_MAXIMIZE) ? SW_SHOWMAXIMIZED : SW_HIDE;
  else
    p.showCmd = (rec->style & WS_MINIMIZE) ? SW_SHOWMINIMIZED : (rec->style & WS_MAXIMIZE) ? SW_SHOWMAXIMIZED
                                                                                           : SW_SHOWNORMAL;
  p.rcNormalPosition = rec->normal;
  return true;
}

bool setWindowPlacement(HWND hwnd, const WindowPlacement& p) {
  bool visible;
  {
    std::lock_guard<std::mutex> lock(core().m);
    auto rec = findLocked(hwnd);
    if (!rec) {
      platform::os::setLastError(ERROR_INVALID_WINDOW_HANDLE);
      return false;
    }
    rec->normal = p.rcNormalPosition;
    rec->restoreToMax = (p.flags & WPF_RESTORETOMAXIMIZED) != 0;
    if (!(rec->style & (WS_MINIMIZE | WS_MAXIMIZE))) rec->rect = rec->normal;
    visible = rec->style & WS_VISIBLE;
    if (!visible) {
      // Kept for the next showing; the window stays hidden.
      uint32_t state = 0;
      if (p.showCmd == SW_SHOWMINIMIZED || p.showCmd == SW_MINIMIZE || p.showCmd == SW_SHOWMINNOACTIVE)
        state = WS_MINIMIZE;
      else if (p.showCmd == SW_SHOWMAXIMIZED)
        state = WS_MAXIMIZE;
      if (p.showCmd != SW_HIDE) rec->style = (rec->style & ~(WS_MINIMIZE | WS_MAXIMIZE)) | state;
    }
  }
  if (visible) showWindow(hwnd, static_cast<int>(p.showCmd));
  notifyBackend(hwnd);
  return true;
}

bool enableWindow(HWND hwnd, bool enable) {
  std::lock_guard<std::mutex> lock(core().m);
  auto rec = findLocked(hwnd);
  if (!rec) return false;
  const bool wasDisabled = rec->style & WS_DISABLED;
  if (enable)
    rec->style &= ~WS_DISABLED;
  else
    rec->style |= WS_DISABLED;
  return wasDisabled;
}

bool isWindowEnabled(HWND hwnd) {
  WindowState s;
  return windowState(hwnd, s) && s.enabled;
}

HWND getActiveWindow() {
  std::lock_guard<std::mutex> lock(core().m);
  auto it = core().active.find(myTid());
  return it == core().active.end() ? 0 : it->second;
}

HWND setActiveWindow(HWND hwnd) {
  HWND previous;
  {
    std::lock_guard<std::mutex> lock(core().m);
    auto rec = findLocked(hwnd);
    if (!rec || !isTopLevel(*rec)) return 0;
    HWND& active = core().active[rec->thread];
    previous = active;
    core().foreground = hwnd;
    if (previous == hwnd) return previous;
    active = hwnd;
  }
  if (previous) sendMessage(previous, WM_ACTIVATE, WA_INACTIVE, static_cast<LPARAM>(hwnd));
  sendMessage(hwnd, WM_ACTIVATE, WA_ACTIVE, static_cast<LPARAM>(previous));
  return previous;
}

HWND getForegroundWindow() {
  std::lock_guard<std::mutex> lock(core().m);
  return core().foreground;
}

namespace {
bool contains(const Rect& r, Point p) { return p.x >= r.left && p.y >= r.top && p.x < r.right && p.y < r.bottom; }

HWND childAtLocked(const WindowRec& parent, Point local) {
  for (auto it = parent.children.rbegin(); it != parent.children.rend(); ++it) {
    auto child = findLocked(*it);
    if (!child || !(child->style & WS_VISIBLE) || !contains(child->rect, local)) continue;
    const Point inner{local.x - child->rect.left, local.y - child->rect.top};
    const HWND deeper = childAtLocked(*child, inner);
    return deeper ? deeper : child->hwnd;
  }
  return 0;
}
}  // namespace

HWND windowFromPoint(Point pt) {
  std::lock_guard<std::mutex> lock(core().m);
  auto& order = core().topOrder;
  for (int pass = 0; pass < 2; ++pass) {
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
      auto rec = findLocked(*it);
      if (!rec || !(rec->style & WS_VISIBLE) || (rec->style & WS_MINIMIZE)) continue;
      if (((rec->exStyle & WS_EX_TOPMOST) != 0) != (pass == 0)) continue;
      if (!contains(rec->rect, pt)) continue;
      const HWND child = childAtLocked(*rec, Point{pt.x - rec->rect.left, pt.y - rec->rect.top});
      return child ? child : rec->hwnd;
    }
  }
  return 0;
}

bool getCursorPos(Point& pt) {
  pt = cursorOrZero();
  return true;
}

HWND getCapture() {
  std::lock_guard<std::mutex> lock(core().m);
  return core().capture;
}

HWND setCapture(HWND hwnd) {
  HWND previous;
  {
    std::lock_guard<std::mutex> lock(core().m);
    previous = core().capture;
    core().capture = findLocked(hwnd) ? hwnd : 0;
  }
  if (previous && previous != hwnd) sendMessage(previous, WM_CAPTURECHANGED, 0, static_cast<LPARAM>(hwnd));
  return previous;
}

bool releaseCapture() {
  HWND previous;
  {
    std::lock_guard<std::mutex> lock(core().m);
    previous = core().capture;
    core().capture = 0;
  }
  if (previous) sendMessage(previous, WM_CAPTURECHANGED, 0, 0);
  return true;
}

int16_t getKeyState(int vk) {
  std::lock_guard<std::mutex> lock(core().m);
  const uint8_t k = core().keys[vk & 0xFF];
  return static_cast<int16_t>(((k & 0x80) ? 0x8000 : 0) | (k & 1));
}

bool invalidateRect(HWND hwnd, const Rect* rect, bool) {
  std::shared_ptr<Queue> q;
  bool added;
  {
    std::lock_guard<std::mutex> lock(core().m);
    auto rec = findLocked(hwnd);
    if (!rec) return false;
    const Rect client{0, 0, rec->rect.right - rec->rect.left, rec->rect.bottom - rec->rect.top};
    Rect r = rect ? *rect : client;
    const bool empty = r.right <= r.left || r.bottom <= r.top;
    if (rec->hasUpdate) {
      if (!empty)
        rec->updateRect = Rect{std::min(r.left, rec->updateRect.left), std::min(r.top, rec->updateRect.top),
                               std::max(r.right, rec->updateRect.right), std::max(r.bottom, rec->updateRect.bottom)};
    } else {
      rec->updateRect = empty ? Rect{} : r;
    }
    added = !rec->hasUpdate;
    rec->hasUpdate = true;
    q = rec->queue;
  }
  std::lock_guard<std::mutex> lock(q->m);
  if (added) q->paintPending++;
  q->bumpLocked();
  return true;
}

bool validateRect(HWND hwnd, const Rect*) {
  std::shared_ptr<Queue> q;
  {
    std::lock_guard<std::mutex> lock(core().m);
    auto rec = findLocked(hwnd);
    if (!rec) return false;
    if (!rec->hasUpdate) return true;
    rec->hasUpdate = false;
    rec->updateRect = Rect{};
    q = rec->queue;
  }
  std::lock_guard<std::mutex> lock(q->m);
  q->paintPending--;
  return true;
}

bool getUpdateRect(HWND hwnd, Rect& rect) {
  std::lock_guard<std::mutex> lock(core().m);
  auto rec = findLocked(hwnd);
  rect = Rect{};
  if (!rec || !rec->hasUpdate) return false;
  rect = rec->updateRect;
  return true;
}

HDC beginPaint(HWND hwnd, PaintStruct& ps) {
  ps = PaintStruct{};
  if (!isWindow(hwnd)) return 0;
  getUpdateRect(hwnd, ps.rcPaint);
  validateRect(hwnd, nullptr);
  ps.hdc = getDC(hwnd);
  return ps.hdc;
}

bool endPaint(HWND hwnd, const PaintStruct& ps) {
  if (ps.hdc) releaseDC(hwnd, ps.hdc);
  return isWindow(hwnd);
}

bool updateWindow(HWND hwnd) {
  auto rec = find(hwnd);
  if (!rec) return false;
  bool pending;
  {
    std::lock_guard<std::mutex> lock(core().m);
    pending = rec->hasUpdate;
  }
  if (pending) sendMessage(hwnd, WM_PAINT, 0, 0);
  return true;
}

// ---- monitors, metrics, device capabilities ----

namespace {
constexpr HMONITOR kMonitorBase = 0x4D000;
constexpr HDC kScreenDC = 0x5C01;
constexpr HWND kDesktopWindow = 0x10;
std::atomic<HDC> g_nextDisplayDC{0x5C10};

Rect intersect(const Rect& a, const Rect& b) {
  return Rect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
}
bool isEmpty(const Rect& r) { return r.right <= r.left || r.bottom <= r.top; }
}  // namespace

bool enumDisplayMonitors(HDC, const Rect* clip, const MonitorEnumProc& proc) {
  const std::vector<MonitorDesc> list = windowBackend().monitors();
  for (size_t i = 0; i < list.size(); ++i) {
    Rect r = list[i].bounds;
    if (clip) r = intersect(r, *clip);
    if (isEmpty(r)) continue;
    if (!proc(kMonitorBase + i + 1, r)) return false;
  }
  return true;
}

bool getMonitorInfo(HMONITOR monitor, MonitorInfo& info) {
  const std::vector<MonitorDesc> list = windowBackend().monitors();
  if (monitor <= kMonitorBase || monitor > kMonitorBase + list.size() || info.cbSize < MONITORINFO_SIZE) {
    platform::os::setLastError(87);
    return false;
  }
  const size_t i = monitor - kMonitorBase - 1;
  info.rcMonitor = list[i].bounds;
  info.rcWork = list[i].work;
  info.dwFlags = i == 0 ? MONITORINFOF_PRIMARY : 0;
  if (info.cbSize >= MONITORINFOEX_SIZE) {
    const std::string name = "\\\\.\\DISPLAY" + std::to_string(i + 1);
    info.deviceName.assign(name.begin(), name.end());
  }
  return true;
}

int32_t getSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
    case SM_CYSCREEN: {
      const auto list = windowBackend().monitors();
      if (list.empty()) return 0;
      const Rect& b = list.front().bounds;
      return index == SM_CXSCREEN ? width(b) : height(b);
    }
    case SM_CXFRAME:
    case SM_CYFRAME: return 4;
    case SM_CYCAPTION: return 23;
    case SM_CYMENU: return 20;
    case SM_CXMENUCHECK: return 15;
    default: return 0;
  }
}

bool systemParametersInfo(uint32_t action, uint32_t uiParam, void* param, uint32_t) {
  Core& c = core();
  switch (action) {
    case SPI_GETWORKAREA: {
      const auto list = windowBackend().monitors();
      if (!param || list.empty()) return false;
      *static_cast<Rect*>(param) = list.front().work;
      return true;
    }
    case SPI_SETSCREENSAVEACTIVE: {
      {
        std::lock_guard<std::mutex> lock(c.m);
        c.saverActiveSetting = uiParam != 0;
      }
      applyInhibit();
      return true;
    }
    case SPI_SETSCREENSAVERRUNNING: {
      std::lock_guard<std::mutex> lock(c.m);
      c.saverRunning = uiParam != 0;
      return true;
    }
    default: platform::os::setLastError(87); return false;
  }
}

uint32_t setThreadExecutionState(uint32_t flags) {
  Core& c = core();
  uint32_t previous;
  {
    std::lock_guard<std::mutex> lock(c.m);
    previous = c.executionState | ES_CONTINUOUS;
    if (flags & ES_CONTINUOUS) {
      c.executionState = flags & ~ES_CONTINUOUS;
      c.displayRequired = (flags & ES_DISPLAY_REQUIRED) != 0;
    }
  }
  applyInhibit();
  return previous;
}

bool screenSaverInhibited() {
  std::lock_guard<std::mutex> lock(core().m);
  return core().inhibited;
}

bool screenSaverRunningFlag() {
  std::lock_guard<std::mutex> lock(core().m);
  return core().saverRunning;
}


HDC getDC(HWND hwnd) { return hwnd == 0 ? kScreenDC : windowSurfaceDC(hwnd); }
int releaseDC(HWND, HDC hdc) {
  if (hdc == kScreenDC) return 1;
  return releaseSurfaceDC(hdc) ? 1 : 0;
}
HDC createDisplayDC() { return g_nextDisplayDC.fetch_add(1); }
bool deleteDC(HDC hdc) {
  if (hdc >= kSurfaceDCBase) return deleteSurfaceDC(hdc);
  return hdc >= 0x5C10;
}

int32_t getDeviceCaps(HDC hdc, int index) {
  if (hdc >= kSurfaceDCBase) return index == BITSPIXEL ? surfaceBitsPerPixel(hdc) : 0;
  if (hdc != kScreenDC && hdc < 0x5C10) return 0;
  const auto list = windowBackend().monitors();
  const MonitorDesc m = list.empty() ? MonitorDesc{} : list.front();
  switch (index) {
    case BITSPIXEL: return m.bitsPerPixel;
    case VREFRESH: return m.refreshHz > 0 ? m.refreshHz : 60;
    case LOGPIXELSX: return m.dpiX > 0 ? static_cast<int32_t>(m.dpiX + 0.5f) : 96;
    case LOGPIXELSY: return m.dpiY > 0 ? static_cast<int32_t>(m.dpiY + 0.5f) : 96;
    default: return 0;
  }
}

HWND getDesktopWindow() { return kDesktopWindow; }

// ---- optional entry points ----

namespace {
int32_t compositionOn(int32_t* enabled) {
  if (enabled) *enabled = 1;
  return 0;
}

std::mutex g_entriesLock;
OptionalEntries& entries() {
  static OptionalEntries* e = new OptionalEntries(defaultOptionalEntries());
  return *e;
}

std::string libraryKey(std::string_view library) {
  std::string s;
  for (char ch : library) s += static_cast<char>((ch >= 'A' && ch <= 'Z') ? ch + 32 : ch);
  if (s.size() > 4 && s.ends_with(".dll")) s.resize(s.size() - 4);
  return s;
}
}  // namespace

OptionalEntries defaultOptionalEntries() {
  OptionalEntries e;
  e.dwmIsCompositionEnabled = &compositionOn;
  e.addClipboardFormatListener = &addClipboardFormatListener;
  e.removeClipboardFormatListener = &removeClipboardFormatListener;
  e.enumDisplayMonitors = &enumDisplayMonitors;
  e.getMonitorInfo = &getMonitorInfo;
  return e;
}

OptionalEntries setOptionalEntries(const OptionalEntries& e) {
  std::lock_guard<std::mutex> lock(g_entriesLock);
  OptionalEntries previous = entries();
  entries() = e;
  return previous;
}

void* optionalEntry(std::string_view library, std::string_view entry) {
  const std::string lib = libraryKey(library);
  std::lock_guard<std::mutex> lock(g_entriesLock);
  const OptionalEntries& e = entries();
  auto as = [](auto f) { return reinterpret_cast<void*>(f); };
  if (lib == "dwmapi") {
    if (entry == "DwmIsCompositionEnabled") return as(e.dwmIsCompositionEnabled);
    if (entry == "DwmSetWindowAttribute") return as(e.dwmSetWindowAttribute);
  } else if (lib == "user32") {
    if (entry == "AddClipboardFormatListener") return as(e.addClipboardFormatListener);
    if (entry == "RemoveClipboardFormatListener") return as(e.removeClipboardFormatListener);
    if (entry == "EnumDisplayMonitors") return as(e.enumDisplayMonitors);
    if (entry == "GetMonitorInfoA") return as(e.getMonitorInfo);
  } else if (lib == "wtsapi32") {
    if (entry == "WTSRegisterSessionNotification") return as(e.wtsRegisterSessionNotification);
    if (entry == "WTSUnRegisterSessionNotification") return as(e.wtsUnRegisterSessionNotification);
  }
  return nullptr;
}

bool optionalLibraryPresent(std::string_view library) {
  const std::string lib = libraryKey(library);
  std::lock_guard<std::mutex> lock(g_entriesLock);
  const OptionalEntries& e = entries();
  if (lib == "dwmapi") return e.dwmIsCompositionEnabled || e.dwmSetWindowAttribute;
  if (lib == "user32") return true;
  if (lib == "wtsapi32") return e.wtsRegisterSessionNotification || e.wtsUnRegisterSessionNotification;
  return false;
}

}  // namespace platform::window
