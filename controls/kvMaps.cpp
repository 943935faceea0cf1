#include "controls/kvMaps.h"

#include <utility>

namespace controls {

namespace {
constexpr int32_t kFirstLength = 33;  // 32 buckets and the header
}

TObjMap::TObjMap() { FItems.resize(kFirstLength); }

void TObjMap::Link(int32_t index) {
  // Buckets come from the case-insensitive hash, so a case-insensitive lookup
  // walks the same chain as an exact one.
  const uint32_t mask = static_cast<uint32_t>(FItems.size()) - 2;
  const uint32_t bucket = FItems[static_cast<size_t>(index)].Name.HashTextRange() & mask;
  TObjMapItem& head = FItems[bucket + 1];
  FItems[static_cast<size_t>(index)].Next = head.Head;
  head.Head = index;
}

void TObjMap::Grow() {
  const size_t length = FItems.size() * 2 - 1;
  std::vector<TObjMapItem> items(length);
  const int32_t count = FItems[0].Head;
  for (int32_t i = 1; i <= count; ++i) {
    items[static_cast<size_t>(i)].Name = std::move(FItems[static_cast<size_t>(i)].Name);
    items[static_cast<size_t>(i)].Object = std::move(FItems[static_cast<size_t>(i)].Object);
  }
  items[0].Head = count;
  FItems = std::move(items);
  for (int32_t i = 1; i <= count; ++i) Link(i);
}

int32_t TObjMap::Add(const foundation::TByteString& name, foundation::TRef<foundation::TRefObject> object) {
  if (FItems.empty()) FItems.resize(kFirstLength);
  if (FItems[0].Head >= static_cast<int32_t>(FItems.size()) - 1) Grow();
  const int32_t index = ++FItems[0].Head;
  TObjMapItem& item = FItems[static_cast<size_t>(index)];
  item.Name = name;
  item.Object = std::move(object);
  Link(index);
  return index;
}

foundation::TRefObject* TObjMap::Find(const foundation::TByteString& name, bool ignoreCase) const {
  if (FItems.size() < 3) return nullptr;
  const uint32_t mask = static_cast<uint32_t>(FItems.size()) - 2;
  const uint32_t bucket = name.HashTextRange() & mask;
  for (int32_t i = FItems[bucket + 1].Head; i > 0; i = FItems[static_cast<size_t>(i)].Next) {
    const TObjMapItem& item = FItems[static_cast<size_t>(i)];
    const bool same = ignoreCase ? item.Name.CompareTextSub(name) == 0
                                 : item.Name.View() == name.View();
    if (same) return item.Object.Get();
  }
  return nullptr;
}

void TObjMap::Clear() {
  // The array is detached first so a released object that reaches back into
  // the map finds it empty.
  std::vector<TObjMapItem> old = std::move(FItems);
  FItems.clear();
  FItems.resize(kFirstLength);
  old.clear();
}

}  // namespace controls
