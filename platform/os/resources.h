// Resources of the program's own executable: a table of (type, name) ->
// bytes compiled into the binary. Generated sources (cmake/QelResources.cmake)
// fill it through an explicit registration call at start-up; nothing
// registers itself from a static constructor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace platform::os {

inline constexpr uint32_t RT_ICON = 3;
inline constexpr uint32_t RT_RCDATA = 10;
inline constexpr uint32_t RT_GROUP_ICON = 14;

struct ResourceEntry {
  uint32_t type;
  const char16_t* name;  // NUL-terminated
  const uint8_t* data;   // static storage
  size_t size;
};

// Adds entries; the bytes must stay valid for the life of the process. A
// later entry of the same type and name replaces an earlier one.
void registerResources(std::span<const ResourceEntry> entries);
void registerResource(uint32_t type, std::u16string_view name, std::span<const uint8_t> bytes);
// Removes every entry (tests).
void clearResources();

// The bytes of a resource; names compare without regard to ASCII case.
// Nothing (last error 1814, resource name not found) when absent.
std::optional<std::span<const uint8_t>> findResource(uint32_t type, std::u16string_view name);

}  // namespace platform::os
