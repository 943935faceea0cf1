#include "platform/sound/testing/SoundFaults.h"

#include "platform/sound/mixer.h"

namespace platform::sound {

void injectBufferLost(int count) { playFailures().store(count); }
int pendingBufferLost() { return playFailures().load(); }

}  // namespace platform::sound
