#include "showmodel/kvQelSlide.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "foundation/kpExceptions.h"
#include "foundation/kvCaseFolding.h"
#include "imaging/ColorGradeGenerator.h"
#include "imaging/SysBilinearUtils.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/kvColorProfile.h"
#include "imaging/kvLoadCallBack.h"
#include "foundation/kvByteStringLists.h"
#include "foundation/Rounding.h"
#include "showmodel/kvQelObjects.h"
#include "showmodel/kvQelSlideHost.h"
#include "text/GraphicsParams.h"

namespace showmodel {

using foundation::TIniItem;
using foundation::TIniList;

namespace {

// A Windows colour value: red + 256 green + 65536 blue.
text::TFColor ColorOfValue(int32_t v) {
  const uint32_t u = uint32_t(v);
  return text::MakeFColor(uint8_t(u & 0xFF), uint8_t((u >> 8) & 0xFF), uint8_t((u >> 16) & 0xFF));
}

using foundation::RoundEvenFiniteOrZero;

}  // namespace

TQelSlide* TQelSlide::CreateSlide(TQelSlideHost* Host, int32_t RepeatPass, foundation::TRefObject* Producer) {
  QEL_ASSERT(Host, "TQelSlide.Create: no slide host");
  auto props = foundation::MakeRef<TQelObjectProps>();
  TQelSlide* slide = TQelObject::Create<TQelSlide>(nullptr, props.Get());
  slide->FOwnProps = props;
  slide->Host = Host;
  Host->_AddRef();
  slide->RepeatPass = RepeatPass;
  slide->Producer = Producer;
  return slide;
}

TQelDialog* TQelSlide::CreateDialog(TQelSlideHost* Host, foundation::TRefObject* Producer) {
  QEL_ASSERT(Host, "TQelSlide.Create: no slide host");
  auto props = foundation::MakeRef<TQelObjectProps>();
  TQelDialog* dialog = TQelObject::Create<TQelDialog>(nullptr, props.Get());
  dialog->FOwnProps = props;
  dialog->Host = Host;
  Host->_AddRef();
  dialog->Producer = Producer;
  return dialog;
}

void TQelSlide::Dispose() {
  foundation::FreeAndNil(Transition);
  FBgCache.clear();
  BgObjects.clear();
  BgObjects2.clear();
  FBgSlides[0].Reset();
  FBgSlides[1].Reset();
  TQelSlideBase::Dispose();
  FOwnProps.Reset();
}

double TQelSlide::GetOriginTime(uint8_t Origin) {
  switch (Origin) {
    case koSlideBegin:
      return Start;
    case koPrevEffectEnd:
      return Start + EffectIn;
    case koNextEffectBegin:
      return End;
    case koSlideEnd:
      return End + EffectOut;
  }
  QEL_ASSERT(false, "TQelSlide.GetOriginTime: unknown origin");
  return Start;
}

bool TQelSlide::ProjectBounds(TFloatPoint, float&, float&) { return false; }

void TQelSlide::EvaluateAt(double T, bool Recurse) {
  LocalTime = T - Start;
  TQelSlideBase::EvaluateAt(T, Recurse);
}

void TQelSlide::SetTime(double T, bool Recurse) {
  if (T == LastSetTime && !IsChanged()) return;
  TQelSlideBase::SetTime(T, Recurse);
  LastSetTime = T;
}

void TQelSlide::UpdateTransform(bool Recurse) {
  if (!Measuring) {
    if (RenderSize.X <= 0 || RenderSize.Y <= 0) RenderSize = Size;
    MeasureExtents(true);
  }
  // The slide's frame sits in its middle with unit axes; its children are
  // placed in slide pixels.
  Matrix = {T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0}, T3DPoint{0, 0, 1}};
  FrameValid = foundation::InitAffineFrame3D(Frame, {Size.X / 2, Size.Y / 2, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
  RectOrigin = {-Size.X / 2, -Size.Y / 2};
  if (Recurse)
    for (TQelObject* c : Children) c->UpdateTransform(true);
}

void TQelSlide::MeasureExtents(bool Incremental) {
  if (ExtentsMeasured || Measuring) return;
  ExtentsMeasured = true;
  SavedTime = (Props ? Props->EvalTime : 0) + Start;
  KeyFrameTimes.clear();
  CollectKeyFrameTimes(KeyFrameTimes);
  ResetExtents();
  Measuring = true;
  try {
    for (double k : KeyFrameTimes) {
      TQelSlideBase::SetTime(k + Start, true);
      // The loader may ask a slide nobody needs any more to stop.
      if (!imaging::LoadCallBack(0)) break;
      for (TQelObject* c : Children) c->AccumulateExtents();
    }
    TQelSlideBase::SetTime(SavedTime, true);
  } catch (...) {
    Measuring = false;
    throw;
  }
  Measuring = false;
  LastSetTime = SavedTime;
  MaxScreenSize = {ParamScaleX() * RenderSize.X * 0.01f, ParamScaleY() * RenderSize.Y * 0.01f};
  for (TQelObject* c : Children) c->FinishExtents(Incremental, false);
}

void TQelSlide::ReadBackground(TIniList* Node, const std::u16string& p) {
  Background = TSlideBackground{};
  const int32_t style = TIniItem::GetInteger(TIniList::FindKey(Node, p + u"bstyle"), 0);
  if (style == 1) {
    Background.Style = bsSolid;
    if (TIniItem* c = TIniList::FindKey(Node, p + u"bcolor"))
      Background.Color1 = ColorOfValue(TIniItem::GetInteger(c, 0));
  } else if (style == 2) {
    Background.FileName = TIniList::ReadString(Node, p + u"bfn", Background.FileName);
    Background.Size = float(TIniItem::GetFloat(TIniList::FindKey(Node, p + u"bsize"), Background.Size));
    if (!Background.FileName.empty()) Background.Style = bsPicture;
  } else if (style == 3) {
    const int32_t colorStyle = TIniItem::GetInteger(TIniList::FindKey(Node, p + u"bcolorstyle"), 0);
    if (colorStyle == 1 || colorStyle == 2) {
      Background.Style = colorStyle == 1 ? bsGradientBox5 : bsGradientBox6;
      Background.Color1 = ColorOfValue(TIniItem::GetInteger(TIniList::FindKey(Node, p + u"bcolor1"), 0));
      Background.Color2 = ColorOfValue(TIniItem::GetInteger(TIniList::FindKey(Node, p + u"bcolor2"), 0));
    }
  }
  ConvertBackgroundColors(Background);
}

void TQelSlide::ConvertBackgroundColors(TSlideBackground& Bg) {
  const bool managed = !imaging::ColorManagementOff.load() && Host && Host->DisplayProfile;
  auto convert = [&](text::TFColor c) {
    text::TFColor out = c;
    if (managed) imaging::TransformColor(Host->DisplayProfile, out, c);
    return out;
  };
  Bg.Color1Display = convert(Bg.Color1);
  const bool sameColors = Bg.Color1.R == Bg.Color2.R && Bg.Color1.G == Bg.Color2.G && Bg.Color1.B == Bg.Color2.B;
  if (!managed) Bg.Color2Display = Bg.Color2;
  else Bg.Color2Display = (Bg.Style != bsSolid && !sameColors) ? convert(Bg.Color2) : Bg.Color1Display;
}

void TQelSlide::LoadSlide(foundation::TIniSection* Main, TIniList* SlideNode, foundation::TIniSection* Options,
                          int32_t Index, double In, double Out, bool NoSync) {
  ExtentsMeasured = false;
  FSlideIndex = Index;
  if (!NoSync) {
    const int32_t count = TIniItem::GetInteger(TIniList::FindKey(Options, u"opt_slidescount"), 0);
    Start = (Index < 1 || Index > count)
                ? 0
                : TIniItem::GetInteger(TIniList::FindKeyIndexed(Options, u"opt_synchpos", Index), 0);
    End = (Index < 0 || Index >= count)
              ? Start
              : TIniItem::GetInteger(TIniList::FindKeyIndexed(Options, u"opt_synchpos", Index + 1), int32_t(Start));
  }
  EffectIn = In;
  EffectOut = Out;

  // Time scaling of the key frames to the slide's real span.
  const int32_t in = RoundEvenFiniteOrZero(EffectIn), out = RoundEvenFiniteOrZero(EffectOut);
  const int32_t d = RoundEvenFiniteOrZero(End - Start);
  const TObjectTimes real{int32_t(int64_t(d) + out > 2147483647 ? 2147483647 : d + out), in, out};
  TObjectTimes load = real;
  float factor = 0;
  const int32_t mode = TIniItem::GetInteger(TIniList::FindKey(SlideNode, u"ScaleMode"), 0);
  if (mode == 1 || mode == 2) {
    foundation::TCommaList list;
    list.Split(TIniItem::GetRawValue(TIniList::FindKey(SlideNode, u"ScaleTimes")), ',');
    int32_t abc[3] = {0, 0, 0};
    for (int k = 0; k < 3 && k < list.GetCount(); ++k) {
      const std::u16string item = list.GetString(k);
      abc[k] = foundation::TByteString::FromUnicode(item).ToIntDef(0);
    }
    const double divisor = mode == 2 ? double(abc[0]) : double(abc[0]) + double(abc[2]);
    const double dividend = mode == 2 ? double(d) : double(real.SlideSpan);
    if (divisor != 0) factor = float(dividend / divisor);
    if (!std::isfinite(factor)) factor = 0;
    if (factor != 0) load = TObjectTimes{abc[0] + abc[2], abc[1], abc[2]};
  }

  LoadBackground(Main, SlideNode);

  foundation::TIniObject* container = TIniList::FindObject(SlideNode, u"Container");
  const bool reload = !Children.empty();
  if (container) {
    LoadObjectProps(Props, container, load);
    if (factor != 0) ScaleObjectTimes(Props, real, factor);
  }
  TimeScale = factor != 0 ? factor : 1;
  LoadFromProps(Props, reload);
  // The slide is named after its section, not its container block.
  Name = SlideNode ? std::string(SlideNode->NameView()) : std::string();
}

void TQelSlide::LoadBackground(foundation::TIniSection* Main, TIniList* SlideNode) {
  if (TIniItem::GetInteger(TIniList::FindKey(SlideNode, u"bstyle"), 0) != 0)
    ReadBackground(SlideNode, u"");
  else
    ReadBackground(Main, u"opt_");
}

TQelObject* TQelSlide::ProcessMouse(uint32_t Shift, float X, float Y, int32_t Button, int32_t Kind,
                                    TQelActionInfo& Action, bool Enabled) {
  Action = TQelActionInfo{};
  // Every button returns to its normal state first.
  std::vector<TQelObject*> stack(Children.begin(), Children.end());
  while (!stack.empty()) {
    TQelObject* o = stack.back();
    stack.pop_back();
    if (auto* b = dynamic_cast<TQelButton*>(o)) b->SetState(0);
    stack.insert(stack.end(), o->Children.begin(), o->Children.end());
  }
  if (!Enabled || (Shift != 0 && Shift != 16)) return nullptr;
  TFloatPoint local{};
  TQelObject* hit = HitTest(
      X, Y, local, [](TQelObject* o, void*) { return !o->TranspForClick; }, nullptr);
  if (!hit) return nullptr;
  const TQelActionInfo parsed = ParseAction(hit->Action);
  auto* button = std::string_view(hit->ClassName()) == "TQelButton" ? static_cast<TQelButton*>(hit) : nullptr;
  if (button && !hit->Action.empty()) {
    if (Kind == 0) {
      button->SetState((Shift & 16) ? 2 : 1);
    } else if (Kind == 1 && Button == 1) {
      button->SetState(2);
      button->SetPressed(true);
    } else if (Kind == 2 && Button == 1) {
      button->SetState(1);
      if (button->Pressed) Action = parsed;
      button->SetPressed(false);
    }
    return hit;
  }
  if (Kind == 1) {
    hit->SetPressed(true);
  } else if (Kind == 2) {
    if (hit->Pressed) Action = parsed;
    hit->SetPressed(false);
  }
  return hit;
}

// ---- backgrounds ----------------------------------------------------------------------------------------------

namespace {

bool SameColor(text::TFColor a, text::TFColor b) { return a.R == b.R && a.G == b.G && a.B == b.B; }

uint32_t Argb(text::TFColor c, uint8_t alpha) {
  return uint32_t(alpha) << 24 | uint32_t(c.R) << 16 | uint32_t(c.G) << 8 | c.B;
}

T3DPoint Sub(T3DPoint a, T3DPoint b) { return {a.X - b.X, a.Y - b.Y, a.Z - b.Z}; }
T3DPoint Add(T3DPoint a, T3DPoint b) { return {a.X + b.X, a.Y + b.Y, a.Z + b.Z}; }
T3DPoint Mul(T3DPoint a, double k) { return {float(a.X * k), float(a.Y * k), float(a.Z * k)}; }
double Len(T3DPoint a) { return std::sqrt(double(a.X) * a.X + double(a.Y) * a.Y + double(a.Z) * a.Z); }

}  // namespace

TQelSlide::TBgCacheEntry* TQelSlide::BackgroundEntry(const TSlideBackground& Bg) {
  if (Bg.Style != bsPicture || Bg.FileName.empty() || !Host || !Host->Accessor) return nullptr;
  char size[64];
  std::snprintf(size, sizeof size, "%.6f", double(Bg.Size));
  std::u16string key = u"SlideBg: ";
  for (const char* c = size; *c; ++c) key += char16_t(*c);
  key += u":" + Bg.FileName;
  for (TBgCacheEntry& e : FBgCache)
    if (e.Key == key) return &e;

  // Shown size: the picture's width at size % of the slide's when it is not
  // wider than the slide, else its height at size % of the slide's.
  TBgCacheEntry entry;
  entry.Key = key;
  auto image = foundation::TRef<imaging::TImage>::Adopt(container::TFileAccessor::LoadImage(Host->Accessor, Bg.FileName));
  imaging::TSysBitmap* full =
      image && image->Store
          ? dynamic_cast<imaging::TSysBitmap*>(
                image->Store->GetBitmap(0, imaging::pfA8R8G8B8, imaging::TSysBitmap::StaticClass()))
          : nullptr;
  const double pw = full ? full->Width : 0, ph = full ? full->Height : 0;
  const double sw = Size.X, sh = Size.Y;
  if (pw > 0 && ph > 0 && sw > 0 && sh > 0) {
    if (pw / ph <= sw / sh) {
      entry.Width = float(Bg.Size / 100.0 * sw);
      entry.Height = float(entry.Width * ph / pw);
    } else {
      entry.Height = float(Bg.Size / 100.0 * sh);
      entry.Width = float(entry.Height * pw / ph);
    }
  }
  if (!std::isfinite(entry.Width) || !std::isfinite(entry.Height)) entry.Width = entry.Height = 0;
  // A picture that shows at less than a pixel is not drawn (and is not
  // reduced: halving could never reach a size below 1).
  if (full && entry.Width >= 1 && entry.Height >= 1) {
    if (!imaging::ColorManagementOff.load() && Host->DisplayProfile && image->Store->ColorProfile) {
      auto transform = foundation::TRef<imaging::TColorTransform>::Adopt(
          imaging::GetColorTransform(image->Store->ColorProfile, Host->DisplayProfile));
      if (transform) {
        entry.Lut = foundation::TRef<imaging::TSysBitmap>::Adopt(imaging::CreateSysBitmap(32, 1024, imaging::pfA8R8G8B8));
        imaging::InitColorGradeLUT(entry.Lut.Get());
        if (!transform->TransformBitmap(entry.Lut.Get())) entry.Lut.Reset();
      }
    }
    int32_t w = full->Width, h = full->Height;
    while (w >= 2 * double(entry.Width) && h >= 2 * double(entry.Height)) {
      const int32_t nw = (w + 1) / 2, nh = (h + 1) / 2;
      if (nw == w && nh == h) break;
      w = nw;
      h = nh;
    }
    if (w != full->Width || h != full->Height) {
      imaging::TSysBitmap* reduced = imaging::CreateSysBitmap(w, h, imaging::pfA8R8G8B8);
      imaging::ResampleBitmapBilinear(reduced, full);
      image = foundation::TRef<imaging::TImage>::Adopt(imaging::WrapBitmapAsImage(reduced, true, key));
    }
    entry.Image = image;
    if (entry.Lut) entry.Grade = foundation::TRef<TColorGradeWrapper>::Adopt(new TColorGradeWrapper(nullptr));
  }
  // Two backgrounds may show at once (a blend): two entries.
  if (FBgCache.size() > 1) FBgCache.erase(FBgCache.begin());
  FBgCache.push_back(std::move(entry));
  return &FBgCache.back();
}

imaging::TImage* TQelSlide::GetBackgroundPicture(const TSlideBackground& Bg, float& Width, float& Height,
                                                 imaging::TSysBitmap** Lut) {
  Width = Height = 0;
  if (Lut) *Lut = nullptr;
  TBgCacheEntry* e = BackgroundEntry(Bg);
  if (!e || !e->Image) return nullptr;
  Width = e->Width;
  Height = e->Height;
  if (Lut) *Lut = e->Lut.Get();
  e->Image->_AddRef();
  return e->Image.Get();
}

void TQelSlide::DrawBackground(TQelDrawer* Drawer, const TSlideBackground& Bg, uint8_t Alpha) {
  if (Alpha == 0 || !Drawer) return;
  TFloatPoint c[4];
  GetScreenCorners(c, 4);
  // The quad is the slide's screen rectangle grown by 2 pixels each way.
  const T3DPoint tl{c[0].X - 2, c[0].Y - 2, 0}, tr{c[1].X + 2, c[1].Y - 2, 0}, bl{c[3].X - 2, c[3].Y + 2, 0};
  const T3DPoint edgeA = Sub(tr, tl), edgeB = Sub(bl, tl);
  if (Bg.Style == bsSolid || Bg.Style == bsGradientBox6 || Bg.Style == bsGradientBox5) {
    TBoxDrawParams box = Bg.Style == bsSolid ? TBoxDrawParams{} : Drawer->BoxTemplate();
    box.FillMode = Bg.Style == bsSolid ? 8 : Bg.Style == bsGradientBox6 ? 6 : 5;
    box.Color1 = Argb(Bg.Color1Display, Alpha);
    box.Color2 = Argb(Bg.Style == bsSolid ? Bg.Color1Display : Bg.Color2Display, Alpha);
    Drawer->DrawBox(tl, edgeA, edgeB, box);
    return;
  }
  if (Bg.Style != bsPicture) return;
  TBgCacheEntry* e = BackgroundEntry(Bg);
  if (!e || !e->Image || e->Width < 1 || e->Height < 1 || Size.X <= 0 || Size.Y <= 0) return;
  imaging::TImage* image = e->Image.Get();
  const double iw = image->Params.Width, ih = image->Params.Height;
  const double wq = std::nearbyint(Len(edgeA)), hq = std::nearbyint(Len(edgeB));
  if (iw <= 0 || ih <= 0 || wq <= 0 || hq <= 0) return;
  const T3DPoint ux = Mul(edgeA, 1 / Len(edgeA)), uy = Mul(edgeB, 1 / Len(edgeB));
  const double tw = wq * e->Width / Size.X, th = hq * e->Height / Size.Y;
  const int32_t n = int32_t(std::min<double>(std::ceil(Size.X / e->Width / 2), (kMaxBackgroundTiles - 1) / 2));
  const int32_t m = int32_t(std::min<double>(std::ceil(Size.Y / e->Height / 2), (kMaxBackgroundTiles - 1) / 2));
  const T3DPoint centre = Add(tl, Add(Mul(edgeA, 0.5), Mul(edgeB, 0.5)));
  TObjectDrawParams params = Drawer->DefaultDrawParams();
  params.Opacity = float(Alpha) / 255.0f * 100.0f;
  if (e->Lut && e->Grade) {
    TColorGradeTexture* t = e->Grade->GetTexture(Drawer, 3, e->Lut.Get());
    params.Grade.Mode = gmLookup;
    params.Grade.Fraction = 0;
    params.Grade.TextureA = params.Grade.TextureB = t;
  }
  const T3DPoint axisA = Mul(ux, tw / iw), axisB = Mul(uy, th / ih);
  for (int32_t j = -m; j <= m; ++j)
    for (int32_t i = -n; i <= n; ++i) {
      const T3DPoint origin = Add(centre, Add(Mul(ux, (i - 0.5) * tw), Mul(uy, (j - 0.5) * th)));
      TAffineFrame3D frame;
      foundation::InitAffineFrame3D(frame, origin, ux, uy, {0, 0, 1});
      Drawer->DrawObjectImage(image, frame, {0, 0}, axisA, axisB, params);
    }
}

void TQelSlide::Draw(TQelDrawer* Drawer) {
  if (!Drawer) return;
  if (!BackgroundSuppressed) {
    const uint8_t a = uint8_t(std::clamp((1.0 - double(BgMix)) * 255.0, 0.0, 255.0));
    auto* layers = dynamic_cast<TSlideLayerDrawer*>(Drawer);
    bool offscreen = false;
    if (!BgObjects2.empty() && layers && layers->BeginOffscreen()) {
      offscreen = true;
      DrawBackground(Drawer, Background2, 255);
      for (TQelObject* o : BgObjects2) Drawer->DrawItemWithEffects(o);
      layers->EndOffscreen();
    }
    DrawBackground(Drawer, Background, 255);
    for (TQelObject* o : BgObjects) Drawer->DrawItemWithEffects(o);
    // The second background shows only as far as it is mixed in.
    if (BgMix > 0) {
      if (offscreen) layers->DrawOffscreen(uint8_t(255 - a));
      else DrawBackground(Drawer, Background2, uint8_t(255 - a));
    }
  }
  CommitFrameState(false);
  size_t first = 0;
  if (BackgroundSuppressed) {
    // Inside a slide effect that draws the backgrounds itself, the objects
    // up to the first splitter belong to the background.
    for (size_t i = 0; i < Children.size(); ++i)
      if (Children[i]->IsSplitter) {
        first = i + 1;
        break;
      }
  }
  for (size_t i = first; i < Children.size(); ++i) Drawer->DrawItemWithEffects(Children[i]);
}

void TQelSlide::Preload(TQelDrawer* Drawer) {
  if (!Drawer || !Drawer->IsReady() || Drawer == LastPreloadDrawer) return;
  UpdateTransform(true);
  if (TBgCacheEntry* e = BackgroundEntry(Background))
    if (e->Image) Drawer->PrepareObjectTexture(e->Image.Get(), Drawer->DefaultDrawParams());
  for (TQelObject* c : Children) c->Preload(Drawer);
  if (PreloadTransitionHook) PreloadTransitionHook(this, Drawer);
  LastPreloadDrawer = Drawer;
}

TQelSlide::TPreloadTransitionHook TQelSlide::PreloadTransitionHook = nullptr;

void TQelSlide::SetBackgroundFile(const std::u16string& FileName) {
  if (foundation::SameText(FileName, Background.FileName)) return;
  Background.FileName = FileName;
  Changed[0] = true;
}

void TQelSlide::SetBackgroundSize(float Value) {
  if (Value == Background.Size) return;
  Background.Size = Value;
  Changed[0] = true;
}

void TQelSlide::SetBackgroundColor1(text::TFColor Color) {
  if (SameColor(Color, Background.Color1)) return;
  Background.Color1 = Color;
  ConvertBackgroundColors(Background);
  Changed[0] = true;
}

void TQelSlide::SetBackgroundColor2(text::TFColor Color) {
  if (SameColor(Color, Background.Color2)) return;
  Background.Color2 = Color;
  ConvertBackgroundColors(Background);
  Changed[0] = true;
}

void TQelSlide::SetBackgroundStyle(uint8_t Style) {
  if (Style == Background.Style) return;
  Background.Style = Style;
  ConvertBackgroundColors(Background);
  Changed[0] = true;
}

void TQelSlide::SetBlendBackground(float Mix, uint8_t Style, text::TFColor Color1, text::TFColor Color2,
                                   const std::u16string& FileName, float Size) {
  BgMix = std::clamp(std::isfinite(Mix) ? Mix : 0.0f, 0.0f, 1.0f);
  Background2.Style = Style;
  Background2.Color1 = Color1;
  Background2.Color2 = Color2;
  Background2.FileName = FileName;
  Background2.Size = Size;
  ConvertBackgroundColors(Background2);
}

void TQelSlide::SetBackgroundObjects(TQelSlide* A, TQelSlide* B) {
  auto take = [](TQelSlide* s, std::vector<TQelObject*>& out) {
    out.clear();
    if (!s) return;
    size_t splitter = s->Children.size();
    for (size_t i = 0; i < s->Children.size(); ++i)
      if (s->Children[i]->IsSplitter) {
        splitter = i;
        break;
      }
    if (splitter == s->Children.size()) return;
    out.assign(s->Children.begin(), s->Children.begin() + std::ptrdiff_t(splitter));
  };
  FBgSlides[0] = foundation::TRef<TQelSlide>::AddRef(A);
  FBgSlides[1] = foundation::TRef<TQelSlide>::AddRef(B);
  take(A, BgObjects);
  take(B, BgObjects2);
}

}  // namespace showmodel
