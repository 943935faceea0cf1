#include "audio/DllDecoders.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/ConfigMusic.h"
#include "audio/PluginConverters.h"
#include "foundation/kpExceptions.h"
#include "platform/os/api.h"
#include "tests/audio/AudioTestEnv.h"
#include "tests/support/AudioFixtures.h"
#include "tests/support/TempTree.h"

using namespace audio;
using namespace audio_test;
using foundation::TRef;
using foundation::TStream;

namespace {

// A stream the test plug-in recognises.
Bytes ToneStream(uint32_t rate, uint32_t channels, uint32_t ms, bool valid = true) {
  Bytes b;
  PutTag(b, valid ? "QTON" : "NOPE");
  PutLe32(b, rate);
  PutLe32(b, channels);
  PutLe32(b, ms);
  b.resize(200, 0);
  PutTag(b, "QEND");
  return b;
}

// FFmpeg as the tests see it: records what it was asked.
std::vector<std::u16string> gOpenedNames;
std::vector<int64_t> gSeeks;

class FakeAudio : public TFFMpegAudioBase {
 public:
  bool Open(TStream*, const std::u16string& name) override {
    gOpenedNames.push_back(name);
    if (name.ends_with(u".none")) return false;
    DurationUs = 2500400;
    HasAudio = 1;
    Channels = 2;
    Rate = 44100;
    BytesPerSample = 2;
    return true;
  }
  bool DecodeNext() override {
    if (blocks_ == 3) return false;
    ++blocks_;
    pcm_.assign(4410 * 2, int16_t(blocks_ * 100));
    Data = reinterpret_cast<const uint8_t*>(pcm_.data());
    Size = uint32_t(pcm_.size() * 2);
    return true;
  }
  bool Seek(int64_t us) override {
    gSeeks.push_back(us);
    blocks_ = 0;
    return true;
  }

 private:
  int blocks_ = 0;
  std::vector<int16_t> pcm_;
};

bool FakeLoad() { return true; }
TFFMpegAudioBase* FakeCreate() { return new FakeAudio(); }

class DllDecoders : public ::testing::Test {
 protected:
  void SetUp() override {
    InitDllDecoders();
    InitConfigMusic();
    gOpenedNames.clear();
    gSeeks.clear();
    SetFFMpegAudioBinding({});  // FFmpeg not available unless a test says so
  }
  void TearDown() override {
    DoneDllDecoders();
    SetFFMpegAudioBinding({});
    InitDllDecoders();
  }
  std::u16string PluginAs(const std::string& fileName, const char* built = QEL_TEST_PLUGIN) {
    std::filesystem::copy_file(built, tree_.path(fileName));
    return tree_.internal(fileName);
  }
  qeltest::TempTree tree_;
};

template <class T>
T* PluginGlobal(TDllDec* dll, const char* name) {
  return static_cast<T*>(platform::os::getProcAddress(dll->Handle, name));
}

}  // namespace

