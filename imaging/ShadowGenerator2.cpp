#include "imaging/ShadowGenerator2.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "imaging/ImagingAssert.h"
#include "imaging/SysBitmapStore.h"
#include "imaging/SysBitmapUtils.h"
#include "imaging/kpShadowProducer2.h"
#include "imaging/kvLoadCallBack.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/Rounding.h"

namespace imaging {

namespace {

using foundation::RoundEvenSaturated;

std::u16string Ascii(const std::string& s) { return {s.begin(), s.end()}; }

// Fixed point with two decimals, trailing zeros and a trailing point dropped.
std::string FloatText(float v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", double(v));
  std::string s = buf;
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string Trimmed(const std::u16string& field) {
  std::string s;
  for (char16_t c : field) {
    if (c > 0x7F) return {};  // never a number
    s.push_back(static_cast<char>(c));
  }
  const size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

bool ParseInt(const std::u16string& field, int64_t& out) {
  const std::string s = Trimmed(field);
  if (s.empty()) return false;
  const char* b = s.data();
  const char* e = b + s.size();
  if (*b == '+') ++b;
  auto r = std::from_chars(b, e, out);
  return r.ec == std::errc() && r.ptr == e;
}

bool ParseFloat(const std::u16string& field, float& out) {
  const std::string s = Trimmed(field);
  if (s.empty()) return false;
  const char* b = s.data();
  const char* e = b + s.size();
  if (*b == '+') ++b;
  double d;
  auto r = std::from_chars(b, e, d, std::chars_format::general);
  // Beyond the single range there is no value to keep.
  if (r.ec != std::errc() || r.ptr != e || !(std::fabs(d) <= 3.4028234663852886e38)) return false;
  out = static_cast<float>(d);
  return true;
}

float FieldFloat(const std::u16string& f) {
  float v;
  return ParseFloat(f, v) ? v : 0.0f;
}
int32_t FieldInt(const std::u16string& f, int32_t def) {
  int64_t v;
  return ParseInt(f, v) ? static_cast<int32_t>(v) : def;
}
uint8_t FieldByte(const std::u16string& f, uint8_t def) {
  int64_t v;
  return ParseInt(f, v) ? static_cast<uint8_t>(v) : def;
}

T3DPoint Scale3(T3DPoint v, double k) {
  return {static_cast<float>(v.X * k), static_cast<float>(v.Y * k), static_cast<float>(v.Z * k)};
}

TShadowParams CopyWithoutKeys(const TShadowParams& p) {
  TShadowParams c = p;
  c.Key.clear();
  c.NormalisedKey.clear();
  return c;
}

bool SameRect(const TFloatRect& a, const TFloatRect& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Right == b.Right && a.Bottom == b.Bottom;
}

}  // namespace

// ---- parameters ----------------------------------------------------------------

void TShadowParams::SetRect(const TFloatRect& Value) {
  if (!SameRect(Rect, Value)) Rect = Value, ClearKey();
}
void TShadowParams::SetMargin(TFloatPoint Value) {
  if (Margin.X != Value.X || Margin.Y != Value.Y) Margin = Value, ClearKey();
}
void TShadowParams::SetSize(float Value) {
  if (ShadowSize != Value) ShadowSize = Value, ClearKey();
}
void TShadowParams::SetSourceAlpha(uint8_t Value) {
  if (SourceAlpha != Value) SourceAlpha = Value, ClearKey();
}
void TShadowParams::SetSpreadIndex(int32_t Value) {
  if (ShadowSpreadIndex != Value) ShadowSpreadIndex = Value, ClearKey();
}
void TShadowParams::SetColorAlpha(uint8_t Value) {
  if (ColorAlpha != Value) ColorAlpha = Value, ClearKey();
}
void TShadowParams::SetColor2Alpha(uint8_t Value) {
  if (Color2Alpha != Value) Color2Alpha = Value, ClearKey();
}
void TShadowParams::SetSourceBits(uint8_t Value) {
  if (GradientKind != Value) GradientKind = Value, ClearKey();
}
void TShadowParams::SetMipLevel(int32_t Value) {
  if (MipLevel != Value) MipLevel = Value, ClearKey();
}

std::u16string BuildShadowKey(const TShadowParams& p) {
  const std::string s = "Shadow: " + FloatText(p.Rect.Left) + ":" + FloatText(p.Rect.Top) + ":" +
                        FloatText(p.Rect.Right) + ":" + FloatText(p.Rect.Bottom) + ":" + FloatText(p.Margin.X) + ":" +
                        FloatText(p.Margin.Y) + ":" + std::to_string(p.SourceAlpha) + ":" + FloatText(p.ShadowSize) +
                        ":" + std::to_string(p.ShadowSpreadIndex) + ":" + std::to_string(p.GradientKind) + ":" +
                        std::to_string(p.ColorAlpha) + ":" + std::to_string(p.Color2Alpha) + ":" +
                        std::to_string(p.MipLevel);
  return Ascii(s);
}

std::u16string GetShadowResourceKey(TShadowParams& p) {
  if (p.Key.empty()) p.Key = BuildShadowKey(p);
  return p.Key + u":" + p.SourceKey;
}

void ParseShadowKey(const std::u16string& Text, TShadowParams& p) {
  const std::u16string text = Text + u":";
  size_t pos = std::min<size_t>(8, text.size());
  for (int field = 0; pos < text.size(); ++field) {
    if (field == 13) {
      // The source key runs to the end of the given text, colons and all.
      p.SourceKey = Text.size() > pos ? Text.substr(pos) : std::u16string();
      break;
    }
    const size_t end = text.find(u':', pos);
    const std::u16string f = text.substr(pos, end - pos);
    switch (field) {
      case 0: p.Rect.Left = FieldFloat(f); break;
      case 1: p.Rect.Top = FieldFloat(f); break;
      case 2: p.Rect.Right = FieldFloat(f); break;
      case 3: p.Rect.Bottom = FieldFloat(f); break;
      case 4: p.Margin.X = FieldFloat(f); break;
      case 5: p.Margin.Y = FieldFloat(f); break;
      case 6: p.SourceAlpha = FieldByte(f, 255); break;
      case 7: p.ShadowSize = FieldFloat(f); break;
      case 8: p.ShadowSpreadIndex = FieldInt(f, 0); break;
      case 9: p.GradientKind = FieldByte(f, 8); break;
      case 10: p.ColorAlpha = FieldByte(f, 0); break;
      case 11: p.Color2Alpha = FieldByte(f, 0); break;
      case 12: p.MipLevel = FieldInt(f, 0); break;
      default: break;
    }
    pos = end + 1;
  }
  p.Key.clear();
}

bool NormaliseShadowParams(TShadowParams& p) {
  IMG_ASSERT(p.Rect.Left == 0 && p.Rect.Top == 0, "");
  const double area = (double(p.Rect.Right) + 2.0 * p.Margin.X) * (double(p.Rect.Bottom) + 2.0 * p.Margin.Y);
  if (!(area > 0) || !std::isfinite(area)) return false;
  const double g = std::sqrt(40000.0 / area);
  p.Rect.Right = static_cast<float>(std::nearbyint(p.Rect.Right * g));
  p.Rect.Bottom = static_cast<float>(std::nearbyint(p.Rect.Bottom * g));
  p.Margin.X = static_cast<float>(std::nearbyint(p.Margin.X * g));
  p.Margin.Y = static_cast<float>(std::nearbyint(p.Margin.Y * g));
  p.Key.clear();
  return true;
}

float ReduceShadowSize(float& Width, float& Height, int32_t& Level) {
  Level = 0;
  if (!std::isfinite(Width) || !std::isfinite(Height)) return 1;
  while (Width * Height > 700000.0f || Width > 10000.0f || Height > 10000.0f) {
    Width *= 0.5f;
    Height *= 0.5f;
    ++Level;
  }
  return std::ldexp(1.0f, Level);
}

// ---- shadow objects -------------------------------------------------------------

void TShadow::Dispose() {
  foundation::FreeAndNil(Image);
  foundation::TRefObject::Dispose();
}

bool TShadow::Matches(TShadowParams& Other) {
  if (Params.IgnoreSource != Other.IgnoreSource) return false;
  if (Params.Key.empty()) Params.Key = BuildShadowKey(Params);
  if (!Normalised) {
    if (Other.Key.empty()) Other.Key = BuildShadowKey(Other);
    return Params.Key == Other.Key;
  }
  if (Other.Key.empty() || Other.NormalisedKey.empty()) {
    if (Other.Key.empty()) Other.Key = BuildShadowKey(Other);
    TShadowParams copy = CopyWithoutKeys(Other);
    Other.NormalisedKey = NormaliseShadowParams(copy) ? BuildShadowKey(copy) : std::u16string();
  }
  return Params.Key == Other.NormalisedKey;
}

void TShadow::PrepareTexture(IShadowDrawer* Drawer) {
  if (Image && Drawer) Drawer->PrepareImageTexture(Image, DefaultImageDrawParams);
}

void TShadow::Draw(IShadowDrawer* Drawer, T3DPoint Origin, TFloatPoint Offset, T3DPoint XAxis, T3DPoint YAxis,
                   float Distance, float Angle, float Opacity, const uint8_t Color[3]) {
  if (!(Opacity > 0) || !Drawer || !Image) return;
  TImageDrawParams dp = DefaultImageDrawParams;
  dp.Opacity = Opacity;
  dp.ColorFlag = 1;
  std::memcpy(dp.Color, Color, 3);
  const double m = std::ldexp(1.0, Params.MipLevel);
  const float W = (Params.Rect.Right - Params.Rect.Left) + 2 * Params.Margin.X;
  const float H = (Params.Rect.Bottom - Params.Rect.Top) + 2 * Params.Margin.Y;
  if (Normalised) {
    XAxis = Scale3(XAxis, 1.0 / W);
    YAxis = Scale3(YAxis, 1.0 / H);
  }
  const double lx = std::hypot(double(XAxis.X), double(XAxis.Y)), ly = std::hypot(double(YAxis.X), double(YAxis.Y));
  const double d = std::sqrt(lx * ly) * DistanceScale * Distance / 100.0;
  const double a = Angle * std::numbers::pi / 180.0;
  if (Params.PlaneOffset) {
    const T3DPoint dx = Scale3(XAxis, d * std::cos(a)), dy = Scale3(YAxis, d * std::sin(a));
    Origin = {Origin.X + dx.X + dy.X, Origin.Y + dx.Y + dy.Y, Origin.Z + dx.Z + dy.Z};
  } else {
    Origin.X = static_cast<float>(Origin.X + d * std::cos(a));
    Origin.Y = static_cast<float>(Origin.Y + d * std::sin(a));
  }
  float w2 = W, h2 = H;
  const double s = ReduceShadowSize(w2, h2);
  const double bx = m * (Image->Params.Width - w2) * 0.5 * s;
  const double by = m * s * (Image->Params.Height - h2) * 0.5;
  const T3DPoint ox = Scale3(XAxis, bx), oy = Scale3(YAxis, by);
  Origin = {Origin.X - ox.X - oy.X, Origin.Y - ox.Y - oy.Y, Origin.Z - ox.Z - oy.Z};
  const T3DPoint xs = Scale3(XAxis, m * s), ys = Scale3(YAxis, m * s);
  Offset = {static_cast<float>(Offset.X / s / m), static_cast<float>(Offset.Y / s / m)};
  Drawer->DrawImage(Image, Origin, Offset, xs, ys, dp);
}

TShadow* CreateShadow(TImage* Source, const std::u16string& SourceKey, const TShadowParams& Params, float SizeFactor,
                      const TShadowImageLoader& Loader) {
  auto* sh = new TShadow;
  sh->Params = CopyWithoutKeys(Params);
  const bool alpha = Source && Source->Params.PixelFormat == pfA8R8G8B8;
  sh->Params.SourceKey = (alpha && !SourceKey.empty() && !Params.IgnoreSource) ? SourceKey : NoShadowSource;
  const float size = sh->Params.ShadowSize;
  sh->Params.ShadowSize = size * SizeFactor;
  const std::u16string key = GetShadowResourceKey(sh->Params);
  sh->Params.ShadowSize = size;
  sh->Params.Key.clear();
  try {
    if (Loader) sh->Image = Loader(key);
  } catch (...) {
    sh->Free();
    throw;
  }
  return sh;
}

TShadow* CreateNormalisedShadow(const TShadowParams& Params, const TShadowImageLoader& Loader) {
  TShadowParams p = CopyWithoutKeys(Params);
  if (!NormaliseShadowParams(p)) return nullptr;
  auto* sh = new TShadow;
  sh->Params = p;
  sh->Params.SourceKey = NoShadowSource;
  sh->Normalised = true;
  const float size = sh->Params.ShadowSize;
  sh->Params.ShadowSize =
      static_cast<float>(std::sqrt(double(p.Rect.Right - p.Rect.Left) * double(p.Rect.Bottom - p.Rect.Top)) * size / 400.0);
  const std::u16string key = GetShadowResourceKey(sh->Params);
  sh->Params.ShadowSize = size;
  sh->Params.Key.clear();
  try {
    if (Loader) sh->Image = Loader(key);
  } catch (...) {
    sh->Free();
    throw;
  }
  return sh;
}

// ---- rendering -------------------------------------------------------------------

void FillShadowGradient(TSysBitmap* Canvas, void* Sender, uint8_t First, uint8_t Second, uint8_t Kind) {
  const int32_t W = Canvas->Width, H = Canvas->Height, D = W + H;
  const int32_t a = First, delta = int32_t(Second) - int32_t(First);
  if (Kind == 8) {
    Canvas->FillRect(TRect{0, 0, W, H}, uint32_t(First) << 24);
    return;
  }
  if (Kind > 8) return;
  (void)Sender;
  for (int32_t y = 0; y < H; ++y) {
    uint8_t* p = Canvas->Row(y);
    for (int32_t x = 0; x < W; ++x, p += 4) {
      int64_t v;
      switch (Kind) {
        case 0: v = a + int64_t(delta) * (H - 1 + x - y) / D; break;
        case 1: v = a + int64_t(delta) * (D - 2 - x - y) / D; break;
        case 2: v = a + int64_t(delta) * (W - 1 + y - x) / D; break;
        case 3: v = a + int64_t(delta) * (x + y) / D; break;
        case 4: v = a + int64_t(delta) * y / H; break;
        case 5: v = a + int64_t(delta) * (H - 1 - y) / H; break;
        case 6: v = a + int64_t(delta) * x / W; break;
        default: v = a + int64_t(delta) * (W - 1 - x) / W; break;
      }
      p[0] = p[1] = p[2] = 0;
      p[3] = static_cast<uint8_t>(v);
    }
    if (!LoadCallBack(float(y + 1) / float(H))) break;
  }
}

TShadowGenerator::TShadowGenerator(TProgress Progress) { Producer = new TShadowProducer(std::move(Progress)); }

void TShadowGenerator::Dispose() {
  foundation::FreeAndNil(Producer);
  foundation::TRefObject::Dispose();
}

TSysBitmap* TShadowGenerator::MakeShadowCanvas(TShadowParams& P, const TShadowImageLoader& Loader, float& Reduction) {
  const float W = (P.Rect.Right - P.Rect.Left) + 2 * P.Margin.X, H = (P.Rect.Bottom - P.Rect.Top) + 2 * P.Margin.Y;
  float w2 = W, h2 = H;
  int32_t n = 0;
  const float s = ReduceShadowSize(w2, h2, n);
  Reduction = s;
  // No area (or a size that is not a number): no shadow.
  if (!std::isfinite(w2) || !std::isfinite(h2) || !(w2 >= 0.5f) || !(h2 >= 0.5f)) return nullptr;
  const int32_t cw = RoundEvenSaturated(w2), ch = RoundEvenSaturated(h2);
  if (cw < 1 || ch < 1) return nullptr;
  TSysBitmap* canvas = CreateSysBitmap(cw, ch, pfA8R8G8B8);
  canvas->FillRect(TRect{0, 0, cw, ch}, uint32_t(P.SourceAlpha) << 24);
  const TRect inner{RoundEvenSaturated(P.Margin.X / s), RoundEvenSaturated(P.Margin.Y / s), RoundEvenSaturated(w2 - P.Margin.X / s),
                    RoundEvenSaturated(h2 - P.Margin.Y / s)};
  try {
    if (P.SourceKey != NoShadowSource) {
      TImage* source = Loader ? Loader(P.SourceKey) : nullptr;
      try {
        TSysBitmap* level = nullptr;
        if (source && source->Store)
          level =
              dynamic_cast<TSysBitmap*>(source->Store->GetBitmap(P.MipLevel, pfA8R8G8B8, TSysBitmap::StaticClass()));
        if (level) CastSource(P, level, canvas, inner, s, n);
      } catch (...) {
        foundation::FreeObj(source);
        throw;
      }
      foundation::FreeObj(source);
    } else if (P.ColorAlpha == 255 && P.Color2Alpha == 255) {
      canvas->FillRect(inner, 0xFF000000u);
    } else {
      FillShadowGradient(canvas, this, P.ColorAlpha, P.Color2Alpha, P.GradientKind);
    }
  } catch (...) {
    canvas->Free();
    throw;
  }
  return canvas;
}

void TShadowGenerator::CastSource(const TShadowParams& P, TSysBitmap* level, TSysBitmap* canvas, const TRect& inner,
                                  float s, int32_t n) {
  // The rectangle is held inside the level, so a key naming another image's
  // rectangle crops what exists.
  TRect r{RoundEvenSaturated(P.Rect.Left), RoundEvenSaturated(P.Rect.Top), RoundEvenSaturated(P.Rect.Right), RoundEvenSaturated(P.Rect.Bottom)};
  r.Left = std::clamp(r.Left, 0, level->Width), r.Right = std::clamp(r.Right, r.Left, level->Width);
  r.Top = std::clamp(r.Top, 0, level->Height), r.Bottom = std::clamp(r.Bottom, r.Top, level->Height);
  if (r.Right <= r.Left || r.Bottom <= r.Top) return;
  auto* crop = new TCropBitmap(r, level, false);
  TSysBitmap* target = nullptr;
  std::vector<TSysBitmap*> steps;
  try {
    if (P.Margin.X <= 0 && P.Margin.Y <= 0) {
      target = canvas;
    } else {
      // Only what fits the canvas is ever copied into it, and each target
      // pixel depends on its own source pixels only, so the target need not
      // be larger than the canvas (negative margins can make the rectangle so).
      const int32_t tw = std::min(RoundEvenSaturated((P.Rect.Right - P.Rect.Left) / s), canvas->Width);
      const int32_t th = std::min(RoundEvenSaturated((P.Rect.Bottom - P.Rect.Top) / s), canvas->Height);
      if (tw >= 1 && th >= 1) target = CreateSysBitmap(tw, th, pfA8R8G8B8);
    }
    if (target) {
      if (n == 0) {
        target->CopyRect(TRect{0, 0, target->Width, target->Height}, crop, TPoint{0, 0}, 0);
      } else {
        TSysBitmap* from = crop;
        for (int32_t j = 1; j < n; ++j) {
          steps.push_back(CreateSysBitmap(std::max(crop->Width >> j, 1), std::max(crop->Height >> j, 1), pfA8R8G8B8));
          HalveBitmap32(from, steps.back());
          from = steps.back();
        }
        HalveBitmap32(from, target);
      }
      if (target != canvas) canvas->CopyRect(inner, target, TPoint{0, 0}, 0);
    }
  } catch (...) {
    for (TSysBitmap* b : steps) b->Free();
    if (target != canvas) foundation::FreeObj(target);
    crop->Free();
    throw;
  }
  for (TSysBitmap* b : steps) b->Free();
  if (target != canvas) foundation::FreeObj(target);
  crop->Free();
}

TImage* TShadowGenerator::GenerateShadowImage(TShadowParams& P, const TShadowImageLoader& Loader) {
  float s = 1;
  TSysBitmap* canvas = MakeShadowCanvas(P, Loader, s);
  if (!canvas) return nullptr;
  TImage* wrapped = WrapBitmapAsImage(canvas, true, GetShadowResourceKey(P));
  try {
    Producer->Radius = P.ShadowSize / s;
    Producer->Color = 0xFFFFFFFFu;
    Producer->DropShadow->Curves->SetPreset(P.ShadowSpreadIndex);
    TImage* result = Producer->Produce(wrapped);
    wrapped->Free();
    return result;
  } catch (...) {
    wrapped->Free();
    throw;
  }
}

}  // namespace imaging

// ---- video clips ----------------------------------------------------------------

namespace imaging {

namespace {

bool IsType(const foundation::TIniItem* item, const char16_t* type) {
  return foundation::SameText(foundation::TIniItem::GetValue(item), type);
}

bool ClipMatches(const foundation::TIniList* obj, const std::u16string& guid) {
  return foundation::SameText(foundation::TIniItem::GetValue(foundation::TIniList::FindKey(obj, u"ClipGUID")), guid);
}

}  // namespace

foundation::TIniObject* FindVideoClipNode(const foundation::TIniList* List, const std::u16string& Guid) {
  for (auto* o = foundation::TIniList::FirstObject(List); o; o = foundation::TIniList::NextObject(List, o))
    if (IsType(o, u"VideoClip") && ClipMatches(o, Guid)) return o;
  return nullptr;
}

foundation::TIniObject* FindRootContainer(foundation::TIniList* List) {
  for (auto* o = foundation::TIniList::FirstObject(List); o; o = foundation::TIniList::NextObject(List, o))
    if (IsType(o, u"Root")) return o;
  return foundation::TIniObject::Create(List, u"Container", u"Root");
}

bool HasVideoWithClip(const foundation::TIniList* List, const std::u16string& Guid) {
  // Depth first over an explicit stack: project trees can nest deeper than
  // the thread's stack would allow recursion.
  std::vector<const foundation::TIniObject*> pending;
  auto pushChildren = [&](const foundation::TIniList* l) {
    const size_t mark = pending.size();
    for (auto* o = foundation::TIniList::FirstObject(l); o; o = foundation::TIniList::NextObject(l, o))
      pending.push_back(o);
    std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(mark), pending.end());
  };
  pushChildren(List);
  while (!pending.empty()) {
    const foundation::TIniObject* o = pending.back();
    pending.pop_back();
    if (IsType(o, u"KeyPoint")) continue;
    if (IsType(o, u"Video") && (Guid.empty() || ClipMatches(o, Guid))) return true;
    pushChildren(o);
  }
  return false;
}

double GetClipSynchPosition(const foundation::TIniFile* Project, const std::u16string& Guid) {
  if (!Project || !foundation::TIniFile::FindSection(Project, u"Main")) return -1.0;
  const foundation::TIniSection* times = foundation::TIniFile::FindSection(Project, u"Times");
  if (!times) return -1.0;
  const int32_t n = foundation::TIniItem::GetInteger(foundation::TIniList::FindKey(times, u"opt_slidescount"), 0);
  // Only numbers that name an existing section can be a slide, so the search
  // runs over the sections rather than up to a count the file may inflate.
  std::vector<int32_t> numbers;
  const foundation::TSectionList* sections = Project->GetSectionList();
  for (int32_t i = 0; sections && i < sections->GetCount(); ++i) {
    const std::u16string name = foundation::TIniItem::GetName(sections->GetSection(i));
    if (name.size() < 6 || name.size() > 15 || !foundation::SameText(name.substr(0, 5), u"Slide")) continue;
    const std::u16string digits = name.substr(5);
    if (digits[0] == u'0' || !std::all_of(digits.begin(), digits.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }))
      continue;
    int64_t k = 0;
    for (char16_t c : digits) k = k * 10 + (c - u'0');
    if (k >= 1 && k <= n) numbers.push_back(static_cast<int32_t>(k));
  }
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  for (int32_t k : numbers) {
    const std::string name = "Slide" + std::to_string(k);
    const foundation::TIniSection* slide = foundation::TIniFile::FindSection(Project, Ascii(name));
    if (!slide || !HasVideoWithClip(slide, Guid)) continue;
    if (k == 1) return 0.0;
    const std::string key = "opt_synchpos" + std::to_string(k - 1);
    return foundation::TIniItem::GetFloat(foundation::TIniList::FindKey(times, Ascii(key)), 0.0);
  }
  return -1.0;
}

std::u16string MakeNumberedKey(int32_t Number, const std::u16string& Text) {
  return Ascii(std::to_string(Number)) + u":" + Text;
}

std::u16string ExtractSecondKeyField(const std::u16string& Text) {
  const size_t p = Text.find(u':');
  return p == std::u16string::npos ? std::u16string() : Text.substr(p + 1);
}

}  // namespace imaging
