// The Unicode coverage of a font: a sparse set of 256-code-point pages, and
// the way of filling it from the Unicode ranges the platform reports for a
// face. Fully covered pages share one page object.
#pragma once

#include <cstdint>

#include "foundation/SysObj.h"
#include "text/GraphicsParams.h"

namespace text {

// One page of 256 bits: bit b is bit b mod 32 of word b div 32.
class TBitSet : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TBitSet)
  virtual bool Contains(uint8_t Bit) const;
  void SetRange(uint8_t Low, uint8_t High);
  uint32_t Words[8] = {};
};

// The page every fully covered page of every coverage set refers to.
class TFullBitSet : public TBitSet {
 public:
  QEL_CLASSNAME(TFullBitSet)
  bool Contains(uint8_t Bit) const override;
};

class TFontUnicodeChars : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TFontUnicodeChars)
  void Dispose() override;
  // Adds First..Last (inclusive, up to U+10FFFF).
  void AddRange(uint32_t First, uint32_t Last);
  bool Contains(uint32_t CodePoint) const;
  int32_t PageCapacity() const { return FCapacity; }
  // The page of a page index, nullptr when not covered.
  const TBitSet* Page(int32_t Index) const;

 private:
  TBitSet** FPages = nullptr;
  int32_t FCapacity = 0;
};

// The shared full page (made on first use until DoneDWTextUtils).
TFullBitSet* FullBitSet();

// Whether the platform reports Unicode ranges of its faces; asked once.
bool IsDirectWriteRangesAvailable();
// Adds the Unicode ranges of the font of Params to Coverage; true when they were read.
bool GetFontUnicodeCharsDW(const TFontParams& Params, TFontUnicodeChars* Coverage);

void InitDWTextUtils();
void DoneDWTextUtils();

}  // namespace text
