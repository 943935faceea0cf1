// The object model of every configuration text: a tree that keeps each line
// (keys, comments, blank lines, sections and nested object blocks) in file
// order, queried by name through hashed lookups and written back unchanged.
//
// Lookups and getters accept a missing node (the result of a failed lookup)
// and answer their default; they are static members taking the node first,
// so that chains such as
//   TIniItem::GetInteger(TIniList::FindKey(TIniFile::FindSection(ini, u"main"), u"opt_x"), 0)
// never call through a null pointer.
//
// Ownership: a list owns one reference to each child. Insert and Add take
// over the caller's reference; Extract hands the list's reference back.
#pragma once

#include <bit>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvByteString.h"
#include "foundation/kvByteStringLists.h"
#include "foundation/kvTextSaver.h"

namespace foundation {

class TIniList;
class TIniObject;
class TIniSection;
class TIniFile;
class TIniItem;

// A line of a loaded text inside a nested block, kept as ranges of the text
// until a node is asked for. End > 0 marks an object block: its lines follow
// it up to End (exclusive); 0 a key or raw line (a raw line has no name).
struct TIniRecord {
  int32_t NameStart = 0;
  int32_t NameLength = 0;
  int32_t ValueStart = 0;
  int32_t ValueLength = 0;
  int32_t End = 0;
};

// The records of one text, in chunks that double in size: appending never
// moves the records made before, and a text of a million lines takes about
// twenty allocations. Trim gives the unused end of the last chunk back.
// Records are reached through their index only.
class TIniRecords {
 public:
  TIniRecords() = default;
  TIniRecords(const TIniRecords&) = delete;
  TIniRecords& operator=(const TIniRecords&) = delete;
  ~TIniRecords();
  size_t size() const { return size_; }
  const TIniRecord& operator[](size_t i) const {
    const size_t j = i + kFirst;
    const int k = std::bit_width(j) - kFirstBits - 1;
    return chunks_[static_cast<size_t>(k)][j - (size_t(1) << (k + kFirstBits))];
  }
  TIniRecord& operator[](size_t i) { return const_cast<TIniRecord&>(std::as_const(*this)[i]); }
  void push_back(const TIniRecord& r) {
    if (next_ == end_) Grow();
    *next_++ = r;
    ++size_;
  }
  // After the last record; nothing may be appended afterwards.
  void Trim();

 private:
  static constexpr int kFirstBits = 4;
  static constexpr size_t kFirst = size_t(1) << kFirstBits;
  void Grow();
  std::vector<TIniRecord*> chunks_;
  TIniRecord* next_ = nullptr;
  TIniRecord* end_ = nullptr;
  size_t size_ = 0;
  bool trimmed_ = false;
};

// The text of one load and the records of its nested blocks, in text order;
// shared by every list that still holds lines of it without nodes.
struct TIniText {
  TSharedBytes Bytes;
  TIniRecords Lines;
  std::string_view Slice(int32_t start, int32_t length) const {
    return length ? std::string_view(reinterpret_cast<const char*>(Bytes->data()) + start, size_t(length))
                  : std::string_view();
  }
};

// One child of a list: a node, or a line of the list's text that has no node
// yet (a key or raw line by its ranges, or an object block by its record).
// A loaded tree makes nodes only for sections; every other line becomes a
// node when the interface hands it out, and stays one.
class TIniEntry {
 public:
  static TIniEntry OfNode(TIniItem* node) {
    TIniEntry e;
    e.node_ = node;
    e.tag_ = kNode;
    return e;
  }
  static TIniEntry OfBlock(int32_t record) {
    TIniEntry e;
    e.range_[0] = record;
    e.tag_ = kBlock;
    return e;
  }
  static TIniEntry OfLine(int32_t nameStart, int32_t nameLength, int32_t valueStart, int32_t valueLength) {
    TIniEntry e;
    e.range_[0] = nameStart;
    e.range_[1] = nameLength;
    e.valueStart_ = valueStart;
    e.tag_ = valueLength;
    return e;
  }
  bool IsNode() const { return tag_ == kNode; }
  bool IsBlock() const { return tag_ == kBlock; }
  bool IsLine() const { return tag_ >= 0; }
  TIniItem* Node() const { return node_; }
  int32_t Record() const { return range_[0]; }
  int32_t NameStart() const { return range_[0]; }
  int32_t NameLength() const { return range_[1]; }
  int32_t ValueStart() const { return valueStart_; }
  int32_t ValueLength() const { return tag_; }

