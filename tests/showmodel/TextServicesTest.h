// The text services that text objects and generated text pictures draw
// with, started on the pinned fonts for each test and stopped after it.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/PinnedFonts.h"
#include "text/GdiDynamicFunctions.h"
#include "text/kvGlyphCache.h"
#include "text/kvTextServices.h"
#include "text/winDWTextUtils.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextVectorizer.h"

namespace objtest {

class TextServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QEL_REQUIRE_PINNED_FONTS();
    text::InitWinFontUtils();
    text::InitGdiDynamicFunctions();
    text::InitFontSubstitute();
    text::InitWinTextVectorizer();
    text::GlobalFontCache()->SetCacheId(u"local");
  }
  void TearDown() override {
    text::DoneFontCache();
    text::DoneWinTextVectorizer();
    text::DoneFontSubstitute();
    text::DoneGdiDynamicFunctions();
    text::DoneDWTextUtils();
    text::DoneTextServices();
  }
  testsupport::ScopedFontBackend fonts_;
};

}  // namespace objtest
