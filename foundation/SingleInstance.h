// Whether another process started from the same executable file is running:
// a named, process-wide mutex whose name is derived from the executable's
// path, so copies in other folders or under other names do not see each other.
#pragma once

#include <string>

namespace foundation {

// "Instance_ID" + decimal hashes of the path, its folder and its file name,
// then the file name; as 8-bit text.
std::string InstanceMutexName(const std::u16string& path);
// Unit start: opens or creates the mutex of this executable (its creator
// owns it). The handle is kept for the life of the process.
void CreateInstanceMutex();
// False when this process owns the mutex or its previous owner ended (this
// process then owns it); true when another process owns it or there is no mutex.
bool IsAnotherInstanceRunning();
const std::string& InstanceMutexNameOfProcess();

}  // namespace foundation
