#include "audio/MusicChannel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/kpExceptions.h"

namespace audio {

void TFadeEnvelope::StartFadeIn(int32_t fadeMs, uint32_t rate) {
  FadeInFrames = std::max<int32_t>(static_cast<int32_t>(static_cast<int64_t>(fadeMs) * rate / 1000), 1);
  FadingIn = true;
  Gain = 0.0f;
  GainStep = 1.0f / static_cast<float>(FadeInFrames);
}

void TFadeEnvelope::StartFadeOut(int32_t fadeMs, uint32_t rate) {
  FadeOutFrames = std::max<int32_t>(static_cast<int32_t>(static_cast<int64_t>(fadeMs) * rate / 1000), 1);
  FadingIn = false;
  GainStep = 1.0f / static_cast<float>(FadeOutFrames);
}

void TFadeEnvelope::ScaleFrame(uint8_t* dst, const uint8_t* src) const {
  if (BitsPerSample == 8) {
    for (uint32_t i = 0; i < FrameBytes; ++i) {
      int s = src[i];
      dst[i] = s <= 128 ? static_cast<uint8_t>(128 - std::lround((128 - s) * Gain))
                        : static_cast<uint8_t>(std::lround((s - 128) * Gain) + 128);
    }
  } else {
    for (uint32_t i = 0; i + 1 < FrameBytes; i += 2) {
      int16_t s;
      std::memcpy(&s, src + i, 2);
      auto v = static_cast<int16_t>(std::lround(s * Gain));
      std::memcpy(dst + i, &v, 2);
    }
  }
}

void TFadeEnvelope::StepGain(uint32_t bytesDone) {
  if (FadingIn) {
    Gain += GainStep;
    if (Gain >= 1.0f) {
      Gain = 1.0f;
      FadingIn = false;
    }
  } else if (FadingOut) {
    Gain -= GainStep;
    if (Gain <= 0.0f) {
      if (MarkEnd) MarkEnd(bytesDone);  // the owner hands itself over once
      Gain = 0.0f;
    }
  }
}

void TFadeEnvelope::ApplyFade(uint8_t* dst, const uint8_t* src, uint32_t count) {
  // A stop request fades out from here even when no queued audio was
  // re-shaped first (the refade finds nothing when little is queued).
  if (FadeOutFrames > 0) {
    FadingIn = false;
    FadingOut = true;
  }
  if (!FadingIn && !FadingOut) {
    std::memmove(dst, src, count);
    return;
  }
  if (BitsPerSample != 8 && BitsPerSample != 16)
    foundation::QelAssertFail(u"sample size other than 8 or 16 bits (MusicChannel, 352)");
  const uint32_t frames = count / FrameBytes;
  for (uint32_t f = 0; f < frames; ++f) {
    const uint32_t at = f * FrameBytes;
    if (BitsPerSample == 16 && !FadingIn && !FadingOut) {
      // The fade-in has ended: the rest of the block goes in one move.
      std::memmove(dst + at, src + at, count - at);
      return;
    }
    ScaleFrame(dst + at, src + at);
    StepGain(at + FrameBytes);
  }
  if (frames * FrameBytes < count) std::memmove(dst + frames * FrameBytes, src + frames * FrameBytes, count - frames * FrameBytes);
}

void TFadeEnvelope::RefadeQueued(uint8_t* data, uint32_t count) {
  if (!FadingOut) return;
  if (BitsPerSample != 8 && BitsPerSample != 16)
    foundation::QelAssertFail(u"sample size other than 8 or 16 bits (MusicChannel, 294)");
  const uint32_t frames = count / FrameBytes;
  for (uint32_t f = 0; f < frames; ++f) {
    ScaleFrame(data + f * FrameBytes, data + f * FrameBytes);
    StepGain((f + 1) * FrameBytes);
  }
}

}  // namespace audio
