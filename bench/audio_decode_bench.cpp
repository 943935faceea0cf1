// - Mp3Converter: a 3-minute MP3 (the 12.5 s fixture repeated) opened and
//   read to the end in 4096-byte blocks through the MPEG converter, beside a
//   plain libmpg123 handle reading the same bytes from memory (open, scan,
//   read to the end); "ratio" = converter / libmpg123 alone.
// - Resample44To48: ten seconds of 44.1 kHz stereo 16-bit converted to
//   48 kHz in 4096-byte blocks; "audio_s_per_s" = seconds of audio per
//   second of work.
#include <benchmark/benchmark.h>
#include <mpg123.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/ConfigMusic.h"
#include "audio/Startup.h"
#include "audio/Mpg123Converter.h"
#include "audio/PcmResampler.h"
#include "foundation/kvStream.h"

using namespace audio;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

const std::vector<uint8_t>& LongMp3() {
  static std::vector<uint8_t> bytes = [] {
    std::ifstream in(std::string(QEL_AUDIO_DATA) + "/music.mp3", std::ios::binary);
    std::vector<uint8_t> one((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<uint8_t> all;
    for (int i = 0; i < 15; ++i) all.insert(all.end(), one.begin(), one.end());  // 187.5 s
    return all;
  }();
  return bytes;
}

struct Started {
  Started() { StartAudio(); }
};
void Start() { static Started s; }

struct MemoryReader {
  const std::vector<uint8_t>* data;
  int64_t pos = 0;
};
ssize_t MemRead(void* h, void* buf, size_t n) {
  auto* m = static_cast<MemoryReader*>(h);
  size_t left = m->data->size() - size_t(m->pos);
  n = std::min(n, left);
  std::memcpy(buf, m->data->data() + m->pos, n);
  m->pos += int64_t(n);
  return ssize_t(n);
}
off_t MemSeek(void* h, off_t off, int whence) {
  auto* m = static_cast<MemoryReader*>(h);
  int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : int64_t(m->data->size());
  m->pos = std::clamp<int64_t>(base + off, 0, int64_t(m->data->size()));
  return off_t(m->pos);
}

uint64_t PlainMpg123(const std::vector<uint8_t>& data) {
  int err = 0;
  mpg123_handle* h = mpg123_new(nullptr, &err);
  MemoryReader reader{&data};
  mpg123_replace_reader_handle(h, MemRead, MemSeek, nullptr);
  mpg123_open_handle(h, &reader);
  mpg123_scan(h);
  long rate = 0;
  int channels = 0, encoding = 0;
  mpg123_getformat(h, &rate, &channels, &encoding);
  mpg123_format_none(h);
  mpg123_format(h, rate, channels, MPG123_ENC_SIGNED_16);
  std::vector<uint8_t> block(mpg123_outblock(h));
  uint64_t total = 0;
  size_t done = 0;
  for (;;) {
    int r = mpg123_read(h, block.data(), block.size(), &done);
    total += done;
    if (r != MPG123_OK && r != MPG123_NEW_FORMAT) break;
  }
  mpg123_close(h);
  mpg123_delete(h);
  return total;
}

// The stream is made once, outside the timing, as the reference's memory is.
uint64_t ThroughConverter(foundation::TMemoryStream* s) {
  s->SetPosition(0);
  TMediaInfo info;
  TMediaInfoExtractor::GetMediaInfo(s, u"long.mp3", info);
  TWavConverter* c = CreateMusicConverter(s, u"long.mp3", info);
  c->Stream = s;
  uint64_t total = 0;
  if (c->Open(info)) {
    while (c->Read(4096)) {
      total += 4096;
      c->OutputBuffer->Consume(4096);
    }
  }
  c->Free();
  return total;
}

void BM_Mp3Converter(benchmark::State& state) {
  Start();
  const auto& data = LongMp3();
  auto* stream = new foundation::TMemoryStream();
  stream->WriteBuf(data.data(), int32_t(data.size()));
  double ours = 0, base = 0;
  uint64_t a = 0, b = 0;
  for (auto _ : state) {
    auto t0 = Clock::now();
    a = ThroughConverter(stream);
    auto t1 = Clock::now();
    b = PlainMpg123(data);
    auto t2 = Clock::now();
    ours += Seconds(t0, t1);
    base += Seconds(t1, t2);
  }
  stream->Free();
  state.counters["ratio"] = base > 0 ? ours / base : 0;
  state.counters["ours_ms"] = 1000 * ours / double(state.iterations());
  state.counters["mpg123_ms"] = 1000 * base / double(state.iterations());
  state.counters["bytes_ratio"] = b ? double(a) / double(b) : 0;
}
BENCHMARK(BM_Mp3Converter)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Resample44To48(benchmark::State& state) {
  std::vector<uint8_t> in(441000 * 4);
  for (size_t i = 0; i < 441000; ++i) {
    int16_t v = int16_t(10000 * std::sin(i * 0.0627));
    std::memcpy(&in[i * 4], &v, 2);
    std::memcpy(&in[i * 4 + 2], &v, 2);
  }
  const TWaveFormatEx from{1, 2, 44100, 176400, 4, 16, 0};
  const TWaveFormatEx to{1, 2, 48000, 192000, 4, 16, 0};
  std::vector<uint8_t> out(8192);
  double seconds = 0;
  for (auto _ : state) {
    auto* r = new TPcmResampler();
    auto t0 = Clock::now();
    for (size_t at = 0; at < in.size(); at += 4096) {
      uint32_t n = uint32_t(std::min<size_t>(4096, in.size() - at));
      uint32_t size = r->OutputSize(from, to, n);
      if (out.size() < size) out.resize(size);
      r->Convert(in.data() + at, out.data());
    }
    seconds += Seconds(t0, Clock::now());
    r->Free();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["audio_s_per_s"] = seconds > 0 ? 10.0 * double(state.iterations()) / seconds : 0;
}
BENCHMARK(BM_Resample44To48)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