 private:
  static constexpr int32_t kNode = -1;
  static constexpr int32_t kBlock = -2;
  union {
    TIniItem* node_ = nullptr;
    int32_t range_[2];
  };
  int32_t valueStart_ = 0;
  int32_t tag_ = kNode;  // >= 0: a line, and the length of its value
};
static_assert(sizeof(TIniEntry) == 16);

// A name or value: bytes inside the storage of the node that holds it
// (packed: a node holds two).
#pragma pack(push, 4)
struct TIniSlice {
  const uint8_t* P = nullptr;
  int32_t N = 0;
  std::string_view View() const {
    return N ? std::string_view(reinterpret_cast<const char*>(P), size_t(N)) : std::string_view();
  }
};
#pragma pack(pop)
static_assert(sizeof(TIniSlice) == 12);

// One line: a key (name and value), or a raw line (comment, unparsed text,
// blank line) held in the value with an empty name.
//
// A node's name and value are slices of one shared byte array: for a loaded
// tree, the text it was parsed from (kept once, shared by every node parsed
// from it), otherwise an array of the node's own; so loading a text makes one
// allocation per node and none per name or value.
class TIniItem : public TTextWriter {
 public:
  QEL_CLASSNAME(TIniItem)
  TIniItem() = default;
  TIniItem(const TByteString& name, const TByteString& value);
  void Dispose() override;

  void WriteTo(TTextSaver* saver) override;
  virtual void WriteIndented(TTextSaver* saver, int level);
  virtual bool Contains(const TIniItem* node) const;
  virtual void NotifyAttach(bool attached);
  // A new node holding one reference for the caller.
  virtual TIniItem* Clone() const;
  virtual bool IsKey() const;

  TIniList* Parent() const { return parent_; }
  int32_t Index() const { return index_; }
  // Copies of the name and value bytes; the views below copy nothing.
  TByteString RawName() const { return TByteString::FromBytes(name_.View()); }
  TByteString RawValue() const { return TByteString::FromBytes(value_.View()); }
  std::string_view NameView() const { return name_.View(); }
  std::string_view ValueView() const { return value_.View(); }
  // Name and value as ranges of a parsed text the node then shares (how the
  // parser fills nodes without copying).
  void SetTextSlices(const TSharedBytes& text, int32_t nameStart, int32_t nameLength, int32_t valueStart,
                     int32_t valueLength);

  // Null-safe accessors: a missing item gives the default or an empty text,
  // and setters on a missing item do nothing.
  static std::u16string GetName(const TIniItem* item);
  static void SetName(TIniItem* item, std::u16string_view name);
  static TByteString GetRawName(const TIniItem* item);
  static void SetRawName(TIniItem* item, const TByteString& name);
  static std::u16string GetValue(const TIniItem* item);
  static void SetValue(TIniItem* item, std::u16string_view value);
  static TByteString GetRawValue(const TIniItem* item);
  static void SetRawValue(TIniItem* item, const TByteString& value);
  static int32_t GetInteger(const TIniItem* item, int32_t def);
  static int64_t GetInt64(const TIniItem* item, int64_t def);
  static double GetFloat(const TIniItem* item, double def);
  // Exactly "1" is true and exactly "0" false; anything else gives the default.
  static bool GetBool(const TIniItem* item, bool def);
  static void SetInteger(TIniItem* item, int32_t value);
  static void SetInt64(TIniItem* item, int64_t value);
  // Fixed point with 16 decimals, trailing zeros and a trailing "." removed.
  static void SetFloat(TIniItem* item, double value);
  static void SetBool(TIniItem* item, bool value);
  static TCommaList GetValueList(const TIniItem* item, uint8_t separator);
  static int32_t GetValueIndex(const TIniItem* item, std::span<const std::u16string_view> names, bool ignoreCase,
                               int32_t def);

