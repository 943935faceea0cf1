// The numbered events between the engine and the main form. Engine events
// go to the main form through the application's cross-thread event list
// (posted, dispatched on the main thread); the main form's requests go to
// the engine's own message queue, which each engine step drains.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kpThreads2.h"
#include "foundation/kvQelThreads.h"
#include "windowing/kvApplication.h"

namespace player {

// Engine events, engine to main form.
enum : int32_t {
  eeFirstFrame = 1,  // the first frame after an open (or a device reset) was drawn
  eeProgress = 2,    // show id, position ms, show length ms, ended (0 or 1)
  eeAction = 12,     // action code, argument; data: TStrValue with the action text, or none
  eeSnapshot = 14,   // data: the captured image (owned)
  eeWindowMode = 17, // width, height, mode (0 full screen, 1 window with border, 2 without)
};

// Requests, main form to engine.
enum : int32_t {
  rqCaptureFrame = 13,  // action 6 (print)
  rqCloseDialog = 15,   // Esc while the overlay shows a dialog
  rqHelpDialog = 16,    // the help key while an engine exists
};

// One engine event.
class TQelEventData : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQelEventData)
  int32_t EventId = 0;
  std::vector<int32_t> Ints;
  // A reference of its own either way; OwnsData tells whether the poster
  // handed its reference over (the event is then the data's last holder).
  foundation::TRef<foundation::TRefObject> Data;
  bool OwnsData = false;
};

// The text attached to event 12.
class TStrValue : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TStrValue)
  explicit TStrValue(std::u16string value) : Value(std::move(value)) {}
  std::u16string Value;
};

// The engine base: its thread is not started here; the engine proper
// supplies the step. Callbacks run on the main thread; they are set and
// cleared there.
class TCustomQelEngine : public foundation::TQelThread {
 public:
  QEL_CLASSNAME(TCustomQelEngine)
  using TFirstFrame = foundation::TMethod<void(TCustomQelEngine* engine)>;
  using TProgress = foundation::TMethod<void(TCustomQelEngine* engine, int32_t position, int32_t length, bool ended)>;
  using TEngineEvent = foundation::TMethod<void(TCustomQelEngine* engine, TQelEventData* event)>;

  // A nil application is an assertion failure.
  explicit TCustomQelEngine(windowing::TApplication* application);
  void Dispose() override;

  // Posts an engine event to the main form (the integers are copied).
  void PostEvent(int32_t id, const std::vector<int32_t>& ints, foundation::TRefObject* data, bool ownsData);
  // A main-form request to the engine, handled at the start of its next step.
  void PostRequest(int32_t id);
  int32_t NextShowId();
  // The receiver on the main thread.
  void ReceiveEvent(foundation::TRefObject* sender, uint32_t id, foundation::TRefObject* param);

  foundation::TRef<windowing::TApplication> Application;
  uint32_t AppEventId = 0;
  int32_t ShowCounter = 0;
  TFirstFrame OnFirstFrame;
  TProgress OnProgress;
  TEngineEvent OnEvent;
};

}  // namespace player
