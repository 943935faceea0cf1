// The FFmpeg libraries, loaded at run time and reached through this area
// only: the entry points the video and audio decoders use, each bound from
// the loaded library by name with the exact prototype of the installed 5.1
// headers, plus readers of the few structure fields they need. Callers see
// FFmpeg's types as opaque pointers; numbers (pixel and sample formats,
// codec ids, error codes) are the constants below, checked against the
// headers when the area is built.
//
// Every call below except bindLibrary, isBound and the constants requires a
// successful bind of the library it belongs to (the video layer's loader
// answers whether the libraries are loaded before anything calls them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/os/library.h"

struct AVFormatContext;
struct AVIOContext;
struct AVCodecContext;
struct AVCodec;
struct AVFrame;
struct AVPacket;
struct AVDictionary;
struct AVBufferRef;
struct SwsContext;
struct SwrContext;

namespace platform::ffmpeg {

// ---- Constants (FFmpeg 5.1 numbering) ----
constexpr int64_t kNoPts = INT64_MIN;  // AV_NOPTS_VALUE
constexpr int32_t kTimeBase = 1000000;
constexpr int32_t kInputPadding = 64;

constexpr int32_t kPixNone = -1;
constexpr int32_t kPixYUV420P = 0;
constexpr int32_t kPixBGR24 = 3;
constexpr int32_t kPixYUVJ420P = 12;
constexpr int32_t kPixNV12 = 23;
constexpr int32_t kPixBGRA = 28;
constexpr int32_t kPixYUV420P10LE = 62;

constexpr int32_t kCodecMPEG2 = 2;
constexpr int32_t kCodecMPEG4 = 12;
constexpr int32_t kCodecH264 = 27;
constexpr int32_t kCodecVP9 = 167;
constexpr int32_t kCodecHEVC = 173;
constexpr int32_t kCodecAV1 = 226;

constexpr int32_t kMediaVideo = 0;
constexpr int32_t kMediaAudio = 1;

constexpr int32_t kSampleS16 = 1;

constexpr int32_t kErrorEOF = -541478725;
constexpr int32_t kErrorInvalidData = -1094995529;
constexpr int32_t kErrorAgain = -11;
constexpr int32_t kErrorIO = -5;
constexpr int32_t kErrorInvalid = -22;
constexpr int32_t kErrorNoMemory = -12;
constexpr int32_t kErrorBrokenPipe = -32;

constexpr int32_t kFlagCustomIO = 0x80;   // AVFMT_FLAG_CUSTOM_IO
constexpr int32_t kFlagNonBlock = 0x4;    // AVFMT_FLAG_NONBLOCK
constexpr int32_t kSeekSize = 0x10000;    // AVSEEK_SIZE
constexpr int32_t kSeekBackward = 1;      // AVSEEK_FLAG_BACKWARD
constexpr int32_t kSeekByte = 2;          // AVSEEK_FLAG_BYTE
constexpr int32_t kSeekAny = 4;           // AVSEEK_FLAG_ANY

// ---- Binding ----
enum class Library { avUtil, swScale, swResample, avCodec, avFormat };
constexpr int kLibraryCount = 5;

// Looks up every entry point of one library in a loaded module, in list
// order. False with the first missing required name in missing; entries
// found before it stay bound, the library does not count as bound.
bool bindLibrary(Library library, os::LibraryHandle module, std::string& missing);
bool isBound(Library library);
// The names bindLibrary looks up for a library, in order.
const char* const* entryNames(Library library, int& count);

// Routes FFmpeg's log into sink at error level and above (null: silence).
using LogSink = void (*)(int level, const char* line);
void setLogSink(LogSink sink);

// ---- avutil ----
void* avMalloc(size_t size);
void avFree(void* p);
void* avRealloc(void* p, size_t size);
void avFastMalloc(void* ptr, unsigned int* size, size_t minSize);
int64_t rescaleQ(int64_t a, int32_t fromNum, int32_t fromDen, int32_t toNum, int32_t toDen);
bool reduce(int32_t& num, int32_t& den, int64_t num64, int64_t den64, int64_t max);
const char* dictGet(const AVDictionary* dict, const char* key);
int imageBufferSize(int32_t format, int32_t width, int32_t height, int align);
int imageFillArrays(uint8_t* data[4], int linesize[4], const uint8_t* buffer, int32_t format, int32_t width,
                    int32_t height, int align);
int samplesBufferSize(int channels, int samples, int32_t format, int align);
int bytesPerSample(int32_t format);
int64_t defaultChannelLayout(int channels);
int channelLayoutChannels(uint64_t layout);

AVFrame* frameAlloc();
void frameFree(AVFrame** frame);
void frameUnref(AVFrame* frame);
struct FrameInfo {
  uint8_t* const* data = nullptr;  // 8 planes
  const int* linesize = nullptr;   // 8 line sizes
  int32_t format = -1;
  int32_t width = 0, height = 0;
  int64_t pts = kNoPts, pktDts = kNoPts, bestEffort = kNoPts, reorderedOpaque = kNoPts;
  bool keyFrame = false, interlaced = false, topFieldFirst = false;
  int32_t pictType = 0;
  int32_t nbSamples = 0, channels = 0, sampleRate = 0;
  uint64_t channelLayout = 0;
};
FrameInfo frameInfo(const AVFrame* frame);
void setFramePts(AVFrame* frame, int64_t pts);
int hwTransfer(AVFrame* dst, const AVFrame* src);

int hwFindType(const char* name);
int hwDeviceCreate(AVBufferRef** device, int type);
// The hardware pixel format of a device type (-1 for a type without one).
int32_t hwPixelFormat(int type);
AVBufferRef* bufferRef(AVBufferRef* buffer);
void bufferUnref(AVBufferRef** buffer);

// ---- avformat ----
using ReadCallback = int (*)(void* opaque, uint8_t* buffer, int size);
using SeekCallback = int64_t (*)(void* opaque, int64_t offset, int whence);
AVFormatContext* formatAlloc();
AVIOContext* ioAlloc(uint8_t* buffer, int size, void* opaque, ReadCallback read, SeekCallback seek);
void ioFree(AVIOContext** io);
uint8_t* ioBuffer(AVIOContext* io);
bool ioEof(AVIOContext* io);
void ioClearErrors(AVIOContext* io);
// Stores the I/O context and adds flags to the context's flags.
void formatSetIO(AVFormatContext* format, AVIOContext* io, int flags);
// avformat_open_input: on failure FFmpeg frees the context and clears it.
int openInput(AVFormatContext** format, const char* name);
int findStreamInfo(AVFormatContext* format);
void closeInput(AVFormatContext** format);
int readFrame(AVFormatContext* format, AVPacket* packet);
int seekFrame(AVFormatContext* format, int streamIndex, int64_t timestamp, int flags);

struct FormatInfo {
  int32_t streamCount = 0;
  int64_t duration = kNoPts, startTime = kNoPts, bitRate = 0;
  const AVDictionary* metadata = nullptr;
};
FormatInfo formatInfo(const AVFormatContext* format);

struct StreamInfo {
  int32_t codecType = -1, codecId = 0;
  int32_t timeBaseNum = 0, timeBaseDen = 1;
  int64_t startTime = kNoPts, duration = kNoPts;
  int32_t avgRateNum = 0, avgRateDen = 0, realRateNum = 0, realRateDen = 0;
  int32_t sarNum = 0, sarDen = 1;            // of the stream
  int32_t codecSarNum = 0, codecSarDen = 1;  // of the codec parameters
  int32_t width = 0, height = 0, format = -1;
  int64_t bitRate = 0;
  int32_t sampleRate = 0, channels = 0;
  const AVDictionary* metadata = nullptr;
  bool hasDisplayMatrix = false;
  double rotation = 0;  // av_display_rotation_get of the display matrix
};
// Reads one stream; a zero time-base denominator is repaired in place first
// (denominator <- numerator, then 1 when still 0).
StreamInfo streamInfo(AVFormatContext* format, int index);

// ---- avcodec ----
AVPacket* packetAlloc();
void packetFree(AVPacket** packet);
void packetUnref(AVPacket* packet);
struct PacketInfo {
  int32_t streamIndex = -1;
  int64_t pts = kNoPts, dts = kNoPts, pos = -1;
};
PacketInfo packetInfo(const AVPacket* packet);

const AVCodec* findDecoder(int32_t codecId);
const char* codecName(const AVCodec* codec);
// A codec context with the parameters of a stream; null on failure.
AVCodecContext* decoderContext(const AVCodec* codec, AVFormatContext* format, int streamIndex);
void setThreadCount(AVCodecContext* context, int count);
using GetFormatCallback = int (*)(AVCodecContext* context, const int* formats);
void setHardware(AVCodecContext* context, GetFormatCallback getFormat, AVBufferRef* deviceRef);
int codecOpen(AVCodecContext* context, const AVCodec* codec);
void codecFree(AVCodecContext** context);
void flushBuffers(AVCodecContext* context);
int sendPacket(AVCodecContext* context, const AVPacket* packet);  // null drains
int receiveFrame(AVCodecContext* context, AVFrame* frame);

// ---- swscale ----
SwsContext* swsCachedContext(SwsContext* old, int32_t width, int32_t height, int32_t srcFormat, int32_t dstFormat,
                             int flags);
int swsScale(SwsContext* context, const uint8_t* const srcData[], const int srcLinesize[], int height,
             uint8_t* const dstData[], const int dstLinesize[]);
void swsFree(SwsContext* context);

// ---- swresample ----
SwrContext* swrAllocSetOpts(int64_t outLayout, int32_t outFormat, int outRate, int64_t inLayout, int32_t inFormat,
                            int inRate);
int swrInit(SwrContext* context);
int swrConvert(SwrContext* context, uint8_t** out, int outCount, const uint8_t** in, int inCount);
void swrFree(SwrContext** context);

}  // namespace platform::ffmpeg
