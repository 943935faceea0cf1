// The slide host's sized-text pictures (a grey panel with a text as large as
// 90 % of the width or 20 % of the height allows) and the show identity it
// hands to the glyph cache from the show's "ExeGUID" entry.
#include "showmodel/kvQelSlideHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "foundation/kvStream.h"
#include "tests/showmodel/ObjectFixture.h"
#include "tests/showmodel/TextServicesTest.h"
#include "tests/support/PinnedFonts.h"
#include "text/GdiDynamicFunctions.h"
#include "text/kvGlyphCache.h"
#include "text/kvTextProducer2.h"
#include "text/kvTextServices.h"
#include "text/winDWTextUtils.h"
#include "text/winFontSubstitute.h"
#include "text/winFontUtils.h"
#include "text/winTextVectorizer.h"

namespace {

using namespace objtest;

class SizedText : public TextServicesTest {};

// The grey of a pixel of an opaque grey picture.
int GreyAt(imaging::TSysBitmap* b, int x, int y) { return b->Rows32(y)[x].G; }

// The box of the pixels inside the panel lighter than halfway between the
// panel's grey (100) and the text's (170).
struct Ink {
  int Left = 1 << 30, Top = 1 << 30, Right = -1, Bottom = -1;
  int Width() const { return Right - Left + 1; }
  int Height() const { return Bottom - Top + 1; }
};
Ink InkOf(imaging::TSysBitmap* b, int inset) {
  Ink k;
  for (int y = inset; y < b->Height - inset; ++y)
    for (int x = inset; x < b->Width - inset; ++x)
      if (GreyAt(b, x, y) > 135) {
        k.Left = std::min(k.Left, x);
        k.Right = std::max(k.Right, x);
        k.Top = std::min(k.Top, y);
        k.Bottom = std::max(k.Bottom, y);
      }
  return k;
}

// Width and height of a line of the default font at scale 1.
foundation::TFloatPoint LineSize(const std::u16string& line) {
  auto lines = MakeRef<foundation::TStringList>();
  lines->Add(line);
  auto vt = TRef<text::TVectorText>::Adopt(text::CreateVectorText(text::DefaultFontParams(), lines.Get()));
  const foundation::TFloatRect r = text::GetVectorTextBounds(vt.Get(), 1, 0);
  return {r.Right - r.Left, r.Bottom - r.Top};
}

TEST_F(SizedText, TheTextFillsNinetyPercentOfTheWidthOrTwentyPercentOfTheHeight) {
  SlideFixture f("");
  struct Row {
    std::u16string text;
    bool wide;  // the width limits it
  } rows[] = {{u"A rather long placeholder text for a sized box", true}, {u"Hi", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(Utf8(row.text));
    const foundation::TFloatPoint line = LineSize(row.text);
    ASSERT_GT(line.X, 0);
    ASSERT_GT(line.Y, 0);
    // Which side limits the text follows from the line's proportions alone.
    ASSERT_EQ(row.wide, 270.0 / 20.0 <= line.X / line.Y);
    const double scale = row.wide ? 270.0 / line.X : 20.0 / line.Y;
    auto pic = TRef<imaging::TImage>::Adopt(
        container::TFileAccessor::LoadImage(f.Accessor.Get(), u"TextWithSize:300:100:" + row.text));
    ASSERT_TRUE(pic);
    EXPECT_EQ(pic->Params.Name, u"Sized Text Zaglushka");
    auto* b = dynamic_cast<imaging::TSysBitmap*>(pic->Store->GetBitmap(0, imaging::pfA8R8G8B8, nullptr));
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->Width, 300);
    ASSERT_EQ(b->Height, 100);
    // A rim of round(100 x 0.02) = 2 pixels in the light grey, the panel in the dark one.
    for (auto [x, y, grey] : {std::tuple{0, 0, 170}, {1, 50, 170}, {299, 99, 170}, {150, 98, 170},
                              {2, 2, 100}, {297, 97, 100}, {3, 50, 100}}) {
      EXPECT_EQ(GreyAt(b, x, y), grey) << x << "," << y;
      EXPECT_EQ(b->Rows32(y)[x].A, 255);
    }
    const Ink ink = InkOf(b, 2);
    ASSERT_GE(ink.Right, 0) << "no text drawn";
    // The ink lies within the scaled line, centred on the picture.
    EXPECT_LE(ink.Width(), line.X * scale + 2);
    EXPECT_LE(ink.Height(), line.Y * scale + 2);
    EXPECT_NEAR((ink.Left + ink.Right) / 2.0, 150, 6);
    if (row.wide) {
      EXPECT_GE(ink.Width(), 265);  // 270 less the side bearings of the first and last letters
      EXPECT_NEAR(ink.Left, 15, 3);  // (300 - 270) / 2
      EXPECT_LE(ink.Height(), 21);
    } else {
      // Capitals are about 0.63 of the sans face's line: 13 pixels of a 20-pixel line.
      EXPECT_NEAR(ink.Height(), 13, 1);
      EXPECT_LT(ink.Width(), 100);
    }
  }
}

TEST_F(SizedText, PicturesAreSharedByNameAndOddSizesHold) {
  SlideFixture f("");
  const std::u16string key = u"TextWithSize:64:32:Missing: photo.jpg";
  auto a = TRef<imaging::TImage>::Adopt(container::TFileAccessor::LoadImage(f.Accessor.Get(), key));
  auto b = TRef<imaging::TImage>::Adopt(container::TFileAccessor::LoadImage(f.Accessor.Get(), key));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->Store, b->Store);
  // A text much larger than a 1 x 1 picture is cut to it.
  auto tiny = TRef<imaging::TImage>::Adopt(f.Slide->Host->GenerateResourceTexture(u"TextWithSize:1:1:Wide text"));
  ASSERT_TRUE(tiny);
  EXPECT_EQ(tiny->Params.Width, 1);
  EXPECT_EQ(tiny->Params.Height, 1);
  // The program makes these names itself: a size below 1 is its own error.
  for (const char16_t* bad : {u"TextWithSize:0:50:x", u"TextWithSize:50:-3:x", u"TextWithSize:abc"})
    EXPECT_THROW(f.Slide->Host->GenerateResourceTexture(bad), foundation::EAssertionFailed) << Utf8(bad);
}

