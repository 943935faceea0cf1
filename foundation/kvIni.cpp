#include "foundation/kvIni.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <typeinfo>

#include "foundation/kpExceptions.h"
#include "foundation/kvIniBytes.h"
#include "foundation/kvTextSaver.h"

namespace foundation {

using namespace ini_detail;

// ---------------------------------------------------------------------------
// Freeing a tree. Nested lists clear themselves while they are being
// disposed; done by plain recursion, a deep chain of nested objects (a
// damaged file may hold a hundred thousand) would overflow the stack. The
// outermost Clear of a thread therefore collects the released children of
// every nested Clear and frees them one by one.

namespace {
thread_local std::vector<TIniItem*>* tlsPendingFree = nullptr;

void ReleaseChildren(std::vector<TIniItem*>& released) {
  if (tlsPendingFree) {
    tlsPendingFree->insert(tlsPendingFree->end(), released.begin(), released.end());
    return;
  }
  std::vector<TIniItem*> pending;
  pending.swap(released);
  struct Scope {
    explicit Scope(std::vector<TIniItem*>* p) { tlsPendingFree = p; }
    ~Scope() { tlsPendingFree = nullptr; }
  } scope(&pending);
  while (!pending.empty()) {
    TIniItem* item = pending.back();
    pending.pop_back();
    item->Free();
  }
}
}  // namespace

// ---------------------------------------------------------------------------
// TIniRecords

TIniRecords::~TIniRecords() {
  for (TIniRecord* chunk : chunks_) std::free(chunk);
}

void TIniRecords::Grow() {
  QEL_ASSERT(!trimmed_, "TIniRecords: appended after Trim");
  const size_t count = kFirst << chunks_.size();
  chunks_.reserve(chunks_.size() + 1);
  auto* chunk = static_cast<TIniRecord*>(std::malloc(count * sizeof(TIniRecord)));
  if (!chunk) throw std::bad_alloc();
  chunks_.push_back(chunk);
  next_ = chunk;
  end_ = chunk + count;
}

void TIniRecords::Trim() {
  if (trimmed_) return;
  trimmed_ = true;
  if (chunks_.empty()) return;
  const size_t used = static_cast<size_t>(next_ - chunks_.back());
  if (used == 0) {
    std::free(chunks_.back());
    chunks_.pop_back();
  } else if (next_ != end_) {
    // Nothing points into the chunks but chunks_, so the block may move.
    if (void* shrunk = std::realloc(chunks_.back(), used * sizeof(TIniRecord)))
      chunks_.back() = static_cast<TIniRecord*>(shrunk);
  }
  next_ = end_ = nullptr;
}

// ---------------------------------------------------------------------------
// TIniItem

TIniItem::TIniItem(const TByteString& name, const TByteString& value) {
  if (IsEmptyBytes(name)) {
    SetValueBytes(value);
  } else {
    SetText(name.View(), value.View());
  }
}

void TIniItem::SetText(std::string_view name, std::string_view value) {
  if (name.empty() && value.empty()) {
    store_.reset();
    name_ = value_ = TIniSlice{};
    return;
  }
  // Copied before the old array goes: either may be a slice of it.
  auto bytes = std::make_shared<TByteDynArray>(name.size() + value.size());
  if (!name.empty()) std::memcpy(bytes->data(), name.data(), name.size());
  if (!value.empty()) std::memcpy(bytes->data() + name.size(), value.data(), value.size());
  name_ = TIniSlice{name.empty() ? nullptr : bytes->data(), static_cast<int32_t>(name.size())};
  value_ = TIniSlice{value.empty() ? nullptr : bytes->data() + name.size(), static_cast<int32_t>(value.size())};
  store_ = std::move(bytes);
}

void TIniItem::SetValueBytes(const TByteString& value) {
  if (name_.N != 0) {
    SetText(name_.View(), value.View());
    return;
  }
  // No name to keep: the value's own array is shared, nothing is copied.
  store_ = value.Bytes();
  value_ = TIniSlice{value.Data(), value.GetLength()};
}

void TIniItem::CopyTextFrom(const TIniItem& other) {
  store_ = other.store_;
  name_ = other.name_;
  value_ = other.value_;
}

void TIniItem::SetTextSlices(const TSharedBytes& text, int32_t nameStart, int32_t nameLength, int32_t valueStart,
                             int32_t valueLength) {
  const int32_t size = text ? static_cast<int32_t>(text->size()) : 0;
  QEL_ASSERT(nameStart >= 0 && nameLength >= 0 && nameStart <= size - nameLength && valueStart >= 0 &&
                 valueLength >= 0 && valueStart <= size - valueLength,
             "TIniItem: a slice outside its text");
  if (nameLength == 0 && valueLength == 0) {
    store_.reset();
    name_ = value_ = TIniSlice{};
    return;
  }
  store_ = text;
  name_ = TIniSlice{nameLength ? text->data() + nameStart : nullptr, nameLength};
  value_ = TIniSlice{valueLength ? text->data() + valueStart : nullptr, valueLength};
}

void TIniItem::Dispose() {
  Detach();
  TTextWriter::Dispose();
}

void TIniItem::Detach() {
  if (!parent_) return;
  TIniItem* removed = parent_->Extract(index_);
  QEL_ASSERT(removed == this, "TIniItem.Index mismatch");
}

void TIniItem::WriteTo(TTextSaver* saver) { WriteIndented(saver, 0); }

bool TIniItem::Contains(const TIniItem*) const { return false; }
void TIniItem::NotifyAttach(bool) {}
TIniItem* TIniItem::Clone() const {
  auto* copy = new TIniItem();
  copy->CopyTextFrom(*this);
  return copy;
}
bool TIniItem::IsKey() const { return !IsEmptyBytes(name_); }

std::u16string TIniItem::GetName(const TIniItem* item) {
  return item ? ToU16(ToByteString(item->name_)) : std::u16string();
}
void TIniItem::SetName(TIniItem* item, std::u16string_view name) {
  if (item) item->Rename(FromU16(name));
}
TByteString TIniItem::GetRawName(const TIniItem* item) { return item ? item->RawName() : TByteString(); }
void TIniItem::SetRawName(TIniItem* item, const TByteString& name) {
  if (item) item->Rename(name);
}
std::u16string TIniItem::GetValue(const TIniItem* item) {
  return item ? ToU16(ToByteString(item->value_)) : std::u16string();
}
void TIniItem::SetValue(TIniItem* item, std::u16string_view value) {
  if (item) item->SetValueBytes(FromU16(value));
}
TByteString TIniItem::GetRawValue(const TIniItem* item) { return item ? item->RawValue() : TByteString(); }
void TIniItem::SetRawValue(TIniItem* item, const TByteString& value) {
  if (item) item->SetValueBytes(value);
}
int32_t TIniItem::GetInteger(const TIniItem* item, int32_t def) {
  return item ? ParseInt(ToByteString(item->value_), def) : def;
}
int64_t TIniItem::GetInt64(const TIniItem* item, int64_t def) {
  return item ? ParseInt64(ToByteString(item->value_), def) : def;
}
double TIniItem::GetFloat(const TIniItem* item, double def) {
  return item ? ParseFloat(ToByteString(item->value_), def) : def;
}
bool TIniItem::GetBool(const TIniItem* item, bool def) {
  if (!item || Length(item->value_) != 1) return def;
  const uint8_t b = Data(item->value_)[0];
  if (b == '1') return true;
  if (b == '0') return false;
  return def;
}
void TIniItem::SetInteger(TIniItem* item, int32_t value) {
  if (item) item->SetValueBytes(FromAscii(std::to_string(value)));
}
void TIniItem::SetInt64(TIniItem* item, int64_t value) {
  if (item) item->SetValueBytes(FromAscii(std::to_string(value)));
}
void TIniItem::SetFloat(TIniItem* item, double value) {
  if (item) item->SetValueBytes(FloatText(value, 16));
}
void TIniItem::SetBool(TIniItem* item, bool value) {
  if (item) item->SetValueBytes(FromAscii(value ? "1" : "0"));
}
TCommaList TIniItem::GetValueList(const TIniItem* item, uint8_t separator) {
  TCommaList list;
  if (item) list.Split(ToByteString(item->value_), separator);
  return list;
}
int32_t TIniItem::GetValueIndex(const TIniItem* item, std::span<const std::u16string_view> names, bool ignoreCase,
                                int32_t def) {
  if (!item) return def;
  for (size_t i = 0; i < names.size(); ++i) {
    const int c = ignoreCase ? CompareWithU16NoCase(item->value_, 0, Length(item->value_), names[i])
                             : CompareWithU16(item->value_, names[i]);
    if (c == 0) return static_cast<int32_t>(i);
  }
  return def;
}

void TIniItem::Rename(const TByteString& name) {
  const bool bothEmpty = IsEmptyBytes(name_) && IsEmptyBytes(name);
  if (bothEmpty ||
      (!IsEmptyBytes(name_) && !IsEmptyBytes(name) &&
       CompareBytesRangeNoCase(name_.P, name_.N, Data(name), Length(name)) == 0) ||
      !parent_) {
    SetText(name.View(), value_.View());
    return;
  }
  // The hash chains and the named count follow the name: take the item out
  // and put it back at the same place under its new name.
  TIniList* parent = parent_;
  const int32_t at = index_;
  TIniItem* self = parent->Extract(at);
  QEL_ASSERT(self == this, "TIniItem.Index mismatch");
  SetText(name.View(), value_.View());
  parent->Insert(at, this);
}

// ---------------------------------------------------------------------------
// TObjectList

TIniList* TObjectList::GetObject(int32_t index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return entries_[static_cast<size_t>(index)];
}

void TObjectList::Attach(TIniList* node, int32_t& ownPosition) {
  if (entries_.capacity() == 0) entries_.reserve(2);
  size_t at = entries_.size();
  while (at > 0 && entries_[at - 1]->Index() > node->Index()) --at;
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(at), node);
  for (size_t i = at; i < entries_.size(); ++i) entries_[i]->ownPosition_ = static_cast<int32_t>(i);
  ownPosition = static_cast<int32_t>(at);
}