TEST_F(DllDecoders, OggPlugInLoadsUnderItsNameAndIsAskedAsSpecified) {
  ASSERT_TRUE(LoadOggDecoder(PluginAs("qelogg.dll")));
  TDllDec* dll = DllInSlot(TDllSlot::Ogg);
  ASSERT_NE(dll, nullptr);
  EXPECT_TRUE(dll->Valid);
  EXPECT_TRUE(LoadOggDecoder(u"Z:\\nowhere\\other.dll"));  // the slot is already filled

  auto s = TRef<TStream>::Adopt(StreamOf(ToneStream(44100, 2, 1000)));
  TMediaInfo info;
  ASSERT_TRUE(TMediaInfoExtractor::GetMediaInfo(s.Get(), u"Z:\\show\\Tune.OGG", info));
  EXPECT_EQ(info.FormatCode, mfcOgg);
  EXPECT_EQ(info.Duration, 1000);
  EXPECT_EQ(info.DataOffset, 16u);
  EXPECT_EQ(info.Format.nChannels, 2);
  EXPECT_EQ(info.Format.nSamplesPerSec, 44100u);
  EXPECT_EQ(*PluginGlobal<int32_t>(dll, "qel_plugin_record_was_zero"), 1);
  EXPECT_TRUE(gOpenedNames.empty());  // FFmpeg was not asked

  // The converter: the plug-in's PCM, 100 ms per Decode call.
  TRef<TWavConverter> c = TRef<TWavConverter>::Adopt(CreateMusicConverter(s.Get(), u"Tune.OGG", info));
  ASSERT_TRUE(dynamic_cast<TDllConverter*>(c.Get()));
  c->Stream = s.Get();
  ASSERT_TRUE(c->Open(info));
  EXPECT_EQ(*PluginGlobal<uint32_t>(dll, "qel_plugin_last_flags"), 0u);
  // The block that holds the end of the data answers false (the decoder
  // delivered nothing more); it is still copied, as the refill does.
  Bytes all;
  for (bool more = true; more;) {
    more = c->Read(4096);
    all.insert(all.end(), c->OutputBuffer->Data, c->OutputBuffer->Data + 4096);
    c->OutputBuffer->Consume(4096);
  }
  ASSERT_GE(all.size(), 176400u);
  for (size_t frame = 0; frame < 44100; frame += 7) {
    int16_t expected = (frame / 50) % 2 ? 8000 : -8000;
    int16_t l = int16_t(all[frame * 4] | (all[frame * 4 + 1] << 8));
    ASSERT_EQ(l, expected) << frame;
  }
  for (size_t i = 176400; i < all.size(); ++i) ASSERT_EQ(all[i], 0);

  // A seek goes to the plug-in, which may move the position.
  c->Seek(1234);
  EXPECT_DOUBLE_EQ(c->DecodedMs, 1200);
  int destroyed = *PluginGlobal<int32_t>(dll, "qel_plugin_destroyed");
  c = TRef<TWavConverter>();
  EXPECT_EQ(*PluginGlobal<int32_t>(dll, "qel_plugin_destroyed"), destroyed + 1);
  UnloadOggDecoder();
  EXPECT_EQ(DllInSlot(TDllSlot::Ogg), nullptr);
}

TEST_F(DllDecoders, PlugInLackingAnEntryIsRefused) {
  EXPECT_FALSE(LoadOggDecoder(PluginAs("qelogg.dll", QEL_TEST_PLUGIN_NOSEEK)));
  EXPECT_EQ(DllInSlot(TDllSlot::Ogg), nullptr);
  EXPECT_FALSE(LoadOggDecoder(u"Z:\\nowhere\\qelogg.dll"));
  // A Windows library carried in a show is no shared object.
  tree_.write("qelwin.dll", "MZ\x90\x00 not an ELF file");
  EXPECT_FALSE(LoadOggDecoder(tree_.internal("qelwin.dll")));
}

TEST_F(DllDecoders, WmaNeedsTheWindowsMediaRuntime) {
  EXPECT_FALSE(LoadWmaDecoder(PluginAs("qelwma.dll")));
  EXPECT_EQ(DllInSlot(TDllSlot::Wma), nullptr);
}

TEST_F(DllDecoders, OtherFormatsGoToFFmpegUnderADummyName) {
  SetFFMpegAudioBinding({FakeLoad, FakeCreate});
  auto s = TRef<TStream>::Adopt(StreamOf(ToneStream(44100, 2, 1000)));
  TMediaInfo info;
  for (const char16_t* name : {u"a.ogg", u"b.flac", u"c.WMA", u"d.ape?3"}) {
    SCOPED_TRACE(std::string(name, name + std::char_traits<char16_t>::length(name)));
    gOpenedNames.clear();
    ASSERT_TRUE(TMediaInfoExtractor::GetMediaInfo(s.Get(), name, info));
    EXPECT_EQ(info.FormatCode, mfcFFMpeg);
    EXPECT_EQ(info.Duration, 2500);
    EXPECT_TRUE(SameWaveFormat(info.Format, MusicOutputFormat));
    ASSERT_EQ(gOpenedNames.size(), 1u);
    std::u16string ext = MusicFileExt(name);
    EXPECT_EQ(gOpenedNames[0], u"qwe" + StripNameSuffix(ext));
  }
  // An Ogg plug-in that does not recognise the stream passes it on.
  ASSERT_TRUE(LoadOggDecoder(PluginAs("qelogg.dll")));
  auto bad = TRef<TStream>::Adopt(StreamOf(ToneStream(44100, 2, 1000, false)));
  gOpenedNames.clear();
  ASSERT_TRUE(TMediaInfoExtractor::GetMediaInfo(bad.Get(), u"x.ogg", info));
  EXPECT_EQ(info.FormatCode, mfcFFMpeg);
  EXPECT_EQ(gOpenedNames.size(), 1u);
  // Nothing opens it: not recognised.
  EXPECT_FALSE(TMediaInfoExtractor::GetMediaInfo(bad.Get(), u"x.none", info));
}

