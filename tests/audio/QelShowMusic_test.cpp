// The show source answering the show music: slide times of every pass,
// slide sections, repeat, and the show's entries, from a preview project.
#include "audio/QelShowMusic.h"

#include <gtest/gtest.h>

#include "AudioTestEnv.h"
#include "container/kvQelLoader2.h"
#include "tests/support/TempTree.h"

using foundation::TRef;

TEST(QelShowMusic, TheShowSourceAnswersTheMusicPlan) {
  showmodel::InitQelSource();
  for (bool repeat : {true, false}) {
    qeltest::TempTree t;
    t.write("Project.qel", std::string("\xEF\xBB\xBF[Main]\r\nopt_repeat=") + (repeat ? "repeat" : "stop") +
                               "\r\n[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=5000\r\nopt_synchpos2=9000\r\n"
                               "[Slide1]\r\nPicture=a.jpg\r\n[Slide2]\r\nPicture=b.jpg\r\n");
    t.write("song.bin", "0123456789");
    TRef<container::TQelShowLocator> locator =
        TRef<container::TQelShowLocator>::Adopt(container::OpenPreviewProject(t.internal("Project.qel")));
    ASSERT_TRUE(locator);
    TRef<audio::TQelShowMusic> show =
        TRef<audio::TQelShowMusic>::Adopt(new audio::TQelShowMusic(locator->GetSource()));
    EXPECT_EQ(show->GetIni(), locator->ProjectIni);
    EXPECT_EQ(show->GetSlideCount(), 2);
    EXPECT_EQ(show->ShowLength(), 9000);
    EXPECT_EQ(show->IsRepeat(), repeat);
    audio::TMusicSlideTimes second = show->GetSlideTimes(1);
    EXPECT_EQ(second.Start, 5000);
    EXPECT_EQ(second.End, 9000);
    audio::TMusicSlideTimes thirdPass = show->GetSlideTimes(4);  // slide 1 of the third pass
    EXPECT_EQ(thirdPass.Start, 18000);
    EXPECT_EQ(thirdPass.End, 23000);
    foundation::TIniList* section = show->GetSlideSection(2);
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(foundation::TIniList::ReadString(section, u"Picture", u""), u"b.jpg");
    EXPECT_EQ(show->GetSlideSection(0), nullptr);
    foundation::TStream* entry = show->OpenEntry(t.internal("song.bin"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->GetSize(), 10);
    entry->Free();
    EXPECT_EQ(show->OpenEntry(t.internal("missing.bin")), nullptr);
  }
}
