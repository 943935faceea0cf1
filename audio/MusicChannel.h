// The volume envelope of a playback instance: fades linear in amplitude,
// counted in sample frames of the output format, applied as the refill thread
// writes each block (and re-applied to queued audio after a stop request).
// Every sample of a frame takes the same gain, and the gain moves once per
// frame.
#pragma once

#include <cstdint>
#include <functional>

namespace audio {

class TFadeEnvelope {
 public:
  // The output format's frame: channels x bits per sample / 8; 8 or 16 bits.
  TFadeEnvelope(uint32_t frameBytes, uint32_t bitsPerSample) : FrameBytes(frameBytes), BitsPerSample(bitsPerSample) {}

  // A fade-in over fadeMs at rate (at least one frame) from silence.
  void StartFadeIn(int32_t fadeMs, uint32_t rate);
  // A fade-out over fadeMs at rate (at least one frame) from the current gain.
  void StartFadeOut(int32_t fadeMs, uint32_t rate);

  // Copies count bytes from src to dst under the envelope.
  void ApplyFade(uint8_t* dst, const uint8_t* src, uint32_t count);
  // Re-shapes queued bytes in place, only while fading out.
  void RefadeQueued(uint8_t* data, uint32_t count);

  // Called with the bytes of the block done so far when a fade-out reaches zero.
  std::function<void(uint32_t bytesDone)> MarkEnd;

  uint32_t FrameBytes;
  uint32_t BitsPerSample;
  int32_t FadeInFrames = 0;
  int32_t FadeOutFrames = 0;
  float Gain = 1.0f;
  float GainStep = 0.0f;
  bool FadingIn = false;
  bool FadingOut = false;

 private:
  void ScaleFrame(uint8_t* dst, const uint8_t* src) const;
  void StepGain(uint32_t bytesDone);
};

}  // namespace audio
