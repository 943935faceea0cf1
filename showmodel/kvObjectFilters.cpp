#include "showmodel/kvObjectFilters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "foundation/LocalizationHook.h"
#include "foundation/kpExceptions.h"
#include "foundation/kpTypes.h"
#include "foundation/kvByteString.h"
#include "imaging/HslIniHelpers.h"
#include "showmodel/kvCalcUtils.h"
#include "text/kvIniColorUtils.h"

namespace showmodel {

using foundation::TByteString;
using foundation::TIniItem;
using foundation::TIniList;
using foundation::TIniObject;

namespace {

std::u16string Utf16(std::string_view s) { return TByteString::FromBytes(s).ToUnicode(); }

int32_t ReadIntClamped(TIniObject* node, const char16_t* key, int32_t def, int32_t lo, int32_t hi) {
  return std::clamp(TIniItem::GetInteger(TIniList::FindKey(node, key), def), lo, hi);
}

TFilterParamInfo IntParam(const char* key, const char16_t* caption, double lo, double hi, double def) {
  TFilterParamInfo p;
  p.Key = key;
  p.Caption = foundation::Translate(u"Objects", std::u16string(u"filteropt_") + caption, caption);
  p.Kind = fpkInt;
  p.Min = lo;
  p.Max = hi;
  p.Default = def;
  return p;
}

uint8_t Clamp255(int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255)); }

}  // namespace

// ---- Base -----------------------------------------------------------------

void TObjectFilter::Dispose() {
  foundation::FreeAndNil(Node);
  ReleaseChain(Next);
  TRefObject::Dispose();
}

void TObjectFilter::Apply(imaging::TSysBitmap*, int32_t, int32_t) {}
double TObjectFilter::Evaluate() { return 0; }

void TObjectFilter::GetParamText(int32_t Index, std::u16string& Text) {
  Text.clear();
  std::vector<TFilterParamInfo> infos;
  GetParamInfos(infos);
  if (Index < 0 || Index >= static_cast<int32_t>(infos.size()) || !Node) return;
  const TFilterParamInfo& info = infos[size_t(Index)];
  const std::u16string raw = TIniItem::GetValue(TIniList::FindKey(Node, Utf16(info.Key)));
  if (info.Kind != fpkCombo) {
    Text = raw;
    return;
  }
  for (size_t i = 0; i < info.Values.size() && i < info.Names.size(); ++i)
    if (info.Values[i] == raw) {
      Text = info.Names[i];
      return;
    }
}

int32_t TObjectFilter::SetParamText(int32_t Index, const std::u16string& Text) {
  std::vector<TFilterParamInfo> infos;
  GetParamInfos(infos);
  if (Index < 0 || Index >= static_cast<int32_t>(infos.size()) || !Node) return 0;
  const TFilterParamInfo& info = infos[size_t(Index)];
  std::u16string value = Text;
  if (info.Kind == fpkCombo) {
    for (size_t i = 0; i < info.Values.size() && i < info.Names.size(); ++i)
      if (info.Names[i] == Text) value = info.Values[i];
  }
  TIniItem* item = TIniList::ForceKey(Node, Utf16(info.Key));
  if (TIniItem::GetValue(item) == value) return 0;
  TIniItem::SetValue(item, value);
  BumpRevision(this);
  return 1;
}

std::u16string FilterBlockName(const TIniObject* Block) { return TIniItem::GetName(Block); }

