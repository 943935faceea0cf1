// Show objects.
//
// BM_BuildSlideTrees: the object trees of 100 slides of 20 objects (boxes,
// frames, images, splitters, each with two key frames) are built from their
// already loaded property trees and freed again; the time is reported per
// slide. The aim is 1 ms per slide (a show of 100 slides builds its trees
// in a tenth of a second on the loader thread): "budget_ratio" is the time
// per slide over 1 ms. "ratio" is over a reference that walks the same
// property trees and reads the same keys into plain records, interleaved in
// the same run.
//
// BM_DrawSlide: one frame of a 20-object slide: evaluation at the next show
// time, the transforms and the drawing calls (on a draw manager that
// discards them). The aim is 2 % of a 16.7 ms frame. "ratio" is over a
// reference that evaluates the same properties and does the transform
// arithmetic (angles, 3 x 3 matrices, anchors, corners) on plain arrays.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "foundation/kvIni.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvStream.h"
#include "showmodel/Startup.h"
#include "showmodel/kvObjectFilters.h"
#include "showmodel/kvQelKeyFrames.h"
#include "showmodel/kvQelObject.h"
#include "showmodel/kvQelObjectMod.h"
#include "showmodel/kvQelObjects.h"

namespace {

using namespace showmodel;

constexpr int kSlides = 100;
constexpr int kObjects = 20;

class BenchSlide : public TQelSlideBase {
 public:
  QEL_CLASSNAME(BenchSlide)
  double SlideStart() override { return 0; }
  double GetOriginTime(uint8_t Origin) override { return Origin == koSlideEnd ? 4000 : 0; }
  TFloatPoint GetSize() override { return Size; }
  void UpdateTransform(bool Recurse) override {
    Matrix = {T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0}, T3DPoint{0, 0, 1}};
    FrameValid = foundation::InitAffineFrame3D(Frame, {Size.X / 2, Size.Y / 2, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
    RectOrigin = {-Size.X / 2, -Size.Y / 2};
    if (Recurse)
      for (TQelObject* c : Children) c->UpdateTransform(true);
  }
};

class NullDrawer : public TQelDrawer {
 public:
  int64_t Calls = 0;
  bool IsReady() override { return true; }
  void DrawItemWithEffects(TQelObject* Item) override {
    ++Calls;
    Item->Draw(this);
  }
  void PrepareObjectTexture(imaging::TImage*, const TObjectDrawParams&) override { ++Calls; }
  void DrawObjectImage(imaging::TImage*, const TAffineFrame3D&, TFloatPoint, T3DPoint, T3DPoint,
                       const TObjectDrawParams&) override {
    ++Calls;
  }
  void DrawBox(T3DPoint, T3DPoint, T3DPoint, const TBoxDrawParams& P) override { Calls += P.FillMode; }
  void DrawFrameBorder(const TAffineFrame3D&, TFloatPoint, TFloatPoint, TFloatPoint, uint32_t, float, bool) override {
    ++Calls;
  }
  TColorGradeTexture* CreateColorGradeTexture(bool) override { return nullptr; }
  void PrepareImageTexture(imaging::TImage*, const imaging::TImageDrawParams&) override { ++Calls; }
  void DrawImage(imaging::TImage*, T3DPoint, TFloatPoint, T3DPoint, T3DPoint, const imaging::TImageDrawParams&) override {
    ++Calls;
  }
};

std::string SlideText(int slide, bool boxesOnly) {
  static const char* const kinds[] = {"Box", "Frame", "Image", "Splitter"};
  std::string s = "object Root: Container\n";
  for (int o = 0; o < kObjects; ++o) {
    const std::string kind = boxesOnly ? "Box" : kinds[o % 4];
    const std::string id = std::to_string(slide) + "-" + std::to_string(o);
    s += "object O" + id + ": " + kind + "\nGUID={" + id + "}\nSize=" + std::to_string(50 + o) + ",40\n" +
         "FillMode=HGradient\nColor1=#FF8000\nColor2=#0080FF\nShadowOpacity=40\nHideMode=" + std::to_string(o % 3) +
         "\n" + (kind == "Image" ? "ImageName=pic" + id + ".jpg\nEnableBorder=1\n" : "") +
         "object K0: KeyPoint\nTime=0\nOpacity=100\nPosition=" + std::to_string(o * 5 - 50) +
         ",10\nScaleX=20\nScaleY=20\nAngle=0\nend\n"
         "object K1: KeyPoint\nTime=4000\nOpacity=60\nPosition=20,-30\nScaleX=30\nScaleY=25\nAngle=30\nAngleY=20\nend\n"
         "end\n";
  }
  return s + "end\n";
}

foundation::TRef<foundation::TIniFile> ParseIni(const std::string& text) {
  auto ini = foundation::MakeRef<foundation::TIniFile>();
  auto s = foundation::MakeRef<foundation::TMemoryStream>();
  s->WriteBuf(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
  s->SetPosition(0);
  foundation::LoadIniFromStream(ini.Get(), s.Get());
  return ini;
}

void StartUnits() {
  StartShowModel();
}

struct Project {
  foundation::TRef<foundation::TIniFile> Ini;
  std::vector<foundation::TRef<TQelObjectProps>> Slides;
  Project(int slides, bool boxesOnly) {
    StartUnits();
    std::string text;
    for (int i = 0; i < slides; ++i) text += "[Slide" + std::to_string(i) + "]\n" + SlideText(i, boxesOnly);
    Ini = ParseIni(text);
    for (int i = 0; i < slides; ++i) {
      auto* section = foundation::TIniFile::FindSection(Ini.Get(), u"Slide" + foundation::IntToStr(i));
      auto props = foundation::MakeRef<TQelObjectProps>();
      LoadObjectProps(props.Get(), foundation::TIniList::FirstObject(section), TObjectTimes{4000, 0, 0});
      Slides.push_back(props);
    }
  }
};

// What a plain loader would keep of a node.
struct PlainObject {
  uint8_t Type = 0;
  float W = 0, H = 0;
  int32_t Fill = 0, Hide = 0;
  double ShadowOpacity = 0;
  bool Border = false;
  std::u16string Image;
};

void ReadPlain(TQelObjectProps* p, std::vector<PlainObject>& out) {
  using foundation::TIniItem;
  static const std::u16string_view fills[] = {u"Solid", u"HGradient", u"VGradient", u"TLBRGradient", u"TRBLGradient"};
  for (TQelObjectProps* c : p->Children) {
    PlainObject o;
    o.Type = c->ObjectType;
    const std::u16string size = TIniItem::GetValue(FindNodeKey(c, u"Size"));
    o.W = float(size.size());
    o.Fill = TIniItem::GetValueIndex(FindNodeKey(c, u"FillMode"), fills, true, 0);
    o.Hide = TIniItem::GetInteger(FindNodeKey(c, u"HideMode"), 0);
    o.ShadowOpacity = TIniItem::GetFloat(FindNodeKey(c, u"ShadowOpacity"), 59);
    o.Border = TIniItem::GetBool(FindNodeKey(c, u"EnableBorder"), false);
    o.Image = TIniItem::GetValue(FindNodeKey(c, u"ImageName"));
    for (const char16_t* k : {u"FitMode", u"PosMode", u"CenterMode", u"TranspForClick", u"ShadowEnable", u"Color1",
                              u"Color2", u"Alpha1", u"Alpha2", u"Action", u"ChildInvis", u"ShadowAngle"})
      o.H += float(TIniItem::GetValue(FindNodeKey(c, k)).size());
    out.push_back(std::move(o));
    ReadPlain(c, out);
  }
}

void BM_BuildSlideTrees(benchmark::State& state) {
  Project project(kSlides, false);
  double ours = 0, theirs = 0;
  std::vector<PlainObject> plain;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    for (auto& props : project.Slides) {
      BenchSlide* slide = TQelObject::Create<BenchSlide>(nullptr, props.Get());
      slide->Size = {800, 600};
      slide->LoadFromProps(props.Get(), false);
      benchmark::DoNotOptimize(slide->Children.data());
      slide->Free();
    }
    const auto t1 = std::chrono::steady_clock::now();
    for (auto& props : project.Slides) {
      plain.clear();
      ReadPlain(props.Get(), plain);
      benchmark::DoNotOptimize(plain.data());
    }
    const auto t2 = std::chrono::steady_clock::now();
    ours += std::chrono::duration<double>(t1 - t0).count();
    theirs += std::chrono::duration<double>(t2 - t1).count();
  }
  const double perSlide = ours / double(state.iterations()) / kSlides;
  state.counters["ms_per_slide"] = perSlide * 1000;
  state.counters["budget_ratio"] = perSlide / 0.001;
  state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
}
BENCHMARK(BM_BuildSlideTrees)->Unit(benchmark::kMillisecond);

void BM_DrawSlide(benchmark::State& state) {
  Project project(1, true);
  Project reference(1, true);
  BenchSlide* slide = TQelObject::Create<BenchSlide>(nullptr, project.Slides[0].Get());
  slide->Size = {800, 600};
  slide->LoadFromProps(project.Slides[0].Get(), false);
  NullDrawer drawer;
  TQelObjectProps* refProps = reference.Slides[0].Get();
  std::array<std::array<T3DPoint, 4>, kObjects> corners{};
  double t = 0, ours = 0, theirs = 0;
  for (auto _ : state) {
    t += 16.7;
    if (t > 4000) t -= 4000;
    const auto t0 = std::chrono::steady_clock::now();
    slide->SetTime(t, true);
    slide->Draw(&drawer);
    const auto t1 = std::chrono::steady_clock::now();
    EvaluateObjectProps(refProps, t, true);
    for (size_t i = 0; i < refProps->Children.size() && i < corners.size(); ++i) {
      const float* v = refProps->Children[i]->Values;
      const double ax = v[kpAngleX] * 0.0174533, ay = v[kpAngleY] * 0.0174533, az = v[kpAngle] * 0.0174533;
      const double sx = std::sin(ax), cx = std::cos(ax), sy = std::sin(ay), cy = std::cos(ay), sz = std::sin(az),
                   cz = std::cos(az);
      const double kx = v[kpScaleX] * 0.08, ky = v[kpScaleY] * 0.08;
      const double u[3] = {kx * cy * cz, kx * cy * sz, kx * sy};
      const double w[3] = {ky * (sx * sy * cz - cx * sz), ky * (cx * cz + sx * sy * sz), ky * -sx * cy};
      const double ox = 400 + 800 * v[kpPosX] * 0.005, oy = 300 + 600 * v[kpPosY] * 0.005;
      const double px[4] = {-25, 25, 25, -25}, py[4] = {-20, -20, 20, 20};
      for (int c = 0; c < 4; ++c)
        corners[i][size_t(c)] = {float(ox + u[0] * px[c] + w[0] * py[c]), float(oy + u[1] * px[c] + w[1] * py[c]),
                                 float(u[2] * px[c] + w[2] * py[c])};
    }
    const auto t2 = std::chrono::steady_clock::now();
    ours += std::chrono::duration<double>(t1 - t0).count();
    theirs += std::chrono::duration<double>(t2 - t1).count();
    benchmark::DoNotOptimize(corners.data());
    benchmark::DoNotOptimize(drawer.Calls);
  }
  slide->Free();
  const double perFrame = ours / double(state.iterations());
  state.counters["ms_per_frame"] = perFrame * 1000;
  state.counters["budget_ratio"] = perFrame / 0.000334;
  state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
}
BENCHMARK(BM_DrawSlide)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
