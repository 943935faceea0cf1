#include "foundation/kvByteStringLists.h"

#include <algorithm>
#include <climits>

#include "foundation/kpExceptions.h"

namespace foundation {

namespace {

constexpr uint32_t PackedFlag = 0x80000000u;
constexpr int PackedMax = 5;
constexpr int PackedPositionLimit = 62;  // position + 1 must fit 6 bits

inline bool IsLineBreak(uint8_t b) { return b == 13 || b == 10; }

int LineLength(const TByteString& text, int start) {
  const int len = text.GetLength();
  int p = start;
  while (p < len && !IsLineBreak(text.GetByte(p))) ++p;
  return p - start;
}

}  // namespace

int CommaListPackedCount(uint32_t field) {
  int n = 0;
  for (int k = 0; k < PackedMax; ++k)
    if ((field >> (6 * k)) & 0x3F) ++n;
  return n;
}

// ---- TCommaList ----------------------------------------------------------

void TCommaList::Reset(const TByteString& text) {
  Text = text;
  Separators = 0;
  Positions.clear();
}

void TCommaList::Split(const TByteString& text, uint8_t separator) { SplitFrom(text, -1, separator); }

void TCommaList::SplitFrom(const TByteString& text, int start, uint8_t separator) {
  Reset(text);
  const int len = Text.GetLength();
  if (start >= len) return;
  int p = 0;
  if (start >= 0) {
    AddSeparator(start);
    p = start + 1;
  }
  const uint8_t* data = Text.Data();
  for (; p < len; ++p)
    if (data[p] == separator) AddSeparator(p);
}

void TCommaList::SplitUnicode(const std::u16string& text, uint8_t separator) {
  Split(TByteString::FromUnicode(text), separator);
}

void TCommaList::AddSeparator(int position) {
  if (Separators > 0) {
    if (static_cast<size_t>(Separators) >= Positions.size()) Positions.resize(Positions.size() * 2);
    Positions[static_cast<size_t>(Separators)] = position;
    ++Separators;
    return;
  }
  const uint32_t field = static_cast<uint32_t>(Separators);
  const int n = CommaListPackedCount(field);
  if (n == PackedMax || position < 0 || position > PackedPositionLimit) {
    Positions.assign(8, 0);
    for (int k = 0; k < n; ++k) Positions[static_cast<size_t>(k)] = static_cast<int32_t>((field >> (6 * k)) & 0x3F) - 1;
    Positions[static_cast<size_t>(n)] = position;
    Separators = n + 1;
    return;
  }
  Separators = static_cast<int32_t>(field | (static_cast<uint32_t>(position + 1) << (6 * n)) | PackedFlag);
}

int TCommaList::GetSeparatorCount() const {
  return Separators > 0 ? Separators : CommaListPackedCount(static_cast<uint32_t>(Separators));
}

int TCommaList::GetCount() const { return Text.IsEmpty() ? 0 : GetSeparatorCount() + 1; }

int TCommaList::GetSeparator(int i) const {
  if (i < 0 || i >= GetSeparatorCount()) return -1;
  if (Separators > 0) return Positions[static_cast<size_t>(i)];
  return static_cast<int>((static_cast<uint32_t>(Separators) >> (6 * i)) & 0x3F) - 1;
}

bool TCommaList::GetItemRange(int i, int& start, int& length) const {
  const int separators = GetSeparatorCount();
  if (Text.IsEmpty() || i < 0 || i > separators) {
    start = i < 0 ? 0 : Text.GetLength();
    length = 0;
    return false;
  }
  start = i == 0 ? 0 : GetSeparator(i - 1) + 1;
  const int end = i == separators ? Text.GetLength() : GetSeparator(i);
  length = std::max(end - start, 0);
  return length > 0;
}

std::u16string TCommaList::GetString(int i) const {
  int start, length;
  if (!GetItemRange(i, start, length)) return std::u16string();
  return Text.ToUnicode(start, length);
}

TByteString TCommaList::GetByteString(int i) const {
  int start, length;
  if (!GetItemRange(i, start, length)) return EmptyByteString;
  return TByteString::FromShared(Text.SubString(start, length));
}

int32_t TCommaList::GetInt(int i, int32_t def) const {
  int start, length;
  if (!GetItemRange(i, start, length)) return def;
  return Text.ToIntDef(def, start, length);
}

double TCommaList::GetFloat(int i, double def) const {
  int start, length;
  if (!GetItemRange(i, start, length)) return def;
  return Text.ToFloatDef(def, start, length);
}

// ---- TByteStringList ---------------------------------------------------------

int TByteStringList::AddSlot() {
  if (static_cast<size_t>(Count) >= Items.size()) Items.resize(Items.empty() ? 16 : Items.size() * 2);
  Items[static_cast<size_t>(Count)] = TByteString();
  return Count++;
}

int TByteStringList::Add(const TByteString& text) {
  const int i = AddSlot();
  Items[static_cast<size_t>(i)] = text;
  return i;
}

const TByteString& TByteStringList::Get(int i) const {
  if (i < 0 || i >= Count) return EmptyByteString;
  return Items[static_cast<size_t>(i)];
}

void TByteStringList::Set(int i, const TByteString& text) {
  if (i >= 0 && i < Count) Items[static_cast<size_t>(i)] = text;
}

void TByteStringList::SetCount(int n) {
  n = std::max(n, 0);
  while (Count > n) Items[static_cast<size_t>(--Count)] = TByteString();
  while (Count < n) AddSlot();
}

// ---- TPListParser ------------------------------------------------------------

void TPListParser::AddKey(const std::u16string& name, int slot) {
  const int index = Keys.GetCount();
  const int previous = index == 0 ? -1 : (Slots.empty() ? index - 1 : Slots[static_cast<size_t>(index - 1)]);
  QEL_ASSERT(slot > previous, "");
  Keys.Add(TByteString::FromUnicode(name));
  if (Slots.empty() && slot == index) return;
  if (Slots.size() < Keys.Items.size()) {
    const size_t had = Slots.size();
    Slots.resize(Keys.Items.size());
    // Keys declared before the array existed use their index as slot.
    if (had == 0)
      for (int k = 0; k < index; ++k) Slots[static_cast<size_t>(k)] = k;
  }
  Slots[static_cast<size_t>(index)] = slot;
}

int TPListParser::SlotCount() const {
  const int keys = Keys.GetCount();
  if (keys == 0) return 0;
  return Slots.empty() ? keys : Slots[static_cast<size_t>(keys - 1)] + 1;
}

int TPListParser::Parse(TByteStringList& values, const TByteString& text, uint8_t assign,
                        uint8_t separator) const {
  const int d = SlotCount();
  for (int i = 0; i < values.Count; ++i) values.Items[static_cast<size_t>(i)] = EmptyByteString;
  values.SetCount(d);

  const int len = text.GetLength();
  const int keys = Keys.GetCount();
  int f = 0, m = 0, n = 0;
  while (f < len) {
    while (f < len && text.GetByte(f) <= 0x20) ++f;
    int a = f;
    while (a < len && text.GetByte(a) != assign) ++a;
    if (a >= len) return ~f;
    int keyEnd = a;
    while (keyEnd > f && text.GetByte(keyEnd - 1) < 0x21) --keyEnd;
    int k = m;
    while (k < keys && Keys.Get(k).CompareTextSub(text, f, keyEnd - f) != 0) ++k;
    if (k >= keys) return ~f;
    m = k;
    int v = a + 1;
    while (v < len && text.GetByte(v) <= 0x20) ++v;
    int sep = v;
    while (sep < len && text.GetByte(sep) != separator) ++sep;
    int valueEnd = sep;
    while (valueEnd > v && text.GetByte(valueEnd - 1) < 0x21) --valueEnd;
    if (valueEnd > v) {
      const int slot = Slots.empty() ? k : Slots[static_cast<size_t>(k)];
      values.Set(slot, TByteString::FromShared(text.SubString(v, valueEnd - v)));
    }
    ++n;
    f = sep < len ? sep + 1 : len;
  }
  return n;
}

// ---- Lines -------------------------------------------------------------------

bool ByteStringFirstLine(const TByteString& text, int start, int& length) {
  if (start < 0 || start >= text.GetLength()) {
    length = 0;
    return false;
  }
  length = LineLength(text, start);
  return true;
}

bool ByteStringNextLine(const TByteString& text, int& start, int& length) {
  const int len = text.GetLength();
  QEL_ASSERT(start >= 0 && length >= 0 && length <= len - start, "");
  int p = start + length;
  QEL_ASSERT(p == len || IsLineBreak(text.GetByte(p)), "");
  if (p == len) {
    start = p;
    length = 0;
    return false;
  }
  const uint8_t b = text.GetByte(p++);
  if (p < len && IsLineBreak(text.GetByte(p)) && text.GetByte(p) != b) ++p;
  start = p;
  length = LineLength(text, p);
  return true;
}

}  // namespace foundation