void TObjectList::Detach(TIniList* node, int32_t ownPosition, const char* mismatch) {
  QEL_ASSERT(ownPosition >= 0 && ownPosition < GetCount() && entries_[static_cast<size_t>(ownPosition)] == node,
             mismatch);
  entries_.erase(entries_.begin() + ownPosition);
  for (size_t i = static_cast<size_t>(ownPosition); i < entries_.size(); ++i)
    entries_[i]->ownPosition_ = static_cast<int32_t>(i);
}

TIniSection* TSectionList::GetSection(int32_t index) const { return static_cast<TIniSection*>(GetObject(index)); }

// ---------------------------------------------------------------------------
// TIniList

void TIniList::Dispose() {
  Clear();
  TIniItem::Dispose();
}

TIniItem* TIniList::GetChild(int32_t index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return NodeAt(index);
}

std::string_view TIniList::EntryName(const TIniEntry& e) const {
  if (e.IsNode()) return e.Node()->name_.View();
  if (e.IsBlock()) {
    const TIniRecord& r = text_->Lines[static_cast<size_t>(e.Record())];
    return text_->Slice(r.NameStart, r.NameLength);
  }
  return text_->Slice(e.NameStart(), e.NameLength());
}

std::string_view TIniList::EntryValue(const TIniEntry& e) const {
  if (e.IsNode()) return e.Node()->value_.View();
  if (e.IsBlock()) {
    const TIniRecord& r = text_->Lines[static_cast<size_t>(e.Record())];
    return text_->Slice(r.ValueStart, r.ValueLength);
  }
  return text_->Slice(e.ValueStart(), e.ValueLength());
}

