#include "controls/kvControlStyles.h"

#include <cmath>
#include <sstream>

#include "foundation/kpExceptions.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvIniParser.h"
#include "foundation/kvPathMacros.h"
#include "foundation/kvStream.h"
#include "imaging/kvImage.h"
#include "text/kvTextServices.h"
#include "text/kvVectorIcons.h"

namespace controls {

using foundation::TByteString;
using foundation::TIniFile;
using foundation::TIniItem;
using foundation::TIniList;
using foundation::TIniObject;
using foundation::TRef;

uint8_t CurrentColorScheme = kDarkScheme;

namespace {

std::u16string U16(const TByteString& s) { return s.ToUnicode(); }

// A value of the form "-" or a digit, then digits, one optional "." and
// digits: the length of that prefix and whether it holds any digit.
bool ScanNumber(std::string_view text, double& value) {
  size_t i = 1;
  bool digit = std::isdigit(static_cast<unsigned char>(text[0])) != 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, digit = true;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, digit = true;
  }
  if (!digit) return false;
  value = TByteString::FromBytes(text.substr(0, i)).ToFloatDef(0);
  return true;
}

uint8_t Channel(uint32_t c, int shift) { return uint8_t(c >> shift); }

}  // namespace

// ---- Items ------------------------------------------------------------------

TStyleItem::TStyleItem(TStylesStore* store, const TByteString& name, TIniList* section)
    : Name(name), Store(store), Section(section) {}

void TStyleItem::Dispose() {
  if (Styles) Styles->Clear();
  Styles.Reset();
  TRefObject::Dispose();
}

TStyleState* TStyleItem::GetState(const std::u16string& name, float scale) {
  return Store->GetState(Section, name, scale);
}

foundation::TList* TStyleItem::GetStyles() {
  if (!Styles) Styles = foundation::MakeRef<foundation::TList>();
  return Styles.Get();
}

// ---- States -----------------------------------------------------------------

TStyleState::TStyleState(TStylesStore* store, float scale, TIniList* object)
    : Store(store), Scale(scale), Object(object) {
  auto raw = [&](const char16_t* key) { return TIniItem::GetRawValue(TIniList::FindKey(object, key)); };
  Color = store->ParseColor(raw(u"color"), store->DefColor);
  FoneColor = store->ParseColor(raw(u"fone"), store->DefFone);
  FrameColor = store->ParseColor(raw(u"framecolor"), Color);
  Font = store->DefaultFont;
  Font.Color = text::ARGBToFColor(Color);
  Font.BgColor = text::ARGBToFColor(FoneColor);
  Font.Transparent = true;
  const std::u16string typ = TIniItem::GetValue(TIniList::FindKey(object, u"typ"));
  Typ = TByteString::FromUnicode(typ).CompareText(u"9patch") == 0 ? 1 : 0;
  FrameWidth = float(TIniItem::GetFloat(TIniList::FindKey(object, u"frame"), 0));
  Radius = float(TIniItem::GetFloat(TIniList::FindKey(object, u"round"), 0));
}

void TStyleState::Dispose() {
  Generator.Reset();
  TRefObject::Dispose();
}

void TStyleState::MakeGenerator() {
  QEL_ASSERT(Scale > 0, "TStyleState.Scale=0");
  QEL_ASSERT(Typ == 0, "TStyleState.Typ");
  if (Generator) return;
  Generator = foundation::MakeRef<TBoxGenerator>(Scale);
  Generator->FillColor = FoneColor;
  Generator->FrameColor = FrameColor;
  Generator->FrameWidth = FrameWidth;
  Generator->Radius = Radius;
}

TStageView* TStyleState::GetView(int32_t width, int32_t height) {
  MakeGenerator();
  return Generator->GetView(width, height);
}

bool TStyleState::UpdateView(TStyleState* state, TStageView*& view, int32_t width, int32_t height) {
  if (!state) {
    if (!view) return false;
    foundation::FreeAndNil(view);
    return true;
  }
  TStageView* next = state->GetView(width, height);
  if (next == view) {
    next->Free();  // the reference GetView added
    return false;
  }
  if (view) view->Free();
  view = next;
  return true;
}

// ---- Store ------------------------------------------------------------------

