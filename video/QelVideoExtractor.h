// One worker thread per video object that owns its frame source and fills a
// small pool of YUV images ahead of need: the render side takes the image
// holding the frame nearest to the show time, draws it and puts it back;
// the worker meanwhile decodes the next wanted frame into the least useful
// image.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "foundation/kvMonitors.h"
#include "video/kvVideoSource.h"

namespace video {

constexpr int32_t kNoFrame = -2;
constexpr int32_t kLostFrame = -2147483647;  // an image whose content was lost

struct TVideoItem {
  TYUVImage* Image = nullptr;
  int32_t Requested = kNoFrame;  // the frame the taker asked for
  int32_t Frame = kNoFrame;      // the frame the image holds
};

// Locks: the monitor (the extractor itself) guards Items, Wanted and the
// images' membership in the pool; the worker never holds it while the
// source positions or decodes. An image taken out of the pool belongs to
// its taker until it is put back. The source is used by the worker only.
class TQelVideoExtractor : public foundation::TActiveMonitor {
 public:
  QEL_CLASSNAME(TQelVideoExtractor)
  TQelVideoExtractor(TFrameSource* source, bool ownsSource);
  void Dispose() override;

  // The pool takes a reference to the image.
  void AddImage(TYUVImage* image);
  void PutBack(TVideoItem& item);
  // Takes the pool image nearest the frame of the time (ms); true when it
  // holds exactly that frame. rate: the caller's frames per second.
  bool TakeFrame(TVideoItem& item, double timeMs, double rate);
  void Seek(double timeMs, bool wait);
  int32_t GetItemCount();
  int32_t GetItemFrame(int32_t i);
  void Stop();
  int32_t FrameIndexAt(double timeMs) const;
  std::pair<double, double> GetFrameTimeRange(int32_t index) const;

  bool WorkerDone = false;
  TFrameSource* Source = nullptr;
  bool OwnsSource = false;
  TVideoParams Params;
  std::vector<TVideoItem> Items;
  int32_t Wanted = kNoFrame;
  bool Loop = false;
  int32_t FramesProduced = 0;  // images the worker filled, for tests

 private:
  void Execute();
  void ContentLost(TYUVImage* image);
  bool HoldsFrame(int32_t frame) const;
};

}  // namespace video
