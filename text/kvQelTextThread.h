// The queue of background image tasks (shadow, text and button pictures made
// off the drawing path) on a worker monitor, and the frame geometry of show
// objects: border parameters and the content rectangle.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "foundation/kvMonitors.h"

namespace text {

struct TBorderParams {
  bool RoundCorners = false;
  bool Margins = false;
  bool KeepAspect = false;
  std::u16string Name;
  float CornerRadius = 0;  // percent of the content height
  uint32_t Color = 0;
  float MarginLeft = 0, MarginTop = 0, MarginRight = 0, MarginBottom = 0;  // percent
  float Aspect = 0;  // width / height; 0 or less: the object's own
  float Zoom = 100;  // percent
  foundation::TFloatPoint Offset;  // percent, -100..100
};

const TBorderParams& DefaultBorderParams();
// Every field but Name equal (floats exactly, colours by SameARGB).
bool SameBorderParams(const TBorderParams& A, const TBorderParams& B);
// The content rectangle of an object of W x H pixels whose width counts
// Factor times (<= 0.001 counts as 1), and its corner radius.
void CalcBorderContentRect(foundation::TFloatRect& Rect, const TBorderParams& Params, float W, float H, float Factor,
                           float& CornerRadius);

class TImageTask;
using TImageTaskCallback = std::function<void(TImageTask* Task)>;

class TImageTask : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TImageTask)
  void Dispose() override;
  std::u16string Name;
  std::u16string Params;
  TImageTaskCallback Callback;
  std::u16string Key;
  intptr_t Flag = 0;
  foundation::TRefObject* Object1 = nullptr;  // owned
  foundation::TRefObject* Object2 = nullptr;  // owned
  std::atomic<int32_t> Status{0};             // 2 = cancelled
};

inline constexpr int32_t ImageTaskCancelled = 2;

// The monitor that owns the queue. Its worker takes tasks from PendingIndex
// on in list order, holds its own reference to the task it runs, drops the
// result of a cancelled task, and sets Closed when it stops after being told
// to terminate. Every queue change happens under the monitor's lock.
class TImageTaskWorker : public foundation::TActiveMonitor {
 public:
  QEL_CLASSNAME(TImageTaskWorker)
  void Dispose() override;
  std::vector<TImageTask*> Tasks;
  int32_t PendingIndex = 0;
  std::atomic<bool> Closed{false};
};

// Appends a task, first removing a waiting task with the same key; nothing once closed.
void AddImageTask(TImageTaskWorker* Worker, const TImageTaskCallback& Callback, const std::u16string& Key,
                  const std::u16string& Name, const std::u16string& Params, intptr_t Flag);
// Taken tasks with the key are marked cancelled, a waiting one is removed.
void CancelImageTask(TImageTaskWorker* Worker, const std::u16string& Key);
// Tells the worker to stop, waits up to 500 ms for it, then closes the queue and empties it.
void CloseImageTasks(TImageTaskWorker* Worker);

}  // namespace text
