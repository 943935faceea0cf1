#include "foundation/kvStrings.h"

#include <algorithm>
#include <cstring>

#include "foundation/kvCaseFolding.h"

namespace foundation {

void TStringItem::Assign(const TStringItem* other) {
  if (other == nullptr) return;
  SetString(other->Text);
  SetObject(other->Obj);
}

// ---- slots -------------------------------------------------------------------

TStringItem* TStringList::Slot(int32_t index) const {
  void* p = FItems->GetItem(index);
  return p ? static_cast<TStringItem*>(static_cast<TRefObject*>(p)) : nullptr;
}

void TStringList::SetSlot(int32_t index, TStringItem* item) {
  FItems->SetItem(index, item ? static_cast<void*>(static_cast<TRefObject*>(item)) : nullptr);
}

// ---- TStringList -------------------------------------------------------------

TStringList::TStringList() : FItems(new TList()) {}

void TStringList::Dispose() {
  if (FItems != nullptr) {
    Clear();
    FreeAndNil(FItems);
  }
  TSorter::Dispose();
}

int32_t TStringList::GetCount() { return FItems->Count(); }

int32_t TStringList::Compare(int32_t i, int32_t j) {
  if (i == j) return 0;
  TStringItem* a = Slot(i);
  TStringItem* b = Slot(j);
  if (a && b) return CompareStrings(a->Text, b->Text);
  if (!a && !b) return 0;
  return a ? 1 : -1;
}

int32_t TStringList::CompareKey(void* key, int32_t j) {
  const std::u16string& k = *static_cast<const std::u16string*>(key);
  TStringItem* item = Slot(j);
  if (k.empty()) return item ? -1 : 0;
  if (!item) return 1;
  return CompareStrings(k, item->Text);
}

void TStringList::Exchange(int32_t i, int32_t j) {
  const int32_t n = GetCount();
  if (i < 0 || j < 0 || i >= n || j >= n) return;
  FItems->Exchange(i, j);
}

void TStringList::Sort() { SortRange(0, GetCount() - 1); }

void TStringList::SortRange(int32_t lo, int32_t hi) {
  lo = std::max(lo, 0);
  hi = std::min(hi, GetCount() - 1);
  if (lo < hi) QuickSort(lo, hi);
}

TStringItem* TStringList::NewItem() { return new TStringItem(); }

bool TStringList::SameString(const std::u16string& a, const std::u16string& b) {
  if (FCaseInsensitive) return a.size() == b.size() && CompareStrings(a, b) == 0;
  return a == b;
}

int32_t TStringList::CompareStrings(const std::u16string& a, const std::u16string& b) {
  if (FCaseInsensitive)
    return CompareTextRange(a, b, 1, 1, static_cast<int>(a.size()), static_cast<int>(b.size()));
  const int c = a.compare(b);  // by 16-bit units
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

void TStringList::SetCount(int32_t n) {
  if (n < 0) return;
  for (int32_t i = GetCount() - 1; i >= n; --i) {
    TStringItem* item = Slot(i);
    SetSlot(i, nullptr);
    FreeObj(item);
  }
  FItems->SetCount(n);
}

TStringItem* TStringList::GetItem(int32_t index) {
  if (index < 0 || index >= GetCount()) return nullptr;
  TStringItem* item = Slot(index);
  if (!item) {
    item = NewItem();
    SetSlot(index, item);
  }
  return item;
}

std::u16string TStringList::GetString(int32_t index) {
  TStringItem* item = Slot(index);
  return item ? item->Text : std::u16string();
}

TRefObject* TStringList::GetObject(int32_t index) {
  TStringItem* item = Slot(index);
  return item ? item->Obj : nullptr;
}

void TStringList::SetString(int32_t index, const std::u16string& text) {
  TStringItem* item = GetItem(index);
  if (!item) return;
  item->SetString(text);
  if (FSorted) Sort();
}

void TStringList::Clear() { FItems->Clear(); }

void TStringList::ClearWithObjects(bool alsoObjects) {
  if (alsoObjects) {
    for (int32_t i = 0; i < GetCount(); ++i) {
      TStringItem* item = Slot(i);
      if (!item || !item->Obj) continue;
      TRefObject* obj = item->Obj;
      item->SetObject(nullptr);
      obj->_Release();
    }
  }
  Clear();
}

void TStringList::Assign(TStringList* other) {
  if (other == nullptr || other == this) return;
  const int32_t n = other->GetCount();
  SetCount(n);
  for (int32_t i = 0; i < n; ++i) {
    TStringItem* source = other->Slot(i);
    if (!source) {
      TStringItem* mine = Slot(i);
      SetSlot(i, nullptr);
      FreeObj(mine);
      continue;
    }
    GetItem(i)->Assign(source);
  }
  if (FSorted) Sort();
}

void TStringList::AssignStrings(IStrings* source) {
  if (source == nullptr) return;
  source->AddRef();
  const int32_t n = std::max(source->GetCount(), 0);
  SetCount(n);
  for (int32_t i = 0; i < n; ++i) {
    TStringItem* item = GetItem(i);
    item->SetString(source->GetString(i));
    item->SetObject(nullptr);
  }
  source->Release();
  if (FSorted) Sort();
}

void TStringList::AddList(TStringList* other) {
  if (other == nullptr) return;
  const int32_t n = other->GetCount();  // a list added to itself adds its items once
  for (int32_t i = 0; i < n; ++i) {
    TStringItem* item = NewItem();
    TStringItem* source = other->Slot(i);
    if (source) item->Assign(source);
    if (FItems->Add(static_cast<TRefObject*>(item)) < 0) {
      item->Free();
      break;
    }
  }
  if (FSorted) Sort();
}

void TStringList::AddStrings(IStrings* source) {
  if (source == nullptr) return;
  source->AddRef();
  const int32_t n = source->GetCount();
  for (int32_t i = 0; i < n; ++i) {
    TStringItem* item = NewItem();
    item->SetString(source->GetString(i));
    if (FItems->Add(static_cast<TRefObject*>(item)) < 0) {
      item->Free();
      break;
    }
  }
  source->Release();
  if (FSorted) Sort();
}

int32_t TStringList::Add(const std::u16string& text) { return AddObject(text, nullptr); }

int32_t TStringList::AddObject(const std::u16string& text, TRefObject* obj) {
  TStringItem* item = NewItem();
  item->SetString(text);
  item->SetObject(obj);
  int32_t index;
  if (FSorted) {
    Find(text, index);
    if (!FItems->Insert(index, static_cast<TRefObject*>(item))) index = -1;
  } else {
    index = FItems->Add(static_cast<TRefObject*>(item));
  }
  if (index < 0) item->Free();
  return index;
}

bool TStringList::Insert(int32_t index, const std::u16string& text) {
  if (index < 0 || index > GetCount()) return false;
  TStringItem* item = NewItem();
  item->SetString(text);
  if (!FItems->Insert(index, static_cast<TRefObject*>(item))) {
    item->Free();
    return false;
  }
  if (FSorted) Sort();
  return true;
}

TRefObject* TStringList::Extract(int32_t index) {
  if (index < 0 || index >= GetCount()) return nullptr;
  TStringItem* item = Slot(index);
  FItems->Delete(index);
  if (!item) return nullptr;
  TRefObject* obj = item->Obj;
  item->Free();
  return obj;
}

void TStringList::Delete(int32_t index) { Extract(index); }

int32_t TStringList::IndexOf(const std::u16string& text) {
  if (FSorted) {
    int32_t index;
    return Find(text, index) ? index : -1;
  }
  const int32_t n = GetCount();
  for (int32_t i = 0; i < n; ++i) {
    TStringItem* item = Slot(i);
    if (item ? SameString(item->Text, text) : text.empty()) return i;
  }
  return -1;
}

bool TStringList::Find(const std::u16string& key, int32_t& index) {
  return TSorter::Find(const_cast<std::u16string*>(&key), index);
}

bool TStringList::FindRange(const std::u16string& key, int32_t lo, int32_t hi, int32_t& index) {
  lo = std::max(lo, 0);
  hi = std::min(hi, GetCount() - 1);
  return TSorter::FindRange(const_cast<std::u16string*>(&key), lo, hi, index);
}

void TStringList::SetSorted(bool sorted) {
  if (sorted == FSorted) return;
  FSorted = sorted;
  if (sorted) Sort();
}

void TStringList::SetCaseInsensitive(bool caseInsensitive) {
  if (caseInsensitive == FCaseInsensitive) return;
  FCaseInsensitive = caseInsensitive;
  if (FSorted) Sort();
}

// ---- holders -------------------------------------------------------------

namespace {

TStringList* HolderList(void* holder) {
  if (holder == nullptr) return nullptr;
  TStringList* list;
  std::memcpy(&list, holder, sizeof list);
  return list;
}

}  // namespace

void ClearStringsTarget(void* holder) {
  if (TStringList* list = HolderList(holder)) list->Clear();
}

void AddToStringsTarget(void* holder, const std::u16string& text) {
  if (TStringList* list = HolderList(holder)) list->Add(text);
}

}  // namespace foundation
