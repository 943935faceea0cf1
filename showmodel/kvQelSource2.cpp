#include "showmodel/kvQelSource2.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>

#include "container/kvQelLoader2.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvFileUtils.h"
#include "showmodel/kvSlideOrder.h"
#include "text/GraphicsParams.h"

namespace showmodel {

using foundation::TIniItem;
using foundation::TIniList;
using foundation::TRef;

namespace {

bool Same(std::u16string_view a, std::u16string_view b) {
  return foundation::SameText(std::u16string(a), std::u16string(b));
}

std::u16string Lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  return s;
}

// The file name of a show path without folder and extension; one trailing
// backslash is ignored.
std::u16string BareName(std::u16string path) {
  if (!path.empty() && path.back() == u'\\') path.pop_back();
  const size_t slash = path.find_last_of(u'\\');
  if (slash != std::u16string::npos) path = path.substr(slash + 1);
  const size_t dot = path.find_last_of(u'.');
  if (dot != std::u16string::npos) path.resize(dot);
  return path;
}

// Option switches: exactly "1" enables.
bool Flag(const std::u16string& s, size_t i) { return i < s.size() && s[i] == u'1'; }

double Number(const std::u16string& text, double def) {
  const double v = foundation::TByteString::FromUnicode(text).ToFloatDef(std::nan(""));
  return std::isfinite(v) ? v : def;
}

}  // namespace

TRandomBelow ClockSeededRandom() {
  auto engine = std::make_shared<std::mt19937>(
      uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()));
  return [engine](int32_t range) -> int32_t {
    if (range <= 1) return 0;
    return std::uniform_int_distribution<int32_t>(0, range - 1)(*engine);
  };
}

// ---- Transition kinds ----

int32_t TransitionKindOf(std::u16string_view name) {
  static constexpr std::u16string_view kNames[] = {u"dissolve", u"hourhand", u"shapes", u"gates",
                                                   u"page",     u"mosaic",   u"push",   u"slide",
                                                   u"curling",  u"flip",     u"swap"};
  if (name.empty() || Same(name, u"quick") || Same(name, u"default") || Same(name, u"defowntime")) return 0;
  for (size_t k = 0; k < std::size(kNames); ++k)
    if (Same(name, kNames[k])) return int32_t(k) + 1;
  return 12;
}

namespace {

// The direction options of the action x direction kinds: [2, end).
int32_t DirectionEnd(int32_t kind) { return kind == 2 ? 11 : kind == 3 ? 5 : kind == 9 ? 10 : 0; }

int32_t CountOn(const std::vector<bool>& o, size_t from, size_t to) {
  int32_t n = 0;
  for (size_t k = from; k < to && k < o.size(); ++k) n += o[k] ? 1 : 0;
  return n;
}

// The options whose "one of them" counts variants for the single-axis kinds.
size_t VariantOptionEnd(const TQelEffect& e) { return e.Kind == 10 ? 4 : e.Options.size(); }

}  // namespace

