// A real form on SDL2 (the offscreen driver in CI, a real window with a
// display): SDL's own key, text, mouse, wheel and window events pushed into
// its queue reach the form translated; full screen is a borderless window
// over the monitor and back; cursors are shown and hidden. With
// QEL_FORM_DEMO_SECONDS set, the form stays open that long, prints every
// form event and changes colour on each key and click, for a look at it on a
// display.
#include <gtest/gtest.h>

#include <SDL.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/os/clock.h"
#include "platform/window/api.h"
#include "windowing/winFormUtils.h"
#include "windowing/winForms.h"
#include "WindowingFixture.h"
#include "tests/support/GlDriverLeaks.h"

using namespace windowing;
namespace pw = platform::window;

namespace {

struct Log : TEventHandler {
  std::vector<std::string> lines;
  bool print = false;
  void HandleEvent(foundation::TRefObject*, int32_t tag, foundation::TRefObject* data) override {
    std::string l;
    if (tag == feMouse) {
      auto* m = static_cast<TMouseData*>(data);
      l = "mouse kind " + std::to_string(m->Kind) + " button " + std::to_string(m->Button) + " at " +
          std::to_string(m->X) + "," + std::to_string(m->Y) + " shift " + std::to_string(m->Shift);
    } else if (tag == feKey) {
      auto* k = static_cast<TKeybordData*>(data);
      l = "key kind " + std::to_string(k->Kind) + " code " + std::to_string(k->Key) + " shift " +
          std::to_string(k->Shift);
    } else if (tag == feWheel) {
      l = "wheel";
    } else {
      l = "change " + std::to_string(tag);
    }
    lines.push_back(l);
    if (print) std::printf("form event: %s\n", l.c_str()), std::fflush(stdout);
  }
  bool Has(const std::string& s) const {
    for (const auto& x : lines)
      if (x == s) return true;
    return false;
  }
};

class SdlForm : public windowing_test::AppTest {
 protected:
  static void SetUpTestSuite() {
    windowing_test::StartWindowing();
    backend = pw::sdlWindowBackend();
    InitWinForms();
  }
  void SetUp() override {
    ASSERT_NE(backend, nullptr) << "SDL video must start (SDL_VIDEODRIVER=offscreen)";
    pw::setWindowBackend(backend);
    AppTest::SetUp();
    form = new TKvForm();
    log = new Log;
    for (int id = 0; id <= 23; ++id) form->Events()->Subscribe(id, log);
  }
  void TearDown() override {
    KeepGlDriverLoaded();
    form->Free();
    log->Free();
    AppTest::TearDown();
  }
  SDL_Window* Sdl() {
    return static_cast<SDL_Window*>(pw::nativeWindowOf(static_cast<TWinFormController*>(form->Controller())->Handle()));
  }
  void Push(SDL_Event e) {
    SDL_PushEvent(&e);
    app->ProcessMessages();
  }
  static pw::WindowBackend* backend;
  TKvForm* form = nullptr;
  Log* log = nullptr;
};
pw::WindowBackend* SdlForm::backend = nullptr;

TEST_F(SdlForm, SdlEventsReachTheFormTranslated) {
  form->SetCaption(u"Form on SDL");
  form->SetBoundsRect(TRect{40, 30, 360, 270});
  form->SetVisible(true);
  SDL_Window* w = Sdl();
  ASSERT_NE(w, nullptr);
  const Uint32 id = SDL_GetWindowID(w);
  EXPECT_STREQ(SDL_GetWindowTitle(w), "Form on SDL");

  SDL_Event k{};
  k.type = SDL_KEYDOWN;
  k.key.windowID = id;
  k.key.keysym.sym = SDLK_a;
  k.key.keysym.scancode = SDL_SCANCODE_A;
  k.key.keysym.mod = KMOD_LSHIFT;
  Push(k);
  SDL_Event t{};
  t.type = SDL_TEXTINPUT;
  t.text.windowID = id;
  std::snprintf(t.text.text, sizeof(t.text.text), "A");
  Push(t);
  k.type = SDL_KEYUP;
  Push(k);
  EXPECT_TRUE(log->Has("key kind 2 code 65 shift 2") || log->Has("key kind 2 code 65 shift 0"));
  bool down = false;
  for (const auto& l : log->lines) down |= l.rfind("key kind 1 code 65", 0) == 0;
  EXPECT_TRUE(down);

  SDL_Event b{};
  b.type = SDL_MOUSEBUTTONDOWN;
  b.button.windowID = id;
  b.button.button = SDL_BUTTON_LEFT;
  b.button.clicks = 1;
  b.button.x = 12;
  b.button.y = 34;
  Push(b);
  b.type = SDL_MOUSEBUTTONUP;
  Push(b);
  b.type = SDL_MOUSEBUTTONDOWN;
  b.button.clicks = 2;
  Push(b);
  bool press = false, dbl = false;
  for (const auto& l : log->lines) {
    press |= l.rfind("mouse kind 1 button 1", 0) == 0;
    dbl |= l.rfind("mouse kind 3 button 1", 0) == 0;
  }
  EXPECT_TRUE(press);
  EXPECT_TRUE(dbl) << "the form class asks for double clicks";
  b.type = SDL_MOUSEBUTTONUP;
  Push(b);

  SDL_Event wh{};
  wh.type = SDL_MOUSEWHEEL;
  wh.wheel.windowID = id;
  wh.wheel.y = 1;
  wh.wheel.preciseY = 1;
  Push(wh);
  EXPECT_TRUE(log->Has("wheel"));

  // The window manager minimises and restores it.
  SDL_Event we{};
  we.type = SDL_WINDOWEVENT;
  we.window.windowID = id;
  we.window.event = SDL_WINDOWEVENT_MINIMIZED;
  Push(we);
  EXPECT_EQ(form->WindowState(), 1);
  we.window.event = SDL_WINDOWEVENT_RESTORED;
  Push(we);
  EXPECT_EQ(form->WindowState(), 0);
  // Closing from the window manager hides the form (its close action).
  we.window.event = SDL_WINDOWEVENT_CLOSE;
  Push(we);
  EXPECT_FALSE(form->Visible());
}

TEST_F(SdlForm, FullScreenIsABorderlessWindowOverTheMonitorAndBack) {
  form->SetBoundsRect(TRect{50, 50, 450, 350});
  form->SetVisible(true);
  pw::MonitorInfo mi;
  mi.cbSize = pw::MONITORINFOEX_SIZE;
  pw::HMONITOR first = 0;
  pw::enumDisplayMonitors(0, nullptr, [&](pw::HMONITOR m, const pw::Rect&) {
    first = m;
    return false;
  });
  ASSERT_TRUE(pw::getMonitorInfo(first, mi));
  form->SetBorderStyle(0);
  form->SetBoundsRect(TRect{mi.rcMonitor.left, mi.rcMonitor.top, mi.rcMonitor.right, mi.rcMonitor.bottom});
  app->ProcessMessages();
  SDL_Window* w = Sdl();
  ASSERT_NE(w, nullptr);
  int ww = 0, hh = 0;
  SDL_GetWindowSize(w, &ww, &hh);
  EXPECT_EQ(ww, mi.rcMonitor.right - mi.rcMonitor.left);
  EXPECT_EQ(hh, mi.rcMonitor.bottom - mi.rcMonitor.top);
  form->SetBorderStyle(1);
  form->SetBoundsRect(TRect{50, 50, 450, 350});
  app->ProcessMessages();
  SDL_GetWindowSize(w, &ww, &hh);
  EXPECT_EQ(ww, 400);
  EXPECT_EQ(hh, 300);
}

TEST_F(SdlForm, CursorsShownAndHidden) {
  form->SetVisible(true);
  form->SetCursor(-1);
  EXPECT_TRUE(SetCursorById(-1));
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
  EXPECT_FALSE(SetCursorById(4)) << "no cursor was shown before";
  EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
  EXPECT_TRUE(SetCursorById(3));
  EXPECT_TRUE(SetCursorById(3)) << "already the current cursor";
}

// A look at the form on a display: runs only when asked.
TEST_F(SdlForm, Demo) {
  const char* secs = std::getenv("QEL_FORM_DEMO_SECONDS");
  if (!secs) return;
  log->print = true;
  form->SetCaption(u"Demo form");
  form->SetBoundsRect(TRect{100, 80, 500, 380});
  form->SetVisible(true);
  SDL_Window* w = Sdl();
  ASSERT_NE(w, nullptr);
  SDL_GLContext gl = SDL_GL_CreateContext(w);
  using ClearColor = void (*)(float, float, float, float);
  using Clear = void (*)(unsigned);
  auto clearColor = reinterpret_cast<ClearColor>(SDL_GL_GetProcAddress("glClearColor"));
  auto clear = reinterpret_cast<Clear>(SDL_GL_GetProcAddress("glClear"));
  const float colours[4][3] = {{0.1f, 0.4f, 0.8f}, {0.9f, 0.5f, 0.1f}, {0.2f, 0.7f, 0.3f}, {0.8f, 0.2f, 0.6f}};
  const uint32_t end = platform::os::timeGetTime() + 1000u * static_cast<uint32_t>(std::atoi(secs));
  while (platform::os::timeGetTime() < end) {
    app->ProcessMessages();
    size_t inputs = 0;
    for (const auto& l : log->lines) inputs += l.rfind("key kind 1", 0) == 0 || l.rfind("mouse kind 1", 0) == 0;
    if (gl && clearColor && clear) {
      const float* c = colours[inputs % 4];
      clearColor(c[0], c[1], c[2], 1.0f);
      clear(0x4000);
      SDL_GL_SwapWindow(w);
    }
    platform::os::sleepMs(10);
  }
  if (gl) SDL_GL_DeleteContext(gl);
}

}  // namespace
