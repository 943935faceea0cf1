#include "audio/MusicTrace.h"

#include <mutex>

namespace audio {

namespace {
std::once_flag gTraceOnce;
foundation::TLog* gTrace = nullptr;
}  // namespace

void InitMusicTrace() {
  std::call_once(gTraceOnce, [] { gTrace = new foundation::TLog; });
}

foundation::TLog* MusicTraceLog() {
  InitMusicTrace();
  return gTrace;
}

void MusicTrace(const char16_t* prefix, const std::u16string& text, const char16_t* unit, int line) {
  std::u16string s = prefix ? prefix : u"";
  s += text;
  if (unit) {
    s += u" [";
    s += unit;
    s += u", ";
    std::string n = std::to_string(line);
    s += std::u16string(n.begin(), n.end());
    s += u"]";
  }
  MusicTraceLog()->Add(s);
}

}  // namespace audio