TIniItem* TIniList::NodeAt(int32_t index) const {
  auto* self = const_cast<TIniList*>(this);
  TIniEntry& e = self->children_[static_cast<size_t>(index)];
  if (e.IsNode()) return e.Node();
  TIniItem* node = nullptr;
  if (e.IsBlock()) {
    const TIniRecord& r = text_->Lines[static_cast<size_t>(e.Record())];
    auto* obj = new TIniObject();
    obj->SetTextSlices(text_->Bytes, r.NameStart, r.NameLength, r.ValueStart, r.ValueLength);
    try {
      obj->FillFromBlock(text_, e.Record());
    } catch (...) {
      obj->Free();
      throw;
    }
    node = obj;
  } else {
    node = new TIniItem();
    node->SetTextSlices(text_->Bytes, e.NameStart(), e.NameLength(), e.ValueStart(), e.ValueLength());
  }
  node->parent_ = self;
  node->index_ = index;
  e = TIniEntry::OfNode(node);
  node->NotifyAttach(true);
  return node;
}

void TIniList::FillFromBlock(const std::shared_ptr<const TIniText>& text, int32_t record) {
  const TIniRecords& lines = text->Lines;
  const int32_t end = lines[static_cast<size_t>(record)].End;
  size_t count = 0;
  for (int32_t j = record + 1; j < end; j = lines[static_cast<size_t>(j)].End > 0 ? lines[static_cast<size_t>(j)].End : j + 1)
    ++count;
  text_ = text;
  children_.reserve(count);
  for (int32_t j = record + 1; j < end;) {
    const TIniRecord& r = lines[static_cast<size_t>(j)];
    if (r.End > 0) {
      AppendEntry(TIniEntry::OfBlock(j));
      j = r.End;
    } else {
      AppendEntry(TIniEntry::OfLine(r.NameStart, r.NameLength, r.ValueStart, r.ValueLength));
      ++j;
    }
  }
}

void TIniList::UseText(const std::shared_ptr<const TIniText>& text) {
  if (text_ == text) return;
  for (int32_t i = 0; i < GetCount(); ++i)
    if (!children_[static_cast<size_t>(i)].IsNode()) NodeAt(i);
  text_ = text;
}