TStylesStore::TStylesStore(foundation::TStream* stream, const std::u16string& schemeSectionName) {
  States = foundation::MakeRef<foundation::TList>();
  Sheet = foundation::MakeRef<TIniFile>();
  // A sheet that cannot be read keeps what the parser took from it; every
  // missing key below has its default.
  if (stream) {
    try {
      foundation::LoadIniFromStream(Sheet.Get(), stream);
    } catch (const std::exception&) {
      // a read failure part way keeps what was parsed
    }
  }
  Scheme = TIniFile::ForceSection(Sheet.Get(), schemeSectionName);
  DefaultSection = TIniFile::ForceSection(Sheet.Get(), u"default");
  DefObject = TIniList::FindObject(DefaultSection, u"def");
  if (!DefObject) DefObject = TIniObject::Create(DefaultSection, u"def", u"");
  if (text::FontUtils())
    text::FontUtils()->GetDefaultFont(DefaultFont);
  else
    text::InitFontParams(DefaultFont, u"Arial", 9, 0, text::MakeFColor(0, 0, 0), text::MakeFColor(255, 255, 255),
                         true);
  // The two ends of the blend scale take colours and names only: a blend
  // number here would read the very colours being set.
  MinColor = ResolveName(TByteString::FromBytes("min"), 0xFFFFFFFFu, 0, false);
  MaxColor = ResolveName(TByteString::FromBytes("max"), 0xFF000000u, 0, false);
  DefFone = ParseColor(TIniItem::GetRawValue(TIniList::FindKey(DefObject, u"fone")), MinColor);
  DefColor = ParseColor(TIniItem::GetRawValue(TIniList::FindKey(DefObject, u"color")), MaxColor);
  IsDark = (Channel(MinColor, 16) + Channel(MinColor, 8) + Channel(MinColor, 0)) < 3 * 128;
  for (int i = 0; i < 256; ++i) BlendTable[size_t(i)] = Blend(float(i) / 255.0f);
}

void TStylesStore::Dispose() {
  FItems.Clear();
  if (States) States->Clear();
  States.Reset();
  Icons.Reset();
  Sheet.Reset();
  TRefObject::Dispose();
}

uint32_t TStylesStore::Blend(float x) const {
  uint32_t result = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const int32_t lo = Channel(MinColor, shift), hi = Channel(MaxColor, shift);
    const float product = float(hi - lo) * x;
    const float rounded = std::nearbyint(product);
    double c = double(lo) + double(rounded);
    if (!(c >= 0)) c = 0;  // also a product that is not a number
    if (c > 255) c = 255;
    result |= uint32_t(c) << shift;
  }
  return result;
}

uint32_t TStylesStore::ResolveName(const TByteString& name, uint32_t def, int32_t depth, bool allowBlend) {
  if (depth >= kMaxColorDepth) return def;
  const TIniItem* key = TIniList::FindKey(Scheme, U16(name));
  if (!key) return def;
  return ParseColorAt(TIniItem::GetRawValue(key), def, depth + 1, allowBlend);
}

uint32_t TStylesStore::ParseColorAt(const TByteString& text, uint32_t def, int32_t depth, bool allowBlend) {
  const std::string_view v = text.View();
  if (v.empty()) return def;
  if (v[0] == '#') return text::ByteStrToColorDef(text, def);
  if (v[0] == '-' || std::isdigit(static_cast<unsigned char>(v[0]))) {
    double x = 0;
    if (!allowBlend || !ScanNumber(v, x)) return def;
    return Blend(float(x));
  }
  return ResolveName(text, def, depth, allowBlend);
}

uint32_t TStylesStore::ParseColor(const TByteString& text, uint32_t def) { return ParseColorAt(text, def, 0, true); }

uint32_t TStylesStore::GetColor(const TByteString& name, uint32_t def) {
  const TIniItem* key = name.IsEmpty() ? nullptr : TIniList::FindKey(Scheme, U16(name));
  if (key) return ParseColorAt(TIniItem::GetRawValue(key), def, 1, true);
  return ParseColor(name, def);
}

TStyleItem* TStylesStore::GetStyleItem(const TByteString& name) {
  if (auto* found = static_cast<TStyleItem*>(FItems.Find(name, true))) return found;
  auto item = foundation::MakeRef<TStyleItem>(this, name, FindStyleSection(name));
  TStyleItem* result = item.Get();
  FItems.Add(name, TRef<foundation::TRefObject>(std::move(item)));
  return result;
}

TIniList* TStylesStore::FindStyleSection(const TByteString& name) {
  if (!IsDark && (name.View() == "btn" || name.View() == "spdbtn")) {
    if (TIniList* light = TIniFile::FindSection(Sheet.Get(), u"light_" + U16(name))) return light;
  }
  const std::u16string n = U16(name);
  if (!n.empty())
    if (TIniList* section = TIniFile::FindSection(Sheet.Get(), n)) return section;
  return DefaultSection;
}

TIniList* TStylesStore::FindStateObject(TIniList* section, const std::u16string& name) {
  if (!section) return nullptr;
  if (const TIniItem* key = TIniList::FindKey(section, name)) {
    const std::u16string path = TIniItem::GetValue(key);
    const size_t dot = path.find(u'.');
    if (dot != std::u16string::npos) {
      TIniList* target = TIniFile::FindSection(Sheet.Get(), std::u16string_view(path).substr(0, dot));
      return target ? TIniList::FindObject(target, std::u16string_view(path).substr(dot + 1)) : nullptr;
    }
    return TIniList::FindObject(DefaultSection, path);
  }
  return TIniList::FindObject(section, name);
}

