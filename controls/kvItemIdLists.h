// Shell item-id lists at the byte level: a list is a sequence of items, each
// starting with its 16-bit little-endian byte count (the count included),
// ended by a 16-bit zero. Also the rule that splits a path into the
// component the shell resolves first and the rest. The shell folders
// themselves are not available on this platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace controls {

// The list's size including its terminator: 0 for nil, and 0 for a list
// that is malformed within the available bytes (an item count below 2, or
// an item or terminator running past them).
size_t ItemIdListSize(const uint8_t* list, size_t available);
// The first list without its terminator followed by the whole second (the
// first may be nil). Empty when either is malformed.
std::vector<uint8_t> ConcatItemIdLists(const uint8_t* first, size_t firstAvailable, const uint8_t* second,
                                       size_t secondAvailable);

// Splits off the first component: a network server ("\\server": every
// leading backslash and the name), a drive with the backslashes after it
// ("C:\"), or a name up to the first backslash. The rest is everything after
// the separating backslash (empty when there is none).
void SplitFirstPathComponent(const std::u16string& path, std::u16string& first, std::u16string& rest);

}  // namespace controls
