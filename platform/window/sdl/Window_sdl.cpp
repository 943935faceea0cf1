// The SDL2 window backend: a top-level window gets its SDL window when it is
// first shown; the main thread pumps SDL's events into the queues; monitors
// come from SDL's displays; the screen saver is held off through SDL, which
// ends with the process. SDL is used from the main thread only, so top-level
// windows belong to the main thread.
#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/window/Utf.h"
#include "platform/window/api.h"

namespace platform::window {

namespace {

Rect fromSdl(const SDL_Rect& r) { return Rect{r.x, r.y, r.x + r.w, r.y + r.h}; }

class SdlBackend : public WindowBackend {
 public:
  bool start() {
    // SDL holds the screen saver off for every program by default; here it
    // is held off only while the program asks.
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      std::fprintf(stderr, "SDL video cannot start: %s\n", SDL_GetError());
      return false;
    }
    started_ = true;
    readMonitors();
    return true;
  }

  const char* name() const override { return "sdl"; }

  void windowCreated(HWND hwnd) override { windowChanged(hwnd); }

  void windowChanged(HWND hwnd) override {
    WindowState s;
    if (!windowState(hwnd, s)) return;
    SDL_Window* w = find(hwnd);
    if (!w) {
      if (!s.visible) return;  // made when first shown
      w = create(s);
      if (!w) return;
    }
    SDL_SetWindowTitle(w, utf::Utf8Of(s.text).c_str());
    const int cw = std::max(1, s.rect.right - s.rect.left), ch = std::max(1, s.rect.bottom - s.rect.top);
    int x, y, ww, wh;
    SDL_GetWindowPosition(w, &x, &y);
    SDL_GetWindowSize(w, &ww, &wh);
    if (!s.minimized && !s.maximized) {
      if (x != s.rect.left || y != s.rect.top) SDL_SetWindowPosition(w, s.rect.left, s.rect.top);
      if (ww != cw || wh != ch) SDL_SetWindowSize(w, cw, ch);
    }
    SDL_SetWindowAlwaysOnTop(w, s.topmost ? SDL_TRUE : SDL_FALSE);
    const Uint32 flags = SDL_GetWindowFlags(w);
    if (s.visible && (flags & SDL_WINDOW_HIDDEN)) SDL_ShowWindow(w);
    if (!s.visible && !(flags & SDL_WINDOW_HIDDEN)) SDL_HideWindow(w);
    if (s.visible) {
      if (s.minimized && !(flags & SDL_WINDOW_MINIMIZED)) SDL_MinimizeWindow(w);
      if (s.maximized && !(flags & SDL_WINDOW_MAXIMIZED)) SDL_MaximizeWindow(w);
      if (!s.minimized && !s.maximized && (flags & (SDL_WINDOW_MINIMIZED | SDL_WINDOW_MAXIMIZED)))
        SDL_RestoreWindow(w);
    }
  }

  void windowDestroyed(HWND hwnd) override {
    SDL_Window* w = nullptr;
    {
      std::lock_guard<std::mutex> lock(m_);
      auto it = windows_.find(hwnd);
      if (it == windows_.end()) return;
      w = it->second;
      windows_.erase(it);
      byId_.erase(SDL_GetWindowID(w));
    }
    SDL_DestroyWindow(w);
  }

