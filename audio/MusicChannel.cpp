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
  Segments.assign(1, Segment{WrittenFrames(), 0.0, static_cast<double>(GainStep)});
}

void TFadeEnvelope::StartFadeOut(int32_t fadeMs, uint32_t rate) {
  FadeOutFrames = std::max<int32_t>(static_cast<int32_t>(static_cast<int64_t>(fadeMs) * rate / 1000), 1);
  FadingIn = false;
  GainStep = 1.0f / static_cast<float>(FadeOutFrames);
}

void TFadeEnvelope::ScaleFrame(uint8_t* dst, const uint8_t* src, float gain) const {
  if (BitsPerSample == 8) {
    for (uint32_t i = 0; i < FrameBytes; ++i) {
      int s = src[i];
      dst[i] = s <= 128 ? static_cast<uint8_t>(128 - std::lround((128 - s) * gain))
                        : static_cast<uint8_t>(std::lround((s - 128) * gain) + 128);
    }
  } else {
    for (uint32_t i = 0; i + 1 < FrameBytes; i += 2) {
      int16_t s;
      std::memcpy(&s, src + i, 2);
      auto v = static_cast<int16_t>(std::lround(s * gain));
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
  const uint64_t base = WrittenFrames();
  WrittenBytes += count;
  if (FadeOutFrames > 0) {
    if (!FadingOut) Segments.push_back(Segment{base, static_cast<double>(Gain), -static_cast<double>(GainStep)});
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
    ScaleFrame(dst + at, src + at, Gain);
    StepGain(at + FrameBytes);
  }
  if (frames * FrameBytes < count) std::memmove(dst + frames * FrameBytes, src + frames * FrameBytes, count - frames * FrameBytes);
}

double TFadeEnvelope::WrittenGain(uint64_t frame) const {
  const Segment* at = nullptr;
  for (const Segment& s : Segments)
    if (s.From <= frame) at = &s;
  if (!at) return 1.0;  // written before any fade: copied as it was
  return std::clamp(at->Gain + at->Step * static_cast<double>(frame - at->From), 0.0, 1.0);
}

void TFadeEnvelope::RefadeQueued(uint8_t* data, uint32_t count, uint64_t fromFrame) {
  if (!FadingOut) return;
  if (BitsPerSample != 8 && BitsPerSample != 16)
    foundation::QelAssertFail(u"sample size other than 8 or 16 bits (MusicChannel, 294)");
  const uint32_t frames = count / FrameBytes;
  if (!Refading || fromFrame != RefadeNext) {
    Refading = true;
    RefadeFrom = fromFrame;
    RefadeStart = RefadeLevel = WrittenGain(fromFrame);
    RefadeEnded = false;
  }
  const double step = GainStep;
  for (uint32_t f = 0; f < frames; ++f) {
    uint8_t* frame = data + f * FrameBytes;
    // The bytes hold source x written gain; they are brought to source x
    // level, never louder than they were written.
    const double written = WrittenGain(fromFrame + f);
    const double scale = written > 0.0 ? std::min(1.0, RefadeLevel / written) : 0.0;
    ScaleFrame(frame, frame, static_cast<float>(scale));
    RefadeLevel -= step;
    if (RefadeLevel <= 0.0) {
      RefadeLevel = 0.0;
      if (!RefadeEnded && MarkEnd) MarkEnd((f + 1) * FrameBytes);  // where the silence starts
      RefadeEnded = true;
    }
  }
  RefadeNext = fromFrame + frames;
  if (RefadeNext >= WrittenFrames()) {
    // The queue is re-shaped to its end: the envelope written from here on
    // goes on from the faded level.
    Refading = false;
    Gain = static_cast<float>(RefadeLevel);
    while (!Segments.empty() && Segments.back().From >= RefadeFrom) Segments.pop_back();
    Segments.push_back(Segment{RefadeFrom, RefadeStart, -step});
  }
}

}  // namespace audio

// ---------------------------------------------------------------- instances

#include "audio/MusicClasses.h"
#include "audio/MusicConverters.h"
#include "foundation/TickClock.h"

namespace audio {

TMusicChannel::TMusicChannel(TChannelMusic* owner, TWaveOutDevice* device, const TMediaInfo& mediaInfo)
    : Owner(owner), MediaInfo(mediaInfo), Envelope(4, 16), Device(device) {
  Device->_AddRef();
  OutputFormat = MediaInfo.Format;
  if (OutputFormat.wFormatTag != WAVE_FORMAT_PCM || OutputFormat.wBitsPerSample == 24 ||
      OutputFormat.wBitsPerSample == 32) {
    OutputFormat.wFormatTag = WAVE_FORMAT_PCM;
    OutputFormat.wBitsPerSample = 16;
    OutputFormat.nBlockAlign = static_cast<uint16_t>(OutputFormat.nChannels * 2);
    OutputFormat.nAvgBytesPerSec = OutputFormat.nSamplesPerSec * OutputFormat.nBlockAlign;
    OutputFormat.cbSize = 0;
  }
  MakeBuffer(device);
  Envelope.MarkEnd = [this](uint32_t bytesDone) { MarkEnd(static_cast<int64_t>(bytesDone)); };
  EndTime = -1;
  State = stIdle;
  // A ring the device refused (a format the output cannot take) leaves the
  // instance unusable rather than started on a missing buffer.
  Valid = Buffer && Buffer->IsValid() && FrameBytes > 0;
}

void TMusicChannel::MakeBuffer(TWaveOutDevice* device) {
  foundation::FreeAndNil(Buffer);
  BufferBytes = 2 * OutputFormat.nAvgBytesPerSec;
  FrameBytes = static_cast<uint32_t>(OutputFormat.nChannels) * OutputFormat.wBitsPerSample / 8;
  Envelope.FrameBytes = FrameBytes ? FrameBytes : 1;
  Envelope.BitsPerSample = OutputFormat.wBitsPerSample;
  TWaveFormat f{OutputFormat.wFormatTag, OutputFormat.nChannels, OutputFormat.nSamplesPerSec,
                OutputFormat.nAvgBytesPerSec, OutputFormat.nBlockAlign, OutputFormat.wBitsPerSample, 0};
  if (OutputFormat.nAvgBytesPerSec == 0 || FrameBytes == 0) return;
  Buffer = device->CreateBuffer(f);
  Buffer->OnPrefill = foundation::MethodOf<&TMusicChannel::PrefillCallback>(this);
  Buffer->OnRefade = foundation::MethodOf<&TMusicChannel::RefadeCallback>(this);
  Buffer->OnFill = foundation::MethodOf<&TMusicChannel::FillCallback>(this);
}

void TMusicChannel::Dispose() {
  foundation::FreeAndNil(Buffer);  // joins the refill thread first
  foundation::FreeAndNil(Converter);
  Prefill.clear();
  if (Stream) {
    TMusicPlayerClass* player = Owner ? Owner->Player.load() : nullptr;
    if (player) {
      StreamWrapper->CloseStream(player, Stream, Owner->CloseEvent);
    } else {
      // The player is gone, and with it the owner of the stream events: the
      // stream is freed here rather than leaked.
      StreamWrapper->CloseStream(nullptr, Stream, {});
    }
    Stream = nullptr;
  }
  foundation::FreeAndNil(Device);
  TPlaybackInstance::Dispose();
}

bool TMusicChannel::Open(const std::u16string& name) {
  QEL_ASSERT(Owner != nullptr, "instance without its channel (MusicChannel, 149)");
  Name = name;
  void* player = Owner->Player.load();
  if (!(IsVirtualNameHook && IsVirtualNameHook(name))) {
    if (MediaInfo.Shifted != 0 && MediaInfo.FormatCode == mfcMpeg && MediaInfo.DataOffset != 0) {
      Stream = StreamWrapper->OpenShiftedStream(player, StripNameSuffix(name), Owner->OpenEvent,
                                                static_cast<int32_t>(MediaInfo.DataOffset));
      MediaInfo.DataOffset = 0;
    } else {
      Stream = StreamWrapper->OpenStream(player, StripNameSuffix(name), Owner->OpenEvent);
    }
  }
  if (!Stream && ConverterByNameHook)
    Converter = ConverterByNameHook(player, name);
  else if (CreateConverterHook && Stream)
    Converter = CreateConverterHook(Stream, name, MediaInfo);
  if (!Converter) return false;
  Converter->Stream = Stream;
  if (!Converter->Open(MediaInfo)) return false;
  // The buffer plays what the converter delivers: float, 24- and 32-bit
  // sources come out in the program's output format, whatever their own
  // rate and channels.
  const TWaveFormatEx& out = Converter->OutputFormat;
  if (out.wFormatTag == WAVE_FORMAT_PCM && out.nAvgBytesPerSec != 0 && !SameWaveFormat(out, OutputFormat)) {
    OutputFormat = out;
    OutputFormat.cbSize = 0;
    MakeBuffer(Device);
    Valid = Buffer && Buffer->IsValid() && FrameBytes > 0;
    if (!Valid) return false;
  }
  return true;
}

void TMusicChannel::SetPosition(int32_t ms) {
  QEL_ASSERT(State == stIdle, "position of a started instance (MusicChannel, 383)");
  StartPosition = ms;
  Converter->Seek(ms);
  uint32_t n = Buffer->GetPrefillSize();
  ReachedEnd = !Converter->Read(n);
  Prefill.assign(Converter->OutputBuffer->Data, Converter->OutputBuffer->Data + n);
  Converter->OutputBuffer->Consume(n);
  HasPrefill = true;
}

void TMusicChannel::Play(int32_t fadeMs) {
  if (!HasPrefill) SetPosition(0);
  State = stPlaying;
  {
    std::lock_guard<std::mutex> guard(EnvLock);
    Envelope.StartFadeIn(fadeMs, OutputFormat.nSamplesPerSec);
  }
  Buffer->Start();
}

void TMusicChannel::Stop(int32_t fadeMs) {
  {
    std::lock_guard<std::mutex> guard(EnvLock);
    Envelope.StartFadeOut(fadeMs, OutputFormat.nSamplesPerSec);
    State = stStopping;
    RecomputeEnd = true;
  }
  Buffer->RequestStop();
}

int32_t TMusicChannel::GetPosition() { return Buffer->GetPlayedTime() + StartPosition; }

void TMusicChannel::SetVolume(float v) { Buffer->SetVolume(v); }

bool TMusicChannel::IsFinished() {
  int32_t end = EndTime;
  return end >= 0 && foundation::GetTickMs() - EndStartTick > end;
}

void TMusicChannel::Finished() { Owner->InstanceFinished(this); }

void TMusicChannel::MarkEnd(int64_t extraBytes) {
  if (EndTime != -1 && !RecomputeEnd) return;
  int64_t queued = (InPrefill ? 0 : static_cast<int64_t>(Buffer->GetQueuedBytes()) + BlockBase) + extraBytes;
  if (queued < 0) queued = 0;
  double avg = OutputFormat.nAvgBytesPerSec ? OutputFormat.nAvgBytesPerSec : 1;
  auto end = static_cast<int32_t>(std::lround(static_cast<double>(queued) / avg * 1000.0));
  if (end < 1) end += 2000;
  end += 20;
  EndStartTick = foundation::GetTickMs();
  EndTime = end;
  RecomputeEnd = false;
  if (!Handed) {
    Handed = true;
    HandToChannelKiller(this);
  }
}

void TMusicChannel::PrefillCallback(TWaveOutBuffer*, uint8_t* data, uint32_t count) {
  std::lock_guard<std::mutex> guard(EnvLock);
  InPrefill = true;
  BlockBase = 0;
  uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(Prefill.size()));
  Envelope.ApplyFade(data, Prefill.data(), n);
  if (n < count) {
    std::memset(data + n, OutputFormat.wBitsPerSample == 8 ? 0x80 : 0, count - n);
    Envelope.Skip(count - n);
  }
  if (ReachedEnd) MarkEnd(n);
  InPrefill = false;
  Prefill.clear();
  Prefill.shrink_to_fit();
}

void TMusicChannel::FillCallback(TWaveOutBuffer*, uint8_t* data, uint32_t count) {
  // The buffer's end of data is the end of this block: a fade reaching zero
  // after bytesDone bytes ends count - bytesDone before it.
  std::lock_guard<std::mutex> guard(EnvLock);
  BlockBase = -static_cast<int64_t>(count);
  bool more = Converter->Read(count);
  if (!more) ReachedEnd = true;
  Envelope.ApplyFade(data, Converter->OutputBuffer->Data, count);
  Converter->OutputBuffer->Consume(count);
  if (!more) MarkEnd(count);
}

void TMusicChannel::RefadeCallback(TWaveOutBuffer*, uint8_t* data, uint32_t count) {
  // Refades count the end of data at the start of the region.
  std::lock_guard<std::mutex> guard(EnvLock);
  BlockBase = 0;
  Envelope.FadingOut = true;
  Envelope.FadingIn = false;
  const uint64_t after = (static_cast<uint64_t>(count) + Buffer->RefadeAfter) / FrameBytes;
  const uint64_t written = Envelope.WrittenFrames();
  Envelope.RefadeQueued(data, count, written > after ? written - after : 0);
}

}  // namespace audio
