// The window layer and one application per test, for the postman's tests:
// the headless backend, the hook manager and the application unit started
// once per program; the postman made and released around each test.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "controls/kvAppPostman.h"
#include "platform/window/headless/Window_headless.h"
#include "windowing/Startup.h"
#include "windowing/kvApplication.h"

namespace controls_test {

inline void StartPostmanWindowing() {
  static bool started = false;
  if (started) return;
  started = true;
  platform::window::setWindowBackend(platform::window::headlessWindowBackend());
  windowing::StartWindowing();
}

// Data that records its own end.
struct TTracedData : foundation::TRefObject {
  std::atomic<int>* Disposed;
  int Value;
  TTracedData(std::atomic<int>* disposed, int value) : Disposed(disposed), Value(value) {}
  void Dispose() override {
    Disposed->fetch_add(1);
    TRefObject::Dispose();
  }
};

// A listener shaped like a drawn form: the postman's notifications open and
// close its update bracket, and a change made inside the bracket is painted
// once when the outermost bracket closes.
class TBracketListener {
 public:
  explicit TBracketListener(controls::TAppPostman* postman) {
    Notifier = foundation::TRef<controls::TPostmanEventNotifier>::Adopt(
        new controls::TPostmanEventNotifier(postman, foundation::MethodOf<&TBracketListener::Notify>(this)));
  }
  void Notify(uint32_t code, void*) {
    Codes.push_back(code);
    if (code == 1) {
      ++Depth;
    } else {
      ASSERT_GE(Depth, 1);
      if (--Depth == 0 && Dirty) {
        ++Paints;
        Dirty = false;
      }
    }
  }
  // A change: painted at once outside a bracket, else when it closes.
  void Change() {
    if (Depth == 0) {
      ++Paints;
    } else {
      Dirty = true;
    }
  }
  foundation::TRef<controls::TPostmanEventNotifier> Notifier;
  std::vector<uint32_t> Codes;
  int Depth = 0;
  bool Dirty = false;
  int Paints = 0;
};

class PostmanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartPostmanWindowing();
    controls::InitAppPostman();
    windowing::ApplicationFactory();
    App = windowing::CurrentWinApplication();
    ASSERT_NE(App, nullptr);
  }
  void TearDown() override {
    if (App) {
      if (!App->Finalized()) App->Finalize();
      App->Free();
    }
    controls::DoneAppPostman();
  }
  windowing::TWinApplication* App = nullptr;
};

}  // namespace controls_test
