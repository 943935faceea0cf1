// The show music player stepped by hand on the manual clock, with a
// recording device player installed through the player hook: which music and
// comments play at which show time, seeks, pauses, sync mode and repeats.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/CompositeDecoder.h"
#include "audio/QelMusicPlayer.h"
#include "platform/os/manual/Clock_manual.h"
#include "tests/audio/MusicFixture.h"

using audio::TQelMusicPlayer;
using foundation::TRef;
using musictest::ParseIni;
using musictest::TTableShow;

namespace {

struct Event {
  double time;       // show time
  std::string what;  // "play", "stop"
  std::string kind;  // "music" or "comment"
  int32_t position;  // the position the channel was made at
  bool operator==(const Event&) const = default;
};

TQelMusicPlayer* gPlayer = nullptr;
std::vector<Event>* gEvents = nullptr;
std::vector<std::u16string> gMusicNames;

std::string kindOf(const std::u16string& name) {
  for (const auto& m : gMusicNames)
    if (m == name) return "music";
  return "comment";
}

class FakeChannel : public audio::TChannel {
 public:
  FakeChannel(std::u16string name, int32_t duration, int32_t position)
      : Name(std::move(name)), Duration(duration), Position(position) {}
  audio::TMusicPlayer* GetPlayer() override { return nullptr; }
  std::u16string GetName() override { return Name; }
  float GetChannelVolume() override { return 1.0f; }
  void SetChannelVolume(float) override {}
  int32_t GetDuration() override { return Duration; }
  int32_t GetPosition() override { return Position; }
  bool SetPosition(int32_t ms) override {
    Position = ms;
    return true;
  }
  bool Play(int32_t) override {
    if (Playing) return false;
    Playing = true;
    gEvents->push_back({std::round(gPlayer->GetTime()), "play", kindOf(Name), Position});
    return true;
  }
  bool Stop(int32_t) override {
    if (!Playing) return false;
    Playing = false;
    gEvents->push_back({std::round(gPlayer->GetTime()), "stop", kindOf(Name), Position});
    return true;
  }
  bool IsPlaying() override { return Playing; }

  std::u16string Name;
  int32_t Duration;
  int32_t Position;
  bool Playing = false;
};

// Its clock is the manual os clock; channels last as long as their composite.
class FakePlayer : public audio::TMusicPlayer {
 public:
  bool IsReady() override { return true; }
  double GetClockTime() override { return static_cast<double>(platform::os::nowMs()); }
  audio::TChannel* CreateChannel(const std::u16string& name, int32_t positionMs) override {
    TRef<audio::TCompositeParams> p = TRef<audio::TCompositeParams>::Adopt(new audio::TCompositeParams);
    if (!p->Load(name)) return nullptr;
    return new FakeChannel(name, p->Duration, positionMs < 0 ? 0 : positionMs);
  }
};

audio::TMusicPlayer* MakeFakePlayer() { return new FakePlayer; }

class MusicPlayer : public ::testing::Test {
 protected:
  void SetUp() override {
    gEvents = &events_;
    audio::CreatePlayerHook = &MakeFakePlayer;
  }
  void TearDown() override {
    player_ = {};
    audio::CreatePlayerHook = nullptr;
    gPlayer = nullptr;
  }
  void open(TRef<TTableShow> show) {
    player_ = TRef<TQelMusicPlayer>::Adopt(new TQelMusicPlayer(show.Get()));
    gPlayer = player_.Get();
    gMusicNames.clear();
    for (const auto& item : player_->MusicSource->MainPlayList->Items) gMusicNames.push_back(item.FileName);
  }
  void step() {
    player_->RunStep();
    player_->Loader->RunStep();
  }
  // Runs the two threads' steps every 5 ms of virtual time.
  void run(int ms) {
    for (int i = 0; i < ms; i += 5) {
      clock_->advance(5);
      step();
    }
  }

  platform::os::ScopedManualClock clock_{100000};
  std::vector<Event> events_;
  TRef<TQelMusicPlayer> player_;
};

TRef<TTableShow> snippetShow(const std::string& text, std::vector<audio::TMusicSlideTimes> times, bool repeat) {
  auto ini = ParseIni(text);
  return TRef<TTableShow>::Adopt(new TTableShow(ini.Get(), std::move(times), repeat));
}

}  // namespace

TEST_F(MusicPlayer, FixtureShowMusicAndCommentPlayOnTime) {
  open(musictest::FixtureShow());
  EXPECT_EQ(player_->DevicePlayer != nullptr, true);
  step();
  step();
  EXPECT_TRUE(player_->IsReady());  // every channel opened while the clock stood
  EXPECT_TRUE(events_.empty());
  player_->SetPlaying(true);
  run(14000);
  // The main music is heard from the start (the sequence that is current
  // from creation does not stop itself), the comment with slide 3 until its
  // end, and the music ends with its 12 s.
  ASSERT_EQ(events_.size(), 4u);
  EXPECT_EQ(events_[0].what, "play");
  EXPECT_EQ(events_[0].kind, "music");
  EXPECT_LE(events_[0].time, 10);
  EXPECT_EQ(events_[1].what, "play");
  EXPECT_EQ(events_[1].kind, "comment");
  EXPECT_NEAR(events_[1].time, 8000, 5);
  EXPECT_EQ(events_[2], (Event{events_[2].time, "stop", "comment", 0}));
  EXPECT_NEAR(events_[2].time, 8000 + 2200 - 10, 5);
  EXPECT_EQ(events_[3].what, "stop");
  EXPECT_EQ(events_[3].kind, "music");
  EXPECT_NEAR(events_[3].time, 12000, 5);
  EXPECT_NEAR(player_->GetTime(), 14000, 5);
  EXPECT_TRUE(player_->Items.empty());  // the finished sequence and comment are freed
}