bool LoadFilter(TObjectFilter* Filter, TIniObject* Block) {
  if (!Filter || !Block) return false;
  TIniItem* idItem = TIniList::FindKey(Block, u"id");
  const int64_t rev = TIniItem::GetInt64(TIniList::FindKey(Block, u"$rev"), 0);
  if (!Filter->Id.empty()) {
    if (TIniItem::GetRawValue(idItem).View() != Filter->Id || rev != Filter->Revision) return false;
  } else {
    if (Filter->DisplayName.empty()) Filter->DisplayName = FilterBlockName(Block);
    if (!idItem) idItem = TIniList::ForceKey(Block, u"id");
    if (TIniItem::GetRawValue(idItem).IsEmpty()) {
      foundation::TGUID g;
      foundation::CreateGUID(g);
      TIniItem::SetValue(idItem, foundation::GUIDToString(g));
    }
    Filter->Id = std::string(TIniItem::GetRawValue(idItem).View());
    Filter->Revision = rev;
  }
  if (Filter->Node != Block) {
    Block->_AddRef();
    foundation::FreeAndNil(Filter->Node);
    Filter->Node = Block;
  }
  Filter->Disabled = TIniItem::GetValue(TIniList::FindKey(Block, u"Disable")) == u"1";
  if (Filter->PreparedRevision != Filter->Revision + 1) {
    Filter->PreparedRevision = Filter->Revision + 1;
    Filter->PrepareFailed = !Filter->Prepare();
  }
  return true;
}

void BumpRevision(TObjectFilter* Filter) {
  if (!Filter) return;
  ++Filter->Revision;
  if (Filter->Node) TIniItem::SetInt64(TIniList::ForceKey(Filter->Node, u"$rev"), Filter->Revision);
}

// ---- Registry ----------------------------------------------------------------

namespace {

struct TFilterInfo {
  TFilterInfo* NextInfo;
  std::u16string Name, Title;
  TFilterFactory FilterClass;
};
TFilterInfo* registry = nullptr;
std::mutex registryLock;

}  // namespace

void RegisterFilterClass(const std::u16string& Name, const std::u16string& Title, TFilterFactory Factory) {
  std::lock_guard<std::mutex> g(registryLock);
  registry = new TFilterInfo{registry, Name, Title, Factory};
}

TObjectFilter* CreateFilter(TIniObject* Block) {
  if (!Block) return nullptr;
  const std::u16string name = FilterBlockName(Block);
  const TByteString nameBytes = TByteString::FromUnicode(name);
  const TFilterInfo* found = nullptr;
  {
    std::lock_guard<std::mutex> g(registryLock);
    for (const TFilterInfo* i = registry; i; i = i->NextInfo)
      if (nameBytes.CompareText(i->Name) == 0) {
        found = i;
        break;
      }
  }
  if (!found) return nullptr;
  TObjectFilter* f = found->FilterClass();
  f->DisplayName = foundation::Translate(u"Objects", u"filter_" + found->Name, found->Title);
  if (!LoadFilter(f, Block)) {
    f->Free();
    return nullptr;
  }
  return f;
}

void InitObjectFilters() {
  {
    std::lock_guard<std::mutex> g(registryLock);
    if (registry) return;
  }
  RegisterFilterClass(u"Invert", u"Invert", []() -> TObjectFilter* { return new TInvertColor(); });
  RegisterFilterClass(u"Colorisation3", u"Colorisation3",
                      []() -> TObjectFilter* { return new TDoubleColorMultiply(); });
  RegisterFilterClass(u"Colorisation2", u"Colorisation2", []() -> TObjectFilter* { return new TColorMultiply(); });
  RegisterFilterClass(u"HSL", u"HSL", []() -> TObjectFilter* { return new THSLGenerator(); });
  RegisterFilterClass(u"BrightContrast", u"BrightContrast",
                      []() -> TObjectFilter* { return new TBrightContrastGenerator(); });
  RegisterFilterClass(u"Colorization", u"Colorization",
                      []() -> TObjectFilter* { return new TColorizationGenerator(); });
  RegisterFilterClass(u"Levels", u"Levels", []() -> TObjectFilter* { return new TLevelsGenerator(); });
}

void DoneObjectFilters() {
  std::lock_guard<std::mutex> g(registryLock);
  while (registry) {
    TFilterInfo* next = registry->NextInfo;
    delete registry;
    registry = next;
  }
}

// ---- Chains ----------------------------------------------------------------

