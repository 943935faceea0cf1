#include "platform/os/resources.h"

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/os/errors.h"

namespace platform::os {

namespace {

constexpr uint32_t ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

std::u16string upper(std::u16string_view s) {
  std::u16string r(s);
  for (char16_t& c : r)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return r;
}

std::mutex& tableLock() {
  static std::mutex m;
  return m;
}

std::map<std::pair<uint32_t, std::u16string>, std::span<const uint8_t>>& table() {
  static auto* t = new std::map<std::pair<uint32_t, std::u16string>, std::span<const uint8_t>>();
  return *t;
}

}  // namespace

void registerResources(std::span<const ResourceEntry> entries) {
  std::lock_guard<std::mutex> g(tableLock());
  for (const ResourceEntry& e : entries) table()[{e.type, upper(e.name)}] = std::span<const uint8_t>(e.data, e.size);
}

void registerResource(uint32_t type, std::u16string_view name, std::span<const uint8_t> bytes) {
  std::lock_guard<std::mutex> g(tableLock());
  table()[{type, upper(name)}] = bytes;
}

void clearResources() {
  std::lock_guard<std::mutex> g(tableLock());
  table().clear();
}

std::optional<std::span<const uint8_t>> findResource(uint32_t type, std::u16string_view name) {
  std::lock_guard<std::mutex> g(tableLock());
  auto it = table().find({type, upper(name)});
  if (it == table().end()) {
    setLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return std::nullopt;
  }
  return it->second;
}

}  // namespace platform::os
