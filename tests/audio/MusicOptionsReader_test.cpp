// The music options reader: music blocks of the project become composite
// descriptions with the item times and envelopes the cross-fades, pauses,
// links, fades, volumes and curves call for.
#include <string>

#include <gtest/gtest.h>

#include "audio/CompositeDecoder.h"
#include "audio/MusicOptionsReader.h"
#include "tests/audio/MusicFixture.h"

using audio::TCompositeParams;
using audio::TMusicOptionsReader;
using audio::TVideoAudio;
using foundation::TRef;
using musictest::ParseIni;

namespace {

struct Pt {
  int32_t t, v;
  bool operator==(const Pt&) const = default;
};

std::vector<Pt> points(const audio::TCompositeItem* item, int envelope) {
  std::vector<Pt> out;
  for (const audio::TVolumeItem& p : item->Envelopes->Envelopes[static_cast<size_t>(envelope)]->Points)
    out.push_back({p.Time, p.Volume});
  return out;
}

TRef<TCompositeParams> decode(const std::u16string& name) {
  TRef<TCompositeParams> p = TRef<TCompositeParams>::Adopt(new TCompositeParams);
  EXPECT_TRUE(p->Load(name));
  return p;
}

// Reads the "Music" block of [Main] in a project made of the given text.
struct Read {
  TRef<foundation::TIniFile> ini;
  TRef<TMusicOptionsReader> reader;
  explicit Read(const std::string& text, int32_t allowed = 0, const char* section = "Main") {
    ini = ParseIni(text);
    reader = TRef<TMusicOptionsReader>::Adopt(new TMusicOptionsReader(ini.Get(), nullptr));
    reader->AllowedLength = allowed;
    std::string s(section);
    reader->ReadMusic(musictest::MusicBlock(ini.Get(), std::u16string(s.begin(), s.end())), {}, true);
  }
};

std::string item(const std::string& keys) { return "object TMusicItem: TMusicItem\n" + keys + "end\n"; }

}  // namespace

TEST(MusicOptionsReader, FixtureShowMainMusicIsOneFadedItem) {
  auto ini = ParseIni(musictest::FixtureProject());
  TRef<TMusicOptionsReader> r = TRef<TMusicOptionsReader>::Adopt(new TMusicOptionsReader(ini.Get(), nullptr));
  EXPECT_EQ(r->SlideCount, 3);
  EXPECT_EQ(r->SlideStarts, (std::vector<int32_t>{0, 4000, 8000}));
  r->ReadMusic(musictest::MusicBlock(ini.Get(), u"Main"), {}, true);
  EXPECT_EQ(r->MusicDuration, 12000);
  EXPECT_FALSE(r->IsRepeat);
  EXPECT_TRUE(r->CommentName.empty());
  auto p = decode(r->MusicName);
  EXPECT_EQ(p->Duration, 12000);
  ASSERT_EQ(p->Items.size(), 1u);
  EXPECT_EQ(p->Items[0]->FileName, u"audio\\music.mp3");
  EXPECT_EQ(p->Items[0]->TimeLine, 0);
  EXPECT_EQ(p->Items[0]->Duration, 12000);
  ASSERT_EQ(p->Items[0]->Envelopes->Count(), 1);
  EXPECT_EQ(points(p->Items[0], 0), (std::vector<Pt>{{0, 0}, {500, 800}, {10500, 800}, {12000, 0}}));

  // Slide 3's comment: 200 ms after the slide's start, 2000 ms long.
  r->ReadMusic(musictest::MusicBlock(ini.Get(), u"Slide3"), {}, false);
  EXPECT_TRUE(r->MusicName.empty());
  EXPECT_EQ(r->CommentDuration, 2200);
  auto c = decode(r->CommentName);
  ASSERT_EQ(c->Items.size(), 1u);
  EXPECT_EQ(c->Items[0]->FileName, u"audio\\comment.wav");
  EXPECT_EQ(c->Items[0]->TimeLine, 200);
  EXPECT_EQ(c->Items[0]->Duration, 2000);
  EXPECT_EQ(c->Items[0]->Envelopes->Count(), 0);  // volume 100, no fades
}

