#include "showmodel/kvQelSlide.h"

#include <cmath>

#include "foundation/kpExceptions.h"
#include "foundation/kvByteStringLists.h"
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

int32_t RoundEven(double v) {
  if (!std::isfinite(v)) return 0;
  v = std::nearbyint(v);
  if (v > 2147483647.0) return 2147483647;
  if (v < -2147483648.0) return -2147483647 - 1;
  return int32_t(v);
}

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
  // The slide's frame sits in its middle with unit axes; its children are
  // placed in slide pixels.
  Matrix = {T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0}, T3DPoint{0, 0, 1}};
  FrameValid = foundation::InitAffineFrame3D(Frame, {Size.X / 2, Size.Y / 2, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
  RectOrigin = {-Size.X / 2, -Size.Y / 2};
  if (Recurse)
    for (TQelObject* c : Children) c->UpdateTransform(true);
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
}

void TQelSlide::LoadSlide(foundation::TIniSection* Main, TIniList* SlideNode, foundation::TIniSection* Options,
                          int32_t Index, double In, double Out, bool NoSync) {
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
  const int32_t in = RoundEven(EffectIn), out = RoundEven(EffectOut);
  const int32_t d = RoundEven(End - Start);
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

}  // namespace showmodel
