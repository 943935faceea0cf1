#include "text/Startup.h"

#include "foundation/Startup.h"
#include "imaging/Startup.h"
#include "text/GdiDynamicFunctions.h"
#include "text/kvGlyphCache.h"
#include "text/kvTextServices.h"
#include "text/winDWTextUtils.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextVectorizer.h"

namespace text {

namespace {

// After the bitmap library: rendered text becomes images through its hooks.
constexpr foundation::TStartupStep kSteps[] = {
    // The process-wide font services.
    {"WinFontUtils", InitWinFontUtils, DoneTextServices},
    // The shared full coverage page.
    {"DWTextUtils", InitDWTextUtils, DoneDWTextUtils},
    // The glyph-set coverage and glyph ABC-width hooks.
    {"GdiDynamicFunctions", InitGdiDynamicFunctions, DoneGdiDynamicFunctions},
    // The font replacer with the fallback list of the installed faces: needs
    // the font backend.
    {"FontSubstitute", InitFontSubstitute, DoneFontSubstitute},
    // Until CreateVectorizer is filled vector texts cannot be built.
    {"WinTextVectorizer", InitWinTextVectorizer, DoneWinTextVectorizer},
    {"FontCache", InitFontCache, DoneFontCache},
};

constexpr foundation::TLibraryStartupRef kNeeds[] = {&foundation::FoundationStartup, &imaging::ImagingStartup};

}  // namespace

foundation::TLibraryStartup& TextStartup() {
  static foundation::TLibraryStartup startup{"text", kNeeds, kSteps};
  return startup;
}

void StartText() { foundation::StartLibrary(TextStartup()); }
void StopText() { foundation::StopLibrary(TextStartup()); }

}  // namespace text
