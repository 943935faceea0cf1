// An animated GIF as a video: the frame headers are indexed once at open,
// frames are decoded when asked for and composed with the GIF disposal rules
// on a canvas of the logical screen size; the canvas of every tenth frame is
// kept, and a jump continues from the nearest kept one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoders/FPReadGif.h"
#include "foundation/kvLists.h"
#include "imaging/SysBitmap.h"
#include "video/kvVideoSource.h"

namespace video {

class TGifFrameData : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TGifFrameData)
  void Dispose() override;

  // Composed canvas of a key frame once composed (frame 0 always).
  imaging::TSysBitmap* Cached = nullptr;
  // For a cached key frame whose disposal is 3: the canvas before the frame
  // was drawn, which the next frame starts from.
  imaging::TSysBitmap* CachedRestore = nullptr;
  uint16_t Left = 0, Top = 0, FrameWidth = 0, FrameHeight = 0;
  uint8_t ControlFlags = 0;
  uint16_t Delay = 0;  // 1/100 s
  bool KeyFrame = false;
  int32_t PrevDisposal = -1;
  int32_t PrevRect[4] = {0, 0, 0, 0};  // left, top, right, bottom
  int32_t RestoreIndex = -1;
  int64_t Position = 0;  // stream position after this frame's data

  int32_t Disposal() const { return (ControlFlags >> 2) & 7; }
  int32_t DisplayMs() const { return Delay == 0 ? 50 : Delay * 10; }
};

class TGifVideoSource : public TFrameSource {
 public:
  QEL_CLASSNAME(TGifVideoSource)
  TGifVideoSource(foundation::TStream* stream, bool ownsStream, const std::u16string& fileName);
  void Dispose() override;

  // Indexes the frames; false for a file that is not an animation.
  bool Scan();
  bool SetPosition(int32_t index) override;
  bool GetFrameYUV(TYUVImage* image) override;
  bool GetFrameBitmap(imaging::TSysBitmap* bitmap) override;

  // The time of the requested frame in ms, and the frame shown at a time.
  double RequestedTimeMs() const;
  int32_t FrameAtTime(double t) const;
  TGifFrameData* Frame(int32_t i) const { return static_cast<TGifFrameData*>(Frames->GetItem(i)); }
  int32_t FrameCount() const { return Frames->Count(); }

  foundation::TStream* MediaStream = nullptr;
  bool OwnsStream = false;
  decoders::TFPReaderGif* Reader = nullptr;
  bool HeaderOk = false;
  int32_t Width = 0, Height = 0;
  foundation::TList* Frames = nullptr;
  imaging::TSysBitmap* PrevComposed = nullptr;
  imaging::TSysBitmap* PrevRestore = nullptr;  // as CachedRestore, for PrevComposed
  int32_t LastComposed = 0;
  std::u16string FileName;
  int32_t RequestedIndex = 0;
  int32_t FramesDecoded = 0;  // frames read since open, for tests

 private:
  bool Compose(imaging::TSysBitmap* target, int32_t i);
  imaging::TSysBitmap* NewCanvas() const;
  imaging::TDirectBitmap* ReadFrame(int32_t b);
  void Draw(imaging::TSysBitmap* canvas, imaging::TDirectBitmap* image, const TGifFrameData* f) const;
  std::vector<int32_t> cumulative_;
  int32_t minimumMs_ = 1000;
};

// Installs the GIF factory and file filter in front of the previous ones.
void InitGifVideoSource();
// Puts the previous factory and filter back while the GIF ones are the head.
void DoneGifVideoSource();
TFrameSource* GifVideoSourceFactory(foundation::TStream* stream, bool ownsStream, const std::u16string& fileName,
                                    bool allowHardware, bool allowThreads);
bool GifVideoFileFilter(const std::u16string& fileName);

}  // namespace video
