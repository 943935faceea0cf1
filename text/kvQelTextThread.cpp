#include "text/kvQelTextThread.h"

#include <algorithm>

#include "foundation/TickClock.h"
#include "text/GraphicsParams.h"

namespace text {

const TBorderParams& DefaultBorderParams() {
  static const TBorderParams p;
  return p;
}

bool SameBorderParams(const TBorderParams& A, const TBorderParams& B) {
  return A.RoundCorners == B.RoundCorners && A.Margins == B.Margins && A.KeepAspect == B.KeepAspect &&
         A.CornerRadius == B.CornerRadius && SameARGB(A.Color, B.Color, false) && A.MarginLeft == B.MarginLeft &&
         A.MarginTop == B.MarginTop && A.MarginRight == B.MarginRight && A.MarginBottom == B.MarginBottom &&
         A.Aspect == B.Aspect && A.Zoom == B.Zoom && A.Offset.X == B.Offset.X && A.Offset.Y == B.Offset.Y;
}

void CalcBorderContentRect(foundation::TFloatRect& R, const TBorderParams& P, float w, float h, float f,
                           float& CornerRadius) {
  if (f <= 0.001f) f = 1;
  const float W = w * f;
  float e = W, d = h;
  R = {0, 0, W, h};
  if (P.KeepAspect) {
    float aspect = P.Aspect;
    if (aspect <= 0.001f) aspect = h != 0 ? W / h : 1;
    if (h != 0 && W / h >= aspect) {
      const float rw = h * aspect;
      R = {(W - rw) / 2, 0, (W - rw) / 2 + rw, h};
    } else {
      const float rh = W / aspect;
      R = {0, (h - rh) / 2, W, (h - rh) / 2 + rh};
    }
    const float zoom = (P.Zoom < 0.001f || P.Zoom > 100) ? 100 : P.Zoom;
    const float cx = (R.Left + R.Right) / 2, cy = (R.Top + R.Bottom) / 2;
    e = (R.Right - R.Left) * zoom / 100;
    d = (R.Bottom - R.Top) * zoom / 100;
    R = {cx - e / 2, cy - d / 2, cx + e / 2, cy + d / 2};
    const float ox = std::clamp(P.Offset.X, -100.0f, 100.0f), oy = std::clamp(P.Offset.Y, -100.0f, 100.0f);
    const float dx = (W - e) / 2 * ox / 100, dy = (h - d) / 2 * oy / 100;
    R.Left += dx;
    R.Right += dx;
    R.Top += dy;
    R.Bottom += dy;
  }
  CornerRadius = P.RoundCorners ? (R.Bottom - R.Top) * P.CornerRadius / 100 : 0;
  if (P.Margins) {
    R.Left += P.MarginLeft / 100 * e;
    R.Top += P.MarginTop / 100 * d;
    R.Right -= P.MarginRight / 100 * e;
    R.Bottom -= P.MarginBottom / 100 * d;
  }
  R.Left /= f;
  R.Right /= f;
  // A side thinner than 0.001 widens to 1 towards the inside of the object.
  auto widen = [](float& lo, float& hi, float limit) {
    if (hi - lo < 0.001f && hi >= lo - 0.001f) {
      if (limit - lo >= 1.01f) hi = lo + 1;
      else lo = hi - 1;
    }
  };
  widen(R.Left, R.Right, w);
  widen(R.Top, R.Bottom, h);
  const bool empty = !(R.Left < R.Right && R.Top < R.Bottom);
  const bool outside = R.Right <= 0 || R.Bottom <= 0 || R.Left >= w || R.Top >= h;
  if (empty || outside) R = {0, 0, w, h};
}

void TImageTask::Dispose() {
  if (Object1) Object1->Free();
  Object1 = nullptr;
  if (Object2) Object2->Free();
  Object2 = nullptr;
  TRefObject::Dispose();
}

void TImageTaskWorker::Dispose() {
  for (auto* t : Tasks) t->Free();
  Tasks.clear();
  TActiveMonitor::Dispose();
}

void AddImageTask(TImageTaskWorker* Worker, const TImageTaskCallback& Callback, const std::u16string& Key,
                  const std::u16string& Name, const std::u16string& Params, intptr_t Flag) {
  if (!Worker || Worker->Closed.load()) return;
  auto* task = new TImageTask();
  task->Callback = Callback;
  task->Key = Key;
  task->Name = Name;
  task->Params = Params;
  task->Flag = Flag;
  TImageTask* removed = nullptr;
  Worker->Lock();
  if (Worker->Closed.load()) {
    Worker->Unlock();
    task->Free();
    return;
  }
  auto& list = Worker->Tasks;
  for (size_t i = size_t(std::max(0, Worker->PendingIndex)); i < list.size(); ++i)
    if (list[i]->Key == Key) {
      removed = list[i];
      list.erase(list.begin() + std::ptrdiff_t(i));
      break;
    }
  list.push_back(task);
  Worker->Unlock();
  if (removed) removed->Free();
}

void CancelImageTask(TImageTaskWorker* Worker, const std::u16string& Key) {
  if (!Worker || Worker->Closed.load()) return;
  std::vector<TImageTask*> removed;
  Worker->Lock();
  auto& list = Worker->Tasks;
  const size_t pending = size_t(std::clamp<int32_t>(Worker->PendingIndex, 0, int32_t(list.size())));
  for (size_t i = 0; i < pending; ++i)
    if (list[i]->Key == Key) list[i]->Status.store(ImageTaskCancelled);
  for (size_t i = list.size(); i-- > pending;)
    if (list[i]->Key == Key) {
      removed.push_back(list[i]);
      list.erase(list.begin() + std::ptrdiff_t(i));
    }
  Worker->Unlock();
  for (auto* t : removed) t->Free();
}

void CloseImageTasks(TImageTaskWorker* Worker) {
  if (!Worker) return;
  std::vector<TImageTask*> dropped;
  Worker->Lock();
  Worker->Terminate();
  const int64_t start = foundation::GetTickMs();
  while (!Worker->Closed.load() && foundation::GetTickMs() - start <= 499) Worker->SleepUnlocked(100);
  Worker->Closed.store(true);
  dropped.swap(Worker->Tasks);
  Worker->PendingIndex = 0;
  Worker->Unlock();
  // A worker given up on holds its own reference to the task it runs.
  for (auto* t : dropped) t->Free();
}

}  // namespace text
