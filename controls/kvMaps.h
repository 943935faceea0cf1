// A map from names to objects: chained hashing inside one growable array, the
// newest entry of a name found first.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "foundation/SysObj.h"
#include "foundation/kvByteString.h"

namespace controls {

struct TObjMapItem {
  foundation::TByteString Name;
  foundation::TRef<foundation::TRefObject> Object;
  int32_t Next = 0;  // the next entry of the same chain, 0 = end
  int32_t Head = 0;  // entry 0: the count in use; entry i >= 1: the head of bucket i - 1
};

class TObjMap {
 public:
  TObjMap();
  TObjMap(const TObjMap&) = delete;
  TObjMap& operator=(const TObjMap&) = delete;

  // Appends an entry holding the object's reference (taken over) without
  // looking for an existing name; the index of the new entry.
  int32_t Add(const foundation::TByteString& name, foundation::TRef<foundation::TRefObject> object);
  // The object of the newest entry with this name, nil when none.
  foundation::TRefObject* Find(const foundation::TByteString& name, bool ignoreCase) const;
  // Releases every stored object and empties the map.
  void Clear();

  int32_t Count() const { return FItems.empty() ? 0 : FItems[0].Head; }
  int32_t Length() const { return static_cast<int32_t>(FItems.size()); }

 private:
  void Link(int32_t index);
  void Grow();
  std::vector<TObjMapItem> FItems;
};

}  // namespace controls
