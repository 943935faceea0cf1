// Unicode simple case folding: the page table of foldings and the
// case-insensitive comparisons of UTF-16 text built on it.
//
// The table holds the common and simple one-to-one foldings of Unicode 6.1
// (see kvCaseFoldingData.h). Full (one-to-many) and Turkic foldings are not
// applied, so U+00DF and U+0130 fold to themselves. The table is filled once,
// on first use or by InitCaseFolding, and is read-only afterwards, so folding
// and comparison are safe on any thread.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/SysObj.h"
#include "foundation/kvCaseFoldingData.h"

namespace foundation {

// One page of 256 code points that has at least one folding.
class TCharPage : public TRefObject {
 public:
  QEL_CLASSNAME(TCharPage)

  // Low 16 bits of the folded code point of each code point of the page.
  uint16_t Table[256];
  TCharPage* Next = nullptr;  // release chain
  int32_t PageIndex = 0;      // code point shr 8
  int32_t PlaneBase = 0;      // code point and 0xFF0000

  // The folded code point; the code point itself when page is null. The
  // caller passes the page-table entry of cp shr 8.
  static uint32_t FoldChar(const TCharPage* page, uint32_t cp) {
    return page == nullptr ? cp : static_cast<uint32_t>(page->PlaneBase) + page->Table[cp & 0xFF];
  }

  // Links the page into the release chain and the page table, as the page of
  // cp, mapping every code point to itself. Asserts for cp above U+10FFFF.
  void Init(uint32_t cp);
};

inline constexpr int CharPageCount = 4352;  // one per 256 code points up to U+10FFFF

// The page table: null entries mean no code point of that page folds. Filled
// on first use; CaseFoldingTable() returns it ready.
const TCharPage* const* CaseFoldingTable();

// Applies folding records, creating pages on demand.
void AddFoldingRuns(const TFoldingRun* records, int count);

// Fills the table (common records, then simple-only records); idempotent.
void InitCaseFolding();
// Frees every page and empties the table (process end; the next use refills it).
void DoneCaseFolding();

// The simple folding of one code point; values above U+10FFFF stay as they are.
uint32_t FoldCodePoint(uint32_t cp);

// Folds units of s from start (1-based) for count units into buffer, writing at
// most limit units; written receives the number of units written. Returns the
// number of input units consumed. A pair whose folding would not fit whole
// stays unconsumed.
int FoldCaseChunk(const std::u16string& s, int start, int count, char16_t* buffer, int& written,
                  int limit);

// The folded copy of a part of s (start below 1 taken as 1, count cut to the text).
std::u16string FoldCase(const std::u16string& s, int start, int count);
inline std::u16string FoldCase(const std::u16string& s) { return FoldCase(s, 1, static_cast<int>(s.size())); }

// When unit is a low surrogate, joins it to the high surrogate in cp.
bool JoinLowSurrogate(uint32_t& cp, char16_t unit);

// Folded comparison of two ranges of equal length (1-based starts); the result
// is the difference of the first differing folded code points, or 0.
int CompareTextSameStart(const std::u16string& s1, const std::u16string& s2, int start, int count);
int CompareTextAt(const std::u16string& s1, const std::u16string& s2, int start1, int start2, int count);

// Folded comparison of two ranges of any length; equal prefixes give count1 - count2.
int CompareTextRange(const std::u16string& s1, const std::u16string& s2, int start1, int start2, int count1,
                     int count2);

// Same length in UTF-16 units and equal under folding.
bool SameText(const std::u16string& s1, const std::u16string& s2);

}  // namespace foundation
