// A small in-memory registry store in place of the system registry: three
// roots, each a tree of keys with typed values, empty unless something writes
// it. Nothing persists between runs. The calls keep the registry's protocol:
// status codes as results (0 success, 2 missing, 234 buffer too short, 259
// end of an enumeration), sizes in and out.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform::os {

using HKEY = uintptr_t;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

inline constexpr uint32_t KEY_READ = 0x20019;
inline constexpr uint32_t KEY_WRITE = 0x20006;
inline constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;

inline constexpr uint32_t REG_STANDARD_FORMAT = 1;

// Sub-key paths use "\" between names; names compare without regard to case.
// An empty sub-key opens the key itself (a new handle).
int32_t regOpenKeyEx(HKEY key, std::u16string_view subKey, uint32_t access, HKEY* result);
// Opens the key, creating it and its missing parents.
int32_t regCreateKeyEx(HKEY key, std::u16string_view subKey, uint32_t access, HKEY* result);
int32_t regCloseKey(HKEY key);
// Deletes a key without sub-keys (5 when it has some).
int32_t regDeleteKey(HKEY key, std::u16string_view subKey);
// nameLength: in, the buffer's size in characters (with room for a NUL); out,
// the name's length. 234 with the needed length when short, 259 past the end.
int32_t regEnumKeyEx(HKEY key, uint32_t index, char16_t* name, uint32_t* nameLength);
int32_t regEnumValue(HKEY key, uint32_t index, char16_t* name, uint32_t* nameLength, uint32_t* type,
                     uint8_t* data, uint32_t* dataSize);
// data may be null to ask the size. 2 for a missing value, 234 when short.
int32_t regQueryValueEx(HKEY key, std::u16string_view valueName, uint32_t* type, uint8_t* data,
                        uint32_t* dataSize);
int32_t regSetValueEx(HKEY key, std::u16string_view valueName, uint32_t type, const uint8_t* data,
                      uint32_t dataSize);
int32_t regDeleteValue(HKEY key, std::u16string_view valueName);
// Writes the key and its sub-keys as INI text (UTF-8) to the file; 183 when
// the file exists. Both entry points write the same text.
int32_t regSaveKey(HKEY key, std::u16string_view fileName);
int32_t regSaveKeyEx(HKEY key, std::u16string_view fileName, uint32_t flags);

// Empties the store and closes every handle (tests).
void regResetStore();

}  // namespace platform::os
