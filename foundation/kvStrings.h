// TStringList: a list of UTF-16 strings, each with an attached object
// reference, optionally sorted and optionally compared without regard to case
// (simple case folding). Bad indexes are reported by results (nil, empty text,
// False, -1), never raised. Not locked: a shared list is guarded by its owner.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/SysObj.h"
#include "foundation/kvLists.h"
#include "foundation/kvSort.h"

namespace foundation {

// Any list of strings that a TStringList can be filled from.
class IStrings : public IUnknown {
 public:
  virtual int32_t GetCount() = 0;
  virtual void SetCount(int32_t n) = 0;
  virtual void Clear() = 0;
  virtual int32_t Add(const std::u16string& text) = 0;
  virtual bool Insert(int32_t index, const std::u16string& text) = 0;
  virtual void Delete(int32_t index) = 0;
  virtual void AssignStrings(IStrings* source) = 0;
  virtual std::u16string GetString(int32_t index) = 0;
  virtual void SetString(int32_t index, const std::u16string& text) = 0;

 protected:
  ~IStrings() = default;
};

class TStringItem : public TRefObject {
 public:
  QEL_CLASSNAME(TStringItem)
  TStringItem() = default;

  virtual void SetString(const std::u16string& text) { Text = text; }
  virtual void SetObject(TRefObject* obj) { Obj = obj; }
  // Copies text and object reference.
  virtual void Assign(const TStringItem* other);

  std::u16string Text;
  TRefObject* Obj = nullptr;  // not owned
};

class TStringList : public TSorter, public IStrings {
 public:
  QEL_CLASSNAME(TStringList)
  // Unsorted and case-sensitive.
  TStringList();
  void Dispose() override;

  // TSorter: nil slots sort first; texts by CompareStrings.
  int32_t GetCount() override;
  int32_t Compare(int32_t i, int32_t j) override;
  // key is a const std::u16string*.
  int32_t CompareKey(void* key, int32_t j) override;
  void Exchange(int32_t i, int32_t j) override;
  void Sort() override;
  void SortRange(int32_t lo, int32_t hi) override;

  virtual TStringItem* NewItem();
  virtual bool SameString(const std::u16string& a, const std::u16string& b);
  // Case-insensitive: the folded comparison; else ordinal -1, 0 or 1.
  virtual int32_t CompareStrings(const std::u16string& a, const std::u16string& b);
  // Frees the items above n (from the top); new slots are nil.
  void SetCount(int32_t n) override;
  // The item; a nil slot inside the range gets a new item; nil outside.
  virtual TStringItem* GetItem(int32_t index);
  std::u16string GetString(int32_t index) override;
  void SetString(int32_t index, const std::u16string& text) override;
  // Releases every item; the attached objects are untouched.
  void Clear() override;
  // With the flag, first detaches and releases every attached object.
  virtual void ClearWithObjects(bool alsoObjects);
  virtual void Assign(TStringList* other);
  void AssignStrings(IStrings* source) override;
  virtual void AddList(TStringList* other);
  virtual void AddStrings(IStrings* source);
  int32_t Add(const std::u16string& text) override;
  virtual int32_t AddObject(const std::u16string& text, TRefObject* obj);
  bool Insert(int32_t index, const std::u16string& text) override;
  void Delete(int32_t index) override;
  // Removes the slot and frees the item; its object reference (nil when none).
  virtual TRefObject* Extract(int32_t index);
  virtual int32_t IndexOf(const std::u16string& text);
  // The sorter's own searches by key pointer stay reachable.
  using TSorter::Find;
  using TSorter::FindRange;
  virtual bool Find(const std::u16string& key, int32_t& index);
  virtual bool FindRange(const std::u16string& key, int32_t lo, int32_t hi, int32_t& index);

  TRefObject* GetObject(int32_t index);
  bool Sorted() const { return FSorted; }
  void SetSorted(bool sorted);
  bool CaseInsensitive() const { return FCaseInsensitive; }
  void SetCaseInsensitive(bool caseInsensitive);
  TList* Items() const { return FItems; }
  IStrings* AsIStrings() { return this; }

  // The interface entries map onto the object's own count.
  int32_t QueryInterface(const TGUID& iid, void** obj) override { return TRefObject::QueryInterface(iid, obj); }
  uint32_t AddRef() override { return TRefObject::AddRef(); }
  uint32_t Release() override { return TRefObject::Release(); }

 private:
  TStringItem* Slot(int32_t index) const;
  void SetSlot(int32_t index, TStringItem* item);

  TList* FItems = nullptr;
  bool FCaseInsensitive = false;
  bool FSorted = false;
};

// Clear or Add on the string list that holder keeps as its first field (a
// TStringList*; a nil list is left alone).
void ClearStringsTarget(void* holder);
void AddToStringsTarget(void* holder, const std::u16string& text);

}  // namespace foundation