TQelEffect* MakeKindEffect(int32_t kind, TEffectProp* prop) {
  auto e = TRef<TQelEffect>::Adopt(new TQelEffect(kind));
  auto value = [&](std::u16string_view key) { return prop->GetValue(key); };
  auto integer = [&](std::u16string_view key, int32_t def) {
    return foundation::TByteString::FromUnicode(value(key)).ToIntDef(def);
  };
  auto checked = [&]() {
    const std::u16string v = value(u"checked");
    return v == u"0" ? false : true;
  };
  auto smooth = [&](double def) {
    e->SetSmoothLine(prop->HasValue(u"smoothline") ? Number(value(u"smoothline"), def) : def);
  };
  const std::u16string action = value(u"action");
  const std::u16string direction = value(u"direction");
  std::vector<bool>& o = e->Options;
  switch (kind) {
    case 1:
      o = {checked()};
      e->VariantCount = o[0] ? 1 : 0;
      break;
    case 2:
    case 3:
    case 9: {
      o = {Flag(action, 0), Flag(action, 1)};
      if (kind == 2)
        for (size_t k = 0; k <= 8; ++k) o.push_back(Flag(direction, k));
      if (kind == 3)
        for (size_t k = 0; k <= 2; ++k) o.push_back(Flag(direction, k));
      if (kind == 9) {
        for (size_t k = 8; k-- > 0;) o.push_back(Flag(direction, k));
        o.push_back(value(u"usecolor") == u"1");
        o.push_back(value(u"usevolume") == u"1");
      }
      e->VariantCount = CountOn(o, 0, 2) * CountOn(o, 2, size_t(DirectionEnd(kind)));
      if (kind == 2) {
        e->FloatParams = {float(Number(value(u"offset"), 0))};
        smooth(0.35);
      } else if (kind == 3) {
        e->IntParams = {integer(u"centerx", 50), integer(u"centery", 50)};
        smooth(0);
      } else {
        const text::TARGB c = text::ByteStrToColorDef(foundation::TByteString::FromUnicode(value(u"color")), 0);
        const uint32_t swapped = (c & 0xFF00FF00u) | ((c >> 16) & 0xFFu) | ((c & 0xFFu) << 16);
        e->IntParams = {integer(u"pipe", 1), int32_t(swapped)};
        e->FloatParams = {float(Number(value(u"radius"), 0)), float(Number(value(u"3dvolume"), 0.125))};
      }
      break;
    }
    case 4:
    case 5:
      for (size_t k = 0; k <= 7; ++k) o.push_back(Flag(direction, k));
      e->VariantCount = CountOn(o, 0, o.size());
      smooth(0);
      break;
    case 6:
      o = {checked()};
      e->VariantCount = o[0] ? 1 : 0;
      e->IntParams = {integer(u"cols", 1), integer(u"rows", 1), integer(u"appearence", 0), 0};
      break;
    case 7:
    case 8:
    case 10:
    case 11:
      for (size_t k : {1, 0, 2, 3}) o.push_back(Flag(direction, k));
      e->VariantCount = CountOn(o, 0, 4);
      if (kind == 10) {
        o.push_back(value(u"spin_center") == u"1");
        o.push_back(value(u"nonlinear_speed") == u"1");
        e->FloatParams = {float(Number(value(u"3dvolume"), 0.5))};
      }
      if (kind == 11)
        e->FloatParams = {float(Number(value(u"depth"), 4.0)), float(Number(value(u"distance"), 1.0)),
                          float(Number(value(u"angle"), 60.0))};
      break;
    default:
      return nullptr;
  }
  if (e->VariantCount < 1) return nullptr;
  return e.Detach();
}

TQelEffect* ReduceToVariant(const TQelEffect* effect, int32_t v) {
  TQelEffect* copy = effect->Clone();
  std::vector<bool>& o = copy->Options;
  const int32_t dirEnd = DirectionEnd(copy->Kind);
  if (dirEnd > 0) {
    // Pairs (enabled action, enabled direction), action-major. Only the pair
    // of the variant stays enabled: one action, one direction.
    const int32_t dirs = CountOn(o, 2, size_t(dirEnd));
    if (dirs < 1) return copy;
    int32_t actionRank = v / dirs, dirRank = v % dirs;
    int32_t chosenAction = -1, chosenDir = -1;
    for (int32_t a = 0; a < 2; ++a)
      if (o[size_t(a)] && actionRank-- == 0) chosenAction = a;
    for (int32_t d = 2; d < dirEnd; ++d)
      if (o[size_t(d)] && dirRank-- == 0) chosenDir = d;
    for (int32_t a = 0; a < 2; ++a) o[size_t(a)] = a == chosenAction;
    for (int32_t d = 2; d < dirEnd; ++d) o[size_t(d)] = d == chosenDir;
    return copy;
  }
  const size_t end = VariantOptionEnd(*copy);
  int32_t rank = v;
  for (size_t k = 0; k < end && k < o.size(); ++k) {
    if (!o[k]) continue;
    o[k] = rank-- == 0;
  }
  return copy;
}

// ---- TQelSource ----

TQelSource::TQelSource(container::TFileAccessor* Accessor, foundation::TIniFile* Ini, bool OwnsIni,
                       TRandomBelow Random)
    : Accessor(Accessor), Ini(Ini), OwnsIni(OwnsIni), FRandom(std::move(Random)) {
  QEL_ASSERT(Accessor && Ini, "TQelSource.Create: accessor and project INI must be given");
  if (!FRandom) FRandom = ClockSeededRandom();
  try {
    Build();
  } catch (...) {
    // The caller still owns what it handed over: nothing of it is released.
    foundation::FreeAndNil(EffectManager);
    DefaultEffects.clear();
    throw;
  }
}

