// Demuxing over show streams and the video and audio decoders, on the
// committed clips: parameters, every frame by its luma (drained to the last),
// seeks, the start-time and end rules, damaged input; audio resampled into
// 44.1 kHz S16 stereo with its tail.
#include "video/FFMpegDll2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/video/VideoTestEnv.h"

using namespace video;
using namespace video_test;
namespace ff = platform::ffmpeg;

namespace {

struct Opened {
  foundation::TMemoryStream* stream;
  TFFMpegVideo* video = new TFFMpegVideo();
  bool ok;
  Opened(const std::string& name, std::vector<uint8_t> bytes = {})
      : stream(bytes.empty() ? MediaStream(name) : StreamOfBytes(bytes)) {
    ok = video->Open(stream, foundation::MessageFromUtf8(name));
  }
  ~Opened() {
    video->Free();
    stream->Free();
  }
  // The index the current frame names, or -1 without one.
  int CurrentIndex() {
    if (!video->CurrentFrame) return -1;
    ff::FrameInfo f = ff::frameInfo(video->CurrentFrame);
    auto* img = new TMemoryYUVImage(f.width, f.height);
    TFFVideoFormatConvertor* conv = nullptr;
    bool copied = CopyFrameToYUV(img, f.data, f.linesize, f.format, conv);
    int index = copied ? IndexOfLuma(MeanY(img)) : -1;
    foundation::FreeObj(conv);
    img->Free();
    return index;
  }
};

TEST(FFDemux, GarbageZeroLengthAndCutFilesFailWithTheirTexts) {
  ASSERT_TRUE(FFMpegLoaded());
  std::vector<uint8_t> garbage(4096);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 131 + 7);
  {
    auto* s = StreamOfBytes(garbage);
    auto* av = new TFFAVStream();
    EXPECT_FALSE(av->Open(s, u"garbage.bin"));
    EXPECT_EQ(av->ErrorText, u"garbage.bin: Invalid data found when processing input");
    EXPECT_FALSE(av->IsOpen());
    av->Free();
    s->Free();
  }
  {
    auto* s = StreamOfBytes({});
    auto* av = new TFFAVStream();
    EXPECT_FALSE(av->Open(s, u"empty.mp4"));
    EXPECT_EQ(av->ErrorText.rfind(u"empty.mp4: ", 0), 0u);
    av->Free();
    s->Free();
  }
  // The MP4 index sits at the end: without it the file is unreadable, or
  // yields no frame; either way no hang.
  std::vector<uint8_t> cut = MediaBytes("h264_bframes.mp4");
  cut.resize(cut.size() / 2);
  Opened o("h264_bframes.mp4", cut);
  if (o.ok) {
    int frames = 0;
    while (o.video->DecodeFrame(TFFMpegVideo::kPresentNext) && frames < 100) ++frames;
    EXPECT_LT(frames, 50);
  }
}

TEST(FFDemux, ReadingToTheEndSetsBothEndFlags) {
  auto* s = MediaStream("h264_bframes.mp4");
  auto* av = new TFFAVStream();
  ASSERT_TRUE(av->Open(s, u"h264_bframes.mp4"));
  TFFPacketState p;
  p.StreamIndex = 0;
  p.Packet = ff::packetAlloc();
  int packets = 0;
  while (av->ReadPacket(p)) {
    ++packets;
    EXPECT_TRUE(av->ReadPacket(p));  // a held packet is answered again
    av->ReleasePacket(p);
  }
  EXPECT_EQ(packets, 50);
  EXPECT_TRUE(av->ReadFailed);
  EXPECT_TRUE(av->AtEnd);
  EXPECT_TRUE(av->Finished(p));
  av->Close(&p);
  av->Free();
  s->Free();
}

TEST(FFDemux, MetadataIsUtf8) {
  auto* s = MediaStream("mpeg4.mp4");
  auto* av = new TFFAVStream();
  ASSERT_TRUE(av->Open(s, u"mpeg4.mp4"));
  TFFMediaInfo m = av->GetMediaInfo();
  EXPECT_EQ(m.Title, u"Grüße aus Köln");
  EXPECT_EQ(m.DurationUs, 1000000);
  EXPECT_EQ(m.Year, 0);
  av->Free();
  s->Free();
}

