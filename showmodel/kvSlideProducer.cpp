#include "showmodel/kvSlideProducer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

#include "foundation/TickClock.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/Rounding.h"
#include "showmodel/kvQelKeyFrames.h"
#include "showmodel/kvSlideOrder.h"

namespace showmodel {

using foundation::TIniItem;
using foundation::TIniList;
using foundation::TRef;

namespace {

// Sizes and offsets of the slide's boxes: within a billion either way, so
// that a sum of two of them cannot overflow.
int32_t RoundExtent(double v) { return foundation::RoundEvenFiniteOrZero(v, -1000000000, 1000000000); }

struct Box {
  int32_t Width = 0, Height = 0;
};

// Steps 1-5 of fitting the show's picture (of the aspect) into a target.
Box FitBox(int32_t W, int32_t H, double RelW, double RelH, double Aspect, bool Cover) {
  if (!(RelW > 0) || !(RelH > 0)) return {};
  const double fullW = W / RelW * 100, fullH = H / RelH * 100;
  double boxW = fullH * Aspect, boxH = fullH;
  double s = 1;
  if (boxW > 0 && boxH > 0 && fullW > 0 && fullH > 0) {
    if (Cover) {
      const double m = std::min(boxW / fullW, boxH / fullH);
      if (m > 0 && std::isfinite(m)) s = 1 / m;
    } else {
      s = std::min(fullW / boxW, fullH / boxH);
    }
  }
  if (std::fabs(s - 1) > 0.00001) {
    boxW *= s;
    boxH *= s;
  }
  Box b{RoundExtent(boxW * RelW / 100), RoundExtent(boxH * RelH / 100)};
  // Even sides, unless the picture fills that axis.
  if ((b.Width & 1) && b.Width < W) ++b.Width;
  if ((b.Height & 1) && b.Height < H) ++b.Height;
  return b;
}

}  // namespace

// ---- TDrawContainer ----

void TDrawContainer::Dispose() {
  foundation::FreeAndNil(Slide);
  foundation::FreeAndNil(Timing);
  Transition = nullptr;
  TRefObject::Dispose();
}

void TDrawContainer::SetShowTime(double t) {
  if (Slide) Slide->SetTime(t - TimeShift, true);
  if (Transition && Transition->DrawFilter) Transition->DrawFilter->SetPosition(float(t - Times.Start));
}

// ---- TSlideProducer ----

TSlideProducer::TSlideProducer(TQelSource* Source, bool OwnsSource,
                               TQelSlideHost::TEffectResourceQuery ResourceCallback, TQelSlideHost* Host)
    : Source(Source), OwnsSource(OwnsSource) {
  QEL_ASSERT(Source, "TSlideProducer.Create: no source");
  foundation::TIniSection* main = Source->MainSection;
  if (Host) {
    Host->_AddRef();
    this->Host = Host;
  } else {
    foundation::TIniFile* ini = Source->Ini;
    this->Host = new TQelSlideHost(
        Source->Accessor, false, TIniList::ReadString(main, u"PathToButtons", u""),
        [this](int32_t& w, int32_t& h) {
          const TViewportRect r = CurrentViewportRect();
          w = r.Right - r.Left;
          h = r.Bottom - r.Top;
        },
        [ini](const std::u16string& name) -> foundation::TRefObject* {
          return foundation::TIniFile::FindSection(ini, name);
        },
        std::move(ResourceCallback));
  }
  ScreenHeight = TIniItem::GetInteger(TIniList::FindKey(main, u"opt_scr_height"), 1080);
  ScreenWidth = TIniItem::GetInteger(TIniList::FindKey(main, u"opt_scr_width"), 1920);
  FullFixedSize = TIniList::ReadBool(main, u"opt_scr_fullfixedsize", false);
  this->Host->SlideCount = Source->SlideCount;
  this->Host->DesignSize[0] = ScreenWidth;
  this->Host->DesignSize[1] = ScreenHeight;
  this->Host->VideoOpenFlags[0] = this->Host->VideoOpenFlags[1] = true;
  FView.Aspect = AspectFor(0, 0);
}

void TSlideProducer::Dispose() {
  foundation::FreeAndNil(CurrentTiming);
  // Slides still alive keep the host: its size query must not reach this
  // producer any more.
  if (Host) Host->RenderSizeQuery = [](int32_t& w, int32_t& h) { w = h = 0; };
  foundation::FreeAndNil(Host);
  if (OwnsSource) foundation::FreeObj(Source);
  Source = nullptr;
  TRefObject::Dispose();
}

void TSlideProducer::SetTiming(ITiming* Timing) {
  if (Timing) Timing->_AddRef();
  foundation::FreeObj(CurrentTiming);
  CurrentTiming = Timing;
}

double TSlideProducer::AspectFor(int32_t RenderWidth, int32_t RenderHeight) {
  double a;
  if (TIniItem::GetInteger(TIniList::FindKey(Source->MainSection, u"MinorVersion"), 13) > 12) {
    a = ScreenHeight > 0 ? double(ScreenWidth) / ScreenHeight : 4.0 / 3.0;
  } else {
    const double own = RenderHeight > 0 ? double(RenderWidth) / RenderHeight : 4.0 / 3.0;
    a = TIniItem::GetFloat(TIniList::FindKey(Source->MainSection, u"opt_scr_ratio"), own);
  }
  // An aspect no picture can have (a zero or negative authored width, a bad
  // ratio) is the 4:3 default.
  return (std::isfinite(a) && a > 0.01 && a < 100) ? a : 4.0 / 3.0;
}

void TSlideProducer::ComputeViewport(View& v) {
  if (FullFixedSize && ScreenWidth > 0 && ScreenHeight > 0) {
    if (ScreenWidth <= v.RenderWidth && ScreenHeight <= v.RenderHeight) {
      v.ViewportWidth = ScreenWidth;
      v.ViewportHeight = ScreenHeight;
    } else if (double(v.RenderWidth) / ScreenWidth < double(v.RenderHeight) / ScreenHeight) {
      v.ViewportWidth = v.RenderWidth;
      v.ViewportHeight = RoundExtent(double(v.RenderWidth) * ScreenHeight / ScreenWidth);
    } else {
      v.ViewportHeight = v.RenderHeight;
      v.ViewportWidth = RoundExtent(double(v.RenderHeight) * ScreenWidth / ScreenHeight);
    }
    return;
  }
  const Box b = FitBox(v.RenderWidth, v.RenderHeight, v.RelWidth, v.RelHeight, v.Aspect, v.Cover);
  v.ViewportWidth = b.Width;
  v.ViewportHeight = b.Height;
}

void TSlideProducer::SetRenderSize(int32_t Width, int32_t Height, double RelWidth, double RelHeight, bool Cover) {
  std::lock_guard<std::mutex> guard(FViewLock);
  FView.RelWidth = RelWidth;
  FView.RelHeight = RelHeight;
  FView.Aspect = AspectFor(Width, Height);
  FView.Cover = Cover;
  FView.RenderWidth = Width;
  FView.RenderHeight = Height;
  ComputeViewport(FView);
}

void TSlideProducer::SetScreenSize(int32_t Width, int32_t Height) {
  std::lock_guard<std::mutex> guard(FViewLock);
  ScreenWidth = Width;
  ScreenHeight = Height;
  Host->DesignSize[0] = Width;
  Host->DesignSize[1] = Height;
  FView.Aspect = AspectFor(FView.RenderWidth, FView.RenderHeight);
  ComputeViewport(FView);
}

TViewportRect TSlideProducer::GetViewportRect(int32_t W, int32_t H) {
  View v;
  {
    std::lock_guard<std::mutex> guard(FViewLock);
    v = FView;
  }
  const Box b = FitBox(W, H, v.RelWidth, v.RelHeight, v.Aspect, v.Cover);
  TViewportRect r;
  r.Left = RoundExtent(W / 2.0 - b.Width / 2.0);
  r.Top = RoundExtent(H / 2.0 - b.Height / 2.0);
  r.Right = r.Left + b.Width;
  r.Bottom = r.Top + b.Height;
  const TViewportRect clipped{std::max(0, r.Left), std::max(0, r.Top), std::min(W, r.Right), std::min(H, r.Bottom)};
  if (clipped.Left >= clipped.Right || clipped.Top >= clipped.Bottom) return {};
  return v.Cover ? r : clipped;
}

TViewportRect TSlideProducer::CurrentViewportRect() {
  std::lock_guard<std::mutex> guard(FViewLock);
  TViewportRect r;
  r.Left = RoundExtent(FView.RenderWidth / 2.0 - FView.ViewportWidth / 2.0);
  r.Top = RoundExtent(FView.RenderHeight / 2.0 - FView.ViewportHeight / 2.0);
  r.Right = std::min(FView.RenderWidth, r.Left + FView.ViewportWidth);
  r.Bottom = std::min(FView.RenderHeight, r.Top + FView.ViewportHeight);
  r.Left = std::max(0, r.Left);
  r.Top = std::max(0, r.Top);
  if (r.Left >= r.Right || r.Top >= r.Bottom) return {};
  return r;
}

bool TSlideProducer::IsCoverMode() {
  std::lock_guard<std::mutex> guard(FViewLock);
  return FView.Cover;
}

int32_t TSlideProducer::ViewportWidth() {
  std::lock_guard<std::mutex> guard(FViewLock);
  return FView.ViewportWidth;
}

int32_t TSlideProducer::ViewportHeight() {
  std::lock_guard<std::mutex> guard(FViewLock);
  return FView.ViewportHeight;
}

double TSlideProducer::Aspect() {
  std::lock_guard<std::mutex> guard(FViewLock);
  return FView.Aspect;
}

TFloatPoint TSlideProducer::GetSlideSize(bool* Usable) {
  View v;
  {
    std::lock_guard<std::mutex> guard(FViewLock);
    v = FView;
  }
  TFloatPoint size{float(v.ViewportWidth / v.RelWidth * 100), float(v.ViewportHeight / v.RelHeight * 100)};
  const bool usable = size.X >= 32;
  if (!usable) {
    size.X = 32;
    size.Y = (v.ViewportWidth == 0 || v.ViewportHeight == 0) ? 18.0f
                                                              : float(double(v.ViewportHeight) * 32 / v.ViewportWidth);
  }
  if (Usable) *Usable = usable;
  return size;
}

TQelSlide* TSlideProducer::CreateSlide(int32_t Index, int32_t Repetition) {
  const TFloatPoint size = GetSlideSize();
  TRef<TQelSlide> slide;
  if (Index < 0) {
    slide = TRef<TQelSlide>::Adopt(TQelSlide::CreateSlide(Host, 0, this));
    slide->Size = size;
    TSlideTimes t;
    Source->GetSlideTimes(-1, t);
    slide->Start = t.Start;
    slide->End = t.End;
    slide->EffectIn = t.EffectIn;
    slide->EffectOut = t.EffectOut;
    if (Source->SlideCount > 0)
      if (foundation::TIniSection* first = GetSlideSection(Source->Ini, 0))
        slide->LoadBackground(Source->MainSection, first);
  } else {
    QEL_ASSERT(Source->SlideCount >= 1, "No Slides in Presentation");
    const int32_t i = Index % Source->SlideCount;
    foundation::TIniSection* section = GetSlideSection(Source->Ini, i);
    if (!section) return nullptr;
    slide = TRef<TQelSlide>::Adopt(TQelSlide::CreateSlide(Host, Repetition, this));
    slide->Size = size;
    const TSlideInfo& row = Source->Slides[size_t(i)];
    slide->LoadSlide(Source->MainSection, section, Source->TimesSection, i, row.EffectIn, row.EffectOut, false);
    auto filter = foundation::MakeRef<TQelFilter>();
    double duration = 0, smooth = 0;
    filter->SetEffect(Source->GetSlideTransition(i, duration, smooth));
    filter->Duration = duration;
    filter->SmoothLine = float(smooth);
    slide->Transition = filter.Detach();
  }
  if (size.X > 0 && size.Y > 0) {
    SetCurrentValue(slide->Props, kpScaleX, float(100.0 * ViewportWidth() / size.X));
    SetCurrentValue(slide->Props, kpScaleY, float(100.0 * ViewportHeight() / size.Y));
  }
  return slide.Detach();
}

TQelSlide* TSlideProducer::CreateSlideFromSection(foundation::TIniSection* Section) {
  if (!Section) return nullptr;
  const TFloatPoint size = GetSlideSize();
  auto slide = TRef<TQelSlide>::Adopt(TQelSlide::CreateSlide(Host, 0, this));
  slide->Size = size;
  slide->Start = 0;
  slide->End = ReadMilliseconds(TIniList::FindKey(Section, u"CustomEffTime"), 2000);
  slide->LoadSlide(Source->MainSection, Section, Source->TimesSection, -1, 0, 0, true);
  if (size.X > 0 && size.Y > 0) {
    SetCurrentValue(slide->Props, kpScaleX, float(100.0 * ViewportWidth() / size.X));
    SetCurrentValue(slide->Props, kpScaleY, float(100.0 * ViewportHeight() / size.Y));
  }
  return slide.Detach();
}

TQelDialog* TSlideProducer::CreateDialog(const std::u16string& Name) {
  foundation::TIniFile* ini = Source->Ini;
  auto number = [](int64_t n) {
    std::u16string out;
    for (char c : std::to_string(n)) out += char16_t(c);
    return out;
  };
  foundation::TIniSection* section = nullptr;
  if (Name == u"help") {
    for (int64_t n = 1;; ++n) {
      foundation::TIniSection* s = foundation::TIniFile::FindSection(ini, u"dialog_" + number(n) + u"_");
      if (!s) break;
      if (TIniList::ReadBool(s, u"help", false)) {
        section = s;
        break;
      }
    }
  } else {
    std::u16string name = Name;
    // A count beyond the keys written is a damaged project: the keys end it.
    const int32_t count = std::min(TIniItem::GetInteger(TIniList::FindKey(Source->MainSection, u"opt_customdialogscount"), 0), 100000);
    for (int32_t n = 1; n <= count; ++n) {
      TIniItem* item = TIniList::FindKeyIndexed(Source->MainSection, u"custom_dialog", n);
      if (item && foundation::SameText(TIniItem::GetValue(item), Name)) {
        name = number(n) + u"_";
        break;
      }
    }
    section = foundation::TIniFile::FindSection(ini, u"dialog_" + name);
  }
  if (!section) return nullptr;
  auto dialog = TRef<TQelDialog>::Adopt(TQelSlide::CreateDialog(Host, this));
  dialog->DialogPause = TIniList::ReadBool(section, u"DialogPause", true);
  dialog->DialogName = Name;
  dialog->FadePercent = 0;
  const TFloatPoint size = GetSlideSize();
  dialog->Size = size;
  dialog->LoadSlide(Source->MainSection, section, Source->TimesSection, -1, 0, 0, true);
  if (size.X > 0 && size.Y > 0) {
    SetCurrentValue(dialog->Props, kpScaleX, float(100.0 * ViewportWidth() / size.X));
    SetCurrentValue(dialog->Props, kpScaleY, float(100.0 * ViewportHeight() / size.Y));
  }
  dialog->LastSetTime = std::nan("");
  dialog->SetTime(0, true);
  return dialog.Detach();
}

TDrawContainer* TSlideProducer::PrepareSlide(int32_t Index) {
  QEL_ASSERT(CurrentTiming, "TSlideProducer.CurrentTiming not Assigned");
  auto c = foundation::MakeRef<TDrawContainer>();
  c->Index = Index;
  CurrentTiming->_AddRef();
  c->Timing = CurrentTiming;
  Source->GetSlideTimes(Index, c->Times);
  int32_t a = Index, r = 0;
  if (Source->SlideCount > 0 && a >= Source->SlideCount) {
    r = a / Source->SlideCount;
    c->TimeShift = double(r) * Source->ShowLength;
    a %= Source->SlideCount;
  }
  c->Slide = CreateSlide(a, r);
  if (c->Slide) {
    c->SlideSize = c->Slide->Size;
    c->Transition = c->Slide->Transition;
  }
  return c.Detach();
}

double TSlideProducer::RoundedOutEnd(int32_t Index) {
  TSlideTimes t;
  Source->GetSlideTimes(Index, t);
  return GetSlideOutEnd(t);
}

int32_t TSlideProducer::FindSlides(double t, int32_t* Last) {
  // The exact time, not a rounded one: the same comparisons as the current
  // slide's rule, so the current slide is always inside [first, last].
  if (!std::isfinite(t)) t = 0;
  const int32_t top = Source->ShowLength > 0 ? std::numeric_limits<int32_t>::max() - 2 : Source->SlideCount - 1;
  if (Cursor > top) Cursor = std::max(-1, top);
  while (Cursor > -2 && t < RoundedOutEnd(Cursor - 1)) --Cursor;
  while (Cursor < top && RoundedOutEnd(Cursor) < t) ++Cursor;
  const int32_t first = Cursor;
  int32_t last = first;
  if (first < std::numeric_limits<int32_t>::max() - 1) {
    TSlideTimes next;
    Source->GetSlideTimes(first + 1, next);
    if (t >= next.Start && GetSlideOutEnd(next) >= t && (Source->SlideCount > 0)) last = first + 1;
  }
  if (Last) *Last = last;
  return first;
}

// ---- TSlideCache ----

TSlideCache::TSlideCache(TSlideProducer* Producer, bool OwnsProducer, int32_t LookAhead)
    : Producer(Producer), OwnsProducer(OwnsProducer), LookAhead(std::clamp(LookAhead, 1, 3)) {
  QEL_ASSERT(Producer, "TSlideCache.Create: no producer");
  QEL_ASSERT(LookAhead >= 1 && LookAhead <= 3, "TSlideCache.Create: look-ahead outside 1..3");
  Clock = [] { return foundation::GetTickMs(); };
  Sleep = [](uint32_t ms) { foundation::SleepMs(ms); };
}

void TSlideCache::Dispose() {
  Clear();
  if (OwnsProducer) foundation::FreeObj(Producer);
  Producer = nullptr;
  TRefObject::Dispose();
}

void TSlideCache::Clear() {
  FItems.clear();
}

bool TSlideCache::Update(double t) {
  const int32_t first = Producer->FindSlides(t);
  const int64_t lastIndex = int64_t(first) + LookAhead - 1;
  auto inWindow = [&](int32_t i) { return i >= first && i <= lastIndex; };
  bool changed = false;
  for (size_t k = 0; FItems.size() >= 2 && k < FItems.size();) {
    if (inWindow(FItems[k]->Index)) {
      ++k;
      continue;
    }
    TRef<TDrawContainer> gone = FItems[k];
    FItems.erase(FItems.begin() + std::ptrdiff_t(k));
    changed = true;
    if (OnChanged) OnChanged(this);
  }
  int64_t a = first;
  auto prepared = [&](int64_t i) {
    for (auto& c : FItems)
      if (c->Index == i) return true;
    return false;
  };
  while (a <= lastIndex && prepared(a)) ++a;
  if (a > lastIndex) {
    bool usable = false;
    const TFloatPoint size = Producer->GetSlideSize(&usable);
    const int64_t now = Clock();
    if (now - LastRefresh < 100 || !usable) return changed;
    bool rebuilt = false;
    for (size_t k = 0; k < FItems.size(); ++k) {
      if (FItems[k]->SlideSize.X == size.X && FItems[k]->SlideSize.Y == size.Y) continue;
      if (!FItems[k]->Slide) continue;  // a missing section has no size to follow
      auto fresh = TRef<TDrawContainer>::Adopt(Producer->PrepareSlide(FItems[k]->Index));
      if (OnNewSlide) OnNewSlide(this, fresh.Get());
      FItems[k] = fresh;
      if (OnChanged) OnChanged(this);
      LastRefresh = now;
      rebuilt = true;
      Sleep(50);
    }
    return changed || rebuilt;
  }
  auto fresh = TRef<TDrawContainer>::Adopt(Producer->PrepareSlide(int32_t(a)));
  if (OnNewSlide) OnNewSlide(this, fresh.Get());
  auto at = std::find_if(FItems.begin(), FItems.end(), [&](const TRef<TDrawContainer>& c) { return c->Index >= a; });
  FItems.insert(at, fresh);
  if (OnChanged) OnChanged(this);
  return true;
}

}  // namespace showmodel
