#include "video/FFMpegDll2.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "foundation/kpExceptions.h"
#include "foundation/kpLog.h"
#include "foundation/kvPathMacros.h"

namespace video {

namespace ff = platform::ffmpeg;
using foundation::GetLog;

namespace {

std::u16string Dec(int64_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

void LogLine(const std::u16string& text) { GetLog()->Add(text); }

void FFLogSink(int level, const char* line) {
  std::string s(line);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  LogLine(u"ffmpeg: " + foundation::MessageFromUtf8(s));
}

bool g_tried = false;
bool g_loaded = false;
std::u16string g_triedFolder;

}  // namespace

// ---------------------------------------------------------------- Loading

std::u16string FFMpegLibraryFolder = u"..\\..\\..\\QelX\\Common\\LibAV";
TLibraryMask FFMpegLibraryMask = 0x3F;
bool FFMpegCreateHardwareDevice = true;

bool LoadFFMpeg() {
  if (g_tried) {
    if (g_loaded) return true;
    if (FFMpegLibraryFolder == g_triedFolder) return false;
  }
  g_triedFolder = FFMpegLibraryFolder;
  g_tried = true;
  TFFLoader* loader = FFLoader();
  loader->Folder = FFMpegLibraryFolder.empty() ? std::u16string() : foundation::GetExpandedPath(FFMpegLibraryFolder);
  g_loaded = loader->LoadLibraries(FFMpegLibraryMask);
  if (g_loaded) {
    ff::setLogSink(&FFLogSink);
    if (FFMpegCreateHardwareDevice) HardwareDeviceSetUp();
  }
  return g_loaded;
}

bool FFMpegLoaded() { return g_loaded; }

void ResetFFMpegLoadForTesting() {
  g_tried = false;
  g_loaded = false;
  g_triedFolder.clear();
  DoneFFLoad();
}

// ---------------------------------------------------------------- Hardware

namespace {
std::atomic<int32_t> g_hwUsers{0};
bool g_hwSetUpDone = false;
std::atomic<bool> g_hwReady{false};
AVBufferRef* g_hwDevice = nullptr;
int32_t g_hwPixelFormat = -1;

void ReleaseHardwareUser() {
  if (g_hwUsers.fetch_sub(1) - 1 <= 0 && g_hwDevice) {
    g_hwReady.store(false);
    ff::bufferUnref(&g_hwDevice);
  }
}

int GetHardwareFormat(AVCodecContext*, const int* formats) {
  for (const int* f = formats; *f != -1; ++f)
    if (*f == g_hwPixelFormat) return *f;
  LogLine(u"ffmpeg: Failed to get HW surface format.");
  return -1;
}
}  // namespace

void HardwareDeviceSetUp() {
  if (!g_loaded || g_hwSetUpDone) return;
  g_hwSetUpDone = true;
  int32_t users = g_hwUsers.fetch_add(1) + 1;
  if (users > 1 && g_hwDevice) return;
  // What FFmpeg offers on Linux, in order of preference.
  for (const char* name : {"vaapi", "vdpau"}) {
    int type = ff::hwFindType(name);
    int32_t pixfmt = ff::hwPixelFormat(type);
    bool failed = false;
    if (ff::hwDeviceCreate(&g_hwDevice, type) < 0) {
      LogLine(u"ffmpeg: Failed to create specified HW device.");
      failed = true;
    }
    if (pixfmt == -1) {
      LogLine(u"ffmpeg: Cannot support \"" + foundation::MessageFromUtf8(name) + u"\" in this example.");
      failed = true;
    }
    if (!failed) {
      g_hwPixelFormat = pixfmt;
      g_hwReady.store(true);
      return;
    }
    if (g_hwDevice) ff::bufferUnref(&g_hwDevice);
  }
}

bool HardwareDeviceReady() { return g_hwReady.load(); }

void HardwareDeviceRelease() {
  if (!g_hwSetUpDone) return;
  g_hwSetUpDone = false;
  ReleaseHardwareUser();
}

// ---------------------------------------------------------------- TFFAVStream

namespace {

int ReadCallback(void* opaque, uint8_t* buffer, int size) {
  // Exceptions must not unwind through FFmpeg's C frames.
  try {
    auto* s = static_cast<foundation::TStream*>(opaque);
    int32_t n = s->Read(std::span<uint8_t>(buffer, static_cast<size_t>(size)), 0, size);
    // FFmpeg 5 no longer treats 0 as the end; answering it makes reads spin.
    return n > 0 ? n : ff::kErrorEOF;
  } catch (const std::exception& e) {
    LogLine(u"ffmpeg: read failed: " + foundation::MessageFromUtf8(e.what()));
    return ff::kErrorIO;
  } catch (...) {
    LogLine(u"ffmpeg: read failed");
    return ff::kErrorIO;
  }
}

int64_t SeekCallback(void* opaque, int64_t offset, int whence) {
  try {
    auto* s = static_cast<foundation::TStream*>(opaque);
    switch (whence & ~0x20000) {  // AVSEEK_FORCE is only a hint
      case 0: s->SetPosition(offset); return 0;
      case 1: s->SetPosition(s->GetPosition() + offset); return 0;
      case 2: s->SetPosition(s->GetSize() + offset); return 0;
      case ff::kSeekSize: return s->GetSize();
      default:
        LogLine(u"ffmpeg: Unknown seek \"whence\" parameter");
        return ff::kErrorInvalid;
    }
  } catch (const std::exception& e) {
    LogLine(u"ffmpeg: seek failed: " + foundation::MessageFromUtf8(e.what()));
    return ff::kErrorIO;
  } catch (...) {
    LogLine(u"ffmpeg: seek failed");
    return ff::kErrorIO;
  }
}

}  // namespace

TFFAVStream::TFFAVStream() { LoadFFMpeg(); }

void TFFAVStream::Dispose() {
  Close();
  foundation::TRefObject::Dispose();
}

bool TFFAVStream::Open(foundation::TStream* stream, const std::u16string& name) {
  QEL_ASSERT(stream != nullptr, "FFMpegDll2: no stream");
  Source = stream;
  if (!FFMpegLoaded()) {
    ErrorText = name + u": FFmpeg is not available";
    return false;
  }
  FormatContext = ff::formatAlloc();
  if (!FormatContext) return false;
  IOBuffer = static_cast<uint8_t*>(ff::avMalloc(kIOBufferSize));
  OwnsIOBuffer = IOBuffer != nullptr;
  IOContext = IOBuffer ? ff::ioAlloc(IOBuffer, kIOBufferSize, stream, &ReadCallback, &SeekCallback) : nullptr;
  if (!IOContext) {
    if (IOBuffer) ff::avFree(IOBuffer);
    IOBuffer = nullptr;
    OwnsIOBuffer = false;
    Close();
    return false;
  }
  ff::formatSetIO(FormatContext, IOContext, ff::kFlagCustomIO | ff::kFlagNonBlock);
  int r = ff::openInput(&FormatContext, foundation::MessageToUtf8(name).c_str());
  if (r < 0) {
    ErrorText = FormatErrorText(name, r);
    Close();
    return false;
  }
  if (ff::findStreamInfo(FormatContext) < 0) {
    ErrorText = u"Could not find codec parameters: " + name;
    Close();
    return false;
  }
  ff::ioClearErrors(IOContext);
  return true;
}

bool TFFAVStream::Finished(const TFFPacketState& state) const {
  return AtEnd && ReadFailed && (!state.Draining || state.Drained);
}

bool TFFAVStream::ReadPacket(TFFPacketState& state) {
  if (state.HasPacket) return true;
  if (!FormatContext || !state.Packet) return false;
  if (state.Draining) return false;
  for (;;) {
    int r = ff::readFrame(FormatContext, state.Packet);
    if (r >= 0) {
      if (ff::packetInfo(state.Packet).streamIndex != state.StreamIndex) {
        ff::packetUnref(state.Packet);
        continue;
      }
      state.HasPacket = true;
      if (state.Decoder && ff::sendPacket(state.Decoder, state.Packet) < 0) {
        ff::packetUnref(state.Packet);
        state.HasPacket = false;
        // A packet the decoder refuses is skipped; the next one may decode.
        continue;
      }
      return state.HasPacket;
    }
    if (r == ff::kErrorAgain) return false;
    if (r == ff::kErrorEOF) AtEnd = true;
    if (ReadFailed) {
      if (r == ff::kErrorBrokenPipe || r == ff::kErrorEOF || ff::ioEof(IOContext)) AtEnd = true;
    } else {
      ReadFailed = true;
    }
    // At the end the decoder still holds frames (B-frames, frame threads):
    // a null packet drains them, and the caller receives them as usual.
    if (AtEnd && state.Decoder && !state.Draining) {
      state.Draining = true;
      if (ff::sendPacket(state.Decoder, nullptr) < 0) {
        state.Drained = true;
        return false;
      }
      state.HasPacket = true;
      return true;
    }
    return false;
  }
}

void TFFAVStream::ReleasePacket(TFFPacketState& state) {
  if (state.HasPacket) {
    if (state.Packet) ff::packetUnref(state.Packet);
    state.HasPacket = false;
  }
}

bool TFFAVStream::Seek(int32_t streamIndex, AVCodecContext* codec, int64_t timeUs, int32_t flags,
                       TFFPacketState& state) {
  if (!FormatContext) return false;
  int64_t t = timeUs;
  if (!(flags & ff::kSeekByte) && streamIndex >= 0) {
    ff::StreamInfo si = ff::streamInfo(FormatContext, streamIndex);
    t = ff::rescaleQ(timeUs, 1, 1000000, si.timeBaseNum, si.timeBaseDen);
  }
  if (codec) ff::flushBuffers(codec);
  AtEnd = false;
  ReadFailed = false;
  state.Draining = false;
  state.Drained = false;
  ++SeekCalls;
  int r = ff::seekFrame(FormatContext, streamIndex, t, flags | ff::kSeekBackward);
  if (r < 0 && Mode == 2) {
    ++SeekCalls;
    r = ff::seekFrame(FormatContext, streamIndex, t, flags | ff::kSeekBackward | ff::kSeekAny);
  }
  ReleasePacket(state);
  if (r < 0) {
    LogLine(u"ffmpeg: Could not seek to position");
    return false;
  }
  return true;
}

void TFFAVStream::Close(TFFPacketState* state) {
  AtEnd = false;
  ReadFailed = false;
  PrevTimeUs = ff::kNoPts;
  TFFPacketState& p = state ? *state : Packets;
  ReleasePacket(p);
  if (p.Packet) ff::packetFree(&p.Packet);
  p = TFFPacketState();
  if (IOContext) {
    // FFmpeg may have replaced the buffer given at open.
    if (OwnsIOBuffer) {
      uint8_t* current = ff::ioBuffer(IOContext);
      ff::avFree(current);
    }
    ff::ioFree(&IOContext);
  } else if (OwnsIOBuffer && IOBuffer) {
    ff::avFree(IOBuffer);
  }
  IOBuffer = nullptr;
  OwnsIOBuffer = false;
  if (FormatContext) ff::closeInput(&FormatContext);
  FormatContext = nullptr;
}

TFFMediaInfo TFFAVStream::GetMediaInfo() const {
  TFFMediaInfo m;
  if (!FormatContext) return m;
  ff::FormatInfo f = ff::formatInfo(FormatContext);
  m.StartTimeUs = f.startTime;
  m.DurationUs = f.duration == ff::kNoPts ? -1 : f.duration;
  m.BitRate = static_cast<int32_t>(f.bitRate);
  auto number = [&](const char16_t* key) {
    std::u16string v = DictValue(f.metadata, key, u"");
    if (v.empty()) return 0;
    int64_t n = 0;
    for (char16_t c : v) {
      if (c < u'0' || c > u'9' || n > 100000000) return 0;
      n = n * 10 + (c - u'0');
    }
    return static_cast<int32_t>(n);
  };
  m.Year = number(u"year");
  m.Track = number(u"track");
  m.Title = DictValue(f.metadata, u"title", u"");
  m.Author = DictValue(f.metadata, u"author", u"");
  m.Copyright = DictValue(f.metadata, u"copyright", u"");
  m.Comment = DictValue(f.metadata, u"comment", u"");
  m.Album = DictValue(f.metadata, u"album", u"");
  m.Genre = DictValue(f.metadata, u"genre", u"");
  return m;
}

// ---------------------------------------------------------------- TFFMpegVideo

namespace {

// What a stream selector logs when it refuses: the text when there is no
// stream of its kind, and the texts around the index for an index beyond the
// streams and for a stream of another kind.
struct TStreamRefusals {
  const char16_t* None;
  const char16_t* InvalidBefore;
  const char16_t* InvalidAfter;
  const char16_t* OtherKindBefore;
  const char16_t* OtherKindAfter;
};

// The stream of kind a selector settles on: index, or for an index below 0
// the current stream, else the first of the kind. -1, logged, when the file
// is not open or that is no stream of the kind.
int32_t ChooseStream(TFFAVStream* stream, int32_t streamCount, int32_t index, int32_t current, int32_t first,
                     int32_t kind, const TStreamRefusals& texts) {
  if (!stream->IsOpen()) return -1;
  if (index < 0) index = current >= 0 ? current : first;
  if (index < 0) {
    LogLine(texts.None);
    return -1;
  }
  if (index >= streamCount) {
    LogLine(texts.InvalidBefore + Dec(index) + texts.InvalidAfter);
    return -1;
  }
  if (ff::streamInfo(stream->FormatContext, index).codecType != kind) {
    LogLine(texts.OtherKindBefore + Dec(index) + texts.OtherKindAfter);
    return -1;
  }
  return index;
}

}  // namespace

std::u16string DecoderDisplayName(const char* name) {
  std::string n = name ? name : "";
  if (n == "h264") n = "H.264";
  else if (n == "mpeg2video") n = "MPEG2";
  for (char& c : n)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return foundation::MessageFromUtf8(n);
}

int32_t RotationFromDisplay(double r) {
  int64_t t = static_cast<int64_t>(std::trunc(-r));
  return static_cast<int32_t>(((t % 360) + 360) % 360);
}

TFFMpegVideo::TFFMpegVideo() {
  Stream = new TFFAVStream();
  Stream->Mode = 1;
  g_hwUsers.fetch_add(1);
}

void TFFMpegVideo::Dispose() {
  Close();
  foundation::FreeAndNil(Stream);
  ReleaseHardwareUser();
  foundation::TRefObject::Dispose();
}

bool TFFMpegVideo::Open(foundation::TStream* stream, const std::u16string& name) {
  Close();
  bool ok = Stream->Open(stream, name);
  ReadDescription();
  return ok;
}

void TFFMpegVideo::ReadDescription() {
  StreamCount = -1;
  VideoStreamCount = 0;
  FirstVideoStream = -1;
  DurationUs = -1;
  FrameCount = 0;
  FrameCountDurationUs = 0;
  Info = TFFVideoStreamInfo();
  if (!Stream->IsOpen()) return;
  ff::FormatInfo f = ff::formatInfo(Stream->FormatContext);
  StreamCount = f.streamCount;
  for (int32_t i = 0; i < StreamCount; ++i)
    if (ff::streamInfo(Stream->FormatContext, i).codecType == ff::kMediaVideo) {
      if (FirstVideoStream < 0) FirstVideoStream = i;
      ++VideoStreamCount;
    }
  Info = GetStreamInfo(-1);
  DurationUs = Stream->GetMediaInfo().DurationUs;
  if (FirstVideoStream >= 0 && Info.FrameRateDen >= 1) {
    int64_t d = Info.DurationUs > 0 ? Info.DurationUs : DurationUs;
    if (d > 0) {
      FrameCountDurationUs = d;
      FrameCount = std::llround(static_cast<double>(d) / 1000000.0 * Info.FrameRateNum / Info.FrameRateDen);
    }
  }
}

TFFVideoStreamInfo TFFMpegVideo::GetStreamInfo(int32_t index) {
  TFFVideoStreamInfo r;
  if (!Stream->IsOpen()) return r;
  if (index < 0) index = FirstVideoStream;
  if (index < 0) {
    LogLine(u"ffmpeg: no video stream.");
    return r;
  }
  if (index >= StreamCount) {
    LogLine(u"ffmpeg: stream index #" + Dec(index) + u" is invalid.");
    return r;
  }
  ff::StreamInfo s = ff::streamInfo(Stream->FormatContext, index);
  if (s.codecType != ff::kMediaVideo) {
    LogLine(u"ffmpeg: stream #" + Dec(index) + u" is not video stream.");
    return r;
  }
  r.Language = DictValue(s.metadata, u"language", u"");
  r.CodecId = s.codecId;
  r.CodecName = DecoderDisplayName(ff::codecName(ff::findDecoder(s.codecId)));
  r.StartTimeRaw = s.startTime;
  r.StartTimeUs = s.startTime == ff::kNoPts ? -1 : ff::rescaleQ(s.startTime, s.timeBaseNum, s.timeBaseDen, 1, 1000000);
  r.DurationRaw = s.duration;
  r.DurationUs = s.duration == ff::kNoPts ? -1 : ff::rescaleQ(s.duration, s.timeBaseNum, s.timeBaseDen, 1, 1000000);
  r.BitRate = s.bitRate > 0 ? static_cast<int32_t>(s.bitRate) : -1;
  r.Width = s.width;
  r.Height = s.height;
  int32_t sn = s.sarNum, sd = s.sarDen;
  if (sn == 0) sn = s.codecSarNum, sd = s.codecSarDen;
  if (sn != 0 && sd != 0) {
    r.SampleAspectNum = sn;
    r.SampleAspectDen = sd;
    r.SampleAspect = static_cast<float>(RationalAsDouble(sn, sd));
    int32_t dn = 0, dd = 1;
    ff::reduce(dn, dd, static_cast<int64_t>(sn) * s.width, static_cast<int64_t>(sd) * s.height, 1048576);
    r.DisplayAspectNum = dn;
    r.DisplayAspectDen = dd;
    if (dd != 0) r.DisplayAspect = static_cast<float>(RationalAsDouble(dn, dd));
  }
  if (r.DisplayAspect == -1 && s.height > 0) r.DisplayAspect = static_cast<float>(s.width) / s.height;
  r.PixelFormat = s.format;
  r.HasAlpha = s.format == ff::kPixBGRA;
  if (s.avgRateNum != 0 && s.avgRateDen != 0) r.FrameRateNum = s.avgRateNum, r.FrameRateDen = s.avgRateDen;
  else r.FrameRateNum = s.realRateNum, r.FrameRateDen = s.realRateDen;
  if (s.hasDisplayMatrix && !std::isnan(s.rotation)) r.Rotation = RotationFromDisplay(s.rotation);
  return r;
}

AVCodecContext* TFFMpegVideo::OpenDecoder(int32_t streamIndex) {
  ff::StreamInfo s = ff::streamInfo(Stream->FormatContext, streamIndex);
  QEL_ASSERT(s.codecType == ff::kMediaVideo, "FFMpegDll2: not a video stream");
  if (s.width == 0 || s.height == 0) {
    LogLine(u"ffmpeg: frame size of codec is invalid in OpenVideoDecoder");
    return nullptr;
  }
  if (Decoder && Stream->Packets.StreamIndex == streamIndex && Stream->Packets.Decoder == Decoder) return Decoder;
  ThreadCount = std::clamp(RequestedThreads, 1, 8);
  if (Decoder) ff::codecFree(&Decoder);
  const AVCodec* codec = ff::findDecoder(s.codecId);
  if (!codec) {
    LogLine(u"ffmpeg: avcodec_find_decoder: Unsupported codec");
    return nullptr;
  }
  LogLine(u"ffmpeg: avcodec_find_decoder: LDecoder.name = " + foundation::MessageFromUtf8(ff::codecName(codec)));
  AVCodecContext* c = ff::decoderContext(codec, Stream->FormatContext, streamIndex);
  if (!c) return nullptr;
  bool hw = HardwareOn && HardwareDeviceReady();
  ff::setThreadCount(c, hw ? 1 : ThreadCount);
  if (hw) {
    AVBufferRef* ref = g_hwDevice ? ff::bufferRef(g_hwDevice) : nullptr;
    if (!ref) {
      ff::codecFree(&c);
      return nullptr;
    }
    ff::setHardware(c, &GetHardwareFormat, ref);
  }
  if (ff::codecOpen(c, codec) < 0) {
    LogLine(u"ffmpeg: Error while opening codec for input file stream");
    ff::codecFree(&c);
    return nullptr;
  }
  Decoder = c;
  return Decoder;
}

int32_t TFFMpegVideo::SelectVideoStream(int32_t index) {
  static const TStreamRefusals kTexts{u"ffmpeg: no video stream.", u"ffmpeg: stream index #", u" is invalid.",
                                      u"ffmpeg: stream #", u" is not video stream."};
  index = ChooseStream(Stream, StreamCount, index, VideoStream, FirstVideoStream, ff::kMediaVideo, kTexts);
  if (index < 0) return -1;
  if (index != VideoStream) ResetFrameState();
  VideoStream = index;
  return index;
}

void TFFMpegVideo::ResetFrameState() {
  if (TransferFrame) ff::frameFree(&TransferFrame);
  if (DecodedFrame) ff::frameFree(&DecodedFrame);
  CurrentFrame = nullptr;
  FramePixelFormat = FrameWidth = FrameHeight = -1;
  FrameKey = FrameInterlaced = FrameTopFieldFirst = false;
  FramePictType = 0;
  FrameTimeUs = ff::kNoPts;
  PacketDts = PacketPts = ff::kNoPts;
  PacketPos = -1;
  PacketStreamIndex = -1;
  FrameReady = false;
}

void TFFMpegVideo::FirstCallSetUp() {
  if (Initialized) return;
  HardwareOn = HardwareRequested;
  Initialized = true;
}

bool TFFMpegVideo::EnsureDecoder() {
  TFFPacketState& p = Stream->Packets;
  if (p.Opened) return true;
  int32_t index = SelectVideoStream(-1);
  if (index < 0) return false;
  if (!OpenDecoder(index)) return false;
  p.Opened = true;
  p.StreamIndex = index;
  p.Decoder = Decoder;
  if (!p.Packet) p.Packet = ff::packetAlloc();
  p.HasPacket = false;
  return p.Packet != nullptr;
}

int64_t TFFMpegVideo::ComputeFrameTime(const ff::FrameInfo& f, const ff::PacketInfo& p) {
  int64_t t = ff::kNoPts;
  if (f.pts != ff::kNoPts) {
    t = f.bestEffort;
    ff::setFramePts(DecodedFrame, t);
  } else if (p.dts == ff::kNoPts && f.reorderedOpaque != ff::kNoPts && f.reorderedOpaque != 0) {
    t = f.reorderedOpaque;
  } else if (p.dts != ff::kNoPts) {
    t = p.dts;
  } else {
    t = p.pts;
  }
  int64_t result = ff::kNoPts;
  // Damaged files carry any timestamps: arithmetic that would overflow
  // leaves the time unknown.
  if (t != ff::kNoPts) {
    ff::StreamInfo s = ff::streamInfo(Stream->FormatContext, VideoStream);
    if (s.startTime == ff::kNoPts || !__builtin_sub_overflow(t, s.startTime, &t))
      result = ff::rescaleQ(t, s.timeBaseNum, s.timeBaseDen, 1, 1000000);
  } else if (Stream->ReadFailed && Stream->PrevTimeUs != ff::kNoPts && FrameTimeUs != ff::kNoPts) {
    int64_t twice = 0;
    if (__builtin_mul_overflow(FrameTimeUs, 2, &twice) || __builtin_sub_overflow(twice, Stream->PrevTimeUs, &result))
      result = ff::kNoPts;
  }
  if (FrameTimeUs != ff::kNoPts) Stream->PrevTimeUs = FrameTimeUs;
  return result;
}

bool TFFMpegVideo::DecodeFrame(int64_t targetUs) {
  FirstCallSetUp();
  CurrentFrame = nullptr;
  if (!Stream->IsOpen() || Stream->Finished(Stream->Packets)) return false;
  if (!EnsureDecoder()) return false;
  if (!DecodedFrame) DecodedFrame = ff::frameAlloc();
  if (!TransferFrame) TransferFrame = ff::frameAlloc();
  if (!DecodedFrame || !TransferFrame) return false;
  TFFPacketState& p = Stream->Packets;
  while (Stream->ReadPacket(p)) {
    int r = ff::receiveFrame(Decoder, DecodedFrame);
    if (r == ff::kErrorEOF) {
      EndReached = true;
      if (p.Draining) p.Drained = true;
    }
    if (r == ff::kErrorAgain || r == ff::kErrorEOF) {
      Stream->ReleasePacket(p);
      continue;
    }
    if (r < 0) return false;
    ++FramesReceived;
    ff::FrameInfo f = ff::frameInfo(DecodedFrame);
    if (FirstFrameKey < 0) FirstFrameKey = f.keyFrame ? 1 : 0;
    ff::PacketInfo pk = ff::packetInfo(p.Packet);
    FrameTimeUs = ComputeFrameTime(f, pk);
    if (FirstFrameTimeUs == ff::kNoPts) FirstFrameTimeUs = FrameTimeUs;
    if (FrameTimeUs != ff::kNoPts && FrameTimeUs < targetUs) return true;
    AVFrame* shown = DecodedFrame;
    if (HardwareOn && HardwareDeviceReady() && f.format == g_hwPixelFormat) {
      if (ff::hwTransfer(TransferFrame, DecodedFrame) < 0) return false;
      shown = TransferFrame;
      f = ff::frameInfo(shown);
    }
    CurrentFrame = shown;
    FramePixelFormat = f.format;
    FrameWidth = f.width;
    FrameHeight = f.height;
    FrameKey = f.keyFrame;
    FrameInterlaced = f.interlaced;
    FrameTopFieldFirst = f.topFieldFirst;
    FramePictType = f.pictType;
    PacketDts = pk.dts;
    PacketPts = pk.pts;
    PacketPos = pk.pos;
    PacketStreamIndex = pk.streamIndex;
    FrameReady = true;
    return true;
  }
  if (Stream->AtEnd) EndReached = true;
  return false;
}

bool TFFMpegVideo::SeekTo(int64_t timeUs) {
  EndReached = false;
  FirstCallSetUp();
  if (!Stream->IsOpen() || !EnsureDecoder()) return false;
  // Files that start late (camcorders, broadcasts) keep their start time in
  // every timestamp; frame times are relative to it, seek targets are not.
  const int64_t start = Info.StartTimeUs > 0 ? Info.StartTimeUs : 0;
  // One frame's length; a damaged header may claim anything, and no frame
  // lasts beyond ten seconds here.
  int64_t d = FrameCount > 0 ? FrameCountDurationUs / FrameCount : 1;
  d = std::clamp<int64_t>(d, 1, 10000000);
  timeUs = std::clamp<int64_t>(timeUs, -(int64_t(1) << 52), int64_t(1) << 52);
  // Containers without a key-frame index (MPEG program streams) seek by
  // timestamp: they may land inside a group of pictures, whose frames cannot
  // be decoded without the ones before, past the time, past the last frame,
  // or on a frame without a time. Then seek further back, and at last to the
  // start.
  int64_t back = 0;
  for (int attempt = 0;; ++attempt) {
    const int64_t target = std::max<int64_t>(timeUs - back, 0);
    int64_t at = 0;
    if (__builtin_add_overflow(target, start, &at)) at = target;
    bool ok = Stream->Seek(VideoStream, Decoder, at, 0, Stream->Packets);
    if (!ok && Stream->AtEnd) EndReached = true;
    ResetFrameState();
    if (!ok) return false;
    FirstFrameKey = -1;
    FirstFrameTimeUs = ff::kNoPts;
    bool decoded = true;
    do {
      if (!DecodeFrame(timeUs - d / 2)) {
        decoded = false;
        break;
      }
      // A frame without a time cannot be compared: the search stops there.
    } while (!Stream->Finished(Stream->Packets) && FrameTimeUs != ff::kNoPts && FrameTimeUs < timeUs + d / 2 &&
             timeUs > 0 && FrameTimeUs <= (timeUs + d / 2) - d);
    const bool overshot = FirstFrameTimeUs != ff::kNoPts && FirstFrameTimeUs > timeUs + d / 2;
    const bool nothing = !decoded && FirstFrameKey < 0;  // landed at the end
    const bool untimed = FirstFrameKey >= 0 && FirstFrameTimeUs == ff::kNoPts;
    if ((FirstFrameKey != 0 && !overshot && !nothing && !untimed) || target == 0 || attempt >= 3) return decoded;
    back = attempt == 2 ? timeUs : (back == 0 ? 1000000 : back * 4);
    EndReached = false;
  }
}

bool TFFMpegVideo::IsEndReached() const { return Stream->AtEnd; }

bool TFFMpegVideo::PreferHardware() const {
  if (Info.CodecId != ff::kCodecH264 && Info.CodecId != ff::kCodecVP9 && Info.CodecId != ff::kCodecHEVC) return false;
  int64_t f = 30;
  if (Info.FrameRateNum != 0 && Info.FrameRateDen != 0)
    f = std::llround(static_cast<double>(Info.FrameRateNum) / Info.FrameRateDen);
  return static_cast<int64_t>(Info.Width) * Info.Height * f > 30000000;
}

bool TFFMpegVideo::ThreadsUseful() const {
  return Info.CodecId == ff::kCodecH264 || Info.CodecId == ff::kCodecVP9 || Info.CodecId == ff::kCodecHEVC ||
         Info.CodecId == ff::kCodecAV1;
}

void TFFMpegVideo::Close() {
  EndReached = false;
  VideoStream = -1;
  ResetFrameState();
  if (Decoder) ff::codecFree(&Decoder);
  Decoder = nullptr;
  if (Stream) Stream->Close();
  if (Stream) ReadDescription();
  HardwareOn = false;
  Initialized = false;
}

// ---------------------------------------------------------------- TFFMpegAudio

TFFMpegAudio::TFFMpegAudio() {
  Stream = new TFFAVStream();
  Stream->Mode = 2;
}

void TFFMpegAudio::Dispose() {
  Close();
  foundation::FreeAndNil(Stream);
  foundation::TRefObject::Dispose();
}

bool TFFMpegAudio::Open(foundation::TStream* stream, const std::u16string& name) {
  Close();
  bool ok = Stream->Open(stream, name);
  ReadDescription();
  return ok;
}

void TFFMpegAudio::ReadDescription() {
  StreamCount = -1;
  AudioStreamCount = 0;
  FirstAudioStream = -1;
  DurationUs = -1;
  Info = TFFAudioStreamInfo();
  if (!Stream->IsOpen()) return;
  StreamCount = ff::formatInfo(Stream->FormatContext).streamCount;
  for (int32_t i = 0; i < StreamCount; ++i)
    if (ff::streamInfo(Stream->FormatContext, i).codecType == ff::kMediaAudio) {
      if (FirstAudioStream < 0) FirstAudioStream = i;
      ++AudioStreamCount;
    }
  Info = GetStreamInfo(-1);
  DurationUs = Stream->GetMediaInfo().DurationUs;
}

TFFAudioStreamInfo TFFMpegAudio::GetStreamInfo(int32_t index) {
  TFFAudioStreamInfo r;
  if (!Stream->IsOpen()) return r;
  if (index < 0) index = FirstAudioStream;
  if (index < 0 || index >= StreamCount) return r;
  ff::StreamInfo s = ff::streamInfo(Stream->FormatContext, index);
  if (s.codecType != ff::kMediaAudio) return r;
  r.Language = DictValue(s.metadata, u"language", u"");
  r.CodecName = DecoderDisplayName(ff::codecName(ff::findDecoder(s.codecId)));
  r.StartTimeRaw = s.startTime;
  r.StartTimeUs = s.startTime == ff::kNoPts ? -1 : ff::rescaleQ(s.startTime, s.timeBaseNum, s.timeBaseDen, 1, 1000000);
  r.DurationRaw = s.duration;
  r.DurationUs = s.duration == ff::kNoPts ? -1 : ff::rescaleQ(s.duration, s.timeBaseNum, s.timeBaseDen, 1, 1000000);
  r.BitRate = s.bitRate > 0 ? static_cast<int32_t>(s.bitRate) : -1;
  r.Channels = s.channels;
  r.SampleRate = s.sampleRate;
  r.SampleFormat = s.format;
  return r;
}

int32_t TFFMpegAudio::SelectAudioStream(int32_t index) {
  static const TStreamRefusals kTexts{u"ffmpeg: No audio stream.", u"ffmpeg: Stream index is invalid (", u")",
                                      u"ffmpeg: Stream is not audio stream (", u")"};
  index = ChooseStream(Stream, StreamCount, index, AudioStream, FirstAudioStream, ff::kMediaAudio, kTexts);
  if (index < 0) return -1;
  if (index != AudioStream) {
    ResetBlock();
    FreeResampler();
  }
  AudioStream = index;
  AudioStreamIndex = index;
  return index;
}

AVCodecContext* TFFMpegAudio::OpenDecoder(int32_t streamIndex) {
  ff::StreamInfo s = ff::streamInfo(Stream->FormatContext, streamIndex);
  QEL_ASSERT(s.codecType == ff::kMediaAudio, "FFMpegDll2: not an audio stream");
  if (Decoder && Stream->Packets.StreamIndex == streamIndex && Stream->Packets.Decoder == Decoder) return Decoder;
  if (Decoder) ff::codecFree(&Decoder);
  const AVCodec* codec = ff::findDecoder(s.codecId);
  if (!codec) {
    LogLine(u"ffmpeg: Unsupported codec (id=" + Dec(s.codecId) + u") for input file stream #" + Dec(streamIndex));
    return nullptr;
  }
  AVCodecContext* c = ff::decoderContext(codec, Stream->FormatContext, streamIndex);
  if (!c || ff::codecOpen(c, codec) < 0) {
    LogLine(u"ffmpeg: Error while opening codec for input file stream #" + Dec(streamIndex));
    if (c) ff::codecFree(&c);
    return nullptr;
  }
  Decoder = c;
  return Decoder;
}

void TFFMpegAudio::ResetBlock() {
  OutChannels = ChannelsWanted;
  OutSampleRate = RateWanted;
  OutSampleFormat = FormatWanted;
  OutBytesPerSample = FFMpegLoaded() ? ff::bytesPerSample(OutSampleFormat) : 2;
  OutBytesPerSecond = OutChannels * OutSampleRate * OutBytesPerSample;
  BlockTimeUs = BlockDts = BlockPts = ff::kNoPts;
  BlockStreamIndex = -1;
  Output = nullptr;
  OutputLength = 0;
  BlockValid = false;
}

void TFFMpegAudio::FreeResampler() {
  if (Resampler) ff::swrFree(&Resampler);
  Resampler = nullptr;
  SrcRate = SrcChannels = SrcFormat = -1;
  SrcLayout = 0;
}

int32_t TFFMpegAudio::AppendBlock(int32_t offset, const uint8_t* bytes, int32_t size) {
  int64_t need = static_cast<int64_t>(offset) + size;
  if (need > BlockCapacity) {
    auto* grown = static_cast<uint8_t*>(ff::avRealloc(BlockBuffer, static_cast<size_t>(need)));
    if (!grown) return ff::kErrorNoMemory;
    BlockBuffer = grown;
    BlockCapacity = need;
  }
  if (size > 0) std::memcpy(BlockBuffer + offset, bytes, static_cast<size_t>(size));
  Output = BlockBuffer;
  OutputLength = offset + size;
  return size;
}

int32_t TFFMpegAudio::ResampleFrame(int32_t offset) {
  ff::FrameInfo f = ff::frameInfo(DecodedFrame);
  int64_t layout = (f.channelLayout != 0 && ff::channelLayoutChannels(f.channelLayout) == f.channels)
                       ? static_cast<int64_t>(f.channelLayout)
                       : ff::defaultChannelLayout(f.channels);
  if (f.sampleRate != SrcRate || f.channels != SrcChannels || layout != SrcLayout || f.format != SrcFormat) {
    FreeResampler();
    SrcRate = f.sampleRate;
    SrcChannels = f.channels;
    SrcLayout = layout;
    SrcFormat = f.format;
  }
  if (OutLayout == 0) OutLayout = ff::defaultChannelLayout(OutChannels);
  if (f.sampleRate == OutSampleRate && f.channels == OutChannels && layout == OutLayout && f.format == OutSampleFormat) {
    int size = ff::samplesBufferSize(f.channels, f.nbSamples, f.format, 1);
    if (size < 0) return size;
    return AppendBlock(offset, f.data[0], size);
  }
  if (!Resampler) {
    Resampler = ff::swrAllocSetOpts(OutLayout, OutSampleFormat, OutSampleRate, layout, f.format, f.sampleRate);
    if (Resampler && ff::swrInit(Resampler) < 0) {
      LogLine(u"ffmpeg: swr_init() failed");
      ff::swrFree(&Resampler);
      Resampler = nullptr;
    }
    if (!Resampler) {
      LogLine(u"ffmpeg: Can not resample");
      return -1;
    }
  }
  if (f.sampleRate <= 0) return -1;
  int out = static_cast<int>(static_cast<int64_t>(f.nbSamples) * OutSampleRate / f.sampleRate + 256);
  int need = ff::samplesBufferSize(OutChannels, out, OutSampleFormat, 0);
  if (need < 0) return need;
  ff::avFastMalloc(&ConvBuffer, &ConvSize, static_cast<size_t>(need));
  if (!ConvBuffer) {
    LogLine(u"ffmpeg: av_fast_malloc() failed");
    return ff::kErrorNoMemory;
  }
  uint8_t* outPlanes[1] = {ConvBuffer};
  int n = ff::swrConvert(Resampler, outPlanes, out, const_cast<const uint8_t**>(f.data), f.nbSamples);
  if (n < 0) {
    LogLine(u"ffmpeg: swr_convert() failed");
    return n;
  }
  if (n == out) ff::swrInit(Resampler);
  TailFlushed = false;
  return AppendBlock(offset, ConvBuffer, n * OutChannels * OutBytesPerSample);
}

int32_t TFFMpegAudio::FlushResampler(int32_t offset) {
  // The resampler keeps a few samples of filter delay; at the end they are
  // the last of the sound.
  if (!Resampler || TailFlushed) return 0;
  TailFlushed = true;
  int out = 4096;
  int need = ff::samplesBufferSize(OutChannels, out, OutSampleFormat, 0);
  ff::avFastMalloc(&ConvBuffer, &ConvSize, static_cast<size_t>(need));
  if (!ConvBuffer) return ff::kErrorNoMemory;
  uint8_t* outPlanes[1] = {ConvBuffer};
  int n = ff::swrConvert(Resampler, outPlanes, out, nullptr, 0);
  if (n <= 0) return n;
  return AppendBlock(offset, ConvBuffer, n * OutChannels * OutBytesPerSample);
}

void TFFMpegAudio::FinishBlock() {
  BlockDurationUs = OutSampleRate > 0 && OutChannels > 0 && OutBytesPerSample > 0
                        ? std::llround(static_cast<double>(OutputLength) * 1000000.0 / OutBytesPerSample /
                                       OutSampleRate / OutChannels)
                        : 0;
  BlockValid = true;
  ++BlocksDecoded;
}

bool TFFMpegAudio::DecodeNext() {
  if (!Stream->IsOpen()) return false;
  TFFPacketState& p = Stream->Packets;
  if (Stream->Finished(p)) {
    ResetBlock();
    if (FlushResampler(0) > 0) {
      FinishBlock();
      return true;
    }
    return false;
  }
  if (!p.Opened) {
    int32_t index = SelectAudioStream(-1);
    if (index < 0 || !OpenDecoder(index)) return false;
    p.Opened = true;
    p.StreamIndex = index;
    p.Decoder = Decoder;
    if (!p.Packet) p.Packet = ff::packetAlloc();
    if (!p.Packet) return false;
  }
  if (!DecodedFrame) DecodedFrame = ff::frameAlloc();
  if (!DecodedFrame) return false;
  ResetBlock();
  int r = 0;
  for (;;) {
    if (!Stream->ReadPacket(p)) {
      // The input ended: what the resampler still holds is the last block.
      if (Stream->Finished(p) && FlushResampler(0) > 0) {
        FinishBlock();
        return true;
      }
      return false;
    }
    r = ff::receiveFrame(Decoder, DecodedFrame);
    if (r == ff::kErrorEOF && p.Draining) p.Drained = true;
    if (r == ff::kErrorAgain || r == ff::kErrorEOF) {
      Stream->ReleasePacket(p);
      continue;
    }
    break;
  }
  if (r < 0) return false;
  ff::PacketInfo pk = ff::packetInfo(p.Packet);
  BlockDts = pk.dts;
  BlockPts = pk.pts;
  int64_t t = pk.dts != ff::kNoPts ? pk.dts : pk.pts;
  if (p.Draining) {
    // A drained frame has no packet of its own: its own time stands.
    t = ff::frameInfo(DecodedFrame).bestEffort;
  }
  if (t != ff::kNoPts) {
    ff::StreamInfo s = ff::streamInfo(Stream->FormatContext, AudioStream);
    if (s.startTime == ff::kNoPts || !__builtin_sub_overflow(t, s.startTime, &t))
      BlockTimeUs = ff::rescaleQ(t, s.timeBaseNum, s.timeBaseDen, 1, 1000000);
  }
  int32_t added = ResampleFrame(0);
  if (added < 0) {
    Stream->ReleasePacket(p);
    return false;
  }
  while (added > 0) {
    r = ff::receiveFrame(Decoder, DecodedFrame);
    if (r < 0) break;
    added = ResampleFrame(OutputLength);
  }
  if (r == ff::kErrorEOF && p.Draining) p.Drained = true;
  Stream->ReleasePacket(p);
  if (!(r >= 0 || r == ff::kErrorAgain || r == ff::kErrorEOF) || added < 0) return false;
  BlockStreamIndex = pk.streamIndex;
  FinishBlock();
  return true;
}

bool TFFMpegAudio::Seek(int64_t timeUs) {
  bool ok = Stream->Seek(AudioStreamIndex, Decoder, timeUs, 0, Stream->Packets);
  ResetBlock();
  TailFlushed = false;
  if (!ok && !(BlocksDecoded == 0 && timeUs == 0)) return false;
  do {
    if (!DecodeNext()) break;
  } while (!Stream->Finished(Stream->Packets) && BlockTimeUs < timeUs && timeUs > 0);
  return true;
}

void TFFMpegAudio::Close() {
  AudioStream = -1;
  AudioStreamIndex = -1;
  ResetBlock();
  FreeResampler();
  if (Decoder) ff::codecFree(&Decoder);
  Decoder = nullptr;
  if (DecodedFrame) ff::frameFree(&DecodedFrame);
  if (ConvBuffer) ff::avFree(ConvBuffer);
  ConvBuffer = nullptr;
  ConvSize = 0;
  if (BlockBuffer) ff::avFree(BlockBuffer);
  BlockBuffer = nullptr;
  BlockCapacity = 0;
  TailFlushed = false;
  if (Stream) {
    Stream->Close();
    ReadDescription();
  }
}

}  // namespace video
