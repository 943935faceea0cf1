#include "platform/os/codepages.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/os/errors.h"

namespace os = platform::os;

namespace {

std::u16string ToWide(uint32_t cp, const std::string& bytes) {
  const int n = os::multiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  const int m = os::multiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  EXPECT_EQ(n, m);
  return out;
}

std::string ToBytes(uint32_t cp, const std::u16string& text, bool* usedDefault = nullptr) {
  const int n = os::wideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  const int m = os::wideCharToMultiByte(cp, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                                        nullptr, usedDefault);
  EXPECT_EQ(n, m);
  return out;
}

// Restores the ANSI code page a test changed.
class AnsiCodePageGuard {
 public:
  AnsiCodePageGuard() : FSaved(os::getACP()) {}
  ~AnsiCodePageGuard() { os::setAnsiCodePage(FSaved); }

 private:
  uint32_t FSaved;
};

}  // namespace

TEST(CodePages, AnsiIsWindows1252ByDefault) {
  EXPECT_EQ(os::getACP(), 1252u);
  EXPECT_EQ(os::getOEMCP(), 437u);
  EXPECT_EQ(ToWide(os::CP_ACP, "\x80 caf\xE9 \x9F"), u"\u20AC caf\u00E9 \u0178");
  EXPECT_EQ(ToBytes(os::CP_ACP, u"\u20AC caf\u00E9 \u0178"), "\x80 caf\xE9 \x9F");
}

TEST(CodePages, UndefinedBytesStandForThemselvesAndUnmappableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(ToWide(os::CP_ACP, "a\x81z\x9D"), u"a\u0081z\u009D");
  bool usedDefault = false;
  // Omega, a lone surrogate and a whole pair each give one "?".
  EXPECT_EQ(ToBytes(os::CP_ACP, u"x\u03A9y\xD800z\U0001F600", &usedDefault), "x?y?z?");
  EXPECT_TRUE(usedDefault);
  usedDefault = true;
  EXPECT_EQ(ToBytes(os::CP_ACP, u"plain", &usedDefault), "plain");
  EXPECT_FALSE(usedDefault);
}

TEST(CodePages, SizeProtocolAndBadArguments) {
  char16_t small[2];
  EXPECT_EQ(os::multiByteToWideChar(os::CP_ACP, 0, "abc", 3, small, 2), 0);
  EXPECT_EQ(os::getLastError(), os::ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(os::multiByteToWideChar(os::CP_ACP, 0, "abc", -1, nullptr, 0), 4);  // with the terminating 0
  EXPECT_EQ(os::multiByteToWideChar(os::CP_ACP, 0, "abc", 0, nullptr, 0), 0);
  EXPECT_EQ(os::getLastError(), os::ERROR_INVALID_PARAMETER);
  char bytes[1];
  EXPECT_EQ(os::wideCharToMultiByte(os::CP_ACP, 0, u"ab", 2, bytes, 1, nullptr, nullptr), 0);
  EXPECT_EQ(os::getLastError(), os::ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(os::multiByteToWideChar(123456, 0, "a", 1, nullptr, 0), 0);
}

TEST(CodePages, Utf8WritesSurrogateHalvesSeparatelyAndReadsBothForms) {
  const std::u16string smile = u"\U0001F600";
  EXPECT_EQ(ToBytes(os::CP_UTF8, smile), "\xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(ToWide(os::CP_UTF8, "\xED\xA0\xBD\xED\xB8\x80"), smile);
  EXPECT_EQ(ToWide(os::CP_UTF8, "\xF0\x9F\x98\x80"), smile);
  EXPECT_EQ(ToBytes(os::CP_UTF8, u"\u00E9\u20AC"), "\xC3\xA9\xE2\x82\xAC");
  // Malformed input never reads past its end; each bad byte is replaced.
  EXPECT_EQ(ToWide(os::CP_UTF8, "a\xC3"), u"a\uFFFD");
  EXPECT_EQ(ToWide(os::CP_UTF8, "\x80\xF5\x80\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(CodePages, AnsiCodePageIsASetting) {
  AnsiCodePageGuard guard;
  EXPECT_FALSE(os::setAnsiCodePage(987654));
  EXPECT_EQ(os::getACP(), 1252u);
  ASSERT_TRUE(os::setAnsiCodePage(1251));
  EXPECT_EQ(ToWide(os::CP_ACP, "\xC0\xE0"), u"\u0410\u0430");
  EXPECT_EQ(ToBytes(os::CP_ACP, u"\u0410\u0430"), "\xC0\xE0");
  // The OEM code page is separate.
  EXPECT_EQ(ToWide(os::CP_OEMCP, "\x82"), u"\u00E9");
}

TEST(CodePages, CaseMappingPerUnit) {
  std::u16string text = u"abc\u00E9\u03C3\xD801\xDC28z";
  EXPECT_EQ(os::charUpperBuff(text.data(), static_cast<uint32_t>(text.size())), text.size());
  EXPECT_EQ(text, u"ABC\u00C9\u03A3\xD801\xDC28Z");  // surrogate halves are left alone
  EXPECT_EQ(os::charLowerBuff(text.data(), 4), 4u);
  EXPECT_EQ(text, u"abc\u00E9\u03A3\xD801\xDC28Z");
}
