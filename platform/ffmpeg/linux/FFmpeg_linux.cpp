// The FFmpeg binding: one pointer per entry point, typed from the installed
// 5.1 headers, filled by name from the module the loader hands over. The
// headers are only read for prototypes, structure layouts and constants;
// nothing here links the libraries.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/hwcontext.h>
#include <libavutil/imgutils.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "platform/ffmpeg/api.h"

// The channel-layout calls are deprecated in 5.1 but present; they stay
// behind this file until the newer layout API replaces them.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace platform::ffmpeg {

// The constants of api.h are FFmpeg's own.
static_assert(kNoPts == AV_NOPTS_VALUE && kTimeBase == AV_TIME_BASE && kInputPadding == AV_INPUT_BUFFER_PADDING_SIZE);
static_assert(kPixNone == AV_PIX_FMT_NONE && kPixYUV420P == AV_PIX_FMT_YUV420P && kPixBGR24 == AV_PIX_FMT_BGR24 &&
              kPixYUVJ420P == AV_PIX_FMT_YUVJ420P && kPixNV12 == AV_PIX_FMT_NV12 && kPixBGRA == AV_PIX_FMT_BGRA &&
              kPixYUV420P10LE == AV_PIX_FMT_YUV420P10LE);
static_assert(kCodecMPEG2 == AV_CODEC_ID_MPEG2VIDEO && kCodecMPEG4 == AV_CODEC_ID_MPEG4 &&
              kCodecH264 == AV_CODEC_ID_H264 && kCodecVP9 == AV_CODEC_ID_VP9 && kCodecHEVC == AV_CODEC_ID_HEVC &&
              kCodecAV1 == AV_CODEC_ID_AV1);
static_assert(kMediaVideo == AVMEDIA_TYPE_VIDEO && kMediaAudio == AVMEDIA_TYPE_AUDIO && kSampleS16 == AV_SAMPLE_FMT_S16);
static_assert(kErrorEOF == AVERROR_EOF && kErrorInvalidData == AVERROR_INVALIDDATA && kErrorAgain == AVERROR(EAGAIN) &&
              kErrorIO == AVERROR(EIO) && kErrorInvalid == AVERROR(EINVAL) && kErrorNoMemory == AVERROR(ENOMEM) &&
              kErrorBrokenPipe == AVERROR(EPIPE));
static_assert(kFlagCustomIO == AVFMT_FLAG_CUSTOM_IO && kFlagNonBlock == AVFMT_FLAG_NONBLOCK && kSeekSize == AVSEEK_SIZE &&
              kSeekBackward == AVSEEK_FLAG_BACKWARD && kSeekByte == AVSEEK_FLAG_BYTE && kSeekAny == AVSEEK_FLAG_ANY);