  void pumpEvents() override {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
      if (e.type == SDL_QUIT) {
        for (HWND h : topLevelWindows())
          if (isWindowVisible(h)) backendWindowClosing(h);
      } else if (e.type == SDL_MOUSEMOTION || e.type == SDL_MOUSEBUTTONDOWN || e.type == SDL_MOUSEBUTTONUP) {
        InputEvent in;
        const bool motion = e.type == SDL_MOUSEMOTION;
        in.kind = motion ? InputKind::MouseMotion
                         : e.type == SDL_MOUSEBUTTONDOWN ? InputKind::MouseButtonDown : InputKind::MouseButtonUp;
        in.window = byId(motion ? e.motion.windowID : e.button.windowID);
        in.x = motion ? e.motion.x : e.button.x;
        in.y = motion ? e.motion.y : e.button.y;
        if (!motion) {
          in.button = e.button.button;
          in.clicks = e.button.clicks;
        }
        in.mod = static_cast<uint16_t>(SDL_GetModState());
        deliverInput(in);
      } else if (e.type == SDL_MOUSEWHEEL) {
        InputEvent in;
        in.kind = InputKind::MouseWheel;
        in.window = byId(e.wheel.windowID);
        in.wheelY = e.wheel.preciseY != 0 ? e.wheel.preciseY : static_cast<float>(e.wheel.y);
        if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) in.wheelY = -in.wheelY;
        SDL_GetMouseState(&in.x, &in.y);
        in.mod = static_cast<uint16_t>(SDL_GetModState());
        deliverInput(in);
      } else if (e.type == SDL_KEYDOWN || e.type == SDL_KEYUP) {
        InputEvent in;
        in.kind = e.type == SDL_KEYDOWN ? InputKind::KeyDown : InputKind::KeyUp;
        in.window = byId(e.key.windowID);
        in.keycode = e.key.keysym.sym;
        in.scancode = e.key.keysym.scancode;
        in.mod = e.key.keysym.mod;
        in.repeat = e.key.repeat != 0;
        deliverInput(in);
      } else if (e.type == SDL_TEXTINPUT) {
        InputEvent in;
        in.kind = InputKind::TextInput;
        in.window = byId(e.text.windowID);
        in.text = e.text.text;
        in.mod = static_cast<uint16_t>(SDL_GetModState());
        deliverInput(in);
      } else if (e.type == SDL_CLIPBOARDUPDATE) {
        backendClipboardChanged();
      } else if (e.type == SDL_DISPLAYEVENT) {
        readMonitors();
      } else if (e.type == SDL_WINDOWEVENT) {
        const HWND h = byId(e.window.windowID);
        if (!h) continue;
        switch (e.window.event) {
          case SDL_WINDOWEVENT_CLOSE: backendWindowClosing(h); break;
          case SDL_WINDOWEVENT_MOVED:
          case SDL_WINDOWEVENT_SIZE_CHANGED: {
            SDL_Window* w = find(h);
            if (!w) break;
            int x, y, ww, wh;
            SDL_GetWindowPosition(w, &x, &y);
            SDL_GetWindowSize(w, &ww, &wh);
            Rect r{x, y, x + ww, y + wh};
            const Uint32 flags = SDL_GetWindowFlags(w);
            // A size the user dragged is offered to the window first (a
            // drawn form keeps its minimum size).
            if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED &&
                !(flags & (SDL_WINDOW_MAXIMIZED | SDL_WINDOW_MINIMIZED | SDL_WINDOW_FULLSCREEN))) {
              WindowState s;
              if (windowState(h, s) && (s.rect.right - s.rect.left != ww || s.rect.bottom - s.rect.top != wh)) {
                const Rect a = backendWindowSizing(h, r);
                if (a.right - a.left != ww || a.bottom - a.top != wh) {
                  r = Rect{x, y, x + std::max(1, a.right - a.left), y + std::max(1, a.bottom - a.top)};
                  SDL_SetWindowSize(w, r.right - r.left, r.bottom - r.top);
                }
              }
            }
            backendWindowMoved(h, r);
            break;
          }
          case SDL_WINDOWEVENT_MINIMIZED: backendWindowStateChanged(h, true, false); break;
          case SDL_WINDOWEVENT_MAXIMIZED: backendWindowStateChanged(h, false, true); break;
          case SDL_WINDOWEVENT_RESTORED: backendWindowStateChanged(h, false, false); break;
          case SDL_WINDOWEVENT_FOCUS_GAINED: setActiveWindow(h); break;
          default: break;
        }
      }
    }
  }

  uint32_t pumpIntervalMs() const override { return 5; }

  std::vector<MonitorDesc> monitors() override {
    std::lock_guard<std::mutex> lock(m_);
    return monitors_;
  }

  Point cursorPos() override {
    int x = 0, y = 0;
    SDL_GetGlobalMouseState(&x, &y);
    return Point{x, y};
  }

  void inhibitScreenSaver(bool inhibit) override {
    if (inhibit)
      SDL_DisableScreenSaver();
    else
      SDL_EnableScreenSaver();
  }

  bool screenSaverHeldOff() override { return started_ && SDL_IsScreenSaverEnabled() == SDL_FALSE; }

  void* nativeWindow(HWND hwnd) override { return find(hwnd); }

  void showCursor(uint32_t idc) override {
    if (idc == 0) {
      SDL_ShowCursor(SDL_DISABLE);
      return;
    }
    SDL_SystemCursor id = SDL_SYSTEM_CURSOR_ARROW;
    switch (idc) {
      case IDC_IBEAM: id = SDL_SYSTEM_CURSOR_IBEAM; break;
      case IDC_WAIT: id = SDL_SYSTEM_CURSOR_WAIT; break;
      case IDC_CROSS: id = SDL_SYSTEM_CURSOR_CROSSHAIR; break;
      case IDC_SIZENWSE: id = SDL_SYSTEM_CURSOR_SIZENWSE; break;
      case IDC_SIZENESW: id = SDL_SYSTEM_CURSOR_SIZENESW; break;
      case IDC_SIZEWE: id = SDL_SYSTEM_CURSOR_SIZEWE; break;
      case IDC_SIZENS: id = SDL_SYSTEM_CURSOR_SIZENS; break;
      case IDC_SIZEALL: id = SDL_SYSTEM_CURSOR_SIZEALL; break;
      case IDC_HAND: id = SDL_SYSTEM_CURSOR_HAND; break;
      default: break;
    }
    SDL_Cursor*& c = cursors_[id];
    if (!c) c = SDL_CreateSystemCursor(id);  // shared, kept for the process
    if (c) SDL_SetCursor(c);
    SDL_ShowCursor(SDL_ENABLE);
  }

  bool setClipboardText(const std::string& utf8) override {
    SDL_SetClipboardText(utf8.c_str());
    return true;
  }

  bool clipboardText(std::string& utf8) override {
    char* t = SDL_GetClipboardText();
    utf8 = t ? t : "";
    SDL_free(t);
    return true;
  }

  void setWindowOpacity(HWND hwnd, float opacity) override {
    if (SDL_Window* w = find(hwnd)) SDL_SetWindowOpacity(w, opacity);
  }

  void shutdown() override {
    std::unordered_map<HWND, SDL_Window*> windows;
    {
      std::lock_guard<std::mutex> lock(m_);
      windows.swap(windows_);
      byId_.clear();
    }
    for (auto& [h, w] : windows) SDL_DestroyWindow(w);
    if (started_) {
      SDL_EnableScreenSaver();
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
      started_ = false;
    }
  }

 private:
  SDL_Window* find(HWND hwnd) {
    std::lock_guard<std::mutex> lock(m_);
    auto it = windows_.find(hwnd);
    return it == windows_.end() ? nullptr : it->second;
  }

  HWND byId(Uint32 id) {
    std::lock_guard<std::mutex> lock(m_);
    auto it = byId_.find(id);
    return it == byId_.end() ? 0 : it->second;
  }

  SDL_Window* create(const WindowState& s) {
    Uint32 flags = SDL_WINDOW_HIDDEN;
    const bool caption = (s.style & WS_CAPTION) == WS_CAPTION;
    if (!caption) flags |= SDL_WINDOW_BORDERLESS;
    if (s.style & WS_THICKFRAME) flags |= SDL_WINDOW_RESIZABLE;
    if (s.exStyle & WS_EX_TOOLWINDOW) flags |= SDL_WINDOW_UTILITY | SDL_WINDOW_SKIP_TASKBAR;
    if (s.topmost) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
    const int w = std::max(1, s.rect.right - s.rect.left), h = std::max(1, s.rect.bottom - s.rect.top);
    const std::string title = utf::Utf8Of(s.text);
    // The GPU area presents through GL into these windows; a driver without
    // GL still gets a plain window.
    SDL_Window* win = SDL_CreateWindow(title.c_str(), s.rect.left, s.rect.top, w, h, flags | SDL_WINDOW_OPENGL);
    if (!win) win = SDL_CreateWindow(title.c_str(), s.rect.left, s.rect.top, w, h, flags);
    if (!win) {
      std::fprintf(stderr, "SDL window cannot be made: %s\n", SDL_GetError());
      return nullptr;
    }
    std::lock_guard<std::mutex> lock(m_);
    windows_[s.hwnd] = win;
    byId_[SDL_GetWindowID(win)] = s.hwnd;
    return win;
  }

  void readMonitors() {
    std::vector<MonitorDesc> list;
    const int n = SDL_GetNumVideoDisplays();
    for (int i = 0; i < n; ++i) {
      MonitorDesc d;
      SDL_Rect r;
      if (SDL_GetDisplayBounds(i, &r) == 0) d.bounds = fromSdl(r);
      d.work = SDL_GetDisplayUsableBounds(i, &r) == 0 ? fromSdl(r) : d.bounds;
      SDL_DisplayMode mode;
      if (SDL_GetCurrentDisplayMode(i, &mode) == 0) {
        d.refreshHz = mode.refresh_rate > 0 ? mode.refresh_rate : 60;
        d.bitsPerPixel = static_cast<int32_t>(SDL_BITSPERPIXEL(mode.format));
        if (d.bitsPerPixel == 0) d.bitsPerPixel = 32;
      }
      float ddpi, hdpi, vdpi;
      if (SDL_GetDisplayDPI(i, &ddpi, &hdpi, &vdpi) == 0 && hdpi > 0 && vdpi > 0) {
        d.dpiX = hdpi;
        d.dpiY = vdpi;
      }
      list.push_back(d);
    }
    std::lock_guard<std::mutex> lock(m_);
    monitors_ = std::move(list);
  }

  std::mutex m_;
  std::unordered_map<HWND, SDL_Window*> windows_;
  std::unordered_map<Uint32, HWND> byId_;
  std::vector<MonitorDesc> monitors_;
  SDL_Cursor* cursors_[SDL_NUM_SYSTEM_CURSORS] = {};
  bool started_ = false;
};

SdlBackend* g_sdl = nullptr;

// The inhibition belongs to the process: a program that ends with the
// request still on gives the screen saver back on its way out.
void restoreAtExit() {
  if (g_sdl && SDL_WasInit(SDL_INIT_VIDEO)) SDL_EnableScreenSaver();
}

}  // namespace

WindowBackend* sdlWindowBackend() {
  static std::mutex m;
  std::lock_guard<std::mutex> lock(m);
  if (g_sdl) return g_sdl;
  auto* b = new SdlBackend;
  if (!b->start()) {
    delete b;
    return nullptr;
  }
  g_sdl = b;
  std::atexit(&restoreAtExit);
  return g_sdl;
}

}  // namespace platform::window