void ApplyFilterChain(TObjectFilter* Head, imaging::TSysBitmap* Bitmap, int32_t Width, int32_t Rows) {
  if (!Head || !Bitmap) return;
  Width = std::clamp(Width, 0, Bitmap->Width);
  Rows = std::clamp(Rows, 0, Bitmap->Height);
  if (Bitmap->BytesPerPixel() != 4) return;
  // Block order is the reverse of the links; walk them into a list first so
  // a long chain needs no recursion.
  std::vector<TObjectFilter*> order;
  for (TObjectFilter* f = Head; f; f = f->Next) order.push_back(f);
  for (auto it = order.rbegin(); it != order.rend(); ++it)
    if (!(*it)->Disabled) (*it)->Apply(Bitmap, Width, Rows);
}

uint8_t ChainKind(TObjectFilter* Head) {
  // In block order, so that "a value filter followed by a colour filter" reads as written.
  std::vector<TObjectFilter*> order;
  for (TObjectFilter* f = Head; f; f = f->Next) order.push_back(f);
  uint8_t kind = fkNone;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    if ((*it)->Disabled) continue;
    const uint8_t k = (*it)->FilterKind();
    if (kind == fkValue && k > fkValue) foundation::QelAssertFail("Error: Value filters can`t be combined");
    if (k == fkMixing) return fkMixing;
    kind = std::max(kind, k);
  }
  return kind;
}

std::u16string ChainRevisionKey(TObjectFilter* Head) {
  int64_t sum = 0;
  for (TObjectFilter* f = Head; f; f = f->Next) sum += f->Revision;
  if (sum < 1) return u"";
  const std::string s = std::to_string(sum);
  return std::u16string(s.begin(), s.end());
}

TObjectFilter* ReverseChain(TObjectFilter* Head) {
  TObjectFilter* out = nullptr;
  while (Head) {
    TObjectFilter* next = Head->Next;
    Head->Next = out;
    out = Head;
    Head = next;
  }
  return out;
}

TObjectFilter* DetachNext(TObjectFilter* Head) {
  if (!Head) return nullptr;
  TObjectFilter* n = Head->Next;
  Head->Next = nullptr;
  return n;
}

TObjectFilter* LinkInFront(TObjectFilter* Filter, TObjectFilter* Head) {
  if (!Filter) return Head;
  Filter->Next = Head;
  return Filter;
}

void ReleaseChain(TObjectFilter*& Head) {
  TObjectFilter* f = Head;
  Head = nullptr;
  while (f) {
    TObjectFilter* next = f->Next;
    f->Next = nullptr;
    f->Free();
    f = next;
  }
}

void GradeLookupTable(TObjectFilter* Head, imaging::TSysBitmap* Table, uint8_t Mode) {
  if (!Table || Table->BytesPerPixel() != 4 || Table->Height < 1) return;
  if (Mode == lutVolume) {
    ApplyFilterChain(Head, Table, Table->Width, Table->Height);
    return;
  }
  ApplyFilterChain(Head, Table, std::min(Table->Width, 256), 1);
  const size_t bytes = size_t(std::min(Table->Width, 256)) * 4;
  for (int32_t y = 1; y < Table->Height; ++y) std::memcpy(Table->Row(y), Table->Row(0), bytes);
}

// ---- Linear family ------------------------------------------------------------

void TLinearGenerator::Apply(imaging::TSysBitmap* Bitmap, int32_t Width, int32_t Rows) {
  uint8_t table[3][256];
  for (int ch = 0; ch < 3; ++ch)
    for (int c = 0; c < 256; ++c) {
      const double v = c * M[ch] + O[ch];
      table[ch][c] = std::isnan(v) ? 0 : Clamp255(static_cast<int64_t>(std::clamp(v, -1e9, 1e9)));
    }
  for (int32_t y = 0; y < Rows; ++y) {
    uint8_t* p = Bitmap->Row(y);
    for (int32_t x = 0; x < Width; ++x, p += 4) {
      p[0] = table[0][p[0]];
      p[1] = table[1][p[1]];
      p[2] = table[2][p[2]];
      p[3] = 255;
    }
  }
}

