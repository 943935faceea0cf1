#include "foundation/kpLog.h"

#include "foundation/kvUTF8.h"
#include "platform/os/process.h"
#include "platform/os/threads.h"

namespace foundation {

namespace {
std::atomic<TLog*> g_log{nullptr};

uint32_t CurrentThreadIdForLog() { return platform::os::currentThreadId(); }
}  // namespace

void TStdLog::Output(const std::u16string& line) { platform::os::outputDebugString(UnicodeToUTF8(line)); }

TLog* GetLog() {
  TLog* log = g_log.load(std::memory_order_acquire);
  if (log) return log;
  // Used before the unit started: install the discarding log once.
  TLog* fresh = new TDumpLog;
  if (g_log.compare_exchange_strong(log, fresh)) return fresh;
  fresh->Free();
  return log;
}

void SetLog(TLog* log) {
  TLog* current = g_log.load();
  if (log && log == current) return;
  if (!log) log = new TDumpLog;
  // The old log goes first, then the new one is installed.
  g_log.store(nullptr);
  FreeObj(current);
  g_log.store(log, std::memory_order_release);
}

void CreateDefaultLog() { SetLog(new TDumpLog); }

void DebugOutput(const std::u16string& text, int32_t number) {
  std::u16string line = text;
  if (number != INT32_MIN) {
    std::string digits = std::to_string(number);
    line += std::u16string(digits.begin(), digits.end());
  }
  platform::os::outputDebugString(UnicodeToUTF8(line));
}

void InitKpLog() {
  CreateDefaultLog();
  LogThreadIdFunction.store(&CurrentThreadIdForLog);
}

void FinalizeKpLog() {
  TLog* log = g_log.exchange(nullptr);
  FreeObj(log);
}

}  // namespace foundation
