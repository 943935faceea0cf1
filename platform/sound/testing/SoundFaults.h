// Fault injection of the sound area: the next n calls of a buffer's play
// answer DSERR_BUFFERLOST, to test the restore-and-retry loops.
#pragma once

namespace platform::sound {

void injectBufferLost(int count);
// Plays still to fail.
int pendingBufferLost();

}  // namespace platform::sound
