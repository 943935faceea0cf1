// The single application object: the posting event list bound to the main
// thread, the hidden window whose procedure runs posted events, and the main
// thread's message loop.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kvEventList.h"
#include "windowing/kvHooks.h"
#include "windowing/kvTimers.h"
#include "windowing/kvWndAPI.h"

namespace windowing {

class TApplication : public foundation::TPostEventListEx {
 public:
  QEL_CLASSNAME(TApplication)
  TApplication();
  void Dispose() override;
  virtual void Finalize() = 0;
  virtual bool IsQuitting() = 0;
  virtual std::u16string GetTitle() = 0;
  virtual void SetTitle(const std::u16string& title) = 0;
  virtual void Initialize() = 0;
  virtual void Run() = 0;
  virtual void ProcessMessages() = 0;
  virtual void Terminate();
  virtual void AddObject(foundation::TRefObject* obj) = 0;
  virtual void RemoveObject(foundation::TRefObject* obj) = 0;

  bool Terminated() const { return FTerminated.load(); }
  uint32_t CallEventId() const { return FCallEventId; }
  TNotifyEvent OnTerminate;

 private:
  void HandleCall(foundation::TRefObject* sender, uint32_t id, foundation::TRefObject* param);
  std::atomic<bool> FTerminated{false};
  uint32_t FCallEventId = 0;
};

using TCallMethod = foundation::TMethod<void(void* ptr, int32_t value, foundation::TRefObject* obj)>;

class TCallHandle : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TCallHandle)
  void Dispose() override;
  TCallMethod Method;
  void* Ptr = nullptr;
  int32_t Value = 0;
  foundation::TRefObject* Obj = nullptr;  // owned
};

class TCustomWinApplication : public TApplication {
 public:
  QEL_CLASSNAME(TCustomWinApplication)
  TCustomWinApplication();
  void Dispose() override;
  virtual void CreateHandle() = 0;
  virtual HWND GetHandle() = 0;
  virtual void SetClipboardListener(bool on) = 0;
  void Initialize() override;
  void AddObject(foundation::TRefObject* obj) override;
  void RemoveObject(foundation::TRefObject* obj) override;
  // Posts the wake-up message and answers whether it was posted; refused
  // after finalisation. While finalisation runs without the window, events
  // stay queued for its final drain and the answer is true.
  bool WakeUp(int32_t ticket) override;
  void Finalize() override;
  // Wakes a finalisation that waits for registered objects to go.
  void SignalDrain();
  bool Finalized() const { return FFinalized.load(); }
  int32_t RegisteredObjectCount();

 protected:
  std::atomic<bool> FFinalizing{false};

 private:
  void HandlePosted(HWND wnd, TWndMessage& msg, bool& handled);
  foundation::TCriticalSection* FLock = nullptr;  // guards FObjects
  foundation::TEvent* FDrainEvent = nullptr;
  std::vector<foundation::TRefObject*>* FObjects = nullptr;
  std::atomic<bool> FFinalized{false};
};

class TWinApplication : public TCustomWinApplication {
 public:
  QEL_CLASSNAME(TWinApplication)
  TWinApplication();
  void Dispose() override;
  void CreateHandle() override;
  HWND GetHandle() override { return FHandle.load(); }
  void SetClipboardListener(bool on) override;
  void Finalize() override;
  bool IsQuitting() override { return FQuitting; }
  std::u16string GetTitle() override { return FTitle; }
  void SetTitle(const std::u16string& title) override;
  void Run() override;
  void ProcessMessages() override;
  void Terminate() override;
  // The hidden window's procedure.
  static LRESULT WndProc(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam);

 private:
  void HandleException();
  std::atomic<HWND> FHandle{0};
  std::u16string FTitle;
  bool FQuitting = false;
  std::atomic<bool> FQuitPosted{false};
};

class TClipbrdNotifier : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TClipbrdNotifier)
  TClipbrdNotifier();
  void Dispose() override;
  virtual void Changed();
  TClipbrdNotifier* Next = nullptr;
  TNotifyEvent OnChange;
};

extern TApplication* Application;
using TApplicationFactory = void (*)();
extern TApplicationFactory ApplicationFactory;
// The private message that wakes the main thread for posted events (-1
// until allocated).
extern int32_t WakeUpMessage;
// The presentation mode the 3-D device layer starts with (1: immediate).
extern int32_t DefaultPresentationMode;

TCustomWinApplication* CurrentCustomWinApplication();
TWinApplication* CurrentWinApplication();
TClipbrdNotifier* ClipbrdNotifierChain();

// Unit start, after InitWndAPI and InitHooks: allocates the wake-up
// message, fills ApplicationFactory and TimerFactory, sets the default
// presentation mode.
void InitWinApplication();
// Unit end: frees the current application (finalised or not).
void DoneWinApplication();

}  // namespace windowing