void TQelSource::Build() {
  MainSection = foundation::TIniFile::ForceSection(Ini, u"Main");
  TimesSection = foundation::TIniFile::FindSection(Ini, u"Times");
  TIniItem* height = TIniList::ForceKey(MainSection, u"opt_scr_height");
  TIniItem* width = TIniList::ForceKey(MainSection, u"opt_scr_width");
  ScreenHeight = TIniItem::GetInteger(height, 1080);
  ScreenWidth = TIniItem::GetInteger(width, 1920);
  EffectManager = new TQELEffectManager(Ini, ScreenWidth, ScreenHeight);

  IsScreenSaver = Lower(foundation::ExtractFileExt(foundation::ProgramFileName)) == u".scr";
  if (IsScreenSaver) {
    TIniList::WriteString(MainSection, u"opt_ssaver", u"1");
    TIniList::WriteString(MainSection, u"opt_fcp", u"0");
    TIniList::WriteString(MainSection, u"opt_hidecursor", u"1");
    TIniList::WriteString(MainSection, u"opt_scr_full", u"1");
    TIniList::WriteString(MainSection, u"opt_repeat", u"repeat");
  } else {
    TIniList::WriteString(MainSection, u"opt_ssaver", u"0");
  }

  PauseWhenInactive = TIniList::ReadBool(MainSection, u"opt_pausewheninactive", true);
  const std::u16string repeat = TIniList::ReadString(MainSection, u"opt_repeat", u"repeat");
  RepeatMode = Same(repeat, u"close") ? rmClose : Same(repeat, u"stop") ? rmStop : rmRepeat;
  SlideCount = std::max(0, TIniItem::GetInteger(TIniList::FindKey(TimesSection, u"opt_slidescount"), 0));
  const uint32_t colorRef = uint32_t(TIniItem::GetInteger(TIniList::FindKey(MainSection, u"opt_scr_hidercolor"), 0));
  HiderColor = ((colorRef & 0xFF) << 16) | (colorRef & 0xFF00) | ((colorRef >> 16) & 0xFF);
  UnsharpAmount = float(TIniItem::GetFloat(TIniList::FindKey(MainSection, u"opt_scr_unsharpamount"), 0.0));
  MotionBlurFrames = TIniItem::GetInteger(TIniList::FindKey(MainSection, u"opt_motion_blur_frames"), 0);
  MotionBlurFade = TIniItem::GetInteger(TIniList::FindKey(MainSection, u"opt_motion_blur_fade"), 0);

  BuildDefaultEffects();

  // The slide table. A count larger than the sync positions written is
  // answered with rows of length 0 at the end, so the table never needs more
  // than the project holds; a hostile count is limited to what memory allows
  // for rows that all repeat the last boundary.
  constexpr int32_t kMaxSlides = 1000000;
  if (SlideCount > kMaxSlides) SlideCount = kMaxSlides;
  Slides.resize(size_t(SlideCount));
  double prev = 0;
  for (int32_t i = 0; i < SlideCount; ++i) {
    const double e = TIniItem::GetInteger(TIniList::FindKeyIndexed(TimesSection, u"opt_synchpos", i + 1), 0);
    QEL_ASSERT(e >= prev, "Incorrect time");
    TSlideInfo& row = Slides[size_t(i)];
    row.EffectIn = GetTransitionDuration(i);
    row.EffectOut = GetTransitionDuration(i + 1);
    row.Start = prev;
    row.End = e;
    if (row.EffectIn > row.End - row.Start) row.EffectIn = row.End - row.Start;
    ShowLength = row.End;
    prev = e;
    if (foundation::TIniSection* section = GetSlideSection(Ini, i)) {
      row.SlideId = TIniList::ReadString(section, u"slideid", u"");
      if (row.SlideId.empty()) row.SlideId = BareName(TIniList::ReadString(section, u"Picture", u""));
    }
  }
}

void TQelSource::Dispose() {
  DefaultEffects.clear();
  foundation::FreeAndNil(EffectManager);
  if (OwnsIni) foundation::FreeObj(Ini);
  Ini = nullptr;
  if (OwnsAccessor) foundation::FreeObj(Accessor);
  Accessor = nullptr;
  TRefObject::Dispose();
}

std::u16string TQelSource::PlayError() const {
  if (SlideCount < 1) return u"The show has no slides";
  if (!(ShowLength > 0)) return u"The show has a length of 0";
  return std::u16string();
}

