// Text is split on the main thread and on worker threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/support/PinnedFonts.h"
#include "text/GdiDynamicFunctions.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextElement.h"

using namespace text;

TEST(SubstituteThreads, ConcurrentSplitsAgree) {
  QEL_REQUIRE_PINNED_FONTS();
  testsupport::ScopedFontBackend fonts;
  InitWinFontUtils();
  InitFontSubstitute();
  const std::u16string texts[] = {u"abc\u4E00def", u"\u05E9\u05DC\u05D5\u05DD 12", u"x\U0001F600y\u0915\u093F"};
  TFontParams font;
  InitFontParams(font, u"Arial", 12, 0, {}, {}, true);
  auto split = [&](const std::u16string& t) {
    std::vector<std::u16string> names;
    FontReplacer()->SplitText(t, 1, int32_t(t.size()), font,
                              [&](const std::u16string&, int32_t s, int32_t c, const TFontParams& p, bool, bool&) {
                                names.push_back(p.Name + u"@" + std::u16string(1, char16_t(u'0' + s)));
                              });
    return names;
  };
  std::vector<std::vector<std::u16string>> expected;
  for (const auto& t : texts) expected.push_back(split(t));
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k)
    threads.emplace_back([&, k] {
      for (int i = 0; i < 30; ++i) {
        size_t j = size_t(i + k) % 3;
        if (split(texts[j]) != expected[j]) mismatches++;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  DoneFontSubstitute();
  DoneDWTextUtils();
  DoneTextServices();
}

TEST(SubstituteThreads, ConcurrentLayoutsAndPaintsAgree) {
  QEL_REQUIRE_PINNED_FONTS();
  testsupport::ScopedFontBackend fonts;
  InitWinFontUtils();
  InitGdiDynamicFunctions();
  InitFontSubstitute();
  const std::u16string text = u"Mix \u05D0\u05D1 12 \u4E00 \U0001F600 \u0915\u093F";
  TFontParams font;
  InitFontParams(font, u"Arial", 12, 0, {}, {}, true);
  auto layout = [&](std::vector<uint8_t>& px) {
    auto* e = new TWinTextElement(font, 0);
    e->InsertText(1, text, 1, int32_t(text.size()));
    std::vector<int32_t> carets = e->Carets;
    px.assign(200 * 24 * 4, 255);
    e->Paint({px.data(), 200, 24, 800, 32}, 0, 0, {0, 0, 200, 24});
    e->Free();
    return carets;
  };
  std::vector<uint8_t> refPixels;
  const std::vector<int32_t> refCarets = layout(refPixels);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k)
    threads.emplace_back([&] {
      std::vector<uint8_t> px;
      for (int i = 0; i < 20; ++i)
        if (layout(px) != refCarets || px != refPixels) mismatches++;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  DoneFontSubstitute();
  DoneGdiDynamicFunctions();
  DoneDWTextUtils();
  DoneTextServices();
}