TStyleState* TStylesStore::GetState(TIniList* section, const std::u16string& name, float scale) {
  TIniList* object = FindStateObject(section, name);
  if (!object && section != DefaultSection) object = FindStateObject(DefaultSection, name);
  if (!object) object = DefObject;
  std::u16string keyName = u"%idx";
  if (scale != 1.0f) keyName += TByteString::FromBytes(std::to_string(std::lrint(double(scale) * 100))).ToUnicode();
  TIniItem* key = TIniList::ForceKey(object, keyName);
  const int32_t cached = TIniItem::GetInteger(key, -1);
  if (cached >= 0 && cached < States->Count()) return States->Get<TStyleState>(cached);
  TIniItem* zeroKey = nullptr;
  if (scale > 0) {
    zeroKey = TIniList::ForceKey(object, u"%idx0");
    const int32_t zero = TIniItem::GetInteger(zeroKey, -1);
    if (zero >= 0 && zero < States->Count()) {
      TStyleState* state = States->Get<TStyleState>(zero);
      if (state->Scale == 0) {
        state->Scale = scale;
        state->MakeGenerator();
        TIniItem::SetInteger(key, zero);
        return state;
      }
      zeroKey = nullptr;  // held by a state of another scale
    }
  }
  auto* state = new TStyleState(this, scale, object);
  if (scale > 0 && state->Typ == 0) state->MakeGenerator();
  const int32_t index = States->Add(state);
  TIniItem::SetInteger(key, index);
  if (zeroKey) TIniItem::SetInteger(zeroKey, index);
  return state;
}

TStyleState* TStylesStore::GetStateByName(const TByteString& sectionName, const std::u16string& stateName,
                                          float scale) {
  return GetState(FindStyleSection(sectionName), stateName, scale);
}

imaging::TImage* TStylesStore::GetIcon(const std::u16string& name, int32_t width, int32_t height, uint32_t color,
                                       int32_t angle) {
  TIniList* section = TIniFile::FindSection(Sheet.Get(), u"icons");
  TIniList* icon = section ? TIniList::FindObject(section, name) : nullptr;
  if (!icon) return nullptr;
  if (!Icons) {
    Icons = foundation::MakeRef<text::TVectorIcon>();
    Icons->ColorResolver = [this](const std::u16string& text, uint32_t def) {
      return ResolveStyleColor(this, text, def);
    };
  }
  if (!Icons->LoadFromNode(icon)) return nullptr;
  return Icons->Render(width, height, color, angle);
}

uint32_t ResolveStyleColor(TStylesStore* store, const std::u16string& text, uint32_t def) {
  if (text.empty()) return def;
  if (!store) return text::ByteStrToColorDef(TByteString::FromUnicode(text), def);
  return store->GetColor(TByteString::FromUnicode(text), def);
}

// ---- Loading ----------------------------------------------------------------

TStylesStore* LoadStylesStore(uint8_t scheme, const std::u16string* candidates, int32_t count) {
  const std::u16string schemeName = scheme == kLightScheme ? u"lightcolors" : u"darkcolors";
  for (int32_t i = 0; i < count; ++i) {
    std::u16string path = candidates[i];
    foundation::ExpandPath(path);
    if (!foundation::FileExists(path)) continue;
    // A sheet that cannot be opened is passed over like a missing one: the
    // controls must come up whatever lies beside the program.
    foundation::TStream* stream = nullptr;
    try {
      stream = foundation::ReadFile(path);
    } catch (const std::exception&) {
      stream = nullptr;
    }
    if (!stream) continue;
    TRef<foundation::TStream> held = TRef<foundation::TStream>::Adopt(stream);
    return new TStylesStore(stream, schemeName);
  }
  auto text = foundation::MakeRef<foundation::TStringStream>(BuiltInStylesText());
  return new TStylesStore(text.Get(), schemeName);
}

namespace {
// Made on first use per scheme and kept to the end of the process; drawn
// controls use them from the main thread only.
TStylesStore* GStores[2] = {nullptr, nullptr};
}  // namespace

TStylesStore* GetStylesStore(uint8_t scheme) {
  const size_t slot = scheme == kLightScheme ? 0 : 1;
  if (!GStores[slot]) {
    const std::u16string names[2] = {u"styles.txt", u"%KVROOT%\\Src\\Composite\\Controls\\styles.txt"};
    GStores[slot] = LoadStylesStore(scheme, names, 2);
  }
  return GStores[slot];
}

void DoneControlStyles() {
  for (auto*& store : GStores) foundation::FreeAndNil(store);
}

}  // namespace controls