struct ClipCase {
  const char* name;
  int width, height;
  int codecId;
  const char16_t* codecName;
  int frames;
  bool interlaced, topFirst;
  int rotation;
  bool alpha;
};

TEST(FFVideo, EveryClipReportsItsParametersAndDecodesEveryFrameInOrder) {
  const ClipCase cases[] = {
      {"h264_bframes.mp4", 320, 240, ff::kCodecH264, u"H.264", 50, false, false, 0, false},
      {"mpeg2_interlaced.mpg", 320, 240, ff::kCodecMPEG2, u"MPEG2", 25, true, true, 0, false},
      {"mpeg4.mp4", 320, 240, ff::kCodecMPEG4, u"MPEG4", 25, false, false, 0, false},
      {"vp9.webm", 320, 240, ff::kCodecVP9, u"VP9", 25, false, false, 0, false},
      {"yuv420p10.mkv", 64, 48, 33 /* FFV1 */, u"FFV1", 10, false, false, 0, false},
      {"yuv422p.mkv", 64, 48, 33, u"FFV1", 10, false, false, 0, false},
      {"nv12.nut", 64, 48, 13 /* raw */, u"RAWVIDEO", 10, false, false, 0, false},
      {"odd_33x17.mkv", 33, 17, 33, u"FFV1", 10, false, false, 0, false},
      {"rotated90.mp4", 64, 48, ff::kCodecMPEG4, u"MPEG4", 10, false, false, 90, false},
      {"audio_first.mkv", 64, 48, ff::kCodecMPEG4, u"MPEG4", 10, false, false, 0, false},
      {"tiny_32x18.mp4", 32, 18, ff::kCodecMPEG4, u"MPEG4", 10, false, false, 0, false},
      {"bgra.mkv", 64, 48, 33, u"FFV1", 10, false, false, 0, true},
  };
  for (const ClipCase& c : cases) {
    SCOPED_TRACE(c.name);
    Opened o(c.name);
    ASSERT_TRUE(o.ok);
    const TFFVideoStreamInfo& i = o.video->Info;
    EXPECT_EQ(i.Width, c.width);
    EXPECT_EQ(i.Height, c.height);
    EXPECT_EQ(i.CodecId, c.codecId);
    EXPECT_EQ(i.CodecName, c.codecName);
    EXPECT_EQ(i.FrameRateNum * 1.0 / i.FrameRateDen, 25.0);
    EXPECT_EQ(i.Rotation, c.rotation);
    EXPECT_EQ(i.HasAlpha, c.alpha);
    int n = 0;
    bool first = true;
    while (o.video->DecodeFrame(TFFMpegVideo::kPresentNext)) {
      ASSERT_NE(o.video->CurrentFrame, nullptr);
      if (first) {
        EXPECT_EQ(o.video->FrameInterlaced, c.interlaced);
        EXPECT_EQ(o.video->FrameTopFieldFirst, c.topFirst);
        first = false;
      }
      if (!c.alpha) {
        EXPECT_EQ(o.CurrentIndex(), n) << "frame " << n;
      }
      EXPECT_EQ(o.video->FrameTimeUs, n * 40000) << "frame " << n;
      ++n;
      ASSERT_LE(n, c.frames);
    }
    // Every frame, the ones the decoder held at the end included.
    EXPECT_EQ(n, c.frames);
    EXPECT_TRUE(o.video->EndReached);
  }
}

TEST(FFVideo, TheAudioStreamFirstStillDecodesTheVideoStream) {
  Opened o("audio_first.mkv");
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.video->FirstVideoStream, 1);
  EXPECT_EQ(o.video->VideoStreamCount, 1);
  ASSERT_TRUE(o.video->DecodeFrame(TFFMpegVideo::kPresentNext));
  EXPECT_EQ(o.video->VideoStream, 1);
  EXPECT_EQ(o.video->PacketStreamIndex, 1);
}

