// The fixture show's music plan with its entries held in memory, and the
// 16-bit stereo WAV maker the heard-show tests fill them with.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "tests/audio/MusicFixture.h"
#include "tests/support/AudioFixtures.h"

namespace musictest {

inline audio_test::Bytes StereoWav(double seconds, const std::function<int16_t(uint32_t)>& sample) {
  audio_test::Bytes data;
  auto frames = static_cast<uint32_t>(std::lround(seconds * 44100));
  for (uint32_t i = 0; i < frames; ++i) {
    auto v = static_cast<uint16_t>(sample(i));
    audio_test::PutLe16(data, v);
    audio_test::PutLe16(data, v);
  }
  return audio_test::MakeWav(1, 2, 44100, 16, data);
}

class EntryShow : public TTableShow {
 public:
  using TTableShow::TTableShow;
  foundation::TStream* OpenEntry(const std::u16string& name) override {
    auto it = Entries.find(name);
    return it == Entries.end() ? nullptr : audio_test::StreamOf(it->second);
  }
  std::map<std::u16string, audio_test::Bytes> Entries;
};

}  // namespace musictest
