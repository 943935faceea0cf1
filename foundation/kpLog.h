// The global log object and the debugger-output log.
#pragma once

#include <cstdint>
#include <string>

#include "foundation/kvLog.h"

namespace foundation {

// Sends each line, without line end, to the debugger output.
class TStdLog : public TLog {
 public:
  QEL_CLASSNAME(TStdLog)
  void Output(const std::u16string& line) override;
};

// The global log; never nil (a discarding log until one is installed).
TLog* GetLog();
// Same object: nothing. Otherwise the previous log is freed and log is
// installed (nil: a new discarding log). Start-up only, before workers exist.
void SetLog(TLog* log);
void CreateDefaultLog();
// Text to the debugger output; a number other than the smallest 32-bit
// integer is appended in decimal.
void DebugOutput(const std::u16string& text, int32_t number = INT32_MIN);

// Unit start (after kvLog): the discarding log and the thread-id function.
// Shutdown frees the global log.
void InitKpLog();
void FinalizeKpLog();

}  // namespace foundation