int32_t TQelSource::GetSlideTimes(int32_t Index, TSlideTimes& Times) const {
  if (Index == -1) {
    Times = {kBeforeShowStart, 0, 0, SlideCount > 0 ? Slides[0].EffectIn : 0};
    return -1;
  }
  if (Index <= -2 || SlideCount < 1) {
    Times = {kFarBeforeShowStart, kBeforeShowStart, 0, 0};
    if (Index >= 0) Times = TSlideTimes{};
    return -1;
  }
  const int32_t r = Index / SlideCount;
  Times = Slides[size_t(Index - r * SlideCount)];
  const double shift = double(r) * ShowLength;
  if (shift > 0) {
    IncTime(Times.Start, shift);
    IncTime(Times.End, shift);
  }
  return r;
}

int32_t TQelSource::SlideIndexAt(double t) const {
  if (!(t >= kBeforeShowStart) || t <= 0 || SlideCount < 1) return -1;
  // Every row ends at 0: the show is over before it begins; its last slide
  // is current from then on.
  if (!(ShowLength > 0)) return SlideCount - 1;
  const double pass = std::floor(t / ShowLength);
  double local = t - pass * ShowLength;
  double r = pass;
  // The end of a pass belongs to the last slide of that pass.
  if (local <= 0 && r > 0) {
    r -= 1;
    local += ShowLength;
  }
  const int32_t j = CurrentSlideIn(Slides, SlideCount, 0, local);
  const double index = r * SlideCount + std::max(0, j);
  return index >= double(std::numeric_limits<int32_t>::max()) ? std::numeric_limits<int32_t>::max()
                                                               : int32_t(index);
}

double TQelSource::GetTransitionDuration(int32_t Index) {
  QEL_ASSERT(SlideCount >= 1, "TQelSource.GetTransitionDuration: the show has no slides");
  if (RepeatMode != rmRepeat && Index >= SlideCount) return 0;
  return EffectManager->GetEffectTime(Index % SlideCount);
}

bool TQelSource::GetSlideEndAction(int32_t Index, double& LoopDuration) {
  LoopDuration = 0;
  foundation::TIniSection* section = Index >= 0 ? GetSlideSection(Ini, Index) : nullptr;
  static constexpr std::u16string_view kActions[] = {u"timer", u"pause", u"loop"};
  int32_t action = -1;
  if (TIniItem* item = TIniList::FindKey(section, u"Pers_EndAction")) {
    const std::u16string v = TIniItem::GetValue(item);
    for (int32_t k = 0; k < 3; ++k)
      if (Same(v, kActions[k])) action = k;
  }
  if (action < 0) action = TIniList::ReadBool(MainSection, u"opt_manualshow", false) ? 1 : 0;
  if (action == 2 && Index >= 0 && Index < SlideCount) LoopDuration = GetLoopDuration(Slides[size_t(Index)]);
  return action != 0;
}

bool TQelSource::GetSlideRunApp(int32_t Index, std::u16string& FileName) {
  FileName.clear();
  foundation::TIniSection* section = Index >= 0 ? GetSlideSection(Ini, Index) : nullptr;
  if (!section || !TIniList::ReadBool(section, u"Pers_RunApp", false)) return false;
  FileName = TIniList::ReadString(section, u"RunAppFN", u"");
  return !FileName.empty();
}

// ---- Transition choice ----

void TQelSource::BuildDefaultEffects() {
  DefaultEffectTime = EffectManager->GetRootTime();
  const int32_t count = EffectManager->GetDefinitionCount();
  for (int32_t d = 0; d < count; ++d) {
    TEffectProp* def = EffectManager->GetDefinition(d);
    if (!def || def->IsReference() || def->GetUse() == TEffectUse::None) continue;
    const int32_t kind = TransitionKindOf(TIniItem::GetValue(def->Node));
    if (kind == 0) continue;
    if (kind != 12) {
      if (TQelEffect* e = MakeKindEffect(kind, def)) DefaultEffects.push_back(TRef<TQelEffect>::Adopt(e));
      continue;
    }
    const int32_t variants = def->GetVariantCount();
    for (int32_t v = 0; v < variants; ++v) {
      if (!def->IsVariantChecked(v)) continue;
      foundation::TIniSection* section = def->GetVariantSection(v);
      if (!section) continue;
      auto e = TRef<TQelEffect>::Adopt(new TQelEffect(12));
      e->Options = {true};
      e->VariantCount = 1;
      e->SetDescription(section);
      DefaultEffects.push_back(e);
    }
  }
  EffectOrder.resize(DefaultEffects.size());
  for (size_t k = 0; k < EffectOrder.size(); ++k) EffectOrder[k] = int32_t(k);
  ShuffleOrder();
}

