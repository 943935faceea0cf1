// The log classes, the line formatter and the start banner. A log line is
// the line prefix, then (when switched on) "#" and the thread id in at least
// four upper-case hexadecimal digits and a blank, then (when switched on) "["
// the milliseconds since the log started "] ", then the text.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

#include "foundation/DateFormatting.h"
#include "foundation/FloatGeometry.h"
#include "foundation/kpThreads2.h"
#include "foundation/kvStream.h"

namespace foundation {

using TLogOutput = TMethod<void(const std::u16string& line)>;

class TLog : public TRefObject {
 public:
  QEL_CLASSNAME(TLog)
  TLog();

  // The raw sink of one finished line; overriding it is how a sink is made.
  virtual void Output(const std::u16string& line) {}
  // Formats and emits one line.
  virtual void Add(const std::u16string& text);

  void AddInt(const std::u16string& prefix, int32_t value, const std::u16string& suffix);
  void AddFloat(const std::u16string& prefix, double value, const std::u16string& suffix);
  void AddFloatArray(const std::u16string& prefix, std::span<const double> values, const std::u16string& suffix);
  void AddBool(const std::u16string& prefix, bool value, const std::u16string& suffix);
  void AddIntArray(const std::u16string& prefix, std::span<const int32_t> values, const std::u16string& suffix);
  void AddPoint(const std::u16string& prefix, const TPoint& point, const std::u16string& suffix);
  void AddRect(const std::u16string& prefix, const TRect& rect, const std::u16string& suffix);
  // No line: stores the 32-bit tick in start and returns it.
  uint32_t StartTimer(uint32_t& start);
  void AddElapsed(const std::u16string& prefix, uint32_t start, const std::u16string& suffix);
  // Five lines with both options off: empty, 64 "=", "Program : <path>",
  // "started : <date time>", 64 "=".
  void WriteStartBanner();

  TLogOutput OutputHandler;
  std::u16string LinePrefix;
  bool ThreadIdOption = false;
  bool TimeOption = false;
};

// Discards everything without formatting: the default global log.
class TDumpLog : public TLog {
 public:
  QEL_CLASSNAME(TDumpLog)
  void Add(const std::u16string& text) override {}
};

// Formats and writes each line inside its own lock, so lines of different
// threads never interleave.
class TExclLog : public TLog {
 public:
  QEL_CLASSNAME(TExclLog)
  TExclLog();
  void Dispose() override;
  void Add(const std::u16string& text) override;

 private:
  TCriticalSection* FLock = nullptr;  // guards formatting and output of one line
};

// Writes UTF-8 lines ended by CR LF; an empty stream first gets the byte-order mark.
class TStreamLog : public TExclLog {
 public:
  QEL_CLASSNAME(TStreamLog)
  void Dispose() override;
  void Output(const std::u16string& line) override;
  void SetStream(TStream* stream, bool owns);
  virtual void ReleaseStream();
  TStream* Stream() const { return FStream; }

 private:
  TStream* FStream = nullptr;
  bool FOwnsStream = false;
};

// The log file (the executable's path with ".log" when no name is given),
// or, when it cannot be opened and written, a memory stream.
class TFileLog : public TStreamLog {
 public:
  QEL_CLASSNAME(TFileLog)
  TFileLog(const std::u16string& fileName, bool append);
};

// Opens the file for reading and writing (sharing reading only), probes that
// it can be written without changing it; nullptr on any failure.
class TFileStream;
TFileStream* OpenLogFileStream(const std::u16string& fileName, bool append);

std::u16string FormatLogDateTime(const TSystemTime& time);
std::u16string FormatNowForLog();
int32_t GetLogElapsedMs();
std::u16string GetDefaultLogFileName();
// The local time read when the unit started.
TSystemTime ProgramStartTime();

// The current thread's id for the line prefix; the global-log unit sets it.
using TThreadIdFunction = uint32_t (*)();
extern std::atomic<TThreadIdFunction> LogThreadIdFunction;

// Unit start: the program start time and the log start tick.
void InitKvLog();

}  // namespace foundation
