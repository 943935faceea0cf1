// The channel killer: a playback instance cannot be freed when its source
// ends or its fade-out reaches zero, since up to two seconds of its audio are
// still queued. It computes when its last byte will have been heard and hands
// itself to this one background thread, which waits for that moment and then
// gives the instance back to its channel (which frees it). Freeing here also
// keeps a refill thread from joining itself.
#pragma once

#include <atomic>
#include <vector>

#include "foundation/kpThreads2.h"
#include "foundation/kvThreadEventList.h"

namespace audio {

// What the killer needs of a playback instance.
class TPlaybackInstance : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TPlaybackInstance)
  // Its last written sample has been heard.
  virtual bool IsFinished() = 0;
  // Hands it back to its channel, which takes it out and releases it.
  virtual void Finished() = 0;
};

inline constexpr uint32_t kKillerQuit = 1025;
inline constexpr uint32_t kKillerAdd = 1026;

// The message of an Add: one instance (no reference: its channel owns it).
class TAddChannelData : public foundation::TRefObject {
 public:
  QEL_CLASSNAME(TAddChannelData)
  explicit TAddChannelData(TPlaybackInstance* instance) : Instance(instance) {}
  TPlaybackInstance* Instance;
};

class TChannelKiller : public foundation::TThread {
 public:
  QEL_CLASSNAME(TChannelKiller)
  // Starts the thread and returns once it runs.
  TChannelKiller();
  // Asks the thread to quit and waits up to 1000 ms for it.
  void Dispose() override;

  void Add(TPlaybackInstance* instance);
  void Execute() override;
  // Instances waiting (diagnostics).
  int32_t PendingCount() const { return FPendingCount; }

 private:
  void HandleMessage(foundation::TRefObject* sender, uint32_t id, foundation::TRefObject* param, bool& handled);

  std::atomic<bool> Started{false};
  foundation::TThreadEventList* Messages = nullptr;
  bool Quit = false;
  std::vector<TPlaybackInstance*> Pending;
  foundation::TEvent* WakeEvent = nullptr;
  std::atomic<int32_t> FPendingCount{0};
};

// The process-wide killer, made on first use.
TChannelKiller* GetChannelKiller();
// Ends and releases it (the unit's finalisation).
void DoneChannelKiller();

// Where finished instances go: the process killer's Add, or, when set, the
// hook (tests collect the instances and hand them back themselves).
using TInstanceEndHook = void (*)(TPlaybackInstance* instance);
extern TInstanceEndHook InstanceEndHook;
void HandToChannelKiller(TPlaybackInstance* instance);

}  // namespace audio