  // Takes the item out of its parent (the parent's reference goes with it).
  void Detach();

 private:
  friend class TIniList;
  friend class TIniObject;
  friend class TIniSection;
  friend class TIniFile;
  friend class TObjectList;
  void Rename(const TByteString& name);
  // Copies both into a new array of the node's own.
  void SetText(std::string_view name, std::string_view value);
  void SetValueBytes(const TByteString& value);
  void CopyTextFrom(const TIniItem& other);

  TIniList* parent_ = nullptr;
  TSharedBytes store_;  // keeps the bytes of name_ and value_
  int32_t index_ = 0;
  TIniSlice name_;
  TIniSlice value_;
};

// The child objects of one list, ordered by their child index.
class TObjectList : public TRefObject {
 public:
  QEL_CLASSNAME(TObjectList)
  int32_t GetCount() const { return static_cast<int32_t>(entries_.size()); }
  // nullptr out of range.
  TIniList* GetObject(int32_t index) const;

 private:
  friend class TIniList;
  friend class TIniObject;
  friend class TIniSection;
  friend class TIniFile;
  void Attach(TIniList* node, int32_t& ownPosition);
  void Detach(TIniList* node, int32_t ownPosition, const char* mismatch);
  std::vector<TIniList*> entries_;
};

// The sections of one root, in child order.
class TSectionList : public TObjectList {
 public:
  QEL_CLASSNAME(TSectionList)
  TIniSection* GetSection(int32_t index) const;
};

// An item with ordered children and a case-insensitive name hash in which
// the child that stands last wins.
class TIniList : public TIniItem {
 public:
  QEL_CLASSNAME(TIniList)
  TIniList() = default;
  void Dispose() override;

  void WriteIndented(TTextSaver* saver, int level) override;
  bool Contains(const TIniItem* node) const override;
  TIniItem* Clone() const override;
  bool IsKey() const override { return false; }
  // A new, empty list of the same class, holding one reference for the caller.
  virtual TIniList* NewEmpty() const;
  // Drops every child; children referenced elsewhere survive, detached.
  virtual void Clear();
  // Replaces the children by those of a list, or by the parsed text of any
  // other writer.
  virtual void Assign(TTextWriter* source);

  int32_t GetCount() const { return static_cast<int32_t>(children_.size()); }
  TIniItem* GetChild(int32_t index) const;
  int32_t KeyInsertPosition() const { return keyInsertPos_; }
  // Made when first asked for (a loaded tree does not build the lists of its
  // nested objects until something walks them).
  TObjectList* GetObjectList() const;

  // Index of the new child, or -1 when refused.
  int32_t Add(TIniItem* node);
  // Refused (false) for a missing node, a bad index, or a node that contains
  // this list.
  bool Insert(int32_t index, TIniItem* node);
  // The child with the list's reference, or nullptr for a bad index.
  TIniItem* Extract(int32_t index);
  // Appends clones of every child of source, in order.
  void CopyChildren(const TIniList* source);

