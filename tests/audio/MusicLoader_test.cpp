// The music loader's opening of channels (ends capped by the file's length
// only when that is known) and the start-up of decoder plug-ins carried by a
// show.
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "AudioTestEnv.h"
#include "audio/DllDecoders.h"
#include "audio/MusicLoader.h"
#include "audio/MusicTrace.h"
#include "foundation/kvIni.h"
#include "foundation/kvTempFolders.h"
#include "tests/support/AudioFixtures.h"
#include "tests/support/TempTree.h"

using audio::TChannelContainer;
using audio::TMusicLoader;
using audio::TQelChannel;
using foundation::TRef;

namespace {

class LengthChannel : public audio::TChannel {
 public:
  explicit LengthChannel(int32_t duration) : Duration(duration) {}
  audio::TMusicPlayer* GetPlayer() override { return nullptr; }
  std::u16string GetName() override { return u"x"; }
  float GetChannelVolume() override { return 1.0f; }
  void SetChannelVolume(float) override {}
  int32_t GetDuration() override { return Duration; }
  int32_t GetPosition() override { return 0; }
  bool SetPosition(int32_t) override { return true; }
  bool Play(int32_t) override { return true; }
  bool Stop(int32_t) override { return true; }
  bool IsPlaying() override { return false; }
  int32_t Duration;
};

// Channels named by their length in ms ("-1": FFmpeg could not tell).
class LengthPlayer : public audio::TMusicPlayer {
 public:
  bool IsReady() override { return true; }
  double GetClockTime() override { return 0.0; }
  audio::TChannel* CreateChannel(const std::u16string& name, int32_t) override {
    std::string n(name.begin(), name.end());
    return new LengthChannel(std::stoi(n));
  }
};

}  // namespace

TEST(MusicLoader, AChannelEndsWithItsFileOnlyWhenTheFileLengthIsKnown) {
  TRef<LengthPlayer> player = TRef<LengthPlayer>::Adopt(new LengthPlayer);
  TRef<foundation::TThreadEventList> answers =
      TRef<foundation::TThreadEventList>::Adopt(new foundation::TThreadEventList);
  TRef<TMusicLoader> loader = TRef<TMusicLoader>::Adopt(new TMusicLoader(player.Get(), answers.Get()));
  struct Case {
    const char16_t* length;
    int32_t offset;
    double start, end, expectedEnd;
  };
  const Case cases[] = {
      {u"5000", 3000, 10000, 20000, 12000},  // 2000 ms of file left after the offset
      {u"5000", 0, 10000, 12000, 12000},     // ends before the file does
      {u"-1", 3000, 10000, 20000, 20000},    // length unknown: the end stays
  };
  for (const Case& c : cases) {
    TRef<TQelChannel> channel = TRef<TQelChannel>::Adopt(new TQelChannel(nullptr));
    channel->FileName = c.length;
    channel->FileOffset = c.offset;
    channel->StartTime = c.start;
    channel->EndTime = c.end;
    channel->OwnerId = 1;
    loader->EventList()->Post(audio::kLoaderOpenChannel, new TChannelContainer(channel.Get()));
    loader->RunStep();
    ASSERT_NE(channel->DeviceChannel, nullptr);
    EXPECT_EQ(channel->EndTime, c.expectedEnd) << "length " << std::string(c.length, c.length + 4);
    EXPECT_EQ(answers->QueuedCount(), 1);
    answers->Close();
    answers->Open();
  }
}

namespace {

class Plugins : public ::testing::Test {
 protected:
  void SetUp() override {
    audio::InitDllDecoders();
    log_ = audio::MusicTraceLog();
    old_ = log_->OutputHandler;
    log_->OutputHandler = foundation::MethodOf<&Plugins::Add>(this);
    std::ifstream built(QEL_TEST_PLUGIN, std::ios::binary);
    plugin_.assign(std::istreambuf_iterator<char>(built), {});
    ini_ = TRef<foundation::TIniFile>::Adopt(new foundation::TIniFile);
  }
  void TearDown() override {
    audio::StopPlugins();
    log_->OutputHandler = old_;
    audio::DoneDllDecoders();
  }
  void Add(const std::u16string& line) { lines_.push_back(line); }
  void Set(const char16_t* key, const char16_t* value) {
    foundation::TIniList::WriteString(foundation::TIniFile::ForceSection(ini_.Get(), u"Main"), key, value);
  }
  audio::TShowEntryOpener Opener() {
    return [this](const std::u16string& name) -> foundation::TStream* {
      auto it = entries_.find(name);
      return it == entries_.end() ? nullptr : audio_test::StreamOf(it->second);
    };
  }
  static std::string Disk(const std::u16string& internal) {
    std::string s;
    for (char16_t c : internal.substr(2)) s.push_back(c == u'\\' ? '/' : static_cast<char>(c));
    return s;
  }

  foundation::TLog* log_ = nullptr;
  foundation::TLogOutput old_;
  std::vector<std::u16string> lines_;
  std::vector<uint8_t> plugin_;
  std::map<std::u16string, std::vector<uint8_t>> entries_;
  TRef<foundation::TIniFile> ini_;
};

}  // namespace

TEST_F(Plugins, ACarriedPluginIsWrittenToTheWorkFolderAndStarted) {
  entries_[u"codecs\\ogg.bin"] = plugin_;
  Set(u"opt_oggpath", u"codecs\\ogg.bin");
  audio::StartPlugins(Opener(), ini_.Get());
  std::u16string folder = audio::PluginWorkFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(audio::StartedOggPlugin(), folder + u"qelogg.dll");
  EXPECT_EQ(std::filesystem::file_size(Disk(audio::StartedOggPlugin())), plugin_.size());
  EXPECT_NE(audio::DllInSlot(audio::TDllSlot::Ogg), nullptr);
  EXPECT_TRUE(audio::StartedWmaPlugin().empty());
  EXPECT_TRUE(lines_.empty());
  audio::StopPlugins();
  EXPECT_FALSE(std::filesystem::exists(Disk(folder))) << "the work folder goes with the plug-ins";
  EXPECT_EQ(audio::DllInSlot(audio::TDllSlot::Ogg), nullptr);
}

TEST_F(Plugins, APluginThatDoesNotStartIsForgottenAndTraced) {
  entries_[u"wma.bin"] = std::vector<uint8_t>(512, 0x4D);
  Set(u"opt_wmapath", u"wma.bin");
  audio::StartPlugins(Opener(), ini_.Get());
  EXPECT_TRUE(audio::StartedWmaPlugin().empty());
  EXPECT_FALSE(audio::PluginWorkFolder().empty());
  EXPECT_EQ(lines_, std::vector<std::u16string>{u"WMA INITIALIZE FAILED"});
  // Once per process: a second show does not try again.
  audio::StartPlugins(Opener(), ini_.Get());
  EXPECT_EQ(lines_.size(), 1u);
}

TEST_F(Plugins, AMissingEntryOrNoOptionStartsNothingAndMakesNoFolder) {
  Set(u"opt_wmapath", u"absent.bin");
  Set(u"opt_oggpath", u"");
  audio::StartPlugins(Opener(), ini_.Get());
  EXPECT_TRUE(audio::PluginWorkFolder().empty());
  EXPECT_TRUE(audio::StartedWmaPlugin().empty());
  EXPECT_TRUE(audio::StartedOggPlugin().empty());
  EXPECT_TRUE(lines_.empty());
}