void TIniList::AppendEntry(const TIniEntry& entry) {
  QEL_ASSERT(!entry.IsNode() && text_, "TIniList: a line without its text");
  const int32_t at = GetCount();
  if (children_.size() == children_.capacity()) {
    const size_t grown = children_.empty() ? 4 : children_.capacity() * 2;
    QEL_ASSERT(grown > children_.capacity(), "TIniList: the children array cannot grow");
    children_.reserve(grown);
  }
  children_.push_back(entry);
  const std::string_view name = EntryName(entry);
  if (!name.empty()) {
    if (!hash_.empty()) {
      if (static_cast<size_t>(namedCount_ + 1) * 2 <= hash_.size()) {
        LinkHash(at, HashBytesNoCase(reinterpret_cast<const uint8_t*>(name.data()), static_cast<int32_t>(name.size())));
      } else {
        DropHash();  // rebuilt, larger, at the next lookup
      }
    }
    ++namedCount_;
  }
  // A line with a name is a key; a block never is.
  if (entry.IsLine() && entry.NameLength() > 0) keyInsertPos_ = at + 1;
}

bool TIniList::Contains(const TIniItem* node) const {
  // A list without children holds nothing below it; this keeps attaching a
  // new block to a deep chain from walking the whole chain.
  if (children_.empty()) return node == this;
  for (const TIniItem* p = node; p; p = p->parent_)
    if (p == this) return true;
  return false;
}

TIniList* TIniList::NewEmpty() const { return new TIniList(); }

TIniItem* TIniList::Clone() const {
  // Iterative, for the same reason as freeing: nesting depth is not bounded.
  // Lines without nodes are copied as lines of the same text.
  TIniList* root = NewEmpty();
  struct Frame {
    const TIniList* source;
    TIniList* target;
    size_t next;
  };
  std::vector<Frame> stack;
  try {
    root->CopyTextFrom(*this);
    root->text_ = text_;
    stack.push_back({this, root, 0});
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.next == f.source->children_.size()) {
        f.target->keyInsertPos_ = std::min(f.source->keyInsertPos_, f.target->GetCount());
        stack.pop_back();
        continue;
      }
      const TIniEntry& entry = f.source->children_[f.next++];
      TIniList* target = f.target;
      if (!entry.IsNode()) {
        target->AppendEntry(entry);
        continue;
      }
      const TIniItem* child = entry.Node();
      if (auto* list = dynamic_cast<const TIniList*>(child)) {
        TIniList* copy = list->NewEmpty();
        copy->CopyTextFrom(*list);
        copy->text_ = list->text_;
        target->Add(copy);
        stack.push_back({list, copy, 0});
      } else {
        target->Add(child->Clone());
      }
    }
  } catch (...) {
    root->Free();
    throw;
  }
  return root;
}

namespace {
// Adds a node whose only reference the caller holds; a node the list refuses
// (a section offered to a list that is not a root raises) is freed, not lost.
void AddOwned(TIniList* list, TIniItem* node) {
  try {
    if (list->Add(node) >= 0) return;
  } catch (...) {
    node->Free();
    throw;
  }
  node->Free();
}
}  // namespace

void TIniList::CopyChildren(const TIniList* source) {
  if (!source || source == this) {
    if (source == this) {
      // Cloning first keeps a list that copies itself from growing while it reads.
      const int32_t n = GetCount();
      std::vector<TIniItem*> clones;
      try {
        for (int32_t i = 0; i < n; ++i) clones.push_back(NodeAt(i)->Clone());
      } catch (...) {
        for (TIniItem* c : clones) c->Free();
        throw;
      }
      for (size_t i = 0; i < clones.size(); ++i) {
        try {
          AddOwned(this, clones[i]);
        } catch (...) {
          for (size_t k = i + 1; k < clones.size(); ++k) clones[k]->Free();
          throw;
        }
      }
    }
    return;
  }
  for (int32_t i = 0; i < source->GetCount(); ++i) AddOwned(this, source->NodeAt(i)->Clone());
}

void TIniList::Clear() {
  if (objects_) {
    objects_->Free();
    objects_ = nullptr;
  }
  hash_.clear();
  hash_.shrink_to_fit();
  std::vector<TIniEntry> entries;
  entries.swap(children_);
  namedCount_ = 0;
  keyInsertPos_ = 0;
  text_.reset();
  std::vector<TIniItem*> released;
  for (const TIniEntry& e : entries) {
    if (!e.IsNode()) continue;
    TIniItem* child = e.Node();
    child->parent_ = nullptr;
    child->index_ = 0;
    released.push_back(child);
  }
  entries.clear();
  entries.shrink_to_fit();
  ReleaseChildren(released);
}

int32_t TIniList::Add(TIniItem* node) {
  const int32_t at = GetCount();
  return Insert(at, node) ? node->index_ : -1;
}

void TIniList::Renumber(size_t from) {
  for (size_t i = from; i < children_.size(); ++i)
    if (children_[i].IsNode()) children_[i].Node()->index_ = static_cast<int32_t>(i);
}

