// The manual colour backend: the display's profile is whatever file the
// configuration or a test names, read by loader threads while the player
// may change it, so the name is copied under a lock.
#include <mutex>

#include "platform/color/api.h"

namespace platform::color {

namespace {
class ManualColorBackend : public ColorBackend {
 public:
  std::u16string monitorProfilePath() override {
    std::lock_guard<std::mutex> g(lock_);
    return profile_;
  }
  std::u16string colorDirectory() override { return {}; }
  std::u16string standardColorSpaceProfile(int32_t) override { return {}; }
  void set(std::u16string path) {
    std::lock_guard<std::mutex> g(lock_);
    profile_ = std::move(path);
  }

 private:
  std::mutex lock_;
  std::u16string profile_;  // guarded by lock_
};

ManualColorBackend& Manual() {
  static ManualColorBackend* backend = new ManualColorBackend();
  return *backend;
}
}  // namespace

ColorBackend* manualColorBackend() { return &Manual(); }
void setManualMonitorProfile(std::u16string path) { Manual().set(std::move(path)); }

}  // namespace platform::color
