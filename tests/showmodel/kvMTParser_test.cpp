// Text macros: the parser's search and replacement with a fake provider, and
// the values a slide text gives (slide numbers, the main picture's size, path
// forms, Exif and IPTC fields read from a JPEG file).
#include "showmodel/kvMTParser.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "container/kvQelFileAccessor2.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvUTF8.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/MetadataMaker.h"
#include "tests/support/TempTree.h"

namespace {

using namespace showmodel;
using foundation::MakeRef;
using foundation::TRef;

std::string Utf8(const std::u16string& s) { return foundation::MessageToUtf8(s); }

// A parser whose provider answers from a table and records what it was asked.
struct FakeParser {
  TRef<TMTParser> Parser = MakeRef<TMTParser>();
  std::map<std::u16string, std::u16string> Values;
  std::vector<std::u16string> Asked;
  FakeParser() {
    Parser->Provider = [this](TMTParser*, const std::u16string& macro, std::u16string& value) {
      Asked.push_back(macro);
      auto it = Values.find(macro);
      value = it == Values.end() ? std::u16string() : it->second;
    };
  }
  std::u16string Expand(const std::u16string& text) { return ExpandMacros(Parser.Get(), text); }
};

TEST(TextMacros, ReplacesEachOccurrenceWithoutRegardToCaseAndLeavesUnknownOnes) {
  FakeParser p;
  p.Values[u"<%SlideIndex%>"] = u"3";
  p.Values[u"<%SlidesCount%>"] = u"12";
  EXPECT_EQ(p.Expand(u"Slide <%SlideIndex%> of <%SlidesCount%>"), u"Slide 3 of 12");
  EXPECT_EQ(p.Expand(u"<%slideindex%>/<%SLIDEINDEX%>"), u"3/3");
  // A misspelt name, an unclosed macro and plain text stay as they are.
  EXPECT_EQ(p.Expand(u"<%SlideIdx%> <%SlideIndex"), u"<%SlideIdx%> <%SlideIndex");
  EXPECT_EQ(p.Expand(u"no macros"), u"no macros");
}

TEST(TextMacros, AValueHoldingItsOwnMacroIsNotExpandedAgain) {
  FakeParser p;
  p.Values[u"<%SlideIndex%>"] = u"<%SlideIndex%>!";
  EXPECT_EQ(p.Expand(u"a<%SlideIndex%>b<%SlideIndex%>"), u"a<%SlideIndex%>!b<%SlideIndex%>!");
  EXPECT_EQ(p.Asked.size(), 2u);
}

TEST(TextMacros, EmptyResultBecomesOneBlank) {
  FakeParser p;  // no main picture: every value empty
  EXPECT_EQ(p.Expand(u"<%MainImg.Width%><%MainImg.FolderName%><%MainImg.Exif.Time%>"), u" ");
  EXPECT_EQ(p.Expand(u""), u" ");
}

TEST(TextMacros, PathFormsAreDerivedFromThePath) {
  struct Row {
    std::u16string path, fileName, pathName, fileNameExt, folderPath, folderName;
  } rows[] = {
      {u"D:\\Photos\\Trip\\img.jpg", u"img", u"D:\\Photos\\Trip\\img", u"img.jpg", u"D:\\Photos\\Trip\\", u"Trip"},
      {u"img.tar.gz", u"img.tar", u"img.tar", u"img.tar.gz", u"", u""},
      {u"C:\\a.b\\noext", u"noext", u"C:\\a.b\\noext", u"noext", u"C:\\a.b\\", u"a.b"},
      {u"\\top.png", u"top", u"\\top", u"top.png", u"\\", u""},
      {u"", u"", u"", u"", u"", u""},
  };
  for (const Row& r : rows) {
    FakeParser p;
    p.Values[u"<%MainImg.PathNameExt%>"] = r.path;
    EXPECT_EQ(p.Expand(u"[<%MainImg.FileName%>]"), u"[" + r.fileName + u"]") << Utf8(r.path);
    EXPECT_EQ(p.Expand(u"[<%MainImg.PathName%>]"), u"[" + r.pathName + u"]") << Utf8(r.path);
    EXPECT_EQ(p.Expand(u"[<%MainImg.FileNameExt%>]"), u"[" + r.fileNameExt + u"]") << Utf8(r.path);
    EXPECT_EQ(p.Expand(u"[<%MainImg.FolderPath%>]"), u"[" + r.folderPath + u"]") << Utf8(r.path);
    EXPECT_EQ(p.Expand(u"[<%MainImg.FolderName%>]"), u"[" + r.folderName + u"]") << Utf8(r.path);
    EXPECT_EQ(p.Expand(u"<%MainImg.PathNameExt%>"), r.path.empty() ? u" " : r.path);
    // The derived names ask for the path only.
    for (const std::u16string& asked : p.Asked) EXPECT_EQ(asked, u"<%MainImg.PathNameExt%>");
  }
}

TEST(TextMacros, DateAndTimeSplitTheExifDateTimeAtItsFirstBlank) {
  FakeParser p;
  p.Values[u"<%MainImg.Exif.Date%>"] = u"2019:05:01 12:34:56";
  p.Values[u"<%MainImg.Exif.Time%>"] = u"2019:05:01 12:34:56";
  EXPECT_EQ(p.Expand(u"<%MainImg.Exif.Date%> at <%MainImg.Exif.Time%>"), u"2019:05:01 at 12:34:56");
  p.Values[u"<%MainImg.Exif.Date%>"] = u"2019:05:01";
  p.Values[u"<%MainImg.Exif.Time%>"] = u"2019:05:01";
  EXPECT_EQ(p.Expand(u"<%MainImg.Exif.Date%>|<%MainImg.Exif.Time%>|"), u"2019:05:01||");
}

TEST(TextMacros, ParserWithoutProviderIsAnAssertion) {
  auto parser = MakeRef<TMTParser>();
  EXPECT_THROW(ExpandMacros(parser.Get(), u"x"), foundation::Exception);
}

// ---- the values a slide text gives ----

testsupport::Bytes Text(const std::string& s) { return testsupport::Bytes(s.begin(), s.end()); }

// A small JPEG with an Exif block (date-times, comment, description) and IPTC texts.
std::string PhotoWithMetadata(bool withTaken) {
  testsupport::TiffBuilder tiff(false);
  tiff.ifd0.push_back(tiff.Ascii(0x010E, "  A beach  "));          // ImageDescription
  tiff.ifd0.push_back(tiff.Ascii(0x0132, "2001:01:01 01:01:01"));  // DateTime
  if (withTaken) tiff.exif.push_back(tiff.Ascii(0x9003, "2019:05:01 12:34:56"));  // DateTimeOriginal
  tiff.exif.push_back(tiff.Ascii(0x9004, "2018:02:02 02:02:02"));  // DateTimeDigitized
  testsupport::Bytes comment = Text(std::string("ASCII\0\0\0", 8) + " sunny day ");
  tiff.exif.push_back(tiff.Undefined(0x9286, comment));
  std::vector<testsupport::Bytes> iptc;
  iptc.push_back(testsupport::IptcText(2, 5, "  Title  "));
  iptc.push_back(testsupport::IptcText(2, 80, "\t First Author\x01"));
  iptc.push_back(testsupport::IptcText(2, 80, "Second Author"));
  iptc.push_back(testsupport::IptcText(2, 90, " Lisbon "));
  iptc.push_back(testsupport::IptcText(2, 116, "(c) Someone"));
  testsupport::Bytes data;
  for (const auto& d : iptc) data.insert(data.end(), d.begin(), d.end());
  testsupport::JpegSpec spec;
  spec.width = 16;
  spec.height = 8;
  testsupport::Bytes jpeg = testsupport::MakeJpeg(spec);
  jpeg = testsupport::SpliceSegment(jpeg, 0xED, testsupport::App13Payload({testsupport::AdobeResourceBlock(0x0404, data)}));
  jpeg = testsupport::SpliceSegment(jpeg, 0xE1, tiff.App1Payload());
  return std::string(jpeg.begin(), jpeg.end());
}

struct MacroFiles : ::testing::Test {
  qeltest::TempTree tree;
  TRef<container::TFileAccessor> accessor = TRef<container::TFileAccessor>::Adopt(
      new container::TFileAccessor(MakeRef<container::TRealFileSource>().Get()));
  TMacroContext Context(const std::string& file, bool isImage = true) {
    TMacroContext c;
    c.SlideIndex = 0;
    c.SlideCount = 7;
    c.HasMainImage = true;
    c.MainIsImage = isImage;
    c.MainName = tree.internal(file);
    c.MainWidth = 16;
    c.MainHeight = 8;
    c.Accessor = accessor.Get();
    return c;
  }
};

TEST_F(MacroFiles, SlideTextGivesNumbersSizeAndPhotoFields) {
  tree.write("Photos/Trip/beach.jpg", PhotoWithMetadata(true));
  const TMacroContext c = Context("Photos/Trip/beach.jpg");
  auto parser = MakeRef<TMTParser>();
  parser->Provider = [&c](TMTParser*, const std::u16string& macro, std::u16string& value) {
    value = MacroValue(c, macro);
  };
  auto expand = [&](const std::u16string& t) { return ExpandMacros(parser.Get(), t); };
  EXPECT_EQ(expand(u"<%SlideIndex%>/<%SlidesCount%>"), u"1/7");
  EXPECT_EQ(expand(u"<%MainImg.Width%>x<%MainImg.Height%>"), u"16x8");
  EXPECT_EQ(expand(u"<%MainImg.FileNameExt%> in <%MainImg.FolderName%>"), u"beach.jpg in Trip");
  EXPECT_EQ(expand(u"<%MainImg.Exif.Date%> <%MainImg.Exif.Time%>"), u"2019:05:01 12:34:56");
  EXPECT_EQ(expand(u"[<%MainImg.Exif.Comment%>][<%MainImg.Exif.Description%>]"), u"[sunny day][A beach]");
  EXPECT_EQ(expand(u"[<%MainImg.IPTC.DocumentTitle%>][<%MainImg.IPTC.AuthorByline%>][<%MainImg.IPTC.City%>]"),
            u"[Title][First Author][Lisbon]");
  EXPECT_EQ(expand(u"[<%MainImg.IPTC.Copyright%>][<%MainImg.IPTC.Headline%>]"), u"[(c) Someone][]");
}

TEST_F(MacroFiles, DateTimeFallsBackToDigitisedThenFileDate) {
  tree.write("a.jpg", PhotoWithMetadata(false));
  EXPECT_EQ(MacroValue(Context("a.jpg"), u"<%MainImg.Exif.Date%>"), u"2018:02:02 02:02:02");
}

TEST_F(MacroFiles, NoMainImageOrNoPlainImageGivesEmptyValues) {
  tree.write("a.jpg", PhotoWithMetadata(true));
  TMacroContext none = Context("a.jpg");
  none.HasMainImage = false;
  TMacroContext notImage = Context("a.jpg", false);
  for (const char16_t* m : {u"<%MainImg.PathNameExt%>", u"<%MainImg.Width%>", u"<%MainImg.Exif.Date%>",
                            u"<%MainImg.IPTC.City%>"})
    EXPECT_EQ(MacroValue(none, m), u"") << Utf8(m);
  EXPECT_EQ(MacroValue(notImage, u"<%MainImg.Exif.Date%>"), u"");
  EXPECT_EQ(MacroValue(notImage, u"<%MainImg.IPTC.City%>"), u"");
  EXPECT_EQ(MacroValue(notImage, u"<%MainImg.Width%>"), u"16");
  EXPECT_EQ(MacroValue(none, u"<%SlidesCount%>"), u"7");
  EXPECT_EQ(MacroValue(none, u"<%Unknown%>"), u"");
}

TEST_F(MacroFiles, MissingOrDamagedFilesGiveEmptyValues) {
  std::string photo = PhotoWithMetadata(true);
  tree.write("cut.jpg", photo.substr(0, 40));
  tree.write("junk.jpg", "not a picture");
  for (const char* f : {"cut.jpg", "junk.jpg", "absent.jpg"}) {
    EXPECT_NO_THROW(MacroValue(Context(f), u"<%MainImg.Exif.Comment%>")) << f;
    EXPECT_EQ(MacroValue(Context(f), u"<%MainImg.IPTC.City%>"), u"") << f;
    EXPECT_EQ(MacroValue(Context(f), u"<%MainImg.Exif.Date%>"), u"") << f;
  }
}

}  // namespace