TEST(FFVideo, SeeksLandOnTheFrameOfTheTime) {
  Opened o("h264_bframes.mp4");
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.video->FrameCount, 50);
  for (int target : {37, 3, 49, 25, 0, 12}) {
    SCOPED_TRACE(target);
    int64_t before = o.video->FramesReceived;
    ASSERT_TRUE(o.video->SeekTo(target * 40000));
    EXPECT_EQ(o.CurrentIndex(), target);
    EXPECT_EQ(o.video->FrameTimeUs, target * 40000);
    if (target == 0) {
      EXPECT_EQ(o.video->FramesReceived - before, 1);  // exactly one frame after the seek
    }
  }
  // Decoding goes on after a seek.
  ASSERT_TRUE(o.video->SeekTo(20 * 40000));
  ASSERT_TRUE(o.video->DecodeFrame(TFFMpegVideo::kPresentNext));
  EXPECT_EQ(o.CurrentIndex(), 21);
}

TEST(FFVideo, SeeksInAFileStartingLateGoToTheKeyFrameBeforeTheTime) {
  Opened o("late_start.mkv");
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.video->Info.StartTimeUs, 3600000000LL);
  int64_t before = o.video->FramesReceived;
  ASSERT_TRUE(o.video->SeekTo(45 * 40000));
  EXPECT_EQ(o.CurrentIndex(), 45);
  EXPECT_EQ(o.video->FrameTimeUs, 45 * 40000);
  // From the key frame at 25, not from the file's start.
  EXPECT_LE(o.video->FramesReceived - before, 21 + 2);
}

TEST(FFVideo, HardwarePreferenceAndThreads) {
  auto* v = new TFFMpegVideo();
  struct Case {
    int codec, w, h, num, den;
    bool prefer;
  } cases[] = {
      {ff::kCodecH264, 1920, 1080, 30, 1, true},  {ff::kCodecH264, 1280, 720, 30, 1, false},
      {ff::kCodecH264, 1920, 1080, 0, 0, true},   {ff::kCodecHEVC, 1920, 1080, 25, 1, true},
      {ff::kCodecMPEG2, 1920, 1080, 30, 1, false}, {ff::kCodecVP9, 1280, 720, 60, 1, true},
  };
  for (auto c : cases) {
    v->Info.CodecId = c.codec;
    v->Info.Width = c.w;
    v->Info.Height = c.h;
    v->Info.FrameRateNum = c.num;
    v->Info.FrameRateDen = c.den;
    EXPECT_EQ(v->PreferHardware(), c.prefer) << c.codec << " " << c.w;
  }
  v->Info.CodecId = ff::kCodecAV1;
  EXPECT_TRUE(v->ThreadsUseful());
  v->Info.CodecId = ff::kCodecMPEG4;
  EXPECT_FALSE(v->ThreadsUseful());
  v->Free();
}

TEST(FFVideo, RotationFromTheDisplayMatrix) {
  EXPECT_EQ(RotationFromDisplay(90), 270);
  EXPECT_EQ(RotationFromDisplay(-90), 90);
  EXPECT_EQ(RotationFromDisplay(180), 180);
  EXPECT_EQ(RotationFromDisplay(0), 0);
  EXPECT_EQ(DecoderDisplayName("h264"), u"H.264");
  EXPECT_EQ(DecoderDisplayName("mpeg2video"), u"MPEG2");
  EXPECT_EQ(DecoderDisplayName("hevc"), u"HEVC");
}

// ---- audio ----

struct AudioRun {
  std::vector<uint8_t> pcm;
  std::vector<int64_t> blockTimes;
  TFFMpegAudio* audio = new TFFMpegAudio();
  foundation::TMemoryStream* stream;
  explicit AudioRun(const std::string& name) : stream(MediaStream(name)) {
    EXPECT_TRUE(audio->Open(stream, foundation::MessageFromUtf8(name)));
  }
  ~AudioRun() {
    audio->Free();
    stream->Free();
  }
  void DecodeAll() {
    int guard = 0;
    while (audio->DecodeNext() && ++guard < 10000) {
      EXPECT_EQ(audio->BlockDurationUs,
                std::llround(audio->OutputLength / 4 * 1000000.0 / 44100.0));
      pcm.insert(pcm.end(), audio->Output, audio->Output + audio->OutputLength);
      blockTimes.push_back(audio->BlockTimeUs);
    }
  }
};

