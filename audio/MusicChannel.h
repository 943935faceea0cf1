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
  // Bytes of silence written without the envelope (after a short prefill).
  void Skip(uint32_t count) { WrittenBytes += count; }
  // Re-shapes queued bytes in place, only while fading out. fromFrame is the
  // frame of the written stream the bytes start at (the writer runs ahead of
  // what is heard). The queued audio already carries the gain it was written
  // with, so the fade-out starts from the level of that first queued frame,
  // which is what the listener hears next, not from the writer's gain
  // further along: stopping early in a long fade-in then fades down from
  // where the listener is instead of first rising to where the writer was.
  // When the bytes reach the end of the written stream the writer goes on
  // from the faded level.
  void RefadeQueued(uint8_t* data, uint32_t count, uint64_t fromFrame);
  // The gain frame n of the written stream was written with.
  double WrittenGain(uint64_t frame) const;
  uint64_t WrittenFrames() const { return WrittenBytes / FrameBytes; }

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
  // Bytes written through ApplyFade and Skip since the instance started.
  uint64_t WrittenBytes = 0;

 private:
  // The written envelope is piecewise linear: from frame From on the gain is
  // Gain + Step x (frame - From), kept within 0..1.
  struct Segment {
    uint64_t From;
    double Gain;
    double Step;
  };
  std::vector<Segment> Segments;
  // A refade that continues at RefadeNext (the part after the ring's wrap).
  bool Refading = false;
  bool RefadeEnded = false;
  uint64_t RefadeFrom = 0;
  uint64_t RefadeNext = 0;
  double RefadeStart = 0.0;
  double RefadeLevel = 0.0;

  void ScaleFrame(uint8_t* dst, const uint8_t* src, float gain) const;
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
