// The frame source of every video file that is not a GIF: an FFmpeg decoder
// positioned by frame index, decoding forward over short steps and seeking
// otherwise; a process-wide budget of hardware decoders, and a fall back to
// software after repeated hardware failures.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "video/FFMpegDll2.h"
#include "video/FFMpegUtils2.h"
#include "video/kvVideoSource.h"

namespace video {

constexpr int32_t kHardwareSlots = 10;
// Sources decoding with hardware now (atomic).
int32_t HardwareSlotsInUse();

class TVideoSource2 : public TFrameSource {
 public:
  QEL_CLASSNAME(TVideoSource2)
  // Makes the decoder; tests hand in stand-ins. Null: TFFMpegVideo.
  using TDecoderMaker = TFFMpegVideo* (*)();
  TVideoSource2(foundation::TStream* stream, bool ownsStream, const std::u16string& fileName, bool allowHardware,
                bool allowThreads, TDecoderMaker maker = nullptr);
  void Dispose() override;

  bool Open(foundation::TStream* stream, const std::u16string& name);
  bool SetPosition(int32_t index) override;
  bool GetFrameYUV(TYUVImage* image) override;
  bool GetFrameBitmap(imaging::TSysBitmap* bitmap) override;
  std::u16string GetPixelFormatName() override;
  bool IsHardwareDecoding() override;

  std::u16string FileName;
  int64_t StartPosition = 0;
  foundation::TStream* MediaStream = nullptr;
  bool OwnsStream = false;
  bool HardwareActive = false;
  bool OpenedOk = false;
  int32_t HardwareErrors = 0;
  bool AllowThreads = false;
  TFFMpegVideo* Decoder = nullptr;
  // 25 frames per second until the stream tells otherwise, so a stream
  // without a rate still has a finite forward window.
  double FrameDurationUs = 40000;
  double FramesPerUs = 1.0 / 40000;
  int32_t CurrentIndex = -1;
  int32_t LastFrameLimit = 0;
  TFFVideoFormatConvertor* YUVConverter = nullptr;
  TFFVideoFormatConvertor* BitmapConverter = nullptr;

 private:
  bool Position(int32_t& n);
  void GiveSlotBack();
  TDecoderMaker maker_ = nullptr;
};

// Installs the factory as the floor of the chain (it serves every file): an
// assertion failure when another factory is installed already.
void InitFFMpegVideoSource();
void DoneFFMpegVideoSource();
TFrameSource* FFMpegVideoSourceFactory(foundation::TStream* stream, bool ownsStream, const std::u16string& fileName,
                                       bool allowHardware, bool allowThreads);

}  // namespace video