TEST(MusicOptionsReader, CrossFadePauseAndLayeredTracks) {
  // A cross-fade of 2000 ms between two 30 s items.
  Read cross("[Main]\nobject Music: Music\nobject TMusicTrack: TMusicTrack\n" +
             item("FileName=a.mp3\nDuration=30000\n") + item("FileName=b.mp3\nDuration=30000\nCrossMode=0\nCross=2000\n") +
             "end\nend\n");
  auto p = decode(cross.reader->MusicName);
  ASSERT_EQ(p->Items.size(), 2u);
  EXPECT_EQ(p->Items[1]->TimeLine, 28000);
  EXPECT_EQ(points(p->Items[0], 0), (std::vector<Pt>{{28000, 1000}, {30000, 0}}));
  EXPECT_EQ(points(p->Items[1], 0), (std::vector<Pt>{{0, 0}, {2000, 1000}}));
  EXPECT_EQ(cross.reader->MusicDuration, 58000);

  // A 1500 ms pause after a 10 s item.
  Read pause("[Main]\nobject Music: Music\n" + item("FileName=a.mp3\nDuration=10000\n") +
             item("FileName=b.mp3\nDuration=5000\nCrossMode=1\nPause=1500\n") + "end\n");
  p = decode(pause.reader->MusicName);
  ASSERT_EQ(p->Items.size(), 2u);
  EXPECT_EQ(p->Items[1]->TimeLine, 11500);
  EXPECT_EQ(pause.reader->MusicDuration, 16500);

  // Two tracks are layered: both start at 0; the longer one sets the length;
  // a muted track is left out.
  Read tracks("[Main]\nobject Music: Music\nobject TMusicTrack: TMusicTrack\n" + item("FileName=a.mp3\nDuration=40000\n") +
              "end\nobject TMusicTrack: TMusicTrack\n" + item("FileName=b.mp3\nDuration=55000\n") +
              "end\nobject TMusicTrack: TMusicTrack\nIsMute=1\n" + item("FileName=c.mp3\nDuration=90000\n") +
              "end\nobject TMusicOptions: TMusicOptions\nIsRepeat=1\nend\nend\n");
  p = decode(tracks.reader->MusicName);
  ASSERT_EQ(p->Items.size(), 2u);
  EXPECT_EQ(p->Items[0]->TimeLine, 0);
  EXPECT_EQ(p->Items[1]->TimeLine, 0);
  EXPECT_EQ(p->Duration, 55000);
  EXPECT_TRUE(tracks.reader->IsRepeat);
}

TEST(MusicOptionsReader, ItemLinkedToASlideStartsWithItAndCutsThePrevious) {
  const std::string times =
      "[Times]\nopt_slidescount=4\nopt_synchpos1=5000\nopt_synchpos2=12000\nopt_synchpos3=20000\n"
      "[Slide3]\nLinkedAudio={L1}\n";
  // The linked item asks for a 2 s cross-fade, which its own reading drops:
  // it starts at the slide's start, and the previous item ends there.
  Read r(times + "[Main]\nobject Music: Music\n" + item("FileName=a.mp3\nDuration=30000\nFadeOut=1000\n") +
         item("FileName=b.mp3\nDuration=10000\nCrossMode=0\nCross=2000\nGUID={L1}\n") + "end\n");
  auto p = decode(r.reader->MusicName);
  ASSERT_EQ(p->Items.size(), 2u);
  EXPECT_EQ(p->Items[0]->Duration, 12000);  // cut to end by the linked start (slide 3 at 12,000)
  EXPECT_EQ(points(p->Items[0], 0), (std::vector<Pt>{{11000, 1000}, {12000, 0}}));
  EXPECT_EQ(p->Items[1]->TimeLine, 12000);
  EXPECT_EQ(p->Items[1]->Envelopes->Count(), 0);  // no cross-fade envelope
  EXPECT_EQ(r.reader->MusicDuration, 22000);

  // A link to a slide that does not exist leaves the item unlinked.
  Read unlinked("[Times]\nopt_slidescount=2\nopt_synchpos1=5000\n[Slide3]\nLinkedAudio={L1}\n[Main]\nobject Music: Music\n" +
                item("FileName=a.mp3\nDuration=30000\n") + item("FileName=b.mp3\nDuration=10000\nGUID={L1}\n") + "end\n");
  p = decode(unlinked.reader->MusicName);
  EXPECT_EQ(p->Items[1]->TimeLine, 30000);
}

TEST(MusicOptionsReader, CommentEndsByTheAllowedLength) {
  const std::string block = "[Slide1]\nobject Music: Music\nobject TSoundComment: TSoundComment\n"
                            "FileName=c.wav\nPause=500\nDuration=8000\nFadeOut=1000\nend\nend\n";
  Read limited(block, 6000, "Slide1");
  EXPECT_EQ(limited.reader->CommentDuration, 6000);
  auto c = decode(limited.reader->CommentName);
  ASSERT_EQ(c->Items.size(), 1u);
  EXPECT_EQ(c->Items[0]->TimeLine, 500);
  EXPECT_EQ(c->Items[0]->Duration, 5500);
  EXPECT_EQ(points(c->Items[0], 0), (std::vector<Pt>{{4500, 1000}, {5500, 0}}));  // the fade-out ends with it

  Read free(block, 0, "Slide1");
  EXPECT_EQ(free.reader->CommentDuration, 8500);
  c = decode(free.reader->CommentName);
  EXPECT_EQ(c->Items[0]->Duration, 8000);

  Read error("[Slide1]\nobject Music: Music\nobject TSoundComment: TSoundComment\nFileName=ERROR\nDuration=800\nend\nend\n",
             0, "Slide1");
  EXPECT_TRUE(error.reader->CommentName.empty());
  EXPECT_EQ(error.reader->CommentDuration, 0);
}

