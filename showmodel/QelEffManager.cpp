#include "showmodel/QelEffManager.h"

#include <algorithm>
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

foundation::TIniSection* TEffectProp::GetVariantSection(int32_t variant, bool Create) {
  TEffectProp* def = Resolve();
  if (!def) return nullptr;
  const std::u16string pattern = GetVariantPattern(variant);
  if (pattern.empty()) return nullptr;
  const std::u16string name = TIniItem::GetValue(TIniList::FindKey(def->Node, pattern));
  if (name.empty()) return nullptr;
  if (Create) return foundation::TIniFile::ForceSection(Manager->Ini, u"effect_" + name);
  return foundation::TIniFile::FindSection(Manager->Ini, u"effect_" + name);
}

void TEffectProp::FillSlideOptions(TIniList* Target) {
  if (!Target) return;
  // A reference to a built-in name fills from the built-in definition.
  TEffectProp* def = Resolve();
  if (!def && IsReference()) def = Manager->FindDefinition(GetName());
  if (!def) def = this;
  TIniList* n = def->Node;
  auto copy = [&](std::u16string_view key, std::u16string_view dflt) {
    TIniItem* item = TIniList::FindKey(n, key);
    TIniList::WriteString(Target, key, item ? TIniItem::GetValue(item) : std::u16string(dflt));
  };
  TIniList::WriteString(Target, u"CustomEffBg", u"0");
  switch (TIniItem::GetInteger(TIniList::FindKey(n, u"bstyle"), 0)) {
    case 1:
      TIniList::WriteString(Target, u"bstyle", u"1");
      copy(u"bcolor", u"0");
      break;
    case 2:
      TIniList::WriteString(Target, u"bstyle", u"2");
      if (TIniList::FindKey(n, u"bfn")) copy(u"bfn", u"");
      copy(u"bsize", u"100");
      break;
    case 3:
      TIniList::WriteString(Target, u"bstyle", u"3");
      copy(u"bcolor1", u"16711680");
      copy(u"bcolor2", u"0");
      copy(u"bcolorStyle", u"1");
      break;
    case 4:
      TIniList::WriteString(Target, u"bstyle", u"4");
      copy(u"CustomEffBg", u"3");
      break;
    default:
      break;
  }
  copy(u"TransparentBg", u"0");
  TIniList::WriteString(Target, u"CoverMode", u"1");
  TIniItem::SetInteger(TIniList::ForceKey(Target, u"opt_scr_width"), Manager->GetScreenWidth());
  TIniItem::SetInteger(TIniList::ForceKey(Target, u"opt_scr_height"), Manager->GetScreenHeight());
}

namespace {

// The value of field "id" of a user-property description "name:value;...".
std::u16string FieldOf(const std::u16string& description, std::u16string_view field) {
  size_t at = 0;
  while (at <= description.size()) {
    size_t end = description.find(u';', at);
    if (end == std::u16string::npos) end = description.size();
    const std::u16string item = description.substr(at, end - at);
    const size_t colon = item.find(u':');
    if (colon != std::u16string::npos && Same(std::u16string_view(item).substr(0, colon), field))
      return item.substr(colon + 1);
    at = end + 1;
  }
  return std::u16string();
}

}  // namespace

void TEffectProp::ApplyUserProps(TIniList* Section) {
  if (!Section) return;
  TEffectProp* def = Resolve();
  if (!def) return;
  TIniObject* container = TIniList::FindObject(Section, u"Container");
  if (!container) container = TIniObject::Create(Section, u"Container", u"Root");
  const std::vector<std::u16string> options = GetOptionKeys();
  // A count beyond what a definition can hold is a damaged block.
  const int32_t count = std::min(TIniItem::GetInteger(TIniList::FindKey(def->Node, u"userprops"), 0), 10000);
  for (int32_t k = 1; k <= count; ++k) {
    const std::u16string description = TIniItem::GetValue(TIniList::FindKeyIndexed(def->Node, u"prop", k));
    const std::u16string id = FieldOf(description, u"id");
    if (id.empty()) continue;
    bool isOption = false;
    for (const std::u16string& o : options) isOption = isOption || Same(o, id);
    if (isOption) continue;
    TIniItem::SetValue(TIniList::ForceKeyIndexed(container, u"prop", k), description);
    TIniList::WriteString(container, id, GetValue(id));
  }
}

