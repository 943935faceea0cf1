// The text services that text objects and generated text pictures draw
// with, started on the pinned fonts for each test and stopped after it.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/PinnedFonts.h"
#include "text/Startup.h"
#include "text/kvGlyphCache.h"

namespace objtest {

class TextServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QEL_REQUIRE_PINNED_FONTS();
    // A library above may have started the text library on the system's
    // fonts: it starts again on the pinned ones.
    text::StopText();
    text::StartText();
    text::GlobalFontCache()->SetCacheId(u"local");
  }
  void TearDown() override { text::StopText(); }
  testsupport::ScopedFontBackend fonts_;
};

}  // namespace objtest