bool TIniList::Insert(int32_t index, TIniItem* node) {
  if (!node || index < 0 || index > GetCount() || node->Contains(this)) return false;
  // A section belongs to a root only; refusing before anything moves keeps
  // the tree whole.
  if (dynamic_cast<TIniSection*>(node) && !dynamic_cast<TIniFile*>(this)) throw std::bad_cast();
  if (TIniList* old = node->parent_) {
    if (old == this && index >= node->index_) {
      if (index == node->index_ || index == node->index_ + 1) return true;
      --index;
    }
    TIniItem* removed = old->Extract(node->index_);
    QEL_ASSERT(removed == node, "TIniItem.Index mismatch");
  }
  if (children_.size() == children_.capacity()) {
    // Small first: most nested blocks hold a handful of lines.
    const size_t grown = children_.empty() ? 4 : children_.capacity() * 2;
    QEL_ASSERT(grown > children_.capacity(), "TIniList: the children array cannot grow");
    children_.reserve(grown);
  }
  children_.insert(children_.begin() + index, TIniEntry::OfNode(node));
  Renumber(static_cast<size_t>(index));
  node->parent_ = this;
  if (!hash_.empty() && index < GetCount() - 1) ShiftHash(index, 1);
  if (!IsEmptyBytes(node->name_)) {
    if (!hash_.empty()) {
      if (static_cast<size_t>(namedCount_ + 1) * 2 <= hash_.size()) {
        LinkHash(index, NameHash(node->name_));
      } else {
        DropHash();  // rebuilt, larger, at the next lookup
      }
    }
    ++namedCount_;
  }
  node->NotifyAttach(true);
  if (keyInsertPos_ > index) {
    ++keyInsertPos_;
  } else if (node->IsKey()) {
    keyInsertPos_ = index + 1;
  }
  return true;
}

TIniItem* TIniList::Extract(int32_t index) {
  if (index < 0 || index >= GetCount()) return nullptr;
  TIniItem* child = NodeAt(index);
  child->NotifyAttach(false);
  if (!IsEmptyBytes(child->name_)) {
    if (!hash_.empty()) UnlinkHash(index, NameHash(child->name_));
    --namedCount_;
  }
  children_.erase(children_.begin() + index);
  Renumber(static_cast<size_t>(index));
  if (!hash_.empty()) ShiftHash(index + 1, -1);
  child->parent_ = nullptr;
  child->index_ = 0;
  if (index < keyInsertPos_) --keyInsertPos_;
  return child;
}

// --- the name hash -----------------------------------------------------------
// Open addressing with linear probing over (index, hash) slots; a lookup
// walks the run of its home slot and keeps the last standing child whose
// name matches, so no order among equal names has to be kept.

void TIniList::DropHash() {
  hash_.clear();
  hash_.shrink_to_fit();
}

uint32_t TIniList::HashSize() {
  if (hash_.empty()) {
    size_t size = 16;
    while (size < static_cast<size_t>(namedCount_) * 2) size *= 2;
    hash_.assign(size, THashSlot{-1, 0});
    for (size_t i = 0; i < children_.size(); ++i) {
      const std::string_view name = EntryName(children_[i]);
      if (name.empty()) continue;
      LinkHash(static_cast<int32_t>(i),
               HashBytesNoCase(reinterpret_cast<const uint8_t*>(name.data()), static_cast<int32_t>(name.size())));
    }
  }
  return static_cast<uint32_t>(hash_.size());
}

void TIniList::LinkHash(int32_t index, uint32_t hash) {
  const size_t mask = hash_.size() - 1;
  size_t i = Home(hash, mask);
  while (hash_[i].Index >= 0) i = (i + 1) & mask;
  hash_[i] = THashSlot{index, hash};
}

void TIniList::UnlinkHash(int32_t index, uint32_t hash) {
  const size_t mask = hash_.size() - 1;
  size_t i = Home(hash, mask);
  while (hash_[i].Index >= 0 && hash_[i].Index != index) i = (i + 1) & mask;
  QEL_ASSERT(hash_[i].Index == index, "TIniList: a named child is missing from its hash");
  // Backward shift: later slots of the run whose home lies outside the gap
  // move into it, so no run is broken.
  size_t j = i;
  for (;;) {
    j = (j + 1) & mask;
    if (hash_[j].Index < 0) break;
    const size_t home = Home(hash_[j].Hash, mask);
    const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
    if (stays) continue;
    hash_[i] = hash_[j];
    i = j;
  }
  hash_[i] = THashSlot{-1, 0};
}

void TIniList::ShiftHash(int32_t from, int32_t delta) {
  for (THashSlot& slot : hash_)
    if (slot.Index >= from) slot.Index += delta;
}

// --- lookups ------------------------------------------------------------------

