// Video objects over a fake frame source (the extractor's worker is a real
// thread): the show time mapped to the video time, clips running over
// several slides, length clamping, shared extractors, placeholders, the
// rotated size, and the field chosen for interlaced frames.
#include "showmodel/kvQelVideo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "showmodel/kvQelSlide.h"
#include "showmodel/kvQelSlideHost.h"
#include "tests/showmodel/ObjectFixture.h"
#include "tests/support/JpegMaker.h"
#include "video/FFMpegVideoSource2.h"

namespace {

using foundation::TRef;
using showmodel::TQelSlide;
using showmodel::TQelVideo;

// "VID <frames> <rate> <width> <height> <rotation> <interlaced> <top field first>"
class FakeSource : public video::TFrameSource {
 public:
  bool SetPosition(int32_t index) override {
    Current = index;
    return true;
  }
  bool GetFrameYUV(video::TYUVImage* image) override {
    auto* m = static_cast<video::TMemoryYUVImage*>(image);
    m->Row(video::kPlaneY, 0)[0] = uint8_t(Current);
    return true;
  }
  bool GetFrameBitmap(imaging::TSysBitmap*) override { return false; }
  std::atomic<int32_t> Current{0};
};

video::TVideoSourceFactory gPreviousFactory = nullptr;

video::TFrameSource* FakeFactory(foundation::TStream* stream, bool owns, const std::u16string& name, bool hw,
                                 bool threads) {
  std::string text;
  char buf[256];
  for (int32_t n; (n = stream->ReadBuf(buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
  std::istringstream in(text);
  std::string tag;
  in >> tag;
  if (tag != "VID") {
    stream->SetPosition(0);
    if (gPreviousFactory) return gPreviousFactory(stream, owns, name, hw, threads);
    if (owns) stream->Free();
    return nullptr;
  }
  auto* s = new FakeSource;
  int interlaced = 0, tff = 0;
  in >> s->Params.FrameCount >> s->Params.FrameRate >> s->Params.Width >> s->Params.Height >> s->Params.Rotation >>
      interlaced >> tff;
  s->Params.Interlaced = interlaced != 0;
  s->Params.TopFieldFirst = tff != 0;
  if (owns) stream->Free();
  return s;
}

void StartOnce() {
  static bool started = false;
  objtest::StartUnits();
  showmodel::InitQelVideo();
  if (!started) {
    started = true;
    gPreviousFactory = video::VideoSourceFactory;
    video::VideoSourceFactory = &FakeFactory;
  }
}

// A show of three slides of 4000 ms whose sections are given.
struct Show {
  qeltest::TempTree Tree;
  TRef<foundation::TIniFile> Ini;
  TRef<container::TFileAccessor> Accessor;
  TRef<showmodel::TQelSlideHost> Host;
  std::vector<TRef<TQelSlide>> Slides;

  explicit Show(const std::string& sections) {
    StartOnce();
    Tree.write("clip.vid", "VID 250 25 320 240 0 0 0");     // 10 s
    Tree.write("tall.vid", "VID 100 25 1920 1080 90 0 0");  // turned a quarter
    Tree.write("field.vid", "VID 100 25 64 48 0 1 1");      // interlaced, top field first
    Tree.write("broken.vid", "not a video");
    Ini = kftest::ParseIni("[Main]\n[Times]\nopt_slidescount=3\nopt_synchpos1=4000\nopt_synchpos2=8000\n"
                           "opt_synchpos3=12000\n" + sections);
    auto files = foundation::MakeRef<container::TRealFileSource>();
    Accessor = TRef<container::TFileAccessor>::Adopt(new container::TFileAccessor(files.Get()));
    Accessor->BaseFolder = Tree.internal() + u"\\";
    foundation::TIniFile* ini = Ini.Get();
    Host = TRef<showmodel::TQelSlideHost>::Adopt(new showmodel::TQelSlideHost(
        Accessor.Get(), false, u"", [](int32_t& w, int32_t& h) { w = 800, h = 600; },
        [ini](const std::u16string& name) -> foundation::TRefObject* {
          return foundation::TIniFile::FindSection(ini, name);
        }));
    Host->DesignSize[0] = 800;
    Host->DesignSize[1] = 600;
  }
  TQelSlide* Load(int32_t index) {
    auto slide = TRef<TQelSlide>::Adopt(TQelSlide::CreateSlide(Host.Get(), 0, nullptr));
    slide->Size = {800, 600};
    slide->LoadSlide(foundation::TIniFile::FindSection(Ini.Get(), u"Main"),
                     foundation::TIniFile::FindSection(Ini.Get(), u"Slide" + foundation::IntToStr(index + 1)),
                     foundation::TIniFile::FindSection(Ini.Get(), u"Times"), index, 0, 0, false);
    Slides.push_back(slide);
    return slide.Get();
  }
  static TQelVideo* Video(TQelSlide* s, size_t k = 0) { return dynamic_cast<TQelVideo*>(s->Children.at(k)); }
};

std::string VideoBlock(const std::string& name, const std::string& keys) {
  return "  object " + name + ": Video\n    GUID={" + name + "}\n" + keys + "  end\n";
}

std::string Slide(int n, const std::string& objects) {
  return "[Slide" + std::to_string(n) + "]\nobject Container: Root\n" + objects + "end\n";
}

TEST(VideoObject, ShowTimeToVideoTime) {
  Show show(Slide(1, VideoBlock("V", "    FileName=clip.vid\n    StartQELTime=2000\n    FPSMultiplier=2\n"
                                     "    StartVideoTime=1000\n    Duration=4000\n")));
  TQelVideo* v = Show::Video(show.Load(0));
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->Wrapper->OpenState, 0);
  struct Row {
    double t, video;
  } rows[] = {{0, 1000}, {1000, 1000}, {2500, 2000}, {4000, 5000}, {4001, 5000}, {9000, 5000}};
  for (const Row& r : rows) EXPECT_DOUBLE_EQ(v->GetVideoTime(r.t), r.video) << r.t;
}

TEST(VideoObject, LengthsAreClampedToTheFile) {
  struct Row {
    const char* keys;
    double duration, start;
  } rows[] = {
      {"    Duration=-1\n", 10000, 0},
      {"    Duration=20000\n    StartVideoTime=2000\n", 10000, 2000},
      {"    Duration=3000\n    StartVideoTime=12000\n", 3000, 0},
      {"    StartVideoTime=-5\n", 0, 0},  // "Duration" missing reads 0
  };
  for (const Row& r : rows) {
    Show show(Slide(1, VideoBlock("V", std::string("    FileName=clip.vid\n") + r.keys)));
    TQelVideo* v = Show::Video(show.Load(0));
    EXPECT_DOUBLE_EQ(v->Duration, r.duration) << r.keys;
    EXPECT_DOUBLE_EQ(v->StartVideoTime, r.start) << r.keys;
  }
}

TEST(VideoObject, AClipRunsOnOverLaterSlides) {
  // The clip starts 1000 ms into slide 1 (show time 5000); slide 2 starts at 8000.
  const std::string tracks = "[Tracks]\nobject VideoClip: VideoClip\n  ClipGUID={C1}\n  FileName=clip.vid\n"
                             "  Duration=9000\n  StartQELTime=1000\n  StartSlideIdx=1\nend\n";
  const std::string video = VideoBlock("V", "    ClipGUID={C1}\n");
  Show show(tracks + Slide(1, "") + Slide(2, video) + Slide(3, video));
  TQelVideo* start = Show::Video(show.Load(1));
  TQelVideo* later = Show::Video(show.Load(2));
  ASSERT_NE(start->Clip, nullptr);
  EXPECT_DOUBLE_EQ(start->Clip->SyncPosition, 4000);
  // On its start slide nothing moves: the first frame until 1000 ms.
  EXPECT_DOUBLE_EQ(start->GetVideoTime(500), 0);
  EXPECT_DOUBLE_EQ(start->GetVideoTime(1500), 500);
  EXPECT_DOUBLE_EQ(start->GetVideoTime(4000), 3000);  // show time 8000
  // On the next slide it goes on from there, without a restart or a jump.
  EXPECT_DOUBLE_EQ(later->GetVideoTime(0), 3000);
  EXPECT_DOUBLE_EQ(later->GetVideoTime(500), 3500);
  EXPECT_DOUBLE_EQ(later->GetVideoTime(7000), 9000);  // the last frame holds

  // A GUID with no clip behind it plays nothing of a clip.
  Show none(Slide(1, VideoBlock("V", "    ClipGUID={missing}\n    FileName=clip.vid\n")));
  TQelVideo* v = Show::Video(none.Load(0));
  EXPECT_TRUE(v->ClipGuid.empty());
  EXPECT_EQ(v->Clip, nullptr);
  EXPECT_EQ(v->Wrapper->OpenState, 0);
}

TEST(VideoObject, OneExtractorPerFilePerSlide) {
  const std::string two = VideoBlock("A", "    FileName=clip.vid\n") + VideoBlock("B", "    FileName=clip.vid\n") +
                          VideoBlock("C", "    FileName=tall.vid\n");
  Show show(Slide(1, two) + Slide(2, VideoBlock("A", "    FileName=clip.vid\n")));
  TQelSlide* first = show.Load(0);
  TQelSlide* second = show.Load(1);
  EXPECT_EQ(Show::Video(first, 0)->Wrapper, Show::Video(first, 1)->Wrapper);
  EXPECT_NE(Show::Video(first, 0)->Wrapper, Show::Video(first, 2)->Wrapper);
  EXPECT_NE(Show::Video(first, 0)->Wrapper, Show::Video(second, 0)->Wrapper);
  EXPECT_EQ(Show::Video(first, 0)->Wrapper->Key, u"0:clip.vid");
  // The wrapper goes with the last object that uses it.
  show.Slides.clear();
  EXPECT_EQ(showmodel::TExtractorWrapper::Find(show.Host.Get(), u"0:clip.vid"), nullptr);
}

TEST(VideoObject, MissingAndBrokenFilesShowAPlaceholder) {
  struct Row {
    const char* file;
    uint8_t state;
  } rows[] = {{"gone.vid", 2}, {"broken.vid", 1}};
  for (const Row& r : rows) {
    Show show(Slide(1, VideoBlock("V", std::string("    FileName=") + r.file + "\n")));
    TQelSlide* s = show.Load(0);
    TQelVideo* v = Show::Video(s);
    EXPECT_EQ(v->Wrapper->OpenState, r.state) << r.file;
    ASSERT_NE(v->Placeholder, nullptr) << r.file;
    EXPECT_EQ(v->GetContentSize().X, 0);
    s->SetTime(100, true);
    objtest::RecordingDrawer d;
    s->Draw(&d);
    auto images = d.Of("image");
    ASSERT_EQ(images.size(), 1u) << r.file;
    EXPECT_EQ(images[0].Image, v->Placeholder);
  }
}

// The lines of the placeholders made while a test runs.
std::vector<std::u16string>& PlaceholderLines() {
  static std::vector<std::u16string> lines;
  return lines;
}
imaging::TImage* RecordPlaceholder(const std::u16string& line1, const std::u16string& line2) {
  PlaceholderLines().push_back(line1);
  return container::DefaultPlaceholderProducer(line1, line2);
}

TEST(VideoObject, AFileWithNoFramesToPlayShowsTheLoadErrorPlaceholder) {
  // Files the decoder opens that hold nothing to play: a picture under a
  // video's name (through the real decoder), a video of no frames, one of no
  // frame rate. Each draws the "Video load error:" placeholder, never nothing.
  Show probe("");
  // The real decoder under the fake: the FFmpeg source is the floor of the
  // chain and refuses to start on top of another source.
  const video::TVideoSourceFactory fake = video::VideoSourceFactory;
  video::VideoSourceFactory = nullptr;
  video::InitFFMpegVideoSource();
  gPreviousFactory = video::VideoSourceFactory;
  video::VideoSourceFactory = fake;
  const container::TPlaceholderProducer producer = container::PlaceholderProducerHook;
  container::PlaceholderProducerHook = &RecordPlaceholder;
  testsupport::JpegSpec spec;
  const testsupport::Bytes jpeg = testsupport::MakeJpeg(spec);
  for (const char* file : {"photo.mp4", "empty.vid", "still.vid"}) {
    SCOPED_TRACE(file);
    Show show(Slide(1, VideoBlock("V", std::string("    FileName=") + file + "\n")));
    show.Tree.write("photo.mp4", std::string(jpeg.begin(), jpeg.end()));
    show.Tree.write("empty.vid", "VID 0 25 320 240 0 0 0");
    show.Tree.write("still.vid", "VID 1 0 320 240 0 0 0");
    PlaceholderLines().clear();
    TQelSlide* s = show.Load(0);
    TQelVideo* v = Show::Video(s);
    ASSERT_NE(v->Placeholder, nullptr);
    ASSERT_EQ(PlaceholderLines().size(), 1u);
    EXPECT_EQ(PlaceholderLines()[0], u" Video load error: ");
    s->SetTime(100, true);
    objtest::RecordingDrawer d;
    s->Draw(&d);
    auto images = d.Of("image");
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].Image, v->Placeholder);
  }
  container::PlaceholderProducerHook = producer;
  gPreviousFactory = nullptr;
}

TEST(VideoObject, AQuarterTurnedPictureKeepsItsHeight) {
  Show show(Slide(1, VideoBlock("V", "    FileName=tall.vid\n    AutoRotate=1\n")) +
            Slide(2, VideoBlock("V", "    FileName=tall.vid\n")));
  TQelVideo* turned = Show::Video(show.Load(0));
  EXPECT_FLOAT_EQ(turned->Size.X, 607.5f);
  EXPECT_FLOAT_EQ(turned->Size.Y, 1080);
  TQelVideo* plain = Show::Video(show.Load(1));
  EXPECT_FLOAT_EQ(plain->Size.X, 1920);
}

bool PoolHolds(video::TQelVideoExtractor* e, int32_t frame) {
  for (int i = 0; i < 2000; ++i) {
    for (int32_t k = 0; k < e->GetItemCount(); ++k)
      if (e->GetItemFrame(k) == frame) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

class FrameRecorder : public objtest::RecordingDrawer, public showmodel::TVideoFrameDrawer {
 public:
  void DrawVideoFrame(video::TYUVImage* Image, const showmodel::TAffineFrame3D&, showmodel::TFloatPoint,
                      showmodel::T3DPoint, showmodel::T3DPoint, const showmodel::TVideoDrawParams& P) override {
    Frames.push_back(P);
    Luma.push_back(static_cast<video::TMemoryYUVImage*>(Image)->Row(video::kPlaneY, 0)[0]);
  }
  std::vector<showmodel::TVideoDrawParams> Frames;
  std::vector<int> Luma;
};

TEST(VideoObject, InterlacedFramesAlternateTheirFields) {
  Show show(Slide(1, VideoBlock("V", "    FileName=field.vid\n    Duration=4000\n")));
  TQelSlide* s = show.Load(0);
  TQelVideo* v = Show::Video(s);
  // Frame 10 spans 380..420 ms of video time: its first half shows the
  // first field, its second half the second.
  struct Row {
    double t;
    int field;
  } rows[] = {{390, 1}, {410, 2}};
  for (const Row& r : rows) {
    s->SetTime(r.t, true);
    v->PrefetchFrames(nullptr, r.t);  // sets the pool up and asks for the frame
    ASSERT_TRUE(PoolHolds(v->Wrapper->Extractor, 10)) << r.t;
    FrameRecorder d;
    s->Draw(&d);
    ASSERT_EQ(d.Frames.size(), 1u) << r.t;
    EXPECT_EQ(d.Frames[0].Deinterlace, showmodel::diBobEven);
    EXPECT_EQ(d.Frames[0].Field, r.field) << r.t;
    EXPECT_EQ(d.Luma[0], 10) << r.t;  // the frame of that time
    s->Prepare();
    v->Prepare();
    EXPECT_EQ(v->Wrapper->HeldLocks, 0);
  }
}

TEST(VideoObject, ReadinessAsksForTheFrameThenTheNext) {
  Show show(Slide(1, VideoBlock("V", "    FileName=clip.vid\n    Duration=4000\n")));
  TQelSlide* s = show.Load(0);
  TQelVideo* v = Show::Video(s);
  objtest::RecordingDrawer d;
  // 400 ms is frame 10 at 25 fps: not decoded yet, so it is asked for.
  EXPECT_EQ(v->GetFramesReady(&d, 400), 0);
  ASSERT_TRUE(PoolHolds(v->Wrapper->Extractor, 10));
  // Decoded: the next frame is asked for while this one is ready (the
  // worker decodes only what is asked for).
  EXPECT_EQ(v->GetFramesReady(&d, 400), 1);
  ASSERT_TRUE(PoolHolds(v->Wrapper->Extractor, 11));
  EXPECT_EQ(v->GetFramesReady(&d, 400), 2);
  // The slide folds its objects' answers.
  EXPECT_EQ(s->GetFramesReady(&d, 400), 2);
  // Far away: not there, asked for.
  EXPECT_EQ(v->GetFramesReady(&d, 3000), 0);
}

}  // namespace