// A show whose only entries are given as bytes.
class EntrySource : public container::TFileSource {
 public:
  QEL_CLASSNAME(EntrySource)
  std::map<std::u16string, std::string> Entries;
  foundation::TStream* DoOpen(const std::u16string& Name) override {
    auto it = Entries.find(Name);
    if (it == Entries.end()) return nullptr;
    auto* s = new foundation::TMemoryStream();
    s->WriteBuf(it->second.data(), int32_t(it->second.size()));
    s->SetPosition(0);
    return s;
  }
};

std::string GuidEntry(uint32_t count, const std::u16string& chars) {
  std::string b;
  for (int i = 0; i < 4; ++i) b.push_back(char(count >> (8 * i)));
  for (char16_t c : chars) {
    b.push_back(char(c & 0xFF));
    b.push_back(char(c >> 8));
  }
  return b;
}

TEST(SlideHost, TheShowsIdentityBecomesTheGlyphCachesIdentity) {
  struct Row {
    const char* what;
    bool present;
    std::string entry;
    std::u16string expected;
  } rows[] = {
      {"whole", true, GuidEntry(6, u"{A-Ω1}"), u"{A-Ω1}"},
      {"empty", true, GuidEntry(0, u""), u""},
      {"missing", false, "", u"before"},
      {"count beyond the entry", true, GuidEntry(40, u"{A}"), u"before"},
      {"count of 4 billion", true, GuidEntry(0xFFFFFFF0u, u"{A}"), u"before"},
      {"shorter than its count field", true, std::string("\x02\x00", 2), u"before"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    text::GlobalFontCache()->SetCacheId(u"before");
    auto source = MakeRef<EntrySource>();
    if (row.present) source->Entries[u"ExeGUID"] = row.entry;
    SlideFixture f("", 800, 600, source.Get());
    EXPECT_EQ(text::GlobalFontCache()->GetCacheId(), row.expected);
  }
  text::DoneFontCache();
}

}  // namespace
