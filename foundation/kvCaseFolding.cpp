#include "foundation/kvCaseFolding.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "foundation/TextRange.h"
#include "foundation/kpExceptions.h"

namespace foundation {

namespace {

TCharPage* gPages[CharPageCount];  // the page table
TCharPage* gChainHead = nullptr;   // every page, newest first, for release
std::atomic<bool> gReady{false};
std::mutex gInitLock;

constexpr int FoldChunkUnits = 1024;

inline bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

inline const TCharPage* const* ReadyTable() {
  if (!gReady.load(std::memory_order_acquire)) InitCaseFolding();
  return gPages;
}

inline uint32_t FoldWith(const TCharPage* const* table, uint32_t cp) {
  if (cp > 0x10FFFF) return cp;
  return TCharPage::FoldChar(table[cp >> 8], cp);
}

// Compares the first min(na, nb) units of two ranges by folded code point.
// A pair is joined whenever its low half lies inside its own range, so a pair
// at the end of the longer range is compared whole: the order stays
// transitive between texts of different lengths.
int CompareFolded(const char16_t* a, size_t na, const char16_t* b, size_t nb) {
  const TCharPage* const* table = ReadyTable();
  const size_t n = std::min(na, nb);
  size_t i = 0;
  size_t boundary = 0;  // start of the code point being compared; never step back before it
  for (;;) {
    while (i < n && a[i] == b[i]) ++i;
    if (i == n) return 0;
    // A pair whose low halves differ is compared whole.
    if (i > boundary && IsHighSurrogate(a[i - 1])) --i;
    uint32_t c1 = a[i];
    uint32_t c2 = b[i];
    size_t step = 1;
    if (IsHighSurrogate(c1) && i + 1 < na && JoinLowSurrogate(c1, a[i + 1])) step = 2;
    if (IsHighSurrogate(c2) && i + 1 < nb) JoinLowSurrogate(c2, b[i + 1]);
    const uint32_t f1 = FoldWith(table, c1);
    const uint32_t f2 = FoldWith(table, c2);
    i += step;
    if (f1 != f2 || i >= n) return static_cast<int>(f1) - static_cast<int>(f2);
    boundary = i;
  }
}

}  // namespace

void TCharPage::Init(uint32_t cp) {
  QEL_ASSERT(cp <= 0x10FFFF, "");
  Next = gChainHead;
  gChainHead = this;
  PageIndex = static_cast<int32_t>(cp >> 8);
  PlaneBase = static_cast<int32_t>(cp & 0xFF0000);
  gPages[PageIndex] = this;
  const uint32_t low = cp & 0xFF00;
  for (uint32_t i = 0; i < 256; ++i) Table[i] = static_cast<uint16_t>(low | i);
}

const TCharPage* const* CaseFoldingTable() { return ReadyTable(); }

void AddFoldingRuns(const TFoldingRun* records, int count) {
  uint32_t cp = 0;
  for (int r = 0; r < count; ++r) {
    const TFoldingRun run = records[r];
    const int n = run.Count < 0 ? -run.Count : run.Count;
    for (int k = 0; k < n; ++k) {
      cp += run.Step;
      TCharPage* page = cp <= 0x10FFFF ? gPages[cp >> 8] : nullptr;
      if (page == nullptr) {
        page = new TCharPage();
        page->Init(cp);
      }
      const uint16_t low = static_cast<uint16_t>(cp & 0xFFFF);
      page->Table[cp & 0xFF] =
          static_cast<uint16_t>(run.Count > 0 ? low + run.Delta : low - run.Delta);
    }
  }
}

void InitCaseFolding() {
  std::lock_guard<std::mutex> lock(gInitLock);
  if (gReady.load(std::memory_order_relaxed)) return;
  AddFoldingRuns(CommonFoldingRuns, CommonFoldingRunCount);
  AddFoldingRuns(SimpleFoldingRuns, SimpleFoldingRunCount);
  gReady.store(true, std::memory_order_release);
}

void DoneCaseFolding() {
  std::lock_guard<std::mutex> lock(gInitLock);
  gReady.store(false, std::memory_order_release);
  while (gChainHead != nullptr) {
    TCharPage* page = gChainHead;
    gChainHead = page->Next;
    gPages[page->PageIndex] = nullptr;
    page->Free();
  }
}

uint32_t FoldCodePoint(uint32_t cp) { return FoldWith(ReadyTable(), cp); }

bool JoinLowSurrogate(uint32_t& cp, char16_t unit) {
  if (!IsLowSurrogate(unit)) return false;
  cp = (((cp & 0x3FF) << 10) | (unit & 0x3FFu)) + 0x10000;
  return true;
}

int FoldCaseChunk(const std::u16string& s, int start, int count, char16_t* buffer, int& written,
                  int limit) {
  written = 0;
  size_t first, n;
  ClampRange(s.size(), start, count, first, n);
  if (buffer == nullptr || limit <= 0) return 0;
  const TCharPage* const* table = ReadyTable();
  const char16_t* in = s.data() + first;
  size_t i = 0;
  int out = 0;
  while (i < n && out < limit) {
    uint32_t cp = in[i];
    size_t used = 1;
    if (IsHighSurrogate(cp) && i + 1 < n && JoinLowSurrogate(cp, in[i + 1])) used = 2;
    const uint32_t folded = FoldWith(table, cp);
    if (folded > 0xFFFF) {
      QEL_ASSERT(folded <= 0x10FFFF, "Illegal char range for surrogates");
      if (limit - out < 2) break;  // the pair stays for the next chunk
      buffer[out++] = static_cast<char16_t>(0xD800 | ((folded - 0x10000) >> 10));
      buffer[out++] = static_cast<char16_t>(0xDC00 | (folded & 0x3FF));
    } else {
      buffer[out++] = static_cast<char16_t>(folded);
    }
    i += used;
  }
  written = out;
  return static_cast<int>(i);
}

std::u16string FoldCase(const std::u16string& s, int start, int count) {
  size_t first, n;
  ClampRange(s.size(), start, count, first, n);
  std::u16string result;
  result.reserve(n);
  char16_t buffer[FoldChunkUnits];
  size_t pos = first;
  size_t left = n;
  while (left > 0) {
    int written = 0;
    const int used = FoldCaseChunk(s, static_cast<int>(pos + 1), static_cast<int>(left), buffer, written,
                                   FoldChunkUnits);
    result.append(buffer, static_cast<size_t>(written));
    if (used <= 0) break;
    pos += static_cast<size_t>(used);
    left -= static_cast<size_t>(used);
  }
  return result;
}

int CompareTextAt(const std::u16string& s1, const std::u16string& s2, int start1, int start2, int count) {
  size_t f1, n1, f2, n2;
  ClampRange(s1.size(), start1, count, f1, n1);
  ClampRange(s2.size(), start2, count, f2, n2);
  // Ranges that run past a text are compared over what both hold.
  return CompareFolded(s1.data() + f1, n1, s2.data() + f2, n2);
}

int CompareTextSameStart(const std::u16string& s1, const std::u16string& s2, int start, int count) {
  return CompareTextAt(s1, s2, start, start, count);
}

int CompareTextRange(const std::u16string& s1, const std::u16string& s2, int start1, int start2, int count1,
                     int count2) {
  size_t f1, n1, f2, n2;
  ClampRange(s1.size(), start1, count1, f1, n1);
  ClampRange(s2.size(), start2, count2, f2, n2);
  const int r = CompareFolded(s1.data() + f1, n1, s2.data() + f2, n2);
  if (r != 0 || n1 == n2) return r;
  return static_cast<int>(n1) - static_cast<int>(n2);
}

bool SameText(const std::u16string& s1, const std::u16string& s2) {
  return s1.size() == s2.size() && CompareFolded(s1.data(), s1.size(), s2.data(), s2.size()) == 0;
}

}  // namespace foundation
