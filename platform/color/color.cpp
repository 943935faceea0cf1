#include "platform/color/api.h"

#include <atomic>

#include "platform/os/library.h"

namespace platform::color {

namespace {
std::atomic<ColorBackend*> g_backend{nullptr};

ColorBackend* Backend() {
  ColorBackend* b = g_backend.load(std::memory_order_acquire);
  return b ? b : linuxColorBackend();
}
}  // namespace

ColorBackend* setColorBackend(ColorBackend* backend) { return g_backend.exchange(backend, std::memory_order_acq_rel); }

std::u16string getICMProfile() { return Backend()->monitorProfilePath(); }
std::u16string getColorDirectory() { return Backend()->colorDirectory(); }
std::u16string getStandardColorSpaceProfile(int32_t space) { return Backend()->standardColorSpaceProfile(space); }

void registerColorEntries() {
  ColorDirectoryEntry directory = &getColorDirectory;
  StandardColorSpaceProfileEntry standard = &getStandardColorSpaceProfile;
  os::registerOptionalEntry(u"Mscms.dll", "GetColorDirectoryW", reinterpret_cast<void*>(directory));
  os::registerOptionalEntry(u"Mscms.dll", "GetStandardColorSpaceProfileW", reinterpret_cast<void*>(standard));
}

}  // namespace platform::color
