// The show's music plan: the main playlist, the slides' comments with the
// length each may play, and the show-wide options.
#include <string>

#include <gtest/gtest.h>

#include "audio/CompositeDecoder.h"
#include "audio/QelMusicSource.h"
#include "tests/audio/MusicFixture.h"

using audio::TQelMusicSource;
using foundation::TRef;
using musictest::ParseIni;
using musictest::TTableShow;

namespace {

TRef<TQelMusicSource> plan(const std::string& text, std::vector<audio::TMusicSlideTimes> times, bool repeat = false) {
  auto ini = ParseIni(text);
  TRef<TTableShow> show = TRef<TTableShow>::Adopt(new TTableShow(ini.Get(), std::move(times), repeat));
  return TRef<TQelMusicSource>::Adopt(new TQelMusicSource(show.Get()));
}

std::string slides(int n, const std::string& extra = {}) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += "[Slide" + std::to_string(i) + "]\n" + (i == 2 ? extra : "");
  return s;
}

std::string comment(int duration) {
  return "object Music: Music\nobject TSoundComment: TSoundComment\nFileName=c.wav\nDuration=" +
         std::to_string(duration) + "\nend\nend\n";
}

}  // namespace

TEST(QelMusicSource, FixtureShowPlansItsMusicAndTheThirdSlidesComment) {
  auto show = musictest::FixtureShow();
  TRef<TQelMusicSource> p = TRef<TQelMusicSource>::Adopt(new TQelMusicSource(show.Get()));
  EXPECT_TRUE(p->Enabled);
  EXPECT_FALSE(p->SyncMode);
  EXPECT_TRUE(p->CutComments);
  EXPECT_FALSE(p->MainPlayList->IsRepeat);
  ASSERT_EQ(p->MainPlayList->Count, 1);
  EXPECT_EQ(p->MainPlayList->Items[0].Start, 0.0);
  EXPECT_EQ(p->MainPlayList->Items[0].Duration, 12000.0);
  EXPECT_EQ(p->MainPlayList->Items[0].FileName.substr(0, 36), audio::kCompositeId);
  ASSERT_EQ(p->GetSlideInfoCount(), 3);
  EXPECT_TRUE(p->GetSlideInfo(0)->SoundFile.empty());
  EXPECT_TRUE(p->GetSlideInfo(1)->SoundFile.empty());
  EXPECT_EQ(p->GetSlideInfo(2)->Duration, 2200.0);
  EXPECT_EQ(p->GetSlideInfo(2)->Times.Start, 8000.0);
  double abs = -1;
  EXPECT_EQ(p->GetSlideInfoAt(5, abs), p->GetSlideInfo(2));
  EXPECT_EQ(abs, 12000.0 + 8000.0);
  EXPECT_EQ(p->GetSlideInfoAt(-1, abs), nullptr);
  EXPECT_EQ(abs, 0.0);
}

TEST(QelMusicSource, WithoutMainMusicOrDisabled) {
  auto none = plan("[Main]\n" + slides(3, comment(1000)), {{0, 1000}, {1000, 5000}, {5000, 6000}});
  EXPECT_TRUE(none->Enabled);
  EXPECT_EQ(none->MainPlayList->Count, 0);
  EXPECT_EQ(none->GetSlideInfo(1)->Duration, 1000.0);

  auto disabled = plan("[Main]\nobject Music: Music\nmusic_disable=1\nend\n" + slides(3, comment(1000)),
                       {{0, 1000}, {1000, 5000}, {5000, 6000}});
  EXPECT_FALSE(disabled->Enabled);
  EXPECT_EQ(disabled->GetSlideInfoCount(), 0);
  EXPECT_EQ(disabled->MainPlayList->Count, 0);
}