TEST_F(MusicPlayer, ASeekStartsARunningCommentPartWayAndPausesStopIt) {
  open(musictest::FixtureShow());
  player_->SetTime(9000, -1);
  EXPECT_FALSE(player_->IsReady());
  step();
  step();
  EXPECT_TRUE(player_->IsReady());
  player_->SetPlaying(true);
  run(500);
  // The free-running music kept its own clock (started at its position 0);
  // the comment of slide 3 (8000-10200) starts 1000 ms into its file.
  ASSERT_GE(events_.size(), 2u);
  EXPECT_EQ(events_[0].kind, "music");
  EXPECT_EQ(events_[1], (Event{events_[1].time, "play", "comment", 1000}));
  EXPECT_NEAR(events_[1].time, 9000, 10);
  player_->SetPlaying(false);  // the comment pauses with the show; the music runs on
  run(100);
  ASSERT_EQ(events_.size(), 3u);
  EXPECT_EQ(events_[2].what, "stop");
  EXPECT_EQ(events_[2].kind, "comment");
  double paused = player_->GetTime();
  run(1000);
  EXPECT_NEAR(player_->GetTime(), paused, 0.5);  // the clock stands
  player_->SetPlaying(true);
  run(100);
  ASSERT_EQ(events_.size(), 4u);
  EXPECT_EQ(events_[3].what, "play");
  EXPECT_EQ(events_[3].kind, "comment");
}

TEST_F(MusicPlayer, EndTimeCapsTheClock) {
  open(musictest::FixtureShow());
  player_->SetTime(-1, 5000);
  EXPECT_EQ(player_->GetRequestedEndTime(), 5000);
  player_->SetPlaying(true);
  run(6000);
  EXPECT_EQ(player_->GetTime(), 5000);
}

TEST_F(MusicPlayer, SyncModeMakesOneSequencePerPassAndRestartsTheMusic) {
  const std::string text =
      "[Main]\nopt_syncmode=1\nobject Music: Music\nobject TMusicOptions: TMusicOptions\nIsRepeat=1\nend\n"
      "object TMusicItem: TMusicItem\nFileName=m.mp3\nDuration=50000\nend\nend\n[Slide1]\n[Slide2]\n";
  open(snippetShow(text, {{0, 30000}, {30000, 60000}}, true));
  int sequences = 0;
  for (auto* item : player_->Items) sequences += dynamic_cast<audio::TPlaySequence*>(item) != nullptr;
  EXPECT_EQ(sequences, 1);  // pass 0, once
  player_->SetPlaying(true);
  run(125000);
  std::vector<std::pair<std::string, double>> got;
  for (const Event& e : events_) got.push_back({e.what, e.time});
  // Pass 0: the music at 0, its repeat at 50 s; pass 1 restarts it at 60 s,
  // stopping pass 0's; and again at 120 s.
  ASSERT_EQ(got.size(), 9u);
  const std::pair<std::string, double> expected[] = {{"play", 0},      {"stop", 50000}, {"play", 50000},
                                                     {"stop", 60000},  {"play", 60000}, {"stop", 110000},
                                                     {"play", 110000}, {"stop", 120000}, {"play", 120000}};
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].first, expected[i].first) << i;
    EXPECT_NEAR(got[i].second, expected[i].second, 10) << i;
  }
}

TEST_F(MusicPlayer, CommentsPlayOncePerPassAndNeverPastTheEndOfAShowThatStops) {
  std::string text = "[Main]\n[Slide1]\n[Slide2]\nobject Music: Music\nobject TSoundComment: TSoundComment\n"
                     "FileName=c.wav\nDuration=1000\nend\nend\n";
  open(snippetShow(text, {{0, 2000}, {2000, 4000}}, false));
  player_->SetPlaying(true);
  run(12000);
  int plays = 0;
  for (const Event& e : events_) plays += e.what == "play";
  EXPECT_EQ(plays, 1);
  EXPECT_EQ(player_->Items.size(), 0u);

  events_.clear();
  open(snippetShow(text, {{0, 2000}, {2000, 4000}}, true));
  player_->SetPlaying(true);
  run(12000);
  std::vector<double> starts;
  for (const Event& e : events_)
    if (e.what == "play") starts.push_back(e.time);
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_NEAR(starts[0], 2000, 5);
  EXPECT_NEAR(starts[1], 6000, 5);
  EXPECT_NEAR(starts[2], 10000, 5);
}

TEST(MusicPlayerWithoutDevice, RunsOnTheTickClockAndIsReady) {
  platform::os::ScopedManualClock clock(50000);
  audio::CreatePlayerHook = nullptr;
  auto show = musictest::FixtureShow();
  TRef<TQelMusicPlayer> player = TRef<TQelMusicPlayer>::Adopt(new TQelMusicPlayer(show.Get()));
  EXPECT_EQ(player->DevicePlayer, nullptr);
  EXPECT_EQ(player->GetVolume(), 0.0);
  player->RunStep();
  player->Loader->RunStep();
  player->RunStep();
  EXPECT_TRUE(player->IsReady());
  player->SetPlaying(true);
  for (int i = 0; i < 200; ++i) {
    clock->advance(5);
    player->RunStep();
    player->Loader->RunStep();
  }
  EXPECT_NEAR(player->GetTime(), 1000, 5);
  EXPECT_TRUE(player->IsReady());
}
