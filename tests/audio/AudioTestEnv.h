// Starts the audio library once per test program,
// and small helpers over memory streams.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "audio/Startup.h"
#include "foundation/kvStream.h"

namespace audio_test {

class AudioEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { audio::StartAudio(); }
  void TearDown() override { audio::StopAudio(); }
};

inline const ::testing::Environment* const kAudioEnv = ::testing::AddGlobalTestEnvironment(new AudioEnvironment);

// A memory stream over the bytes, positioned at 0.
inline foundation::TMemoryStream* StreamOf(const std::vector<uint8_t>& data) {
  auto* s = new foundation::TMemoryStream();
  if (!data.empty()) s->WriteBuf(data.data(), int32_t(data.size()));
  s->SetPosition(0);
  return s;
}

}  // namespace audio_test
