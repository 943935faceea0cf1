#include "showmodel/kvQelText.h"

#include <cmath>

#include "container/kvQelFileAccessor2.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvIniUtils.h"
#include "foundation/kvIniWriter.h"
#include "foundation/kvStrings.h"
#include "imaging/ButtonGenerator2.h"
#include "imaging/kvColorProfile.h"
#include "imaging/kvCompoundBitmap.h"
#include "showmodel/kvQelObjects.h"
#include "showmodel/kvQelSlideHost.h"
#include "text/kvIniColorUtils.h"
#include "text/kvRectUtils.h"
#include "text/kvTextImageKeys.h"
#include "text/kvTextImages.h"

namespace showmodel {

double MaxKeyFrameScale(TQelObjectProps* Props) {
  if (!Props) return 100;
  bool any = false;
  double m = 0;
  for (TQelKeyFrame* k : Props->KeyFrames.Items) {
    if (!((k->Groups >> kgScale) & 1)) continue;
    any = true;
    for (int32_t p : {kpScaleX, kpScaleY}) {
      float v = 0;
      if (GetParamValue(k, p, v) && std::isfinite(v)) m = std::max(m, std::fabs(double(v)));
    }
  }
  return any ? m : KeyFrameParams[kpScaleY].Default;
}

double LimitRasterScale(double Scale, double W, double H) {
  if (!std::isfinite(Scale) || !(Scale > 0)) Scale = 1;
  // A double halves to below any limit in fewer than 2200 steps; sizes that
  // are not finite stop there instead of looping.
  for (int i = 0; i < 2200; ++i) {
    const bool tooLarge = Scale * W > 30000 || Scale * H > 30000 || Scale * Scale * W * H > 10000000.0;
    if (!tooLarge) break;
    Scale /= 2;
  }
  return Scale;
}

double TextRasterScale(double MaxScale, double ParentScreenHeight, double TextWidth, double TextHeight) {
  const double scale = MaxScale * ParentScreenHeight / 100 / TextHeight;
  return LimitRasterScale(scale, TextWidth, TextHeight);
}

TMacroContext MakeMacroContext(TQelObject* Object) {
  TMacroContext c;
  TQelSlideBase* slide = Object->GetSlide();
  c.SlideIndex = slide->SlideIndex();
  if (TQelSlideHost* host = Object->GetSlideHost()) {
    c.SlideCount = host->SlideCount;
    c.Accessor = host->Accessor;
  }
  std::u16string name;
  TFloatPoint size;
  TQelObject* main = FindMainImageHook ? FindMainImageHook(slide, name, size) : nullptr;
  if (main) {
    c.HasMainImage = true;
    c.MainIsImage = std::string_view(main->ClassName()) == "TQelImage";
    c.MainName = name;
    c.MainWidth = static_cast<int32_t>(size.X);
    c.MainHeight = static_cast<int32_t>(size.Y);
  }
  return c;
}

// ---- text object ------------------------------------------------------------------------------------------

namespace {

using foundation::TIniItem;

bool SameColor(imaging::TFColor a, imaging::TFColor b) { return a.R == b.R && a.G == b.G && a.B == b.B; }

uint32_t Argb(imaging::TFColor c) { return 0xFF000000u | uint32_t(c.R) << 16 | uint32_t(c.G) << 8 | c.B; }

std::unique_ptr<foundation::TStringList, void (*)(foundation::TStringList*)> MakeList(
    const std::vector<std::u16string>& lines) {
  auto* list = new foundation::TStringList();
  for (const std::u16string& l : lines) list->Add(l);
  return {list, [](foundation::TStringList* l) { l->Free(); }};
}

}  // namespace

void TQelText::InitDefaults() {
  TQelImage::InitDefaults();
  MacroParser = new TMTParser;
  MacroParser->Provider = [this](TMTParser*, const std::u16string& Macro, std::u16string& Value) {
    Value = MacroValue(MakeMacroContext(this), Macro);
  };
  RasterSize = {0, 0};
  Lines = {u"Text"};
  State = 0;
  Antialiased = false;
  if (IsCaption()) {
    auto* button = static_cast<TQelButton*>(Parent);
    TranspForClick = true;
    ShadowEnable = false;
    button->Caption = this;
    imaging::TFColor skin{255, 255, 255};
    if (TQelSlideHost* host = GetSlideHost(); host && !button->Theme.empty()) {
      const uint8_t* c = host->GetButtonProducer(button->Theme)->TextColor;
      skin = {c[2], c[1], c[0]};
    }
    TextColor = TextColorHover = TextColorClick = skin;
  } else {
    TextColor = TextColorHover = TextColorClick = {255, 255, 255};
    ShadowEnable = true;
  }
  for (auto& c : TextColorDisplay) c = TextColor;
}

bool TQelText::IsCaption() {
  return Parent && dynamic_cast<TQelButton*>(Parent) && !Parent->Children.empty() && Parent->Children[0] == this;
}

void TQelText::Dispose() {
  if (Parent)
    if (auto* button = dynamic_cast<TQelButton*>(Parent); button && button->Caption == this) button->Caption = nullptr;
  foundation::FreeAndNil(MacroParser);
  TQelImage::Dispose();
}

void TQelText::SetState(uint8_t Value) {
  if (Value == State) return;
  State = Value;
  Changed[1] = true;
}

void TQelText::ScheduleRaster() {
  NeedsRaster = true;
  Changed[0] = true;
}

void TQelText::EvaluateAt(double T, bool Recurse) {
  LastEvalTime = T;
  TQelImage::EvaluateAt(T, Recurse);
}

void TQelText::LoadFromProps(TQelObjectProps* P, bool Reload) {
  const std::u16string raw = TIniItem::GetValue(FindNodeKey(P, u"Text"));
  if (raw != TextKeyValue) DropPicture();
  RasterSize = {0, 0};
  auto list = MakeList({});
  const foundation::TIniItem* item = FindNodeKey(P, u"Text");
  text::SplitQuotedLines(item ? foundation::UnescapeIniText(TIniItem::GetRawValue(item)) : std::u16string(u"Text"),
                         list.get());
  Lines.clear();
  for (int32_t i = 0; i < list->GetCount(); ++i) Lines.push_back(list->GetString(i));
  if (IsCaption() && Lines.size() > 1) Lines.resize(1);
  bool allEmpty = true;
  for (const std::u16string& l : Lines) allEmpty = allEmpty && l.empty();
  if (allEmpty) Lines.push_back(u" ");
  NeedsRaster = true;
  Changed[0] = true;
  LoadKeys(P, Reload);
}

void TQelText::LoadKeys(TQelObjectProps* P, bool Reload) {
  const imaging::TFColor white{255, 255, 255};
  const imaging::TFColor before[3] = {TextColor, TextColorHover, TextColorClick};
  TextColor = text::IniItemGetRgb(FindNodeKey(P, u"TextColor"), IsCaption() ? TextColor : white);
  TextColorHover = text::IniItemGetRgb(FindNodeKey(P, u"TextColorHover"), TextColor);
  TextColorClick = text::IniItemGetRgb(FindNodeKey(P, u"TextColorClick"), TextColor);
  const bool wasEqual = SameColor(before[0], before[1]) && SameColor(before[0], before[2]);
  const bool isEqual = SameColor(TextColor, TextColorHover) && SameColor(TextColor, TextColorClick);
  const bool changed = !SameColor(before[0], TextColor) || !SameColor(before[1], TextColorHover) ||
                       !SameColor(before[2], TextColorClick);
  // An all-equal set is baked into the raster; otherwise it is white and tinted.
  if (changed && (wasEqual || isEqual)) ScheduleRaster();
  const imaging::TFColor* colors[3] = {&TextColor, &TextColorHover, &TextColorClick};
  TQelSlideHost* host = GetSlideHost();
  const bool cm = !imaging::ColorManagementOff.load() && host && host->DisplayProfile;
  for (int i = 0; i < 3; ++i) {
    TextColorDisplay[i] = *colors[i];
    if (!cm) continue;
    if (i > 0 && SameColor(*colors[i], TextColor))
      TextColorDisplay[i] = TextColorDisplay[0];
    else
      imaging::TransformColor(host->DisplayProfile, TextColorDisplay[i], *colors[i]);
  }
  FontName = GetNodeValue(P, u"FontName", u"Arial");
  FontStyle = static_cast<uint8_t>(foundation::IniItemGetFontStyle(FindNodeKey(P, u"FontStyle")));
  static const std::u16string_view aligns[] = {u"Left", u"Center", u"Right"};
  TextAlign = static_cast<uint8_t>(TIniItem::GetValueIndex(FindNodeKey(P, u"TextAlign"), aligns, true, 1));
  const int32_t spacing = TIniItem::GetInteger(FindNodeKey(P, u"LineSpacing"), 0);
  if (spacing != LineSpacing) DropPicture();
  LineSpacing = spacing;
  const bool rasterize = TIniItem::GetBool(FindNodeKey(P, u"Rasterize"), false);
  if (rasterize != Rasterize) DropPicture();
  Rasterize = rasterize;
  TQelImage::LoadKeys(P, Reload);
  Antialiased = false;
  // A caption is transparent for clicks and casts no shadow unless its keys say otherwise.
  if (IsCaption()) {
    if (!FindNodeKey(P, u"TranspForClick")) TranspForClick = true;
    if (!FindNodeKey(P, u"ShadowEnable")) SetShadowEnable(false);
  }
}

void TQelText::CommitTextParams() {
  TextParams = text::DefaultTextParams();
  TextParams.FontName = FontName;
  TextParams.Style = FontStyle;
  TextParams.Alignment = TextAlign;
  TextParams.LineSpacing = LineSpacing;
  const bool equal = SameColor(TextColor, TextColorHover) && SameColor(TextColor, TextColorClick);
  const imaging::TFColor state = State == 1 ? TextColorHover : State == 2 ? TextColorClick : TextColor;
  TextParams.Value = equal ? Argb(state) : 0xFFFFFFFFu;
  ExpandedLines.clear();
  for (const std::u16string& l : Lines) ExpandedLines.push_back(ExpandMacros(MacroParser, l));
}

void TQelText::Raster() {
  TQelSlideHost* host = GetSlideHost();
  if (!host || !host->Accessor) return;
  TQelSlideBase* slide = GetSlide();
  if (!slide->IsMeasuring()) slide->EnsureMeasured();
  CommitTextParams();
  auto marked = std::unique_ptr<foundation::TStringList, void (*)(foundation::TStringList*)>(
      text::EncodeCaseMarkup(MakeList(ExpandedLines).get()), [](foundation::TStringList* l) { l->Free(); });
  container::TFileAccessor* accessor = host->Accessor;
  const text::TEntryOpener opener = [accessor](const std::u16string& Name) { return accessor->OpenStream(Name); };
  // The size of the text at scale 1.
  std::u16string key;
  text::MakeTextImageKey(key, marked.get(), TextParams);
  text::TVectorText* vt = nullptr;
  text::TTextParams measured;
  const foundation::TPoint size = text::LoadKeyedVectorText(key, opener, vt, measured);
  foundation::FreeAndNil(vt);
  QEL_ASSERT(size.Y > 0, "TQelText.Raster: the text has no height");
  const double ratio = (RasterSize.Y > 0 && !IsCaption()) ? size.Y / RasterSize.Y : 1;
  RasterSize = {float(size.X), float(size.Y)};
  double m = MaxKeyFrameScale(Props), parentHeight = Parent ? Parent->MaxScreenSize.Y : 0;
  if (IsCaption()) {
    auto* button = static_cast<TQelButton*>(Parent);
    m = ParamScaleY() * MaxKeyFrameScale(button->Props) / 100;
    parentHeight = button->Parent ? button->Parent->MaxScreenSize.Y : 0;
  }
  RasterScale = static_cast<float>(TextRasterScale(m, parentHeight, size.X, size.Y));
  TextParams.Scale = RasterScale;
  TextParams.OffsetX = RenderOffset.X;
  TextParams.OffsetY = RenderOffset.Y;
  TextParams.Scale2 = ratio;
  text::MakeTextImageKey(TextKey, marked.get(), TextParams);
  TextKeyValue = Props ? TIniItem::GetValue(FindNodeKey(Props, u"Text")) : std::u16string();
  ShadowDirty = true;
  foundation::FreeAndNil(Image);
  Image = container::TFileAccessor::LoadImage(accessor, TextKey);
  ApplyPicture(ratio);
}

void TQelText::ApplyPicture(double Ratio) {
  if (!Image) return;
  text::TTextParams params;
  auto lines = MakeList({});
  text::ParseTextImageKey(TextKey, lines.get(), params);
  RenderOffset = {params.OffsetX, params.OffsetY};
  if (auto* store = dynamic_cast<text::TTextBitmapStore*>(Image->Store)) {
    store->GetTextBounds(TextBounds, 0);
    LineHeight = store->GetLineHeight();
  } else {
    TextBounds = {0, 0, float(Image->Params.Width), float(Image->Params.Height)};
    LineHeight = TextBounds.Bottom;
  }
  Size = {TextBounds.Right - TextBounds.Left, TextBounds.Bottom - TextBounds.Top};
  DrawOffset = {TextBounds.Left + 1, TextBounds.Top + 1};
  ContentRect = {0, 0, float(Image->Params.Width), float(Image->Params.Height)};
  FramedSize = Size;
  BorderWidthPair = {0, 0};
  // The text keeps its on-screen size when its raster changes size.
  if (Props && Ratio != 1 && std::isfinite(Ratio)) {
    for (TQelKeyFrame* k : Props->KeyFrames.Items) {
      if (!((k->Groups >> kgScale) & 1)) continue;
      for (int32_t p : {kpScaleX, kpScaleY}) {
        float v = 0;
        if (GetParamValue(k, p, v)) SetParamValue(k, p, static_cast<float>(v * Ratio));
      }
    }
    Props->MarkKeyFramesChanged();
    EvaluateObjectProps(Props, LastEvalTime - GetSlide()->SlideStart(), false);
  }
}

void TQelText::LoadImageHandle() {
  if (Rasterize) {
    if (Image) return;
    TQelImage::LoadImageHandle();
    if (Image) {
      const double n = double(Lines.size());
      LineHeight = static_cast<float>(Size.Y / (LineSpacing * (n - 1) / 200 + n));
    }
    return;
  }
  const bool paramsDiffer = FontName != TextParams.FontName || FontStyle != TextParams.Style ||
                            TextAlign != TextParams.Alignment || LineSpacing != TextParams.LineSpacing;
  if (!Image || NeedsRaster || paramsDiffer) {
    Raster();
    NeedsRaster = false;
  }
}

float TQelText::ShadowSizeFactor(int32_t Level) {
  double h = std::nearbyint(LineHeight);
  if (Level > 0) h = std::ldexp(h, -Level);
  return static_cast<float>(h / 400 * 1.1);
}

void TQelText::UpdateTransform(bool Recurse) {
  if (Rasterize) {
    TQelImage::UpdateTransform(Recurse);
    return;
  }
  if (GetSlide()->IsMeasuring()) return;
  const TAffineFrame3D oldFrame = Frame;
  const TFloatPoint oldOrigin = RectOrigin;
  LoadImageHandle();
  UpdateShadow();
  const TFloatPoint p0 = GetSize();
  const double bh = TextBounds.Bottom - TextBounds.Top;
  // Scale Y is the text height in percent of the parent's; scale X is
  // relative to scale Y.
  const double h = ParamScaleY() / 100.0 * p0.Y;
  const double k = bh > 0 ? h / bh : 0;
  ScaleYEff = k;
  ScaleXEff = std::fabs(ParamScaleY()) < 0.0001 ? ParamScaleX() * k * 0.0001 : ParamScaleX() * k / ParamScaleY();
  BuildMatrix();
  PlaceFrame(p0, false);
  FinishTransform(Recurse, false, oldFrame, oldOrigin);
}

uint32_t TQelText::StateColor() { return Argb(TextColorDisplay[State < 3 ? State : 0]); }

void TQelText::FillDrawParams(TObjectDrawParams& R, TQelDrawer* Drawer) {
  TQelImage::FillDrawParams(R, Drawer);
  R.Tint = StateColor();
}

float TQelText::GetDrawOpacity() {
  if (IsCaption()) return Parent->GetOpacity() * GetOpacity() / 100;
  return GetOpacity();
}

void TQelText::DrawContent(TQelDrawer* Drawer) {
  if (!Image || GetOpacity() == 0) return;
  const TFloatPoint offset{-RectOrigin.X + DrawOffset.X + RenderOffset.X, -RectOrigin.Y + DrawOffset.Y + RenderOffset.Y};
  if (auto* compound = imaging::TBitmapStore::FindAttachment<imaging::TCompoundBitmap>(Image->Store)) {
    DrawCompound(Drawer, compound, offset);
    return;
  }
  if (ShadowEnable && Shadow) {
    Shadow->Params.PlaneOffset = Shadow3D;
    const uint8_t color[3] = {ShadowColorDisplay.R, ShadowColorDisplay.G, ShadowColorDisplay.B};
    Shadow->Draw(Drawer, Frame.Origin, offset, Frame.U, Frame.V, ShadowDistance, static_cast<float>(ShadowAngle),
                 GetOpacity() * ShadowOpacity / 100, color);
  }
  TObjectDrawParams r;
  FillDrawParams(r, Drawer);
  r.HasCrop = true;
  r.Crop = ContentRect;
  Drawer->DrawObjectImage(Image, Frame, offset, Frame.U, Frame.V, r);
}

void TQelText::DrawCompound(TQelDrawer* Drawer, imaging::TCompoundBitmap* Compound, TFloatPoint Offset) {
  // A pixel p of the picture lands at origin + U (p.x - offset.x) + V (p.y - offset.y); a part
  // places its own pixel q at position + X (q.x - half.x) + Y (q.y - half.y) of the picture.
  auto axis = [this](const T3DPoint& a) {
    return T3DPoint{Frame.U.X * a.X + Frame.V.X * a.Y + Frame.W.X * a.Z, Frame.U.Y * a.X + Frame.V.Y * a.Y + Frame.W.Y * a.Z,
                    Frame.U.Z * a.X + Frame.V.Z * a.Y + Frame.W.Z * a.Z};
  };
  // The state colour's alpha as a fraction: the parts keep the text's
  // opacity in percent.
  const uint32_t tint = StateColor();
  const float opacity = GetDrawOpacity() * float(tint >> 24) / 255.0f;
  for (int32_t i = 0; i < Compound->Count(); ++i) {
    imaging::TCompoundPlacement place;
    imaging::TImage* part = Compound->GetItemImage(i, place);
    if (!part) continue;
    TAffineFrame3D at = Frame;
    const T3DPoint shift = axis({place.Position.X - Offset.X, place.Position.Y - Offset.Y, place.Position.Z});
    at.Origin = {Frame.Origin.X + shift.X, Frame.Origin.Y + shift.Y, Frame.Origin.Z + shift.Z};
    TObjectDrawParams r;
    FillDrawParams(r, Drawer);
    r.Premultiplied = part->Params.PixelFormat && part->Params.PixelFormat->HasAlpha;
    r.Opacity = opacity;
    r.Tint = tint;
    Drawer->DrawObjectImage(part, at, place.HalfSize, axis(place.XAxis), axis(place.YAxis), r);
  }
}

bool TQelText::ProjectBounds(TFloatPoint Screen, float& X, float& Y) {
  if (!TQelObject::ProjectBounds(Screen, X, Y)) return false;
  if (Rasterize || !Image || !Image->Store) return true;
  auto* rects = imaging::TBitmapStore::FindAttachment<text::TRectListWrapper>(Image->Store);
  if (!rects) return true;
  const int32_t px = static_cast<int32_t>(std::nearbyint(X - RectOrigin.X + DrawOffset.X));
  const int32_t py = static_cast<int32_t>(std::nearbyint(Y - RectOrigin.Y + DrawOffset.Y));
  return text::RectListContains(rects->List, px, py);
}

}  // namespace showmodel