TEST(MusicOptionsReader, VolumeCurveAndVolumes) {
  Read r("[Main]\nobject Music: Music\n" +
         item("FileName=a.mp3\nDuration=3000\nVolumeParams=0:65536,44100:32768\n") +
         item("FileName=b.mp3\nDuration=2000\nVolume=0\n") + item("FileName=c.mp3\nDuration=1000\nVolume=50\n") + "end\n");
  auto p = decode(r.reader->MusicName);
  ASSERT_EQ(p->Items.size(), 2u);  // the silent item is dropped, its time kept
  EXPECT_EQ(points(p->Items[0], 0), (std::vector<Pt>{{0, 1000}, {1000, 500}}));
  EXPECT_EQ(p->Items[1]->FileName, u"c.mp3");
  EXPECT_EQ(p->Items[1]->TimeLine, 5000);
  EXPECT_EQ(points(p->Items[1], 0), (std::vector<Pt>{{0, 500}, {1000, 500}}));

  // A curve relative to the item's start in the file, cut at its duration by
  // the interpolated value; times made strictly increasing.
  foundation::TRef<audio::TVolumeParams> e = foundation::TRef<audio::TVolumeParams>::Adopt(new audio::TVolumeParams);
  audio::AddVolumeCurve(e.Get(), u"44100:65536,44100:0,132300:0", 500, 1000);
  std::vector<Pt> got;
  for (auto& q : e->Points) got.push_back({q.Time, q.Volume});
  EXPECT_EQ(got, (std::vector<Pt>{{500, 1000}, {501, 0}, {1000, 0}}));
}

TEST(MusicOptionsReader, RandomTracksShareOneOrderUnlessForbidden) {
  const std::string track = "object TMusicTrack: TMusicTrack\nIsRandom=1\n" + item("FileName=1.mp3\nDuration=10\n") +
                            item("FileName=2.mp3\nDuration=10\n") + item("FileName=3.mp3\nDuration=10\n") + "end\n";
  auto ini = ParseIni("[Main]\nobject Music: Music\n" + track + track + "end\n");
  TRef<TMusicOptionsReader> r = TRef<TMusicOptionsReader>::Adopt(new TMusicOptionsReader(ini.Get(), nullptr));
  uint32_t values[] = {300, 100, 200, 900, 800, 700};
  size_t next = 0;
  r->Random = [&] { return values[next++ % 6]; };
  r->ReadMusic(musictest::MusicBlock(ini.Get(), u"Main"), {}, false);
  auto p = decode(r->MusicName);
  ASSERT_EQ(p->Items.size(), 6u);
  // Keys 301, 101, 201 give the order 2, 3, 1; the second track takes the
  // next keys (901, 801, 701): 3, 2, 1.
  std::u16string first, second;
  for (int i = 0; i < 3; ++i) first += p->Items[i]->FileName.substr(0, 1);
  for (int i = 3; i < 6; ++i) second += p->Items[i]->FileName.substr(0, 1);
  EXPECT_EQ(first, u"231");
  EXPECT_EQ(second, u"321");
  // A second read restarts the key counter over the kept keys: the same order.
  r->ReadMusic(musictest::MusicBlock(ini.Get(), u"Main"), {}, false);
  auto again = decode(r->MusicName);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(again->Items[i]->FileName, p->Items[i]->FileName);
  r->ReadMusic(musictest::MusicBlock(ini.Get(), u"Main"), {}, true);
  auto plain = decode(r->MusicName);
  EXPECT_EQ(plain->Items[0]->FileName, u"1.mp3");
}