bool TEffectProp::Assign(TEffectProp* Other, bool Deep) {
  if (!Other || Manager->ReadOnly || Manager->IsBuiltIn(this)) return false;
  if (Other == this) return true;
  foundation::TRef<TEffectProp> keep = foundation::TRef<TEffectProp>::AddRef(Other);
  TIniList* from = Other->Node;
  std::vector<const TIniItem*> keys, blocks;
  for (int32_t i = 0; i < from->GetCount(); ++i) {
    const TIniItem* child = from->GetChild(i);
    if (dynamic_cast<const TIniObject*>(child)) blocks.push_back(child);
    else if (child->IsKey()) keys.push_back(child);
  }
  for (const TIniItem* key : keys) TIniItem::SetValue(TIniList::ForceKey(Node, TIniItem::GetName(key)), TIniItem::GetValue(key));
  if (Deep) {
    TIniItem::SetValue(Node, TIniItem::GetValue(from));
    for (int32_t i = Node->GetCount(); i-- > 0;)
      if (dynamic_cast<TIniObject*>(Node->GetChild(i))) Node->Extract(i)->Free();
    for (const TIniItem* block : blocks) {
      TIniItem* clone = block->Clone();
      if (Node->Add(clone) < 0) clone->Free();
    }
  }
  RefState = 0;
  KeyList = foundation::TCommaList();
  KeyList.Split(TIniItem::GetRawValue(TIniList::FindKey(Node, u"key")), ',');
  Notify();
  return true;
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

bool TQELEffectManager::IsBuiltIn(const TEffectProp* Prop) const {
  for (auto& p : FBuiltIns)
    if (p.Get() == Prop) return true;
  return false;
}

foundation::TIniSection* TQELEffectManager::BuildEffectSlideSection(TEffectProp* Prop, int32_t Variant) {
  if (!Prop || Variant < 0) return nullptr;
  foundation::TIniSection* source = Prop->GetVariantSection(Variant, !ReadOnly);
  if (!source) return nullptr;
  auto copy = TRef<foundation::TIniSection>::Adopt(static_cast<foundation::TIniSection*>(source->Clone()));
  Prop->ApplyUserProps(copy.Get());
  Prop->FillSlideOptions(copy.Get());
  return copy.Detach();
}

bool TQELEffectManager::DeleteDefinition(TEffectProp* Prop) {
  if (ReadOnly || !Prop || IsBuiltIn(Prop) || Prop->IsReference()) return false;
  TIniObject* root = GetEffectRoot();
  int32_t index = -1;
  for (int32_t i = 0; i < root->GetCount(); ++i)
    if (root->GetChild(i) == Prop->Node) index = i;
  if (index < 0) return false;
  TRef<TEffectProp> keep = TRef<TEffectProp>::AddRef(Prop);
  const std::u16string name = TIniItem::GetName(Prop->Node);
  root->Extract(index)->Free();
  // Slides that named it would otherwise refer to nothing.
  const int32_t slides = std::min(SlideCount(), 1000000);
  for (int32_t i = 0; i < slides; ++i) {
    TIniObject* node = TIniList::FindObject(GetSlideSection(Ini, i), u"TheEffect");
    if (!node || !Same(TIniItem::GetValue(node), u"AnEffect")) continue;
    TIniItem* ref = TIniList::FindKey(node, u"ref");
    if (ref && Same(TIniItem::GetValue(ref), name)) TIniItem::SetValue(ref, u"default");
  }
  ClearCaches();
  return true;
}

bool TQELEffectManager::GetCaption(std::u16string& Text, int32_t Index) {
  TEffectProp* def = GetDefinition(Index);
  if (!def) return false;
  TIniItem* caption = TIniList::FindKey(def->Node, u"caption");
  Text = CaptionPrefix + (caption ? TIniItem::GetValue(caption) : TIniItem::GetName(def->Node));
  return true;
}

void TQELEffectManager::ClearCaches() {
  FDefinitions.clear();
  FDefinitionsKnown = false;
  FSlideEffects.clear();
  FOverflow.Reset();
}

}  // namespace showmodel