bool TIniList::IsKeyFilter(const TIniEntry& e) {
  if (e.IsNode()) return e.Node()->IsKey();
  return e.IsLine() && e.NameLength() > 0;
}
bool TIniList::IsPlainItem(const TIniEntry& e) {
  if (e.IsNode()) {
    const TIniItem* node = e.Node();
    return typeid(*node) == typeid(TIniItem);
  }
  return e.IsLine();
}

TIniItem* TIniList::FindFiltered(const TIniList* list, std::u16string_view name, Filter filter) {
  return FindFilteredRange(list, name, 1, static_cast<int32_t>(name.size()), filter);
}

namespace {
int CompareViewWithU16NoCase(std::string_view b, int32_t count, std::u16string_view s) {
  const std::u16string text(s);
  return CompareUtf8WithUnicodeNoCase(reinterpret_cast<const uint8_t*>(b.data()), b.size(), 0, count, text, 1,
                                      static_cast<int>(text.size()));
}
}  // namespace

TIniItem* TIniList::FindFilteredRange(const TIniList* list, std::u16string_view s, int32_t start, int32_t count,
                                      Filter filter) {
  if (start < 1) start = 1;
  const size_t first = static_cast<size_t>(start) - 1;
  if (!list || list->namedCount_ == 0 || count <= 0 || first >= s.size()) return nullptr;
  const std::u16string_view name = s.substr(first, static_cast<size_t>(count));
  auto* self = const_cast<TIniList*>(list);
  const int32_t at = self->LastHashed(HashU16NoCase(name), [&](const TIniEntry& e) {
    if (!filter(e)) return false;
    const std::string_view n = self->EntryName(e);
    return CompareViewWithU16NoCase(n, static_cast<int32_t>(n.size()), name) == 0;
  });
  return at >= 0 ? self->NodeAt(at) : nullptr;
}

TIniItem* TIniList::FindFilteredRaw(const TIniList* list, const TByteString& bytes, int32_t start, int32_t count,
                                    Filter filter) {
  if (start < 0) start = 0;
  count = std::min(count, Length(bytes) - start);
  if (!list || list->namedCount_ == 0 || count <= 0) return nullptr;
  auto* self = const_cast<TIniList*>(list);
  const uint8_t* p = Data(bytes) + start;
  const int32_t at = self->LastHashed(HashBytesNoCase(p, count), [&](const TIniEntry& e) {
    if (!filter(e)) return false;
    const std::string_view n = self->EntryName(e);
    return CompareBytesRangeNoCase(reinterpret_cast<const uint8_t*>(n.data()), static_cast<int32_t>(n.size()), p,
                                   count) == 0;
  });
  return at >= 0 ? self->NodeAt(at) : nullptr;
}

TIniItem* TIniList::FindIndexed(const TIniList* list, std::u16string_view prefix, int32_t number, Filter filter) {
  if (!list || list->namedCount_ == 0) return nullptr;
  const std::string digits = std::to_string(number);
  if (prefix.empty() && digits.empty()) return nullptr;
  auto* self = const_cast<TIniList*>(list);
  // The hash of the prefix continued over the digits, without building the name.
  uint32_t h = HashU16NoCase(prefix);
  for (char d : digits) h = HashStepByte(h, static_cast<uint8_t>(d));
  const int32_t nd = static_cast<int32_t>(digits.size());
  const int32_t at = self->LastHashed(h, [&](const TIniEntry& e) {
    if (!filter(e)) return false;
    const std::string_view name = self->EntryName(e);
    const int32_t len = static_cast<int32_t>(name.size());
    if (len < nd) return false;
    if (!std::equal(digits.begin(), digits.end(), name.begin() + (len - nd))) return false;
    return CompareViewWithU16NoCase(name, len - nd, prefix) == 0;
  });
  return at >= 0 ? self->NodeAt(at) : nullptr;
}

TIniItem* TIniList::FindKey(const TIniList* list, std::u16string_view name) {
  return FindFiltered(list, name, &IsKeyFilter);
}
TIniItem* TIniList::FindKeyRaw(const TIniList* list, const TByteString& bytes, int32_t start, int32_t count) {
  return FindFilteredRaw(list, bytes, start, count, &IsKeyFilter);
}
TIniItem* TIniList::FindKeyIndexed(const TIniList* list, std::u16string_view prefix, int32_t number) {
  return FindIndexed(list, prefix, number, &IsKeyFilter);
}
TIniObject* TIniList::FindObject(const TIniList* list, std::u16string_view name) {
  return FindNode<TIniObject>(list, name);
}

