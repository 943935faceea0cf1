#include "foundation/kvRegistry.h"

#include <vector>

namespace foundation {

namespace os = platform::os;

namespace {

constexpr int32_t kSuccess = 0;
constexpr int32_t kMoreData = 234;
constexpr uint32_t kFirstBuffer = 260;
constexpr uint32_t kLargeBuffer = 16384;

// Whether the save call with a format flag was found at start-up. The store
// offers both calls, so start-up always finds it.
bool gHasSaveKeyEx = false;

TRegistry* NewRegistry() { return new TRegistry(); }

}  // namespace

TCreateRegistryObject CreateRegistryObject = nullptr;

void InitRegistry() {
  CreateRegistryObject = &NewRegistry;
  gHasSaveKeyEx = true;
}

TRegistry::TRegistry() = default;

void TRegistry::Dispose() {
  CloseKey();
  TRefObject::Dispose();
}

bool TRegistry::ApiEnumKey(HKEY key, uint32_t index, std::u16string& name) {
  std::vector<char16_t> buffer(kFirstBuffer);
  uint32_t length = kFirstBuffer;
  int32_t r = os::regEnumKeyEx(key, index, buffer.data(), &length);
  if (r == kMoreData) {
    uint32_t size = length + 1 > kFirstBuffer ? length + 1 : kLargeBuffer;
    buffer.assign(size, 0);
    length = size;
    r = os::regEnumKeyEx(key, index, buffer.data(), &length);
  }
  if (r != kSuccess) return false;
  name.assign(buffer.data(), length);
  return true;
}

bool TRegistry::ApiCreateKey(HKEY key, const std::u16string& subKey, uint32_t access, HKEY& result) {
  return os::regCreateKeyEx(key, subKey, access, &result) == kSuccess;
}

bool TRegistry::ApiDeleteKey(HKEY key, const std::u16string& subKey) {
  return os::regDeleteKey(key, subKey) == kSuccess;
}

bool TRegistry::ApiOpenKey(HKEY key, const std::u16string& subKey, uint32_t access, HKEY& result) {
  return os::regOpenKeyEx(key, subKey, access, &result) == kSuccess;
}

bool TRegistry::ApiCloseKey(HKEY key) { return os::regCloseKey(key) == kSuccess; }

bool TRegistry::ApiSaveKey(HKEY key, const std::u16string& fileName) {
  if (gHasSaveKeyEx) return os::regSaveKeyEx(key, fileName, os::REG_STANDARD_FORMAT) == kSuccess;
  return os::regSaveKey(key, fileName) == kSuccess;
}

bool TRegistry::ApiEnumValue(HKEY key, uint32_t index, char16_t* name, uint32_t& nameLength, uint32_t& type,
                             uint8_t* data, uint32_t* dataSize) {
  return os::regEnumValue(key, index, name, &nameLength, &type, data, dataSize) == kSuccess;
}

bool TRegistry::ApiDeleteValue(HKEY key, const std::u16string& valueName) {
  return os::regDeleteValue(key, valueName) == kSuccess;
}

bool TRegistry::ApiQueryValue(HKEY key, const std::u16string& valueName, uint32_t& type, uint8_t* data,
                              uint32_t& dataSize) {
  return os::regQueryValueEx(key, valueName, &type, data, &dataSize) == kSuccess;
}

bool TRegistry::ApiSetValue(HKEY key, const std::u16string& valueName, uint32_t type,
                            std::span<const uint8_t> data) {
  return os::regSetValueEx(key, valueName, type, data.data(), static_cast<uint32_t>(data.size())) == kSuccess;
}

bool TRegistry::ApiSetValueEx(HKEY key, const std::u16string& valueName, uint32_t type, const void* data,
                              uint32_t dataSize) {
  return os::regSetValueEx(key, valueName, type, static_cast<const uint8_t*>(data), dataSize) == kSuccess;
}

bool TRegistry::OpenKey(HKEY root, const std::u16string& path, int accessIndex) {
  CloseKey();
  uint32_t access = accessIndex >= 0 && accessIndex <= 2 ? RegistryAccess[accessIndex] : RegistryAccess[0];
  HKEY key = 0;
  FOpen = ApiOpenKey(root, path, access, key);
  FKey = FOpen ? key : 0;
  return FOpen;
}

void TRegistry::CloseKey() {
  if (!FOpen) return;
  ApiCloseKey(FKey);
  FKey = 0;
  FOpen = false;
}

int64_t TRegistry::GetDataSize(const std::u16string& valueName) {
  if (!FOpen) return -1;
  uint32_t type = 0, size = 0;
  if (!ApiQueryValue(FKey, valueName, type, nullptr, size)) return -1;
  return size;
}

bool TRegistry::TryReadString(const std::u16string& valueName, std::u16string& text) {
  int64_t size = GetDataSize(valueName);
  if (size < 0) return false;
  if (size < 3) {
    text.clear();
    return true;
  }
  std::u16string buffer(static_cast<size_t>(size / 2), u'\0');
  uint32_t type = 0;
  uint32_t got = static_cast<uint32_t>(buffer.size() * 2);
  if (!ApiQueryValue(FKey, valueName, type, reinterpret_cast<uint8_t*>(buffer.data()), got)) {
    text.clear();
    return false;
  }
  size_t chars = got / 2;
  buffer.resize(chars > 0 ? chars - 1 : 0);
  text = buffer;
  return true;
}

std::u16string TRegistry::ReadString(const std::u16string& valueName, const std::u16string& defaultValue) {
  std::u16string text;
  return TryReadString(valueName, text) ? text : defaultValue;
}

}  // namespace foundation