bool TBrightContrastGenerator::Prepare() {
  const int32_t b = ReadIntClamped(Node, u"Bright", 0, -100, 100);
  const int32_t k = ReadIntClamped(Node, u"Contrast", 0, -100, 100);
  const float a = static_cast<float>(100 - k) * 3.1415927f * 0.0025f;
  double m;
  if (std::fabs(a) <= 0.001f)
    m = 10000;
  else
    m = std::clamp(1.0 / std::tan(static_cast<double>(a)), 0.0, 10000.0);
  const double o = ((b / 255.0) * m + (1 - m) * 0.5) * 255;
  for (int ch = 0; ch < 3; ++ch) {
    M[ch] = m;
    O[ch] = o;
  }
  return true;
}

void TBrightContrastGenerator::GetParamInfos(std::vector<TFilterParamInfo>& Infos) {
  Infos = {IntParam("Bright", u"Brightness", -100, 100, 0), IntParam("Contrast", u"Contrast", -100, 100, 0)};
}

bool TInvertColor::Prepare() {
  for (int ch = 0; ch < 3; ++ch) {
    M[ch] = -1;
    O[ch] = 255;
  }
  return true;
}

// ---- Levels ---------------------------------------------------------------------

bool TLevelsGenerator::Prepare() {
  const int32_t black = ReadIntClamped(Node, u"Min", 0, 0, 255);
  const int32_t mid = ReadIntClamped(Node, u"Med", 0, -100, 100);
  const int32_t white = ReadIntClamped(Node, u"Max", 255, 0, 255);
  const double inv = white == black ? 1.0 : 1.0 / (white - black);
  double gamma = mid == -100 ? 10.0 : double(100 - mid) / double(mid + 100);
  gamma = std::clamp(gamma, 0.1, 10.0);
  for (int c = 0; c < 256; ++c) {
    const int32_t v = std::clamp(c - black, 0, 255);
    // A white point below the black point makes the base negative; held to
    // 0..1 it stays a number for every gamma.
    const double base = std::clamp(v * inv, 0.0, 1.0);
    const double f = CalcPower(base, gamma);
    Table[c] = Clamp255(static_cast<int64_t>(255 * f));
  }
  return true;
}

void TLevelsGenerator::Apply(imaging::TSysBitmap* Bitmap, int32_t Width, int32_t Rows) {
  for (int32_t y = 0; y < Rows; ++y) {
    uint8_t* p = Bitmap->Row(y);
    for (int32_t x = 0; x < Width; ++x, p += 4) {
      p[0] = Table[p[0]];
      p[1] = Table[p[1]];
      p[2] = Table[p[2]];
      p[3] = 255;
    }
  }
}

void TLevelsGenerator::GetParamInfos(std::vector<TFilterParamInfo>& Infos) {
  Infos = {IntParam("Min", u"Min", 0, 255, 0), IntParam("Med", u"Med", -100, 100, 0),
           IntParam("Max", u"Max", 0, 255, 255)};
}

// ---- Colourisation family ----------------------------------------------------------

bool TColorizationGenerator::Prepare() {
  const double amount = ReadIntClamped(Node, u"Amount", 100, 0, 100) * 0.01;
  const uint32_t color = text::IniItemGetColor(TIniList::FindKey(Node, u"Color"), 0);
  A = static_cast<int32_t>(std::nearbyint(amount * 256));
  K[0] = color & 0xFF;          // blue
  K[1] = (color >> 8) & 0xFF;   // green
  K[2] = (color >> 16) & 0xFF;  // red
  return true;
}

int32_t TColorizationGenerator::Channel(int32_t c, int32_t k, int32_t y) const {
  const int32_t t = (y * k) / 128;
  return std::min(255, c + ((t - c) * A) / 256);
}

int32_t TColorMultiply::Channel(int32_t c, int32_t k, int32_t) const {
  const int32_t t = (c * k) >> 8;  // both non-negative: the floor
  const int32_t d = (t - c) * A;
  const int32_t step = d >= 0 ? d / 256 : -((-d + 255) / 256);  // the floor of a negative quotient
  return std::min(255, c + step);
}

