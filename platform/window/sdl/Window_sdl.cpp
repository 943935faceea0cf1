// The SDL2 window backend: a top-level window gets its SDL window when it is
// first shown; the main thread pumps SDL's events into the queues; monitors
// come from SDL's displays; the screen saver is held off through SDL, which
// ends with the process. SDL is used from the main thread only, so top-level
// windows belong to the main thread.
//
// A window's software back surface is shown through GL: a texture per window
// the size of the back surface, the changed rectangle uploaded, one quad over
// the whole window, a swap. The backend has a GL context of its own, made
// current only for that and the previous one made current again: the
// graphics device's context keeps its objects and bindings untouched.
#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/os/threads.h"
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
    bool made = false;
    if (!w) {
      if (!s.visible) return;  // made when first shown
      w = create(s);
      if (!w) return;
      made = true;
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
    // A window made on the screen is exposed as a whole: what was painted
    // before is shown now, and the window is asked to paint again, so a
    // picture the graphics device presented before the window existed is
    // presented once more.
    if (made) {
      backendShowBackSurface(hwnd);
      invalidateRect(hwnd, nullptr, false);
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
    dropTexture(hwnd, w);
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
          // The display lost the window's picture: it paints again.
          case SDL_WINDOWEVENT_EXPOSED: invalidateRect(h, nullptr, false); break;
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

  bool presentBackSurface(HWND hwnd, const uint8_t* bits, int32_t width, int32_t height,
                          const Rect& changed) override {
    if (platform::os::currentThreadId() != platform::os::mainThreadId()) return false;
    if (!bits || width <= 0 || height <= 0) return true;
    SDL_Window* w = find(hwnd);
    if (!w) return false;  // shown when the window is made
    const Uint32 flags = SDL_GetWindowFlags(w);
    if (!(flags & SDL_WINDOW_OPENGL)) return true;
    if (flags & SDL_WINDOW_MINIMIZED) return false;
    CurrentContext keep;
    if (!use(w)) return true;
    Shown& shown = shown_[hwnd];
    glActiveTexture(GL_TEXTURE0);
    // Every row of the back surface is width pixels; the changed rectangle
    // starts inside it.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, width);
    if (!shown.texture || shown.width != width || shown.height != height) {
      // A new texture, or the window's size changed: all of it goes up.
      if (!shown.texture) glGenTextures(1, &shown.texture);
      glBindTexture(GL_TEXTURE_2D, shown.texture);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
      glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE, bits);
      shown.width = width;
      shown.height = height;
    } else {
      const int32_t l = std::max(0, changed.left), t = std::max(0, changed.top);
      const int32_t r = std::min(width, changed.right), b = std::min(height, changed.bottom);
      glBindTexture(GL_TEXTURE_2D, shown.texture);
      // Texture row 0 is the back surface's top row; the quad turns it the
      // right way up.
      if (r > l && b > t)
        glTexSubImage2D(GL_TEXTURE_2D, 0, l, t, r - l, b - t, GL_BGRA, GL_UNSIGNED_BYTE,
                        bits + (static_cast<size_t>(t) * static_cast<size_t>(width) + static_cast<size_t>(l)) * 4);
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    int dw = 0, dh = 0;
    SDL_GL_GetDrawableSize(w, &dw, &dh);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, dw, dh);
    glDisable(GL_BLEND);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    glUseProgram(program_);
    glBindVertexArray(vao_);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glBindTexture(GL_TEXTURE_2D, 0);
    SDL_GL_SwapWindow(w);
    return true;
  }

  bool presentedPixels(HWND hwnd, int32_t& width, int32_t& height, std::vector<uint8_t>& bgra) override {
    if (platform::os::currentThreadId() != platform::os::mainThreadId()) return false;
    SDL_Window* w = find(hwnd);
    if (!w || !(SDL_GetWindowFlags(w) & SDL_WINDOW_OPENGL)) return false;
    CurrentContext keep;
    if (!use(w)) return false;
    int dw = 0, dh = 0;
    SDL_GL_GetDrawableSize(w, &dw, &dh);
    if (dw <= 0 || dh <= 0) return false;
    std::vector<uint8_t> up(static_cast<size_t>(dw) * static_cast<size_t>(dh) * 4);
    // Only the read's own error counts (bounded: a lost context keeps one).
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glReadPixels(0, 0, dw, dh, GL_BGRA, GL_UNSIGNED_BYTE, up.data());
    if (glGetError() != GL_NO_ERROR) return false;
    // GL counts rows from the bottom.
    const size_t row = static_cast<size_t>(dw) * 4;
    bgra.resize(up.size());
    for (int y = 0; y < dh; ++y)
      std::copy_n(up.data() + static_cast<size_t>(dh - 1 - y) * row, row, bgra.data() + static_cast<size_t>(y) * row);
    width = dw;
    height = dh;
    return true;
  }

  void shutdown() override {
    std::unordered_map<HWND, SDL_Window*> windows;
    {
      std::lock_guard<std::mutex> lock(m_);
      windows.swap(windows_);
      byId_.clear();
    }
    for (auto& [h, w] : windows) dropTexture(h, w);
    if (gl_) {
      SDL_GL_DeleteContext(gl_);
      SDL_GL_UnloadLibrary();
      gl_ = nullptr;
      program_ = vao_ = 0;
    }
    glFailed_ = false;
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

  // The GL 3.3 core attributes the graphics device makes its context with.
  static void setGlAttributes() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 0);
  }

  // Makes the current GL context current again when it goes.
  struct CurrentContext {
    SDL_Window* window = SDL_GL_GetCurrentWindow();
    SDL_GLContext context = SDL_GL_GetCurrentContext();
    CurrentContext() = default;
    CurrentContext(const CurrentContext&) = delete;
    CurrentContext& operator=(const CurrentContext&) = delete;
    ~CurrentContext() {
      if (context && window)
        SDL_GL_MakeCurrent(window, context);
      else
        SDL_GL_MakeCurrent(SDL_GL_GetCurrentWindow(), nullptr);
    }
  };

  // Makes the backend's context current on the window, making the context
  // and its quad program first; false when there is no GL 3.3 core.
  bool use(SDL_Window* w) {
    if (gl_) return SDL_GL_MakeCurrent(w, gl_) == 0;
    if (glFailed_) return false;
    glFailed_ = true;  // until everything below worked
    setGlAttributes();
    // SDL unloads the GL library, and with it every context, when its last
    // GL window goes; the context holds a load of its own.
    if (SDL_GL_LoadLibrary(nullptr) != 0) return false;
    SDL_GLContext c = SDL_GL_CreateContext(w);  // current from here
    if (!c) {
      std::fprintf(stderr, "No GL context to show painted windows: %s\n", SDL_GetError());
      SDL_GL_UnloadLibrary();
      return false;
    }
    if (epoxy_gl_version() < 33 || !makeProgram()) {
      SDL_GL_DeleteContext(c);
      SDL_GL_UnloadLibrary();
      return false;
    }
    glGenVertexArrays(1, &vao_);
    gl_ = c;
    glFailed_ = false;
    return true;
  }

  static GLuint compile(GLenum kind, const char* source) {
    const GLuint sh = glCreateShader(kind);
    glShaderSource(sh, 1, &source, nullptr);
    glCompileShader(sh);
    GLint ok = 0;
    glGetShaderiv(sh, GL_COMPILE_STATUS, &ok);
    if (!ok) {
      glDeleteShader(sh);
      return 0;
    }
    return sh;
  }

  bool makeProgram() {
    // One strip over the whole window; texture row 0 (the back surface's top
    // row) lands at the window's top.
    static const char* const vs =
        "#version 330 core\n"
        "out vec2 vUv;\n"
        "void main() {\n"
        "  vec2 p = vec2(float(gl_VertexID & 1), float((gl_VertexID >> 1) & 1));\n"
        "  vUv = vec2(p.x, 1.0 - p.y);\n"
        "  gl_Position = vec4(p * 2.0 - 1.0, 0.0, 1.0);\n"
        "}\n";
    // The back surface's alpha byte means nothing to a window: it shows opaque.
    static const char* const fs =
        "#version 330 core\n"
        "in vec2 vUv;\n"
        "uniform sampler2D uBack;\n"
        "out vec4 fragColor;\n"
        "void main() { fragColor = vec4(texture(uBack, vUv).rgb, 1.0); }\n";
    const GLuint v = compile(GL_VERTEX_SHADER, vs), f = compile(GL_FRAGMENT_SHADER, fs);
    if (!v || !f) {
      if (v) glDeleteShader(v);
      if (f) glDeleteShader(f);
      return false;
    }
    const GLuint p = glCreateProgram();
    glAttachShader(p, v);
    glAttachShader(p, f);
    glLinkProgram(p);
    glDeleteShader(v);
    glDeleteShader(f);
    GLint ok = 0;
    glGetProgramiv(p, GL_LINK_STATUS, &ok);
    if (!ok) {
      glDeleteProgram(p);
      return false;
    }
    glUseProgram(p);
    glUniform1i(glGetUniformLocation(p, "uBack"), 0);
    program_ = p;
    return true;
  }

  void dropTexture(HWND hwnd, SDL_Window* w) {
    auto it = shown_.find(hwnd);
    if (it == shown_.end()) return;
    const GLuint texture = it->second.texture;
    shown_.erase(it);
    if (!texture || !gl_) return;
    CurrentContext keep;
    if (SDL_GL_MakeCurrent(w, gl_) == 0) glDeleteTextures(1, &texture);
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
    // GL still gets a plain window. SDL picks a window's pixel format from
    // the GL attributes set when it is made, and a context can be made
    // current only on windows of its own format: every window, the device's
    // own and this backend's context use the same attributes.
    setGlAttributes();
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
  // Showing back surfaces (main thread only).
  struct Shown {
    GLuint texture = 0;
    int32_t width = 0, height = 0;
  };
  SDL_GLContext gl_ = nullptr;
  bool glFailed_ = false;
  GLuint program_ = 0, vao_ = 0;
  std::unordered_map<HWND, Shown> shown_;
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
