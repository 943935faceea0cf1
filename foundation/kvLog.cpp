#include "foundation/kvLog.h"

#include <mutex>

#include "foundation/TickClock.h"
#include "foundation/kpTypes.h"
#include "foundation/kvFileStream.h"
#include "foundation/kvFileUtils.h"
#include "foundation/kvUTF8.h"
#include "platform/os/files.h"

namespace foundation {

std::atomic<TThreadIdFunction> LogThreadIdFunction{nullptr};

namespace {

std::mutex g_startMutex;
bool g_started = false;
TSystemTime g_startTime;
uint32_t g_startTick = 0;

void EnsureStarted() {
  std::lock_guard<std::mutex> guard(g_startMutex);
  if (g_started) return;
  g_startTime = GetLocalSystemTime();
  g_startTick = static_cast<uint32_t>(GetTickMs());
  g_started = true;
}

std::u16string Dec(int64_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

std::u16string FloatText(double v) { return FloatToStrTrimmed(v, 16); }

// The values' texts separated by ", ".
template <class T, class Text>
std::u16string JoinedTexts(std::span<const T> values, Text text) {
  std::u16string out;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) out += u", ";
    out += text(values[i]);
  }
  return out;
}

}  // namespace

void InitKvLog() {
  std::lock_guard<std::mutex> guard(g_startMutex);
  g_startTime = GetLocalSystemTime();
  g_startTick = static_cast<uint32_t>(GetTickMs());
  g_started = true;
}

TSystemTime ProgramStartTime() {
  EnsureStarted();
  std::lock_guard<std::mutex> guard(g_startMutex);
  return g_startTime;
}

int32_t GetLogElapsedMs() {
  EnsureStarted();
  return static_cast<int32_t>(static_cast<uint32_t>(GetTickMs()) - g_startTick);
}

std::u16string FormatLogDateTime(const TSystemTime& time) {
  return FormatDate(time, u"DD.MM.YYYY") + u" " + FormatTime(time, DefaultTimeFlags);
}

std::u16string FormatNowForLog() { return FormatLogDateTime(GetLocalSystemTime()); }

std::u16string GetDefaultLogFileName() {
  if (ProgramFileName.empty()) InitFileUtils();
  return ChangeFileExt(ProgramFileName, u".log");
}

// ---- TLog ----

TLog::TLog() { OutputHandler = MethodOf<&TLog::Output>(this); }

void TLog::Add(const std::u16string& text) {
  if (!ThreadIdOption && !TimeOption) {
    OutputHandler(LinePrefix + text);
    return;
  }
  std::u16string middle;
  TThreadIdFunction threadId = LogThreadIdFunction.load();
  if (ThreadIdOption && threadId) middle += u"#" + IntToHex(threadId(), 4) + u" ";
  if (TimeOption) middle += u"[" + Dec(GetLogElapsedMs()) + u"] ";
  OutputHandler(LinePrefix + middle + text);
}

void TLog::AddInt(const std::u16string& prefix, int32_t value, const std::u16string& suffix) {
  Add(prefix + Dec(value) + suffix);
}

void TLog::AddFloat(const std::u16string& prefix, double value, const std::u16string& suffix) {
  Add(prefix + FloatText(value) + suffix);
}

void TLog::AddFloatArray(const std::u16string& prefix, std::span<const double> values,
                         const std::u16string& suffix) {
  Add(prefix + JoinedTexts(values, FloatText) + suffix);
}

void TLog::AddBool(const std::u16string& prefix, bool value, const std::u16string& suffix) {
  Add(prefix + (value ? u"True" : u"False") + suffix);
}

void TLog::AddIntArray(const std::u16string& prefix, std::span<const int32_t> values,
                       const std::u16string& suffix) {
  Add(prefix + JoinedTexts(values, [](int32_t v) { return Dec(v); }) + suffix);
}

void TLog::AddPoint(const std::u16string& prefix, const TPoint& point, const std::u16string& suffix) {
  const int32_t v[2] = {point.X, point.Y};
  AddIntArray(prefix, v, suffix);
}

void TLog::AddRect(const std::u16string& prefix, const TRect& rect, const std::u16string& suffix) {
  const int32_t v[4] = {rect.Left, rect.Top, rect.Right, rect.Bottom};
  AddIntArray(prefix, v, suffix);
}

uint32_t TLog::StartTimer(uint32_t& start) {
  start = static_cast<uint32_t>(GetTickMs());
  return start;
}

void TLog::AddElapsed(const std::u16string& prefix, uint32_t start, const std::u16string& suffix) {
  Add(prefix + Dec(static_cast<uint32_t>(GetTickMs()) - start) + suffix);
}

void TLog::WriteStartBanner() {
  const bool threadId = ThreadIdOption, time = TimeOption;
  ThreadIdOption = false;
  TimeOption = false;
  const std::u16string rule(64, u'=');
  if (ProgramFileName.empty()) InitFileUtils();
  try {
    Add(u"");
    Add(rule);
    Add(u"Program : " + ProgramFileName);
    Add(u"started : " + FormatLogDateTime(ProgramStartTime()));
    Add(rule);
  } catch (...) {
    ThreadIdOption = threadId;
    TimeOption = time;
    throw;
  }
  ThreadIdOption = threadId;
  TimeOption = time;
}

// ---- TExclLog ----

TExclLog::TExclLog() { FLock = new TCriticalSection; }

void TExclLog::Dispose() {
  FreeAndNil(FLock);
  TLog::Dispose();
}

void TExclLog::Add(const std::u16string& text) {
  std::lock_guard<TCriticalSection> guard(*FLock);
  TLog::Add(text);
}

// ---- TStreamLog ----

void TStreamLog::Dispose() {
  ReleaseStream();
  TExclLog::Dispose();
}

void TStreamLog::Output(const std::u16string& line) {
  if (!FStream) return;
  if (FStream->GetSize() == 0) {
    static const uint8_t bom[3] = {0xEF, 0xBB, 0xBF};
    FStream->Write(bom, 0, 3);
  }
  FStream->WriteAnsiString(UnicodeToUTF8(line));
  FStream->WriteAnsiString("\r\n");
}

void TStreamLog::SetStream(TStream* stream, bool owns) {
  if (stream != FStream) {
    ReleaseStream();
    FStream = stream;
  }
  FOwnsStream = owns;
}

void TStreamLog::ReleaseStream() {
  TStream* stream = FStream;
  FStream = nullptr;
  if (FOwnsStream) FreeObj(stream);
}

// ---- TFileLog ----

TFileStream* OpenLogFileStream(const std::u16string& fileName, bool append) {
  try {
    auto stream = TRef<TFileStream>::Adopt(TFileStream::CreateFromFile(
        fileName, platform::os::GENERIC_READ | platform::os::GENERIC_WRITE, platform::os::FILE_SHARE_READ,
        append ? platform::os::OPEN_ALWAYS : platform::os::CREATE_ALWAYS));
    if (append) stream->SetPosition(stream->GetSize());
    // Probe that the file takes a write, and leave it as it was.
    const int64_t position = stream->GetPosition();
    stream->WriteByte(32);
    stream->SetPosition(position);
    stream->SetSize(position);
    return stream.Detach();
  } catch (...) {
    return nullptr;
  }
}

TFileLog::TFileLog(const std::u16string& fileName, bool append) {
  const std::u16string name = fileName.empty() ? GetDefaultLogFileName() : fileName;
  TStream* stream = OpenLogFileStream(name, append);
  // A log that cannot reach its file still works: its lines stay in memory.
  if (!stream) stream = new TMemoryStream;
  SetStream(stream, true);
}

}  // namespace foundation