namespace {

// X(library, function)
#define QEL_FF_ENTRIES(X)                                                                                      \
  X(avUtil, av_malloc) X(avUtil, av_free) X(avUtil, av_freep) X(avUtil, av_realloc) X(avUtil, av_fast_malloc)   \
  X(avUtil, av_frame_alloc) X(avUtil, av_frame_free) X(avUtil, av_frame_unref) X(avUtil, av_rescale_q)          \
  X(avUtil, av_reduce) X(avUtil, av_dict_get) X(avUtil, av_display_rotation_get)                                 \
  X(avUtil, av_samples_get_buffer_size) X(avUtil, av_get_bytes_per_sample)                                      \
  X(avUtil, av_get_default_channel_layout) X(avUtil, av_get_channel_layout_nb_channels)                         \
  X(avUtil, av_hwdevice_find_type_by_name) X(avUtil, av_hwdevice_ctx_create) X(avUtil, av_hwframe_transfer_data) \
  X(avUtil, av_buffer_ref) X(avUtil, av_buffer_unref) X(avUtil, av_log_set_level) X(avUtil, av_log_set_callback) \
  X(avUtil, av_image_get_buffer_size) X(avUtil, av_image_fill_arrays)                                           \
  X(swScale, sws_getCachedContext) X(swScale, sws_scale) X(swScale, sws_freeContext)                            \
  X(swResample, swr_alloc_set_opts) X(swResample, swr_init) X(swResample, swr_convert) X(swResample, swr_free)   \
  X(avCodec, avcodec_find_decoder) X(avCodec, avcodec_open2) X(avCodec, avcodec_send_packet)                    \
  X(avCodec, avcodec_receive_frame) X(avCodec, avcodec_flush_buffers) X(avCodec, avcodec_close)                 \
  X(avCodec, av_packet_unref) X(avCodec, avcodec_alloc_context3) X(avCodec, avcodec_parameters_to_context)      \
  X(avCodec, avcodec_free_context) X(avCodec, av_packet_alloc) X(avCodec, av_packet_free)                       \
  X(avFormat, avformat_alloc_context) X(avFormat, avio_alloc_context) X(avFormat, avformat_open_input)          \
  X(avFormat, avformat_find_stream_info) X(avFormat, av_read_frame) X(avFormat, av_seek_frame)                  \
  X(avFormat, avio_context_free) X(avFormat, avformat_close_input) X(avFormat, av_stream_get_side_data)

struct Entries {
#define QEL_FF_FIELD(lib, fn) decltype(&::fn) fn = nullptr;
  QEL_FF_ENTRIES(QEL_FF_FIELD)
#undef QEL_FF_FIELD
};
Entries g;  // filled by bindLibrary only; read-only afterwards

struct EntryRecord {
  Library library;
  const char* name;
  void** slot;
};
const EntryRecord kRecords[] = {
#define QEL_FF_RECORD(lib, fn) {Library::lib, #fn, reinterpret_cast<void**>(&g.fn)},
    QEL_FF_ENTRIES(QEL_FF_RECORD)
#undef QEL_FF_RECORD
};

std::atomic<bool> g_bound[kLibraryCount];
std::atomic<LogSink> g_sink{nullptr};

void logCallback(void* avcl, int level, const char* fmt, va_list args) {
  LogSink sink = g_sink.load();
  if (!sink || level > AV_LOG_ERROR) return;
  char line[1024];
  std::vsnprintf(line, sizeof line, fmt, args);
  sink(level, line);
}

AVRational q(int32_t num, int32_t den) { return AVRational{num, den}; }

}  // namespace

bool bindLibrary(Library library, os::LibraryHandle module, std::string& missing) {
  for (const EntryRecord& r : kRecords) {
    if (r.library != library) continue;
    void* fn = os::getProcAddress(module, r.name);
    if (!fn) {
      missing = r.name;
      return false;
    }
    *r.slot = fn;
  }
  g_bound[static_cast<int>(library)].store(true);
  if (library == Library::avUtil) {
    // FFmpeg writes informational lines to stderr unless told otherwise.
    g.av_log_set_level(AV_LOG_ERROR);
    g.av_log_set_callback(&logCallback);
  }
  return true;
}

bool isBound(Library library) { return g_bound[static_cast<int>(library)].load(); }

const char* const* entryNames(Library library, int& count) {
  static const char* names[kLibraryCount][32];
  static int counts[kLibraryCount];
  static std::atomic<bool> made{false};
  static std::atomic_flag making = ATOMIC_FLAG_INIT;
  if (!made.load()) {
    while (making.test_and_set()) {
    }
    if (!made.load()) {
      for (const EntryRecord& r : kRecords) {
        int l = static_cast<int>(r.library);
        names[l][counts[l]++] = r.name;
      }
      made.store(true);
    }
    making.clear();
  }
  count = counts[static_cast<int>(library)];
  return names[static_cast<int>(library)];
}

void setLogSink(LogSink sink) { g_sink.store(sink); }

