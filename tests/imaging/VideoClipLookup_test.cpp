#include <gtest/gtest.h>

#include <string>

#include "ImagingTestEnv.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "imaging/ShadowGenerator2.h"

using namespace imaging;
using foundation::TIniFile;
using foundation::TRef;

namespace {

TRef<TIniFile> Load(const std::string& text) {
  auto ini = TRef<TIniFile>::Adopt(new TIniFile);
  foundation::LoadIniFromBytes(ini.Get(), std::vector<uint8_t>(text.begin(), text.end()));
  return ini;
}

const char* kProject =
    "[Main]\nx=1\n"
    "[Times]\nopt_slidescount=5\nopt_synchpos1=10.5\nopt_synchpos2=20.25\nopt_synchpos4=40\n"
    "[Slide1]\n"
    "object K: KeyPoint\n  object V: Video\n    ClipGUID={A}\n  end\nend\n"
    "[Slide3]\n"
    "object G: Group\n  object V1: Video\n    ClipGUID={B}\n  end\n  object V2: video\n    ClipGUID={a}\n  end\nend\n"
    "[Slide5]\n"
    "object V: Video\n  ClipGUID={A}\nend\n"
    "[Slide6]\n"
    "object V: Video\n  ClipGUID={D}\nend\n"
    "[Clips]\n"
    "object C1: VideoClip\n  ClipGUID={A}\nend\n"
    "object C2: VIDEOCLIP\n  ClipGUID={B}\nend\n";

TEST(VideoClips, SynchPositions) {
  auto ini = Load(kProject);
  EXPECT_EQ(GetClipSynchPosition(ini.Get(), u"{A}"), 20.25) << "slide 1 holds it only in a key point";
  EXPECT_EQ(GetClipSynchPosition(ini.Get(), u"{B}"), 20.25);
  EXPECT_EQ(GetClipSynchPosition(ini.Get(), u"{C}"), -1.0);
  EXPECT_EQ(GetClipSynchPosition(ini.Get(), u"{D}"), -1.0) << "slide 6 lies beyond the slide count";
  EXPECT_EQ(GetClipSynchPosition(nullptr, u"{A}"), -1.0);
  auto first = Load("[Main]\n[Times]\nopt_slidescount=2\n[Slide2]\nobject V: Video\nend\n[Slide1]\nobject V: Video\nend\n");
  EXPECT_EQ(GetClipSynchPosition(first.Get(), u""), 0.0) << "any video, first slide";
  auto noCount = Load("[Main]\n[Times]\nopt_synchpos1=3\n[Slide1]\nobject V: Video\n  ClipGUID=g\nend\n");
  EXPECT_EQ(GetClipSynchPosition(noCount.Get(), u"g"), -1.0);
  auto noMain = Load("[Times]\nopt_slidescount=1\n[Slide1]\nobject V: Video\n  ClipGUID=g\nend\n");
  EXPECT_EQ(GetClipSynchPosition(noMain.Get(), u"g"), -1.0);
  auto huge = Load("[Main]\n[Times]\nopt_slidescount=2147483647\n[Slide2000000000]\nobject V: Video\n  ClipGUID=g\nend\n");
  EXPECT_EQ(GetClipSynchPosition(huge.Get(), u"g"), 0.0) << "opt_synchpos1999999999 missing reads 0";
}

TEST(VideoClips, NodesAndContainers) {
  auto ini = Load(kProject);
  foundation::TIniSection* clips = TIniFile::FindSection(ini.Get(), u"Clips");
  EXPECT_EQ(foundation::TIniItem::GetName(FindVideoClipNode(clips, u"{b}")), u"C2");
  EXPECT_EQ(FindVideoClipNode(clips, u"{Z}"), nullptr);
  foundation::TIniObject* root = FindRootContainer(clips);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(foundation::TIniItem::GetName(root), u"Container");
  EXPECT_EQ(FindRootContainer(clips), root);
  EXPECT_FALSE(HasVideoWithClip(TIniFile::FindSection(ini.Get(), u"Slide1"), u""));
  EXPECT_TRUE(HasVideoWithClip(TIniFile::FindSection(ini.Get(), u"Slide3"), u""));
}

TEST(VideoClips, DeepNestingNeedsNoRecursion) {
  std::string text = "[Main]\n[Times]\nopt_slidescount=1\n[Slide1]\n";
  for (int i = 0; i < 50000; ++i) text += "object o: Group\n";
  text += "object v: Video\nClipGUID=deep\nend\n";
  auto ini = Load(text);
  EXPECT_EQ(GetClipSynchPosition(ini.Get(), u"deep"), 0.0);
}

TEST(VideoClips, NumberedKeys) {
  EXPECT_EQ(MakeNumberedKey(12, u"a:b"), u"12:a:b");
  EXPECT_EQ(ExtractSecondKeyField(u"12:a:b"), u"a:b");
  EXPECT_EQ(ExtractSecondKeyField(u"abc"), u"");
  EXPECT_EQ(ExtractSecondKeyField(MakeNumberedKey(-3, u"")), u"");
}

}  // namespace
