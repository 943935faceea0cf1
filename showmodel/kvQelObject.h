// The object tree of a slide: every drawable node (slide, image, text,
// button, box, ...) is a TQelObject linked to its animated properties
// (TQelObjectProps). Each frame the tree is evaluated at the show time, its
// 3-D frames are rebuilt from the animated parameters, and it is drawn
// through the draw manager. Trees are built on the slide-loader thread and
// afterwards used by the main thread alone; nothing here takes a lock.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/FloatGeometry.h"
#include "foundation/SysObj.h"
#include "imaging/ShadowGenerator2.h"
#include "imaging/kvPixelFormat.h"
#include "showmodel/kvQelDrawer.h"
#include "showmodel/kvQelKeyFrames.h"

namespace showmodel {

class TQelObject;
class TQelSlideBase;
class TQelSlideHost;
class TColorGradeWrapper;

// Frame of a picture: border, crop and aspect window (zoom and pan in the
// aspect window come from the Frame parameter group).
struct TObjectFrameParams {
  bool Border = false;
  bool Crop = false;
  bool KeepAspect = false;
  float BorderWidth = 1.5f;     // percent of the content height
  uint32_t Color = 0xFFFFFFFF;  // ARGB
  float CropLeft = 0, CropTop = 0, CropRight = 0, CropBottom = 0;  // percent
  float Aspect = 0;        // width / height; 0 or less: the picture's own
  float Zoom = 100;        // percent of the aspect window shown
  TFloatPoint Offset;      // percent, -100..100
};
// The shown part of a w x h picture and the border width in pixels.
TFloatRect CalcObjectContentRect(const TObjectFrameParams& Params, float W, float H, float& BorderWidth);

enum : uint8_t { fmNone = 0, fmPlaceInto = 1, fmCover = 2 };
enum : uint8_t { pmAbsolute = 0, pmPercent = 1 };

// The current parameter values of a node's properties.
class TQelParams : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TQelParams)
  // Changed[0]: content; Changed[1]: geometry, opacity or visibility.
  bool Changed[2] = {false, false};
  bool BackgroundSuppressed = false;
  TQelObjectProps* Props = nullptr;

  float Param(int32_t Index) const { return Props ? Props->Values[Index] : KeyFrameParams[Index].Default; }
  float ParamOpacity() const { return Param(kpOpacity); }
  TFloatPoint ParamPos() const { return {Param(kpPosX), Param(kpPosY)}; }
  float ParamPosZ() const { return Param(kpPosZ); }
  float ParamScaleX() const { return Param(kpScaleX); }
  float ParamScaleY() const { return Param(kpScaleY); }
  float ParamAngle() const { return Param(kpAngle); }
  float ParamAngleX() const { return Param(kpAngleX); }
  float ParamAngleY() const { return Param(kpAngleY); }
  TFloatPoint ParamCenter() const { return {Param(kpCenterX), Param(kpCenterY)}; }
  float ParamBlur() const { return Param(kpBlur); }
  float ParamZoom() const { return Param(kpFrameS); }
  float ParamOffsetX() const { return Param(kpFrameX); }
  float ParamOffsetY() const { return Param(kpFrameY); }

  virtual bool IsChanged() { return Changed[0] || Changed[1]; }
  virtual float GetBlurAmount() { return 0; }
  virtual void Prepare() {}
  virtual void Draw(TQelDrawer* Drawer) { (void)Drawer; }
  virtual float GetOpacity() { return ParamOpacity(); }
};

class TQelObject : public TQelParams {
 public:
  QEL_CLASSNAME(TQelObject)
  // Links the node under its parent (which takes the reference the creator
  // holds) and to its properties, then sets the defaults of its kind.
  // Properties that already have an owner are an assertion.
  static void Construct(TQelObject* Object, TQelObject* Parent, TQelObjectProps* Props);
  template <class T>
  static T* Create(TQelObject* Parent, TQelObjectProps* Props) {
    T* object = new T;
    try {
      Construct(object, Parent, Props);
    } catch (...) {
      object->Free();
      throw;
    }
    return object;
  }
  void Dispose() override;

