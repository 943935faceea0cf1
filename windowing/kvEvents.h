// Event tables: a map from event id to subscribed handler objects, fired
// newest subscription first; a handler keeps the chain of its subscriptions
// in every table, so either side may go first. Main thread only. Also the
// shift-state bits input events carry.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/SysObj.h"
#include "platform/window/api.h"

namespace windowing {

class TEvents;

class TEventHandler : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TEventHandler)
  void Dispose() override;
  virtual void HandleEvent(foundation::TRefObject* sender, int32_t tag, foundation::TRefObject* data) {}
  // The table and index of the newest subscription (no table: none).
  TEvents* FirstTable() const { return FFirstTable; }

 private:
  friend class TEvents;
  TEvents* FFirstTable = nullptr;
  int32_t FFirstIndex = -1;
};

class TEvents : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TEvents)
  TEvents(foundation::TRefObject* owner, int32_t bucketCount);
  void Dispose() override;
  virtual void Changed() {}

  void SubscribeTagged(int32_t id, int32_t tag, TEventHandler* handler);
  void Subscribe(int32_t id, TEventHandler* handler) { SubscribeTagged(id, id, handler); }
  void SubscribeIds(const std::vector<int32_t>& ids, TEventHandler* handler);
  bool Unsubscribe(int32_t id, TEventHandler* handler);
  bool UnsubscribeHandler(TEventHandler* handler);
  bool Fire(int32_t id, foundation::TRefObject* data);

  foundation::TRefObject* Owner() const { return FOwner; }
  void SetOwner(foundation::TRefObject* owner) { FOwner = owner; }
  // Subscriptions in use (tests).
  int32_t SubscriptionCount() const;
  int32_t EntryCapacity() const { return static_cast<int32_t>(FEntries.size()); }

  static constexpr int32_t FreeId = -2147483647;

 private:
  friend class TEventHandler;
  struct Entry {
    int32_t Id = FreeId;
    int32_t Tag = 0;
    TEventHandler* Handler = nullptr;
    int32_t BucketNext = -1;
    int32_t BucketPrev = -1;
    TEvents* HNextTable = nullptr;
    int32_t HNextIndex = -1;
    TEvents* HPrevTable = nullptr;
    int32_t HPrevIndex = -1;
  };
  int32_t TakeEntry();
  void LinkEntry(int32_t i, int32_t id, TEventHandler* handler);
  void UnlinkEntry(int32_t i, bool changed);
  int32_t FindFirst(int32_t id);
  int32_t NextOfId(int32_t i, int32_t id) const;
  int32_t BucketOf(int32_t id) const;
  bool Valid(int32_t i) const { return i >= 0 && i < static_cast<int32_t>(FEntries.size()); }

  foundation::TRefObject* FOwner = nullptr;
  std::vector<Entry> FEntries;
  int32_t FFreeHead = 0;
  std::vector<int32_t> FBuckets;
  int32_t FBucketCount = 1;
  int32_t FFireCursor = 0;
  int32_t FCachedId = 0;
  int32_t FCachedFirst = 0;
};

// Shift-state bits.
enum : uint32_t {
  ssWin = 1,
  ssShift = 2,
  ssAlt = 4,
  ssCtrl = 8,
  ssLeft = 16,
  ssRight = 32,
  ssMiddle = 64,
};

uint32_t ShiftStateFromMouseFlags(uint16_t flags);
uint32_t ShiftStateFromKeyData(platform::window::LPARAM keyData);
uint32_t ShiftStateFromWheelFlags(platform::window::WPARAM wParam);

}  // namespace windowing
