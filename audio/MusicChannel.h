// The volume envelope of a playback instance: fades linear in amplitude,
// counted in sample frames of the output format, applied as the refill thread
// writes each block (and re-applied to queued audio after a stop request).
// Every sample of a frame takes the same gain, and the gain moves once per
// frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "audio/ChannelKiller.h"
#include "audio/MusicGeneral.h"
#include "audio/MusicTypes.h"

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

class TChannelMusic;
class TWavConverter;

// One playback instance of a channel: a converter, a streaming buffer and
// the fade envelope. Seeking or restarting a sounding channel makes a fresh
// instance and fades this one out; once its last sample has been heard the
// channel killer gives it back to its channel.
class TMusicChannel : public TPlaybackInstance {
 public:
  QEL_CLASSNAME(TMusicChannel)
  enum : uint8_t { stIdle = 0, stPlaying = 1, stStopping = 2 };

  TMusicChannel(TChannelMusic* owner, TWaveOutDevice* device, const TMediaInfo& mediaInfo);
  void Dispose() override;

  // Opens the source and its converter; false when either fails.
  bool Open(const std::u16string& name);
  // Only while idle: the converter seeks and the first buffer load is decoded.
  void SetPosition(int32_t ms);
  void Play(int32_t fadeMs);
  void Stop(int32_t fadeMs);
  int32_t GetPosition();
  void SetVolume(float v);

  bool IsFinished() override;
  void Finished() override;

  TChannelMusic* Owner = nullptr;
  TWaveOutBuffer* Buffer = nullptr;
  bool Valid = false;
  std::u16string Name;
  foundation::TStream* Stream = nullptr;
  std::atomic<uint8_t> State{stIdle};
  std::atomic<int32_t> EndTime{-1};
  std::atomic<int64_t> EndStartTick{0};
  bool RecomputeEnd = false;
  std::atomic<bool> ReachedEnd{false};
  int32_t StartPosition = 0;
  // The channel's count of instances when this one was made.
  uint32_t Serial = 0;
  TMediaInfo MediaInfo{};
  TWavConverter* Converter = nullptr;
  uint32_t BufferBytes = 0;
  uint32_t FrameBytes = 0;
  TWaveFormatEx OutputFormat{};
  TFadeEnvelope Envelope;
  std::vector<uint8_t> Prefill;
  bool HasPrefill = false;

 private:
  void PrefillCallback(TWaveOutBuffer* sender, uint8_t* data, uint32_t count);
  void FillCallback(TWaveOutBuffer* sender, uint8_t* data, uint32_t count);
  void RefadeCallback(TWaveOutBuffer* sender, uint8_t* data, uint32_t count);
  void MakeBuffer(TWaveOutDevice* device);
  void MarkEnd(int64_t extraBytes);

  TWaveOutDevice* Device = nullptr;
  // Where the block being written starts relative to the buffer's end of
  // data (fills count DataEnd at the block's end, refades at its start), and
  // whether it is the prefill (nothing queued before it).
  int64_t BlockBase = 0;
  bool InPrefill = false;
  bool Handed = false;
  // The envelope and the end's recomputation are shared by the channel's
  // thread (Play, Stop) and the refill thread (the three callbacks).
  std::mutex EnvLock;
};

}  // namespace audio
