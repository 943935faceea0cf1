// The music trace log: a process-wide plain log whose lines are formatted and
// dropped unless a test or the global log listens (OutputHandler). Calls into
// the sound layer are bracketed by "-> call [unit, line]" and
// "<- call [unit, line]"; failures write a line beginning "!!! ".
#pragma once

#include <string>

#include "foundation/kvLog.h"

namespace audio {

// The log; made by InitMusicTrace (or on first use), never destroyed while
// threads may still write to it.
foundation::TLog* MusicTraceLog();
void InitMusicTrace();

// One trace line: prefix ("-> ", "<- ", "!!! " or empty), the text and,
// when a unit is given, " [unit, line]".
void MusicTrace(const char16_t* prefix, const std::u16string& text, const char16_t* unit = nullptr, int line = 0);

}  // namespace audio