// ---- avutil ----
void* avMalloc(size_t size) { return g.av_malloc(size); }
void avFree(void* p) { g.av_free(p); }
void* avRealloc(void* p, size_t size) { return g.av_realloc(p, size); }
void avFastMalloc(void* ptr, unsigned int* size, size_t minSize) { g.av_fast_malloc(ptr, size, minSize); }
int64_t rescaleQ(int64_t a, int32_t fromNum, int32_t fromDen, int32_t toNum, int32_t toDen) {
  return g.av_rescale_q(a, q(fromNum, fromDen), q(toNum, toDen));
}
bool reduce(int32_t& num, int32_t& den, int64_t num64, int64_t den64, int64_t max) {
  int n = 0, d = 0;
  int exact = g.av_reduce(&n, &d, num64, den64, max);
  num = n;
  den = d;
  return exact != 0;
}
const char* dictGet(const AVDictionary* dict, const char* key) {
  AVDictionaryEntry* e = g.av_dict_get(dict, key, nullptr, 0);
  return e ? e->value : nullptr;
}
int imageBufferSize(int32_t format, int32_t width, int32_t height, int align) {
  return g.av_image_get_buffer_size(static_cast<AVPixelFormat>(format), width, height, align);
}
int imageFillArrays(uint8_t* data[4], int linesize[4], const uint8_t* buffer, int32_t format, int32_t width,
                    int32_t height, int align) {
  return g.av_image_fill_arrays(data, linesize, buffer, static_cast<AVPixelFormat>(format), width, height, align);
}
int samplesBufferSize(int channels, int samples, int32_t format, int align) {
  return g.av_samples_get_buffer_size(nullptr, channels, samples, static_cast<AVSampleFormat>(format), align);
}
int bytesPerSample(int32_t format) { return g.av_get_bytes_per_sample(static_cast<AVSampleFormat>(format)); }
int64_t defaultChannelLayout(int channels) { return g.av_get_default_channel_layout(channels); }
int channelLayoutChannels(uint64_t layout) { return g.av_get_channel_layout_nb_channels(layout); }

AVFrame* frameAlloc() { return g.av_frame_alloc(); }
void frameFree(AVFrame** frame) { g.av_frame_free(frame); }
void frameUnref(AVFrame* frame) { g.av_frame_unref(frame); }

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
FrameInfo frameInfo(const AVFrame* f) {
  FrameInfo i;
  i.data = f->data;
  i.linesize = f->linesize;
  i.format = f->format;
  i.width = f->width;
  i.height = f->height;
  i.pts = f->pts;
  i.pktDts = f->pkt_dts;
  i.bestEffort = f->best_effort_timestamp;
  i.reorderedOpaque = f->reordered_opaque;
  i.keyFrame = f->key_frame != 0;
  i.interlaced = f->interlaced_frame != 0;
  i.topFieldFirst = f->top_field_first != 0;
  i.pictType = f->pict_type;
  i.nbSamples = f->nb_samples;
  i.channels = f->channels;
  i.channelLayout = f->channel_layout;
  i.sampleRate = f->sample_rate;
  return i;
}
#pragma GCC diagnostic pop
void setFramePts(AVFrame* frame, int64_t pts) { frame->pts = pts; }
int hwTransfer(AVFrame* dst, const AVFrame* src) {
  g.av_frame_unref(dst);
  return g.av_hwframe_transfer_data(dst, src, 0);
}

int hwFindType(const char* name) { return g.av_hwdevice_find_type_by_name(name); }
int hwDeviceCreate(AVBufferRef** device, int type) {
  return g.av_hwdevice_ctx_create(device, static_cast<AVHWDeviceType>(type), nullptr, nullptr, 0);
}
int32_t hwPixelFormat(int type) {
  switch (type) {
    case AV_HWDEVICE_TYPE_CUDA: return AV_PIX_FMT_CUDA;
    case AV_HWDEVICE_TYPE_VAAPI: return AV_PIX_FMT_VAAPI;
    case AV_HWDEVICE_TYPE_DXVA2: return AV_PIX_FMT_DXVA2_VLD;
    case AV_HWDEVICE_TYPE_VIDEOTOOLBOX: return AV_PIX_FMT_VIDEOTOOLBOX;
    case AV_HWDEVICE_TYPE_D3D11VA: return AV_PIX_FMT_D3D11;
    case AV_HWDEVICE_TYPE_VDPAU: return AV_PIX_FMT_VDPAU;
    default: return AV_PIX_FMT_NONE;
  }
}
AVBufferRef* bufferRef(AVBufferRef* buffer) { return g.av_buffer_ref(buffer); }
void bufferUnref(AVBufferRef** buffer) { g.av_buffer_unref(buffer); }

