#include "text/winDWTextUtils.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "platform/fonts/api.h"
#include "text/winFontUtils.h"

namespace text {

namespace {
std::mutex g_fullLock;
TFullBitSet* g_full = nullptr;
std::atomic<int> g_dwState{0};  // 0 not asked, 1 no, 2 yes
}  // namespace

bool TBitSet::Contains(uint8_t Bit) const { return (Words[Bit >> 5] >> (Bit & 31)) & 1u; }

void TBitSet::SetRange(uint8_t Low, uint8_t High) {
  for (uint32_t b = Low; b <= High; ++b) Words[b >> 5] |= 1u << (b & 31);
}

bool TFullBitSet::Contains(uint8_t) const { return true; }

TFullBitSet* FullBitSet() {
  std::lock_guard g(g_fullLock);
  if (!g_full) g_full = new TFullBitSet;
  return g_full;
}

void TFontUnicodeChars::Dispose() {
  for (int32_t i = 0; i < FCapacity; ++i) foundation::ReleaseObj(FPages[i]);
  std::free(FPages);
  FPages = nullptr;
  FCapacity = 0;
  TRefObject::Dispose();
}

void TFontUnicodeChars::AddRange(uint32_t First, uint32_t Last) {
  if (Last > 0x10FFFF) Last = 0x10FFFF;
  if (First > Last) return;
  for (uint32_t p = First >> 8; p <= Last >> 8; ++p) {
    const uint32_t low = p == (First >> 8) ? (First & 255) : 0;
    const uint32_t high = p == (Last >> 8) ? (Last & 255) : 255;
    if (int32_t(p) >= FCapacity) {
      int32_t cap = FCapacity == 0 ? 4 : FCapacity;
      while (cap <= int32_t(p)) cap *= 2;
      auto** grown = static_cast<TBitSet**>(std::realloc(FPages, sizeof(TBitSet*) * size_t(cap)));
      if (!grown) throw std::bad_alloc();
      for (int32_t i = FCapacity; i < cap; ++i) grown[i] = nullptr;
      FPages = grown;
      FCapacity = cap;
    }
    TBitSet*& page = FPages[p];
    if (!page) {
      if (low == 0 && high == 255) {
        page = FullBitSet();
        page->_AddRef();
        continue;
      }
      page = new TBitSet;
    }
    if (dynamic_cast<TFullBitSet*>(page)) continue;
    page->SetRange(uint8_t(low), uint8_t(high));
  }
}

bool TFontUnicodeChars::Contains(uint32_t CodePoint) const {
  const uint32_t p = CodePoint >> 8;
  return int64_t(p) < FCapacity && FPages[p] && FPages[p]->Contains(uint8_t(CodePoint & 255));
}

const TBitSet* TFontUnicodeChars::Page(int32_t Index) const {
  return Index >= 0 && Index < FCapacity ? FPages[Index] : nullptr;
}

bool IsDirectWriteRangesAvailable() {
  int s = g_dwState.load();
  if (s == 0) {
    // The first family's face must exist and report its ranges.
    platform::fonts::FontRequest r;
    r.family = platform::fonts::fontBackend()->messageFontFamily();
    r.height = -16;
    platform::fonts::FontHandle f = platform::fonts::createFont(r);
    s = f && f->isScalable() && !f->unicodeRanges().empty() ? 2 : 1;
    g_dwState.store(s);
  }
  return s == 2;
}

bool GetFontUnicodeCharsDW(const TFontParams& Params, TFontUnicodeChars* Coverage) {
  platform::fonts::FontHandle f = CreateFontHandle(Params);
  if (!f || !f->isScalable() || !Coverage) return false;
  for (const auto& r : f->unicodeRanges()) Coverage->AddRange(r.first, r.last);
  return true;
}

void InitDWTextUtils() { FullBitSet(); }

void DoneDWTextUtils() {
  std::lock_guard g(g_fullLock);
  foundation::ReleaseObj(g_full);
  g_full = nullptr;
}

}  // namespace text
