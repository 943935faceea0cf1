// Small helpers of the INI units over TByteString: raw access, conversion,
// comparison and hashing of names in the forms the lookups need.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/kvByteString.h"
#include "foundation/kvByteStringUtils.h"
#include "foundation/kvIni.h"

namespace foundation::ini_detail {

inline const uint8_t* Data(const TByteString& b) { return b.Data(); }
inline int32_t Length(const TByteString& b) { return b.GetLength(); }
inline bool IsEmptyBytes(const TByteString& b) { return b.GetLength() == 0; }

inline TByteString FromU16(std::u16string_view s) {
  if (s.empty()) return TByteString();
  return TByteString::FromUnicode(std::u16string(s));
}
inline std::u16string ToU16(const TByteString& b) { return b.ToUnicode(); }
inline TByteString FromAscii(std::string_view s) { return s.empty() ? TByteString() : TByteString::FromBytes(s); }
inline TByteString FromVector(std::vector<uint8_t>&& v) {
  if (v.empty()) return TByteString();
  TByteString t;
  t.SetBytes(std::move(v));
  return t;
}
inline TByteString SubBytes(const TByteString& b, int32_t start, int32_t count) {
  if (count <= 0) return TByteString();
  return TByteString::FromShared(b.SubString(start, count));
}

// The same over a node's slice.
inline const uint8_t* Data(const TIniSlice& b) { return b.P; }
inline int32_t Length(const TIniSlice& b) { return b.N; }
inline bool IsEmptyBytes(const TIniSlice& b) { return b.N == 0; }
inline TByteString ToByteString(const TIniSlice& b) { return TByteString::FromBytes(b.View()); }

inline int32_t ParseInt(const TByteString& b, int32_t def) { return b.ToIntDef(def); }
inline int64_t ParseInt64(const TByteString& b, int64_t def) { return b.ToInt64Def(def); }
inline double ParseFloat(const TByteString& b, double def) { return b.ToFloatDef(def); }

// Fixed point with the given decimals, trailing zeros and "." removed.
inline TByteString FloatText(double v, int decimals) {
  TByteStringBuilder builder;
  builder.InsertFloat(-1, v, decimals);
  TByteString t;
  builder.Finish(t);
  return t;
}

inline int CompareWithU16NoCase(const TByteString& b, int32_t start, int32_t count, std::u16string_view s) {
  const std::u16string text(s);
  return CompareUtf8WithUnicodeNoCase(b.Data(), static_cast<size_t>(b.GetLength()), start, start + count, text, 1,
                                      static_cast<int>(text.size()));
}
inline int CompareWithU16NoCase(const TIniSlice& b, int32_t start, int32_t count, std::u16string_view s) {
  const std::u16string text(s);
  return CompareUtf8WithUnicodeNoCase(b.P, static_cast<size_t>(b.N), start, start + count, text, 1,
                                      static_cast<int>(text.size()));
}
inline int CompareWithU16(const TIniSlice& b, std::u16string_view s) {
  const std::u16string text(s);
  return CompareUtf8WithUnicode(b.P, static_cast<size_t>(b.N), 0, b.N, text, 1, static_cast<int>(text.size()));
}
inline int CompareWithU16(const TByteString& b, std::u16string_view s) {
  const std::u16string text(s);
  return CompareUtf8WithUnicode(b.Data(), static_cast<size_t>(b.GetLength()), 0, b.GetLength(), text, 1,
                                static_cast<int>(text.size()));
}
inline int CompareBytesNoCase(const TByteString& a, const TByteString& b) {
  return CompareUtf8NoCase(a.Data(), static_cast<size_t>(a.GetLength()), 0, a.GetLength(), b.Data(),
                           static_cast<size_t>(b.GetLength()), 0, b.GetLength());
}
inline int CompareBytesRangeNoCase(const uint8_t* a, int32_t la, const uint8_t* b, int32_t lb) {
  return CompareUtf8NoCase(a, static_cast<size_t>(la), 0, la, b, static_cast<size_t>(lb), 0, lb);
}

inline uint32_t NameHash(const TByteString& b) {
  return HashUtf8NoCase(b.Data(), static_cast<size_t>(b.GetLength()), 0, b.GetLength());
}
inline uint32_t NameHash(const TIniSlice& b) { return HashUtf8NoCase(b.P, static_cast<size_t>(b.N), 0, b.N); }
inline uint32_t HashBytesNoCase(const uint8_t* p, int32_t n) {
  return HashUtf8NoCase(p, static_cast<size_t>(n), 0, n);
}
inline uint32_t HashU16NoCase(std::u16string_view s) {
  const std::u16string text(s);
  return HashUnicodeNoCase(text, 1, static_cast<int>(text.size()));
}
inline uint32_t HashStepByte(uint32_t h, uint8_t b) { return HashStep(h, b); }

}  // namespace foundation::ini_detail

namespace foundation {

// What the parser and the writer use of a list's children without making
// nodes of its lines.
struct TIniListAccess {
  static void UseText(TIniList* list, const std::shared_ptr<const TIniText>& text) { list->UseText(text); }
  static void Append(TIniList* list, const TIniEntry& entry) { list->AppendEntry(entry); }
  static bool HasObjectList(const TIniList* list) { return list->objects_ != nullptr; }
  static TIniItem* NodeAt(const TIniList* list, int32_t index) { return list->NodeAt(index); }
  static const TIniEntry& Entry(const TIniList* list, int32_t index) {
    return list->children_[static_cast<size_t>(index)];
  }
  static const TIniText& Text(const TIniList* list) { return *list->text_; }
};

}  // namespace foundation
