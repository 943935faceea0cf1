// Text macros of slide texts: "<%SlideIndex%>", "<%MainImg.Width%>" and the
// other names below are replaced by values before a text is laid out. The
// parser finds and replaces them; the values come from a provider that the
// text object installs, so the parser knows nothing of slides or files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/SysObj.h"

namespace container {
class TFileAccessor;
}

namespace showmodel {

class TMTParser;

// Called once for every occurrence that is replaced, with the macro's text
// as the table below spells it.
using TMacroProvider = std::function<void(TMTParser* Parser, const std::u16string& Macro, std::u16string& Value)>;

class TMTParser : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TMTParser)
  TMacroProvider Provider;
};

// The 22 macros whose value the provider gives, then the 7 derived from the
// path ("<%MainImg.PathNameExt%>") or the date-time ("<%MainImg.Exif.Date%>",
// "<%MainImg.Exif.Time%>" answer the whole Exif date-time), in the order
// they are replaced.
inline constexpr int32_t DirectMacroCount = 22;
inline constexpr int32_t MacroCount = 29;
extern const char16_t* const MacroNames[MacroCount];

// Replaces every known macro (found without regard to case); a value that
// holds its own macro is not expanded again, unknown "<%...%>" texts stay.
// An empty result is a single blank. The provider must be set (assertion).
std::u16string ExpandMacros(TMTParser* Parser, const std::u16string& Text);

// What a slide text knows of its slide for the macro values.
struct TMacroContext {
  int32_t SlideIndex = 0;  // 0-based
  int32_t SlideCount = 0;
  bool HasMainImage = false;
  // The main object is a plain image, so its file has photo metadata.
  bool MainIsImage = false;
  std::u16string MainName;
  int32_t MainWidth = 0, MainHeight = 0;
  container::TFileAccessor* Accessor = nullptr;  // opens the main picture's file
};

// The value of one macro name of the provider's table (compared exactly);
// names it does not know give an empty value. Exif and IPTC values are read
// from the main picture's file each time.
std::u16string MacroValue(const TMacroContext& Context, const std::u16string& Macro);

}  // namespace showmodel
