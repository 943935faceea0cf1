// Lists over byte strings: the comma list that splits a text at a separator
// byte without copying it, a growable array of byte strings, the parser of
// "key=value; key=value" records with declared keys, and line stepping.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/kvByteString.h"

namespace foundation {

using TIntegerDynArray = std::vector<int32_t>;
using TByteStringArray = std::vector<TByteString>;

// Number of non-zero 6-bit fields among the lowest five of a packed field.
int CommaListPackedCount(uint32_t field);

// The separator positions of a text. Up to five positions below 63 are packed
// into the separator field (position + 1 per 6-bit field, top bit set);
// beyond that the field holds the count and the positions live in an array.
// Item 0 runs from the start to the first separator, item i from after
// separator i-1 to separator i, the last item to the end of the text.
struct TCommaList {
  TByteString Text;
  int32_t Separators = 0;  // 0, packed (negative) or the array count (positive)
  TIntegerDynArray Positions;

  void Split(const TByteString& text, uint8_t separator);
  // As Split, with position start itself counting as a separator (a negative
  // start means none; a start at or past the end records nothing).
  void SplitFrom(const TByteString& text, int start, uint8_t separator);
  void SplitUnicode(const std::u16string& text, uint8_t separator);
  void AddSeparator(int position);

  int GetSeparatorCount() const;
  // Separators + 1; 0 for an empty text.
  int GetCount() const;
  // Position of separator i, -1 when there is none.
  int GetSeparator(int i) const;
  // The item's byte range; True when the item is not empty.
  bool GetItemRange(int i, int& start, int& length) const;
  std::u16string GetString(int i) const;
  // EmptyByteString when the item is empty or missing.
  TByteString GetByteString(int i) const;
  int32_t GetInt(int i, int32_t def) const;
  double GetFloat(int i, double def) const;

 private:
  void Reset(const TByteString& text);
};

// A growable array of byte strings (capacity 16 at first, then doubling).
struct TByteStringList {
  TByteStringArray Items;  // its size is the capacity
  int32_t Count = 0;

  int GetCount() const { return Count; }
  // Appends an empty slot; its index.
  int AddSlot();
  int Add(const TByteString& text);
  // The entry; EmptyByteString outside 0..Count-1.
  const TByteString& Get(int i) const;
  // Replaces an entry inside 0..Count-1 (others are ignored).
  void Set(int i, const TByteString& text);
  // Cuts or grows to n entries; new entries are empty.
  void SetCount(int n);
};

// Parses records "key<assign>value" separated by a separator byte, against
// keys declared in order, each with a value slot.
struct TPListParser {
  TByteStringList Keys;   // UTF-8 key names
  TIntegerDynArray Slots;  // without it, key k uses slot k

  // Declares the next key. Slots must rise strictly (assertion otherwise).
  void AddKey(const std::u16string& name, int slot);
  // The number of value slots.
  int SlotCount() const;
  // Fills values (exactly SlotCount() entries, empty where not given) from
  // text. Answers the number of records read, or not(position) of the first
  // record without an assign byte or with a key that is not declared (at or
  // after the previous key).
  int Parse(TByteStringList& values, const TByteString& text, uint8_t assign, uint8_t separator) const;
};

// The length of the line at start, up to CR or LF; False (length 0) when
// start is at or past the end.
bool ByteStringFirstLine(const TByteString& text, int start, int& length);
// Steps past the line (start, length) and one line break (CR LF and LF CR are
// one break, CR CR and LF LF two) and measures the next line. False when no
// break follows the line (start then at its end, length 0).
bool ByteStringNextLine(const TByteString& text, int& start, int& length);

}  // namespace foundation
