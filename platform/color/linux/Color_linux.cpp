// The Linux colour backend. The display's profile is named by the
// environment (QEL_MONITOR_ICC) when set to an existing file; without it the
// display offers none, so images stay sRGB. Installed profiles live in the
// system's ICC folder; standard colour spaces have no profile files here.
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/color/api.h"
#include "platform/os/paths.h"

namespace platform::color {

namespace {

bool IsRegularFile(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const char* path) {
  struct stat st;
  return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

class LinuxColorBackend : public ColorBackend {
 public:
  std::u16string monitorProfilePath() override {
    const char* file = std::getenv("QEL_MONITOR_ICC");
    if (!file || !*file || !IsRegularFile(file)) return {};
    if (file[0] == '/') return os::fromPosixPath(file);
    char* full = ::realpath(file, nullptr);
    if (!full) return {};
    std::u16string answer = os::fromPosixPath(full);
    std::free(full);
    return answer;
  }
  std::u16string colorDirectory() override {
    static const char kFolder[] = "/usr/share/color/icc/";
    if (!IsFolder(kFolder)) return {};
    return os::fromPosixPath(kFolder);
  }
  std::u16string standardColorSpaceProfile(int32_t) override { return {}; }
};

}  // namespace

ColorBackend* linuxColorBackend() {
  static LinuxColorBackend backend;
  return &backend;
}

}  // namespace platform::color
