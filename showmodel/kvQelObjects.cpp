#include "showmodel/kvQelObjects.h"

#include <algorithm>
#include <cmath>

#include "container/kvQelFileAccessor2.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvIni.h"
#include "foundation/kvIniUtils.h"
#include "foundation/kpStringUtils.h"
#include "imaging/ButtonGenerator2.h"
#include "imaging/ColorGradeGenerator.h"
#include "imaging/kvColorProfile.h"
#include "render3d/ColorGradeTexture.h"
#include "showmodel/kvObjectFilters.h"
#include "showmodel/kvQelSlideHost.h"
#include "showmodel/kvQelText.h"
#include "text/kvIniColorUtils.h"

namespace showmodel {

namespace {

using foundation::TIniItem;

TIniItem* Key(TQelObjectProps* P, std::u16string_view Name) { return FindNodeKey(P, Name); }

// A colour of the project converted to the display profile when colour
// management is on, with its alpha, as ARGB.
uint32_t DisplayArgb(TQelObject* Object, imaging::TFColor Color, uint8_t Alpha, bool Convert) {
  imaging::TFColor out = Color;
  if (Convert && !imaging::ColorManagementOff.load()) {
    TQelSlideHost* host = Object->GetSlideHost();
    if (host && host->DisplayProfile) imaging::TransformColor(host->DisplayProfile, out, Color);
  }
  return uint32_t(Alpha) << 24 | uint32_t(out.R) << 16 | uint32_t(out.G) << 8 | out.B;
}

T3DPoint Scale3(T3DPoint v, double k) {
  return {static_cast<float>(v.X * k), static_cast<float>(v.Y * k), static_cast<float>(v.Z * k)};
}

int32_t RoundToInt(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

// The picture's colours as the display shows them: the identity table passed
// through the transform from the picture's profile to the display's; none
// when colour management is off or the two profiles need no transform.
imaging::TSysBitmap* MakeProfileLut(imaging::TImage* Picture, imaging::TColorProfile* Display) {
  if (imaging::ColorManagementOff.load() || !Picture->Store) return nullptr;
  imaging::TColorTransform* transform = imaging::GetColorTransform(Picture->Store->ColorProfile, Display);
  if (!transform) return nullptr;
  imaging::TSysBitmap* lut = nullptr;
  try {
    lut = imaging::CreateSysBitmap(32, 1024, imaging::pfR8G8B8);
    imaging::InitColorGradeLUT(lut);
    transform->TransformBitmap(lut);
  } catch (...) {
    foundation::FreeAndNil(lut);
    transform->Free();
    throw;
  }
  transform->Free();
  return lut;
}

}  // namespace

// ---- image ----------------------------------------------------------------------------------------------

void TQelImage::InitDefaults() {
  Antialiased = true;
  Filtering = flDefault;
  BorderParams = TObjectFrameParams{};
  BorderParamsEff = BorderParams;
  AnimParams = imaging::TImageAnimationParams{};
  MipLodBias = -0.5f;
  ImageIndex = ImageIndexAbsent;
  MinMipLevel = -1;
}

void TQelImage::Dispose() {
  foundation::FreeAndNil(ProfileLut);
  foundation::FreeAndNil(PreviousImage);
  foundation::FreeAndNil(Shadow);
  foundation::FreeAndNil(Image);
  TQelObject::Dispose();
}

void TQelImage::SetAntialiased(bool Value) {
  if (Value != Antialiased) Changed[0] = true;
  Antialiased = Value;
}
void TQelImage::SetFiltering(uint8_t Value) {
  if (Value != Filtering) Changed[0] = true;
  Filtering = Value;
}
void TQelImage::SetMipLodBias(float Value) {
  if (Value != MipLodBias) Changed[0] = true;
  MipLodBias = Value;
}

void TQelImage::DropPicture() {
  if (!Image) return;
  foundation::FreeAndNil(PreviousImage);
  PreviousImage = Image;  // kept alive until the new picture is loaded
  Image = nullptr;
  Changed[0] = true;
}

void TQelImage::SetBorderParams(const TObjectFrameParams& Value) {
  BorderParams = Value;
  BorderParamsEff = Value;
  Changed[0] = true;
  RecalcGeometry();
}

void TQelImage::SetAnimParams(const imaging::TImageAnimationParams& Value) {
  if (Value.Enable != AnimParams.Enable) DropPicture();
  if (!imaging::SameImageAnimationParams(Value, AnimParams)) Changed[0] = true;
  AnimParams = Value;
  RecalcGeometry();
}

void TQelImage::SetImageName(const std::u16string& Value) {
  if (Value == ImageName) return;
  ImageName = Value;
  DropPicture();
}

void TQelImage::SetRestoreAlpha(bool Value) {
  if (Value == RestoreAlpha) return;
  RestoreAlpha = Value;
  DropPicture();
}

void TQelImage::LoadKeys(TQelObjectProps* P, bool Reload) {
  SetAntialiased(TIniItem::GetBool(Key(P, u"Antialiased"), true));
  static const std::u16string_view filterNames[] = {u"Nearest", u"Bilinear", u"Default"};
  SetFiltering(static_cast<uint8_t>(TIniItem::GetValueIndex(Key(P, u"Filtering"), filterNames, true, flDefault)));
  SetImageName(GetNodeValue(P, u"ImageName", u""));
  SetMipLodBias(static_cast<float>(TIniItem::GetFloat(Key(P, u"MipLodBias"), 0)));
  EffectBufferNo = static_cast<uint8_t>(std::clamp(TIniItem::GetInteger(Key(P, u"ReplaceWithEffectBuffer"), 0), 0, 255));
  TObjectFrameParams frame;
  frame.Border = TIniItem::GetBool(Key(P, u"EnableBorder"), false);
  frame.Crop = TIniItem::GetBool(Key(P, u"EnableCrop"), false);
  frame.KeepAspect = TIniItem::GetBool(Key(P, u"EnableAspect"), false);
  frame.BorderWidth = static_cast<float>(TIniItem::GetFloat(Key(P, u"BorderWidth"), 1.5));
  frame.Color = text::IniItemGetColor(Key(P, u"BorderColor"), 0xFFFFFFFF);
  const std::array<float, 4> crop = foundation::IniItemGetFloat4(Key(P, u"CropRect"), {0, 0, 0, 0});
  frame.CropLeft = crop[0];
  frame.CropTop = crop[1];
  frame.CropRight = crop[2];
  frame.CropBottom = crop[3];
  frame.Aspect = static_cast<float>(TIniItem::GetFloat(Key(P, u"Aspect"), 0));
  const imaging::TFColor border{uint8_t(frame.Color), uint8_t(frame.Color >> 8), uint8_t(frame.Color >> 16)};
  BorderColorDisplay = DisplayArgb(this, border, uint8_t(frame.Color >> 24), frame.Border);
  imaging::TImageAnimationParams anim;
  anim.Enable = TIniItem::GetBool(Key(P, u"AnimEnable"), false);
  anim.Columns = TIniItem::GetInteger(Key(P, u"AnimColumns"), 1);
  anim.Rows = TIniItem::GetInteger(Key(P, u"AnimRows"), 1);
  anim.RepCount = TIniItem::GetInteger(Key(P, u"AnimRepCount"), 0);
  anim.Offset = TIniItem::GetFloat(Key(P, u"AnimOffset"), 0);
  anim.Count = TIniItem::GetInteger(Key(P, u"AnimCount"), 0);
  imaging::ParseImageAnimationDurations(GetNodeValue(P, u"AnimInterval", u""), anim);
  ImageIndex = TIniItem::GetInteger(Key(P, u"ImageIndex"), ImageIndexAbsent);
  SetRestoreAlpha(TIniItem::GetBool(Key(P, u"RestoreAlpha"), false));
  frame.Zoom = 100;
  frame.Offset = {0, 0};
  BorderParams = frame;
  BorderParamsEff = frame;
  SetAnimParams(anim);
  if (Image && Props) ApplyAspect(Props, float(Image->Params.Width), float(Image->Params.Height));
  TQelObject::LoadKeys(P, Reload);
}

std::u16string TQelImage::PictureName() {
  if (EffectBufferNo > 0) {
    TQelSlideHost* host = GetSlideHost();
    const std::u16string n = foundation::IntToStr(EffectBufferNo);
    if (host) ImageName = foundation::IntToStr(host->DesignSize[0]) + u":" + foundation::IntToStr(host->DesignSize[1]);
    return (GetSlide()->IsEffectSlide() ? u"SlideEffectBuffer:" : u"EffectResource:") + n + u":" + ImageName;
  }
  std::u16string name = RestoreAlpha ? u"Mask: " + ImageName : ImageName;
  // An animated GIF is decoded as an atlas of its frames.
  if (Animated() && name.size() >= 4 && name.compare(name.size() - 4, 4, u".gif") == 0) name += u"|framesatlas";
  return name;
}

void TQelImage::LoadImageHandle() {
  if (Image) return;
  TQelSlideHost* host = GetSlideHost();
  if (!host || !host->Accessor) return;
  Image = container::TFileAccessor::LoadImage(host->Accessor, PictureName());
  if (!Image) return;
  if (Props) ApplyAspect(Props, float(Image->Params.Width), float(Image->Params.Height));
  foundation::FreeAndNil(PreviousImage);
  foundation::FreeAndNil(ProfileLut);
  if (EffectBufferNo == 0) ProfileLut = MakeProfileLut(Image, host->DisplayProfile);
  Size = {float(Image->Params.Width), float(Image->Params.Height)};
  RecalcGeometry();
  ShadowDirty = true;
  Changed[0] = true;
}

void TQelImage::RecalcGeometry() {
  if (!Image) return;
  const float pw = float(Image->Params.Width), ph = float(Image->Params.Height);
  if (!Animated()) {
    BorderParams.Zoom = 100;
    BorderParams.Offset = {0, 0};
    float bw = 0;
    const float w = EffectBufferNo > 0 ? std::nearbyint(Size.X) : pw;
    const float h = EffectBufferNo > 0 ? std::nearbyint(Size.Y) : ph;
    ContentRect = CalcObjectContentRect(BorderParams, w, h, bw);
    FramedSize = {(ContentRect.Right - ContentRect.Left) + 2 * bw, (ContentRect.Bottom - ContentRect.Top) + 2 * bw};
    Size = FramedSize;
    BorderWidthPair = {bw, bw};
    BaseContentRect = ContentRect;
  } else {
    Size = {pw / float(Columns()), ph / float(Rows())};
    FramedSize = Size;
    BorderWidthPair = {0, 0};
    ContentRect = {0, 0, pw, ph};
  }
}

TFloatPoint TQelImage::GetContentSize() {
  if (EffectBufferNo > 0) {
    const TFloatPoint s = GetSlide()->Size;
    return {std::nearbyint(s.X), std::nearbyint(s.Y)};
  }
  if (!Image) return {0, 0};
  return {float(Image->Params.Width), float(Image->Params.Height)};
}

int32_t TQelImage::CurrentFrame() {
  if (!Animated() || (Columns() == 1 && Rows() == 1) || AnimParams.Durations.empty()) return 0;
  const int64_t cells = int64_t(Columns()) * Rows();
  const int32_t frames =
      static_cast<int32_t>(std::min<int64_t>({cells, AnimParams.Count, int64_t(AnimParams.Durations.size())}));
  if (frames <= 0) return 0;
  // Durations below 0 count as 0, so the walk always moves forward.
  auto duration = [this](int32_t i) { return std::max(0, AnimParams.Durations[size_t(i)]); };
  double cycle = 0;
  for (int32_t i = 0; i < frames; ++i) cycle += duration(i);
  const double t = Props ? Props->EvalTime : 0;
  const double elapsed = std::max(0.0, t - AnimParams.Offset);
  if (!(elapsed > 0)) return 0;
  if (!(cycle > 0)) {
    // A cycle of no length shows frame 0, or the last frame once a counted
    // number of passes has (instantly) run out.
    return AnimParams.RepCount > 0 ? frames - 1 : 0;
  }
  // The pass the elapsed time falls in; a time on the end of a pass still
  // belongs to it.
  const double passes = std::ceil(elapsed / cycle) - 1;
  if (AnimParams.RepCount > 0 && passes >= AnimParams.RepCount) return frames - 1;
  const double rest = elapsed - passes * cycle;
  double end = 0;
  for (int32_t i = 0; i < frames; ++i) {
    end += duration(i);
    if (end >= rest) return i;
  }
  return frames - 1;
}

bool TQelImage::IsChanged() { return TQelObject::IsChanged() || CurrentFrame() != FrameIndex; }

void TQelImage::CommitFrameState(bool Recurse) {
  FrameIndex = CurrentFrame();
  TQelObject::CommitFrameState(Recurse);
}

imaging::TShadowImageLoader TQelImage::ShadowLoader() {
  TQelSlideHost* host = GetSlideHost();
  container::TFileAccessor* accessor = host ? host->Accessor : nullptr;
  return [accessor](const std::u16string& Name) -> imaging::TImage* {
    return accessor ? container::TFileAccessor::LoadImage(accessor, Name) : nullptr;
  };
}

float TQelImage::ShadowSizeFactor(int32_t Level) {
  const double s = std::ldexp(1.0, -Level);
  return static_cast<float>(std::sqrt(s * s * Size.X * Size.Y) / 400);
}

void TQelImage::UpdateShadow() {
  if (!ShadowEnable || !Image || !(Size.X > 0) || !(Size.Y > 0)) return;
  imaging::TShadowParams p = ShadowParams;
  p.SetColorAlpha(255);
  p.SetColor2Alpha(255);
  p.SetSourceBits(8);
  p.SetMipLevel(MipLevel);
  const double s = std::ldexp(1.0, -MipLevel);
  if (std::string_view(ClassName()) == "TQelImage" && !Animated()) {
    p.SetRect({float(BaseContentRect.Left * s), float(BaseContentRect.Top * s), float(BaseContentRect.Right * s),
               float(BaseContentRect.Bottom * s)});
    p.SetMargin({float(BorderWidthPair.X * s), float(BorderWidthPair.Y * s)});
    p.SetSourceAlpha(uint8_t(BorderParams.Color >> 24));
  } else {
    const int32_t level = std::clamp(MipLevel, 0, 30);
    p.SetRect({0, 0, float((Image->Params.Width >> level) / Columns()), float((Image->Params.Height >> level) / Rows())});
    p.SetMargin({0, 0});
    p.SetSourceAlpha(255);
  }
  if (!Shadow || ShadowDirty || !Shadow->Matches(p)) {
    imaging::TShadow* fresh = imaging::CreateShadow(Image, ShadowSourceName(), p, ShadowSizeFactor(MipLevel), ShadowLoader());
    foundation::FreeAndNil(Shadow);
    Shadow = fresh;
  }
  if (Shadow) Shadow->Params.PlaneOffset = Shadow3D;
  ShadowDirty = false;
}

void TQelImage::ChooseTextureLevel(TFloatPoint ContentSize) {
  if (!(MaxScreenSize.X > 0) || !(MaxScreenSize.Y > 0)) return;
  int32_t level = 0;
  if (!Animated()) {
    TQelSlideHost* host = GetSlideHost();
    const double oversize = host ? host->TextureOversize : 1.3333;
    const double ww = std::max(1.0, std::nearbyint(MaxScreenSize.X * oversize));
    const double wh = std::max(1.0, std::nearbyint(MaxScreenSize.Y * oversize));
    if (ww < 2147483647.0 && wh < 2147483647.0) {
      const imaging::TSize cs{RoundToInt(ContentSize.X), RoundToInt(ContentSize.Y)};
      level = imaging::SelectMipLevel(cs, int32_t(ww), int32_t(wh));
    }
  }
  if (MinMipLevel > 0 && level < MinMipLevel) level = MinMipLevel;
  MipLevel = level;
}

void TQelImage::UpdateTransform(bool Recurse) {
  if (EffectBufferNo > 0) {
    Size = GetSlide()->Size;
    RecalcGeometry();
  }
  LoadImageHandle();
  UpdateShadow();
  TQelObject::UpdateTransform(Recurse);
  ChooseTextureLevel({ContentRect.Right - ContentRect.Left, ContentRect.Bottom - ContentRect.Top});
}

void TQelImage::FillDrawParams(TObjectDrawParams& R, TQelDrawer* Drawer) {
  R = Drawer->DefaultDrawParams();
  R.Antialiased = Antialiased && !Animated();
  R.Premultiplied = Image && Image->Params.PixelFormat && Image->Params.PixelFormat->HasAlpha;
  R.Opacity = GetDrawOpacity();
  R.Filtering = Filtering;
  R.Tint = 0xFFFFFFFF;
  R.MipLevel = MipLevel;
  R.MipBias = MipLodBias;
  R.Animated = Animated();
  R.GridColumns = Animated() ? Columns() : 1;
  R.GridRows = Animated() ? Rows() : 1;
  if (BorderParams.Border && !Animated()) R.BorderColor = BorderColorDisplay;
  BuildColorGradeRecord(R.Grade, Drawer);
  R.TintValid = 1;
}

void TQelImage::DrawContent(TQelDrawer* Drawer) {
  if (GetOpacity() == 0 || !Image) return;
  double fx = 1, fy = 1;
  if (!Animated()) {
    fx = FramedSize.X != 0 ? Size.X / FramedSize.X : 1;
    fy = FramedSize.Y != 0 ? Size.Y / FramedSize.Y : 1;
  }
  const T3DPoint axisA = Scale3(Frame.U, fx), axisB = Scale3(Frame.V, fy);
  if (ShadowEnable && Shadow) {
    const uint8_t color[3] = {ShadowColorDisplay.R, ShadowColorDisplay.G, ShadowColorDisplay.B};
    Shadow->Draw(Drawer, Frame.Origin, {-RectOrigin.X, -RectOrigin.Y}, axisA, axisB, ShadowDistance,
                 static_cast<float>(ShadowAngle), GetOpacity() * ShadowOpacity / 100, color);
  }
  TObjectDrawParams r;
  FillDrawParams(r, Drawer);
  TFloatPoint offset;
  if (!Animated()) {
    const float bw = BorderWidthPair.X;
    r.HasCrop = true;
    r.Crop = ContentRect;
    offset = {static_cast<float>(ContentRect.Left - (RectOrigin.X + bw) / fx),
              static_cast<float>(ContentRect.Top - (RectOrigin.Y + BorderWidthPair.Y) / fy)};
  } else {
    const int32_t f = CurrentFrame();
    const int32_t column = f % Columns(), row = f / Columns();
    TFloatRect cell;
    imaging::GetAnimationFrameRect(cell, Image->Params.Width, Image->Params.Height, Columns(), Rows(), column, row);
    // The atlas separates its cells by 2-pixel gaps after a 1-pixel margin.
    foundation::OffsetFloatRect(cell, 2.0 * column + 1, 2.0 * row + 1);
    r.HasCrop = true;
    r.Crop = cell;
    offset = {cell.Left - RectOrigin.X, cell.Top - RectOrigin.Y};
    FrameIndex = f;
  }
  if (BorderParams.Border && !Animated())
    Drawer->DrawFrameBorder(Frame, {-RectOrigin.X, -RectOrigin.Y}, BorderWidthPair, Size, BorderColorDisplay,
                            GetOpacity(), Antialiased);
  Drawer->DrawObjectImage(Image, Frame, offset, axisA, axisB, r);
}

void TQelImage::Preload(TQelDrawer* Drawer) {
  LoadImageHandle();
  if (Size.X > 0 && Size.Y > 0 && Image && Drawer && Drawer->IsReady()) {
    MinMipLevel = MipLevel;
    TObjectDrawParams r;
    FillDrawParams(r, Drawer);
    Drawer->PrepareObjectTexture(Image, r);
    UpdateShadow();
    if (Shadow) Shadow->PrepareTexture(Drawer);
  }
  TQelObject::Preload(Drawer);
}

// ---- button ---------------------------------------------------------------------------------------------------

void TQelButton::InitDefaults() {
  TQelImage::InitDefaults();
  State = 0;
  BtnOpacity = 100;
}

void TQelButton::Dispose() {
  foundation::FreeAndNil(NormalPicture);
  foundation::FreeAndNil(HoverPicture);
  foundation::FreeAndNil(PressedPicture);
  TQelImage::Dispose();
}

void TQelButton::SetState(uint8_t Value) {
  if (Value == State) return;
  State = Value;
  PictureDirty = true;
  Changed[1] = true;
  LoadImageHandle();
}

void TQelButton::SetHue(int32_t Value) {
  if (Value == Hue) return;
  Hue = Value;
  PictureDirty = Changed[0] = true;
}
void TQelButton::SetSaturation(int32_t Value) {
  if (Value == Saturation) return;
  Saturation = Value;
  PictureDirty = Changed[0] = true;
}
void TQelButton::SetLightness(int32_t Value) {
  if (Value == Lightness) return;
  Lightness = Value;
  PictureDirty = Changed[0] = true;
}

void TQelButton::SetTheme(const std::u16string& Value) {
  if (foundation::LowerCaseStr(Value) == foundation::LowerCaseStr(Theme) && !Theme.empty()) return;
  Theme = Value;
  LoadTheme();
}

void TQelButton::LoadTheme() {
  TQelSlideHost* host = GetSlideHost();
  if (!host || !host->Accessor) return;
  auto open = [host](const std::u16string& theme) {
    return foundation::TRef<foundation::TStream>::Adopt(
        host->Accessor->OpenStream(host->ButtonPath + theme + u"\\" + imaging::ButtonSkinFileName));
  };
  foundation::TRef<foundation::TStream> stream = open(Theme);
  if (!stream) {
    Theme = u"aqua";
    stream = open(Theme);
  }
  if (!stream) return;  // the previous skin data stay; the picture's skin is not loaded
  imaging::TButtonProducer* producer = host->GetButtonProducer(Theme);
  producer->LoadSkin(stream.Get(), Theme);
  ButtonWidth = producer->SkinSize.cx;
  ButtonHeight = producer->SkinSize.cy;
  SetFiltering(producer->Filtering);
  if (!Image) {
    BtnOffsetX = 100;
    BtnMinWidth = producer->BtnMinWidth;
  }
  PictureDirty = true;
  Changed[0] = true;
  DropPicture();
}

void TQelButton::LoadKeys(TQelObjectProps* P, bool Reload) {
  DropPicture();
  Changed[0] = true;
  SetTheme(GetNodeValue(P, u"Theme", u""));
  BtnOpacity = static_cast<float>(TIniItem::GetFloat(Key(P, u"BtnOpacity"), 100));
  SetHue(TIniItem::GetInteger(Key(P, u"Hue"), 0));
  SetSaturation(TIniItem::GetInteger(Key(P, u"Saturation"), 0));
  SetLightness(TIniItem::GetInteger(Key(P, u"Lightness"), 0));
  TQelImage::LoadKeys(P, Reload);
  BtnMinWidth = static_cast<float>(TIniItem::GetFloat(Key(P, u"BtnMinWidth"), BtnMinWidth));
  BtnOffsetX = static_cast<float>(TIniItem::GetFloat(Key(P, u"BtnOffsetX"), 100));
  MipLodBias = 0;
}

void TQelButton::UpdateButtonWidth(double Aspect) {
  const double H = ButtonHeight;
  if (!Caption || H == 0) return;
  double margin = 0;
  if (Caption->Props && Caption->Props->KeyFrames.Count() > 0) {
    float sx = 100;
    GetParamValue(Caption->Props->KeyFrames.Items[0], kpScaleX, sx);
    margin = 100 - sx;
  }
  auto r = [](double v) { return std::nearbyint(v); };
  double w = r(H * BtnOffsetX / 100 + (H - r(H * margin / 100)) * Aspect);
  w = std::max({w, r(H * BtnMinWidth / 100), H});
  const int32_t width = std::isfinite(w) && w < 1e9 ? static_cast<int32_t>(w) : ButtonWidth;
  if (Image && Image->Params.Width != width) PictureDirty = true;
  ButtonWidth = width;
}

void TQelButton::LoadImageHandle() {
  if (auto* caption = dynamic_cast<TQelText*>(Caption); caption && caption->RasterSize.Y > 0)
    UpdateButtonWidth(caption->RasterSize.X / caption->RasterSize.Y);
  if (Image && !PictureDirty) return;
  imaging::TImage* preloaded = State == 1 ? HoverPicture : State == 2 ? PressedPicture : NormalPicture;
  if (preloaded) {
    preloaded->_AddRef();
    foundation::FreeAndNil(Image);
    Image = preloaded;
  } else {
    TQelSlideHost* host = GetSlideHost();
    if (!host || !host->Accessor) return;
    imaging::TImage* fresh = container::TFileAccessor::LoadImage(
        host->Accessor, imaging::BuildButtonKey(Theme, State, ButtonWidth, Hue, Saturation, Lightness));
    foundation::FreeAndNil(Image);
    Image = fresh;
    ShadowDirty = true;
  }
  Changed[0] = true;
  if (Image) {
    Size = {float(Image->Params.Width), float(Image->Params.Height)};
    FramedSize = Size;
    ContentRect = {0, 0, Size.X, Size.Y};
    BaseContentRect = ContentRect;
    BorderWidthPair = {0, 0};
  }
  PictureDirty = false;
}

std::u16string TQelButton::ShadowSourceName() {
  return imaging::BuildButtonKey(Theme, State, ButtonWidth, Hue, Saturation, Lightness);
}

float TQelButton::ShadowSizeFactor(int32_t Level) {
  return static_cast<float>(Size.Y * std::ldexp(1.0, -Level) / 400 * 1.1);
}

void TQelButton::UpdateTransform(bool Recurse) {
  const TAffineFrame3D oldFrame = Frame;
  const TFloatPoint oldOrigin = RectOrigin;
  LoadImageHandle();
  UpdateShadow();
  const TFloatPoint p0 = GetSize();
  // Scale Y is the button's height in percent of the parent's; both axes
  // keep the picture's proportions.
  const double k = Size.Y > 0 ? p0.Y / Size.Y : 0;
  ScaleXEff = ParamScaleX() * k * 0.01;
  ScaleYEff = ParamScaleY() * k * 0.01;
  BuildMatrix();
  PlaceFrame(p0, false);
  ChooseTextureLevel(Size);
  FinishTransform(Recurse, false, oldFrame, oldOrigin);
}

void TQelButton::Preload(TQelDrawer* Drawer) {
  if (Drawer && Drawer->IsReady()) {
    imaging::TImage** kept[] = {&HoverPicture, &PressedPicture};
    for (uint8_t s : {uint8_t(1), uint8_t(2)}) {
      SetState(s);
      if (!Image) continue;
      Image->_AddRef();
      foundation::FreeAndNil(*kept[s - 1]);
      *kept[s - 1] = Image;
      TObjectDrawParams r;
      FillDrawParams(r, Drawer);
      Drawer->PrepareObjectTexture(Image, r);
    }
    SetState(0);
  }
  TQelImage::Preload(Drawer);
  if (Image && !NormalPicture) {
    Image->_AddRef();
    NormalPicture = Image;
  }
}

// ---- box ----------------------------------------------------------------------------------------------------

void TQelBox::Dispose() {
  foundation::FreeAndNil(Shadow);
  TQelObject::Dispose();
}

void TQelBox::LoadKeys(TQelObjectProps* P, bool Reload) {
  const foundation::TPoint size = foundation::IniItemGetIntPair(Key(P, u"Size"), {0, 0});
  Size = {float(size.X), float(size.Y)};
  TQelSlideHost* host = GetSlideHost();
  // A box as large as the design screen follows the slide's real size.
  if (host && size.X == host->DesignSize[0] && size.Y == host->DesignSize[1] && (size.X != 0 || size.Y != 0))
    Size = GetSlide()->Size;
  static const std::u16string_view fillNames[] = {u"Solid", u"HGradient", u"VGradient", u"TLBRGradient",
                                                  u"TRBLGradient"};
  FillMode = static_cast<uint8_t>(TIniItem::GetValueIndex(Key(P, u"FillMode"), fillNames, true, 0));
  Color1 = text::IniItemGetRgb(Key(P, u"Color1"), imaging::TFColor{0, 0, 0});
  Color2 = text::IniItemGetRgb(Key(P, u"Color2"), imaging::TFColor{0, 0, 0});
  Alpha1 = static_cast<uint8_t>(std::clamp(TIniItem::GetInteger(Key(P, u"Alpha1"), 255), 0, 255));
  Alpha2 = static_cast<uint8_t>(std::clamp(TIniItem::GetInteger(Key(P, u"Alpha2"), 255), 0, 255));
  Antialiased = TIniItem::GetBool(Key(P, u"Antialiased"), false);
  IsSplitter = ObjectType() == otSplitter;
  const bool cm = !imaging::ColorManagementOff.load();
  Color1Display = DisplayArgb(this, Color1, Alpha1, Alpha1 != 0);
  const bool sameColors = Color1.R == Color2.R && Color1.G == Color2.G && Color1.B == Color2.B;
  if (cm && Alpha2 != 0 && FillMode != 0 && !sameColors)
    Color2Display = DisplayArgb(this, Color2, Alpha2, true);
  else if (cm && Alpha2 != 0)
    Color2Display = (Color1Display & 0x00FFFFFF) | uint32_t(Alpha2) << 24;
  else
    Color2Display = DisplayArgb(this, Color2, Alpha2, false);
  Changed[0] = true;
  TQelObject::LoadKeys(P, Reload);
}

TBoxDrawParams TQelBox::MakeBoxParams(TQelDrawer* Drawer) {
  TBoxDrawParams b = Drawer ? Drawer->BoxTemplate() : TBoxDrawParams{};
  b.Opacity = GetOpacity();
  b.Color1 = Color1Display;
  b.Color2 = Color2Display;
  for (bool& e : b.EdgeAntialias) e = Antialiased;
  static const uint8_t modes[] = {8, 6, 5, 0, 1};
  QEL_ASSERT(FillMode < 5, "TQelBox: unknown fill mode");
  b.FillMode = modes[FillMode];
  if (FillMode == 0) b.Color2 = (Color1Display & 0x00FFFFFF) | uint32_t(Alpha1) << 24;
  return b;
}

bool TQelBox::IsInvisible() {
  if (GetOpacity() <= 0.00196f) return true;
  if (FillMode == 0) return Alpha1 == 0;
  return Alpha1 == 0 && Alpha2 == 0;
}

void TQelBox::UpdateShadow() {
  if (!ShadowEnable || !(Size.X > 0) || !(Size.Y > 0)) return;
  imaging::TShadowParams p = ShadowParams;
  p.SetColorAlpha(Alpha1);
  p.SetColor2Alpha(Alpha2);
  p.SetSourceBits(BoxParams.FillMode);
  p.SetRect({0, 0, Size.X, Size.Y});
  p.SetMargin({0, 0});
  p.SetMipLevel(0);
  p.SetSourceAlpha(255);
  if (Shadow && Shadow->Matches(p)) return;
  TQelSlideHost* host = GetSlideHost();
  container::TFileAccessor* accessor = host ? host->Accessor : nullptr;
  imaging::TShadow* fresh = imaging::CreateNormalisedShadow(p, [accessor](const std::u16string& Name) -> imaging::TImage* {
    return accessor ? container::TFileAccessor::LoadImage(accessor, Name) : nullptr;
  });
  foundation::FreeAndNil(Shadow);
  Shadow = fresh;
}

void TQelBox::DrawContent(TQelDrawer* Drawer) {
  if (IsSplitter || IsInvisible()) return;
  T3DPoint c[4];
  GetCorners(c, 4, 0);
  const T3DPoint edgeA = foundation::Vector3DBetween(c[0], c[1]);
  const T3DPoint edgeB = foundation::Vector3DBetween(c[0], c[3]);
  BoxParams = MakeBoxParams(Drawer);
  UpdateShadow();
  if (ShadowEnable && Shadow) {
    const uint8_t color[3] = {ShadowColorDisplay.R, ShadowColorDisplay.G, ShadowColorDisplay.B};
    Shadow->Draw(Drawer, c[0], {0, 0}, edgeA, edgeB, ShadowDistance, static_cast<float>(ShadowAngle),
                 GetOpacity() * ShadowOpacity / 100, color);
  }
  Drawer->DrawBox(c[0], edgeA, edgeB, BoxParams);
}

void TQelBox::Preload(TQelDrawer* Drawer) {
  if (Drawer && Drawer->IsReady()) {
    BoxParams = MakeBoxParams(Drawer);
    UpdateShadow();
    if (Shadow) Shadow->PrepareTexture(Drawer);
  }
  TQelObject::Preload(Drawer);
}

// ---- factory and main picture ------------------------------------------------------------------------------------

TQelObject* CreateObjectByType(uint8_t TypeCode, TQelObject* Parent, TQelObjectProps* Props) {
  switch (TypeCode) {
    case otFrame:
    case otBox:
    case otSplitter:
      return TQelObject::Create<TQelBox>(Parent, Props);
    case otImage:
    case otAniImage:
      return TQelObject::Create<TQelImage>(Parent, Props);
    case otText:
      return TQelObject::Create<TQelText>(Parent, Props);
    case otButton:
      return TQelObject::Create<TQelButton>(Parent, Props);
    default:
      return nullptr;
  }
}

TQelObject* FindMainImage(TQelObject* Object, std::u16string& Name, TFloatPoint& Size) {
  if (!Object) return nullptr;
  if (std::string_view(Object->ClassName()) == "TQelImage") {
    auto* image = static_cast<TQelImage*>(Object);
    if (image->ImageIndex != ImageIndexAbsent) {
      Name = image->ImageName;
      if (image->Image) Size = {float(image->Image->Params.Width), float(image->Image->Params.Height)};
      return Object;
    }
  }
  for (TQelObject* child : Object->Children) {
    TQelObject* found = FindMainImageHook ? FindMainImageHook(child, Name, Size) : FindMainImage(child, Name, Size);
    if (found) return found;
  }
  return nullptr;
}

namespace {
// The grade textures of the draw manager hold an object's filter chain as a
// plain object (the filters are the show model's).
void ApplyGradeFilters(foundation::TRefObject* first, imaging::TSysBitmap* bitmap, int32_t width, int32_t rows) {
  if (auto* head = dynamic_cast<TObjectFilter*>(first)) ApplyFilterChain(head, bitmap, width, rows);
}
}  // namespace

void InitQelObjects() {
  if (!CreateObjectHook) CreateObjectHook = CreateObjectByType;
  if (!FindMainImageHook) FindMainImageHook = FindMainImage;
  render3d::SetFilterChainApplier(&ApplyGradeFilters);
}

}  // namespace showmodel
