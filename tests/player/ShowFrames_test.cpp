// Shows drawn frame by frame through the draw controller on the recording
// engine, as the frame fuzz target draws them: the fixture shows with each
// kind of transition, every kind of object, and shows a person could be
// sent to harm the player (a mosaic of two billion columns, a long text, a
// picture given to a video, no slides at all).
//
// The same shows are the fuzz target's seeds: run this program with
// QEL_WRITE_SHOW_FRAMES_SEEDS set to a folder to have them written there
// (fuzz/corpus/show_frames holds them).
#include "tests/render3d/RecordingEngineEnv.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "container/kvQelFileAccessor2.h"
#include "player/PlayerStartup.h"
#include "player/Startup.h"
#include "showmodel/kvQel3DDrawer.h"
#include "showmodel/kvQelObject.h"
#include "showmodel/kvQelVideo.h"
#include "showmodel/kvQelViewPort.h"
#include "showmodel/kvSlideEffect.h"
#include "tests/showmodel/ObjectFixture.h"
#include "tests/showmodel/TextServicesTest.h"
#include "tests/support/FixtureShow.h"
#include "tests/support/GifWriter.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/ShowFrames.h"
#include "tests/support/TempTree.h"
#include "video/GifVideoSource.h"

namespace {

using testsupport::ShowBytes;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at == std::string::npos) std::abort();  // the fixture changed under the seeds
  return text.replace(at, from.size(), to);
}

// The fixture show's default transition as a project block of the given
// kind and options ("key=value" lines).
std::string WithTransition(const std::string& kind, const std::vector<std::string>& options) {
  std::string block = "  object Fade: " + kind + "\r\n";
  for (const std::string& o : options) block += "    " + o + "\r\n";
  block += "    checked=1\r\n  end\r\n";
  return Replace(testsupport::FixtureProjectText(), "  object Fade: dissolve\r\n    checked=1\r\n  end\r\n", block);
}

// A four-frame animation standing in for the objects show's clip.
std::string Clip() {
  testsupport::GifSpec spec;
  spec.width = 16;
  spec.height = 8;
  spec.globalPalette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
  for (uint8_t k = 0; k < 4; ++k) {
    testsupport::GifFrame f;
    f.width = 16;
    f.height = 8;
    f.indexes.assign(16 * 8, k);
    f.graphicControl = true;
    f.delay = 10;
    spec.frames.push_back(f);
  }
  const testsupport::Bytes b = testsupport::WriteGif(spec);
  return std::string(b.begin(), b.end());
}

ShowBytes Fixture(std::string project, uint8_t flags = 0) {
  return {flags, std::move(project), testsupport::FixtureShowMedia()};
}

// The seeds, by name.
std::vector<std::pair<std::string, ShowBytes>> Seeds() {
  std::vector<std::pair<std::string, ShowBytes>> seeds;
  seeds.push_back({"fixture", Fixture(testsupport::FixtureProjectText())});
  const std::vector<std::pair<std::string, std::vector<std::string>>> transitions = {
      {"hourhand", {"action=01", "direction=1"}},
      {"hourhand", {"action=01", "direction=00001"}},
      {"shapes", {"action=10", "direction=100"}},
      {"shapes", {"action=01", "direction=010"}},
      {"gates", {"direction=000001"}},
      {"page", {"direction=01"}},
      {"mosaic", {"cols=12", "rows=9", "appearence=100"}},
      {"push", {"direction=0100"}},
      {"slide", {"direction=1000"}},
      {"curling", {"action=10", "direction=00000001"}},
      {"flip", {"direction=0001", "spin_center=1"}},
      {"swap", {"direction=0010"}},
  };
  int n = 0;
  for (const auto& [kind, options] : transitions)
    seeds.push_back({"transition_" + std::to_string(++n) + "_" + kind, Fixture(WithTransition(kind, options))});
  // Every object kind: the objects show (boxes, pictures, texts, a button,
  // a viewport with its stencil, a video, an effect slide), and frames,
  // splitters and animated pictures on the fixture's second slide.
  seeds.push_back({"objects", {0, testsupport::FixtureObjectsProjectText(), testsupport::FixtureObjectsShowMedia(Clip())}});
  seeds.push_back({"objects_small_cover",
                   {2 | 4, testsupport::FixtureObjectsProjectText(), testsupport::FixtureObjectsShowMedia(Clip())}});
  const std::string kinds =
      "object Container: Root\r\n"
      "  object Edge: Frame\r\n    GUID={6A1C2E10-0000-4000-8000-00000000F001}\r\n    Size=640,360\r\n"
      "    object K0: KeyPoint\r\n      Time=0\r\n    end\r\n  end\r\n"
      "  object Split: Splitter\r\n    GUID={6A1C2E10-0000-4000-8000-00000000F002}\r\n    Size=4,720\r\n"
      "    object K0: KeyPoint\r\n      Time=0\r\n    end\r\n  end\r\n"
      "  object Moving: AniImage\r\n    GUID={6A1C2E10-0000-4000-8000-00000000F003}\r\n"
      "    ImageName=photos\\beach.jpg\r\n    ImageIndex=0\r\n"
      "    object K0: KeyPoint\r\n      Time=0\r\n      Position=-30,10\r\n    end\r\n"
      "    object K1: KeyPoint\r\n      Origin=SlideEnd\r\n      Time=0\r\n      Position=30,-10\r\n    end\r\n  end\r\n";
  std::string more = testsupport::FixtureProjectText();
  const size_t slide2 = more.find("[Slide2]");
  const size_t root = more.find("object Container: Root\r\n", slide2);
  more.replace(root, std::string("object Container: Root\r\n").size(), kinds);
  seeds.push_back({"object_kinds", Fixture(more, 1)});
  // Shows made to hurt.
  seeds.push_back({"hostile_mosaic", Fixture(WithTransition("mosaic", {"cols=2000000000", "rows=2000000000"}))});
  seeds.push_back({"hostile_long_text",
                   Fixture(Replace(testsupport::FixtureProjectText(), "Text=\"Slide <%SlideIndex%> of <%SlidesCount%>\"",
                                   "Text=\"" + std::string(3000, 'W') + " \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D " +
                                       std::string(2000, 'i') + "\""))});
  ShowBytes picture = Fixture(testsupport::FixtureObjectsProjectText());
  picture.entries = testsupport::FixtureObjectsShowMedia(picture.entries[0].data);  // the beach photo as the clip
  seeds.push_back({"hostile_picture_as_video", picture});
  seeds.push_back({"hostile_no_slides", Fixture("[Main]\r\nopt_bcolor=255\r\n")});
  return seeds;
}