  static TIniItem* FindKey(const TIniList* list, std::u16string_view name);
  static TIniItem* FindKeyRaw(const TIniList* list, const TByteString& bytes, int32_t start, int32_t count);
  static TIniItem* FindKeyIndexed(const TIniList* list, std::u16string_view prefix, int32_t number);
  template <class T>
  static T* FindNode(const TIniList* list, std::u16string_view name) {
    return static_cast<T*>(FindFiltered(list, name, &IsA<T>));
  }
  template <class T>
  static T* FindNodeRange(const TIniList* list, std::u16string_view s, int32_t start, int32_t count) {
    return static_cast<T*>(FindFilteredRange(list, s, start, count, &IsA<T>));
  }
  template <class T>
  static T* FindNodeRaw(const TIniList* list, const TByteString& bytes, int32_t start, int32_t count) {
    return static_cast<T*>(FindFilteredRaw(list, bytes, start, count, &IsA<T>));
  }
  static TIniObject* FindObject(const TIniList* list, std::u16string_view name);
  static TIniObject* FindObjectOfType(const TIniList* list, std::u16string_view name, std::u16string_view type);
  static TIniObject* FirstObject(const TIniList* list);
  static TIniObject* NextObject(const TIniList* list, const TIniObject* object);
  static TIniItem* ForceKey(TIniList* list, std::u16string_view name);
  static TIniItem* ForceKeyRaw(TIniList* list, const TByteString& bytes, int32_t start, int32_t count);
  static TIniItem* ForceKeyIndexed(TIniList* list, std::u16string_view prefix, int32_t number);
  static TIniItem* FindPath(TIniList* list, std::u16string_view path, char16_t separator, bool create);
  static TIniItem* ForcePath(TIniList* list, std::u16string_view path);
  static std::u16string ReadString(const TIniList* list, std::u16string_view key, std::u16string_view def);
  static bool ReadBool(const TIniList* list, std::u16string_view key, bool def);
  static void WriteString(TIniList* list, std::u16string_view key, std::u16string_view value);

 protected:
  // Filters see a child as its node or, for a line without one, as the
  // class its node would have (a plain item, or an object for a block).
  using Filter = bool (*)(const TIniEntry&);
  template <class T>
  static bool IsA(const TIniEntry& entry) {
    if (entry.IsNode()) return dynamic_cast<const T*>(entry.Node()) != nullptr;
    if (entry.IsBlock()) return std::is_base_of_v<T, TIniObject>;
    return std::is_base_of_v<T, TIniItem>;
  }
  static bool IsKeyFilter(const TIniEntry& entry);
  static bool IsPlainItem(const TIniEntry& entry);
  static TIniItem* FindFiltered(const TIniList* list, std::u16string_view name, Filter filter);
  static TIniItem* FindFilteredRange(const TIniList* list, std::u16string_view s, int32_t start, int32_t count,
                                     Filter filter);
  static TIniItem* FindFilteredRaw(const TIniList* list, const TByteString& bytes, int32_t start, int32_t count,
                                   Filter filter);
  static TIniItem* FindIndexed(const TIniList* list, std::u16string_view prefix, int32_t number, Filter filter);
  TIniItem* InsertNewKey(const TByteString& name);
  // The children and the list state, shared with the objects and sections
  // that keep their positions in the lists above them.
  int32_t ownPosition_ = 0;

 private:
  friend class TIniItem;
  friend class TObjectList;
  friend class TIniObject;
  friend class TIniSection;
  friend class TIniFile;
  friend struct TIniListAccess;
  // One slot of the name hash: a child's index and its name's hash.
  struct THashSlot {
    int32_t Index;
    uint32_t Hash;
  };
  // The slot table (a power of two, at most half full), built at the first
  // lookup; its size.
  uint32_t HashSize();
  // The first slot probed for a name hash: the names' hash keeps similar
  // names (numbered ones) on neighbouring values, which linear probing would
  // pile into long runs, so it is mixed first.
  static size_t Home(uint32_t hash, size_t mask) {
    uint32_t x = hash * 0x9E3779B1u;
    x ^= x >> 16;
    return x & mask;
  }
  // The object list, made from the children when there is none yet and a
  // child is an object; null when no child is.
  TObjectList* EnsureObjects() const;
  // The node of a child, made from its line when it has none yet.
  TIniItem* NodeAt(int32_t index) const;
  // Name and value bytes of a child, node or line.
  std::string_view EntryName(const TIniEntry& entry) const;
  std::string_view EntryValue(const TIniEntry& entry) const;
  // Appends a line or block of the list's text (how the parser and copies
  // fill a list without making nodes).
  void AppendEntry(const TIniEntry& entry);
  // Makes the list's lines refer to the given text: lines of another text
  // get their nodes first.
  void UseText(const std::shared_ptr<const TIniText>& text);
  // Fills an empty list with the lines of a block record of its text.
  void FillFromBlock(const std::shared_ptr<const TIniText>& text, int32_t record);
  void DropHash();
  void LinkHash(int32_t index, uint32_t hash);
  void UnlinkHash(int32_t index, uint32_t hash);
  // Moves the hashed indices at or after `from` by `delta`.
  void ShiftHash(int32_t from, int32_t delta);
  void Renumber(size_t from);
  // The index of the last child in the hash with this name hash that
  // satisfies match, or -1.
  template <class Match>
  int32_t LastHashed(uint32_t hash, Match&& match) {
    const size_t mask = HashSize() - 1;
    int32_t best = -1;
    for (size_t i = Home(hash, mask); hash_[i].Index >= 0; i = (i + 1) & mask) {
      const THashSlot slot = hash_[i];
      if (slot.Hash == hash && slot.Index > best && match(children_[static_cast<size_t>(slot.Index)]))
        best = slot.Index;
    }
    return best;
  }

