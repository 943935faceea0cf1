#include "showmodel/kvQelObject.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "foundation/kpExceptions.h"
#include "foundation/kvByteString.h"
#include "foundation/kvIni.h"
#include "imaging/kvColorProfile.h"
#include "text/kvQelTextThread.h"
#include "showmodel/kvQelSlideHost.h"
#include "text/kvIniColorUtils.h"

namespace showmodel {

// ---- frame of a picture ---------------------------------------------------------------------------------

TFloatRect CalcObjectContentRect(const TObjectFrameParams& P, float W, float H, float& BorderWidth) {
  // One rule for every framed picture: the text library's content rectangle,
  // with the border in the corner-radius place (a percentage of the aspect
  // window's height, taken before the crop) and the crop as its margins.
  text::TBorderParams b;
  b.RoundCorners = P.Border;
  b.CornerRadius = std::max(0.0f, P.BorderWidth);
  b.Color = P.Color;
  b.Margins = P.Crop;
  b.MarginLeft = P.CropLeft;
  b.MarginTop = P.CropTop;
  b.MarginRight = P.CropRight;
  b.MarginBottom = P.CropBottom;
  b.KeepAspect = P.KeepAspect;
  b.Aspect = P.Aspect;
  // A zoom that is not a number is outside 0.001 .. 100 too.
  b.Zoom = P.Zoom >= 0.001f && P.Zoom <= 100 ? P.Zoom : 100;
  b.Offset = P.Offset;
  TFloatRect r;
  float radius = 0;
  text::CalcBorderContentRect(r, b, W, H, 1, radius);
  BorderWidth = std::isfinite(radius) ? radius : 0;
  return r;
}

// ---- hooks -------------------------------------------------------------------------------------------

TCreateObjectHook CreateObjectHook = nullptr;
TFindMainImageHook FindMainImageHook = nullptr;

// ---- construction ------------------------------------------------------------------------------------

void TQelObject::Construct(TQelObject* Object, TQelObject* Parent, TQelObjectProps* Props) {
  QEL_ASSERT(Props, "TQelObject.Create: no properties");
  QEL_ASSERT(!Props->Owner, "TQelObject.Create: the properties already have an owner");
  Object->Parent = Parent;
  Object->Props = Props;
  Props->Owner = Object;
  Object->ShadowParams.SetSize(16);
  Object->ShadowParams.SetSpreadIndex(0);
  if (Parent) Parent->Children.push_back(Object);
  Object->InitDefaults();
}

void TQelObject::Dispose() {
  for (TColorGradeWrapper*& w : GradeWrappers) foundation::FreeAndNil(w);
  GradeWrappers.clear();
  if (Props && Props->Owner == this) Props->Owner = nullptr;
  Props = nullptr;
  std::vector<TQelObject*> children;
  children.swap(Children);
  for (TQelObject* child : children) {
    child->Parent = nullptr;
    child->Free();
  }
  if (Parent) {
    auto& list = Parent->Children;
    auto it = std::find(list.begin(), list.end(), this);
    if (it != list.end()) list.erase(it);
    Parent = nullptr;
  }
  TQelParams::Dispose();
}

void TQelSlideBase::Dispose() {
  TQelObject::Dispose();
  foundation::FreeAndNil(Host);
}

T3DPoint TQelSlideBase::Camera() { return {Size.X / 2, Size.Y / 2, -Size.Y}; }

// ---- simple virtual operations ---------------------------------------------------------------------------

bool TQelObject::IsChanged() {
  if (Changed[0] || Changed[1]) return true;
  for (TQelObject* c : Children)
    if (c->IsChanged()) return true;
  return false;
}

float TQelObject::GetBlurAmount() {
  TQelSlideBase* slide = GetSlide();
  return ParamBlur() * slide->Size.X;
}

void TQelObject::Prepare() {
  for (TQelObject* c : Children) c->Prepare();
}

float TQelObject::GetOpacity() {
  return static_cast<float>(ParamOpacity() * GetSlide()->GetOpacityPercent() / 100);
}

double TQelObject::GetOriginTime(uint8_t Origin) { return GetSlide()->GetOriginTime(Origin); }

TFloatPoint TQelObject::GetSize() { return Parent ? Parent->Size : Size; }

TAffineFrame3D TQelObject::GetBaseTransform() {
  if (Parent) return Parent->Frame;
  TAffineFrame3D f;
  foundation::InitAffineFrame3D(f, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
  return f;
}

TQelSlideHost* TQelObject::GetSlideHost() { return Parent ? Parent->GetSlideHost() : nullptr; }

TQelSlideBase* TQelObject::GetSlide() {
  TQelObject* o = this;
  while (o->Parent) o = o->Parent;
  auto* slide = dynamic_cast<TQelSlideBase*>(o);
  QEL_ASSERT(slide, "TQelObject.GetSlide: the root is not a slide");
  return slide;
}

int32_t TQelObject::IndexInParent() {
  if (!Parent) return -1;
  auto it = std::find(Parent->Children.begin(), Parent->Children.end(), this);
  return it == Parent->Children.end() ? -1 : static_cast<int32_t>(it - Parent->Children.begin());
}

void TQelObject::SetShadowEnable(bool Value) {
  if (Value != ShadowEnable) Changed[0] = true;
  ShadowEnable = Value;
}
void TQelObject::SetShadowDistance(float Value) {
  if (Value != ShadowDistance) Changed[0] = true;
  ShadowDistance = Value;
}
void TQelObject::SetShadowAngle(double Value) {
  if (Value != ShadowAngle) Changed[0] = true;
  ShadowAngle = Value;
}

// ---- loading -----------------------------------------------------------------------------------------------

void TQelObject::BuildChildren() {
  // The list is rebuilt from the properties; the existing objects of
  // unchanged nodes are kept (their reference moves over).
  std::vector<TQelObject*> old;
  old.swap(Children);
  for (TQelObjectProps* childProps : Props->Children) {
    QEL_ASSERT(childProps, "TQelObject.BuildChildren: nil child properties");
    if (!childProps->Owner) {
      TQelObject* child = CreateObjectHook ? CreateObjectHook(childProps->ObjectType, this, childProps) : nullptr;
      if (child) child->LoadFromProps(childProps, false);
    } else {
      auto* child = dynamic_cast<TQelObject*>(childProps->Owner);
      QEL_ASSERT(child, "TQelObject.BuildChildren: the owner is not an object");
      auto it = std::find(old.begin(), old.end(), child);
      if (it != old.end())
        old.erase(it);
      else
        child->_AddRef();
      child->Parent = this;
      Children.push_back(child);
      child->LoadFromProps(childProps, true);
    }
  }
  // Objects whose nodes are gone leave the tree.
  for (TQelObject* gone : old) {
    gone->Parent = nullptr;
    gone->Free();
  }
}

void TQelObject::LoadFromProps(TQelObjectProps* P, bool Reload) {
  LoadKeys(P, Reload);
  BuildChildren();
}

namespace {

foundation::TIniItem* Key(TQelObjectProps* P, std::u16string_view Name) { return FindNodeKey(P, Name); }

}  // namespace

void TQelObject::LoadKeys(TQelObjectProps* P, bool Reload) {
  (void)Reload;
  using foundation::TIniItem;
  Name = foundation::MessageToUtf8(P->BlockName);
  static const std::u16string_view fitNames[] = {u"None", u"PlaceInto", u"Cover"};
  static const std::u16string_view modeNames[] = {u"Absolute", u"Percent"};
  FitMode = static_cast<uint8_t>(TIniItem::GetValueIndex(Key(P, u"FitMode"), fitNames, true, fmPlaceInto));
  PosMode = static_cast<uint8_t>(TIniItem::GetValueIndex(Key(P, u"PosMode"), modeNames, true, pmPercent));
  CenterMode = static_cast<uint8_t>(TIniItem::GetValueIndex(Key(P, u"CenterMode"), modeNames, true, pmPercent));
  TranspForClick = TIniItem::GetBool(Key(P, u"TranspForClick"), false);
  const bool isText = ObjectType() == otText && std::string_view(ClassName()) == "TQelText";
  SetShadowEnable(TIniItem::GetBool(Key(P, u"ShadowEnable"), isText));
  ShadowParams.SetSize(static_cast<float>(TIniItem::GetFloat(Key(P, u"ShadowSize"), 16)));
  ShadowColor = text::IniItemGetRgb(Key(P, u"ShadowColor"), imaging::TFColor{0, 0, 0});
  ShadowColorDisplay = ShadowColor;
  if (ShadowEnable && !imaging::ColorManagementOff.load()) {
    TQelSlideHost* host = GetSlideHost();
    if (host && host->DisplayProfile) imaging::TransformColor(host->DisplayProfile, ShadowColorDisplay, ShadowColor);
  }
  ShadowOpacity = static_cast<float>(TIniItem::GetFloat(Key(P, u"ShadowOpacity"), 59));
  SetShadowDistance(static_cast<float>(TIniItem::GetFloat(Key(P, u"ShadowDistance"), 1.5)));
  SetShadowAngle(TIniItem::GetFloat(Key(P, u"ShadowAngle"), 45));
  ShadowParams.SetSpreadIndex(TIniItem::GetInteger(Key(P, u"ShadowSpreadIndex"), 0));
  Shadow3D = TIniItem::GetBool(Key(P, u"3DShadow"), false);
  const int32_t hide = TIniItem::GetInteger(Key(P, u"HideMode"), 0);
  HideBack = hide > 1;
  HideFront = (hide & 1) != 0;
  ChildInvis = TIniItem::GetBool(Key(P, u"ChildInvis"), false);
  Action = GetNodeValue(P, u"Action", u"");
}

// ---- time ---------------------------------------------------------------------------------------------------

void TQelObject::EvaluateAt(double T, bool Recurse) {
  TQelSlideBase* slide = GetSlide();
  if (Props) EvaluateObjectProps(Props, T - slide->SlideStart(), false);
  if (Recurse)
    for (TQelObject* c : Children) c->EvaluateAt(T, Recurse);
  const double start = GetOriginTime(koSlideBegin) + (Props ? GetDeltaTime(Props, 0) : 0);
  const double end = GetOriginTime(koSlideEnd) - (Props ? GetDeltaTime(Props, 1) : 0);
  const bool visible = T - start > -0.00001 && T - end < 0.00001;
  if (visible != VisibleNow) Changed[1] = true;
  VisibleNow = visible;
}

void TQelObject::SetTime(double T, bool Recurse) {
  EvaluateAt(T, Recurse);
  UpdateTransform(Recurse);
}

// ---- transform ------------------------------------------------------------------------------------------------

void TQelObject::BuildMatrix() {
  constexpr double rad = std::numbers::pi / 180;
  SinX = std::sin(ParamAngleX() * rad);
  CosX = std::cos(ParamAngleX() * rad);
  SinY = std::sin(ParamAngleY() * rad);
  CosY = std::cos(ParamAngleY() * rad);
  SinZ = std::sin(ParamAngle() * rad);
  CosZ = std::cos(ParamAngle() * rad);
  const double sx = ScaleXEff, sy = ScaleYEff;
  const double Sx = SinX, Cx = CosX, Sy = SinY, Cy = CosY, Sz = SinZ, Cz = CosZ;
  auto v = [](double a, double b, double c) {
    return T3DPoint{static_cast<float>(a), static_cast<float>(b), static_cast<float>(c)};
  };
  std::array<T3DPoint, 3> local{
      v(sx * Cy * Cz, sx * Cy * Sz, sx * Sy),
      v(sy * (Sx * Sy * Cz - Cx * Sz), sy * (Cx * Cz + Sx * Sy * Sz), sy * (-Sx * Cy)),
      // The depth axis follows the vertical scale, not the horizontal one.
      v(sy * -(Sx * Sz + Cx * Sy * Cz), sy * (Sx * Cz - Cx * Sy * Sz), sy * (Cx * Cy)),
  };
  if (!Parent) {
    Matrix = local;
    return;
  }
  const auto& pm = Parent->Matrix;
  for (int r = 0; r < 3; ++r) {
    const T3DPoint a = local[r];
    Matrix[r] = {a.X * pm[0].X + a.Y * pm[1].X + a.Z * pm[2].X, a.X * pm[0].Y + a.Y * pm[1].Y + a.Z * pm[2].Y,
                 a.X * pm[0].Z + a.Y * pm[1].Z + a.Z * pm[2].Z};
  }
}

void TQelObject::PlaceFrame(TFloatPoint P0, bool UseCenterMode) {
  const TFloatPoint pos = ParamPos();
  float x = pos.X, y = pos.Y;
  if (PosMode == pmPercent) {
    x = static_cast<float>(P0.X * pos.X * 0.005);
    y = static_cast<float>(P0.Y * pos.Y * 0.005);
  }
  const float z = static_cast<float>(ParamPosZ() * P0.Y / 200);
  const TAffineFrame3D base = GetBaseTransform();
  const T3DPoint anchor = foundation::AffineFrame3DToPoint(base, {x, y, z});
  FrameValid = foundation::InitAffineFrame3D(Frame, anchor, Matrix[0], Matrix[1], Matrix[2]);
  const TFloatPoint c = ParamCenter();
  const float W = Size.X, H = Size.Y;
  if (UseCenterMode && CenterMode == pmAbsolute)
    RectOrigin = {-c.X - W / 2, -c.Y - H / 2};
  else
    RectOrigin = {static_cast<float>(-W * c.X * 0.005 - W / 2.0), static_cast<float>(-H * c.Y * 0.005 - H / 2.0)};
}

bool TQelObject::IsShownSide() {
  // The viewer looks along +z: an object whose camera point lies behind its
  // plane (every unturned object) shows its front.
  const bool backFaces = !IsBehindPlane(Frame, GetSlide()->Camera());
  return !(backFaces ? HideBack : HideFront);
}

bool TQelObject::GradingMoves() {
  if (!Props) return false;
  const TGroupCursor& c = Props->Cursors[kgColor];
  const int32_t n = Props->KeyFrames.Count();
  if (c.Last < 0 || c.Prev == c.Next || c.Prev < 0 || c.Next < 0 || c.Prev >= n || c.Next >= n) return false;
  if (!Props->KeyFrames.Items[c.Prev]->Filters && !Props->KeyFrames.Items[c.Next]->Filters) return false;
  return c.Fraction != LastGradeFraction;
}

void TQelObject::FinishTransform(bool Recurse, bool TestContentRect, const TAffineFrame3D& OldFrame,
                                 TFloatPoint OldOrigin) {
  HiddenByAncestor = (ChildInvis && !IsShownSide()) || (Parent && Parent->HiddenByAncestor);
  if (!Changed[1]) {
    const bool same = GetOpacity() == LastOpacity && GetBlurAmount() == LastBlur && !GradingMoves() &&
                      foundation::SameAffineFrame3D(Frame, OldFrame) && foundation::SameFloatPoint(RectOrigin, OldOrigin) &&
                      (!TestContentRect || foundation::SameFloatRect(ContentRect, LastContentRect));
    if (!same) Changed[1] = true;
  }
  if (Recurse)
    for (TQelObject* c : Children) c->UpdateTransform(true);
}

void TQelObject::UpdateTransform(bool Recurse) {
  const TAffineFrame3D oldFrame = Frame;
  const TFloatPoint oldOrigin = RectOrigin;
  const TFloatPoint p0 = GetSize();
  const float W = Size.X, H = Size.Y;
  double s = 1;
  auto minOrZero = [](double a, double b) { return std::min(a, b); };
  switch (FitMode) {
    case fmPlaceInto:
      s = (W > 0 && H > 0) ? minOrZero(p0.X / W, p0.Y / H) : 0;
      break;
    case fmCover: {
      // A zero size on either side gives scale 0: nothing is drawn.
      const double m = (p0.X > 0 && p0.Y > 0) ? minOrZero(W / p0.X, H / p0.Y) : 0;
      s = m > 0 ? 1 / m : 0;
      break;
    }
    default:
      s = 1;  // "None": the object's own units
  }
  ScaleXEff = ParamScaleX() * s * 0.01;
  ScaleYEff = ParamScaleY() * s * 0.01;
  BuildMatrix();
  PlaceFrame(p0, true);
  const uint8_t type = ObjectType();
  if (type == otImage || type == otAniImage || type == otVideo) {
    BorderParamsEff = BorderParams;
    if (!BorderParams.KeepAspect) BorderParamsEff.Aspect = 0;
    const float zoom = ParamZoom();
    BorderParamsEff.Zoom = zoom != 0 ? 100 / (zoom * 0.01f) : 100;
    BorderParamsEff.Offset = {ParamOffsetX(), ParamOffsetY()};
    BorderParamsEff.KeepAspect =
        BorderParams.KeepAspect || !(BorderParamsEff.Zoom == 100 && BorderParamsEff.Offset.X == 0 &&
                                     BorderParamsEff.Offset.Y == 0);
    const TFloatPoint cs = GetContentSize();
    float bw = 0;
    ContentRect = CalcObjectContentRect(BorderParamsEff, cs.X, cs.Y, bw);
    FramedSize = {2 * bw + (ContentRect.Right - ContentRect.Left), 2 * bw + (ContentRect.Bottom - ContentRect.Top)};
  }
  FinishTransform(Recurse, true, oldFrame, oldOrigin);
}

// ---- drawing ----------------------------------------------------------------------------------------------------

void TQelObject::Draw(TQelDrawer* Drawer) {
  // A degenerate frame (a scale of 0) covers no pixel.
  if (VisibleNow && FrameValid && IsShownSide() && !HiddenByAncestor) DrawContent(Drawer);
  CommitFrameState(false);
  for (size_t i = 0; i < Children.size(); ++i) Drawer->DrawItemWithEffects(Children[i]);
}

void TQelObject::CommitFrameState(bool Recurse) {
  LastOpacity = GetOpacity();
  LastBlur = GetBlurAmount();
  LastContentRect = ContentRect;
  LastGradeFraction = Props ? Props->Cursors[kgColor].Fraction : 0;
  Changed[0] = Changed[1] = false;
  if (Props) Props->KeyFrames.SeenMark = Props->KeyFrames.ChangeCounter;
  if (Recurse)
    for (TQelObject* c : Children) c->CommitFrameState(true);
}

void TQelObject::Preload(TQelDrawer* Drawer) {
  if (!Drawer || !Drawer->IsReady()) return;
  for (TQelObject* c : Children) c->Preload(Drawer);
}

void TQelObject::PrefetchFrames(TQelDrawer* Drawer, double T) {
  if (!Drawer || !Drawer->IsReady()) return;
  for (TQelObject* c : Children) c->PrefetchFrames(Drawer, T);
}

int32_t TQelObject::GetFramesReady(TQelDrawer* Drawer, double T) {
  int32_t result = 2;
  for (TQelObject* c : Children) {
    const int32_t r = c->GetFramesReady(Drawer, T);
    if (r == 0) return 0;
    result = (result == 2 && r == 2) ? 2 : 1;
  }
  return result;
}

void TQelObject::BuildColorGradeRecord(TColorGradeRecord& Record, TQelDrawer* Drawer) {
  Record = {};
  if (!Props) return;
  imaging::TSysBitmap* extra = GetColorGradeSource();
  const TGroupCursor& cur = Props->Cursors[kgColor];
  const bool enabled = cur.Last >= 0;
  const int32_t n = Props->KeyFrames.Count();
  if (static_cast<int32_t>(GradeWrappers.size()) < n) GradeWrappers.resize(static_cast<size_t>(n), nullptr);
  for (int32_t i = 0; i < n; ++i) {
    TObjectFilter* filter = enabled ? Props->KeyFrames.Items[i]->Filters : nullptr;
    if (!filter && !extra) continue;
    if (!GradeWrappers[i])
      GradeWrappers[i] = new TColorGradeWrapper(filter);
    else
      GradeWrappers[i]->SetSource(filter);
  }
  const bool valid = cur.Prev >= 0 && cur.Prev < n && cur.Next >= 0 && cur.Next < n;
  if (!valid || !(enabled || extra)) return;
  uint8_t kind = 3;
  if (!extra) {
    kind = std::max(ChainKind(Props->KeyFrames.Items[cur.Prev]->Filters),
                    ChainKind(Props->KeyFrames.Items[cur.Next]->Filters));
  }
  if (kind <= 1) return;
  for (int32_t i : {cur.Prev, cur.Next})
    if (!GradeWrappers[i]) GradeWrappers[i] = new TColorGradeWrapper(nullptr);
  Record.Fraction = static_cast<float>(cur.Fraction);
  Record.TextureA = GradeWrappers[cur.Prev]->GetTexture(Drawer, kind, extra);
  Record.TextureB = GradeWrappers[cur.Next]->GetTexture(Drawer, kind, extra);
  Record.Mode = kind == 3 ? gmLookup : gmFilter;
}

// ---- hit testing and corners --------------------------------------------------------------------------------------

TQelObject* TQelObject::HitTest(float X, float Y, TFloatPoint& Local, THitFilter Filter, void* FilterData) {
  for (size_t i = Children.size(); i-- > 0;) {
    TQelObject* hit = Children[i]->HitTest(X, Y, Local, Filter, FilterData);
    if (hit) return hit;
  }
  float lx = 0, ly = 0;
  if (ProjectBounds({X, Y}, lx, ly) && (!Filter || Filter(this, FilterData))) {
    Local = {lx, ly};
    return this;
  }
  return nullptr;
}

TQelObject* TQelObject::HitTestAt(float X, float Y, TFloatPoint& Local, bool Deep) {
  if (Deep) return HitTest(X, Y, Local, nullptr, nullptr);
  float lx = 0, ly = 0;
  const bool inside = ProjectBounds({X, Y}, lx, ly);
  Local = {lx, ly};
  return inside ? this : nullptr;
}

bool TQelObject::ProjectBounds(TFloatPoint Screen, float& X, float& Y) {
  if (!FrameValid && !AcceptsDegenerateHit()) return false;
  const T3DPoint cam = GetSlide()->Camera();
  const T3DPoint onPlane = ScreenPointToPlane(Screen, Frame, cam, CameraFactor);
  const T3DPoint p = foundation::PointToAffineFrame3DScaled(Frame, onPlane, CameraFactor);
  X = p.X;
  Y = p.Y;
  return RectOrigin.X <= X && X <= RectOrigin.X + Size.X && RectOrigin.Y <= Y && Y <= RectOrigin.Y + Size.Y;
}

void TQelObject::GetCorners(T3DPoint* C, int32_t Count, float Margin) {
  QEL_ASSERT(C && Count >= 4, "TQelObject.GetCorners: fewer than four points");
  const TFloatPoint o = RectOrigin;
  const TFloatPoint pts[4] = {o, {o.X + Size.X, o.Y}, {o.X + Size.X, o.Y + Size.Y}, {o.X, o.Y + Size.Y}};
  for (int i = 0; i < 4; ++i) C[i] = foundation::AffineFrame3DToPoint(Frame, {pts[i].X, pts[i].Y, 0});
  if (Margin != 0) {
    const T3DPoint ux = foundation::NormalizeVector3D(Frame.U), uy = foundation::NormalizeVector3D(Frame.V);
    const float sx[4] = {-1, 1, 1, -1}, sy[4] = {-1, -1, 1, 1};
    for (int i = 0; i < 4; ++i)
      C[i] = foundation::CombineVectors3D3(C[i], ux, uy, 1, sx[i] * Margin, sy[i] * Margin);
  }
}

void TQelObject::GetScreenCorners(TFloatPoint* Out, int32_t Count) {
  T3DPoint c[4];
  GetCorners(c, 4, 0);
  const T3DPoint cam = GetSlide()->Camera();
  for (int i = 0; i < 4 && i < Count; ++i) Out[i] = ProjectPoint(c[i], cam, CameraFactor);
}

// ---- extents ----------------------------------------------------------------------------------------------------

void TQelObject::CollectKeyFrameTimes(std::vector<double>& Times) {
  if (Props)
    for (TQelKeyFrame* k : Props->KeyFrames.Items)
      if (std::find(Times.begin(), Times.end(), k->Time) == Times.end()) Times.push_back(k->Time);
  for (TQelObject* c : Children) c->CollectKeyFrameTimes(Times);
}

void TQelObject::ResetExtents() {
  ExtentWidth = ExtentHeight = 0;
  DepthFactor = 1000000;
  for (TQelObject* c : Children) c->ResetExtents();
}

void TQelObject::AccumulateExtents() {
  T3DPoint c[4];
  GetCorners(c, 4, 0);
  const double zoom = ParamZoom() / 100.0;
  const double w = std::max(foundation::Distance3D(c[0], c[1]), foundation::Distance3D(c[3], c[2])) * zoom;
  const double h = std::max(foundation::Distance3D(c[1], c[2]), foundation::Distance3D(c[0], c[3])) * zoom;
  ExtentWidth = std::max(ExtentWidth, w);
  ExtentHeight = std::max(ExtentHeight, h);
  for (const T3DPoint& p : c) DepthFactor = std::min(DepthFactor, double(p.Z));
  for (TQelObject* ch : Children) ch->AccumulateExtents();
}

void TQelObject::FinishExtents(bool Incremental, bool Force) {
  const double zc = -GetSlide()->Size.Y / CameraFactor;
  DepthFactor = zc < DepthFactor ? 1 / (1 - DepthFactor / zc) : 10;
  const TFloatPoint fresh{static_cast<float>(ExtentWidth * DepthFactor), static_cast<float>(ExtentHeight * DepthFactor)};
  if (!Incremental || Force) {
    MaxScreenSize = fresh;
  } else {
    bool changed = false;
    if (std::fabs(fresh.X - MaxScreenSize.X) > 0.000001) changed = true;
    if (std::fabs(fresh.Y - MaxScreenSize.Y) > 0.000001) changed = true;
    MaxScreenSize = fresh;
    Force = Force || changed;
  }
  for (TQelObject* c : Children) c->FinishExtents(Incremental, Force);
}

// ---- colour-grade wrapper ------------------------------------------------------------------------------------------

TColorGradeWrapper::TColorGradeWrapper(TObjectFilter* aSource) { SetSource(aSource); }

void TColorGradeWrapper::Dispose() {
  foundation::FreeAndNil(Texture);
  foundation::FreeAndNil(Source);
  foundation::TRefObject::Dispose();
}

void TColorGradeWrapper::SetSource(TObjectFilter* aSource) {
  const std::u16string key = ChainRevisionKey(aSource);
  if (aSource == Source) {
    if (key != SourceKey) {
      SourceKey = key;
      Dirty = true;
    }
    return;
  }
  if (aSource) aSource->_AddRef();
  foundation::FreeAndNil(Source);
  Source = aSource;
  SourceKey = key;
  Dirty = true;
}

TColorGradeTexture* TColorGradeWrapper::GetTexture(TQelDrawer* Drawer, uint8_t Kind, imaging::TSysBitmap* Lookup) {
  const bool lookupVariant = Kind == 3;
  if (!Texture || Texture->LookupVariant != lookupVariant) {
    foundation::FreeAndNil(Texture);
    Texture = Drawer->CreateColorGradeTexture(lookupVariant);
    Dirty = true;
  }
  // A reloaded picture brings a new table: the texture is filled from it again.
  if (Texture && Lookup && Texture->Lookup != Lookup) Dirty = true;
  if (Dirty && Texture) {
    if (Lookup) Texture->Lookup = Lookup;
    Texture->SetSource(Source);
    Dirty = false;
  }
  return Texture;
}

}  // namespace showmodel
