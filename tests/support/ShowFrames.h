// Frames of a packed show drawn through the draw controller on whatever 3D
// engine the program installed (the recording engine: no GPU), as the
// player draws them: the show opened from its file, the slide producer's
// prepared slides, the root item choosing the slides of each show time and
// the draw manager drawing them with their transition. Header-only, so only
// the programs that include it link the player.
//
// The byte form of a show used by the frame fuzz target and its seeds:
//   byte 0        flags: bits 0-1 the target size (kFrameSizes), bit 2 cover
//                 mode, bit 3 no waiting for video frames
//   project text  up to the first "\n==>"
//   entries       each "\n==>" <method byte> <name> "\n" <data>, up to the
//                 next "\n==>"; method '0' stored, '1' deflated, '2'
//                 enciphered, any other byte is that method number stored.
#pragma once

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "container/kvQelLoader2.h"
#include "foundation/kpExceptions.h"
#include "platform/os/paths.h"
#include "player/QelDrawController.h"
#include "render3d/Dev3DEffects2.h"
#include "render3d/Dev3DScreen.h"
#include "showmodel/kvQelEffect.h"
#include "showmodel/kvQelSource2.h"
#include "showmodel/kvQelVideo.h"
#include "showmodel/kvSlideProducer.h"
#include "tests/support/ContainerBuilder.h"
#include "transitions/kvDrawFilter.h"

namespace testsupport {

inline constexpr std::string_view kShowEntryMark = "\n==>";

struct ShowBytes {
  uint8_t flags = 0;
  std::string project;
  std::vector<ContainerEntry> entries;
};

inline std::string EncodeShow(const ShowBytes& show) {
  std::string out(1, char(show.flags));
  out += show.project;
  for (const ContainerEntry& e : show.entries) {
    out += kShowEntryMark;
    out += e.method == 0 ? '0' : e.method == 1 ? '1' : e.method == 2 ? '2' : char(e.method);
    out += e.name + "\n" + e.data;
  }
  return out;
}

// At most maxEntries entries; entries without a name are dropped.
inline ShowBytes DecodeShow(const uint8_t* data, size_t size, size_t maxEntries = 16) {
  ShowBytes show;
  if (size == 0) return show;
  show.flags = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t at = rest.find(kShowEntryMark);
  show.project = std::string(rest.substr(0, at));
  while (at != std::string_view::npos && show.entries.size() < maxEntries) {
    const size_t start = at + kShowEntryMark.size();
    at = rest.find(kShowEntryMark, start);
    std::string_view part = rest.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start);
    if (part.empty()) continue;
    ContainerEntry e;
    const char m = part[0];
    e.method = m == '0' ? 0 : m == '1' ? 1 : m == '2' ? 2 : static_cast<uint8_t>(m);
    part.remove_prefix(1);
    const size_t eol = part.find('\n');
    e.name = std::string(part.substr(0, std::min(eol, size_t(200))));
    if (eol != std::string_view::npos) e.data = std::string(part.substr(eol + 1));
    if (!e.name.empty()) show.entries.push_back(std::move(e));
  }
  return show;
}

struct FrameSize {
  int32_t Width, Height;
};
inline constexpr FrameSize kFrameSizes[4] = {{640, 480}, {1280, 720}, {97, 53}, {1, 1}};

// What drawing a show's frames came to.
struct ShowFramesReport {
  bool Opened = false;
  std::u16string Error;               // the opener's reason when it refused
  int32_t SlideCount = 0;
  int32_t FramesSelected = 0;         // show times at which a slide was chosen
  int32_t FramesDrawn = 0;            // of those, frames the controller drew
  std::set<int32_t> TransitionKinds;  // effect kinds met while a transition ran
  std::set<std::string> DrawFilters;  // class names of the transitions' draw filters
  int32_t MosaicColumns = -1, MosaicRows = -1;  // the last mosaic grid drawn
};

// Draws the show written at path (POSIX form) at a handful of show times of
// its first slides: before the show, each slide's start, the middle of its
// incoming transition, its middle and its end, and past the last slide.
class ShowFrames {
 public:
  static constexpr int32_t kMaxSlides = 4;
  virtual ~ShowFrames() { Close(); }

  ShowFramesReport Run(const std::string& path, uint8_t flags) {
    ShowFramesReport report;
    if (Open(path, flags, report))
      for (double t : Times()) Frame(t, report);
    Close();
    return report;
  }