  std::vector<TIniEntry> children_;
  std::vector<THashSlot> hash_;
  std::shared_ptr<const TIniText> text_;  // the text the lines refer to
  int32_t namedCount_ = 0;
  int32_t keyInsertPos_ = 0;
  TObjectList* objects_ = nullptr;
};

// A section, opened in the text by its name in square brackets; only ever a
// child of a TIniFile.
class TIniSection : public TIniList {
 public:
  QEL_CLASSNAME(TIniSection)
  // With the flag the section starts with one blank raw item, which stays
  // behind the keys and gives the empty line before the next section.
  explicit TIniSection(bool withBlankItem = false);
  void WriteIndented(TTextSaver* saver, int level) override;
  void NotifyAttach(bool attached) override;
  TIniList* NewEmpty() const override;
};

// A nested block "object <name>: <type>" closed by "end"; the name is the
// item's name and the type its value.
class TIniObject : public TIniList {
 public:
  QEL_CLASSNAME(TIniObject)
  TIniObject() = default;
  // A new object; with a parent it is inserted right after the parent's last
  // child object (or at its key insert position) and the parent owns it.
  static TIniObject* Create(TIniList* parent, std::u16string_view name, std::u16string_view type);
  void WriteIndented(TTextSaver* saver, int level) override;
  void NotifyAttach(bool attached) override;
  TIniList* NewEmpty() const override;
};

// The document root; keys and lines before the first section are its own.
class TIniFile : public TIniSection {
 public:
  QEL_CLASSNAME(TIniFile)
  TIniFile();
  void Dispose() override;
  void WriteIndented(TTextSaver* saver, int level) override;
  TIniList* NewEmpty() const override;
  void Clear() override;
  void Assign(TTextWriter* source) override;

  TSectionList* GetSectionList() const { return sections_; }
  // An empty name gives the root itself.
  static TIniSection* FindSection(const TIniFile* ini, std::u16string_view name);
  static TIniSection* ForceSection(TIniFile* ini, std::u16string_view name);

 private:
  friend class TIniSection;
  TSectionList* sections_ = nullptr;
};

// Document-level reads (over FindSection) and writes (over ForceSection).
std::u16string IniReadString(const TIniFile* ini, std::u16string_view section, std::u16string_view key,
                             std::u16string_view def);
int32_t IniReadInteger(const TIniFile* ini, std::u16string_view section, std::u16string_view key, int32_t def);
double IniReadFloat(const TIniFile* ini, std::u16string_view section, std::u16string_view key, double def);
bool IniReadBool(const TIniFile* ini, std::u16string_view section, std::u16string_view key, bool def);
void IniWriteString(TIniFile* ini, std::u16string_view section, std::u16string_view key, std::u16string_view value);
void IniWriteInteger(TIniFile* ini, std::u16string_view section, std::u16string_view key, int32_t value);

}  // namespace foundation
