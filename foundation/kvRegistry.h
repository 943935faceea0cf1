// Keyed access to the registry: one open key at a time, string reads with
// defaults, and thin wrappers of the registry calls. Objects are made only
// through the CreateRegistryObject factory, so the registry layer can be
// exchanged.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "foundation/SysObj.h"
#include "platform/os/api.h"

namespace foundation {

using HKEY = platform::os::HKEY;

// Access rights by index: 0 KEY_READ, 1 KEY_WRITE, 2 KEY_ALL_ACCESS.
inline constexpr uint32_t RegistryAccess[3] = {platform::os::KEY_READ, platform::os::KEY_WRITE,
                                               platform::os::KEY_ALL_ACCESS};

class TRegistry : public TRefObject {
 public:
  QEL_CLASSNAME(TRegistry)
  TRegistry();
  void Dispose() override;

  // The thin wrappers: true when the call answered success.
  // Enumerates a sub-key name, growing the buffer when it is short.
  virtual bool ApiEnumKey(HKEY key, uint32_t index, std::u16string& name);
  virtual bool ApiCreateKey(HKEY key, const std::u16string& subKey, uint32_t access, HKEY& result);
  virtual bool ApiDeleteKey(HKEY key, const std::u16string& subKey);
  virtual bool ApiOpenKey(HKEY key, const std::u16string& subKey, uint32_t access, HKEY& result);
  virtual bool ApiCloseKey(HKEY key);
  virtual bool ApiSaveKey(HKEY key, const std::u16string& fileName);
  virtual bool ApiEnumValue(HKEY key, uint32_t index, char16_t* name, uint32_t& nameLength, uint32_t& type,
                            uint8_t* data, uint32_t* dataSize);
  virtual bool ApiDeleteValue(HKEY key, const std::u16string& valueName);
  virtual bool ApiQueryValue(HKEY key, const std::u16string& valueName, uint32_t& type, uint8_t* data,
                             uint32_t& dataSize);
  virtual bool ApiSetValue(HKEY key, const std::u16string& valueName, uint32_t type,
                           std::span<const uint8_t> data);
  virtual bool ApiSetValueEx(HKEY key, const std::u16string& valueName, uint32_t type, const void* data,
                             uint32_t dataSize);

  // Closes the current key, then opens root\path with the indexed access.
  bool OpenKey(HKEY root, const std::u16string& path, int accessIndex);
  void CloseKey();
  // The value's size in bytes; -1 without an open key or when it cannot be
  // queried.
  int64_t GetDataSize(const std::u16string& valueName);
  // Any value read as UTF-16 text without its terminating NUL.
  bool TryReadString(const std::u16string& valueName, std::u16string& text);
  std::u16string ReadString(const std::u16string& valueName, const std::u16string& defaultValue);

  HKEY Key() const { return FKey; }
  bool IsOpen() const { return FOpen; }

 protected:
  HKEY FKey = 0;
  bool FOpen = false;
};

// The factory every caller uses; InitRegistry sets it to create a TRegistry.
using TCreateRegistryObject = TRegistry* (*)();
// Start-up only: set before any thread runs, then read without a lock.
extern TCreateRegistryObject CreateRegistryObject;

// Unit start-up: the factory, and whether the extended save call exists.
void InitRegistry();

}  // namespace foundation