TIniObject* TIniList::FindObjectOfType(const TIniList* list, std::u16string_view name, std::u16string_view type) {
  if (!list || list->namedCount_ == 0 || name.empty()) return nullptr;
  auto* self = const_cast<TIniList*>(list);
  const int32_t at = self->LastHashed(HashU16NoCase(name), [&](const TIniEntry& e) {
    if (!IsA<TIniObject>(e)) return false;
    const std::string_view n = self->EntryName(e);
    const std::string_view v = self->EntryValue(e);
    return CompareViewWithU16NoCase(n, static_cast<int32_t>(n.size()), name) == 0 &&
           CompareViewWithU16NoCase(v, static_cast<int32_t>(v.size()), type) == 0;
  });
  return at >= 0 ? static_cast<TIniObject*>(self->NodeAt(at)) : nullptr;
}

TObjectList* TIniList::GetObjectList() const { return EnsureObjects(); }

TObjectList* TIniList::EnsureObjects() const {
  if (objects_) return objects_;
  auto* self = const_cast<TIniList*>(this);
  // Blocks get their nodes first, while there is no list for them to join.
  for (int32_t i = 0; i < GetCount(); ++i)
    if (children_[static_cast<size_t>(i)].IsBlock()) NodeAt(i);
  for (const TIniEntry& e : children_) {
    if (!e.IsNode()) continue;
    auto* obj = dynamic_cast<TIniObject*>(e.Node());
    if (!obj) continue;
    if (!self->objects_) self->objects_ = new TObjectList();
    self->objects_->Attach(obj, obj->ownPosition_);
  }
  return objects_;
}

TIniObject* TIniList::FirstObject(const TIniList* list) {
  if (!list) return nullptr;
  TObjectList* objects = list->EnsureObjects();
  return objects ? static_cast<TIniObject*>(objects->GetObject(0)) : nullptr;
}

TIniObject* TIniList::NextObject(const TIniList* list, const TIniObject* object) {
  if (!list || !object) return nullptr;
  QEL_ASSERT(object->parent_ == list, "TIniList.NextObject: the object belongs to another list");
  TObjectList* objects = list->EnsureObjects();
  return objects ? static_cast<TIniObject*>(objects->GetObject(object->ownPosition_ + 1)) : nullptr;
}

TIniItem* TIniList::InsertNewKey(const TByteString& name) {
  auto* key = new TIniItem(name, TByteString());
  Insert(keyInsertPos_, key);
  return key;
}

TIniItem* TIniList::ForceKey(TIniList* list, std::u16string_view name) {
  if (!list || name.empty()) return nullptr;
  if (TIniItem* found = FindFiltered(list, name, &IsPlainItem)) return found;
  return list->InsertNewKey(FromU16(name));
}

TIniItem* TIniList::ForceKeyRaw(TIniList* list, const TByteString& bytes, int32_t start, int32_t count) {
  if (start < 0) start = 0;
  count = std::min(count, Length(bytes) - start);
  if (!list || count <= 0) return nullptr;
  if (TIniItem* found = FindFilteredRaw(list, bytes, start, count, &IsPlainItem)) return found;
  return list->InsertNewKey(SubBytes(bytes, start, count));
}

TIniItem* TIniList::ForceKeyIndexed(TIniList* list, std::u16string_view prefix, int32_t number) {
  if (!list) return nullptr;
  if (TIniItem* found = FindIndexed(list, prefix, number, &IsPlainItem)) return found;
  std::u16string name(prefix);
  for (char d : std::to_string(number)) name.push_back(static_cast<char16_t>(d));
  return list->InsertNewKey(FromU16(name));
}

TIniItem* TIniList::FindPath(TIniList* list, std::u16string_view path, char16_t separator, bool create) {
  if (!list) return nullptr;
  if (path.empty()) return list;
  TIniList* node = list;
  size_t pos = 0;
  for (;;) {
    const size_t sep = path.find(separator, pos);
    if (sep == std::u16string_view::npos) break;
    const std::u16string_view segment = path.substr(pos, sep - pos);
    pos = sep + 1;
    auto* root = dynamic_cast<TIniFile*>(node);
    TIniList* next = nullptr;
    if (root && !root->parent_) {
      if (segment.empty()) {
        next = create ? root : nullptr;
      } else {
        next = FindNode<TIniSection>(root, segment);
        if (!next && create) next = TIniFile::ForceSection(root, segment);
      }
    } else {
      next = segment.empty() ? FirstObject(node) : FindObject(node, segment);
      if (!next && create) next = TIniObject::Create(node, segment, u"");
    }
    if (!next) return nullptr;
    node = next;
  }
  const std::u16string_view last = path.substr(pos);
  if (last.empty()) return node;
  if (TIniItem* found = FindNode<TIniItem>(node, last)) return found;
  if (!create) return nullptr;
  const TByteString raw = FromU16(last);
  return ForceKeyRaw(node, raw, 0, Length(raw));
}

TIniItem* TIniList::ForcePath(TIniList* list, std::u16string_view path) { return FindPath(list, path, u':', true); }