void TQelSource::ShuffleOrder() {
  // Fisher-Yates: every order of the set is equally likely.
  const int32_t n = int32_t(EffectOrder.size());
  for (int32_t i = 0; i + 1 < n; ++i) {
    const int32_t r = i + std::clamp(FRandom(n - i), 0, n - i - 1);
    if (r != i) std::swap(EffectOrder[size_t(i)], EffectOrder[size_t(r)]);
  }
}

TQelEffect* TQelSource::PickDefault(int32_t Index) {
  const int32_t n = int32_t(DefaultEffects.size());
  if (n == 0) return nullptr;
  int32_t c;
  if (FixedEffects) {
    c = Index % n;
  } else {
    c = EffectCounter % n;
    EffectCounter = EffectCounter == std::numeric_limits<int32_t>::max() ? 0 : EffectCounter + 1;
    if (c == 0) ShuffleOrder();
  }
  const TQelEffect* tmpl = DefaultEffects[size_t(EffectOrder[size_t(c)])].Get();
  const int32_t count = tmpl->VariantCount;
  QEL_ASSERT(count >= 1, "TQelSource: a default transition without variants");
  int32_t v;
  if (FixedEffects) {
    v = Index % count;
    if ((EffectParity != bool(Index & 1)) != bool(v & 1)) v = (v + 1) % count;
  } else {
    v = std::clamp(FRandom(count), 0, count - 1);
    if ((v % 2 == 0) != EffectParity) v = (v + 1) % count;
    EffectParity = !EffectParity;
  }
  return ReduceToVariant(tmpl, v);
}

TQelEffect* TQelSource::GetSlideTransition(int32_t Index, double& Duration, double& SmoothLine) {
  QEL_ASSERT(SlideCount >= 1, "TQelSource.GetSlideTransition: the show has no slides");
  Duration = 0;
  SmoothLine = 0;
  if (Index < 0) return nullptr;
  const int32_t i = Index % SlideCount;
  TEffectProp* prop = EffectManager->GetSlideEffect(i);
  if (!prop) return nullptr;
  // The length is the one the time table schedules for the slide, so the
  // transition drawn always fills the time the table gives it.
  Duration = Slides[size_t(i)].EffectIn;
  SmoothLine = prop->HasValue(u"smoothline") ? Number(prop->GetValue(u"smoothline"), 0) : 0;
  const std::u16string type = prop->GetTypeName();
  TRef<TQelEffect> effect;
  if (Same(type, u"default") || Same(type, u"defowntime")) {
    effect = TRef<TQelEffect>::Adopt(PickDefault(i));
    if (effect) SmoothLine = effect->SmoothLine;
  } else {
    const int32_t kind = TransitionKindOf(type);
    if (kind >= 1 && kind <= 11) {
      effect = TRef<TQelEffect>::Adopt(MakeKindEffect(kind, prop));
    } else if (kind == 12) {
      // A custom effect: the description of its first checked variant; none
      // when no variant has one to draw.
      const int32_t variants = prop->GetVariantCount();
      for (int32_t v = 0; v < variants && !effect; ++v) {
        if (!prop->IsVariantChecked(v)) continue;
        if (foundation::TIniSection* section = prop->GetVariantSection(v)) {
          effect = foundation::MakeRef<TQelEffect>(12);
          effect->Options = {true};
          effect->VariantCount = 1;
          effect->SetDescription(section);
        }
      }
    }
  }
  if (!effect) {
    Duration = 0;
    return nullptr;
  }
  if (effect->Kind == 6 && effect->IntParams.size() >= 4)
    effect->IntParams[3] = FixedEffects ? i : std::clamp(FRandom(4096), 0, 4095) * 4096 + std::clamp(FRandom(4096), 0, 4095);
  if (Duration == 0) return nullptr;
  return effect.Detach();
}

namespace {

foundation::TRefObject* CreateSource(container::TFileAccessor* Accessor, foundation::TIniFile* Ini, bool OwnsIni) {
  return new TQelSource(Accessor, Ini, OwnsIni);
}

}  // namespace

void InitQelSource() { container::CreateQelSourceHook = CreateSource; }

}  // namespace showmodel