TEST_F(DllDecoders, FFmpegConverterAndItsAbsence) {
  TMediaInfo info{};
  info.FormatCode = mfcOgg;  // no Ogg plug-in loaded
  info.Format = MusicOutputFormat;
  auto s = TRef<TStream>::Adopt(StreamOf(Bytes(64, 0)));
  EXPECT_EQ(CreateMusicConverter(s.Get(), u"x.ogg", info), nullptr);  // FFmpeg not available
  info.FormatCode = mfcFFMpeg;
  EXPECT_EQ(CreateMusicConverter(s.Get(), u"x.flac", info), nullptr);

  SetFFMpegAudioBinding({FakeLoad, FakeCreate});
  info.FormatCode = mfcOgg;
  TRef<TWavConverter> c = TRef<TWavConverter>::Adopt(CreateMusicConverter(s.Get(), u"x.ogg", info));
  ASSERT_TRUE(dynamic_cast<TFFMpegConverter2*>(c.Get()));
  c->Stream = s.Get();
  ASSERT_TRUE(c->Open(info));
  std::vector<int16_t> seen;
  for (bool more = true; more;) {
    more = c->Read(4096);
    for (int i = 0; i < 4096; i += 2)
      seen.push_back(int16_t(c->OutputBuffer->Data[i] | (c->OutputBuffer->Data[i + 1] << 8)));
    c->OutputBuffer->Consume(4096);
  }
  ASSERT_GE(seen.size(), 3u * 4410 * 2);
  EXPECT_EQ(seen[0], 100);
  EXPECT_EQ(seen[4410 * 2], 200);
  EXPECT_EQ(seen[2 * 4410 * 2], 300);
  c->Seek(1500);
  ASSERT_EQ(gSeeks.size(), 1u);
  EXPECT_EQ(gSeeks[0], 1500000);
  EXPECT_DOUBLE_EQ(c->DecodedMs, 1500);

  info.FormatCode = mfcComposite;
  EXPECT_THROW(CreateMusicConverter(s.Get(), u"x", info), foundation::EAssertionFailed);
  info.FormatCode = mfcUnknown;
  EXPECT_THROW(CreateMusicConverter(s.Get(), u"x", info), foundation::EAssertionFailed);
}

TEST_F(DllDecoders, DecoderThatCannotStartEndsTheSourceAtOnce) {
  ASSERT_TRUE(LoadOggDecoder(PluginAs("qelogg.dll")));
  auto s = TRef<TStream>::Adopt(StreamOf(ToneStream(44100, 2, 1000, false)));  // CreateDecoder answers nil
  TMediaInfo info{};
  info.FormatCode = mfcOgg;
  info.Format = MusicOutputFormat;
  TRef<TWavConverter> c = TRef<TWavConverter>::Adopt(CreateMusicConverter(s.Get(), u"x.ogg", info));
  c->Stream = s.Get();
  EXPECT_TRUE(c->Open(info));
  EXPECT_FALSE(c->Read(4096));
  EXPECT_EQ(std::count(c->OutputBuffer->Data, c->OutputBuffer->Data + 4096, 0), 4096);
}
