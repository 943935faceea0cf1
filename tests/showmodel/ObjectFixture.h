// Shared by the show-object tests: a recording draw manager (every call with
// its parameters, in order), a minimal slide (the root of an object tree:
// its size, times, camera and host) and a slide host on a file accessor over
// a temporary folder. Pictures are ".fake" files ("FAKE w h grey") decoded by
// the file-access tests' fake loader.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "container/kvQelFileAccessor2.h"
#include "foundation/kvUTF8.h"
#include "showmodel/kvQelObject.h"
#include "showmodel/kvQelObjects.h"
#include "showmodel/kvQelSlideHost.h"
#include "tests/container/AccessTestEnv.h"
#include "tests/showmodel/KeyFrameFixture.h"
#include "tests/support/TempTree.h"

namespace objtest {

using foundation::MakeRef;
using foundation::TRef;
using namespace showmodel;

struct DrawCall {
  std::string Kind;  // "item", "image", "box", "border", "prepare", "shadow", "prepare-shadow"
  std::string Item;  // the object's name for "item"
  imaging::TImage* Image = nullptr;
  TAffineFrame3D Frame;
  TFloatPoint Offset;
  T3DPoint A, B, Origin;
  TObjectDrawParams Params;
  TBoxDrawParams Box;
  float Opacity = 0;
};

class FakeGradeTexture : public TColorGradeTexture {
 public:
  QEL_CLASSNAME(FakeGradeTexture)
  void SetSource(TObjectFilter* Source) override {
    ++Fills;
    LastSource = Source;
  }
  int Fills = 0;
  TObjectFilter* LastSource = nullptr;
};

class RecordingDrawer : public TQelDrawer {
 public:
  std::vector<DrawCall> Calls;
  bool Ready = true;
  int GradeTexturesMade = 0;

  bool IsReady() override { return Ready; }
  void DrawItemWithEffects(TQelObject* Item) override {
    DrawCall c;
    c.Kind = "item";
    c.Item = Item->Name;
    Calls.push_back(c);
    Item->Draw(this);
  }
  void PrepareObjectTexture(imaging::TImage* Image, const TObjectDrawParams& Params) override {
    DrawCall c;
    c.Kind = "prepare";
    c.Image = Image;
    c.Params = Params;
    Calls.push_back(c);
  }
  void DrawObjectImage(imaging::TImage* Image, const TAffineFrame3D& Frame, TFloatPoint Offset, T3DPoint A, T3DPoint B,
                       const TObjectDrawParams& Params) override {
    DrawCall c;
    c.Kind = "image";
    c.Image = Image;
    c.Frame = Frame;
    c.Offset = Offset;
    c.A = A;
    c.B = B;
    c.Params = Params;
    Calls.push_back(c);
  }
  void DrawBox(T3DPoint Origin, T3DPoint EdgeA, T3DPoint EdgeB, const TBoxDrawParams& Params) override {
    DrawCall c;
    c.Kind = "box";
    c.Origin = Origin;
    c.A = EdgeA;
    c.B = EdgeB;
    c.Box = Params;
    Calls.push_back(c);
  }
  void DrawFrameBorder(const TAffineFrame3D& Frame, TFloatPoint Position, TFloatPoint Width, TFloatPoint Size,
                       uint32_t Color, float Opacity, bool Antialiased) override {
    DrawCall c;
    c.Kind = "border";
    c.Frame = Frame;
    c.Offset = Position;
    c.Opacity = Opacity;
    Calls.push_back(c);
  }
  TColorGradeTexture* CreateColorGradeTexture(bool LookupVariant) override {
    ++GradeTexturesMade;
    auto* t = new FakeGradeTexture;
    t->LookupVariant = LookupVariant;
    return t;
  }
  void PrepareImageTexture(imaging::TImage* Image, const imaging::TImageDrawParams&) override {
    DrawCall c;
    c.Kind = "prepare-shadow";
    c.Image = Image;
    Calls.push_back(c);
  }
  void DrawImage(imaging::TImage* Image, T3DPoint Origin, TFloatPoint, T3DPoint A, T3DPoint B,
                 const imaging::TImageDrawParams& Params) override {
    DrawCall c;
    c.Kind = "shadow";
    c.Image = Image;
    c.Origin = Origin;
    c.A = A;
    c.B = B;
    c.Opacity = Params.Opacity;
    Calls.push_back(c);
  }
  std::vector<std::string> Kinds() const {
    std::vector<std::string> k;
    for (const DrawCall& c : Calls) k.push_back(c.Kind == "item" ? "item " + c.Item : c.Kind);
    return k;
  }
  std::vector<DrawCall> Of(const std::string& kind) const {
    std::vector<DrawCall> out;
    for (const DrawCall& c : Calls)
      if (c.Kind == kind) out.push_back(c);
    return out;
  }
};

// The root of a tree: unturned, at the origin, sized like the screen; the
// slide spans 0 .. Span ms of show time.
class TestSlide : public TQelSlideBase {
 public:
  QEL_CLASSNAME(TestSlide)
  double Span = 4000;
  double Opacity = 100;
  double SlideStart() override { return 0; }
  double GetOriginTime(uint8_t Origin) override { return Origin == koSlideEnd ? Span : 0; }
  double GetOpacityPercent() override { return Opacity; }
  TFloatPoint GetSize() override { return Size; }
  float GetOpacity() override { return 100; }
  void UpdateTransform(bool Recurse) override {
    // Screen pixels: the slide's frame sits in its middle, like every object's anchor.
    Matrix = {T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0}, T3DPoint{0, 0, 1}};
    FrameValid = foundation::InitAffineFrame3D(Frame, {Size.X / 2, Size.Y / 2, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
    RectOrigin = {-Size.X / 2, -Size.Y / 2};
    if (Recurse)
      for (TQelObject* c : Children) c->UpdateTransform(true);
  }
};

inline void StartUnits() {
  kftest::StartUnits();
  InitQelObjects();
}

// A slide whose objects come from "object Root: Container" ... "end" (the
// blocks given are placed inside it), on a host over a temporary folder.
struct SlideFixture {
  qeltest::TempTree Tree;
  TRef<foundation::TIniFile> Ini;
  TRef<TQelObjectProps> Props;
  TRef<container::TFileAccessor> Accessor;
  TRef<TestSlide> Slide;
  int32_t RenderWidth = 800, RenderHeight = 600;