std::u16string TIniList::ReadString(const TIniList* list, std::u16string_view key, std::u16string_view def) {
  const TIniItem* item = FindKey(list, key);
  return item ? TIniItem::GetValue(item) : std::u16string(def);
}
bool TIniList::ReadBool(const TIniList* list, std::u16string_view key, bool def) {
  return TIniItem::GetBool(FindKey(list, key), def);
}
void TIniList::WriteString(TIniList* list, std::u16string_view key, std::u16string_view value) {
  TIniItem::SetValue(ForceKey(list, key), value);
}

// ---------------------------------------------------------------------------
// TIniSection, TIniObject, TIniFile

TIniSection::TIniSection(bool withBlankItem) {
  if (withBlankItem) Add(new TIniItem());
}

TIniList* TIniSection::NewEmpty() const { return new TIniSection(false); }

void TIniSection::NotifyAttach(bool attached) {
  auto* root = dynamic_cast<TIniFile*>(parent_);
  if (!root) throw std::bad_cast();
  if (attached) {
    root->sections_->Attach(this, ownPosition_);
  } else {
    root->sections_->Detach(this, ownPosition_, "TIniSection.SectionIndex mismatch");
  }
}

TIniObject* TIniObject::Create(TIniList* parent, std::u16string_view name, std::u16string_view type) {
  auto* obj = new TIniObject();
  obj->SetText(FromU16(name).View(), FromU16(type).View());
  if (parent) {
    int32_t at = parent->keyInsertPos_;
    TObjectList* objects = parent->EnsureObjects();
    if (objects && objects->GetCount() > 0) at = objects->GetObject(objects->GetCount() - 1)->Index() + 1;
    if (!parent->Insert(at, obj)) {
      obj->Free();
      return nullptr;
    }
  }
  return obj;
}

TIniList* TIniObject::NewEmpty() const { return new TIniObject(); }

void TIniObject::NotifyAttach(bool attached) {
  TIniList* parent = parent_;
  if (attached) {
    // Without a list yet nothing is kept: the list is made from the
    // children, in their order, when first asked for.
    if (parent->objects_) parent->objects_->Attach(this, ownPosition_);
  } else if (parent->objects_) {
    parent->objects_->Detach(this, ownPosition_, "TIniObject.ObjectIndex mismatch");
  }
}

TIniFile::TIniFile() : TIniSection(false) { sections_ = new TSectionList(); }

void TIniFile::Dispose() {
  Clear();
  if (sections_) {
    sections_->Free();
    sections_ = nullptr;
  }
  TIniSection::Dispose();
}

TIniList* TIniFile::NewEmpty() const { return new TIniFile(); }

void TIniFile::Clear() {
  if (sections_) sections_->entries_.clear();
  TIniSection::Clear();
}

TIniSection* TIniFile::FindSection(const TIniFile* ini, std::u16string_view name) {
  if (!ini) return nullptr;
  if (name.empty()) return const_cast<TIniFile*>(ini);
  return FindNode<TIniSection>(ini, name);
}

TIniSection* TIniFile::ForceSection(TIniFile* ini, std::u16string_view name) {
  if (!ini) return nullptr;
  if (name.empty()) return ini;
  if (TIniSection* found = FindNode<TIniSection>(ini, name)) return found;
  auto* section = new TIniSection(true);
  section->SetText(FromU16(name).View(), std::string_view());
  ini->Add(section);
  return section;
}

std::u16string IniReadString(const TIniFile* ini, std::u16string_view section, std::u16string_view key,
                             std::u16string_view def) {
  return TIniList::ReadString(TIniFile::FindSection(ini, section), key, def);
}
int32_t IniReadInteger(const TIniFile* ini, std::u16string_view section, std::u16string_view key, int32_t def) {
  return TIniItem::GetInteger(TIniList::FindKey(TIniFile::FindSection(ini, section), key), def);
}
double IniReadFloat(const TIniFile* ini, std::u16string_view section, std::u16string_view key, double def) {
  return TIniItem::GetFloat(TIniList::FindKey(TIniFile::FindSection(ini, section), key), def);
}
bool IniReadBool(const TIniFile* ini, std::u16string_view section, std::u16string_view key, bool def) {
  return TIniItem::GetBool(TIniList::FindKey(TIniFile::FindSection(ini, section), key), def);
}
void IniWriteString(TIniFile* ini, std::u16string_view section, std::u16string_view key,
                    std::u16string_view value) {
  TIniItem::SetValue(TIniList::ForceKey(TIniFile::ForceSection(ini, section), key), value);
}
void IniWriteInteger(TIniFile* ini, std::u16string_view section, std::u16string_view key, int32_t value) {
  TIniItem::SetInteger(TIniList::ForceKey(TIniFile::ForceSection(ini, section), key), value);
}

}  // namespace foundation
