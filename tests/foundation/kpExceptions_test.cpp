#include "foundation/kpExceptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/os/errors.h"

using namespace foundation;

namespace {

class EStreamWriteError : public TCommonException {
 public:
  using TCommonException::TCommonException;
};

class ECustomDefault : public TCommonException {
 protected:
  void SetDefaultMessage() override { SetMessage(u"custom default"); }
};

TEST(Exceptions, DefaultMessageNamesTheClass) {
  EStreamWriteError e;
  EXPECT_EQ(e.Message(), u"Orvane Exception: \"EStreamWriteError\"");
  EXPECT_STREQ(e.what(), "Orvane Exception: \"EStreamWriteError\"");
  EXPECT_EQ(ECustomDefault().Message(), u"custom default");
  EXPECT_EQ(EStreamWriteError(u"given").Message(), u"given");
}

TEST(Exceptions, CaughtThroughTheRootAndAsStdException) {
  try {
    throw EStreamWriteError(u"caf\u00E9 \U0001F600");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "caf\xC3\xA9 \xF0\x9F\x98\x80");
  }
  try {
    throw EStreamWriteError("utf8 \xC3\xA9");
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"utf8 \u00E9");
  }
}

TEST(Exceptions, AssertionCarriesMessageFileAndLine) {
  int line = 0;
  try {
    line = __LINE__ + 1;
    QEL_ASSERT(1 + 1 == 3, u"arith");
    FAIL();
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), u"arith");
    EXPECT_NE(e.File().find("kpExceptions_test.cpp"), std::string::npos);
    EXPECT_EQ(e.Line(), line);
  }
  EXPECT_NO_THROW(QEL_ASSERT(true, ""));
  try {
    QelAssertFail("");
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), u"");
  }
}

TEST(Exceptions, LastSystemErrorRaisesItsCodeAndText) {
  platform::os::setLastError(platform::os::ERROR_FILE_NOT_FOUND);
  try {
    RaiseLastSystemError();
    FAIL();
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), 2u);
    EXPECT_NE(e.Message().find(GetSystemErrorMessage(2)), std::u16string::npos);
  }
  platform::os::setLastError(0);
  try {
    RaiseLastSystemError();
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), 0u);
  }
  EXPECT_NE(GetSystemErrorMessage(2), GetSystemErrorMessage(5));
  EXPECT_EQ(GetSystemErrorMessage(99999), u"Unknown error 99999");
}

TEST(Exceptions, ExceptionObjectAndAddressOnlyInsideAHandler) {
  EXPECT_FALSE(GetExceptionObject());
  EXPECT_EQ(GetExceptionAddress(), nullptr);
  try {
    throw TCommonException(u"x");
  } catch (...) {
    EXPECT_TRUE(GetExceptionObject());
    EXPECT_NE(GetExceptionAddress(), nullptr);
  }
  try {
    throw 42;
  } catch (...) {
    EXPECT_TRUE(GetExceptionObject());
    EXPECT_EQ(GetExceptionAddress(), nullptr);
  }
}

std::vector<std::u16string> gShown;
void Record(const std::u16string& caption, const std::u16string& text) { gShown.push_back(caption + u"|" + text); }

TEST(Exceptions, ShowExceptionMessageGoesThroughTheDisplay) {
  gShown.clear();
  TExceptionDisplay old = SetExceptionDisplay(&Record);
  try {
    throw EStreamWriteError(u"disk gone");
  } catch (...) {
    ShowExceptionMessage(GetExceptionObject(), GetExceptionAddress());
  }
  SetExceptionDisplay(old);
  ASSERT_EQ(gShown.size(), 1u);
  EXPECT_EQ(gShown[0].rfind(u"Error|Exception EStreamWriteError at ", 0), 0u);
  EXPECT_NE(gShown[0].find(u"\r\ndisk gone."), std::u16string::npos);
}

TEST(Exceptions, Utf8RoundTripAndDamagedInput) {
  std::u16string t = u"A\u00E9\u20AC\U0001F600";
  EXPECT_EQ(MessageFromUtf8(MessageToUtf8(t)), t);
  EXPECT_EQ(MessageToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");  // lone surrogate
  EXPECT_EQ(MessageFromUtf8("a\xC3"), u"a\uFFFD");                          // cut sequence
  EXPECT_EQ(MessageFromUtf8("\xFF" "b"), u"\uFFFD" u"b");
}

}  // namespace
