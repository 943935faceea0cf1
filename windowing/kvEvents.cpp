#include "windowing/kvEvents.h"

#include "foundation/kpExceptions.h"

namespace windowing {

namespace pw = platform::window;

// ---- TEventHandler ----

void TEventHandler::Dispose() {
  while (FFirstTable) FFirstTable->UnlinkEntry(FFirstIndex, true);
  TRefObject::Dispose();
}

// ---- TEvents ----

TEvents::TEvents(foundation::TRefObject* owner, int32_t bucketCount) : FOwner(owner) {
  FBucketCount = bucketCount > 0 ? bucketCount : 1;
  FBuckets.assign(static_cast<size_t>(FBucketCount), 0);
}

void TEvents::Dispose() {
  for (int32_t b = 0; b < FBucketCount && b < static_cast<int32_t>(FBuckets.size()); ++b)
    while (FBuckets[b] != 0) UnlinkEntry(FBuckets[b] - 1, false);
  TRefObject::Dispose();
}

int32_t TEvents::BucketOf(int32_t id) const {
  const int32_t b = id % FBucketCount;
  return b < 0 ? b + FBucketCount : b;
}

int32_t TEvents::TakeEntry() {
  if (!Valid(FFreeHead)) {
    const auto old = static_cast<int32_t>(FEntries.size());
    const int32_t grown = old == 0 ? 4 : old * 2;
    FEntries.resize(static_cast<size_t>(grown));
    for (int32_t i = old; i < grown; ++i) {
      FEntries[i] = Entry{};
      FEntries[i].BucketNext = i + 1;
    }
    FFreeHead = old;
  }
  const int32_t i = FFreeHead;
  FFreeHead = FEntries[i].BucketNext;
  return i;
}

void TEvents::LinkEntry(int32_t i, int32_t id, TEventHandler* handler) {
  if (id == FCachedId) FCachedFirst = 0;
  Entry& e = FEntries[i];
  e.Id = id;
  e.Handler = handler;
  e.BucketPrev = -1;
  const int32_t b = BucketOf(id);
  e.BucketNext = FBuckets[b] - 1;
  if (e.BucketNext >= 0) FEntries[e.BucketNext].BucketPrev = i;
  FBuckets[b] = i + 1;
  e.HPrevTable = nullptr;
  e.HPrevIndex = -1;
  e.HNextTable = handler->FFirstTable;
  e.HNextIndex = handler->FFirstIndex;
  if (handler->FFirstTable) {
    Entry& former = handler->FFirstTable->FEntries[handler->FFirstIndex];
    former.HPrevTable = this;
    former.HPrevIndex = i;
  }
  handler->FFirstTable = this;
  handler->FFirstIndex = i;
}

void TEvents::UnlinkEntry(int32_t i, bool changed) {
  if (FCachedFirst == i + 1) FCachedFirst = 0;
  Entry& e = FEntries[i];
  if (FFireCursor == i + 1) {
    const int32_t next = NextOfId(i, e.Id);
    FFireCursor = next + 1;
  }
  if (e.BucketPrev < 0) {
    const int32_t b = BucketOf(e.Id);
    QEL_ASSERT(FBuckets[b] == i + 1, "TEvents: a chain's first entry is not its bucket's");
    FBuckets[b] = e.BucketNext + 1;
  } else {
    FEntries[e.BucketPrev].BucketNext = e.BucketNext;
  }
  if (e.BucketNext >= 0) FEntries[e.BucketNext].BucketPrev = e.BucketPrev;
  TEventHandler* handler = e.Handler;
  if (e.HPrevTable) {
    Entry& prev = e.HPrevTable->FEntries[e.HPrevIndex];
    prev.HNextTable = e.HNextTable;
    prev.HNextIndex = e.HNextIndex;
  } else {
    QEL_ASSERT(handler->FFirstTable == this, "TEvents: the handler's first subscription is elsewhere");
    QEL_ASSERT(handler->FFirstIndex == i, "TEvents: the handler's first subscription is another entry");
    handler->FFirstTable = e.HNextTable;
    handler->FFirstIndex = e.HNextIndex;
  }
  if (e.HNextTable) {
    Entry& next = e.HNextTable->FEntries[e.HNextIndex];
    next.HPrevTable = e.HPrevTable;
    next.HPrevIndex = e.HPrevIndex;
  }
  e = Entry{};
  e.Id = FreeId;
  e.BucketNext = FFreeHead;
  FFreeHead = i;
  if (changed) Changed();
}

int32_t TEvents::NextOfId(int32_t i, int32_t id) const {
  int32_t j = FEntries[i].BucketNext;
  while (j >= 0 && FEntries[j].Id != id) j = FEntries[j].BucketNext;
  return j;
}

int32_t TEvents::FindFirst(int32_t id) {
  if (id == FCachedId && Valid(FCachedFirst - 1)) return FCachedFirst - 1;
  FCachedId = id;
  int32_t j = FBuckets[BucketOf(id)] - 1;
  while (j >= 0 && FEntries[j].Id != id) j = FEntries[j].BucketNext;
  FCachedFirst = j + 1;
  return j;
}

void TEvents::SubscribeTagged(int32_t id, int32_t tag, TEventHandler* handler) {
  QEL_ASSERT(handler != nullptr, "TEvents.Subscribe: no handler");
  const int32_t i = TakeEntry();
  LinkEntry(i, id, handler);
  FEntries[i].Tag = tag;
  Changed();
}

void TEvents::SubscribeIds(const std::vector<int32_t>& ids, TEventHandler* handler) {
  for (int32_t id : ids) SubscribeTagged(id, id, handler);
}

bool TEvents::Unsubscribe(int32_t id, TEventHandler* handler) {
  for (int32_t j = FindFirst(id); j >= 0; j = NextOfId(j, id)) {
    if (FEntries[j].Handler != handler) continue;
    UnlinkEntry(j, true);
    return true;
  }
  return false;
}

bool TEvents::UnsubscribeHandler(TEventHandler* handler) {
  std::vector<int32_t> mine;
  TEvents* table = handler->FFirstTable;
  int32_t index = handler->FFirstIndex;
  while (table) {
    const Entry& e = table->FEntries[index];
    if (table == this) mine.push_back(index);
    TEvents* nextTable = e.HNextTable;
    index = e.HNextIndex;
    table = nextTable;
  }
  for (int32_t i : mine) UnlinkEntry(i, false);
  if (mine.empty()) return false;
  Changed();
  return true;
}

bool TEvents::Fire(int32_t id, foundation::TRefObject* data) {
  QEL_ASSERT(FOwner != nullptr, "TEvents.Fire: no owner");
  const int32_t first = FindFirst(id);
  if (first < 0) return false;
  // The cursor of an outer fire still running on this table, with what its
  // entry held, so a slot freed and reused meanwhile is not taken for it.
  const auto count = static_cast<int32_t>(FEntries.size());
  const int32_t outer = FFireCursor - 1;
  const int32_t outerId = Valid(outer) ? FEntries[outer].Id : 0;
  TEventHandler* const outerHandler = Valid(outer) ? FEntries[outer].Handler : nullptr;
  const bool held = RefCount() > 0;
  if (held) _AddRef();
  auto restore = [&] {
    FFireCursor = (Valid(outer) && FEntries[outer].Id == outerId && FEntries[outer].Handler == outerHandler)
                      ? outer + 1
                      : 0;
    if (held) Free();
  };
  try {
    int32_t cur = first;
    while (cur >= 0 && cur < count) {
      FFireCursor = NextOfId(cur, id) + 1;
      if (FEntries[cur].Id == id) {
        TEventHandler* handler = FEntries[cur].Handler;
        const int32_t tag = FEntries[cur].Tag;
        handler->HandleEvent(FOwner, tag, data);
      }
      cur = FFireCursor - 1;
    }
  } catch (...) {
    restore();
    throw;
  }
  restore();
  return true;
}

int32_t TEvents::SubscriptionCount() const {
  int32_t n = 0;
  for (const Entry& e : FEntries)
    if (e.Id != FreeId) ++n;
  return n;
}

// ---- shift state ----

namespace {
constexpr int VK_SHIFT = 0x10, VK_CONTROL = 0x11, VK_MENU = 0x12, VK_LWIN = 0x5B, VK_RWIN = 0x5C;
constexpr uint16_t MK_LBUTTON = 1, MK_RBUTTON = 2, MK_SHIFT = 4, MK_CONTROL = 8, MK_MBUTTON = 0x10;
bool Down(int vk) { return pw::getKeyState(vk) < 0; }
uint32_t WinBit() { return (Down(VK_LWIN) || Down(VK_RWIN)) ? static_cast<uint32_t>(ssWin) : 0u; }
}  // namespace

uint32_t ShiftStateFromMouseFlags(uint16_t flags) {
  uint32_t s = WinBit();
  if (flags & MK_SHIFT) s |= ssShift;
  if (flags & MK_CONTROL) s |= ssCtrl;
  if (flags & MK_LBUTTON) s |= ssLeft;
  if (flags & MK_RBUTTON) s |= ssRight;
  if (flags & MK_MBUTTON) s |= ssMiddle;
  if (Down(VK_MENU)) s |= ssAlt;
  return s;
}

uint32_t ShiftStateFromKeyData(pw::LPARAM keyData) {
  uint32_t s = WinBit();
  if (Down(VK_SHIFT)) s |= ssShift;
  if (Down(VK_CONTROL)) s |= ssCtrl;
  if (keyData & (1 << 29)) s |= ssAlt;
  return s;
}

uint32_t ShiftStateFromWheelFlags(pw::WPARAM wParam) {
  return ShiftStateFromMouseFlags(static_cast<uint16_t>(wParam & 0xFFFF));
}

}  // namespace windowing
