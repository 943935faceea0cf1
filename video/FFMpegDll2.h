// FFmpeg over show streams: the process-wide load of the libraries, the
// demuxer over a TStream (custom I/O), the video decoder with its optional
// hardware device, and the audio decoder that resamples into the player's
// output format.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "foundation/SysObj.h"
#include "foundation/kvStream.h"
#include "platform/ffmpeg/api.h"
#include "video/FFMpegUtils2.h"
#include "video/kpFFLoad.h"

namespace video {

// ---- Loading ----
// Process-wide load state (start-up only; LoadFFMpeg takes no lock and is
// first called on the main thread before other threads use FFmpeg).
extern std::u16string FFMpegLibraryFolder;  // internal form; macros expanded at load
extern TLibraryMask FFMpegLibraryMask;
extern bool FFMpegCreateHardwareDevice;
// Loads the libraries once. A failed folder is not tried again until the
// folder changes. A missing entry point raises "Load function <name> error".
bool LoadFFMpeg();
bool FFMpegLoaded();
// Forgets the load state and the process loader (the libraries stay mapped
// and bound), so a test can exercise the folder rules again.
void ResetFFMpegLoadForTesting();

// ---- Demuxing ----
struct TFFPacketState {
  bool Opened = false;
  int32_t StreamIndex = -1;
  AVCodecContext* Decoder = nullptr;  // not owned
  AVPacket* Packet = nullptr;
  bool HasPacket = false;
  // End of input: the null packet that drains the decoder was sent, and the
  // decoder has answered its last frame.
  bool Draining = false;
  bool Drained = false;
};

struct TFFMediaInfo {
  int64_t StartTimeUs = platform::ffmpeg::kNoPts;
  int64_t DurationUs = -1;
  int32_t BitRate = 0;
  int32_t Year = 0, Track = 0;
  std::u16string Title, Author, Copyright, Comment, Album, Genre;
};

class TFFAVStream : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFFAVStream)
  TFFAVStream();
  void Dispose() override;

  bool Open(foundation::TStream* stream, const std::u16string& name);
  bool IsOpen() const { return FormatContext != nullptr; }
  bool ReadPacket(TFFPacketState& state);
  void ReleasePacket(TFFPacketState& state);
  bool Seek(int32_t streamIndex, AVCodecContext* codec, int64_t timeUs, int32_t flags, TFFPacketState& state);
  void Close(TFFPacketState* state = nullptr);
  TFFMediaInfo GetMediaInfo() const;
  // Both end flags are set and a drained decoder has delivered everything.
  bool Finished(const TFFPacketState& state) const;

  foundation::TStream* Source = nullptr;  // not owned
  AVFormatContext* FormatContext = nullptr;
  AVIOContext* IOContext = nullptr;  // kept apart: FFmpeg never frees a custom one
  uint8_t* IOBuffer = nullptr;
  bool OwnsIOBuffer = false;
  std::u16string ErrorText;
  bool AtEnd = false;
  bool ReadFailed = false;
  uint8_t Mode = 0;  // 1 video, 2 audio
  TFFPacketState Packets;
  int64_t PrevTimeUs = platform::ffmpeg::kNoPts;
  int32_t SeekCalls = 0;  // av_seek_frame calls, for tests

  static constexpr int32_t kIOBufferSize = 32768 + platform::ffmpeg::kInputPadding;
};

// ---- Video ----
struct TFFVideoStreamInfo {
  std::u16string Language;
  int32_t CodecId = 0;
  std::u16string CodecName;
  int64_t StartTimeRaw = platform::ffmpeg::kNoPts;
  int64_t StartTimeUs = -1;
  int64_t DurationRaw = platform::ffmpeg::kNoPts;
  int64_t DurationUs = -1;
  int32_t BitRate = -1;
  int32_t Height = -1, Width = -1;
  float SampleAspect = -1;
  float DisplayAspect = -1;
  int32_t SampleAspectNum = 0, SampleAspectDen = 1;
  int32_t DisplayAspectNum = 0, DisplayAspectDen = 1;
  int32_t PixelFormat = -1;
  int32_t FrameRateNum = 0, FrameRateDen = 1;
  bool HasAlpha = false;
  int32_t Rotation = 0;
};

// The decoder name as the stream info shows it: upper case, "h264" as
// "H.264" and "mpeg2video" as "MPEG2".
std::u16string DecoderDisplayName(const char* name);
// ((trunc(-r) mod 360) + 360) mod 360 for a display-matrix rotation r.
int32_t RotationFromDisplay(double r);