  // ---- virtual operations
  bool IsChanged() override;
  float GetBlurAmount() override;
  void Prepare() override;
  void Draw(TQelDrawer* Drawer) override;
  float GetOpacity() override;
  virtual void UpdateTransform(bool Recurse);
  virtual double GetOriginTime(uint8_t Origin);
  virtual TFloatPoint GetSize();
  virtual TAffineFrame3D GetBaseTransform();
  virtual bool ProjectBounds(TFloatPoint Screen, float& X, float& Y);
  virtual void DrawContent(TQelDrawer* Drawer) { (void)Drawer; }
  virtual imaging::TSysBitmap* GetColorGradeSource() { return nullptr; }
  virtual void BuildChildren();
  virtual void LoadKeys(TQelObjectProps* Props, bool Reload);
  virtual void LoadFromProps(TQelObjectProps* Props, bool Reload);
  virtual void EvaluateAt(double T, bool Recurse);
  virtual void InitDefaults() {}
  virtual TFloatPoint GetContentSize() { return {0, 0}; }
  virtual void SetPressed(bool Value) { Pressed = Value; }
  virtual TQelSlideHost* GetSlideHost();
  virtual TQelSlideBase* GetSlide();
  virtual bool AcceptsDegenerateHit() { return false; }
  virtual void Preload(TQelDrawer* Drawer);
  virtual void PrefetchFrames(TQelDrawer* Drawer, double T);
  virtual int32_t GetFramesReady(TQelDrawer* Drawer, double T);
  using THitFilter = bool (*)(TQelObject* Object, void* Data);
  virtual TQelObject* HitTest(float X, float Y, TFloatPoint& Local, THitFilter Filter, void* FilterData);
  virtual TQelObject* HitTestAt(float X, float Y, TFloatPoint& Local, bool Deep);
  virtual void SetTime(double T, bool Recurse);
  virtual void CommitFrameState(bool Recurse);

  // ---- non-virtual services
  void GetCorners(T3DPoint* Corners, int32_t Count, float Margin);
  void GetScreenCorners(TFloatPoint* Corners, int32_t Count);
  void BuildColorGradeRecord(TColorGradeRecord& Record, TQelDrawer* Drawer);
  void CollectKeyFrameTimes(std::vector<double>& Times);
  void ResetExtents();
  void AccumulateExtents();
  void FinishExtents(bool Incremental, bool Force);
  int32_t IndexInParent();
  // The side facing the viewer allows the object to be shown.
  bool IsShownSide();
  uint8_t ObjectType() const { return Props ? Props->ObjectType : 0; }
  // Sets the first change flag when the value changes.
  void SetShadowEnable(bool Value);
  void SetShadowDistance(float Value);
  void SetShadowAngle(double Value);

  // ---- fields
  std::vector<TQelObject*> Children;  // one reference each, drawing order
  std::string Name;                   // UTF-8
  bool TranspForClick = false;
  std::u16string Action;
  bool ShadowEnable = false;
  float ShadowDistance = 1.5f;
  double ShadowAngle = 45;
  imaging::TFColor ShadowColor{0, 0, 0};
  float ShadowOpacity = 59;
  double ExtentWidth = 0, ExtentHeight = 0;
  double DepthFactor = 1000000;
  double SinX = 0, CosX = 1, SinY = 0, CosY = 1, SinZ = 0, CosZ = 1;
  double ScaleXEff = 0, ScaleYEff = 0;
  TFloatPoint MaxScreenSize;
  bool HideBack = false, HideFront = false;
  bool ChildInvis = false;
  bool IsSplitter = false;
  std::array<T3DPoint, 3> Matrix{};
  TFloatPoint Size;
  imaging::TShadowParams ShadowParams;
  bool Shadow3D = false;
  imaging::TFColor ShadowColorDisplay{0, 0, 0};
  TQelObject* Parent = nullptr;
  TFloatPoint RectOrigin;
  bool VisibleNow = false;
  float LastOpacity = 0, LastBlur = 0;
  TFloatRect LastContentRect;
  double LastGradeFraction = 0;
  TAffineFrame3D Frame;
  bool Pressed = false;
  bool FrameValid = false;
  bool HiddenByAncestor = false;
  std::vector<TColorGradeWrapper*> GradeWrappers;  // by key-frame index; nil or one reference
  TObjectFrameParams BorderParams;
  TObjectFrameParams BorderParamsEff;
  uint32_t BorderColorDisplay = 0xFFFFFFFF;
  TFloatPoint BorderWidthPair;
  TFloatPoint FramedSize;
  TFloatRect ContentRect;
  uint8_t FitMode = fmPlaceInto;
  uint8_t PosMode = pmPercent;
  uint8_t CenterMode = pmPercent;