  // Opens the show, prepares its first slides and makes the screen and the
  // draw controller; false when the show was refused or has no slide.
  bool Open(const std::string& path, uint8_t flags, ShowFramesReport& report) {
    Close();
    const FrameSize size = kFrameSizes[flags & 3];
    std::u16string error;
    locator_ = foundation::TRef<container::TQelShowLocator>::Adopt(
        container::OpenShow(platform::os::fromPosixPath(path), error));
    report.Error = error;
    if (!locator_) return false;
    report.Opened = true;
    source_ = locator_->GetSource();
    if (!source_ || source_->SlideCount < 1) return false;
    report.SlideCount = source_->SlideCount;
    producer_ = foundation::TRef<showmodel::TSlideProducer>::Adopt(
        new showmodel::TSlideProducer(source_, false, {}, nullptr));
    clock_ = foundation::TRef<showmodel::TTiming>::Adopt(new showmodel::TTiming(0));
    producer_->SetTiming(clock_.Get());
    producer_->SetRenderSize(size.Width, size.Height, 100, 100, (flags & 4) != 0);
    waitForVideo_ = !(flags & 8);
    Prepare();

    device_ = foundation::TRef<render3d::TDrawDevice>::Adopt(new render3d::TDrawDevice(7));
    device_->Bounds = {0, 0, size.Width, size.Height};
    screen_ = foundation::TRef<render3d::T3DScreen>::Adopt(new render3d::T3DScreen());
    screen_->AssignDevice(device_.Get());
    controller_ = foundation::TRef<player::TQelDrawController>::Adopt(new player::TQelDrawController(screen_.Get()));
    controller_->InitDrawer();
    controller_->SetViewport({0, 0, size.Width, size.Height});
    root_ = foundation::TRef<player::TRootItem>::Adopt(new player::TRootItem(true));
    const showmodel::TViewportRect vp = controller_->GetViewport();
    const showmodel::TViewportRect pic = producer_->GetViewportRect(vp.Right - vp.Left, vp.Bottom - vp.Top);
    render3d::TViewState v;
    v.Viewport = {vp.Left, vp.Top, vp.Right, vp.Bottom};
    v.Area = {float(pic.Left), float(pic.Top), float(pic.Right), float(pic.Bottom)};
    v.Scale = {float(pic.Right - pic.Left), float(pic.Bottom - pic.Top)};
    v.Origin = {float(vp.Left), float(vp.Top)};
    root_->View = v;
    return true;
  }

  // The slides prepared afresh (their objects built again from the project).
  void Prepare() {
    slides_.clear();
    list_.clear();
    const int32_t prepared = std::min(source_->SlideCount, kMaxSlides);
    for (int32_t k = 0; k < prepared; ++k) {
      foundation::TRef<showmodel::TDrawContainer> slide;
      try {
        slide = foundation::TRef<showmodel::TDrawContainer>::Adopt(producer_->PrepareSlide(k));
      } catch (const foundation::EAssertionFailed& e) {
        // A slide the project describes wrongly fails its load with the
        // assertion the show model names ("QelObject GUID not Assigned"):
        // the slide is left out and the reason kept.
        LoadError = e.Message();
        continue;
      }
      if (!slide) continue;
      if (waitForVideo_) WaitForVideoFrames(slide->Slide);
      list_.push_back(slide.Get());
      slides_.push_back(slide);
    }
  }

  // Show times of the prepared slides: before the show, each slide's start,
  // the middle of its incoming transition, its middle and its end, and past
  // the last one.
  std::vector<double> Times() const {
    std::vector<double> times{-1};
    const int32_t prepared = source_ ? std::min(source_->SlideCount, kMaxSlides) : 0;
    for (int32_t k = 0; k < prepared; ++k) {
      showmodel::TSlideTimes t;
      source_->GetSlideTimes(k, t);
      times.insert(times.end(), {t.Start + 1, t.Start + t.EffectIn / 2, (t.Start + t.End) / 2, t.End});
    }
    times.push_back(times.back() + 5000);
    return times;
  }

  // One frame at show time t; false when no slide was chosen or the frame
  // was not drawn.
  bool Frame(double t, ShowFramesReport& report) {
    if (!root_) return false;
    clock_->Time = t;
    if (!root_->SelectSlides(list_.data(), int32_t(list_.size()), nullptr)) return false;
    ++report.FramesSelected;
    if (root_->TransitionRunning && root_->Transition && root_->Transition->Effect)
      report.TransitionKinds.insert(root_->Transition->Effect->Kind);
    const bool drawn = controller_->DrawRoot(root_.Get(), root_->View);
    if (drawn) ++report.FramesDrawn;
    const render3d::TTransitionState* state = root_->TransitionState();
    if (root_->TransitionRunning && state && state->Filter) {
      transitions::TDrawFilter* f = state->Filter;
      report.DrawFilters.insert(f->ClassName());
      if (auto* mosaic = dynamic_cast<transitions::TRandomFilter*>(f)) {
        report.MosaicColumns = mosaic->Columns;
        report.MosaicRows = mosaic->Rows;
      }
    }
    AfterFrame(screen_.Get());
    return drawn;
  }

  // The last slide load the show model refused, empty when none was.
  std::u16string LoadError;

  void Close() {
    root_.Reset();
    controller_.Reset();
    screen_.Reset();
    device_.Reset();
    list_.clear();
    slides_.clear();
    clock_.Reset();
    producer_.Reset();
    source_ = nullptr;
    locator_.Reset();
  }

 protected:
  // Called after every frame with the screen drawn on (a recording renderer
  // drops its call list here).
  virtual void AfterFrame(render3d::T3DScreen*) {}

 private:
  // A frame waits for each video's exact frame, as a snapshot does, so what
  // is drawn does not depend on the decoder's pace.
  static void WaitForVideoFrames(showmodel::TQelObject* o) {
    if (!o) return;
    if (auto* v = dynamic_cast<showmodel::TQelVideo*>(o)) v->CaptureMode = true;
    for (showmodel::TQelObject* c : o->Children) WaitForVideoFrames(c);
  }

  foundation::TRef<container::TQelShowLocator> locator_;
  showmodel::TQelSource* source_ = nullptr;  // the locator's
  foundation::TRef<showmodel::TSlideProducer> producer_;
  foundation::TRef<showmodel::TTiming> clock_;
  std::vector<foundation::TRef<showmodel::TDrawContainer>> slides_;
  std::vector<showmodel::TDrawContainer*> list_;
  bool waitForVideo_ = true;
  foundation::TRef<render3d::TDrawDevice> device_;
  foundation::TRef<render3d::T3DScreen> screen_;
  foundation::TRef<player::TQelDrawController> controller_;
  foundation::TRef<player::TRootItem> root_;
};

}  // namespace testsupport