int32_t TDoubleColorMultiply::Channel(int32_t c, int32_t k, int32_t) const {
  const int32_t t = std::min(255, (c * k) / 128);
  return std::min(255, c + ((t - c) * A) / 256);
}

void TColorizationGenerator::Apply(imaging::TSysBitmap* Bitmap, int32_t Width, int32_t Rows) {
  for (int32_t yRow = 0; yRow < Rows; ++yRow) {
    uint8_t* p = Bitmap->Row(yRow);
    for (int32_t x = 0; x < Width; ++x, p += 4) {
      const int32_t lum = (13933 * p[2] + 46871 * p[1] + 7471 * p[0]) >> 16;
      const int32_t b = Channel(p[0], K[0], lum), g = Channel(p[1], K[1], lum), r = Channel(p[2], K[2], lum);
      p[0] = Clamp255(b);
      p[1] = Clamp255(g);
      p[2] = Clamp255(r);
      p[3] = 255;
    }
  }
}

void TColorizationGenerator::GetParamInfos(std::vector<TFilterParamInfo>& Infos) {
  TFilterParamInfo color;
  color.Key = "Color";
  color.Caption = foundation::Translate(u"Objects", u"filteropt_Color", u"Color");
  color.Kind = fpkColor;
  Infos = {color, IntParam("Amount", u"Amount", 0, 100, 100)};
}

void TColorizationGenerator::GetCaption(std::u16string& Caption) {
  Caption = DisplayName;
  const std::u16string preset = TIniItem::GetValue(TIniList::FindKey(Node, u"Preset"));
  if (!preset.empty()) Caption += u": " + preset;
}

int32_t TColorizationGenerator::SetParamText(int32_t Index, const std::u16string& Text) {
  const int32_t changed = TObjectFilter::SetParamText(Index, Text);
  if (changed && Node) {
    if (TIniItem* p = TIniList::FindKey(Node, u"Preset")) {
      p->Detach();
      p->Free();
    }
  }
  return changed;
}

// ---- HSL -------------------------------------------------------------------------

bool THSLGenerator::Prepare() {
  const int32_t hue = ReadIntClamped(Node, u"Hue", 0, -180, 180);
  const int32_t sat = ReadIntClamped(Node, u"Saturation", 0, -100, 100);
  const int32_t light = ReadIntClamped(Node, u"Lightness", 0, -100, 100);
  HueShift = static_cast<int32_t>(std::nearbyint(hue / 360.0 * 256));
  SatShift = static_cast<int32_t>(std::nearbyint(sat * 2.56));
  LightShift = static_cast<int32_t>(std::nearbyint(light * 2.56));
  return true;
}

void THSLGenerator::Apply(imaging::TSysBitmap* Bitmap, int32_t Width, int32_t Rows) {
  for (int32_t y = 0; y < Rows; ++y) {
    uint8_t* p = Bitmap->Row(y);
    for (int32_t x = 0; x < Width; ++x, p += 4) {
      int32_t h = p[2], s = p[1], l = p[0];
      imaging::RgbToHsl(h, s, l);
      h += HueShift;
      if (h < 0) h += 256;
      if (h > 255) h -= 256;
      s = std::clamp(s + SatShift, 0, 255);
      l = std::clamp(l + LightShift, 0, 255);
      imaging::HslToRgb(h, s, l);
      p[2] = Clamp255(h);
      p[1] = Clamp255(s);
      p[0] = Clamp255(l);
      p[3] = 255;
    }
  }
}

void THSLGenerator::GetParamInfos(std::vector<TFilterParamInfo>& Infos) {
  Infos = {IntParam("Hue", u"Hue", -180, 180, 0), IntParam("Saturation", u"Saturation", -100, 100, 0),
           IntParam("Lightness", u"Lightness", -100, 100, 0)};
}

}  // namespace showmodel
