// The one UTF-16 -> UTF-8 encoder and its two treatments of lone surrogates.
#include "platform/os/utf.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/os/paths.h"

namespace {

using platform::os::LoneSurrogate;
using platform::os::utf8Of;

struct Case {
  const char* what;
  std::u16string text;
  std::string replaced;  // lone surrogates as U+FFFD
  std::string escaped;   // lone surrogates as file-name escapes
};

// Byte sequences as the Unicode standard's tables give them.
const Case kCases[] = {
    {"empty", u"", "", ""},
    {"ASCII", u"Az09", "Az09", "Az09"},
    {"two bytes: U+00E9, U+07FF", u"\u00E9\u07FF", "\xC3\xA9\xDF\xBF", "\xC3\xA9\xDF\xBF"},
    {"three bytes: U+0800, U+20AC, U+FFFF", u"\u0800\u20AC\uFFFF", "\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF",
     "\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF"},
    {"a pair: U+1F600", u"\xD83D\xDE00", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
    {"the last pair: U+10FFFF", u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
    {"a high surrogate at the end", u"a\xD83D", "a\xEF\xBF\xBD", "a\xED\xA0\xBD"},
    {"a high surrogate before a letter", u"\xD800x", "\xEF\xBF\xBDx", "\xED\xA0\x80x"},
    {"two high surrogates, then a low one", u"\xD800\xD801\xDC00", "\xEF\xBF\xBD\xF0\x90\x90\x80",
     "\xED\xA0\x80\xF0\x90\x90\x80"},
    {"a low surrogate alone", u"\xDC00", "\xEF\xBF\xBD", "\xED\xB0\x80"},
    {"escaped bytes 0x80 and 0xFF", u"\xDC80\xDCFF", "\xEF\xBF\xBD\xEF\xBF\xBD", "\x80\xFF"},
    {"just outside the escapes", u"\xDC7F\xDD00", "\xEF\xBF\xBD\xEF\xBF\xBD", "\xED\xB1\xBF\xED\xB4\x80"},
};

TEST(OsUtf, EncodesEveryRangeAndBothTreatmentsOfLoneSurrogates) {
  for (const Case& c : kCases) {
    EXPECT_EQ(utf8Of(c.text), c.replaced) << c.what;
    EXPECT_EQ(utf8Of(c.text, LoneSurrogate::EscapedByte), c.escaped) << c.what;
    // File names escape.
    EXPECT_EQ(platform::os::fileNameToBytes(c.text), c.escaped) << c.what;
  }
}

TEST(OsUtf, AppendsAfterWhatIsThere) {
  std::string out = "x";
  platform::os::appendUtf8(out, u"\u00E9\xDCFF", LoneSurrogate::EscapedByte);
  EXPECT_EQ(out, "x\xC3\xA9\xFF");
}

// Every byte string comes back from its UTF-16 file name, valid UTF-8 or not.
TEST(OsUtf, FileNamesRoundTripThroughTheEscapes) {
  for (std::string bytes : {std::string("plain"), std::string("\xC3\xA9t\xC3\xA9"), std::string("\xFF\xFE"),
                            std::string("\xED\xA0\x80"), std::string("\xF0\x9F\x98\x80z\x80")})
    EXPECT_EQ(platform::os::fileNameToBytes(platform::os::fileNameFromBytes(bytes)), bytes);
}

}  // namespace