  explicit SlideFixture(std::string_view objects, float width = 800, float height = 600,
                        container::TFileSource* source = nullptr) {
    StartUnits();
    TRef<container::TFileSource> own;
    if (!source) {
      own = MakeRef<container::TRealFileSource>();
      source = own.Get();
    }
    Accessor = TRef<container::TFileAccessor>::Adopt(new container::TFileAccessor(source));
    Accessor->BaseFolder = Tree.internal() + u"\\";
    Ini = kftest::ParseIni("[S]\nobject Root: Container\n" + std::string(objects) + "end\n");
    Props = MakeRef<TQelObjectProps>();
    showmodel::LoadObjectProps(Props.Get(), kftest::FirstObject(Ini.Get()), TObjectTimes{4000, 0, 0});
    Slide = TRef<TestSlide>::Adopt(TQelObject::Create<TestSlide>(nullptr, Props.Get()));
    Slide->Size = {width, height};
    Slide->Host = new TQelSlideHost(
        Accessor.Get(), false, u"", [this](int32_t& w, int32_t& h) { w = RenderWidth, h = RenderHeight; },
        [](const std::u16string&) -> foundation::TRefObject* { return nullptr; });
    Slide->Host->DesignSize[0] = 1280;
    Slide->Host->DesignSize[1] = 720;
  }
  void Build() { Slide->LoadFromProps(Props.Get(), false); }
  void At(double t) { Slide->SetTime(t, true); }
  // The object built from the block of that name.
  TQelObject* Find(const std::string& name, TQelObject* from = nullptr) {
    if (!from) from = Slide.Get();
    if (from->Name == name) return from;
    for (TQelObject* c : from->Children)
      if (TQelObject* f = Find(name, c)) return f;
    return nullptr;
  }
  template <class T>
  T* Get(const std::string& name) {
    return dynamic_cast<T*>(Find(name));
  }
  std::u16string FakePicture(const std::string& file, int w, int h, int grey) {
    Tree.write(file, "FAKE " + std::to_string(w) + " " + std::to_string(h) + " " + std::to_string(grey));
    return Tree.internal(file);
  }
};

inline std::string Utf8(const std::u16string& s) { return foundation::MessageToUtf8(s); }

}  // namespace objtest
