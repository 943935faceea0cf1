#include "audio/MusicTypes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "audio/RiffInfo.h"
#include "foundation/SysObj.h"
#include "foundation/kpExceptions.h"
#include "tests/audio/AudioTestEnv.h"
#include "tests/support/AudioFixtures.h"
#include "tests/support/TempTree.h"

using namespace audio;
using namespace audio_test;
using foundation::TRef;
using foundation::TStream;

namespace {

std::u16string gSeenExt;
int gHookCalls = 0;
bool RecordingDetect(TStream*, const std::u16string& ext, TMediaInfo& info) {
  gSeenExt = ext;
  ++gHookCalls;
  info.FormatCode = mfcFFMpeg;
  return true;
}

struct HookGuard {
  HookGuard() {
    gSeenExt.clear();
    gHookCalls = 0;
    DetectFormatHook = RecordingDetect;
  }
  ~HookGuard() { DetectFormatHook = nullptr; }
};

}  // namespace

TEST(MediaInfoRecord, OutputFormatIsStereo44100Sixteen) {
  EXPECT_EQ(MusicOutputFormat.wFormatTag, 1);
  EXPECT_EQ(MusicOutputFormat.nChannels, 2);
  EXPECT_EQ(MusicOutputFormat.nSamplesPerSec, 44100u);
  EXPECT_EQ(MusicOutputFormat.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(MusicOutputFormat.nBlockAlign, 4);
  EXPECT_EQ(MusicOutputFormat.wBitsPerSample, 16);
  EXPECT_EQ(MusicOutputFormat.cbSize, 0);
  // The VBR flag lives at record offset 60.
  TMediaInfo info{};
  SetMpegVbrFlag(info, -1);
  const auto* raw = reinterpret_cast<const uint8_t*>(&info);
  EXPECT_EQ(raw[60], 0xFF);
  EXPECT_EQ(raw[63], 0xFF);
  EXPECT_EQ(raw[59], 0);
}

TEST(MediaInfoNames, SuffixAndExtension) {
  EXPECT_EQ(StripNameSuffix(u"song.mp3?2"), u"song.mp3");
  EXPECT_EQ(StripNameSuffix(u"a?b?c"), u"a?b");
  EXPECT_EQ(StripNameSuffix(u"plain.wav"), u"plain.wav");
  EXPECT_EQ(MusicFileExt(u"Z:\\music\\song.mp3?2"), u".mp3?2");
  EXPECT_EQ(MusicFileExt(u"Z:\\dir.x\\noext"), u"");
  EXPECT_TRUE(SameExt(u".MP3", ".mp3"));
  EXPECT_FALSE(SameExt(u".mp3?2", ".mp3"));
}

TEST(MediaInfoProbe, SuffixedMp3NameFallsToTheHookWithItsFullExtension) {
  HookGuard hook;
  MpegHeader h;
  auto s = TRef<TStream>::Adopt(StreamOf(MpegFrames(h, 4)));
  TMediaInfo info;
  EXPECT_TRUE(TMediaInfoExtractor::GetMediaInfo(s.Get(), u"Z:\\m\\song.mp3?2", info));
  EXPECT_EQ(gSeenExt, u".mp3?2");
  EXPECT_EQ(info.FormatCode, mfcFFMpeg);
  // Without the suffix the MPEG probe takes it and the hook is not asked.
  gHookCalls = 0;
  EXPECT_TRUE(TMediaInfoExtractor::GetMediaInfo(s.Get(), u"Z:\\m\\song.MP3", info));
  EXPECT_EQ(gHookCalls, 0);
  EXPECT_EQ(info.FormatCode, mfcMpeg);
}

TEST(MediaInfoProbe, RiffWithoutDataStillReachesTheHook) {
  HookGuard hook;
  Bytes wav = MakeRiff({{"fmt ", FmtPayload(1, 2, 44100, 176400, 4, 16)}, {"LIST", Bytes(12, 0)}});
  auto s = TRef<TStream>::Adopt(StreamOf(wav));
  s->SetPosition(5);
  TMediaInfo info;
  EXPECT_TRUE(TMediaInfoExtractor::GetMediaInfo(s.Get(), u"x.wav", info));
  EXPECT_EQ(gSeenExt, u".wav");
  EXPECT_EQ(s->GetPosition(), 5);  // restored before the hook
  DetectFormatHook = nullptr;
  EXPECT_FALSE(TMediaInfoExtractor::GetMediaInfo(s.Get(), u"x.wav", info));
  EXPECT_FALSE(TMediaInfoExtractor::GetMediaInfo(nullptr, u"x.wav", info));
  EXPECT_FALSE(TMediaInfoExtractor::GetMediaInfo(s.Get(), u"x.unknown", info));
}

TEST(StreamCallbacksTable, OriginsAndReads) {
  Bytes data(100);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  auto s = TRef<TStream>::Adopt(StreamOf(data));
  void* opaque = s.Get();
  EXPECT_EQ(StreamCallbacks.Seek(opaque, 10, 2), 90);  // size minus offset
  EXPECT_EQ(StreamCallbacks.Seek64(opaque, -5, 1), 85);
  EXPECT_EQ(StreamCallbacks.Seek(opaque, 20, 0), 20);
  EXPECT_EQ(StreamCallbacks.Position64(opaque), 20);
  EXPECT_EQ(StreamCallbacks.Size(opaque), 100);
  uint8_t buf[8];
  EXPECT_EQ(StreamCallbacks.Read(opaque, buf, 8), 8);
  EXPECT_EQ(buf[0], 20);
  EXPECT_EQ(StreamCallbacks.Seek(opaque, 4, 2), 96);
  EXPECT_EQ(StreamCallbacks.Read64(opaque, buf, 8), 4);  // a short read is no error
  EXPECT_THROW(StreamCallbacks.Seek(opaque, 0, 3), foundation::EAssertionFailed);
}

TEST(StreamCallbacksTable, SixtyFourBitReadLimitIsOneHundredMegabytes) {
  auto s = TRef<TStream>::Adopt(StreamOf(Bytes(16, 7)));
  std::vector<uint8_t> buf(16);
  EXPECT_EQ(StreamCallbacks.Read64(s.Get(), buf.data(), 104857600), 16);
  s->SetPosition(0);
  try {
    StreamCallbacks.Read64(s.Get(), buf.data(), 104857601);
    FAIL() << "no assertion";
  } catch (const foundation::EAssertionFailed& e) {
    EXPECT_NE(std::string(e.what()).find("Too many"), std::string::npos);
  }
  EXPECT_EQ(s->GetPosition(), 0);  // nothing was read
}

TEST(StreamWrapperOpen, DefaultOpenerVirtualNamesAndShiftedStreams) {
  qeltest::TempTree t;
  t.write("a.bin", "0123456789");
  TStream* s = StreamWrapper->OpenStream(nullptr, t.internal("a.bin"), nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(StreamWrapper->GetSize(s), 10);
  StreamWrapper->CloseStream(nullptr, s, nullptr);

  IsVirtualNameHook = [](const std::u16string& name) { return name == u"virtual"; };
  EXPECT_EQ(StreamWrapper->OpenStream(nullptr, u"virtual", nullptr), nullptr);
  IsVirtualNameHook = nullptr;
  EXPECT_THROW(StreamWrapper->OpenStream(nullptr, t.internal("missing.bin"), nullptr), foundation::Exception);

  // A shifted stream starts at the offset; closing hands the inner stream to
  // the close event and releases the wrapper.
  TStream* inner = nullptr;
  TOpenStreamEvent open = [&](void*, const std::u16string&) -> TStream* {
    inner = StreamOf(Bytes{'a', 'b', 'c', 'd', 'e', 'f'});
    return inner;
  };
  TStream* closedWith = nullptr;
  TCloseStreamEvent close = [&](void*, TStream* st) {
    closedWith = st;
    st->Free();
  };
  TStream* shifted = StreamWrapper->OpenShiftedStream(nullptr, u"x", open, 2);
  ASSERT_NE(shifted, nullptr);
  EXPECT_EQ(StreamWrapper->GetSize(shifted), 4);
  EXPECT_EQ(StreamWrapper->GetPosition(shifted), 0);
  uint8_t c = 0;
  EXPECT_EQ(StreamWrapper->Read(shifted, &c, 1), 1);
  EXPECT_EQ(c, 'c');
  EXPECT_EQ(StreamWrapper->Seek(shifted, 1, 2), 3);
  EXPECT_THROW(shifted->SetSize(1), foundation::EAssertionFailed);
  StreamWrapper->CloseStream(nullptr, shifted, close);
  EXPECT_EQ(closedWith, inner);
}
