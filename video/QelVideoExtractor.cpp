#include "video/QelVideoExtractor.h"

#include <cmath>
#include <cstdlib>

#include "foundation/kpExceptions.h"
#include "platform/os/api.h"

namespace video {

namespace {
// Distances between frame numbers, the lost-image marker included, need
// more than 32 bits.
int64_t Distance(int32_t a, int32_t b) { return std::llabs(static_cast<int64_t>(a) - b); }
}  // namespace

TQelVideoExtractor::TQelVideoExtractor(TFrameSource* source, bool ownsSource) {
  QEL_ASSERT(source != nullptr, "QelVideoExtractor: no source");
  Source = source;
  OwnsSource = ownsSource;
  Params = source->Params;
  Items.reserve(4);
  Run(foundation::MethodOf<&TQelVideoExtractor::Execute>(this), false);
}

void TQelVideoExtractor::Dispose() {
  if (OwnsSource) foundation::FreeAndNil(Source);
  for (TVideoItem& item : Items) foundation::FreeObj(item.Image);
  Items.clear();
  foundation::TActiveMonitor::Dispose();
}

bool TQelVideoExtractor::HoldsFrame(int32_t frame) const {
  for (const TVideoItem& it : Items)
    if (it.Frame == frame) return true;
  return false;
}

void TQelVideoExtractor::AddImage(TYUVImage* image) {
  if (!image) return;
  image->OnContentLost = foundation::MethodOf<&TQelVideoExtractor::ContentLost>(this);
  image->_AddRef();
  TVideoItem item{image, kNoFrame, kNoFrame};
  PutBack(item);
}

void TQelVideoExtractor::PutBack(TVideoItem& item) {
  if (!item.Image) return;
  Acquire();
  Items.push_back(item);
  Unlock();
  item = TVideoItem();
}

int32_t TQelVideoExtractor::FrameIndexAt(double timeMs) const {
  double r = std::nearbyint(timeMs * Params.FrameRate * 0.001);  // ties to even
  int64_t n = std::isfinite(r) ? static_cast<int64_t>(std::max(0.0, std::min(r, 2147483647.0))) : 0;
  if (n >= Params.FrameCount) {
    if (Loop && Params.FrameCount > 0) n %= Params.FrameCount;
    else n = static_cast<int64_t>(Params.FrameCount) - 1;
  }
  return static_cast<int32_t>(n);
}

std::pair<double, double> TQelVideoExtractor::GetFrameTimeRange(int32_t index) const {
  float start = static_cast<float>((index - 0.5) * 1000);
  float end = static_cast<float>((index + 0.5) * 1000);
  return {start / Params.FrameRate, end / Params.FrameRate};
}

bool TQelVideoExtractor::TakeFrame(TVideoItem& item, double timeMs, double rate) {
  const int32_t n = FrameIndexAt(timeMs);
  int32_t m = rate > 0 ? FrameIndexAt(timeMs + 1000 / rate) : n + 1;
  if (m == n) m = n + 1;
  Acquire();
  int32_t best = -1;
  int64_t bestDistance = 0;
  for (int32_t i = 0; i < static_cast<int32_t>(Items.size()); ++i) {
    int64_t d = Distance(n, Items[i].Frame);
    if (best < 0 || d < bestDistance || (d == bestDistance && Items[i].Frame <= n)) {
      best = i;
      bestDistance = d;
    }
  }
  if (best < 0) {
    Unlock();
    item.Image = nullptr;
    return false;
  }
  item = Items[static_cast<size_t>(best)];
  item.Requested = n;
  Items.erase(Items.begin() + best);
  if (item.Frame != m && !HoldsFrame(m)) Wanted = m;
  Unlock();
  return bestDistance == 0;
}

void TQelVideoExtractor::Seek(double timeMs, bool wait) {
  const int32_t n = FrameIndexAt(timeMs);
  Acquire();
  for (TVideoItem& it : Items)
    if (it.Image->ContentLost.load()) it.Frame = kLostFrame;
  if (!HoldsFrame(n)) Wanted = n;
  if (wait)
    while (!TerminateRequested() && Wanted == n) Wait();
  Unlock();
}

int32_t TQelVideoExtractor::GetItemCount() {
  Acquire();
  int32_t n = static_cast<int32_t>(Items.size());
  Unlock();
  return n;
}

int32_t TQelVideoExtractor::GetItemFrame(int32_t i) {
  Acquire();
  int32_t f = i >= 0 && i < static_cast<int32_t>(Items.size()) ? Items[static_cast<size_t>(i)].Frame : kNoFrame;
  Unlock();
  return f;
}

void TQelVideoExtractor::Stop() {
  Terminate();
  Acquire();
  std::vector<TVideoItem> items;
  items.swap(Items);
  Unlock();
  for (TVideoItem& it : items) foundation::FreeObj(it.Image);
}

void TQelVideoExtractor::ContentLost(TYUVImage* image) {
  Acquire();
  for (TVideoItem& it : Items)
    if (it.Image == image) {
      Wanted = it.Frame;
      it.Frame = kNoFrame;
    }
  Unlock();
}

void TQelVideoExtractor::Execute() {
  auto source = foundation::TRef<TFrameSource>::AddRef(Source);
  for (;;) {
    Acquire();
    while (!TerminateRequested() && (Wanted < 0 || Items.empty())) Wait();
    const int32_t w = Wanted;
    const bool stop = TerminateRequested();
    Unlock();
    if (stop) break;
    platform::os::yieldThread();
    const bool ok = source->SetPosition(w);
    if (TerminateRequested()) break;
    Acquire();
    if (HoldsFrame(w)) {
      // A newer request that came in meanwhile stays.
      if (Wanted == w) Wanted = kNoFrame;
      Unlock();
      continue;
    }
    if (Items.empty()) {
      // The render side took every image meanwhile: wait for one to come back.
      Unlock();
      continue;
    }
    int32_t far = 0;
    int64_t farDistance = -1;
    for (int32_t i = 0; i < static_cast<int32_t>(Items.size()); ++i) {
      int64_t d = Distance(Items[i].Frame, w);
      if (d > farDistance || (d == farDistance && Items[i].Frame > w)) {
        far = i;
        farDistance = d;
      }
    }
    TVideoItem item = Items[static_cast<size_t>(far)];
    Items.erase(Items.begin() + far);
    Unlock();
    item.Frame = w;
    if (ok && source->GetFrameYUV(item.Image)) item.Image->ContentLost.store(false);
    Acquire();
    Items.push_back(item);
    ++FramesProduced;
    if (Wanted == w) Wanted = kNoFrame;
    Unlock();
  }
  Acquire();
  WorkerDone = true;
  Unlock();
}

}  // namespace video