std::vector<uint8_t> WavData(const std::string& name) {
  std::vector<uint8_t> b = MediaBytes(name);
  for (size_t i = 12; i + 8 <= b.size();) {
    uint32_t size;
    std::memcpy(&size, &b[i + 4], 4);
    if (std::memcmp(&b[i], "data", 4) == 0) return std::vector<uint8_t>(b.begin() + i + 8, b.begin() + i + 8 + size);
    i += 8 + size;
  }
  return {};
}

TEST(FFAudio, FloatAt48kIsResampledToS16At44k1WithItsTail) {
  AudioRun r("tone_48k_f32.wav");
  EXPECT_EQ(r.audio->AudioStreamCount, 1);
  EXPECT_EQ(r.audio->Info.SampleRate, 48000);
  EXPECT_EQ(r.audio->Info.Channels, 2);
  r.DecodeAll();
  ASSERT_FALSE(r.pcm.empty());
  EXPECT_EQ(r.audio->OutSampleRate, 44100);
  EXPECT_EQ(r.audio->OutChannels, 2);
  // 0.25 s at 44.1 kHz: 11025 frames; the resampler's delay is flushed.
  EXPECT_NEAR(static_cast<double>(r.pcm.size() / 4), 11025.0, 2.0);
  // The peak of the tone survives the conversion (within a few percent:
  // the samples of a 1 kHz sine at 44.1 kHz fall beside its crests).
  std::vector<uint8_t> src = WavData("tone_48k_f32.wav");
  float srcPeak = 0;
  for (size_t i = 0; i + 3 < src.size(); i += 4) {
    float f;
    std::memcpy(&f, &src[i], 4);
    srcPeak = std::max(srcPeak, std::fabs(f));
  }
  int peak = 0;
  for (size_t i = 0; i + 1 < r.pcm.size(); i += 2)
    peak = std::max(peak, std::abs(int(int16_t(r.pcm[i] | (r.pcm[i + 1] << 8)))));
  EXPECT_GT(srcPeak, 0.05f);
  EXPECT_NEAR(peak / 32768.0, srcPeak, srcPeak * 0.03);
}

TEST(FFAudio, S16StereoAt44k1IsCopiedUnchanged) {
  AudioRun r("tone_44k_s16.wav");
  r.DecodeAll();
  EXPECT_EQ(r.audio->Resampler, nullptr);
  EXPECT_EQ(r.pcm, WavData("tone_44k_s16.wav"));
  EXPECT_EQ(r.blockTimes.front(), 0);
}

TEST(FFAudio, MonoBecomesTwoEqualChannels) {
  AudioRun r("tone_22k_mono.mp3");
  EXPECT_EQ(r.audio->Info.Channels, 1);
  EXPECT_EQ(r.audio->Info.SampleRate, 22050);
  r.DecodeAll();
  ASSERT_GT(r.pcm.size(), 4u * 20000);
  // 0.5 s at 44.1 kHz, give or take the encoder's padding.
  EXPECT_NEAR(static_cast<double>(r.pcm.size() / 4), 22050.0, 1500.0);
  int differing = 0;
  for (size_t i = 0; i + 3 < r.pcm.size(); i += 4)
    if (std::memcmp(&r.pcm[i], &r.pcm[i + 2], 2) != 0) ++differing;
  EXPECT_EQ(differing, 0);
}

TEST(FFAudio, SeekingFindsTheBlockOfTheTime) {
  AudioRun r("tone_22k_mono.mp3");
  // A fresh file: seeking to 0 decodes the first block.
  EXPECT_TRUE(r.audio->Seek(0));
  EXPECT_TRUE(r.audio->BlockValid);
  EXPECT_GT(r.audio->OutputLength, 0);
  EXPECT_TRUE(r.audio->Seek(300000));
  EXPECT_TRUE(r.audio->BlockValid);
  EXPECT_GE(r.audio->BlockTimeUs + r.audio->BlockDurationUs, 300000);
  EXPECT_LE(r.audio->BlockTimeUs, 300000 + 60000);
}

TEST(FFAudio, AVideoOnlyFileHasNoAudioStream) {
  AudioRun r("mpeg4.mp4");
  EXPECT_EQ(r.audio->AudioStreamCount, 0);
  ScopedLogCapture log;
  EXPECT_FALSE(r.audio->DecodeNext());
  EXPECT_TRUE(log.Has(u"ffmpeg: No audio stream."));
}

}  // namespace
