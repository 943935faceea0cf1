#include "video/FFMpegVideoSource2.h"

#include <algorithm>
#include <cmath>

#include "foundation/SysLock.h"
#include "foundation/kpExceptions.h"
#include "foundation/kpLog.h"

namespace video {

namespace ff = platform::ffmpeg;

namespace {
std::atomic<int32_t> g_slots{0};

bool TakeSlot() {
  if (g_slots.fetch_add(1) + 1 > kHardwareSlots) {
    g_slots.fetch_sub(1);
    return false;
  }
  return true;
}

std::u16string Dec(int64_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}
// A frame index or time from doubles that damaged files can make anything.
int32_t ToIndex(double v) {
  return std::isfinite(v) ? static_cast<int32_t>(std::clamp(std::trunc(v), -1.0, 2147483647.0)) : -1;
}
int64_t ToTime(double v) {
  return std::isfinite(v) ? static_cast<int64_t>(std::clamp(std::trunc(v), -4.0e18, 4.0e18)) : 0;
}
}  // namespace

int32_t HardwareSlotsInUse() { return g_slots.load(); }

TVideoSource2::TVideoSource2(foundation::TStream* stream, bool ownsStream, const std::u16string& fileName,
                             bool allowHardware, bool allowThreads, TDecoderMaker maker)
    : maker_(maker) {
  QEL_ASSERT(stream != nullptr, "FFMpegVideoSource2: no stream");
  FileName = fileName;
  MediaStream = stream;
  OwnsStream = ownsStream;
  AllowThreads = allowThreads;
  StartPosition = stream->GetPosition();
  HardwareActive = allowHardware && TakeSlot();
  while (!Open(stream, fileName)) {
    foundation::FreeAndNil(Decoder);
    if (!HardwareActive) break;
    // Only the first frame decides: the file is tried again in software.
    GiveSlotBack();
    stream->SetPosition(StartPosition);
  }
}

void TVideoSource2::GiveSlotBack() {
  if (HardwareActive) {
    g_slots.fetch_sub(1);
    HardwareActive = false;
  }
}

void TVideoSource2::Dispose() {
  foundation::FreeAndNil(YUVConverter);
  foundation::FreeAndNil(BitmapConverter);
  foundation::FreeAndNil(Decoder);
  // An owned stream goes with the source, also when it never opened.
  if (OwnsStream) foundation::FreeAndNil(MediaStream);
  MediaStream = nullptr;
  GiveSlotBack();
  TFrameSource::Dispose();
}

bool TVideoSource2::Open(foundation::TStream* stream, const std::u16string& name) {
  foundation::FreeAndNil(Decoder);
  Decoder = maker_ ? maker_() : new TFFMpegVideo();
  if (!Decoder->Open(stream, name)) return false;
  if (!Decoder->PreferHardware()) GiveSlotBack();
  Decoder->HardwareRequested = HardwareActive;
  int32_t threads = 1;
  if (Decoder->ThreadsUseful() && AllowThreads) threads = static_cast<int32_t>(foundation::GetProcessorCount());
  if (threads == 8) threads = 6;
  Decoder->RequestedThreads = threads;
  const TFFVideoStreamInfo& i = Decoder->Info;
  Params.Width = i.Width;
  Params.Height = i.Height;
  Params.HasAlpha = i.HasAlpha;
  Params.Rotation = i.Rotation;
  if (i.FrameRateNum != 0 && i.FrameRateDen != 0) {
    Params.FrameRate = static_cast<double>(i.FrameRateNum) / i.FrameRateDen;
    FrameDurationUs = 1000000.0 * i.FrameRateDen / i.FrameRateNum;
    FramesPerUs = 1.0 / FrameDurationUs;
  } else {
    Params.FrameRate = 0;
  }
  Params.FrameRateNum = i.FrameRateNum;
  Params.FrameRateDen = i.FrameRateDen;
  Params.FrameCount = static_cast<int32_t>(std::min<int64_t>(Decoder->FrameCount, INT32_MAX));
  Params.AspectClass = AspectClassOf(i.DisplayAspect);
  CurrentIndex = -1;
  OpenedOk = false;
  if (Decoder->DecodeFrame(TFFMpegVideo::kPresentNext) && Decoder->FrameReady) {
    OpenedOk = Decoder->CurrentFrame != nullptr && Decoder->FramePixelFormat != -1;
    Params.Interlaced = Decoder->FrameInterlaced;
    Params.TopFieldFirst = Decoder->FrameTopFieldFirst;
    CurrentIndex = 0;
  }
  switch (i.CodecId) {
    case ff::kCodecMPEG2: Params.Codec = u"MPEG2"; break;
    case ff::kCodecMPEG4: Params.Codec = u"MPEG4"; break;
    case ff::kCodecH264: Params.Codec = u"H264"; break;
    case ff::kCodecVP9: Params.Codec = u"VP9"; break;
    case ff::kCodecHEVC: Params.Codec = u"HEVC"; break;
    default: Params.Codec = u"OTHER"; break;
  }
  Params.DurationMs = 0;
  return OpenedOk;
}

bool TVideoSource2::Position(int32_t& n) {
  n = std::max(n, 0);
  if (LastFrameLimit > 0 && n > LastFrameLimit) n = LastFrameLimit;
  const int32_t window = std::max(ToIndex(100000 * FramesPerUs), 0);
  // Forward only from a frame really decoded: after a failed step the
  // decoder's position is unknown (a video restarted after its end).
  if (CurrentIndex >= 0 && n >= CurrentIndex && int64_t(CurrentIndex) + window >= n) {
    bool ok = true;
    while (ok && CurrentIndex < n) {
      ++CurrentIndex;
      ok = Decoder->DecodeFrame(CurrentIndex < n ? TFFMpegVideo::kSkipNext : TFFMpegVideo::kPresentNext);
    }
    if (ok && Decoder->CurrentFrame) return true;
    CurrentIndex = -1;
    return false;
  }
  auto seek = [&](double t) {
    return Decoder->SeekTo(ToTime(t)) && Decoder->CurrentFrame != nullptr;
  };
  bool ok = seek(n * FrameDurationUs);
  if (!ok && !Decoder->EndReached) ok = seek(n * FrameDurationUs + 1);
  if (!ok && Decoder->EndReached && Decoder->FrameTimeUs != ff::kNoPts) {
    n = std::max(ToIndex((0.5 * FrameDurationUs + Decoder->FrameTimeUs) * FramesPerUs), 0);
    ok = seek(n * FrameDurationUs);
    if (ok) LastFrameLimit = n;
  }
  if (ok && Decoder->FrameTimeUs != ff::kNoPts) {
    CurrentIndex = std::max(ToIndex((0.5 * FrameDurationUs + Decoder->FrameTimeUs) * FramesPerUs), 0);
    return true;
  }
  CurrentIndex = -1;
  return false;
}

bool TVideoSource2::SetPosition(int32_t index) {
  if (!Decoder) return false;
  int32_t n = index;
  if (Position(n)) {
    // Only a successful positioning clears the count: a seek that fails
    // again must add to it, or the fall back never comes.
    HardwareErrors = 0;
    return true;
  }
  if (Decoder->IsEndReached() || !OpenedOk || !HardwareActive) return false;
  ++HardwareErrors;
  foundation::GetLog()->Add(u"ffmpeg. fHWErrors = " + Dec(HardwareErrors));
  if (HardwareErrors <= 5) return false;
  foundation::GetLog()->Add(u"ffmpeg. Fallback to software decoder");
  foundation::FreeAndNil(Decoder);
  GiveSlotBack();
  OpenedOk = false;
  HardwareErrors = 0;
  MediaStream->SetPosition(StartPosition);
  if (!Open(MediaStream, FileName)) return false;
  n = index;
  return Position(n);
}

bool TVideoSource2::GetFrameYUV(TYUVImage* image) {
  if (!Decoder || !Decoder->CurrentFrame) return false;
  ff::FrameInfo f = ff::frameInfo(Decoder->CurrentFrame);
  if (!CopyFrameToYUV(image, f.data, f.linesize, f.format, YUVConverter)) return false;
  image->FrameDone();
  return true;
}

bool TVideoSource2::GetFrameBitmap(imaging::TSysBitmap* bitmap) {
  if (!Decoder || !Decoder->CurrentFrame) return false;
  ff::FrameInfo f = ff::frameInfo(Decoder->CurrentFrame);
  return CopyFrameToBitmap(bitmap, f.data, f.linesize, f.format, BitmapConverter);
}

std::u16string TVideoSource2::GetPixelFormatName() {
  int32_t f = Decoder ? Decoder->FramePixelFormat : -1;
  switch (f) {
    case ff::kPixYUV420P: return u"YUV420P";
    case ff::kPixYUVJ420P: return u"YUVJ420P";
    case ff::kPixNV12: return u"NV12";
    case ff::kPixYUV420P10LE: return u"YUV420P10LE";
    case -1: return u"None";
    default: return u"Unknown #" + Dec(f);
  }
}

bool TVideoSource2::IsHardwareDecoding() { return HardwareActive; }

TFrameSource* FFMpegVideoSourceFactory(foundation::TStream* stream, bool ownsStream, const std::u16string& fileName,
                                       bool allowHardware, bool allowThreads) {
  if (!stream) return nullptr;
  auto* s = new TVideoSource2(stream, ownsStream, fileName, allowHardware, allowThreads);
  if (!s->Decoder) {
    s->Free();  // frees an owned stream too
    return nullptr;
  }
  return s;
}

namespace {
// Set while the factory is in the chain, at its floor.
bool g_installed = false;
}  // namespace

void InitFFMpegVideoSource() {
  if (g_installed) return;
  // The FFmpeg source opens whatever it can and has nothing to fall back to,
  // so it is the floor of the chain: put on top of another source it would
  // hide it (the GIF source among them).
  if (VideoSourceFactory)
    foundation::QelAssertFail("The FFmpeg video source starts before every other video source");
  VideoSourceFactory = &FFMpegVideoSourceFactory;
  g_installed = true;
}

void DoneFFMpegVideoSource() {
  if (VideoSourceFactory == &FFMpegVideoSourceFactory) VideoSourceFactory = nullptr;
  g_installed = false;
}

}  // namespace video
