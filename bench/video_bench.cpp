// Each benchmark times our operation and a plain reference doing the same
// work in one iteration and reports ours / reference as "ratio".
//
// - Decode: every frame of a 4 s 1920 x 1080 H.264 clip (30 fps, B-frames)
//   through the video source (open, then SetPosition frame by frame, each
//   frame presented) against a bare FFmpeg loop (open, read, send, receive)
//   with the same decoder thread count over the same in-memory input.
// - Convert: one decoded 1080p YUV420P frame into a YUV image against three
//   plain plane copies.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "video/Startup.h"
#include "platform/ffmpeg/api.h"
#include "video/FFMpegDll2.h"
#include "video/FFMpegVideoSource2.h"

using namespace video;
namespace ff = platform::ffmpeg;

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

struct Started {
  std::vector<uint8_t> clip;
  Started() {
    StartVideo();
    FFMpegLibraryFolder.clear();
    FFMpegCreateHardwareDevice = false;
    LoadFFMpeg();
    std::ifstream f(QEL_BENCH_CLIP, std::ios::binary);
    clip.assign(std::istreambuf_iterator<char>(f), {});
  }
};
Started& Start() {
  static Started s;
  return s;
}

foundation::TMemoryStream* ClipStream() {
  auto* s = new foundation::TMemoryStream();
  s->WriteBuf(Start().clip.data(), static_cast<int32_t>(Start().clip.size()));
  s->SetPosition(0);
  return s;
}

// Open, then every frame through SetPosition; answers frames and the
// decoder's thread count.
int SourceDecode(int32_t& threads) {
  auto* src = new TVideoSource2(ClipStream(), true, u"bench.mp4", false, true);
  int frames = 0;
  if (src->Decoder) {
    threads = src->Decoder->ThreadCount;
    frames = 1;
    while (src->SetPosition(frames)) ++frames;
  }
  src->Free();
  return frames;
}

int BareDecode(int32_t threads) {
  foundation::TMemoryStream* s = ClipStream();
  auto* av = new TFFAVStream();
  int frames = 0;
  if (av->Open(s, u"bench.mp4")) {
    const AVCodec* codec = ff::findDecoder(ff::streamInfo(av->FormatContext, 0).codecId);
    AVCodecContext* c = ff::decoderContext(codec, av->FormatContext, 0);
    ff::setThreadCount(c, threads);
    ff::codecOpen(c, codec);
    AVPacket* p = ff::packetAlloc();
    AVFrame* f = ff::frameAlloc();
    bool input = true;
    for (;;) {
      int r = ff::receiveFrame(c, f);
      if (r == 0) {
        ++frames;
        continue;
      }
      if (r != ff::kErrorAgain || !input) break;
      if (ff::readFrame(av->FormatContext, p) < 0) {
        input = false;
        ff::sendPacket(c, nullptr);
        continue;
      }
      ff::sendPacket(c, p);
      ff::packetUnref(p);
    }
    ff::frameFree(&f);
    ff::packetFree(&p);
    ff::codecFree(&c);
  }
  av->Free();
  s->Free();
  return frames;
}

void BM_Decode1080pH264(benchmark::State& state) {
  if (Start().clip.empty()) {
    state.SkipWithError("no benchmark clip (tools/make-media.sh --bench)");
    return;
  }
  double ours = 0, base = 0;
  int oursFrames = 0, baseFrames = 0;
  int32_t threads = 1;
  for (auto _ : state) {
    auto t0 = Clock::now();
    oursFrames = SourceDecode(threads);
    auto t1 = Clock::now();
    baseFrames = BareDecode(threads);
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  // Per frame: both must have decoded the same frames.
  const double perOurs = ours / std::max(1, oursFrames), perBase = base / std::max(1, baseFrames);
  state.counters["ratio"] = perBase > 0 ? perOurs / perBase : 0;
  state.counters["ours_ms_per_frame"] = 1000 * perOurs / double(state.iterations());
  state.counters["frames"] = oursFrames;
  state.counters["bare_frames"] = baseFrames;
  state.counters["threads"] = threads;
}
BENCHMARK(BM_Decode1080pH264)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ConvertFrame1080p(benchmark::State& state) {
  if (Start().clip.empty()) {
    state.SkipWithError("no benchmark clip (tools/make-media.sh --bench)");
    return;
  }
  foundation::TMemoryStream* s = ClipStream();
  auto* v = new TFFMpegVideo();
  v->Open(s, u"bench.mp4");
  v->DecodeFrame(TFFMpegVideo::kPresentNext);
  ff::FrameInfo f = ff::frameInfo(v->CurrentFrame);
  auto* img = new TMemoryYUVImage(f.width, f.height);
  std::vector<uint8_t> ry(size_t(f.width) * f.height), ru(ry.size() / 4), rv(ry.size() / 4);
  TFFVideoFormatConvertor* conv = nullptr;
  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (int i = 0; i < 20; ++i) CopyFrameToYUV(img, f.data, f.linesize, f.format, conv);
    auto t1 = Clock::now();
    for (int i = 0; i < 20; ++i) {
      for (int y = 0; y < f.height; ++y)
        std::memcpy(ry.data() + size_t(y) * f.width, f.data[0] + ptrdiff_t(y) * f.linesize[0], f.width);
      for (int y = 0; y < f.height / 2; ++y) {
        std::memcpy(ru.data() + size_t(y) * (f.width / 2), f.data[1] + ptrdiff_t(y) * f.linesize[1], f.width / 2);
        std::memcpy(rv.data() + size_t(y) * (f.width / 2), f.data[2] + ptrdiff_t(y) * f.linesize[2], f.width / 2);
      }
    }
    auto t2 = Clock::now();
    benchmark::DoNotOptimize(img->Planes[0].data());
    benchmark::DoNotOptimize(ry.data());
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  state.counters["ours_ms_per_frame"] = 1000 * ours / 20 / double(state.iterations());
  foundation::FreeObj(conv);
  img->Free();
  v->Free();
  s->Free();
}
BENCHMARK(BM_ConvertFrame1080p)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
