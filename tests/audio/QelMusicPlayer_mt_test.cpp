// The show music player and its loader on their own threads, without an
// audio device: the show clock runs on the tick clock, a set time is handed
// to the player thread and waited for, and the player reports ready.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "audio/QelMusicPlayer.h"
#include "tests/audio/MusicFixture.h"

using foundation::TRef;

TEST(MusicPlayerThreads, WithoutADeviceTheShowRunsOnTheTickClock) {
  audio::CreatePlayerHook = nullptr;
  auto show = musictest::FixtureShow();
  TRef<audio::TQelMusicPlayer> player = TRef<audio::TQelMusicPlayer>::Adopt(new audio::TQelMusicPlayer(show.Get()));
  ASSERT_TRUE(player->Start());
  for (int i = 0; i < 2000 && !player->IsReady(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(player->IsReady());
  player->SetTime(7000, 20000);  // sent: handled on the player thread before it returns
  EXPECT_EQ(player->GetTime(), 7000);
  EXPECT_EQ(player->GetRequestedEndTime(), 20000);
  player->SetPlaying(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  double t = player->GetTime();
  EXPECT_GT(t, 7050);
  EXPECT_LT(t, 9000);
  EXPECT_TRUE(player->IsReady());
  player->SetPlaying(false);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  double paused = player->GetTime();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(player->GetTime(), paused);
  player->Stop();
  EXPECT_TRUE(player->Items.empty());
}
