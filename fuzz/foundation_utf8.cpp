// Feeds arbitrary bytes to the UTF-8 readers and the byte-string parsers and
// checks what must hold for any input: no read outside the range, decoded
// text re-encodes to bytes that decode to the same text, a text compares equal
// to itself, and equal texts hash alike.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/kvByteString.h"
#include "foundation/kvByteStringLists.h"
#include "foundation/kvByteStringUtils.h"
#include "foundation/kvCaseFolding.h"
#include "foundation/kvUTF8.h"
#include "fuzz/FuzzSupport.h"

using namespace foundation;

using fuzzing::Check;

QEL_FUZZ_TARGET(data, size) {
  // Copy into a buffer of exactly the input's size, so any overread is seen.
  const TByteDynArray bytes(data, data + size);
  const int n = static_cast<int>(size);

  int pos = 0, units = 0;
  const int kind = ScanUTF8(bytes.data(), bytes.size(), pos, units, n);
  Check(kind >= utf8Empty && kind <= utf8Truncated && pos >= 0 && pos <= n);

  std::u16string text;
  const bool ok = UTF8BytesToUnicode(bytes.data(), bytes.size(), 0, n, text);
  Check(ok == (kind <= utf8Valid));
  if (ok) {
    Check(static_cast<int>(text.size()) == units);
    const std::string again = UnicodeToUTF8(text);
    Check(UTF8ToUnicode(again) == text);
    // Standard and surrogate-half forms of one text compare equal and hash alike.
    const TByteString original = TByteString::FromShared(TByteString::FromBytes(
        std::string_view(reinterpret_cast<const char*>(data), size)).Bytes());
    const TByteString reencoded = TByteString::FromBytes(again);
    Check(original.CompareTextSub(reencoded) == 0);
    Check(original.CompareStr(text) == 0);
    Check(original.CompareText(FoldCase(text)) == 0);
    Check(original.HashRange() == reencoded.HashRange());
    Check(original.HashTextRange() == HashUnicodeNoCase(text, 1, static_cast<int>(text.size())));
  }

  // Stepping by code point always moves forward and ends.
  size_t p = 0;
  while (p < bytes.size()) {
    const size_t before = p;
    Utf8NextCodePoint(bytes.data(), bytes.size(), p);
    Check(p > before);
  }

  const TByteString t = TByteString::FromBytes(std::string_view(reinterpret_cast<const char*>(data), size));
  Check(t.CompareTextSub(t) == 0);
  Check(t.HashTextRange() == t.HashTextRange(0, n));
  (void)t.ToUnicode();
  (void)t.ToIntDef(0);
  (void)t.ToInt64Def(0);
  (void)t.ToFloatDef(0);
  (void)t.HexToIntDef(0);
  (void)t.ToBoolFlag(0, n);
  for (int start = -1; start <= n && start < 8; ++start) {
    (void)t.ToIntDef(1, start, n);
    (void)t.ToFloatDef(1, start, n - start);
    (void)t.ToUnicode(start, n);
  }

  // Comma lists: the items and separators cover the text exactly.
  TCommaList list;
  list.Split(t, ',');
  int covered = list.GetCount() > 0 ? list.GetCount() - 1 : 0;
  for (int i = 0; i < list.GetCount(); ++i) {
    int start = 0, length = 0;
    list.GetItemRange(i, start, length);
    Check(start >= 0 && length >= 0 && start + length <= n);
    covered += length;
    (void)list.GetInt(i, 0);
    (void)list.GetFloat(i, 0);
    (void)list.GetString(i);
  }
  Check(covered == n);

  // The key-value parser reads or rejects, and always sizes the values.
  TPListParser parser;
  parser.AddKey(u"name", 0);
  parser.AddKey(u"id", 2);
  parser.AddKey(u"type", 3);
  TByteStringList values;
  const int read = parser.Parse(values, t, '=', ';');
  Check(values.GetCount() == 4 && (read >= 0 || ~read <= n));

  // Line stepping visits each byte at most once and ends.
  int start = 0, length = 0, lines = 0;
  if (ByteStringFirstLine(t, 0, length)) {
    do ++lines;
    while (ByteStringNextLine(t, start, length));
  }
  Check(lines <= n + 1);
  return 0;
}