class TFFMpegVideo : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFFMpegVideo)
  TFFMpegVideo();
  void Dispose() override;

  bool Open(foundation::TStream* stream, const std::u16string& name);
  TFFVideoStreamInfo GetStreamInfo(int32_t index);
  AVCodecContext* OpenDecoder(int32_t streamIndex);
  int32_t SelectVideoStream(int32_t index);
  // Decodes the next frame; frames before target (µs) are skipped without
  // being presented. kPresentNext presents the next frame, kSkipNext
  // decodes it without presenting.
  // Virtual so a test decoder can stand in for a hardware one.
  virtual bool DecodeFrame(int64_t targetUs);
  virtual bool SeekTo(int64_t timeUs);
  virtual bool IsEndReached() const;
  virtual bool PreferHardware() const;
  bool ThreadsUseful() const;
  void Close();

  static constexpr int64_t kPresentNext = -2147483647;
  static constexpr int64_t kSkipNext = 2147483647;

  TFFAVStream* Stream = nullptr;
  int32_t StreamCount = -1;
  int64_t DurationUs = -1;
  bool HardwareOn = false;
  int32_t ThreadCount = 1;
  bool Initialized = false;
  int32_t VideoStream = -1;
  AVCodecContext* Decoder = nullptr;
  // Properties of the last frame delivered.
  int32_t FramePixelFormat = -1, FrameWidth = -1, FrameHeight = -1;
  bool FrameKey = false, FrameInterlaced = false, FrameTopFieldFirst = false;
  int32_t FramePictType = 0;
  int64_t FrameTimeUs = platform::ffmpeg::kNoPts;
  int64_t PacketDts = platform::ffmpeg::kNoPts, PacketPts = platform::ffmpeg::kNoPts, PacketPos = -1;
  int32_t PacketStreamIndex = -1;
  bool FrameReady = false;
  AVFrame* TransferFrame = nullptr;
  AVFrame* DecodedFrame = nullptr;
  AVFrame* CurrentFrame = nullptr;
  int32_t FirstVideoStream = -1;
  int32_t VideoStreamCount = 0;
  int64_t FrameCount = 0;
  // The duration behind FrameCount (the stream's, else the container's), so
  // a frame's length and the frame count agree.
  int64_t FrameCountDurationUs = 0;
  TFFVideoStreamInfo Info;
  bool EndReached = false;
  bool HardwareRequested = false;
  int32_t RequestedThreads = 1;
  int64_t FramesReceived = 0;  // frames the decoder answered, for tests

 private:
  void ReadDescription();
  void ResetFrameState();
  void FirstCallSetUp();
  bool EnsureDecoder();
  int64_t ComputeFrameTime(const platform::ffmpeg::FrameInfo& f, const platform::ffmpeg::PacketInfo& p);
};

// Process-wide hardware device: tried once after the libraries load (VA-API,
// then VDPAU); absent devices leave every decoder in software.
void HardwareDeviceSetUp();
bool HardwareDeviceReady();
// Releases the set-up's use of the device (process end).
void HardwareDeviceRelease();

// ---- Audio ----
constexpr int32_t kAudioOutChannels = 2;
constexpr int32_t kAudioOutRate = 44100;
constexpr int32_t kAudioOutFormat = platform::ffmpeg::kSampleS16;

struct TFFAudioStreamInfo {
  std::u16string Language;
  std::u16string CodecName;
  int64_t StartTimeRaw = -1, StartTimeUs = -1, DurationRaw = -1, DurationUs = -1;
  int32_t BitRate = -1, Channels = -1, SampleRate = -1, SampleFormat = -1;
};

class TFFMpegAudio : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFFMpegAudio)
  TFFMpegAudio();
  void Dispose() override;

  bool Open(foundation::TStream* stream, const std::u16string& name);
  TFFAudioStreamInfo GetStreamInfo(int32_t index);
  int32_t SelectAudioStream(int32_t index);
  AVCodecContext* OpenDecoder(int32_t streamIndex);
  bool DecodeNext();
  bool Seek(int64_t timeUs);
  void Close();

  TFFAVStream* Stream = nullptr;
  int32_t StreamCount = -1;
  int64_t DurationUs = -1;
  AVCodecContext* Decoder = nullptr;
  int32_t AudioStreamCount = 0;
  int32_t FirstAudioStream = -1;
  int32_t AudioStream = -1;
  int32_t OutChannels = kAudioOutChannels, OutSampleRate = kAudioOutRate, OutSampleFormat = kAudioOutFormat;
  int32_t OutBytesPerSample = 2;
  int32_t OutBytesPerSecond = kAudioOutChannels * kAudioOutRate * 2;
  int64_t BlockTimeUs = platform::ffmpeg::kNoPts;
  int64_t BlockDts = platform::ffmpeg::kNoPts, BlockPts = platform::ffmpeg::kNoPts;
  int32_t BlockStreamIndex = -1;
  bool BlockValid = false;
  uint8_t* Output = nullptr;
  int32_t OutputLength = 0;
  int64_t BlockDurationUs = 0;
  int32_t ChannelsWanted = kAudioOutChannels, RateWanted = kAudioOutRate, FormatWanted = kAudioOutFormat;
  int32_t SrcRate = -1, SrcChannels = -1, SrcFormat = -1;
  int64_t SrcLayout = 0;
  SwrContext* Resampler = nullptr;
  AVFrame* DecodedFrame = nullptr;
  int64_t OutLayout = 0;
  uint8_t* BlockBuffer = nullptr;
  int64_t BlockCapacity = 0;
  uint8_t* ConvBuffer = nullptr;
  unsigned int ConvSize = 0;
  int32_t AudioStreamIndex = -1;
  TFFAudioStreamInfo Info;
  int64_t BlocksDecoded = 0;
  bool TailFlushed = false;

 private:
  void ReadDescription();
  void ResetBlock();
  void FreeResampler();
  int32_t ResampleFrame(int32_t offset);
  int32_t FlushResampler(int32_t offset);
  int32_t AppendBlock(int32_t offset, const uint8_t* bytes, int32_t size);
  void FinishBlock();
};

}  // namespace video
