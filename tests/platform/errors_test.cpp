#include "platform/os/errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

using namespace platform::os;

namespace {

TEST(LastError, IsPerThread) {
  setLastError(ERROR_ACCESS_DENIED);
  uint32_t other = 12345;
  std::thread([&] {
    other = getLastError();
    setLastError(ERROR_DISK_FULL);
  }).join();
  EXPECT_EQ(other, 0u);
  EXPECT_EQ(getLastError(), ERROR_ACCESS_DENIED);
}

TEST(LastError, ErrnoMapping) {
  struct Case {
    int err;
    uint32_t code;
  } cases[] = {{0, 0},          {ENOENT, 2},   {ENOTDIR, 3},   {EACCES, 5},       {EPERM, 5},
               {EROFS, 5},      {EBADF, 6},    {ENOMEM, 8},    {EEXIST, 80},      {EINVAL, 87},
               {ENOSPC, 112},   {EDQUOT, 112}, {ENAMETOOLONG, 123}, {ENOTEMPTY, 145}};
  for (const Case& c : cases) EXPECT_EQ(errorFromErrno(c.err), c.code) << c.err;
  EXPECT_EQ(errorFromErrno(EPIPE), 0x20000000u | EPIPE);
  EXPECT_EQ(setLastErrorFromErrno(ENOENT), 2u);
  EXPECT_EQ(getLastError(), 2u);
}

TEST(LastError, MessagesForEveryProducedCode) {
  for (uint32_t code : {0u, 2u, 3u, 5u, 6u, 8u, 18u, 32u, 80u, 87u, 112u, 123u, 126u, 127u, 145u, 183u, 234u, 259u}) {
    std::u16string m = errorMessage(code);
    EXPECT_FALSE(m.empty());
    EXPECT_NE(m.rfind(u"Unknown error", 0), 0u) << code;
  }
  EXPECT_EQ(errorMessage(4242), u"Unknown error 4242");
}

}  // namespace
