#include "showmodel/QelEffManager.h"

#include <cmath>

#include "foundation/kpExceptions.h"
#include "foundation/kvCaseFolding.h"
#include "showmodel/kvSlideOrder.h"

namespace showmodel {

using foundation::TIniItem;
using foundation::TIniList;
using foundation::TIniObject;
using foundation::TRef;

namespace {

bool Same(std::u16string_view a, std::u16string_view b) {
  return foundation::SameText(std::u16string(a), std::u16string(b));
}

bool IsBuiltInName(std::u16string_view name) {
  return Same(name, u"default") || Same(name, u"defowntime") || Same(name, u"quick");
}

TEffectUse UseOfValue(const std::u16string& v) {
  const size_t one = v.find(u'1');
  if (one == std::u16string::npos) return TEffectUse::None;
  if (one == 0 && v.find(u'0') == std::u16string::npos) return TEffectUse::All;
  if (one == 0) {
    // Begins with "1": all unless a "0" follows.
    return v.find(u'0', 1) == std::u16string::npos ? TEffectUse::All : TEffectUse::Some;
  }
  return TEffectUse::Some;
}

}  // namespace

int32_t ReadMilliseconds(const TIniItem* item, int32_t def) {
  if (!item) return def;
  const double v = TIniItem::GetFloat(item, std::nan(""));
  if (!std::isfinite(v) || v < 0) return def;
  if (v >= 2147483647.0) return 2147483647;
  return int32_t(std::nearbyint(v));
}

// ---- TEffectProp ----

TEffectProp::TEffectProp(TQELEffectManager* Manager, TIniList* Node, TIniList* Home)
    : Manager(Manager), Node(Node), Home(Home) {
  if (Node) Node->_AddRef();
  if (Home) Home->_AddRef();
  KeyList.Split(TIniItem::GetRawValue(TIniList::FindKey(Node, u"key")), ',');
}

void TEffectProp::Dispose() {
  foundation::FreeAndNil(Node);
  foundation::FreeAndNil(Home);
  TRefObject::Dispose();
}

bool TEffectProp::IsReference() {
  if (RefState == 0) RefState = Same(TIniItem::GetValue(Node), u"AnEffect") ? 1 : -1;
  return RefState == 1;
}

std::u16string TEffectProp::GetName() {
  return IsReference() ? TIniItem::GetValue(TIniList::FindKey(Node, u"ref")) : std::u16string();
}

TEffectProp* TEffectProp::Resolve() {
  if (!IsReference()) return this;
  const std::u16string name = GetName();
  if (name.empty() || IsBuiltInName(name)) return nullptr;
  TEffectProp* def = Manager->FindDefinition(name);
  // A reference never resolves to another reference (a named block of type
  // "AnEffect" would otherwise send the lookup round in a circle).
  return def && !def->IsReference() ? def : nullptr;
}

std::u16string TEffectProp::GetTypeName() {
  if (!IsReference()) return TIniItem::GetValue(Node);
  const std::u16string name = GetName();
  if (IsBuiltInName(name)) return name;
  TEffectProp* def = Resolve();
  return def ? TIniItem::GetValue(def->Node) : std::u16string();
}

bool TEffectProp::HasValue(std::u16string_view key) {
  if (TIniList::FindKey(Node, key)) return true;
  if (!IsReference()) return false;
  TEffectProp* def = Resolve();
  return def ? TIniList::FindKey(def->Node, key) != nullptr
             : TIniList::FindKey(Manager->GetEffectRoot(), key) != nullptr;
}

std::u16string TEffectProp::GetValue(std::u16string_view key) {
  if (TIniItem* own = TIniList::FindKey(Node, key)) return TIniItem::GetValue(own);
  if (!IsReference()) return std::u16string();
  TEffectProp* def = Resolve();
  if (def) return TIniItem::GetValue(TIniList::FindKey(def->Node, key));
  return TIniItem::GetValue(TIniList::FindKey(Manager->GetEffectRoot(), key));
}

int32_t TEffectProp::GetTime() {
  if (!IsReference()) {
    // A definition's length lives in the block that holds it.
    if (TIniItem* t = TIniList::FindKey(Home, u"time")) {
      const int32_t v = ReadMilliseconds(t, -1);
      if (v >= 0) return v;
    }
    return Manager->GetRootTime();
  }
  const std::u16string name = GetName();
  if (Same(name, u"default")) return Manager->AnyDefinitionInUse() ? Manager->GetRootTime() : 0;
  if (Same(name, u"quick")) return 0;
  if (Same(name, u"defowntime")) {
    if (!Manager->AnyDefinitionInUse()) return 0;
    if (TIniItem* t = TIniList::FindKey(Node, u"time")) return ReadMilliseconds(t, 0);
    const int32_t root = Manager->GetRootTime();
    if (!Manager->ReadOnly) TIniItem::SetInteger(TIniList::ForceKey(Node, u"time"), root);
    return root;
  }
  return ReadMilliseconds(TIniList::FindKey(Node, u"time"), 0);
}

TEffectUse TEffectProp::GetUse() {
  TEffectProp* def = this;
  if (IsReference()) {
    def = Resolve();
    if (!def) return TIniItem::GetValue(TIniList::FindKey(Node, u"checked")) == u"1" ? TEffectUse::All
                                                                                      : TEffectUse::None;
  }
  const int keys = def->KeyList.GetCount();
  if (keys == 0) return TIniItem::GetValue(TIniList::FindKey(def->Node, u"checked")) == u"1" ? TEffectUse::All
                                                                                             : TEffectUse::None;
  TEffectUse result = TEffectUse::All;
  for (int k = 0; k < keys; ++k) {
    const std::u16string key = def->KeyList.GetString(k);
    const TEffectUse u = UseOfValue(TIniItem::GetValue(TIniList::FindKey(def->Node, key)));
    if (u == TEffectUse::None) return TEffectUse::None;
    if (u == TEffectUse::Some) result = TEffectUse::Some;
  }
  return result;
}

std::vector<std::u16string> TEffectProp::GetOptionKeys() {
  TEffectProp* def = Resolve();
  std::vector<std::u16string> keys;
  if (!def) return keys;
  foundation::TCommaList list;
  list.Split(TIniItem::GetRawValue(TIniList::FindKey(def->Node, u"sectionfield")), ',');
  for (int k = 0; k < list.GetCount(); ++k) {
    std::u16string key = list.GetString(k);
    if (!key.empty()) keys.push_back(std::move(key));
  }
  return keys;
}

int32_t TEffectProp::GetVariantCount() {
  TEffectProp* def = Resolve();
  if (!def) return 0;
  int64_t count = 1;
  for (const std::u16string& key : GetOptionKeys()) {
    count *= int64_t(def->GetValue(key).size());
    // A product past a million variants is a damaged definition.
    if (count == 0 || count > 1000000) return 0;
  }
  return int32_t(count);
}

std::u16string TEffectProp::GetVariantPattern(int32_t variant) {
  TEffectProp* def = Resolve();
  const std::vector<std::u16string> keys = GetOptionKeys();
  if (!def || keys.empty()) return u"slide_1";
  std::vector<std::u16string> parts(keys.size());
  // Mixed radix, the last key varying fastest.
  int64_t v = variant;
  for (size_t k = keys.size(); k-- > 0;) {
    const size_t len = def->GetValue(keys[k]).size();
    if (len == 0) return std::u16string();
    std::u16string part(len, u'0');
    part[size_t(v % int64_t(len))] = u'1';
    v /= int64_t(len);
    parts[k] = std::move(part);
  }
  std::u16string out = u"slide_";
  for (size_t k = 0; k < parts.size(); ++k) out += (k ? u"_" : u"") + parts[k];
  return out;
}

bool TEffectProp::IsVariantChecked(int32_t variant) {
  TEffectProp* def = Resolve();
  if (!def) return false;
  const std::vector<std::u16string> keys = GetOptionKeys();
  int64_t v = variant;
  for (size_t k = keys.size(); k-- > 0;) {
    const std::u16string value = def->GetValue(keys[k]);
    if (value.empty()) return false;
    if (value[size_t(v % int64_t(value.size()))] != u'1') return false;
    v /= int64_t(value.size());
  }
  return true;
}

foundation::TIniSection* TEffectProp::GetVariantSection(int32_t variant) {
  TEffectProp* def = Resolve();
  if (!def) return nullptr;
  const std::u16string pattern = GetVariantPattern(variant);
  if (pattern.empty()) return nullptr;
  const std::u16string name = TIniItem::GetValue(TIniList::FindKey(def->Node, pattern));
  if (name.empty()) return nullptr;
  return foundation::TIniFile::FindSection(Manager->Ini, u"effect_" + name);
}

// ---- TQELEffectManager ----

TQELEffectManager::TQELEffectManager(foundation::TIniFile* Ini, int32_t ScreenWidth, int32_t ScreenHeight)
    : Ini(Ini), ScreenWidth(ScreenWidth), ScreenHeight(ScreenHeight) {
  QEL_ASSERT(Ini, "There is no IniFile for EffectRuller");
  Ini->_AddRef();
  if (this->ScreenWidth <= 0) this->ScreenWidth = foundation::IniReadInteger(Ini, u"Main", u"opt_scr_width", 1920);
  if (this->ScreenHeight <= 0)
    this->ScreenHeight = foundation::IniReadInteger(Ini, u"Main", u"opt_scr_height", 1080);
}

void TQELEffectManager::Dispose() {
  ClearCaches();
  FBuiltIns.clear();
  FBuiltInHome.Reset();
  foundation::FreeAndNil(Ini);
  TRefObject::Dispose();
}

int32_t TQELEffectManager::SlideCount() { return foundation::IniReadInteger(Ini, u"Times", u"opt_slidescount", 0); }

TIniObject* TQELEffectManager::GetEffectRoot() {
  foundation::TIniSection* main = foundation::TIniFile::ForceSection(Ini, u"Main");
  TIniObject* root = TIniList::FindObject(main, u"TheEffect");
  if (!root) {
    root = TIniObject::Create(main, u"TheEffect", u"AnEffect");
    TIniItem::SetInteger(TIniList::ForceKey(root, u"time"), 2000);
  }
  return root;
}

int32_t TQELEffectManager::GetRootTime() {
  return ReadMilliseconds(TIniList::FindKey(GetEffectRoot(), u"time"), 0);
}

int32_t TQELEffectManager::GetEffectTime(int32_t slideIndex) {
  if (slideIndex < 0) return GetRootTime();
  if (slideIndex >= SlideCount()) return 0;
  TEffectProp* prop = GetSlideEffect(slideIndex);
  return prop ? prop->GetTime() : 0;
}

TEffectProp* TQELEffectManager::GetSlideEffect(int32_t slideIndex) {
  if (slideIndex < 0) return nullptr;
  if (size_t(slideIndex) < FSlideEffects.size() && FSlideEffects[size_t(slideIndex)])
    return FSlideEffects[size_t(slideIndex)].Get();
  foundation::TIniSection* section = GetSlideSection(Ini, slideIndex);
  if (!section) return nullptr;
  TIniObject* node = TIniList::FindObject(section, u"TheEffect");
  if (!node) {
    node = TIniObject::Create(section, u"TheEffect", u"AnEffect");
    TIniItem::SetValue(TIniList::ForceKey(node, u"ref"), u"default");
  }
  auto prop = TRef<TEffectProp>::Adopt(new TEffectProp(this, node, section));
  // Only the slides of the table are kept; a far index is answered uncached.
  if (slideIndex < SlideCount() && slideIndex < 1000000) {
    if (FSlideEffects.size() <= size_t(slideIndex)) FSlideEffects.resize(size_t(slideIndex) + 1);
    FSlideEffects[size_t(slideIndex)] = prop;
    return prop.Get();
  }
  FOverflow = prop;
  return prop.Get();
}

void TQELEffectManager::CollectDefinitions() {
  if (FDefinitionsKnown) return;
  FDefinitionsKnown = true;
  TIniObject* root = GetEffectRoot();
  for (TIniObject* o = TIniList::FirstObject(root); o; o = TIniList::NextObject(root, o))
    FDefinitions.push_back(TRef<TEffectProp>::Adopt(new TEffectProp(this, o, root)));
}

TEffectProp* TQELEffectManager::BuiltIn(std::u16string_view name) {
  if (FBuiltIns.empty()) {
    FBuiltInHome = TRef<TIniList>::Adopt(new foundation::TIniSection());
    struct Row {
      const char16_t* name;
      const char16_t* group;
    } rows[] = {{u"default", u"GroupFromProjectOptions"},
                {u"defowntime", u"GroupFromProjectOptions"},
                {u"quick", u"GroupBasic"}};
    for (const Row& r : rows) {
      TIniObject* node = TIniObject::Create(FBuiltInHome.Get(), r.name, r.name);
      TIniItem::SetValue(TIniList::ForceKey(node, u"caption"), r.name);
      TIniItem::SetValue(TIniList::ForceKey(node, u"group"), r.group);
      TIniItem::SetValue(TIniList::ForceKey(node, u"islocal"), u"1");
      FBuiltIns.push_back(TRef<TEffectProp>::Adopt(new TEffectProp(this, node, GetEffectRoot())));
    }
  }
  for (auto& p : FBuiltIns)
    if (Same(TIniItem::GetName(p->Node), name)) return p.Get();
  return nullptr;
}

TEffectProp* TQELEffectManager::FindDefinition(std::u16string_view name) {
  CollectDefinitions();
  for (auto& d : FDefinitions)
    if (Same(TIniItem::GetName(d->Node), name)) return d.Get();
  return WithBuiltIns ? BuiltIn(name) : nullptr;
}

int32_t TQELEffectManager::GetDefinitionCount() {
  CollectDefinitions();
  int32_t count = int32_t(FDefinitions.size());
  if (WithBuiltIns)
    for (const char16_t* name : {u"default", u"defowntime", u"quick"}) {
      bool real = false;
      for (auto& d : FDefinitions) real = real || Same(TIniItem::GetName(d->Node), name);
      if (!real) ++count;
    }
  return count;
}

TEffectProp* TQELEffectManager::GetDefinition(int32_t index) {
  CollectDefinitions();
  if (index < 0) return nullptr;
  if (size_t(index) < FDefinitions.size()) return FDefinitions[size_t(index)].Get();
  if (!WithBuiltIns) return nullptr;
  int32_t k = int32_t(FDefinitions.size());
  for (const char16_t* name : {u"default", u"defowntime", u"quick"}) {
    bool real = false;
    for (auto& d : FDefinitions) real = real || Same(TIniItem::GetName(d->Node), name);
    if (real) continue;
    if (k++ == index) return BuiltIn(name);
  }
  return nullptr;
}

bool TQELEffectManager::AnyDefinitionInUse() {
  CollectDefinitions();
  for (auto& d : FDefinitions)
    if (!d->IsReference() && d->GetUse() != TEffectUse::None) return true;
  return false;
}

void TQELEffectManager::ClearCaches() {
  FDefinitions.clear();
  FDefinitionsKnown = false;
  FSlideEffects.clear();
  FOverflow.Reset();
}

}  // namespace showmodel