TEST(MusicOptionsReader, VideoSoundsJoinTheComment) {
  auto ini = ParseIni("[Slide1]\nobject Music: Music\nobject TSoundComment: TSoundComment\nFileName=c.wav\nDuration=3000\nend\nend\n");
  TRef<TMusicOptionsReader> r = TRef<TMusicOptionsReader>::Adopt(new TMusicOptionsReader(ini.Get(), nullptr));
  std::vector<TVideoAudio> video = {{u"clip.mp4", 1000, 2000, 4000, 1.0f}, {u"quiet.mp4", 0, 0, 500, 0.5f}};
  r->ReadMusic(musictest::MusicBlock(ini.Get(), u"Slide1"), video, false);
  EXPECT_EQ(r->CommentDuration, 5000);
  auto c = decode(r->CommentName);
  ASSERT_EQ(c->Items.size(), 3u);
  EXPECT_EQ(c->Items[1]->FileName, u"clip.mp4");
  EXPECT_EQ(c->Items[1]->TimeLine, 1000);
  EXPECT_EQ(c->Items[1]->BeginTime, 2000u);
  EXPECT_EQ(c->Items[1]->Envelopes->Count(), 0);
  EXPECT_EQ(points(c->Items[2], 0), (std::vector<Pt>{{0, 500}, {500, 500}}));
  // Without a block only the videos make the comment.
  r->ReadMusic(nullptr, video, false);
  EXPECT_EQ(r->CommentDuration, 5000);
  EXPECT_EQ(decode(r->CommentName)->Items.size(), 2u);
}

TEST(MusicOptionsReader, VideoSoundsOfASlideAreCollectedFromItsObjectsAndClips) {
  auto ini = ParseIni(
      "[Main]\nopt_repeat=close\n[Times]\nopt_slidescount=3\nopt_synchpos1=4000\nopt_synchpos2=10000\n"
      "[Tracks]\nobject T: Track\nobject C1: VideoClip\nClipGUID={C1}\nFileName=clip.mp4\nDuration=9000.4\n"
      "StartVideoTime=1500\nStartQELTime=250\nStartSlideIdx=1\nend\n"
      "object C2: VideoClip\nClipGUID={C2}\nFileName=early.mp4\nDuration=5000\nStartSlideIdx=0\nend\nend\n"
      "[Slide2]\nobject Container: Root\n"
      "object V1: Video\nFileName=own.mp4\nDuration=20000\nStartQELTime=1000\nStartVideoTime=300\nend\n"
      "object V2: Video\nClipGUID={C1}\nend\n"
      "object V3: Video\nClipGUID={C1}\nend\n"
      "object V4: Video\nFileName=muted.mp4\nMute=1\nDuration=100\nend\n"
      "object V5: Video\nFileName=fast.mp4\nFPSMultiplier=2\nDuration=100\nend\n"
      "object V6: Video\nFileName=anim.GIF\nDuration=100\nend\n"
      "object V7: Video\nClipGUID={C2}\nend\n"
      "object V8: Video\nFileName=disk.mp4\nLoadFromDisk=1\nDuration=500\n"
      "object KeyPoint: KeyPoint\nobject V9: Video\nFileName=hidden.mp4\nDuration=100\nend\nend\nend\n"
      "end\n");
  audio::TTransitionTimes effects;
  effects.Count = 3;
  effects.Time = [](int32_t i) { return 1000 * (i + 1); };
  std::vector<TVideoAudio> got =
      audio::CollectVideoAudio(ini.Get(), effects, foundation::TIniFile::FindSection(ini.Get(), u"Slide2"));
  ASSERT_EQ(got.size(), 3u);
  // The slide spans 4000-10000 plus the transition out of it (index 2: 3000),
  // 9000 ms: the video's own 20 s is cut to 9000 - 1000.
  EXPECT_EQ(got[0].FileName, u"own.mp4");
  EXPECT_EQ(got[0].Start, 1000);
  EXPECT_EQ(got[0].Offset, 300);
  EXPECT_EQ(got[0].Duration, 8000);
  // The clip that starts on this slide, once; the clip of slide 0 began earlier.
  EXPECT_EQ(got[1].FileName, u"clip.mp4");
  EXPECT_EQ(got[1].Start, 250);
  EXPECT_EQ(got[1].Offset, 1500);
  EXPECT_EQ(got[1].Duration, 9000);
  EXPECT_EQ(got[2].FileName, u"LoadFromDisk:disk.mp4");
  // Not a slide section: no span, so an own video keeps no length.
  auto other = audio::CollectVideoAudio(ini.Get(), effects, foundation::TIniFile::FindSection(ini.Get(), u"Tracks"));
  EXPECT_TRUE(other.empty());
}

TEST(MusicOptionsReader, AHugeSlideCountIsBoundedByTheSlidesThereAre) {
  auto ini = ParseIni("[Times]\nopt_slidescount=2000000000\nopt_synchpos1=500\n[Slide1]\n[Slide2]\nLinkedAudio={A}\n");
  TRef<TMusicOptionsReader> r = TRef<TMusicOptionsReader>::Adopt(new TMusicOptionsReader(ini.Get(), nullptr));
  EXPECT_LE(r->SlideCount, 3);
  EXPECT_EQ(r->SlideStarts[1], 500);
}