// ---- avformat ----
AVFormatContext* formatAlloc() { return g.avformat_alloc_context(); }
AVIOContext* ioAlloc(uint8_t* buffer, int size, void* opaque, ReadCallback read, SeekCallback seek) {
  return g.avio_alloc_context(buffer, size, 0, opaque, read, nullptr, seek);
}
void ioFree(AVIOContext** io) { g.avio_context_free(io); }
uint8_t* ioBuffer(AVIOContext* io) { return io->buffer; }
bool ioEof(AVIOContext* io) { return io && io->eof_reached; }
void ioClearErrors(AVIOContext* io) {
  if (!io) return;
  io->eof_reached = 0;
  io->error = 0;
}
void formatSetIO(AVFormatContext* format, AVIOContext* io, int flags) {
  format->pb = io;
  format->flags |= flags;
}
int openInput(AVFormatContext** format, const char* name) {
  return g.avformat_open_input(format, name, nullptr, nullptr);
}
int findStreamInfo(AVFormatContext* format) { return g.avformat_find_stream_info(format, nullptr); }
void closeInput(AVFormatContext** format) { g.avformat_close_input(format); }
int readFrame(AVFormatContext* format, AVPacket* packet) { return g.av_read_frame(format, packet); }
int seekFrame(AVFormatContext* format, int streamIndex, int64_t timestamp, int flags) {
  return g.av_seek_frame(format, streamIndex, timestamp, flags);
}

