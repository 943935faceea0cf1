// The contract between whatever decodes video and whatever shows it: the
// frame source with its parameters, the frame target (a YUV image of three
// planes, or one gray or one RGBA plane) and the registration point through
// which the show obtains a source for a media file.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kpThreads2.h"
#include "foundation/kvLists.h"
#include "foundation/kvMonitors.h"
#include "foundation/kvStream.h"
#include "imaging/SysBitmap.h"

namespace video {

struct TVideoParams {
  int32_t Width = 0;
  int32_t Height = 0;
  uint8_t AspectClass = 0;  // 2 for 16:9, 1 for 4:3, 0 otherwise
  bool Interlaced = false;
  bool TopFieldFirst = false;
  double FrameRate = 0;  // 0: unknown
  int32_t FrameRateNum = 0;
  int32_t FrameRateDen = 0;
  bool HasAlpha = false;
  int32_t DurationMs = 0;  // sum of frame times (GIF); 0 for FFmpeg sources
  int32_t FrameCount = 0;  // 0: unknown
  std::u16string Codec;    // "MPEG2", "H264", "HEVC", "MPEG4", "VP9", "OTHER" or "GIF"
  int32_t Rotation = 0;    // degrees, 0..359
};

class TYUVImage;

class TFrameSource : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFrameSource)
  TFrameSource();
  void Dispose() override;

  // Makes the frame with this index current.
  virtual bool SetPosition(int32_t index) = 0;
  virtual std::u16string GetPixelFormatName();
  // Writes the current frame into the image.
  virtual bool GetFrameYUV(TYUVImage* image) = 0;
  // Writes the current frame into a bitmap.
  virtual bool GetFrameBitmap(imaging::TSysBitmap* bitmap) = 0;
  virtual bool IsHardwareDecoding();

  foundation::TList* Attached = nullptr;  // owned; released items first
  TVideoParams Params;
};

// Plane numbers.
constexpr int32_t kPlaneY = 0, kPlaneU = 1, kPlaneV = 2, kPlaneGray = 3, kPlaneRGBA = 4;

class TYUVImage;
using TContentLostEvent = foundation::TMethod<void(TYUVImage* image)>;

// The target of decoded frames; every image is also a recursive lock. With
// neither mode set it holds planar YUV 4:2:0: Y at full size, U and V at
// the integer halves of width and height.
class TYUVImage : public foundation::TMonitor {
 public:
  QEL_CLASSNAME(TYUVImage)
  TYUVImage(int32_t width, int32_t height);

  // Makes one plane writable and answers a bitmap over its rows (1 byte per
  // pixel for planes 0-2, 2 for the R5G6B5 gray plane 3, 4 for plane 4), or
  // null when the plane is not available. The bitmap belongs to the image:
  // hand it back with UnlockPlane.
  virtual imaging::TSysBitmap* LockPlane(int32_t plane) = 0;
  virtual bool UnlockPlane(int32_t plane, imaging::TSysBitmap* bitmap) = 0;
  // A complete frame has been written.
  virtual void FrameDone() = 0;

  bool RGBAMode = false;
  bool GrayMode = false;
  int32_t Width = 0;
  int32_t Height = 0;
  // Set by the owner when the storage behind the planes lost its content;
  // cleared by the frame extractor after a refill. Read across threads.
  std::atomic<bool> ContentLost{false};
  TContentLostEvent OnContentLost;
};

// A YUV image in memory: the frame target of tests, benchmarks and anything
// that wants the pixels on the processor. Plane rows are tightly packed.
class TMemoryYUVImage : public TYUVImage {
 public:
  QEL_CLASSNAME(TMemoryYUVImage)
  TMemoryYUVImage(int32_t width, int32_t height, bool rgbaMode = false, bool grayMode = false);
  imaging::TSysBitmap* LockPlane(int32_t plane) override;
  bool UnlockPlane(int32_t plane, imaging::TSysBitmap* bitmap) override;
  void FrameDone() override { ++FramesDone; }

  int32_t PlaneWidth(int32_t plane) const;
  int32_t PlaneHeight(int32_t plane) const;
  int32_t BytesPerPixel(int32_t plane) const;
  // Row pitch in bytes; 0 makes LockPlane hand out bitmaps without a pitch
  // (rows still reachable through the row table), as some targets do.
  int32_t Pitch(int32_t plane) const;
  uint8_t* Row(int32_t plane, int32_t y) { return Planes[plane].data() + static_cast<size_t>(y) * Pitch(plane); }

  std::vector<uint8_t> Planes[5];
  bool ReportPitch = true;
  int32_t LockedCount = 0;  // planes locked and not yet unlocked
  int32_t FramesDone = 0;
  uint32_t RefusedPlanes = 0;  // bit n: LockPlane(n) answers null
};

// (stream, owns stream, file name, allow hardware, allow threads)
using TVideoSourceFactory = TFrameSource* (*)(foundation::TStream* stream, bool ownsStream,
                                              const std::u16string& fileName, bool allowHardware, bool allowThreads);
using TVideoFileFilter = bool (*)(const std::u16string& fileName);

// Hooks: set by the decoder units' initialisation (start-up only), each
// keeping the previous value and serving the files it recognises.
extern TVideoSourceFactory VideoSourceFactory;
extern TVideoFileFilter VideoFileFilter;

// Answers a source for the media file, or null. An owned stream is freed on
// every path that answers null, so ownership really passes with the call.
TFrameSource* CreateVideoSource(foundation::TStream* stream, bool ownsStream, const std::u16string& fileName,
                                bool allowHardware, bool allowThreads);

}  // namespace video
