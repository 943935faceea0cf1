// The dynamic-library service: loading by internal path and by bare name,
// entry look-up, the Windows-numbered errors and the optional-entry table.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/os/errors.h"
#include "platform/os/library.h"
#include "platform/os/paths.h"
#include "tests/support/TempTree.h"

namespace os = platform::os;
using qeltest::TempTree;

namespace {

std::u16string internalOf(const std::string& posix) { return os::fromPosixPath(posix); }

}  // namespace

TEST(OsLibrary, LoadsByInternalPathAndCallsAnEntry) {
  os::LibraryHandle lib = os::loadLibrary(internalOf(QEL_TEST_LIBRARY));
  ASSERT_NE(lib, 0u) << os::lastLibraryError();
  auto add = reinterpret_cast<int (*)(int, int)>(os::getProcAddress(lib, "qel_test_add"));
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(add(40, 2), 42);
  auto* answer = static_cast<int*>(os::getProcAddress(lib, "qel_test_answer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(*answer, 42);

  os::setLastError(0);
  EXPECT_EQ(os::getProcAddress(lib, "qel_test_missing"), nullptr);
  EXPECT_EQ(os::getLastError(), os::ERROR_PROC_NOT_FOUND);
  EXPECT_FALSE(os::lastLibraryError().empty());

  EXPECT_TRUE(os::freeLibrary(lib));
  // A freed handle is gone, and its number is never handed out again.
  EXPECT_FALSE(os::freeLibrary(lib));
  EXPECT_EQ(os::getLastError(), os::ERROR_INVALID_HANDLE);
  EXPECT_EQ(os::getProcAddress(lib, "qel_test_add"), nullptr);
  EXPECT_EQ(os::getLastError(), os::ERROR_INVALID_HANDLE);
  os::LibraryHandle again = os::loadLibrary(internalOf(QEL_TEST_LIBRARY));
  ASSERT_NE(again, 0u);
  EXPECT_NE(again, lib);
  EXPECT_TRUE(os::freeLibrary(again));
}

TEST(OsLibrary, APlugInLoadsUnderAWindowsFileName) {
  TempTree t;
  std::filesystem::copy_file(QEL_TEST_LIBRARY, t.path("qelogg.dll"));
  os::LibraryHandle lib = os::loadLibrary(t.internal("qelogg.dll"));
  ASSERT_NE(lib, 0u) << os::lastLibraryError();
  EXPECT_NE(os::getProcAddress(lib, "qel_test_add"), nullptr);
  EXPECT_TRUE(os::freeLibrary(lib));
}

TEST(OsLibrary, FailedLoadsAnswer126) {
  TempTree t;
  // A library carried by a show for another system is no ELF file.
  t.write("avcodec-59.dll", std::string("MZ\x90\0\3\0\0\0", 8) + std::string(200, 'x'));
  t.write("empty.so", "");
  const std::u16string names[] = {
      t.internal("avcodec-59.dll"), t.internal("empty.so"), t.internal("missing.so"),
      u"libqel-no-such-library.so.1", u"C:\\Windows\\qelwma.dll", u"",
  };
  for (const std::u16string& name : names) {
    os::setLastError(0);
    EXPECT_EQ(os::loadLibrary(name), 0u);
    EXPECT_EQ(os::getLastError(), os::ERROR_MOD_NOT_FOUND);
  }
  os::setLastError(0);
  EXPECT_EQ(os::loadLibrary(t.internal("avcodec-59.dll")), 0u);
  EXPECT_FALSE(os::lastLibraryError().empty());
}

TEST(OsLibrary, ABareNameGoesThroughTheSystemSearch) {
  // The C library is always loaded; dlopen finds it by its soname.
  os::LibraryHandle lib = os::loadLibrary(u"libc.so.6");
  ASSERT_NE(lib, 0u) << os::lastLibraryError();
  EXPECT_NE(os::getProcAddress(lib, "strlen"), nullptr);
  EXPECT_TRUE(os::freeLibrary(lib));
}

TEST(OsLibrary, OptionalEntriesComeFromTheTable) {
  // Libraries with no present entry fail to load, as where they are missing.
  for (const char16_t* name : {u"Wmasf.dll", u"WmvCore.dll", u"WtsApi32", u"shell32.dll"}) {
    os::setLastError(0);
    EXPECT_EQ(os::loadLibrary(name), 0u) << std::string(name, name + std::char_traits<char16_t>::length(name));
    EXPECT_EQ(os::getLastError(), os::ERROR_MOD_NOT_FOUND);
  }
  // Names are matched without regard to case, ".dll" optional.
  os::LibraryHandle dwm = os::loadLibrary(u"DWMAPI.DLL");
  os::LibraryHandle dwm2 = os::loadLibrary(u"dwmapi");
  ASSERT_NE(dwm, 0u);
  ASSERT_NE(dwm2, 0u);
  EXPECT_NE(dwm, dwm2);
  // An absent entry is 127 even when its library loads.
  os::setLastError(0);
  EXPECT_EQ(os::getProcAddress(dwm, "DwmSetWindowAttribute"), nullptr);
  EXPECT_EQ(os::getLastError(), os::ERROR_PROC_NOT_FOUND);
  // A present entry answers the function its area registered.
  static int served = 0;
  auto serve = +[]() -> int { return ++served; };
  EXPECT_TRUE(os::registerOptionalEntry(u"dwmapi.dll", "DwmIsCompositionEnabled", reinterpret_cast<void*>(serve)));
  auto fn = reinterpret_cast<int (*)()>(os::getProcAddress(dwm2, "DwmIsCompositionEnabled"));
  ASSERT_EQ(fn, serve);
  EXPECT_EQ(fn(), 1);
  // Only present entries of the table can be served.
  EXPECT_FALSE(os::registerOptionalEntry(u"dwmapi", "DwmSetWindowAttribute", reinterpret_cast<void*>(serve)));
  EXPECT_FALSE(os::registerOptionalEntry(u"dwmapi", "NoSuchEntry", reinterpret_cast<void*>(serve)));
  EXPECT_FALSE(os::registerOptionalEntry(u"Z:\\lib\\dwmapi.dll", "DwmIsCompositionEnabled",
                                         reinterpret_cast<void*>(serve)));
  EXPECT_EQ(os::getProcAddress(dwm, "DwmSetWindowAttribute"), nullptr);
  EXPECT_TRUE(os::freeLibrary(dwm));
  EXPECT_TRUE(os::freeLibrary(dwm2));
}
