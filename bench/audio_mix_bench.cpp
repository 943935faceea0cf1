// Eight channels of 44.1 kHz stereo, each under a volume envelope (a fade-in
// and a falling curve, evaluated frame by frame by the composite envelope
// engine) and an attenuation of -600, written into their looping rings and
// mixed by the manual sound backend's mixer, in 10 ms passes. The reference
// does the same arithmetic in one plain loop: a linear gain ramp per channel,
// the attenuation gain, the sum and the clip. Counters: audio_s_per_s, the
// seconds of audio mixed per second of one core (ours), and ratio = our time
// / reference time, both timed in the same iterations in alternating order.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "audio/CompositeDecoder.h"
#include "platform/sound/api.h"
#include "platform/sound/manual/Sound_manual.h"

namespace sound = platform::sound;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kChannels = 8;
constexpr uint32_t kPass = 441;
constexpr uint32_t kFrames = 44100;  // one second per iteration

struct Ours {
  sound::SoundDevice* device = nullptr;
  std::vector<sound::SoundBuffer*> rings;
  std::vector<foundation::TRef<audio::TVolumeParamsList>> envelopes;
  std::vector<int16_t> source;
  int64_t position = 0;
  uint32_t write = 0;

  Ours() {
    sound::setSoundBackend(sound::manualSoundBackend());
    sound::manualSound().setPeriodFrames(kPass);
    sound::directSoundCreate(nullptr, &device, nullptr);
    static const sound::WaveFormat f{1, 2, 44100, 176400, 4, 16, 0};
    for (int c = 0; c < kChannels; ++c) {
      sound::BufferDescription d;
      d.flags = 0x18088;
      d.bufferBytes = 176400 * 2;
      d.format = &f;
      sound::SoundBuffer* b = nullptr;
      device->createSoundBuffer(d, &b);
      b->setVolume(-600);
      b->play(0, 0, sound::DSBPLAY_LOOPING);
      rings.push_back(b);
      auto list = foundation::TRef<audio::TVolumeParamsList>::Adopt(new audio::TVolumeParamsList(true));
      audio::TVolumeParams* e = list->AddEnvelope();
      e->AddPoint(0, 0);
      e->AddPoint(300 + 100 * c, 1000);
      e->AddPoint(100000, 200);
      list->Compile(600000);
      list->Seek(0);
      envelopes.push_back(list);
    }
    source.resize(kPass * 2);
    for (uint32_t i = 0; i < kPass; ++i) source[2 * i] = source[2 * i + 1] = static_cast<int16_t>((i * 37) % 20000 - 10000);
  }
  ~Ours() {
    for (auto* b : rings) b->release();
    device->release();
  }
  void mixSecond() {
    for (uint32_t done = 0; done < kFrames; done += kPass) {
      for (int c = 0; c < kChannels; ++c) {
        void *p1, *p2;
        uint32_t n1, n2;
        rings[static_cast<size_t>(c)]->lock(write, kPass * 4, &p1, &n1, &p2, &n2);
        auto* out = static_cast<int16_t*>(p1);
        audio::TVolumeParamsList* list = envelopes[static_cast<size_t>(c)].Get();
        bool atEnd = false, unity = false;
        for (uint32_t i = 0; i < kPass; ++i) {
          list->Advance(position + 4 * i, atEnd);
          double g = list->Product(unity);
          out[2 * i] = static_cast<int16_t>(std::lround(source[2 * i] * g));
          out[2 * i + 1] = static_cast<int16_t>(std::lround(source[2 * i + 1] * g));
        }
        rings[static_cast<size_t>(c)]->unlock(p1, n1, p2, n2);
      }
      position += kPass * 4;
      write = (write + kPass * 4) % (176400 * 2);
      benchmark::DoNotOptimize(sound::manualSound().advance(kPass));
    }
  }
};

struct Reference {
  std::vector<int16_t> source, out;
  std::vector<int32_t> acc;
  std::vector<std::vector<int16_t>> channel;
  std::vector<double> gain, step;
  Reference() : source(kPass * 2), out(kPass * 2), acc(kPass * 2), channel(kChannels, std::vector<int16_t>(kPass * 2)) {
    for (uint32_t i = 0; i < kPass; ++i) source[2 * i] = source[2 * i + 1] = static_cast<int16_t>((i * 37) % 20000 - 10000);
    for (int c = 0; c < kChannels; ++c) {
      gain.push_back(0.0);
      step.push_back(1.0 / (44.1 * (300 + 100 * c)));
    }
  }
  void mixSecond() {
    const double att = std::pow(10.0, -600 / 2000.0);
    for (uint32_t done = 0; done < kFrames; done += kPass) {
      for (int c = 0; c < kChannels; ++c) {
        auto& ch = channel[static_cast<size_t>(c)];
        double g = gain[static_cast<size_t>(c)];
        for (uint32_t i = 0; i < kPass; ++i) {
          g = std::min(g + step[static_cast<size_t>(c)], 1.0);
          ch[2 * i] = static_cast<int16_t>(std::lround(source[2 * i] * g));
          ch[2 * i + 1] = static_cast<int16_t>(std::lround(source[2 * i + 1] * g));
        }
        gain[static_cast<size_t>(c)] = g;
      }
      std::fill(acc.begin(), acc.end(), 0);
      for (int c = 0; c < kChannels; ++c)
        for (size_t i = 0; i < acc.size(); ++i)
          acc[i] += static_cast<int32_t>(std::lround(channel[static_cast<size_t>(c)][i] * att));
      for (size_t i = 0; i < acc.size(); ++i) out[i] = static_cast<int16_t>(std::clamp(acc[i], -32768, 32767));
      benchmark::DoNotOptimize(out.data());
    }
  }
};

void BM_MixEightChannelsWithEnvelopes(benchmark::State& state) {
  Ours ours;
  Reference ref;
  double oursSeconds = 0, refSeconds = 0;
  bool oursFirst = true;
  for (auto _ : state) {
    for (int k = 0; k < 2; ++k) {
      bool runOurs = (k == 0) == oursFirst;
      auto t = Clock::now();
      if (runOurs)
        ours.mixSecond();
      else
        ref.mixSecond();
      double s = std::chrono::duration<double>(Clock::now() - t).count();
      (runOurs ? oursSeconds : refSeconds) += s;
    }
    oursFirst = !oursFirst;
  }
  const auto n = static_cast<double>(state.iterations());
  state.counters["audio_s_per_s"] = n / oursSeconds;
  state.counters["ratio"] = oursSeconds / refSeconds;
  state.counters["ours_ms"] = oursSeconds * 1e3 / n;
  state.counters["reference_ms"] = refSeconds * 1e3 / n;
}
BENCHMARK(BM_MixEightChannelsWithEnvelopes)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