class ShowFramesTest : public objtest::TextServicesTest {
 protected:
  void SetUp() override {
    TextServicesTest::SetUp();
    // The whole player as the program starts it, with the text library on
    // the pinned faces the fixture above restarted it on.
    player::StartPlayer();
  }

  // Recording renderers drop their calls after each frame.
  class Frames : public testsupport::ShowFrames {
    void AfterFrame(render3d::T3DScreen* screen) override {
      if (auto* r = dynamic_cast<render3d_test::TRecordingRenderer*>(screen->Renderer)) r->Calls.clear();
      g_engine->Made.clear();  // not owned: renderers a lost device dropped are gone
    }
  };

  testsupport::ShowFramesReport Draw(const ShowBytes& show) {
    testsupport::ContainerBuilder b;
    b.AddDeflated("Project.qel", show.project);
    for (const auto& e : show.entries) b.Add(e);
    b.WriteFile(tree_.path("show"));
    Frames frames;
    return frames.Run(tree_.path("show"), show.flags);
  }

  qeltest::TempTree tree_;
};

TEST_F(ShowFramesTest, EverySeedDrawsItsFramesAndTheTransitionsOfEveryKindRun) {
  const char* out = std::getenv("QEL_WRITE_SHOW_FRAMES_SEEDS");
  std::set<int32_t> kinds;
  std::set<std::string> filters;
  for (const auto& [name, show] : Seeds()) {
    SCOPED_TRACE(name);
    if (out) {
      std::filesystem::create_directories(out);
      std::ofstream(std::string(out) + "/" + name, std::ios::binary) << testsupport::EncodeShow(show);
    }
    const testsupport::ShowFramesReport r = Draw(show);
    if (name == "hostile_no_slides") {
      EXPECT_FALSE(r.Opened);
      EXPECT_EQ(r.Error, u"The show has no slides");
      continue;
    }
    ASSERT_TRUE(r.Opened) << foundation::MessageToUtf8(r.Error);
    EXPECT_GT(r.FramesSelected, 4);
    EXPECT_EQ(r.FramesDrawn, r.FramesSelected);
    kinds.insert(r.TransitionKinds.begin(), r.TransitionKinds.end());
    filters.insert(r.DrawFilters.begin(), r.DrawFilters.end());
  }
  // The dissolve and the eleven kinds the project names, and the effect slide.
  EXPECT_EQ(kinds, (std::set<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  EXPECT_GE(filters.size(), 12u);
}

TEST_F(ShowFramesTest, AMosaicOfTwoBillionColumnsDrawsOnAGridBoundedByThePicture) {
  // 640 x 480 target: at most 256 cells a side. Before the bound the first
  // frame of the transition tried to allocate the whole grid.
  // On a 640 x 480 target the picture (640 x 360) holds the whole ceiling;
  // on 97 x 53 the picture's pixels bound the grid.
  for (auto [flags, exact, cols, rows] :
       {std::tuple{uint8_t(0), true, 256, 256}, std::tuple{uint8_t(2), false, 97, 53}}) {
    SCOPED_TRACE(int(flags));
    ShowBytes show = Fixture(WithTransition("mosaic", {"cols=2000000000", "rows=2000000000"}), flags);
    const testsupport::ShowFramesReport r = Draw(show);
    ASSERT_TRUE(r.Opened);
    EXPECT_EQ(r.FramesDrawn, r.FramesSelected);
    EXPECT_TRUE(r.TransitionKinds.count(6));
    EXPECT_GT(r.MosaicColumns, 0);
    EXPECT_GT(r.MosaicRows, 0);
    if (exact) {
      EXPECT_EQ(r.MosaicColumns, cols);
      EXPECT_EQ(r.MosaicRows, rows);
    } else {
      EXPECT_LE(r.MosaicColumns, cols);
      EXPECT_LE(r.MosaicRows, rows);
    }
  }
}

}  // namespace
