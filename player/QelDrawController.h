// The draw controller stands between the engine and the draw manager: it
// holds the viewer's screen, makes the draw manager on demand, keeps the
// viewport rectangle (read by the slide loader, hence under a lock), reports
// the device state to the engine each step and draws the root item.
//
// The root item is the one draw item the draw manager draws per frame: the
// slides chosen for the current show time (the previous and the current one
// while the transition between them runs) and the overlay, with letterbox
// bands in the show's hider colour when there is no overlay.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kpThreads2.h"
#include "foundation/kvCommandLine.h"
#include "render3d/Dev3DDrawer.h"
#include "render3d/Dev3DEffects2.h"
#include "showmodel/kvQel3DDrawer.h"
#include "showmodel/kvSlideProducer.h"

namespace player {

class TQelDrawController;

// Sits in the draw device's messenger list; when the device goes away it
// cuts the controller loose from the screen.
class TDeviceKilledMessenger2 : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TDeviceKilledMessenger2)
  void Dispose() override;
  TQelDrawController* Controller = nullptr;  // not owned
};

// State flags of GetState.
enum : uint8_t {
  dsScreenReady = 8,
  dsRedraw = 4,
  dsDeviceLost = 2,
  dsDrawerReady = 1,
};

class TQelDrawController : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQelDrawController)
  explicit TQelDrawController(render3d::T3DScreen* screen);
  void Dispose() override;

  void InitDrawer();
  void SetViewport(const showmodel::TViewportRect& rect);
  showmodel::TViewportRect GetViewport();
  void MarkReset() { ResetWanted = 1; }
  uint8_t GetState();
  void RndLost(int32_t kind);
  bool DrawRoot(render3d::TDrawItem* item, const render3d::TViewState& view);

  foundation::TRef<render3d::T3DScreen> Screen;
  foundation::TRef<render3d::T3DDrawer> Drawer;
  // Owned by the device's messenger list, or by the controller when the
  // screen has no device; cleared when either side goes first.
  TDeviceKilledMessenger2* Messenger = nullptr;
  uint8_t ResetWanted = 0;
  uint8_t DeviceLost = 0;
  showmodel::TViewportRect Viewport;  // guarded by ViewportLock
  // Guards Viewport: the slide loader reads it while the main thread sets it.
  foundation::TRef<foundation::TCriticalSection> ViewportLock;
  foundation::TRef<render3d::TScreenEvent> Listener;
  // The screen's reference given up when the device went: released only with
  // the controller, as the device may still be freeing the screen's messenger.
  foundation::TRef<render3d::T3DScreen> DroppedScreen;
};

// A prepared slide as a draw item: the show objects' item for its slide
// (blur, backgrounds left to a transition, the slide found by slide
// effects), with the prepared slide's time.
class TSlideItem : public showmodel::TQelObjectItem {
 public:
  QEL_CLASSNAME(TSlideItem)
  // Holds a reference to the prepared slide.
  explicit TSlideItem(showmodel::TDrawContainer* slide);
  void Dispose() override;
  bool IsChanged() override;
  float GetBlurAmount() override { return Object ? TQelObjectItem::GetBlurAmount() : 0.0f; }
  void Draw(render3d::T3DDrawer* drawer) override;
  // The prepared slide's time (its set-time operation).
  void SetTime(double t);
  foundation::TRef<showmodel::TDrawContainer> Slide;
};

class TRootItem : public render3d::TDrawItem {
 public:
  QEL_CLASSNAME(TRootItem)
  explicit TRootItem(bool fillOutside);
  void Dispose() override;

  // Chooses the items of this frame for the prepared slides (show order)
  // at their own clocks; false when no slide has started.
  bool SelectSlides(showmodel::TDrawContainer* const* slides, int32_t count, render3d::TDrawItem* overlay);
  bool IsChanged() override;
  void Prepare() override;
  void Draw(render3d::T3DDrawer* drawer) override;
  void DrawScene(render3d::T3DDrawer* drawer, bool sharpen);
  // The view of an item: the root's view, for a slide with its picture size
  // centred in the view's pixel rectangle.
  render3d::TViewState ItemView(render3d::TDrawItem* item) const;
  // The drawing state of the running transition (its draw filter), nil before one ran.
  const render3d::TTransitionState* TransitionState() const { return FState.get(); }

  // The slides' items of this frame and the overlay last (which may be nil).
  std::vector<render3d::TDrawItem*> Items;          // not owned (slide items kept below)
  std::vector<render3d::TDrawItem*> PreviousItems;  // not owned
  uint8_t Changed = 0;
  uint8_t FillOutside = 0;
  showmodel::TQelFilter* Transition = nullptr;  // the current slide's, not referenced
  double TransitionProgress = 0;
  double CurrentTime = 0;
  uint8_t TransitionRunning = 0;
  render3d::TViewState View;
  uint8_t HiderColor[3] = {0, 0, 0};  // red, green, blue
  float SharpenAmount = 0;
  int32_t MotionBlurFrames = 0;
  double MotionBlurFade = 0;
  int32_t MotionBlurSpan = 0;
  double TimeOffset = 0;

 private:
  TSlideItem* ItemFor(showmodel::TDrawContainer* slide);
  void SetItem(size_t index, render3d::TDrawItem* item);
  void SetTransition(showmodel::TQelFilter* transition, double progress);
  void SetSubFrame(double p0, double offset);
  bool IsSlideItem(size_t index) const { return index + 1 < Items.size(); }

  std::vector<foundation::TRef<TSlideItem>> FSlideItems;  // the items of this and the previous frame
  render3d::TEffectRecord FEffectRecord;
  std::unique_ptr<render3d::TTransitionState> FState;
  showmodel::TQelFilter* FStateFilter = nullptr;  // the filter FState was made for
};

// The monitor the show window goes to: the switch "display" numbers them
// from 1; a missing, bad or out-of-range number falls back to the primary
// monitor. isPrimary(i) answers for monitor i.
int32_t MonitorIndexFor(foundation::TCommandsStorage* commands, int32_t monitorCount,
                        const std::function<bool(int32_t)>& isPrimary);
// Over the program's command line and the screen's monitors.
int32_t MonitorIndex();
bool DesktopAlignFor(foundation::TCommandsStorage* commands);
bool DesktopAlign();

}  // namespace player
