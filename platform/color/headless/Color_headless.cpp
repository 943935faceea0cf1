// The headless colour backend: a machine without a display has no display
// profile, and its installed profiles are not consulted, so every run sees
// the same sRGB answers.
#include "platform/color/api.h"

namespace platform::color {

namespace {
class HeadlessColorBackend : public ColorBackend {
 public:
  std::u16string monitorProfilePath() override { return {}; }
  std::u16string colorDirectory() override { return {}; }
  std::u16string standardColorSpaceProfile(int32_t) override { return {}; }
};
}  // namespace

ColorBackend* headlessColorBackend() {
  static HeadlessColorBackend* backend = new HeadlessColorBackend();
  return backend;
}

}  // namespace platform::color