FormatInfo formatInfo(const AVFormatContext* f) {
  FormatInfo i;
  i.streamCount = static_cast<int32_t>(f->nb_streams);
  i.duration = f->duration;
  i.startTime = f->start_time;
  i.bitRate = f->bit_rate;
  i.metadata = f->metadata;
  return i;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
StreamInfo streamInfo(AVFormatContext* f, int index) {
  StreamInfo i;
  if (index < 0 || static_cast<unsigned>(index) >= f->nb_streams) return i;
  AVStream* s = f->streams[index];
  if (s->time_base.den == 0) {
    s->time_base.den = s->time_base.num;
    if (s->time_base.den == 0) s->time_base.den = 1;
  }
  const AVCodecParameters* p = s->codecpar;
  i.codecType = p->codec_type;
  i.codecId = p->codec_id;
  i.timeBaseNum = s->time_base.num;
  i.timeBaseDen = s->time_base.den;
  i.startTime = s->start_time;
  i.duration = s->duration;
  i.avgRateNum = s->avg_frame_rate.num;
  i.avgRateDen = s->avg_frame_rate.den;
  i.realRateNum = s->r_frame_rate.num;
  i.realRateDen = s->r_frame_rate.den;
  i.sarNum = s->sample_aspect_ratio.num;
  i.sarDen = s->sample_aspect_ratio.den;
  i.codecSarNum = p->sample_aspect_ratio.num;
  i.codecSarDen = p->sample_aspect_ratio.den;
  i.width = p->width;
  i.height = p->height;
  i.format = p->format;
  i.bitRate = p->bit_rate;
  i.sampleRate = p->sample_rate;
  i.channels = p->channels;
  i.metadata = s->metadata;
  size_t size = 0;
  const uint8_t* matrix = g.av_stream_get_side_data(s, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (matrix && size >= 9 * sizeof(int32_t)) {
    i.hasDisplayMatrix = true;
    i.rotation = g.av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  }
  return i;
}
#pragma GCC diagnostic pop

// ---- avcodec ----
AVPacket* packetAlloc() { return g.av_packet_alloc(); }
void packetFree(AVPacket** packet) { g.av_packet_free(packet); }
void packetUnref(AVPacket* packet) { g.av_packet_unref(packet); }
PacketInfo packetInfo(const AVPacket* p) {
  PacketInfo i;
  i.streamIndex = p->stream_index;
  i.pts = p->pts;
  i.dts = p->dts;
  i.pos = p->pos;
  return i;
}

const AVCodec* findDecoder(int32_t codecId) { return g.avcodec_find_decoder(static_cast<AVCodecID>(codecId)); }
const char* codecName(const AVCodec* codec) { return codec ? codec->name : ""; }
AVCodecContext* decoderContext(const AVCodec* codec, AVFormatContext* format, int streamIndex) {
  if (streamIndex < 0 || static_cast<unsigned>(streamIndex) >= format->nb_streams) return nullptr;
  AVCodecContext* c = g.avcodec_alloc_context3(codec);
  if (!c) return nullptr;
  AVStream* s = format->streams[streamIndex];
  if (g.avcodec_parameters_to_context(c, s->codecpar) < 0) {
    g.avcodec_free_context(&c);
    return nullptr;
  }
  // Frame times of the decoder are in the stream's units.
  c->pkt_timebase = s->time_base;
  return c;
}
void setThreadCount(AVCodecContext* context, int count) { context->thread_count = count; }
void setHardware(AVCodecContext* context, GetFormatCallback getFormat, AVBufferRef* deviceRef) {
  context->get_format = reinterpret_cast<decltype(context->get_format)>(getFormat);
  context->hw_device_ctx = deviceRef;
}
int codecOpen(AVCodecContext* context, const AVCodec* codec) { return g.avcodec_open2(context, codec, nullptr); }
void codecFree(AVCodecContext** context) { g.avcodec_free_context(context); }
void flushBuffers(AVCodecContext* context) { g.avcodec_flush_buffers(context); }
int sendPacket(AVCodecContext* context, const AVPacket* packet) { return g.avcodec_send_packet(context, packet); }
int receiveFrame(AVCodecContext* context, AVFrame* frame) { return g.avcodec_receive_frame(context, frame); }

// ---- swscale ----
SwsContext* swsCachedContext(SwsContext* old, int32_t width, int32_t height, int32_t srcFormat, int32_t dstFormat,
                             int flags) {
  return g.sws_getCachedContext(old, width, height, static_cast<AVPixelFormat>(srcFormat), width, height,
                                static_cast<AVPixelFormat>(dstFormat), flags, nullptr, nullptr, nullptr);
}
int swsScale(SwsContext* context, const uint8_t* const srcData[], const int srcLinesize[], int height,
             uint8_t* const dstData[], const int dstLinesize[]) {
  return g.sws_scale(context, srcData, srcLinesize, 0, height, dstData, dstLinesize);
}
void swsFree(SwsContext* context) { g.sws_freeContext(context); }

// ---- swresample ----
SwrContext* swrAllocSetOpts(int64_t outLayout, int32_t outFormat, int outRate, int64_t inLayout, int32_t inFormat,
                            int inRate) {
  return g.swr_alloc_set_opts(nullptr, outLayout, static_cast<AVSampleFormat>(outFormat), outRate, inLayout,
                              static_cast<AVSampleFormat>(inFormat), inRate, 0, nullptr);
}
int swrInit(SwrContext* context) { return g.swr_init(context); }
int swrConvert(SwrContext* context, uint8_t** out, int outCount, const uint8_t** in, int inCount) {
  return g.swr_convert(context, out, outCount, in, inCount);
}
void swrFree(SwrContext** context) { g.swr_free(context); }

}  // namespace platform::ffmpeg