TEST(QelMusicSource, SyncModeDropsARepeatTheShowHasNoRoomFor) {
  auto music = [](int ms) {
    return "[Main]\nopt_syncmode=1\nobject Music: Music\nobject TMusicOptions: TMusicOptions\nIsRepeat=1\nend\n"
           "object TMusicItem: TMusicItem\nFileName=m.mp3\nDuration=" +
           std::to_string(ms) + "\nend\nend\n[Slide1]\n";
  };
  auto tight = plan(music(59900), {{0, 60000}});
  EXPECT_TRUE(tight->SyncMode);
  EXPECT_FALSE(tight->MusicRepeat);
  EXPECT_FALSE(tight->MainPlayList->IsRepeat);
  auto roomy = plan(music(59700), {{0, 60000}});
  EXPECT_TRUE(roomy->MusicRepeat);
  EXPECT_TRUE(roomy->MainPlayList->IsRepeat);
}

TEST(QelMusicSource, CommentsMayPlayOnUntilTheNextCommentedSlide) {
  // Slide 2 has a long comment, slide 5 the next one.
  std::string text = "[Main]\nopt_fullyplaysound=1\n";
  for (int i = 1; i <= 6; ++i) text += "[Slide" + std::to_string(i) + "]\n" + (i == 2 || i == 5 ? comment(100000) : "");
  std::vector<audio::TMusicSlideTimes> times = {{0, 1000}, {1000, 3000}, {3000, 6000}, {6000, 10000}, {10000, 15000}, {15000, 21000}};
  auto full = plan(text, times);
  EXPECT_FALSE(full->CutComments);
  EXPECT_EQ(full->GetSlideInfo(1)->Duration, 10000.0 - 1000.0);  // to the end of slide 4
  EXPECT_EQ(full->GetSlideInfo(4)->Duration, 21000.0 - 10000.0);  // the last: to the show's end
  std::string cut = text;
  cut.replace(cut.find("opt_fullyplaysound=1"), 20, "opt_fullyplaysound=0");
  auto own = plan(cut, times);
  EXPECT_EQ(own->GetSlideInfo(1)->Duration, 2000.0);  // its own slide
}

TEST(QelMusicSource, PlaylistItemsRepeatShiftedByItsLength) {
  TRef<audio::TPlayList> list = TRef<audio::TPlayList>::Adopt(new audio::TPlayList(true));
  EXPECT_EQ(list->GetItem(3).FileName, u"");
  list->AddTrack(u"a", 4000);
  list->AddTrack(u"b", 6000);
  EXPECT_EQ(list->Length, 10000.0);
  audio::TMusicItemInfo five = list->GetItem(5);
  EXPECT_EQ(five.FileName, u"b");
  EXPECT_EQ(five.Start, 4000.0 + 20000.0);
  EXPECT_THROW(list->GetItem(-1), foundation::EAssertionFailed);
}

TEST(QelMusicSource, MissingSlideSectionIsAnAssertion) {
  EXPECT_THROW(plan("[Main]\n[Slide1]\n", {{0, 1000}, {1000, 2000}}), foundation::EAssertionFailed);
}

TEST(QelMusicSource, ASlidesVideoSoundIsItsCommentWithoutAMusicBlock) {
  auto p = plan("[Main]\n[Times]\nopt_slidescount=2\nopt_synchpos1=3000\n[Slide1]\n[Slide2]\nobject Container: Root\n"
                "object V: Video\nFileName=v.mp4\nDuration=1500\nStartQELTime=200\nend\nend\n",
                {{0, 3000}, {3000, 8000}});
  EXPECT_TRUE(p->GetSlideInfo(0)->SoundFile.empty());
  EXPECT_EQ(p->GetSlideInfo(1)->Duration, 1700.0);
  TRef<audio::TCompositeParams> c = TRef<audio::TCompositeParams>::Adopt(new audio::TCompositeParams);
  ASSERT_TRUE(c->Load(p->GetSlideInfo(1)->SoundFile));
  EXPECT_EQ(c->Items[0]->FileName, u"v.mp4");
  EXPECT_EQ(c->Items[0]->TimeLine, 200);
}
