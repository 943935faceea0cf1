#include "controls/kvItemIdLists.h"

namespace controls {

size_t ItemIdListSize(const uint8_t* list, size_t available) {
  if (!list) return 0;
  size_t pos = 0;
  for (;;) {
    if (available < 2 || pos > available - 2) return 0;
    const size_t count = size_t(list[pos]) | size_t(list[pos + 1]) << 8;
    if (count == 0) return pos + 2;
    // A count below 2 would never move past its own header.
    if (count < 2 || count > available - pos) return 0;
    pos += count;
  }
}

std::vector<uint8_t> ConcatItemIdLists(const uint8_t* first, size_t firstAvailable, const uint8_t* second,
                                       size_t secondAvailable) {
  const size_t a = first ? ItemIdListSize(first, firstAvailable) : 2;
  const size_t b = ItemIdListSize(second, secondAvailable);
  if (a == 0 || b == 0) return {};
  std::vector<uint8_t> out;
  out.reserve(a - 2 + b);
  if (first) out.insert(out.end(), first, first + (a - 2));
  out.insert(out.end(), second, second + b);
  return out;
}

void SplitFirstPathComponent(const std::u16string& path, std::u16string& first, std::u16string& rest) {
  first.clear();
  rest.clear();
  if (path.empty()) return;
  size_t end = 0;
  if (path[0] == u'\\') {
    while (end < path.size() && path[end] == u'\\') ++end;
    while (end < path.size() && path[end] != u'\\') ++end;
    first = path.substr(0, end);
  } else {
    while (end < path.size() && path[end] != u'\\') ++end;
    first = path.substr(0, end);
    if (!first.empty() && first.back() == u':') {
      size_t after = end;
      while (after < path.size() && path[after] == u'\\') ++after;
      first = path.substr(0, after);
      rest = path.substr(after);
      return;
    }
  }
  if (end < path.size()) rest = path.substr(end + 1);
}

}  // namespace controls
