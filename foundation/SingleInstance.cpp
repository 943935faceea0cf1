#include "foundation/SingleInstance.h"

#include <mutex>

#include "foundation/kpStringUtils.h"
#include "foundation/kvFileAPI.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvHashUtils.h"
#include "platform/os/process.h"

namespace foundation {

namespace {
std::mutex g_mutex;
std::string g_name;
platform::os::NamedMutex g_handle = nullptr;
}  // namespace

std::string InstanceMutexName(const std::u16string& path) {
  const std::u16string folder = ExtractFilePath(path, false);
  const std::u16string name = ExtractFileName(path);
  const std::string decimals = std::to_string(HashUnicodeString(path)) + std::to_string(HashUnicodeString(folder)) +
                               std::to_string(HashUnicodeString(name));
  return "Instance_ID" + decimals + UnicodeToAnsi(name);
}

void CreateInstanceMutex() {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (g_handle) return;
  g_name = InstanceMutexName(FileApi().GetModuleFileName(0));
  g_handle = platform::os::openOrCreateNamedMutex(g_name);
}

bool IsAnotherInstanceRunning() {
  std::lock_guard<std::mutex> guard(g_mutex);
  if (!g_handle) return true;
  switch (platform::os::tryTakeNamedMutex(g_handle)) {
    case platform::os::WaitResult::Signaled:
    case platform::os::WaitResult::Abandoned:
      return false;
    default:
      return true;
  }
}

const std::string& InstanceMutexNameOfProcess() { return g_name; }

}  // namespace foundation