 protected:
  // Steps shared by the kinds' transforms: the local matrix from the
  // effective scales and the angles, times the parent's; the anchor; the
  // frame; the rectangle origin (with the centre in percent or absolute).
  void BuildMatrix();
  void PlaceFrame(TFloatPoint ParentSize, bool UseCenterMode);
  // Hidden-by-ancestor, change tracking and the children's transforms.
  void FinishTransform(bool Recurse, bool TestContentRect, const TAffineFrame3D& OldFrame, TFloatPoint OldOrigin);
  bool GradingMoves();
};

// A slide as its objects see it: the root of the tree, its times, camera
// and fade. The slide proper derives from it.
class TQelSlideBase : public TQelObject {
 public:
  QEL_CLASSNAME(TQelSlideBase)
  virtual double GetOpacityPercent() { return 100; }
  // The show time the slide starts at (key-frame times count from it).
  virtual double SlideStart() = 0;
  virtual int32_t SlideIndex() { return 0; }
  // The slide's extent measurement is running.
  virtual bool IsMeasuring() { return false; }
  // The extent measurement has run since the slide was loaded; runs it when
  // not.
  virtual void EnsureMeasured() {}
  // The slide draws a slide-effect transition's layer.
  virtual bool IsEffectSlide() { return false; }
  T3DPoint Camera();
  TQelSlideHost* Host = nullptr;  // one reference
  TQelSlideHost* GetSlideHost() override { return Host; }
  TQelSlideBase* GetSlide() override { return this; }
  void Dispose() override;
};

// ---- hooks -----------------------------------------------------------------------------------------

// Makes the object of a type code under the parent, or nil for a kind that
// is not available. Units that define kinds chain in at start-up, keeping the
// previous hook for the codes they do not handle.
using TCreateObjectHook = TQelObject* (*)(uint8_t TypeCode, TQelObject* Parent, TQelObjectProps* Props);
extern TCreateObjectHook CreateObjectHook;
// The object holding the slide's main picture below Object, with its file
// name and pixel size; nil when there is none.
using TFindMainImageHook = TQelObject* (*)(TQelObject* Object, std::u16string& Name, TFloatPoint& Size);
extern TFindMainImageHook FindMainImageHook;

TQelObject* CreateObjectByType(uint8_t TypeCode, TQelObject* Parent, TQelObjectProps* Props);
TQelObject* FindMainImage(TQelObject* Object, std::u16string& Name, TFloatPoint& Size);
// Installs the two hooks of this unit (once).
void InitQelObjects();

// Keeps one colour-grade lookup texture per key frame and refills it only
// when the filter chain's change key changes.
class TColorGradeWrapper : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TColorGradeWrapper)
  explicit TColorGradeWrapper(TObjectFilter* Source);
  void Dispose() override;
  void SetSource(TObjectFilter* Source);
  // Kind 3 takes the lookup-bitmap variant.
  TColorGradeTexture* GetTexture(TQelDrawer* Drawer, uint8_t Kind, imaging::TSysBitmap* Lookup);

  TColorGradeTexture* Texture = nullptr;
  std::u16string SourceKey;
  TObjectFilter* Source = nullptr;  // first filter of the chain: one reference
  bool Dirty = true;
};

}  // namespace showmodel
